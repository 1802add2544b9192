#pragma once

// A ZoruveVede over real parts: a store in a temporary folder, a settings file of its
// own, and a bridge to a fake Ollama server on loopback.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "FakeOllama.h"
#include "ZoruveVede.h"

namespace parlote::testing {

using namespace std::chrono_literals;

/// Waits, running the event loop, until `condition` holds; false after `timeout`.
template <class F>
bool eventually(F condition, std::chrono::milliseconds timeout = 5s) {
    return QTest::qWaitFor(condition, int(timeout.count()));
}

/// Waits until `condition` holds without running the event loop, so that everything
/// handed to the interface thread meanwhile stays queued; false after `timeout`.
template <class F>
bool withoutEvents(F condition, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

/// How many finished replies and titles were announced, counted as the model receives
/// them when counting starts after the model was made: a later observer is called after
/// the model's, in the same hand-over, so once a count has grown the model has applied
/// that announcement.
struct Announcements {
    int lastMessages = 0;
    int titles = 0;

    static std::shared_ptr<Announcements> countIn(NotificationCenter& notifications) {
        auto counts = std::make_shared<Announcements>();
        Announcements* raw = counts.get();
        notifications.observe(kLastMessageUpdated, counts,
                              [raw](const std::any&) { ++raw->lastMessages; });
        notifications.observe(kTitleUpdated, counts, [raw](const std::any&) { ++raw->titles; });
        return counts;
    }
};

/// A conversation entry of the sidebar with a fresh id.
inline Conversation stored(const QString& title, const QString& last = {}) {
    return Conversation(SidebarID::conversation(QUuid::createUuid()), title, last);
}

inline kestrelix::llm::ZuvodAzeduvConfig clientConfig(const FakeOllama& server) {
    kestrelix::llm::ZuvodAzeduvConfig config;
    config.host = server.baseUrl();
    config.livenessTimeout = 1s;
    config.chatSilenceTimeout = 5s;
    config.firstRecordTimeout = 10s;
    return config;
}

struct Harness {
    QTemporaryDir dir;
    FakeOllama server;
    ChatStore store{dir.path() + QStringLiteral("/data/Parlote")};
    NotificationCenter notifications;
    TaskRunner tasks;
    // While `serviceDown`, every operation goes to a port nobody listens on: Ollama not
    // running, as the machine sees it (the connection is refused at once).
    std::atomic<bool> serviceDown{false};
    ModelClientFactory upClients = ollamaClientFactory(clientConfig(server));
    ModelClientFactory downClients = [] {
        kestrelix::llm::ZuvodAzeduvConfig config;
        config.host = "http://127.0.0.1:1";
        return ollamaClientFactory(config);
    }();
    ModelServiceBridge bridge{[this] { return serviceDown ? downClients() : upClients(); }};
    ConversationPool pool{EngineContext{&store, &bridge, &notifications, &tasks}};
    QString settingsFile = dir.path() + QStringLiteral("/config/Parlote.conf");
    QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    std::unique_ptr<ZoruveVede> model;
    /// The search index file; empty (the default): the model has no search.
    QString searchIndex;

    Harness() {
        server.setModels({ModelInfo::make("llama3.2:latest"), ModelInfo::make("qwen3:8b")});
        setSetting("hasLaunched", true);
    }

    ~Harness() {
        // As the application does when it quits: nothing may still be running when the
        // parts below go away.
        if (model) model->applicationWillQuit();
        model.reset();
        pool.closeAll();
        bridge.shutdown();
        tasks.waitForAll();
    }

    ZoruveVedeServices services(std::chrono::milliseconds watch = std::chrono::hours(1)) {
        ZoruveVedeServices s;
        s.pool = &pool;
        s.settingsFile = settingsFile;
        s.clock = [this] { return now; };
        s.watchInterval = watch;
        s.searchIndex = searchIndex;
        return s;
    }

    /// Makes the model and, unless it is a first launch, waits for the start-up task's
    /// model list to be applied.
    ZoruveVede& start(std::chrono::milliseconds watch = std::chrono::hours(1)) {
        model = std::make_unique<ZoruveVede>(services(watch));
        bool listed = false;
        QObject::connect(model.get(), &ZoruveVede::availableModelsChanged, [&] { listed = true; });
        QObject::connect(model.get(), &ZoruveVede::showLoadAlertChanged, [&] { listed = true; });
        QObject::connect(model.get(), &ZoruveVede::ollamaRunningChanged, [&] { listed = true; });
        if (setting("hasLaunched").toBool()) {
            EXPECT_TRUE(eventually([&] { return listed; }));
        }
        QObject::disconnect(model.get(), nullptr, nullptr, nullptr);
        return *model;
    }

    /// The server answers the title request with `title`, every other chat with `reply`.
    void answer(ChatScript reply, const std::string& title) {
        server.setChatResponder([reply, title](const nlohmann::json& request) {
            if (request["messages"].back()["content"] == kTitlePrompt.toStdString())
                return ChatScript::words(title);
            return reply;
        });
    }

    void setSetting(const QString& key, const QVariant& value) {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(key, value);
    }
    QVariant setting(const QString& key) const {
        return QSettings(settingsFile, QSettings::IniFormat).value(key);
    }

    nlohmann::json readJson(const QString& path) const {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return nullptr;
        return nlohmann::json::parse(file.readAll().toStdString(), nullptr, false);
    }
    nlohmann::json toc() const { return readJson(store.tocPath()); }
    nlohmann::json conversationFile(const QUuid& id) const {
        return readJson(store.conversationPath(id));
    }
};

}  // namespace parlote::testing

// The server part of Preferences: what an address stands for, the Test button against a
// real server and a closed port, the note on where a key may go, and a key kept where no
// secret store runs without a byte of it reaching a file.

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "FakeOllama.h"
#include "ModelServiceBridge.h"
#include "ServerChoice.h"
#include "ServerSection.h"

namespace parlote {
namespace {

/// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnvironment() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

TEST(ServerSection, TheNoteSaysWhereParloteLooksAndAnUnusableAddressCannotBeTested) {
    ScopedEnvironment host("OLLAMA_HOST", "");
    ModelServiceBridge bridge;
    ServerSection section(bridge);
    QSignalSpy acceptable(&section, &ServerSection::acceptableChanged);

    EXPECT_TRUE(section.isAcceptable());
    EXPECT_EQ(section.addressNote()->text(),
              QStringLiteral("Parlote looks for Ollama at http://127.0.0.1:11434."));
    section.addressField()->setText(QStringLiteral(" 192.168.1.20 "));
    EXPECT_EQ(section.address(), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(section.addressNote()->text(),
              QStringLiteral("Parlote will look for Ollama at http://192.168.1.20:11434."));

    section.addressField()->setText(QStringLiteral("http://two words"));
    EXPECT_FALSE(section.isAcceptable());
    EXPECT_FALSE(section.testButton()->isEnabled());
    EXPECT_TRUE(section.addressNote()->text().startsWith(
        QStringLiteral("Parlote cannot use this address")));
    section.addressField()->setText(QStringLiteral("https://ollama.example.org"));
    EXPECT_TRUE(section.isAcceptable());
    EXPECT_TRUE(section.testButton()->isEnabled());
    EXPECT_EQ(acceptable.count(), 2);

    // A blank field stands for OLLAMA_HOST, which may be unusable itself.
    ScopedEnvironment bad("OLLAMA_HOST", "http://[broken");
    section.addressField()->clear();
    EXPECT_FALSE(section.isAcceptable());
    EXPECT_TRUE(section.addressNote()->text().contains(QStringLiteral("OLLAMA_HOST")));
}

TEST(ServerSection, TestShowsTheVersionOfAServerOrTheErrorOfAnAddressWithNone) {
    testing::FakeOllama server;
    ModelServiceBridge bridge;
    ServerSection section(bridge);
    QSignalSpy tested(&section, &ServerSection::tested);

    section.setAddress(QString::fromStdString(server.baseUrl()));
    section.testButton()->click();
    EXPECT_EQ(section.testResult()->text(), QStringLiteral("Testing…"));
    ASSERT_TRUE(tested.wait(10'000));
    EXPECT_EQ(section.testResult()->text(), QStringLiteral("Ollama 0.12.6 answers at %1.")
                                                .arg(QString::fromStdString(server.baseUrl())));

    // A port nobody listens on: the error as the client reported it.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    section.setAddress(QStringLiteral("127.0.0.1:%1").arg(port));
    EXPECT_TRUE(section.testResult()->text().isEmpty());  // the old answer went with its address
    section.testButton()->click();
    ASSERT_TRUE(tested.wait(10'000));
    const QString result = section.testResult()->text();
    EXPECT_TRUE(result.startsWith(QStringLiteral("No answer from http://127.0.0.1:%1: ").arg(port)))
        << result.toStdString();
    EXPECT_GT(result.size(),
              QStringLiteral("No answer from http://127.0.0.1:%1: ").arg(port).size());
}

TEST(ServerSection, TheKeyNoteSaysWhereTheKeyGoesAndWhetherItIsKept) {
    ModelServiceBridge bridge;
    ServerSection section(bridge);
    section.setAddress(QStringLiteral("http://192.168.1.20:11434"));
    section.setApiKey(QStringLiteral("secret"));
    EXPECT_TRUE(section.keyNote()->text().contains(QStringLiteral("not sent there")));
    section.setAddress(QStringLiteral("https://ollama.example.org"));
    EXPECT_TRUE(section.keyNote()->text().startsWith(QStringLiteral("Sent as a bearer token")));
    EXPECT_FALSE(section.keyNote()->text().contains(QStringLiteral("until Parlote quits")));
    section.setKeyKeptInStore(false);
    EXPECT_TRUE(section.keyNote()->text().contains(QStringLiteral("until Parlote quits")));
    EXPECT_EQ(section.keyField()->echoMode(), QLineEdit::Password);
}

TEST(ServerChoice, WithoutASecretStoreTheKeyIsKeptForThisRunAndNeverWritten) {
    // No session bus: no secret service answers.
    ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/parlote-bus");
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ScopedEnvironment config("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    ScopedEnvironment data("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    const QString key = QStringLiteral("pk-7f3a9c1e-do-not-write");

    {
        QSettings settings(home.filePath(QStringLiteral("config/Parlote/Parlote.conf")),
                           QSettings::IniFormat);
        saveServerAddress(settings, QStringLiteral("  https://ollama.example.org "));
        EXPECT_EQ(savedServerAddress(settings), QStringLiteral("https://ollama.example.org"));
    }
    SecretStore store(QStringLiteral("Parlote test %1").arg(QCoreApplication::applicationPid()));
    std::optional<bool> stored;
    store.writeApiKey(key, [&](bool kept) { stored = kept; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored.has_value(); }, 30'000));
    EXPECT_FALSE(*stored);
    EXPECT_FALSE(store.persistent());
    std::optional<QString> read;
    store.readApiKey([&](const QString& value) { read = value; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return read.has_value(); }, 30'000));
    EXPECT_EQ(*read, key);

    QDirIterator files(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int seen = 0;
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains(key.toUtf8())) << file.fileName().toStdString();
        ++seen;
    }
    EXPECT_GE(seen, 1);  // the settings file, with the address alone

    // Forgetting the key forgets this run's copy too.
    std::optional<bool> forgotten;
    store.writeApiKey({}, [&](bool kept) { forgotten = kept; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return forgotten.has_value(); }, 30'000));
    read.reset();
    store.readApiKey([&](const QString& value) { read = value; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return read.has_value(); }, 30'000));
    EXPECT_TRUE(read->isEmpty());
}

TEST(ServerChoice, ChoosingAServerTakesEffectAtOnceAndIsUsedAgainAtTheNextStart) {
    ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/parlote-bus");
    testing::FakeOllama first;
    testing::FakeOllama second;
    second.setModels({testing::ModelInfo::make("only-on-second:latest")});
    ScopedEnvironment host("OLLAMA_HOST", QByteArray::fromStdString(first.baseUrl()));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings.ini"));
    const auto names = [](ModelServiceBridge& bridge) {
        const auto result = bridge.loadAvailableModels().result();
        QStringList out;
        if (result.isSuccess())
            for (const ChatModel& model : result.value()) out << model.model;
        return out;
    };

    ModelServiceBridge bridge;
    SecretStore store(QStringLiteral("Parlote test %1").arg(QCoreApplication::applicationPid()));
    {
        QSettings settings(file, QSettings::IniFormat);
        useChosenServer(bridge, settings, store);  // nothing chosen: OLLAMA_HOST
    }
    EXPECT_FALSE(names(bridge).contains(QStringLiteral("only-on-second:latest")));
    {
        QSettings settings(file, QSettings::IniFormat);
        chooseServer(bridge, settings, store, QString::fromStdString(second.baseUrl()), {});
    }
    EXPECT_TRUE(names(bridge).contains(QStringLiteral("only-on-second:latest")));

    // The next start goes to the chosen server too.
    ModelServiceBridge restarted;
    {
        QSettings settings(file, QSettings::IniFormat);
        useChosenServer(restarted, settings, store);
    }
    EXPECT_TRUE(names(restarted).contains(QStringLiteral("only-on-second:latest")));
    bridge.shutdown();
    restarted.shutdown();
}

/// A secret store that answers reads only when the test says: a desktop store slow to
/// unlock. Writes are kept at once.
class HeldSecretStore : public SecretStore {
public:
    using SecretStore::SecretStore;
    void readApiKey(std::function<void(const QString&)> done) override {
        reads.push_back(std::move(done));
    }
    void writeApiKey(const QString& key, std::function<void(bool)> done) override {
        written = key;
        QMetaObject::invokeMethod(
            this, [done = std::move(done)] { done(true); }, Qt::QueuedConnection);
    }
    std::vector<std::function<void(const QString&)>> reads;
    std::optional<QString> written;
};

TEST(ServerChoice, AKeyReadAtStartUpAppliesUnlessAnotherServerWasChosenBeforeItCame) {
    testing::FakeOllama first;
    first.setModels({testing::ModelInfo::make("on-first:latest")});
    first.setRequiredToken("start-key");
    testing::FakeOllama second;
    second.setModels({testing::ModelInfo::make("only-on-second:latest")});
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings settings(file, QSettings::IniFormat);
        saveServerAddress(settings, QString::fromStdString(first.baseUrl()));
        settings.setValue(QStringLiteral("serverKeyInStore"), true);
    }
    const auto names = [](ModelServiceBridge& bridge) {
        const auto result = bridge.loadAvailableModels().result();
        QStringList out;
        if (result.isSuccess())
            for (const ChatModel& model : result.value()) out << model.model;
        return out;
    };
    HeldSecretStore store;

    // Nothing chosen meanwhile: the key, when it comes, is used with the saved address.
    ModelServiceBridge untouched;
    {
        QSettings settings(file, QSettings::IniFormat);
        useChosenServer(untouched, settings, store);
    }
    ASSERT_EQ(store.reads.size(), 1u);
    EXPECT_TRUE(names(untouched).isEmpty());  // no key yet: the server refuses
    store.reads[0](QStringLiteral("start-key"));
    EXPECT_EQ(names(untouched), QStringList{QStringLiteral("on-first:latest")});

    // Another server chosen in Preferences before the store answers: the late answer
    // leaves the bridge where the user pointed it.
    ModelServiceBridge changed;
    {
        QSettings settings(file, QSettings::IniFormat);
        useChosenServer(changed, settings, store);
    }
    ASSERT_EQ(store.reads.size(), 2u);
    {
        QSettings settings(file, QSettings::IniFormat);
        chooseServer(changed, settings, store, QString::fromStdString(second.baseUrl()), {});
    }
    EXPECT_EQ(names(changed), QStringList{QStringLiteral("only-on-second:latest")});
    store.reads[1](QStringLiteral("start-key"));
    EXPECT_EQ(names(changed), QStringList{QStringLiteral("only-on-second:latest")});

    // The same holds for a new key typed for the same server.
    first.setRequiredToken("new-key");
    ModelServiceBridge rekeyed;
    {
        QSettings settings(file, QSettings::IniFormat);
        saveServerAddress(settings, QString::fromStdString(first.baseUrl()));
        useChosenServer(rekeyed, settings, store);
        ASSERT_EQ(store.reads.size(), 3u);
        chooseServer(rekeyed, settings, store, QString::fromStdString(first.baseUrl()),
                     QStringLiteral("new-key"));
    }
    EXPECT_EQ(store.written, QStringLiteral("new-key"));
    store.reads[2](QStringLiteral("start-key"));
    EXPECT_EQ(names(rekeyed), QStringList{QStringLiteral("on-first:latest")});
    untouched.shutdown();
    changed.shutdown();
    rekeyed.shutdown();
}

TEST(ServerChoice, TheConfigurationCarriesTheAddressAsTypedAndTheKeyTrimmed) {
    const auto config = serverConfig(QStringLiteral(" 10.0.0.5:11434 "), QStringLiteral(" k "));
    EXPECT_EQ(config.host, "10.0.0.5:11434");
    EXPECT_EQ(config.apiKey, "k");
    EXPECT_TRUE(serverConfig(QString(), QString()).host.empty());  // the client reads OLLAMA_HOST
}

}  // namespace
}  // namespace parlote

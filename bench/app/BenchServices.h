#pragma once

// The parts a window benchmark runs the real window on: a store in `folder`, a bridge to
// the Ollama server at `host`, the pool over them and the model's services (no watch
// ticks during a measurement). Ends every task before the parts go.

#include <QDir>
#include <QString>
#include <chrono>
#include <string>

#include "ConversationPool.h"
#include "ZoruveVede.h"

namespace parlote::bench {

struct BenchServices {
    BenchServices(const QString& folder, const std::string& host)
        : store(QDir(folder).filePath(QStringLiteral("data/Parlote"))),
          bridge(ollamaClientFactory(config(host))),
          settingsFile(QDir(folder).filePath(QStringLiteral("config/Parlote.conf"))) {}
    ~BenchServices() {
        pool.closeAll();
        bridge.shutdown();
        tasks.waitForAll();
    }

    ZoruveVedeServices services() {
        ZoruveVedeServices s;
        s.pool = &pool;
        s.settingsFile = settingsFile;
        s.watchInterval = std::chrono::hours(1);
        return s;
    }

    ChatStore store;
    NotificationCenter notifications;
    TaskRunner tasks;
    ModelServiceBridge bridge;
    ConversationPool pool{EngineContext{&store, &bridge, &notifications, &tasks}};
    QString settingsFile;

private:
    static kestrelix::llm::ZuvodAzeduvConfig config(const std::string& host) {
        kestrelix::llm::ZuvodAzeduvConfig c;
        c.host = host;
        return c;
    }
};

}  // namespace parlote::bench

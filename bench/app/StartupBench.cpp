// Time from process start to the first painted main window: the parlote executable with
// 5,000 conversations in its "toc.json" and a fake Ollama server answering, against a
// minimal Qt Widgets window started the same way, in turn, in the same run. All print
// "painted" at their first paint; the time is taken from just before the process is
// started to the moment that line arrives. Prints the medians and their ratios.
//
// A second baseline is the same minimal window made to load every shared library
// Parlote links (libcurl with its TLS, Kerberos and LDAP libraries, cmark-gfm,
// QtNetwork): the part of start-up that the dynamic loader spends before any code of
// Parlote's runs.
//
// Every conversation has a file of 24 messages (about 40 MB in all), and Parlote starts
// twice per round: once with its search index up to date (built before the rounds), once
// with the index deleted just before, so that it starts building it again from every file
// in the background while the window comes up. The two should paint alike.
//
//   startup_bench [ROUNDS]        (default 15; uses QT_QPA_PLATFORM, offscreen if unset)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "ChatStore.h"
#include "FakeOllama.h"
#include "SearchService.h"

using namespace parlote;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds until the program prints "painted"; negative when it failed.
double timeToFirstPaint(const QString& program, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    if (!process.waitForStarted(10000)) return -1;
    QByteArray out;
    while (!out.contains("painted")) {
        if (!process.waitForReadyRead(20000)) return -1;
        out += process.readAllStandardOutput();
    }
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    process.waitForFinished(20000);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;

    QTemporaryDir home;
    const QString dataHome = home.filePath(QStringLiteral("data"));
    ChatStore store(dataHome + QStringLiteral("/Parlote"));
    QList<Conversation> toc;
    for (int i = 0; i < 5000; ++i) {
        toc.append(Conversation(
            SidebarID::conversation(QUuid::createUuid()),
            QStringLiteral("Conversation number %1 about something").arg(i),
            QStringLiteral("The last thing said in conversation %1, a sentence or two long "
                           "so that the sidebar has two lines to show.")
                .arg(i)));
    }
    store.saveTOC(toc);
    for (int i = 0; i < toc.size(); ++i) {
        QList<ChatMessage> messages;
        for (int m = 0; m < 24; ++m)
            messages.append(ChatMessage::make(
                QStringLiteral("Message %1 of conversation %2: the loader reads the value from "
                               "the environment first, then from the configuration file, and "
                               "falls back to a sensible default when neither has it. Tuning "
                               "the retry count, the time-out and the cache size changes how "
                               "quickly a failing service is noticed; see the manual.")
                    .arg(m)
                    .arg(i),
                m % 2 ? ChatMessageType::assistant : ChatMessageType::user));
        store.writeConversation(toc[i].id().uuid(), messages);
    }
    // The index as Parlote leaves it after a run: complete and up to date.
    const QString cacheHome = home.filePath(QStringLiteral("cache"));
    const QString indexPath = cacheHome + QStringLiteral("/Parlote/search.sqlite");
    QDir().mkpath(cacheHome + QStringLiteral("/Parlote"));
    {
        SearchService search(indexPath, store);
        search.rebuildIfNeeded(toc);
        bool idle = false;
        search.whenIdle([&idle] { idle = true; });
        while (!idle) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    const QString builtIndex = home.filePath(QStringLiteral("search-built.sqlite"));
    QFile::copy(indexPath, builtIndex);

    testing::FakeOllama server;
    server.setModels({testing::ModelInfo::make("llama3.2:latest")});

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
    env.insert(QStringLiteral("OLLAMA_HOST"), QString::fromStdString(server.baseUrl()));
    env.insert(QStringLiteral("PARLOTE_EXIT_AFTER_FIRST_PAINT"), QStringLiteral("1"));
    QDir().mkpath(home.filePath(QStringLiteral("config/Parlote")));
    {
        QFile settings(home.filePath(QStringLiteral("config/Parlote/Parlote.conf")));
        if (settings.open(QIODevice::WriteOnly)) settings.write("[General]\nhasLaunched=true\n");
    }

    // One unmeasured start of each, so that both find their libraries in the page cache.
    const QString programs[] = {QStringLiteral(MINIMAL_WINDOW_EXECUTABLE),
                                QStringLiteral(SAME_LIBRARIES_EXECUTABLE),
                                QStringLiteral(PARLOTE_EXECUTABLE)};
    for (const QString& program : programs) timeToFirstPaint(program, env);

    // Before each start of Parlote the index is put back as it was built, or removed.
    const auto setIndex = [&](bool built) {
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"),
                                      QStringLiteral("-journal")})
            QFile::remove(indexPath + suffix);
        if (built) QFile::copy(builtIndex, indexPath);
    };
    std::vector<double> times[4];
    for (int i = 0; i < rounds; ++i) {
        for (int p = 0; p < 4; ++p) {
            if (p >= 2) setIndex(p == 2);
            const double ms = timeToFirstPaint(programs[std::min(p, 2)], env);
            if (ms < 0) {
                std::fprintf(stderr, "%s did not report its first paint\n",
                             qPrintable(programs[std::min(p, 2)]));
                return 1;
            }
            times[p].push_back(ms);
        }
    }
    const double base = median(times[0]);
    const double sameLibraries = median(times[1]);
    const double ours = median(times[2]);
    const double indexing = median(times[3]);
    std::printf("first paint, median of %d starts (platform %s)\n", rounds,
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))));
    std::printf("  minimal Qt window:                         %7.1f ms\n", base);
    std::printf("  minimal Qt window, Parlote's libraries:    %7.1f ms\n", sameLibraries);
    std::printf("  parlote, 5,000 conversations:              %7.1f ms\n", ours);
    std::printf("  ratio parlote / minimal:                   %7.2f   (goal: at most 1.5)\n",
                ours / base);
    std::printf("  ratio parlote / minimal, same libraries:   %7.2f\n", ours / sameLibraries);
    std::printf("  parlote, building its search index:        %7.1f ms\n", indexing);
    std::printf(
        "  ratio parlote building the index / minimal: %6.2f   (%.2f with the index "
        "up to date)\n",
        indexing / base, ours / base);
    return 0;
}

// A writer process is killed (SIGKILL) at random moments while it rewrites "toc.json"
// and conversation files of changing sizes; whatever it leaves behind must decode whole.
//
// The writer is this test binary itself, started with "--crash-writer <folder>" (see
// main.cpp). Every file it writes carries its own size as a check: each toc title is
// the number of entries and each message starts with "<number of messages>:", so a
// file mixing two versions is caught even if it happens to parse.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

#include "ChatStore.h"

extern char** environ;

using namespace parlote;

namespace {

const QUuid kConversationIds[] = {
    QUuid::fromString(QStringLiteral("11111111-2222-4333-8444-555555555555")),
    QUuid::fromString(QStringLiteral("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE")),
    QUuid::fromString(QStringLiteral("01234567-89AB-4CDE-8F01-23456789ABCD")),
};

int roundsToRun() {
    bool ok = false;
    const int rounds = qEnvironmentVariableIntValue("PARLOTE_CRASH_ROUNDS", &ok);
    return ok && rounds > 0 ? rounds : 60;
}

}  // namespace

/// The writer's loop; runs until killed (or for at most 30 s, or until orphaned).
int runCrashWriter(const char* folderPath) {
    const ChatStore store(QString::fromLocal8Bit(folderPath));
    std::mt19937 rng(static_cast<unsigned>(::getpid()));
    auto pick = [&rng](int low, int high) { return std::uniform_int_distribution(low, high)(rng); };
    QElapsedTimer clock;
    clock.start();
    bool announced = false;
    for (unsigned i = 0; clock.elapsed() < 30'000 && ::getppid() != 1; ++i) {
        const int entries = pick(1, 300);
        QList<Conversation> list;
        list.reserve(entries);
        for (int k = 0; k < entries; ++k)
            list.append({SidebarID::conversation(QUuid::createUuid()), QString::number(entries),
                         QString(pick(0, 2000), QLatin1Char('x'))});
        store.saveTOC(list);

        const int count = pick(1, 200);
        const QString mark = QString::number(count) + QLatin1Char(':');
        QList<ChatMessage> messages;
        messages.reserve(count);
        for (int k = 0; k < count; ++k)
            messages.append(ChatMessage::make(mark + QString(pick(0, 3000), QLatin1Char('y')),
                                              ChatMessageType::assistant));
        if (!store.writeConversation(kConversationIds[i % 3], messages)) return 2;

        if (!announced) {  // the files exist now: the parent may start its clock
            announced = ::write(STDOUT_FILENO, "R", 1) == 1;
            ::close(STDOUT_FILENO);
        }
    }
    return 0;
}

namespace {

pid_t startWriter(const QString& folder, int* readyFd) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    const QByteArray path = QFile::encodeName(folder);
    char exe[] = "/proc/self/exe";
    char flag[] = "--crash-writer";
    char* argv[] = {exe, flag, const_cast<char*>(path.constData()), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, exe, &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    *readyFd = fds[0];
    return pid;
}

}  // namespace

TEST(CrashSafetyTest, KilledWriterNeverLeavesTornFiles) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.path() + QStringLiteral("/Parlote");
    const ChatStore store(folder);
    const QRegularExpression temporary(QStringLiteral(
        R"(^(toc|[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12})\.json\.[A-Za-z0-9]{6}$)"));
    QStringList realNames{QStringLiteral("toc.json")};
    for (const QUuid& id : kConversationIds) realNames.append(uuidText(id) + ".json");

    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    std::uniform_int_distribution delayMs(0, 30);
    const int rounds = roundsToRun();
    int killedMidWrite = 0;
    int leftovers = 0;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round << ", seed " << seed);
        int readyFd = -1;
        const pid_t pid = startWriter(folder, &readyFd);
        ASSERT_GT(pid, 0);
        char ready = 0;
        const bool started = ::read(readyFd, &ready, 1) == 1;
        ::close(readyFd);
        if (started) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(started) << "the writer ended before its first save, status " << status;
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own, status " << status;

        QList<Conversation> list;
        ASSERT_NO_THROW(list = store.loadTOC());
        ASSERT_FALSE(list.isEmpty());
        for (const Conversation& entry : list)
            ASSERT_EQ(entry.title(), QString::number(list.size()));
        for (const QUuid& id : kConversationIds) {
            if (!QFile::exists(store.conversationPath(id))) continue;
            const QList<ChatMessage> transcript = store.readConversation(id);
            ASSERT_FALSE(transcript.isEmpty()) << uuidText(id).toStdString();
            const QString mark = QString::number(transcript.size()) + QLatin1Char(':');
            for (const ChatMessage& message : transcript)
                ASSERT_TRUE(message.content().startsWith(mark));
        }

        // Besides the real files, only QSaveFile's temporaries of killed saves may remain.
        int temporaries = 0;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            if (realNames.contains(name)) continue;
            ASSERT_TRUE(temporary.match(name).hasMatch()) << name.toStdString();
            ++temporaries;
        }
        if (temporaries > leftovers) ++killedMidWrite;
        leftovers = temporaries;
    }
    std::cout << "[          ] " << rounds << " kills, " << killedMidWrite
              << " left a temporary file behind (" << leftovers << " in the folder)\n";
    RecordProperty("temporaryFilesLeft", leftovers);

    // Leftovers accumulate, one per interrupted save; the store removes them when they
    // are old enough that no save in progress can own them.
    EXPECT_EQ(store.removeStaleTemporaryFiles(std::chrono::seconds(0)), leftovers);
    QStringList remaining = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : remaining)
        EXPECT_TRUE(realNames.contains(name)) << name.toStdString();
    EXPECT_NO_THROW(store.loadTOC());
}

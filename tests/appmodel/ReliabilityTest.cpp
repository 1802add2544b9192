// What Parlote does when the world misbehaves: a disk that fills up, a conversation file
// that cannot be read, a server that floods the window with chunks or never stops.

#include <unistd.h>

#include <QSignalSpy>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "Harness.h"
#include "Limits.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

const QString kNoSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));

/// A disk that can be filled and emptied while the store is in use.
struct SwitchableDisk {
    std::atomic<bool> full{false};
    FileIo io() {
        return {[this](int fd, const void* data, std::size_t size) -> ssize_t {
                    if (full) {
                        errno = ENOSPC;
                        return -1;
                    }
                    return ::write(fd, data, size);
                },
                [](int fd) { return ::fsync(fd); }};
    }
};

TEST(TitleFromReply, OneLineWithinTheLimitCutAtAWord) {
    EXPECT_EQ(titleFromReply("<think>hm</think> Bread baking tips"), "Bread baking tips");
    EXPECT_EQ(titleFromReply("\n\n  Trip to Lyon  \nSecond line\n"), "Trip to Lyon");
    EXPECT_EQ(titleFromReply(""), "");

    QString words;
    while (words.size() < 10'000) words += QStringLiteral("lorem ipsum ");
    const QString cut = titleFromReply(words);
    EXPECT_LE(cut.size(), limits::kMaxTitleLength);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    EXPECT_TRUE(cut.chopped(1).endsWith(QStringLiteral("lorem")) ||
                cut.chopped(1).endsWith(QStringLiteral("ipsum")))
        << "cut between words: " << cut.toStdString();

    // One endless word made of characters outside the basic plane: cut inside it, never
    // between the two halves of a character.
    QString emoji;
    for (int i = 0; i < 200; ++i) emoji += QString::fromUcs4(U"\U0001F600");
    const QString cutEmoji = titleFromReply(emoji);
    EXPECT_LE(cutEmoji.size(), limits::kMaxTitleLength);
    EXPECT_FALSE(cutEmoji.chopped(1).back().isHighSurrogate());
}

class ReliabilityTest : public ::testing::Test {
protected:
    Harness h;
    EngineContext context{&h.store, &h.bridge, &h.notifications, &h.tasks};

    static bool idle(ConversationManager& m) { return !m.inSendingMessage().get(); }
};

// Storage.

TEST_F(ReliabilityTest, ADamagedConversationFileIsKeptAndTheTranscriptSaysWhere) {
    const QUuid id = QUuid::createUuid();
    const QByteArray damaged = R"({"messages":[{"id":"cut off in the mid)";
    {
        QFile file(h.store.conversationPath(id));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(damaged);
    }
    auto manager = h.pool.managerFor(id);
    const MessageList opened = manager->messages().get();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.at(0).type(), ChatMessageType::error);
    const QString notice = opened.at(0).content();
    const qsizetype quote = notice.indexOf(h.store.appFolder());
    ASSERT_GE(quote, 0) << notice.toStdString();
    const QString keptAs = notice.mid(quote, notice.indexOf('"', quote) - quote);
    QFile kept(keptAs);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << keptAs.toStdString();
    EXPECT_EQ(kept.readAll(), damaged);

    // The next message starts a new file; the damaged one stays as it was.
    manager->send("hello again", "llama3.2:latest");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 3 && idle(*manager); }));
    ASSERT_TRUE(eventually([&] { return h.conversationFile(id)["messages"].size() == 3; }));
    kept.seek(0);
    EXPECT_EQ(kept.readAll(), damaged);
}

TEST_F(ReliabilityTest, AFullDiskIsShownRetriedAndLosesNothing) {
    SwitchableDisk disk;
    h.store.setFileIo(disk.io());
    const Conversation other = stored("Other");
    h.store.saveTOC({other});
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("llama3.2:latest"));
    h.answer(ChatScript::words("Words that must not be lost."), "Full disk");
    QSignalSpy problems(&model, &ZoruveVede::storageProblemChanged);
    disk.full = true;
    model.setInputText("Remember this");
    model.sendMessage();
    ASSERT_TRUE(eventually(
        [&] {
            return model.messages().size() == 2 && !model.inSendingMessage() &&
                   model.conversationDescription() == "Full disk";
        },
        10s));
    const QUuid id = model.conversations().first().id().uuid();

    // The user is told which save failed and why; the words stay in memory.
    ASSERT_TRUE(eventually([&] { return !model.storageProblem().isEmpty(); }));
    EXPECT_EQ(model.storageProblem().toStdString(),
              ("Could not save this conversation: " + kNoSpace).toStdString());
    EXPECT_EQ(model.messages()[1].content(), "Words that must not be lost.");
    EXPECT_FALSE(QFile::exists(h.store.conversationPath(id)));
    EXPECT_EQ(h.toc()["contents"].size(), 1u) << "the old list is kept as it was";
    EXPECT_EQ(model.unsavedAfterLastTry(), QStringList({"Full disk", "the conversation list"}));

    // Another conversation open: the bar still says something is not saved.
    model.selectConversation(other.id());
    EXPECT_EQ(model.storageProblem().toStdString(),
              ("Could not save another conversation: " + kNoSpace).toStdString());

    // Space comes back: Retry writes everything and the bar goes away.
    disk.full = false;
    model.retrySaving();
    ASSERT_TRUE(eventually([&] { return model.storageProblem().isEmpty(); }));
    EXPECT_EQ(h.conversationFile(id)["messages"].size(), 2u);
    EXPECT_EQ(h.toc()["contents"][0]["title"], "Full disk");
    EXPECT_EQ(h.toc()["contents"].size(), 2u);
    EXPECT_TRUE(model.unsavedAfterLastTry().isEmpty());
    EXPECT_GE(problems.count(), 2);
}

// Streaming.

TEST_F(ReliabilityTest, AFloodOfChunksReachesTheWindowAsFewUpdatesWithTheWholeText) {
    constexpr std::size_t kChunks = 100'000;
    ChatScript flood = ChatScript::repeated(kChunks, " word");
    flood.linesPerWrite = 64;  // as fast as loopback allows
    h.answer(flood, "Flood");
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("llama3.2:latest"));
    QSignalSpy messageChanges(&model, &ZoruveVede::messagesChanged);
    int chunks = 0;
    model.chunkStream().setOnChange([&] { ++chunks; });
    model.setInputText("Talk a lot");
    model.sendMessage();
    ASSERT_TRUE(eventually(
        [&] {
            return model.messages().size() == 2 && !model.inSendingMessage() &&
                   model.conversationDescription() == "Flood";
        },
        60s));
    QString expected;
    for (std::size_t i = 0; i < kChunks; ++i) expected += QStringLiteral(" word");
    EXPECT_EQ(model.messages()[1].content(), expected);
    // Bursts are merged: far fewer updates than chunks, and never more than one waiting.
    EXPECT_LT(messageChanges.count(), int(kChunks / 20)) << messageChanges.count();
    EXPECT_LT(chunks, int(kChunks / 20)) << chunks;
    EXPECT_GE(chunks, 1);
}

TEST_F(ReliabilityTest, AReplyAtAModelsPaceIsShownChunkByChunk) {
    auto manager = ConversationManager::makeNew(context);
    h.server.setChatScript(ChatScript::words("one two three four five", 40ms));
    std::vector<QString> seen;
    std::mutex seenMutex;
    auto [subscription, initial] = manager->messages().subscribe([&](const MessageList& list) {
        std::lock_guard lock(seenMutex);
        // The final record adds the reply's figures: an update with the same text.
        if (list.size() == 2 && (seen.empty() || seen.back() != list.at(1).content()))
            seen.push_back(list.at(1).content());
    });
    manager->send("count", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return idle(*manager); }));
    subscription.cancel();
    std::lock_guard lock(seenMutex);
    EXPECT_EQ(seen, std::vector<QString>({"one", "one two", "one two three", "one two three four",
                                          "one two three four five"}));
}

TEST_F(ReliabilityTest, AReplyThatNeverEndsIsCutAtTheLimitKeptAndTheConnectionClosed) {
    const std::string megabyte(std::size_t(1) << 20, 'x');
    const std::size_t chunks = std::size_t(limits::kMaxReplyLength >> 20) + 40;
    ChatScript endless = ChatScript::repeated(chunks, megabyte);
    endless.chunkDelay = 50ms;  // the server is still sending when the client gives up
    h.server.setChatScript(endless);
    auto manager = ConversationManager::makeNew(context);
    manager->send("go on forever", "llama3.2:latest");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 3 && idle(*manager); }, 60s));
    const MessageList list = manager->messages().get();
    EXPECT_EQ(list.at(1).content().size(), limits::kMaxReplyLength);
    EXPECT_EQ(list.at(2).type(), ChatMessageType::error);
    EXPECT_EQ(list.at(2).content(), kReplyTooLongText);
    EXPECT_TRUE(h.server.waitForAbortedChatStreams(1, 10s)) << "the request was not closed";
    ASSERT_TRUE(
        eventually([&] { return h.conversationFile(manager->id())["messages"].size() == 3; }));
}

}  // namespace

// Versions of a conversation: branching, paging through versions (also nested ones),
// giving up an empty version, and how they are written to and read from a file.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include "ChatStore.h"
#include "Variants.h"

using namespace parlote;

namespace {

ChatMessage user(const QString& text) {
    return ChatMessage::make(text, ChatMessageType::user);
}
ChatMessage reply(const QString& text) {
    return ChatMessage::make(text, ChatMessageType::assistant);
}

QStringList contents(const MessageList& thread) {
    QStringList list;
    for (const ChatMessage& message : thread) list.append(message.content());
    return list;
}

/// "index/count" of each message ("-" for none), to check the marks in one line.
QStringList marks(const MessageList& thread) {
    QStringList list;
    for (const ChatMessage& message : thread)
        list.append(message.hasVariants() ? QStringLiteral("%1/%2")
                                                .arg(message.variantIndex() + 1)
                                                .arg(message.variantCount())
                                          : QStringLiteral("-"));
    return list;
}

MessageList threadOf(std::initializer_list<ChatMessage> messages) {
    return MessageList(QList<ChatMessage>(messages));
}

TEST(Variants, RegeneratingTwiceKeepsThreeRepliesToPageThrough) {
    MessageList thread = threadOf({user("q"), reply("first")});
    VariantPoints points;

    EXPECT_EQ(branchAt(thread, points, 1), 0);
    thread.append(reply("second"));
    EXPECT_EQ(branchAt(thread, points, 1), 1);
    thread.append(reply("third"));
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q", "third"}));
    EXPECT_EQ(marks(thread), QStringList({"-", "3/3"}));

    ASSERT_TRUE(switchVariant(thread, points, 1, 0));
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q", "first"}));
    EXPECT_EQ(marks(thread), QStringList({"-", "1/3"}));
    ASSERT_TRUE(switchVariant(thread, points, 1, 1));
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q", "second"}));
    EXPECT_EQ(marks(thread), QStringList({"-", "2/3"}));

    // Versions that do not exist change nothing.
    EXPECT_FALSE(switchVariant(thread, points, 1, 3));
    EXPECT_FALSE(switchVariant(thread, points, 1, -1));
    EXPECT_FALSE(switchVariant(thread, points, 0, 0));
    EXPECT_EQ(contents(thread), QStringList({"q", "second"}));
}

TEST(Variants, EditingKeepsTheWholeTailWithTheVersionsInsideIt) {
    // q1 a1 q2 a2 q3 a3, where a2 was regenerated once (a2' shown).
    MessageList thread = threadOf({user("q1"), reply("a1"), user("q2"), reply("a2")});
    VariantPoints points;
    branchAt(thread, points, 3);
    thread.append(reply("a2'"));
    thread.append(user("q3"));
    thread.append(reply("a3"));

    // Editing q1 keeps everything from q1 on, the inner version included.
    branchAt(thread, points, 0);
    thread.append(user("q1 edited"));
    thread.append(reply("b1"));
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q1 edited", "b1"}));
    EXPECT_EQ(marks(thread), QStringList({"2/2", "-"}));
    ASSERT_EQ(points.size(), 1u);

    ASSERT_TRUE(switchVariant(thread, points, 0, 0));
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q1", "a1", "q2", "a2'", "q3", "a3"}));
    EXPECT_EQ(marks(thread), QStringList({"1/2", "-", "-", "2/2", "-", "-"}));
    ASSERT_TRUE(switchVariant(thread, points, 3, 0));
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q1", "a1", "q2", "a2"}));

    // Back to the edit and back again: the inner choice was kept with its version.
    ASSERT_TRUE(switchVariant(thread, points, 0, 1));
    ASSERT_TRUE(switchVariant(thread, points, 0, 0));
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q1", "a1", "q2", "a2"}));
    EXPECT_EQ(marks(thread), QStringList({"1/2", "-", "-", "1/2"}));
}

TEST(Variants, AVersionThatCameToNothingGivesItsPlaceBack) {
    MessageList thread = threadOf({user("q"), reply("first")});
    VariantPoints points;
    branchAt(thread, points, 1);
    thread.append(reply("second"));
    ASSERT_TRUE(switchVariant(thread, points, 1, 0));  // "first" shown
    const std::optional<int> before = branchAt(thread, points, 1);
    EXPECT_EQ(before, 0);
    EXPECT_EQ(thread.size(), 1);
    discardEmptyVersion(thread, points, 1, *before);
    markVariants(thread, points);
    EXPECT_EQ(contents(thread), QStringList({"q", "first"}));
    EXPECT_EQ(marks(thread), QStringList({"-", "1/2"}));

    // With a single version left the point goes.
    MessageList single = threadOf({user("q"), reply("only")});
    VariantPoints none;
    EXPECT_EQ(branchAt(single, none, 2), std::nullopt) << "nothing after the end to keep";
    EXPECT_TRUE(none.empty());
    branchAt(single, none, 1);
    discardEmptyVersion(single, none, 1, 0);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(contents(single), QStringList({"q", "only"}));
}

class VariantFiles : public ::testing::Test {
protected:
    QTemporaryDir temp;
    ChatStore store{temp.path() + QStringLiteral("/Parlote")};
    QUuid id = QUuid::createUuid();

    QByteArray bytes() {
        QFile file(store.conversationPath(id));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void write(const QByteArray& data) {
        QFile file(store.conversationPath(id));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    }
};

TEST_F(VariantFiles, VersionsAndStopMarksSurviveTheFileAndOlderReadersSeeTheShownThread) {
    MessageList thread = threadOf({user("q1"), reply("a1"), user("q2"), reply("a2")});
    VariantPoints points;
    branchAt(thread, points, 3);
    thread.append(reply("a2 again").withStopped(true));
    branchAt(thread, points, 0);
    thread.append(user("q1 edited"));
    thread.append(reply("b1"));
    markVariants(thread, points);

    ASSERT_TRUE(store.writeConversation(id, thread.toList(), points));
    const nlohmann::json file = nlohmann::json::parse(bytes().toStdString());
    // "messages" is the shown thread, exactly as a reader that knows no versions wants it.
    ASSERT_EQ(file["messages"].size(), 2u);
    EXPECT_EQ(file["messages"][0]["content"], "q1 edited");
    EXPECT_EQ(file["messages"][0].size(), 4u) << "marks of versions are not stored per message";

    TranscriptRead read = store.readConversationFile(id);
    ASSERT_TRUE(read.problem.isEmpty());
    ASSERT_EQ(read.variants.size(), 1u);
    EXPECT_EQ(read.variants[0].shown, 1);
    MessageList again(read.messages);
    ASSERT_TRUE(switchVariant(again, read.variants, 0, 0));
    markVariants(again, read.variants);
    EXPECT_EQ(contents(again), QStringList({"q1", "a1", "q2", "a2 again"}));
    EXPECT_TRUE(again.at(3).stopped());
    EXPECT_FALSE(again.at(1).stopped());
    EXPECT_EQ(marks(again), QStringList({"1/2", "-", "-", "2/2"}));
}

TEST_F(VariantFiles, AFileWithoutVersionsIsWrittenAsBeforeAndDamagedVersionsKeepTheFile) {
    const QByteArray plain =
        R"({"messages":[{"id":"11111111-2222-4333-8444-555555555555","content":"Hi",)"
        R"("type":"user","timestamp":"2025-01-31T09:15:00Z"},{"id":)"
        R"("66666666-7777-4888-9999-AAAAAAAAAAAA","content":"Hello","type":"assistant",)"
        R"("timestamp":"2025-01-31T09:15:07Z","stopped":true}]})";
    write(plain);
    TranscriptRead read = store.readConversationFile(id);
    ASSERT_EQ(read.messages.size(), 2);
    EXPECT_TRUE(read.messages.at(1).stopped());
    EXPECT_TRUE(read.variants.empty());
    ASSERT_TRUE(store.writeConversation(id, read.messages, read.variants));
    EXPECT_EQ(bytes(), plain);

    // Versions this program did not write: the file is kept aside whole, never rewritten
    // without them.
    const QByteArray message =
        R"({"id":"11111111-2222-4333-8444-555555555555","content":"Hi","type":"user",)"
        R"("timestamp":"2025-01-31T09:15:00Z"})";
    for (const QByteArray& variants :
         {QByteArray(R"("variants":[{"at":1,"shown":0,"others":[{"messages":[)") + message +
              "]}]}]",
          QByteArray(R"("variants":[{"at":0,"shown":2,"others":[{"messages":[)") + message +
              "]}]}]",
          QByteArray(R"("variants":[{"at":0,"shown":0,"others":[]}])"),
          QByteArray(R"("variants":[{"at":0,"shown":0,"others":[{"messages":[]}]}])"),
          QByteArray(R"("variants":{"at":0})")}) {
        const QByteArray damaged = "{\"messages\":[" + message + "]," + variants + "}";
        write(damaged);
        read = store.readConversationFile(id);
        EXPECT_FALSE(read.problem.isEmpty()) << variants.toStdString();
        EXPECT_TRUE(read.messages.isEmpty());
        QFile kept(read.setAsidePath);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), damaged);
    }
}

}  // namespace

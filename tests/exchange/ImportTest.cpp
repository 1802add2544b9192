// Reading conversations from files the user picked: the app's own data-folder files
// (named by their id, without a title) and the reasons given for files that are not
// conversations, whatever their bytes.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ChatStore.h"
#include "ConversationImport.h"
#include "Limits.h"

using namespace parlote;

namespace {

class ImportFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;

    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    static ChatMessage message(const QString& text, ChatMessageType type) {
        return ChatMessage(QUuid::createUuid(), text, type,
                           QDateTime(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC));
    }
};

TEST_F(ImportFiles, ADataFolderFileKeepsItsIdAndIsTitledByItsFirstUserMessage) {
    ChatStore store(dir.filePath("data"));
    const QUuid id = QUuid::createUuid();
    const QList<ChatMessage> messages = {
        message("<think>x</think>", ChatMessageType::assistant),
        message("\n  Plan a picnic for six  \nwith sandwiches", ChatMessageType::user),
        message("Here is a plan.", ChatMessageType::assistant)};
    ConversationSettings settings;
    settings.seed = 7;
    ASSERT_TRUE(store.writeConversation(id, messages, {}, settings));

    const ImportRead read = readImportFile(store.conversationPath(id));
    ASSERT_TRUE(read.conversation) << read.problem.toStdString();
    EXPECT_EQ(read.conversation->id, id);
    EXPECT_EQ(read.conversation->title, "Plan a picnic for six");
    EXPECT_EQ(read.conversation->content.messages, messages);
    EXPECT_EQ(read.conversation->content.settings, settings);
}

TEST_F(ImportFiles, TitlesAreOneLineWithinTheLimitAndAFileWithoutUserMessagesHasOne) {
    const QByteArray reply =
        R"({"messages":[{"id":"6B1F3C6E-3C39-4C5E-9E59-0B8A1D7C2F10","content":"Hi",)"
        R"("type":"assistant","timestamp":"2026-05-01T08:00:00Z"}]})";
    EXPECT_EQ(readImportedConversation(reply).conversation->title, "Imported Conversation");
    QByteArray titled = reply;
    titled.insert(1, "\"title\":\"" + QByteArray(300, 'w') + " end\\nsecond line\",");
    const QString title = readImportedConversation(titled).conversation->title;
    EXPECT_LE(title.size(), limits::kMaxTitleLength);
    EXPECT_FALSE(title.contains(QLatin1Char('\n')));
}

TEST_F(ImportFiles, EachFileThatIsNotAConversationSaysWhy) {
    const QByteArray goodMessage =
        R"({"id":"6B1F3C6E-3C39-4C5E-9E59-0B8A1D7C2F10","content":"Hi","type":"user",)"
        R"("timestamp":"2026-05-01T08:00:00Z"})";
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"notes.md", "# Just notes\n", "not a JSON file"},
        {"cut.json", R"({"messages":[{"id":)", "damaged (not valid JSON)"},
        {"latin1.json", "{\"title\":\"caf\xe9\",\"messages\":[]}", "damaged (not valid JSON)"},
        {"toc.json", R"({"contents":[]})", "not a conversation"},
        {"list.json", "[1,2,3]", "not a conversation"},
        {"empty.json", R"({"messages":[]})", "no messages"},
        {"nokeys.json", R"({"messages":[{"content":"Hi"}]})", "damaged"},
        {"badvariants.json", R"({"messages":[)" + goodMessage + R"(],"variants":[{"at":9}]})",
         "damaged"},
    };
    for (const Case& c : cases) {
        const ImportRead read = readImportFile(file(c.name, c.bytes));
        EXPECT_FALSE(read.conversation) << c.name;
        EXPECT_TRUE(read.problem.startsWith(QLatin1String(c.reason)))
            << c.name << ": " << read.problem.toStdString();
    }
    EXPECT_EQ(readImportFile(dir.filePath("missing.json")).problem, "not found");
    EXPECT_EQ(readImportFile(dir.path()).problem, "not a file");
}

TEST_F(ImportFiles, AFileOverTheSizeLimitIsNotRead) {
    const QString path = dir.filePath("huge.json");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(limits::kMaxFileBytes + 1));  // sparse: no disk space used
    f.close();
    const ImportRead read = readImportFile(path);
    EXPECT_FALSE(read.conversation);
    EXPECT_EQ(read.problem, "too large");
}

}  // namespace

// Exported conversations: the Markdown a person reads (exact text), the JSON that comes
// back in without losing anything, and the names exported files get.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include "ConversationExport.h"
#include "ConversationImport.h"
#include "ExportNames.h"

using namespace parlote;

namespace {

ChatMessage message(const QString& text, ChatMessageType type, int hour, int minute) {
    return ChatMessage(QUuid::createUuid(), text, type,
                       QDateTime(QDate(2026, 12, 7), QTime(hour, minute), Qt::UTC));
}

class ExportFormats : public ::testing::Test {
protected:
    ExportFormats() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }
    ~ExportFormats() override { QLocale::setDefault(QLocale::c()); }

    TitledConversation twoExchanges() const {
        TitledConversation c;
        c.id = QUuid::createUuid();
        c.title = QStringLiteral("Trains in Spain");
        c.content.messages = {
            message("How fast is the AVE?\nRoughly.", ChatMessageType::user, 14, 3),
            message("<think>The user asks about speed.\n\nAVE tops out near 310 km/h.</think>\n\n"
                    "About **310 km/h** at its fastest.",
                    ChatMessageType::assistant, 14, 4),
            message("And from Madrid to Seville?", ChatMessageType::user, 14, 10),
            message("About 2 hours 30 minutes.", ChatMessageType::assistant, 14, 11),
        };
        return c;
    }
};

TEST_F(ExportFormats, MarkdownHasTheTitleEachMessageUnderItsAuthorAndTimeAndTheReasoningQuoted) {
    EXPECT_EQ(conversationToMarkdown(twoExchanges()).toStdString(),
              "# Trains in Spain\n"
              "\n## You \u2014 7 December 2026 14:03\n\n"
              "How fast is the AVE?\nRoughly.\n"
              "\n## Assistant \u2014 7 December 2026 14:04\n\n"
              "> **Thinking**\n>\n"
              "> The user asks about speed.\n>\n> AVE tops out near 310 km/h.\n\n"
              "About **310 km/h** at its fastest.\n"
              "\n## You \u2014 7 December 2026 14:10\n\n"
              "And from Madrid to Seville?\n"
              "\n## Assistant \u2014 7 December 2026 14:11\n\n"
              "About 2 hours 30 minutes.\n");
}

TEST_F(ExportFormats, MarkdownLeavesOutAnEmptyThinkBlockAndKeepsAUserMessagesTagsAsWritten) {
    TitledConversation c;
    c.title = QStringLiteral("Tags");
    c.content.messages = {
        message("<think>not reasoning</think> typed by me", ChatMessageType::user, 9, 0),
        message("<think>\n\n</think>\n\nHello.", ChatMessageType::assistant, 9, 1),
    };
    EXPECT_EQ(conversationToMarkdown(c).toStdString(),
              "# Tags\n"
              "\n## You \u2014 7 December 2026 09:00\n\n"
              "<think>not reasoning</think> typed by me\n"
              "\n## Assistant \u2014 7 December 2026 09:01\n\n"
              "Hello.\n");
}

TEST_F(ExportFormats, JsonComesBackWithItsMessagesVersionsSettingsTitleAndId) {
    TitledConversation c = twoExchanges();
    c.title = QStringLiteral("Trains \u00e9t\u00e9 \U0001F686");
    // The first answer was regenerated: the older one is a version not shown.
    ThreadBranch older;
    older.messages = {
        message("An older answer.", ChatMessageType::assistant, 14, 5).withStopped(true)};
    c.content.variants = {VariantPoint{1, 1, {older}}};
    c.content.messages[1] = c.content.messages[1].withStats(ReplyStats{12, 3400, 5, 100, 0, 0});
    c.content.settings.systemPrompt = QStringLiteral("Answer briefly.");
    c.content.settings.temperature = 0.25;
    c.content.settings.think = ThinkSetting::high;

    const ImportRead read = readImportedConversation(conversationToJsonFile(c), "export.json");
    ASSERT_TRUE(read.conversation) << read.problem.toStdString();
    EXPECT_EQ(read.conversation->id, c.id);
    EXPECT_EQ(read.conversation->title, c.title);
    EXPECT_EQ(read.conversation->content, c.content);
}

TEST_F(ExportFormats, JsonHoldsTheConversationFilesDocumentAfterIdAndTitle) {
    const TitledConversation c = twoExchanges();
    const auto json = nlohmann::ordered_json::parse(conversationToJsonFile(c).toStdString());
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "title", "messages"}));
    EXPECT_EQ(json["messages"], conversationToJson(c.content)["messages"]);
}

TEST(ExportNames, UnsafeCharactersGoAndLongTitlesAreCut) {
    EXPECT_EQ(safeFileTitle(QStringLiteral("  a/b\\c\td\ne \x01 f  ")), "a-b-c d e f");
    EXPECT_EQ(safeFileTitle(QStringLiteral("../../etc/passwd")), "-..-etc-passwd");
    EXPECT_EQ(safeFileTitle(QStringLiteral("...")), "Conversation");
    EXPECT_EQ(safeFileTitle(QStringLiteral("\n\t ")), "Conversation");
    const QString emoji = QString(79, QLatin1Char('x')) + QStringLiteral("\U0001F600");
    EXPECT_EQ(safeFileTitle(emoji), QString(79, QLatin1Char('x')));  // not half a character
    EXPECT_EQ(safeFileTitle(QString(300, QLatin1Char('y'))).size(), 80);
}

TEST(ExportNames, ClashingTitlesGetNumberedNamesAndNoFileIsReplaced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        QFile existing(dir.filePath("Plans.md"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
    }
    QString error;
    const QString second = writeNewExportFile(dir.path(), "Plans", "md", "two", &error);
    const QString third = writeNewExportFile(dir.path(), "Plans", "md", "three", &error);
    const QString slashed = writeNewExportFile(dir.path(), "Plans/", "md", "slashed", &error);
    EXPECT_EQ(QFileInfo(second).fileName(), "Plans (2).md");
    EXPECT_EQ(QFileInfo(third).fileName(), "Plans (3).md");
    EXPECT_EQ(QFileInfo(slashed).fileName(), "Plans-.md");
    QFile kept(dir.filePath("Plans.md"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "keep me");
    QFile written(third);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "three");
}

TEST(ExportNames, TheFormatFollowsTheSuffix) {
    EXPECT_EQ(exportFormatOfName("a.MD"), ExportFormat::markdown);
    EXPECT_EQ(exportFormatOfName("/x/b.json"), ExportFormat::json);
    EXPECT_EQ(exportFormatOfName("c.pdf"), ExportFormat::pdf);
    EXPECT_EQ(exportFormatOfName("d.txt"), std::nullopt);
}

}  // namespace

// A conversation's settings in its file: written only when set, read back as written,
// and read tolerantly; a file without them is read and written byte for byte.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include "ChatStore.h"

using namespace parlote;

namespace {

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

const QByteArray kMessages =
    R"({"messages":[{"id":"11111111-2222-4333-8444-555555555555","content":"Hi",)"
    R"("type":"user","timestamp":"2025-01-31T09:15:00Z"},{"id":)"
    R"("66666666-7777-4888-9999-AAAAAAAAAAAA","content":"Hel","type":"assistant",)"
    R"("timestamp":"2025-01-31T09:15:07Z","stopped":true}])";

class SettingsFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ChatStore store{dir.path() + QStringLiteral("/Parlote")};
    const QUuid id = QUuid::createUuid();

    /// Writes `bytes` as the conversation file, reads it and writes back all that was read.
    TranscriptRead roundTrip(const QByteArray& bytes) {
        writeBytes(store.conversationPath(id), bytes);
        TranscriptRead read = store.readConversationFile(id);
        EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
        EXPECT_TRUE(store.writeConversation(id, read.messages, read.variants, read.settings));
        return read;
    }
};

TEST_F(SettingsFileTest, AFileWithoutSettingsIsWrittenBackByteForByte) {
    const QByteArray old = kMessages + "}";
    const TranscriptRead read = roundTrip(old);
    EXPECT_TRUE(read.settings.isEmpty());
    EXPECT_EQ(readBytes(store.conversationPath(id)), old);
}

TEST_F(SettingsFileTest, OnlySetKeysAreWrittenAfterTheMessagesInAFixedOrder) {
    ConversationSettings settings;
    settings.think = ThinkSetting::high;
    settings.seed = -7;
    settings.contextLength = 8192;
    settings.temperature = 0.25;
    settings.systemPrompt = QStringLiteral("Answer in \"French\".");
    const TranscriptRead read = roundTrip(kMessages + "}");
    ASSERT_TRUE(store.writeConversation(id, read.messages, {}, settings));
    EXPECT_EQ(readBytes(store.conversationPath(id)),
              kMessages + R"(,"settings":{"system":"Answer in \"French\".","temperature":0.25,)"
                          R"("num_ctx":8192,"seed":-7,"think":"high"}})");
    EXPECT_EQ(store.readConversationFile(id).settings, settings);

    ConversationSettings one;
    one.think = ThinkSetting::off;
    ASSERT_TRUE(store.writeConversation(id, read.messages, {}, one));
    EXPECT_EQ(readBytes(store.conversationPath(id)), kMessages + R"(,"settings":{"think":false}})");
    const QByteArray withSettings = readBytes(store.conversationPath(id));
    EXPECT_EQ(roundTrip(withSettings).settings, one);
    EXPECT_EQ(readBytes(store.conversationPath(id)), withSettings);

    ConversationSettings empty;
    empty.systemPrompt = QString();  // set, and empty: no system prompt at all
    ASSERT_TRUE(store.writeConversation(id, read.messages, {}, empty));
    EXPECT_EQ(store.readConversationFile(id).settings.systemPrompt, QString());
}

TEST_F(SettingsFileTest, ABadValueDropsThatSettingAndNothingElse) {
    const auto settingsOf = [&](const char* json) {
        return roundTrip(kMessages + R"(,"settings":)" + json + "}").settings;
    };
    ConversationSettings rest;
    rest.systemPrompt = QStringLiteral("Be brief.");
    rest.seed = 3;
    EXPECT_EQ(settingsOf(R"({"system":"Be brief.","temperature":"hot","seed":3})"), rest);
    EXPECT_EQ(settingsOf(R"({"system":"Be brief.","num_ctx":4096.5,"seed":3})"), rest);
    EXPECT_EQ(settingsOf(R"({"system":"Be brief.","num_ctx":0,"seed":3,"think":"deep"})"), rest);
    EXPECT_EQ(settingsOf(R"({"system":"Be brief.","temperature":-1,"seed":3,"think":1})"), rest);
    EXPECT_EQ(settingsOf(R"({"system":"Be brief.","seed":3,"seed2":4,"think":null})"), rest);
    EXPECT_EQ(settingsOf(R"({"system":["Be"],"seed":18446744073709551615})"),
              ConversationSettings{});
    EXPECT_TRUE(settingsOf(R"([1,2])").isEmpty());
    EXPECT_TRUE(settingsOf(R"("high")").isEmpty());
    // The messages are never lost over a setting.
    EXPECT_EQ(store.readConversationFile(id).messages.size(), 2);
    // What could not be read is not written back.
    EXPECT_EQ(readBytes(store.conversationPath(id)), kMessages + "}");
}

TEST(ConversationSettings, EveryThinkValueHasItsFileForm) {
    const std::pair<ThinkSetting, const char*> forms[] = {
        {ThinkSetting::off, "false"},     {ThinkSetting::on, "true"},
        {ThinkSetting::low, "\"low\""},   {ThinkSetting::medium, "\"medium\""},
        {ThinkSetting::high, "\"high\""}, {ThinkSetting::max, "\"max\""}};
    for (const auto& [think, text] : forms) {
        EXPECT_EQ(thinkToJson(think).dump(), text);
        EXPECT_EQ(thinkFromJson(nlohmann::ordered_json::parse(text)), think);
    }
    EXPECT_FALSE(thinkFromJson("HIGH"));
}

TEST(ConversationSettings, ValuesOutsideTheirBoundsAreNotKept) {
    ConversationSettings settings;
    settings.temperature = std::numeric_limits<double>::infinity();
    settings.contextLength = -1;
    EXPECT_TRUE(settings.valid().isEmpty());
    EXPECT_TRUE(settings.toJson().empty());
    settings.temperature = 0;
    settings.contextLength = 1;
    EXPECT_EQ(settings.valid(), settings);
}

}  // namespace

// Identity, equality and hashing of the chat records, and the JSON form of a message.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>
#include <nlohmann/json.hpp>
#include <string>

#include "ChatRecords.h"

using namespace parlote;
using Json = nlohmann::ordered_json;

namespace {

const QUuid kUuid = QUuid::fromString(QStringLiteral("0f1e2d3c-4b5a-6978-8a9b-acbdcedf0a1b"));
const char* const kUuidUpper = "0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1B";

QDateTime at(const char* isoText) {
    return QDateTime::fromString(QString::fromLatin1(isoText), Qt::ISODateWithMs);
}

Json validMessage() {
    return Json::parse(R"({"id":"0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1B","content":"hi",)"
                       R"("type":"user","timestamp":"2025-01-31T09:15:00Z"})");
}

}  // namespace

TEST(SidebarIDTest, IdentityText) {
    EXPECT_EQ(SidebarID::newConversation().id(), QStringLiteral("new"));
    const QString text = SidebarID::conversation(kUuid).id();
    EXPECT_EQ(text, QString::fromLatin1(kUuidUpper));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                    .match(SidebarID::conversation(QUuid::createUuid()).id())
                    .hasMatch());
}

TEST(SidebarIDTest, EqualityAndHash) {
    const QUuid same = *uuidFromText(QString::fromLatin1(kUuidUpper));  // parsed from upper case
    const SidebarID a = SidebarID::conversation(kUuid);                 // parsed from lower case
    const SidebarID b = SidebarID::conversation(same);
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_EQ(std::hash<SidebarID>{}(a), std::hash<SidebarID>{}(b));
    EXPECT_EQ(SidebarID::newConversation(), SidebarID::newConversation());
    EXPECT_EQ(qHash(SidebarID::newConversation()), qHash(SidebarID::newConversation()));

    EXPECT_NE(a, SidebarID::conversation(QUuid::createUuid()));
    EXPECT_NE(a, SidebarID::newConversation());
    // The null UUID is an ordinary conversation id, not the new-conversation state.
    const SidebarID nullConversation = SidebarID::conversation(QUuid());
    EXPECT_NE(nullConversation, SidebarID::newConversation());
    EXPECT_TRUE(nullConversation.isConversation());
    EXPECT_EQ(nullConversation.id(), QStringLiteral("00000000-0000-0000-0000-000000000000"));
    EXPECT_NE(qHash(nullConversation), qHash(SidebarID::newConversation()));

    QSet<SidebarID> set{a, b, SidebarID::newConversation(), nullConversation};
    EXPECT_EQ(set.size(), 3);
}

TEST(ChatMessageTypeTest, TextForms) {
    for (ChatMessageType type :
         {ChatMessageType::user, ChatMessageType::assistant, ChatMessageType::error})
        EXPECT_EQ(chatMessageTypeFromText(toText(type)), type);
    EXPECT_EQ(toText(ChatMessageType::assistant), QStringLiteral("assistant"));
    for (const char* word : {"", "User", "ASSISTANT", "system", "error ", " user", "tool"})
        EXPECT_FALSE(chatMessageTypeFromText(QString::fromLatin1(word))) << word;
}

TEST(ChatMessageTest, WritesKeysInOrderWithCanonicalForms) {
    const ChatMessage message(kUuid, QStringLiteral("héllo \"world\"\n"),
                              ChatMessageType::assistant, at("2025-01-31T09:15:00.789Z"));
    EXPECT_EQ(message.toJson().dump(),
              std::string(R"({"id":"0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1B",)") +
                  R"("content":"héllo \"world\"\n","type":"assistant",)" +
                  R"("timestamp":"2025-01-31T09:15:00Z"})");

    // A time in another zone is written in UTC.
    const ChatMessage offset(kUuid, {}, ChatMessageType::user, at("2025-01-31T11:15:00+02:00"));
    EXPECT_EQ(offset.toJson()["timestamp"], "2025-01-31T09:15:00Z");
}

TEST(ChatMessageTest, ReadsAnyKeyOrderAndIgnoresUnknownKeys) {
    const Json object =
        Json::parse(R"({"extra":[1,{"x":null}],"timestamp":"2025-01-31T09:15:00Z","type":"error",)"
                    R"("content":"boom","id":"0f1e2d3c-4b5a-6978-8a9b-acbdcedf0a1b","more":true})");
    const ChatMessage message = ChatMessage::fromJson(object);
    EXPECT_EQ(message.id(), kUuid);
    EXPECT_EQ(message.content(), QStringLiteral("boom"));
    EXPECT_EQ(message.type(), ChatMessageType::error);
    EXPECT_EQ(message.timestamp(), at("2025-01-31T09:15:00Z"));

    // Round trip, including whole-second truncation of the time.
    const ChatMessage original =
        ChatMessage::make(QStringLiteral("x\u00e9\U0001F600"), ChatMessageType::assistant);
    const ChatMessage back = ChatMessage::fromJson(Json::parse(original.toJson().dump()));
    EXPECT_EQ(back.id(), original.id());
    EXPECT_EQ(back.content(), original.content());
    EXPECT_EQ(back.timestamp().toSecsSinceEpoch(), original.timestamp().toSecsSinceEpoch());
    EXPECT_EQ(back.timestamp().time().msec(), 0);
}

TEST(ChatMessageTest, RejectsEveryMalformedShape) {
    for (const char* key : {"id", "content", "type", "timestamp"}) {
        Json missing = validMessage();
        missing.erase(key);
        EXPECT_THROW(ChatMessage::fromJson(missing), DecodingError) << "missing " << key;
        for (const Json& wrong :
             {Json(nullptr), Json(42), Json(true), Json::array({"user"}), Json::object()}) {
            Json bad = validMessage();
            bad[key] = wrong;
            EXPECT_THROW(ChatMessage::fromJson(bad), DecodingError) << key << " = " << wrong;
        }
    }
    const auto rejects = [](const char* key, const char* value) {
        Json bad = validMessage();
        bad[key] = value;
        EXPECT_THROW(ChatMessage::fromJson(bad), DecodingError) << key << " = " << value;
    };
    for (const char* type : {"system", "User", ""}) rejects("type", type);
    for (const char* time :
         {"2025-01-31T09:15:00.000Z", "2025-01-31T09:15:00.5Z", "2025-01-31T09:15:00+00:00",
          "2025-01-31T09:15:00", "2025-01-31 09:15:00Z", "2025-02-30T09:15:00Z",
          "2025-01-31T25:15:00Z", "2025-01-31T24:00:00Z", "2025-01-31T09:15:60Z",
          "2025-01-31T09:15:00z", "", "1738314900"})
        rejects("timestamp", time);
    for (const char* id :
         {"{0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1B}", "0F1E2D3C4B5A69788A9BACBDCEDF0A1B",
          "0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1", "0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1BC",
          "0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1G", " 0F1E2D3C-4B5A-6978-8A9B-ACBDCEDF0A1B", "new",
          ""})
        rejects("id", id);
    EXPECT_THROW(ChatMessage::fromJson(Json::array()), DecodingError);
    EXPECT_THROW(ChatMessage::fromJson(Json("text")), DecodingError);
}

TEST(RecordHelpersTest, UuidAndDateTextForms) {
    EXPECT_EQ(uuidText(kUuid), QString::fromLatin1(kUuidUpper));
    EXPECT_EQ(uuidFromText(QString::fromLatin1(kUuidUpper)), kUuid);
    EXPECT_EQ(uuidFromText(uuidText(kUuid).toLower()), kUuid);

    const QDateTime when = at("2025-01-31T09:15:00.999Z");
    EXPECT_EQ(dateText(when), QStringLiteral("2025-01-31T09:15:00Z"));
    EXPECT_EQ(dateText(at("1999-12-31T23:59:59Z")), QStringLiteral("1999-12-31T23:59:59Z"));
    const auto read = dateFromText(QStringLiteral("2025-01-31T09:15:00Z"));
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, at("2025-01-31T09:15:00Z"));
    EXPECT_EQ(read->timeSpec(), Qt::UTC);
    // Non-ASCII digits are not digits of this form.
    EXPECT_FALSE(dateFromText(QStringLiteral("\u0662\u0660\u0662\u0665-01-31T09:15:00Z")));
}

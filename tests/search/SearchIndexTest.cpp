// The index on its own, on a real SQLite file in a temporary folder: what a query finds
// and how it reads, what the user may type, how the index follows changes, and what
// happens to an index file that is damaged or of another kind.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "SearchIndex.h"
#include "Sqlite.h"

using namespace parlote;

namespace {

ChatMessage message(const QString& text, int day = 1) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::assistant,
                       QDateTime(QDate(2025, 3, day), QTime(12, 0), Qt::UTC));
}

/// The matched parts of a hit's snippet, as text.
QStringList marked(const SearchHit& hit) {
    QStringList parts;
    for (const TextRange& range : hit.matches) parts << hit.snippet.mid(range.start, range.length);
    return parts;
}

class IndexTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("cache/search.sqlite")); }

    QUuid add(const QString& title, const QList<ChatMessage>& messages) {
        const QUuid id = QUuid::createUuid();
        index->setConversation(id, title, MessageList(messages), {});
        return id;
    }

    /// The messages (or, for a title, the conversation ids) found for `typed`.
    QList<QUuid> found(const QString& typed) const {
        QList<QUuid> ids;
        for (const SearchHit& hit : index->search(typed, 50))
            ids << (hit.message.isNull() ? hit.conversation : hit.message);
        return ids;
    }

    QTemporaryDir dir;
    std::unique_ptr<SearchIndex> index = std::make_unique<SearchIndex>(path());
};

}  // namespace

TEST(SearchText, TypedTextBecomesQuotedTermsWithThePrefixOnTheLastWord) {
    EXPECT_EQ(matchExpression(u"pyth"), QStringLiteral("\"pyth\"*"));
    EXPECT_EQ(matchExpression(u"python "), QStringLiteral("\"python\""));
    EXPECT_EQ(matchExpression(u"  red \"big dog\"  cat"),
              QStringLiteral("\"red\" \"big dog\" \"cat\"*"));
    EXPECT_EQ(matchExpression(u"\"big dog\""), QStringLiteral("\"big dog\""));
    EXPECT_EQ(matchExpression(u"say \"big do"), QStringLiteral("\"say\" \"big do\"*"));
    EXPECT_EQ(matchExpression(u"a\"bc"), QStringLiteral("\"a\" \"bc\"*"));
    EXPECT_EQ(matchExpression(u"vitamin c"), QStringLiteral("\"vitamin\" \"c\""));
    EXPECT_EQ(matchExpression(u"\"vitamin c"), QStringLiteral("\"vitamin c\""));
    EXPECT_EQ(matchExpression(u"pyth."), QStringLiteral("\"pyth.\"*"));
    // Nothing that holds no word is a term; nothing at all gives no query.
    EXPECT_EQ(matchExpression(u"* - : \"\" ("), QString());
    EXPECT_EQ(matchExpression(u"word ***"), QStringLiteral("\"word\""));
    QString many;
    for (int i = 0; i < 100; ++i) many += QStringLiteral("w%1 ").arg(i);
    EXPECT_EQ(matchExpression(many).count(QLatin1Char(' ')), kMaxQueryTerms - 1);
    // A pasted page with no spaces is searched for by its first characters only.
    const QString pasted = QStringLiteral("a.b.").repeated(250'000);
    EXPECT_LE(matchExpression(pasted).size(), kMaxQueryLength + 4);
}

TEST(SearchText, MarkedExcerptsBecomeOneLineWithRanges) {
    const MarkedText text = unmark(u"…  first\n\n\x01line\x02 and\t\x01more\x02 \n");
    EXPECT_EQ(text.text, QStringLiteral("… first line and more"));
    ASSERT_EQ(text.matches.size(), 2);
    EXPECT_EQ(text.text.mid(text.matches[0].start, text.matches[0].length), u"line");
    EXPECT_EQ(text.text.mid(text.matches[1].start, text.matches[1].length), u"more");

    EXPECT_EQ(indexableText(QStringLiteral("<think>plan</think>answer \x01x\x02")),
              QStringLiteral("       plan        answer  x "));
    EXPECT_EQ(indexableText(QStringLiteral("the <think> tag")), QStringLiteral("the <think> tag"));
}

TEST(SearchText, MessagesAreIndexedAsTheyReadRendered) {
    const auto text = [](const char* content, ChatMessageType type) {
        return indexableText(ChatMessage::make(QString::fromUtf8(content), type));
    };
    // The Markdown's marks and link addresses go; the words stay.
    EXPECT_EQ(text("Use **`git rebase`** and [the guide](https://example.com/x).",
                   ChatMessageType::assistant),
              QStringLiteral("Use git rebase and the guide."));
    // A reply's reasoning and its answer, without their tags.
    const QString reply = text("<think>The user asks *why*.</think>\n\n# Because\nit is.",
                               ChatMessageType::assistant);
    EXPECT_FALSE(reply.contains(u'<') || reply.contains(u'*') || reply.contains(u'#'));
    EXPECT_TRUE(reply.contains(u"The user asks why.") && reply.contains(u"Because"));
    // A user's line breaks stay; an error is kept as written; markers never reach the index.
    EXPECT_EQ(text("one\ntwo \x01x\x02", ChatMessageType::user), QStringLiteral("one\ntwo  x "));
    EXPECT_EQ(text("HTTP 500: **x**", ChatMessageType::error), QStringLiteral("HTTP 500: **x**"));
}

TEST_F(IndexTest, FindsTitlesAndMessagesWithTheMatchMarked) {
    const QUuid id = add(QStringLiteral("Trip to Paris"),
                         {message(QStringLiteral("Where is a good Café near the river?")),
                          message(QStringLiteral("Try the one on the left bank."))});
    const QList<SearchHit> byTitle = index->search(u"paris", 10);
    ASSERT_EQ(byTitle.size(), 1);
    EXPECT_EQ(byTitle[0].conversation, id);
    EXPECT_TRUE(byTitle[0].message.isNull());
    EXPECT_EQ(byTitle[0].title, QStringLiteral("Trip to Paris"));
    EXPECT_EQ(byTitle[0].snippet, QStringLiteral("Trip to Paris"));
    EXPECT_EQ(marked(byTitle[0]), QStringList{QStringLiteral("Paris")});
    EXPECT_EQ(byTitle[0].date, QDateTime(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC));

    // Case and accents do not matter, either way round.
    for (const char* typed : {"cafe", "CAFÉ", "Café", "caf"}) {
        const QList<SearchHit> hits = index->search(QString::fromUtf8(typed), 10);
        ASSERT_EQ(hits.size(), 1) << typed;
        EXPECT_FALSE(hits[0].message.isNull());
        EXPECT_EQ(hits[0].title, QStringLiteral("Trip to Paris"));
        EXPECT_EQ(marked(hits[0]), QStringList{QStringLiteral("Café")}) << typed;
    }

    // Whole words and phrases (excerpts looked up hit by hit) are marked the same way.
    const QList<SearchHit> whole = index->search(u"paris ", 10);
    ASSERT_EQ(whole.size(), 1);
    EXPECT_EQ(whole[0].snippet, QStringLiteral("Trip to Paris"));
    EXPECT_EQ(marked(whole[0]), QStringList{QStringLiteral("Paris")});
    const QList<SearchHit> phrase = index->search(u"try \"LEFT bank\"", 10);
    ASSERT_EQ(phrase.size(), 1);
    EXPECT_EQ(phrase[0].snippet, QStringLiteral("Try the one on the left bank."));
    EXPECT_EQ(marked(phrase[0]), QStringList({QStringLiteral("Try"), QStringLiteral("left bank")}));
    EXPECT_EQ(phrase[0].title, QStringLiteral("Trip to Paris"));

    // A long message gives an excerpt around the match, cut with an ellipsis.
    QString longText;
    for (int i = 0; i < 200; ++i) longText += QStringLiteral("filler%1 ").arg(i);
    add(QStringLiteral("Long"), {message(longText + QStringLiteral("needle ") + longText)});
    const QList<SearchHit> hits = index->search(u"needle", 10);
    ASSERT_EQ(hits.size(), 1);
    EXPECT_LT(hits[0].snippet.size(), 300);
    EXPECT_TRUE(hits[0].snippet.startsWith(QStringLiteral("…")));
    EXPECT_EQ(marked(hits[0]), QStringList{QStringLiteral("needle")});
}

TEST_F(IndexTest, WordsInAnyOrderPhrasesAndAPrefixOnTheLastWord) {
    const ChatMessage both = message(QStringLiteral("The quick brown fox jumps"));
    const ChatMessage one = message(QStringLiteral("A brown bear"));
    const ChatMessage python = message(QStringLiteral("Python data tools"));
    add(QStringLiteral("Animals"), {both, one, python});

    EXPECT_EQ(found(QStringLiteral("fox brown")), QList<QUuid>{both.id()});
    EXPECT_EQ(found(QStringLiteral("\"brown fox\"")), QList<QUuid>{both.id()});
    EXPECT_TRUE(found(QStringLiteral("\"fox brown\"")).isEmpty());
    EXPECT_EQ(found(QStringLiteral("pyth")), QList<QUuid>{python.id()});
    EXPECT_EQ(found(QStringLiteral("data pyth")), QList<QUuid>{python.id()});
    EXPECT_TRUE(found(QStringLiteral("pyth ")).isEmpty());      // a finished word is whole
    EXPECT_TRUE(found(QStringLiteral("pyth data")).isEmpty());  // and so is every earlier one
    EXPECT_EQ(found(QStringLiteral("\"quick bro")), QList<QUuid>{both.id()});
}

TEST_F(IndexTest, WhatTheUserTypesIsNeverAnOperator) {
    const ChatMessage andOr = message(QStringLiteral("cats OR dogs AND NOT birds"));
    const ChatMessage cats = message(QStringLiteral("cats and dogs"));
    const ChatMessage column = message(QStringLiteral("the body: python"));
    const ChatMessage x = message(QStringLiteral("x marks the spot"));
    add(QStringLiteral("Operators"), {andOr, cats, column, x});

    // Read as words, "OR" and "NOT" must occur like any other.
    EXPECT_EQ(found(QStringLiteral("cats OR dogs")), QList<QUuid>{andOr.id()});
    EXPECT_EQ(found(QStringLiteral("NOT birds")), QList<QUuid>{andOr.id()});
    // "-x" excludes nothing, "body:" names no column.
    EXPECT_EQ(found(QStringLiteral("-x")), QList<QUuid>{x.id()});
    EXPECT_EQ(found(QStringLiteral("body:python")), QList<QUuid>{column.id()});
    EXPECT_TRUE(found(QStringLiteral("body:spot")).isEmpty());

    const QString hostile[] = {QStringLiteral("\""),
                               QStringLiteral("*"),
                               QStringLiteral("AND"),
                               QStringLiteral("NEAR("),
                               QStringLiteral("NEAR(a b"),
                               QStringLiteral("-"),
                               QStringLiteral(":"),
                               QStringLiteral("^cats"),
                               QStringLiteral("cats)"),
                               QStringLiteral("\"\"\"cats"),
                               QStringLiteral("{body}: cats"),
                               QStringLiteral("cats\x01\x02"),
                               QString(QChar(0xD800)) + QStringLiteral("cats"),
                               QString(5000, QLatin1Char('(')),
                               QStringLiteral("'; DROP TABLE texts; --")};
    for (const QString& typed : hostile)
        EXPECT_NO_THROW(index->search(typed, 10)) << typed.left(40).toStdString();
    EXPECT_EQ(found(QStringLiteral("AND")).size(), 2);  // "AND", "and"
    EXPECT_EQ(found(QStringLiteral("^cats")).size(), 2);
}

TEST_F(IndexTest, RanksByRelevanceThenTheNewestFirst) {
    const ChatMessage older = message(QStringLiteral("tea time"), 1);
    const ChatMessage newer = message(QStringLiteral("tea time"), 9);
    const ChatMessage diluted =
        message(QStringLiteral("tea and a great many other words here"), 20);
    add(QStringLiteral("A"), {older});
    add(QStringLiteral("B"), {diluted, newer});
    EXPECT_EQ(found(QStringLiteral("tea")), (QList<QUuid>{newer.id(), older.id(), diluted.id()}));
    EXPECT_EQ(index->search(u"tea", 2).size(), 2);
}

TEST_F(IndexTest, FollowsChangedMessagesTitlesAndRemovals) {
    const ChatMessage kept = message(QStringLiteral("kept message"), 1);
    const ChatMessage dropped = message(QStringLiteral("dropped message"), 2);
    const ChatMessage edited = message(QStringLiteral("first draft"), 3);
    const QUuid id = add(QStringLiteral("Old title"), {kept, dropped, edited});

    const ChatMessage reply = message(QStringLiteral("a new reply"), 5);
    index->setConversation(
        id, QStringLiteral("Old title"),
        MessageList({kept, edited.withContent(QStringLiteral("final text")), reply}), {7, 8, 9});
    EXPECT_EQ(found(QStringLiteral("kept")), QList<QUuid>{kept.id()});
    EXPECT_TRUE(found(QStringLiteral("dropped")).isEmpty());
    EXPECT_TRUE(found(QStringLiteral("draft")).isEmpty());
    EXPECT_EQ(found(QStringLiteral("final")), QList<QUuid>{edited.id()});
    EXPECT_EQ(found(QStringLiteral("reply")), QList<QUuid>{reply.id()});
    // The title is dated by the newest message.
    EXPECT_EQ(index->search(u"old", 1).value(0).date, reply.timestamp());

    index->setTitle(id, QStringLiteral("New name"));
    EXPECT_TRUE(found(QStringLiteral("old")).isEmpty());
    EXPECT_EQ(found(QStringLiteral("name")), QList<QUuid>{id});
    EXPECT_EQ(index->search(u"reply", 1).value(0).title, QStringLiteral("New name"));
    EXPECT_EQ(index->conversations().value(id).fingerprint, (FileFingerprint{7, 8, 9}));

    const QUuid other = add(QStringLiteral("Other"), {message(QStringLiteral("kept too"))});
    index->removeConversation(id);
    EXPECT_TRUE(found(QStringLiteral("name")).isEmpty());
    EXPECT_TRUE(found(QStringLiteral("reply")).isEmpty());
    EXPECT_EQ(found(QStringLiteral("kept")).size(), 1);
    EXPECT_EQ(index->conversations().keys(), QList<QUuid>{other});

    // What was written is there after reopening, and a failed batch leaves nothing behind.
    EXPECT_THROW(index->batch([&] {
        add(QStringLiteral("Lost"), {});
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(index->conversations().size(), 1);
    index = std::make_unique<SearchIndex>(path());
    EXPECT_FALSE(index->created());
    EXPECT_EQ(index->conversations().keys(), QList<QUuid>{other});
    EXPECT_EQ(found(QStringLiteral("kept")).size(), 1);
    EXPECT_TRUE(found(QStringLiteral("lost")).isEmpty());
}

TEST_F(IndexTest, AFileThatIsNoIndexOfThisVersionIsReplacedByAnEmptyOne) {
    add(QStringLiteral("Something"), {message(QStringLiteral("to lose"))});
    index.reset();
    const QByteArray good = [&] {
        QFile file(path());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    ASSERT_GT(good.size(), 4096);

    const auto damage = [&](const QByteArray& bytes) {
        SearchIndex::discard(path());
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    const auto otherDatabase = [&](const char* sql) {
        SearchIndex::discard(path());
        sqlite::Database db(path());
        db.exec(sql);
    };
    const std::function<void()> cases[] = {
        [&] { damage(QByteArray(20000, '\x5a')); },
        [&] { damage(good.left(good.size() / 2)); },
        [&] { damage(good.left(50)); },
        [&] { damage(QByteArray()); },
        [&] { otherDatabase("CREATE TABLE notes(text); PRAGMA user_version = 1;"); },
        [&] {
            index = std::make_unique<SearchIndex>(path());
            index.reset();
            sqlite::Database db(path());
            db.exec("PRAGMA user_version = 999");
        },
    };
    for (const auto& makeBad : cases) {
        makeBad();
        index = std::make_unique<SearchIndex>(path());
        EXPECT_TRUE(index->created());
        EXPECT_TRUE(index->conversations().isEmpty());
        add(QStringLiteral("Fresh"), {message(QStringLiteral("works again"))});
        EXPECT_EQ(found(QStringLiteral("works")).size(), 1);
        index.reset();
    }
}

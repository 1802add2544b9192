// The transcript view alone: how it follows a transcript that grows, shrinks or is
// replaced, keeps the position, lays out only what is seen, and lays rows out again
// after a new width or when a cached layout was let go; how a message too long to lay
// out shows its last part, and the window that shows all of it.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>
#include <functional>

#include "ImageStore.h"
#include "LongMessage.h"
#include "TranscriptView.h"
#include "WholeMessageWindow.h"

namespace parlote {
namespace {

ChatMessage message(int i, int words = 3) {
    QString text = QStringLiteral("Message %1:").arg(i);
    for (int w = 0; w < words; ++w) text += QStringLiteral(" word");
    return ChatMessage(QUuid::createUuid(), text,
                       i % 2 ? ChatMessageType::assistant : ChatMessageType::user,
                       QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC).addSecs(i));
}

// About `length` characters of paragraphs of prose with some Markdown in them.
QString prose(qsizetype length, int wordsPerParagraph = 80) {
    static const char* const words[] = {"the",  "**quick**", "brown",  "fox", "`jumps`",
                                        "over", "the",       "*lazy*", "dog"};
    QString text;
    text.reserve(length + 64);
    for (int w = 0; text.size() < length; ++w) {
        text += QLatin1String(words[w % 9]);
        text += (w % wordsPerParagraph == wordsPerParagraph - 1) ? QStringLiteral("\n\n")
                                                                 : QStringLiteral(" ");
    }
    return text;
}

MessageList messages(int count, int words = 3) {
    MessageList list;
    for (int i = 0; i < count; ++i) list.append(message(i, words));
    return list;
}

class TranscriptViewTest : public ::testing::Test {
protected:
    ImageStore images;  // keeps the view off the network
    TranscriptView view{nullptr, &images};

    void SetUp() override {
        view.resize(600, 400);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    // Paints now, as the screen would.
    void paint() { view.viewport()->repaint(); }
    int bottomGap() {
        return view.viewport()->height() - view.rowRect(view.rowCount() - 1).bottom() - 1;
    }
};

TEST_F(TranscriptViewTest, GrowingKeepsThePositionAndAnotherTranscriptOpensAtItsEnd) {
    MessageList list = messages(200);
    view.setMessages(list);
    paint();
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    EXPECT_EQ(bottomGap(), TranscriptView::padding);

    // The user reads further up; the reply grows and a message is added: nothing moves.
    view.setScrollPosition(500);
    paint();
    const int topRow = view.rowRect(0).top();
    list.replace(199,
                 list.at(199).withContent(list.at(199).content() + QStringLiteral(" more words")));
    list.append(message(200));
    view.setMessages(list);
    paint();
    EXPECT_EQ(view.rowRect(0).top(), topRow);
    EXPECT_EQ(view.messages().size(), 201);

    // Cut at the end (a shorter list of the same conversation), then the same list again.
    MessageList shorter = messages(0);
    for (int i = 0; i < 150; ++i) shorter.append(list.at(i));
    view.setMessages(shorter);
    paint();
    EXPECT_EQ(view.rowCount(), 150);
    EXPECT_EQ(view.rowRect(0).top(), topRow) << "rows above the cut did not move";
    // Cut to fewer rows than fill the view: the position comes back within the content.
    MessageList few;
    for (int i = 0; i < 3; ++i) few.append(list.at(i));
    view.setMessages(few);
    paint();
    EXPECT_EQ(view.scrollPosition(), 0);
    EXPECT_EQ(view.rowRect(0).top(), TranscriptView::padding);
    view.setMessages(shorter);
    EXPECT_EQ(view.rowCount(), 150);

    // Another conversation opens at its end; an empty one shows nothing.
    view.openTranscript(messages(40));
    paint();
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
    view.setMessages(MessageList());
    paint();
    EXPECT_EQ(view.rowCount(), 0);
    EXPECT_EQ(view.scrollPosition(), 0);
    view.scrollToLastMessage(false);  // nothing to scroll to
    EXPECT_EQ(view.scrollPosition(), 0);
}

TEST_F(TranscriptViewTest, AnEmptyTranscriptShowsNoScrollBar) {
    paint();
    EXPECT_FALSE(view.verticalScrollBar()->isVisible());
    view.setMessages(messages(2));
    paint();
    EXPECT_TRUE(view.verticalScrollBar()->isVisible()) << "rows keep one width as they grow";
    view.openTranscript({});
    paint();
    EXPECT_FALSE(view.verticalScrollBar()->isVisible());
}

TEST_F(TranscriptViewTest, TheStatusLineFollowsTheRowsInEitherOrder) {
    view.setStatusMessage(QStringLiteral("Thinking…"));
    EXPECT_EQ(view.rowCount(), 1);
    MessageList list = messages(30);
    view.setMessages(list);
    EXPECT_EQ(view.rowCount(), 31);
    paint();
    view.scrollToLastMessage(false);
    paint();
    EXPECT_EQ(bottomGap(), TranscriptView::padding) << "the status line is brought into view";
    list.append(message(30));
    view.setMessages(list);
    view.setStatusMessage(std::nullopt);
    EXPECT_EQ(view.rowCount(), 31);
    view.setStatusMessage(QStringLiteral("Unable to get title: timed out"));
    list.append(message(31));
    view.setMessages(list);
    EXPECT_EQ(view.rowCount(), 33);
    paint();
    view.scrollToLastMessage(false);
    paint();
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
    EXPECT_GT(view.rowRect(32).height(), 0);
}

TEST_F(TranscriptViewTest, RowsAreLaidOutWhenSeenAndAgainAfterTheirLayoutWasLetGo) {
    // Long messages: their height depends on the width they are laid out at.
    view.setMessages(messages(2000, 60));
    paint();
    EXPECT_LT(view.laidOutRowCount(), 20);
    const int lastHeight = view.rowRect(1999).height();

    // Scroll through far more rows than the layout cache keeps, then back to the end.
    for (int top = 0; top < 200 * 120; top += 300) {
        view.setScrollPosition(top);
        paint();
    }
    EXPECT_GT(view.laidOutRowCount(), TranscriptView::layoutCacheSize);
    view.jumpToEnd(false);
    paint();
    EXPECT_EQ(view.rowRect(1999).height(), lastHeight) << "laid out at the same width as before";
    EXPECT_EQ(bottomGap(), TranscriptView::padding);

    // A narrower and shorter window: the visible rows get taller, the end stays in view.
    view.resize(420, 376);
    paint();
    EXPECT_GT(view.rowRect(1999).height(), lastHeight);
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
}

TEST_F(TranscriptViewTest, AChangeFarFromTheEndOfTheSameTranscriptKeepsThePlace) {
    MessageList list = messages(300);
    view.setMessages(list);
    paint();
    view.setScrollPosition(0);
    paint();
    // An early message replaced: still the same conversation, so the view stays where
    // the reader is; only opening another transcript jumps to its end.
    list.replace(10, list.at(10).withContent(QStringLiteral("edited")));
    view.setMessages(list);
    paint();
    EXPECT_EQ(view.scrollPosition(), 0);
    EXPECT_EQ(view.messages().at(10).content(), "edited");
    view.openTranscript(list);
    paint();
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
}

TEST_F(TranscriptViewTest, AUsersLineBreaksStayWhileAReplysJoinAsMarkdownHasThem) {
    auto make = [](const char* text, ChatMessageType type) {
        return ChatMessage(QUuid::createUuid(), QString::fromUtf8(text), type,
                           QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC));
    };
    MessageList list;
    list.append(make("Dear model,\nhello", ChatMessageType::user));
    list.append(make("Dear model, hello", ChatMessageType::user));
    list.append(make("Dear model,\nhello", ChatMessageType::assistant));
    list.append(make("Dear model, hello", ChatMessageType::assistant));
    list.append(make("- one\n- two\n\nthree  \nfour", ChatMessageType::user));
    list.append(make("- one\n- two\n\nthree four", ChatMessageType::user));
    view.setMessages(list);
    paint();
    const int line = view.fontMetrics().lineSpacing();
    EXPECT_GE(view.bubbleRect(0).height() - view.bubbleRect(1).height(), line - 2)
        << "the user's two lines stay two";
    EXPECT_EQ(view.bubbleRect(2).height(), view.bubbleRect(3).height()) << "the reply's join";
    EXPECT_GE(view.bubbleRect(4).height() - view.bubbleRect(5).height(), line - 2)
        << "a hard break is one line break, not two";
    EXPECT_LT(view.bubbleRect(4).height() - view.bubbleRect(5).height(), 2 * line);
    EXPECT_EQ(view.laidOutText(0), list.at(0).content()) << "the text itself is unchanged";
}

TEST_F(TranscriptViewTest, ScrollingUpDuringAReplyStopsFollowingItUntilTheUserComesBackToTheEnd) {
    MessageList list = messages(60);
    const ChatMessage reply(QUuid::createUuid(), QString(), ChatMessageType::assistant,
                            QDateTime(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC));
    list.append(reply);
    view.setMessages(list);
    QString text;
    auto chunk = [&] {  // a chunk arrives, and the window asks to follow it
        text += QStringLiteral("Another line of the reply.\n\n");
        list.replace(list.size() - 1, list.last().withContent(text));
        view.setMessages(list);
        view.scrollToLastMessage(true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isScrolling(); }));
        paint();
    };
    auto atEnd = [&] { return bottomGap() == TranscriptView::padding; };
    QAbstractButton* button = view.jumpButton();
    chunk();
    EXPECT_TRUE(view.isFollowing());
    EXPECT_TRUE(atEnd());
    EXPECT_FALSE(button->isVisible());

    // Each way up stops following: the text read stays put while the reply grows, and the
    // button offers the end. Each way back follows again.
    QScrollBar* bar = view.verticalScrollBar();
    auto wheel = [&](int delta) {
        const QPointF at = view.viewport()->rect().center();
        QWheelEvent event(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &event);
    };
    const std::vector<std::pair<const char*, std::function<void()>>> ups{
        {"the scroll bar", [&] { bar->setValue(bar->value() - 150); }},
        {"the wheel", [&] { wheel(120); }},
        {"Page Up", [&] { QTest::keyClick(&view, Qt::Key_PageUp); }},
    };
    const std::vector<std::pair<const char*, std::function<void()>>> backs{
        {"End", [&] { QTest::keyClick(&view, Qt::Key_End); }},
        {"the button",
         [&] { QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center()); }},
        {"the wheel down to the end",
         [&] {
             for (int k = 0; k < 200 && bar->value() < bar->maximum(); ++k) wheel(-120);
         }},
    };
    for (size_t i = 0; i < ups.size(); ++i) {
        SCOPED_TRACE(std::string("up by ") + ups[i].first + ", back by " + backs[i].first);
        ups[i].second();
        paint();
        EXPECT_FALSE(view.isFollowing());
        const qreal position = view.scrollPosition();
        for (int c = 0; c < 3; ++c) chunk();
        EXPECT_EQ(view.scrollPosition(), position);
        ASSERT_TRUE(button->isVisible());
        EXPECT_EQ(button->toolTip(), "Jump to the end (End)");
        EXPECT_TRUE(view.viewport()->geometry().contains(button->geometry()));

        backs[i].second();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isScrolling(); }));
        paint();
        EXPECT_TRUE(view.isFollowing());
        EXPECT_TRUE(atEnd());
        EXPECT_FALSE(button->isVisible());
        chunk();
        EXPECT_TRUE(atEnd());
    }

    // A question sent while the user reads far up: its answer is followed.
    bar->setValue(0);
    ASSERT_FALSE(view.isFollowing());
    list.append(message(100));  // a user message
    list.append(reply.withContent(QStringLiteral("Sure.")));
    view.setMessages(list);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isScrolling(); }));
    paint();
    EXPECT_TRUE(view.isFollowing());
    EXPECT_TRUE(atEnd());
    // Another conversation opens at its end, following it.
    bar->setValue(0);
    view.openTranscript(messages(80));
    paint();
    EXPECT_TRUE(view.isFollowing());
    EXPECT_TRUE(atEnd());
    EXPECT_FALSE(button->isVisible());
}

TEST(TranscriptTimestamps, OnlyTheTimeForToday) {
    const QDateTime now(QDate(2026, 3, 10), QTime(15, 30));
    const QLocale locale;
    const QDateTime earlierToday(QDate(2026, 3, 10), QTime(8, 5));
    EXPECT_EQ(TranscriptView::timestampText(earlierToday, now),
              locale.toString(QTime(8, 5), QLocale::ShortFormat));
    const QString yesterday =
        TranscriptView::timestampText(QDateTime(QDate(2026, 3, 9), QTime(23, 59)), now);
    EXPECT_TRUE(yesterday.contains(locale.toString(QTime(23, 59), QLocale::ShortFormat)));
    EXPECT_TRUE(yesterday.contains(locale.toString(QDate(2026, 3, 9), "MMM")))
        << yesterday.toStdString();
    EXPECT_TRUE(yesterday.contains("2026")) << yesterday.toStdString();
    EXPECT_FALSE(yesterday.contains("Monday")) << "the medium style has no weekday";
}

TEST(LongMessage, TheCutFallsOnABoundaryStaysPutWhileTheTextGrowsAndKeepsCodeCode) {
    constexpr qsizetype limit = 1000;
    EXPECT_FALSE(shownPart(QString(limit, QLatin1Char('x')), true, limit).isCut());
    const QString text = prose(10 * limit, 20);
    const ShownPart part = shownPart(text, true, limit);
    EXPECT_GT(text.size() - part.start, limit / 2);
    EXPECT_EQ(text.mid(part.start - 2, 2), "\n\n") << "where a paragraph begins";
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    EXPECT_EQ(line.at(shownPart(line, true, limit).start - 1), u' ') << "else where a word does";

    // Growing by less than a quarter of the limit leaves the cut where it was.
    QString growing = text;
    qsizetype moves = 0;
    for (qsizetype start = part.start; growing.size() < text.size() + 2000;) {
        growing += QStringLiteral("word ");
        const qsizetype now = shownPart(growing, true, limit).start;
        EXPECT_LE(growing.size() - now, limit);
        moves += std::exchange(start, now) != now;
    }
    EXPECT_LE(moves, 9);

    // Cut inside a fenced code block: the shown part opens the fence again.
    QString code = QStringLiteral("Code:\n\n~~~~python\n");
    while (code.size() < 5 * limit) code += QStringLiteral("x = 1  # ```\n");
    EXPECT_TRUE(shownText(code, shownPart(code, true, limit)).startsWith("~~~~python\nx = "));
    code += QStringLiteral("~~~~\n\n") + prose(2 * limit);
    EXPECT_TRUE(shownPart(code, true, limit).fenceLine.isEmpty()) << "closed before the cut";
}

TEST(LongMessage, AFenceTrackerKeptAsTheTextGrowsAnswersAsAFreshLookDoes) {
    constexpr qsizetype limit = 400;
    // Fences opened and closed, fence characters that close nothing, an indented fence.
    const QString script = QStringLiteral(
        "Some prose here.\n\n```python  and more words\nx = 1\ny = 2\nz = 3\n  ~~~ no close\n"
        "print(x)\nprint(y)\nprint(z)\n```\n\n"
        "More prose.\n~~~~\nquoted ``` inside\n~~~\n~~~~~\nAfter.\n    ```\nplain\n");
    QString text;
    FenceTracker atEnd;
    FenceTracker atCut;
    QSet<QString> fenceLines;
    for (int round = 0; round < 6; ++round) {
        for (qsizetype at = 0; at < script.size(); at += 7) {
            text += script.mid(at, 7);
            ASSERT_EQ(atEnd.openAt(text, text.size()), FenceTracker().openAt(text, text.size()))
                << "at " << text.size();
            const ShownPart fresh = shownPart(text, true, limit);
            const ShownPart kept = shownPart(text, true, limit, &atCut);
            ASSERT_EQ(kept.start, fresh.start);
            ASSERT_EQ(kept.fenceLine, fresh.fenceLine) << "at " << text.size();
            if (!fresh.fenceLine.isEmpty()) fenceLines.insert(fresh.fenceLine);
        }
        EXPECT_TRUE(atEnd.openAt(text, text.size()).isEmpty()) << "every fence closed";
    }
    EXPECT_EQ(fenceLines, QSet<QString>({"```python", "~~~~"})) << "of the info, the language";
    EXPECT_EQ(FenceTracker().openAt(QStringLiteral("Intro\n```js and"), 12), "```js")
        << "a fence line cut short counts";

    // The same tracker asked about a text that changed before the cut.
    QString code = QStringLiteral("```cpp\n");
    while (code.size() < 3 * limit) code += QStringLiteral("int x = 1;\n");
    EXPECT_EQ(shownPart(code, true, limit, &atCut).fenceLine, "```cpp");
    code.replace(0, 3, QStringLiteral("..."));
    EXPECT_TRUE(shownPart(code, true, limit, &atCut).fenceLine.isEmpty());
}

TEST_F(TranscriptViewTest, AHugeMessageOpensAtItsEndShowingItsLastPart) {
    const QString huge = prose(30 << 20);
    MessageList list = messages(3);
    list.append(ChatMessage(QUuid::createUuid(), huge, ChatMessageType::assistant,
                            QDateTime(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC)));
    view.setMessages(list);
    paint();
    const int row = 3;

    // Only the last part is laid out, from where a paragraph begins; the end is in view.
    const QString shown = view.laidOutText(row);
    EXPECT_LE(shown.size(), limits::kMaxShownMessageLength);
    EXPECT_GT(shown.size(), limits::kMaxShownMessageLength / 2);
    EXPECT_TRUE(huge.endsWith(shown));
    EXPECT_EQ(huge.at(huge.size() - shown.size() - 1), u'\n');
    EXPECT_LT(view.rowRect(row).height(), 100000) << "the row's height is that of its last part";
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
    EXPECT_EQ(view.cutNoticeText(row),
              QStringLiteral("Showing the last %1 of %2 characters.")
                  .arg(QLocale().toString(shown.size()), QLocale().toString(huge.size())));

    // The copy button copies the whole text.
    QSignalSpy copied(&view, &TranscriptView::copied);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.copyButtonRect(row).center());
    ASSERT_EQ(copied.size(), 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text().size(), huge.size());

    // "Show all", at the top of the part, opens the whole text in a window of its own.
    view.setScrollPosition(view.scrollPosition() + view.rowRect(row).top());
    paint();
    const QRect link = view.showAllRect(row);
    ASSERT_FALSE(link.isNull());
    ASSERT_TRUE(view.viewport()->rect().contains(link));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, link.center());
    auto* window = view.findChild<WholeMessageWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible() && window->text() == huge);
    window->close();

    // An error message this long is cut the same way.
    list.append(ChatMessage(QUuid::createUuid(), QString(3 << 20, QLatin1Char('e')),
                            ChatMessageType::error, QDateTime::currentDateTimeUtc()));
    view.setMessages(list);
    EXPECT_LE(view.laidOutText(4).size(), limits::kMaxShownMessageLength);
    EXPECT_FALSE(view.cutNoticeText(4).isEmpty());
}

TEST_F(TranscriptViewTest, AReplyPastTheLimitShowsItsLastPartAtAModelsPaceAndLessWhileItFloods) {
    MessageList list = messages(2);
    const ChatMessage reply(QUuid::createUuid(), QString(), ChatMessageType::assistant,
                            QDateTime(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC));
    QString text = prose(limits::kMaxShownMessageLength + 100);
    list.append(reply.withContent(text));
    view.setMessages(list);
    int word = 0;
    auto update = [&](int words) {
        for (int w = 0; w < words; ++w) text += QStringLiteral("w%1 ").arg(++word);
        list.replace(2, reply.withContent(text));
        view.setMessages(list);
        view.scrollToLastMessage(true);
    };

    // A few words an update: the part a stored message of that text shows.
    for (int i = 0; i < 20; ++i) {
        update(3);
        paint();
        ASSERT_EQ(view.laidOutText(2), shownText(text, shownPart(text, true)));
    }

    // Thousands of words an update, two updates a turn of the event loop: one layout a
    // turn, of a part that fills the view but is shorter than the limit, even when the
    // flood slows down for a moment. (Past the first update the part is one paragraph.)
    const qsizetype shortPart = view.streamingShownLength();
    ASSERT_LT(shortPart, limits::kMaxShownMessageLength);
    update(10000);
    QCoreApplication::processEvents();
    for (int turn = 0; turn < 20; ++turn) {
        const quint64 before = view.markdownLayoutCount(2);
        update(1000);
        update(turn == 10 ? 10 : 1000);
        QCoreApplication::processEvents();
        paint();
        ASSERT_EQ(view.markdownLayoutCount(2) - before, 1u) << "turn " << turn;
        const QString shown = view.laidOutText(2);
        ASSERT_LE(shown.size(), shortPart);
        ASSERT_TRUE(text.endsWith(shown));
    }

    // Once it stops growing it shows its whole last part, laid out once, and the view that
    // followed the end still shows the end.
    quint64 before = view.markdownLayoutCount(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.laidOutText(2).size() > shortPart; }));
    EXPECT_EQ(view.laidOutText(2), shownText(text, shownPart(text, true)));
    EXPECT_EQ(view.markdownLayoutCount(2) - before, 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isScrolling(); }));
    paint();
    EXPECT_EQ(bottomGap(), TranscriptView::padding);

    // Read a little above the end when it stops: the lines in view stay where they are.
    update(2000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isScrolling(); }));
    ASSERT_LE(view.laidOutText(2).size(), shortPart);
    view.setScrollPosition(view.scrollPosition() - 100);
    paint();
    const int bottom = view.rowRect(2).bottom();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.laidOutText(2).size() > shortPart; }));
    paint();
    EXPECT_EQ(view.rowRect(2).bottom(), bottom);
}

TEST(WholeMessageWindow, LoadsPieceByPieceBreaksLongLinesAndCopiesTheOriginal) {
    // A line of 3 million characters, then lines ending in "\r\n" holding a character
    // outside the BMP, and a paragraph separator.
    QString text = QString(3 << 20, QLatin1Char('w'));
    for (int i = 0; i < 2000; ++i) text += QStringLiteral("line %1 \U0001F600\r\n").arg(i);
    text += QChar::ParagraphSeparator + QStringLiteral("end");
    WholeMessageWindow window(text);
    EXPECT_TRUE(window.isLoading()) << "the text goes in over several turns of the event loop";
    QSignalSpy loaded(&window, &WholeMessageWindow::loaded);
    ASSERT_TRUE(loaded.wait(20000));

    QTextDocument* document = window.editor()->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        ASSERT_LE(block.length(), WholeMessageWindow::longestLine + 1);
    window.editor()->selectAll();
    window.editor()->copy();
    EXPECT_TRUE(QGuiApplication::clipboard()->text() == text) << "without the added breaks";
    QTextCursor cursor(document);  // across two added breaks, into the short lines
    cursor.setPosition(10000);
    cursor.setPosition(document->characterCount() - 100, QTextCursor::KeepAnchor);
    window.editor()->setTextCursor(cursor);
    window.editor()->copy();
    const qsizetype to = window.textPosition(document->characterCount() - 100);
    EXPECT_TRUE(QGuiApplication::clipboard()->text() == text.mid(10000 - 2, to - 10000 + 2));
}

}  // namespace
}  // namespace parlote

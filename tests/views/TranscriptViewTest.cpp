// The transcript view alone: how it follows a transcript that grows, shrinks or is
// replaced, keeps the position, lays out only what is seen, and lays rows out again
// after a new width or when a cached layout was let go.

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>

#include "ImageStore.h"
#include "TranscriptView.h"

namespace parlote {
namespace {

ChatMessage message(int i, int words = 3) {
    QString text = QStringLiteral("Message %1:").arg(i);
    for (int w = 0; w < words; ++w) text += QStringLiteral(" word");
    return ChatMessage(QUuid::createUuid(), text,
                       i % 2 ? ChatMessageType::assistant : ChatMessageType::user,
                       QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC).addSecs(i));
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
    view.setMessages(messages(40));
    paint();
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
    view.setMessages(MessageList());
    paint();
    EXPECT_EQ(view.rowCount(), 0);
    EXPECT_EQ(view.scrollPosition(), 0);
    view.scrollToLastMessage(false);  // nothing to scroll to
    EXPECT_EQ(view.scrollPosition(), 0);
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
    view.scrollToLastMessage(false);
    paint();
    EXPECT_EQ(view.rowRect(1999).height(), lastHeight) << "laid out at the same width as before";
    EXPECT_EQ(bottomGap(), TranscriptView::padding);

    // A narrower and shorter window: the visible rows get taller, the end stays in view.
    view.resize(420, 376);
    paint();
    EXPECT_GT(view.rowRect(1999).height(), lastHeight);
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
}

TEST_F(TranscriptViewTest, AChangeFarFromTheEndStartsAfresh) {
    MessageList list = messages(300);
    view.setMessages(list);
    paint();
    view.setScrollPosition(0);
    paint();
    // An early message replaced: more than a block from the end, so a new transcript.
    list.replace(10, list.at(10).withContent(QStringLiteral("edited")));
    view.setMessages(list);
    paint();
    EXPECT_EQ(bottomGap(), TranscriptView::padding);
    EXPECT_EQ(view.messages().at(10).content(), "edited");
}

}  // namespace
}  // namespace parlote

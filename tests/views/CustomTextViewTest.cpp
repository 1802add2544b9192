// The message input box: Return, Shift+Return and keypad Enter, pasting, the height
// reports of the two text paths, and long text: wrapped, never scrolled sideways, and
// scrolled upwards with the cursor in view once the box is as high as it gets.

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>

#include "CustomTextView.h"

namespace parlote {
namespace {

class InputBox : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(320, 80);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        QObject::connect(&view, &CustomTextView::textEdited,
                         [this](const QString& t) { edits << t; });
        QObject::connect(&view, &CustomTextView::heightChanged, [this](qreal h) { heights << h; });
    }
    void type(const QString& text) { QTest::keyClicks(view.textView(), text); }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(view.textView(), k, m);
    }
    void settle() { QCoreApplication::processEvents(); }  // height reports come afterwards

    CustomTextView view;
    QStringList edits;
    QList<qreal> heights;
    int submits = 0;
};

TEST_F(InputBox, ReturnSubmitsAndShiftReturnOrKeypadEnterBreakTheLine) {
    view.setOnSubmit([this] { ++submits; });
    type("hello");
    key(Qt::Key_Return);
    key(Qt::Key_Return, Qt::ControlModifier);
    key(Qt::Key_Return, Qt::AltModifier);
    key(Qt::Key_Return, Qt::MetaModifier);
    EXPECT_EQ(submits, 4);
    EXPECT_EQ(view.text(), "hello");  // submitting leaves the text to the owner

    key(Qt::Key_Return, Qt::ShiftModifier);
    type("a");
    key(Qt::Key_Enter, Qt::KeypadModifier);
    type("b");
    EXPECT_EQ(submits, 4);
    EXPECT_EQ(view.text(), "hello\na\nb");
    EXPECT_EQ(edits.last(), "hello\na\nb");
}

TEST_F(InputBox, ReadsAsTheMessageFieldAndSaysWhatReturnDoes) {
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(view.textView());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(QAccessible::Name), "Message");
    EXPECT_TRUE(field->text(QAccessible::Description).contains("Shift+Return"));
}

TEST_F(InputBox, ReturnWithoutAnActionDoesNothing) {
    type("x");
    settle();
    edits.clear();
    heights.clear();
    key(Qt::Key_Return);
    key(Qt::Key_Return, Qt::ControlModifier);
    settle();
    EXPECT_EQ(view.text(), "x");
    EXPECT_TRUE(edits.isEmpty());
    EXPECT_TRUE(heights.isEmpty());
}

TEST_F(InputBox, PastingStyledTextInsertsPlainText) {
    auto* htmlOnly = new QMimeData;
    htmlOnly->setHtml("<b>bold</b> and <i style='color:red'>italic</i>");
    QGuiApplication::clipboard()->setMimeData(htmlOnly);
    view.textView()->paste();
    EXPECT_EQ(view.text(), "bold and italic");
    EXPECT_EQ(edits.last(), "bold and italic");
    for (QTextCursor c(view.textView()->document()); !c.atEnd();
         c.movePosition(QTextCursor::NextCharacter)) {
        EXPECT_NE(c.charFormat().fontWeight(), QFont::Bold);
        EXPECT_FALSE(c.charFormat().fontItalic());
        EXPECT_FALSE(c.charFormat().hasProperty(QTextFormat::ForegroundBrush));
    }
}

TEST_F(InputBox, UserEditsReportTheMeasuredHeightAfterwardsWithoutFloor) {
    QList<qsizetype> reportsDuringEdit;
    QObject::connect(&view, &CustomTextView::textEdited,
                     [&] { reportsDuringEdit << heights.size(); });
    type("a");
    EXPECT_TRUE(heights.isEmpty());
    settle();
    EXPECT_EQ(reportsDuringEdit, QList<qsizetype>{0});
    ASSERT_EQ(heights.size(), 1);
    const qreal oneLine = heights.last();

    key(Qt::Key_Return, Qt::ShiftModifier);
    settle();
    EXPECT_GT(heights.last(), oneLine);

    key(Qt::Key_Backspace);
    key(Qt::Key_Backspace);
    settle();
    EXPECT_EQ(edits.last(), "");
    // One line of text plus the two 6 px insets, below the floor of the other path.
    QTextDocument* document = view.textView()->document();
    EXPECT_DOUBLE_EQ(
        heights.last(),
        document->documentLayout()->blockBoundingRect(document->firstBlock()).height() + 12);
    EXPECT_LT(heights.last(), CustomTextView::minimumExternalHeight);
}

TEST_F(InputBox, TextFromOutsideReportsAtLeastThirtyAndOnlyWhenItDiffers) {
    view.setText("first\nsecond\nthird");
    settle();
    EXPECT_EQ(view.text(), "first\nsecond\nthird");
    ASSERT_EQ(heights.size(), 1);
    EXPECT_GT(heights.last(), 30);
    EXPECT_DOUBLE_EQ(heights.last(), view.textView()->measuredHeight());

    view.setText("");  // the send operation clears the box
    settle();
    EXPECT_EQ(heights, (QList<qreal>{heights.first(), 30}));
    EXPECT_TRUE(edits.isEmpty());  // not echoed back as an edit

    type("draft");
    view.textView()->moveCursor(QTextCursor::Start);
    settle();
    heights.clear();
    edits.clear();
    view.setText("draft");
    settle();
    EXPECT_TRUE(heights.isEmpty());
    EXPECT_TRUE(edits.isEmpty());
    EXPECT_EQ(view.textView()->textCursor().position(), 0);  // not replaced: cursor and undo kept
    EXPECT_TRUE(view.textView()->document()->isUndoAvailable());
}

class LongInput : public InputBox {
protected:
    void SetUp() override {
        InputBox::SetUp();
        // Sized as the window sizes it, from the reported height.
        QObject::connect(&view, &CustomTextView::heightChanged,
                         [this](qreal h) { view.setFixedHeight(CustomTextView::boxHeight(h)); });
        view.setFixedHeight(CustomTextView::boxHeight(CustomTextView::minimumExternalHeight));
        settle();
    }
    QPlainTextEdit* edit() const { return view.textView(); }
    int firstCharacterX() const {
        QTextCursor start(edit()->document());
        return edit()->cursorRect(start).left();
    }
    bool cursorInView() const { return edit()->viewport()->rect().contains(edit()->cursorRect()); }
};

TEST_F(LongInput, ALongWordOrLineWrapsAndTheTextNeverMovesSideways) {
    const int left = firstCharacterX();
    auto unmoved = [&] {
        EXPECT_EQ(edit()->horizontalScrollBar()->value(), 0);
        EXPECT_EQ(firstCharacterX(), left) << "the first letters stay in view";
    };
    for (const QString& text :
         {QString(300, QLatin1Char('w')),
          QString("The quick brown fox jumps over the lazy dog. ").repeated(8)}) {
        SCOPED_TRACE(text.left(12).toStdString());
        view.setText(QString());
        settle();
        type(text);
        settle();
        EXPECT_GT(edit()->document()->firstBlock().layout()->lineCount(), 2) << "wrapped";
        unmoved();
        EXPECT_TRUE(cursorInView());
        type("   ");  // spaces at the end of a full line
        unmoved();

        // A narrower box wraps the text again; a sideways swipe of a touchpad or a tilted
        // wheel finds nothing to scroll.
        for (const int width : {250, 170, 290}) {
            view.resize(width, view.height());
            settle();
            QWheelEvent swipe(QPointF(20, 10), edit()->viewport()->mapToGlobal(QPointF(20, 10)),
                              QPoint(-40, 0), QPoint(-120, 0), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(edit()->viewport(), &swipe);
            key(Qt::Key_End);
            unmoved();
        }
        view.resize(320, view.height());
    }
}

TEST_F(LongInput, TheBoxGrowsToItsLimitThenScrollsWithTheCursor) {
    for (int i = 0; i < 30; ++i) {
        type(QStringLiteral("line %1").arg(i));
        key(Qt::Key_Return, Qt::ShiftModifier);
        settle();
        EXPECT_TRUE(cursorInView()) << "after line " << i;
    }
    EXPECT_EQ(view.height(), 120);
    EXPECT_GT(edit()->verticalScrollBar()->value(), 0);

    // Back to the top with the keys, and down again: the view follows the cursor.
    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(edit()->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(cursorInView());
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(cursorInView());

    // Emptied by sending, the box is small again.
    view.setText(QString());
    settle();
    EXPECT_LT(view.height(), 120);
    EXPECT_EQ(edit()->verticalScrollBar()->value(), 0);
}

}  // namespace
}  // namespace parlote

// The transcript's reply controls: a reply's thinking section while it streams and once it
// is finished, the meta line's Stopped mark, Regenerate, Edit and version switcher, editing
// a message in place, the keyboard's way to every control and the context menu.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

#include "ImageStore.h"
#include "TestPalettes.h"
#include "TranscriptView.h"
#include "WholeMessageWindow.h"

namespace parlote {
namespace {

using Control = TranscriptView::Control;

const QDateTime kTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);

ChatMessage user(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::user, kTime);
}
ChatMessage reply(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::assistant, kTime);
}

class TranscriptControlsTest : public ::testing::Test {
protected:
    ImageStore images;  // keeps the view off the network
    // The view between two other widgets, for Tab to come from and go to.
    QWidget window;
    QLineEdit* before = new QLineEdit(&window);
    TranscriptView* view = new TranscriptView(&window, &images);
    QLineEdit* after = new QLineEdit(&window);

    void SetUp() override {
        auto* column = new QVBoxLayout(&window);
        column->addWidget(before);
        column->addWidget(view, 1);
        column->addWidget(after);
        window.resize(600, 500);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
    }
    void TearDown() override {
        for (QMenu* menu : view->findChildren<QMenu*>()) delete menu;
    }
    void paint() { view->viewport()->repaint(); }
    void click(const QRect& rect) {
        ASSERT_FALSE(rect.isNull());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void key(QWidget* to, Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(to, k, modifiers);
    }
    // Tabs in the view until `kind` of `row` is marked; false if Tab left the view first.
    bool tabTo(int row, Control kind) {
        for (int i = 0; i < 40 && view->hasFocus(); ++i) {
            if (view->focusedControlRow() == row && view->focusedControl() == kind) return true;
            key(view, Qt::Key_Tab);
        }
        return false;
    }
    // A button beside the editor `editor`.
    static QPushButton* button(QPlainTextEdit* editor, const QString& text) {
        for (QPushButton* b : editor->parentWidget()->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }
    // Into the view with Tab from the field before it.
    void tabIn() {
        before->setFocus();
        key(before, Qt::Key_Tab);
    }
    QMenu* openMenu() {
        for (QMenu* menu : view->findChildren<QMenu*>())
            if (menu->isVisible()) return menu;
        return nullptr;
    }
    QAction* action(QMenu* menu, const QString& text) {
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
    QStringList actionTexts(QMenu* menu) {
        QStringList texts;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) texts << a->text();
        return texts;
    }
    void rightClick(const QRect& at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at.center(),
                                view->viewport()->mapToGlobal(at.center()));
        QApplication::sendEvent(view->viewport(), &event);
    }
};

TEST_F(TranscriptControlsTest,
       AThinkBlockStreamsAsThinkingThenFoldsToOneLineThatTogglesItsReasoning) {
    MessageList list;
    list.append(user("Why is the sky blue?"));
    const ChatMessage placeholder = reply(QString());
    list.append(placeholder.withContent("<think>Let me"));
    view->setMessages(list);
    paint();

    // While the model thinks: "Thinking…" over the last lines of its reasoning, no answer.
    EXPECT_EQ(view->thinkingTitle(1), "Thinking…");
    EXPECT_FALSE(view->thinkingTextRect(1).isNull());
    EXPECT_EQ(view->laidOutThinking(1), "Let me");
    EXPECT_TRUE(view->laidOutText(1).isEmpty());
    // Long reasoning shows its last lines only: the row stops growing.
    QString reasoning = "<think>";
    for (int i = 0; i < 60; ++i)
        reasoning += QStringLiteral("Step %1 of the reasoning.\n\n").arg(i);
    list.replace(1, placeholder.withContent(reasoning));
    view->setMessages(list);
    paint();
    const int thinkingHeight = view->rowRect(1).height();
    list.replace(1, placeholder.withContent(reasoning + "More steps.\n\nAnd more."));
    view->setMessages(list);
    paint();
    EXPECT_EQ(view->rowRect(1).height(), thinkingHeight);
    EXPECT_TRUE(view->laidOutThinking(1).endsWith("And more."));
    EXPECT_LE(view->thinkingTextRect(1).height(),
              TranscriptView::liveThinkingLines * QFontMetrics(view->font()).lineSpacing());

    // The block closes: one line, "Thought for N seconds", and the answer under it.
    list.replace(1, placeholder.withContent("<think>Let me see</think>").withThinkingSeconds(2.6));
    view->setMessages(list);
    paint();
    EXPECT_EQ(view->thinkingTitle(1), "Thought for 3 seconds");
    EXPECT_TRUE(view->thinkingTextRect(1).isNull());
    const ChatMessage answered =
        placeholder.withContent("<think>Let me see</think>\n\nThe **answer**")
            .withThinkingSeconds(2.6);
    list.replace(1, answered);
    view->setMessages(list);
    paint();
    EXPECT_EQ(view->laidOutText(1), "The **answer**") << "without the white space before it";
    EXPECT_FALSE(view->isThinkingExpanded(answered.id()));

    // A click on the line shows the whole reasoning; another folds it again.
    const int collapsed = view->rowRect(1).height();
    click(view->thinkingToggleRect(1));
    EXPECT_TRUE(view->isThinkingExpanded(answered.id()));
    EXPECT_GT(view->rowRect(1).height(), collapsed);
    EXPECT_EQ(view->laidOutThinking(1), "Let me see");
    EXPECT_FALSE(view->thinkingTextRect(1).isNull());
    click(view->thinkingToggleRect(1));
    EXPECT_FALSE(view->isThinkingExpanded(answered.id()));
    EXPECT_EQ(view->rowRect(1).height(), collapsed);

    // The keyboard does the same: Space and Return on the marked line.
    tabIn();
    ASSERT_TRUE(tabTo(1, Control::thinkingToggle));
    key(view, Qt::Key_Space);
    EXPECT_TRUE(view->isThinkingExpanded(answered.id()));
    EXPECT_GT(view->rowRect(1).height(), collapsed);
    key(view, Qt::Key_Return);
    EXPECT_EQ(view->rowRect(1).height(), collapsed);

    // The copy button copies the reply as it is stored, think block and all.
    QSignalSpy copied(view, &TranscriptView::copied);
    click(view->copyButtonRect(1));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), answered.content());
    EXPECT_EQ(copied.size(), 1);
}

TEST_F(TranscriptControlsTest, TheThinkingLineNamesItsTimeAndRepliesWithoutABlockShowAsTheyAre) {
    MessageList list;
    list.append(user("Q"));
    list.append(reply("<think>a</think>One").withThinkingSeconds(1.2));
    list.append(reply("<think>a</think>Two"));  // read from a file: no time
    list.append(reply("<think>Cut short").withStopped(true));
    list.append(reply("<think>\n\n</think>\n\nNothing to think about."));
    list.append(reply("I say <think>hi</think>"));
    list.append(reply("Plain **Markdown**."));
    view->setMessages(list);
    paint();
    EXPECT_EQ(view->thinkingTitle(1), "Thought for 1 second");
    EXPECT_EQ(view->thinkingTitle(2), "Thoughts");
    EXPECT_EQ(view->thinkingTitle(3), "Thoughts") << "stopped while thinking: finished";
    EXPECT_FALSE(view->thinkingToggleRect(3).isNull());
    // An empty block, a block not at the start, no block: no thinking section, and the
    // text is laid out as it is (but for the empty block's tags).
    for (int row : {4, 5, 6}) {
        EXPECT_TRUE(view->thinkingToggleRect(row).isNull()) << row;
        EXPECT_TRUE(view->thinkingTitle(row).isEmpty()) << row;
    }
    EXPECT_EQ(view->laidOutText(4), "Nothing to think about.");
    EXPECT_EQ(view->laidOutText(5), "I say <think>hi</think>");
    EXPECT_EQ(view->laidOutText(6), "Plain **Markdown**.");
    // A reply without a block is as tall as before thinking sections: its bubble holds its
    // text and padding only.
    EXPECT_EQ(view->bubbleRect(6).height(),
              2 * TranscriptView::bubblePadding + QFontMetrics(view->font()).height())
        << "one line of text";
    EXPECT_EQ(view->bubbleRect(6).top(), view->rowRect(6).top());
}

TEST_F(TranscriptControlsTest, TheAnswerStreamsWithoutLayingTheFinishedReasoningOutAgain) {
    MessageList list;
    list.append(user("Q"));
    const ChatMessage r = reply("<think>Some reasoning.\n\nIn two paragraphs.</think>\n\n");
    list.append(r);
    view->setMessages(list);
    view->setThinkingExpanded(r.id(), true);
    paint();
    const quint64 reasoningLayouts = view->thinkingLayoutCount(1);
    ASSERT_GT(reasoningLayouts, 0u);
    QString text = r.content();
    for (int i = 0; i < 20; ++i) {
        text += QStringLiteral("word%1 ").arg(i);
        if (i % 5 == 4) text += QStringLiteral("\n\n");
        const quint64 answerLayouts = view->markdownLayoutCount(1);
        list.replace(1, r.withContent(text));
        view->setMessages(list);
        paint();
        ASSERT_EQ(view->thinkingLayoutCount(1), reasoningLayouts) << "chunk " << i;
        ASSERT_LE(view->markdownLayoutCount(1) - answerLayouts, 2u) << "the last paragraph";
    }
    // Folded, the reasoning is not laid out at all.
    view->setThinkingExpanded(r.id(), false);
    list.replace(1, r.withContent(text + "end"));
    view->setMessages(list);
    paint();
    EXPECT_EQ(view->thinkingLayoutCount(1), reasoningLayouts);
    EXPECT_TRUE(view->laidOutThinking(1).isEmpty());
}

TEST_F(TranscriptControlsTest, AReplysFiguresShowAsItsSpeedWithTheRestInATooltip) {
    ReplyStats fast;
    fast.evalCount = 412;
    fast.evalDuration = 10'800'000'000;  // 38.1 tokens a second
    fast.promptEvalCount = 1024;
    fast.promptEvalDuration = 400'000'000;
    fast.loadDuration = 2'100'000'000;
    fast.totalDuration = 13'300'000'000;
    ReplyStats slowAndFull;
    slowAndFull.evalCount = 5;
    slowAndFull.evalDuration = 2'000'000'000;
    slowAndFull.promptEvalCount = 11;
    slowAndFull.promptEvalDuration = 12'400'000;  // a short prompt: not "0.0 s"
    slowAndFull.contextLength = 4096;
    slowAndFull.contextCut = true;
    MessageList list;
    list.append(user("One"));
    list.append(reply("First").withStats(fast));
    list.append(user("Two"));
    list.append(reply("Second").withStats(slowAndFull));
    list.append(user("Three"));
    list.append(reply("Third"));
    view->setMessages(list);
    paint();
    EXPECT_TRUE(view->metaText(1).endsWith(" · 38 tok/s")) << view->metaText(1).toStdString();
    EXPECT_TRUE(view->metaText(3).endsWith(" · 2.5 tok/s · Context full"))
        << view->metaText(3).toStdString();
    EXPECT_FALSE(view->metaText(5).contains("tok/s")) << "no figures, none shown";

    const QString tip = view->figuresToolTip(1);
    EXPECT_TRUE(tip.contains("412 tokens written in 10.8 s")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("1024 prompt tokens read in 0.4 s")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Loading the model: 2.1 s")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("In all: 13.3 s")) << tip.toStdString();
    EXPECT_FALSE(tip.contains("context"));
    const QString full = view->figuresToolTip(3);
    EXPECT_TRUE(full.contains("filled the model's context")) << full.toStdString();
    EXPECT_FALSE(full.contains("Loading")) << "no load time measured";
    EXPECT_TRUE(full.contains("11 prompt tokens read in 12 ms")) << full.toStdString();
    EXPECT_TRUE(view->figuresToolTip(5).isEmpty());
    EXPECT_TRUE(view->figuresToolTip(0).isEmpty()) << "a question has no figures";

    // The tooltip shows over the meta line's text, and not over the reply's text.
    const QRect figures = view->figuresTextRect(1);
    ASSERT_FALSE(figures.isNull());
    EXPECT_TRUE(view->figuresTextRect(5).isNull());
    // What a hover at `at` shows; empty when it shows nothing (the event goes unanswered).
    const auto hover = [&](QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &help);
        return help.isAccepted() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(hover(figures.center()), tip);
    EXPECT_TRUE(hover(view->textRect(1, "First").center()).isEmpty());
    QToolTip::hideText();
}

TEST_F(TranscriptControlsTest, ContextFullIsALinkToTheConversationSettings) {
    ReplyStats full;
    full.evalCount = 5;
    full.evalDuration = 2'000'000'000;
    full.contextLength = 4096;
    full.contextCut = true;
    MessageList list;
    list.append(user("One"));
    list.append(reply("First"));
    list.append(user("Two"));
    list.append(reply("Second").withStats(full));
    view->setMessages(list);
    paint();
    EXPECT_TRUE(view->contextSettingsLinkRect(1).isNull()) << "nothing was cut";
    const QRect link = view->contextSettingsLinkRect(3);
    ASSERT_FALSE(link.isNull());
    EXPECT_GT(link.left(), view->copyButtonRect(3).right()) << "after the time and the speed";
    EXPECT_TRUE(view->metaText(3).endsWith("· Context full"));

    QSignalSpy requested(view, &TranscriptView::contextSettingsRequested);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, link.center());
    EXPECT_EQ(requested.count(), 1);
    // The keyboard reaches it with Tab, and Return follows it.
    tabIn();
    ASSERT_TRUE(tabTo(3, Control::contextSettings));
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(requested.count(), 2);
}

TEST_F(TranscriptControlsTest,
       TheMetaLineMarksStoppedRepliesAndOffersRegenerateOnTheLastReplyOnly) {
    MessageList list;
    list.append(user("One"));
    list.append(reply("First"));
    list.append(user("Two"));
    list.append(reply("Second").withStopped(true));
    view->setMessages(list);
    paint();
    EXPECT_TRUE(view->metaText(3).endsWith("· Stopped")) << view->metaText(3).toStdString();
    EXPECT_FALSE(view->metaText(1).contains("Stopped"));
    EXPECT_TRUE(view->regenerateButtonRect(1).isNull());
    EXPECT_TRUE(view->regenerateButtonRect(2).isNull()) << "a user message";
    const QRect regenerate = view->regenerateButtonRect(3);
    ASSERT_FALSE(regenerate.isNull());
    EXPECT_GT(regenerate.left(), view->copyButtonRect(3).right()) << "beside Copy";
    EXPECT_EQ(regenerate.top(), view->copyButtonRect(3).top());

    QSignalSpy regenerated(view, &TranscriptView::regenerateRequested);
    click(regenerate);
    ASSERT_EQ(regenerated.size(), 1);
    EXPECT_EQ(regenerated.at(0).at(0).toUuid(), list.at(3).id());

    // Its tool tip names the shortcut.
    QHelpEvent help(QEvent::ToolTip, regenerate.center(),
                    view->viewport()->mapToGlobal(regenerate.center()));
    QApplication::sendEvent(view->viewport(), &help);
    EXPECT_EQ(QToolTip::text(), "Regenerate (Ctrl+R)");
    QToolTip::hideText();

    // Hidden while a reply streams, and so is Edit.
    view->setReplyInProgress(true);
    EXPECT_TRUE(view->regenerateButtonRect(3).isNull());
    EXPECT_TRUE(view->editButtonRect(2).isNull());
    click(regenerate);
    EXPECT_EQ(regenerated.size(), 1);
    view->setReplyInProgress(false);
    EXPECT_FALSE(view->regenerateButtonRect(3).isNull());
    EXPECT_FALSE(view->editButtonRect(2).isNull());

    // An error after the user's message offers it too; a new message takes it away.
    list.append(user("Three"));
    list.append(
        ChatMessage(QUuid::createUuid(), "The model went away.", ChatMessageType::error, kTime));
    view->setMessages(list);
    paint();
    EXPECT_TRUE(view->regenerateButtonRect(3).isNull());
    EXPECT_FALSE(view->regenerateButtonRect(5).isNull());
    // A reply that answers no user message offers none.
    MessageList lone;
    lone.append(reply("Hello"));
    view->openTranscript(lone);
    paint();
    EXPECT_TRUE(view->regenerateButtonRect(0).isNull());
}

TEST_F(TranscriptControlsTest, TheVersionSwitcherAsksForTheVersionBeforeAndAfterAndStopsAtTheEnds) {
    MessageList list;
    list.append(user("Q").withVariants(0, 2));
    list.append(reply("A").withVariants(1, 3));
    view->setMessages(list);
    paint();
    EXPECT_TRUE(view->metaText(1).startsWith("2/3 ")) << view->metaText(1).toStdString();
    EXPECT_TRUE(view->metaText(0).endsWith(" 1/2")) << view->metaText(0).toStdString();

    QSignalSpy requested(view, &TranscriptView::variantRequested);
    click(view->variantArrowRect(1, false));
    click(view->variantArrowRect(1, true));
    ASSERT_EQ(requested.size(), 2);
    EXPECT_EQ(requested.at(0).at(0).toUuid(), list.at(1).id());
    EXPECT_EQ(requested.at(0).at(1).toInt(), 0);
    EXPECT_EQ(requested.at(1).at(1).toInt(), 2);

    // At the first version the arrow back does nothing; at the last, the arrow on.
    EXPECT_FALSE(view->isVariantArrowEnabled(0, false));
    EXPECT_TRUE(view->isVariantArrowEnabled(0, true));
    click(view->variantArrowRect(0, false));
    EXPECT_EQ(requested.size(), 2);
    list.replace(1, list.at(1).withVariants(2, 3));
    view->setMessages(list);
    EXPECT_FALSE(view->isVariantArrowEnabled(1, true));
    click(view->variantArrowRect(1, true));
    EXPECT_EQ(requested.size(), 2);
    // While a reply streams neither acts.
    view->setReplyInProgress(true);
    EXPECT_FALSE(view->isVariantArrowEnabled(1, false));
    click(view->variantArrowRect(1, false));
    EXPECT_EQ(requested.size(), 2);
    // A message with one version has no switcher.
    EXPECT_TRUE(view->variantArrowRect(0, true).isValid());
    list.replace(0, list.at(0).withVariants(0, 1));
    view->setMessages(list);
    EXPECT_TRUE(view->variantArrowRect(0, true).isNull());
}

TEST_F(TranscriptControlsTest, EditingInPlaceSendsTheNewTextOnReturnAndNothingOnEscape) {
    MessageList list;
    for (int i = 0; i < 30; ++i) {
        list.append(user(QStringLiteral("Question %1").arg(i)));
        list.append(reply(QStringLiteral("Answer %1").arg(i)));
    }
    view->setMessages(list);
    paint();
    const int row = 58;
    const QUuid id = list.at(row).id();
    QSignalSpy submitted(view, &TranscriptView::editSubmitted);

    // Edit opens an editor over the bubble with the text, focused, the cursor at the end.
    const int height = view->rowRect(row).height();
    click(view->editButtonRect(row));
    QPlainTextEdit* editor = view->editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->toPlainText(), "Question 29");
    EXPECT_TRUE(editor->hasFocus());
    EXPECT_TRUE(editor->textCursor().atEnd());
    EXPECT_EQ(view->editingMessage(), id);
    paint();
    EXPECT_GT(view->rowRect(row).height(), height) << "the row makes room for the editor";
    const QRect over = editor->parentWidget()->geometry();
    EXPECT_TRUE(view->rowRect(row).contains(over));

    // Shift+Return breaks the line and the row grows; Return sends the trimmed text.
    const int oneLine = view->rowRect(row).height();
    QTest::keyClicks(editor, " again");
    key(editor, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(editor, "and more  ");
    paint();
    EXPECT_GT(view->rowRect(row).height(), oneLine);
    key(editor, Qt::Key_Return);
    ASSERT_EQ(submitted.size(), 1);
    EXPECT_EQ(submitted.at(0).at(0).toUuid(), id);
    EXPECT_EQ(submitted.at(0).at(1).toString(), "Question 29 again\nand more");
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_TRUE(view->hasFocus()) << "the focus comes back to the transcript";
    paint();
    EXPECT_EQ(view->rowRect(row).height(), height);

    // Escape closes it without a word; so does Cancel, and Send sends.
    view->beginEditing(id);
    ASSERT_NE(view->editor(), nullptr);
    QTest::keyClicks(view->editor(), " changed");
    key(view->editor(), Qt::Key_Escape);
    EXPECT_EQ(view->editor(), nullptr);
    view->beginEditing(id);
    button(view->editor(), "Cancel")->click();
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_EQ(submitted.size(), 1);
    view->beginEditing(id);
    button(view->editor(), "Send")->click();
    ASSERT_EQ(submitted.size(), 2);
    EXPECT_EQ(submitted.at(1).at(1).toString(), "Question 29");
    // Text emptied: nothing is sent.
    view->beginEditing(id);
    view->editor()->clear();
    QTest::keyClicks(view->editor(), "   ");
    key(view->editor(), Qt::Key_Return);
    EXPECT_EQ(submitted.size(), 2);
    EXPECT_EQ(view->editor(), nullptr);

    // While a reply streams, Return does not send.
    view->beginEditing(id);
    view->setReplyInProgress(true);
    key(view->editor(), Qt::Key_Return);
    EXPECT_EQ(submitted.size(), 2);
    ASSERT_NE(view->editor(), nullptr);
    view->setReplyInProgress(false);

    // The editor follows its row when the transcript scrolls.
    paint();
    const int top = view->editor()->parentWidget()->y();
    view->setScrollPosition(view->scrollPosition() - 40);
    EXPECT_EQ(view->editor()->parentWidget()->y(), top + 40);
    EXPECT_EQ(view->editor()->parentWidget()->y(), view->rowRect(row).top());

    // It closes when its message leaves the transcript.
    MessageList shorter;
    for (int i = 0; i < row; ++i) shorter.append(list.at(i));
    view->setMessages(shorter);
    EXPECT_EQ(view->editor(), nullptr);
    view->setMessages(list);
    view->beginEditing(list.at(0).id());
    ASSERT_NE(view->editor(), nullptr);
    MessageList other;
    other.append(user("Another conversation"));
    view->openTranscript(other);
    EXPECT_EQ(view->editor(), nullptr);
    view->beginEditing(other.at(0).id());
    view->beginEditing(other.at(0).id());  // again: still one editor
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(view->viewport()->findChildren<QPlainTextEdit*>().size(), 1);
    // Only user messages are edited.
    view->cancelEditing();
    other.append(reply("Reply"));
    view->setMessages(other);
    view->beginEditing(other.at(1).id());
    EXPECT_EQ(view->editor(), nullptr);
}

TEST_F(TranscriptControlsTest, TabMarksEveryControlInViewThenLeavesAndTheMarkedOneActsOnSpace) {
    MessageList list;
    list.append(user("Q").withVariants(1, 2));
    list.append(reply("<think>Hm</think>A").withVariants(0, 2));
    view->setMessages(list);
    paint();

    // In from the field before: the first control; Tab by Tab, then out to the field after.
    before->setFocus();
    key(before, Qt::Key_Tab);
    ASSERT_TRUE(view->hasFocus());
    std::vector<std::pair<int, Control>> marked;
    for (int i = 0; i < 20 && view->hasFocus(); ++i) {
        marked.emplace_back(view->focusedControlRow(), *view->focusedControl());
        EXPECT_TRUE(view->viewport()->rect().contains(view->focusedControlRect()));
        key(view, Qt::Key_Tab);
    }
    EXPECT_TRUE(after->hasFocus());
    const std::vector<std::pair<int, Control>> expected{
        {0, Control::previousVersion}, {0, Control::edit}, {0, Control::copy},
        {1, Control::thinkingToggle},  {1, Control::copy}, {1, Control::regenerate},
        {1, Control::nextVersion}};  // greyed arrows are passed over
    EXPECT_EQ(marked, expected);

    // Back in from the field after: the last control; Shift+Tab walks back and leaves.
    key(after, Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_TRUE(view->hasFocus());
    EXPECT_EQ(view->focusedControl(), Control::nextVersion);
    for (int i = 0; i < 20 && view->hasFocus(); ++i) key(view, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(before->hasFocus());

    // Space and Return act as a click does.
    tabIn();
    QSignalSpy copied(view, &TranscriptView::copied);
    QSignalSpy regenerated(view, &TranscriptView::regenerateRequested);
    QSignalSpy versions(view, &TranscriptView::variantRequested);
    ASSERT_TRUE(tabTo(1, Control::copy));
    key(view, Qt::Key_Space);
    EXPECT_EQ(copied.size(), 1);
    key(view, Qt::Key_Tab);
    key(view, Qt::Key_Return);
    EXPECT_EQ(regenerated.size(), 1);
    key(view, Qt::Key_Tab);
    key(view, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_EQ(versions.size(), 1);
    EXPECT_EQ(versions.at(0).at(1).toInt(), 1);
    tabIn();
    ASSERT_TRUE(tabTo(0, Control::edit));
    key(view, Qt::Key_Space);
    ASSERT_NE(view->editor(), nullptr);
    EXPECT_TRUE(view->editor()->hasFocus());
    key(view->editor(), Qt::Key_Escape);
    EXPECT_TRUE(view->hasFocus());
}

TEST_F(TranscriptControlsTest, TheMarkedControlIsScrolledIntoViewAndShowAllOpensFromTheKeyboard) {
    MessageList list;
    for (int i = 0; i < 40; ++i) list.append(i % 2 ? reply("Answer") : user("Question"));
    view->setMessages(list);
    paint();
    // The last meta line half under the bottom edge: Shift+Tab in marks its last control
    // and brings it fully into view.
    view->setScrollPosition(view->scrollPosition() - TranscriptView::padding - 10);
    paint();
    ASSERT_GT(view->copyButtonRect(39).bottom(), view->viewport()->height() - 4);
    after->setFocus();
    key(after, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(view->focusedControlRow(), 39);
    EXPECT_TRUE(view->viewport()->rect().contains(view->focusedControlRect()));

    // "Show all" of a message shown in part.
    list.append(user("Long"));
    list.append(reply(QString(limits::kMaxShownMessageLength + 5000, QLatin1Char('x'))));
    view->setMessages(list);
    paint();
    view->setScrollPosition(view->scrollPosition() + view->rowRect(41).top());
    paint();
    tabIn();
    ASSERT_TRUE(tabTo(41, Control::showAll));
    key(view, Qt::Key_Return);
    auto* window = view->findChild<WholeMessageWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->text().size(), list.at(41).content().size());
    window->close();
}

TEST_F(TranscriptControlsTest, TheContextMenuOffersWhatTheMessageAllows) {
    MessageList list;
    list.append(user("Question *one*"));
    list.append(reply("Old answer"));
    list.append(user("Question two"));
    list.append(reply("<think>x</think>New **answer**"));
    view->setMessages(list);
    paint();

    rightClick(view->bubbleRect(0));
    QMenu* menu = openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(actionTexts(menu), QStringList({"Copy Message", "Edit", "Select All"}));
    action(menu, "Copy Message")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Question *one*");
    menu->close();

    rightClick(view->bubbleRect(1));
    menu = openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(actionTexts(menu), QStringList({"Copy Message", "Select All"}))
        << "not the last reply";
    menu->close();

    QSignalSpy regenerated(view, &TranscriptView::regenerateRequested);
    rightClick(view->bubbleRect(3));
    menu = openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(actionTexts(menu),
              QStringList({"Copy Message", "Regenerate", "Show Reasoning", "Select All"}));
    EXPECT_EQ(action(menu, "Regenerate")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    action(menu, "Regenerate")->trigger();
    ASSERT_EQ(regenerated.size(), 1);
    EXPECT_EQ(regenerated.at(0).at(0).toUuid(), list.at(3).id());
    action(menu, "Show Reasoning")->trigger();
    EXPECT_TRUE(view->isThinkingExpanded(list.at(3).id()));
    menu->close();

    // While a reply streams, Regenerate and Edit are there but greyed.
    view->setReplyInProgress(true);
    rightClick(view->bubbleRect(2));
    menu = openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(action(menu, "Edit")->isEnabled());
    EXPECT_TRUE(action(menu, "Copy Message")->isEnabled());
    menu->close();
    view->setReplyInProgress(false);

    // From the keyboard: the Menu key or Shift+F10 opens the marked message's menu.
    tabIn();
    ASSERT_TRUE(tabTo(2, Control::edit));
    for (const auto& [k, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_F10, Qt::KeyboardModifiers(Qt::ShiftModifier)}}) {
        key(view, k, modifiers);
        menu = openMenu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(actionTexts(menu), QStringList({"Copy Message", "Edit", "Select All"}));
        action(menu, "Edit")->trigger();
        menu->close();
        ASSERT_NE(view->editor(), nullptr);
        EXPECT_EQ(view->editingMessage(), list.at(2).id());
        view->cancelEditing();
        view->setFocus(Qt::OtherFocusReason);
    }
}

// The darkest or lightest pixel's distance in lightness from `background` in `area`.
int strongestContrast(const QImage& image, const QRect& area, const QColor& background) {
    int strongest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            strongest =
                qMax(strongest, qAbs(image.pixelColor(x, y).lightness() - background.lightness()));
    return strongest;
}

TEST_F(TranscriptControlsTest, TheReasoningIsMutedButLegibleInLightAndDarkPalettes) {
    MessageList list;
    list.append(user("Q"));
    list.append(reply("<think>Reasoning in words</think>\n\nAnswer in words"));
    for (const QPalette& palette : {QPalette(QColor(0xef, 0xef, 0xef)), testing::darkPalette()}) {
        view->setPalette(palette);
        view->openTranscript(list);
        view->setThinkingExpanded(list.at(1).id(), true);
        paint();
        const QImage image = view->viewport()->grab().toImage();
        const QColor bubble = image.pixelColor(view->bubbleRect(1).topLeft() + QPoint(4, 4));
        const QRect answer = view->bubbleRect(1).adjusted(0, 0, 0, 0) &
                             QRect(view->bubbleRect(1).left(), view->bubbleRect(1).bottom() - 30,
                                   view->bubbleRect(1).width(), 30);
        const int answerContrast = strongestContrast(image, answer, bubble);
        const int reasoningContrast = strongestContrast(image, view->thinkingTextRect(1), bubble);
        EXPECT_GT(reasoningContrast, 60)
            << "legible, palette " << palette.window().color().name().toStdString();
        EXPECT_LT(reasoningContrast, answerContrast - 20) << "muted";
    }
}

}  // namespace
}  // namespace parlote

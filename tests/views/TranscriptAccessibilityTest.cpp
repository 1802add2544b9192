// The transcript as a screen reader finds it, through QAccessible: a list of its messages
// named for who wrote them and when, their text as it reads on screen, their actions, the
// current message the keyboard moves, the announcement of a finished reply, and items that
// last as long as their message and no longer.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

#include "ImageStore.h"
#include "TestPalettes.h"
#include "TranscriptView.h"

namespace parlote {
namespace {

const QDateTime kTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);

ChatMessage user(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::user, kTime);
}
ChatMessage reply(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::assistant, kTime.addSecs(60));
}
ChatMessage error(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::error, kTime.addSecs(120));
}

QString textOf(QAccessibleInterface* item) {
    QAccessibleTextInterface* text = item->textInterface();
    return text ? text->text(0, text->characterCount()) : QStringLiteral("<no text>");
}

class TranscriptAccessibilityTest : public ::testing::Test {
protected:
    ImageStore images;  // keeps the view off the network
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
    QAccessibleInterface* list() { return QAccessible::queryAccessibleInterface(view); }
    QAccessibleInterface* item(int row) { return list()->child(row); }
    void paint() { view->viewport()->repaint(); }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), k, modifiers);
    }
};

TEST_F(TranscriptAccessibilityTest, TheViewIsAListOfItsMessagesNamedForWhoWroteThemAndWhen) {
    MessageList messages;
    messages.append(user("Hello"));
    messages.append(reply("Hi"));
    messages.append(error("The server went away."));
    view->setMessages(messages);

    QAccessibleInterface* transcript = list();
    ASSERT_NE(transcript, nullptr);
    EXPECT_EQ(transcript->role(), QAccessible::List);
    EXPECT_EQ(transcript->text(QAccessible::Name), "Transcript");
    ASSERT_EQ(transcript->childCount(), 3);
    const QStringList names{"You, " + TranscriptView::timestampText(messages.at(0).timestamp()),
                            "Model, " + TranscriptView::timestampText(messages.at(1).timestamp()),
                            "Error, " + TranscriptView::timestampText(messages.at(2).timestamp())};
    for (int row = 0; row < 3; ++row) {
        QAccessibleInterface* child = transcript->child(row);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->role(), QAccessible::ListItem);
        EXPECT_EQ(child->text(QAccessible::Name), names.at(row));
        EXPECT_EQ(child->parent(), transcript);
        EXPECT_EQ(transcript->indexOfChild(child), row);
        EXPECT_EQ(transcript->child(row), child) << "the same item when asked again";
        EXPECT_TRUE(child->state().focusable);
    }
    // The point of a message finds its item.
    const QRect bubble = view->bubbleRect(1);
    const QPoint center = view->viewport()->mapToGlobal(bubble.center());
    EXPECT_EQ(transcript->childAt(center.x(), center.y()), transcript->child(1));
    EXPECT_TRUE(transcript->child(1)->rect().contains(center));
}

TEST_F(TranscriptAccessibilityTest, AnItemReadsItsMessageAsPlainTextAsShown) {
    MessageList messages;
    messages.append(user("First line\nsecond line with **stars**"));
    messages.append(
        reply("# Plan\n\nSome **bold** and `code` with a [link](https://example.com).\n\n"
              "- one\n- two\n\n1. first\n2. second\n\n- [x] done\n\n"
              "```cpp\nint x = 1;\n```\n\n| A | B |\n|---|---|\n| 1 | *2* |\n"));
    messages.append(error("Could not connect: **not Markdown**"));
    const ChatMessage thinking = reply("<think>Let me **see**.</think>\n\nThe answer.");
    messages.append(thinking.withThinkingSeconds(2.4));
    messages.append(reply(QString(limits::kMaxShownMessageLength + 50, QLatin1Char('x'))));
    view->setMessages(messages);

    EXPECT_EQ(textOf(item(0)), "First line\nsecond line with stars") << "its breaks as typed";
    EXPECT_EQ(textOf(item(1)),
              "Plan\nSome bold and code with a link.\n• one\n• two\n1. first\n2. second\n"
              "☑ done\nint x = 1;\nA\tB\n1\t2");
    EXPECT_EQ(textOf(item(2)), "Could not connect: **not Markdown**") << "an error is plain";

    // The reasoning reads only while it is unfolded; its title line says it is there.
    QAccessibleInterface* thought = item(3);
    EXPECT_EQ(textOf(thought), "The answer.");
    EXPECT_EQ(thought->text(QAccessible::Description), "Thought for 2 seconds");
    view->setThinkingExpanded(thinking.id(), true);
    EXPECT_EQ(textOf(thought), "Thought for 2 seconds\nLet me see.\nThe answer.");
    view->setThinkingExpanded(thinking.id(), false);
    EXPECT_EQ(textOf(thought), "The answer.");

    // A message too long to show reads as shown: its notice over its last part.
    const QString cut = textOf(item(4));
    EXPECT_TRUE(cut.startsWith("Showing the last")) << cut.left(80).toStdString();
    EXPECT_LE(cut.size(), limits::kMaxShownMessageLength + 100);

    // Parts of the text, as screen readers ask for them.
    QAccessibleTextInterface* text = item(0)->textInterface();
    EXPECT_EQ(text->text(6, 10), "line");
    int start = -1;
    int end = -1;
    EXPECT_EQ(text->textAtOffset(12, QAccessible::LineBoundary, &start, &end).trimmed(),
              "second line with stars");
}

TEST_F(TranscriptAccessibilityTest, ActionsAreWhatTheRowOffersAndDoWhatItsButtonsDo) {
    MessageList messages;
    messages.append(user("Earlier question"));
    messages.append(reply("<think>Hm</think>Earlier answer").withVariants(0, 2));
    messages.append(user("Question"));
    messages.append(reply("The **answer**"));
    view->setMessages(messages);

    EXPECT_EQ(item(0)->actionInterface()->actionNames(), QStringList({"Copy", "Edit"}));
    EXPECT_EQ(item(1)->actionInterface()->actionNames(),
              QStringList({"Show Reasoning", "Copy", "Next Version"}));
    EXPECT_EQ(item(3)->actionInterface()->actionNames(), QStringList({"Copy", "Regenerate"}));
    EXPECT_EQ(item(3)->actionInterface()->keyBindingsForAction("Regenerate"),
              QStringList({QKeySequence(Qt::CTRL | Qt::Key_R).toString(QKeySequence::NativeText)}));

    // Copy copies the message as stored, Markdown and all, as the button does.
    QSignalSpy copied(view, &TranscriptView::copied);
    item(3)->actionInterface()->doAction("Copy");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "The **answer**");
    EXPECT_EQ(copied.size(), 1);

    QSignalSpy regenerated(view, &TranscriptView::regenerateRequested);
    item(3)->actionInterface()->doAction("Regenerate");
    ASSERT_EQ(regenerated.size(), 1);
    EXPECT_EQ(regenerated.at(0).at(0).toUuid(), messages.at(3).id());

    QSignalSpy versions(view, &TranscriptView::variantRequested);
    item(1)->actionInterface()->doAction("Next Version");
    ASSERT_EQ(versions.size(), 1);
    EXPECT_EQ(versions.at(0).at(1).toInt(), 1);

    item(1)->actionInterface()->doAction("Show Reasoning");
    EXPECT_TRUE(view->isThinkingExpanded(messages.at(1).id()));
    EXPECT_TRUE(item(1)->actionInterface()->actionNames().contains("Hide Reasoning"));

    // Edit opens the editor as the button does; sending it asks for the new text.
    QSignalSpy edited(view, &TranscriptView::editSubmitted);
    item(2)->actionInterface()->doAction("Edit");
    ASSERT_NE(view->editor(), nullptr);
    EXPECT_EQ(view->editingMessage(), messages.at(2).id());
    EXPECT_EQ(view->editor()->toPlainText(), "Question");
    QTest::keyClicks(view->editor(), " again");
    QTest::keyClick(view->editor(), Qt::Key_Return);
    ASSERT_EQ(edited.size(), 1);
    EXPECT_EQ(edited.at(0).at(1).toString(), "Question again");

    // While a reply streams, neither is offered, and asking does nothing.
    view->setReplyInProgress(true);
    EXPECT_EQ(item(3)->actionInterface()->actionNames(), QStringList({"Copy"}));
    EXPECT_EQ(item(1)->actionInterface()->actionNames(), QStringList({"Hide Reasoning", "Copy"}))
        << "the arrows do not act";
    item(3)->actionInterface()->doAction("Regenerate");
    item(2)->actionInterface()->doAction("Edit");
    EXPECT_EQ(regenerated.size(), 1);
    EXPECT_EQ(view->editor(), nullptr);
}

TEST_F(TranscriptAccessibilityTest, UpAndDownMoveTheCurrentMessageWhichIsFocusedAndMarked) {
    MessageList messages;
    for (int i = 0; i < 30; ++i)
        messages.append(i % 2 ? reply(QStringLiteral("Answer %1").arg(i))
                              : user(QStringLiteral("Question %1").arg(i)));
    view->setMessages(messages);
    paint();
    const int last = 29;

    // Clicked, the view marks the message under the pointer.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->bubbleRect(last).center());
    ASSERT_TRUE(view->hasFocus());
    EXPECT_EQ(view->currentRow(), last);
    EXPECT_EQ(list()->focusChild(), item(last));
    EXPECT_TRUE(item(last)->state().focused);
    EXPECT_TRUE(item(last)->state().selected);

    // Up and Down move it, scroll it into view and keep the focus child with it.
    for (int i = 0; i < 20; ++i) key(Qt::Key_Up);
    EXPECT_EQ(view->currentRow(), last - 20);
    EXPECT_TRUE(view->viewport()->rect().contains(view->rowRect(last - 20)));
    EXPECT_EQ(list()->focusChild(), item(last - 20));
    EXPECT_FALSE(item(last)->state().focused);
    EXPECT_FALSE(view->isFollowing()) << "reading up the transcript";
    key(Qt::Key_Down);
    EXPECT_EQ(view->currentRow(), last - 19);
    EXPECT_TRUE(item(last - 19)->state().focused);

    // Tab goes on to the current message's controls, and Up comes back from them.
    key(Qt::Key_Tab);
    EXPECT_EQ(view->focusedControlRow(), last - 19);
    EXPECT_EQ(view->focusedControl(), TranscriptView::Control::edit) << "a question's first";
    EXPECT_TRUE(view->messageFocusRect().isNull()) << "the control carries the mark";
    key(Qt::Key_Up);
    EXPECT_FALSE(view->focusedControl().has_value());
    EXPECT_EQ(view->currentRow(), last - 20);
    // Shift+Tab from a message leaves the view.
    key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(before->hasFocus());
    EXPECT_TRUE(view->messageFocusRect().isNull());
    EXPECT_FALSE(item(last - 20)->state().focused);
    EXPECT_TRUE(item(last - 20)->state().selected) << "still the current message";

    // Home and End go to either end, End following it again.
    view->setFocus();
    key(Qt::Key_Home);
    EXPECT_EQ(view->currentRow(), 0);
    EXPECT_EQ(list()->focusChild(), item(0));
    key(Qt::Key_End);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isScrolling(); }));
    EXPECT_EQ(view->currentRow(), last);
    EXPECT_TRUE(view->isFollowing());
    EXPECT_EQ(list()->focusChild(), item(last));
}

TEST_F(TranscriptAccessibilityTest, TheFocusedViewMarksAMessageVisiblyInLightAndDarkPalettes) {
    MessageList messages;
    messages.append(user("Question"));
    messages.append(reply("Answer"));
    for (const QPalette& palette : {QPalette(QColor(0xef, 0xef, 0xef)), testing::darkPalette()}) {
        SCOPED_TRACE(palette.window().color().name().toStdString());
        view->setPalette(palette);
        view->openTranscript(messages);
        before->setFocus();
        paint();
        EXPECT_TRUE(view->messageFocusRect().isNull()) << "no mark without the focus";

        // Focused with nothing current: the first message in view stands for it.
        view->setFocus();
        EXPECT_EQ(view->currentRow(), -1);
        const QRect mark = view->messageFocusRect();
        ASSERT_FALSE(mark.isNull());
        EXPECT_TRUE(mark.contains(view->bubbleRect(0)));
        EXPECT_EQ(list()->focusChild(), item(0));
        paint();
        const QImage image = view->viewport()->grab().toImage();
        const QColor ring = image.pixelColor(mark.left(), mark.center().y());
        const QColor highlight = view->palette().color(QPalette::Highlight);
        EXPECT_LT(qAbs(ring.hue() - highlight.hue()), 12) << ring.name().toStdString();
        EXPECT_GT(qAbs(ring.lightness() - view->palette().window().color().lightness()), 40);

        key(Qt::Key_Down);
        EXPECT_EQ(view->currentRow(), 1);
        EXPECT_TRUE(view->messageFocusRect().contains(view->bubbleRect(1)));
    }
}

TEST_F(TranscriptAccessibilityTest, ALongTranscriptIsReadWithoutLayingOutTheRowsOutOfView) {
    MessageList messages;
    for (int i = 0; i < 10'000; ++i)
        messages.append(i % 2 ? reply(QStringLiteral("An **answer** number %1").arg(i))
                              : user(QStringLiteral("Question number %1").arg(i)));
    view->setMessages(messages);
    paint();
    const int seen = view->laidOutRowCount();

    QAccessibleInterface* transcript = list();
    ASSERT_EQ(transcript->childCount(), 10'000);
    int offscreen = 0;
    for (int row = 0; row < 10'000; row += 7) {
        QAccessibleInterface* child = transcript->child(row);
        ASSERT_NE(child, nullptr);
        ASSERT_EQ(child->text(QAccessible::Name).isEmpty(), false);
        child->rect();
        if (child->state().offscreen) ++offscreen;
        child->actionInterface()->actionNames();
        if (row % 2) {
            ASSERT_EQ(textOf(child), QStringLiteral("An answer number %1").arg(row));
        }
    }
    EXPECT_GT(offscreen, 1000);
    EXPECT_EQ(view->laidOutRowCount(), seen);
    EXPECT_LT(seen, 30);

    // Moving through it lays out what comes into view only.
    view->setFocus();
    key(Qt::Key_Home);
    for (int i = 0; i < 5; ++i) key(Qt::Key_Down);
    EXPECT_EQ(view->currentRow(), 5);
    EXPECT_LT(view->laidOutRowCount(), seen + 30);
}

TEST_F(TranscriptAccessibilityTest, ItemsLastAsLongAsTheirMessageAndNoLonger) {
    MessageList messages;
    messages.append(user("Question"));
    messages.append(reply("First answer"));
    view->setMessages(messages);
    const QAccessible::Id question = QAccessible::uniqueId(item(0));
    const QAccessible::Id answer = QAccessible::uniqueId(item(1));

    // The reply grows: both items stay, with the new text.
    messages.replace(1, messages.at(1).withContent("First answer, longer"));
    messages.append(user("Another"));
    view->setMessages(messages);
    EXPECT_EQ(QAccessible::uniqueId(item(0)), question);
    EXPECT_EQ(QAccessible::uniqueId(item(1)), answer);
    EXPECT_EQ(textOf(QAccessible::accessibleInterface(answer)), "First answer, longer");

    // The reply is replaced by another (regenerated): its item goes with it.
    messages = MessageList();
    messages.append(view->messages().at(0));
    messages.append(reply("Second answer"));
    view->setMessages(messages);
    EXPECT_EQ(QAccessible::accessibleInterface(answer), nullptr);
    EXPECT_EQ(QAccessible::uniqueId(item(0)), question);
    EXPECT_EQ(list()->childCount(), 2);
    EXPECT_EQ(textOf(item(1)), "Second answer");

    // Another conversation: none of the old items is left.
    const QAccessible::Id second = QAccessible::uniqueId(item(1));
    MessageList other;
    other.append(user("Elsewhere"));
    view->openTranscript(other);
    EXPECT_EQ(QAccessible::accessibleInterface(question), nullptr);
    EXPECT_EQ(QAccessible::accessibleInterface(second), nullptr);
    ASSERT_EQ(list()->childCount(), 1);
    EXPECT_EQ(textOf(item(0)), "Elsewhere");

    // Nor once the view is gone.
    const QAccessible::Id elsewhere = QAccessible::uniqueId(item(0));
    delete view;
    EXPECT_EQ(QAccessible::accessibleInterface(elsewhere), nullptr);
    view = nullptr;
}

TEST_F(TranscriptAccessibilityTest, AReplyThatFinishesWhileAwaitedIsAnnounced) {
    MessageList messages;
    messages.append(user("Old question"));
    messages.append(reply("Old answer"));
    view->setMessages(messages);
    auto announcementOf = [&](int row) -> QAccessibleInterface* {
        QAccessibleInterface* child = item(row);
        return child && child->childCount() == 1 ? child->child(0) : nullptr;
    };

    // The user asks; the reply streams in and ends.
    view->setReplyInProgress(true);
    messages.append(user("Why?"));
    const ChatMessage answer = reply(QString());
    messages.append(answer);
    view->setMessages(messages);
    messages.replace(3, answer.withContent("Because **reasons**."));
    view->setMessages(messages);
    EXPECT_EQ(announcementOf(3), nullptr) << "not while it streams";
    view->setReplyInProgress(false);
    QAccessibleInterface* note = announcementOf(3);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->role(), QAccessible::Notification);
    EXPECT_EQ(note->text(QAccessible::Name), "Model replied");
    EXPECT_EQ(textOf(note), "Because reasons.");
    EXPECT_FALSE(note->state().invisible);
    ASSERT_EQ(note->childCount(), 1);
    EXPECT_EQ(note->child(0)->role(), QAccessible::StaticText);
    EXPECT_EQ(note->child(0)->text(QAccessible::Name), "Because reasons.");
    EXPECT_EQ(note->parent(), item(3));
    const QAccessible::Id noteId = QAccessible::uniqueId(note);

    // The next reply takes it away; one that fails is announced as such.
    view->setReplyInProgress(true);
    EXPECT_EQ(QAccessible::accessibleInterface(noteId), nullptr);
    messages.append(user("And?"));
    messages.append(error("The server went away."));
    view->setMessages(messages);
    view->setReplyInProgress(false);
    ASSERT_NE(announcementOf(5), nullptr);
    EXPECT_EQ(announcementOf(5)->text(QAccessible::Name), "Reply failed");
    EXPECT_EQ(item(3)->childCount(), 0);

    // Nothing is announced when no reply came, or when it came in another conversation.
    view->setReplyInProgress(true);
    view->setReplyInProgress(false);
    EXPECT_EQ(announcementOf(5), nullptr);
    view->setReplyInProgress(true);
    MessageList other;
    other.append(user("Elsewhere"));
    other.append(reply("An answer read from disk"));
    view->openTranscript(other);
    view->setReplyInProgress(false);
    EXPECT_EQ(announcementOf(1), nullptr);
}

}  // namespace
}  // namespace parlote

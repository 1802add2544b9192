// Selecting text in the transcript with the mouse and the keyboard, what Copy puts on the
// clipboard and the primary selection, the context menu's Copy and Select All, links, and
// a selection that outlives streaming and layouts let go of while scrolling.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

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
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::assistant, kTime);
}

class TranscriptSelectionTest : public ::testing::Test {
protected:
    ImageStore images;  // keeps the view off the network
    QWidget window;
    TranscriptView* view = new TranscriptView(&window, &images);
    QStringList primary;  // what went to the primary selection, in order

    void SetUp() override {
        auto* column = new QVBoxLayout(&window);
        column->addWidget(view);
        window.resize(600, 500);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
        view->setPrimarySelectionWriter([this](QMimeData* data) {
            primary.append(data->text());
            delete data;
        });
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        for (QMenu* menu : view->findChildren<QMenu*>()) delete menu;
    }
    void show(const MessageList& list) {
        view->setMessages(list);
        view->viewport()->repaint();
    }
    QWidget* port() { return view->viewport(); }
    // Where `text` begins and ends in the answer of `row`: just inside its first and last
    // characters, so that the nearest gap is before the first and after the last.
    QPoint startOf(int row, const QString& text) {
        const QRect r = view->textRect(row, text);
        EXPECT_FALSE(r.isNull()) << text.toStdString();
        return QPoint(r.left() + 1, r.center().y());
    }
    QPoint endOf(int row, const QString& text) {
        const QRect r = view->textRect(row, text);
        EXPECT_FALSE(r.isNull()) << text.toStdString();
        return QPoint(r.right() - 1, r.center().y());
    }
    QPoint middleOf(int row, const QString& text) { return view->textRect(row, text).center(); }
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mousePress(port(), Qt::LeftButton, modifiers, from);
        QTest::mouseMove(port(), (from + to) / 2);
        QTest::mouseMove(port(), to);
        QTest::mouseRelease(port(), Qt::LeftButton, modifiers, to);
    }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(view, k, modifiers);
    }
    QMenu* rightClick(const QPoint& at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, port()->mapToGlobal(at));
        QApplication::sendEvent(port(), &event);
        for (QMenu* menu : view->findChildren<QMenu*>())
            if (menu->isVisible()) return menu;
        return nullptr;
    }
    static QAction* action(QMenu* menu, const QString& text) {
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
    // Whether the highlight colour is painted in `area` of the viewport.
    bool highlighted(const QRect& area) {
        const QImage image = port()->grab().toImage();
        const QColor highlight = view->palette().color(QPalette::Highlight);
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixelColor(x, y) == highlight) return true;
        return false;
    }
};

TEST_F(TranscriptSelectionTest, ADragSelectsWithinAMessageAndAcrossMessages) {
    MessageList list;
    list.append(user("Hello there"));
    list.append(reply("First paragraph of the *answer*.\n\nSecond paragraph here."));
    list.append(user("Another question"));
    list.append(reply("Final words"));
    show(list);

    drag(startOf(1, "paragraph"), endOf(1, "answer"));
    EXPECT_TRUE(view->hasSelection());
    EXPECT_EQ(view->selectedText(), "paragraph of the answer");
    EXPECT_EQ(view->selectedMarkdown(), QString()) << "only part of a message";
    view->viewport()->repaint();
    EXPECT_TRUE(highlighted(view->textRect(1, "of the")));
    EXPECT_FALSE(highlighted(view->textRect(1, "Second")));

    // Across three messages: the part of the first, all of the second as it reads, the
    // part of the third, an empty line between two messages.
    drag(startOf(0, "there"), endOf(2, "Another"));
    EXPECT_EQ(view->selectedText(),
              "there\n\nFirst paragraph of the answer.\nSecond paragraph here.\n\nAnother");
    EXPECT_TRUE(highlighted(view->textRect(1, "Second")));
    EXPECT_FALSE(highlighted(view->textRect(3, "Final")));

    // From above the first message to below the last: whole messages, so their Markdown
    // comes too.
    drag(QPoint(300, 2), QPoint(300, port()->height() - 2));
    EXPECT_EQ(view->selectedText(),
              "Hello there\n\nFirst paragraph of the answer.\nSecond paragraph here.\n\n"
              "Another question\n\nFinal words");
    EXPECT_EQ(view->selectedMarkdown(),
              "Hello there\n\nFirst paragraph of the *answer*.\n\nSecond paragraph here.\n\n"
              "Another question\n\nFinal words");

    // Dragging back above where it began selects upwards from there.
    drag(endOf(2, "Another"), startOf(1, "Second"));
    EXPECT_EQ(view->selectedText(), "Second paragraph here.\n\nAnother");

    // A click elsewhere clears it; so does Escape.
    QTest::mouseClick(port(), Qt::LeftButton, {}, middleOf(3, "Final"));
    EXPECT_FALSE(view->hasSelection());
    EXPECT_EQ(view->selectedText(), QString());
    drag(startOf(3, "Final"), endOf(3, "words"));
    ASSERT_TRUE(view->hasSelection());
    key(Qt::Key_Escape);
    EXPECT_FALSE(view->hasSelection());
}

TEST_F(TranscriptSelectionTest, DoubleClickSelectsAWordTripleClickAParagraphShiftClickExtends) {
    MessageList list;
    list.append(user("Tell me"));
    list.append(reply("Alpha beta gamma.\n\n- first item\n- second item\n\nClosing words."));
    list.append(user("Thanks a lot"));
    show(list);

    QTest::mouseDClick(port(), Qt::LeftButton, {}, middleOf(1, "beta"));
    EXPECT_EQ(view->selectedText(), "beta");
    // A drag after a double click goes on by whole words.
    QTest::mouseMove(port(), middleOf(1, "gamma"));
    QTest::mouseRelease(port(), Qt::LeftButton, {}, middleOf(1, "gamma"));
    EXPECT_EQ(view->selectedText(), "beta gamma");

    // The third click, right after the double click, takes the paragraph.
    QTest::mouseDClick(port(), Qt::LeftButton, {}, middleOf(1, "Alpha"));
    QTest::mouseClick(port(), Qt::LeftButton, {}, middleOf(1, "Alpha"));
    EXPECT_EQ(view->selectedText(), "Alpha beta gamma.");
    QTest::mouseDClick(port(), Qt::LeftButton, {}, middleOf(1, "second"));
    QTest::mouseClick(port(), Qt::LeftButton, {}, middleOf(1, "second"));
    EXPECT_EQ(view->selectedText(), "\u2022 second item") << "a list item under its marker";

    // Shift+click extends from where the last click was, within a message and beyond it.
    QTest::mouseClick(port(), Qt::LeftButton, {}, startOf(1, "first"));
    EXPECT_FALSE(view->hasSelection());
    QTest::mouseClick(port(), Qt::LeftButton, Qt::ShiftModifier, endOf(1, "second"));
    EXPECT_EQ(view->selectedText(), "\u2022 first item\n\u2022 second");
    QTest::mouseClick(port(), Qt::LeftButton, Qt::ShiftModifier, endOf(2, "Thanks"));
    EXPECT_EQ(view->selectedText(),
              "\u2022 first item\n\u2022 second item\nClosing words.\n\nThanks");
    QTest::mouseClick(port(), Qt::LeftButton, Qt::ShiftModifier, startOf(1, "gamma"));
    EXPECT_EQ(view->selectedText(), "gamma.") << "back before where it began";
}

TEST_F(TranscriptSelectionTest, SelectAllAndCopyGiveTheTextAsItReads) {
    const QString paragraph = "Some **bold** and `code` text, a [link](https://example.com).";
    const QString list = "Steps:\n\n1. Open the file\n2. Save it\n\n- apples\n  - green\n- pears";
    const QString table = "| Name | Size |\n|:-----|-----:|\n| a | 1 |\n| b *c* | 22 |";
    const QString code = "Run this:\n\n```python\ndef f(x):\n\n    return x  # one\n```";
    MessageList messages;
    messages.append(user(paragraph));
    messages.append(reply(list));
    messages.append(user(table));
    messages.append(reply("<think>Reasoning</think>" + code));
    show(messages);

    const QString paragraphText = "Some bold and code text, a link.";
    const QString listText =
        "Steps:\n1. Open the file\n2. Save it\n\u2022 apples\n\u2022 green\n"
        "\u2022 pears";
    const QString tableText = "Name\tSize\na\t1\nb c\t22";
    const QString codeOnly = "def f(x):\n\n    return x  # one";
    const QString codeText = "Run this:\n" + codeOnly;

    view->setFocus();
    key(Qt::Key_A, Qt::ControlModifier);
    ASSERT_TRUE(view->hasSelection());
    key(Qt::Key_C, Qt::ControlModifier);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text(),
              paragraphText + "\n\n" + listText + "\n\n" + tableText + "\n\n" + codeText);
    // The Markdown of the whole messages, a reply without its think block.
    EXPECT_EQ(QString::fromUtf8(data->data("text/markdown")),
              paragraph + "\n\n" + list + "\n\n" + table + "\n\n" + code);

    // The same text from the laid-out messages, for a selection that begins inside each.
    drag(startOf(0, "bold"), QPoint(300, view->rowRect(0).bottom()));
    EXPECT_EQ(view->selectedText(), "bold and code text, a link.");
    drag(startOf(1, "eps"), QPoint(300, view->rowRect(1).bottom()));
    EXPECT_EQ(view->selectedText(), listText.mid(2));
    drag(startOf(1, "Save"), endOf(1, "apples"));
    EXPECT_EQ(view->selectedText(), "2. Save it\n\u2022 apples") << "markers where lines begin";
    drag(startOf(1, "ave"), endOf(1, "apples"));
    EXPECT_EQ(view->selectedText(), "ave it\n\u2022 apples");
    drag(startOf(2, "ame"), QPoint(300, view->rowRect(2).bottom()));
    EXPECT_EQ(view->selectedText(), tableText) << "from inside a table to past it: all of it";
    drag(middleOf(2, "1"), middleOf(2, "b c"));
    EXPECT_EQ(view->selectedText(), "a\t1\nb c\t22") << "a rectangle of cells";
    drag(startOf(3, "return"), endOf(3, "one"));
    EXPECT_EQ(view->selectedText(), "return x  # one");
    drag(startOf(3, "x):"), QPoint(300, view->rowRect(3).bottom()));
    EXPECT_EQ(view->selectedText(), codeOnly.mid(codeOnly.indexOf("x):")));
    drag(startOf(3, "Run"), QPoint(300, view->rowRect(3).bottom()));
    EXPECT_EQ(view->selectedText(), codeText) << "no language header, the blank line kept";
    QTest::mouseDClick(port(), Qt::LeftButton, {}, middleOf(3, "return"));
    QTest::mouseClick(port(), Qt::LeftButton, {}, middleOf(3, "return"));
    EXPECT_EQ(view->selectedText(), codeOnly) << "a triple click in code takes the block";
    EXPECT_EQ(view->selectedMarkdown(), QString());

    // Without a selection, Ctrl+C leaves the clipboard alone.
    QGuiApplication::clipboard()->setText("before");
    key(Qt::Key_Escape);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
}

TEST_F(TranscriptSelectionTest, SelectAllOfAHugeTranscriptLaysNothingMoreOut) {
    MessageList list;
    for (int i = 0; i < 10000; ++i)
        list.append(i % 2 ? reply(QStringLiteral("Answer *%1*").arg(i))
                          : user(QStringLiteral("Question %1").arg(i)));
    view->openTranscript(list);
    view->viewport()->repaint();
    const int laidOut = view->laidOutRowCount();

    view->setFocus();
    key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view->laidOutRowCount(), laidOut);
    ASSERT_EQ(primary.size(), 1);
    EXPECT_TRUE(primary[0].startsWith("Question 0\n\nAnswer 1\n\nQuestion 2\n\n"));
    EXPECT_TRUE(primary[0].endsWith("\n\nQuestion 9998\n\nAnswer 9999"));
    EXPECT_EQ(primary[0].count("\n\n"), 9999);
    EXPECT_EQ(view->laidOutRowCount(), laidOut);
}

TEST_F(TranscriptSelectionTest, TheSelectionStaysWhileAReplyStreamsAndWhileScrolling) {
    MessageList list;
    list.append(user("Question"));
    list.append(reply("Earlier answer with some words."));
    list.append(user("Next"));
    const ChatMessage placeholder = reply("The reply begins");
    list.append(placeholder);
    show(list);

    // A selection from a message above into the streaming reply.
    drag(startOf(1, "some"), endOf(3, "reply"));
    const QString selected = "some words.\n\nNext\n\nThe reply";
    ASSERT_EQ(view->selectedText(), selected);
    QString text = placeholder.content();
    for (const QString chunk : {" slowly", " and goes on.", "\n\nA second paragraph", "\n\n- a"}) {
        text += chunk;
        list.replace(3, placeholder.withContent(text));
        show(list);
        EXPECT_EQ(view->selectedText(), selected) << "after " << chunk.toStdString();
    }
    // Selected to the end of the reply, which then goes on: the new text stays out.
    drag(startOf(1, "some"), QPoint(300, port()->height() - 2));
    const QString all = view->selectedText();
    ASSERT_TRUE(all.endsWith("\n\u2022 a"));
    list.replace(3, placeholder.withContent(text + " more"));
    show(list);
    EXPECT_EQ(view->selectedText(), all);
    view->clearSelection();

    // Far away and back: the rows' layouts are let go of and made again.
    MessageList many;
    for (int i = 0; i < 400; ++i)
        many.append(i % 2 ? reply(QStringLiteral("Reply number %1 here").arg(i))
                          : user(QStringLiteral("Question number %1").arg(i)));
    view->openTranscript(many);
    view->setScrollPosition(0);
    view->viewport()->repaint();
    drag(startOf(1, "number"), endOf(3, "Reply"));
    const QString before = view->selectedText();
    ASSERT_EQ(before, "number 1 here\n\nQuestion number 2\n\nReply");
    for (qreal top = 0; top < view->contentHeight(); top += view->viewport()->height()) {
        view->setScrollPosition(top);
        view->viewport()->repaint();
    }
    EXPECT_EQ(view->markdownLayoutCount(1), 0u) << "its layout was let go of";
    EXPECT_EQ(view->selectedText(), before);
    view->setScrollPosition(0);
    view->viewport()->repaint();
    EXPECT_EQ(view->selectedText(), before);
    EXPECT_TRUE(highlighted(view->textRect(2, "Question")));
    EXPECT_FALSE(highlighted(view->textRect(0, "Question")));

    // Held below the view, a drag scrolls on and selects what comes into view.
    QTest::mousePress(port(), Qt::LeftButton, {}, startOf(1, "number"));
    QTest::mouseMove(port(), QPoint(300, port()->height() + 40));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->selectedText().contains("number 30"); }));
    QTest::mouseRelease(port(), Qt::LeftButton, {}, QPoint(300, port()->height() + 40));
    EXPECT_GT(view->scrollPosition(), 0);
    EXPECT_TRUE(view->selectedText().startsWith("number 1 here\n\nQuestion number 2\n\n"));

    // Another conversation starts with nothing selected.
    view->openTranscript(list);
    EXPECT_FALSE(view->hasSelection());
}

TEST_F(TranscriptSelectionTest, ASelectionMadeGoesToThePrimarySelection) {
    MessageList list;
    list.append(user("One two three"));
    list.append(reply("Four five six"));
    show(list);

    drag(startOf(0, "two"), endOf(0, "three"));
    EXPECT_EQ(primary, QStringList({"two three"})) << "once, when the button goes up";
    QTest::mouseDClick(port(), Qt::LeftButton, {}, middleOf(1, "five"));
    QTest::mouseRelease(port(), Qt::LeftButton, {}, middleOf(1, "five"));
    EXPECT_EQ(primary.last(), "five");
    QTest::mouseClick(port(), Qt::LeftButton, Qt::ShiftModifier, endOf(1, "six"));
    EXPECT_EQ(primary.last(), "five six");
    const qsizetype count = primary.size();
    QTest::mouseClick(port(), Qt::LeftButton, {}, middleOf(0, "One"));
    EXPECT_EQ(primary.size(), count) << "a click that clears leaves the primary selection";

    // Where the platform has a primary selection (X11), it is the clipboard's.
    view->setPrimarySelectionWriter(nullptr);
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection()) GTEST_SKIP() << "no primary selection here";
    drag(startOf(1, "Four"), endOf(1, "five"));
    EXPECT_EQ(clipboard->text(QClipboard::Selection), "Four five");
}

TEST_F(TranscriptSelectionTest, TheContextMenuCopiesTheSelectionOrTheMessageAndSelectsAll) {
    MessageList list;
    list.append(user("Plain *question*"));
    list.append(reply("Some **answer** text"));
    show(list);

    QMenu* menu = rightClick(middleOf(1, "answer"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(action(menu, "Copy"), nullptr) << "nothing is selected";
    ASSERT_NE(action(menu, "Select All"), nullptr);
    EXPECT_EQ(action(menu, "Select All")->shortcut(), QKeySequence(QKeySequence::SelectAll));
    action(menu, "Copy Message")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Some **answer** text");
    action(menu, "Select All")->trigger();
    menu->close();
    EXPECT_EQ(view->selectedText(), "Plain question\n\nSome answer text");

    drag(startOf(1, "answer"), endOf(1, "text"));
    menu = rightClick(middleOf(0, "question"));
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(view->hasSelection()) << "a right click keeps the selection";
    ASSERT_NE(action(menu, "Copy"), nullptr);
    EXPECT_EQ(menu->actions().first()->text(), "Copy");
    EXPECT_EQ(action(menu, "Copy")->shortcut(), QKeySequence(QKeySequence::Copy));
    action(menu, "Copy")->trigger();
    menu->close();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "answer text");
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat("text/markdown"));
}

TEST_F(TranscriptSelectionTest, AClickOpensALinkAndADragFromItSelects) {
    QList<QUrl> opened;
    view->setUrlOpener([&](const QUrl& url) { opened.append(url); });
    MessageList list;
    list.append(user("Where?"));
    list.append(reply("See [the manual](https://example.com/manual) for more."));
    show(list);

    QTest::mouseClick(port(), Qt::LeftButton, {}, middleOf(1, "manual"));
    EXPECT_EQ(opened, QList<QUrl>({QUrl("https://example.com/manual")}));
    EXPECT_FALSE(view->hasSelection());

    drag(startOf(1, "manual"), endOf(1, "more"));
    EXPECT_EQ(opened.size(), 1) << "the drag opened nothing";
    EXPECT_EQ(view->selectedText(), "manual for more");
    QTest::mouseDClick(port(), Qt::LeftButton, {}, middleOf(1, "the"));
    QTest::mouseRelease(port(), Qt::LeftButton, {}, middleOf(1, "the"));
    EXPECT_EQ(opened.size(), 1) << "nor the double click";
    EXPECT_EQ(view->selectedText(), "the");
}

TEST_F(TranscriptSelectionTest, TheKeysOfTheTranscriptStillWorkAndErrorsAreSelectedWhole) {
    MessageList list;
    list.append(user("Ask"));
    list.append(ChatMessage(QUuid::createUuid(), "Could not reach the server.",
                            ChatMessageType::error, kTime));
    list.append(user("Again"));
    show(list);

    drag(startOf(0, "Ask"), endOf(2, "Again"));
    EXPECT_EQ(view->selectedText(), "Ask\n\nCould not reach the server.\n\nAgain");
    // The error row is painted in the selection colours, in light and dark.
    for (const QPalette& palette : {QPalette(QColor(0xef, 0xef, 0xef)), testing::darkPalette()}) {
        view->setPalette(palette);
        view->viewport()->repaint();
        EXPECT_TRUE(highlighted(view->bubbleRect(1).adjusted(12, 12, -12, -12)));
        EXPECT_TRUE(highlighted(view->textRect(0, "Ask")));
    }

    // Up and Down still move the current message with a selection in place.
    view->setCurrentRow(0);
    key(Qt::Key_Down);
    EXPECT_EQ(view->currentRow(), 1);
    key(Qt::Key_Down);
    EXPECT_EQ(view->currentRow(), 2);
    key(Qt::Key_Home);
    EXPECT_EQ(view->currentRow(), 0);
    EXPECT_TRUE(view->hasSelection());
}

}  // namespace
}  // namespace parlote

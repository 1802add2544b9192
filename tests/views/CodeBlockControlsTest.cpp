// The Copy buttons of a reply's code blocks in the transcript: where they lie, what a
// click, the keyboard and assistive technology copy, and that a streamed reply's code
// block keeps its button as it grows.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "ImageStore.h"
#include "TranscriptView.h"

namespace parlote {
namespace {

using Control = TranscriptView::Control;

const QDateTime kTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);

ChatMessage message(const QString& text, ChatMessageType type) {
    return ChatMessage(QUuid::createUuid(), text, type, kTime);
}

const QString kPython = QStringLiteral("def f(x):\n    return x * 2  # twice\n\n\tindented\ttab");
const QString kShell = QStringLiteral("echo \"done\"");

QString reply() {
    return QStringLiteral("Two blocks:\n\n```python\n") + kPython +
           QStringLiteral("\n```\n\nand\n\n```\n") + kShell + QStringLiteral("\n```\n\nEnd.");
}

class CodeBlockControlsTest : public ::testing::Test {
protected:
    ImageStore images;  // keeps the view off the network
    QWidget window;
    TranscriptView* view = new TranscriptView(&window, &images);

    void SetUp() override {
        auto* column = new QVBoxLayout(&window);
        column->addWidget(view);
        window.resize(640, 600);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
        MessageList messages;
        messages.append(message(QStringLiteral("Show me"), ChatMessageType::user));
        messages.append(message(reply(), ChatMessageType::assistant));
        view->openTranscript(messages);
        view->viewport()->repaint();
    }
};

TEST_F(CodeBlockControlsTest, AClickOnACodeBlocksCopyButtonCopiesExactlyItsCode) {
    const std::vector<QRect> buttons = view->codeCopyButtonRects(1);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_TRUE(view->codeCopyButtonRects(0).empty());  // the question has none
    // Each at the right end of its block's header, inside the reply's bubble.
    EXPECT_LT(buttons[0].bottom(), buttons[1].top());
    EXPECT_TRUE(view->bubbleRect(1).contains(buttons[0]));
    EXPECT_GT(buttons[0].left(), view->bubbleRect(1).center().x());

    QSignalSpy copied(view, &TranscriptView::copied);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, buttons[0].center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kPython);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, buttons[1].center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kShell);
    EXPECT_EQ(copied.size(), 2);
    // The message's own Copy button still copies the whole text.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->copyButtonRect(1).center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), reply());
}

TEST_F(CodeBlockControlsTest, TabReachesEachCodeButtonAndSpaceCopies) {
    view->setFocus(Qt::TabFocusReason);
    int found = 0;
    for (int i = 0; i < 30 && found < 2; ++i) {
        if (view->focusedControl() == Control::copyCode && view->focusedControlRow() == 1) {
            ++found;
            QTest::keyClick(view, Qt::Key_Space);
            EXPECT_EQ(QGuiApplication::clipboard()->text(), found == 1 ? kPython : kShell);
        }
        QTest::keyClick(view, Qt::Key_Tab);
    }
    EXPECT_EQ(found, 2);
}

TEST_F(CodeBlockControlsTest, AssistiveTechnologyFindsACopyActionPerCodeBlock) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    ASSERT_NE(list, nullptr);
    QAccessibleInterface* item = nullptr;
    for (int i = 0; i < list->childCount(); ++i) {
        QAccessibleInterface* child = list->child(i);
        if (child && child->actionInterface() &&
            child->actionInterface()->actionNames().contains(QStringLiteral("Copy Code")))
            item = child;
    }
    ASSERT_NE(item, nullptr);
    const QStringList names = item->actionInterface()->actionNames();
    EXPECT_TRUE(names.contains(QStringLiteral("Copy Code 2")));
    item->actionInterface()->doAction(QStringLiteral("Copy Code 2"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kShell);
}

TEST_F(CodeBlockControlsTest, AStreamedCodeBlockKeepsItsButtonAndCopiesWhatArrivedSoFar) {
    MessageList messages = view->messages();
    const QUuid id = QUuid::createUuid();
    QString text = QStringLiteral("Streaming:\n\n```cpp\nint main() {\n");
    for (int i = 0; i < 20; ++i) {
        text += QStringLiteral("    call(%1);\n").arg(i);
        messages.replace(messages.size() - 1,
                         ChatMessage(id, text, ChatMessageType::assistant, kTime));
        view->setMessages(messages);
        view->viewport()->repaint();
    }
    view->scrollToLastMessage(false);
    view->viewport()->repaint();
    const std::vector<QRect> buttons = view->codeCopyButtonRects(1);
    ASSERT_EQ(buttons.size(), 1u);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, buttons[0].center());
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("int main() {\n    call(0);")));
    EXPECT_TRUE(copied.endsWith(QStringLiteral("call(19);\n")) || copied.endsWith("call(19);"));
}

}  // namespace
}  // namespace parlote

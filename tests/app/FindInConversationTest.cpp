// Find in the open conversation as a user works the main window, with the real
// application model against the fake Ollama server: Ctrl+F opens the bar from anywhere in
// the window, the Edit menu's Find commands, F3, Escape closing the bar without stopping a
// reply, another conversation looked through again, and the shortcuts window listing it.

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTreeWidget>

#include "ConversationCommands.h"
#include "ConversationListView.h"
#include "CustomTextView.h"
#include "FindBar.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ShortcutsWindow.h"
#include "TranscriptView.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class FindInConversationTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainWindow> window;
    const Conversation sky = stored("Sky", "Rayleigh");
    const Conversation sea = stored("Sea", "Blue");

    void SetUp() override {
        h.store.saveTOC({sky, sea});
        const QDateTime at(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);
        h.store.writeConversation(
            sky.id().uuid(),
            {ChatMessage(QUuid::createUuid(), "Why is the sky blue?", ChatMessageType::user, at),
             ChatMessage(QUuid::createUuid(), "Blue light is scattered the most: **blue** wins.",
                         ChatMessageType::assistant, at.addSecs(1))});
        h.store.writeConversation(
            sea.id().uuid(),
            {ChatMessage(QUuid::createUuid(), "And the sea?", ChatMessageType::user, at),
             ChatMessage(QUuid::createUuid(), "It reflects the blue sky.",
                         ChatMessageType::assistant, at.addSecs(1))});
        window = std::make_unique<MainWindow>(h.services(), [] { return nullptr; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        ASSERT_TRUE(eventually([&] { return QApplication::activeWindow() == window.get(); }));
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
        model().setSelectedModel(QStringLiteral("llama3.2:latest"));
        open(sky, 2);
    }
    void TearDown() override {
        window->mainView()->viewModel().applicationWillQuit();
        window.reset();
    }

    MainView* view() const { return window->mainView(); }
    ZoruveVede& model() const { return view()->viewModel(); }
    FindBar* bar() const { return view()->findBar(); }
    QWidget* input() const { return view()->input()->textView(); }
    QString count() const { return bar()->countLabel()->text(); }
    void open(const Conversation& entry, qsizetype messages) {
        model().setSelectedConversation(entry.id());
        ASSERT_TRUE(
            eventually([&] { return view()->transcript()->messages().size() == messages; }));
    }
    void press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key(key), modifiers);
    }
};

TEST_F(FindInConversationTest, CtrlFOpensTheBarUnderTheTranscriptFromAnywhereInTheWindow) {
    EXPECT_FALSE(bar()->isVisible());
    press(input(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar()->isVisible());
    EXPECT_TRUE(bar()->field()->hasFocus());
    // Between the transcript and the input box.
    const QWidget* transcript = view()->transcript();
    EXPECT_GE(bar()->geometry().top(), transcript->geometry().bottom());
    EXPECT_LE(bar()->geometry().bottom(),
              view()->inputFrame()->mapTo(bar()->parentWidget(), QPoint(0, 0)).y());
    QTest::keyClicks(bar()->field(), "blue");
    EXPECT_EQ(count(), "1 of 3");
    QTest::keyClick(bar()->field(), Qt::Key_Escape);
    EXPECT_FALSE(bar()->isVisible());
    EXPECT_TRUE(input()->hasFocus());

    // From the sidebar, and from the transcript.
    press(view()->sidebar()->listView(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(bar()->field()->hasFocus());
    EXPECT_EQ(count(), "1 of 3");
    QTest::keyClick(bar()->field(), Qt::Key_Escape);
    EXPECT_TRUE(view()->sidebar()->listView()->hasFocus()) << "back where it was";
    press(view()->transcript(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(bar()->field()->hasFocus());
    press(input(), Qt::Key_F3);
    EXPECT_EQ(count(), "2 of 3") << "F3 anywhere in the window";
    press(input(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(count(), "1 of 3");
}

TEST_F(FindInConversationTest, TheEditMenuHoldsFindAndTheShortcutsWindowListsIt) {
    QMenu* edit = nullptr;
    for (QAction* menu : window->menuBar()->actions())
        if (menu->text() == "&Edit") edit = menu->menu();
    ASSERT_NE(edit, nullptr);
    QStringList titles;
    for (QAction* action : edit->actions()) titles << action->text();
    // Find's three, then Preferences after a separator.
    EXPECT_EQ(titles.mid(titles.size() - 5),
              QStringList({"&Find…", "Find &Next", "Find Pre&vious", "", "Pr&eferences…"}));
    EXPECT_EQ(bar()->findAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    EXPECT_EQ(bar()->findNextAction()->shortcut(), QKeySequence(Qt::Key_F3));
    EXPECT_EQ(bar()->findPreviousAction()->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F3));
    // The menu item does what the key does.
    bar()->findAction()->trigger();
    EXPECT_TRUE(bar()->isVisible());
    bar()->field()->setText("sky");
    EXPECT_EQ(count(), "1 of 1");

    window->showShortcuts();
    QHash<QString, QString> conversation;
    QTreeWidget* table = window->shortcutsWindow()->table();
    for (int g = 0; g < table->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = table->topLevelItem(g);
        if (group->text(0) != "Conversation") continue;
        for (int i = 0; i < group->childCount(); ++i)
            conversation.insert(group->child(i)->text(0), group->child(i)->text(1));
    }
    const auto native = [](const QKeySequence& keys) {
        return keys.toString(QKeySequence::NativeText);
    };
    EXPECT_EQ(conversation.value("Find"), native(QKeySequence(Qt::CTRL | Qt::Key_F)));
    EXPECT_EQ(conversation.value("Find Next"), native(QKeySequence(Qt::Key_F3)));
    EXPECT_EQ(conversation.value("Find Previous"), native(QKeySequence(Qt::SHIFT | Qt::Key_F3)));
    EXPECT_EQ(conversation.value("Next match (in the find field)"),
              native(QKeySequence(Qt::Key_Return)));
    EXPECT_EQ(conversation.value("Close the find bar (in the find field)"),
              native(QKeySequence(Qt::Key_Escape)));
    window->shortcutsWindow()->close();
}

TEST_F(FindInConversationTest, EscapeInTheFieldClosesTheBarAndLeavesAReplyGoing) {
    ChatScript script = ChatScript::words("The blue words of a reply");
    script.stallAfter = 3;
    h.server.setChatScript(script);
    model().setInputText(QStringLiteral("Tell me more."));
    model().sendMessage();
    ASSERT_TRUE(eventually([&] {
        return model().inSendingMessage() && model().messages().size() == 4 &&
               !model().messages().last().content().isEmpty();
    }));
    QSignalSpy stops(window->commands()->stop(), &QAction::triggered);
    press(input(), Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(bar()->field(), "blue");
    ASSERT_TRUE(eventually([&] { return view()->transcript()->findMatchCount() == 4; }))
        << "the reply's match follows as it comes";
    QTest::keyClick(bar()->field(), Qt::Key_Escape);
    EXPECT_FALSE(bar()->isVisible());
    EXPECT_EQ(stops.count(), 0);
    EXPECT_TRUE(model().inSendingMessage());
    // Outside the field Escape stops the reply as before.
    press(input(), Qt::Key_Escape);
    EXPECT_EQ(stops.count(), 1);
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
}

TEST_F(FindInConversationTest, AnotherConversationIsLookedThroughWithTheBarOpen) {
    press(input(), Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(bar()->field(), "blue");
    EXPECT_EQ(count(), "1 of 3");
    open(sea, 2);
    ASSERT_TRUE(eventually([&] { return count() == "1 match"; }));
    EXPECT_TRUE(bar()->isVisible());
    QTest::keyClick(bar()->field(), Qt::Key_Return);
    EXPECT_EQ(count(), "1 of 1");
    EXPECT_EQ(view()->transcript()->currentFindRow(), 1);
}

}  // namespace

// The Conversation menu and the keyboard as a user works the main window, with the real
// application model against the fake Ollama server: each command's shortcut from wherever
// the focus is, each command enabled only while it can act, Send turning into Stop,
// Escape stopping a reply but keeping its meaning in dialogs, sheets and text fields of
// their own, the transcript's requests reaching the model, the order of Tab and the
// "Keyboard Shortcuts" window. (The menu bar's titles are the shell test's.)

#include <QAbstractButton>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeWidget>

#include "ConversationCommands.h"
#include "ConversationListView.h"
#include "CustomTextView.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ShortcutsWindow.h"
#include "TranscriptView.h"
#include "WelcomeView.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

QString native(const QKeySequence& keys) {
    return keys.toString(QKeySequence::NativeText);
}

class CommandsTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainWindow> window;
    const Conversation first = stored("First", "one");
    const Conversation second = stored("Second", "Blue");

    void TearDown() override {
        if (!window) return;
        window->mainView()->viewModel().applicationWillQuit();
        window.reset();
    }

    /// Two stored conversations, the second with a finished exchange and an error after it.
    void storeConversations() {
        h.store.saveTOC({first, second});
        const QDateTime at(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);
        h.store.writeConversation(
            second.id().uuid(),
            {ChatMessage(QUuid::createUuid(), "Why is the sky blue?", ChatMessageType::user, at),
             ChatMessage(QUuid::createUuid(), "Because of **Rayleigh** scattering.",
                         ChatMessageType::assistant, at.addSecs(1)),
             ChatMessage(QUuid::createUuid(), "The model went away.", ChatMessageType::error,
                         at.addSecs(2))});
    }

    /// Makes, shows and activates the window, and waits for the model list.
    void start() {
        window = std::make_unique<MainWindow>(h.services(), [] { return nullptr; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        activate(window.get());
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
        model().setSelectedModel(QStringLiteral("llama3.2:latest"));
    }

    MainView* view() const { return window->mainView(); }
    ZoruveVede& model() const { return view()->viewModel(); }
    ConversationCommands* commands() const { return window->commands(); }
    QWidget* input() const { return view()->input()->textView(); }
    QListView* list() const { return view()->sidebar()->listView(); }

    /// Focuses `widget` and presses `key` there, as the user would.
    void press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key(key), modifiers);
    }

    void open(const Conversation& entry, qsizetype messages) {
        model().setSelectedConversation(entry.id());
        ASSERT_TRUE(
            eventually([&] { return view()->transcript()->messages().size() == messages; }));
    }

    /// Sends a message whose reply stops after its first words and stays under way.
    void startHeldReply() {
        ChatScript script = ChatScript::words("The first words of a reply");
        script.stallAfter = 3;
        h.server.setChatScript(script);
        const qsizetype before = model().messages().size();
        model().setInputText(QStringLiteral("Tell me more."));
        model().sendMessage();
        ASSERT_TRUE(eventually([&] {
            return model().inSendingMessage() && model().messages().size() == before + 2 &&
                   !model().messages().last().content().isEmpty();
        }));
    }

    /// Makes the main window the active one again, as the desktop does when a dialog
    /// closes.
    void backToWindow() { activate(window.get()); }
    /// Makes `top` the active window, as the desktop does when it is clicked or shown.
    /// (Qt's own activity tests also accept a dialog whose parent is active.)
    void activate(QWidget* top) {
        top->activateWindow();
        ASSERT_TRUE(eventually([&] { return QApplication::activeWindow() == top; }));
    }

    /// The chat requests that were not for a title.
    std::size_t replyRequests() const {
        std::size_t count = 0;
        for (const auto& request : h.server.requestsTo("/api/chat"))
            count += request.body["messages"].back()["content"] != kTitlePrompt.toStdString();
        return count;
    }

    QAbstractButton* button(QMessageBox* box, const QString& text) {
        for (QAbstractButton* b : box->buttons())
            if (b->text() == text) return b;
        return nullptr;
    }
};

// ---- the menus -----------------------------------------------------------------------------

TEST_F(CommandsTest, AltAndALetterOpensOneMenuAndInAMenuOneItem) {
    start();
    auto distinct = [](const QList<QAction*>& actions) {
        QList<QChar> seen;
        for (QAction* action : actions) {
            const qsizetype at = action->text().indexOf(QLatin1Char('&'));
            if (at < 0) continue;
            const QChar key = action->text().at(at + 1).toLower();
            if (seen.contains(key)) return false;
            seen << key;
        }
        return true;
    };
    const QList<QAction*> menus = window->menuBar()->actions();
    EXPECT_TRUE(distinct(menus));
    for (QAction* menu : menus) {
        EXPECT_TRUE(distinct(menu->menu()->actions())) << menu->text().toStdString();
        for (QAction* item : menu->menu()->actions())
            EXPECT_TRUE(item->isSeparator() || item->text().contains('&'))
                << "no mnemonic: " << item->text().toStdString();
    }

    // Alt and the letter open the menu; Escape closes it and the focus is back.
    for (auto [key, title] : {std::pair{Qt::Key_F, "&File"}, std::pair{Qt::Key_E, "&Edit"},
                              std::pair{Qt::Key_V, "&View"}, std::pair{Qt::Key_H, "&Help"}}) {
        press(input(), key, Qt::AltModifier);
        QMenu* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(open, nullptr) << title;
        EXPECT_EQ(open->menuAction()->text(), title);
        QTest::keyClick(open, Qt::Key_Escape);
        if (QApplication::activePopupWidget()) QTest::keyClick(window->menuBar(), Qt::Key_Escape);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        backToWindow();
    }
}

// ---- enabling --------------------------------------------------------------------------------

TEST_F(CommandsTest, EachCommandIsEnabledOnlyWhileItCanAct) {
    storeConversations();
    start();
    ConversationCommands* c = commands();
    auto enabled = [&] {
        QStringList on;
        for (QAction* action : c->menuLayout())
            if (action && action->isEnabled()) on << action->text().remove('&');
        return on;
    };

    // The new-conversation entry, nothing sent yet.
    EXPECT_EQ(enabled(), QStringList({"New Conversation", "Search Conversations…",
                                      "Attach Picture…", "Next Conversation", "Focus Input"}));

    // The last conversation, with a finished reply.
    open(second, 3);
    EXPECT_EQ(enabled(), QStringList({"New Conversation", "Search Conversations…", "Regenerate",
                                      "Edit Last Message", "Copy Last Reply", "Attach Picture…",
                                      "Conversation Settings…", "Pin Conversation", "Rename…",
                                      "Delete…", "Previous Conversation", "Focus Input"}));

    // While a reply is written only what does not touch the transcript stays, and Stop.
    startHeldReply();
    EXPECT_EQ(enabled(),
              QStringList({"New Conversation", "Search Conversations…", "Stop", "Copy Last Reply",
                           "Attach Picture…", "Conversation Settings…", "Pin Conversation",
                           "Rename…", "Delete…", "Previous Conversation", "Focus Input"}));
    c->stop()->trigger();
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
    EXPECT_FALSE(c->stop()->isEnabled());
    EXPECT_TRUE(c->regenerate()->isEnabled());
    EXPECT_TRUE(c->editLastMessage()->isEnabled());
}

// ---- Send and Stop ---------------------------------------------------------------------------

TEST_F(CommandsTest, SendReadsStopWhileAReplyIsWrittenAndStopsIt) {
    start();
    QPushButton* send = view()->sendButton();
    EXPECT_EQ(send->text(), "Send");
    EXPECT_FALSE(send->isEnabled()) << "nothing typed";

    startHeldReply();
    EXPECT_EQ(send->text(), "Stop");
    EXPECT_TRUE(send->isEnabled());
    EXPECT_GE(send->width(), send->sizeHint().width());
    send->click();
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
    EXPECT_TRUE(model().messages().at(1).stopped()) << "the text so far stays, marked";
    EXPECT_EQ(send->text(), "Send");
    EXPECT_FALSE(send->isEnabled());

    // Escape in the input box stops too.
    startHeldReply();
    press(input(), Qt::Key_Escape);
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
    EXPECT_TRUE(model().messages().last().stopped());
    EXPECT_EQ(send->text(), "Send");
}

TEST_F(CommandsTest, EscapeKeepsItsMeaningInDialogsSheetsAndFieldsOfTheirOwn) {
    storeConversations();
    start();
    QSignalSpy stops(commands()->stop(), &QAction::triggered);
    startHeldReply();

    // The model manager sheet closes.
    view()->setShowModelPopover(true);
    ASSERT_NE(view()->modelSheet(), nullptr);
    QTest::keyClick(view()->modelSheet(), Qt::Key_Escape);
    EXPECT_FALSE(view()->showModelPopover());
    backToWindow();

    // An alert closes.
    model().setModalAlertTitle("Model Installed");
    model().setModalAlertMessage("Model phi3:mini was installed successfully.");
    model().setShowModalAlert(true);
    ASSERT_NE(view()->generalAlert(), nullptr);
    QTest::keyClick(view()->generalAlert(), Qt::Key_Escape);
    EXPECT_FALSE(model().showModalAlert());
    backToWindow();

    // The welcome sheet keeps its one way out.
    model().setFirstLaunch(true);
    ASSERT_NE(view()->welcomeSheet(), nullptr);
    QTest::keyClick(view()->welcomeSheet(), Qt::Key_Escape);
    EXPECT_NE(view()->welcomeSheet(), nullptr);
    model().setFirstLaunch(false);
    backToWindow();

    // The delete confirmation, a dialog, cancels.
    view()->sidebar()->askDelete(first.id());
    ASSERT_NE(view()->sidebar()->deleteConfirmation(), nullptr);
    QTest::keyClick(view()->sidebar()->deleteConfirmation(), Qt::Key_Escape);
    ASSERT_TRUE(eventually([&] { return view()->sidebar()->deleteConfirmation() == nullptr; }));
    EXPECT_EQ(model().conversations().size(), 3);
    backToWindow();

    // The rename field keeps the old title.
    press(input(), Qt::Key_F2);
    QLineEdit* title = view()->sidebar()->titleEditor();
    ASSERT_NE(title, nullptr);
    QTest::keyClick(title, Qt::Key_Escape);
    EXPECT_EQ(view()->sidebar()->titleEditor(), nullptr);

    // A text field inside the transcript (its in-place editor) gets its Escape.
    struct Field : QPlainTextEdit {
        using QPlainTextEdit::QPlainTextEdit;
        int escapes = 0;
        void keyPressEvent(QKeyEvent* event) override {
            escapes += event->key() == Qt::Key_Escape;
            QPlainTextEdit::keyPressEvent(event);
        }
    };
    auto* field = new Field(view()->transcript()->viewport());
    field->show();
    press(field, Qt::Key_Escape);
    EXPECT_EQ(field->escapes, 1);
    delete field;

    // The shortcuts window closes.
    window->showShortcuts();
    activate(window->shortcutsWindow());
    QTest::keyClick(window->shortcutsWindow()->table(), Qt::Key_Escape);
    EXPECT_FALSE(window->shortcutsWindow()->isVisible());

    EXPECT_EQ(stops.count(), 0);
    EXPECT_TRUE(model().inSendingMessage());

    // Back in the window, Escape in the sidebar stops the reply.
    backToWindow();
    press(list(), Qt::Key_Escape);
    EXPECT_EQ(stops.count(), 1);
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
}

// ---- the conversation commands ---------------------------------------------------------------

TEST_F(CommandsTest, TheSidebarIsWalkedAndTheInputReachedFromAnywhere) {
    storeConversations();
    start();
    model().setInputText("draft");
    press(input(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(model().selectedConversation(), first.id());
    EXPECT_EQ(view()->sidebar()->selectedConversation(), first.id());
    QTest::keyClick(input(), Qt::Key_PageDown, Qt::ControlModifier);
    ASSERT_TRUE(eventually([&] { return view()->transcript()->messages().size() == 3; }));
    EXPECT_EQ(model().conversationDescription(), "Second");
    QTest::keyClick(input(), Qt::Key_PageDown, Qt::ControlModifier);  // the last one: stays
    EXPECT_EQ(model().selectedConversation(), second.id());

    press(list(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(model().selectedConversation(), first.id());
    EXPECT_TRUE(input()->hasFocus()) << "the next words go to the input box";

    // Ctrl+L puts the focus in the input box, Ctrl+N opens a new conversation there.
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(input()->hasFocus());
    open(second, 3);
    press(list(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(eventually([&] { return view()->transcript()->messages().isEmpty(); }));
    EXPECT_TRUE(model().selectedConversation().isNewConversation());
    EXPECT_EQ(model().conversationDescription(), "New Conversation");
    EXPECT_TRUE(input()->hasFocus());
    QTest::keyClick(input(), Qt::Key_PageUp, Qt::ControlModifier);  // the first row: stays
    EXPECT_TRUE(model().selectedConversation().isNewConversation());
    EXPECT_EQ(view()->input()->text(), "draft") << "no key reached the text";
}

TEST_F(CommandsTest, CtrlShiftPPinsTheSelectedConversationAndTheWalkFollowsTheSidebar) {
    storeConversations();
    start();
    QAction* pin = commands()->pin();
    EXPECT_FALSE(pin->isEnabled()) << "nothing to pin in a new conversation";
    open(second, 3);
    EXPECT_EQ(pin->text().remove('&'), "Pin Conversation");
    press(input(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(model().conversations()[1].pinned());
    EXPECT_TRUE(h.toc()["contents"][1]["pinned"].get<bool>());
    EXPECT_EQ(pin->text().remove('&'), "Unpin Conversation");
    const QAbstractItemModel* rows = list()->model();
    EXPECT_EQ(rows->index(2, 0).data().toString(), "Second");
    EXPECT_EQ(rows->index(4, 0).data().toString(), "First");

    // Ctrl+PageDown walks as the sidebar shows: the pinned one first, then the others.
    press(input(), Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(input(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(model().selectedConversation(), second.id());
    QTest::keyClick(input(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(model().selectedConversation(), first.id());
    EXPECT_FALSE(commands()->nextConversation()->isEnabled()) << "the last row shown";
    QTest::keyClick(input(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(model().selectedConversation(), second.id());

    // The menu item unpins, and the list is written as it was.
    pin->trigger();
    EXPECT_FALSE(model().conversations()[1].pinned());
    EXPECT_FALSE(h.toc()["contents"][1].contains("pinned"));
    EXPECT_EQ(rows->rowCount(), 3) << "no headers without pins";
}

TEST_F(CommandsTest, CopyLastReplyCopiesTheModelsMarkdownSource) {
    storeConversations();
    start();
    QGuiApplication::clipboard()->setText("before");
    press(input(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before") << "no reply yet";

    open(second, 3);
    press(input(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Because of **Rayleigh** scattering.")
        << "the reply before the error, as written";
}

TEST_F(CommandsTest, F2RenamesAndDeleteAsksOnlyFromTheSidebar) {
    storeConversations();
    start();
    press(input(), Qt::Key_F2);
    EXPECT_EQ(view()->sidebar()->titleEditor(), nullptr) << "nothing to rename";

    open(first, 0);
    press(input(), Qt::Key_F2);
    QLineEdit* title = view()->sidebar()->titleEditor();
    ASSERT_NE(title, nullptr);
    EXPECT_TRUE(title->hasFocus());
    EXPECT_EQ(view()->sidebar()->editingConversation(), first.id());
    // Delete in the rename field edits the title.
    QTest::keyClick(title, Qt::Key_Home);
    QTest::keyClick(title, Qt::Key_Delete);
    EXPECT_EQ(title->text(), "irst");
    EXPECT_EQ(view()->sidebar()->deleteConfirmation(), nullptr);
    QTest::keyClick(title, Qt::Key_Return);
    EXPECT_EQ(model().conversations().at(0).title(), "irst");

    // Nor does the transcript take it for the conversation.
    press(view()->transcript(), Qt::Key_Delete);
    EXPECT_EQ(view()->sidebar()->deleteConfirmation(), nullptr);

    // In the sidebar it asks; so does the menu item.
    press(list(), Qt::Key_Delete);
    QMessageBox* box = view()->sidebar()->deleteConfirmation();
    ASSERT_NE(box, nullptr);
    button(box, "Cancel")->click();
    ASSERT_TRUE(eventually([&] { return view()->sidebar()->deleteConfirmation() == nullptr; }));
    backToWindow();
    commands()->remove()->trigger();
    box = view()->sidebar()->deleteConfirmation();
    ASSERT_NE(box, nullptr);
    button(box, "Delete")->click();
    ASSERT_EQ(model().conversations().size(), 1);
    EXPECT_EQ(model().conversations().at(0).id(), second.id());
    EXPECT_FALSE(commands()->remove()->isEnabled()) << "back on the new-conversation entry";
}

TEST_F(CommandsTest, RegenerateAndTheTranscriptsRequestsReachTheModel) {
    storeConversations();
    h.answer(ChatScript::words("Fresh."), "Title");
    start();
    open(second, 3);
    press(input(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(eventually([&] {
        return !model().inSendingMessage() && model().messages().size() == 2 &&
               model().messages().at(1).content() == "Fresh.";
    }));
    EXPECT_TRUE(model().messages().at(1).hasVariants()) << "the former reply stays a version";
    EXPECT_EQ(replyRequests(), 1u);

    TranscriptView* t = view()->transcript();
    emit t->regenerateRequested(model().messages().at(1).id());
    ASSERT_TRUE(eventually([&] { return replyRequests() == 2 && !model().inSendingMessage(); }));

    emit t->editSubmitted(model().messages().at(0).id(), "Why is the sea blue?");
    ASSERT_TRUE(eventually([&] {
        return !model().inSendingMessage() &&
               model().messages().at(0).content() == "Why is the sea blue?";
    }));
    emit t->variantRequested(model().messages().at(0).id(), 0);
    ASSERT_TRUE(
        eventually([&] { return model().messages().at(0).content() == "Why is the sky blue?"; }));
}

TEST_F(CommandsTest, UpInTheEmptyInputBoxOrTheMenuItemEditsTheLastMessage) {
    storeConversations();
    start();
    open(second, 3);
    TranscriptView* t = view()->transcript();
    const QUuid question = model().messages().at(0).id();

    model().setInputText("draft");
    press(input(), Qt::Key_Up);
    EXPECT_EQ(t->editingMessage(), std::nullopt) << "with text the cursor moves";
    model().setInputText("");
    press(input(), Qt::Key_Up);
    EXPECT_EQ(t->editingMessage(), question);
    ASSERT_NE(t->editor(), nullptr);
    EXPECT_TRUE(t->editor()->hasFocus());
    QTest::keyClick(t->editor(), Qt::Key_Escape);
    EXPECT_EQ(t->editingMessage(), std::nullopt);

    commands()->editLastMessage()->trigger();
    EXPECT_EQ(t->editingMessage(), question);
    t->cancelEditing();

    // While a reply is written the transcript knows it, and nothing opens for editing.
    startHeldReply();
    EXPECT_TRUE(t->isReplyInProgress());
    press(input(), Qt::Key_Up);
    EXPECT_EQ(t->editingMessage(), std::nullopt);
    press(input(), Qt::Key_Escape);
    ASSERT_TRUE(eventually([&] { return !t->isReplyInProgress(); }));
}

// ---- keyboard reach --------------------------------------------------------------------------

TEST_F(CommandsTest, TabReachesSidebarItsButtonModelMenuSettingsTranscriptInputAndSendInTurn) {
    storeConversations();
    start();
    open(second, 3);
    model().setInputText("hello");
    ASSERT_TRUE(view()->sendButton()->isEnabled());

    // The transcript's own controls take Tab turns inside it: they count as the transcript.
    auto part = [&](QWidget* widget) -> QWidget* {
        TranscriptView* t = view()->transcript();
        return widget && (widget == t || t->isAncestorOf(widget)) ? t : widget;
    };
    list()->setFocus();
    QList<QWidget*> visited{list()};
    for (int i = 0; i < 40 && visited.last() != view()->sendButton(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = part(QApplication::focusWidget());
        if (now != visited.last()) visited << now;
    }
    EXPECT_EQ(visited, (QList<QWidget*>{list(), view()->sidebarButton(), view()->modelButton(),
                                        view()->settingsButton(), view()->transcript(),
                                        view()->attachButton(), input(), view()->sendButton()}));
}

// ---- the shortcuts window --------------------------------------------------------------------

TEST_F(CommandsTest, TheShortcutsWindowListsEveryActionWithItsKeys) {
    start();
    press(input(), Qt::Key_Question, Qt::ControlModifier);
    ShortcutsWindow* shortcuts = window->shortcutsWindow();
    ASSERT_NE(shortcuts, nullptr);
    EXPECT_TRUE(shortcuts->isVisible());
    EXPECT_FALSE(shortcuts->isModal());

    // Every action with a shortcut is listed with all of its keys.
    QHash<QString, QString> listed;
    QStringList groups;
    QTreeWidget* table = shortcuts->table();
    for (int g = 0; g < table->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = table->topLevelItem(g);
        groups << group->text(0);
        for (int i = 0; i < group->childCount(); ++i)
            listed.insert(group->child(i)->text(0), group->child(i)->text(1));
    }
    EXPECT_EQ(groups, QStringList({"Conversation", "Input", "Sidebar", "Application"}));
    for (QAction* action : window->menuActions()) {
        if (action->shortcuts().isEmpty()) continue;
        const QString key = native(action->shortcut());
        const bool found = std::any_of(listed.begin(), listed.end(), [&](const QString& keys) {
            return keys.split(", ").contains(key);
        });
        EXPECT_TRUE(found) << action->text().toStdString();
    }
    EXPECT_EQ(listed.value("New Conversation"), native(QKeySequence::New));
    EXPECT_EQ(listed.value("Delete (in the sidebar)"), native(QKeySequence::Delete));
    EXPECT_EQ(listed.value("Pin Conversation"), native(QKeySequence("Ctrl+Shift+P")));
    EXPECT_EQ(listed.value("Keyboard Shortcuts"),
              native(QKeySequence("Ctrl+?")) + ", " + native(QKeySequence("Ctrl+Shift+/")));
    // And the keys that are not actions.
    EXPECT_EQ(listed.value("Send the message"), native(QKeySequence(Qt::Key_Return)));
    EXPECT_EQ(listed.value("Edit Last Message (in the empty input box)"),
              native(QKeySequence(Qt::Key_Up)));
    EXPECT_EQ(listed.value("Close a dialog or sheet"), native(QKeySequence(Qt::Key_Escape)));

    // One window: asked for again (with the other spelling of the keys), it comes forward.
    shortcuts->close();
    backToWindow();
    press(input(), Qt::Key_Slash, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(window->shortcutsWindow(), shortcuts);
    EXPECT_TRUE(shortcuts->isVisible());
    int windows = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        windows += qobject_cast<ShortcutsWindow*>(top) != nullptr;
    EXPECT_EQ(windows, 1);
}

}  // namespace

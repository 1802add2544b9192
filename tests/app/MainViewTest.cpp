// The main window's content as a user works it, with the real application model against
// the fake Ollama server: the model menu, typing and sending, the transcript's rows and
// their copy buttons, following a streamed reply, the sidebar, the model manager sheet
// and the alerts.

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>

#include "ConversationListView.h"
#include "CustomTextView.h"
#include "Harness.h"
#include "MainView.h"
#include "ModelManagerView.h"
#include "TranscriptView.h"
#include "UndoBar.h"
#include "WelcomeView.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

QList<ChatMessage> transcript(int count, QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(9, 0),
                                                                     Qt::UTC)) {
    QList<ChatMessage> list;
    for (int i = 0; i < count; ++i) {
        const bool user = i % 2 == 0;
        list.append(ChatMessage(
            QUuid::createUuid(),
            user ? QStringLiteral("Question %1?").arg(i)
                 : QStringLiteral("Answer **%1**, with a [link](https://example.org/%1).").arg(i),
            user ? ChatMessageType::user : ChatMessageType::assistant, start.addSecs(i)));
    }
    return list;
}

class MainViewTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainView> view;
    QList<QUrl> opened;

    void TearDown() override {
        if (view) view->viewModel().applicationWillQuit();
        view.reset();
    }

    /// Makes and shows the window; waits for the model list unless told otherwise.
    MainView& start(bool waitForModels = true) {
        view = std::make_unique<MainView>(h.services());
        view->setUrlOpener([this](const QUrl& url) {
            opened << url;
            return true;
        });
        view->resize(1000, 700);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        if (waitForModels) {
            EXPECT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
        }
        return *view;
    }
    ZoruveVede& model() { return view->viewModel(); }
    CustomNSTextView* editor() { return view->input()->textView(); }

    void chooseModel(const QString& id) {
        for (QAction* action : view->modelMenu()->actions())
            if (action->data().toString() == id) action->trigger();
    }
    void type(const QString& text) {
        editor()->setFocus();
        QTest::keyClicks(editor(), text);
    }
    QMessageBox* alert(const QString& title) {
        for (QMessageBox* box : view->findChildren<QMessageBox*>())
            if (box->isVisible() && box->windowTitle() == title) return box;
        return nullptr;
    }
};

TEST_F(MainViewTest, TheModelMenuListsTheModelsThenManageModels) {
    h.server.setModels({});
    view = std::make_unique<MainView>(h.services());
    QSignalSpy listed(&model(), &ZoruveVede::availableModelsChanged);
    view->show();
    ASSERT_TRUE(listed.wait(5000)) << "the empty list arrived";
    ASSERT_EQ(view->modelMenu()->actions().size(), 1);
    EXPECT_EQ(view->modelMenu()->actions().first()->text(), "Manage Models");
    EXPECT_EQ(view->modelButton()->text(), "Select Model");

    h.server.setModels({ModelInfo::make("llama3.2:latest"), ModelInfo::make("qwen3:8b")});
    model().reloadModels();
    ASSERT_TRUE(eventually([&] { return view->modelMenu()->actions().size() == 4; }));
    const QList<QAction*> items = view->modelMenu()->actions();
    EXPECT_EQ(ModelMenu::nameOf(items[0]), "llama3.2:latest");
    EXPECT_EQ(ModelMenu::nameOf(items[1]), "qwen3:8b");
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->text(), "Manage Models");

    chooseModel("qwen3:8b");
    EXPECT_EQ(model().selectedModel(), "qwen3:8b");
    EXPECT_EQ(view->modelButton()->text(), "qwen3:8b");
    // A name the list does not hold is still shown as it is.
    model().setSelectedModel(QStringLiteral("gone:1b"));
    EXPECT_EQ(view->modelButton()->text(), "gone:1b");

    items[3]->trigger();
    ASSERT_NE(view->modelSheet(), nullptr);
    EXPECT_TRUE(view->modelSheet()->isVisible());
    EXPECT_EQ(view->modelManager()->currentPane(), ModelManagerView::Pane::Help);
    view->modelManager()->doneButton()->click();
    EXPECT_EQ(view->modelSheet(), nullptr);
    EXPECT_FALSE(view->showModelPopover());
}

// What a menu item or a button shows of `text`: '&' marks the next character as the
// shortcut, "&&" is a literal '&'.
QString shownByMnemonicWidget(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && ++i == text.size()) break;
        shown += text.at(i);
    }
    return shown;
}

TEST_F(MainViewTest, ModelNamesShowAsTheyAreAndCannotPassForOthers) {
    const QString spoof = QStringLiteral("gpt-\u202Elave:7b");  // would read "gpt-eval:7b"
    const QString longName = "x&y/" + QString(300, QLatin1Char('m')) + ":q4&k";
    h.server.setModels({ModelInfo::make("fish&chips:latest"), ModelInfo::make(spoof.toStdString()),
                        ModelInfo::make(longName.toStdString())});
    view = std::make_unique<MainView>(h.services());
    view->resize(1000, 700);
    view->show();
    ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 3; }));

    const QList<QAction*> items = view->modelMenu()->actions();
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(shownByMnemonicWidget(ModelMenu::nameOf(items[0])), "fish&chips:latest");
    EXPECT_EQ(shownByMnemonicWidget(ModelMenu::nameOf(items[1])), "gpt-<U+202E>lave:7b");
    const QString cut = shownByMnemonicWidget(ModelMenu::nameOf(items[2]));
    EXPECT_TRUE(cut.startsWith("x&y/m") && cut.endsWith(":q4&k")) << cut.toStdString();
    EXPECT_LE(view->modelMenu()->sizeHint().width(), MainView::modelMenuWidth);

    items[1]->trigger();
    EXPECT_EQ(shownByMnemonicWidget(view->modelButton()->text()), "gpt-<U+202E>lave:7b");
    items[2]->trigger();
    const QString button = shownByMnemonicWidget(view->modelButton()->text());
    EXPECT_TRUE(button.startsWith("x&y/m") && button.endsWith(":q4&k")) << button.toStdString();
    EXPECT_LT(button.size(), 60);

    // The model manager's list and its removal confirmation.
    view->setShowModelPopover(true);
    ModelManagerView* manager = view->modelManager();
    EXPECT_EQ(manager->listWidget()->item(0)->text(), "fish&chips:latest");
    EXPECT_EQ(manager->listWidget()->item(1)->text(), "gpt-<U+202E>lave:7b");
    manager->setSelection(spoof);
    EXPECT_EQ(manager->detailValues()[0]->text(), "gpt-<U+202E>lave:7b");
    manager->askDelete();
    ASSERT_NE(manager->deleteConfirmation(), nullptr);
    EXPECT_EQ(manager->deleteConfirmation()->text(),
              "Are you sure you want to delete 'gpt-<U+202E>lave:7b'? This action cannot be "
              "undone.");
    manager->deleteConfirmation()->close();
    view->setShowModelPopover(false);

    // An alert quoting a name.
    model().setModalAlertTitle("Error");
    model().setModalAlertMessage("Unable to remove model '" + spoof + "': error 500");
    model().setShowModalAlert(true);
    ASSERT_NE(view->generalAlert(), nullptr);
    EXPECT_EQ(view->generalAlert()->informativeText(),
              "Unable to remove model 'gpt-<U+202E>lave:7b': error 500");
}

TEST_F(MainViewTest, TypingReturnAndSendFollowTheEnablingRule) {
    h.server.setChatScript(ChatScript::words("The **answer** is 42.", 40ms));
    start();
    chooseModel("llama3.2:latest");
    EXPECT_FALSE(view->sendButton()->isEnabled());

    type("  ");
    QTest::keyClick(editor(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(model().inputText(), "  \n") << "Shift+Return breaks the line";
    EXPECT_FALSE(view->sendButton()->isEnabled()) << "only white space";
    QTest::keyClick(editor(), Qt::Key_Return);  // the model refuses blank text (tested there)

    editor()->clear();
    type("What is the answer?");
    EXPECT_EQ(model().inputText(), "What is the answer?");
    EXPECT_TRUE(view->sendButton()->isEnabled());
    QTest::keyClick(editor(), Qt::Key_Return);
    ASSERT_TRUE(eventually([&] { return model().inSendingMessage(); }));
    EXPECT_TRUE(editor()->toPlainText().isEmpty()) << "the sent text leaves the box";

    type("next question");
    EXPECT_EQ(view->sendButton()->text(), "Stop") << "it stops the reply while that streams";
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }, 10s));
    EXPECT_EQ(view->sendButton()->text(), "Send");
    EXPECT_TRUE(view->sendButton()->isEnabled());
    ASSERT_EQ(model().messages().size(), 2);
    EXPECT_EQ(model().messages().at(1).content(), "The **answer** is 42.");
    EXPECT_EQ(view->transcript()->messages().size(), 2);
    EXPECT_EQ(view->sidebar()->conversations().size(), 1);
    EXPECT_EQ(view->sidebar()->selectedConversation(), model().selectedConversation());

    // The Send button sends too.
    view->sendButton()->click();
    ASSERT_TRUE(eventually(
        [&] { return model().messages().size() == 4 && !model().inSendingMessage(); }, 10s));
    EXPECT_EQ(model().messages().at(2).content(), "next question");
}

TEST_F(MainViewTest, TheInputBoxGrowsWithItsTextUpTo120) {
    start();
    const int oneLine = view->inputFrame()->height();
    EXPECT_EQ(oneLine, CustomTextView::boxHeight(30));
    type("one");
    for (int i = 0; i < 3; ++i) QTest::keyClick(editor(), Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_TRUE(eventually([&] { return view->inputFrame()->height() > oneLine; }));
    for (int i = 0; i < 20; ++i) QTest::keyClick(editor(), Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_TRUE(eventually([&] { return view->inputFrame()->height() == 120; }));
    EXPECT_GT(view->textHeight(), 104);
}

TEST_F(MainViewTest, RowsAreAlignedByTypeAndCopyTheirRawContent) {
    const Conversation entry = stored("Colours", "Blue");
    h.store.saveTOC({entry});
    const QDateTime today = QDateTime::currentDateTime();
    h.store.writeConversation(
        entry.id().uuid(),
        {ChatMessage(QUuid::createUuid(), "Why is the sky *blue*?", ChatMessageType::user,
                     today.addDays(-1)),
         ChatMessage(QUuid::createUuid(), "Because of **Rayleigh** scattering.",
                     ChatMessageType::assistant, today),
         ChatMessage(QUuid::createUuid(), "The model went away.", ChatMessageType::error, today)});
    start();
    model().setSelectedConversation(entry.id());
    ASSERT_TRUE(eventually([&] { return view->transcript()->messages().size() == 3; }));
    EXPECT_EQ(view->descriptionLabel()->toolTip(), "Colours");
    TranscriptView* t = view->transcript();

    const QRect user = t->bubbleRect(0);
    const QRect assistant = t->bubbleRect(1);
    const QRect error = t->bubbleRect(2);
    const int right = t->viewport()->width() - TranscriptView::padding;
    EXPECT_EQ(user.right() + 1, right) << "the user's bubble sits on the right";
    EXPECT_EQ(assistant.left(), TranscriptView::padding) << "the model's on the left";
    EXPECT_LT(assistant.right(), right - TranscriptView::sideSpace + 1);
    EXPECT_EQ(t->copyButtonRect(0).right() + 1, right);
    EXPECT_EQ(t->copyButtonRect(1).left(), TranscriptView::padding);
    EXPECT_EQ(t->copyButtonRect(2).left(), TranscriptView::padding);
    EXPECT_GT(error.width(), assistant.width()) << "an error takes the whole width";

    QGuiApplication::clipboard()->setText("before");
    QSignalSpy copied(t, &TranscriptView::copied);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->copyButtonRect(0).center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Why is the sky *blue*?")
        << "the Markdown source";
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->copyButtonRect(2).center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "The model went away.");
    EXPECT_EQ(copied.count(), 2);
    // A click beside the button copies nothing.
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {},
                      t->copyButtonRect(1).center() + QPoint(0, 30));
    EXPECT_EQ(copied.count(), 2);
}

TEST_F(MainViewTest, ALongConversationOpensAtItsEndLayingOutOnlyWhatIsSeen) {
    const Conversation entry = stored("Long", "");
    h.store.saveTOC({entry});
    const QList<ChatMessage> messages = transcript(10'000);
    h.store.writeConversation(entry.id().uuid(), messages);
    start();
    TranscriptView* t = view->transcript();
    model().setSelectedConversation(entry.id());
    ASSERT_TRUE(eventually([&] { return t->messages().size() == 10'000; }));
    t->viewport()->repaint();
    EXPECT_LT(t->laidOutRowCount(), 60) << "only the rows on screen are laid out";
    const QRect last = t->rowRect(9'999);
    EXPECT_GT(last.bottom(), 0);
    EXPECT_LE(last.bottom(), t->viewport()->height()) << "the last message is in view";
    EXPECT_EQ(t->verticalScrollBar()->value(), t->verticalScrollBar()->maximum());

    // Back to the top by the scroll bar: those rows are laid out when they come into view.
    t->verticalScrollBar()->setValue(0);
    t->viewport()->repaint();
    EXPECT_EQ(t->rowRect(0).top(), TranscriptView::padding);
    EXPECT_LT(t->laidOutRowCount(), 120);

    // Selecting the new-conversation entry empties the transcript.
    const QRect newEntry =
        view->sidebar()->listView()->visualRect(view->sidebar()->listView()->model()->index(0, 0));
    QTest::mouseClick(view->sidebar()->listView()->viewport(), Qt::LeftButton, {},
                      newEntry.center());
    ASSERT_TRUE(eventually([&] { return t->messages().isEmpty(); }));
    EXPECT_EQ(model().conversationDescription(), "New Conversation");
    EXPECT_EQ(model().currentConversation(), nullptr);
}

TEST_F(MainViewTest, TheGrowingReplyIsFollowedUntilTheUserScrollsUpAndAgainAfterEnd) {
    const Conversation entry = stored("Chat", "");
    h.store.saveTOC({entry});
    h.store.writeConversation(entry.id().uuid(), transcript(60));
    std::string longReply;
    for (int i = 0; i < 120; ++i)
        longReply += "Line " + std::to_string(i) + " of a long reply.\n\n";
    ChatScript script = ChatScript::words(longReply, 15ms);
    h.server.setChatScript(script);
    start();
    chooseModel("llama3.2:latest");
    TranscriptView* t = view->transcript();
    model().setSelectedConversation(entry.id());
    ASSERT_TRUE(eventually([&] { return t->messages().size() == 60; }));

    model().setInputText("Tell me a lot.");
    model().sendMessage();
    ASSERT_TRUE(eventually([&] { return t->messages().size() == 62; }, 10s));
    QScrollBar* bar = t->verticalScrollBar();
    const int visible = t->viewport()->height();
    // The reply's last line is kept in view while it grows.
    auto replyEndInView = [&] {
        const QRect reply = t->rowRect(61);
        return reply.bottom() <= visible && reply.bottom() > visible - 80;
    };
    ASSERT_TRUE(
        eventually([&] { return t->rowRect(61).height() > visible && replyEndInView(); }, 10s));
    // The user scrolls up while the reply arrives: what they read stays put while chunks
    // come in, until End brings the end back and the view follows it again.
    bar->setValue(0);
    const int length = int(t->messages().last().content().size());
    ASSERT_TRUE(eventually([&] { return t->messages().last().content().size() > length + 40; }));
    EXPECT_EQ(t->scrollPosition(), 0);
    EXPECT_TRUE(t->jumpButton()->isVisible());
    t->setFocus();
    QTest::keyClick(t, Qt::Key_End);
    ASSERT_TRUE(eventually([&] { return model().inSendingMessage() && replyEndInView(); }, 10s));
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }, 20s));
    ASSERT_TRUE(eventually([&] { return !t->isScrolling(); }));
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(replyEndInView());
}

TEST_F(MainViewTest, TheSidebarSelectsRenamesAndDeletesThroughTheModel) {
    const Conversation a = stored("First", "one");
    const Conversation b = stored("Second", "two");
    h.store.saveTOC({a, b});
    h.store.writeConversation(b.id().uuid(), transcript(4));
    start();
    ConversationListView* sidebar = view->sidebar();
    ASSERT_EQ(sidebar->conversations().size(), 2);
    QListView* list = sidebar->listView();

    // Select "Second" by a click on its caption line.
    const QRect row = list->visualRect(list->model()->index(2, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.right() - 10, row.bottom() - 6));
    ASSERT_TRUE(eventually([&] { return view->transcript()->messages().size() == 4; }));
    EXPECT_EQ(model().selectedConversation(), b.id());
    EXPECT_EQ(model().conversationDescription(), "Second");

    // Rename: Escape leaves the title, Return commits and reaches the header and the file.
    sidebar->startRename(b.id());
    QTest::keyClicks(sidebar->titleEditor(), " draft");
    QTest::keyClick(sidebar->titleEditor(), Qt::Key_Escape);
    EXPECT_EQ(model().conversations().at(1).title(), "Second");
    sidebar->startRename(b.id());
    sidebar->titleEditor()->selectAll();
    QTest::keyClicks(sidebar->titleEditor(), "Renamed");
    QTest::keyClick(sidebar->titleEditor(), Qt::Key_Return);
    EXPECT_EQ(model().conversations().at(1).title(), "Renamed");
    EXPECT_EQ(model().conversationDescription(), "Renamed");
    EXPECT_EQ(h.toc()["contents"][1]["title"], "Renamed");

    // Delete: Cancel keeps it, Delete removes it and returns to a new conversation.
    sidebar->askDelete(b.id());
    ASSERT_NE(sidebar->deleteConfirmation(), nullptr);
    QTest::keyClick(sidebar->deleteConfirmation(), Qt::Key_Escape);
    EXPECT_EQ(model().conversations().size(), 2);
    sidebar->askDelete(b.id());
    for (QAbstractButton* button : sidebar->deleteConfirmation()->buttons())
        if (button->text() == "Delete") button->click();
    ASSERT_EQ(model().conversations().size(), 1);
    EXPECT_TRUE(model().selectedConversation().isNewConversation());
    EXPECT_EQ(model().conversationDescription(), "New Conversation");
    EXPECT_TRUE(view->transcript()->messages().isEmpty());
    EXPECT_EQ(h.toc()["contents"].size(), 1u);
}

TEST_F(MainViewTest, ADeletionOffersUndoByTheBarsButtonAndByCtrlZ) {
    const Conversation a = stored("First", "one");
    const Conversation b = stored("Second", "two");
    h.store.saveTOC({a, b});
    h.store.writeConversation(b.id().uuid(), transcript(4));
    start();
    ConversationListView* sidebar = view->sidebar();
    UndoBar* bar = view->undoBar();
    EXPECT_FALSE(bar->isVisible());

    sidebar->askDelete(b.id());
    for (QAbstractButton* button : sidebar->deleteConfirmation()->buttons())
        if (button->text() == "Delete") button->click();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->label()->text(), "Conversation deleted");
    EXPECT_EQ(bar->accessibleName(), "Conversation deleted");
    EXPECT_EQ(sidebar->conversations().size(), 1);
    // Tab reaches the button.
    editor()->setFocus();
    for (int i = 0; i < 20 && QApplication::focusWidget() != bar->undoButton(); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), bar->undoButton());

    QTest::keyClick(bar->undoButton(), Qt::Key_Space);
    EXPECT_FALSE(bar->isVisible());
    ASSERT_EQ(sidebar->conversations().size(), 2);
    EXPECT_EQ(sidebar->conversations().at(1).title(), "Second");
    EXPECT_EQ(model().selectedConversation(), b.id());
    EXPECT_EQ(view->transcript()->messages().size(), 4);
    EXPECT_EQ(QApplication::focusWidget(), editor()) << "the keyboard leaves the hidden button";

    // Ctrl+Z in the input box undoes the deletion while the bar shows.
    model().removeConversation(b.id());
    ASSERT_TRUE(bar->isVisible());
    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(model().conversations().size(), 2);

    // Left alone, the bar goes when the deletion becomes final.
    model().setUndoDelay(50ms);
    model().removeConversation(a.id());
    ASSERT_TRUE(bar->isVisible());
    EXPECT_TRUE(eventually([&] { return !bar->isVisible(); }));
    EXPECT_EQ(model().conversations().size(), 1);
}

TEST_F(MainViewTest, TheDescriptionFallsBackOnlyForTheEmptyString) {
    start();
    model().setConversationDescription(QString());
    auto* label = view->descriptionLabel();
    EXPECT_EQ(label->toolTip(), "No description");
    EXPECT_TRUE(label->property("secondary").toBool());
    model().setConversationDescription(" ");
    EXPECT_EQ(label->toolTip(), " ");
    EXPECT_FALSE(label->property("secondary").toBool()) << "a single space is a description";
}

TEST_F(MainViewTest, AlertsShowTheModelsTextsAndTheirButtonsCloseThem) {
    start();
    model().setModalAlertTitle("Select a model");
    model().setModalAlertMessage("Please select a model first before chatting with Ollama");
    model().setShowModalAlert(true);
    QMessageBox* box = view->generalAlert();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), "Select a model");
    EXPECT_EQ(box->informativeText(), "Please select a model first before chatting with Ollama");
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons().first()->text(), "OK");
    box->buttons().first()->click();
    EXPECT_FALSE(model().showModalAlert());
    EXPECT_TRUE(eventually([&] { return view->generalAlert() == nullptr; }));

    // While the model manager is open the alert appears inside it; one already shown
    // when the manager opens moves there unanswered.
    model().setModalAlertTitle("Model Installed");
    model().setModalAlertMessage("Model phi3:mini was installed successfully.");
    model().setShowModalAlert(true);
    ASSERT_NE(view->generalAlert(), nullptr);
    view->setShowModelPopover(true);
    EXPECT_TRUE(model().showModalAlert());
    EXPECT_EQ(view->generalAlert(), nullptr);
    ASSERT_NE(view->modelManager()->alert(), nullptr);
    EXPECT_EQ(view->modelManager()->alert()->text(), "Model phi3:mini was installed successfully.");
    view->modelManager()->alert()->buttons().first()->click();
    EXPECT_FALSE(model().showModalAlert());
    view->setShowModelPopover(false);

    // "Waiting on Ollama…": Retry closes it and checks again.
    const auto checks = h.server.requestsTo("/api/version").size();
    model().setShowLoadAlert(true);
    QMessageBox* load = view->loadAlert();
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->text(), "Waiting on Ollama…");
    EXPECT_EQ(load->informativeText(),
              "Ollama is not running. Start the Ollama service (for example with “systemctl "
              "start ollama” or “ollama serve”) before continuing.");
    QStringList labels;
    QAbstractButton* retry = nullptr;
    for (QAbstractButton* button : load->buttons()) {
        labels << button->text();
        if (button->text() == "Retry") retry = button;
    }
    labels.sort();
    EXPECT_EQ(labels, QStringList({"Cancel", "Retry"}));
    ASSERT_NE(retry, nullptr);
    retry->click();
    EXPECT_FALSE(model().showLoadAlert());
    EXPECT_TRUE(eventually([&] { return h.server.requestsTo("/api/version").size() > checks; }));
    model().setShowLoadAlert(true);
    ASSERT_NE(view->loadAlert(), nullptr);
    QTest::keyClick(view->loadAlert(), Qt::Key_Escape);
    EXPECT_FALSE(model().showLoadAlert()) << "Escape cancels";
}

TEST_F(MainViewTest, SendingWithTheServiceDownRaisesTheWaitingAlertAndTheBanner) {
    start();
    chooseModel("llama3.2:latest");
    h.server.setHangAll(true);
    type("hello?");
    QTest::keyClick(editor(), Qt::Key_Return);
    ASSERT_TRUE(eventually([&] { return view->loadAlert() != nullptr; }, 5s));
    EXPECT_TRUE(model().messages().isEmpty());
    model().setOllamaRunning(false);
    EXPECT_TRUE(view->banner()->isVisible());
    QStringList texts;
    for (QLabel* label : view->banner()->findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(
        texts.contains("Ollama is not running. Start it with “systemctl start ollama” "
                       "or “ollama serve”."))
        << texts.join('|').toStdString();
    h.server.setHangAll(false);
    model().setOllamaRunning(true);
    EXPECT_FALSE(view->banner()->isVisible());
}

TEST_F(MainViewTest, TheWelcomeSheetShowsOnAFirstLaunchWithoutOllamaUntilStartChatting) {
    h.setSetting("hasLaunched", QVariant());
    h.server.setHangAll(true);
    start(false);
    ASSERT_TRUE(eventually([&] { return view->welcomeSheet() != nullptr; }, 5s));
    QDialog* sheet = view->welcomeSheet();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_TRUE(model().firstLaunch()) << "only its own button ends the sheet";
    view->welcomeView()->downloadButton()->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first(), QUrl("https://ollama.com/download/linux"));
    EXPECT_TRUE(model().firstLaunch());

    h.server.setHangAll(false);
    view->welcomeView()->startButton()->click();
    EXPECT_FALSE(model().firstLaunch());
    EXPECT_TRUE(h.setting("hasLaunched").toBool());
    EXPECT_TRUE(eventually([&] { return view->welcomeSheet() == nullptr; }));
    EXPECT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
}

TEST_F(MainViewTest, TheModelManagerInstallsWithProgressAndRemovesAfterConfirmation) {
    h.server.setRegistry({ModelInfo::make("phi3:mini", 4000)});
    PullScript pull;
    pull.layerSizes = {4000};
    pull.stepsPerLayer = 8;
    pull.stepDelay = 40ms;
    h.server.setPullScript(pull);
    start();
    view->setShowModelPopover(true);
    ModelManagerView* manager = view->modelManager();
    manager->setSelection(ModelManagerView::addEntry);
    QTest::keyClicks(manager->nameField(), "phi3:mini");
    manager->addButton()->click();
    ASSERT_TRUE(
        eventually([&] { return manager->progressBar()->isVisible() && model().progress() > 0; }));
    // Closing the sheet does not stop the download; opening it again starts afresh but
    // shows the download still under way.
    manager->doneButton()->click();
    view->setShowModelPopover(true);
    EXPECT_EQ(manager->currentPane(), ModelManagerView::Pane::Help);
    EXPECT_TRUE(manager->isInstalling());
    ASSERT_TRUE(eventually([&] { return !model().isInstalling(); }, 10s));
    ASSERT_NE(manager->alert(), nullptr);
    EXPECT_EQ(manager->alert()->text(), "Model phi3:mini was installed successfully.");
    manager->alert()->buttons().first()->click();
    ASSERT_TRUE(eventually([&] { return manager->models().size() == 3; }));

    manager->setSelection("qwen3:8b");
    manager->deleteButton()->click();
    ASSERT_NE(manager->deleteConfirmation(), nullptr);
    for (QAbstractButton* button : manager->deleteConfirmation()->buttons())
        if (button->text() == "Delete") button->click();
    ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }, 10s));
    EXPECT_EQ(h.server.requestsTo("/api/delete").size(), 1u);
}

}  // namespace

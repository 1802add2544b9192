// The main window as it fits a desktop and follows the user: where the keyboard focus
// goes after each action, the sidebar that hides and comes back (by hand, by Ctrl+B and
// by the window's width, remembered), the header's free width, the accessible names of
// the controls and the Tab chain with parts hidden, and the message shown when no
// browser opens a page.

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>

#include "ConversationCommands.h"
#include "ConversationListView.h"
#include "CustomTextView.h"
#include "DownloadIndicator.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ModelManagerView.h"
#include "ModelMenu.h"
#include "Overlays.h"
#include "TranscriptView.h"
#include "WelcomeView.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class WindowTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainWindow> window;
    const Conversation first = stored("First", "one");
    const Conversation second = stored("Second", "two");

    void TearDown() override {
        if (!window) return;
        window->mainView()->viewModel().applicationWillQuit();
        window.reset();
    }

    void start(QSize size = QSize(1000, 700)) {
        h.store.saveTOC({first, second});
        window = std::make_unique<MainWindow>(h.services(), [] { return nullptr; });
        window->resize(size);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        backToWindow();
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
        model().setSelectedModel(QStringLiteral("llama3.2:latest"));
    }

    MainView* view() const { return window->mainView(); }
    ZoruveVede& model() const { return view()->viewModel(); }
    QWidget* input() const { return view()->input()->textView(); }
    QListView* list() const { return view()->sidebar()->listView(); }

    /// Makes the main window the active one again, as the desktop does when a dialog
    /// closes.
    void backToWindow() {
        window->activateWindow();
        ASSERT_TRUE(eventually([&] { return QApplication::activeWindow() == window.get(); }));
    }

    /// The focus is in the input box and a key typed now lands there.
    void expectTypingLandsInInput(const char* after) {
        SCOPED_TRACE(after);
        ASSERT_EQ(QApplication::focusWidget(), input())
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                            : "no focus");
        const QString before = view()->input()->text();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Q);
        EXPECT_EQ(view()->input()->text(), before + "q");
        model().setInputText(QString());
    }

    void clickRow(const Conversation& entry) {
        int row = 0;
        while (row < model().conversations().size() &&
               !(model().conversations()[row].id() == entry.id()))
            ++row;
        const QRect rect = list()->visualRect(list()->model()->index(row + 1, 0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    void resizeView(int width) {
        window->resize(width, 700);
        ASSERT_TRUE(eventually([&] { return view()->width() == width; }));
    }
};

// ---- focus -----------------------------------------------------------------------------------

TEST_F(WindowTest, TheInputBoxHasTheKeyboardAfterEachActionThatLeadsToTyping) {
    start();
    expectTypingLandsInInput("the window opened");

    // Send and Stop, clicked.
    ChatScript held = ChatScript::words("The first words of a reply");
    held.stallAfter = 3;
    h.server.setChatScript(held);
    model().setInputText("Hello");
    QTest::mouseClick(view()->sendButton(), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return model().inSendingMessage(); }));
    expectTypingLandsInInput("Send");
    QTest::mouseClick(view()->sendButton(), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
    expectTypingLandsInInput("Stop");

    // The sidebar: a click chooses; the arrow keys walk and keep the focus; Return or
    // Ctrl+Page Down hand it over.
    clickRow(first);
    ASSERT_EQ(model().selectedConversation(), first.id());
    expectTypingLandsInInput("a click in the sidebar");
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_Down);
    EXPECT_EQ(model().selectedConversation(), second.id());
    EXPECT_EQ(QApplication::focusWidget(), list()) << "the user walks on";
    QTest::keyClick(list(), Qt::Key_Return);
    expectTypingLandsInInput("Return in the sidebar");
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(model().selectedConversation(), first.id());
    expectTypingLandsInInput("Ctrl+Page Up");
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(model().selectedConversation().isNewConversation());
    expectTypingLandsInInput("New Conversation");

    // The model manager sheet, opened from the model menu.
    view()->modelButton()->setFocus();
    view()->modelMenu()->manageAction()->trigger();
    ASSERT_NE(view()->modelSheet(), nullptr);
    view()->modelManager()->doneButton()->click();
    backToWindow();
    expectTypingLandsInInput("the model manager closed");

    // The alerts and the welcome sheet.
    view()->sendButton()->setFocus();
    model().setModalAlertTitle("Model Installed");
    model().setModalAlertMessage("Model phi3:mini was installed successfully.");
    model().setShowModalAlert(true);
    ASSERT_NE(view()->generalAlert(), nullptr);
    view()->generalAlert()->buttons().first()->click();
    backToWindow();
    expectTypingLandsInInput("the alert closed");

    list()->setFocus();
    model().setShowLoadAlert(true);
    ASSERT_NE(view()->loadAlert(), nullptr);
    QTest::keyClick(view()->loadAlert(), Qt::Key_Escape);
    backToWindow();
    expectTypingLandsInInput("the waiting alert closed");

    list()->setFocus();
    model().setFirstLaunch(true);
    ASSERT_NE(view()->welcomeSheet(), nullptr);
    view()->welcomeView()->startButton()->click();
    ASSERT_TRUE(eventually([&] { return view()->welcomeSheet() == nullptr; }));
    backToWindow();
    expectTypingLandsInInput("the welcome sheet closed");
}

// ---- the sidebar -----------------------------------------------------------------------------

TEST_F(WindowTest, TheWindowFitsHalfASmallScreenWithTheSidebarCollapsed) {
    start();
    EXPECT_LE(MainView::minimumWidth, 640);
    EXPECT_LE(window->minimumSizeHint().width(), 640);
    EXPECT_GE(window->minimumSizeHint().height(), 600);
    window->resize(640, 600);
    ASSERT_TRUE(eventually([&] { return window->width() == 640; }));
    EXPECT_FALSE(view()->sidebarShown());
    EXPECT_FALSE(view()->sidebar()->isVisible());
    // Everything of the chat pane is still there, inside the window.
    const QRect pane = view()->rect();
    for (QWidget* part : {static_cast<QWidget*>(view()->sidebarButton()),
                          static_cast<QWidget*>(view()->modelButton()),
                          static_cast<QWidget*>(view()->sendButton()), view()->inputFrame()}) {
        const QRect at(part->mapTo(view(), QPoint(0, 0)), part->size());
        EXPECT_TRUE(pane.contains(at)) << part->metaObject()->className();
    }
}

TEST_F(WindowTest, CtrlBTheButtonAndTheMenuHideAndShowTheSidebar) {
    start();
    QAction* action = view()->sidebarAction();
    EXPECT_EQ(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));
    EXPECT_TRUE(window->menuActions().contains(action));
    EXPECT_TRUE(view()->sidebarShown());
    EXPECT_TRUE(action->isChecked());
    EXPECT_EQ(view()->sidebarButton()->toolTip(), "Hide Sidebar (Ctrl+B)");

    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_FALSE(view()->sidebar()->isVisible());
    EXPECT_FALSE(action->isChecked());
    EXPECT_EQ(view()->sidebarButton()->toolTip(), "Show Sidebar (Ctrl+B)");
    EXPECT_EQ(QApplication::focusWidget(), input()) << "not left in the hidden sidebar";

    QTest::mouseClick(view()->sidebarButton(), Qt::LeftButton);
    EXPECT_TRUE(view()->sidebar()->isVisible());
    EXPECT_GE(view()->sidebar()->width(), MainView::sidebarMinimumWidth);
    QTest::mouseClick(view()->sidebarButton(), Qt::LeftButton);
    EXPECT_FALSE(view()->sidebar()->isVisible());
    action->trigger();  // the View menu's item
    EXPECT_TRUE(view()->sidebar()->isVisible());
    QTest::keyClick(input(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_FALSE(view()->sidebar()->isVisible());
    EXPECT_EQ(view()->input()->text(), "") << "Ctrl+B typed nothing";
}

TEST_F(WindowTest, TheSidebarFollowsTheWidthUnlessTheUserChoseAndTheChoiceIsKept) {
    start();
    resizeView(700);
    EXPECT_FALSE(view()->sidebarShown()) << "narrow: collapsed by itself";
    resizeView(900);
    EXPECT_TRUE(view()->sidebarShown()) << "and back when wider";

    // Shown by hand while narrow: it stays, also after the window went wide and narrow.
    resizeView(700);
    view()->sidebarAction()->trigger();
    EXPECT_TRUE(view()->sidebarShown());
    resizeView(1000);
    resizeView(680);
    EXPECT_TRUE(view()->sidebarShown());
    EXPECT_EQ(h.setting(MainView::sidebarChoiceKey), QVariant(true));

    // Hidden by hand while wide: it stays hidden at any width, in the next window too.
    resizeView(1000);
    view()->sidebarAction()->trigger();
    EXPECT_FALSE(view()->sidebarShown());
    resizeView(1100);
    EXPECT_FALSE(view()->sidebarShown());
    {
        MainView next(h.services());
        next.resize(1000, 700);
        next.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&next));
        EXPECT_FALSE(next.sidebarShown());
        next.viewModel().applicationWillQuit();
    }

    // Shown again while wide: what the width does, so the width decides again.
    view()->sidebarAction()->trigger();
    EXPECT_TRUE(view()->sidebarShown());
    EXPECT_FALSE(h.setting(MainView::sidebarChoiceKey).isValid());
    resizeView(700);
    EXPECT_FALSE(view()->sidebarShown());
}

TEST_F(WindowTest, TheHeaderTitleTakesTheFreeWidthBeforeItIsCut) {
    start();
    model().setConversationDescription("A conversation about the colour of the sky at noon");
    QLabel* title = view()->descriptionLabel();
    ASSERT_TRUE(eventually([&] { return title->width() >= title->sizeHint().width(); }))
        << "the whole title fits beside the model button at this width";
    const int modelRight = view()->modelButton()->geometry().right();
    EXPECT_LT(title->geometry().left() - modelRight, 20) << "no empty stretch before it";
    EXPECT_EQ(title->accessibleName(), "A conversation about the colour of the sky at noon");
}

// ---- the model menu ---------------------------------------------------------------------------

TEST_F(WindowTest, TheModelMenuMarksTheModelInUse) {
    start();
    ModelMenu* menu = view()->modelMenu();
    auto checked = [&] {
        QStringList ids;
        for (QAction* action : menu->modelActions())
            if (action->isChecked()) ids << action->data().toString();
        return ids;
    };
    EXPECT_EQ(checked(), QStringList({"llama3.2:latest"}));
    menu->modelActions().at(1)->trigger();
    EXPECT_EQ(model().selectedModel(), "qwen3:8b");
    EXPECT_EQ(checked(), QStringList({"qwen3:8b"}));
    menu->modelActions().at(1)->trigger();  // choosing it again keeps the mark
    EXPECT_EQ(checked(), QStringList({"qwen3:8b"}));
    model().setSelectedModel(QStringLiteral("gone:1b"));
    EXPECT_EQ(checked(), QStringList());
    // A new list keeps the mark on the model in use.
    model().setSelectedModel(QStringLiteral("llama3.2:latest"));
    model().reloadModels();
    ASSERT_TRUE(eventually([&] { return menu->modelActions().size() == 2; }));
    EXPECT_EQ(checked(), QStringList({"llama3.2:latest"}));
}

// ---- the Edit menu ---------------------------------------------------------------------------

TEST_F(WindowTest, TheEditMenuActsOnTheFocusedWidgetAsItsKeysDo) {
    start();
    auto item = [&](const QString& text) -> QAction* {
        for (QAction* action : window->menuActions())
            if (action->text() == text) return action;
        return nullptr;
    };
    for (const char* text : {"&Undo", "&Redo", "Cu&t", "&Copy", "&Paste", "Select &All"})
        ASSERT_NE(item(text), nullptr) << text;
    input()->setFocus();
    QTest::keyClicks(input(), "hello");
    item("Select &All")->trigger();
    item("&Copy")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "hello");
    item("Cu&t")->trigger();
    EXPECT_EQ(view()->input()->text(), "");
    item("&Undo")->trigger();
    EXPECT_EQ(view()->input()->text(), "hello");
    item("&Redo")->trigger();
    EXPECT_EQ(view()->input()->text(), "");
    item("&Paste")->trigger();
    item("&Paste")->trigger();
    EXPECT_EQ(view()->input()->text(), "hellohello");
    // The keys themselves still reach the box once (not the action and the box both).
    QTest::keyClick(input(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(input(), Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(input(), Qt::Key_End);
    QTest::keyClick(input(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(view()->input()->text(), "hellohellohellohello");
    EXPECT_TRUE(item("&Paste")->isEnabled()) << "enabled again after delivering its key";
}

// ---- a download seen from the window ---------------------------------------------------------

TEST_F(WindowTest, ADownloadGoingOnAfterTheModelManagerClosedShowsBesideTheModelMenu) {
    h.server.setRegistry({ModelInfo::make("phi3:mini", 4000)});
    PullScript pull;
    pull.layerSizes = {4000};
    pull.stepsPerLayer = 40;
    pull.stepDelay = 50ms;
    h.server.setPullScript(pull);
    start();
    DownloadIndicator* indicator = view()->downloadIndicator();
    ASSERT_NE(indicator, nullptr);
    EXPECT_FALSE(indicator->isVisible()) << "nothing downloads";
    EXPECT_TRUE(view()->header()->isAncestorOf(indicator));

    view()->setShowModelPopover(true);
    model().startModelInstall("phi3:mini");
    ASSERT_TRUE(eventually([&] { return model().isInstalling() && model().progress() > 0; }));
    view()->modelManager()->doneButton()->click();
    backToWindow();
    ASSERT_TRUE(eventually([&] { return indicator->isVisible(); }));
    // Beside the model button, in the header's row.
    const QRect button = view()->modelButton()->geometry();
    EXPECT_GE(indicator->geometry().left(), button.right());
    EXPECT_LT(indicator->geometry().left() - button.right(), 20);
    EXPECT_LE(indicator->geometry().right(), view()->descriptionLabel()->geometry().left());

    // Cancel, reached with Tab after the model button, ends it and the bar goes.
    view()->modelButton()->setFocus();
    QTest::keyClick(view()->modelButton(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), indicator->cancelButton());
    QTest::keyClick(indicator->cancelButton(), Qt::Key_Space);
    ASSERT_TRUE(eventually([&] { return !model().isInstalling(); }));
    EXPECT_TRUE(eventually([&] { return !indicator->isVisible(); }));
}

// ---- accessibility -----------------------------------------------------------------------------

TEST_F(WindowTest, EveryControlHasANameAndTabNeverLandsOnAHiddenOne) {
    start();
    model().setOllamaRunning(false);  // the banner too
    // The transcript's and the sidebar's own parts are theirs to name.
    auto ownedElsewhere = [&](QWidget* w) {
        return w == view()->transcript() || view()->transcript()->isAncestorOf(w) ||
               view()->sidebar()->isAncestorOf(w);
    };
    QStringList unnamed;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window.get()) || ownedElsewhere(w)) continue;
        if (!(w->focusPolicy() & Qt::TabFocus) && w != view()->banner()) continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        if (a->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
    }
    EXPECT_EQ(unnamed, QStringList());
    auto name = [](QWidget* w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    };
    auto description = [](QWidget* w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description);
    };
    EXPECT_EQ(name(view()->sidebarButton()), "Hide Sidebar");
    EXPECT_FALSE(description(view()->sidebarButton()).isEmpty());
    EXPECT_EQ(name(view()->modelButton()), "Model: llama3.2:latest");
    EXPECT_FALSE(description(view()->modelButton()).isEmpty());
    EXPECT_EQ(name(view()->sendButton()), "Send");
    EXPECT_FALSE(description(view()->sendButton()).isEmpty());
    EXPECT_EQ(name(input()), "Message");
    EXPECT_EQ(name(view()->banner()), "Ollama is not running");
    EXPECT_EQ(description(view()->banner()), MainView::notRunningText);

    // With the sidebar hidden and Send disabled, Tab goes round without stopping there.
    view()->setSidebarShown(false);
    model().setInputText(QString());
    ASSERT_FALSE(view()->sendButton()->isEnabled());
    input()->setFocus();
    QList<QWidget*> visited;
    for (int i = 0; i < 60; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        EXPECT_TRUE(now->isVisible()) << now->metaObject()->className();
        EXPECT_FALSE(view()->sidebar()->isAncestorOf(now));
        EXPECT_NE(now, view()->sendButton());
        visited << now;
    }
    EXPECT_TRUE(visited.contains(view()->sidebarButton()));
    EXPECT_TRUE(visited.contains(view()->modelButton()));
    EXPECT_TRUE(visited.contains(input()));
}

// ---- no browser ------------------------------------------------------------------------------

TEST_F(WindowTest, APageThatNoBrowserOpensIsExplainedWithTheAddressToCopy) {
    start();
    QList<QUrl> tried;
    auto failing = [&](const QUrl& url) {
        tried << url;
        return false;
    };
    auto noBrowserBox = [&]() -> QMessageBox* {
        for (QMessageBox* box : window->findChildren<QMessageBox*>())
            if (box->isVisible() && box->text() == "Parlote could not open a web browser.")
                return box;
        return nullptr;
    };

    // The help page, from the Help menu.
    window->setUrlOpener(browserLinkOpener(window.get(), failing));
    window->helpAction()->trigger();
    ASSERT_EQ(tried.size(), 1);
    QMessageBox* box = noBrowserBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(box->informativeText().contains(tried.first().toDisplayString()));
    bool selectable = false;
    for (QLabel* label : box->findChildren<QLabel*>())
        if (label->text().contains(tried.first().toDisplayString()))
            selectable = label->textInteractionFlags() & Qt::TextSelectableByMouse;
    EXPECT_TRUE(selectable) << "the address can be selected and copied";
    for (QAbstractButton* button : box->buttons())
        if (button->text().remove('&') == "Copy Address") button->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), tried.first().toDisplayString());
    ASSERT_TRUE(eventually([&] { return noBrowserBox() == nullptr; }));

    // The welcome sheet's download button goes the same way; a browser that opens says
    // nothing.
    model().setFirstLaunch(true);
    ASSERT_NE(view()->welcomeView(), nullptr);
    view()->welcomeView()->downloadButton()->click();
    ASSERT_EQ(tried.size(), 2);
    EXPECT_EQ(tried.last(), QUrl("https://ollama.com/download/linux"));
    EXPECT_NE(noBrowserBox(), nullptr);
    noBrowserBox()->close();
    model().setFirstLaunch(false);

    window->setUrlOpener(browserLinkOpener(window.get(), [&](const QUrl& url) {
        tried << url;
        return true;
    }));
    window->helpAction()->trigger();
    EXPECT_EQ(tried.size(), 3);
    EXPECT_EQ(noBrowserBox(), nullptr);
}

}  // namespace

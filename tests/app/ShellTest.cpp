// The application shell: the main window's title, sizes and menus, the help page, the
// About command, Alt at launch, and quitting when the main window closes.

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QTimer>

#include "AboutWindow.h"
#include "AppInfo.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "Shell.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class ShellTest : public ::testing::Test {
protected:
    Harness h;
    AboutWindow about;
    std::unique_ptr<MainWindow> window;
    QList<QUrl> opened;

    void SetUp() override {
        window = std::make_unique<MainWindow>(h.services(), [this] { return &about; });
        window->setUrlOpener([this](const QUrl& url) {
            opened << url;
            return true;
        });
    }
    void TearDown() override {
        window->mainView()->viewModel().applicationWillQuit();
        window.reset();
        appinfo::setMetadata(std::nullopt);
    }
    QStringList menuTitles(QMenu* menu) const {
        QStringList titles;
        for (QAction* action : menu->actions())
            titles << (action->isSeparator() ? "-" : action->text());
        return titles;
    }
};

TEST_F(ShellTest, TheMainWindowHasItsTitleSizesAndMenus) {
    EXPECT_EQ(window->windowTitle(), "Parlote");
    EXPECT_EQ(window->size(), QSize(1000, 700));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_GE(window->minimumSizeHint().width(), 600);
    EXPECT_LE(window->minimumSizeHint().width(), 640);
    EXPECT_GE(window->minimumSizeHint().height(), 600);

    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 5);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Edit");
    EXPECT_EQ(menus[2]->text(), "&View");
    EXPECT_EQ(menus[3]->text(), "&Conversation");
    EXPECT_EQ(menus[4]->text(), "&Help");
    EXPECT_EQ(menuTitles(menus[1]->menu()),
              QStringList({"&Undo", "&Redo", "-", "Cu&t", "&Copy", "&Paste", "-", "Select &All",
                           "-", "&Find…", "Find &Next", "Find Pre&vious", "-", "Pr&eferences…"}));
    EXPECT_EQ(menuTitles(menus[2]->menu()), QStringList({"Show &Sidebar"}));
    EXPECT_EQ(menuTitles(menus[4]->menu()),
              QStringList({"Parlote &Help", "&Keyboard Shortcuts", "-", "&About Parlote"}));
    EXPECT_EQ(window->shortcutsAction()->shortcuts(),
              QList<QKeySequence>({QKeySequence("Ctrl+?"), QKeySequence("Ctrl+Shift+/")}));
    EXPECT_EQ(window->helpAction()->shortcut(), QKeySequence(QKeySequence::HelpContents));
    EXPECT_EQ(window->quitAction()->shortcut(), QKeySequence(QKeySequence::Quit));
}

TEST_F(ShellTest, F1OpensTheHelpPageThatShipsWithParlote) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_EQ(opened.size(), 1);
    const QUrl page = opened.first();
    EXPECT_TRUE(page.isLocalFile());
    EXPECT_TRUE(QFileInfo(page.toLocalFile()).isFile()) << page.toString().toStdString();
    EXPECT_TRUE(page.toLocalFile().endsWith("help/index.html"));
}

TEST_F(ShellTest, TheAboutCommandShowsOneWindowAgainAndAgain) {
    EXPECT_FALSE(about.isVisible()) << "built hidden at start-up";
    window->aboutAction()->trigger();
    EXPECT_TRUE(about.isVisible());
    about.close();
    EXPECT_FALSE(about.isVisible());
    window->aboutAction()->trigger();
    window->aboutAction()->trigger();
    EXPECT_TRUE(about.isVisible());
    int aboutWindows = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<AboutWindow*>(top)) ++aboutWindows;
    EXPECT_EQ(aboutWindows, 1);
    about.close();
}

TEST_F(ShellTest, TheAboutItemNamesTheApplicationWithFallbacks) {
    appinfo::setMetadata(AppMetadata{"", "Parlote Nightly", "", ""});
    MainWindow other(h.services(), [this] { return &about; });
    EXPECT_EQ(other.aboutAction()->text(), "&About Parlote Nightly");
    other.mainView()->viewModel().applicationWillQuit();
    appinfo::setMetadata(AppMetadata{"", "", "", ""});
    MainWindow unnamed(h.services(), [this] { return &about; });
    EXPECT_EQ(unnamed.aboutAction()->text(), "&About Unknown App");
    unnamed.mainView()->viewModel().applicationWillQuit();
}

TEST_F(ShellTest, AltAtLaunchClearsTheFirstLaunchFlag) {
    QSettings settings(h.settingsFile, QSettings::IniFormat);
    settings.setValue("hasLaunched", true);
    EXPECT_FALSE(shell::applyLaunchModifiers(Qt::ShiftModifier | Qt::ControlModifier, settings));
    EXPECT_TRUE(settings.value("hasLaunched").toBool());
    EXPECT_TRUE(shell::applyLaunchModifiers(Qt::AltModifier, settings));
    EXPECT_FALSE(settings.value("hasLaunched").toBool());
    EXPECT_TRUE(settings.contains("hasLaunched"));
}

TEST_F(ShellTest, ClosingTheMainWindowQuitsEvenWithTheAboutWindowOpen) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->aboutAction()->trigger();
    bool quitting = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window.get(), [&] { quitting = true; });
    QTimer::singleShot(0, window.get(), [this] { window->close(); });  // once the loop runs
    QTimer guard;  // ends the loop should closing not quit; stopped with the test
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(quitting);
    about.close();
}

}  // namespace

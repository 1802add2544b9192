// What the main window keeps between runs: a second window made over the same settings
// file comes back with the first one's size and place, sidebar width and open conversation;
// a place that fits no screen any more gives the default size, centred; a conversation
// deleted meanwhile gives a new one.

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>

#include "ConversationListView.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "WindowMemory.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class WindowMemoryTest : public ::testing::Test {
protected:
    Harness h;
    const Conversation first = stored("First", "one");
    const Conversation second = stored("Second", "two");

    void SetUp() override { h.store.saveTOC({first, second}); }

    std::unique_ptr<MainWindow> open() {
        auto window = std::make_unique<MainWindow>(h.services(), [] { return nullptr; });
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }
    void quit(std::unique_ptr<MainWindow>& window) {
        EXPECT_TRUE(window->close());
        window->mainView()->viewModel().applicationWillQuit();
        window.reset();
    }
    QRect screen() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

TEST_F(WindowMemoryTest, ASecondWindowComesBackAsTheFirstWasClosed) {
    std::unique_ptr<MainWindow> window = open();
    // Small enough to fit the test's screen, wide enough to show the sidebar.
    const QRect place(QPoint(screen().left() + 20, screen().top() + 30),
                      window->minimumSizeHint().expandedTo(QSize(760, 640)));
    ASSERT_TRUE(screen().contains(place)) << "the test screen is too small";
    window->setGeometry(place);
    ASSERT_TRUE(eventually([&] { return window->geometry() == place; }));
    QSplitter* splitter = window->mainView()->splitter();
    splitter->setSizes({280, place.width() - 280});
    ASSERT_TRUE(eventually([&] { return window->mainView()->sidebar()->width() == 280; }));
    ZoruveVede& model = window->mainView()->viewModel();
    model.setSelectedConversation(second.id());
    quit(window);

    window = open();
    EXPECT_EQ(window->geometry(), place);
    EXPECT_EQ(window->mainView()->sidebar()->width(), 280);
    EXPECT_EQ(window->mainView()->viewModel().selectedConversation(), second.id());
    EXPECT_EQ(window->mainView()->viewModel().conversationDescription(), "Second");
    EXPECT_EQ(window->mainView()->sidebar()->selectedConversation(), second.id());

    // The new-conversation state is remembered too, as the absence of an open one.
    window->mainView()->viewModel().setSelectedConversation(SidebarID::newConversation());
    quit(window);
    EXPECT_FALSE(QSettings(h.settingsFile, QSettings::IniFormat)
                     .contains(WindowMemory::openConversationKey));
    window = open();
    EXPECT_TRUE(window->mainView()->viewModel().selectedConversation().isNewConversation());
    quit(window);
}

TEST_F(WindowMemoryTest, WhatNoLongerFitsOrExistsGivesTheDefaults) {
    std::unique_ptr<MainWindow> window = open();
    window->mainView()->viewModel().setSelectedConversation(first.id());
    quit(window);
    {
        // A screen that was there is gone; the conversation was deleted meanwhile.
        QSettings settings(h.settingsFile, QSettings::IniFormat);
        settings.setValue(WindowMemory::normalGeometryKey,
                          QRect(screen().right() + 500, 40, 700, 640));
        settings.setValue(WindowMemory::openConversationKey, QUuid::createUuid().toString());
    }
    window = open();
    EXPECT_TRUE(window->width() == MainWindow::defaultWidth ||
                window->height() == MainWindow::defaultHeight)
        << "the default size, or as much of it as the screen holds";
    EXPECT_TRUE(screen().contains(window->frameGeometry()))
        << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
        << window->frameGeometry().width() << "x" << window->frameGeometry().height() << " in "
        << screen().width() << "x" << screen().height();
    EXPECT_LE(std::abs(window->frameGeometry().center().x() - screen().center().x()), 4);
    EXPECT_LE(std::abs(window->frameGeometry().center().y() - screen().center().y()), 4);
    EXPECT_TRUE(window->mainView()->viewModel().selectedConversation().isNewConversation());
    quit(window);
}

TEST(WindowMemoryFit, AWindowFitsWhenOneScreenHoldsItWhole) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    EXPECT_TRUE(WindowMemory::fits(QRect(100, 100, 1000, 700), screens));
    EXPECT_TRUE(WindowMemory::fits(QRect(2000, 50, 1000, 900), screens));
    EXPECT_FALSE(WindowMemory::fits(QRect(1500, 100, 1000, 700), screens)) << "across two";
    EXPECT_FALSE(WindowMemory::fits(QRect(2000, 50, 1000, 1000), screens)) << "too tall";
    EXPECT_FALSE(WindowMemory::fits(QRect(-600, 0, 500, 500), screens));
    EXPECT_FALSE(WindowMemory::fits(QRect(), screens));
}

}  // namespace

// A save that fails, as the user meets it in the window: the bar with the reason and
// "Retry", and the question when quitting would lose words.

#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "StorageBar.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

TEST(StorageBarWindow, AFailedSaveIsShownRetriedAndAskedAboutAtQuit) {
    Harness h;
    std::atomic<bool> full{false};
    h.store.setFileIo({[&full](int fd, const void* data, std::size_t size) -> ssize_t {
                           if (full) {
                               errno = ENOSPC;
                               return -1;
                           }
                           return ::write(fd, data, size);
                       },
                       [](int fd) { return ::fsync(fd); }});
    h.setSetting("selectedModel", "llama3.2:latest");
    MainWindow window(h.services(), [] { return nullptr; });
    QStringList askedAbout;
    bool quitAnyway = false;
    window.setQuitConfirmation([&](const QStringList& unsaved) {
        askedAbout = unsaved;
        return quitAnyway;
    });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ZoruveVede& model = window.mainView()->viewModel();
    StorageBar* bar = window.mainView()->storageBar();
    ASSERT_TRUE(eventually([&] { return model.selectedModel().has_value(); }));
    EXPECT_FALSE(bar->isVisible());

    full = true;
    model.setInputText("Keep this");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return bar->isVisible(); }, 10s));
    EXPECT_TRUE(bar->label()->text().startsWith("Could not save"));
    EXPECT_TRUE(bar->label()->text().endsWith(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    ASSERT_TRUE(
        eventually([&] { return model.messages().size() == 2 && !model.inSendingMessage(); }));

    // Quitting now would lose words: the user is asked, and "Cancel" keeps the window.
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(askedAbout.isEmpty());
    EXPECT_TRUE(askedAbout.contains("the conversation list"));

    // Space comes back; "Retry" saves everything and the bar goes.
    full = false;
    QTest::mouseClick(bar->retryButton(), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !bar->isVisible(); }));
    const QUuid id = model.conversations().first().id().uuid();
    EXPECT_EQ(h.conversationFile(id)["messages"].size(), 2u);
    askedAbout.clear();
    model.applicationWillQuit();
}

}  // namespace

// The About window: what it shows, its fallbacks, the selectable legal text, and that
// the About command always shows the one window, which only hides on close.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "AboutWindow.h"
#include "AppInfo.h"
#include "SelectableMarkdownView.h"

namespace parlote {
namespace {

class AboutWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        appinfo::setMetadata(std::nullopt);
        appinfo::setResourceRoot({});
    }

    void useLegal(const std::optional<QByteArray>& legal) {
        ASSERT_TRUE(folder.isValid());
        QFile::remove(folder.filePath("Legal.md"));
        if (legal) {
            QFile file(folder.filePath("Legal.md"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*legal);
        }
        appinfo::setResourceRoot(folder.path());
    }

    static int visibleAboutWindows() {
        int count = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<AboutWindow*>(w) && w->isVisible()) ++count;
        return count;
    }

    QTemporaryDir folder;
};

TEST_F(AboutWindowTest, ShowsTheNameAndTheShippedLegalText) {
    AboutWindow about;
    EXPECT_FALSE(about.isVisible());  // built hidden
    EXPECT_EQ(about.windowTitle(), "About Parlote");
    EXPECT_EQ(about.nameLabel()->text(), "Parlote");
    EXPECT_EQ(about.legalView()->markdown(), appinfo::readResource("Legal").value());
    EXPECT_TRUE(
        about.legalView()->toPlainText().contains("Copyright (c) 2026 the Parlote developers"));
    EXPECT_FALSE(about.iconLabel()->pixmap().isNull());
    // The title font is larger than the window's, the version's smaller.
    EXPECT_GT(QFontInfo(about.nameLabel()->font()).pixelSize(),
              QFontInfo(about.font()).pixelSize());
    EXPECT_LT(QFontInfo(about.versionLabel()->font()).pixelSize(),
              QFontInfo(about.font()).pixelSize());
    EXPECT_EQ(QFontInfo(about.legalView()->font()).pixelSize(),
              QFontInfo(about.versionLabel()->font()).pixelSize());
}

TEST_F(AboutWindowTest, BlankMetadataShowsTheFallbacks) {
    appinfo::setMetadata(AppMetadata{});
    AboutWindow about;
    EXPECT_EQ(about.windowTitle(), "About Unknown App");
    EXPECT_EQ(about.nameLabel()->text(), "Unknown App");
    EXPECT_EQ(about.versionLabel()->text(), "Version Unknown (Unknown)");

    appinfo::setMetadata(AppMetadata{"", "Parlote", "0.1.0", "1"});
    about.reload();
    EXPECT_EQ(about.windowTitle(), "About Parlote");
    EXPECT_EQ(about.versionLabel()->text(), "Version 0.1.0 (1)");
}

TEST_F(AboutWindowTest, MissingLegalTextShowsTheFallbackUntilReloaded) {
    useLegal(std::nullopt);
    AboutWindow about;
    EXPECT_EQ(about.legalView()->markdown(), "Problem loading legal text");
    EXPECT_EQ(about.legalView()->toPlainText().trimmed(), "Problem loading legal text");

    useLegal(QByteArray("**Ours**"));
    about.reload();
    EXPECT_EQ(about.legalView()->toPlainText().trimmed(), "Ours");
}

TEST_F(AboutWindowTest, LegalTextCanBeSelectedAndCopied) {
    useLegal(QByteArray("Copy **this** text"));
    AboutWindow about;
    SelectableMarkdownView* legal = about.legalView();
    const Qt::TextInteractionFlags flags = legal->textInteractionFlags();
    EXPECT_TRUE(flags.testFlag(Qt::TextSelectableByMouse));
    EXPECT_TRUE(flags.testFlag(Qt::TextSelectableByKeyboard));
    EXPECT_FALSE(flags.testFlag(Qt::TextEditable));
    EXPECT_TRUE(legal->isReadOnly());

    about.showAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    legal->setFocus();
    QTest::keyClick(legal, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(legal->textCursor().selectedText().trimmed(), "Copy this text");
    QApplication::clipboard()->clear();
    QTest::keyClick(legal, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().trimmed(), "Copy this text");
    // Typing changes nothing.
    QTest::keyClicks(legal, "xyz");
    EXPECT_EQ(legal->toPlainText().trimmed(), "Copy this text");
}

TEST_F(AboutWindowTest, AboutCommandShowsOneWindowAgainAndAgain) {
    QPointer<AboutWindow> about = new AboutWindow;
    ASSERT_EQ(visibleAboutWindows(), 0);
    about->showAbout();
    about->showAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    EXPECT_EQ(visibleAboutWindows(), 1);
    EXPECT_EQ(QApplication::activeWindow(), about.data());

    EXPECT_TRUE(about->close());
    QCoreApplication::processEvents();
    ASSERT_FALSE(about.isNull());  // kept, only hidden
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(visibleAboutWindows(), 0);

    about->move(0, 0);
    about->showAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    EXPECT_EQ(visibleAboutWindows(), 1);
    const QPoint centre = about->screen()->availableGeometry().center();
    EXPECT_LE((about->frameGeometry().center() - centre).manhattanLength(), 2);
    delete about;
}

TEST_F(AboutWindowTest, EscapeCtrlWAndTheCloseButtonCloseIt) {
    AboutWindow about;
    ASSERT_NE(about.closeButton(), nullptr);
    for (int way = 0; way < 3; ++way) {
        about.showAbout();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
        about.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
        if (way == 0) QTest::keyClick(&about, Qt::Key_Escape);
        if (way == 1) QTest::keyClick(about.legalView(), Qt::Key_W, Qt::ControlModifier);
        if (way == 2) QTest::mouseClick(about.closeButton(), Qt::LeftButton);
        EXPECT_FALSE(about.isVisible()) << way;
    }
}

TEST_F(AboutWindowTest, LongLegalTextScrollsInsideItsBox) {
    QByteArray longText;
    for (int i = 0; i < 80; ++i) longText += "Line " + QByteArray::number(i) + "\n\n";
    useLegal(QByteArray("short"));
    AboutWindow about;
    about.showAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    const QSize before = about.size();
    EXPECT_EQ(about.legalView()->verticalScrollBar()->maximum(), 0);

    useLegal(longText);
    about.reload();
    QCoreApplication::processEvents();
    EXPECT_EQ(about.size(), before);
    EXPECT_EQ(about.legalBox()->height(), 120);
    EXPECT_GT(about.legalView()->verticalScrollBar()->maximum(), 0);
}

}  // namespace
}  // namespace parlote

// The welcome sheet: its document or the fallback sentence, whose commands can be selected
// and copied, the Ollama address Parlote uses, and its two buttons.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "AppInfo.h"
#include "SelectableMarkdownView.h"
#include "WelcomeView.h"

namespace parlote {
namespace {

class WelcomeViewTest : public ::testing::Test {
protected:
    void TearDown() override { appinfo::setResourceRoot({}); }

    // Points the documents at an empty folder, or at one holding the given welcome text.
    void useFolder(const std::optional<QByteArray>& welcome = std::nullopt) {
        ASSERT_TRUE(folder.isValid());
        if (welcome) {
            QFile file(folder.filePath("Welcome.md"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(*welcome);
        }
        appinfo::setResourceRoot(folder.path());
    }

    QTemporaryDir folder;
    QList<QUrl> opened;
};

TEST_F(WelcomeViewTest, ShowsTheShippedDocumentAtAFixedSize) {
    WelcomeView view;
    EXPECT_EQ(view.size(), QSize(600, 700));
    EXPECT_EQ(view.minimumSize(), QSize(600, 700));
    EXPECT_EQ(view.maximumSize(), QSize(600, 700));
    EXPECT_EQ(view.document()->markdown(), appinfo::readResource("Welcome").value());
    EXPECT_TRUE(view.document()->markdown().contains("ollama pull"));

    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    // The long document scrolls inside its area, above the address and the buttons.
    EXPECT_GT(view.document()->verticalScrollBar()->maximum(), 0);
    EXPECT_LT(view.document()->geometry().bottom(), view.addressLabel()->y());
    EXPECT_LT(view.addressLabel()->geometry().bottom(), view.downloadButton()->y());
}

TEST_F(WelcomeViewTest, MissingDocumentShowsTheFallbackAndButtonsStillWork) {
    useFolder();
    WelcomeView view;
    view.setUrlOpener([this](const QUrl& url) {
        opened.append(url);
        return true;
    });
    QSignalSpy dismissed(&view, &WelcomeView::dismissRequested);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(view.document()->markdown(), "Problem loading welcome text");
    EXPECT_EQ(view.document()->markdown(), WelcomeView::fallbackText);
    EXPECT_GT(view.document()->height(), 0);

    QTest::mouseClick(view.downloadButton(), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl("https://ollama.com/download/linux"));
    EXPECT_EQ(dismissed.count(), 0);  // the sheet stays open
    EXPECT_TRUE(view.isVisible());

    QTest::mouseClick(view.startButton(), Qt::LeftButton);
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(WelcomeViewTest, DocumentIsReadAgainOnReload) {
    useFolder(QByteArray("# First"));
    WelcomeView view;
    EXPECT_EQ(view.document()->markdown(), "# First");
    QFile::remove(folder.filePath("Welcome.md"));
    view.reload();
    EXPECT_EQ(view.document()->markdown(), WelcomeView::fallbackText);
    useFolder(QByteArray("# Second"));
    view.reload();
    EXPECT_EQ(view.document()->markdown(), "# Second");
}

TEST_F(WelcomeViewTest, InsideADialogReturnStartsChatting) {
    QDialog sheet;
    auto* layout = new QVBoxLayout(&sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new WelcomeView(&sheet);
    layout->addWidget(view);
    view->setUrlOpener([this](const QUrl& url) {
        opened.append(url);
        return true;
    });
    QObject::connect(view, &WelcomeView::dismissRequested, &sheet, &QDialog::accept);
    EXPECT_TRUE(view->startButton()->isDefault());
    // The default button is filled with the selection colour, also after a palette change.
    QPalette changed = sheet.palette();
    changed.setColor(QPalette::Highlight, QColor(0x12, 0x34, 0x56));
    sheet.setPalette(changed);
    EXPECT_EQ(view->startButton()->palette().color(QPalette::Button), QColor(0x12, 0x34, 0x56));
    EXPECT_NE(view->downloadButton()->palette().color(QPalette::Button), QColor(0x12, 0x34, 0x56));
    EXPECT_FALSE(view->downloadButton()->autoDefault());

    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    EXPECT_EQ(sheet.size(), QSize(600, 700));
    QTest::mouseClick(view->downloadButton(), Qt::LeftButton);
    EXPECT_TRUE(sheet.isVisible());
    // Return after "Download Ollama" still goes to "Start Chatting!".
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(WelcomeViewTest, LinksInTheDocumentGoThroughTheOpener) {
    useFolder(QByteArray("[site](https://example.com/ok) then [file](file:///etc/passwd)"));
    WelcomeView view;
    view.setUrlOpener([this](const QUrl& url) {
        opened.append(url);
        return true;
    });
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    // Clicking across the document's one line reaches both links; only the web one opens.
    QWidget* page = view.document()->viewport();
    const int y = 30 + view.document()->fontMetrics().height() / 2;  // below the padding
    for (int x = 1; x < page->width(); x += 4)
        QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(x, y));
    ASSERT_FALSE(opened.isEmpty());
    for (const QUrl& url : opened) EXPECT_EQ(url, QUrl("https://example.com/ok"));
}

TEST_F(WelcomeViewTest, TheCommandsCanBeSelectedAndCopied) {
    WelcomeView view;
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    SelectableMarkdownView* text = view.document();
    EXPECT_TRUE(text->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    EXPECT_TRUE(text->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    text->setFocus();
    QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
    QApplication::clipboard()->clear();
    QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.contains("curl -fsSL https://ollama.com/install.sh | sh"));
    EXPECT_TRUE(copied.contains("systemctl status ollama"));
    EXPECT_TRUE(copied.contains("ollama serve"));
    QTest::keyClicks(text, "xyz");
    EXPECT_FALSE(text->toPlainText().contains("xyz")) << "read-only";
}

TEST_F(WelcomeViewTest, NamesTheAddressWhereParloteLooksForOllama) {
    const QByteArray saved = qgetenv("OLLAMA_HOST");
    qunsetenv("OLLAMA_HOST");
    WelcomeView view;
    EXPECT_EQ(view.addressLabel()->text(), "Parlote looks for Ollama at http://127.0.0.1:11434.");
    EXPECT_TRUE(view.addressLabel()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    qputenv("OLLAMA_HOST", "0.0.0.0:9000");  // read as the client reads it
    view.reload();
    EXPECT_EQ(view.addressLabel()->text(), "Parlote looks for Ollama at http://127.0.0.1:9000.");
    qputenv("OLLAMA_HOST", "https://models.example.org");
    view.reload();
    EXPECT_EQ(view.addressLabel()->text(),
              "Parlote looks for Ollama at https://models.example.org:443.");
    if (saved.isNull())
        qunsetenv("OLLAMA_HOST");
    else
        qputenv("OLLAMA_HOST", saved);
}

}  // namespace
}  // namespace parlote

// The rendering engine: what it shows, what it reuses while a reply streams, and what it
// refuses to do with untrusted text (interpret HTML, open odd links).

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "ImageStore.h"
#include "MarkdownLayout.h"
#include "MarkdownLinks.h"
#include "MarkdownView.h"
#include "SelectableMarkdownView.h"

using namespace parlote;

namespace {

// An image store whose network is a dead end: these tests never fetch anything.
ImageStore* offlineImages() {
    static ImageStore* store = [] {
        auto* s = new ImageStore(nullptr, ImageStore::Limits(), qApp);
        return s;
    }();
    return store;
}

// Finds a point over a link, scanning the laid-out area.
std::optional<QPointF> findLink(MarkdownLayout& layout, const QString& href) {
    for (qreal y = 1; y < layout.height(); y += 3)
        for (qreal x = 1; x < layout.width(); x += 3)
            if (layout.linkAt({x, y}) == href) return QPointF(x, y);
    return std::nullopt;
}

}  // namespace

TEST(MarkdownLinks, OnlyWebAndMailAddressesOpen) {
    for (const char* yes :
         {"http://a.org", "https://a.org/x?y#z", "HTTPS://A.ORG", "mailto:me@a.org"})
        EXPECT_TRUE(isOpenableLink(QString::fromUtf8(yes))) << yes;
    for (const char* no : {"javascript:alert(1)", "JavaScript:alert(1)", "file:///etc/passwd",
                           "data:text/html,x", "ftp://a.org/x", "relative/page.html", "/abs/path",
                           "#anchor", "//a.org/x", "http://", "mailto:", ""})
        EXPECT_FALSE(isOpenableLink(QString::fromUtf8(no))) << no;
    EXPECT_TRUE(isLoadableImageSource(QStringLiteral("https://a.org/i.png")));
    EXPECT_FALSE(isLoadableImageSource(QStringLiteral("mailto:x@a.org")));
    EXPECT_FALSE(isLoadableImageSource(QStringLiteral("img/x.png")));
}

TEST(MarkdownLayout, StreamingLaysOutOnlyTheTrailingBlock) {
    MarkdownLayout layout(offlineImages());
    layout.setWidth(500);
    std::string text = "# Title\n\nFirst paragraph.\n\n- a\n- b\n\n```\ncode\n```\n\nTail";
    layout.setMarkdown(text);
    const qreal firstHeight = layout.height();
    EXPECT_EQ(layout.blockLayoutCount(), 5u);

    for (int i = 0; i < 20; ++i) {
        text += " more words";
        EXPECT_TRUE(layout.setMarkdown(text));
        layout.height();
    }
    EXPECT_EQ(layout.blockLayoutCount(), 5u + 20u);  // one block per chunk
    EXPECT_GT(layout.height(), firstHeight);

    EXPECT_FALSE(layout.setMarkdown(text));  // same text: nothing to do
    layout.height();
    EXPECT_EQ(layout.blockLayoutCount(), 25u);

    layout.setWidth(300);  // a new width lays out every block once
    layout.height();
    EXPECT_EQ(layout.blockLayoutCount(), 30u);
    EXPECT_GT(layout.height(), 0);
}

TEST(MarkdownLayout, AnUnclosedFenceSwallowsTheRestUntilItCloses) {
    MarkdownLayout layout(offlineImages());
    layout.setWidth(400);
    layout.setMarkdown("Intro\n\n```\ncode\n\nnot yet text");
    ASSERT_EQ(layout.blocks().size(), 2u);
    layout.height();
    const quint64 before = layout.blockLayoutCount();
    layout.setMarkdown("Intro\n\n```\ncode\n```\n\nnow text");
    ASSERT_EQ(layout.blocks().size(), 3u);
    layout.height();
    EXPECT_EQ(layout.blockLayoutCount() - before, 2u);  // the intro kept its layout
}

TEST(MarkdownLayout, PaintsSomethingForEveryBlockKind) {
    MarkdownLayout layout(offlineImages());
    layout.setMarkdown(
        std::string("# H\n\npara *e* **s** ~~x~~ `c`\n\n- [x] done\n- [ ] open\n\n> quote\n\n"
                    "```\ncode\n```\n\n| a | b |\n|--:|:-:|\n| 1 | 2 |\n\n---\n\n3. three\n"));
    QImage image(400, int(layout.heightForWidth(400)) + 1, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    layout.paint(&painter, {0, 0});
    painter.end();
    // Enough distinct colours means text, backgrounds, bars and boxes were drawn.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 20);
}

TEST(MarkdownView, LinksOpenOnClickOnlyWhenAllowed) {
    MarkdownView view(nullptr, offlineImages());
    QList<QUrl> opened;
    view.setLinkOpener([&](const QUrl& url) { opened.append(url); });
    view.setMarkdown(QStringLiteral(
        "[good](https://ollama.com/x) and [bad](javascript:alert(1)) and [rel](page.html)"));
    view.resize(600, view.heightForWidth(600));
    view.show();
    MarkdownLayout& layout = view.markdownLayout();
    layout.setWidth(600);

    // The inert links are not links anywhere on the view.
    for (qreal y = 1; y < layout.height(); y += 2)
        for (qreal x = 1; x < 600; x += 2) {
            const QString at = layout.linkAt({x, y});
            ASSERT_TRUE(at.isEmpty() || at == QStringLiteral("https://ollama.com/x"))
                << at.toStdString();
        }
    const auto point = findLink(layout, QStringLiteral("https://ollama.com/x"));
    ASSERT_TRUE(point);
    QTest::mouseClick(&view, Qt::LeftButton, {}, point->toPoint());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://ollama.com/x")));
}

TEST(MarkdownView, UpdatesWithinAFrameAreFoldedIntoOne) {
    MarkdownView view(nullptr, offlineImages());
    view.setMarkdown(QStringLiteral("one"));
    for (int i = 0; i < 50; ++i) view.setMarkdown(QStringLiteral("one two %1").arg(i));
    // The first text shows at once; the rest waits for the end of the frame.
    ASSERT_EQ(view.markdownLayout().blocks().size(), 1u);
    EXPECT_EQ(std::get<blk::Paragraph>(view.markdownLayout().blocks()[0].value).inlines.size(), 1u);
    const Blocks expected = std::vector<BlockNode>{{blk::Paragraph{{{inl::Text{"one two 49"}}}}}};
    QTRY_VERIFY_WITH_TIMEOUT(view.markdownLayout().blocks() == expected, 1000);
}

TEST(SelectableMarkdownView, RawHtmlIsShownLiterallyAndTextCopies) {
    SelectableMarkdownView view(nullptr, offlineImages());
    view.setMarkdown(QStringLiteral(
        "Say <b>hi</b> <img src=\"file:///etc/x.png\">\n\n<script>alert(1)</script>\n\n"
        "<iframe src=\"https://evil.example\"></iframe>"));
    const QString shown = view.document()->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("Say <b>hi</b> <img src=\"file:///etc/x.png\">")));
    EXPECT_TRUE(shown.contains(QStringLiteral("<script>alert(1)</script>")));
    EXPECT_TRUE(shown.contains(QStringLiteral("<iframe src=\"https://evil.example\"></iframe>")));
    // No tag took effect: nothing bold, no image, no frame of Qt's own making.
    for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            EXPECT_NE(it.fragment().charFormat().fontWeight(), QFont::Bold);
            EXPECT_FALSE(it.fragment().charFormat().isImageFormat());
        }

    EXPECT_TRUE(view.textInteractionFlags() & Qt::TextSelectableByMouse);
    view.selectAll();
    view.copy();
    EXPECT_TRUE(QApplication::clipboard()->text().contains(QStringLiteral("alert(1)")));
}

TEST(SelectableMarkdownView, KeepsListNumbersAndTaskStates) {
    SelectableMarkdownView view(nullptr, offlineImages());
    view.setMarkdown(QStringLiteral("5. five\n6. six\n\n| h1 | h2 |\n|---|--:|\n| x | y |\n"));
    const QString shown = view.document()->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("five")));
    EXPECT_TRUE(shown.contains(QStringLiteral("y")));
    EXPECT_FALSE(shown.contains(QStringLiteral("|")));  // the table is a table, not pipes
}

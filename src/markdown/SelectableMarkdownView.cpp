#include "SelectableMarkdownView.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include "DocumentWriter.h"
#include "ImageStore.h"
#include "MarkdownParser.h"

namespace parlote {

SelectableMarkdownView::SelectableMarkdownView(QWidget* parent, ImageStore* images)
    : QTextBrowser(parent), images_(images ? images : ImageStore::shared()) {
    // Links never navigate the browser itself; a click is handed to the opener.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard |
                            Qt::LinksAccessibleByMouse);
    setFrameShape(QFrame::NoFrame);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        openLinkIfAllowed(url.toString(QUrl::FullyEncoded), opener_);
    });
    connect(images_, &ImageStore::imageChanged, this, [this](const QString& source) {
        if (imageSources_.contains(source)) rebuild();
    });
}

SelectableMarkdownView::~SelectableMarkdownView() {
    setDocument(nullptr);  // the browser lets go of our document before it is deleted
}

void SelectableMarkdownView::setMarkdown(const QString& text) {
    text_ = text;
    const QByteArray utf8 = text.toUtf8();
    blocks_ = parseMarkdown(std::string_view(utf8.constData(), size_t(utf8.size())));
    rebuild();
}

void SelectableMarkdownView::setPadding(qreal padding) {
    padding_ = padding;
    rebuild();
}

void SelectableMarkdownView::rebuild() {
    style_ = MarkdownStyle::from(font(), palette(), QPalette::Text, QPalette::Base);
    // The document is replaced rather than cleared: a fresh MarkdownTextDocument, which
    // loads no resources of its own, is the only kind this browser ever shows.
    auto* doc = new MarkdownTextDocument();
    doc->setDocumentMargin(padding_);
    doc->setUndoRedoEnabled(false);
    builtWidth_ = viewport()->width();
    DocumentWriter writer(doc, style_, images_, builtWidth_ - 2 * padding_);
    writer.write(blocks_);
    writer.finish();
    imageSources_ = writer.imageSources();
    // The browser deletes its own first document; the ones written here are ours.
    std::unique_ptr<MarkdownTextDocument> old =
        std::exchange(document_, std::unique_ptr<MarkdownTextDocument>(doc));
    setDocument(doc);
}

QVariant SelectableMarkdownView::loadResource(int, const QUrl&) {
    return {};
}

void SelectableMarkdownView::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(viewport());
        painter.translate(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
        const QRectF clip =
            QRectF(event->rect())
                .translated(horizontalScrollBar()->value(), verticalScrollBar()->value());
        paintDecorations(&painter, *document(), style_, clip, true);
        painter.end();
    }
    QTextBrowser::paintEvent(event);
    QPainter painter(viewport());
    painter.translate(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    const QRectF clip =
        QRectF(event->rect())
            .translated(horizontalScrollBar()->value(), verticalScrollBar()->value());
    paintDecorations(&painter, *document(), style_, clip, false);
}

void SelectableMarkdownView::changeEvent(QEvent* event) {
    QTextBrowser::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) rebuild();
}

void SelectableMarkdownView::resizeEvent(QResizeEvent* event) {
    QTextBrowser::resizeEvent(event);
    // Pictures are scaled to the width they were written for.
    if (!imageSources_.isEmpty() && viewport()->width() != builtWidth_) rebuild();
}

}  // namespace parlote

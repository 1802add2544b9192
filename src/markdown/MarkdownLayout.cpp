#include "MarkdownLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>

#include "DocumentWriter.h"
#include "ImageStore.h"
#include "MarkdownParser.h"

namespace parlote {

struct MarkdownLayout::Piece {
    std::unique_ptr<MarkdownTextDocument> doc;  // null until built
    QStringList imageSources;
    qreal laidOutWidth = -1;
    qreal top = 0;
    qreal height = 0;
};

MarkdownLayout::MarkdownLayout(ImageStore* images, QObject* parent)
    : QObject(parent),
      images_(images ? images : ImageStore::shared()),
      style_(MarkdownStyle::from(QApplication::font(), QApplication::palette())) {
    connect(images_, &ImageStore::imageChanged, this, &MarkdownLayout::imageChanged);
}

MarkdownLayout::~MarkdownLayout() = default;

void MarkdownLayout::setStyle(const MarkdownStyle& style) {
    if (style == style_) return;
    style_ = style;
    for (auto& piece : pieces_) piece->doc.reset();
    dirty_ = true;
    ++revision_;
}

bool MarkdownLayout::setMarkdown(std::string_view utf8) {
    return setBlocks(parseMarkdown(utf8, options_));
}

bool MarkdownLayout::setMarkdown(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return setMarkdown(std::string_view(utf8.constData(), size_t(utf8.size())));
}

bool MarkdownLayout::setBlocks(Blocks blocks) {
    size_t same = 0;
    const size_t common = std::min(blocks.size(), blocks_.size());
    while (same < common && blocks[same] == blocks_[same]) ++same;
    if (same == blocks.size() && same == blocks_.size()) return false;

    // The equal leading blocks keep their pieces; the others are built anew when next
    // laid out.
    pieces_.resize(same);
    pieces_.reserve(blocks.size());
    while (pieces_.size() < blocks.size()) pieces_.push_back(std::make_unique<Piece>());
    blocks_ = std::move(blocks);
    dirty_ = true;
    ++revision_;
    return true;
}

void MarkdownLayout::setWidth(qreal width) {
    width = qMax<qreal>(1, width);
    if (width == width_) return;
    width_ = width;
    dirty_ = true;
}

qreal MarkdownLayout::height() {
    ensureLaidOut();
    return height_;
}

qreal MarkdownLayout::heightForWidth(qreal width) {
    setWidth(width);
    return height();
}

qreal MarkdownLayout::idealWidth(qreal limit) {
    setWidth(limit);
    ensureLaidOut();
    qreal widest = 0;
    for (const auto& piece : pieces_) widest = qMax(widest, piece->doc->idealWidth());
    return qMin(limit, std::ceil(widest));
}

void MarkdownLayout::build(Piece& piece, size_t index) {
    piece.doc = std::make_unique<MarkdownTextDocument>();
    piece.doc->setDocumentMargin(0);
    piece.doc->setUndoRedoEnabled(false);
    // All of it in one edit: outside an edit, every insertion lays out its whole paragraph
    // again to place the cursor, which made a long paragraph with many spans quadratic.
    QTextCursor edit(piece.doc.get());
    edit.beginEditBlock();
    DocumentWriter writer(piece.doc.get(), style_, images_, width_);
    writer.write(blocks_[index]);
    writer.finish();
    edit.endEditBlock();
    piece.imageSources = writer.imageSources();
    piece.laidOutWidth = -1;
}

void MarkdownLayout::ensureLaidOut() {
    if (!dirty_) return;
    if (width_ <= 0) width_ = 400;
    qreal y = 0;
    for (size_t i = 0; i < pieces_.size(); ++i) {
        Piece& piece = *pieces_[i];
        // Scaled pictures depend on the width, so a new width rebuilds blocks with images.
        if (piece.doc && !piece.imageSources.isEmpty() && piece.laidOutWidth != width_)
            piece.doc.reset();
        if (!piece.doc) build(piece, i);
        if (piece.laidOutWidth != width_) {
            piece.doc->setTextWidth(width_);
            piece.height = piece.doc->size().height();
            piece.laidOutWidth = width_;
            ++layoutCount_;
        }
        if (i > 0) y += DocumentWriter::spacingBefore(blocks_[i], style_);
        piece.top = y;
        y += piece.height;
    }
    height_ = std::ceil(y);
    dirty_ = false;
}

void MarkdownLayout::paint(QPainter* painter, const QPointF& topLeft, const QRectF& exposed) {
    ensureLaidOut();
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, style_.text);
    for (const auto& piece : pieces_) {
        const QRectF area(topLeft.x(), topLeft.y() + piece->top, width_, piece->height);
        if (!exposed.isNull() && !exposed.intersects(area)) continue;
        const QRectF clip = exposed.isNull()
                                ? QRectF(0, 0, width_, piece->height)
                                : exposed.translated(-area.topLeft())
                                      .intersected(QRectF(-1, -1, width_ + 2, piece->height + 2));
        painter->save();
        painter->translate(area.topLeft());
        paintDecorations(painter, *piece->doc, style_, clip, true);
        context.clip = clip;
        piece->doc->documentLayout()->draw(painter, context);
        paintDecorations(painter, *piece->doc, style_, clip, false);
        painter->restore();
    }
}

const MarkdownLayout::Piece* MarkdownLayout::pieceAt(qreal y) const {
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), y,
                               [](qreal v, const std::unique_ptr<Piece>& p) { return v < p->top; });
    if (it == pieces_.begin()) return nullptr;
    const Piece* piece = std::prev(it)->get();
    return y <= piece->top + piece->height ? piece : nullptr;
}

QString MarkdownLayout::linkAt(const QPointF& point) {
    ensureLaidOut();
    const Piece* piece = pieceAt(point.y());
    if (!piece) return {};
    return piece->doc->documentLayout()->anchorAt(point - QPointF(0, piece->top));
}

void MarkdownLayout::imageChanged(const QString& source) {
    bool affected = false;
    for (auto& piece : pieces_) {
        if (piece->doc && piece->imageSources.contains(source)) {
            piece->doc.reset();
            affected = true;
        }
    }
    if (!affected) return;
    dirty_ = true;
    ++revision_;
    emit changed();
}

}  // namespace parlote

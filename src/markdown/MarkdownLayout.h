#pragma once

// Rendered Markdown without a widget: lays a text out for a width, reports its height,
// paints it at any offset and finds the link under a point. Meant for views that paint
// many messages themselves (a list view's delegate, say) as well as for MarkdownView.
//
// Each top-level block is laid out in a text document of its own. When new text arrives
// (a streamed reply hands over its whole text after every chunk), the new blocks are
// compared with the previous ones: the leading blocks that are equal keep their layout,
// so while a reply streams only its trailing block is laid out again.
//
// Interface thread only.

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <memory>
#include <string_view>
#include <vector>

#include "MarkdownNodes.h"
#include "MarkdownParser.h"
#include "MarkdownStyle.h"

class QPainter;
class QTextDocument;

namespace parlote {

class ImageStore;

class MarkdownLayout : public QObject {
    Q_OBJECT
public:
    /// A layout whose images come from `images` (ImageStore::shared() when null; pass a
    /// store of your own to keep a view off the network).
    explicit MarkdownLayout(ImageStore* images = nullptr, QObject* parent = nullptr);
    ~MarkdownLayout() override;

    /// Sets fonts and colours; every block is laid out again when they differ.
    void setStyle(const MarkdownStyle& style);
    const MarkdownStyle& style() const { return style_; }

    /// Whether a single line break in the text stays a line break (MarkdownOptions), for
    /// the texts given to setMarkdown() from now on.
    void setHardBreaks(bool hardBreaks) { options_.hardBreaks = hardBreaks; }

    /// Parses `text` and keeps the layout of every leading block that did not change.
    /// Returns whether anything changed.
    bool setMarkdown(std::string_view utf8);
    bool setMarkdown(const QString& text);
    bool setMarkdown(const char* utf8) { return setMarkdown(std::string_view(utf8)); }
    /// The same, with blocks parsed elsewhere.
    bool setBlocks(Blocks blocks);
    const Blocks& blocks() const { return blocks_; }

    /// The width to lay out for; only a different width lays the blocks out again.
    void setWidth(qreal width);
    qreal width() const { return width_; }
    /// The height at the current width (lays out whatever is not laid out yet).
    qreal height();
    qreal heightForWidth(qreal width);
    /// The width the text would take with no limit, capped at `limit`: lets a bubble
    /// shrink around a short message.
    qreal idealWidth(qreal limit);

    /// Paints with the top-left corner at `topLeft`; only blocks that meet `exposed`
    /// (in the painter's coordinates; null means everything) are drawn.
    void paint(QPainter* painter, const QPointF& topLeft, const QRectF& exposed = QRectF());

    /// The destination of the link at `point` (relative to the top-left corner), or an
    /// empty string. Only links that may open are links.
    QString linkAt(const QPointF& point);

    /// How many blocks have been laid out since construction: lets tests and
    /// benchmarks check that unchanged blocks are left alone.
    quint64 blockLayoutCount() const { return layoutCount_; }

    /// Goes up whenever the content or the style changes (not the width): lets callers
    /// cache heights per width.
    quint64 revision() const { return revision_; }

signals:
    /// Something outside the text changed how it looks (an image arrived or failed):
    /// the height may differ and the area needs painting again.
    void changed();

private:
    struct Piece;

    void ensureLaidOut();
    void build(Piece& piece, size_t index);
    void imageChanged(const QString& source);
    const Piece* pieceAt(qreal y) const;

    ImageStore* images_;
    MarkdownStyle style_;
    MarkdownOptions options_;
    Blocks blocks_;
    std::vector<std::unique_ptr<Piece>> pieces_;  // one per block
    qreal width_ = 0;
    qreal height_ = 0;
    bool dirty_ = false;  // positions or layouts need updating
    quint64 layoutCount_ = 0;
    quint64 revision_ = 0;
};

}  // namespace parlote

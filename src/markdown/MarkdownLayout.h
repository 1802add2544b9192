#pragma once

// Rendered Markdown without a widget: lays a text out for a width, reports its height,
// paints it at any offset and finds the link under a point. Meant for views that paint
// many messages themselves (a list view's delegate, say) as well as for MarkdownView.
//
// Each top-level block is laid out in a text document of its own. A text that grew at its
// end (a streamed reply hands over its whole text after every chunk) is parsed by a
// MarkdownStream, which parses only what the new characters can still change; blocks it
// reports unchanged keep their documents, and a growing code block, table or list gets
// its new lines, rows or items appended to its document instead of being written again.
// So a chunk costs about the same however long the reply already is.
//
// Code blocks have a header (their language, and a Copy button the owner hit-tests with
// codeButtons()) and are coloured by their language (CodeHighlighter.h): in place when
// small or growing a few lines at a time, else on a worker thread, whose colours are
// applied when they come back unless the block changed meanwhile.
//
// Interface thread only.

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <compare>
#include <memory>
#include <string_view>
#include <vector>

#include "MarkdownNodes.h"
#include "MarkdownParser.h"
#include "MarkdownStream.h"
#include "MarkdownStyle.h"

class QPainter;
class QTextCharFormat;
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
    void setHardBreaks(bool hardBreaks);

    /// Whether a text that grew at its end is taken in incrementally (the default): only
    /// what the new characters can still change is parsed and laid out again. Off, every
    /// text is parsed whole and each changed block is written and laid out anew (the
    /// streaming benchmark compares the two).
    void setIncremental(bool incremental) { incremental_ = incremental; }

    /// Whether pictures the image store does not have yet are fetched (the default). Off
    /// (an export), the ones it has are drawn and the others stand as their alternative
    /// text, and nothing goes over the network.
    void setFetchImages(bool fetch) { fetchImages_ = fetch; }

    /// Parses `text` and keeps the layout of every leading block that did not change.
    /// Returns whether anything changed.
    bool setMarkdown(std::string_view utf8);
    bool setMarkdown(const QString& text);
    bool setMarkdown(const char* utf8) { return setMarkdown(std::string_view(utf8)); }
    /// The same, with blocks parsed elsewhere.
    bool setBlocks(Blocks blocks);
    const Blocks& blocks() const { return stream_.blocks(); }

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

    // ---- Code blocks ----------------------------------------------------------------------
    /// A code block's header, relative to the top-left corner: its language and where its
    /// Copy button lies.
    struct CodeButton {
        QRectF copy;
        QString language;
    };
    /// The code blocks in the order of the text (laid out first).
    std::vector<CodeButton> codeButtons();
    /// The code of the `index`-th code block, as its Copy button copies it.
    QString codeOf(int index);
    /// How many code blocks wait for a worker to colour them (tests).
    int codeBlocksAwaitingColour() const;

    // ---- Selecting text (used by MarkdownSelection.h) ---------------------------------------
    /// A place in the text: a top-level block and a cursor position in that block's
    /// document. Text added or changed after the block never moves it.
    struct TextPosition {
        int block = 0;
        int offset = 0;
        friend auto operator<=>(const TextPosition&, const TextPosition&) = default;
    };
    /// How many top-level blocks the text has.
    int blockCount() const { return int(pieces_.size()); }
    /// The document of block `index`, laid out at the current width; null past the end.
    QTextDocument* blockDocument(int index);
    /// Where block `index` begins, relative to the top-left corner.
    qreal blockTop(int index);
    /// Paints as paint() does, the text from `from` to `to` drawn as `selected` says
    /// (its background and foreground).
    void paint(QPainter* painter, const QPointF& topLeft, const QRectF& exposed, TextPosition from,
               TextPosition to, const QTextCharFormat& selected);
    /// A stretch of text drawn in a format of its own (the selection, a match of Find).
    struct Highlight {
        TextPosition from;
        TextPosition to;
        const QTextCharFormat* format = nullptr;  // owned by the caller
        /// Only the format's background, filled under the text as a marker pen would: the
        /// text keeps its colours. Hundreds of these cost little, where each highlight
        /// drawn in its own format has the text drawn again, clipped to it.
        bool underText = false;
    };
    /// Paints as paint() does, each of `highlights` drawn as its format says: those
    /// `underText` first, then the others; where two overlap, the later one is drawn over
    /// the earlier.
    void paint(QPainter* painter, const QPointF& topLeft, const QRectF& exposed,
               const std::vector<Highlight>& highlights);

signals:
    /// Something outside the text changed how it looks (an image arrived or failed):
    /// the height may differ and the area needs painting again.
    void changed();

private:
    struct Piece;

    void ensureLaidOut();
    void apply(const MarkdownStream::Change& change);
    void build(Piece& piece, size_t index);
    bool append(Piece& piece, size_t index);
    void colourLater(Piece& piece);
    void applyColours(quint64 pieceId, int codeIndex, const QStringList& lines,
                      const std::vector<SyntaxLine>& colours);
    void imageChanged(const QString& source);
    const Piece* pieceAt(qreal y) const;

    ImageStore* images_;
    MarkdownStyle style_;
    MarkdownOptions options_;
    MarkdownStream stream_;                       // the blocks, parsed as the text grows
    std::vector<std::unique_ptr<Piece>> pieces_;  // one per block
    qreal width_ = 0;
    qreal height_ = 0;
    bool dirty_ = false;     // positions or layouts need updating
    size_t firstDirty_ = 0;  // pieces before this keep their layout and place
    bool incremental_ = true;
    bool fetchImages_ = true;
    quint64 nextPieceId_ = 0;
    // Held only by this layout: colours a worker hands over after it is gone are dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    quint64 layoutCount_ = 0;
    quint64 revision_ = 0;
};

}  // namespace parlote

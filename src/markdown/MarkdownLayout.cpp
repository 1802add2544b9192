#include "MarkdownLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>

#include "DocumentDecorations.h"
#include "DocumentWriter.h"
#include "ImageStore.h"
#include "InterfaceThread.h"
#include "MarkdownParser.h"
#include "TaskRunner.h"

namespace parlote {

namespace {

// What paint() draws highlighted in the document of block `index`.
QList<QAbstractTextDocumentLayout::Selection> highlightsIn(
    QTextDocument* doc, int index, const std::vector<MarkdownLayout::Highlight>& highlights) {
    QList<QAbstractTextDocumentLayout::Selection> out;
    const int end = doc->characterCount() - 1;
    for (const MarkdownLayout::Highlight& h : highlights) {
        if (h.underText || !(h.from < h.to) || !h.format || index < h.from.block ||
            index > h.to.block)
            continue;
        const int start = index == h.from.block ? qBound(0, h.from.offset, end) : 0;
        const int stop = index == h.to.block ? qBound(0, h.to.offset, end) : end;
        if (start >= stop) continue;
        for (const QTextCursor& cursor : selectionCursors(doc, start, stop))
            out.append(QAbstractTextDocumentLayout::Selection{cursor, *h.format});
    }
    return out;
}

// Fills the background of the highlights `underText` in the document of block `index`,
// line by line, where they meet `clip`.
void fillUnderText(QPainter* painter, QTextDocument* doc, int index,
                   const std::vector<MarkdownLayout::Highlight>& highlights, const QRectF& clip) {
    const int end = doc->characterCount() - 1;
    for (const MarkdownLayout::Highlight& h : highlights) {
        if (!h.underText || !(h.from < h.to) || !h.format || index < h.from.block ||
            index > h.to.block)
            continue;
        const int start = index == h.from.block ? qBound(0, h.from.offset, end) : 0;
        const int stop = index == h.to.block ? qBound(0, h.to.offset, end) : end;
        const QBrush brush = h.format->background();
        for (QTextBlock block = doc->findBlock(start); block.isValid() && block.position() < stop;
             block = block.next()) {
            const QTextLayout* lines = block.layout();
            if (!lines || lines->lineCount() == 0) continue;
            const int from = qMax(start, block.position()) - block.position();
            const int to = qMin(stop, block.position() + block.length() - 1) - block.position();
            if (from >= to) continue;
            const QPointF origin = doc->documentLayout()->blockBoundingRect(block).topLeft();
            for (int i = lines->lineForTextPosition(from).lineNumber();
                 i >= 0 && i < lines->lineCount(); ++i) {
                const QTextLine line = lines->lineAt(i);
                const int lineStart = line.textStart();
                const int lineEnd = lineStart + line.textLength();
                if (lineStart >= to) break;
                if (lineEnd <= from) continue;
                // Placing along the line shapes it: only for lines that are painted.
                const qreal top = origin.y() + line.y();
                if (top > clip.bottom()) break;
                if (top + line.height() < clip.top()) continue;
                const qreal left = line.cursorToX(qMax(from, lineStart));
                const qreal right = line.cursorToX(qMin(to, lineEnd));
                const QRectF area(origin.x() + qMin(left, right), origin.y() + line.y(),
                                  std::abs(right - left), line.height());
                if (area.intersects(clip)) painter->fillRect(area, brush);
            }
        }
    }
}

}  // namespace

struct MarkdownLayout::Piece {
    std::unique_ptr<MarkdownTextDocument> doc;  // null until built
    QStringList imageSources;
    qreal laidOutWidth = -1;
    qreal top = 0;
    qreal height = 0;
    quint64 id = 0;
    // The block grew since `doc` was written: its first `validParts` lines, rows or items
    // are still as the document holds them, and the rest is appended on the next layout.
    bool grown = false;
    size_t validParts = 0;
    bool remeasure = false;  // changed in place: its height is read again
    std::vector<WrittenCode> code;
    std::vector<int> itemStarts;
    // A paragraph: its inlines as the document holds them, and where each begins.
    Inlines paragraph;
    std::vector<int> inlineStarts;
    std::unique_ptr<LineColourer> colourer;  // a top-level code block coloured in place
    bool colouring = false;                  // a worker is colouring its code
    // Set to stop that worker: the piece is written anew or goes.
    std::shared_ptr<std::atomic<bool>> cancel;

    ~Piece() { cancelColouring(); }
    void cancelColouring() {
        if (cancel) *cancel = true;
        cancel.reset();
        colouring = false;
    }
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
    for (auto& piece : pieces_) {
        piece->doc.reset();
        piece->colourer.reset();
    }
    dirty_ = true;
    firstDirty_ = 0;
    ++revision_;
}

void MarkdownLayout::setHardBreaks(bool hardBreaks) {
    options_.hardBreaks = hardBreaks;
    stream_.setOptions(options_);
}

bool MarkdownLayout::setMarkdown(std::string_view utf8) {
    if (!incremental_) return setBlocks(parseMarkdown(utf8, options_));
    const MarkdownStream::Change change = stream_.update(utf8);
    if (!change.changed) return false;
    apply(change);
    return true;
}

bool MarkdownLayout::setMarkdown(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return setMarkdown(std::string_view(utf8.constData(), size_t(utf8.size())));
}

bool MarkdownLayout::setBlocks(Blocks blocks) {
    const MarkdownStream::Change change = stream_.assign(std::move(blocks));
    if (!change.changed) return false;
    apply(change);
    return true;
}

void MarkdownLayout::apply(const MarkdownStream::Change& change) {
    // The equal leading blocks keep their pieces; a block that grew keeps its document to
    // append to; the others are built anew when next laid out.
    const size_t count = stream_.blocks().size();
    std::unique_ptr<Piece> grown;
    if (change.keptParts > 0 && change.kept < pieces_.size() && change.kept < count &&
        pieces_[change.kept]->doc) {
        grown = std::move(pieces_[change.kept]);
        grown->validParts =
            grown->grown ? std::min(grown->validParts, change.keptParts) : change.keptParts;
        grown->grown = true;
    }
    // A paragraph that changed at its end (text streamed onto it) keeps the inlines it
    // begins with, as its document holds them.
    if (!grown && change.kept < pieces_.size() && change.kept < count &&
        pieces_[change.kept]->doc && !pieces_[change.kept]->paragraph.empty()) {
        if (auto* p = std::get_if<blk::Paragraph>(&stream_.blocks()[change.kept].value)) {
            const Inlines& before = pieces_[change.kept]->paragraph;
            const auto [held, now] =
                std::mismatch(before.begin(), before.end(), p->inlines.begin(), p->inlines.end());
            if (held != before.begin()) {
                grown = std::move(pieces_[change.kept]);
                grown->validParts = size_t(held - before.begin());
                grown->grown = true;
            }
        }
    }
    pieces_.resize(std::min(change.kept, pieces_.size()));
    if (grown) pieces_.push_back(std::move(grown));
    pieces_.reserve(count);
    while (pieces_.size() < count) {
        pieces_.push_back(std::make_unique<Piece>());
        pieces_.back()->id = ++nextPieceId_;
    }
    dirty_ = true;
    firstDirty_ = std::min(firstDirty_, std::min(change.kept, pieces_.size()));
    ++revision_;
}

void MarkdownLayout::setWidth(qreal width) {
    width = qMax<qreal>(1, width);
    if (width == width_) return;
    width_ = width;
    dirty_ = true;
    firstDirty_ = 0;
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
    if (piece.doc && piece.grown && append(piece, index)) return;
    const BlockNode& block = stream_.blocks()[index];
    piece.doc = std::make_unique<MarkdownTextDocument>();
    piece.doc->setDocumentMargin(0);
    piece.doc->setUndoRedoEnabled(false);
    piece.grown = false;
    piece.colourer.reset();
    piece.cancelColouring();
    if (auto* code = std::get_if<blk::CodeBlock>(&block.value)) {
        // Kept to colour the lines a streamed block adds on from where it stopped.
        const QString language = codeLanguage(code->fenceInfo);
        if (!language.isEmpty()) piece.colourer = std::make_unique<LineColourer>(language);
    }
    // All of it in one edit: outside an edit, every insertion lays out its whole paragraph
    // again to place the cursor, which made a long paragraph with many spans quadratic.
    QTextCursor edit(piece.doc.get());
    edit.beginEditBlock();
    DocumentWriter writer(piece.doc.get(), style_, images_, width_);
    writer.setColourer(piece.colourer.get());
    writer.setFetchImages(fetchImages_);
    writer.write(block);
    writer.finish();
    edit.endEditBlock();
    piece.imageSources = writer.imageSources();
    piece.code = writer.code();
    piece.itemStarts = writer.itemStarts();
    if (auto* p = std::get_if<blk::Paragraph>(&block.value)) {
        piece.paragraph = p->inlines;
        piece.inlineStarts = writer.inlineStarts();
    } else {
        piece.paragraph.clear();
        piece.inlineStarts.clear();
    }
    piece.laidOutWidth = -1;
    colourLater(piece);
}

bool MarkdownLayout::append(Piece& piece, size_t index) {
    const BlockNode& block = stream_.blocks()[index];
    const int kept = int(piece.validParts);
    QTextCursor edit(piece.doc.get());
    edit.beginEditBlock();
    DocumentWriter writer(piece.doc.get(), style_, images_, width_);
    writer.setColourer(piece.colourer.get());
    writer.setFetchImages(fetchImages_);
    bool done = false;
    if (auto* code = std::get_if<blk::CodeBlock>(&block.value)) {
        done = piece.code.size() == 1 && writer.appendCodeLines(*code, kept, piece.code[0]);
    } else if (auto* table = std::get_if<blk::Table>(&block.value)) {
        done = writer.appendTableRows(*table, kept);
    } else if (auto* paragraph = std::get_if<blk::Paragraph>(&block.value)) {
        done = writer.appendParagraphInlines(*paragraph, kept, piece.inlineStarts);
        if (done) piece.paragraph = paragraph->inlines;
    } else if (std::holds_alternative<blk::BulletedList>(block.value) ||
               std::holds_alternative<blk::NumberedList>(block.value) ||
               std::holds_alternative<blk::TaskList>(block.value)) {
        // The items from `kept` on are written again, with their code blocks.
        const std::vector<int> before = piece.itemStarts;
        done = writer.appendListItems(block, kept, piece.itemStarts);
        if (done) {
            const int rewritten = size_t(kept) < before.size() ? before[size_t(kept)]
                                                               : std::numeric_limits<int>::max();
            std::erase_if(piece.code,
                          [rewritten](const WrittenCode& c) { return c.header >= rewritten; });
            piece.code.insert(piece.code.end(), writer.code().begin(), writer.code().end());
        }
    }
    if (done) writer.finish();
    edit.endEditBlock();
    if (!done) return false;
    piece.grown = false;
    for (const QString& source : writer.imageSources())
        if (!piece.imageSources.contains(source)) piece.imageSources.append(source);
    piece.remeasure = true;
    colourLater(piece);
    return true;
}

void MarkdownLayout::ensureLaidOut() {
    if (!dirty_) return;
    if (width_ <= 0) width_ = 400;
    const size_t from = std::min(firstDirty_, pieces_.size());
    qreal y = from == 0 ? 0 : pieces_[from - 1]->top + pieces_[from - 1]->height;
    const Blocks& blocks = stream_.blocks();
    for (size_t i = from; i < pieces_.size(); ++i) {
        Piece& piece = *pieces_[i];
        // Scaled pictures depend on the width, so a new width rebuilds blocks with images.
        if (piece.doc && !piece.imageSources.isEmpty() && piece.laidOutWidth != width_)
            piece.doc.reset();
        if (!piece.doc || piece.grown) build(piece, i);
        if (piece.laidOutWidth != width_) {
            piece.doc->setTextWidth(width_);
            piece.height = piece.doc->size().height();
            piece.laidOutWidth = width_;
            piece.remeasure = false;
            ++layoutCount_;
        } else if (piece.remeasure) {
            // Changed in place at the same width: Qt lays out only the changed blocks.
            piece.height = piece.doc->size().height();
            piece.remeasure = false;
            ++layoutCount_;
        }
        if (i > 0) y += DocumentWriter::spacingBefore(blocks[i], style_);
        piece.top = y;
        y += piece.height;
    }
    height_ = std::ceil(y);
    dirty_ = false;
    firstDirty_ = pieces_.size();
}

std::vector<MarkdownLayout::CodeButton> MarkdownLayout::codeButtons() {
    ensureLaidOut();
    std::vector<CodeButton> out;
    for (const auto& piece : pieces_) {
        for (const WrittenCode& code : piece->code) {
            const QTextBlock header = piece->doc->findBlockByNumber(code.header);
            out.push_back(
                {copyButtonRect(header, style_).translated(0, piece->top), code.language});
        }
    }
    return out;
}

QString MarkdownLayout::codeOf(int index) {
    ensureLaidOut();
    for (const auto& piece : pieces_) {
        if (index >= int(piece->code.size())) {
            index -= int(piece->code.size());
            continue;
        }
        const WrittenCode& code = piece->code[size_t(index)];
        QStringList lines;
        QTextBlock line = piece->doc->findBlockByNumber(code.header + 1);
        for (int i = 0; i < code.lines && line.isValid(); ++i, line = line.next())
            lines.append(line.text());
        return lines.join(u'\n');
    }
    return {};
}

int MarkdownLayout::codeBlocksAwaitingColour() const {
    int count = 0;
    for (const auto& piece : pieces_)
        for (const WrittenCode& code : piece->code)
            if (!code.coloured) ++count;
    return count;
}

void MarkdownLayout::colourLater(Piece& piece) {
    // One worker at a time per block: what changes meanwhile is coloured by the next.
    if (piece.colouring || isColouringStopped()) return;
    for (size_t i = 0; i < piece.code.size(); ++i) {
        WrittenCode& code = piece.code[i];
        if (code.coloured) continue;
        QStringList lines;
        qsizetype length = 0;
        QTextBlock line = piece.doc->findBlockByNumber(code.header + 1);
        for (int k = 0; k < code.lines && line.isValid(); ++k, line = line.next()) {
            lines.append(line.text());
            length += lines.back().size();
        }
        if (length > kMaxColouredCodeLength) {
            code.coloured = true;  // stays plain
            continue;
        }
        piece.colouring = true;
        piece.cancel = std::make_shared<std::atomic<bool>>(false);
        const quint64 id = piece.id;
        const int codeIndex = int(i);
        TaskRunner::shared().start([this, alive = std::weak_ptr<const void>(alive_), id, codeIndex,
                                    cancel = piece.cancel, language = code.language,
                                    lines = std::move(lines)] {
            std::optional<std::vector<SyntaxLine>> colours =
                highlightLines(language, lines, cancel.get());
            if (!colours) return;  // the piece changed or went, or the application quits
            InterfaceThread::post(alive,
                                  [this, id, codeIndex, lines, colours = std::move(*colours)] {
                                      applyColours(id, codeIndex, lines, colours);
                                  });
        });
        return;
    }
}

void MarkdownLayout::applyColours(quint64 pieceId, int codeIndex, const QStringList& lines,
                                  const std::vector<SyntaxLine>& colours) {
    auto it = std::find_if(pieces_.begin(), pieces_.end(),
                           [&](const std::unique_ptr<Piece>& p) { return p->id == pieceId; });
    if (it == pieces_.end()) return;
    Piece& piece = **it;
    piece.colouring = false;
    piece.cancel.reset();
    if (!piece.doc || codeIndex >= int(piece.code.size())) return;
    WrittenCode& code = piece.code[size_t(codeIndex)];
    // Lines that changed since the worker took them (or the block itself, rebuilt) keep
    // their look and are coloured by the next worker.
    bool all = code.lines == lines.size();
    QTextCursor cursor(piece.doc.get());
    cursor.beginEditBlock();
    QTextBlock line = piece.doc->findBlockByNumber(code.header + 1);
    // Lines an earlier worker coloured and that are unchanged since keep their colours (a
    // block that grows is coloured again from its start, but applied only where it grew).
    int unchanged = 0;
    bool leading = true;
    for (qsizetype i = 0; i < lines.size() && line.isValid(); ++i, line = line.next()) {
        if (!line.blockFormat().boolProperty(decoration::CodeLine) || line.text() != lines[i]) {
            all = false;
            leading = false;
            continue;
        }
        if (leading) ++unchanged;
        if (leading && i < code.colouredLines) continue;
        for (const SyntaxToken& t : colours[size_t(i)]) {
            QTextCharFormat f;
            f.setForeground(style_.syntax.color(t.kind));
            if (SyntaxTheme::isItalic(t.kind)) f.setFontItalic(true);
            cursor.setPosition(line.position() + t.start);
            cursor.setPosition(line.position() + t.start + t.length, QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(f);
        }
    }
    cursor.endEditBlock();
    code.coloured = all;
    code.colouredLines = unchanged;
    piece.remeasure = true;
    dirty_ = true;
    const size_t index = size_t(it - pieces_.begin());
    firstDirty_ = std::min(firstDirty_, index);
    ++revision_;
    if (!all) colourLater(piece);
    emit changed();
}

void MarkdownLayout::paint(QPainter* painter, const QPointF& topLeft, const QRectF& exposed) {
    paint(painter, topLeft, exposed, std::vector<Highlight>());
}

void MarkdownLayout::paint(QPainter* painter, const QPointF& topLeft, const QRectF& exposed,
                           TextPosition from, TextPosition to, const QTextCharFormat& selected) {
    paint(painter, topLeft, exposed, std::vector<Highlight>{{from, to, &selected}});
}

void MarkdownLayout::paint(QPainter* painter, const QPointF& topLeft, const QRectF& exposed,
                           const std::vector<Highlight>& highlights) {
    ensureLaidOut();
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, style_.text);
    for (size_t index = 0; index < pieces_.size(); ++index) {
        const auto& piece = pieces_[index];
        const QRectF area(topLeft.x(), topLeft.y() + piece->top, width_, piece->height);
        if (!exposed.isNull() && !exposed.intersects(area)) continue;
        const QRectF clip = exposed.isNull()
                                ? QRectF(0, 0, width_, piece->height)
                                : exposed.translated(-area.topLeft())
                                      .intersected(QRectF(-1, -1, width_ + 2, piece->height + 2));
        painter->save();
        painter->translate(area.topLeft());
        paintDecorations(painter, *piece->doc, style_, clip, true);
        fillUnderText(painter, piece->doc.get(), int(index), highlights, clip);
        context.clip = clip;
        context.selections = highlightsIn(piece->doc.get(), int(index), highlights);
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

// ---- Selecting text ----------------------------------------------------------------------

QTextDocument* MarkdownLayout::blockDocument(int index) {
    ensureLaidOut();
    if (index < 0 || index >= int(pieces_.size())) return nullptr;
    return pieces_[size_t(index)]->doc.get();
}

qreal MarkdownLayout::blockTop(int index) {
    ensureLaidOut();
    if (index < 0 || index >= int(pieces_.size())) return height_;
    return pieces_[size_t(index)]->top;
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
    firstDirty_ = 0;
    ++revision_;
    emit changed();
}

}  // namespace parlote

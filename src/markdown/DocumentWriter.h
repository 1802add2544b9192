#pragma once

// Writes blocks into a QTextDocument with QTextCursor calls, never through HTML or
// Qt's own Markdown reader: text from a model is only ever inserted as text.
//
// The document stays flat: nesting (lists, quotes) becomes left margins, and what Qt's
// text layout cannot draw on its own (list markers, task boxes, quote bars, code
// backgrounds, rules) is recorded as block properties (DocumentDecorations.h) and drawn
// by paintDecorations() (DocumentDecorations.cpp).

#include <QStringList>
#include <QTextCursor>
#include <QTextDocument>

#include "CodeHighlighter.h"
#include "MarkdownNodes.h"
#include "MarkdownStyle.h"

class QPainter;
class QTextBlock;
class QTextTable;

namespace parlote {

class ImageStore;

/// Colours the lines of one code block in order and remembers where it stood before each
/// of them, so that lines added to the block later (a reply being streamed) are coloured
/// on from there without colouring the block again.
class LineColourer {
public:
    explicit LineColourer(const QString& language);
    bool isValid() const { return highlighter_.isValid(); }
    /// Colours `lines`, the block's lines from number `first` on. Returns false, colouring
    /// nothing, when it never stood before line `first`.
    bool colour(const QStringList& lines, int first, std::vector<SyntaxLine>& out);

private:
    CodeHighlighter highlighter_;
    std::vector<std::shared_ptr<const CodeHighlighter::Checkpoint>> before_;  // per line
};

/// A code block a writer wrote: its header and lines are consecutive text blocks.
struct WrittenCode {
    int header = 0;         // the header's block number
    int lines = 0;          // how many lines follow it
    QString language;       // the first word of the info string
    bool coloured = false;  // false: left plain, for a worker to colour (or no language)
    int colouredLines = 0;  // leading lines a worker's colours were applied to, unchanged since
    // Where line `markLine` of the block's content starts (a streamed block's lines before
    // the ones it rewrites never change): appending finds its lines from there.
    int markLine = 0;
    size_t markOffset = 0;
};

/// Code blocks longer than this are not coloured while being written: a worker colours
/// them (MarkdownLayout), so that the interface thread never spends long on one.
inline constexpr int kMaxColouredLinesInPlace = 200;
inline constexpr int kMaxColouredBytesInPlace = 8 * 1024;
/// Code blocks longer than this stay plain: colouring them would keep a worker busy for
/// long, for a block nobody reads in colour.
inline constexpr qsizetype kMaxColouredCodeLength = 256 * 1024;

/// The first word of a fence's info string: the language shown in a code block's header.
QString codeLanguage(const std::optional<std::string>& fenceInfo);
/// A code block's lines from number `first` on, without their line breaks; `total`, when
/// given, is set to the number of all its lines. `mark`, when given, is a line known to
/// start at an offset, at or before `first`, to count on from (a growing block's earlier
/// lines are not counted again); it is moved to line `first`.
struct CodeLineMark {
    int line = 0;
    size_t offset = 0;
};
QStringList codeLines(const std::string& content, int first = 0, int* total = nullptr,
                      CodeLineMark* mark = nullptr);

/// A text document that loads nothing on its own: images come only from the resources
/// the writer adds (decoded images of the image store); files and other addresses named
/// in the text are never opened.
class MarkdownTextDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};

class DocumentWriter {
public:
    /// Tables larger than this show their first rows and columns and a note saying how
    /// much was left out.
    static constexpr int kMaxTableColumns = 30;
    static constexpr int kMaxTableCells = 3000;
    /// A table with more cells than this is written as a stack of short tables ("parts")
    /// of at most this many cells each, their columns given the same widths so that they
    /// read as one table. Qt lays a table out again in full whenever a cell changes, so a
    /// row appended to a streamed table then costs the same however long the table is.
    static constexpr int kTablePartCells = 32;

    /// A writer appending to `doc`. `images` may be null (images then show their
    /// alternative text); pictures are scaled down to `imageMaxWidth`.
    DocumentWriter(QTextDocument* doc, const MarkdownStyle& style, ImageStore* images,
                   qreal imageMaxWidth);

    /// Appends `blocks`, spaced as sibling blocks of a document.
    void write(const Blocks& blocks);
    void write(const BlockNode& block);
    /// Call once after the last write.
    void finish();

    /// The loadable image addresses written so far (the views watch these).
    const QStringList& imageSources() const { return imageSources_; }

    /// The gap a view leaves above `block` when it follows another block.
    static qreal spacingBefore(const BlockNode& block, const MarkdownStyle& style);

    /// Colours the code of a top-level code block with `colourer` (kept by the caller so
    /// that appendCodeLines() can colour on); other code blocks get colourers of their own.
    void setColourer(LineColourer* colourer) { colourer_ = colourer; }
    /// Whether a picture the store does not have yet is fetched (the default); off, only
    /// pictures already there are shown, the others by their alternative text.
    void setFetchImages(bool fetch) { fetchImages_ = fetch; }
    /// The code blocks written so far.
    const std::vector<WrittenCode>& code() const { return code_; }
    /// For a top-level list: the block number where each item begins.
    const std::vector<int>& itemStarts() const { return itemStarts_; }
    /// For a paragraph: the position where each of its inlines begins (the last one
    /// written).
    const std::vector<int>& inlineStarts() const { return inlineStarts_; }

    /// Appending to a document holding one top-level block written before: each takes the
    /// block as it is now and how many of its leading parts the document already holds as
    /// they are, removes the rest and writes the parts after them. False when the block
    /// cannot be continued that way (the caller writes it anew).
    /// A code block: `kept` lines; `written` is its entry from code().
    bool appendCodeLines(const blk::CodeBlock& code, int kept, WrittenCode& written);
    /// A table: `kept` rows, the header included.
    bool appendTableRows(const blk::Table& table, int kept);
    /// A list: `kept` items, which begin at `starts` (updated).
    bool appendListItems(const BlockNode& list, int kept, std::vector<int>& starts);
    /// A paragraph: `kept` of its inlines, which begin at `starts` (updated; as
    /// inlineStarts() gave them). Text added to a paragraph's end changes only its last
    /// inlines, so a long paragraph being streamed is not written again for each chunk.
    bool appendParagraphInlines(const blk::Paragraph& paragraph, int kept,
                                std::vector<int>& starts);

private:
    void writeBlocks(const Blocks& blocks, qreal spacing);
    void writeBlock(const BlockNode& block);
    void writeList(const std::vector<const Blocks*>& items, const QStringList& markers, bool tight,
                   qreal step, size_t first = 0);
    void listItems(const BlockNode& block, std::vector<const Blocks*>& items, QStringList& markers,
                   bool& tight, size_t from = 0) const;
    void writeCode(const blk::CodeBlock& code);
    void writeCodeLines(const QStringList& todo, int first, int total, const QString& language,
                        LineColourer* colourer, bool colour, bool* coloured);
    void writeRaw(const std::string& content);
    void writeTable(const blk::Table& table);
    void writeTableParts(const blk::Table& table, int from, int rows, int columns);
    QTextTable* insertTable(const blk::Table& table, int from, int to, int columns,
                            const QTextTableFormat& format);
    void fillTableRows(QTextTable* t, const blk::Table& table, int from, int to, int columns,
                       int first = 0);
    void writeTableNote(const blk::Table& table, int rows, int columns);
    QTextBlockFormat codeLineFormat(bool last) const;
    void continueAtEnd();
    void writeInlines(QTextCursor& cursor, const Inlines& inlines, const QTextCharFormat& format);
    void writeInline(QTextCursor& cursor, const InlineNode& node, const QTextCharFormat& format);
    void writeImage(QTextCursor& cursor, const inl::Image& image, const QTextCharFormat& format);

    void space(qreal gap);
    void startBlock(QTextBlockFormat format, const QTextCharFormat& charFormat,
                    qreal extraLeft = 0);
    void collapseCurrentBlock();
    QTextCharFormat bodyFormat() const;

    QTextDocument* doc_;
    const MarkdownStyle& style_;
    ImageStore* images_;
    bool fetchImages_ = true;
    qreal imageMaxWidth_;
    QTextCursor cursor_;
    bool unusedBlock_ = true;  // the cursor's block is empty and may be taken as it is
    bool atStart_ = true;      // nothing written yet: no gap above the first block
    qreal pendingTop_ = 0;
    qreal indent_ = 0;
    int listDepth_ = 0;
    QList<qreal> quoteBars_;
    int quoteStarts_ = 0;  // quotes opened since the last block began
    QStringList pendingMarkers_;
    QList<qreal> pendingMarkerRights_;
    QStringList imageSources_;
    int imageCount_ = 0;
    LineColourer* colourer_ = nullptr;
    std::vector<WrittenCode> code_;
    std::vector<int> itemStarts_;
    std::vector<int> inlineStarts_;
};

/// The selection from `start` to `stop` in a document written by DocumentWriter, as
/// cursors to paint or read in order. One cursor, except where the two ends lie in
/// different parts of a long table written as a stack of short ones: one cursor per part
/// then, each selecting the cells of the rows and columns between the two ends, as a
/// selection between two cells of one table does.
QList<QTextCursor> selectionCursors(QTextDocument* doc, int start, int stop);

/// Draws the decorations of a document written by DocumentWriter: the ones behind the
/// text (`behindText`) or the ones over it. `clip` is in document coordinates.
void paintDecorations(QPainter* painter, const QTextDocument& doc, const MarkdownStyle& style,
                      const QRectF& clip, bool behindText);

/// Where the Copy button of the code block whose header is `header` lies, in its
/// document's coordinates; a null rectangle for other blocks.
QRectF copyButtonRect(const QTextBlock& header, const MarkdownStyle& style);

}  // namespace parlote

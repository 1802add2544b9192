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

#include "MarkdownNodes.h"
#include "MarkdownStyle.h"

class QPainter;

namespace parlote {

class ImageStore;

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

private:
    void writeBlocks(const Blocks& blocks, qreal spacing);
    void writeBlock(const BlockNode& block);
    void writeList(const std::vector<const Blocks*>& items, const QStringList& markers, bool tight);
    void writeCode(const std::string& content);
    void writeTable(const blk::Table& table);
    void writeInlines(QTextCursor& cursor, const Inlines& inlines, const QTextCharFormat& format);
    void writeImage(QTextCursor& cursor, const inl::Image& image, const QTextCharFormat& format);

    void space(qreal gap);
    void startBlock(QTextBlockFormat format, const QTextCharFormat& charFormat,
                    qreal extraLeft = 0);
    void collapseCurrentBlock();
    QTextCharFormat bodyFormat() const;

    QTextDocument* doc_;
    const MarkdownStyle& style_;
    ImageStore* images_;
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
};

/// Draws the decorations of a document written by DocumentWriter: the ones behind the
/// text (`behindText`) or the ones over it. `clip` is in document coordinates.
void paintDecorations(QPainter* painter, const QTextDocument& doc, const MarkdownStyle& style,
                      const QRectF& clip, bool behindText);

}  // namespace parlote

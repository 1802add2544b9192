// paintDecorations(): draws, from the block properties DocumentWriter recorded, what Qt's
// text layout cannot draw on its own. One function per decoration: code backgrounds
// behind the text; quote bars, rules, list markers and task boxes over it.

#include "DocumentDecorations.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTextLayout>
#include <optional>

#include "DocumentWriter.h"

namespace parlote {

using namespace decoration;

namespace {

// A block the writer decorated, and where it lies in document coordinates.
struct DecoratedBlock {
    QTextBlockFormat format;
    qreal contentLeft = 0;   // where the positions the writer recorded are measured from
    qreal contentRight = 0;  // the right edge of the content area
    QPointF origin;          // where its lines are placed
    qreal top = 0;           // its top, the top margin included
    qreal bottom = 0;        // its bottom, the bottom margin included
    QTextLine first;         // its first line
};

std::optional<DecoratedBlock> decoratedBlock(const QTextBlock& block, qreal contentLeft,
                                             qreal contentRight) {
    const QTextBlockFormat f = block.blockFormat();
    if (!f.hasProperty(MarkerTexts) && !f.hasProperty(QuoteBars) && !f.hasProperty(CodeLeft) &&
        !f.hasProperty(Rule) && !f.hasProperty(CodeHeader)) {
        return std::nullopt;
    }
    const QTextLayout* text = block.layout();
    if (!text || text->lineCount() == 0) return std::nullopt;
    // The block's extent, margins included, from where its lines were placed.
    DecoratedBlock b;
    b.format = f;
    b.contentLeft = contentLeft;
    b.contentRight = contentRight;
    b.origin = text->position() + QPointF(contentLeft, 0);
    b.top = b.origin.y() - f.topMargin();
    b.bottom = b.origin.y() + text->boundingRect().height() + f.bottomMargin();
    b.first = text->lineAt(0);
    return b;
}

// A code block's background: a rounded tint from its left edge to the content's right,
// from the top of its first block to the bottom of its last.
void paintCodeTint(QPainter* painter, const DecoratedBlock& first, qreal bottom,
                   const MarkdownStyle& style) {
    const qreal left = first.contentLeft + first.format.doubleProperty(CodeLeft);
    const qreal top = first.top + first.format.doubleProperty(CodeTopInset);
    QPainterPath path;
    path.addRoundedRect(QRectF(left, top, first.contentRight - left, bottom - top), 4, 4);
    painter->fillPath(path, style.codeBackground);
}

// The Copy button at the right end of a code block's header.
void paintCopyButton(QPainter* painter, const QTextBlock& block, const DecoratedBlock& b,
                     const MarkdownStyle& style) {
    if (!b.format.hasProperty(CodeHeader)) return;
    const QRectF button = copyButtonRect(block, style);
    if (button.isNull()) return;
    painter->setFont(block.charFormat().font());
    painter->setPen(style.link);
    painter->drawText(button, Qt::AlignCenter, kCopyLabel);
}

// One bar per enclosing quote, down the block's left.
void paintQuoteBars(QPainter* painter, const DecoratedBlock& b, const MarkdownStyle& style) {
    if (!b.format.hasProperty(QuoteBars)) return;
    // Bars that begin at this block start below the gap above it; the bars of enclosing
    // quotes run through the gap.
    const QVariantList bars = b.format.property(QuoteBars).toList();
    const qsizetype starting = b.format.intProperty(QuoteBarsStarting);
    for (qsizetype i = 0; i < bars.size(); ++i) {
        const qreal top = i >= bars.size() - starting ? b.origin.y() : b.top;
        painter->fillRect(QRectF(b.contentLeft + bars[i].toReal(), top, 3, b.bottom - top),
                          style.quoteBar);
    }
}

// A thematic break: a one-pixel line across the middle of the block's line.
void paintRule(QPainter* painter, const DecoratedBlock& b, const MarkdownStyle& style) {
    if (!b.format.hasProperty(Rule)) return;
    const qreal y = b.origin.y() + b.first.y() + b.first.height() / 2;
    const qreal left = b.contentLeft + b.format.leftMargin();
    painter->fillRect(QRectF(left, y - 0.5, b.contentRight - left, 1), style.rule);
}

// A task list item's box, its right edge at `right` and its bottom on `baseline`: ticked,
// a filled box with a white tick; open, an outline.
void paintTaskBox(QPainter* painter, qreal right, qreal baseline, bool ticked,
                  const QFontMetricsF& metrics, const MarkdownStyle& style) {
    const qreal side = qRound(metrics.ascent() * 0.8);
    const QRectF box(right - side, baseline - side, side, side);
    if (ticked) {
        QPainterPath path;
        path.addRoundedRect(box, 2, 2);
        painter->fillPath(path, style.checkboxFill);
        QPen tick(Qt::white, qMax<qreal>(1.5, side / 7));
        tick.setCapStyle(Qt::RoundCap);
        tick.setJoinStyle(Qt::RoundJoin);
        painter->setPen(tick);
        const QPointF pts[] = {{box.left() + side * 0.22, box.top() + side * 0.52},
                               {box.left() + side * 0.42, box.top() + side * 0.72},
                               {box.left() + side * 0.78, box.top() + side * 0.3}};
        painter->drawPolyline(pts, 3);
    } else {
        painter->setPen(QPen(style.secondary, 1.2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(box.adjusted(0.6, 0.6, -0.6, -0.6), 2, 2);
    }
}

// The markers of the list items that begin on this line (a bullet, a number or a task
// box per nested list), each right-aligned on the first line's baseline.
void paintListMarkers(QPainter* painter, const DecoratedBlock& b, const MarkdownStyle& style) {
    if (!b.format.hasProperty(MarkerTexts)) return;
    const QStringList markers = b.format.property(MarkerTexts).toStringList();
    const QVariantList rights = b.format.property(MarkerRights).toList();
    const qreal baseline = b.origin.y() + b.first.y() + b.first.ascent();
    const QFontMetricsF metrics(style.body);
    painter->setFont(style.body);
    for (qsizetype i = 0; i < markers.size() && i < rights.size(); ++i) {
        const qreal right = b.contentLeft + rights[i].toReal();
        const QString& marker = markers[i];
        if (marker == kOpenBox || marker == kTickedBox) {
            paintTaskBox(painter, right, baseline, marker == kTickedBox, metrics, style);
        } else {
            painter->setPen(style.secondary);
            painter->drawText(QPointF(right - metrics.horizontalAdvance(marker), baseline), marker);
        }
    }
}

}  // namespace

QRectF copyButtonRect(const QTextBlock& header, const MarkdownStyle& style) {
    if (!header.blockFormat().hasProperty(CodeHeader)) return {};
    const QTextDocument* doc = header.document();
    const QTextLayout* text = header.layout();
    if (!doc || !text || text->lineCount() == 0) return {};
    const qreal margin = doc->documentMargin();
    const qreal right =
        (doc->textWidth() > 0 ? doc->textWidth() : doc->documentLayout()->documentSize().width()) -
        margin;
    const QFontMetricsF metrics(header.charFormat().font());
    const qreal width = metrics.horizontalAdvance(kCopyLabel) + style.codePadding * 2;
    const QTextLine line = text->lineAt(0);
    const qreal top = text->position().y() + line.y();
    return QRectF(right - width, top, width, line.height());
}

void paintDecorations(QPainter* painter, const QTextDocument& doc, const MarkdownStyle& style,
                      const QRectF& clip, bool behindText) {
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    // Positions recorded by the writer are relative to the document's content area.
    const qreal margin = doc.documentMargin();
    const qreal right =
        (doc.textWidth() > 0 ? doc.textWidth() : layout->documentSize().width()) - margin;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    std::optional<DecoratedBlock> codeStart;  // the first block of the code run under way
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const std::optional<DecoratedBlock> b = decoratedBlock(block, margin, right);
        if (!b) continue;
        if (behindText && b->format.hasProperty(CodeLeft)) {
            // A run of code blocks shares one background, painted at its last block.
            if (!codeStart || b->format.boolProperty(CodeStart)) codeStart = b;
            const QTextBlock next = block.next();
            const bool last = b->format.boolProperty(CodeLast) || !next.isValid() ||
                              !next.blockFormat().hasProperty(CodeLeft) ||
                              next.blockFormat().boolProperty(CodeStart);
            if (last) {
                if (b->bottom >= clip.top() && codeStart->top <= clip.bottom())
                    paintCodeTint(painter, *codeStart, b->bottom, style);
                codeStart.reset();
            }
            continue;
        }
        if (b->bottom < clip.top() || b->top > clip.bottom()) continue;
        if (!behindText) {
            paintQuoteBars(painter, *b, style);
            paintRule(painter, *b, style);
            paintListMarkers(painter, *b, style);
            if (style.copyButtons) paintCopyButton(painter, block, *b, style);
        }
    }
    painter->restore();
}

}  // namespace parlote

#include "MarkdownSelection.h"

#include <QAbstractTextDocumentLayout>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextTable>
#include <cmath>

#include "DocumentDecorations.h"
#include "DocumentWriter.h"

namespace parlote {

namespace {

// The last cursor position of a document.
int documentEnd(const QTextDocument* doc) {
    return qMax(0, doc->characterCount() - 1);
}

// The block whose top is the last at or above `y` (the first when `y` is above them all).
int blockAtY(MarkdownLayout& layout, qreal y) {
    int low = 0;
    int high = layout.blockCount() - 1;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (layout.blockTop(middle) <= y) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

// Where the lines of `block` are drawn, in its document's coordinates.
QPointF blockOrigin(const QTextDocument* doc, const QTextBlock& block) {
    return doc->documentLayout()->blockBoundingRect(block).topLeft();
}

// The marker a list item's first line shows, as markdownToPlainText() writes it: the
// innermost one, a bullet of any depth as "•", a task's box as a ballot box character.
QString markerOf(const QTextBlock& block) {
    const QStringList markers =
        block.blockFormat().property(decoration::MarkerTexts).toStringList();
    if (markers.isEmpty()) return {};
    const QString& marker = markers.last();
    if (marker == decoration::kOpenBox) return QStringLiteral("\u2610");
    if (marker == decoration::kTickedBox) return QStringLiteral("\u2611");
    if (marker == QStringLiteral("\u25E6") || marker == QStringLiteral("\u25AA"))
        return QStringLiteral("\u2022");
    return marker;
}

// A block's characters as text: its line separators as line breaks (within a table cell,
// where a line break would end the row, as spaces), pictures left out.
QString readable(QString text, bool inCell) {
    text.replace(QChar::LineSeparator, inCell ? u' ' : u'\n');
    text.remove(QChar::ObjectReplacementCharacter);
    return inCell ? text.simplified() : text;
}

// The text of the cells a selection spanning several cells of one table holds.
QString cellsText(const QTextCursor& cursor) {
    QTextTable* table = cursor.currentTable();
    if (!table) return {};
    int firstRow = 0, rows = 0, firstColumn = 0, columns = 0;
    cursor.selectedTableCells(&firstRow, &rows, &firstColumn, &columns);
    QStringList lines;
    for (int r = firstRow; r < firstRow + rows; ++r) {
        QStringList cells;
        for (int c = firstColumn; c < firstColumn + columns; ++c) {
            const QTextTableCell cell = table->cellAt(r, c);
            QTextCursor inside = cell.firstCursorPosition();
            inside.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
            cells.append(
                readable(inside.selectedText().replace(QChar::ParagraphSeparator, u' '), true));
        }
        lines.append(cells.join(u'\t'));
    }
    return lines.join(u'\n');
}

// Plain text being made, with the place of each of its characters when they are asked for.
class PlainTextBuilder {
public:
    explicit PlainTextBuilder(bool placed) : placed_(placed) {}

    QString text;
    std::vector<PlacedText::Place> places;  // when placed

    bool placed() const { return placed_; }
    /// A character of a document, at `at` (a line separator as a line break, say).
    void real(QChar c, TextPosition at) {
        text += c;
        if (placed_) places.push_back({at, true});
    }
    /// Characters that are not in the documents, standing at `at`.
    void added(QStringView s, TextPosition at) {
        text += s;
        if (placed_) places.insert(places.end(), size_t(s.size()), PlacedText::Place{at, false});
    }
    void append(const PlainTextBuilder& other) {
        text += other.text;
        if (placed_) places.insert(places.end(), other.places.begin(), other.places.end());
    }
    /// The place of the first character (of an empty text: the start).
    TextPosition firstPlace() const { return places.empty() ? TextPosition{} : places.front().at; }

private:
    bool placed_;
};

// The characters of a block of document `index` from its position `start` on, as readable()
// makes them: line separators as line breaks, pictures left out; within a table cell,
// each run of white space (line separators included) as one space and none at either end.
void appendReadable(QStringView text, int index, int start, bool inCell, PlainTextBuilder& out) {
    if (!inCell) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c == QChar::ObjectReplacementCharacter) continue;
            out.real(c == QChar::LineSeparator ? QChar(u'\n') : c, {index, start + int(i)});
        }
        return;
    }
    int space = -1;  // where the run of white space before the next character began
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QChar::ObjectReplacementCharacter) continue;
        if (c.isSpace()) {
            if (space < 0) space = start + int(i);
            continue;
        }
        if (space >= 0 && any) out.real(u' ', {index, space});
        space = -1;
        out.real(c, {index, start + int(i)});
        any = true;
    }
}

// The plain text of [from, to) of the document of block `index`.
void appendDocumentText(QTextDocument* doc, int index, int from, int to, PlainTextBuilder& out) {
    QTextCursor cursor(doc);
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    if (cursor.hasComplexSelection()) {
        out.added(cellsText(cursor), {index, cursor.selectionStart()});
        return;
    }
    // Between two parts of a long table: the cells of each part, row after row.
    const QList<QTextCursor> parts = selectionCursors(doc, from, to);
    if (parts.size() > 1) {
        QStringList rows;
        for (const QTextCursor& part : parts) {
            rows.append(
                part.hasComplexSelection()
                    ? cellsText(part)
                    : readable(part.selectedText().replace(QChar::ParagraphSeparator, u' '), true));
        }
        out.added(rows.join(u'\n'), {index, parts[0].selectionStart()});
        return;
    }
    // The cursor takes in a whole table when one end is in it and the other is not.
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QTextTable* lastTable = nullptr;
    int lastRow = -1;
    bool first = true;
    for (QTextBlock block = doc->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        const QTextBlockFormat format = block.blockFormat();
        // A rule has no text; a code block's header shows its language and Copy, not code.
        if (format.boolProperty(decoration::Rule) || format.hasProperty(decoration::CodeHeader))
            continue;
        const bool codeLine = format.boolProperty(decoration::CodeLine);
        const int blockStart = block.position();
        const int begin = qMax(start, blockStart);
        const int stop = qMin(end, blockStart + block.length() - 1);
        QTextTable* table = QTextCursor(block).currentTable();
        const QString marker = begin == blockStart ? markerOf(block) : QString();
        PlainTextBuilder text(out.placed());
        if (!marker.isEmpty()) text.added(QString(marker + u' '), {index, begin});
        appendReadable(QStringView(block.text()).mid(begin - blockStart, qMax(0, stop - begin)),
                       index, begin, table != nullptr, text);
        // Empty blocks are spacing the writer left (say after a table), except the cells of
        // a table, which keep its columns in line, and the blank lines of code.
        if (text.text.isEmpty() && !table && !codeLine) continue;
        int row = -1;
        if (table) row = table->cellAt(blockStart).row();
        if (!first)
            out.added(table && table == lastTable && row == lastRow ? u"\t" : u"\n",
                      {index, begin});
        out.append(text);
        first = false;
        lastTable = table;
        lastRow = row;
    }
}

// The plain text between two places of a layout, its top-level blocks one line break apart.
void appendPlainText(MarkdownLayout& layout, TextPosition from, TextPosition to,
                     PlainTextBuilder& out) {
    from = clampPosition(layout, from);
    to = clampPosition(layout, to);
    for (int index = from.block; index <= to.block && from < to; ++index) {
        QTextDocument* doc = layout.blockDocument(index);
        const int start = index == from.block ? from.offset : 0;
        const int end = index == to.block ? to.offset : documentEnd(doc);
        if (start >= end) continue;
        PlainTextBuilder part(out.placed());
        appendDocumentText(doc, index, start, end, part);
        if (part.text.isEmpty()) continue;
        if (!out.text.isEmpty()) out.added(u"\n", part.firstPlace());
        out.append(part);
    }
}

}  // namespace

TextPosition textEnd(MarkdownLayout& layout) {
    const int count = layout.blockCount();
    if (count == 0) return {};
    return {count - 1, documentEnd(layout.blockDocument(count - 1))};
}

TextPosition clampPosition(MarkdownLayout& layout, TextPosition at) {
    const int count = layout.blockCount();
    if (count == 0 || at.block < 0) return {};
    if (at.block >= count) return textEnd(layout);
    return {at.block, qBound(0, at.offset, documentEnd(layout.blockDocument(at.block)))};
}

TextPosition textPositionAt(MarkdownLayout& layout, const QPointF& point) {
    if (layout.blockCount() == 0 || point.y() < 0) return {};
    const int index = blockAtY(layout, point.y());
    QTextDocument* doc = layout.blockDocument(index);
    const QPointF inBlock(point.x(), point.y() - layout.blockTop(index));
    if (inBlock.y() >= doc->size().height()) return {index, documentEnd(doc)};
    const int position = doc->documentLayout()->hitTest(inBlock, Qt::FuzzyHit);
    return {index, position < 0 ? 0 : position};
}

TextRange wordAt(MarkdownLayout& layout, const QPointF& point) {
    const TextPosition near = textPositionAt(layout, point);
    QTextDocument* doc = layout.blockDocument(near.block);
    if (!doc) return {near, near};
    const QPointF inBlock(point.x(), point.y() - layout.blockTop(near.block));
    // The character under the point, rather than the gap nearest to it, decides.
    int character = near.offset;
    const QTextBlock block = doc->findBlock(near.offset);
    if (const QTextLayout* lines = block.layout()) {
        const QPointF origin = blockOrigin(doc, block);
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QTextLine line = lines->lineAt(i);
            const QRectF rect = line.rect().translated(origin);
            if (inBlock.y() < rect.top() || inBlock.y() >= rect.bottom()) continue;
            character = block.position() +
                        line.xToCursor(inBlock.x() - origin.x(), QTextLine::CursorOnCharacter);
            break;
        }
    }
    QTextCursor cursor(doc);
    cursor.setPosition(qBound(0, character, documentEnd(doc)));
    cursor.select(QTextCursor::WordUnderCursor);
    if (!cursor.hasSelection() && character < documentEnd(doc)) {
        // Not a word (a space, a sign): that character alone.
        cursor.setPosition(character);
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    }
    if (!cursor.hasSelection()) return {near, near};
    return {{near.block, cursor.selectionStart()}, {near.block, cursor.selectionEnd()}};
}

TextRange paragraphAt(MarkdownLayout& layout, TextPosition at) {
    at = clampPosition(layout, at);
    QTextDocument* doc = layout.blockDocument(at.block);
    if (!doc) return {at, at};
    QTextBlock first = doc->findBlock(at.offset);
    QTextBlock last = first;
    // In code, a paragraph is the whole block of code, header excluded.
    const auto isCode = [](const QTextBlock& b) {
        return b.isValid() && b.blockFormat().boolProperty(decoration::CodeLine);
    };
    if (isCode(first)) {
        while (isCode(first.previous())) first = first.previous();
        while (isCode(last.next())) last = last.next();
    }
    return {{at.block, first.position()}, {at.block, last.position() + last.length() - 1}};
}

QString plainTextOf(MarkdownLayout& layout, TextPosition from, TextPosition to) {
    PlainTextBuilder out(false);
    appendPlainText(layout, from, to, out);
    return out.text;
}

PlacedText placedText(MarkdownLayout& layout) {
    PlainTextBuilder out(true);
    appendPlainText(layout, {}, textEnd(layout), out);
    return {std::move(out.text), std::move(out.places)};
}

TextRange PlacedText::range(qsizetype start, qsizetype length) const {
    if (start < 0 || length <= 0 || start + length > qsizetype(places.size())) return {};
    const Place& last = places[size_t(start + length - 1)];
    TextPosition to = last.at;
    if (last.real) ++to.offset;
    return {places[size_t(start)].at, to};
}

QRectF rangeRect(MarkdownLayout& layout, TextRange range) {
    range.from = clampPosition(layout, range.from);
    range.to = clampPosition(layout, range.to);
    if (range.isEmpty()) return {};
    QTextDocument* doc = layout.blockDocument(range.from.block);
    const int start = range.from.offset;
    const QTextBlock block = doc->findBlock(start);
    const QTextLayout* lines = block.isValid() ? block.layout() : nullptr;
    if (!lines) return {};
    const QTextLine line = lines->lineForTextPosition(start - block.position());
    if (!line.isValid()) return {};
    const int lineEnd = block.position() + line.textStart() + line.textLength();
    const int end = range.to.block == range.from.block ? qMin(range.to.offset, lineEnd) : lineEnd;
    const qreal left = line.cursorToX(start - block.position());
    const qreal right = line.cursorToX(qMax(start, end) - block.position());
    const QPointF origin = blockOrigin(doc, block);
    return QRectF(origin.x() + qMin(left, right),
                  origin.y() + line.y() + layout.blockTop(range.from.block), std::abs(right - left),
                  line.height());
}

QRectF textRect(MarkdownLayout& layout, const QString& text) {
    for (int index = 0; index < layout.blockCount() && !text.isEmpty(); ++index) {
        QTextDocument* doc = layout.blockDocument(index);
        const QTextCursor found = doc->find(text, 0, QTextDocument::FindCaseSensitively);
        if (found.isNull()) continue;
        const QRectF rect =
            rangeRect(layout, {{index, found.selectionStart()}, {index, found.selectionEnd()}});
        if (!rect.isNull()) return rect;
    }
    return {};
}

}  // namespace parlote

#include "DocumentWriter.h"

#include <QFontMetricsF>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextTable>
#include <algorithm>

#include "DocumentDecorations.h"
#include "ImageStore.h"
#include "MarkdownLinks.h"
#include "MarkdownPlainText.h"
#include "SyntaxTheme.h"

namespace parlote {

using namespace decoration;

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

void appendPlain(const Inlines& inlines, QString& out) {
    for (const InlineNode& node : inlines) {
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, inl::Text> || std::is_same_v<T, inl::Code>)
                    out += fromUtf8(v.text);
                else if constexpr (std::is_same_v<T, inl::Html>)
                    out += fromUtf8(v.html);
                else if constexpr (std::is_same_v<T, inl::SoftBreak> ||
                                   std::is_same_v<T, inl::LineBreak>)
                    out += u' ';
                else
                    appendPlain(v.children, out);
            },
            node.value);
    }
}

QVariant toVariant(const QList<qreal>& values) {
    QVariantList list;
    list.reserve(values.size());
    for (qreal v : values) list.append(v);
    return list;
}

Qt::Alignment toQt(ColumnAlignment a) {
    switch (a) {
        case ColumnAlignment::Center:
            return Qt::AlignHCenter;
        case ColumnAlignment::Right:
            return Qt::AlignRight;
        default:
            return Qt::AlignLeft;
    }
}

QString bulletFor(int depth) {
    static const QString bullets[] = {QStringLiteral("\u2022"), QStringLiteral("\u25E6"),
                                      QStringLiteral("\u25AA")};
    return bullets[qMin(depth, 2)];
}

// The room a list's markers take: from its widest marker, measured on the first `count`
// items' markers only through their kind (a numbered list's widest is taken to be its
// last number), so that a growing list does not measure every marker again.
qreal listStep(const QStringList& markers, const MarkdownStyle& style);

qreal listStepFor(const BlockNode& block, size_t count, const QString& bullet,
                  const MarkdownStyle& style) {
    if (std::holds_alternative<blk::BulletedList>(block.value)) return listStep({bullet}, style);
    if (std::holds_alternative<blk::TaskList>(block.value))
        return listStep({decoration::kOpenBox, decoration::kTickedBox}, style);
    if (auto* n = std::get_if<blk::NumberedList>(&block.value)) {
        if (count == 0) return listStep({}, style);
        return listStep({QString::number(n->start + (long long)count - 1) + u'.'}, style);
    }
    return listStep({}, style);
}

qreal listStep(const QStringList& markers, const MarkdownStyle& style) {
    const QFontMetricsF metrics(style.body);
    const qreal gap = metrics.horizontalAdvance(QLatin1Char(' ')) * 1.5;
    qreal widest = 0;
    for (const QString& m : markers) widest = qMax(widest, metrics.horizontalAdvance(m));
    return qMax(style.listIndent, std::ceil(widest + gap * 2));
}

// Removes everything after `block`, which keeps its formats (a removal across blocks
// would leave it with those of the last block removed).
void removeAfter(QTextDocument* doc, const QTextBlock& block) {
    const QTextBlockFormat format = block.blockFormat();
    const QTextCharFormat charFormat = block.charFormat();
    QTextCursor remove(doc);
    remove.setPosition(block.position() + block.length() - 1);
    remove.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    if (!remove.hasSelection()) return;
    remove.removeSelectedText();
    remove.setBlockFormat(format);
    remove.setBlockCharFormat(charFormat);
}

QFont codeHeaderFont(const MarkdownStyle& style) {
    return scaledFont(style.body, 0.85);
}

}  // namespace

LineColourer::LineColourer(const QString& language) : highlighter_(language) {
    if (highlighter_.isValid()) before_.push_back(highlighter_.checkpoint());
}

bool LineColourer::colour(const QStringList& lines, int first, std::vector<SyntaxLine>& out) {
    out.clear();
    if (!isValid() || first < 0 || size_t(first) >= before_.size()) return false;
    highlighter_.restore(before_[size_t(first)]);
    before_.resize(size_t(first) + 1);
    out.reserve(size_t(lines.size()));
    for (const QString& line : lines) {
        out.push_back(highlighter_.highlightLine(line));
        before_.push_back(highlighter_.checkpoint());
    }
    return true;
}

QString codeLanguage(const std::optional<std::string>& fenceInfo) {
    if (!fenceInfo) return {};
    const QString info = fromUtf8(*fenceInfo).trimmed();
    const qsizetype end = info.indexOf(QRegularExpression(QStringLiteral("\\s")));
    return end < 0 ? info : info.left(end);
}

QStringList codeLines(const std::string& content, int first, int* total, CodeLineMark* mark) {
    // The bytes before line `first` are only counted, never converted: a streamed block
    // converts what it adds.
    size_t at = 0;
    int line = 0;
    if (mark && mark->line <= first && mark->offset <= content.size() &&
        (mark->offset == 0 || content[mark->offset - 1] == '\n')) {
        line = mark->line;
        at = mark->offset;
    }
    while (line < first) {
        const size_t end = content.find('\n', at);
        if (end == std::string::npos || end + 1 == content.size()) break;
        at = end + 1;
        ++line;
    }
    if (mark) *mark = {line, at};
    QString text = QString::fromUtf8(content.data() + at, qsizetype(content.size() - at));
    if (text.endsWith(u'\n')) text.chop(1);
    QStringList lines = text.split(u'\n');
    // A text document starts a new block at a carriage return and a few other characters,
    // which would split a line in two: a line ending in "\r\n" ends at the "\n", and the
    // others show as replacement characters.
    for (QString& l : lines) {
        if (l.endsWith(u'\r')) l.chop(1);
        for (QChar& c : l) {
            if (c == u'\r' || c == QChar(0x2029) || c == QChar(0xFDD0) || c == QChar(0xFDD1))
                c = QChar::ReplacementCharacter;
        }
    }
    if (total) *total = line + int(lines.size());
    if (line < first) lines.clear();  // fewer lines than that
    return lines;
}

QVariant MarkdownTextDocument::loadResource(int, const QUrl&) {
    return {};
}

DocumentWriter::DocumentWriter(QTextDocument* doc, const MarkdownStyle& style, ImageStore* images,
                               qreal imageMaxWidth)
    : doc_(doc), style_(style), images_(images), imageMaxWidth_(imageMaxWidth), cursor_(doc) {
    cursor_.movePosition(QTextCursor::End);
    // Set once, on a new document: setting them again would lay out all of it again.
    if (!doc_->isEmpty()) return;
    doc_->setDefaultFont(style_.body);
    QTextOption option = doc_->defaultTextOption();
    // Long lines wrap, code included: the transcript paints its rows and has no sideways
    // scrolling, and a code block's Copy button stays in its header, always in reach.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(QFontMetricsF(style_.mono).horizontalAdvance(QLatin1Char(' ')) * 4);
    doc_->setDefaultTextOption(option);
}

qreal DocumentWriter::spacingBefore(const BlockNode& block, const MarkdownStyle& style) {
    return std::holds_alternative<blk::Heading>(block.value) ? style.blockSpacing * 1.6
                                                             : style.blockSpacing;
}

void DocumentWriter::write(const Blocks& blocks) {
    for (const BlockNode& block : blocks) {
        space(spacingBefore(block, style_));
        writeBlock(block);
    }
}

void DocumentWriter::write(const BlockNode& block) {
    space(spacingBefore(block, style_));
    writeBlock(block);
}

void DocumentWriter::finish() {
    // A table leaves an empty block after it; at the end it would only add height.
    if (unusedBlock_ && !atStart_) collapseCurrentBlock();
}

void DocumentWriter::space(qreal gap) {
    if (!atStart_) pendingTop_ = qMax(pendingTop_, gap);
}

QTextCharFormat DocumentWriter::bodyFormat() const {
    QTextCharFormat f;
    f.setFont(style_.body);
    return f;
}

void DocumentWriter::startBlock(QTextBlockFormat format, const QTextCharFormat& charFormat,
                                qreal extraLeft) {
    format.setLeftMargin(indent_ + extraLeft);
    format.setTopMargin(format.topMargin() + pendingTop_);
    if (!quoteBars_.isEmpty()) {
        format.setProperty(QuoteBars, toVariant(quoteBars_));
        if (quoteStarts_ > 0) format.setProperty(QuoteBarsStarting, quoteStarts_);
    }
    quoteStarts_ = 0;
    pendingTop_ = 0;
    if (!pendingMarkers_.isEmpty()) {
        format.setProperty(MarkerTexts, pendingMarkers_);
        format.setProperty(MarkerRights, toVariant(pendingMarkerRights_));
        pendingMarkers_.clear();
        pendingMarkerRights_.clear();
    }
    if (unusedBlock_) {
        cursor_.setBlockFormat(format);
        cursor_.setBlockCharFormat(charFormat);
        cursor_.setCharFormat(charFormat);
    } else {
        cursor_.insertBlock(format, charFormat);
    }
    unusedBlock_ = false;
    atStart_ = false;
}

void DocumentWriter::collapseCurrentBlock() {
    QTextBlockFormat f;
    f.setLineHeight(0, QTextBlockFormat::FixedHeight);
    cursor_.setBlockFormat(f);
    QTextCharFormat tiny;
    tiny.setFontPointSize(1);
    cursor_.setBlockCharFormat(tiny);
}

void DocumentWriter::writeBlocks(const Blocks& blocks, qreal spacing) {
    bool first = true;
    for (const BlockNode& block : blocks) {
        if (!first)
            space(std::holds_alternative<blk::Heading>(block.value) ? spacing * 1.6 : spacing);
        first = false;
        writeBlock(block);
    }
}

void DocumentWriter::writeBlock(const BlockNode& block) {
    std::visit(
        [&](const auto& b) {
            using T = std::decay_t<decltype(b)>;
            if constexpr (std::is_same_v<T, blk::Paragraph>) {
                startBlock({}, bodyFormat());
                inlineStarts_.clear();
                for (const InlineNode& node : b.inlines) {
                    inlineStarts_.push_back(cursor_.position());
                    writeInline(cursor_, node, bodyFormat());
                }
            } else if constexpr (std::is_same_v<T, blk::Heading>) {
                QTextCharFormat f;
                f.setFont(style_.headingFont(b.level));
                QTextBlockFormat bf;
                bf.setHeadingLevel(b.level);
                startBlock(bf, f);
                writeInlines(cursor_, b.inlines, f);
            } else if constexpr (std::is_same_v<T, blk::Blockquote>) {
                quoteBars_.append(indent_ + 1);
                ++quoteStarts_;
                indent_ += style_.quoteIndent;
                if (b.blocks.empty())
                    startBlock({}, bodyFormat());
                else
                    writeBlocks(b.blocks, style_.blockSpacing);
                indent_ -= style_.quoteIndent;
                quoteBars_.removeLast();
            } else if constexpr (std::is_same_v<T, blk::BulletedList> ||
                                 std::is_same_v<T, blk::NumberedList> ||
                                 std::is_same_v<T, blk::TaskList>) {
                std::vector<const Blocks*> items;
                QStringList markers;
                bool tight = true;
                listItems(block, items, markers, tight);
                writeList(items, markers, tight,
                          listStepFor(block, items.size(), bulletFor(listDepth_), style_));
            } else if constexpr (std::is_same_v<T, blk::CodeBlock>) {
                writeCode(b);
            } else if constexpr (std::is_same_v<T, blk::HtmlBlock>) {
                writeRaw(b.content);  // raw HTML is shown as its source text
            } else if constexpr (std::is_same_v<T, blk::Table>) {
                writeTable(b);
            } else if constexpr (std::is_same_v<T, blk::ThematicBreak>) {
                QTextBlockFormat f;
                f.setProperty(Rule, true);
                startBlock(f, bodyFormat());
            }
        },
        block.value);
}

void DocumentWriter::listItems(const BlockNode& block, std::vector<const Blocks*>& items,
                               QStringList& markers, bool& tight, size_t from) const {
    // Markers before `from` are left empty: only the items written need theirs.
    if (auto* b = std::get_if<blk::BulletedList>(&block.value)) {
        const QString bullet = bulletFor(listDepth_);
        for (const Blocks& item : b->items) {
            markers.append(items.size() < from ? QString() : bullet);
            items.push_back(&item);
        }
        tight = b->isTight;
    } else if (auto* n = std::get_if<blk::NumberedList>(&block.value)) {
        long long number = n->start;
        for (const Blocks& item : n->items) {
            markers.append(items.size() < from ? QString() : QString::number(number) + u'.');
            items.push_back(&item);
            ++number;
        }
        tight = n->isTight;
    } else if (auto* t = std::get_if<blk::TaskList>(&block.value)) {
        for (const blk::TaskItem& item : t->items) {
            markers.append(items.size() < from ? QString()
                           : item.isCompleted  ? kTickedBox
                                               : kOpenBox);
            items.push_back(&item.blocks);
        }
        tight = t->isTight;
    }
}

void DocumentWriter::writeList(const std::vector<const Blocks*>& items, const QStringList& markers,
                               bool tight, qreal step, size_t first) {
    const QFontMetricsF metrics(style_.body);
    const qreal gap = metrics.horizontalAdvance(QLatin1Char(' ')) * 1.5;
    const qreal itemGap = tight ? 0 : style_.blockSpacing;
    const bool topLevel = listDepth_ == 0 && indent_ == 0 && quoteBars_.isEmpty();
    ++listDepth_;
    for (size_t i = first; i < items.size(); ++i) {
        if (i > 0) space(itemGap);
        if (topLevel)
            itemStarts_.push_back(unusedBlock_ ? cursor_.blockNumber() : cursor_.blockNumber() + 1);
        pendingMarkers_.append(markers[qsizetype(i)]);
        pendingMarkerRights_.append(indent_ + step - gap);
        indent_ += step;
        if (items[i]->empty())
            startBlock({}, bodyFormat());
        else
            writeBlocks(*items[i], tight ? 0 : style_.blockSpacing);
        indent_ -= step;
    }
    --listDepth_;
}

void DocumentWriter::writeRaw(const std::string& content) {
    QString text = fromUtf8(content);
    if (text.endsWith(u'\n')) text.chop(1);
    // One text block, lines kept apart by line separators: the block's margins then pad
    // the text inside its background.
    text.replace(u'\n', QChar::LineSeparator);
    const qreal pad = style_.codePadding;
    QTextBlockFormat f;
    f.setProperty(CodeLeft, indent_);
    f.setProperty(CodeTopInset, pendingTop_);
    f.setProperty(CodeStart, true);
    f.setProperty(CodeLast, true);
    f.setTopMargin(pad);
    f.setBottomMargin(pad);
    f.setRightMargin(pad);
    QTextCharFormat cf;
    cf.setFont(style_.mono);
    startBlock(f, cf, pad);
    cursor_.insertText(text, cf);
}

QTextBlockFormat DocumentWriter::codeLineFormat(bool last) const {
    QTextBlockFormat f;
    f.setProperty(CodeLeft, indent_);
    f.setProperty(CodeLine, true);
    f.setRightMargin(style_.codePadding);
    if (last) {
        f.setProperty(CodeLast, true);
        f.setBottomMargin(style_.codePadding);
    }
    return f;
}

void DocumentWriter::writeCode(const blk::CodeBlock& code) {
    // A header line (the language, and room for the Copy button drawn at its right end),
    // then one text block per line of code, all on one background.
    const QString language = codeLanguage(code.fenceInfo);
    const qreal pad = style_.codePadding;
    QTextBlockFormat hf;
    hf.setProperty(CodeLeft, indent_);
    hf.setProperty(CodeTopInset, pendingTop_);
    hf.setProperty(CodeStart, true);
    hf.setProperty(CodeHeader, language);
    hf.setTopMargin(qRound(pad * 0.6));
    hf.setBottomMargin(qRound(pad * 0.3));
    hf.setRightMargin(pad);
    QTextCharFormat hcf;
    hcf.setFont(codeHeaderFont(style_));
    hcf.setForeground(style_.secondary);
    startBlock(hf, hcf, pad);
    WrittenCode written;
    written.header = cursor_.blockNumber();
    written.language = language;
    cursor_.insertText(language, hcf);
    const QStringList lines = codeLines(code.content);
    const bool small = lines.size() <= kMaxColouredLinesInPlace &&
                       code.content.size() <= size_t(kMaxColouredBytesInPlace);
    writeCodeLines(lines, 0, int(lines.size()), language,
                   listDepth_ == 0 && quoteBars_.isEmpty() ? colourer_ : nullptr, small,
                   &written.coloured);
    written.lines = int(lines.size());
    code_.push_back(written);
}

void DocumentWriter::writeCodeLines(const QStringList& todo, int first, int total,
                                    const QString& language, LineColourer* colourer, bool colour,
                                    bool* coloured) {
    // `todo` are the lines from number `first` of a block of `total` lines.
    std::vector<SyntaxLine> tokens;
    const bool known = !language.isEmpty() && !syntaxDefinitionFor(language).isEmpty();
    bool done = !known;
    if (known && colour) {
        if (colourer) {
            done = colourer->colour(todo, first, tokens);
        } else {
            LineColourer own(language);
            done = own.colour(todo, 0, tokens);
        }
    }
    if (coloured) *coloured = done;
    if (!done) tokens.clear();
    QTextCharFormat plain;
    plain.setFont(style_.mono);
    const SyntaxTheme& theme = style_.syntax;
    for (qsizetype i = 0; i < todo.size(); ++i) {
        startBlock(codeLineFormat(first + i == total - 1), plain, style_.codePadding);
        const QString& line = todo[i];
        if (size_t(i) >= tokens.size() || tokens[size_t(i)].empty()) {
            if (!line.isEmpty()) cursor_.insertText(line, plain);
            continue;
        }
        int at = 0;
        for (const SyntaxToken& t : tokens[size_t(i)]) {
            if (t.start > at) cursor_.insertText(line.mid(at, t.start - at), plain);
            QTextCharFormat f = plain;
            f.setForeground(theme.color(t.kind));
            if (SyntaxTheme::isItalic(t.kind)) f.setFontItalic(true);
            cursor_.insertText(line.mid(t.start, t.length), f);
            at = t.start + t.length;
        }
        if (at < line.size()) cursor_.insertText(line.mid(at), plain);
    }
}

void DocumentWriter::continueAtEnd() {
    cursor_ = QTextCursor(doc_);
    cursor_.movePosition(QTextCursor::End);
    unusedBlock_ = false;
    atStart_ = false;
    pendingTop_ = 0;
}

bool DocumentWriter::appendCodeLines(const blk::CodeBlock& code, int kept, WrittenCode& written) {
    int total = 0;
    CodeLineMark mark{written.markLine, written.markOffset};
    const QStringList added = codeLines(code.content, kept, &total, &mark);
    if (kept < 0 || kept > written.lines || kept > total ||
        codeLanguage(code.fenceInfo) != written.language)
        return false;
    const QTextBlock lastKept = doc_->findBlockByNumber(written.header + kept);
    if (!lastKept.isValid() || written.header + written.lines != doc_->blockCount() - 1)
        return false;
    removeAfter(doc_, lastKept);
    if (kept > 0) {
        // The line that was last may be a middle line now, formatted as one written so.
        // (Found again: a block handle may point elsewhere after a removal.)
        const QTextBlock line = doc_->findBlockByNumber(written.header + kept);
        QTextBlockFormat f = codeLineFormat(kept == total);
        f.setLeftMargin(line.blockFormat().leftMargin());
        QTextCursor(line).setBlockFormat(f);
    }
    continueAtEnd();
    // Lines added a few at a time (streaming) are coloured on from where the colourer
    // stood; many at once are left to a worker.
    qsizetype bytes = 0;
    for (const QString& line : added) bytes += line.size();
    const bool colour = written.coloured && added.size() <= kMaxColouredLinesInPlace &&
                        bytes <= kMaxColouredBytesInPlace;
    bool coloured = false;
    writeCodeLines(added, kept, total, written.language, colourer_, colour, &coloured);
    written.coloured = written.coloured && coloured;
    written.lines = total;
    written.colouredLines = qMin(written.colouredLines, kept);
    written.markLine = mark.line;
    written.markOffset = mark.offset;
    return true;
}

namespace {

// How many rows each part of a long table holds.
int partRows(int columns) {
    return qMax(1, DocumentWriter::kTablePartCells / qMax(1, columns));
}

// Whether a table of `rows` rows of `columns` cells is written as a stack of parts.
bool stacked(int rows, int columns) {
    return rows > partRows(columns);
}

// The widths of the columns of a stacked table, as shares of the table's width: by the
// longest text of each column in the rows of its first part (the header included), which
// are complete before a streamed table becomes a stack, so a table streamed and the same
// table written at once get the same widths. Within bounds: a column of short numbers
// still has room for them, and one long cell does not squeeze the others to nothing.
QList<QTextLength> partWidths(const blk::Table& table, int columns) {
    const int rows = qMin(int(table.rows.size()), partRows(columns));
    std::vector<qreal> weights(size_t(columns), 0);
    for (int r = 0; r < rows; ++r) {
        const auto& cells = table.rows[size_t(r)];
        for (int c = 0; c < columns && size_t(c) < cells.size(); ++c)
            weights[size_t(c)] =
                qMax(weights[size_t(c)], qreal(plainText(cells[size_t(c)]).size()));
    }
    qreal sum = 0;
    for (qreal& w : weights) {
        w = qBound(qreal(4), w, qreal(40)) + 2;  // the padding beside the text
        sum += w;
    }
    QList<QTextLength> widths;
    for (const qreal w : weights)
        widths.append(QTextLength(QTextLength::PercentageLength, 100 * w / sum));
    return widths;
}

// The parts of a stacked table in a document, in order; empty when the document holds
// anything else at its top level.
QList<QTextTable*> tableParts(QTextDocument* doc) {
    QList<QTextTable*> parts;
    for (QTextFrame* frame : doc->rootFrame()->childFrames()) {
        auto* part = qobject_cast<QTextTable*>(frame);
        if (!part || !part->format().hasProperty(decoration::TablePart)) return {};
        parts.append(part);
    }
    return parts;
}

}  // namespace

void DocumentWriter::writeTable(const blk::Table& table) {
    if (!pendingMarkers_.isEmpty())
        startBlock({}, bodyFormat());  // a list item's marker needs a line
    const int allColumns = int(table.columnAlignments.size());
    const int allRows = int(table.rows.size());
    if (allColumns == 0 || allRows == 0) return;
    const int columns = qMin(allColumns, kMaxTableColumns);
    const int rows = qMin(allRows, qMax(1, kMaxTableCells / columns));
    if (stacked(rows, columns)) {
        writeTableParts(table, 0, rows, columns);
    } else {
        QTextTableFormat tf;
        tf.setHeaderRowCount(1);
        insertTable(table, 0, rows, columns, tf);
    }
    writeTableNote(table, rows, columns);
}

void DocumentWriter::writeTableParts(const blk::Table& table, int from, int rows, int columns) {
    const int step = partRows(columns);
    const QList<QTextLength> widths = partWidths(table, columns);
    for (int first = from; first < rows; first += step) {
        QTextTableFormat tf;
        tf.setColumnWidthConstraints(widths);
        tf.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        tf.setProperty(decoration::TablePart, first);
        if (first == 0) tf.setHeaderRowCount(1);
        insertTable(table, first, qMin(first + step, rows), columns, tf);
    }
}

QTextTable* DocumentWriter::insertTable(const blk::Table& table, int from, int to, int columns,
                                        const QTextTableFormat& format) {
    if (unusedBlock_) collapseCurrentBlock();
    QTextTableFormat tf = format;
    tf.setBorder(1);
    tf.setBorderBrush(style_.rule);
    tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    tf.setBorderCollapse(true);
    tf.setCellSpacing(0);
    tf.setCellPadding(qRound(style_.codePadding * 0.6));
    tf.setLeftMargin(indent_);
    // A part after the first is drawn over the collapsed line between it and the part
    // before, its top border on that part's bottom one, so the stack reads as one table.
    if (from > 0)
        tf.setTopMargin(-(tf.border() * 3 + 1));
    else
        tf.setTopMargin(atStart_ ? 0 : pendingTop_);
    pendingTop_ = 0;
    atStart_ = false;
    QTextTable* t = cursor_.insertTable(to - from, columns, tf);
    fillTableRows(t, table, from, to, columns, from);
    cursor_ = t->lastCursorPosition();
    cursor_.movePosition(QTextCursor::NextBlock);
    unusedBlock_ = true;
    return t;
}

void DocumentWriter::fillTableRows(QTextTable* t, const blk::Table& table, int from, int to,
                                   int columns, int first) {
    QTextCharFormat header = bodyFormat();
    header.setFontWeight(QFont::Bold);
    for (int r = from; r < to; ++r) {
        const auto& cells = table.rows[size_t(r)];
        for (int c = 0; c < columns; ++c) {
            QTextTableCell cell = t->cellAt(r - first, c);
            if (r == 0) {
                QTextTableCellFormat cellFormat = cell.format().toTableCellFormat();
                cellFormat.setBackground(style_.headerBackground);
                cell.setFormat(cellFormat);
            }
            QTextCursor cc = cell.firstCursorPosition();
            QTextBlockFormat bf;
            bf.setAlignment(toQt(table.columnAlignments[size_t(c)]));
            cc.setBlockFormat(bf);
            // Rows appended to a table take their formats from the text after it (the
            // collapsed block's tiny font): a cell's own format makes an empty cell as
            // tall as in a table written at once.
            cc.setBlockCharFormat(r == 0 ? header : bodyFormat());
            if (size_t(c) < cells.size())
                writeInlines(cc, cells[size_t(c)], r == 0 ? header : bodyFormat());
        }
    }
}

void DocumentWriter::writeTableNote(const blk::Table& table, int rows, int columns) {
    const int allColumns = int(table.columnAlignments.size());
    const int allRows = int(table.rows.size());
    if (rows >= allRows && columns >= allColumns) return;
    QTextCharFormat note = bodyFormat();
    note.setFontItalic(true);
    note.setForeground(style_.secondary);
    startBlock({}, note);
    QStringList parts;
    if (rows < allRows) parts << QStringLiteral("%1 more rows").arg(allRows - rows);
    if (columns < allColumns) parts << QStringLiteral("%1 more columns").arg(allColumns - columns);
    cursor_.insertText(QStringLiteral("Table cut short: ") + parts.join(QStringLiteral(" and ")) +
                           QStringLiteral(" not shown."),
                       note);
}

bool DocumentWriter::appendTableRows(const blk::Table& table, int kept) {
    const int allColumns = int(table.columnAlignments.size());
    const int allRows = int(table.rows.size());
    if (allColumns == 0 || allRows == 0 || kept < 1) return false;
    const int columns = qMin(allColumns, kMaxTableColumns);
    const int rows = qMin(allRows, qMax(1, kMaxTableCells / columns));
    // The table as written: one table, or the parts of a stack.
    QList<QTextTable*> parts = tableParts(doc_);
    if (parts.isEmpty()) {
        const QList<QTextFrame*> frames = doc_->rootFrame()->childFrames();
        if (frames.size() != 1 || !qobject_cast<QTextTable*>(frames[0])) return false;
        parts.append(qobject_cast<QTextTable*>(frames[0]));
    }
    const bool wasStacked = parts[0]->format().hasProperty(decoration::TablePart);
    // A table that grew into a stack (or, its rows replaced, out of one) is written anew.
    if (wasStacked != stacked(rows, columns)) return false;
    if (wasStacked && parts[0]->format().columnWidthConstraints() != partWidths(table, columns))
        return false;
    int written = 0;
    for (QTextTable* part : parts) {
        if (part->columns() != columns) return false;
        written += part->rows();
    }
    const int keep = qMin(qMin(kept, written), rows);
    if (keep < 1) return false;

    // The part holding the last row kept: the rows after it, the parts after it and the
    // table's note go, and the rest is written after them.
    const int step = wasStacked ? partRows(columns) : rows;
    const int last = wasStacked ? (keep - 1) / step : 0;
    if (last >= parts.size()) return false;
    QTextTable* t = parts[last];
    const int first = last * step;
    QTextCursor after = t->lastCursorPosition();
    after.movePosition(QTextCursor::NextBlock);
    after.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    after.removeSelectedText();
    if (t->rows() > keep - first) t->removeRows(keep - first, t->rows() - (keep - first));
    const int end = qMin(first + step, rows);
    if (end > keep) t->appendRows(end - keep);
    fillTableRows(t, table, keep, end, columns, first);
    cursor_ = t->lastCursorPosition();
    cursor_.movePosition(QTextCursor::NextBlock);
    unusedBlock_ = true;
    atStart_ = false;
    pendingTop_ = 0;
    if (wasStacked) writeTableParts(table, end, rows, columns);
    writeTableNote(table, rows, columns);
    return true;
}

QList<QTextCursor> selectionCursors(QTextDocument* doc, int start, int stop) {
    QTextCursor whole(doc);
    whole.setPosition(start);
    whole.setPosition(stop, QTextCursor::KeepAnchor);
    QTextCursor from(doc), to(doc);
    from.setPosition(qMin(start, stop));
    to.setPosition(qMax(start, stop));
    QTextTable* first = from.currentTable();
    QTextTable* last = to.currentTable();
    if (!first || !last || first == last || first->parentFrame() != last->parentFrame() ||
        !first->format().hasProperty(decoration::TablePart) ||
        !last->format().hasProperty(decoration::TablePart))
        return {whole};
    // The parts between the two, in order; the stack ends at anything that is not a part.
    QList<QTextTable*> parts;
    bool inside = false;
    for (QTextFrame* frame : first->parentFrame()->childFrames()) {
        auto* part = qobject_cast<QTextTable*>(frame);
        if (part == first) inside = true;
        if (!inside) continue;
        if (!part || !part->format().hasProperty(decoration::TablePart) ||
            part->columns() != first->columns())
            return {whole};
        parts.append(part);
        if (part == last) break;
    }
    if (parts.isEmpty() || parts.last() != last) return {whole};
    const QTextTableCell a = first->cellAt(from.position());
    const QTextTableCell b = last->cellAt(to.position());
    const int left = qMin(a.column(), b.column());
    const int right = qMax(a.column(), b.column());
    QList<QTextCursor> cursors;
    for (QTextTable* part : parts) {
        const int top = part == first ? a.row() : 0;
        const int bottom = part == last ? b.row() : part->rows() - 1;
        QTextCursor cells = part->cellAt(top, left).firstCursorPosition();
        cells.setPosition(part->cellAt(bottom, right).lastCursorPosition().position(),
                          QTextCursor::KeepAnchor);
        cursors.append(cells);
    }
    return cursors;
}

namespace {

bool holdsImage(const Inlines& inlines) {
    return std::any_of(inlines.begin(), inlines.end(), [](const InlineNode& node) {
        return std::visit(
            [](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, inl::Image>) {
                    return true;
                } else if constexpr (requires { v.children; }) {
                    return holdsImage(v.children);
                } else {
                    return false;
                }
            },
            node.value);
    });
}

}  // namespace

bool DocumentWriter::appendParagraphInlines(const blk::Paragraph& paragraph, int kept,
                                            std::vector<int>& starts) {
    // A document holding one paragraph, and no pictures (they count as they are written).
    if (doc_->blockCount() != 1 || kept < 1 || size_t(kept) > starts.size() ||
        size_t(kept) > paragraph.inlines.size() || holdsImage(paragraph.inlines))
        return false;
    const QTextBlock block = doc_->firstBlock();
    const int end = block.position() + block.length() - 1;
    QTextCursor cursor(doc_);
    cursor.setPosition(size_t(kept) < starts.size() ? starts[size_t(kept)] : end);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    starts.resize(size_t(kept));
    for (size_t i = size_t(kept); i < paragraph.inlines.size(); ++i) {
        starts.push_back(cursor.position());
        writeInline(cursor, paragraph.inlines[i], bodyFormat());
    }
    atStart_ = false;
    unusedBlock_ = false;
    return true;
}

bool DocumentWriter::appendListItems(const BlockNode& list, int kept, std::vector<int>& starts) {
    // Items holding tables leave blocks the starts do not account for.
    if (!doc_->rootFrame()->childFrames().isEmpty()) return false;
    std::vector<const Blocks*> items;
    QStringList markers;
    bool tight = true;
    listItems(list, items, markers, tight, size_t(kept));
    if (kept < 1 || size_t(kept) > starts.size() || size_t(kept) > items.size()) return false;
    // Wider markers (item 10 after item 9) move every item's text: written anew then.
    const QString bullet = bulletFor(listDepth_);
    const qreal step = listStepFor(list, items.size(), bullet, style_);
    if (listStepFor(list, starts.size(), bullet, style_) != step) return false;
    if (size_t(kept) < starts.size()) {
        const QTextBlock first = doc_->findBlockByNumber(starts[size_t(kept)]);
        if (!first.isValid() || !first.previous().isValid()) return false;
        removeAfter(doc_, first.previous());
    }
    continueAtEnd();
    starts.resize(size_t(kept));
    itemStarts_ = starts;
    writeList(items, markers, tight, step, size_t(kept));
    starts = itemStarts_;
    return true;
}

void DocumentWriter::writeInlines(QTextCursor& cursor, const Inlines& inlines,
                                  const QTextCharFormat& format) {
    for (const InlineNode& node : inlines) writeInline(cursor, node, format);
}

void DocumentWriter::writeInline(QTextCursor& cursor, const InlineNode& node,
                                 const QTextCharFormat& format) {
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            QTextCharFormat f = format;
            if constexpr (std::is_same_v<T, inl::Text>) {
                cursor.insertText(fromUtf8(v.text), f);
            } else if constexpr (std::is_same_v<T, inl::Code>) {
                f.setFontFamilies(style_.mono.families());
                f.setFontFixedPitch(true);
                f.setBackground(style_.codeBackground);
                cursor.insertText(fromUtf8(v.text), f);
            } else if constexpr (std::is_same_v<T, inl::Html>) {
                cursor.insertText(fromUtf8(v.html), f);  // literally, never interpreted
            } else if constexpr (std::is_same_v<T, inl::Emphasis>) {
                f.setFontItalic(true);
                writeInlines(cursor, v.children, f);
            } else if constexpr (std::is_same_v<T, inl::Strong>) {
                f.setFontWeight(QFont::Bold);
                writeInlines(cursor, v.children, f);
            } else if constexpr (std::is_same_v<T, inl::Strikethrough>) {
                f.setFontStrikeOut(true);
                writeInlines(cursor, v.children, f);
            } else if constexpr (std::is_same_v<T, inl::Link>) {
                const QString destination = fromUtf8(v.destination);
                // Only links that may open look and act like links; others stay text.
                if (isOpenableLink(destination)) {
                    f.setAnchor(true);
                    f.setAnchorHref(destination);
                    f.setForeground(style_.link);
                    f.setFontUnderline(true);
                    f.setToolTip(destination);
                }
                writeInlines(cursor, v.children, f);
            } else if constexpr (std::is_same_v<T, inl::Image>) {
                writeImage(cursor, v, f);
            } else if constexpr (std::is_same_v<T, inl::SoftBreak>) {
                cursor.insertText(QStringLiteral(" "), f);
            } else if constexpr (std::is_same_v<T, inl::LineBreak>) {
                cursor.insertText(QString(QChar::LineSeparator), f);
            }
        },
        node.value);
}

void DocumentWriter::writeImage(QTextCursor& cursor, const inl::Image& image,
                                const QTextCharFormat& format) {
    const QString source = fromUtf8(image.source);
    ImageStore::State state = ImageStore::State::NotLoadable;
    if (images_ && isLoadableImageSource(source)) {
        state = fetchImages_ ? images_->request(source) : images_->state(source);
        if (!imageSources_.contains(source)) imageSources_.append(source);
    }
    if (state == ImageStore::State::Ready) {
        const QImage picture = images_->image(source);
        const QUrl name(QStringLiteral("parlote-image:%1").arg(imageCount_++));
        doc_->addResource(QTextDocument::ImageResource, name, picture);
        QTextImageFormat f;
        f.merge(format);  // keeps a surrounding link's anchor
        f.setName(name.toString());
        const qreal room = qMax<qreal>(16, imageMaxWidth_ - indent_);
        const qreal scale = picture.width() > room ? room / picture.width() : 1.0;
        f.setWidth(picture.width() * scale);
        f.setHeight(picture.height() * scale);
        cursor.insertImage(f);
        return;
    }
    // While loading, after a failure, or for a source that is never loaded, the
    // alternative text stands in for the picture.
    QString alt;
    appendPlain(image.children, alt);
    if (alt.isEmpty()) alt = QStringLiteral("image");
    QTextCharFormat f = format;
    f.setFontItalic(true);
    if (!f.isAnchor()) f.setForeground(style_.secondary);
    cursor.insertText(QStringLiteral("\u25A3 ") + alt, f);
}

}  // namespace parlote

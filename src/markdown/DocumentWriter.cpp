#include "DocumentWriter.h"

#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextTable>

#include "DocumentDecorations.h"
#include "ImageStore.h"
#include "MarkdownLinks.h"

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

}  // namespace

QVariant MarkdownTextDocument::loadResource(int, const QUrl&) {
    return {};
}

DocumentWriter::DocumentWriter(QTextDocument* doc, const MarkdownStyle& style, ImageStore* images,
                               qreal imageMaxWidth)
    : doc_(doc), style_(style), images_(images), imageMaxWidth_(imageMaxWidth), cursor_(doc) {
    cursor_.movePosition(QTextCursor::End);
    doc_->setDefaultFont(style_.body);
    QTextOption option = doc_->defaultTextOption();
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
                writeInlines(cursor_, b.inlines, bodyFormat());
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
            } else if constexpr (std::is_same_v<T, blk::BulletedList>) {
                std::vector<const Blocks*> items;
                QStringList markers;
                const QString bullet = bulletFor(listDepth_);
                for (const Blocks& item : b.items) {
                    items.push_back(&item);
                    markers.append(bullet);
                }
                writeList(items, markers, b.isTight);
            } else if constexpr (std::is_same_v<T, blk::NumberedList>) {
                std::vector<const Blocks*> items;
                QStringList markers;
                long long n = b.start;
                for (const Blocks& item : b.items) {
                    items.push_back(&item);
                    markers.append(QString::number(n++) + u'.');
                }
                writeList(items, markers, b.isTight);
            } else if constexpr (std::is_same_v<T, blk::TaskList>) {
                std::vector<const Blocks*> items;
                QStringList markers;
                for (const blk::TaskItem& item : b.items) {
                    items.push_back(&item.blocks);
                    markers.append(item.isCompleted ? kTickedBox : kOpenBox);
                }
                writeList(items, markers, b.isTight);
            } else if constexpr (std::is_same_v<T, blk::CodeBlock>) {
                writeCode(b.content);
            } else if constexpr (std::is_same_v<T, blk::HtmlBlock>) {
                writeCode(b.content);  // raw HTML is shown as its source text
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

void DocumentWriter::writeList(const std::vector<const Blocks*>& items, const QStringList& markers,
                               bool tight) {
    const QFontMetricsF metrics(style_.body);
    const qreal gap = metrics.horizontalAdvance(QLatin1Char(' ')) * 1.5;
    qreal widest = 0;
    for (const QString& m : markers) widest = qMax(widest, metrics.horizontalAdvance(m));
    const qreal step = qMax(style_.listIndent, std::ceil(widest + gap * 2));
    const qreal itemGap = tight ? 0 : style_.blockSpacing;
    ++listDepth_;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) space(itemGap);
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

void DocumentWriter::writeCode(const std::string& content) {
    QString text = fromUtf8(content);
    if (text.endsWith(u'\n')) text.chop(1);
    // One text block per code block, lines kept apart by line separators: the block's
    // margins then pad the code inside its background.
    text.replace(u'\n', QChar::LineSeparator);
    const qreal pad = style_.codePadding;
    QTextBlockFormat f;
    f.setProperty(CodeLeft, indent_);
    f.setProperty(CodeTopInset, pendingTop_);
    f.setTopMargin(pad);
    f.setBottomMargin(pad);
    f.setRightMargin(pad);
    QTextCharFormat cf;
    cf.setFont(style_.mono);
    startBlock(f, cf, pad);
    cursor_.insertText(text, cf);
}

void DocumentWriter::writeTable(const blk::Table& table) {
    if (!pendingMarkers_.isEmpty())
        startBlock({}, bodyFormat());  // a list item's marker needs a line
    const int allColumns = int(table.columnAlignments.size());
    const int allRows = int(table.rows.size());
    if (allColumns == 0 || allRows == 0) return;
    const int columns = qMin(allColumns, kMaxTableColumns);
    const int rows = qMin(allRows, qMax(1, kMaxTableCells / columns));

    if (unusedBlock_) collapseCurrentBlock();
    QTextTableFormat tf;
    tf.setBorder(1);
    tf.setBorderBrush(style_.rule);
    tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    tf.setBorderCollapse(true);
    tf.setCellSpacing(0);
    tf.setCellPadding(qRound(style_.codePadding * 0.6));
    tf.setLeftMargin(indent_);
    tf.setTopMargin(atStart_ ? 0 : pendingTop_);
    tf.setHeaderRowCount(1);
    pendingTop_ = 0;
    atStart_ = false;
    QTextTable* t = cursor_.insertTable(rows, columns, tf);

    QTextCharFormat header = bodyFormat();
    header.setFontWeight(QFont::Bold);
    for (int r = 0; r < rows; ++r) {
        const auto& cells = table.rows[size_t(r)];
        for (int c = 0; c < columns; ++c) {
            QTextTableCell cell = t->cellAt(r, c);
            if (r == 0) {
                QTextTableCellFormat cellFormat = cell.format().toTableCellFormat();
                cellFormat.setBackground(style_.headerBackground);
                cell.setFormat(cellFormat);
            }
            QTextCursor cc = cell.firstCursorPosition();
            QTextBlockFormat bf;
            bf.setAlignment(toQt(table.columnAlignments[size_t(c)]));
            cc.setBlockFormat(bf);
            if (size_t(c) < cells.size())
                writeInlines(cc, cells[size_t(c)], r == 0 ? header : bodyFormat());
        }
    }
    cursor_ = t->lastCursorPosition();
    cursor_.movePosition(QTextCursor::NextBlock);
    unusedBlock_ = true;

    if (rows < allRows || columns < allColumns) {
        QTextCharFormat note = bodyFormat();
        note.setFontItalic(true);
        note.setForeground(style_.secondary);
        startBlock({}, note);
        QStringList parts;
        if (rows < allRows) parts << QStringLiteral("%1 more rows").arg(allRows - rows);
        if (columns < allColumns)
            parts << QStringLiteral("%1 more columns").arg(allColumns - columns);
        cursor_.insertText(QStringLiteral("Table cut short: ") +
                               parts.join(QStringLiteral(" and ")) + QStringLiteral(" not shown."),
                           note);
    }
}

void DocumentWriter::writeInlines(QTextCursor& cursor, const Inlines& inlines,
                                  const QTextCharFormat& format) {
    for (const InlineNode& node : inlines) {
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
}

void DocumentWriter::writeImage(QTextCursor& cursor, const inl::Image& image,
                                const QTextCharFormat& format) {
    const QString source = fromUtf8(image.source);
    ImageStore::State state = ImageStore::State::NotLoadable;
    if (images_ && isLoadableImageSource(source)) {
        state = images_->request(source);
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

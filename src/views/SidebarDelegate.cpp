#include "SidebarDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QTextLayout>

#include "ConversationListView.h"
#include "SidebarModel.h"
#include "ViewFonts.h"

namespace parlote::views_detail {

namespace {

// Geometry of a conversation row: the title line on top, then the last message in up
// to two caption lines, with the content aligned to the top of the row. A row is
// `ConversationListView::rowHeight` high, taller only when its preview needs it.
constexpr int horizontalPadding = 8;
constexpr int verticalPadding = 2;
constexpr int bottomPadding = 6;
constexpr int lineSpacing = 4;
constexpr int focusFrameWidth = 2;

// A group's header row: caption-sized bold text with more room above than below.
constexpr int headerTopPadding = 10;
constexpr int headerBottomPadding = 2;

QFont headerFont(const QFont& base) {
    QFont font = views::captionFont(base);
    font.setBold(true);
    return font;
}

SidebarModel::RowKind kindOf(const QModelIndex& index) {
    return SidebarModel::RowKind(index.data(SidebarModel::KindRole).toInt());
}

QString oneLine(QString text) {
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QChar::LineSeparator, QLatin1Char(' '));
    text.replace(QChar::ParagraphSeparator, QLatin1Char(' '));
    return text;
}

QRect titleFieldRect(const QRect& row, const QFont& headline) {
    return QRect(row.left() + horizontalPadding, row.top() + verticalPadding,
                 qMax(0, row.width() - 2 * horizontalPadding), QFontMetrics(headline).height());
}

int captionWidth(int rowWidth) {
    return qMax(0, rowWidth - 2 * horizontalPadding);
}

// The width rows are laid out at: the list's viewport (a size hint is asked for without
// the row's rectangle).
int rowWidth(const QStyleOptionViewItem& option) {
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
        return view->viewport()->width();
    return option.rect.width();
}

QPalette::ColorGroup colorGroup(const QStyleOptionViewItem& option) {
    if (!(option.state & QStyle::State_Enabled)) return QPalette::Disabled;
    return (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
}

}  // namespace

QStringList SidebarDelegate::previewLines(const QString& preview, const QFont& font, int width) {
    if (preview.isEmpty() || width <= 0) return {};
    const QFontMetrics metrics(font);
    const qsizetype lineEnd = preview.indexOf(QLatin1Char('\n'));
    const QString first = lineEnd < 0 ? preview : preview.left(lineEnd);
    const QString later = lineEnd < 0 ? QString() : preview.mid(lineEnd + 1);

    // As much of the message's first line as fits, broken between words where it can be.
    QTextLayout layout(first, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(width);
    layout.endLayout();
    const qsizetype firstEnd = line.textStart() + line.textLength();
    QStringList lines{first.left(firstEnd).trimmed()};

    // Then the rest of that line, or else the message's second line; an ellipsis ends it
    // when anything is left out.
    QString second;
    bool more = false;
    if (firstEnd < first.size()) {
        second = first.mid(firstEnd).trimmed();
        more = !later.isEmpty();
    } else {
        const qsizetype secondEnd = later.indexOf(QLatin1Char('\n'));
        second = secondEnd < 0 ? later : later.left(secondEnd);
        more = secondEnd >= 0;
    }
    if (second.isEmpty()) return lines;
    QString shown = metrics.elidedText(second, Qt::ElideRight, width);
    if (more && shown == second) {
        const QString marked = second + QChar(0x2026);
        shown = metrics.horizontalAdvance(marked) <= width
                    ? marked
                    : metrics.elidedText(marked, Qt::ElideRight, width);
    }
    lines << shown;
    return lines;
}

SidebarDelegate::SidebarDelegate(QObject* parent, EditorFactory makeEditor, EditingTest isEditing)
    : QStyledItemDelegate(parent),
      makeEditor_(std::move(makeEditor)),
      isEditing_(std::move(isEditing)) {}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const int width = rowWidth(option);
    if (kindOf(index) == SidebarModel::RowKind::Header)
        return QSize(qMax(width, 100), headerTopPadding +
                                           QFontMetrics(headerFont(option.font)).height() +
                                           headerBottomPadding);
    const QSize least(qMax(width, 100), ConversationListView::rowHeight);
    if (index.row() <= 0) return least;
    const QFont caption = views::captionFont(option.font);
    const qsizetype lines =
        previewLines(index.data(SidebarModel::PreviewRole).toString(), caption, captionWidth(width))
            .size();
    if (lines == 0) return least;
    const int needed = verticalPadding + QFontMetrics(views::headlineFont(option.font)).height() +
                       lineSpacing + int(lines) * QFontMetrics(caption).lineSpacing() +
                       bottomPadding;
    return least.expandedTo(QSize(0, needed));
}

void SidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    if (kindOf(index) == SidebarModel::RowKind::Header) {
        // A group's header: small, bold and in the secondary colour, at the bottom of its
        // row, over the rows it names.
        painter->save();
        painter->setClipRect(option.rect);
        painter->setFont(headerFont(option.font));
        painter->setPen(option.palette.color(colorGroup(option), QPalette::PlaceholderText));
        const QRect text = option.rect.adjusted(horizontalPadding, headerTopPadding,
                                                -horizontalPadding, -headerBottomPadding);
        painter->drawText(
            text, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(painter->font())
                .elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, text.width()));
        painter->restore();
        return;
    }
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.features &= ~QStyleOptionViewItem::HasDisplay;
    background.state &= ~QStyle::State_HasFocus;  // the focus frame is drawn below
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = colorGroup(option);
    if (option.state & QStyle::State_HasFocus) {
        // The row the keyboard is on while the list has the focus, framed in the text
        // colour of the highlight on a selected row (where the highlight colour would not
        // show) and in the highlight colour on any other.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(QPen(
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Highlight),
            focusFrameWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(focusFrameWidth, focusFrameWidth, -focusFrameWidth,
                                               -focusFrameWidth));
        painter->restore();
    }
    const QColor textColor =
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    const QFont headline = views::headlineFont(option.font);

    painter->save();
    painter->setClipRect(option.rect);
    painter->setPen(textColor);
    painter->setFont(headline);
    if (index.row() == 0) {
        painter->drawText(option.rect, Qt::AlignCenter, SidebarModel::newConversationText);
        painter->restore();
        return;
    }

    const QRect titleField = titleFieldRect(option.rect, headline);
    if (!(isEditing_ && isEditing_(index.row()))) {
        const QString text = QFontMetrics(headline).elidedText(
            oneLine(index.data(Qt::DisplayRole).toString()), Qt::ElideRight, titleField.width());
        painter->drawText(titleField, Qt::AlignLeft | Qt::AlignVCenter, text);
    }

    const QFont caption = views::captionFont(option.font);
    QColor captionColor;
    if (selected) {
        captionColor = textColor;
        captionColor.setAlphaF(0.75f);
    } else {
        captionColor = option.palette.color(group, QPalette::PlaceholderText);
    }
    painter->setPen(captionColor);
    painter->setFont(caption);
    const int step = QFontMetrics(caption).lineSpacing();
    const int top = titleField.bottom() + 1 + lineSpacing;
    const QStringList lines = previewLines(index.data(SidebarModel::PreviewRole).toString(),
                                           caption, captionWidth(option.rect.width()));
    for (int i = 0; i < lines.size(); ++i) {
        const QRect line(titleField.left(), top + i * step, titleField.width(), step);
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
    }
    painter->restore();
}

QWidget* SidebarDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                       const QModelIndex&) const {
    return makeEditor_ ? makeEditor_(parent) : nullptr;
}

void SidebarDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                           const QModelIndex&) const {
    editor->setGeometry(titleFieldRect(option.rect, views::headlineFont(option.font)));
}

QRect SidebarDelegate::titleTextRect(const QRect& row, const QFont& font,
                                     const QString& titleText) const {
    const QFont headline = views::headlineFont(font);
    const QRect field = titleFieldRect(row, headline);
    const QFontMetrics metrics(headline);
    const QString shown = metrics.elidedText(oneLine(titleText), Qt::ElideRight, field.width());
    return QRect(field.topLeft(),
                 QSize(qMin(metrics.horizontalAdvance(shown), field.width()), field.height()));
}

}  // namespace parlote::views_detail

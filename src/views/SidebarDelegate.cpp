#include "SidebarDelegate.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>

#include "ConversationListView.h"
#include "SidebarModel.h"
#include "ViewFonts.h"

namespace parlote::views_detail {

namespace {

// Geometry of a conversation row: the title line on top, then the last message in up
// to two caption lines, with the content aligned to the top of the row.
constexpr int horizontalPadding = 8;
constexpr int verticalPadding = 2;
constexpr int lineSpacing = 4;

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

QRect captionRect(const QRect& row, const QFont& headline, const QFont& caption) {
    const QRect title = titleFieldRect(row, headline);
    QRect rect(title.left(), title.bottom() + 1 + lineSpacing, title.width(),
               2 * QFontMetrics(caption).lineSpacing());
    return rect.intersected(row);
}

// The last message cut after its second line; the second line ends in an ellipsis when
// there is more.
QStringList twoLines(const QString& fullText, const QFont& font, int width) {
    if (fullText.isEmpty() || width <= 0) return {};
    // Two lines of a sidebar never show more than a few hundred characters: laying out a
    // reply of megabytes to find them would stall every paint and take hundreds of MB.
    constexpr qsizetype kPreviewLength = 2000;
    qsizetype keep = std::min(fullText.size(), kPreviewLength);
    if (keep < fullText.size() && fullText.at(keep - 1).isHighSurrogate()) --keep;
    const QString text = keep < fullText.size() ? fullText.left(keep) + QChar(0x2026) : fullText;
    QString wrappable = text;
    wrappable.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(wrappable, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    layout.endLayout();
    const int firstEnd = first.textStart() + first.textLength();
    QStringList lines{oneLine(text.mid(0, firstEnd)).trimmed()};
    const QString rest = oneLine(text.mid(firstEnd)).trimmed();
    if (!rest.isEmpty()) lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
    return lines;
}

QPalette::ColorGroup colorGroup(const QStyleOptionViewItem& option) {
    if (!(option.state & QStyle::State_Enabled)) return QPalette::Disabled;
    return (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
}

}  // namespace

SidebarDelegate::SidebarDelegate(QObject* parent, EditorFactory makeEditor, EditingTest isEditing)
    : QStyledItemDelegate(parent),
      makeEditor_(std::move(makeEditor)),
      isEditing_(std::move(isEditing)) {}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(qMax(option.rect.width(), 100), ConversationListView::rowHeight);
}

void SidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.features &= ~QStyleOptionViewItem::HasDisplay;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = colorGroup(option);
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

    const QRect title = titleFieldRect(option.rect, headline);
    if (!(isEditing_ && isEditing_(index.row()))) {
        const QString text = QFontMetrics(headline).elidedText(
            oneLine(index.data(Qt::DisplayRole).toString()), Qt::ElideRight, title.width());
        painter->drawText(title, Qt::AlignLeft | Qt::AlignVCenter, text);
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
    const QRect captionArea = captionRect(option.rect, headline, caption);
    const QStringList lines = twoLines(index.data(SidebarModel::LastMessageRole).toString(),
                                       caption, captionArea.width());
    const int step = QFontMetrics(caption).lineSpacing();
    for (int i = 0; i < lines.size(); ++i) {
        const QRect line(captionArea.left(), captionArea.top() + i * step, captionArea.width(),
                         step);
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

#include "ConversationSearch.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QVBoxLayout>
#include <optional>

#include "ViewFonts.h"

namespace parlote {

const QString ConversationSearch::noResultsText = ConversationSearch::tr("No results");
const QString ConversationSearch::indexingText = ConversationSearch::tr("Still indexing…");

namespace views_detail {

namespace {

constexpr int horizontalPadding = 8;
constexpr int verticalPadding = 5;
constexpr int lineSpacing = 3;

QString dateText(const QDateTime& date) {
    if (!date.isValid()) return {};
    return QLocale().toString(date.toLocalTime().date(), QLocale::ShortFormat);
}

/// The second line of a finding in the title.
QString titleMatchText() {
    return ConversationSearch::tr("Found in the title");
}

QPalette::ColorGroup colorGroup(const QStyleOptionViewItem& option) {
    if (!(option.state & QStyle::State_Enabled)) return QPalette::Disabled;
    return (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
}

/// `text` laid out on one line with `matches` in bold, in `colour`.
void layOut(QTextLayout& layout, const QString& text,
            const QList<std::pair<qsizetype, qsizetype>>& matches, const QColor& colour) {
    layout.clearLayout();
    layout.setText(text);
    QTextCharFormat plain;
    plain.setForeground(colour);
    QTextCharFormat bold = plain;
    bold.setFontWeight(QFont::Bold);
    QList<QTextLayout::FormatRange> formats{{0, int(text.size()), plain}};
    for (const auto& [start, length] : matches) {
        const qsizetype end = std::min(start + length, text.size());
        if (start >= 0 && start < end) formats.append({int(start), int(end - start), bold});
    }
    layout.setFormats(formats);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
}

/// Ranges moved by `shift` characters, those before the text's start dropped and those
/// past `size` cut there.
QList<std::pair<qsizetype, qsizetype>> shifted(const QList<std::pair<qsizetype, qsizetype>>& ranges,
                                               qsizetype shift, qsizetype size) {
    QList<std::pair<qsizetype, qsizetype>> out;
    for (const auto& [start, length] : ranges) {
        const qsizetype from = start + shift;
        const qsizetype to = std::min(from + length, size);
        if (from >= 0 && from < to) out.append({from, to - from});
    }
    return out;
}

}  // namespace

class SearchResultsModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setFindings(QList<SearchFinding> findings) {
        beginResetModel();
        findings_ = std::move(findings);
        endResetModel();
    }
    const QList<SearchFinding>& findings() const { return findings_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(findings_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= findings_.size()) return {};
        const SearchFinding& finding = findings_[index.row()];
        switch (role) {
            case Qt::DisplayRole:
                return finding.title;
            case Qt::AccessibleTextRole: {
                // What is read for the row: the title, the words around the match, the date.
                QStringList parts{finding.title};
                parts.append(finding.message.isNull() ? titleMatchText() : finding.snippet);
                if (finding.date.isValid()) parts.append(dateText(finding.date));
                return parts.join(QStringLiteral(", "));
            }
            default:
                return {};
        }
    }

private:
    QList<SearchFinding> findings_;
};

// A finding: the title on the first line with the date at its right end, the snippet on
// the second with the matched words in bold. The snippet is cut at the front when the
// first match would otherwise sit far to the right, so that it is seen.
class SearchResultDelegate : public QStyledItemDelegate {
public:
    SearchResultDelegate(SearchResultsModel* model, QObject* parent)
        : QStyledItemDelegate(parent), model_(model) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const QFont title = titleFont(option.font);
        const QFont caption = views::captionFont(option.font);
        return QSize(100, 2 * verticalPadding + QFontMetrics(title).height() + lineSpacing +
                              QFontMetrics(caption).height());
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.row() >= model_->findings().size()) return;
        const SearchFinding& finding = model_->findings()[index.row()];
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.features &= ~QStyleOptionViewItem::HasDisplay;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group = colorGroup(option);
        const QColor textColour =
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        QColor quiet = option.palette.color(group, QPalette::PlaceholderText);
        if (selected) {
            quiet = textColour;
            quiet.setAlphaF(0.75f);
        }
        const QFont titleFont = SearchResultDelegate::titleFont(option.font);
        const QFont caption = views::captionFont(option.font);
        const QRect content = option.rect.adjusted(horizontalPadding, verticalPadding,
                                                   -horizontalPadding, -verticalPadding);

        painter->save();
        painter->setClipRect(option.rect);
        // The date first: the title takes what is left of the line.
        const QString date = dateText(finding.date);
        const QFontMetrics captionMetrics(caption);
        const int dateWidth = date.isEmpty() ? 0 : captionMetrics.horizontalAdvance(date);
        const QRect titleLine(content.left(), content.top(), content.width(),
                              QFontMetrics(titleFont).height());
        if (!date.isEmpty()) {
            painter->setFont(caption);
            painter->setPen(quiet);
            painter->drawText(titleLine, Qt::AlignRight | Qt::AlignVCenter, date);
        }
        painter->setFont(titleFont);
        painter->setPen(textColour);
        const int titleWidth = std::max(0, titleLine.width() - dateWidth - (dateWidth ? 8 : 0));
        painter->drawText(
            QRect(titleLine.topLeft(), QSize(titleWidth, titleLine.height())),
            Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(titleFont).elidedText(finding.title, Qt::ElideRight, titleWidth));

        const QRect snippetLine(content.left(), titleLine.bottom() + 1 + lineSpacing,
                                content.width(), captionMetrics.height());
        if (!finding.message.isNull()) {
            drawSnippet(painter, snippetLine, caption, finding,
                        selected ? textColour : option.palette.color(group, QPalette::Text));
        } else {
            painter->setFont(caption);
            painter->setPen(quiet);
            painter->drawText(snippetLine, Qt::AlignLeft | Qt::AlignVCenter, titleMatchText());
        }
        painter->restore();
    }

private:
    /// Titles in the text's size, bold: the sidebar is narrow, and the snippet says more.
    static QFont titleFont(const QFont& base) {
        QFont font = base;
        font.setWeight(QFont::DemiBold);
        return font;
    }

    static void drawSnippet(QPainter* painter, const QRect& rect, const QFont& font,
                            const SearchFinding& finding, const QColor& colour) {
        const QString ellipsis = QStringLiteral("…");
        const QFontMetricsF metrics(font);
        QString text = finding.snippet;
        auto matches = finding.matches;
        // Far from the start, the first match is brought near it: words before it are
        // dropped until what stays before it takes a quarter of the line.
        if (!matches.isEmpty()) {
            const qsizetype first = std::clamp(matches.first().first, qsizetype(0), text.size());
            if (metrics.horizontalAdvance(text.left(first)) > rect.width() / 3.0) {
                qsizetype cut = first;
                for (qsizetype i = first - 1; i > 0; --i) {
                    if (!text.at(i).isSpace()) continue;
                    if (metrics.horizontalAdvance(text.mid(i + 1, first - i - 1)) >
                        rect.width() / 4.0)
                        break;
                    cut = i + 1;
                }
                text = ellipsis + text.mid(cut);
                matches = shifted(matches, ellipsis.size() - cut, text.size());
            }
        }
        QTextLayout layout(text, font);
        layOut(layout, text, matches, colour);
        // Too long for the line: cut where it ends, with "…".
        if (layout.lineAt(0).naturalTextWidth() > rect.width()) {
            const qreal room = rect.width() - metrics.horizontalAdvance(ellipsis);
            const int end =
                layout.lineAt(0).xToCursor(std::max<qreal>(0, room), QTextLine::CursorOnCharacter);
            text = text.left(end) + ellipsis;
            matches = shifted(matches, 0, end);
            layOut(layout, text, matches, colour);
        }
        const qreal ascentGap = (rect.height() - layout.lineAt(0).height()) / 2.0;
        layout.draw(painter, QPointF(rect.left(), rect.top() + ascentGap));
    }

    SearchResultsModel* model_;
};

}  // namespace views_detail

using views_detail::SearchResultsModel;

ConversationSearch::ConversationSearch(ZoruveVede& model, QWidget* parent)
    : QObject(parent),
      model_(model),
      field_(new QLineEdit(parent)),
      panel_(new QWidget(parent)),
      list_(new QListView(panel_)),
      status_(new QLabel(noResultsText, panel_)),
      indexing_(new QLabel(indexingText, panel_)),
      results_(new SearchResultsModel(this)) {
    field_->setPlaceholderText(tr("Search"));
    field_->setClearButtonEnabled(true);
    field_->setAccessibleName(tr("Search conversations"));
    field_->setAccessibleDescription(
        tr("Up and Down choose a result, Return opens it, Escape empties the field"));
    field_->installEventFilter(this);

    list_->setModel(results_);
    list_->setItemDelegate(new views_detail::SearchResultDelegate(results_, list_));
    list_->setAccessibleName(tr("Search results"));
    list_->setUniformItemSizes(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setFrameShape(QFrame::NoFrame);
    // Like the conversation list: on the window's background, selection in the highlight.
    list_->viewport()->setBackgroundRole(QPalette::Window);
    list_->installEventFilter(this);

    // The status lines are quiet: the placeholder text's colour, which both palettes set.
    for (QLabel* label : {status_, indexing_}) {
        label->setAlignment(Qt::AlignCenter);
        label->setForegroundRole(QPalette::PlaceholderText);
        label->setWordWrap(true);
        label->hide();
    }
    indexing_->setFont(views::captionFont(indexing_->font()));
    const int margin = 8;
    status_->setContentsMargins(margin, 2 * margin, margin, margin);
    indexing_->setContentsMargins(margin, margin / 2, margin, margin / 2);

    auto* layout = new QVBoxLayout(panel_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(status_);
    layout->addWidget(list_, 1);
    layout->addWidget(indexing_);
    panel_->hide();

    debounce_.setSingleShot(true);
    debounce_.setInterval(debounceMs);
    connect(&debounce_, &QTimer::timeout, this, &ConversationSearch::runSearch);
    connect(field_, &QLineEdit::textChanged, this, &ConversationSearch::textChanged);
    // What is shown follows the conversations: a rename, a new reply or a deletion asks
    // again for what the field holds.
    connect(&model_, &ZoruveVede::conversationsChanged, this, [this] {
        if (!active_ || debounce_.isActive()) return;
        keepChoice_ = true;
        debounce_.start();
    });
    connect(list_, &QListView::activated, this, [this] { openCurrent(); });
    connect(list_, &QListView::clicked, this, [this] { openCurrent(); });
}

ConversationSearch::~ConversationSearch() = default;

QListView* ConversationSearch::resultList() const {
    return list_;
}

const QList<SearchFinding>& ConversationSearch::findings() const {
    return results_->findings();
}

int ConversationSearch::currentRow() const {
    return list_->currentIndex().isValid() ? list_->currentIndex().row() : -1;
}

void ConversationSearch::focusField() {
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
}

void ConversationSearch::clear() {
    field_->clear();
}

void ConversationSearch::textChanged(const QString& text) {
    keepChoice_ = false;
    const bool active = !text.trimmed().isEmpty();
    if (!active) {
        debounce_.stop();
        ++generation_;  // an answer on its way is for text no longer there
        openWhenAnswered_ = false;
        model_.cancelSearch();
        results_->setFindings({});
        status_->hide();
        indexing_->hide();
    } else {
        debounce_.start();
    }
    if (active == active_) return;
    active_ = active;
    panel_->setVisible(active);
    emit activeChanged(active);
}

void ConversationSearch::runSearch() {
    const int generation = ++generation_;
    model_.searchConversations(
        field_->text(), resultLimit,
        [self = QPointer<ConversationSearch>(this), generation](const SearchAnswer& answer) {
            if (self && self->generation_ == generation) self->showAnswer(answer);
        });
}

void ConversationSearch::showAnswer(const SearchAnswer& answer) {
    // Asked again after a change of the conversations, the finding chosen stays chosen
    // when it is found again; for new text the best one is.
    std::optional<std::pair<QUuid, QUuid>> chosen;
    if (const int row = currentRow(); std::exchange(keepChoice_, false) && row >= 0)
        chosen = std::pair(findings()[row].conversation, findings()[row].message);
    results_->setFindings(answer.findings);
    int row = 0;
    for (int i = 0; chosen && i < answer.findings.size(); ++i)
        if (answer.findings[i].conversation == chosen->first &&
            answer.findings[i].message == chosen->second)
            row = i;
    if (!answer.findings.isEmpty()) list_->setCurrentIndex(results_->index(row));
    if (!answer.available) {
        status_->setText(tr("Search is not available"));
    } else {
        status_->setText(noResultsText);
    }
    status_->setVisible(answer.findings.isEmpty());
    indexing_->setVisible(answer.available && !answer.complete);
    emit answered();
    if (std::exchange(openWhenAnswered_, false)) openCurrent();
}

void ConversationSearch::moveCurrent(int step) {
    const int count = results_->rowCount();
    if (count == 0) return;
    const int row = currentRow() < 0 ? 0 : std::clamp(currentRow() + step, 0, count - 1);
    list_->setCurrentIndex(results_->index(row));
}

void ConversationSearch::openCurrent() {
    const int row = currentRow();
    if (row < 0 || row >= findings().size()) return;
    const SearchFinding& finding = findings()[row];
    emit openRequested(finding.conversation, finding.message);
}

bool ConversationSearch::eventFilter(QObject* watched, QEvent* event) {
    if (watched != field_ && watched != list_) return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    if (type == QEvent::ShortcutOverride) {
        // Escape here empties the field, whatever the window's shortcut for it.
        if (key->key() == Qt::Key_Escape) event->accept();
        return false;
    }
    switch (key->key()) {
        case Qt::Key_Escape:
            clear();
            emit dismissed();
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (watched != field_) return false;
            moveCurrent(key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (watched != field_) return false;
            // Typed faster than the pause: the search for what is there runs first.
            if (debounce_.isActive()) {
                debounce_.stop();
                openWhenAnswered_ = true;
                runSearch();
                return true;
            }
            openCurrent();
            return true;
        default:
            return false;
    }
}

}  // namespace parlote

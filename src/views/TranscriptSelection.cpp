// TranscriptView: selecting text with the mouse and the keyboard, painting the selection
// and putting it on the clipboard (TranscriptSelection.h).

#include "TranscriptSelection.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QTextCharFormat>
#include <QTimer>
#include <memory>

#include "Limits.h"
#include "MarkdownPlainText.h"
#include "ThinkBlock.h"
#include "TranscriptFind.h"
#include "TranscriptView.h"

namespace parlote {

namespace {

constexpr TextPosition kStart{};

// How often the view scrolls while a drag is above or below it, and how far at most.
constexpr int kDragScrollInterval = 30;  // ms
constexpr int kDragScrollStep = 60;      // pixels

// What a message says as Markdown: a reply without its think block (the reasoning is not
// part of what can be selected), an error as it is.
QStringView answerOf(const ChatMessage& message) {
    const QString& content = message.content();
    if (message.type() == ChatMessageType::error) return content;
    const ThinkSplit split = splitThinking(content);
    return split.hasThinkBlock ? split.answer(content) : QStringView(content);
}

// What a whole message reads as on screen, without laying it out.
QString wholeText(const ChatMessage& message) {
    if (message.type() == ChatMessageType::error) return message.content();
    return markdownToPlainText(answerOf(message).toString(),
                               MarkdownOptions{message.type() == ChatMessageType::user});
}

// The clipboard's view of a selection. The selected parts of the messages at either end
// are read when it is made, from their layouts; the messages in between are whole, and
// read from a copy of the transcript only when their text is asked for.
class SelectionMimeData : public QMimeData {
public:
    SelectionMimeData(MessageList messages, qsizetype first, qsizetype last, QString firstText,
                      QString lastText, bool whole)
        : messages_(std::move(messages)),
          first_(first),
          last_(last),
          firstText_(std::move(firstText)),
          lastText_(std::move(lastText)),
          whole_(whole) {}

    QStringList formats() const override {
        QStringList types{QStringLiteral("text/plain")};
        if (whole_) types.append(TranscriptSelection::markdownMimeType);
        return types;
    }
    bool hasFormat(const QString& type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType as) const override {
        QString text;
        if (type == QLatin1String("text/plain")) {
            text = plain();
        } else if (whole_ && type == TranscriptSelection::markdownMimeType) {
            text = markdown();
        } else {
            return {};
        }
        if (as.id() == QMetaType::QByteArray) return text.toUtf8();
        return text;
    }

private:
    // The parts of the messages, an empty line between two.
    template <typename Whole>
    QString join(Whole whole) const {
        QStringList parts{firstText_};
        for (qsizetype row = first_ + 1; row < last_; ++row) parts.append(whole(messages_.at(row)));
        if (last_ > first_) parts.append(lastText_);
        parts.removeAll(QString());
        return parts.join(QStringLiteral("\n\n"));
    }
    const QString& plain() const {
        if (!plain_) plain_ = join(wholeText);
        return *plain_;
    }
    const QString& markdown() const {
        if (!markdown_) {
            QStringList parts;
            for (qsizetype row = first_; row <= last_; ++row)
                parts.append(answerOf(messages_.at(row)).toString());
            parts.removeAll(QString());
            markdown_ = parts.join(QStringLiteral("\n\n"));
        }
        return *markdown_;
    }

    MessageList messages_;
    qsizetype first_;
    qsizetype last_;
    QString firstText_;
    QString lastText_;
    bool whole_;
    mutable std::optional<QString> plain_;
    mutable std::optional<QString> markdown_;
};

void writeToPrimarySelection(QMimeData* data) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection()) {
        clipboard->setMimeData(data, QClipboard::Selection);
    } else {
        delete data;
    }
}

}  // namespace

TranscriptSelection::TranscriptSelection(TranscriptView* view)
    : view_(view), primaryWriter_(writeToPrimarySelection), dragScroll_(new QTimer(this)) {
    dragScroll_->setInterval(kDragScrollInterval);
    connect(dragScroll_, &QTimer::timeout, this, &TranscriptSelection::scrollWhileDragging);
    view->installEventFilter(this);
}

TranscriptSelection::~TranscriptSelection() = default;

void TranscriptSelection::setPrimaryWriter(std::function<void(QMimeData*)> writer) {
    primaryWriter_ = writer ? std::move(writer) : writeToPrimarySelection;
}

// ---- places ------------------------------------------------------------------------------

int TranscriptSelection::rowOf(const QUuid& id) {
    // The rows of both ends are remembered: painting asks for them over and over.
    const MessageList& messages = view_->messages_;
    for (const int hint : rowHints_)
        if (hint >= 0 && hint < messages.size() && messages.at(hint).id() == id) return hint;
    const std::optional<qsizetype> at = messages.lastIndexOf(id);
    if (!at) return -1;
    nextHint_ = (nextHint_ + 1) % 2;
    rowHints_[nextHint_] = int(*at);
    return int(*at);
}

bool TranscriptSelection::before(const TranscriptPlace& a, const TranscriptPlace& b) {
    const int rowA = rowOf(a.message);
    const int rowB = rowOf(b.message);
    if (rowA != rowB) return rowA < rowB;
    return a.at < b.at;
}

bool TranscriptSelection::isEnd(int row, TextPosition at) {
    if (at == messageEnd) return true;
    const ChatMessage& message = view_->messages_.at(row);
    if (message.type() == ChatMessageType::error) return !(at == kStart);
    // The start is the end only of an empty answer: no need to lay the message out (the
    // first message of a long transcript, selected all).
    if (at == kStart) return answerOf(message).trimmed().isEmpty();
    MarkdownLayout& layout = *view_->layoutFor(row);
    return !(clampPosition(layout, at) < textEnd(layout));
}

std::optional<TranscriptSelection::Span> TranscriptSelection::spanAt(const QPoint& pos, Unit unit) {
    TranscriptView& v = *view_;
    if (v.messages_.isEmpty()) return std::nullopt;
    v.settle();
    const qreal y = v.top_ + pos.y();
    const int row = qMin(v.rowAt(y), v.messageRowCount() - 1);
    const QUuid id = v.messages_.at(row).id();
    const bool error = v.messages_.at(row).type() == ChatMessageType::error;
    auto at = [&](TextPosition p) { return Span{{id, p}, {id, p}}; };
    // Past the text: its end as it is now, so that what a reply adds later stays out.
    auto end = [&] { return at(error ? messageEnd : textEnd(*v.layoutFor(row))); };
    const qreal top = v.rowTop(row);
    if (v.isStatusRow(v.rowAt(y)) || y >= top + v.rows_[size_t(row)].height) return end();
    if (y < top) return at(kStart);
    const TranscriptView::RowGeometry& g = v.geometry(row);
    const QPoint inRow(pos.x() - TranscriptView::padding, int(y - top));
    if (inRow.y() < g.text.top()) return at(kStart);
    if (inRow.y() > g.text.bottom()) return end();
    if (error) return Span{{id, kStart}, {id, messageEnd}};  // selected whole
    MarkdownLayout& layout = *v.layoutFor(row);
    const QPointF inText = inRow - g.text.topLeft();
    TextRange range;
    switch (unit) {
        case Unit::character:
            range.from = range.to = textPositionAt(layout, inText);
            break;
        case Unit::word:
            range = wordAt(layout, inText);
            break;
        case Unit::paragraph:
            range = paragraphAt(layout, textPositionAt(layout, inText));
            break;
    }
    return Span{{id, range.from}, {id, range.to}};
}

// ---- the selection -----------------------------------------------------------------------

void TranscriptSelection::update() {
    std::optional<Span> selection;
    if (anchor_ && focus_) {
        Span s{before(focus_->from, anchor_->from) ? focus_->from : anchor_->from,
               before(anchor_->to, focus_->to) ? focus_->to : anchor_->to};
        int first = rowOf(s.from.message);
        int last = rowOf(s.to.message);
        const MessageList& messages = view_->messages_;
        if (first >= 0 && last >= 0) {
            // An end that holds nothing of its message (the end of one, the start of the
            // next) belongs to the message beside it.
            if (first < last && isEnd(first, s.from.at)) {
                ++first;
                s.from = {messages.at(first).id(), kStart};
            }
            if (last > first && s.to.at == kStart) {
                --last;
                s.to = {messages.at(last).id(), messageEnd};
                if (messages.at(last).type() != ChatMessageType::error)
                    s.to.at = textEnd(*view_->layoutFor(last));
            }
            const bool empty =
                first > last ||
                (first == last && (!(s.from.at < s.to.at) || isEnd(first, s.from.at)));
            if (!empty) selection = s;
        }
    }
    const bool same =
        selection.has_value() == selection_.has_value() &&
        (!selection || (selection->from == selection_->from && selection->to == selection_->to));
    if (same) return;
    selection_ = selection;
    view_->viewport()->update();
    emit view_->selectionChanged();
}

bool TranscriptSelection::hasSelection() {
    if (!selection_) return false;
    const int first = rowOf(selection_->from.message);
    const int last = rowOf(selection_->to.message);
    return first >= 0 && last >= 0 && first <= last;
}

TextRange TranscriptSelection::rangeIn(int row) {
    if (!hasSelection()) return {};
    const int first = rowOf(selection_->from.message);
    const int last = rowOf(selection_->to.message);
    if (row < first || row > last) return {};
    return {row == first ? selection_->from.at : kStart,
            row == last ? selection_->to.at : messageEnd};
}

void TranscriptSelection::clear() {
    dragScroll_->stop();
    if (anchor_) anchor_->to = anchor_->from;
    focus_ = anchor_;
    update();
}

void TranscriptSelection::textMoved(const QUuid& id) {
    const auto touches = [&id](const std::optional<Span>& span) {
        return span && (span->from.message == id || span->to.message == id);
    };
    if (touches(anchor_) || touches(focus_) || touches(selection_)) reset();
}

void TranscriptSelection::reset() {
    dragScroll_->stop();
    pressed_ = dragging_ = dragged_ = false;
    anchor_.reset();
    focus_.reset();
    doubleClickTime_.reset();
    update();
}

void TranscriptSelection::selectAll() {
    TranscriptView& v = *view_;
    if (v.messages_.isEmpty()) return;
    const int last = v.messageRowCount() - 1;
    const QUuid first = v.messages_.at(0).id();
    anchor_ = Span{{first, kStart}, {first, kStart}};
    // The end of the last message's text as it is now: a reply that goes on streaming adds
    // to the transcript, not to the selection.
    TranscriptPlace end{v.messages_.at(last).id(), messageEnd};
    if (v.messages_.at(last).type() != ChatMessageType::error) {
        v.geometry(last);  // laid out at its width
        end.at = textEnd(*v.layoutFor(last));
    }
    focus_ = Span{end, end};
    unit_ = Unit::character;
    pressed_ = dragging_ = dragged_ = false;
    update();
    writePrimary();
}

// ---- the text ----------------------------------------------------------------------------

QString TranscriptSelection::partText(int row, TextPosition from, TextPosition to) {
    const ChatMessage& message = view_->messages_.at(row);
    if (message.type() == ChatMessageType::error) return message.content();
    // A whole message is read from its text without laying it out, unless it shows only
    // its last part: then what is selected is what shows (converting megabytes of hidden
    // text on each selection would freeze the window).
    const bool shownWhole = answerOf(message).size() <= limits::kMaxShownMessageLength;
    if (from == kStart && shownWhole && isEnd(row, to)) return wholeText(message);
    return plainTextOf(*view_->layoutFor(row), from, to);
}

QMimeData* TranscriptSelection::makeMimeData() {
    if (!hasSelection()) return nullptr;
    const int first = rowOf(selection_->from.message);
    const int last = rowOf(selection_->to.message);
    const TextPosition from = selection_->from.at;
    const TextPosition to = selection_->to.at;
    QString firstText = partText(first, from, first == last ? to : messageEnd);
    QString lastText = first == last ? QString() : partText(last, kStart, to);
    const bool whole = from == kStart && isEnd(last, to);
    return new SelectionMimeData(view_->messages_, first, last, std::move(firstText),
                                 std::move(lastText), whole);
}

QString TranscriptSelection::text() {
    const std::unique_ptr<QMimeData> data(makeMimeData());
    return data ? data->text() : QString();
}

QString TranscriptSelection::markdown() {
    const std::unique_ptr<QMimeData> data(makeMimeData());
    if (!data || !data->hasFormat(markdownMimeType)) return {};
    return QString::fromUtf8(data->data(markdownMimeType));
}

void TranscriptSelection::copy() {
    if (QMimeData* data = makeMimeData()) QGuiApplication::clipboard()->setMimeData(data);
}

void TranscriptSelection::writePrimary() {
    if (QMimeData* data = makeMimeData()) primaryWriter_(data);
}

// ---- the mouse and the keys --------------------------------------------------------------

void TranscriptSelection::press(const QPoint& pos, Qt::KeyboardModifiers modifiers,
                                quint64 timestamp) {
    // A press soon after a double click, where it was, is the third click.
    const bool third =
        doubleClickTime_ && timestamp >= *doubleClickTime_ &&
        timestamp - *doubleClickTime_ < quint64(QApplication::doubleClickInterval()) &&
        (pos - doubleClickPos_).manhattanLength() <= QApplication::startDragDistance();
    doubleClickTime_.reset();
    unit_ = third ? Unit::paragraph : Unit::character;
    const std::optional<Span> at = spanAt(pos, unit_);
    pressed_ = at.has_value();
    dragging_ = false;
    dragged_ = false;
    pressPos_ = dragPos_ = pos;
    if (!at) return;
    if (modifiers.testFlag(Qt::ShiftModifier) && anchor_ && rowOf(anchor_->from.message) >= 0) {
        // Extends from where the selection (or the last click) began.
        focus_ = at;
        dragging_ = true;
        update();
        writePrimary();
        return;
    }
    anchor_ = focus_ = at;
    dragging_ = third;
    update();  // a plain click selects nothing: the last selection goes
    if (third) writePrimary();
}

void TranscriptSelection::doubleClick(const QPoint& pos, quint64 timestamp) {
    unit_ = Unit::word;
    const std::optional<Span> at = spanAt(pos, unit_);
    if (!at) return;
    anchor_ = focus_ = at;
    pressed_ = dragging_ = true;
    dragged_ = false;
    pressPos_ = dragPos_ = pos;
    doubleClickTime_ = timestamp;
    doubleClickPos_ = pos;
    update();
    writePrimary();
}

bool TranscriptSelection::drag(const QPoint& pos) {
    if (!pressed_) return false;
    if (!dragging_) {
        if ((pos - pressPos_).manhattanLength() < QApplication::startDragDistance()) return false;
        dragging_ = true;
    }
    dragPos_ = pos;
    dragged_ = true;
    if (const std::optional<Span> at = spanAt(pos, unit_)) {
        focus_ = at;
        update();
    }
    // Above or below the view, the view scrolls on its own for as long as the pointer
    // stays there.
    const bool outside = pos.y() < 0 || pos.y() >= view_->viewport()->height();
    if (!outside) {
        dragScroll_->stop();
    } else if (!dragScroll_->isActive()) {
        dragScroll_->start();
    }
    return true;
}

bool TranscriptSelection::release() {
    dragScroll_->stop();
    const bool selected = pressed_ && dragging_;
    const bool dragged = selected && dragged_;
    pressed_ = dragging_ = dragged_ = false;
    // A double or triple click and Shift+click gave the primary selection its text already;
    // a drag gives it the text it ended with.
    if (dragged) writePrimary();
    return selected;
}

void TranscriptSelection::scrollWhileDragging() {
    const int height = view_->viewport()->height();
    const int y = dragPos_.y();
    const int over = y < 0 ? y : (y >= height ? y - height + 1 : 0);
    // The release may never come (an alert opened mid-drag, the grab lost): a button that
    // is up ends the drag here.
    if (pressed_ && !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        release();
        return;
    }
    if (!pressed_ || !dragging_ || over == 0) {
        dragScroll_->stop();
        return;
    }
    view_->setScrollPosition(view_->scrollPosition() +
                             qBound(-kDragScrollStep, over, kDragScrollStep));
    if (const std::optional<Span> at = spanAt(dragPos_, unit_)) {
        focus_ = at;
        update();
    }
}

bool TranscriptSelection::eventFilter(QObject* watched, QEvent* event) {
    if (watched != view_ || !view_->hasFocus() ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool copyKey = key->matches(QKeySequence::Copy);
    const bool allKey = key->matches(QKeySequence::SelectAll);
    const bool escape =
        key->key() == Qt::Key_Escape && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    // Escape clears a selection before it does anything else (stopping a reply, say).
    const bool taken =
        ((copyKey || escape) && hasSelection()) || (allKey && !view_->messages_.isEmpty());
    if (!taken) return false;
    key->accept();
    if (event->type() == QEvent::ShortcutOverride) return true;  // the key comes to the view
    if (copyKey) {
        copy();
    } else if (allKey) {
        selectAll();
    } else {
        clear();
    }
    return true;
}

// ---- painting ----------------------------------------------------------------------------

void TranscriptSelection::paintText(QPainter& painter, int row, const QPoint& topLeft,
                                    const QRectF& exposed) {
    MarkdownLayout* layout = view_->layoutFor(row);
    // The matches of Find, then the selection over them.
    std::vector<MarkdownLayout::Highlight> highlights;
    view_->find_->addHighlights(row, highlights);
    const TextRange range = rangeIn(row);
    QTextCharFormat selected;
    if (!range.isEmpty()) {
        const QPalette& palette = view_->palette();
        selected.setBackground(palette.brush(QPalette::Highlight));
        selected.setForeground(palette.brush(QPalette::HighlightedText));
        highlights.push_back({range.from, range.to, &selected});
    }
    layout->paint(&painter, topLeft, exposed, highlights);
}

void TranscriptSelection::paintError(QPainter& painter, int row, const QRect& rect,
                                     const QString& text) {
    const QPalette& palette = view_->palette();
    const bool selected = !rangeIn(row).isEmpty();
    if (!selected && view_->find_->paintError(painter, row, rect, text)) return;
    if (selected) painter.fillRect(rect, palette.color(QPalette::Highlight));
    painter.setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::WindowText));
    painter.setFont(view_->font());
    painter.drawText(rect, Qt::TextWordWrap, text);
}

// ---- the view's part ---------------------------------------------------------------------

bool TranscriptView::hasSelection() {
    return selection_->hasSelection();
}

QString TranscriptView::selectedText() {
    return selection_->text();
}

QString TranscriptView::selectedMarkdown() {
    return selection_->markdown();
}

void TranscriptView::selectAll() {
    selection_->selectAll();
}

void TranscriptView::clearSelection() {
    selection_->clear();
}

void TranscriptView::copySelection() {
    selection_->copy();
}

void TranscriptView::setPrimarySelectionWriter(std::function<void(QMimeData*)> writer) {
    selection_->setPrimaryWriter(std::move(writer));
}

QRect TranscriptView::textRect(int row, const QString& text) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row) || messages_.at(row).type() == ChatMessageType::error)
        return {};
    const RowGeometry& g = geometry(row);
    const QRectF found = parlote::textRect(*layoutFor(row), text);
    if (found.isNull()) return {};
    return found.translated(r.topLeft() + g.text.topLeft()).toAlignedRect();
}

}  // namespace parlote

// TranscriptView: finding text in the transcript (TranscriptFind.h).

#include "TranscriptFind.h"

#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <cmath>

#include "FindText.h"
#include "Limits.h"
#include "MarkdownPlainText.h"
#include "ThinkBlock.h"
#include "TranscriptLayoutCache.h"
#include "TranscriptView.h"

namespace parlote {

namespace {

// Whether two texts are equal, at once when they share their characters.
bool sameText(const QString& a, const QString& b) {
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}

// What a message shows, as plain text: an error's text, else the Markdown of its answer (a
// reply without its think block) as it reads rendered; of a message too long to show
// whole, the last part that shows (LongMessage.h).
QString shownPlainText(const ChatMessage& message, FenceTracker* fences) {
    const QString& content = message.content();
    if (message.type() == ChatMessageType::error)
        return shownText(content, shownPart(content, false));
    QString body = content;
    if (message.type() == ChatMessageType::assistant) {
        const ThinkSplit split = splitThinking(content);
        if (split.hasThinkBlock) body = split.answer(content).toString();
    }
    const ShownPart part = shownPart(body, true, limits::kMaxShownMessageLength, fences);
    return markdownToPlainText(part.isCut() ? shownText(body, part) : body,
                               MarkdownOptions{message.type() == ChatMessageType::user});
}

// Lays `text` out as QPainter::drawText() does in a rectangle `width` wide with
// Qt::TextWordWrap, which is how an error's text is painted.
void layOutPlainText(QTextLayout& layout, const QString& text, const QFont& font, int width) {
    QString shown = text;
    shown.replace(u'\n', QChar::LineSeparator);
    layout.setText(shown);
    layout.setFont(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    const qreal leading = QFontMetricsF(font).leading();
    qreal y = -leading;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        y += leading;
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
}

// Where the characters [start, end) of a laid-out text begin to be drawn: their part on the
// line they begin on.
QRectF plainRangeRect(const QTextLayout& layout, qsizetype start, qsizetype end) {
    const QTextLine line = layout.lineForTextPosition(int(start));
    if (!line.isValid()) return {};
    const qsizetype stop = qMin(end, qsizetype(line.textStart() + line.textLength()));
    const qreal left = line.cursorToX(int(start));
    const qreal right = line.cursorToX(int(qMax(start, stop)));
    return QRectF(line.x() + qMin(left, right), line.y(), std::abs(right - left), line.height());
}

}  // namespace

TranscriptFind::TranscriptFind(TranscriptView* view) : QObject(view), view_(view) {
    slice_.setSingleShot(true);
    slice_.setInterval(0);
    connect(&slice_, &QTimer::timeout, this, &TranscriptFind::runSlice);
    follow_.setSingleShot(true);
    follow_.setInterval(followInterval);
    connect(&follow_, &QTimer::timeout, this, &TranscriptFind::runSlice);
}

TranscriptFind::~TranscriptFind() = default;

// ---- searching ---------------------------------------------------------------------------

void TranscriptFind::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    const QString query = find::foldQuery(text);
    if (query == query_) return;  // the same search ("Blue" after "blue")
    const QString last = query_;
    query_ = query;
    layoutMatches_.clear();
    if (query_.isEmpty()) {
        // Finding ends: no highlights, nothing current. What is known of the messages stays.
        slice_.stop();
        follow_.stop();
        revealPending_ = false;
        searchingAnew_ = false;
        currentId_ = QUuid();
        currentK_ = -1;
        total_ = 0;
        view_->viewport()->update();
        emit view_->findResultsChanged();
        return;
    }
    // The first match is looked for from the current one, else from the top of the view.
    anchor_ = currentId_;
    if (anchor_.isNull() && view_->messageRowCount() > 0)
        anchor_ = view_->messages_.at(view_->visibleMessageRows().first).id();
    currentId_ = QUuid();
    currentK_ = -1;
    revealPending_ = true;
    // A text that holds the last one is only in the messages that held the last one.
    const bool narrower = !last.isEmpty() && query_.contains(last);
    entries_.resize(size_t(view_->messageRowCount()));
    for (Entry& entry : entries_) {
        entry.pending = !narrower || entry.pending || entry.count > 0;
        if (!entry.pending) entry.count = 0;
    }
    scanFrom_ = 0;
    searchingAnew_ = true;
    follow_.stop();
    runSlice();  // the first step at once
    if (isSearching()) emit view_->findResultsChanged();
}

void TranscriptFind::reset() {
    entries_.clear();
    entries_.resize(size_t(view_->messageRowCount()));
    layoutMatches_.clear();
    currentId_ = QUuid();
    currentK_ = -1;
    currentHint_ = -1;
    revealPending_ = false;
    total_ = 0;
    scanFrom_ = 0;
    if (!isActive()) return;
    searchingAnew_ = true;
    follow_.stop();
    slice_.stop();
    schedule(true);
    emit view_->findResultsChanged();
}

void TranscriptFind::changed(qsizetype from) {
    const size_t count = size_t(view_->messageRowCount());
    entries_.resize(count);
    for (size_t i = size_t(qMax<qsizetype>(0, from)); i < count; ++i) entries_[i].pending = true;
    scanFrom_ = qMin(scanFrom_, from);
    if (isActive()) schedule(false);
}

void TranscriptFind::schedule(bool soon) {
    if (slice_.isActive()) return;
    if (soon) {
        follow_.stop();
        slice_.start();
    } else if (!follow_.isActive()) {
        follow_.start();
    }
}

bool TranscriptFind::isSearching() const {
    return isActive() && searchingAnew_;
}

void TranscriptFind::search(int row) {
    Entry& entry = entries_[size_t(row)];
    const ChatMessage& message = view_->messages_.at(row);
    if (!entry.ready || entry.id != message.id() || !sameText(entry.content, message.content())) {
        if (entry.id != message.id()) entry.fences = FenceTracker();
        entry.id = message.id();
        entry.content = message.content();
        entry.folded = find::foldText(shownPlainText(message, &entry.fences));
        entry.ready = true;
    }
    entry.count = find::countMatches(entry.folded, query_);
    entry.pending = false;
}

void TranscriptFind::runSlice() {
    if (!isActive()) return;
    QElapsedTimer clock;
    clock.start();
    const qsizetype count = qsizetype(entries_.size());
    qsizetype row = scanFrom_;
    for (; row < count; ++row) {
        if (!entries_[size_t(row)].pending) continue;
        search(int(row));
        if (clock.elapsed() >= sliceMs) {
            ++row;
            break;
        }
    }
    scanFrom_ = row;
    if (row < count) {
        schedule(true);
        return;
    }
    finish();
}

void TranscriptFind::finishNow() {
    if (scanFrom_ >= qsizetype(entries_.size()) && !slice_.isActive() && !follow_.isActive())
        return;
    slice_.stop();
    follow_.stop();
    for (qsizetype row = scanFrom_; row < qsizetype(entries_.size()); ++row)
        if (entries_[size_t(row)].pending) search(int(row));
    scanFrom_ = qsizetype(entries_.size());
    finish();
}

void TranscriptFind::finish() {
    searchingAnew_ = false;
    total_ = 0;
    for (const Entry& entry : entries_) total_ += entry.count;
    keepCurrent();
    if (std::exchange(revealPending_, false)) {
        if (currentId_.isNull()) {
            const int anchor = rowOf(anchor_);
            pickFrom(anchor >= 0 ? anchor : 0, true);
        }
        reveal();
    }
    view_->viewport()->update();
    emit view_->findResultsChanged();
}

// ---- the current match -------------------------------------------------------------------

int TranscriptFind::rowOf(const QUuid& id) const {
    if (id.isNull()) return -1;
    const MessageList& messages = view_->messages_;
    if (currentHint_ >= 0 && currentHint_ < messages.size() && messages.at(currentHint_).id() == id)
        return currentHint_;
    const std::optional<qsizetype> at = messages.lastIndexOf(id);
    if (!at) return -1;
    if (id == currentId_) currentHint_ = int(*at);
    return int(*at);
}

int TranscriptFind::currentRow() const {
    if (!isActive() || currentK_ < 0) return -1;
    const int row = rowOf(currentId_);
    return row >= 0 && row < qsizetype(entries_.size()) ? row : -1;
}

qsizetype TranscriptFind::currentIndex() const {
    const int row = currentRow();
    if (row < 0) return -1;
    qsizetype before = 0;
    for (int i = 0; i < row; ++i) before += entries_[size_t(i)].count;
    return before + currentK_;
}

void TranscriptFind::keepCurrent() {
    const int row = currentRow();
    if (row < 0 || entries_[size_t(row)].count == 0) {
        currentId_ = QUuid();
        currentK_ = -1;
        return;
    }
    currentK_ = qMin(currentK_, entries_[size_t(row)].count - 1);
}

void TranscriptFind::pickFrom(int row, bool forward) {
    currentId_ = QUuid();
    currentK_ = -1;
    const int count = int(entries_.size());
    if (total_ == 0 || count == 0) return;
    row = qBound(0, row, count - 1);
    for (int step = 0; step < count; ++step) {
        const int at = forward ? (row + step) % count : (row - step + count) % count;
        const qsizetype matches = entries_[size_t(at)].count;
        if (matches == 0) continue;
        currentId_ = view_->messages_.at(at).id();
        currentHint_ = at;
        currentK_ = forward ? 0 : matches - 1;
        return;
    }
}

void TranscriptFind::next() {
    if (!isActive()) return;
    const bool justAsked = revealPending_;
    finishNow();
    if (justAsked) return;  // the search just done brought its first match up
    const int row = currentRow();
    if (row < 0) {
        pickFrom(view_->visibleMessageRows().first, true);
    } else if (currentK_ + 1 < entries_[size_t(row)].count) {
        ++currentK_;
    } else {
        pickFrom(row + 1 < int(entries_.size()) ? row + 1 : 0, true);
    }
    reveal();
    view_->viewport()->update();
    emit view_->findResultsChanged();
}

void TranscriptFind::previous() {
    if (!isActive()) return;
    const bool justAsked = revealPending_;
    finishNow();
    if (justAsked) return;
    const int row = currentRow();
    if (row < 0) {
        pickFrom(qMax(0, view_->visibleMessageRows().second), false);
    } else if (currentK_ > 0) {
        --currentK_;
    } else {
        pickFrom(row > 0 ? row - 1 : int(entries_.size()) - 1, false);
    }
    reveal();
    view_->viewport()->update();
    emit view_->findResultsChanged();
}

void TranscriptFind::reveal() {
    const int row = currentRow();
    if (row < 0) return;
    const int visible = view_->viewport()->height();
    // Rows measured on the way may move it: look again until it stays.
    for (int round = 0; round < 4; ++round) {
        const QRect match = currentRect();
        if (match.isNull()) {
            view_->revealRow(row);  // its text is not laid out (an editor covers it)
            return;
        }
        if (match.top() >= 0 && match.bottom() < visible) return;
        const qreal before = view_->scrollPosition();
        view_->setScrollPosition(before + match.top() - visible / 3);
        if (std::abs(view_->scrollPosition() - before) < 1) return;  // as far as it goes
    }
}

// ---- where the matches are ---------------------------------------------------------------

const std::vector<TextRange>& TranscriptFind::layoutMatches(int row) {
    CachedLayout& entry = view_->entryFor(row);
    // Kept for the rows seen since the search began, a few screens' worth at most.
    const QUuid id = view_->messages_.at(row).id();
    if (layoutMatches_.size() >= TranscriptView::layoutCacheSize && !layoutMatches_.contains(id))
        layoutMatches_.clear();
    LayoutMatches& matches = layoutMatches_[id];
    if (matches.made && sameText(matches.laidOut, entry.laidOut)) return matches.ranges;
    matches.made = true;
    matches.laidOut = entry.laidOut;
    matches.ranges.clear();
    const PlacedText placed = placedText(*entry.layout);
    const QString folded = find::foldText(placed.text);
    for (const qsizetype start : find::matchStarts(folded, query_))
        matches.ranges.push_back(placed.range(start, query_.size()));
    return matches.ranges;
}

std::vector<qsizetype> TranscriptFind::errorMatches(const QString& text) const {
    return find::matchStarts(find::foldText(text), query_);
}

QRect TranscriptFind::currentRect() {
    const int row = currentRow();
    if (row < 0) return {};
    const std::vector<QRect> rects = matchRects(row);
    if (rects.empty()) return {};
    return rects[size_t(qMin<qsizetype>(currentK_, qsizetype(rects.size()) - 1))];
}

std::vector<QRect> TranscriptFind::matchRects(int row) {
    std::vector<QRect> rects;
    // A row without matches is not laid out to learn so.
    if (!isActive() || row < 0 || row >= qsizetype(entries_.size()) ||
        entries_[size_t(row)].count == 0)
        return rects;
    const ChatMessage& message = view_->messages_.at(row);
    if (view_->editor_ && message.id() == view_->editingId_) return rects;
    const QRect rowRect = view_->rowRect(row);
    const TranscriptView::RowGeometry& g = view_->geometry(row);
    const QPoint origin = rowRect.topLeft() + g.text.topLeft();
    if (message.type() == ChatMessageType::error) {
        QTextLayout layout;
        layOutPlainText(layout, g.plainText, view_->font(), g.text.width());
        for (const qsizetype start : errorMatches(g.plainText))
            rects.push_back(plainRangeRect(layout, start, start + query_.size())
                                .translated(origin)
                                .toAlignedRect());
        return rects;
    }
    MarkdownLayout* layout = view_->layoutFor(row);
    for (const TextRange& range : layoutMatches(row))
        rects.push_back(rangeRect(*layout, range).translated(origin).toAlignedRect());
    return rects;
}

// ---- painting ----------------------------------------------------------------------------

void TranscriptFind::updateFormats() {
    // Marker yellow under every match, orange under the current one: neither the selection's
    // colour nor a bubble's, and read in both palettes. On a dark background the yellow is
    // darkened to keep the light text readable; the orange takes dark text.
    const QPalette& palette = view_->palette();
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    matchFormat_ = QTextCharFormat();
    matchFormat_.setBackground(dark ? QColor(120, 96, 0) : QColor(255, 226, 80));
    currentFormat_ = QTextCharFormat();
    currentFormat_.setBackground(QColor(255, 150, 0));
    currentFormat_.setForeground(QColor(0, 0, 0));
}

void TranscriptFind::addHighlights(int row, std::vector<MarkdownLayout::Highlight>& out) {
    if (!isActive() || row >= qsizetype(entries_.size()) || entries_[size_t(row)].count == 0)
        return;
    const std::vector<TextRange>& ranges = layoutMatches(row);
    if (ranges.empty()) return;
    updateFormats();
    const qsizetype current =
        currentRow() == row ? qMin<qsizetype>(currentK_, qsizetype(ranges.size()) - 1) : -1;
    // Every match under the text, the current one drawn in its own colours (dark text).
    for (qsizetype k = 0; k < qsizetype(ranges.size()); ++k)
        if (k != current)
            out.push_back({ranges[size_t(k)].from, ranges[size_t(k)].to, &matchFormat_, true});
    if (current >= 0)
        out.push_back({ranges[size_t(current)].from, ranges[size_t(current)].to, &currentFormat_});
}

bool TranscriptFind::paintError(QPainter& painter, int row, const QRect& rect,
                                const QString& text) {
    if (!isActive() || row >= qsizetype(entries_.size()) || entries_[size_t(row)].count == 0)
        return false;
    const std::vector<qsizetype> starts = errorMatches(text);
    if (starts.empty()) return false;
    updateFormats();
    const qsizetype current =
        currentRow() == row ? qMin<qsizetype>(currentK_, qsizetype(starts.size()) - 1) : -1;
    QList<QTextLayout::FormatRange> formats;
    for (qsizetype k = 0; k < qsizetype(starts.size()); ++k)
        formats.append({int(starts[size_t(k)]), int(query_.size()),
                        k == current ? currentFormat_ : matchFormat_});
    QTextLayout layout;
    layOutPlainText(layout, text, view_->font(), rect.width());
    painter.setPen(view_->palette().color(QPalette::WindowText));
    layout.draw(&painter, rect.topLeft(), formats);
    return true;
}

// ---- the view's part ---------------------------------------------------------------------

void TranscriptView::setFindText(const QString& text) {
    find_->setText(text);
}

QString TranscriptView::findText() const {
    return find_->text();
}

void TranscriptView::findNext() {
    find_->next();
}

void TranscriptView::findPrevious() {
    find_->previous();
}

qsizetype TranscriptView::findMatchCount() const {
    return find_->count();
}

qsizetype TranscriptView::currentFindMatch() const {
    return find_->currentIndex();
}

int TranscriptView::currentFindRow() const {
    return find_->currentRow();
}

bool TranscriptView::isFindSearching() const {
    return find_->isSearching();
}

QRect TranscriptView::currentFindMatchRect() {
    return find_->currentRect();
}

std::vector<QRect> TranscriptView::findMatchRects(int row) {
    return find_->matchRects(row);
}

}  // namespace parlote

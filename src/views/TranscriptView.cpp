#include "TranscriptView.h"

#include <QClipboard>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QIcon>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "LongMessage.h"
#include "MarkdownLayout.h"
#include "MarkdownStyle.h"
#include "ViewFonts.h"
#include "WholeMessageWindow.h"

namespace parlote {

namespace {

// Space between the pieces of a meta line, and between a bubble and the space kept
// free beside it.
constexpr int itemSpacing = 6;

// Blue and gray at opacity 0.1 over the window background.
QColor bubbleColor(ChatMessageType type, const QPalette& palette) {
    const QColor background = palette.color(QPalette::Window);
    return type == ChatMessageType::user ? mixColors(background, QColor(0, 122, 255), 0.1)
                                         : mixColors(background, QColor(128, 128, 128), 0.1);
}

QIcon copyIcon() {
    static const QIcon icon = QIcon::fromTheme(
        QStringLiteral("edit-copy"), QIcon(QStringLiteral(":/resources/icons/edit-copy.svg")));
    return icon;
}

// The locale's long date without the weekday and with abbreviated month names: the
// medium date style ("Jan 5, 2026", "5. Jan. 2026").
QString mediumDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

// Whether two texts are equal, at once when they share their characters (a message handed
// over again unchanged).
bool sameText(const QString& a, const QString& b) {
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}

}  // namespace

struct TranscriptView::CachedLayout {
    std::unique_ptr<MarkdownLayout> layout;
    QString content;
    qsizetype limit = 0;  // the most of `content` shown
    ShownPart shown;      // of `content`
    QString laidOut;      // what `layout` holds
    FenceTracker fences;  // of `content`, kept as it grows
    quint64 lastUse = 0;

    void setContent(const QString& text, qsizetype shownLimit) {
        content = text;
        limit = shownLimit;
        shown = shownPart(text, true, limit, &fences);
        laidOut = shownText(text, shown);
        layout->setMarkdown(laidOut);
    }
};

TranscriptView::TranscriptView(QWidget* parent, ImageStore* images)
    : QAbstractScrollArea(parent),
      images_(images),
      animation_(new QPropertyAnimation(this, "scrollPosition", this)),
      growthEnd_(new QTimer(this)) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(24);
    updateMetrics();
    animation_->setDuration(scrollDuration);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    // The last frame of an animation may land a little off when rows measured on the way
    // changed height; end exactly on the target.
    connect(animation_, &QPropertyAnimation::finished, this,
            [this] { scrollToLastMessage(false); });
    growthEnd_->setSingleShot(true);
    growthEnd_->setInterval(streamEndDelay);
    connect(growthEnd_, &QTimer::timeout, this, &TranscriptView::endFastGrowth);
    urlOpener_ = desktopLinkOpener();
}

TranscriptView::~TranscriptView() = default;

void TranscriptView::setUrlOpener(LinkOpener opener) {
    urlOpener_ = std::move(opener);
}

QString TranscriptView::timestampText(const QDateTime& time, const QDateTime& now) {
    const QLocale locale;
    const QDateTime local = time.toLocalTime();
    const QString clock = locale.toString(local.time(), QLocale::ShortFormat);
    if (local.date() == now.toLocalTime().date()) return clock;
    return locale.toString(local.date(), mediumDateFormat(locale)) + QLatin1Char(' ') + clock;
}

// ---- rows and their heights -------------------------------------------------------------

int TranscriptView::rowCount() const {
    return messageRowCount() + (status_ ? 1 : 0);
}

int TranscriptView::contentWidth() const {
    return qMax(60, viewport()->width() - 2 * padding);
}

void TranscriptView::updateMetrics() {
    style_ = MarkdownStyle::from(font(), palette());
    captionFont_ = views::captionFont(font());
    const QFontMetrics metrics(font());
    charWidth_ = metrics.averageCharWidth();
    lineSpacing_ = metrics.lineSpacing();
    captionHeight_ = QFontMetrics(captionFont_).height();
    metaHeight_ = qMax(iconSize + 4, captionHeight_);
}

int TranscriptView::estimateHeight(int row) const {
    if (isStatusRow(row)) return captionHeight_;
    const int textWidth = qMax(20, contentWidth() - sideSpace - itemSpacing - 2 * bubblePadding);
    const qint64 chars = qMin(messages_.at(row).content().size(), limits::kMaxShownMessageLength);
    const qint64 lines = qMax<qint64>(1, (chars * charWidth_ + textWidth - 1) / textWidth);
    const qint64 text = qMin<qint64>(lines * lineSpacing_, 10'000'000);
    return int(text) + 2 * bubblePadding + metaSpacing + metaHeight_;
}

MarkdownLayout* TranscriptView::layoutFor(int row) {
    return entryFor(row).layout.get();
}

TranscriptView::CachedLayout& TranscriptView::entryFor(int row) {
    const ChatMessage& message = messages_.at(row);
    std::shared_ptr<CachedLayout>& entry = layouts_[message.id()];
    if (!entry) {
        if (layouts_.size() > layoutCacheSize) {
            // Let go of the layout used longest ago; the rows on screen were just used.
            auto oldest = layouts_.end();
            for (auto it = layouts_.begin(); it != layouts_.end(); ++it) {
                if (it.value() &&
                    (oldest == layouts_.end() || it.value()->lastUse < oldest.value()->lastUse))
                    oldest = it;
            }
            if (oldest != layouts_.end()) {
                // Its row is laid out again (with a new layout) when it is next needed.
                if (const auto at = messages_.lastIndexOf(oldest.key()))
                    rows_[size_t(*at)].exact = false;
                layouts_.erase(oldest);
            }
        }
        std::shared_ptr<CachedLayout>& fresh = layouts_[message.id()];
        fresh = std::make_shared<CachedLayout>();
        fresh->layout = std::make_unique<MarkdownLayout>(images_);
        fresh->layout->setStyle(style_);
        fresh->setContent(message.content(), shownLimit(row));
        const QUuid id = message.id();
        // An image that arrives or fails changes the row's height.
        connect(fresh->layout.get(), &MarkdownLayout::changed, this, [this, id] {
            if (const auto at = messages_.lastIndexOf(id)) {
                rows_[size_t(*at)].exact = false;
                offsetsDirty_ = true;
                viewport()->update();
            }
        });
        fresh->lastUse = ++useCounter_;
        if (rows_[size_t(row)].exact)
            fresh->layout->setWidth(rows_[size_t(row)].geometry.text.width());
        return *fresh;
    }
    const qsizetype limit = shownLimit(row);
    if (entry->limit != limit || !sameText(entry->content, message.content()))
        entry->setContent(message.content(), limit);
    entry->lastUse = ++useCounter_;
    return *entry;
}

qsizetype TranscriptView::shownLimit(int row) const {
    const qsizetype limit = limits::kMaxShownMessageLength;
    if (!rows_[size_t(row)].growingFast || messages_.at(row).content().size() <= limit)
        return limit;
    return qMin(limit, streamingShownLength());
}

qsizetype TranscriptView::streamingShownLength() const {
    // Lines as wide as the text, of characters half as wide as the average one, one line
    // more than the visible area holds.
    const qint64 textWidth = qMax(20, contentWidth() - sideSpace - itemSpacing - 2 * bubblePadding);
    const qint64 lines = viewport()->height() / qMax(1, lineSpacing_) + 1;
    const qint64 perLine = 2 * textWidth / qMax(1, charWidth_) + 1;
    constexpr qint64 unit = 1000;
    const qint64 chars = (lines * perLine + unit - 1) / unit * unit;
    return qsizetype(qBound<qint64>(4 * unit, chars, limits::kMaxShownMessageLength));
}

quint64 TranscriptView::markdownLayoutCount(int row) const {
    if (row < 0 || row >= messageRowCount()) return 0;
    const auto entry = layouts_.value(messages_.at(row).id());
    return entry ? entry->layout->blockLayoutCount() : 0;
}

void TranscriptView::endFastGrowth() {
    std::vector<int> ended;
    for (int row = 0; row < messageRowCount(); ++row)
        if (std::exchange(rows_[size_t(row)].growingFast, false)) ended.push_back(row);
    if (ended.empty()) return;
    // A view following the end keeps showing it; else the text in view stays in place.
    const bool atEnd = isScrolling() ||
                       (lastVisibleHeight_ > 0 && top_ >= contentHeight() - lastVisibleHeight_ - 1);
    for (const int row : ended) {
        Row& info = rows_[size_t(row)];
        if (!info.exact) continue;  // laid out with its whole part when next needed
        const int before = info.height;
        measure(row);
        // The part grew at its top: what was in view of this row moved down by as much.
        if (row == anchorRow_) anchorOffset_ += info.height - before;
    }
    if (atEnd) {
        scrollToLastMessage(false);
    } else {
        settle();
        viewport()->update();
    }
}

void TranscriptView::placeNotice(RowGeometry& g, QPoint origin, const QString& content,
                                 qsizetype shownFrom) {
    if (shownFrom <= 0) return;
    const QFontMetrics metrics(captionFont_);
    g.noticeText = cutNotice(content.size() - shownFrom, content.size());
    const int noticeWidth = metrics.horizontalAdvance(g.noticeText + QLatin1Char(' '));
    g.notice = QRect(origin, QSize(noticeWidth, captionHeight_));
    g.showAll = QRect(QPoint(g.notice.right() + 1, origin.y()),
                      QSize(metrics.horizontalAdvance(tr("Show all")) + 2, captionHeight_));
}

TranscriptView::RowGeometry TranscriptView::computeGeometry(int row) {
    RowGeometry g;
    const int width = contentWidth();
    if (isStatusRow(row)) {
        g.text = QFontMetrics(captionFont_)
                     .boundingRect(QRect(0, 0, width, 1 << 24), Qt::TextWordWrap, *status_);
        g.text.moveTopLeft(QPoint(0, 0));
        g.height = g.text.height();
        return g;
    }
    const ChatMessage& message = messages_.at(row);
    const int meta = metaHeight_;
    // A message shown in part has the notice over its text.
    const int noticeHeight = captionHeight_ + metaSpacing;
    if (message.type() == ChatMessageType::error) {
        const ShownPart part = shownPart(message.content(), false);
        g.plainText = shownText(message.content(), part);
        const QRect text = fontMetrics().boundingRect(
            QRect(0, 0, width - 2 * bubblePadding, 1 << 24), Qt::TextWordWrap, g.plainText);
        placeNotice(g, QPoint(bubblePadding, bubblePadding), message.content(), part.start);
        const int top = bubblePadding + (part.isCut() ? noticeHeight : 0);
        g.bubble = QRect(0, 0, width, top + text.height() + bubblePadding);
        g.text = QRect(bubblePadding, top, width - 2 * bubblePadding, text.height());
        g.copy = QRect(0, g.bubble.bottom() + 1 + metaSpacing + (meta - iconSize) / 2, iconSize,
                       iconSize);
        g.height = g.bubble.height() + metaSpacing + meta;
        return g;
    }
    const CachedLayout& entry = entryFor(row);
    MarkdownLayout* layout = entry.layout.get();
    const int limit = qMax(20, width - sideSpace - itemSpacing - 2 * bubblePadding);
    const int ideal = int(std::ceil(layout->idealWidth(limit)));
    // A text that nearly fills the line keeps the full width, so that a reply growing
    // line by line is not laid out at a new width with every chunk.
    const int textWidth = ideal >= limit * 0.6 ? limit : qMax(1, ideal);
    layout->setWidth(textWidth);
    const int textHeight = int(std::ceil(layout->height()));
    const int bubbleWidth = textWidth + 2 * bubblePadding;
    const int x = message.type() == ChatMessageType::user ? width - bubbleWidth : 0;
    placeNotice(g, QPoint(x + bubblePadding, bubblePadding), entry.content, entry.shown.start);
    const int top = bubblePadding + (entry.shown.isCut() ? noticeHeight : 0);
    g.bubble = QRect(x, 0, bubbleWidth, top + textHeight + bubblePadding);
    g.text = QRect(x + bubblePadding, top, textWidth, textHeight);
    const int metaTop = g.bubble.bottom() + 1 + metaSpacing;
    const int iconTop = metaTop + (meta - iconSize) / 2;
    // The time's width is taken when it is painted (the text changes at midnight): only
    // the edge it keeps to the copy button is fixed here.
    if (message.type() == ChatMessageType::user) {
        g.copy = QRect(width - iconSize, iconTop, iconSize, iconSize);
        g.time = QRect(g.copy.left() - itemSpacing, metaTop, 0, meta);
    } else {
        g.copy = QRect(0, iconTop, iconSize, iconSize);
        g.time = QRect(g.copy.right() + 1 + itemSpacing, metaTop, 0, meta);
    }
    g.height = g.bubble.height() + metaSpacing + meta;
    return g;
}

void TranscriptView::measure(int row) {
    Row& info = rows_[size_t(row)];
    info.geometry = computeGeometry(row);
    if (info.height != info.geometry.height) offsetsDirty_ = true;
    info.height = info.geometry.height;
    info.exact = true;
    if (!isStatusRow(row)) info.everLaidOut = true;
}

const TranscriptView::RowGeometry& TranscriptView::geometry(int row) {
    if (!rows_[size_t(row)].exact) measure(row);
    return rows_[size_t(row)].geometry;
}

int TranscriptView::laidOutRowCount() const {
    return int(std::count_if(rows_.begin(), rows_.begin() + messageRowCount(),
                             [](const Row& r) { return r.everLaidOut; }));
}

void TranscriptView::invalidateHeights() {
    for (Row& row : rows_) row.exact = false;
    offsetsDirty_ = true;
}

void TranscriptView::rebuildOffsets() {
    if (!offsetsDirty_ && offsets_.size() == rows_.size() + 1) return;
    offsets_.resize(rows_.size() + 1);
    qreal y = padding;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!rows_[i].exact && rows_[i].height <= 0) rows_[i].height = estimateHeight(int(i));
        offsets_[i] = y;
        y += rows_[i].height + rowSpacing;
    }
    offsets_[rows_.size()] = y;
    offsetsDirty_ = false;
}

qreal TranscriptView::rowTop(int row) {
    rebuildOffsets();
    return offsets_[size_t(qBound(0, row, int(rows_.size())))];
}

qreal TranscriptView::contentHeight() {
    rebuildOffsets();
    if (rows_.empty()) return 2 * padding;
    return offsets_.back() - rowSpacing + padding;
}

int TranscriptView::rowAt(qreal y) {
    rebuildOffsets();
    if (rows_.empty()) return 0;
    const auto it = std::upper_bound(offsets_.begin(), offsets_.end() - 1, y);
    return qBound(0, int(it - offsets_.begin()) - 1, int(rows_.size()) - 1);
}

// ---- the scroll position ----------------------------------------------------------------

void TranscriptView::setTopFromAnchor() {
    if (rows_.empty()) {
        top_ = 0;
        return;
    }
    anchorRow_ = qBound(0, anchorRow_, int(rows_.size()) - 1);
    top_ = rowTop(anchorRow_) + anchorOffset_;
}

void TranscriptView::setAnchorFromTop() {
    anchorRow_ = rowAt(top_);
    anchorOffset_ = top_ - rowTop(anchorRow_);
}

void TranscriptView::settle() {
    const int visible = viewport()->height();
    lastVisibleHeight_ = visible;
    for (int round = 0; round < 4; ++round) {
        setTopFromAnchor();
        const qreal maxTop = qMax<qreal>(0, contentHeight() - visible);
        if (top_ > maxTop || top_ < 0) {
            top_ = qBound<qreal>(0, top_, maxTop);
            setAnchorFromTop();
        }
        bool measured = false;
        for (int row = rowAt(top_); row < int(rows_.size()) && rowTop(row) < top_ + visible;
             ++row) {
            if (!rows_[size_t(row)].exact) {
                measure(row);
                measured = true;
            }
        }
        if (!measured) break;
    }
    setTopFromAnchor();
    const qreal maxTop = qMax<qreal>(0, contentHeight() - visible);
    if (top_ > maxTop || top_ < 0) {
        top_ = qBound<qreal>(0, top_, maxTop);
        setAnchorFromTop();
    }
    updateScrollBar();
}

void TranscriptView::updateScrollBar() {
    updatingScrollBar_ = true;
    QScrollBar* bar = verticalScrollBar();
    const int visible = viewport()->height();
    bar->setRange(0, qMax(0, int(std::ceil(contentHeight())) - visible));
    bar->setPageStep(visible);
    bar->setValue(int(std::lround(top_)));
    updatingScrollBar_ = false;
}

void TranscriptView::scrollContentsBy(int, int) {
    if (updatingScrollBar_) return;
    // The user moved the scroll bar, turned the wheel or pressed a key.
    animation_->stop();  // the user took over
    followPending_ = false;
    top_ = verticalScrollBar()->value();
    setAnchorFromTop();
    viewport()->update();
}

void TranscriptView::setScrollPosition(qreal top) {
    top_ = top;
    setAnchorFromTop();
    settle();
    viewport()->update();
}

bool TranscriptView::isScrolling() const {
    return followPending_ || animation_->state() == QAbstractAnimation::Running;
}

void TranscriptView::scrollToLastMessage(bool animated) {
    if (messages_.isEmpty()) return;
    if (animated && isVisible()) {
        // Once the updates that came with this one are in: several updates in one turn
        // of the event loop (a flooding server) then measure and lay out the last rows
        // once, for their latest text.
        if (!std::exchange(followPending_, true))
            QMetaObject::invokeMethod(this, &TranscriptView::followLastMessage,
                                      Qt::QueuedConnection);
        return;
    }
    followPending_ = false;
    scrollToEnd(false);
}

void TranscriptView::followLastMessage() {
    if (std::exchange(followPending_, false)) scrollToEnd(true);
}

void TranscriptView::scrollToEnd(bool animated) {
    if (messages_.isEmpty()) return;
    const int target = rowCount() - 1;  // the last message, or the status line under it
    const int visible = viewport()->height();
    // Measure the rows that will be on screen at the end, from the bottom up.
    qreal covered = 0;
    for (int row = target; row >= 0 && covered < visible + padding; --row) {
        if (!rows_[size_t(row)].exact) measure(row);
        covered += rows_[size_t(row)].height + rowSpacing;
    }
    const qreal bottom = rowTop(target) + rows_[size_t(target)].height + padding;
    const qreal maxTop = qMax<qreal>(0, contentHeight() - visible);
    const qreal goal = qBound<qreal>(0, bottom - visible, maxTop);
    if (!animated || std::abs(goal - top_) < 1 || !isVisible()) {
        animation_->stop();
        setScrollPosition(goal);
        return;
    }
    if (animation_->state() == QAbstractAnimation::Running) {
        // Chunks come faster than one animation lasts: move the running one's goal
        // rather than start again from rest, which would fall behind the text.
        animation_->setEndValue(goal);
        return;
    }
    animation_->setStartValue(top_);
    animation_->setEndValue(goal);
    animation_->start();
}

// ---- content ----------------------------------------------------------------------------

void TranscriptView::openTranscript(const MessageList& messages) {
    messages_ = messages;
    animation_->stop();
    resetRows();
    // A transcript opens at its end, where the conversation stands.
    if (!messages_.isEmpty()) scrollToLastMessage(false);
    viewport()->update();
}

void TranscriptView::resetRows() {
    rows_.assign(size_t(rowCount()), Row{});
    offsetsDirty_ = true;
    anchorRow_ = 0;
    anchorOffset_ = 0;
    top_ = 0;
}

void TranscriptView::setMessages(const MessageList& messages) {
    const MessageList old = messages_;
    const qsizetype oldCount = old.size();
    const qsizetype newCount = messages.size();
    qsizetype same = old.sharedPrefixSize(messages);
    while (same < oldCount && same < newCount && old.at(same) == messages.at(same)) ++same;
    messages_ = messages;

    if (same == oldCount && same == newCount) return;
    if (oldCount == 0) {
        openTranscript(messages);
        return;
    }
    // The same transcript, grown or changed near its end: keep the rows before the change
    // and the position.
    std::optional<Row> statusRow;
    if (status_) statusRow = rows_.back();
    rows_.resize(size_t(oldCount));
    rows_.resize(size_t(newCount));
    bool growingFast = false;
    for (qsizetype i = same; i < newCount; ++i) {
        Row& row = rows_[size_t(i)];
        row.exact = false;  // old height stays as estimate
        // A message that grew fast counts as growing fast for as long as it grows at all,
        // so that a flood going a little slower for a moment does not lay out its whole
        // part.
        const qsizetype growth = i < oldCount && old.at(i).id() == messages.at(i).id()
                                     ? messages.at(i).content().size() - old.at(i).content().size()
                                     : 0;
        row.growingFast = growth > fastGrowth || (row.growingFast && growth > 0);
        growingFast = growingFast || row.growingFast;
    }
    if (growingFast) growthEnd_->start();
    if (statusRow) rows_.push_back(*statusRow);
    offsetsDirty_ = true;
    viewport()->update();
}

void TranscriptView::setStatusMessage(const std::optional<QString>& text) {
    if (text == status_) return;
    const bool had = status_.has_value();
    status_ = text;
    if (had) rows_.pop_back();
    if (status_) rows_.push_back(Row{});
    offsetsDirty_ = true;
    viewport()->update();
}

void TranscriptView::updateStyle() {
    updateMetrics();
    for (const auto& entry : std::as_const(layouts_)) entry->layout->setStyle(style_);
    invalidateHeights();
    viewport()->update();
}

void TranscriptView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange)
        updateStyle();
}

void TranscriptView::resizeEvent(QResizeEvent* event) {
    // A view that showed the end keeps showing it when it gets shorter or narrower (the
    // banner appears, the window is resized).
    const bool atEnd = !rows_.empty() && lastVisibleHeight_ > 0 &&
                       top_ >= contentHeight() - lastVisibleHeight_ - 1;
    QAbstractScrollArea::resizeEvent(event);
    if (viewport()->width() != lastWidth_) {
        lastWidth_ = viewport()->width();
        for (Row& row : rows_) {
            row.exact = false;
            row.height = 0;  // estimated again for the new width
        }
        offsetsDirty_ = true;
    }
    settle();
    if (atEnd) scrollToLastMessage(false);
}

// ---- painting -----------------------------------------------------------------------------

QRect TranscriptView::rowRect(int row) {
    if (row < 0 || row >= rowCount()) return {};
    settle();
    const int top = int(std::lround(rowTop(row) - top_));
    return QRect(padding, top, contentWidth(), rows_[size_t(row)].height);
}

QRect TranscriptView::bubbleRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row)) return {};
    return geometry(row).bubble.translated(r.topLeft());
}

QRect TranscriptView::copyButtonRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row)) return {};
    return geometry(row).copy.translated(r.topLeft());
}

QString TranscriptView::laidOutText(int row) {
    if (row < 0 || row >= messageRowCount()) return {};
    if (messages_.at(row).type() == ChatMessageType::error) return geometry(row).plainText;
    return entryFor(row).laidOut;
}

QString TranscriptView::cutNoticeText(int row) {
    if (row < 0 || row >= messageRowCount()) return {};
    return geometry(row).noticeText;
}

QRect TranscriptView::showAllRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row) || geometry(row).showAll.isNull()) return {};
    return geometry(row).showAll.translated(r.topLeft());
}

WholeMessageWindow* TranscriptView::showWholeMessage(int row) {
    if (row < 0 || row >= messageRowCount()) return nullptr;
    auto* window = new WholeMessageWindow(messages_.at(row).content(), this);
    window->show();
    return window;
}

void TranscriptView::paintEvent(QPaintEvent* event) {
    settle();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect exposed = event->rect();
    const QPalette& pal = palette();
    const QColor secondary = secondaryTextColor(pal);
    const QFontMetrics captionMetrics(captionFont_);
    const QDateTime now = QDateTime::currentDateTime();
    const int visible = viewport()->height();

    for (int row = rowAt(top_); row < int(rows_.size()) && rowTop(row) < top_ + visible; ++row) {
        const QPoint origin(padding, int(std::lround(rowTop(row) - top_)));
        const RowGeometry& g = geometry(row);
        if (!exposed.intersects(QRect(origin, QSize(contentWidth(), g.height)))) continue;
        painter.save();
        painter.translate(origin);
        if (isStatusRow(row)) {
            painter.setFont(captionFont_);
            painter.setPen(secondary);
            painter.drawText(g.text, Qt::TextWordWrap, *status_);
            painter.restore();
            continue;
        }
        const ChatMessage& message = messages_.at(row);
        if (message.type() == ChatMessageType::error) {
            painter.setPen(pal.color(QPalette::WindowText));
            painter.setFont(font());
            painter.drawText(g.text, Qt::TextWordWrap, g.plainText);
        } else {
            QPainterPath bubble;
            bubble.addRoundedRect(QRectF(g.bubble), bubbleRadius, bubbleRadius);
            painter.fillPath(bubble, bubbleColor(message.type(), pal));
            const QRectF textExposed = QRectF(exposed).translated(-origin);
            layoutFor(row)->paint(&painter, g.text.topLeft(), textExposed);
            // The text is measured now: a row laid out yesterday shows its date today.
            const QString time = timestampText(message.timestamp(), now);
            const int timeWidth = captionMetrics.horizontalAdvance(time) + 2;
            QRect timeRect = g.time;
            if (message.type() == ChatMessageType::user)
                timeRect.moveLeft(g.time.left() - timeWidth);
            timeRect.setWidth(timeWidth);
            painter.setFont(captionFont_);
            painter.setPen(secondary);
            painter.drawText(timeRect, Qt::AlignVCenter | Qt::AlignLeft, time);
        }
        if (g.notice.isValid()) {
            painter.setFont(captionFont_);
            painter.setPen(secondary);
            painter.drawText(g.notice, Qt::AlignLeft | Qt::AlignVCenter, g.noticeText);
            QFont link = captionFont_;
            link.setUnderline(true);
            painter.setFont(link);
            painter.setPen(pal.color(QPalette::Link));
            painter.drawText(g.showAll, Qt::AlignLeft | Qt::AlignVCenter, tr("Show all"));
        }
        copyIcon().paint(&painter, g.copy, Qt::AlignCenter,
                         pressedCopyRow_ == row ? QIcon::Active : QIcon::Normal);
        painter.restore();
    }
}

// ---- mouse --------------------------------------------------------------------------------

int TranscriptView::rowAtPoint(const QPoint& pos, QPoint* inRow) {
    settle();
    if (rows_.empty()) return -1;
    const qreal y = top_ + pos.y();
    const int row = rowAt(y);
    const qreal top = rowTop(row);
    if (y < top || y >= top + rows_[size_t(row)].height) return -1;
    if (inRow) *inRow = QPoint(pos.x() - padding, int(y - top));
    return row;
}

void TranscriptView::mouseMoveEvent(QMouseEvent* event) {
    QPoint at;
    const int row = rowAtPoint(event->position().toPoint(), &at);
    bool pointing = false;
    if (row >= 0 && !isStatusRow(row)) {
        const RowGeometry& g = geometry(row);
        if (g.copy.contains(at) || g.showAll.contains(at)) {
            pointing = true;
        } else if (g.text.contains(at) && messages_.at(row).type() != ChatMessageType::error) {
            pointing = !layoutFor(row)->linkAt(at - g.text.topLeft()).isEmpty();
        }
    }
    viewport()->setCursor(pointing ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TranscriptView::mousePressEvent(QMouseEvent* event) {
    pressedLink_.clear();
    pressedCopyRow_ = -1;
    pressedShowAllRow_ = -1;
    QPoint at;
    const int row =
        event->button() == Qt::LeftButton ? rowAtPoint(event->position().toPoint(), &at) : -1;
    if (row >= 0 && !isStatusRow(row)) {
        const RowGeometry& g = geometry(row);
        if (g.copy.contains(at)) {
            pressedCopyRow_ = row;
            viewport()->update();
        } else if (g.showAll.contains(at)) {
            pressedShowAllRow_ = row;
        } else if (g.text.contains(at) && messages_.at(row).type() != ChatMessageType::error) {
            pressedLink_ = layoutFor(row)->linkAt(at - g.text.topLeft());
        }
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TranscriptView::mouseReleaseEvent(QMouseEvent* event) {
    QPoint at;
    const int row =
        event->button() == Qt::LeftButton ? rowAtPoint(event->position().toPoint(), &at) : -1;
    if (row >= 0 && !isStatusRow(row)) {
        const RowGeometry& g = geometry(row);
        if (pressedCopyRow_ == row && g.copy.contains(at)) {
            const QString content = messages_.at(row).content();
            QClipboard* clipboard = QGuiApplication::clipboard();
            clipboard->clear();
            clipboard->setText(content);
            emit copied(content);
        } else if (pressedShowAllRow_ == row && g.showAll.contains(at)) {
            showWholeMessage(row);
        } else if (!pressedLink_.isEmpty() && g.text.contains(at) &&
                   layoutFor(row)->linkAt(at - g.text.topLeft()) == pressedLink_) {
            const QUrl url(pressedLink_);
            if (url.isValid() && urlOpener_) urlOpener_(url);
        }
    }
    if (pressedCopyRow_ >= 0) viewport()->update();
    pressedCopyRow_ = -1;
    pressedShowAllRow_ = -1;
    pressedLink_.clear();
    QAbstractScrollArea::mouseReleaseEvent(event);
}

bool TranscriptView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QPoint at;
        const int row = rowAtPoint(help->pos(), &at);
        if (row >= 0 && !isStatusRow(row) && geometry(row).copy.contains(at)) {
            QToolTip::showText(help->globalPos(), tr("Copy message"), viewport());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace parlote

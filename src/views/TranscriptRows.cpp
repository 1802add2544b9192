// TranscriptView: its rows, how each is measured and laid out, and where each begins.
// A row's height is an estimate until the row is measured; offsets_ holds the top of
// every row, rebuilt when a height changed.

#include <QTimer>
#include <algorithm>
#include <cmath>

#include "LongMessage.h"
#include "MarkdownLayout.h"
#include "TranscriptLayoutCache.h"
#include "TranscriptSelection.h"
#include "TranscriptView.h"
#include "ViewFonts.h"

namespace parlote {

int TranscriptView::rowCount() const {
    return messageRowCount() + (status_ ? 1 : 0);
}

int TranscriptView::contentWidth() const {
    return qMax(60, viewport()->width() - 2 * padding);
}

void TranscriptView::updateMetrics() {
    style_ = MarkdownStyle::from(font(), palette());
    captionFont_ = views::captionFont(font());
    // The reasoning: smaller and muted, so that it reads as an aside to the answer.
    thinkingStyle_ = MarkdownStyle::from(captionFont_, palette());
    thinkingStyle_.text = secondaryTextColor(palette());
    thinkingStyle_.secondary =
        mixColors(palette().color(QPalette::Window), thinkingStyle_.text, 0.7);
    thinkingLineSpacing_ = QFontMetrics(captionFont_).lineSpacing();
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
    const ChatMessage& message = messages_.at(row);
    // A user's pictures: one line of thumbnails over the text, as most have.
    const int pictures = message.type() == ChatMessageType::user && !message.images().isEmpty()
                             ? pictureSide + int(style_.blockSpacing)
                             : 0;
    return int(text) + pictures + 2 * bubblePadding + metaSpacing + metaHeight_;
}

MarkdownLayout* TranscriptView::layoutFor(int row) {
    return entryFor(row).layout.get();
}

CachedLayout& TranscriptView::entryFor(int row) {
    const ChatMessage& message = messages_.at(row);
    const qsizetype limit = shownLimit(row);
    const CachedLayout* before = layouts_->find(message.id());
    const qsizetype shownStart = before ? before->shown.start : 0;
    if (CachedLayout* entry = layouts_->update(message.id(), message.content(), limit)) {
        if (entry->shown.start != shownStart && selection_) selection_->textMoved(message.id());
        return *entry;
    }
    // A user's message keeps its line breaks as typed; a reply is Markdown through and
    // through.
    CachedLayout& fresh = layouts_->add(message.id(), message.content(), limit,
                                        message.type() == ChatMessageType::user);
    watchImages(fresh.layout.get(), message.id());
    if (rows_[size_t(row)].exact) fresh.layout->setWidth(rows_[size_t(row)].geometry.text.width());
    return fresh;
}

void TranscriptView::watchImages(MarkdownLayout* layout, const QUuid& id) {
    // An image that arrives or fails changes the row's height.
    connect(layout, &MarkdownLayout::changed, this, [this, id] {
        if (const auto at = messages_.lastIndexOf(id)) {
            rows_[size_t(*at)].exact = false;
            offsetsDirty_ = true;
            scrollToLastMessage(true);  // only while following
            viewport()->update();
        }
    });
}

TranscriptView::Thinking TranscriptView::thinkingState(int row, const CachedLayout& entry) const {
    const ChatMessage& message = messages_.at(row);
    if (message.type() != ChatMessageType::assistant || !entry.think.hasThinkBlock)
        return Thinking::none;
    // A reply stopped while the model thought is over: its reasoning shows as finished.
    const bool finished = entry.think.closed || message.stopped();
    if (!finished) return Thinking::live;
    if (entry.think.isBlank(entry.content)) return Thinking::none;
    return expandedThinking_.contains(message.id()) ? Thinking::expanded : Thinking::collapsed;
}

MarkdownLayout* TranscriptView::thinkingLayoutFor(int row, Thinking state) {
    if (state != Thinking::live && state != Thinking::expanded) return nullptr;
    CachedLayout& entry = entryFor(row);
    bool made = false;
    MarkdownLayout* layout =
        layouts_->reasoningLayout(entry, state == Thinking::expanded, liveThinkingLength, &made);
    if (made) watchImages(layout, messages_.at(row).id());
    return layout;
}

QString TranscriptView::thinkingTitleFor(const ChatMessage& message, Thinking state) {
    if (state == Thinking::live) return tr("Thinking…");
    const std::optional<double> seconds = message.thinkingSeconds();
    if (!seconds) return tr("Thoughts");
    const qint64 whole = qMax<qint64>(1, std::llround(*seconds));
    return whole == 1 ? tr("Thought for 1 second") : tr("Thought for %1 seconds").arg(whole);
}

int TranscriptView::placeThinking(RowGeometry& g, int row, int x, int y, int textWidth) {
    const int titleHeight = qMax(lineSpacing_, iconSize);
    const int arrow = g.thinking == Thinking::live ? 0 : iconSize;
    const int titleWidth = arrow + fontMetrics().horizontalAdvance(g.thinkingTitleText) + 2;
    g.thinkingTitle = QRect(x, y, qMin(textWidth, titleWidth), titleHeight);
    y += titleHeight;
    if (MarkdownLayout* reasoning = thinkingLayoutFor(row, g.thinking)) {
        reasoning->setWidth(qMax(1, textWidth - thinkingIndent));
        int height = int(std::ceil(reasoning->height()));
        // While the model thinks only its last lines show, so the row does not grow with
        // every line of it.
        if (g.thinking == Thinking::live)
            height = qMin(height, liveThinkingLines * thinkingLineSpacing_);
        if (height > 0) {
            y += metaSpacing;
            g.thinkingText = QRect(x + thinkingIndent, y, textWidth - thinkingIndent, height);
            y += height;
        }
    }
    return y;
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
    const CachedLayout* entry = layouts_->find(messages_.at(row).id());
    return entry ? entry->layout->blockLayoutCount() : 0;
}

quint64 TranscriptView::thinkingLayoutCount(int row) const {
    if (row < 0 || row >= messageRowCount()) return 0;
    const CachedLayout* entry = layouts_->find(messages_.at(row).id());
    return entry && entry->reasoning.layout ? entry->reasoning.layout->blockLayoutCount() : 0;
}

void TranscriptView::endFastGrowth() {
    std::vector<int> ended;
    for (int row = 0; row < messageRowCount(); ++row)
        if (std::exchange(rows_[size_t(row)].growingFast, false)) ended.push_back(row);
    if (ended.empty()) return;
    // A view following the end keeps showing it; else the text in view stays in place.
    const bool atEnd = following_;
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
    if (editor_ && message.id() == editingId_) return editorGeometry();
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
        g.metaTop = g.bubble.bottom() + 1 + metaSpacing;
        g.height = g.bubble.height() + metaSpacing + meta;
        return g;
    }
    const CachedLayout& entry = entryFor(row);
    MarkdownLayout* layout = entry.layout.get();
    const int limit = qMax(20, width - sideSpace - itemSpacing - 2 * bubblePadding);
    g.thinking = thinkingState(row, entry);
    if (g.thinking != Thinking::none) g.thinkingTitleText = thinkingTitleFor(message, g.thinking);
    const bool hasAnswer = !entry.laidOut.isEmpty();
    int textWidth = limit;
    if (g.thinking == Thinking::none || g.thinking == Thinking::collapsed) {
        // A text that nearly fills the line keeps the full width, so that a reply growing
        // line by line is not laid out at a new width with every chunk.
        const int ideal = hasAnswer ? int(std::ceil(layout->idealWidth(limit))) : 0;
        textWidth = ideal >= limit * 0.6 ? limit : qMax(1, ideal);
        if (g.thinking == Thinking::collapsed) {
            const int title = iconSize + fontMetrics().horizontalAdvance(g.thinkingTitleText) + 2;
            textWidth = qMin(limit, qMax(textWidth, title));
        }
    }
    layout->setWidth(textWidth);
    const int textHeight = hasAnswer ? int(std::ceil(layout->height())) : 0;
    // A user's pictures: thumbnails in lines over the text, as many to a line as fit.
    const qsizetype pictureCount =
        message.type() == ChatMessageType::user ? message.images().size() : 0;
    const int side = qMin(pictureSide, limit);
    const int step = side + itemSpacing;
    const int perLine = qMax(1, (limit + itemSpacing) / step);
    const int picturesWidth =
        pictureCount > 0 ? int(qMin<qsizetype>(perLine, pictureCount)) * step - itemSpacing : 0;
    const int bubbleWidth = qMax(textWidth, picturesWidth) + 2 * bubblePadding;
    const int x = message.type() == ChatMessageType::user ? width - bubbleWidth : 0;
    int y = bubblePadding;
    if (pictureCount > 0) {
        for (qsizetype i = 0; i < pictureCount; ++i)
            g.pictures.emplace_back(x + bubblePadding + int(i % perLine) * step,
                                    y + int(i / perLine) * step, side, side);
        y = g.pictures.back().bottom() + 1 + (hasAnswer ? int(style_.blockSpacing) : 0);
    }
    if (g.thinking != Thinking::none) {
        y = placeThinking(g, row, x + bubblePadding, y, textWidth);
        if (hasAnswer || entry.shown.isCut()) y += int(style_.blockSpacing);
    }
    placeNotice(g, QPoint(x + bubblePadding, y), entry.body, entry.shown.start);
    if (entry.shown.isCut()) y += noticeHeight;
    g.text = QRect(x + bubblePadding, y, textWidth, textHeight);
    g.bubble = QRect(x, 0, bubbleWidth, y + textHeight + bubblePadding);
    g.metaTop = g.bubble.bottom() + 1 + metaSpacing;
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

}  // namespace parlote

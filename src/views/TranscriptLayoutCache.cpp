#include "TranscriptLayoutCache.h"

#include "MarkdownLayout.h"
#include "MarkdownStyle.h"

namespace parlote {

namespace {

// Whether two texts are equal, at once when they share their characters (a message handed
// over again unchanged).
bool sameText(const QString& a, const QString& b) {
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}

// Whether `text` begins with `start` (a reply that grew).
bool grewFrom(const QString& text, const QString& start) {
    return text.size() >= start.size() &&
           (text.constData() == start.constData() || QStringView(text).startsWith(start));
}

}  // namespace

void CachedLayout::setContent(const QString& text, qsizetype shownLimit) {
    // A reply still thinking grows inside its block: search on for "</think>" from where
    // the shorter text ended rather than through all of its reasoning again.
    const qsizetype searchFrom = think.hasThinkBlock && !think.closed && grewFrom(text, content)
                                     ? thinkSearchResume(think, content)
                                     : 0;
    content = text;
    limit = shownLimit;
    think = splitThinking(text, searchFrom);
    body = think.hasThinkBlock ? think.answer(text).toString() : text;
    shown = shownPart(body, true, limit, &fences);
    laidOut = shownText(body, shown);
    layout->setMarkdown(laidOut);
}

TranscriptLayoutCache::TranscriptLayoutCache(ImageStore* images, int capacity,
                                             EvictedFunction evicted)
    : images_(images), capacity_(capacity), evicted_(std::move(evicted)) {}

TranscriptLayoutCache::~TranscriptLayoutCache() = default;

CachedLayout* TranscriptLayoutCache::find(const QUuid& id) const {
    return entries_.value(id).get();
}

CachedLayout* TranscriptLayoutCache::update(const QUuid& id, const QString& content,
                                            qsizetype limit) {
    CachedLayout* entry = find(id);
    if (!entry) return nullptr;
    if (entry->limit != limit || !sameText(entry->content, content))
        entry->setContent(content, limit);
    entry->lastUse = ++useCounter_;
    return entry;
}

CachedLayout& TranscriptLayoutCache::add(const QUuid& id, const QString& content, qsizetype limit,
                                         bool hardBreaks) {
    if (entries_.size() >= capacity_) evictOldest();
    std::shared_ptr<CachedLayout>& fresh = entries_[id];
    fresh = std::make_shared<CachedLayout>();
    fresh->layout = std::make_unique<MarkdownLayout>(images_);
    fresh->layout->setStyle(style_);
    fresh->layout->setHardBreaks(hardBreaks);
    fresh->setContent(content, limit);
    fresh->lastUse = ++useCounter_;
    return *fresh;
}

MarkdownLayout* TranscriptLayoutCache::reasoningLayout(CachedLayout& entry, bool whole,
                                                       qsizetype liveLength, bool* made) {
    if (made) *made = false;
    const QStringView reasoning = entry.think.thinking(entry.content);
    const qsizetype limit = whole ? limits::kMaxShownMessageLength : liveLength;
    // Only the end of a long reasoning is read, from a point that moves in the steps the
    // shown part's cut moves in: the cut falls where it would in the whole text, and the
    // text read is never longer than twice the limit, however long the reasoning grows.
    const qsizetype step = qMax<qsizetype>(1, limit / 4);
    const qsizetype from =
        reasoning.size() > 2 * limit ? (reasoning.size() - 2 * limit) / step * step : 0;
    const QStringView source = reasoning.mid(from);
    CachedLayout::Reasoning& r = entry.reasoning;
    if (r.layout && r.whole == whole && r.from == from && QStringView(r.source) == source)
        return r.layout.get();
    if (!r.layout) {
        r.layout = std::make_unique<MarkdownLayout>(images_);
        r.layout->setStyle(reasoningStyle_);
        if (made) *made = true;
    }
    r.whole = whole;
    r.from = from;
    r.source = source.toString();
    const ShownPart part = shownPart(r.source, true, limit, &r.fences);
    r.laidOut = shownText(r.source, part);
    if (whole && from + part.start > 0) {
        // A reasoning too long to lay out whole shows its last part, under a notice (the
        // message's whole text is a click away in its copy).
        const qsizetype shown = reasoning.size() - from - part.start;
        r.laidOut = QLatin1Char('*') + cutNotice(shown, reasoning.size()) +
                    QStringLiteral("*\n\n") + r.laidOut;
    }
    r.layout->setMarkdown(r.laidOut);
    return r.layout.get();
}

void TranscriptLayoutCache::evictOldest() {
    // The rows on screen were just used: the layout used longest ago is off screen.
    auto oldest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it.value() &&
            (oldest == entries_.end() || it.value()->lastUse < oldest.value()->lastUse))
            oldest = it;
    }
    if (oldest == entries_.end()) return;
    const QUuid id = oldest.key();
    entries_.erase(oldest);
    if (evicted_) evicted_(id);
}

void TranscriptLayoutCache::setStyles(const MarkdownStyle& style, const MarkdownStyle& reasoning) {
    style_ = style;
    reasoningStyle_ = reasoning;
    for (const auto& entry : std::as_const(entries_)) {
        entry->layout->setStyle(style);
        if (entry->reasoning.layout) entry->reasoning.layout->setStyle(reasoning);
    }
}

}  // namespace parlote

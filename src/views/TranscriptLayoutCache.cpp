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

}  // namespace

void CachedLayout::setContent(const QString& text, qsizetype shownLimit) {
    content = text;
    limit = shownLimit;
    shown = shownPart(text, true, limit, &fences);
    laidOut = shownText(text, shown);
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

CachedLayout& TranscriptLayoutCache::add(const QUuid& id, const MarkdownStyle& style,
                                         const QString& content, qsizetype limit) {
    if (entries_.size() >= capacity_) evictOldest();
    std::shared_ptr<CachedLayout>& fresh = entries_[id];
    fresh = std::make_shared<CachedLayout>();
    fresh->layout = std::make_unique<MarkdownLayout>(images_);
    fresh->layout->setStyle(style);
    fresh->setContent(content, limit);
    fresh->lastUse = ++useCounter_;
    return *fresh;
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

void TranscriptLayoutCache::setStyle(const MarkdownStyle& style) {
    for (const auto& entry : std::as_const(entries_)) entry->layout->setStyle(style);
}

}  // namespace parlote

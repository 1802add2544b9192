#pragma once

// The laid-out Markdown of the transcript's messages, by message id. Laying out a message
// is the costly part of showing it, so the layouts of rows that left the view are kept, up
// to a number of them; making one more lets go of the one used longest ago, and the owner
// is told which, so that its row is laid out again when it is next needed.
//
// Interface thread only.

#include <QHash>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>

#include "LongMessage.h"

namespace parlote {

class ImageStore;
class MarkdownLayout;
struct MarkdownStyle;

/// The laid-out Markdown of one message and what part of its text that is.
struct CachedLayout {
    std::unique_ptr<MarkdownLayout> layout;
    QString content;
    qsizetype limit = 0;  // the most of `content` shown
    ShownPart shown;      // of `content`
    QString laidOut;      // what `layout` holds
    FenceTracker fences;  // of `content`, kept as it grows
    quint64 lastUse = 0;

    /// Lays out the part of `text` that at most `shownLimit` characters show.
    void setContent(const QString& text, qsizetype shownLimit);
};

class TranscriptLayoutCache {
public:
    /// Told the id of a layout let go to make room for another.
    using EvictedFunction = std::function<void(const QUuid& id)>;

    /// Keeps at most `capacity` layouts, whose images come from `images`.
    TranscriptLayoutCache(ImageStore* images, int capacity, EvictedFunction evicted);
    ~TranscriptLayoutCache();

    /// The layout of `id`, or null; looking does not count as a use.
    CachedLayout* find(const QUuid& id) const;
    /// The layout of `id` brought up to `content` shown within `limit` (laid out again only
    /// when either differs), counted as used now; null when there is none.
    CachedLayout* update(const QUuid& id, const QString& content, qsizetype limit);
    /// A new layout for `id` in `style` of `content` shown within `limit`, counted as used
    /// now. When the cache is full, the layout used longest ago is let go first.
    CachedLayout& add(const QUuid& id, const MarkdownStyle& style, const QString& content,
                      qsizetype limit);
    /// Gives every layout `style`.
    void setStyle(const MarkdownStyle& style);

private:
    void evictOldest();

    ImageStore* images_;
    int capacity_;
    EvictedFunction evicted_;
    QHash<QUuid, std::shared_ptr<CachedLayout>> entries_;
    quint64 useCounter_ = 0;
};

}  // namespace parlote

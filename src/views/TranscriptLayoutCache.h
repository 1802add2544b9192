#pragma once

// The laid-out Markdown of the transcript's messages, by message id. Laying out a message
// is the costly part of showing it, so the layouts of rows that left the view are kept, up
// to a number of them; making one more lets go of the one used longest ago, and the owner
// is told which, so that its row is laid out again when it is next needed.
//
// A reply that begins with a think block keeps where the block and its answer lie (found
// again only when the text changes, and then searched on from where the shorter text
// ended), lays out only the answer as its Markdown, and has a second layout for its
// reasoning, made only while the reasoning is shown: its last lines while the model
// thinks, all of it when the user expands it. Once the reasoning is finished its layout
// is left alone while the answer grows.
//
// Interface thread only.

#include <QHash>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>

#include "LongMessage.h"
#include "MarkdownStyle.h"
#include "ThinkBlock.h"

namespace parlote {

class ImageStore;
class MarkdownLayout;

/// The laid-out Markdown of one message and what part of its text that is.
struct CachedLayout {
    std::unique_ptr<MarkdownLayout> layout;  // the answer (the whole text without a block)
    QString content;                         // the message's text
    ThinkSplit think;                        // of `content`
    QString body;         // the answer: `content` itself when it has no think block
    qsizetype limit = 0;  // the most of `body` shown
    ShownPart shown;      // of `body`
    QString laidOut;      // what `layout` holds
    FenceTracker fences;  // of `body`, kept as it grows
    quint64 lastUse = 0;

    /// The reasoning's layout, while it is shown.
    struct Reasoning {
        std::unique_ptr<MarkdownLayout> layout;
        bool whole = false;   // all of it (else its last part)
        qsizetype from = -1;  // where `source` begins in the reasoning
        QString source;       // the reasoning from `from` on, as laid out
        QString laidOut;      // what `layout` holds
        FenceTracker fences;  // of `source`
    } reasoning;

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
    /// A new layout for `id` of `content` shown within `limit`, counted as used now. When
    /// the cache is full, the layout used longest ago is let go first. `hardBreaks` keeps
    /// the text's single line breaks as line breaks (a user's message, shown as typed).
    CachedLayout& add(const QUuid& id, const QString& content, qsizetype limit,
                      bool hardBreaks = false);
    /// The layout of the reasoning of `entry`: all of it (`whole`, within the length limit,
    /// under a notice when cut) or the paragraphs holding its last `liveLength` characters.
    /// Laid out again only when that text changed. `made` is set when the layout is new.
    MarkdownLayout* reasoningLayout(CachedLayout& entry, bool whole, qsizetype liveLength,
                                    bool* made = nullptr);
    /// Gives every layout its style: `style` for messages, `reasoning` for reasoning.
    void setStyles(const MarkdownStyle& style, const MarkdownStyle& reasoning);

private:
    void evictOldest();

    ImageStore* images_;
    int capacity_;
    EvictedFunction evicted_;
    MarkdownStyle style_;
    MarkdownStyle reasoningStyle_;
    QHash<QUuid, std::shared_ptr<CachedLayout>> entries_;
    quint64 useCounter_ = 0;
};

}  // namespace parlote

#pragma once

// The transcript of the open conversation: one row per message (a Markdown bubble for
// the user's and the model's messages, plain text for an error) with a line holding the
// time and a copy button, and the status line after the last row.
//
// The view is lazy: a row's Markdown is parsed and laid out only when the row comes into
// view. Rows never seen have an estimated height (from the length of their text) that is
// replaced by the real one once they are laid out, so a conversation of ten thousand
// messages opens at once. The scroll position is kept as a row and an offset into it,
// so rows changing height above or below the visible part never move what is shown.
//
// A message longer than `limits::kMaxShownMessageLength` shows only its last part (see
// LongMessage.h) under a one-line notice whose "Show all" opens the whole text in a
// window of its own; its copy button still copies the whole text. So no message, stored
// or streaming, takes longer than a frame or two to lay out.
//
// A reply past that limit that grows faster than anyone reads (a server flooding the
// window) shows a shorter last part while it grows, enough to fill the visible area, and
// its whole last part once it has not grown for `streamEndDelay`. Following the end
// (scrollToLastMessage(true)) is done once per turn of the event loop, however many
// updates came in that turn, so a row is laid out at most once per turn, for its latest
// text.
//
// The class is written in four files: TranscriptView.cpp (the content, painting and the
// mouse), TranscriptRows.cpp (measuring rows and where each begins), TranscriptScrolling.cpp
// (the scroll position) and TranscriptLayoutCache.cpp (the laid-out Markdown kept per
// message).
//
// Interface thread only.

#include <QAbstractScrollArea>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "MarkdownLinks.h"
#include "MarkdownStyle.h"
#include "MessageList.h"

class QPropertyAnimation;
class QTimer;
class QUrl;

namespace parlote {

struct CachedLayout;
class ImageStore;
class MarkdownLayout;
class TranscriptLayoutCache;
class WholeMessageWindow;

class TranscriptView : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(qreal scrollPosition READ scrollPosition WRITE setScrollPosition)
public:
    static constexpr int padding = 12;        // around all rows
    static constexpr int rowSpacing = 12;     // between rows
    static constexpr int bubblePadding = 10;  // around the text of a bubble
    static constexpr int sideSpace = 32;      // kept free beside a bubble
    static constexpr int metaSpacing = 4;     // between a bubble and its meta line
    static constexpr int iconSize = 16;
    static constexpr int bubbleRadius = 8;
    /// How long a scroll to the last message takes.
    static constexpr int scrollDuration = 100;  // ms
    /// How many laid-out messages are kept for rows that left the view.
    static constexpr int layoutCacheSize = 160;
    /// A message past the length limit that grows by more than this many characters from
    /// one update to the next streams faster than anyone reads (a model's pace adds a few
    /// words per update): it shows streamingShownLength() characters for as long as it
    /// keeps growing.
    static constexpr qsizetype fastGrowth = 1000;
    /// How long such a message has not grown when it counts as finished and shows all of
    /// its last part again.
    static constexpr int streamEndDelay = 500;  // ms

    explicit TranscriptView(QWidget* parent = nullptr, ImageStore* images = nullptr);
    ~TranscriptView() override;

    /// Shows `messages`. Rows that did not change keep their layout; a transcript that
    /// only grew or changed near its end keeps the scroll position.
    /// The open transcript changed (grew, or changed near its end): rows before the change
    /// and the position are kept.
    void setMessages(const MessageList& messages);
    /// Another conversation's transcript: shown from its end.
    void openTranscript(const MessageList& messages);
    const MessageList& messages() const { return messages_; }
    /// The status line under the last row; none hides it.
    void setStatusMessage(const std::optional<QString>& text);
    const std::optional<QString>& statusMessage() const { return status_; }

    /// Scrolls the last message's bottom edge to the bottom of the visible area (or the
    /// status line's, when one is shown), over `scrollDuration` with an ease-in-ease-out
    /// curve when `animated`. Nothing moves when there are no messages. An animated
    /// scroll of a visible view starts when control returns to the event loop, measured
    /// with the transcript as it is then.
    void scrollToLastMessage(bool animated = true);

    /// The time of a message as its row shows it: only the short time for a moment of
    /// the calendar day `now` falls on, else the medium date and the short time, both in
    /// the user's locale and time zone.
    static QString timestampText(const QDateTime& time,
                                 const QDateTime& now = QDateTime::currentDateTime());

    /// How links in messages are opened; QDesktopServices::openUrl unless replaced.
    void setUrlOpener(LinkOpener opener);

    // Geometry, for tests and tools. Rectangles are in viewport coordinates.
    /// The top of the content in content coordinates (the scroll position).
    qreal scrollPosition() const { return top_; }
    void setScrollPosition(qreal top);
    /// Height of all rows, as far as known (unseen rows count with their estimate).
    qreal contentHeight();
    /// Rows include the status line as the last one when it is shown.
    int rowCount() const;
    QRect rowRect(int row);
    QRect bubbleRect(int row);
    QRect copyButtonRect(int row);
    /// Rows whose Markdown has been laid out at least once since the last reset.
    int laidOutRowCount() const;
    /// Whether a scroll animation is running or about to start.
    bool isScrolling() const;
    /// The text a row lays out: its message's, or the last part of a long one.
    QString laidOutText(int row);
    /// The notice over a message shown in part, else an empty string.
    QString cutNoticeText(int row);
    /// The "Show all" link of a message shown in part, else a null rectangle.
    QRect showAllRect(int row);
    /// How many characters a message past the limit shows while it grows fast: enough to
    /// fill the visible area even with narrow characters, in whole thousands.
    qsizetype streamingShownLength() const;
    /// How many times the Markdown of the message of `row` has been laid out since its
    /// layout was made (0 when it has none): lets tests count the work of an update.
    quint64 markdownLayoutCount(int row) const;

    /// Opens the whole text of the message of `row` in a window of its own (what "Show
    /// all" does) and returns the window; it is deleted when closed.
    WholeMessageWindow* showWholeMessage(int row);

    /// Whether a reply is streaming into this transcript: while one is, no message offers
    /// Regenerate or Edit and no version switcher acts.
    void setReplyInProgress(bool inProgress);
    /// Opens the user message `id` for editing in place (what its Edit button does).
    void beginEditing(const QUuid& id);

signals:
    /// A message's content was put on the clipboard by its copy button.
    void copied(const QString& content);
    /// The user asked for the reply `id` (the last one) again.
    void regenerateRequested(const QUuid& id);
    /// The user edited the message `id` in place and asked to send `text` instead.
    void editSubmitted(const QUuid& id, const QString& text);
    /// The user chose version `index` (from 0) of the message `id`.
    void variantRequested(const QUuid& id, int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    struct RowGeometry {
        QRect bubble;  // relative to the row's top-left corner
        QRect text;
        QRect copy;
        QRect time;
        QRect notice;  // over a message shown in part: the notice and its link
        QRect showAll;
        QString noticeText;
        QString plainText;  // what an error row shows
        int height = 0;
    };
    struct Row {
        int height = 0;      // exact when `exact`, else an estimate (0: not made yet)
        bool exact = false;  // `geometry` is that of the present content and width
        bool everLaidOut = false;
        bool growingFast = false;  // grew by more than `fastGrowth` and is still growing
        RowGeometry geometry;
    };
    /// What a point of the viewport is over: a message's copy button, its "Show all"
    /// link, its Markdown text, or none of these.
    struct Hit {
        enum class Part { nothing, copyButton, showAll, text };
        Part part = Part::nothing;
        int row = -1;   // of the message, when `part` is not `nothing`
        QPoint inText;  // for `text`: relative to the text's top-left corner
    };

    int messageRowCount() const { return int(messages_.size()); }
    bool isStatusRow(int row) const { return status_ && row == messageRowCount(); }
    int contentWidth() const;
    void updateMetrics();  // fonts, metrics and the Markdown style, from font and palette
    int estimateHeight(int row) const;
    RowGeometry computeGeometry(int row);
    /// The row's geometry, measured first if needed.
    const RowGeometry& geometry(int row);
    CachedLayout& entryFor(int row);
    /// How many characters of the message of `row` may be laid out.
    qsizetype shownLimit(int row) const;
    /// Rows that stopped growing fast show their whole last part again.
    void endFastGrowth();
    /// The animated scroll asked for by scrollToLastMessage(true).
    void followLastMessage();
    void scrollToEnd(bool animated);
    MarkdownLayout* layoutFor(int row);
    /// Places the notice at `origin` for a message shown from `shownFrom` on, or nothing.
    void placeNotice(RowGeometry& g, QPoint origin, const QString& content, qsizetype shownFrom);
    void measure(int row);
    void invalidateHeights();
    void resetRows();
    void rebuildOffsets();
    qreal rowTop(int row);  // content coordinates
    int rowAt(qreal y);     // content coordinates; clamps to the rows
    void settle();          // measures the visible rows and clamps the position
    void updateScrollBar();
    void setTopFromAnchor();
    void setAnchorFromTop();
    void updateStyle();
    /// The one place the mouse and tool tip handlers learn what is under the pointer.
    Hit hitTest(const QPoint& pos);
    /// The link under a `text` hit, or an empty string.
    QString linkAt(const Hit& hit);

    MessageList messages_;
    std::optional<QString> status_;
    std::vector<Row> rows_;
    std::vector<qreal> offsets_;  // top of each row in content coordinates, plus the end
    bool offsetsDirty_ = true;

    // The position: the row at the top of the visible area and how far into it.
    int anchorRow_ = 0;
    qreal anchorOffset_ = 0;
    qreal top_ = 0;
    bool updatingScrollBar_ = false;

    std::unique_ptr<TranscriptLayoutCache> layouts_;
    int lastWidth_ = -1;
    MarkdownStyle style_;
    QFont captionFont_;
    int charWidth_ = 0;
    int lineSpacing_ = 0;
    int captionHeight_ = 0;
    int metaHeight_ = 0;
    int lastVisibleHeight_ = 0;  // of the last settle(), to tell whether the end was shown

    QPropertyAnimation* animation_;
    bool followPending_ = false;  // followLastMessage() is queued
    QTimer* growthEnd_;           // runs endFastGrowth() once rows stop growing
    LinkOpener urlOpener_;
    QString pressedLink_;
    int pressedCopyRow_ = -1;
    int pressedShowAllRow_ = -1;
};

}  // namespace parlote

#pragma once

// The transcript of the open conversation: one row per message (a Markdown bubble for
// the user's and the model's messages, plain text for an error) with a meta line under
// it, and the status line after the last row.
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
// Thinking. A reply that begins with "<think>" (ThinkBlock.h) shows its reasoning as a
// section at the top of its bubble and lays out only the answer after "</think>" as its
// Markdown; the stored text, and what Copy copies, keep the block. While the block is
// unclosed the section reads "Thinking…" over the last `liveThinkingLines` lines of the
// reasoning, small and muted; once closed (or the reply was stopped) it folds to one line,
// "Thought for N seconds" (or "Thoughts" when the time is unknown), a toggle that shows the
// whole reasoning under it and folds it again. Which replies are unfolded is kept by id for
// as long as the view lives. The split and the reasoning's layout are kept with the
// message's layout (TranscriptLayoutCache.h): a chunk lays out only the part that grew, and
// a folded reasoning is not laid out at all.
//
// The meta line holds the copy button and the time, and, as they apply: a greyed
// "· Stopped" after the time of a reply the user stopped; Regenerate beside Copy on the
// last reply (or error) when it answers a user message; Edit on each user message; and a
// version switcher ("‹ 2/3 ›") on a message with other versions. While a reply streams
// (setReplyInProgress) Regenerate and Edit are hidden and the switcher's arrows are greyed.
// The controls are placed from the row's geometry and the present state whenever they are
// needed, so a reply starting or a message added below changes them without measuring
// anything again.
//
// Edit opens an editor (TranscriptEditor.h) over the message's bubble; its row takes the
// editor's height while it is open, it moves with the row, and it closes when the message
// leaves the transcript. Sending it emits editSubmitted(); the owner replaces the messages.
//
// The keyboard: the view takes the focus by Tab or a click. It has a current message: the
// one clicked, else the one Up and Down move to (each scrolls it fully into view, its top
// first when it is taller than the view); Home makes the first message current and goes
// there, End the last and follows the end again. While the view has the focus and no
// control is marked, a ring in the palette's Highlight colour marks the current message,
// or the first message in view when none is current. Tab and Shift+Tab mark the controls
// in view one after another (Copy, Regenerate, Edit, the switcher's arrows, the thinking
// toggle, "Show all", a reply's "Context full" link), scrolling the marked one fully into view, and
// pass the focus on past the first or last; from the current message, Tab marks its first control
// (or the next one in view after it) and Shift+Tab leaves. The marked control's message is the
// current one; a control that hides or stops acting (a reply starts) loses the mark to its message,
// so the mark never rests on a control that is not there. Space or Return acts on the marked
// control. The Menu key or Shift+F10 opens the context menu of the marked control's message (else
// of the last message in view), as a right click opens that of the message under the pointer:
// "Copy" while text is selected, "Copy Message", and "Regenerate" or "Edit" where the buttons would
// be offered, then "Select All".
//
// Selecting text (TranscriptSelection.h): a drag selects within a message or across
// messages, a double click a word, a triple click a paragraph, Shift+click extends, Ctrl+A
// selects the whole transcript; Ctrl+C (or the context menu's "Copy") copies the text as it
// reads, and the Markdown of whole messages too; a selection made goes to X11's primary
// selection. A click elsewhere or Escape clears it. It is kept by message id and place in
// the text, so it survives streaming and the layouts let go of while scrolling.
//
// Screen readers (TranscriptAccessible.h): the view is a list of its messages, each with
// its name, its text as shown and its controls' actions, made from the message without
// laying it out. The current message is the list's focused item: a Focus event names it
// whenever it changes while the view has the focus, and when the view takes the focus.
// A reply that ends (setReplyInProgress(false)) after it came or changed is announced.
//
// Finding text (TranscriptFind.h): the matches of a text looked for are highlighted, one of
// them current, found in the messages' plain text without laying them out; only the row
// of the current match is laid out to bring it into view.
//
// The class is written in nine files: TranscriptView.cpp (the content, painting and the
// mouse), TranscriptRows.cpp (measuring rows and where each begins), TranscriptScrolling.cpp
// (the scroll position), TranscriptControls.cpp (the controls, the current message, the
// keyboard and the context menu), TranscriptEditing.cpp (editing in place),
// TranscriptLayoutCache.cpp (the laid-out Markdown kept per message),
// TranscriptAccessible.cpp (what assistive technology reads), TranscriptSelection.cpp
// (selecting and copying text) and TranscriptFind.cpp (finding text).
//
// Interface thread only.

#include <QAbstractScrollArea>
#include <QDateTime>
#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "MarkdownLinks.h"
#include "MarkdownStyle.h"
#include "MessageList.h"

class QAbstractButton;
class QMenu;
class QMimeData;
class QPlainTextEdit;
class QTimer;
class QUrl;
class QVariantAnimation;

namespace parlote {

struct CachedLayout;
class ImageStore;
class JumpToEndButton;
class MarkdownLayout;
class TranscriptAccessible;
class TranscriptAccessibleItems;
class TranscriptAnnouncementAccessible;
class TranscriptEditor;
class TranscriptFind;
class TranscriptLayoutCache;
class TranscriptMessageAccessible;
class TranscriptSelection;
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
    static constexpr int itemSpacing = 6;     // between the pieces of a meta line
    static constexpr int iconSize = 16;
    static constexpr int pictureSide = 96;  // a picture's thumbnail in a user's bubble
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
    /// How many lines of a model's reasoning show under "Thinking…" while it thinks.
    static constexpr int liveThinkingLines = 5;
    /// How many of the last characters of the reasoning are laid out for those lines.
    static constexpr qsizetype liveThinkingLength = 2000;
    /// How far the reasoning is indented under its title (a bar runs down its left side).
    static constexpr int thinkingIndent = 10;

    /// What can be clicked, or reached with Tab, in a row.
    enum class Control {
        copy,             // the copy button of the meta line
        regenerate,       // the last reply's Regenerate button
        edit,             // a user message's Edit button
        previousVersion,  // the arrows of the version switcher
        nextVersion,
        thinkingToggle,   // the "Thought for …" line of a finished think block
        showAll,          // the "Show all" link of a message shown in part
        copyCode,         // the Copy button in a code block's header (`index`: which block)
        contextSettings,  // a reply's "Context full" link: the conversation's settings
        picture,          // a picture's thumbnail in a user's bubble (`index`: which one)
    };

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

    /// While the view follows the end (isFollowing()), scrolls the last message's bottom
    /// edge to the bottom of the visible area (or the status line's, when one is shown),
    /// over `scrollDuration` with an ease-in-ease-out curve when `animated`; else, and when
    /// there are no messages, nothing moves. An animated scroll of a visible view starts
    /// when control returns to the event loop, measured with the transcript as it is then.
    void scrollToLastMessage(bool animated = true);
    /// Whether the view keeps the end in view as the transcript grows: from the opening of
    /// a transcript until the user scrolls up, again once they scroll back to the end, ask
    /// for it (End, the "Jump to the end" button) or send a message.
    bool isFollowing() const { return following_; }
    /// Follows the end again and scrolls there (what End and the button do).
    void jumpToEnd(bool animated = true);
    /// The round "Jump to the end" button, shown while the end is out of view and the view
    /// does not follow it.
    QAbstractButton* jumpButton() const;

    /// The time of a message as its row shows it: only the short time for a moment of
    /// the calendar day `now` falls on, else the medium date and the short time, both in
    /// the user's locale and time zone.
    static QString timestampText(const QDateTime& time,
                                 const QDateTime& now = QDateTime::currentDateTime());

    /// How links in messages are opened; QDesktopServices::openUrl unless replaced.
    void setUrlOpener(LinkOpener opener);
    /// What gives the thumbnail of a sent picture (an AttachmentStore name): a pixmap, or
    /// a null one while it is not loaded (the place then shows empty; pictureLoaded()
    /// paints it once it is).
    void setPictureSource(std::function<QPixmap(const QString&)> source) {
        pictureSource_ = std::move(source);
    }
    /// A thumbnail the picture source gives is now loaded.
    void pictureLoaded();
    /// The thumbnails of the pictures of the message of `row`, in viewport coordinates.
    std::vector<QRect> pictureRects(int row);

    // Geometry, for tests and tools. Rectangles are in viewport coordinates.
    /// The top of the content in content coordinates (the scroll position).
    qreal scrollPosition() const { return top_; }
    /// Moves there as the user would: the view follows the end only if that shows it.
    void setScrollPosition(qreal top);
    /// Height of all rows, as far as known (unseen rows count with their estimate).
    qreal contentHeight();
    /// Rows include the status line as the last one when it is shown.
    int rowCount() const;
    QRect rowRect(int row);
    QRect bubbleRect(int row);
    QRect copyButtonRect(int row);
    /// The Copy buttons of the code blocks of the message of `row`, in viewport
    /// coordinates, in the order of the text.
    std::vector<QRect> codeCopyButtonRects(int row);
    /// The Regenerate button of the last reply, else a null rectangle.
    QRect regenerateButtonRect(int row);
    /// The Edit button of a user message, else a null rectangle.
    QRect editButtonRect(int row);
    /// The "Context full" link of a reply the server cut the context of, else a null
    /// rectangle.
    QRect contextSettingsLinkRect(int row);
    /// The previous (`next` false) or next version arrow, else a null rectangle.
    QRect variantArrowRect(int row, bool next);
    /// Whether that arrow acts (it is greyed at either end and while a reply streams).
    bool isVariantArrowEnabled(int row, bool next);
    /// The line over a reply's reasoning ("Thinking…", "Thought for 3 seconds"), else a null
    /// rectangle; it is the toggle once the reasoning is finished.
    QRect thinkingToggleRect(int row);
    /// What that line says, else an empty string.
    QString thinkingTitle(int row);
    /// Where the reasoning is shown under it (its last lines while the model thinks, all
    /// of it when expanded), else a null rectangle.
    QRect thinkingTextRect(int row);
    /// The reasoning text laid out for that, else an empty string.
    QString laidOutThinking(int row);
    bool isThinkingExpanded(const QUuid& id) const { return expandedThinking_.contains(id); }
    /// Expands or collapses the finished reasoning of the message `id`.
    void setThinkingExpanded(const QUuid& id, bool expanded);
    /// The text of a row's meta line as painted, left to right: the version ("2/3"), the
    /// time, the stopped mark ("· Stopped") and a reply's figures ("· 38 tok/s", and
    /// "· Context full" when the server left older messages out), separated by spaces.
    /// "Context full" is a link (a control, reached with Tab) to the conversation's
    /// settings: contextSettingsRequested().
    QString metaText(int row);
    /// The tooltip of a reply's figures, shown over its meta line's text: the tokens and
    /// times measured, and why older messages went unread when they did. Empty without
    /// figures.
    QString figuresToolTip(int row) const;
    /// Where the meta line's text of a reply with figures is painted, in viewport
    /// coordinates: hovering it shows figuresToolTip(). Else a null rectangle. For tests
    /// and tools.
    QRect figuresTextRect(int row);
    /// The control that Tab marked, if any, and where it is.
    std::optional<Control> focusedControl() const;
    int focusedControlRow() const;
    QRect focusedControlRect();
    /// The editor of beginEditing(), while it is open.
    QPlainTextEdit* editor() const;
    /// The message being edited, while the editor is open.
    std::optional<QUuid> editingMessage() const;
    /// The context menu of the message of `row` (what a right click opens); the caller owns
    /// it.
    QMenu* makeContextMenu(int row);
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
    /// The same for the reasoning shown in its thinking section.
    quint64 thinkingLayoutCount(int row) const;

    /// Opens the whole text of the message of `row` in a window of its own (what "Show
    /// all" does) and returns the window; it is deleted when closed.
    WholeMessageWindow* showWholeMessage(int row);

    /// The current message: the one Up and Down move from, marked while the view has the
    /// focus and no control is marked. -1 when there is none (the first message in view
    /// then stands for it).
    int currentRow() const;
    /// Makes the message of `row` the current one and scrolls it into view, as Up and Down
    /// do.
    void setCurrentRow(int row);
    /// Where the focus mark around the current message (or the message standing for it) is
    /// painted, in viewport coordinates; a null rectangle while none is painted (the view
    /// has no focus, a control is marked, or the message is being edited).
    QRect messageFocusRect();

    /// Whether a reply is streaming into this transcript: while one is, no message offers
    /// Regenerate or Edit and no version switcher acts. When it ends, a reply that came or
    /// changed meanwhile in this transcript is announced to assistive technology
    /// (TranscriptAccessible.h).
    void setReplyInProgress(bool inProgress);
    bool isReplyInProgress() const { return replyInProgress_; }
    /// Opens the user message `id` for editing in place (what its Edit button does): an
    /// editor over its bubble holding its text, focused, the cursor at the end. Return
    /// (or Send) emits editSubmitted() with the trimmed text unless that is empty; Escape
    /// (or Cancel) closes it. Nothing happens for a message that is not a user message of
    /// the transcript.
    void beginEditing(const QUuid& id);
    /// Closes the editor without sending.
    void cancelEditing();

    // ---- Selecting text (TranscriptSelection.cpp) ----------------------------------------
    /// Whether any text is selected.
    bool hasSelection();
    /// The selected text as Copy puts it on the clipboard: plain text as it reads on
    /// screen, the messages separated by an empty line.
    QString selectedText();
    /// The Markdown of the selected messages when the selection covers whole messages
    /// (what Copy offers as "text/markdown"), else an empty string.
    QString selectedMarkdown();
    /// Selects the whole transcript (Ctrl+A) and hands it to the primary selection.
    void selectAll();
    void clearSelection();
    /// Puts the selection on the clipboard (Ctrl+C); nothing without one.
    void copySelection();
    /// Where a selection goes once made (the end of a drag, a double or triple click,
    /// Shift+click, Select All), taking ownership of the data: X11's primary selection
    /// where the platform has one, unless replaced; null restores that.
    void setPrimarySelectionWriter(std::function<void(QMimeData*)> writer);
    /// Where the first occurrence of `text` in the laid-out answer of `row` is painted (its
    /// part on its first line), in viewport coordinates; else a null rectangle. For tests
    /// and tools.
    QRect textRect(int row, const QString& text);

    // ---- Finding text (TranscriptFind.cpp) -------------------------------------------------
    /// Looks for `text` in what the messages show, case and accents aside (TranscriptFind.h):
    /// every match is highlighted, and the first at or after the current one (else the
    /// first from the top of the view) becomes current and is scrolled into view once found.
    /// An empty text ends finding and takes the highlights away. A long transcript is
    /// searched in steps, between which the window goes on; findResultsChanged() tells when
    /// the count or the current match changed.
    void setFindText(const QString& text);
    QString findText() const;
    /// Makes the next (previous) match current, going round past the last (first), and
    /// scrolls it into view.
    void findNext();
    void findPrevious();
    /// How many matches were found, and which is current (from 0; -1 when none is: after
    /// another transcript was opened, until the user moves to one).
    qsizetype findMatchCount() const;
    qsizetype currentFindMatch() const;
    /// The row of the current match, or -1.
    int currentFindRow() const;
    /// Whether a search for a new text, or in a transcript just opened, still has messages
    /// to look through (its count is not known yet).
    bool isFindSearching() const;
    /// Where the current match is painted (its part on its first line), in viewport
    /// coordinates; lays its row out. A null rectangle when there is none.
    QRect currentFindMatchRect();
    /// Where each match in `row` is painted, in viewport coordinates; lays the row out.
    std::vector<QRect> findMatchRects(int row);

signals:
    /// A message's content was put on the clipboard by its copy button.
    void copied(const QString& content);
    /// The user asked for the reply `id` (the last one) again.
    void regenerateRequested(const QUuid& id);
    /// The user edited the message `id` in place and asked to send `text` instead.
    void editSubmitted(const QUuid& id, const QString& text);
    /// The user chose version `index` (from 0) of the message `id`.
    void variantRequested(const QUuid& id, int index);
    /// The user followed a reply's "Context full" link: the conversation's settings, where
    /// the context length is set.
    void contextSettingsRequested();
    /// The user opened a picture sent with a message (clicked its thumbnail, or Return
    /// on it).
    void pictureRequested(const QString& reference);
    /// The selection changed (made, extended, cleared).
    void selectionChanged();
    /// What Find found changed: the count, the current match, or whether it still searches.
    void findResultsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The accessible interfaces read the messages and act as the controls do.
    friend class TranscriptAccessible;
    friend class TranscriptAccessibleItems;
    friend class TranscriptAnnouncementAccessible;
    friend class TranscriptMessageAccessible;
    // The selection places itself in the rows and paints their text.
    friend class TranscriptSelection;
    // Find reads the messages and their layouts, and scrolls to its matches.
    friend class TranscriptFind;

    /// How a reply's think block is shown.
    enum class Thinking {
        none,       // no think block, or an empty finished one
        live,       // unfinished: "Thinking…" over its last lines
        collapsed,  // finished: one line, "Thought for 3 seconds"
        expanded,   // finished: that line over all of the reasoning
    };
    struct RowGeometry {
        QRect bubble;  // relative to the row's top-left corner
        QRect text;    // the answer (or the error)
        QRect notice;  // over a message shown in part: the notice and its link
        QRect showAll;
        QString noticeText;
        QString plainText;  // what an error row shows
        Thinking thinking = Thinking::none;
        QRect thinkingTitle;  // the line over the reasoning
        QRect thinkingText;   // the reasoning under it, if shown
        QString thinkingTitleText;
        std::vector<QRect> pictures;  // the thumbnails of a user's pictures, over the text
        int metaTop = 0;              // the meta line's top; its controls are placed by metaLine()
        int height = 0;
    };
    /// A control of a row, placed relative to the row's top-left corner.
    struct PlacedControl {
        Control kind;
        QRect rect;
        bool enabled = true;
        int index = 0;  // copyCode: the code block, in the order of the text
    };
    /// The meta line of a row: its controls from left to right, the version switcher's
    /// "2/3" and the edge the time keeps to (its left edge under a left-aligned bubble, its
    /// right edge under a user's).
    struct MetaLine {
        std::vector<PlacedControl> controls;
        QRect versionLabel;
        QString versionText;
        int textEdge = 0;
        bool textToTheLeft = false;
    };
    /// A control of the transcript: which message, which control.
    struct ControlRef {
        QUuid id;
        Control kind;
        int index = 0;  // as in PlacedControl
        friend bool operator==(const ControlRef&, const ControlRef&) = default;
    };
    struct Row {
        int height = 0;      // exact when `exact`, else an estimate (0: not made yet)
        bool exact = false;  // `geometry` is that of the present content and width
        bool everLaidOut = false;
        bool growingFast = false;  // grew by more than `fastGrowth` and is still growing
        RowGeometry geometry;
    };
    /// What a point of the viewport is over: one of a message's controls, its Markdown
    /// text, its unfolded reasoning (for links), or none of these.
    struct Hit {
        enum class Part { nothing, control, text, thinkingText };
        Part part = Part::nothing;
        int row = -1;                              // of the message, when `part` is not `nothing`
        PlacedControl control{Control::copy, {}};  // for `control`
        QPoint inText;  // for the texts: relative to the text's top-left corner
    };

    /// The control a hit on one is over, as a reference that outlives the row's layout.
    ControlRef controlRefOf(const Hit& hit) const {
        return {messages_.at(hit.row).id(), hit.control.kind, hit.control.index};
    }
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
    /// Moves the position without changing whether the view follows the end.
    void moveTo(qreal top);
    bool isEndInView();
    /// The view follows the end only if the user's last move left it in view.
    void userMoved();
    /// Shows the "Jump to the end" button where it applies, at the bottom of the view.
    void updateJumpButton();
    MarkdownLayout* layoutFor(int row);
    /// The laid-out reasoning of the message of `row` as `state` shows it, or null.
    MarkdownLayout* thinkingLayoutFor(int row, Thinking state);
    Thinking thinkingState(int row, const CachedLayout& entry) const;
    static QString thinkingTitleFor(const ChatMessage& message, Thinking state);
    /// Lays the row of the message `id` out again when an image in `layout` arrives.
    void watchImages(MarkdownLayout* layout, const QUuid& id);
    /// The thinking section's title line, its reasoning and the space after it, laid out
    /// at `x` from `y` for a text `textWidth` wide; returns the y under it.
    int placeThinking(RowGeometry& g, int row, int x, int y, int textWidth);
    /// Places the notice at `origin` for a message shown from `shownFrom` on, or nothing.
    void placeNotice(RowGeometry& g, QPoint origin, const QString& content, qsizetype shownFrom);
    void measure(int row);
    void invalidateHeights();
    void resetRows();
    void rebuildOffsets();
    qreal rowTop(int row);  // content coordinates
    int rowAt(qreal y);     // content coordinates; clamps to the rows
    /// The message row under a viewport point, and the point in that row's coordinates (as
    /// its controls are placed); -1 outside every message row.
    int messageRowAt(const QPoint& pos, QPoint* inRow);
    void settle();  // measures the visible rows and clamps the position
    void updateScrollBar();
    void setTopFromAnchor();
    void setAnchorFromTop();
    void updateStyle();
    /// The one place the mouse and tool tip handlers learn what is under the pointer.
    Hit hitTest(const QPoint& pos);
    /// The link under a `text` hit, or an empty string.
    QString linkAt(const Hit& hit);

    // Controls (TranscriptControls.cpp).
    MetaLine metaLine(int row);
    /// Every control of `row`, in the order Tab visits them, relative to the row.
    std::vector<PlacedControl> controlsOf(int row);
    /// The control `kind` of `row` in viewport coordinates, else a null rectangle.
    QRect controlRect(int row, Control kind, int index = 0);
    std::optional<PlacedControl> findControl(int row, Control kind, int index = 0);
    bool offersRegenerate(int row) const;
    bool offersEdit(int row) const;
    /// Does what clicking the control does.
    void activate(int row, Control kind, int index = 0);
    /// Copies the code of the `index`-th code block of the message of `row`.
    void copyCode(int row, int index);
    void copyMessage(int row);
    void requestVariant(int row, int index);
    void paintMeta(QPainter& painter, int row, const RowGeometry& g, const QDateTime& now);
    void paintPicture(QPainter& painter, int row, const PlacedControl& control, bool hot);
    void paintControl(QPainter& painter, int row, const PlacedControl& control);
    void paintThinking(QPainter& painter, int row, const RowGeometry& g, const QRectF& exposed);
    QString toolTipFor(int row, Control kind) const;
    /// The time, stopped mark and figures of a row's meta line, as one text.
    QString metaStatusText(const ChatMessage& message, const QDateTime& now) const;
    /// Where the meta line's text of `row` is painted (row coordinates, as controls).
    QRect metaTextRect(int row, const QString& text);
    /// The figures' tooltip for a point of the viewport over a meta line's text.
    QString figuresToolTipAt(const QPoint& pos);
    /// Marks the next (or previous) visible control; false past either end. With no control
    /// marked, `fromCurrent` starts from the first control of the current message (or the
    /// first after it), else from the first (last) control in view.
    bool moveFocusMark(bool next, bool fromCurrent = false);
    void setFocusMark(std::optional<ControlRef> control);
    /// Scrolls the marked control fully into view.
    void revealFocusMark();
    /// The row of the marked control, or -1 when there is none or it left the transcript.
    int focusMarkRow() const;
    /// The rows at least partly in view, top to bottom (message rows only).
    std::pair<int, int> visibleMessageRows();
    void showContextMenu(int row, const QPoint& globalPos);
    /// Takes the mark off a control that is no longer offered or no longer acts (a reply
    /// started, the message left), leaving its message current.
    void dropHiddenFocusMark();

    // The current message (TranscriptControls.cpp).
    /// The current message, else the first message whose top is in view (else the first
    /// in view at all); -1 without messages.
    int focusRow();
    /// The row the message focus mark is painted on, or -1.
    int messageFocusRow();
    /// The current message as assistive technology has it: focusRow() while the view has
    /// the focus, else currentRow().
    int accessibleCurrentRow();
    void setCurrent(const QUuid& id);
    /// Moves the current message `step` messages down (up when negative).
    void moveCurrent(int step);
    /// Scrolls the whole row into view, its top when it is taller than the view.
    void revealRow(int row);
    /// The message row under `pos` (viewport coordinates), or -1.
    int messageRowAt(const QPoint& pos);
    /// Tells assistive technology which message has the focus, while the view has it.
    void notifyAccessibleFocus();
    /// A row's rectangle in viewport coordinates from the heights known now (estimates for
    /// rows never seen): lays nothing out.
    QRect rowRectAsKnown(int row);
    /// The transcript as openTranscript() shows it, without ending the watch for a reply.
    void showTranscript(const MessageList& messages);
    /// Deletes the accessible items of messages of `old` from `from` on that `now` lacks.
    void forgetGoneMessages(const MessageList& old, const MessageList& now, qsizetype from);
    /// Announces the reply that ended, if it came or changed while it was awaited.
    void announceFinishedReply();

    // Editing in place (TranscriptEditing.cpp).
    void submitEditing();
    /// Puts the editor over its row, or closes it when its message is gone.
    void placeEditor();
    int editingRow() const;
    void closeEditorOfGoneMessage();
    /// The geometry of the row being edited: the editor, over where the bubble was.
    RowGeometry editorGeometry();

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

    QVariantAnimation* animation_;
    bool followPending_ = false;  // followLastMessage() is queued
    bool following_ = true;
    JumpToEndButton* jumpButton_;
    QTimer* growthEnd_;  // runs endFastGrowth() once rows stop growing
    LinkOpener urlOpener_;
    std::function<QPixmap(const QString&)> pictureSource_;
    QString pressedLink_;
    std::optional<ControlRef> pressed_;  // the control the left button went down on
    std::optional<ControlRef> hovered_;
    std::optional<ControlRef> focusMark_;  // the control Tab marked
    MarkdownStyle thinkingStyle_;
    int thinkingLineSpacing_ = 0;
    bool replyInProgress_ = false;
    QSet<QUuid> expandedThinking_;
    TranscriptEditor* editor_ = nullptr;
    QUuid editingId_;
    QPointer<QMenu> contextMenu_;
    QUuid current_;                 // the current message
    mutable int currentHint_ = -1;  // its row when last looked up
    // While a reply is awaited: the last message when it began (none for an empty
    // transcript), to tell whether a reply came.
    bool watchingReply_ = false;
    std::optional<ChatMessage> lastBeforeReply_;
    std::unique_ptr<TranscriptSelection> selection_;
    TranscriptFind* find_;  // a child of the view
    // Last, so that the accessible items go first, while the view is whole.
    std::unique_ptr<TranscriptAccessibleItems> accessibleItems_;
};

}  // namespace parlote

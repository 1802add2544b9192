#pragma once

// TranscriptView's text selection. The left button pressed over a message (anywhere but on
// a control) and dragged selects from there to the pointer, within a message or across
// messages, scrolling while the pointer is above or below the view; a double click selects
// a word and a triple click a paragraph (a drag after either goes on by words or
// paragraphs); Shift+click extends the selection to the place clicked. A click clears it,
// as does Escape; Ctrl+A selects the whole transcript. A drag that starts on a link
// selects; a click without movement still opens the link.
//
// The selection is kept as places: a message id and a place in the message's laid-out
// answer (a top-level block and a position in its document, MarkdownSelection.h). So it
// needs no row laid out but the two at its ends, it stays on the same characters while a
// reply grows below or inside it, and it outlives the layouts the transcript lets go of
// and makes again while scrolling. A reply's reasoning is not selectable: a place over it
// is the start of the answer. An error's text is selected whole or not at all.
//
// Copy (Ctrl+C) puts the selection on the clipboard as plain text as it reads on screen
// (MarkdownSelection.h; whole messages as markdownToPlainText() reads them, without
// laying them out), the messages separated by an empty line; when the selection covers
// whole messages, their Markdown as well, as "text/markdown". A selection made also goes
// to X11's primary selection. The text of whole messages is made only when something asks
// for it, from a copy of the transcript taken at the time, so selecting all of ten thousand
// messages costs nothing until the text is pasted.
//
// Interface thread only.

#include <QObject>
#include <QPoint>
#include <QUuid>
#include <climits>
#include <functional>
#include <optional>

#include "MarkdownSelection.h"

class QMimeData;
class QPainter;
class QTimer;

namespace parlote {

class TranscriptView;

/// A place in the transcript: a message and a place in its answer.
struct TranscriptPlace {
    QUuid message;
    TextPosition at;
    friend bool operator==(const TranscriptPlace&, const TranscriptPlace&) = default;
};

class TranscriptSelection : public QObject {
public:
    /// The place that stands for the end of a message, whatever its text.
    static constexpr TextPosition messageEnd{INT_MAX, INT_MAX};
    /// MIME type of the Markdown of whole messages.
    static inline const QString markdownMimeType = QStringLiteral("text/markdown");

    /// Takes the view's keys for copying and selecting (as an event filter).
    explicit TranscriptSelection(TranscriptView* view);
    ~TranscriptSelection() override;

    bool hasSelection();
    /// The selected part of the message of `row`; an empty range when none of it is.
    TextRange rangeIn(int row);
    void clear();
    /// Forgets the selection and where the last click was (another transcript).
    void reset();
    void selectAll();
    /// The message `id` shows another part of its text (a long reply's shown part moved):
    /// places in it no longer point where they did, so a selection with an end in it goes.
    void textMoved(const QUuid& id);
    /// The selection as the clipboard gets it; null when nothing is selected.
    QMimeData* makeMimeData();
    QString text();
    QString markdown();
    void copy();
    /// Hands a selection just made to X11's primary selection.
    void writePrimary();
    void setPrimaryWriter(std::function<void(QMimeData*)> writer);

    // The mouse, as the view hands it over (viewport coordinates).
    /// The left button went down anywhere but on a control.
    void press(const QPoint& pos, Qt::KeyboardModifiers modifiers, quint64 timestamp);
    void doubleClick(const QPoint& pos, quint64 timestamp);
    /// The pointer moved with the left button down: whether it is dragging a selection.
    bool drag(const QPoint& pos);
    /// The left button went up: whether the press selected something (a drag, a double or
    /// triple click, Shift+click), which a click on a link then does not open.
    bool release();

    /// Paints the answer of `row` at `topLeft` with its selected part in the palette's
    /// selection colours.
    void paintText(QPainter& painter, int row, const QPoint& topLeft, const QRectF& exposed);
    /// Paints the text of the error of `row` in `rect`, selected or not.
    void paintError(QPainter& painter, int row, const QRect& rect, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Unit { character, word, paragraph };
    struct Span {
        TranscriptPlace from;
        TranscriptPlace to;
    };

    int rowOf(const QUuid& id);
    /// Whether `a` comes before `b`; places of messages no longer there come first.
    bool before(const TranscriptPlace& a, const TranscriptPlace& b);
    /// What `unit` takes in at `pos`; nothing without messages.
    std::optional<Span> spanAt(const QPoint& pos, Unit unit);
    /// Whether `at` is the end of the answer of `row`.
    bool isEnd(int row, TextPosition at);
    /// The selection from the anchor to the focus, ends that select nothing of their
    /// message moved into the next (or previous) one.
    void update();
    /// The text of the selected part [from, to) of the message of `row`.
    QString partText(int row, TextPosition from, TextPosition to);
    void scrollWhileDragging();

    TranscriptView* view_;
    std::function<void(QMimeData*)> primaryWriter_;
    // Where the selection began (a word or paragraph when it began by one) and where it
    // ends now; the anchor stays after a click, for Shift+click to extend from.
    std::optional<Span> anchor_;
    std::optional<Span> focus_;
    // The selection, in order, when it holds anything.
    std::optional<Span> selection_;
    Unit unit_ = Unit::character;
    bool pressed_ = false;   // the left button is down over a message
    bool dragging_ = false;  // and moved far enough to select, or selected at once
    bool dragged_ = false;   // and the pointer moved the selection since
    QPoint pressPos_;
    QPoint dragPos_;
    std::optional<quint64> doubleClickTime_;  // for a third click to select the paragraph
    QPoint doubleClickPos_;
    QTimer* dragScroll_;
    int rowHints_[2] = {-1, -1};  // rows of messages last looked up
    int nextHint_ = 0;
};

}  // namespace parlote

#pragma once

// TranscriptView's Find: every place the text looked for occurs in the open transcript,
// one of them current, all of them painted in a highlight colour and the current one in a
// stronger one (FindBar.h is the field the user types in).
//
// What is searched is what the transcript shows, as plain text (what selecting and copying
// give, MarkdownSelection.h): the rendered Markdown without its syntax, the answer of a
// reply without its reasoning, the last part of a message too long to show whole, an
// error as it is. Case and accents do not matter (FindText.h).
//
// Without laying anything out: the plain text of each message is made from its Markdown
// (markdownToPlainText()), folded and kept, by message, until the message changes; a
// search counts the matches in those texts. Only the rows painted and the row of the
// current match, brought into view, are laid out; in a laid-out row the matches are looked
// for again in the layout's own plain text, which places them (the k-th match of a message
// in its text is the k-th in its layout).
//
// A search never holds the window up for long: it goes through the messages in steps of
// at most `sliceMs` (the first at once, so that a short transcript is done before the
// call returns), the window painting and taking keys between them. A search for a text
// that holds the last one looks only through the messages that held the last one.
//
// The transcript changing (a reply streaming, a message added, edited or regenerated) has
// only the messages from the first that changed looked through again, at most once every
// `followInterval`, however many chunks came meanwhile; the current match stays where it
// was. Another transcript (another conversation) is looked through from the start, with
// no match current until the user moves to one.
//
// Interface thread only.

#include <QHash>
#include <QObject>
#include <QRect>
#include <QTextCharFormat>
#include <QTimer>
#include <QUuid>
#include <vector>

#include "LongMessage.h"
#include "MarkdownLayout.h"
#include "MarkdownSelection.h"

class QPainter;

namespace parlote {

class ChatMessage;
class TranscriptView;

class TranscriptFind : public QObject {
public:
    /// The longest step of a search.
    static constexpr int sliceMs = 6;
    /// How often a transcript that keeps changing is looked through again.
    static constexpr int followInterval = 16;  // ms

    explicit TranscriptFind(TranscriptView* view);
    ~TranscriptFind() override;

    /// Looks for `text` (typed by the user): the match at or after the current one (else
    /// the first message in view) becomes current once the search is done, and is brought
    /// into view. An empty text ends finding.
    void setText(const QString& text);
    const QString& text() const { return text_; }
    bool isActive() const { return !query_.isEmpty(); }
    /// The next (previous) match becomes current, after the last (before the first) the
    /// first (last) again, and is brought into view. Without a current match: the first
    /// match from the top of the view down (the last from its bottom up).
    void next();
    void previous();

    /// Another transcript: looked through from the start, no match current.
    void reset();
    /// The messages from `from` on may have changed, gone or come.
    void changed(qsizetype from);

    /// How many matches the transcript holds (as far as the search has gone).
    qsizetype count() const { return total_; }
    /// Which is current, from 0; -1 when none is.
    qsizetype currentIndex() const;
    /// The row of the current match, or -1.
    int currentRow() const;
    /// Whether a search for a new text, or in another transcript, has not gone through
    /// every message yet (looking through a changing transcript again does not count).
    bool isSearching() const;
    /// Where the current match is painted (its part on its first line), in viewport
    /// coordinates; lays its row out. A null rectangle when there is none.
    QRect currentRect();
    /// Where each match in the row is painted, in viewport coordinates.
    std::vector<QRect> matchRects(int row);

    // Painting (TranscriptSelection.cpp paints the text of the rows).
    /// Adds the matches in the laid-out answer of `row` to `out`.
    void addHighlights(int row, std::vector<MarkdownLayout::Highlight>& out);
    /// Paints the text of the error of `row` in `rect` with its matches, if it has any;
    /// false, having painted nothing, when it has none.
    bool paintError(QPainter& painter, int row, const QRect& rect, const QString& text);

private:
    /// What is kept of a message.
    struct Entry {
        QUuid id;
        QString content;  // the message's text `folded` was made from
        QString folded;   // what it shows as plain text, folded
        FenceTracker fences;
        bool ready = false;   // `folded` is there
        bool pending = true;  // to be looked through for the query
        qsizetype count = 0;  // of matches in `folded`
    };
    /// The matches found in a row's layout.
    struct LayoutMatches {
        bool made = false;
        QString laidOut;  // the text laid out when they were found
        std::vector<TextRange> ranges;
    };

    /// Looks for the query in the message of `row`.
    void search(int row);
    /// One step of the search; finish() once no message is left.
    void runSlice();
    /// Runs every step left now.
    void finishNow();
    void finish();
    /// Schedules the next step: at once (`soon`), else within `followInterval`.
    void schedule(bool soon);
    /// Keeps the current match on a match, or drops it.
    void keepCurrent();
    /// Makes the first match from `row` on (`forward`), or the last from `row` back,
    /// current, going round past either end; none when there are no matches.
    void pickFrom(int row, bool forward);
    /// Scrolls the current match into view (a third of the way down when it was out of
    /// view), laying out its row.
    void reveal();
    int rowOf(const QUuid& id) const;
    const std::vector<TextRange>& layoutMatches(int row);
    /// The matches in the text of an error, and where it is painted.
    std::vector<qsizetype> errorMatches(const QString& text) const;
    void updateFormats();

    TranscriptView* view_;
    QString text_;                // as typed
    QString query_;               // folded
    std::vector<Entry> entries_;  // one per message row
    qsizetype scanFrom_ = 0;      // no message before this is pending
    qsizetype total_ = 0;
    QTimer slice_;                // the next step, at once
    QTimer follow_;               // the next look through a changing transcript
    bool searchingAnew_ = false;  // a new text or transcript is being searched
    bool revealPending_ = false;  // the search was asked for: its first match is brought up
    QUuid anchor_;                // where that first match is looked for from
    QUuid currentId_;             // the message of the current match
    qsizetype currentK_ = -1;     // which of its matches
    mutable int currentHint_ = -1;
    QHash<QUuid, LayoutMatches> layoutMatches_;
    QTextCharFormat matchFormat_;
    QTextCharFormat currentFormat_;
};

}  // namespace parlote

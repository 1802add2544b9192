#pragma once

// What the transcript shows of a message too long to lay out within a frame: its last
// part, at most `limits::kMaxShownMessageLength` characters, cut where a paragraph or a
// line begins when one is near. While a reply streams, the cut moves in steps of a
// quarter of the limit and stays put in between, so each update lays out only the
// paragraph that grew, never the whole part again.

#include <QString>

#include "Limits.h"

namespace parlote {

struct ShownPart {
    qsizetype start = 0;  // where the shown part begins in the message; 0: the whole message
    QString fenceLine;    // the code fence open at `start` ("```cpp"), if any
    bool isCut() const { return start > 0; }
};

/// Finds the code fence open at a point of a message and remembers how far it has read:
/// asked again about the same message grown at its end (a streaming reply), it reads
/// only the lines added since, not the megabytes before them.
class FenceTracker {
public:
    /// The fence line ("```cpp") of the code block still open at `at` in `text`, or an
    /// empty string. Of the info string only the first word is kept.
    QString openAt(const QString& text, qsizetype at);

private:
    void reset();

    QString text_;           // what was read; shares the caller's storage
    qsizetype scanned_ = 0;  // every line that ends before this was read
    qsizetype looked_ = 0;   // [scanned_, looked_) holds no line break
    QChar mark_;             // of the open fence
    qsizetype length_ = 0;   // of the open fence; 0: none is open
    QString opener_;         // the open fence's line, as openAt() returns it
};

/// The part of `text` to show when at most `limit` characters may be laid out. For
/// Markdown (`markdown`), a cut inside a fenced code block notes the fence, so that the
/// shown part opens it again and reads as code; `fences`, when given, is the tracker
/// kept for this message.
ShownPart shownPart(const QString& text, bool markdown,
                    qsizetype limit = limits::kMaxShownMessageLength,
                    FenceTracker* fences = nullptr);

/// The text to lay out for `part` of `text`.
QString shownText(const QString& text, const ShownPart& part);

/// The notice over a cut message: "Showing the last 60,000 of 31,457,280 characters."
QString cutNotice(qsizetype shown, qsizetype total);

}  // namespace parlote

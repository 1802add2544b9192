#pragma once

// A reply's think block: the reasoning a model writes before its answer, between a
// "<think>" at the very start of the reply and the "</think>" that ends it. The stored
// text keeps the block; the transcript shows it as a "Thinking" section over the answer.
//
// While a reply streams the block may be unclosed (the model is still thinking), and a
// chunk may end inside the closing tag: the part of "</think>" that arrived is not
// counted as reasoning, so the reasoning shown never flickers a half tag. A reply that
// does not begin with the whole "<think>" has no think block; its text is all answer.

#include <QString>
#include <QStringView>

namespace parlote {

/// Where a reply's think block and its answer lie in its text. Positions, so that
/// keeping a split costs nothing however long the text.
struct ThinkSplit {
    bool hasThinkBlock = false;   // the text begins with "<think>"
    bool closed = false;          // and "</think>" follows
    qsizetype thinkingStart = 0;  // the reasoning: [thinkingStart, thinkingEnd)
    qsizetype thinkingEnd = 0;
    qsizetype answerStart = 0;  // the answer, from here to the end: after "</think>" and the
                                // white space that follows it; the end of the text while the
                                // block is unclosed, 0 when there is no block

    QStringView thinking(QStringView text) const {
        return text.mid(thinkingStart, thinkingEnd - thinkingStart);
    }
    QStringView answer(QStringView text) const { return text.mid(answerStart); }
    /// Whether the reasoning holds nothing but white space (a model asked not to think
    /// still writes an empty block).
    bool isBlank(QStringView text) const;

    friend bool operator==(const ThinkSplit&, const ThinkSplit&) = default;
};

/// Splits `text`. `searchFrom` lets a caller that split a shorter beginning of the same
/// text (a reply that grew) skip what it searched already: no "</think>" begins before it.
ThinkSplit splitThinking(QStringView text, qsizetype searchFrom = 0);

/// Where a search for "</think>" in a longer text that begins with `text` may start,
/// given `split` of `text`.
qsizetype thinkSearchResume(const ThinkSplit& split, QStringView text);

}  // namespace parlote

// Splitting a reply into its think block and its answer, whole and at every point a
// chunk of a streamed reply can end.

#include <gtest/gtest.h>

#include "ThinkBlock.h"

namespace parlote {
namespace {

struct Parts {
    bool hasThinkBlock;
    bool closed;
    QString thinking;
    QString answer;
};

Parts parts(const QString& text, qsizetype searchFrom = 0) {
    const ThinkSplit split = splitThinking(text, searchFrom);
    return {split.hasThinkBlock, split.closed, split.thinking(text).toString(),
            split.answer(text).toString()};
}

void expectParts(const QString& text, const Parts& expected) {
    SCOPED_TRACE(text.toStdString());
    const Parts got = parts(text);
    EXPECT_EQ(got.hasThinkBlock, expected.hasThinkBlock);
    EXPECT_EQ(got.closed, expected.closed);
    EXPECT_EQ(got.thinking, expected.thinking);
    EXPECT_EQ(got.answer, expected.answer);
}

TEST(ThinkSplit, AWholeBlockUnclosedBlockAndNoBlock) {
    expectParts("<think>Let me see.</think>\n\n  The answer.",
                {true, true, "Let me see.", "The answer."});
    expectParts("<think>Let me see.", {true, false, "Let me see.", ""});
    expectParts("<think></think>Answer", {true, true, "", "Answer"});
    expectParts("<think>a</think>", {true, true, "a", ""});
    expectParts("Just an answer.", {false, false, "", "Just an answer."});
    expectParts("", {false, false, "", ""});
    // "<think>" anywhere but at the very start is text.
    expectParts(" <think>x</think>y", {false, false, "", " <think>x</think>y"});
    expectParts("Say <think>hi</think>", {false, false, "", "Say <think>hi</think>"});
    // Only the first "</think>" closes; the rest is answer, tags and all.
    expectParts("<think>a</think>b</think>c", {true, true, "a", "b</think>c"});
    EXPECT_TRUE(
        splitThinking(u"<think>\n \n</think>\n\nHi").isBlank(u"<think>\n \n</think>\n\nHi"));
    EXPECT_FALSE(splitThinking(u"<think> a </think>").isBlank(u"<think> a </think>"));
}

TEST(ThinkSplit, EveryPrefixOfAStreamedReplySplitsAsItsWholeWouldSoFar) {
    const QString reply = QStringLiteral("<think>ab <c> </th\n</think>\n\nThe answer.");
    const qsizetype close = reply.indexOf(QStringLiteral("</think>"));
    const qsizetype answerStart = reply.indexOf(QStringLiteral("The"));
    ThinkSplit last;
    QString previous;
    for (qsizetype n = 0; n <= reply.size(); ++n) {
        const QString text = reply.left(n);
        SCOPED_TRACE(text.toStdString());
        const Parts got = parts(text);
        // The same answer when searching on from where the shorter text left off.
        const ThinkSplit resumed = splitThinking(text, thinkSearchResume(last, previous));
        EXPECT_EQ(resumed, splitThinking(text));
        last = splitThinking(text);
        previous = text;
        if (n < 7) {  // "<thi": not (yet) a think block, shown as it is
            EXPECT_FALSE(got.hasThinkBlock);
            EXPECT_EQ(got.answer, text);
            continue;
        }
        EXPECT_TRUE(got.hasThinkBlock);
        if (n < close + 8) {
            // Unclosed: the reasoning so far, without a half-arrived closing tag.
            EXPECT_FALSE(got.closed);
            EXPECT_TRUE(got.answer.isEmpty());
            EXPECT_TRUE(reply.mid(7).startsWith(got.thinking));
            EXPECT_FALSE(got.thinking.endsWith(QStringLiteral("</")));
            EXPECT_FALSE(got.thinking.endsWith(QStringLiteral("</thi")));
            if (n == close + 3) {
                EXPECT_EQ(got.thinking, "ab <c> </th\n");  // ends in "\n</t"
            }
        } else {
            EXPECT_TRUE(got.closed);
            EXPECT_EQ(got.thinking, "ab <c> </th\n");
            EXPECT_EQ(got.answer, n > answerStart ? reply.mid(answerStart, n - answerStart) : "")
                << "the white space before the answer is left out";
        }
    }
    // Inside the reasoning, "<" and "</th" that close nothing stay reasoning once more text
    // follows them.
    expectParts("<think>x </th", {true, false, "x ", ""});
    expectParts("<think>x </thy", {true, false, "x </thy", ""});
    expectParts("<think><", {true, false, "", ""});
}

}  // namespace
}  // namespace parlote

// Reading Ollama's NDJSON answers without a network: cutting lines, and turning chat
// records into reply text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChatRecordReader.h"
#include "LineBuffer.h"

namespace {

using kestrelix::llm::detail::ChatRecordReader;
using kestrelix::llm::detail::ChatStep;
using kestrelix::llm::detail::LineBuffer;
using Take = LineBuffer::Take;

/// Every line of `body` fed in pieces of `piece` bytes, taking lines after each piece
/// the way a transfer does; "!" marks an overlong line.
std::vector<std::string> linesOf(const std::string& body, std::size_t piece,
                                 std::size_t maxLine = 1 << 20) {
    LineBuffer buffer(maxLine);
    std::vector<std::string> lines;
    std::string line;
    const auto drain = [&](bool atEnd) {
        for (;;) {
            const Take take = atEnd ? buffer.takeLast(line) : buffer.takeLine(line);
            if (take == Take::none) return true;
            if (take == Take::tooLong) {
                lines.push_back("!");
                return false;
            }
            lines.push_back(line);
        }
    };
    for (std::size_t at = 0; at < body.size(); at += piece) {
        buffer.append(std::string_view(body).substr(at, piece));
        if (!drain(false)) return lines;
    }
    drain(true);
    return lines;
}

TEST(LineBufferTest, LinesComeOutTheSameHoweverTheBytesAreCut) {
    const std::string body = "{\"a\":1}\r\n\n Grüße ✓ 🦙\r\r\nlast\r";
    const std::vector<std::string> expected = {"{\"a\":1}", "", " Grüße ✓ 🦙\r", "last"};
    for (std::size_t piece = 1; piece <= body.size(); ++piece)
        EXPECT_EQ(linesOf(body, piece), expected) << "pieces of " << piece;
    EXPECT_EQ(linesOf("", 1), std::vector<std::string>{});
    EXPECT_EQ(linesOf("\r", 1), std::vector<std::string>{""});
}

TEST(LineBufferTest, TheLimitCountsTheLineWithoutItsEnd) {
    // 4 bytes of text pass a limit of 4 whether the line ends in "\n" or "\r\n", even
    // when the "\r" waits alone for its "\n".
    for (std::size_t piece : {1, 2, 100}) {
        EXPECT_EQ(linesOf("abcd\r\nefgh\nijkl", piece, 4),
                  (std::vector<std::string>{"abcd", "efgh", "ijkl"}));
        EXPECT_EQ(linesOf("ok\nabcde\nnever", piece, 4), (std::vector<std::string>{"ok", "!"}));
        EXPECT_EQ(linesOf("ok\nabcde", piece, 4), (std::vector<std::string>{"ok", "!"}));
        EXPECT_EQ(linesOf("ok\nabc\rd\n", piece, 4), (std::vector<std::string>{"ok", "!"}));
    }
}

TEST(LineBufferTest, AnOverlongLineIsReportedBeforeItEndsAndMemoryIsLetGo) {
    LineBuffer buffer(8);
    std::string line;
    buffer.append("123456789");  // no "\n" yet, and already one byte too many
    EXPECT_EQ(buffer.takeLine(line), Take::tooLong);
    buffer.append(std::string(1000, 'x') + "\nnext\n");
    EXPECT_EQ(buffer.takeLine(line), Take::tooLong);
    EXPECT_EQ(buffer.takeLast(line), Take::tooLong);
    EXPECT_EQ(buffer.held(), 0u);
}

TEST(LineBufferTest, ConsumedBytesAreReleasedOnALongStream) {
    LineBuffer buffer;
    const std::string record = std::string(999, 'r') + "\n";
    std::string line;
    std::size_t taken = 0;
    for (int i = 0; i < 2000; ++i) {
        buffer.append(record + record.substr(0, 500));  // one and a half records per read
        buffer.append(record.substr(500));
        while (buffer.takeLine(line) == Take::line) {
            ASSERT_EQ(line.size(), 999u);
            ++taken;
        }
        ASSERT_LT(buffer.held(), 3u * 65536) << "after " << taken << " lines";
    }
    EXPECT_EQ(taken, 4000u);
}

TEST(LineBufferTest, TakeAllTellsWhetherTheBodyWasCut) {
    LineBuffer buffer;
    std::string line;
    buffer.append("first\nsecond part");
    ASSERT_EQ(buffer.takeLine(line), Take::line);
    bool truncated = true;
    EXPECT_EQ(buffer.takeAll(100, truncated), "second part");
    EXPECT_FALSE(truncated);
    buffer.append("0123456789");
    EXPECT_EQ(buffer.takeAll(4, truncated), "0123");
    EXPECT_TRUE(truncated);
    EXPECT_EQ(buffer.unread(), 0u);
}

/// The reply text of `lines`, read until a record ends it; the last step's kind too.
std::string replyOf(const std::vector<std::string>& lines, ChatStep::Kind* last = nullptr) {
    ChatRecordReader reader;
    std::string reply;
    for (const std::string& line : lines) {
        ChatStep step = reader.readLine(line);
        if (last) *last = step.kind;
        if (step.kind != ChatStep::Kind::text) return reply + "|" + step.text;
        reply += step.text;
        if (step.done) break;
    }
    return reply;
}

std::string record(const std::string& content, const std::string& thinking, bool done = false) {
    std::string line = R"({"message":{"role":"assistant","content":")" + content + '"';
    if (!thinking.empty()) line += R"(,"thinking":")" + thinking + '"';
    return line + R"(},"done":)" + (done ? "true}" : "false}");
}

TEST(ChatRecordReaderTest, ThinkingUntilTheAnswerFormsOneBlockAndLaterThinkingIsDropped) {
    EXPECT_EQ(replyOf({record("", "a"), record("", "b"), record("X", "c"), record("Y", "late"),
                       record("", "", true)}),
              "<think>abc</think>\n\nXY");
    // Thinking and content in one record, and a final record carrying both.
    EXPECT_EQ(replyOf({record("X", "a")}), "<think>a</think>\n\nX");
    EXPECT_EQ(replyOf({record("", "a"), record("", "b", true)}), "<think>ab</think>");
    EXPECT_EQ(replyOf({record("", "a"), "  \t", record("", "", true)}), "<think>a</think>");
}

TEST(ChatRecordReaderTest, ErrorsAndDamageEndTheReplyWithWhatCameBefore) {
    ChatStep::Kind last{};
    EXPECT_EQ(replyOf({record("ok", ""), R"({"error":"model crashed"})"}, &last),
              "ok|model crashed");
    EXPECT_EQ(last, ChatStep::Kind::serverError);
    EXPECT_EQ(replyOf({R"({"error":{"code":7}})"}), R"(|{"code":7})");
    EXPECT_EQ(replyOf({record("ok", ""), "[1,2]"}, &last), "ok|");
    EXPECT_EQ(last, ChatStep::Kind::malformed);
    EXPECT_EQ(replyOf({record("ok", ""), "{\"message\":"}, &last), "ok|");
    EXPECT_EQ(last, ChatStep::Kind::malformed);
    // A bad byte costs one character, not the record.
    EXPECT_EQ(replyOf({record("a\xff"
                              "b",
                              "")},
                      &last),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(last, ChatStep::Kind::text);
}

}  // namespace

// A reply's figures in its message: written without the figures Ollama left out, read
// back as written, and read tolerantly; the speeds they give.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ChatRecords.h"

using namespace parlote;
using Json = nlohmann::ordered_json;

namespace {

const char* const kReply =
    R"({"id":"66666666-7777-4888-9999-AAAAAAAAAAAA","content":"Hi","type":"assistant",)"
    R"("timestamp":"2025-01-31T09:15:07Z")";

TEST(ReplyStats, TheFiguresAreWrittenLastWithoutZeros) {
    ReplyStats stats;
    stats.evalCount = 282;
    stats.evalDuration = 4535599000;
    stats.promptEvalCount = 26;
    stats.totalDuration = 4883583458;
    stats.contextLength = 4096;
    stats.contextCut = true;
    const ChatMessage reply =
        ChatMessage::fromJson(Json::parse(std::string(kReply) + "}")).withStats(stats);
    const std::string written = reply.toJson().dump();
    EXPECT_EQ(written, std::string(kReply) +
                           R"(,"stats":{"eval_count":282,"eval_duration":4535599000,)"
                           R"("prompt_eval_count":26,"total_duration":4883583458,)"
                           R"("context_length":4096,"context_cut":true}})");
    EXPECT_EQ(ChatMessage::fromJson(Json::parse(written)).stats(), stats);
    EXPECT_FALSE(ChatMessage::fromJson(Json::parse(std::string(kReply) + "}")).stats());
    EXPECT_EQ(ChatMessage::fromJson(Json::parse(std::string(kReply) + R"(,"stats":{}})")).stats(),
              ReplyStats{});
}

TEST(ReplyStats, BadFiguresAreDroppedOneByOne) {
    const ChatMessage reply = ChatMessage::fromJson(Json::parse(
        std::string(kReply) +
        R"(,"stats":{"eval_count":"282","eval_duration":-5,"prompt_eval_count":26.5,)"
        R"("load_duration":18446744073709551615,"total_duration":100,"context_cut":1}})"));
    ReplyStats kept;
    kept.totalDuration = 100;
    EXPECT_EQ(reply.stats(), kept);
    EXPECT_EQ(reply.content(), "Hi");
    EXPECT_FALSE(
        ChatMessage::fromJson(Json::parse(std::string(kReply) + R"(,"stats":[1,2]})")).stats());
}

TEST(ReplyStats, SpeedsNeedBothFigures) {
    ReplyStats stats;
    EXPECT_FALSE(stats.tokensPerSecond());
    stats.evalCount = 282;
    EXPECT_FALSE(stats.tokensPerSecond()) << "no duration";
    stats.evalDuration = 4535599000;
    EXPECT_NEAR(*stats.tokensPerSecond(), 62.17, 0.01);
    stats.promptEvalCount = 26;
    stats.promptEvalDuration = 342546000;
    EXPECT_NEAR(*stats.promptTokensPerSecond(), 75.90, 0.01);
}

}  // namespace

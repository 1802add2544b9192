// Exactly what a chat request carries: nothing new for a conversation nobody configured,
// and each setting where Ollama reads it once it is set.

#include <gtest/gtest.h>

#include "FakeOllama.h"
#include "ModelServiceBridge.h"
#include "ZuvodAzeduv.h"

using namespace parlote;
using namespace parlote::testing;
using namespace std::chrono_literals;
using json = nlohmann::json;
namespace llm = kestrelix::llm;

namespace {

class ChatRequestTest : public ::testing::Test {
protected:
    ChatRequestTest() {
        server.setModels(FakeOllama::standardModels());
        llm::ZuvodAzeduvConfig config;
        config.host = server.baseUrl();
        config.firstRecordTimeout = 5s;
        bridge.emplace(ollamaClientFactory(config));
    }

    /// Streams a reply to "Hello" from `model` and returns the request the server got.
    json streamed(const ChatExtras& extras, const std::string& model = "qwen3:8b") {
        auto stream = bridge->streamChat({ChatMessage::make("Hello", ChatMessageType::user)},
                                         {model, 0.7, 2147483647}, extras);
        while (auto chunk = stream.next())
            if (chunk->isComplete) break;
        return server.requestsTo("/api/chat").back().body;
    }

    FakeOllama server;
    std::optional<ModelServiceBridge> bridge;
};

TEST_F(ChatRequestTest, AConversationNobodyConfiguredSendsWhatItAlwaysSent) {
    const json expected = json::parse(R"({"model":"qwen3:8b",
        "messages":[{"role":"user","content":"Hello"}],"stream":true,
        "options":{"temperature":0.7,"num_predict":2147483647}})");
    EXPECT_EQ(streamed({}), expected);
    ASSERT_TRUE(bridge
                    ->sendChat({ChatMessage::make("Hello", ChatMessageType::user)},
                               {"qwen3:8b", 0.7, 2147483647})
                    .result()
                    .isSuccess());
    EXPECT_EQ(server.requestsTo("/api/chat").back().body, expected);
}

TEST_F(ChatRequestTest, EverySettingGoesWhereOllamaReadsIt) {
    ChatExtras extras;
    extras.settings.systemPrompt = QStringLiteral("Answer in French.");
    extras.settings.temperature = 0.2;
    extras.settings.contextLength = 8192;
    extras.settings.seed = 42;
    extras.settings.think = ThinkSetting::high;
    const json expected = json::parse(R"({"model":"qwen3:8b",
        "messages":[{"role":"system","content":"Answer in French."},
                    {"role":"user","content":"Hello"}],
        "stream":true,"think":"high",
        "options":{"temperature":0.2,"num_predict":2147483647,"num_ctx":8192,"seed":42}})");
    EXPECT_EQ(streamed(extras), expected);

    ASSERT_TRUE(bridge
                    ->sendChat({ChatMessage::make("Hello", ChatMessageType::user)},
                               {"qwen3:8b", 0.7, 2147483647}, extras)
                    .result()
                    .isSuccess());
    EXPECT_EQ(server.requestsTo("/api/chat").back().body, expected) << "the whole reply alike";
}

TEST_F(ChatRequestTest, ThinkIsSentOnlyWhenChosen) {
    ChatExtras off;
    off.settings.think = ThinkSetting::off;
    EXPECT_EQ(streamed(off, "llama3.2")["think"], false) << "off is accepted by every model";
    ChatExtras on;
    on.settings.think = ThinkSetting::on;
    EXPECT_EQ(streamed(on)["think"], true);
    ChatExtras seedOnly;
    seedOnly.settings.seed = 0;
    const json request = streamed(seedOnly);
    EXPECT_FALSE(request.contains("think"));
    EXPECT_FALSE(request["options"].contains("think"));
    EXPECT_FALSE(request["options"].contains("num_ctx"));
    EXPECT_EQ(request["options"]["seed"], 0);
    EXPECT_EQ(request["messages"].size(), 1u) << "no system message when none is set";
}

TEST_F(ChatRequestTest, ARefusedThinkSettingEndsTheReplyWithOllamasWords) {
    ChatExtras on;
    on.settings.think = ThinkSetting::on;
    auto stream = bridge->streamChat({ChatMessage::make("Hello", ChatMessageType::user)},
                                     {"llama3.2", 0.7, 2147483647}, on);
    try {
        stream.next();
        FAIL() << "llama3.2 cannot think";
    } catch (const OllamaError& error) {
        EXPECT_EQ(error.osError, 400);
        EXPECT_TRUE(error.message.contains("does not support thinking"));
    }
}

TEST_F(ChatRequestTest, TheFinalRecordsFiguresComeWithTheLastPiece) {
    ChatScript script = ChatScript::words("Two words");
    script.metrics = ChatMetrics{4883583458, 1334875, 26, 0, 282, 4535599000};
    script.doneReason = "length";
    server.setChatScript(script);
    llm::ZuvodAzeduvConfig config;
    config.host = server.baseUrl();
    llm::ZuvodAzeduv client(config);
    ASSERT_EQ(client.startChat({{"user", "Hello"}}, {"llama3.2", 0.7, 2147483647}), 0);
    std::shared_ptr<llm::OllamaChunkInfo> last;
    while (auto chunk = client.getNextChunk()) {
        if (!chunk->isComplete) {
            EXPECT_FALSE(chunk->stats);
        }
        last = chunk;
    }
    ASSERT_TRUE(last && last->isComplete && last->stats);
    EXPECT_EQ(last->stats->totalDuration, 4883583458);
    EXPECT_EQ(last->stats->loadDuration, 1334875);
    EXPECT_EQ(last->stats->promptEvalCount, 26);
    EXPECT_EQ(last->stats->promptEvalDuration, 0) << "left out by the server: 0";
    EXPECT_EQ(last->stats->evalCount, 282);
    EXPECT_EQ(last->stats->evalDuration, 4535599000);
    EXPECT_EQ(last->stats->doneReason, "length");

    auto stream = bridge->streamChat({ChatMessage::make("Hello", ChatMessageType::user)},
                                     {"llama3.2", 0.7, 2147483647});
    std::optional<ReplyStats> stats;
    while (auto chunk = stream.next()) stats = chunk->stats;
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->evalCount, 282);
    EXPECT_EQ(stats->totalDuration, 4883583458);
    EXPECT_EQ(stats->contextLength, 0) << "left for the engine";
}

}  // namespace

// The bridge against scripted clients (exact contract cases) and against the fake
// Ollama server (real transfers running side by side).

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FakeOllama.h"
#include "ModelServiceBridge.h"
#include "ScriptedClient.h"

using namespace parlote;
using namespace parlote::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

SwiftLLMChatOptions defaultOptions() {
    return {"llama3.2:latest", 0.7, 2147483647};
}

ChatMessage message(const QString& text, ChatMessageType type) {
    return ChatMessage::make(text, type);
}

/// Every element of a stream, and the error that ended it (if any).
template <class T>
std::pair<std::vector<T>, std::optional<OllamaError>> drain(ThrowingStream<T> stream) {
    std::vector<T> items;
    try {
        while (auto item = stream.next()) items.push_back(*item);
    } catch (const OllamaError& error) {
        return {items, error};
    }
    return {items, std::nullopt};
}

class ScriptedBridge : public ::testing::Test {
protected:
    ModelServiceBridge& bridgeWith(ClientScript script) {
        bridge_.emplace(scriptedFactory(std::move(script), log));
        return *bridge_;
    }
    void TearDown() override {
        bridge_.reset();  // waits for every job
        EXPECT_EQ(log->clientsAlive, 0) << "no client outlives its operation";
    }
    std::shared_ptr<ClientLog> log = std::make_shared<ClientLog>();

private:
    std::optional<ModelServiceBridge> bridge_;
};

TEST_F(ScriptedBridge, OnlyUserAndAssistantMessagesReachTheModelInOrder) {
    ClientScript script;
    script.chunks = {{true, "ok"}};
    auto& bridge = bridgeWith(script);
    const QList<ChatMessage> transcript = {
        message("question", ChatMessageType::user), message("Error: boom", ChatMessageType::error),
        message("answer", ChatMessageType::assistant), message("again", ChatMessageType::user)};
    drain(bridge.streamChat(transcript, defaultOptions()));
    drain(bridge.streamChat({message("Error: a", ChatMessageType::error)}, defaultOptions()));
    ASSERT_TRUE(bridge.sendChat(transcript, defaultOptions()).result().isSuccess());

    std::lock_guard lock(log->mutex);
    ASSERT_EQ(log->sentMessages.size(), 3u);
    const auto& sent = log->sentMessages[0];
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].role, "user");
    EXPECT_EQ(sent[0].content, "question");
    EXPECT_EQ(sent[1].role, "assistant");
    EXPECT_EQ(sent[1].content, "answer");
    EXPECT_EQ(sent[2].content, "again");
    EXPECT_TRUE(log->sentMessages[1].empty()) << "only error messages: an empty transcript";
    EXPECT_EQ(log->sentMessages[2].size(), 3u);
}

TEST_F(ScriptedBridge, ModelsAreSortedByNameCaseSensitivelyAndSizesKeepTheirBits) {
    ClientScript script;
    script.models = {{"zeta", "d1", 1, "f", "gguf", "1B", "Q4"},
                     {"alpha:7b", "d2", -1, "f", "gguf", "7B", "Q8"},
                     {"Beta", "d3", 3, "f", "gguf", "3B", "F16"}};
    auto result = bridgeWith(script).loadAvailableModels().result();
    ASSERT_TRUE(result.isSuccess());
    const auto& models = result.value();
    ASSERT_EQ(models.size(), 3);
    EXPECT_EQ(models[0].id, "Beta");
    EXPECT_EQ(models[1].id, "alpha:7b");
    EXPECT_EQ(models[2].id, "zeta");
    EXPECT_EQ(models[1].model, "alpha:7b");
    EXPECT_EQ(models[1].size, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(models[1].digest, "d2");
    EXPECT_EQ(models[1].paramSize, "7B");
    EXPECT_EQ(models[1].quantLevel, "Q8");
}

TEST_F(ScriptedBridge, OneShotFailuresCopyTheWholeLastError) {
    ClientScript script;
    script.status = 4;
    script.error = {4, 2, 404, "model 'x' not found"};
    auto& bridge = bridgeWith(script);

    auto models = bridge.loadAvailableModels().result();
    ASSERT_FALSE(models.isSuccess());
    EXPECT_EQ(models.error().errorCode, 4);
    EXPECT_EQ(models.error().osErrorType, 2);
    EXPECT_EQ(models.error().osError, 404);
    EXPECT_EQ(models.error().message, "model 'x' not found");

    EXPECT_FALSE(bridge.deleteOllamaModel("x").result().isSuccess());
    EXPECT_FALSE(bridge.sendChat({}, defaultOptions()).result().isSuccess());
    EXPECT_FALSE(bridge.testOllamaConfiguration().result());

    auto [installed, installError] = drain(bridge.installModel("x"));
    EXPECT_TRUE(installed.empty());
    ASSERT_TRUE(installError);
    EXPECT_EQ(installError->osError, 404);
    EXPECT_EQ(log->polls, 0) << "a refused start is never polled";
}

TEST_F(ScriptedBridge, ACompleteChunkEndsTheStreamWithoutAnotherPoll) {
    ClientScript script;
    script.chunks = {{false, "Hello"}, {true, " world"}, {false, "never read"}};
    auto [chunks, error] = drain(bridgeWith(script).streamChat({}, defaultOptions()));
    EXPECT_FALSE(error);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].content, " world");
    EXPECT_TRUE(chunks[1].isComplete);
    EXPECT_EQ(log->polls, 2);
}

TEST_F(ScriptedBridge, ANullChunkWithCodeZeroIsAFailureWithCodeZero) {
    ClientScript script;
    script.chunks = {{false, "partial"}};
    script.endError = {0, 0, 0, "lost"};
    auto [chunks, error] = drain(bridgeWith(script).streamChat({}, defaultOptions()));
    EXPECT_EQ(chunks.size(), 1u);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->errorCode, 0);
    EXPECT_EQ(error->message, "lost");
}

TEST_F(ScriptedBridge, InstallEndsNormallyOnTheEndCodeEvenWithoutRecords) {
    ClientScript empty;
    auto [none, noError] = drain(bridgeWith(empty).installModel("m"));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(noError);

    ClientScript progress;
    progress.installRecords = {{"pulling manifest", "", 0, 0},
                               {"pulling abc", "sha256:abc", 100, 40}};
    auto [records, error] = drain(bridgeWith(progress).installModel("m"));
    EXPECT_FALSE(error);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].status, "pulling abc");
    EXPECT_EQ(records[1].total, 100);
    EXPECT_EQ(records[1].complete, 40);
}

TEST_F(ScriptedBridge, TextFromTheClientIsDecodedWithRepair) {
    ClientScript script;
    script.chunks = {{true, "caf\xc3\xa9 \xff\xfe!"}};
    script.reply = "ok \xc3";
    auto& bridge = bridgeWith(script);
    auto [chunks, error] = drain(bridge.streamChat({}, defaultOptions()));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_TRUE(chunks[0].content.startsWith(QString::fromUtf8("café ")));
    EXPECT_TRUE(chunks[0].content.contains(QChar(0xFFFD)));
    EXPECT_TRUE(chunks[0].content.endsWith('!'));
    auto reply = bridge.sendChat({}, defaultOptions()).result();
    ASSERT_TRUE(reply.isSuccess());
    EXPECT_EQ(reply.value(), QString("ok ") + QChar(0xFFFD));
}

TEST(BridgeFailures, AJobThatThrowsStillAnswersItsCaller) {
    ModelServiceBridge bridge(
        []() -> std::unique_ptr<ModelClient> { throw std::runtime_error("no client today"); });
    EXPECT_FALSE(bridge.testOllamaConfiguration().result());
    const auto models = bridge.loadAvailableModels().result();
    ASSERT_FALSE(models.isSuccess());
    EXPECT_TRUE(models.error().message.contains("no client today"));
    EXPECT_FALSE(bridge.sendChat({}, defaultOptions()).result().isSuccess());
    auto stream = bridge.streamChat({}, defaultOptions());
    EXPECT_THROW(stream.next(), std::runtime_error);
}

class LiveBridge : public ::testing::Test {
protected:
    LiveBridge() {
        kestrelix::llm::ZuvodAzeduvConfig config;
        config.host = server.baseUrl();
        bridge.emplace(ollamaClientFactory(config));
        server.setModels({ModelInfo::make("llama3.2:latest")});
    }
    FakeOllama server;
    std::optional<ModelServiceBridge> bridge;
};

TEST_F(LiveBridge, OtherOperationsGoOnWhileAReplyIsHeld) {
    ChatScript held = ChatScript::words("one two three");
    held.stallAfter = 1;  // the server holds the reply after its first word
    server.setChatScript(held);
    server.setRegistry({ModelInfo::make("phi3:mini", 4000)});
    auto reply = bridge->streamChat({message("hi", ChatMessageType::user)}, defaultOptions());
    ASSERT_TRUE(reply.next());
    // Queued behind the held reply, none of these would ever end.
    EXPECT_TRUE(bridge->testOllamaConfiguration().result());
    EXPECT_TRUE(bridge->loadAvailableModels().result().isSuccess());
    auto [records, installError] = drain(bridge->installModel("phi3:mini"));
    EXPECT_FALSE(installError);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().status, "success");
}

TEST_F(LiveBridge, AbortAllEndsAStalledStreamAtOnce) {
    ChatScript stalled = ChatScript::words("a b c");
    stalled.stallAfter = 1;
    server.setChatScript(stalled);
    auto stream = bridge->streamChat({message("hi", ChatMessageType::user)}, defaultOptions());
    ASSERT_TRUE(stream.next());
    const auto start = Clock::now();
    bridge->abortAll();
    EXPECT_THROW(stream.next(), OllamaError);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_TRUE(server.waitForAbortedChatStreams(1, 2s));
}

TEST_F(LiveBridge, DestroyingTheBridgeDoesNotWaitForAStalledServer) {
    ChatScript stalled = ChatScript::words("a b c");
    stalled.stallAfter = 0;
    server.setChatScript(stalled);
    auto stream = bridge->streamChat({message("hi", ChatMessageType::user)}, defaultOptions());
    while (server.chatStreamsActive() == 0) std::this_thread::sleep_for(1ms);  // held there
    const auto start = Clock::now();
    bridge.reset();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_THROW(stream.next(), OllamaError);
}

}  // namespace

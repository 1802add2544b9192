// The Ollama client against a fake Ollama server over loopback.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "FakeOllama.h"
#include "HttpTransfer.h"
#include "ZuvodAzeduv.h"

namespace llm = kestrelix::llm;
using parlote::testing::ChatChunk;
using parlote::testing::ChatScript;
using parlote::testing::FakeOllama;
using parlote::testing::HttpReply;
using parlote::testing::ModelInfo;
using parlote::testing::PullScript;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class ZuvodAzeduvTest : public ::testing::Test {
protected:
    ZuvodAzeduvTest() { server.setModels({ModelInfo::make("llama3.2:latest")}); }

    llm::ZuvodAzeduvConfig config() const {
        llm::ZuvodAzeduvConfig c;
        c.host = server.baseUrl();
        c.requestTimeout = 5s;
        c.firstRecordTimeout = 5s;
        c.chatSilenceTimeout = 2s;
        c.pullSilenceTimeout = 2s;
        return c;
    }

    std::vector<llm::OllamaMessage> hello() const { return {{"user", "Hello"}}; }
    llm::SwiftLLMChatOptions options(std::int32_t maxTokens = 2147483647) const {
        return {"llama3.2:latest", 0.7, maxTokens};
    }

    /// The whole streamed reply, or "" when the stream failed; `chunks` counts the pieces.
    std::string streamReply(const llm::ZuvodAzeduv& client, int* chunks = nullptr) {
        if (client.startChat(hello(), options()) != 0) return "";
        std::string reply;
        int count = 0;
        while (auto chunk = client.getNextChunk()) {
            reply += chunk->content;
            ++count;
            if (chunk->isComplete) break;
        }
        if (chunks) *chunks = count;
        return reply;
    }

    FakeOllama server;
};

TEST_F(ZuvodAzeduvTest, LivenessTellsARunningServerFromAStoppedOne) {
    llm::ZuvodAzeduv client(config());
    EXPECT_EQ(client.testConfiguration(), 0);

    auto stopped = config();
    {
        FakeOllama gone;
        stopped.host = gone.baseUrl();
    }  // nothing listens on that port any more
    llm::ZuvodAzeduv down(stopped);
    EXPECT_NE(down.testConfiguration(), 0);
    EXPECT_EQ(down.lastError().errorCode, llm::kConnectionFailed);
    EXPECT_NE(down.lastError().message.find(stopped.host), std::string::npos)
        << "the message names the address: " << down.lastError().message;
}

TEST_F(ZuvodAzeduvTest, LivenessAnswersWithinAboutTwoSecondsWhenTheServerHangs) {
    server.setHangAll(true);
    auto c = config();
    c.livenessTimeout = llm::ZuvodAzeduvConfig{}.livenessTimeout;  // the real default
    llm::ZuvodAzeduv client(c);
    const auto start = Clock::now();
    EXPECT_NE(client.testConfiguration(), 0);
    const auto took = Clock::now() - start;
    EXPECT_EQ(client.lastError().errorCode, llm::kTimedOut);
    EXPECT_LT(took, 3s);
    EXPECT_GE(took, 1500ms);
    server.setHangAll(false);
}

TEST_F(ZuvodAzeduvTest, ModelListKeepsEveryDetailAndToleratesNulls) {
    ModelInfo plain = ModelInfo::make("llama3.2:latest", 2019393189, "3.2B", "Q4_K_M");
    ModelInfo bare = ModelInfo::make("nomic-embed-text:latest", 274302450, "137M", "F16");
    bare.families = std::nullopt;
    bare.family = "";
    server.setModels({plain, bare});

    llm::ZuvodAzeduv client(config());
    const auto models = client.getAvailableModels();
    ASSERT_EQ(client.lastError().errorCode, 0) << client.lastError().message;
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0].name, "llama3.2:latest");
    EXPECT_EQ(models[0].size, 2019393189);
    EXPECT_EQ(models[0].digest.size(), 64u);
    EXPECT_EQ(models[0].family, plain.family);
    EXPECT_EQ(models[0].format, "gguf");
    EXPECT_EQ(models[0].parameterSize, "3.2B");
    EXPECT_EQ(models[0].quantizationLevel, "Q4_K_M");
    EXPECT_EQ(models[1].family, "");

    server.setModels({});
    EXPECT_TRUE(client.getAvailableModels().empty());
    EXPECT_EQ(client.lastError().errorCode, 0);
}

TEST_F(ZuvodAzeduvTest, RemovalReportsAnUnknownModelWithTheServersText) {
    server.setModels({ModelInfo::make("llama3.2:latest")});
    llm::ZuvodAzeduv client(config());
    EXPECT_EQ(client.removeModel("llama3.2:latest"), 0);
    EXPECT_TRUE(server.models().empty());

    EXPECT_NE(client.removeModel("nosuch"), 0);
    EXPECT_EQ(client.lastError().errorCode, llm::kHttpStatus);
    EXPECT_EQ(client.lastError().osErrorType, llm::kOsErrorHttp);
    EXPECT_EQ(client.lastError().osError, 404);
    EXPECT_NE(client.lastError().message.find("model 'nosuch' not found"), std::string::npos);
}

TEST_F(ZuvodAzeduvTest, PullDeliversEveryProgressRecordAndEndsNormallyAfterSuccess) {
    server.setRegistry({ModelInfo::make("phi3:mini", 1000)});
    PullScript script;
    script.layerSizes = {1000};
    script.stepsPerLayer = 3;
    server.setPullScript(script);

    llm::ZuvodAzeduv client(config());
    ASSERT_EQ(client.startInstallModel("phi3:mini"), 0) << client.lastError().message;
    std::vector<std::string> statuses;
    std::int64_t lastCompleted = -1;
    while (auto record = client.getNextInstallStatus()) {
        statuses.push_back(record->status);
        if (record->total > 0) {
            EXPECT_EQ(record->total, 1000);
            EXPECT_GE(record->completed, lastCompleted);
            lastCompleted = record->completed;
            EXPECT_EQ(record->digest.rfind("sha256:", 0), 0u);
        }
    }
    EXPECT_EQ(client.lastError().errorCode, llm::kEndOfStream);
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses.front(), "pulling manifest");
    EXPECT_EQ(statuses.back(), "success");
    EXPECT_EQ(lastCompleted, 1000);
    ASSERT_FALSE(server.models().empty());
    // Polling again after the end keeps reporting the end.
    EXPECT_EQ(client.getNextInstallStatus(), nullptr);
    EXPECT_EQ(client.lastError().errorCode, llm::kEndOfStream);
}

TEST_F(ZuvodAzeduvTest, PullOfAModelTheRegistryDoesNotKnowGivesOneEmptyStatus) {
    llm::ZuvodAzeduv client(config());
    ASSERT_EQ(client.startInstallModel("no-such-model"), 0);
    auto first = client.getNextInstallStatus();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->status, "pulling manifest");
    auto missing = client.getNextInstallStatus();
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->status, "");
    EXPECT_EQ(client.getNextInstallStatus(), nullptr);
    EXPECT_EQ(client.lastError().errorCode, llm::kServerError);
    EXPECT_NE(client.lastError().message.find("file does not exist"), std::string::npos);
}

TEST_F(ZuvodAzeduvTest, PullFailingMidwayEndsWithTheServersError) {
    server.setRegistry({ModelInfo::make("phi3:mini", 1000)});
    PullScript script;
    script.errorAfterSteps = 2;
    script.errorMessage = "max retries exceeded: unexpected EOF";
    server.setPullScript(script);
    llm::ZuvodAzeduv client(config());
    ASSERT_EQ(client.startInstallModel("phi3:mini"), 0);
    int records = 0;
    while (auto record = client.getNextInstallStatus()) {
        EXPECT_FALSE(record->status.empty());
        ++records;
    }
    EXPECT_GE(records, 1);
    EXPECT_EQ(client.lastError().errorCode, llm::kServerError);
    EXPECT_NE(client.lastError().message.find("max retries exceeded"), std::string::npos);
}

TEST_F(ZuvodAzeduvTest, ChatSendsTheTranscriptAndOptionsAsOllamaExpects) {
    server.setChatScript(ChatScript::words("Hi there"));
    llm::ZuvodAzeduv client(config());
    const std::vector<llm::OllamaMessage> transcript = {
        {"user", "Hello"}, {"assistant", "Hi!"}, {"user", "<b>&</b>"}};
    EXPECT_EQ(client.chat(transcript, options()), "Hi there");
    EXPECT_EQ(client.lastError().errorCode, 0);

    const auto sent = server.requestsTo("/api/chat");
    ASSERT_EQ(sent.size(), 1u);
    const auto& body = sent[0].body;
    EXPECT_EQ(body["model"], "llama3.2:latest");
    ASSERT_EQ(body["messages"].size(), 3u);
    EXPECT_EQ(body["messages"][1]["role"], "assistant");
    EXPECT_EQ(body["messages"][2]["content"], "<b>&</b>");
    EXPECT_EQ(body["stream"], true);
    EXPECT_DOUBLE_EQ(body["options"]["temperature"].get<double>(), 0.7);
    EXPECT_EQ(body["options"]["num_predict"], 2147483647);
    EXPECT_FALSE(sent[0].hasHeader("Origin")) << "Ollama refuses requests with an Origin";

    // Ollama treats num_predict 0 as "unlimited": a client without a bound sends none.
    EXPECT_EQ(client.chat(hello(), options(0)), "Hi there");
    EXPECT_FALSE(server.requestsTo("/api/chat").at(1).body["options"].contains("num_predict"));
}

TEST_F(ZuvodAzeduvTest, StreamedChunksArriveInOrderAndTheLastOneIsComplete) {
    server.setChatScript(ChatScript::words("One two three four"));
    llm::ZuvodAzeduv client(config());
    ASSERT_EQ(client.startChat(hello(), options()), 0);
    std::vector<std::string> pieces;
    std::shared_ptr<llm::OllamaChunkInfo> chunk;
    while ((chunk = client.getNextChunk()) && !chunk->isComplete) pieces.push_back(chunk->content);
    ASSERT_NE(chunk, nullptr) << client.lastError().message;
    EXPECT_TRUE(chunk->isComplete);
    EXPECT_EQ(pieces, (std::vector<std::string>{"One", " two", " three", " four"}));
    EXPECT_EQ(client.getNextChunk(), nullptr);
    EXPECT_EQ(client.lastError().errorCode, llm::kEndOfStream);
}

TEST_F(ZuvodAzeduvTest, LinesAndCharactersSplitAcrossReadsAreReassembled) {
    const std::string text = "Grüße aus Köln ✓ 日本語 🦙 done";
    ChatScript script = ChatScript::words(text);
    script.writeSize = 1;  // every byte its own HTTP chunk, splitting every character
    server.setChatScript(script);
    llm::ZuvodAzeduv client(config());
    EXPECT_EQ(streamReply(client), text);

    script = ChatScript::words(text);
    script.linesPerWrite = 4;  // several records in one read
    script.writeSize = 7;
    server.setChatScript(script);
    EXPECT_EQ(streamReply(client), text);
}

TEST_F(ZuvodAzeduvTest, InvalidUtf8IsRepairedNotFatal) {
    ChatScript script;
    script.chunks = {ChatChunk{"ok ", "", false}, ChatChunk{"bad\xff\xfe byte", "", true},
                     ChatChunk{" cut \xe2\x9c", "", true}};
    server.setChatScript(script);
    llm::ZuvodAzeduv client(config());
    const std::string reply = streamReply(client);
    EXPECT_EQ(client.lastError().errorCode, 0) << client.lastError().message;
    EXPECT_EQ(reply.rfind("ok bad", 0), 0u) << reply;
    EXPECT_NE(reply.find("\xef\xbf\xbd"), std::string::npos) << "U+FFFD stands in for bad bytes";
    EXPECT_NE(reply.find(" byte cut "), std::string::npos);
}

TEST_F(ZuvodAzeduvTest, AnErrorLineInsideTheStreamEndsItAsAFailure) {
    ChatScript script = ChatScript::words("Partial answer here");
    script.errorAfter = 2;
    script.errorMessage = "an error was encountered while running the model";
    server.setChatScript(script);
    llm::ZuvodAzeduv client(config());
    int chunks = 0;
    EXPECT_EQ(streamReply(client, &chunks), "Partial answer");
    EXPECT_EQ(chunks, 2);
    EXPECT_EQ(client.lastError().errorCode, llm::kServerError);
    EXPECT_NE(client.lastError().message.find("an error was encountered while running the model"),
              std::string::npos);

    // The one-shot call fails the same way and returns nothing.
    server.setChatScript(script);
    EXPECT_EQ(client.chat(hello(), options()), "");
    EXPECT_EQ(client.lastError().errorCode, llm::kServerError);
}

TEST_F(ZuvodAzeduvTest, HttpErrorsBeforeTheStreamCarryTheServersText) {
    llm::ZuvodAzeduv client(config());
    struct Case {
        HttpReply reply;
        std::string expected;
    };
    const Case cases[] = {
        {HttpReply::jsonError(404, "model 'nosuch' not found"), "model 'nosuch' not found"},
        {HttpReply::busy(), "server busy"},
        {HttpReply::forbidden(), "403"},
        {HttpReply::proxyPage(502), "502"},
        {HttpReply::jsonError(500, "llama runner process has terminated"), "runner process"},
    };
    for (const Case& c : cases) {
        ChatScript script = ChatScript::words("unused");
        script.httpError = c.reply;
        server.setChatScript(script);
        EXPECT_NE(client.startChat(hello(), options()), 0);
        EXPECT_EQ(client.lastError().errorCode, llm::kHttpStatus);
        EXPECT_EQ(client.lastError().osError, c.reply.status);
        EXPECT_NE(client.lastError().message.find(c.expected), std::string::npos)
            << client.lastError().message;
        EXPECT_EQ(client.getNextChunk(), nullptr) << "no stream after a refused start";
    }
}

TEST_F(ZuvodAzeduvTest, AStreamThatBreaksOffIsAFailureNotANormalEnd) {
    llm::ZuvodAzeduv client(config());
    ChatScript dropped = ChatScript::words("a b c d");
    dropped.dropAfter = 2;
    server.setChatScript(dropped);
    EXPECT_EQ(streamReply(client), "a b");
    EXPECT_EQ(client.lastError().errorCode, llm::kConnectionLost) << client.lastError().message;

    ChatScript unfinished = ChatScript::words("a b c d");
    unfinished.omitDone = true;
    server.setChatScript(unfinished);
    EXPECT_EQ(streamReply(client), "a b c d");
    EXPECT_EQ(client.lastError().errorCode, llm::kConnectionLost);
}

TEST_F(ZuvodAzeduvTest, SilenceEndsAStreamButASlowModelLoadDoesNot) {
    auto c = config();
    c.chatSilenceTimeout = 300ms;
    llm::ZuvodAzeduv client(c);

    ChatScript slowLoad = ChatScript::words("loaded at last");
    slowLoad.firstByteDelay = 1200ms;  // longer than the silence bound
    server.setChatScript(slowLoad);
    EXPECT_EQ(streamReply(client), "loaded at last") << client.lastError().message;

    ChatScript stalled = ChatScript::words("a b c d");
    stalled.stallAfter = 2;
    server.setChatScript(stalled);
    const auto start = Clock::now();
    EXPECT_EQ(streamReply(client), "a b");
    EXPECT_EQ(client.lastError().errorCode, llm::kTimedOut);
    EXPECT_LT(Clock::now() - start, 3s);
    server.releaseStalls();
}

TEST_F(ZuvodAzeduvTest, SeparateThinkingBecomesOneLeadingThinkBlock) {
    ChatScript script;
    script.chunks = {ChatChunk{"", "Let me", false}, ChatChunk{"", " think.", false},
                     ChatChunk{"The", "", false}, ChatChunk{" answer.", "", false}};
    server.setChatScript(script);
    llm::ZuvodAzeduv client(config());
    EXPECT_EQ(streamReply(client), "<think>Let me think.</think>\n\nThe answer.");

    // A model stopped while still thinking still gets its block closed.
    script.chunks = {ChatChunk{"", "Hmm", false}};
    server.setChatScript(script);
    EXPECT_EQ(streamReply(client), "<think>Hmm</think>");
}

TEST_F(ZuvodAzeduvTest, AVeryLongRecordArrivesWhole) {
    const std::string big(3 * 1024 * 1024, 'x');
    ChatScript script;
    script.chunks = {ChatChunk{big, "", false}, ChatChunk{"!", "", false}};
    script.writeSize = 65536;
    server.setChatScript(script);
    llm::ZuvodAzeduv client(config());
    EXPECT_EQ(streamReply(client), big + "!");
}

TEST_F(ZuvodAzeduvTest, ALineOverTheLimitEndsTheStreamAfterTheChunksBeforeIt) {
    auto c = config();
    c.maxLineBytes = 4096;
    llm::ZuvodAzeduv client(c);
    ChatScript script;
    script.chunks = {ChatChunk{"One", "", false}, ChatChunk{" two", "", false},
                     ChatChunk{std::string(10000, 'y'), "", false}, ChatChunk{" four", "", false}};
    for (const std::size_t writeSize : {std::size_t(0), std::size_t(512)}) {
        script.writeSize = writeSize;  // 512: the limit is seen before the line's end arrives
        server.setChatScript(script);
        int chunks = 0;
        EXPECT_EQ(streamReply(client, &chunks), "One two");
        EXPECT_EQ(chunks, 2);
        EXPECT_EQ(client.lastError().errorCode, llm::kMalformedResponse);
        EXPECT_EQ(client.lastError().message, "Ollama at " + server.baseUrl() +
                                                  " sent a line longer than 4 KiB; the answer "
                                                  "was stopped.");
        EXPECT_EQ(client.getNextChunk(), nullptr);
        EXPECT_EQ(client.lastError().errorCode, llm::kMalformedResponse)
            << "the end stays a failure";
    }
}

TEST_F(ZuvodAzeduvTest, ALineThatNeverEndsIsStoppedAtTheDefaultLimit) {
    ChatScript script = ChatScript::words("Start here");
    script.endlessLineAfter = 1;
    server.setChatScript(script);
    llm::ZuvodAzeduv client(config());
    EXPECT_EQ(streamReply(client), "Start");
    EXPECT_EQ(client.lastError().errorCode, llm::kMalformedResponse);
    EXPECT_NE(client.lastError().message.find("longer than 16 MiB"), std::string::npos)
        << client.lastError().message;
    EXPECT_TRUE(server.waitForAbortedChatStreams(1, 2s)) << "the connection is closed";
}

TEST_F(ZuvodAzeduvTest, MemoryStaysBoundedWhileALineNeverEnds) {
    ChatScript script = ChatScript::words("Start");
    script.endlessLineAfter = 1;
    server.setChatScript(script);
    llm::detail::HttpRequest request;
    request.method = "POST";
    request.url = server.baseUrl() + "/api/chat";
    request.body = R"({"model":"llama3.2:latest","messages":[{"role":"user","content":"Hi"}]})";
    request.maxLineBytes = 64 * 1024;
    llm::detail::HttpTransfer transfer(request);
    const auto deadline = Clock::now() + 5s;
    ASSERT_EQ(transfer.waitForHeaders(deadline), llm::detail::HttpTransfer::Outcome::ready);
    std::string line;
    ASSERT_EQ(transfer.nextLine(line, deadline), llm::detail::HttpTransfer::Outcome::ready);
    EXPECT_NE(line.find("\"Start\""), std::string::npos);
    EXPECT_EQ(transfer.nextLine(line, deadline), llm::detail::HttpTransfer::Outcome::lineTooLong);
    EXPECT_EQ(transfer.nextLine(line, deadline), llm::detail::HttpTransfer::Outcome::lineTooLong);
    EXPECT_GT(transfer.peakHeld(), request.maxLineBytes);
    EXPECT_LE(transfer.peakHeld(), transfer.holdLimit());
    EXPECT_LE(transfer.holdLimit(), std::size_t(4) << 20);
}

TEST_F(ZuvodAzeduvTest, AWholeReplyOverItsLimitFailsAndStopsTheTransfer) {
    auto c = config();
    c.maxReplyBytes = 10;
    llm::ZuvodAzeduv client(c);
    server.setChatScript(ChatScript::words("0123 56789"));
    EXPECT_EQ(client.chat(hello(), options()), "0123 56789") << "exactly at the limit";
    EXPECT_EQ(client.lastError().errorCode, 0);

    ChatScript script = ChatScript::words("This reply is far too long for a title");
    script.stallAfter = 4;  // the server would wait here: only stopping ends the request
    server.setChatScript(script);
    EXPECT_EQ(client.chat(hello(), options()), "");
    EXPECT_EQ(client.lastError().errorCode, llm::kMalformedResponse);
    EXPECT_EQ(client.lastError().message, "The reply from Ollama at " + server.baseUrl() +
                                              " is longer than 10 bytes; it was stopped.");
    EXPECT_TRUE(server.waitForAbortedChatStreams(1, 2s));
}

TEST_F(ZuvodAzeduvTest, DestroyingTheClientMidStreamClosesTheConnectionAtOnce) {
    ChatScript script = ChatScript::words("a b c d");
    script.stallAfter = 1;
    server.setChatScript(script);
    {
        llm::ZuvodAzeduv client(config());
        ASSERT_EQ(client.startChat(hello(), options()), 0);
        ASSERT_NE(client.getNextChunk(), nullptr);
    }
    EXPECT_TRUE(server.waitForAbortedChatStreams(1, 2s));
}

TEST_F(ZuvodAzeduvTest, AbortFromAnotherThreadEndsABlockedPoll) {
    ChatScript script = ChatScript::words("a b");
    script.stallAfter = 1;
    server.setChatScript(script);
    llm::ZuvodAzeduv client(config());
    ASSERT_EQ(client.startChat(hello(), options()), 0);
    ASSERT_NE(client.getNextChunk(), nullptr);
    auto poll = std::async(std::launch::async, [&] { return client.getNextChunk(); });
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    client.abort();
    ASSERT_EQ(poll.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(poll.get(), nullptr);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(client.lastError().errorCode, llm::kAborted);
    EXPECT_NE(client.testConfiguration(), 0) << "an aborted client stays aborted";
}

TEST_F(ZuvodAzeduvTest, LoopbackRequestsBypassAConfiguredProxy) {
    // A proxy that does not exist: a request sent through it would fail.
    ::setenv("http_proxy", "http://127.0.0.1:9", 1);
    ::setenv("HTTP_PROXY", "http://127.0.0.1:9", 1);
    llm::ZuvodAzeduv client(config());
    const int status = client.testConfiguration();
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    EXPECT_EQ(status, 0) << client.lastError().message;
}

TEST_F(ZuvodAzeduvTest, AnUnusableHostIsReportedByEveryCall) {
    auto c = config();
    c.host = "ftp://somewhere";
    llm::ZuvodAzeduv client(c);
    EXPECT_NE(client.testConfiguration(), 0);
    EXPECT_TRUE(client.getAvailableModels().empty());
    EXPECT_EQ(client.lastError().errorCode, llm::kInvalidRequest);
    EXPECT_NE(client.lastError().message.find("ftp://somewhere"), std::string::npos);
}

}  // namespace

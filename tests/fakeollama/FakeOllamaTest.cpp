// Checks that the fake server puts on the wire what tests of the client rely
// on: Go-exact JSON, the requested delivery shape, the injected faults, and a
// prompt shutdown whatever the streams are doing.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "FakeOllama.h"
#include "GoJson.h"

namespace parlote::testing {
namespace {

using namespace std::chrono_literals;

// A response as the client saw it: one piece per HTTP chunk it read.
struct Received {
    int status = 0;
    httplib::Error error = httplib::Error::Success;
    std::vector<std::string> pieces;
    std::string body;
    std::string contentType;

    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (std::size_t start = 0, end; (end = body.find('\n', start)) != std::string::npos; start = end + 1)
            out.push_back(body.substr(start, end - start));
        return out;
    }
};

// Sends a request and collects the body piece by piece; `keepReading`
// returning false makes the client hang up.
Received send(const FakeOllama& server, const std::string& method, const std::string& path,
              const std::string& body = {}, std::function<bool(const Received&)> keepReading = {})
{
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(10, 0);
    httplib::Request req;
    req.method = method;
    req.path = path;
    req.body = body;
    if (!body.empty()) req.set_header("Content-Type", "application/json");
    Received got;
    req.content_receiver = [&](const char* data, std::size_t size, std::uint64_t, std::uint64_t) {
        got.pieces.emplace_back(data, size);
        got.body.append(data, size);
        return !keepReading || keepReading(got);
    };
    httplib::Response res;
    client.send(req, res, got.error);
    got.status = res.status;
    got.contentType = res.get_header_value("Content-Type");
    if (got.body.empty()) got.body = res.body;
    return got;
}

const std::string kChat = R"({"model":"llama3.2","messages":[{"role":"user","content":"hi"}]})";

std::string withoutTimestamps(std::string line)
{
    const std::string key = R"("created_at":")";
    if (const auto start = line.find(key); start != std::string::npos) {
        const auto valueStart = start + key.size();
        line.replace(valueStart, line.find('"', valueStart) - valueStart, "T");
    }
    return line;
}

class FakeOllamaTest : public ::testing::Test {
protected:
    void SetUp() override { server.setModels({ModelInfo::make("llama3.2")}); }
    FakeOllama server;
};

TEST(GoJsonTest, EscapesStringsLikeGoEncodingJson)
{
    EXPECT_EQ(gojson::quote("<think>a & b</think>"), R"("\u003cthink\u003ea \u0026 b\u003c/think\u003e")");
    EXPECT_EQ(gojson::quote("q\"\\\n\r\t\b\f\x01\x7f"), R"("q\"\\\n\r\t\b\f\u0001)" "\x7f\"");
    EXPECT_EQ(gojson::quote("\xE2\x80\xA8\xE2\x80\xA9"), R"("\u2028\u2029")");
    EXPECT_EQ(gojson::quote("é€😀"), "\"é€😀\"");
    // Each byte of an invalid sequence becomes one replacement escape.
    EXPECT_EQ(gojson::quote("a\xFF" "b"), R"("a\ufffdb")");
    EXPECT_EQ(gojson::quote("\xC0\x80"), R"("\ufffd\ufffd")");          // overlong
    EXPECT_EQ(gojson::quote("\xED\xA0\x80"), R"("\ufffd\ufffd\ufffd")");  // surrogate
    EXPECT_EQ(gojson::quote("\xE2\x82"), R"("\ufffd\ufffd")");          // truncated
}

TEST(GoJsonTest, TimestampsDropTrailingZerosAndUseUtc)
{
    // "2025-10-26T17:15:24Z" or "2025-10-26T17:15:24.097767Z": at most nine
    // fraction digits, never ending in 0.
    const std::string stamp = gojson::nowRfc3339Nano();
    ASSERT_GE(stamp.size(), 20u);
    EXPECT_EQ(stamp.substr(4, 1) + stamp.substr(7, 1) + stamp.substr(10, 1) + stamp.substr(13, 1) + stamp.substr(16, 1),
              "--T::");
    EXPECT_EQ(stamp.back(), 'Z');
    if (stamp.size() > 20) {
        EXPECT_EQ(stamp[19], '.');
        EXPECT_LE(stamp.size(), 30u);
        EXPECT_NE(stamp[stamp.size() - 2], '0');
    }
}

TEST_F(FakeOllamaTest, ChatStreamIsByteExactNdjson)
{
    ChatScript script;
    script.chunks = {{"<b>", "", false}, {"", "hmm", false}};
    script.metrics = ChatMetrics{100, 0, 26, 0, 2, 50};  // zeros must be left out
    server.setChatScript(script);

    const Received got = send(server, "POST", "/api/chat", kChat);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.contentType, "application/x-ndjson");
    ASSERT_EQ(got.body.back(), '\n');
    const auto lines = got.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(withoutTimestamps(lines[0]),
              R"({"model":"llama3.2","created_at":"T","message":{"role":"assistant","content":"\u003cb\u003e"},"done":false})");
    EXPECT_EQ(withoutTimestamps(lines[1]),
              R"({"model":"llama3.2","created_at":"T","message":{"role":"assistant","content":"","thinking":"hmm"},"done":false})");
    EXPECT_EQ(withoutTimestamps(lines[2]),
              R"({"model":"llama3.2","created_at":"T","message":{"role":"assistant","content":""},"done":true,"done_reason":"stop","total_duration":100,"prompt_eval_count":26,"eval_count":2,"eval_duration":50})");
}

TEST_F(FakeOllamaTest, DeliveryShapeSplitsAndGroupsWrites)
{
    ChatScript split;
    split.chunks = {{"é€", "", false}};
    split.omitDone = true;
    split.writeSize = 1;
    server.setChatScript(split);
    Received got = send(server, "POST", "/api/chat", kChat);
    ASSERT_EQ(got.lines().size(), 1u);
    EXPECT_EQ(got.pieces.size(), got.body.size()) << "every byte, even inside a character, in its own chunk";
    EXPECT_NE(got.body.find("\"content\":\"é€\""), std::string::npos);

    ChatScript grouped = ChatScript::repeated(5, "x");
    grouped.linesPerWrite = 3;
    server.setChatScript(grouped);
    got = send(server, "POST", "/api/chat", kChat);
    ASSERT_EQ(got.lines().size(), 6u);
    ASSERT_EQ(got.pieces.size(), 2u);
    EXPECT_EQ(std::count(got.pieces[0].begin(), got.pieces[0].end(), '\n'), 3);
}

TEST_F(FakeOllamaTest, RawChunkSendsInvalidUtf8Unchanged)
{
    ChatScript script;
    script.chunks = {{"ok\xFF\xFE", "", true}};
    server.setChatScript(script);
    const Received got = send(server, "POST", "/api/chat", kChat);
    EXPECT_NE(got.body.find("\"content\":\"ok\xFF\xFE\"}"), std::string::npos);
}

TEST_F(FakeOllamaTest, ChatRequestsAreCheckedLikeTheServerChecksThem)
{
    ModelInfo thinker = ModelInfo::make("qwen3:8b");
    thinker.capabilities = {"completion", "thinking"};
    server.setModels({ModelInfo::make("llama3.2"), thinker});
    const auto chat = [&](const std::string& body) { return send(server, "POST", "/api/chat", body); };

    Received got = chat(R"({"model":"nosuch","messages":[{"role":"user","content":"hi"}]})");
    EXPECT_EQ(got.status, 404);
    EXPECT_EQ(got.body, R"({"error":"model 'nosuch' not found"})");
    got = chat(R"({"model":"llama3.2","think":true,"messages":[{"role":"user","content":"hi"}]})");
    EXPECT_EQ(got.status, 400);
    EXPECT_EQ(got.body, R"({"error":"\"llama3.2\" does not support thinking"})");
    got = chat(R"({"model":"llama3.2","options":{"num_predict":"9"},"messages":[{"role":"user","content":"hi"}]})");
    EXPECT_EQ(got.status, 500);
    got = chat(R"({"model":"llama3.2:latest"})");
    EXPECT_EQ(withoutTimestamps(got.body),
              R"({"model":"llama3.2:latest","created_at":"T","message":{"role":"assistant","content":""},"done":true,"done_reason":"load"})");

    ChatScript script;
    script.chunks = {{"", "hmm", false}, {"A", "", false}, {"B", "", false}, {"C", "", false}};
    server.setChatScript(script);
    got = chat(R"({"model":"qwen3:8b","stream":false,"options":{"num_predict":3},"messages":[{"role":"user","content":"hi"}]})");
    EXPECT_EQ(got.contentType, "application/json; charset=utf-8");
    EXPECT_NE(got.body.find(R"("message":{"role":"assistant","content":"AB","thinking":"hmm"},"done":true,"done_reason":"length")"),
              std::string::npos);
    got = chat(R"({"model":"qwen3:8b","think":false,"messages":[{"role":"user","content":"hi"}]})");
    EXPECT_EQ(got.lines().size(), 4u);
    EXPECT_EQ(got.body.find("thinking"), std::string::npos);
}

TEST_F(FakeOllamaTest, StreamFaultsEndTheStreamAsScripted)
{
    ChatScript script = ChatScript::repeated(5, "x");
    script.errorAfter = 2;
    script.errorMessage = "boom";
    server.setChatScript(script);
    Received got = send(server, "POST", "/api/chat", kChat);
    ASSERT_EQ(got.lines().size(), 3u);
    EXPECT_EQ(got.lines()[2], R"({"error":"boom"})");
    EXPECT_EQ(got.status, 200);

    script = ChatScript::repeated(2, "x");
    script.omitDone = true;
    server.setChatScript(script);
    got = send(server, "POST", "/api/chat", kChat);
    EXPECT_EQ(got.error, httplib::Error::Success);
    EXPECT_EQ(got.lines().size(), 2u);

    script = ChatScript::repeated(5, "x");
    script.dropAfter = 2;
    server.setChatScript(script);
    got = send(server, "POST", "/api/chat", kChat);
    EXPECT_NE(got.error, httplib::Error::Success) << "the chunked body must end without its terminator";
    EXPECT_EQ(got.lines().size(), 2u);

    script.dropAfter.reset();
    script.httpError = HttpReply::forbidden();
    server.setChatScript(script);
    got = send(server, "POST", "/api/chat", kChat);
    EXPECT_EQ(got.status, 403);
    EXPECT_EQ(got.body, "");
}

TEST_F(FakeOllamaTest, ClientHangingUpDuringStallCountsAsAbortedStream)
{
    ChatScript script = ChatScript::repeated(3, "x");
    script.stallAfter = 1;
    server.setChatScript(script);
    const Received got = send(server, "POST", "/api/chat", kChat,
                              [](const Received& r) { return r.lines().empty(); });
    EXPECT_EQ(got.lines().size(), 1u);
    EXPECT_TRUE(server.waitForAbortedChatStreams(1, 2s));
    EXPECT_EQ(server.chatStreamsActive(), 0);
}

TEST_F(FakeOllamaTest, StallContinuesAfterRelease)
{
    ChatScript script = ChatScript::repeated(3, "x");
    script.stallAfter = 1;
    server.setChatScript(script);
    std::thread releaser([&] {
        while (server.chatStreamsActive() == 0) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(50ms);
        server.releaseStalls();
    });
    const Received got = send(server, "POST", "/api/chat", kChat);
    releaser.join();
    EXPECT_EQ(got.lines().size(), 4u);
    EXPECT_EQ(server.chatStreamsAborted(), 0);
}

TEST(FakeOllamaLifecycle, DestructorReleasesStalledAndHangingRequestsPromptly)
{
    auto server = std::make_unique<FakeOllama>();
    server->setModels({ModelInfo::make("llama3.2")});
    ChatScript script = ChatScript::repeated(3, "x");
    script.stallAfter = 1;
    script.chunkDelay = 1h;
    server->setChatScript(script);
    std::thread streaming([&, port = server->port()] {
        httplib::Client client("127.0.0.1", port);
        client.Post("/api/chat", kChat, "application/json");
    });
    while (server->chatStreamsActive() == 0) std::this_thread::sleep_for(1ms);
    server->setHangAll(true);
    std::thread hanging([&, port = server->port()] { httplib::Client("127.0.0.1", port).Get("/api/tags"); });
    while (server->requests().size() < 2) std::this_thread::sleep_for(1ms);

    const auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    streaming.join();
    hanging.join();
}

TEST_F(FakeOllamaTest, PullInstallsModelAndDeleteRemovesIt)
{
    server.setRegistry({ModelInfo::make("phi3:mini", 1000)});
    PullScript pull;
    pull.layerSizes = {1000, 10};
    pull.stepsPerLayer = 2;
    server.setPullScript(pull);

    Received got = send(server, "POST", "/api/pull", R"({"model":"phi3:mini"})");
    auto lines = got.lines();
    ASSERT_EQ(lines.size(), 1u + 2 * 3 + 3);
    EXPECT_EQ(lines[0], R"({"status":"pulling manifest"})");
    EXPECT_EQ(lines[1].find(R"(,"total":1000})"), lines[1].size() - 14) << "completed omitted while 0";
    EXPECT_NE(lines[3].find(R"("total":1000,"completed":1000})"), std::string::npos);
    EXPECT_EQ(lines.back(), R"({"status":"success"})");
    ASSERT_EQ(server.models().size(), 2u);
    EXPECT_EQ(server.models().front().name, "phi3:mini");

    got = send(server, "DELETE", "/api/delete", R"({"model":"phi3:mini"})");
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, "");
    got = send(server, "DELETE", "/api/delete", R"({"model":"phi3:mini"})");
    EXPECT_EQ(got.status, 404);
    EXPECT_EQ(got.body, R"({"error":"model 'phi3:mini' not found"})");
}

TEST_F(FakeOllamaTest, PullOfUnknownModelFailsLikeTheRegistry)
{
    Received got = send(server, "POST", "/api/pull", R"({"model":"nosuch"})");
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, "{\"status\":\"pulling manifest\"}\n{\"error\":\"pull model manifest: file does not exist\"}\n");
    got = send(server, "POST", "/api/pull", R"({"model":"nosuch","stream":false})");
    EXPECT_EQ(got.status, 500);
    EXPECT_EQ(got.body, R"({"error":"pull model manifest: file does not exist"})");
}

TEST_F(FakeOllamaTest, RecordsRequestsAndAnswersUnknownRoutesAsText)
{
    send(server, "POST", "/api/chat", R"({"model":"llama3.2","messages":[],"options":{"num_predict":7}})");
    const auto chats = server.requestsTo("/api/chat");
    ASSERT_EQ(chats.size(), 1u);
    EXPECT_EQ(chats[0].body["options"]["num_predict"], 7);
    EXPECT_EQ(chats[0].header("content-type"), "application/json");
    EXPECT_FALSE(chats[0].hasHeader("Origin"));

    const Received got = send(server, "GET", "/api/nothing");
    EXPECT_EQ(got.status, 404);
    EXPECT_EQ(got.body, "404 page not found");
    EXPECT_EQ(got.contentType, "text/plain; charset=utf-8");
}

}  // namespace
}  // namespace parlote::testing

// What the fake server must get right so that a fault of Parlote's cannot hide
// behind it: Go-exact JSON with the fields a real server sends (escapes, metrics,
// fields left out while zero), writes really cut where a script asks, invalid UTF-8
// sent as it is, and the records that tests of the client read their checks from
// (requests received, streams the client left). Where the fake is wrong in a way
// that makes those tests fail instead, it is not tested here.

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <string>
#include <vector>

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

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (std::size_t start = 0, end; (end = body.find('\n', start)) != std::string::npos;
             start = end + 1)
            out.push_back(body.substr(start, end - start));
        return out;
    }
};

// Sends a request and collects the body piece by piece; `keepReading`
// returning false makes the client hang up.
Received send(const FakeOllama& server, const std::string& method, const std::string& path,
              const std::string& body = {}, std::function<bool(const Received&)> keepReading = {}) {
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

std::string withoutTimestamps(std::string line) {
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

TEST(GoJsonTest, EscapesStringsLikeGoEncodingJson) {
    EXPECT_EQ(gojson::quote("<think>a & b</think>"),
              R"("\u003cthink\u003ea \u0026 b\u003c/think\u003e")");
    EXPECT_EQ(gojson::quote("q\"\\\n\r\t\b\f\x01\x7f"), R"("q\"\\\n\r\t\b\f\u0001)"
                                                        "\x7f\"");
    EXPECT_EQ(gojson::quote("\xE2\x80\xA8\xE2\x80\xA9"), R"("\u2028\u2029")");
    EXPECT_EQ(gojson::quote("é€😀"), "\"é€😀\"");
    // Each byte of an invalid sequence becomes one replacement escape.
    EXPECT_EQ(gojson::quote("a\xFF"
                            "b"),
              R"("a\ufffdb")");
    EXPECT_EQ(gojson::quote("\xC0\x80"), R"("\ufffd\ufffd")");            // overlong
    EXPECT_EQ(gojson::quote("\xED\xA0\x80"), R"("\ufffd\ufffd\ufffd")");  // surrogate
    EXPECT_EQ(gojson::quote("\xE2\x82"), R"("\ufffd\ufffd")");            // truncated
}

TEST_F(FakeOllamaTest, ChatStreamIsByteExactNdjson) {
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
    EXPECT_EQ(
        withoutTimestamps(lines[0]),
        R"({"model":"llama3.2","created_at":"T","message":{"role":"assistant","content":"\u003cb\u003e"},"done":false})");
    EXPECT_EQ(
        withoutTimestamps(lines[1]),
        R"({"model":"llama3.2","created_at":"T","message":{"role":"assistant","content":"","thinking":"hmm"},"done":false})");
    EXPECT_EQ(
        withoutTimestamps(lines[2]),
        R"({"model":"llama3.2","created_at":"T","message":{"role":"assistant","content":""},"done":true,"done_reason":"stop","total_duration":100,"prompt_eval_count":26,"eval_count":2,"eval_duration":50})");
}

TEST_F(FakeOllamaTest, DeliveryShapeSplitsAndGroupsWrites) {
    ChatScript split;
    split.chunks = {{"é€", "", false}};
    split.omitDone = true;
    split.writeSize = 1;
    server.setChatScript(split);
    Received got = send(server, "POST", "/api/chat", kChat);
    ASSERT_EQ(got.lines().size(), 1u);
    EXPECT_EQ(got.pieces.size(), got.body.size())
        << "every byte, even inside a character, in its own chunk";
    EXPECT_NE(got.body.find("\"content\":\"é€\""), std::string::npos);

    ChatScript grouped = ChatScript::repeated(5, "x");
    grouped.linesPerWrite = 3;
    server.setChatScript(grouped);
    got = send(server, "POST", "/api/chat", kChat);
    ASSERT_EQ(got.lines().size(), 6u);
    ASSERT_EQ(got.pieces.size(), 2u);
    EXPECT_EQ(std::count(got.pieces[0].begin(), got.pieces[0].end(), '\n'), 3);
}

TEST_F(FakeOllamaTest, RawChunkSendsInvalidUtf8Unchanged) {
    ChatScript script;
    script.chunks = {{"ok\xFF\xFE", "", true}};
    server.setChatScript(script);
    const Received got = send(server, "POST", "/api/chat", kChat);
    EXPECT_NE(got.body.find("\"content\":\"ok\xFF\xFE\"}"), std::string::npos);
}

TEST_F(FakeOllamaTest, PullProgressLeavesOutCompletedWhileItIsZero) {
    server.setRegistry({ModelInfo::make("phi3:mini", 1000)});
    PullScript pull;
    pull.layerSizes = {1000};
    pull.stepsPerLayer = 2;
    server.setPullScript(pull);
    const auto lines = send(server, "POST", "/api/pull", R"({"model":"phi3:mini"})").lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1].find("completed"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find(R"("total":1000,"completed":1000})"), std::string::npos) << lines[3];
}

// Tests of the client count on these records to see what it sent, what it did not
// send, and that it closed a connection.

TEST_F(FakeOllamaTest, RequestsAreRecordedWithTheirParsedBody) {
    send(server, "POST", "/api/chat",
         R"({"model":"llama3.2","messages":[],"options":{"num_predict":7}})");
    send(server, "GET", "/api/tags");
    const auto chats = server.requestsTo("/api/chat");
    ASSERT_EQ(chats.size(), 1u);
    EXPECT_EQ(chats[0].body["options"]["num_predict"], 7);
    EXPECT_EQ(chats[0].header("content-type"), "application/json");
    EXPECT_FALSE(chats[0].hasHeader("Origin"));
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(FakeOllamaTest, OnlyAStreamTheClientLeftCountsAsAborted) {
    server.setChatScript(ChatScript::repeated(3, "x"));
    EXPECT_EQ(send(server, "POST", "/api/chat", kChat).lines().size(), 4u);
    EXPECT_EQ(server.chatStreamsAborted(), 0);

    ChatScript script = ChatScript::repeated(3, "x");
    script.stallAfter = 1;
    server.setChatScript(script);
    const Received got = send(server, "POST", "/api/chat", kChat,
                              [](const Received& r) { return r.lines().empty(); });
    EXPECT_EQ(got.lines().size(), 1u);
    EXPECT_TRUE(server.waitForAbortedChatStreams(1, 2s));
    EXPECT_EQ(server.chatStreamsAborted(), 1);
    EXPECT_EQ(server.chatStreamsActive(), 0);
}

TEST_F(FakeOllamaTest, PicturesMustBeStandardBase64OfAPicture) {
    const auto chatWith = [&](const std::string& image) {
        return send(server, "POST", "/api/chat",
                    R"({"model":"llama3.2","messages":[{"role":"user","content":"hi","images":[")" +
                        image + R"("]}]})");
    };
    // "\x89PNG\r\n\x1a\n" and a little more, in base64.
    EXPECT_EQ(chatWith("iVBORw0KGgoAAAANSUhEUg==").status, 200);
    Received bad = chatWith("data:image/png;base64,iVBORw0KGgo=");
    EXPECT_EQ(bad.status, 400);
    EXPECT_EQ(bad.body, R"({"error":"illegal base64 data at input byte 4"})");
    EXPECT_EQ(chatWith("iVBORw0KGgo").status, 400) << "padding is required";
    EXPECT_EQ(chatWith("iVBORw0K\\nGgo=").status, 200) << "line breaks are skipped";
    bad = chatWith("aGVsbG8gd29ybGQ=");  // "hello world"
    EXPECT_EQ(bad.status, 500);
    EXPECT_NE(bad.body.find("unknown format"), std::string::npos);
}

TEST_F(FakeOllamaTest, RunningModelsFollowLoadsAndUnloads) {
    server.setModels(FakeOllama::standardModels());
    EXPECT_EQ(send(server, "GET", "/api/ps").body, R"({"models":[]})");
    send(
        server, "POST", "/api/chat",
        R"({"model":"qwen3:8b","messages":[{"role":"user","content":"hi"}],"options":{"num_ctx":8192}})");
    const auto loaded = server.loadedModels();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].name, "qwen3:8b");
    EXPECT_EQ(loaded[0].contextLength, 8192);
    const auto ps = nlohmann::ordered_json::parse(send(server, "GET", "/api/ps").body);
    std::vector<std::string> keys;
    for (const auto& [key, value] : ps["models"][0].items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"name", "model", "size", "digest", "details",
                                              "expires_at", "size_vram", "context_length"}));
    const Received unload =
        send(server, "POST", "/api/chat", R"({"model":"nomic-embed-text","keep_alive":0})");
    EXPECT_EQ(unload.status, 200) << "unloading comes before the capability check";
    send(server, "POST", "/api/chat", R"({"model":"qwen3:8b","keep_alive":"0s"})");
    EXPECT_TRUE(server.loadedModels().empty());
}

}  // namespace
}  // namespace parlote::testing

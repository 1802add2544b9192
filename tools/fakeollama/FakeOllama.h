// A scriptable, in-process imitation of an Ollama server for tests, benchmarks
// and demos.
//
// FakeOllama runs a cpp-httplib server on its own threads and answers the
// native API the way a real Ollama 0.12.6 does on the wire: compact Go-style
// JSON (Go struct field order, `omitempty` fields left out when zero, `<` `>`
// `&` escaped as \u003c \u003e \u0026), NDJSON streams sent chunked with one
// object per line, `{"error":"..."}` bodies, and `404 page not found` for
// unknown routes.
//
// Routes: GET/HEAD /, GET/HEAD /api/version, GET /api/tags, GET /api/ps,
// POST /api/show, POST /api/chat, POST /api/pull, DELETE /api/delete. A known path with the
// wrong method gets 405, anything else 404, both as text/plain.
// Chat and show find models by name, with ":latest" implied when no tag is
// given; the reply echoes the name exactly as the request spelled it.
//
// Every setter may be called from the test thread while the server serves
// requests; state is guarded by one mutex. A request takes a snapshot of the
// script it needs when it starts, so changing a script affects later requests
// only (stall release and "hang all" act on running requests too).
//
// The destructor stops promptly: every delay, stall and hang waits on a stop
// flag, so a test never waits for a scripted delay to run out.
//
// Typical use:
//
//     parlote::testing::FakeOllama server;
//     server.setModels({parlote::testing::ModelInfo::make("llama3.2:latest")});
//     server.setChatScript(parlote::testing::ChatScript::words("Hello there, friend."));
//     client.setBaseUrl(server.baseUrl());
//     ...
//     EXPECT_EQ(server.requestsTo("/api/chat").at(0).body["options"]["num_predict"], 64);
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace parlote::testing {

using Milliseconds = std::chrono::milliseconds;

// One installed (or pullable) model as /api/tags and /api/show describe it.
struct ModelInfo {
    std::string name;    // canonical "name:tag"; a name without a tag gets ":latest"
    std::string digest;  // 64 hex chars, no "sha256:"; derived from the name when empty
    std::int64_t size = 0;
    std::string format = "gguf";
    std::string family;
    // nullopt is serialised as `"families":null`, as servers do for models
    // whose config lists none.
    std::optional<std::vector<std::string>> families;
    std::string parameterSize;      // e.g. "3.2B"
    std::string quantizationLevel;  // e.g. "Q4_K_M"
    std::string modifiedAt;         // RFC 3339; a fixed date when empty
    // Reported by /api/show (left out when empty, as servers before 0.6.4 do). "thinking"
    // allows `"think":true`; a model without "completion" (an embedding model) refuses chat
    // with 400.
    std::vector<std::string> capabilities = {"completion"};
    // /api/show: model_info["<family>.context_length"] (left out when 0), the Modelfile's
    // SYSTEM prompt and PARAMETER lines (left out when empty).
    std::int64_t contextLength = 131072;
    std::string system;
    std::string parameters;
    // /api/ps while loaded: the share of its memory on the GPU (size_vram / size).
    double gpuShare = 1.0;

    // A plausible model: family taken from the name, families = [family], and the
    // capabilities a real model of that family has: llama3.2 and mistral completion and
    // tools; qwen3 and deepseek-r1 also thinking; llava, gemma3 and moondream completion and
    // vision; nomic-embed-text and all-minilm embedding only; others completion.
    static ModelInfo make(std::string name, std::int64_t size = 2019393189,
                          std::string parameterSize = "3.2B",
                          std::string quantizationLevel = "Q4_K_M");
};

// One model loaded in memory, as /api/ps lists it.
struct LoadedModel {
    std::string name;            // canonical "name:tag"
    std::int64_t contextLength;  // the num_ctx it was loaded with
};

// A complete HTTP answer sent instead of the normal one (before any streaming).
struct HttpReply {
    int status = 500;
    std::string contentType;  // empty: no Content-Type header
    std::string body;

    static HttpReply jsonError(int status, std::string_view message);  // {"error":"..."}
    static HttpReply
    busy();  // 503 "server busy, please try again.  maximum pending requests exceeded"
    static HttpReply forbidden();                  // 403 with an empty body (host/origin policy)
    static HttpReply proxyPage(int status = 502);  // text/html error page from a proxy
};

struct ChatChunk {
    std::string content;
    std::string thinking;  // sent as message.thinking when non-empty
    // Copy `content` into the JSON string byte for byte, without escaping or
    // UTF-8 repair. Use it to send invalid UTF-8 (or broken escapes) on the wire.
    bool raw = false;
};

// Metrics of the final chunk; zero fields are omitted from the JSON, as the
// real server does.
struct ChatMetrics {
    std::int64_t totalDuration = 0;
    std::int64_t loadDuration = 0;
    std::int64_t promptEvalCount = 0;
    std::int64_t promptEvalDuration = 0;
    std::int64_t evalCount = 0;
    std::int64_t evalDuration = 0;
};

// How the server answers one /api/chat request.
//
// A normal stream is: the chunks in order (one NDJSON line each), then a final
// line with done:true, done_reason and metrics. The fault fields change that;
// the "After" counts refer to chunk lines already sent.
//
// The request shapes the answer as a real server would: "think": false drops
// the thinking (thinking-only chunks vanish), a positive options.num_predict
// keeps only that many chunks and ends with done_reason "length", and
// "stream": false sends one object with the concatenated content and thinking
// once the whole script has played (errorAfter then gives HTTP 500).
struct ChatScript {
    std::vector<ChatChunk> chunks;
    Milliseconds chunkDelay{0};      // pause before every chunk after the first
    Milliseconds firstByteDelay{0};  // "model load": nothing, not even headers, before it
    std::string doneReason = "stop";
    std::string finalContent;            // content of the done:true line (normally "")
    std::optional<ChatMetrics> metrics;  // nullopt: plausible values from the run

    // Faults.
    std::optional<HttpReply> httpError;     // answered instead of streaming
    std::optional<std::size_t> errorAfter;  // in-band {"error":...} line, then the stream ends
    std::string errorMessage = "an error was encountered while running the model";
    bool omitDone = false;  // end the stream without the done:true line
    std::optional<std::size_t>
        dropAfter;  // close the connection without finishing the chunked body
    std::optional<std::size_t> stallAfter;  // hold the connection silent until releaseStalls()/stop
    // A line that never ends: after this many chunk lines, a chunk line is begun and its
    // content goes on without a "\n" until the client goes away (or 1 GiB has gone out,
    // so that a client that keeps reading cannot hold a test forever).
    std::optional<std::size_t> endlessLineAfter;

    // Delivery shape. Lines are grouped `linesPerWrite` to a write; each write
    // is cut into pieces of at most `writeSize` bytes (0 = whole), each piece
    // its own HTTP chunk, with `writeDelay` between pieces. A writeSize of 1
    // splits inside every multi-byte character.
    std::size_t linesPerWrite = 1;
    std::size_t writeSize = 0;
    Milliseconds writeDelay{0};

    // `text` split into word chunks, each keeping its leading space(s):
    // "Hi there" -> "Hi", " there".
    static ChatScript words(std::string_view text, Milliseconds chunkDelay = Milliseconds{0});
    // `count` chunks of `text`, no delay: a long reply for benchmarks.
    // 100,000 one-line writes take about a second on loopback, mostly system
    // calls; set linesPerWrite (e.g. 64) to measure the client's parsing instead.
    static ChatScript repeated(std::size_t count, std::string text);
};

// How the server answers /api/pull for a model the registry knows.
struct PullScript {
    // Layer sizes in bytes; empty: weights of the model's size plus the usual
    // small template/license/params/config blobs.
    std::vector<std::int64_t> layerSizes;
    int stepsPerLayer = 4;                       // progress lines per layer after the initial one
    Milliseconds stepDelay{0};                   // pause before every progress line
    std::optional<std::size_t> errorAfterSteps;  // in-band error after N layer progress lines
    std::string errorMessage = "max retries exceeded: unexpected EOF";
};

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string rawBody;
    nlohmann::json body;  // parsed body; null when empty or not JSON

    bool hasHeader(std::string_view name) const;      // case-insensitive
    std::string header(std::string_view name) const;  // "" when absent
};

class FakeOllama {
public:
    // Chooses the reply to a chat request (the parsed request body). Runs on a
    // server thread, without the server's lock held.
    using ChatResponder = std::function<ChatScript(const nlohmann::json& request)>;

    // Listens on host:port; port 0 picks a free port. Throws std::runtime_error
    // when the address cannot be bound.
    explicit FakeOllama(std::string host = "127.0.0.1", int port = 0);
    ~FakeOllama();
    FakeOllama(const FakeOllama&) = delete;
    FakeOllama& operator=(const FakeOllama&) = delete;

    int port() const;
    std::string baseUrl() const;  // "http://127.0.0.1:PORT"

    // Models. The installed list is what /api/tags reports (in this order);
    // the registry lists the names /api/pull can fetch. A successful pull puts
    // the model at the front of the installed list; a delete removes it.
    void setModels(std::vector<ModelInfo> models);
    std::vector<ModelInfo> models() const;
    void setRegistry(std::vector<ModelInfo> models);

    // Chat replies. A request asks the responder if one is set, else uses the
    // default script (initially a short greeting). Requests that only load a model (no
    // messages) answer at once and consume nothing.
    void setChatScript(ChatScript script);
    void setChatResponder(ChatResponder responder);

    void setPullScript(PullScript script);

    // Authentication as a proxy in front of Ollama does it: while a token is set, every
    // request without "Authorization: Bearer <token>" gets 401 {"error":"unauthorized"}
    // (and is still recorded, without its body, which is never read). An empty token turns
    // the check off.
    void setRequiredToken(std::string token);

    // A route that fails: every later request to `path` ("/api/show", "/api/ps") is
    // recorded and answered with `reply`, as a server does whose model files cannot be read
    // (500) or that predates the route (404 page not found); nullopt answers normally again.
    void setRouteReply(const std::string& path, std::optional<HttpReply> reply);

    // Latency and hangs.
    // While on, every request waits before doing anything; turning it off
    // lets the waiting requests proceed.
    void setHangAll(bool hang);
    // Lets every currently stalled chat stream continue.
    void releaseStalls();

    // The models /api/show describes by default: llama3.2 (completion, tools), llava
    // (completion, vision), qwen3:8b (completion, tools, thinking) and nomic-embed-text
    // (embedding only). Not installed until passed to setModels().
    static std::vector<ModelInfo> standardModels();

    // Loaded models (/api/ps), most recently used first. A chat request loads its model
    // with its options.num_ctx (4096 when absent, as a server without
    // OLLAMA_CONTEXT_LENGTH does; a different num_ctx reloads it), and a request
    // without messages and with keep_alive 0 unloads it.
    std::vector<LoadedModel> loadedModels() const;
    void setLoadedModels(std::vector<LoadedModel> models);

    // What the server saw.
    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(std::string_view path) const;

    // Chat streams: started, still sending, and aborted because the client
    // went away (a failed write or a closed socket noticed while waiting).
    int chatStreamsStarted() const;
    int chatStreamsActive() const;
    int chatStreamsAborted() const;
    // Waits until at least `count` streams were aborted; false on timeout.
    bool waitForAbortedChatStreams(int count, Milliseconds timeout) const;
    // Waits until at least `count` pull streams ended because the client went away.
    bool waitForAbortedPulls(int count, Milliseconds timeout) const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace parlote::testing

// Private to the fake server, included by its own .cpp files alone: the state
// behind FakeOllama and the helpers its routes share.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ChatStream.h"
#include "FakeOllama.h"

namespace parlote::testing {

namespace fake {

using Clock = std::chrono::steady_clock;
using ojson = nlohmann::ordered_json;

inline constexpr const char* kJsonType = "application/json; charset=utf-8";
inline constexpr const char* kNdjsonType = "application/x-ndjson";
inline constexpr const char* kTextType = "text/plain; charset=utf-8";

// "llama3.2" and "llama3.2:latest" name the same model; the tag is whatever
// follows a colon in the last path segment.
std::string canonicalName(std::string_view name);
bool isValidName(std::string_view name);
bool hasCapability(const ModelInfo& model, std::string_view capability);

void replyError(httplib::Response& res, int status, std::string_view message);
void replyWith(httplib::Response& res, const HttpReply& reply);

ojson detailsJson(const ModelInfo& m);
std::string modifiedAtOf(const ModelInfo& m);
std::string digestOf(const ModelInfo& m);

// Parsed request body, or a reason to refuse it with 400 as the server does.
struct ParsedBody {
    nlohmann::json json;
    std::string error;  // non-empty: answer 400 with this
};

ParsedBody parseBody(const httplib::Request& req);
std::string stringField(const nlohmann::json& body, const char* key);
// `"stream"` absent or null means streaming; only an explicit false turns it off.
bool wantsStream(const nlohmann::json& body);
// Why Ollama would refuse the pictures of a chat request's messages, with the status it
// answers: 400 "illegal base64 data at input byte N" for text that is not standard
// base64, as Go's JSON decoder says; 500 for bytes that are no PNG, JPEG or WebP picture,
// as the runner fails to decode them. {0, ""} when every picture is fine.
std::pair<int, std::string> imageError(const nlohmann::json& body);
// Standard base64 (RFC 4648 alphabet, "=" padding, CR and LF skipped) as Go's
// encoding/base64 StdEncoding reads it; nullopt with `errorAt` set to the offending byte.
std::optional<std::string> decodeBase64(std::string_view text, std::size_t& errorAt);

// The prompt tokens a chat request makes, as the final record's prompt_eval_count
// reports them: about a token per four bytes of text, a few for each message's template,
// 768 for each picture; at most the context length, as the server drops the oldest
// messages until the prompt fits.
std::int64_t promptTokensOf(const nlohmann::json& body);
// options.num_ctx of a chat request, or the server's default context length.
std::int64_t contextLengthOf(const nlohmann::json& body);
// Option type errors surface as 500 from the model scheduler on a real server.
std::string optionTypeError(const nlohmann::json& body);

// Sizes of the blobs a pull downloads when the script does not say.
std::vector<std::int64_t> defaultLayers(const ModelInfo& model);

}  // namespace fake

class FakeOllama::Impl final : public detail::StreamControl {
public:
    Impl(std::string host, int port);
    ~Impl();

    std::string host;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;  // stop, releases, counters, hang-all
    bool stopping = false;
    bool hangAll = false;
    std::string requiredToken;                      // empty: no authentication
    std::map<std::string, HttpReply> routeReplies;  // by path; see setRouteReply()
    std::uint64_t stallGeneration = 0;
    std::vector<ModelInfo> models;
    std::vector<ModelInfo> registry;
    std::vector<LoadedModel> loaded;  // most recently used first
    ChatScript defaultScript = ChatScript::words("Hello! How can I help you today?");
    ChatResponder responder;
    PullScript pullScript;
    std::vector<RecordedRequest> requests;
    int streamsStarted = 0;
    int streamsActive = 0;
    int streamsAborted = 0;
    int pullsAborted = 0;  // pull streams ended because the client went away

    detail::Step pause(Milliseconds delay, httplib::DataSink* sink) override;
    detail::Step stall(httplib::DataSink& sink) override;
    // Start of every handler: record the request, then honour "hang all".
    bool admit(const httplib::Request& req);
    // Answers `req` with the reply set for its path, if any (after admit()).
    bool replaced(const httplib::Request& req, httplib::Response& res);
    void record(const httplib::Request& req);

private:
    void installRoutes();
    void handleTags(httplib::Response& res);
    void handlePs(httplib::Response& res);
    // A chat request's model is loaded (moved to the front) with this context length.
    void markLoaded(const std::string& name, std::int64_t contextLength);
    void handleShow(const httplib::Request& req, httplib::Response& res);
    void handleDelete(const httplib::Request& req, httplib::Response& res);
    void handleChat(const httplib::Request& req, httplib::Response& res);
    void handlePull(const httplib::Request& req, httplib::Response& res);

    std::optional<ModelInfo> findInstalled(std::string_view name) const;  // needs no lock held
    ChatScript nextScript(const nlohmann::json& request);

    httplib::Server server_;
    std::thread thread_;
};

}  // namespace parlote::testing

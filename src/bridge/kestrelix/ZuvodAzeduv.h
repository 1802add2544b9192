#pragma once

// kestrelix::llm::ZuvodAzeduv: a blocking client of the Ollama HTTP API.
//
// Every call blocks the calling thread until it has an answer. A call reports failure
// through its status (0 = success) or, where it returns a value, only through
// `lastError`, which is set by every call and must be read right after it. The two
// polling calls (`getNextInstallStatus`, `getNextChunk`) return null at the end of their
// sequence; `lastError.errorCode` is then `kEndOfStream` (1) for a normal end and
// another code for a failure.
//
// One object serves one caller at a time; only `abort()` may be called from another
// thread. Destroying the object ends any transfer in progress at once (the connection
// is closed, which makes Ollama stop generating).
//
// The server address comes from the OLLAMA_HOST environment variable, read as the
// official Ollama clients read it (default http://127.0.0.1:11434).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Limits.h"

namespace kestrelix::llm {

/// Error codes of `OllamaErrorInfo::errorCode`.
enum OllamaErrorCode : std::int32_t {
    kNoError = 0,
    /// A polled sequence ended normally.
    kEndOfStream = 1,
    /// No connection could be made: refused, unreachable, unknown host.
    /// osErrorType = kOsErrorCurl, osError = the CURLcode.
    kConnectionFailed = 2,
    /// The server did not answer, or a stream stayed silent, longer than allowed.
    kTimedOut = 3,
    /// The server answered with an HTTP error status; osErrorType = kOsErrorHttp,
    /// osError = the status. The message carries the server's error text when it sent one.
    kHttpStatus = 4,
    /// The server's answer is not the JSON Ollama sends, or passes a size limit (a line
    /// of a stream, a whole reply, a listing).
    kMalformedResponse = 5,
    /// Ollama reported an error inside a streamed answer ({"error": ...}).
    kServerError = 6,
    /// The transfer was stopped by `abort()`.
    kAborted = 7,
    /// The request could not be made (an unusable OLLAMA_HOST, a call out of order).
    kInvalidRequest = 8,
    /// The connection broke, or a stream ended before its final record.
    kConnectionLost = 9,
};

/// Values of `OllamaErrorInfo::osErrorType`.
enum OllamaOsErrorType : std::int32_t {
    kOsErrorNone = 0,
    kOsErrorCurl = 1,  // osError is a libcurl CURLcode
    kOsErrorHttp = 2,  // osError is an HTTP status
};

struct SwiftLLMChatOptions {
    std::string model;
    double temperature = 0.7;
    /// Upper bound on generated tokens; 0 or less means no bound of our own.
    std::int32_t maxTokens = 2147483647;
};

/// The request's "think": false, true, or a level.
enum class OllamaThink { off, on, low, medium, high, max };

/// Parts of a chat request beyond SwiftLLMChatOptions; each is sent only when set, so a
/// request without them is exactly what it was before they existed.
struct OllamaChatExtras {
    /// options.num_ctx: the context length to run the model with, in tokens.
    std::optional<std::int64_t> contextLength;
    /// options.seed.
    std::optional<std::int64_t> seed;
    /// The top-level "think" (not an option). Ollama refuses anything but `off` with 400
    /// for a model without the "thinking" capability.
    std::optional<OllamaThink> think;
};

struct OllamaMessage {
    std::string role;
    std::string content;
    /// Pictures for a model that can see, each the picture file's bytes in standard
    /// base64 (no "data:" prefix); sent as "images" only when there are any.
    std::vector<std::string> images = {};
};

struct OllamaErrorInfo {
    std::int32_t errorCode = kNoError;
    std::int32_t osErrorType = kOsErrorNone;
    std::int64_t osError = 0;
    /// A sentence for the user naming the server address and the cause.
    std::string message;
};

struct OllamaModelInfo {
    std::string name;
    std::string digest;
    std::int64_t size = 0;
    std::string family;
    std::string format;
    std::string parameterSize;
    std::string quantizationLevel;
};

/// What /api/show says of one installed model.
struct OllamaModelDetails {
    /// What the model can do: "completion", "vision", "thinking", "tools", "embedding",
    /// "insert", ... in the server's order, which carries no meaning.
    std::vector<std::string> capabilities;
    /// False when the answer had no capabilities (Ollama before 0.6.4): then they are
    /// unknown, not absent.
    bool capabilitiesKnown = false;
    /// model_info["general.architecture"] ("llama", "qwen3"); "" when not said.
    std::string architecture;
    /// The longest context the model was made for, in tokens: model_info
    /// "<architecture>.context_length". 0 when not said.
    std::int64_t contextLength = 0;
    /// The Modelfile's SYSTEM prompt; "" when it has none.
    std::string system;
    /// The Modelfile's PARAMETER lines as Ollama prints them: one "key   value" a line
    /// (string values in Go quotes), in no particular order; "" when none.
    std::string parameters;

    bool hasCapability(std::string_view capability) const;
};

/// One model loaded in memory, from /api/ps.
struct OllamaRunningModel {
    std::string name;
    std::string digest;
    /// Memory the loaded model takes (weights, cache, buffers), in bytes.
    std::int64_t size = 0;
    /// The part of `size` in GPU memory; 0: all on the CPU.
    std::int64_t sizeVram = 0;
    /// The context it was loaded with, in tokens; 0 when the server does not say (before 0.10).
    std::int64_t contextLength = 0;
    /// When the server unloads it unless used again: RFC 3339 as sent ("" when absent).
    std::string expiresAt;
};

struct OllamaInstallInfo {
    /// Ollama's progress text ("pulling manifest", "pulling 6a0746a1ec1a", "success").
    /// Empty when the model does not exist in the registry.
    std::string status;
    /// The digest of the layer being downloaded ("sha256:..."), empty for other steps.
    std::string digest;
    std::int64_t total = 0;
    std::int64_t completed = 0;
};

/// The figures of a reply's final record. Ollama leaves out the ones that are 0; they
/// read as 0 here. Durations in nanoseconds.
struct OllamaReplyStats {
    std::int64_t totalDuration = 0;       // request arrival to final record
    std::int64_t loadDuration = 0;        // waiting for and loading the model
    std::int64_t promptEvalCount = 0;     // prompt tokens, after any truncation
    std::int64_t promptEvalDuration = 0;  // reading the part of the prompt not cached
    std::int64_t evalCount = 0;           // generated tokens, thinking included
    std::int64_t evalDuration = 0;        // generating them
    std::string doneReason;               // "stop", "length", ...; "" when absent
};

struct OllamaChunkInfo {
    /// True on the reply's last chunk.
    bool isComplete = false;
    /// Text of this chunk. A model's reasoning, when the server sends it apart
    /// (message.thinking), arrives first as one "<think>...</think>" block.
    std::string content;
    /// The reply's figures, on the last chunk only.
    std::optional<OllamaReplyStats> stats = std::nullopt;
};

/// Where to reach the server and how long to wait. The defaults suit a local Ollama.
struct ZuvodAzeduvConfig {
    /// Base address such as "http://127.0.0.1:11434"; empty means: read OLLAMA_HOST.
    std::string host;
    /// A key for a server behind an authenticating proxy (or ollama.com), sent as
    /// "Authorization: Bearer <key>" with every request; empty: none. It goes only over
    /// https or to this machine (127.0.0.0/8, ::1, localhost): with a plain http address
    /// of another machine every call fails with kInvalidRequest before anything is sent,
    /// rather than let the key cross the network readable. Never written to a message.
    std::string apiKey;
    /// Whole liveness test, including connecting.
    std::chrono::milliseconds livenessTimeout{2000};
    /// Making the connection for any other request.
    std::chrono::milliseconds connectTimeout{5000};
    /// Whole answer of the short requests (model list, removal).
    std::chrono::milliseconds requestTimeout{30000};
    /// Until a chat's answer starts: Ollama may first load the model and read the prompt.
    std::chrono::milliseconds firstRecordTimeout{std::chrono::minutes(10)};
    /// Longest silence between two records of a chat reply.
    std::chrono::milliseconds chatSilenceTimeout{std::chrono::minutes(3)};
    /// Longest silence of a model download (verifying a large model sends nothing for a while).
    std::chrono::milliseconds pullSilenceTimeout{std::chrono::minutes(15)};
    /// Longest line (one record) of a streamed answer; a longer one ends the stream with
    /// kMalformedResponse. Memory stays within a few times this however the server behaves.
    std::size_t maxLineBytes = parlote::limits::kMaxServerLineBytes;
    /// Longest whole reply chat() collects, in bytes; a longer one fails with kMalformedResponse.
    std::size_t maxReplyBytes = static_cast<std::size_t>(parlote::limits::kMaxReplyLength);
};

class ZuvodAzeduv {
public:
    ZuvodAzeduv();
    explicit ZuvodAzeduv(ZuvodAzeduvConfig config);
    ~ZuvodAzeduv();
    ZuvodAzeduv(const ZuvodAzeduv&) = delete;
    ZuvodAzeduv& operator=(const ZuvodAzeduv&) = delete;

    /// 0 when an Ollama server answers at the address within the liveness time-out.
    std::int32_t testConfiguration() const;
    std::vector<OllamaModelInfo> getAvailableModels() const;
    std::int32_t removeModel(const std::string& name) const;

    /// Starts downloading `name`; 0 when Ollama accepted the request.
    std::int32_t startInstallModel(const std::string& name) const;
    /// Blocks until the next progress record; null at the end (see the header comment).
    std::shared_ptr<OllamaInstallInfo> getNextInstallStatus() const;

    /// The whole reply, or "" with `lastError` set (also when the reply grows past
    /// maxReplyBytes: the transfer is then stopped).
    std::string chat(const std::vector<OllamaMessage>& messages, const SwiftLLMChatOptions& options,
                     const OllamaChatExtras& extras = {}) const;
    /// Starts a streamed reply; 0 when Ollama has begun answering. A message whose role
    /// is "system" is sent as it is: the model reads it as its instructions.
    std::int32_t startChat(const std::vector<OllamaMessage>& messages,
                           const SwiftLLMChatOptions& options,
                           const OllamaChatExtras& extras = {}) const;
    /// Blocks until the next piece of the reply; null at the end.
    std::shared_ptr<OllamaChunkInfo> getNextChunk() const;

    /// The version the server reports (/api/version), or "" with `lastError` set. Waits
    /// at most the liveness time-out.
    std::string serverVersion() const;

    /// What /api/show says of `model`; with `lastError` set (and an empty record) when
    /// the request failed (404 for a model that is not installed).
    OllamaModelDetails show(const std::string& model) const;
    /// The models loaded in memory (/api/ps), most recently used first; empty with
    /// `lastError` set on failure.
    std::vector<OllamaRunningModel> runningModels() const;
    /// Loads `model` into memory (a chat request without messages); returns once it is
    /// loaded, which may take minutes (waits up to firstRecordTimeout). 0 on success.
    std::int32_t load(const std::string& model) const;
    /// Asks the server to unload `model` (a chat request with keep_alive 0 and no
    /// messages); the server answers at once and frees the memory when the model is idle.
    /// 0 on success, also when the model was not loaded.
    std::int32_t unload(const std::string& model) const;

    /// Stops the transfer in progress from any thread; the blocked call returns with
    /// kAborted, and so does every later call.
    void abort() const;

    /// The base address this client talks to.
    const std::string& host() const;

    /// The outcome of the last call.
    const OllamaErrorInfo& lastError() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrelix::llm

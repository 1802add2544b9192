#pragma once

// The state of one ZuvodAzeduv client behind its interface: the transfer of the call in
// progress, the sequence being polled, and how each failure becomes lastError. Included
// by ZuvodAzeduv.cpp only.

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>
#include <optional>

#include "ChatRecordReader.h"
#include "HttpTransfer.h"
#include "OllamaHost.h"
#include "ZuvodAzeduv.h"

namespace kestrelix::llm {

using ChatRecordReader = detail::ChatRecordReader;
using ChatStep = detail::ChatStep;
using HttpRequest = detail::HttpRequest;
using HttpTransfer = detail::HttpTransfer;
using json = detail::json;
using Clock = std::chrono::steady_clock;

// Private to the client (this header is included by ZuvodAzeduv.cpp alone).
inline constexpr std::size_t kErrorBodyLimit = 64 * 1024;
inline constexpr std::size_t kModelListLimit = 64 * 1024 * 1024;
/// Ollama's answer when the registry has no model of that name.
inline constexpr const char* kNoSuchModelText = "file does not exist";

inline std::int64_t integerAt(const json& object, const char* key) {
    if (!object.is_object()) return 0;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return 0;
    if (it->is_number_unsigned()) return static_cast<std::int64_t>(it->get<std::uint64_t>());
    if (it->is_number_integer()) return it->get<std::int64_t>();
    const double value = it->get<double>();  // a float where Ollama sends integers
    if (!(value > -9.2e18 && value < 9.2e18)) return 0;
    return static_cast<std::int64_t>(value);
}

/// "16 MiB", "64 KiB" or "1000 bytes": a limit as the user reads it.
inline std::string sizeText(std::size_t bytes) {
    if (bytes >= (std::size_t(1) << 20) && bytes % (std::size_t(1) << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

enum class StreamKind { none, pull, chat };

class ZuvodAzeduv::Impl {
public:
    explicit Impl(ZuvodAzeduvConfig configuration) : config(std::move(configuration)) {
        std::string raw = config.host;
        if (raw.empty()) {
            const char* variable = std::getenv("OLLAMA_HOST");
            raw = variable ? variable : "";
        }
        baseUrl = parseOllamaHost(raw);
        rawHost = raw;
        loopback = !baseUrl.empty() && isLoopbackAddress(baseUrl);
        keyAllowed = !baseUrl.empty() && mayCarrySecret(baseUrl);
    }

    ZuvodAzeduvConfig config;
    std::string rawHost;
    std::string baseUrl;
    bool loopback = false;
    bool keyAllowed = false;  // config.apiKey may be sent to baseUrl
    OllamaErrorInfo lastError;

    // The transfer of the current call or stream. Replaced only by the calling thread,
    // always under `mutex`, so that abort() from another thread sees a live object.
    std::mutex mutex;
    std::unique_ptr<HttpTransfer> transfer;
    bool aborted = false;

    // State of the sequence being polled.
    StreamKind stream = StreamKind::none;
    bool streamEnded = false;
    bool sawFinalRecord = false;  // chat: done:true; pull: status "success"
    bool sawFirstRecord = false;
    ChatRecordReader chatReader;              // the reply text of a chat stream's records
    std::optional<std::string> pendingError;  // server error to report on the next poll

    void succeed() { lastError = OllamaErrorInfo{}; }

    void fail(std::int32_t code, std::string message, std::int32_t osType = kOsErrorNone,
              std::int64_t osError = 0) {
        lastError = OllamaErrorInfo{code, osType, osError, std::move(message)};
    }

    void failAborted() {
        fail(kAborted, "The request to Ollama at " + baseUrl + " was cancelled.");
    }

    bool checkUsable() {
        if (baseUrl.empty()) {
            fail(kInvalidRequest, "The Ollama address \"" + rawHost +
                                      "\" in OLLAMA_HOST is not usable; expected a form such "
                                      "as 127.0.0.1:11434 or http://host:port.");
            return false;
        }
        if (!config.apiKey.empty() && !keyAllowed) {
            fail(kInvalidRequest,
                 "The API key was not sent to " + baseUrl +
                     ": over plain http another machine could read it. Use an https address "
                     "(or remove the key).");
            return false;
        }
        std::lock_guard lock(mutex);
        if (aborted) {
            failAborted();
            return false;
        }
        return true;
    }

    HttpTransfer& begin(std::string method, const std::string& path, std::string body,
                        std::chrono::milliseconds connectTimeout) {
        HttpRequest request;
        request.method = std::move(method);
        request.url = baseUrl + path;
        request.body = std::move(body);
        request.bypassProxy = loopback;
        if (!config.apiKey.empty()) request.authorization = "Bearer " + config.apiKey;
        request.connectTimeout = connectTimeout;
        request.maxLineBytes = config.maxLineBytes;
        auto next = std::make_unique<HttpTransfer>(request);
        std::lock_guard lock(mutex);
        if (aborted) next->abort();
        transfer = std::move(next);
        stream = StreamKind::none;
        streamEnded = sawFinalRecord = sawFirstRecord = false;
        chatReader = ChatRecordReader();
        pendingError.reset();
        return *transfer;
    }

    void end() {
        std::unique_ptr<HttpTransfer> finished;
        std::lock_guard lock(mutex);
        finished = std::move(transfer);
        stream = StreamKind::none;
    }

    /// Records why a transfer stopped without what was awaited.
    void failTransfer(HttpTransfer::Outcome outcome, const HttpTransfer& transfer) {
        switch (outcome) {
            case HttpTransfer::Outcome::aborted:
                failAborted();
                return;
            case HttpTransfer::Outcome::timedOut:
                fail(kTimedOut, "Ollama at " + baseUrl + " did not answer in time.");
                return;
            case HttpTransfer::Outcome::lineTooLong:
                fail(kMalformedResponse, "Ollama at " + baseUrl + " sent a line longer than " +
                                             sizeText(config.maxLineBytes) +
                                             "; the answer was stopped.");
                return;
            case HttpTransfer::Outcome::ready:
            case HttpTransfer::Outcome::finished:
                break;
        }
        const int code = transfer.curlCode();
        switch (code) {
            case CURLE_OK:
                fail(kConnectionLost,
                     "The answer from Ollama at " + baseUrl + " ended before it was complete.");
                return;
            case CURLE_COULDNT_CONNECT:
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_RESOLVE_PROXY:
                fail(kConnectionFailed,
                     "Could not connect to Ollama at " + baseUrl + " (" + transfer.curlMessage() +
                         "). Is Ollama running?",
                     kOsErrorCurl, code);
                return;
            case CURLE_OPERATION_TIMEDOUT:
                fail(kTimedOut,
                     "Ollama at " + baseUrl + " did not answer in time (" + transfer.curlMessage() +
                         ").",
                     kOsErrorCurl, code);
                return;
            default:
                fail(kConnectionLost,
                     "The connection to Ollama at " + baseUrl + " was lost (" +
                         transfer.curlMessage() + ").",
                     kOsErrorCurl, code);
                return;
        }
    }

    void failServer(const std::string& text) {
        fail(kServerError, "Ollama at " + baseUrl + " reported an error: " + text);
    }

    void failMalformed() {
        fail(kMalformedResponse,
             "The server at " + baseUrl + " sent an answer that is not valid Ollama JSON.");
    }

    /// Turns an HTTP error status and its body into lastError.
    void failStatus(long status, const std::string& body) {
        std::string text;
        text = detail::stringAt(detail::parseJson(body), "error");
        std::string message;
        if (status == 401) {
            // A proxy in front of Ollama wants a key (Ollama itself never asks for one).
            message =
                "The server at " + baseUrl +
                (config.apiKey.empty() ? " asks for an API key" : " did not accept the API key") +
                " (HTTP 401" + (text.empty() ? std::string() : ": " + text) + ").";
        } else if (!text.empty()) {
            message = "Ollama at " + baseUrl + " reported an error: " + text;
        } else {
            message = "Ollama at " + baseUrl + " answered with HTTP status " +
                      std::to_string(status) + ".";
            if (status == 403)
                message += " It refused the request; check OLLAMA_HOST and OLLAMA_ORIGINS.";
            else if (status == 502 || status == 504)
                message += " A proxy may stand between Parlote and Ollama.";
        }
        fail(kHttpStatus, std::move(message), kOsErrorHttp, status);
    }

    /// Waits for the response; true for status 200. Otherwise lastError is set.
    bool awaitSuccess(HttpTransfer& transfer, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        auto outcome = transfer.waitForHeaders(deadline);
        if (outcome != HttpTransfer::Outcome::ready) {
            failTransfer(outcome, transfer);
            return false;
        }
        if (transfer.status() == 200) return true;
        std::string body;
        outcome = transfer.readAll(body, std::min(deadline, Clock::now() + config.requestTimeout),
                                   kErrorBodyLimit);
        if (outcome == HttpTransfer::Outcome::aborted)
            failTransfer(outcome, transfer);
        else
            failStatus(transfer.status(), body);  // with whatever text arrived in time
        return false;
    }

    /// Sends a POST whose answer is a stream of records; 0 once Ollama has begun
    /// answering with status 200, else lastError's code.
    std::int32_t startStream(StreamKind kind, const std::string& path, std::string body,
                             std::chrono::milliseconds answerTimeout) {
        HttpTransfer& started = begin("POST", path, std::move(body), config.connectTimeout);
        if (!awaitSuccess(started, answerTimeout)) {
            end();
            return lastError.errorCode;
        }
        stream = kind;
        succeed();
        return kNoError;
    }

    /// A whole short request; the body on status 200, nullopt with lastError set otherwise.
    std::optional<std::string> fetch(std::string method, const std::string& path, std::string body,
                                     std::chrono::milliseconds timeout, std::size_t limit) {
        const auto deadline = Clock::now() + timeout;
        HttpTransfer& transfer = begin(std::move(method), path, std::move(body),
                                       std::min(timeout, config.connectTimeout));
        std::optional<std::string> result;
        if (awaitSuccess(transfer, timeout)) {
            std::string text;
            const auto outcome = transfer.readAll(text, deadline, limit);
            if (outcome == HttpTransfer::Outcome::ready && transfer.truncated())
                fail(kMalformedResponse, "The answer from Ollama at " + baseUrl + " is too large.");
            else if (outcome == HttpTransfer::Outcome::ready && transfer.curlCode() == CURLE_OK)
                result = std::move(text);
            else
                failTransfer(outcome, transfer);
        }
        end();
        return result;
    }

    /// The outcome of a request answered by one chat record (loading, unloading): 0 when
    /// the body is a record without an error, else lastError's code.
    std::int32_t checkDoneRecord(const std::optional<std::string>& body) {
        if (!body) return lastError.errorCode;
        const json value = detail::parseJson(*body);
        if (!value.is_object()) {
            failMalformed();
        } else if (value.contains("error")) {
            failServer(detail::errorTextOf(value));
        } else {
            succeed();
        }
        return lastError.errorCode;
    }

    /// Ends a polled sequence: null with lastError set.
    template <class Record>
    std::shared_ptr<Record> finishStream() {
        streamEnded = true;
        std::unique_ptr<HttpTransfer> finished;
        {
            std::lock_guard lock(mutex);
            finished = std::move(transfer);
        }
        return nullptr;
    }

    /// The next non-empty line of the current stream, or nullopt with lastError set.
    std::optional<json> nextRecord(std::chrono::milliseconds silence) {
        std::string line;
        for (;;) {
            const auto outcome = transfer->nextLine(line, Clock::now() + silence);
            if (outcome != HttpTransfer::Outcome::ready) {
                // After the final record ("success", done) nothing that follows matters.
                if (sawFinalRecord)
                    fail(kEndOfStream, "");
                else
                    failTransfer(outcome, *transfer);
                return std::nullopt;
            }
            json record;
            const detail::LineKind kind = detail::readRecordLine(line, record);
            if (kind == detail::LineKind::blank) continue;
            if (kind == detail::LineKind::malformed) {
                failMalformed();
                return std::nullopt;
            }
            sawFirstRecord = true;
            return record;
        }
    }

    bool streamUsable(StreamKind kind) {
        {
            std::lock_guard lock(mutex);
            if (aborted && !(stream == kind && streamEnded)) {
                failAborted();
                return false;
            }
        }
        if (stream == kind && !streamEnded && transfer) return true;
        if (stream == kind && streamEnded) {
            if (lastError.errorCode == kNoError) fail(kEndOfStream, "");
        } else {
            fail(kInvalidRequest, "No answer from Ollama is being received.");
        }
        return false;
    }
};

}  // namespace kestrelix::llm

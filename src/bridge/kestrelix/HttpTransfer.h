#pragma once

// One HTTP request driven by libcurl's multi interface, read as it arrives: the caller
// pulls complete lines (for NDJSON streams) or the whole body, each with a deadline,
// and may abort from another thread at any moment.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "Limits.h"
#include "LineBuffer.h"

typedef void CURL;
typedef void CURLM;
struct curl_slist;

namespace kestrelix::llm::detail {

struct HttpRequest {
    std::string method = "GET";  // GET, POST or DELETE
    std::string url;
    std::string body;  // sent as application/json when not empty
    bool bypassProxy = false;
    /// The value of an "Authorization" header; empty: none.
    std::string authorization;
    std::chrono::milliseconds connectTimeout{5000};
    /// The longest line nextLine() hands out; see Outcome::lineTooLong.
    std::size_t maxLineBytes = parlote::limits::kMaxServerLineBytes;
};

class HttpTransfer {
public:
    using Clock = std::chrono::steady_clock;

    enum class Outcome {
        ready,        // the awaited thing is there
        finished,     // the transfer has ended (see curlCode()); nothing more will come
        timedOut,     // the deadline passed first
        aborted,      // abort() was called
        lineTooLong,  // nextLine(): the next line passes the limit; the transfer was stopped
    };

    explicit HttpTransfer(const HttpRequest& request);
    ~HttpTransfer();
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    /// Waits until the response status and headers are in (ready), or the transfer ended
    /// without them.
    Outcome waitForHeaders(Clock::time_point deadline);
    /// Next line of the body without its "\n" (and without a trailing "\r"). At the end
    /// of the body, bytes after the last "\n" come as a last line; then `finished`. A line
    /// longer than the request's maxLineBytes gives `lineTooLong` as soon as the bytes
    /// received prove it, and so does every later call.
    Outcome nextLine(std::string& line, Clock::time_point deadline);
    /// The rest of the body, at most `limit` bytes; see truncated().
    Outcome readAll(std::string& body, Clock::time_point deadline, std::size_t limit);

    /// Thread-safe; wakes a blocked call, which returns `aborted`.
    void abort();

    long status() const { return status_; }
    /// Whether readAll() stopped at its limit before the end of the body.
    bool truncated() const { return truncated_; }
    /// 0 (CURLE_OK) unless the transfer failed.
    int curlCode() const { return curlCode_; }
    /// libcurl's description of the failure.
    std::string curlMessage() const;
    /// The most body bytes held in memory at any time so far.
    std::size_t peakHeld() const { return peakHeld_; }
    /// Body bytes are refused, which stops the transfer, once this many are held unread;
    /// nextLine() notices an overlong line long before, this only bounds one burst.
    std::size_t holdLimit() const { return holdLimit_; }

private:
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    /// Lets libcurl move data, then waits for the socket until `deadline` at most.
    Outcome pump(Clock::time_point deadline);

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string body_;     // request body, kept alive for libcurl
    LineBuffer received_;  // body bytes not yet handed out
    std::size_t holdLimit_;
    std::size_t peakHeld_ = 0;
    bool headersDone_ = false;
    bool finished_ = false;
    bool truncated_ = false;
    int curlCode_ = 0;
    long status_ = 0;
    char errorText_[256] = {};
    std::atomic<bool> aborted_{false};
};

}  // namespace kestrelix::llm::detail

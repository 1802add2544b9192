#include "HttpTransfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

namespace kestrelix::llm::detail {

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

/// What one call of curl_multi_perform may bring at most is far below this (libcurl reads
/// up to 100 buffers of 16 KiB in a row), so a burst of short lines never trips the limit.
constexpr std::size_t kMinHoldLimit = std::size_t(4) << 20;

/// A few lines' worth: room for the line being received plus a burst after it.
std::size_t holdLimitFor(std::size_t maxLineBytes) {
    constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
    const std::size_t lines = maxLineBytes > most / 4 ? most : maxLineBytes * 4;
    return std::max(lines, kMinHoldLimit);
}

}  // namespace

HttpTransfer::HttpTransfer(const HttpRequest& request)
    : body_(request.body),
      received_(request.maxLineBytes),
      holdLimit_(holdLimitFor(request.maxLineBytes)) {
    initCurlOnce();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!easy_ || !multi_) {
        finished_ = true;
        curlCode_ = CURLE_OUT_OF_MEMORY;
        return;
    }
    curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(request.connectTimeout.count()));
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &HttpTransfer::onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &HttpTransfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, "Parlote (kestrelix)");
    // Keep-alive probes notice a peer that vanished without closing the connection.
    curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
    // Removing the handle must not wait for a name lookup that hangs (dead DNS):
    // an abort or a time-out takes effect at once.
    curl_easy_setopt(easy_, CURLOPT_QUICK_EXIT, 1L);
    // Local traffic must never reach an HTTP proxy from the environment.
    if (request.bypassProxy) curl_easy_setopt(easy_, CURLOPT_PROXY, "");

    headers_ = curl_slist_append(headers_, "Accept: application/json, application/x-ndjson");
    // No "Expect: 100-continue" round trip for large chat transcripts.
    headers_ = curl_slist_append(headers_, "Expect:");
    if (!request.authorization.empty())
        headers_ = curl_slist_append(headers_, ("Authorization: " + request.authorization).c_str());
    if (request.method != "GET") {
        if (request.method != "POST")
            curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        headers_ = curl_slist_append(headers_, "Content-Type: application/json");
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.c_str());
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
        finished_ = true;
        curlCode_ = CURLE_FAILED_INIT;
    }
}

HttpTransfer::~HttpTransfer() {
    // Removing the handle mid-transfer closes the connection, which tells Ollama to stop.
    if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
}

std::size_t HttpTransfer::onBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<HttpTransfer*>(self);
    if (transfer->aborted_.load(std::memory_order_relaxed)) return 0;  // stops the transfer
    transfer->headersDone_ = true;
    LineBuffer& received = transfer->received_;
    // Returning less than offered stops the transfer: a line that never ends (or a reader
    // that fell far behind) must not grow memory without bound.
    if (received.overlong() || received.unread() + size * count > transfer->holdLimit_) return 0;
    received.append(std::string_view(data, size * count));
    transfer->peakHeld_ = std::max(transfer->peakHeld_, received.held());
    return size * count;
}

std::size_t HttpTransfer::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<HttpTransfer*>(self);
    const std::size_t length = size * count;
    if (length >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        long code = 0;
        curl_easy_getinfo(transfer->easy_, CURLINFO_RESPONSE_CODE, &code);
        transfer->status_ = code;
    } else if ((length == 2 && data[0] == '\r' && data[1] == '\n') ||
               (length == 1 && data[0] == '\n')) {
        long code = 0;
        curl_easy_getinfo(transfer->easy_, CURLINFO_RESPONSE_CODE, &code);
        transfer->status_ = code;
        if (code >= 200) transfer->headersDone_ = true;  // not an interim 1xx block
    }
    return length;
}

void HttpTransfer::abort() {
    aborted_.store(true);
    if (multi_) curl_multi_wakeup(multi_);
}

std::string HttpTransfer::curlMessage() const {
    if (errorText_[0] != '\0') return errorText_;
    return curl_easy_strerror(static_cast<CURLcode>(curlCode_));
}

HttpTransfer::Outcome HttpTransfer::pump(Clock::time_point deadline) {
    if (aborted_.load()) return Outcome::aborted;
    if (Clock::now() >= deadline) return finished_ ? Outcome::finished : Outcome::timedOut;
    const std::size_t bufferedBefore = received_.held();
    const bool headersBefore = headersDone_;
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
        finished_ = true;
        curlCode_ = CURLE_FAILED_INIT;
        return Outcome::finished;
    }
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &pending)) {
        if (message->msg == CURLMSG_DONE) {
            finished_ = true;
            curlCode_ = message->data.result;
            long code = 0;
            curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
            status_ = code;
        }
    }
    if (aborted_.load()) return Outcome::aborted;
    if (finished_) return Outcome::finished;
    // Something arrived: let the caller look at it before waiting on the socket again.
    if (received_.held() != bufferedBefore || headersDone_ != headersBefore) return Outcome::ready;
    const auto now = Clock::now();
    if (now >= deadline) return Outcome::timedOut;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    curl_multi_poll(multi_, nullptr, 0,
                    static_cast<int>(std::min<long long>(wait.count() + 1, 1000)), nullptr);
    return Outcome::ready;
}

HttpTransfer::Outcome HttpTransfer::waitForHeaders(Clock::time_point deadline) {
    for (;;) {
        if (aborted_.load()) return Outcome::aborted;
        if (headersDone_) return Outcome::ready;
        if (finished_) return Outcome::finished;
        const Outcome outcome = pump(deadline);
        if (outcome == Outcome::aborted) return outcome;
        if (headersDone_) return Outcome::ready;
        if (outcome != Outcome::ready) return outcome;
    }
}

HttpTransfer::Outcome HttpTransfer::nextLine(std::string& line, Clock::time_point deadline) {
    for (;;) {
        if (aborted_.load()) return Outcome::aborted;
        // Bytes after the last line count only when the answer ended properly; a broken
        // transfer's cut-off record is not a record.
        const bool complete = finished_ && curlCode_ == CURLE_OK;
        switch (complete ? received_.takeLast(line) : received_.takeLine(line)) {
            case LineBuffer::Take::line:
                return Outcome::ready;
            case LineBuffer::Take::tooLong:
                return Outcome::lineTooLong;  // onBody refuses the rest, which ends the transfer
            case LineBuffer::Take::none:
                break;
        }
        if (finished_) return Outcome::finished;
        const Outcome outcome = pump(deadline);
        if (outcome == Outcome::aborted || outcome == Outcome::timedOut) return outcome;
    }
}

HttpTransfer::Outcome HttpTransfer::readAll(std::string& body, Clock::time_point deadline,
                                            std::size_t limit) {
    // The whole body is wanted here, not lines: hold enough to tell whether it passes the limit.
    holdLimit_ =
        std::max(holdLimit_, limit < std::numeric_limits<std::size_t>::max() ? limit + 1 : limit);
    for (;;) {
        if (aborted_.load()) return Outcome::aborted;
        if (finished_ || received_.unread() >= limit) {
            bool dropped = false;
            body = received_.takeAll(limit, dropped);
            truncated_ = !finished_ || dropped;
            return Outcome::ready;
        }
        const Outcome outcome = pump(deadline);
        if (outcome == Outcome::aborted || outcome == Outcome::timedOut) return outcome;
    }
}

}  // namespace kestrelix::llm::detail

// Writing NDJSON streams: the line format of /api/chat, and the delivery
// shapes and faults a ChatScript asks for (pull streams reuse LineWriter).
#pragma once

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "FakeOllama.h"

namespace parlote::testing::detail {

enum class Step { Ok, Stopping, ClientGone, Dropped };

// The waits a stream needs from the server: both end early when it stops.
class StreamControl {
public:
    // Waits `delay`; with a sink, also notices a client that hung up.
    virtual Step pause(Milliseconds delay, httplib::DataSink* sink) = 0;
    // Holds a stream until releaseStalls(), the server stops or the client leaves.
    virtual Step stall(httplib::DataSink& sink) = 0;

protected:
    ~StreamControl() = default;
};

// Writes NDJSON lines to a chunked response in the delivery shape a script asks
// for: several lines per write, writes cut into pieces with pauses between.
class LineWriter {
public:
    LineWriter(StreamControl& server, httplib::DataSink& sink, std::size_t linesPerWrite = 1,
               std::size_t writeSize = 0, Milliseconds writeDelay = Milliseconds{0})
        : server_(server),
          sink_(sink),
          linesPerWrite_(std::max<std::size_t>(linesPerWrite, 1)),
          writeSize_(writeSize),
          writeDelay_(writeDelay) {}

    std::string& buffer() { return pending_; }  // append a line here, then call lineAdded()

    Step lineAdded() { return ++pendingLines_ >= linesPerWrite_ ? flush() : Step::Ok; }

    Step line(std::string_view text) {
        pending_ += text;
        return lineAdded();
    }

    // Sends the pending lines.
    Step flush();

private:
    StreamControl& server_;
    httplib::DataSink& sink_;
    std::size_t linesPerWrite_;
    std::size_t writeSize_;
    Milliseconds writeDelay_;
    std::string pending_;
    std::size_t pendingLines_ = 0;
};

// The parts of a chat answer that are the same on every line, rendered once.
struct ChatRender {
    std::string prefix;  // {"model":"x","created_at":"

    explicit ChatRender(std::string_view model);

    // One done:false line, newline included.
    void appendChunk(std::string& out, const ChatChunk& chunk) const;
    // The done:true object (no newline); `message` holds content/thinking.
    void appendFinal(std::string& out, const ChatChunk& message, const std::string& doneReason,
                     const ChatMetrics& m) const;
};

using Clock = std::chrono::steady_clock;

// The script's metrics, or plausible ones measured from the run: `promptTokens` read,
// one token generated per chunk, durations as they passed.
ChatMetrics measuredMetrics(const ChatScript& script, std::size_t generated,
                            Clock::time_point requestStart, Clock::time_point firstToken,
                            std::int64_t promptTokens);

// Streams one scripted chat answer. Returns how the stream ended.
Step streamChat(StreamControl& server, httplib::DataSink& sink, const ChatScript& script,
                const ChatRender& render, Clock::time_point requestStart,
                std::int64_t promptTokens);

}  // namespace parlote::testing::detail

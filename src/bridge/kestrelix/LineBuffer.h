#pragma once

// The bytes of a response body as they arrive, cut into lines for NDJSON streams.
// No network here: HttpTransfer feeds it from libcurl, tests and fuzzers feed it directly.

#include <cstddef>
#include <string>
#include <string_view>

#include "Limits.h"

namespace kestrelix::llm::detail {

class LineBuffer {
public:
    enum class Take {
        line,     // a line was taken
        none,     // no complete line is buffered yet
        tooLong,  // the next line is longer than the limit; nothing more will be taken
    };

    /// Taken bytes are released once there are more than `compactAfter` of them and they
    /// outweigh the unread rest: appends stay amortised O(1) without moving memory on
    /// every line, and memory stays within max(compactAfter + unread, 2 * unread).
    static constexpr std::size_t kCompactAfter = 65536;

    explicit LineBuffer(std::size_t maxLineBytes = parlote::limits::kMaxServerLineBytes,
                        std::size_t compactAfter = kCompactAfter)
        : maxLineBytes_(maxLineBytes), compactAfter_(compactAfter) {}

    /// Adds received bytes. Once a line was found too long they are dropped.
    void append(std::string_view bytes);

    /// The next complete line without its "\n" and without one "\r" before it. A line
    /// whose text (without "\r\n") passes the limit gives `tooLong`, as soon as the bytes
    /// buffered without a "\n" prove it; from then on every call gives `tooLong`.
    Take takeLine(std::string& line);
    /// At the end of the body: as takeLine(), but the bytes after the last "\n" count as a
    /// last line too (`none` when there are none).
    Take takeLast(std::string& line);
    /// All unread bytes, at most `limit` of them; the rest is dropped. `truncated` tells
    /// whether anything was dropped.
    std::string takeAll(std::size_t limit, bool& truncated);

    /// Bytes received and not yet taken.
    std::size_t unread() const { return buffer_.size() - readPos_; }
    /// Bytes held in memory: the unread ones plus taken ones not yet released.
    std::size_t held() const { return buffer_.size(); }
    std::size_t maxLineBytes() const { return maxLineBytes_; }
    bool overlong() const { return overlong_; }

private:
    std::string cut(std::size_t end);

    std::size_t maxLineBytes_;
    std::size_t compactAfter_;
    std::string buffer_;
    std::size_t readPos_ = 0;  // start of the unread part of buffer_
    std::size_t scanPos_ = 0;  // buffer_ before this index holds no "\n" after readPos_
    bool overlong_ = false;
};

}  // namespace kestrelix::llm::detail

// The client's reading of a streamed chat answer: bytes cut into lines by LineBuffer, and
// each line turned into reply text by ChatRecordReader.
//
// The input is a header of 8 bytes and then the body. Header byte 0 picks the line limit
// (below 0x80: none that an input can reach; else 1 to 509 bytes), byte 1 how early taken
// bytes are released, bytes 2 to 7 the sizes of the pieces the body arrives in, used in
// turn, so that lines and characters are cut at every position. Checked:
//  - the lines, and where a line is found too long, are the same however the body is cut,
//    and the same as a plain split of the whole body;
//  - the buffer never holds more than a line's worth unread, nor much more than that in all;
//  - the reply text and error texts are valid UTF-8, and a finished reply closes its
//    thinking block.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "ChatRecordReader.h"
#include "FuzzSupport.h"
#include "LineBuffer.h"

using kestrelix::llm::detail::ChatRecordReader;
using kestrelix::llm::detail::ChatStep;
using kestrelix::llm::detail::LineBuffer;
using parlote::fuzzing::check;

namespace {

constexpr std::size_t kHeader = 8;
const std::string kTooLong = "\x01too long\x01";  // stands for the end by an overlong line

/// The lines of `body` by a plain split: "\n" ends a line, one "\r" before it is dropped,
/// bytes after the last "\n" form a last line; the first line over `limit` ends the list.
std::vector<std::string> plainSplit(std::string_view body, std::size_t limit) {
    std::vector<std::string> lines;
    while (!body.empty()) {
        const std::size_t newline = body.find('\n');
        std::string_view line = body.substr(0, newline);
        body = newline == std::string_view::npos ? std::string_view() : body.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > limit) {
            lines.push_back(kTooLong);
            break;
        }
        lines.emplace_back(line);
    }
    return lines;
}

/// Takes every line the buffer has; false once a line was too long.
bool drain(LineBuffer& buffer, bool atEnd, std::vector<std::string>& lines) {
    std::string line;
    for (;;) {
        const LineBuffer::Take take = atEnd ? buffer.takeLast(line) : buffer.takeLine(line);
        if (take == LineBuffer::Take::none) break;
        if (take == LineBuffer::Take::tooLong) {
            lines.push_back(kTooLong);
            return false;
        }
        lines.push_back(std::move(line));
    }
    // Whatever is left has no "\n": at most the line limit, and a "\r" that may end it.
    check(buffer.unread() <= buffer.maxLineBytes() + 1, "unread bytes stay within a line");
    return true;
}

void checkHeld(const LineBuffer& buffer, std::size_t compactAfter) {
    check(buffer.held() <= std::max(compactAfter + buffer.unread(), 2 * buffer.unread()),
          "taken bytes are released");
}

/// Reads the lines as the client reads a chat stream, until a record ends it.
void readReply(const std::vector<std::string>& lines) {
    ChatRecordReader reader;
    std::string reply;
    for (const std::string& line : lines) {
        if (line == kTooLong) break;
        const ChatStep step = reader.readLine(line);
        check(parlote::fuzzing::isUtf8(step.text), "record text is valid UTF-8");
        if (step.kind != ChatStep::Kind::text) break;
        reply += step.text;
        if (step.done) {
            check(!reader.inThinkBlock(), "a finished reply closes its thinking block");
            break;
        }
    }
    check(parlote::fuzzing::isUtf8(reply), "the reply is valid UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader) return 0;
    const std::uint8_t* header = data;
    const std::string_view body(reinterpret_cast<const char*>(data) + kHeader, size - kHeader);
    const std::size_t limit = header[0] < 0x80 ? std::size_t(1) << 20 : (header[0] & 0x7F) * 4 + 1;
    const std::size_t compactAfter = header[1];

    const std::vector<std::string> expected = plainSplit(body, limit);

    LineBuffer whole(limit, compactAfter);
    std::vector<std::string> wholeLines;
    whole.append(body);
    if (drain(whole, false, wholeLines)) drain(whole, true, wholeLines);
    check(wholeLines == expected, "one piece gives the lines of a plain split");

    LineBuffer cut(limit, compactAfter);
    std::vector<std::string> cutLines;
    bool going = true;
    for (std::size_t at = 0, turn = 0; going && at < body.size(); ++turn) {
        const std::size_t piece = std::size_t(header[2 + turn % 6]) + 1;
        cut.append(body.substr(at, piece));
        at += piece;
        going = drain(cut, false, cutLines);
        checkHeld(cut, compactAfter);
    }
    if (going) drain(cut, true, cutLines);
    check(cutLines == expected, "any cutting gives the lines of a plain split");

    readReply(expected);
    return 0;
}

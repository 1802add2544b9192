#pragma once

// Reading the records of Ollama's NDJSON answers, without any network: one line to one
// JSON object, and the records of a streamed chat reply to the text they add.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kestrelix::llm::detail {

using json = nlohmann::json;

/// Parses one JSON document. Bytes that are not valid UTF-8 are replaced by U+FFFD first,
/// so a damaged character does not cost the whole record. Gives a discarded value when
/// the text is not JSON.
json parseJson(std::string_view text);

/// Compact JSON; invalid UTF-8 in strings comes out as U+FFFD.
std::string encodeJson(const json& value);

/// The string at `key` of an object; "" when absent or not a string.
std::string stringAt(const json& object, const char* key);

/// The text of an in-band {"error": ...} record (Ollama sends a string; anything else is
/// shown as its JSON).
std::string errorTextOf(const json& record);

enum class LineKind {
    blank,      // only blanks: skipped
    record,     // a JSON object
    malformed,  // anything else
};

/// Reads one line of an NDJSON answer into `record`.
LineKind readRecordLine(std::string_view line, json& record);

/// What one record of a streamed chat reply means.
struct ChatStep {
    enum class Kind {
        text,         // `text` continues the reply (it may be empty)
        serverError,  // Ollama reported an error: `text` is its message; the reply ends
        malformed,    // the line is not a JSON object; the reply ends
    };
    Kind kind = Kind::text;
    std::string text;
    bool done = false;  // the reply's final record
};

/// Turns the records of one chat reply, in order, into the text each adds. A model's
/// separate reasoning (message.thinking) is folded into one leading "<think>...</think>"
/// block ahead of the answer; the block is closed when the answer begins or the reply ends.
class ChatRecordReader {
public:
    /// One record (a JSON object) of the reply.
    ChatStep read(const json& record);
    /// One line of the reply; a blank line adds no text.
    ChatStep readLine(std::string_view line);

    /// Whether a "<think>" block is open.
    bool inThinkBlock() const { return thinkOpen_; }

private:
    std::string replyText(const std::string& content, const std::string& thinking, bool done);

    bool thinkOpen_ = false;       // a "<think>" block has been opened and not closed
    bool contentStarted_ = false;  // the reply's own text has begun
};

}  // namespace kestrelix::llm::detail

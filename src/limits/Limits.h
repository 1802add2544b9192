#pragma once

// Every size limit Parlote puts on what it reads, in one place. Each is far above what
// a real Ollama server or a real conversation produces; each exists so that a damaged
// file or a hostile or broken server ends one operation with a clear error instead of
// freezing the window or exhausting the machine's memory. What came before the limit is
// kept. The help page lists the same numbers; keep both in step.

#include <cstddef>
#include <cstdint>

namespace parlote::limits {

/// The longest line (one JSON record) accepted from the server in a streamed answer.
/// A real record is a few hundred bytes; a longer line ends the stream with an error.
inline constexpr std::size_t kMaxServerLineBytes = std::size_t(16) << 20;  // 16 MiB

/// The longest reply kept from a model, in characters (UTF-16 code units). A reply that
/// grows past it ends with an error; the text received so far is kept and saved.
inline constexpr std::int64_t kMaxReplyLength = std::int64_t(16) << 20;  // about 16 million

/// The longest conversation title, in characters. A title is one line; a longer one is
/// cut at a word boundary and ends with an ellipsis.
inline constexpr std::int64_t kMaxTitleLength = 100;

/// The largest "toc.json" or conversation file read; a larger one counts as damaged.
inline constexpr std::int64_t kMaxFileBytes = std::int64_t(256) << 20;  // 256 MiB

/// The largest image downloaded for a reply; the download stops as the bytes pass it.
inline constexpr std::int64_t kMaxImageBytes = std::int64_t(10) << 20;  // 10 MiB

}  // namespace parlote::limits

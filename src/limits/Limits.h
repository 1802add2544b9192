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

/// The longest part of one message the transcript lays out, in characters (UTF-16 code
/// units). A longer message, stored or streaming, shows its last part, cut where a
/// paragraph or a line begins when one is near, under a notice whose "Show all" opens the
/// whole text in a plain-text window; copying a message still copies all of it. Measured
/// on a two-core machine, laying out 60,000 characters of Markdown takes 7 to 40 ms
/// (one paragraph full of spans 18 ms, short paragraphs 38 ms); a table at its
/// 3,000-cell cap takes about 115 ms whatever the limit.
inline constexpr std::int64_t kMaxShownMessageLength = 60'000;

}  // namespace parlote::limits

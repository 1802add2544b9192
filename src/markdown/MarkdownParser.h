#pragma once

// Markdown text to BlockNode values. This is the only place that talks to cmark-gfm.

#include <string_view>

#include "MarkdownNodes.h"

namespace parlote {

/// Containers nested deeper than this (block quotes and lists, or emphasis, links and
/// the like within a line) are not kept as containers: their content joins the
/// innermost container that is kept, so the text stays and the tree stays shallow
/// enough for recursive walks, comparisons and layout.
inline constexpr int kMaxBlockNesting = 16;
inline constexpr int kMaxInlineNesting = 32;

/// How a text is read.
struct MarkdownOptions {
    /// A single line break within a paragraph stays a line break instead of joining the
    /// lines with a space (Markdown's soft break): for text a person typed line by line.
    bool hardBreaks = false;
};

/// Parses GitHub-flavoured Markdown (autolinks, strikethrough, tag filter, task lists
/// and tables) and converts it into blocks. Any input is accepted; safe to call from
/// any thread.
Blocks parseMarkdown(std::string_view utf8, MarkdownOptions options = {});

/// Only parses, with the same parser set-up, and throws the result away: the floor
/// that the streaming benchmark compares the whole pipeline against.
void parseMarkdownOnly(std::string_view utf8);

}  // namespace parlote

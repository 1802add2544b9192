#pragma once

// Markdown text to BlockNode values. This is the only place that talks to cmark-gfm.

#include <string_view>
#include <vector>

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

/// One top-level block of a text and the lines it spans (numbered from 1).
struct TopLevelBlock {
    Blocks blocks;  // one, or several for a list mixing task items and plain items
    int startLine = 0;
    int endLine = 0;
    std::vector<int> itemLines;  // a list: the line each of its items begins on
};

/// The same as parseMarkdown(), one entry per top-level block, with where each lies: what
/// MarkdownStream needs to parse only the part of a growing text that can still change.
std::vector<TopLevelBlock> parseTopLevel(std::string_view utf8, MarkdownOptions options = {});

/// Only parses, with the same parser set-up, and throws the result away: the floor
/// that the streaming benchmark compares the whole pipeline against.
void parseMarkdownOnly(std::string_view utf8);

}  // namespace parlote

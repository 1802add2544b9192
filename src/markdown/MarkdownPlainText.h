#pragma once

// A Markdown text as plain text, the way it reads on screen once rendered: the syntax
// gone (no "#", "**", backticks or fences), list items under their markers ("•", "1.",
// a ballot box for a task), a table's rows one to a line with their cells separated by
// tabs, images by their alternative text, and one line break between blocks. For
// assistive technology, which reads text rather than pictures of it.

#include <QString>

#include "MarkdownNodes.h"
#include "MarkdownParser.h"

namespace parlote {

/// Parses `text` as MarkdownLayout would (with `options`) and returns its plain text.
QString markdownToPlainText(const QString& text, MarkdownOptions options = {});

/// The plain text of blocks already parsed.
QString plainText(const Blocks& blocks);
/// The plain text of a run of inlines (a paragraph's, a table cell's).
QString plainText(const Inlines& inlines);

}  // namespace parlote

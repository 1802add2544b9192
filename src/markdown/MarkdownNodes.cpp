#include "MarkdownNodes.h"

// The node types refer to each other through vectors, so their comparisons are defined
// here, where every type is complete.

namespace parlote {

bool inl::Emphasis::operator==(const Emphasis&) const = default;
bool inl::Strong::operator==(const Strong&) const = default;
bool inl::Strikethrough::operator==(const Strikethrough&) const = default;
bool inl::Link::operator==(const Link&) const = default;
bool inl::Image::operator==(const Image&) const = default;

bool blk::Blockquote::operator==(const Blockquote&) const = default;
bool blk::BulletedList::operator==(const BulletedList&) const = default;
bool blk::NumberedList::operator==(const NumberedList&) const = default;
bool blk::TaskItem::operator==(const TaskItem&) const = default;
bool blk::TaskList::operator==(const TaskList&) const = default;
bool blk::Paragraph::operator==(const Paragraph&) const = default;
bool blk::Heading::operator==(const Heading&) const = default;
bool blk::Table::operator==(const Table&) const = default;

}  // namespace parlote

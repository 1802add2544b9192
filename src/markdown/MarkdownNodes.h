#pragma once

// The parsed form of a Markdown text: a list of blocks whose text parts are lists of
// inlines. Plain values with no tie to the parser, so they can be kept, compared and
// handed between threads freely. Strings hold UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace parlote {

struct InlineNode;
struct BlockNode;

using Inlines = std::vector<InlineNode>;
using Blocks = std::vector<BlockNode>;

namespace inl {
struct Text {
    std::string text;
    bool operator==(const Text&) const = default;
};
struct Code {
    std::string text;
    bool operator==(const Code&) const = default;
};
struct Html {
    std::string html;
    bool operator==(const Html&) const = default;
};
struct Emphasis {
    Inlines children;
    bool operator==(const Emphasis&) const;
};
struct Strong {
    Inlines children;
    bool operator==(const Strong&) const;
};
struct Strikethrough {
    Inlines children;
    bool operator==(const Strikethrough&) const;
};
struct Link {
    std::string destination;
    Inlines children;
    bool operator==(const Link&) const;
};
struct Image {
    std::string source;
    Inlines children;
    bool operator==(const Image&) const;
};
struct SoftBreak {
    bool operator==(const SoftBreak&) const = default;
};
struct LineBreak {
    bool operator==(const LineBreak&) const = default;
};
}  // namespace inl

struct InlineNode {
    using Value =
        std::variant<inl::Text, inl::Code, inl::Html, inl::Emphasis, inl::Strong,
                     inl::Strikethrough, inl::Link, inl::Image, inl::SoftBreak, inl::LineBreak>;
    Value value;
    bool operator==(const InlineNode&) const = default;
};

enum class ColumnAlignment : std::uint8_t { None, Left, Center, Right };

namespace blk {
struct Blockquote {
    Blocks blocks;
    bool operator==(const Blockquote&) const;
};
struct BulletedList {
    bool isTight = true;
    std::vector<Blocks> items;
    bool operator==(const BulletedList&) const;
};
struct NumberedList {
    bool isTight = true;
    int start = 1;
    std::vector<Blocks> items;
    bool operator==(const NumberedList&) const;
};
struct TaskItem {
    bool isCompleted = false;
    Blocks blocks;
    bool operator==(const TaskItem&) const;
};
struct TaskList {
    bool isTight = true;
    std::vector<TaskItem> items;
    bool operator==(const TaskList&) const;
};
struct CodeBlock {
    std::optional<std::string> fenceInfo;  // absent for indented code and for an empty info string
    std::string content;
    bool operator==(const CodeBlock&) const = default;
};
struct HtmlBlock {
    std::string content;
    bool operator==(const HtmlBlock&) const = default;
};
struct Paragraph {
    Inlines inlines;
    bool operator==(const Paragraph&) const;
};
struct Heading {
    int level = 1;  // 1 to 6
    Inlines inlines;
    bool operator==(const Heading&) const;
};
struct Table {
    std::vector<ColumnAlignment> columnAlignments;
    std::vector<std::vector<Inlines>> rows;  // rows of cells; the first row is the header
    bool operator==(const Table&) const;
};
struct ThematicBreak {
    bool operator==(const ThematicBreak&) const = default;
};
}  // namespace blk

struct BlockNode {
    using Value = std::variant<blk::Blockquote, blk::BulletedList, blk::NumberedList, blk::TaskList,
                               blk::CodeBlock, blk::HtmlBlock, blk::Paragraph, blk::Heading,
                               blk::Table, blk::ThematicBreak>;
    Value value;
    bool operator==(const BlockNode&) const = default;
};

}  // namespace parlote

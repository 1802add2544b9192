#pragma once

// The blocks of a Markdown text that grows at its end (a reply being streamed), parsed so
// that a chunk costs the same however long the text already is.
//
// Top-level blocks before the last one that began on a complete line (for a table, its
// header and delimiter rows) are final: Markdown is read line by line, and a block that a
// later complete line has closed never changes again (a paragraph can no longer become a
// setext heading or a table header once another block began after it). Only the rest, the
// tail, is parsed again. When the tail is one growing fenced code block, table or list,
// its complete lines (rows, items) are final as well: the text is parsed again only from
// the last of them, behind the lines that set the block's context (the opening fence, the
// table's header and delimiter rows), and the result is joined to what was final.
//
// A link reference definition changes links anywhere in the text, before it as well as
// after: once a line may hold one, every update parses the whole text. So does a text
// with carriage returns (lines then end where this class does not look), and any text
// that does not begin with the previous one.
//
// Any thread, one at a time.

#include <string>
#include <string_view>

#include "MarkdownNodes.h"
#include "MarkdownParser.h"

namespace parlote {

class MarkdownStream {
public:
    explicit MarkdownStream(MarkdownOptions options = {}) : options_(options) {}

    void setOptions(MarkdownOptions options);

    /// What an update changed.
    struct Change {
        size_t kept = 0;       // leading blocks that are as they were
        size_t keptParts = 0;  // of the block after them, when it grew: its leading lines
                               // (code), rows (table, header included) or items (list)
                               // that are as they were; 0 when it changed throughout
        bool changed = true;   // false when nothing changed at all
    };

    /// Takes the whole text as it is now.
    Change update(std::string_view utf8);
    /// Takes blocks parsed elsewhere; the next update() parses its text whole.
    Change assign(Blocks blocks);

    const Blocks& blocks() const { return blocks_; }
    /// How many top-level blocks are final (tests).
    size_t finalBlockCount() const { return finalCount_; }
    /// Whether the last update parsed the whole text (tests).
    bool lastUpdateWasWhole() const { return lastWhole_; }

private:
    enum class GrowKind { None, Code, Table, List };
    struct Node {
        Blocks blocks;
        size_t start;                // byte offset of its first line in text_
        bool complete;               // its first line ends with a line break
        std::vector<int> itemLines;  // as in TopLevelBlock
        int line;                    // its first line in what was parsed
    };

    Change parseWhole();
    Change parseTail();
    bool grow(Change& change);
    Change settle(std::vector<Node> nodes, size_t firstKeptParts, bool grown);
    void startGrowing(const Node& node);
    /// Forgets what was learnt of the text so far (the next update starts from its first
    /// byte); the blocks stay.
    void forgetText();
    void scanForDefinitions(size_t from);
    std::vector<Node> nodesFrom(std::vector<TopLevelBlock> parsed, size_t base,
                                int contextLines) const;

    MarkdownOptions options_;
    std::string text_;
    Blocks blocks_;
    size_t finalCount_ = 0;   // leading blocks that no later text changes
    size_t tailStart_ = 0;    // where the text after them begins
    size_t scanned_ = 0;      // complete lines before this were checked for definitions
    bool wholeOnly_ = false;  // a definition or a carriage return: parse the whole text
    std::string fence_;       // the scan is inside a fenced code block opened by this run
    bool lastWhole_ = false;

    // The growing block: blocks_[finalCount_], the last block.
    struct Grow {
        GrowKind kind = GrowKind::None;
        std::string context;  // the lines parsed before text_[resume...]
        int contextLines = 0;
        size_t resume = 0;       // where the lines not yet final begin
        size_t finalParts = 0;   // lines, rows or items of the block that are final
        std::string finalCode;   // code: the content of the final lines
        bool finalTight = true;  // list: whether the final items alone are tight
        char marker = 0;         // list: '-', '+', '*', '.' or ')'
    } grow_;
};

}  // namespace parlote

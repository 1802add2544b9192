#include "MarkdownStream.h"

#include <QUtf8StringView>
#include <algorithm>
#include <cstring>

namespace parlote {

namespace {

size_t countLineBreaks(std::string_view text) {
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// The offset just past the `lines`-th line break from `from`, or npos when there are fewer.
size_t afterLines(std::string_view text, size_t from, size_t lines) {
    size_t at = from;
    for (size_t i = 0; i < lines; ++i) {
        const size_t end = text.find('\n', at);
        if (end == std::string_view::npos) return std::string_view::npos;
        at = end + 1;
    }
    return at;
}

bool isBlankLine(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Whether the line before `at` (a line start) is blank.
bool blankLineBefore(std::string_view text, size_t at) {
    if (at == 0 || text[at - 1] != '\n') return false;
    const size_t start = at >= 2 ? text.rfind('\n', at - 2) : std::string_view::npos;
    const size_t from = start == std::string_view::npos ? 0 : start + 1;
    return isBlankLine(text.substr(from, at - 1 - from));
}

// Whether a line may hold (the start of) a link reference definition: after container
// marks (quotes, list markers), it begins with "[" and either has "]:" or no "]" at all
// (a label that goes on to the next line). Erring towards yes only costs a whole parse.
bool mayDefineReference(std::string_view line) {
    size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '>')) ++i;
        if (i < line.size() && (line[i] == '-' || line[i] == '+' || line[i] == '*') &&
            (i + 1 == line.size() || line[i + 1] == ' ' || line[i + 1] == '\t')) {
            ++i;
            continue;
        }
        size_t digits = i;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
        if (digits > i && digits < line.size() && (line[digits] == '.' || line[digits] == ')')) {
            i = digits + 1;
            continue;
        }
        break;
    }
    if (i >= line.size() || line[i] != '[') return false;
    const std::string_view rest = line.substr(i);
    return rest.find("]:") != std::string_view::npos || rest.find(']') == std::string_view::npos;
}

// The list marker a list item line begins with: its bullet, or the delimiter after its
// number; 0 when the line does not begin an item.
char listMarker(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && i < 3 && line[i] == ' ') ++i;
    if (i >= line.size()) return 0;
    if (line[i] == '-' || line[i] == '+' || line[i] == '*') return line[i];
    size_t digits = i;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
    if (digits > i && digits < line.size() && (line[digits] == '.' || line[digits] == ')'))
        return line[digits];
    return 0;
}

bool isListBlock(const BlockNode& block) {
    return std::holds_alternative<blk::BulletedList>(block.value) ||
           std::holds_alternative<blk::NumberedList>(block.value) ||
           std::holds_alternative<blk::TaskList>(block.value);
}

bool listIsTight(const BlockNode& block) {
    if (auto* l = std::get_if<blk::BulletedList>(&block.value)) return l->isTight;
    if (auto* l = std::get_if<blk::NumberedList>(&block.value)) return l->isTight;
    if (auto* l = std::get_if<blk::TaskList>(&block.value)) return l->isTight;
    return true;
}

// Keeps the first `keep` items of `target` (a list) and appends those of `more`, a list
// of the same kind; sets its tightness.
void joinListItems(BlockNode& target, size_t keep, BlockNode&& more, bool tight) {
    std::visit(
        [&](auto& list) {
            using T = std::decay_t<decltype(list)>;
            if constexpr (std::is_same_v<T, blk::BulletedList> ||
                          std::is_same_v<T, blk::NumberedList> ||
                          std::is_same_v<T, blk::TaskList>) {
                auto& extra = std::get<T>(more.value);
                list.items.resize(std::min(keep, list.items.size()));
                for (auto& item : extra.items) list.items.push_back(std::move(item));
                list.isTight = tight;
            }
        },
        target.value);
}

}  // namespace

void MarkdownStream::forgetText() {
    finalCount_ = 0;
    tailStart_ = 0;
    scanned_ = 0;
    wholeOnly_ = false;
    fence_.clear();
    grow_ = {};
}

void MarkdownStream::setOptions(MarkdownOptions options) {
    if (options.hardBreaks == options_.hardBreaks) return;
    options_ = options;
    text_.clear();  // the next update parses afresh
    forgetText();
}

MarkdownStream::Change MarkdownStream::assign(Blocks blocks) {
    Change change;
    const size_t common = std::min(blocks.size(), blocks_.size());
    while (change.kept < common && blocks[change.kept] == blocks_[change.kept]) ++change.kept;
    change.changed = !(change.kept == blocks.size() && change.kept == blocks_.size());
    blocks_ = std::move(blocks);
    text_.clear();
    forgetText();
    return change;
}

namespace {

// The run of backticks or tildes that opens or closes a fenced code block at the start of
// `line` (three or more, not indented: such a fence is in no list or quote and ends only
// at its closing fence); empty for any other line.
std::string_view fenceRun(std::string_view line) {
    if (line.empty() || (line[0] != '`' && line[0] != '~')) return {};
    size_t end = 0;
    while (end < line.size() && line[end] == line[0]) ++end;
    return end >= 3 ? line.substr(0, end) : std::string_view();
}

}  // namespace

void MarkdownStream::scanForDefinitions(size_t from) {
    // A carriage return or a NUL (which the parser reads as U+FFFD) changes where lines
    // and blocks end in ways the tail's parse cannot see: the whole text is parsed.
    if (text_.find_first_of(std::string_view("\r\0", 2), from) != std::string::npos)
        wholeOnly_ = true;
    // So do bytes that are not UTF-8 (text that came through a QString never has them).
    if (!wholeOnly_ &&
        !QUtf8StringView(text_.data() + from, qsizetype(text_.size() - from)).isValidUtf8())
        wholeOnly_ = true;
    const std::string_view text(text_);
    while (!wholeOnly_) {
        const size_t end = text.find('\n', scanned_);
        if (end == std::string_view::npos) break;
        const std::string_view line = text.substr(scanned_, end - scanned_);
        const std::string_view run = fenceRun(line);
        // Lines of code define nothing: a "[" opening a JSON array in a fenced block must
        // not make every later chunk parse the whole text.
        if (!fence_.empty()) {
            // A closing fence may be indented by up to three spaces.
            size_t indent = 0;
            while (indent < 3 && indent < line.size() && line[indent] == ' ') ++indent;
            const std::string_view closing = fenceRun(line.substr(indent));
            if (closing.size() >= fence_.size() && closing[0] == fence_[0] &&
                isBlankLine(line.substr(indent + closing.size())))
                fence_.clear();
        } else if (!run.empty() &&
                   (run[0] == '~' || line.find('`', run.size()) == std::string_view::npos)) {
            fence_.assign(run);
        } else if (mayDefineReference(line)) {
            wholeOnly_ = true;
        }
        scanned_ = end + 1;
    }
}

MarkdownStream::Change MarkdownStream::update(std::string_view utf8) {
    lastWhole_ = false;
    const bool grew =
        utf8.size() >= text_.size() && !text_.empty() && utf8.compare(0, text_.size(), text_) == 0;
    if (grew && utf8.size() == text_.size()) return {blocks_.size(), 0, false};
    if (grew) {
        const size_t before = text_.size();
        text_.append(utf8.substr(before));
        scanForDefinitions(before);
    } else {
        text_.assign(utf8);
        forgetText();
        scanForDefinitions(0);
    }
    // The last line, still being written, may already read as a definition.
    if (wholeOnly_ ||
        (fence_.empty() && mayDefineReference(std::string_view(text_).substr(scanned_))))
        return parseWhole();
    Change change;
    if (grow_.kind != GrowKind::None && grow(change)) return change;
    grow_ = {};
    return parseTail();
}

MarkdownStream::Change MarkdownStream::parseWhole() {
    lastWhole_ = true;
    Blocks blocks = parseMarkdown(text_, options_);
    Change change;
    const size_t common = std::min(blocks.size(), blocks_.size());
    while (change.kept < common && blocks[change.kept] == blocks_[change.kept]) ++change.kept;
    change.changed = !(change.kept == blocks.size() && change.kept == blocks_.size());
    blocks_ = std::move(blocks);
    // Nothing is taken as final: when the definitions go (the text is replaced), the next
    // update starts again from the beginning.
    finalCount_ = 0;
    tailStart_ = 0;
    grow_ = {};
    return change;
}

std::vector<MarkdownStream::Node> MarkdownStream::nodesFrom(std::vector<TopLevelBlock> parsed,
                                                            size_t base, int contextLines) const {
    // `parsed` came from `contextLines` lines of context followed by text_[base...].
    const std::string_view text(text_);
    std::vector<Node> nodes;
    nodes.reserve(parsed.size());
    int line = 1;  // of text_[base...], found at `at`
    size_t at = base;
    for (TopLevelBlock& p : parsed) {
        Node node{std::move(p.blocks), base, true, std::move(p.itemLines), p.startLine};
        const int wanted = p.startLine - contextLines;
        if (wanted >= 1) {
            while (line < wanted) {
                const size_t end = text.find('\n', at);
                if (end == std::string_view::npos) break;
                at = end + 1;
                ++line;
            }
            node.start = at;
        }
        // A table begins only with its delimiter row: until that line is complete, more
        // text may undo it, and its header line then stays in the paragraph before it.
        const bool table =
            node.blocks.size() == 1 && std::holds_alternative<blk::Table>(node.blocks[0].value);
        node.complete = afterLines(text, node.start, table ? 2 : 1) != std::string_view::npos;
        nodes.push_back(std::move(node));
    }
    return nodes;
}

MarkdownStream::Change MarkdownStream::parseTail() {
    std::vector<TopLevelBlock> parsed =
        parseTopLevel(std::string_view(text_).substr(tailStart_), options_);
    return settle(nodesFrom(std::move(parsed), tailStart_, 0), 0, false);
}

MarkdownStream::Change MarkdownStream::settle(std::vector<Node> nodes, size_t keptParts,
                                              bool grown) {
    Change change;
    change.kept = finalCount_;
    // The nodes before the last one that began on a complete line are final.
    size_t finalNodes = 0;
    for (size_t i = nodes.size(); i-- > 1;) {
        if (nodes[i].complete) {
            finalNodes = i;
            break;
        }
    }
    if (grown) {
        // nodes[0] is the growing block, already joined in place.
        change.keptParts = keptParts;
        blocks_.resize(finalCount_ + 1);
        for (size_t i = 1; i < nodes.size(); ++i)
            for (BlockNode& b : nodes[i].blocks) blocks_.push_back(std::move(b));
    } else {
        Blocks tail;
        for (Node& n : nodes) {
            for (BlockNode& b : n.blocks) tail.push_back(std::move(b));
        }
        size_t same = 0;
        while (finalCount_ + same < blocks_.size() && same < tail.size() &&
               blocks_[finalCount_ + same] == tail[same])
            ++same;
        change.kept += same;
        change.changed = !(same == tail.size() && finalCount_ + same == blocks_.size());
        blocks_.resize(finalCount_);
        for (BlockNode& b : tail) blocks_.push_back(std::move(b));
    }
    if (finalNodes > 0) {
        for (size_t i = 0; i < finalNodes; ++i)
            finalCount_ += i == 0 && grown ? 1 : nodes[i].blocks.size();
        tailStart_ = nodes[finalNodes].start;
        grow_ = {};
    }
    if (grow_.kind == GrowKind::None && nodes.size() == finalNodes + 1 &&
        blocks_.size() == finalCount_ + 1 && (finalNodes > 0 || !grown))
        startGrowing(nodes[finalNodes]);
    return change;
}

void MarkdownStream::startGrowing(const Node& node) {
    const std::string_view text(text_);
    const BlockNode& block = blocks_[finalCount_];
    grow_ = {};
    if (node.start != tailStart_) return;
    const size_t firstEnd = text.find('\n', tailStart_);
    if (firstEnd == std::string_view::npos) return;  // its first line is still being written
    if (std::holds_alternative<blk::CodeBlock>(block.value)) {
        // A fence at the start of its line: its content lines are the text's lines as
        // they are.
        if (text[tailStart_] != '`' && text[tailStart_] != '~') return;
        grow_.kind = GrowKind::Code;
        grow_.context = std::string(text.substr(tailStart_, firstEnd + 1 - tailStart_));
        grow_.contextLines = 1;
        grow_.resume = firstEnd + 1;
    } else if (std::holds_alternative<blk::Table>(block.value)) {
        const size_t secondEnd = text.find('\n', firstEnd + 1);
        if (secondEnd == std::string_view::npos) return;
        grow_.kind = GrowKind::Table;
        grow_.context = std::string(text.substr(tailStart_, secondEnd + 1 - tailStart_));
        grow_.contextLines = 2;
        grow_.resume = secondEnd + 1;
        grow_.finalParts = 1;  // the header row
    } else if (isListBlock(block)) {
        grow_.marker = listMarker(text.substr(tailStart_, firstEnd - tailStart_));
        if (grow_.marker == 0) return;
        grow_.kind = GrowKind::List;
        grow_.resume = tailStart_;
    }
}

bool MarkdownStream::grow(Change& change) {
    const std::string_view text(text_);
    std::string input = grow_.context;
    input.append(text.substr(grow_.resume));
    std::vector<TopLevelBlock> parsed = parseTopLevel(input, options_);
    if (parsed.empty() || parsed[0].startLine != 1 || parsed[0].blocks.size() != 1) return false;
    BlockNode& current = blocks_[finalCount_];
    BlockNode& fresh = parsed[0].blocks[0];
    if (current.value.index() != fresh.value.index()) return false;
    const std::string_view rest = text.substr(grow_.resume);
    const size_t completeLines = countLineBreaks(rest);
    size_t keptParts = grow_.finalParts;
    size_t freeze = 0;       // more parts that are final now
    size_t freezeLines = 0;  // the lines of text they take from `resume`
    switch (grow_.kind) {
        case GrowKind::Code: {
            auto& code = std::get<blk::CodeBlock>(current.value);
            const auto& more = std::get<blk::CodeBlock>(fresh.value);
            if (code.fenceInfo != more.fenceInfo) return false;
            freeze = std::min(countLineBreaks(more.content), completeLines);
            freezeLines = freeze;
            code.content.resize(grow_.finalCode.size());
            code.content += more.content;
            grow_.finalCode.append(more.content, 0, afterLines(more.content, 0, freeze));
            break;
        }
        case GrowKind::Table: {
            auto& table = std::get<blk::Table>(current.value);
            auto& more = std::get<blk::Table>(fresh.value);
            if (more.columnAlignments != table.columnAlignments || more.rows.empty()) return false;
            const size_t bodyRows = more.rows.size() - 1;
            freeze = parsed.size() > 1 ? bodyRows : std::min(bodyRows, completeLines);
            freezeLines = freeze;
            table.rows.resize(grow_.finalParts);
            for (size_t i = 1; i < more.rows.size(); ++i)
                table.rows.push_back(std::move(more.rows[i]));
            break;
        }
        case GrowKind::List: {
            const size_t lineEnd = text.find('\n', grow_.resume);
            const std::string_view firstLine = text.substr(
                grow_.resume, lineEnd == std::string_view::npos ? std::string_view::npos
                                                                : lineEnd - grow_.resume);
            if (listMarker(firstLine) != grow_.marker) return false;
            // Items before the last one that began on a complete line are final.
            const std::vector<int>& items = parsed[0].itemLines;
            for (size_t i = items.size(); i-- > 1;) {
                if (size_t(items[i]) <= completeLines) {
                    freeze = i;
                    freezeLines = size_t(items[i]) - 1;
                    break;
                }
            }
            const bool gapBefore = grow_.finalParts > 0 && blankLineBefore(text, grow_.resume);
            const bool tight = grow_.finalTight && !gapBefore && listIsTight(fresh);
            if (freeze > 0) {
                // Whether the items becoming final are tight among themselves: parsed alone,
                // the blank lines after the last of them no longer count.
                const size_t end = afterLines(text, grow_.resume, freezeLines);
                const std::vector<TopLevelBlock> alone =
                    parseTopLevel(text.substr(grow_.resume, end - grow_.resume), options_);
                const bool aloneTight = alone.size() == 1 && alone[0].blocks.size() == 1 &&
                                        listIsTight(alone[0].blocks[0]);
                grow_.finalTight = grow_.finalTight && !gapBefore && aloneTight;
            }
            // Items written with the other spacing are all to be written again.
            if (tight != listIsTight(current)) keptParts = 0;
            joinListItems(current, grow_.finalParts, std::move(fresh), tight);
            break;
        }
        case GrowKind::None:
            return false;
    }
    std::vector<Node> nodes = nodesFrom(std::move(parsed), grow_.resume, grow_.contextLines);
    nodes[0].start = tailStart_;
    if (freeze > 0) {
        grow_.finalParts += freeze;
        grow_.resume = afterLines(text, grow_.resume, freezeLines);
    }
    change = settle(std::move(nodes), keptParts, true);
    return true;
}

}  // namespace parlote

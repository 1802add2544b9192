#include "MarkdownParser.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <cstring>
#include <memory>

// The extensions library exports these node types as variables, but no installed header
// declares them.
extern "C" {
extern cmark_node_type CMARK_NODE_TABLE, CMARK_NODE_TABLE_ROW, CMARK_NODE_TABLE_CELL,
    CMARK_NODE_STRIKETHROUGH;
}

namespace parlote {
namespace {

// Registration of the core extensions is not thread-safe in cmark-gfm (it takes no
// lock), so it happens once, inside a function-local static whose initialisation the
// compiler serialises; the extension handles are looked up at the same time.
struct Extensions {
    cmark_syntax_extension* autolink;
    cmark_syntax_extension* strikethrough;
    cmark_syntax_extension* tagfilter;
    cmark_syntax_extension* tasklist;
    cmark_syntax_extension* table;
};

const Extensions& extensions() {
    static const Extensions ext = [] {
        cmark_gfm_core_extensions_ensure_registered();
        return Extensions{
            cmark_find_syntax_extension("autolink"), cmark_find_syntax_extension("strikethrough"),
            cmark_find_syntax_extension("tagfilter"), cmark_find_syntax_extension("tasklist"),
            cmark_find_syntax_extension("table")};
    }();
    return ext;
}

struct ParserDeleter {
    void operator()(cmark_parser* p) const { cmark_parser_free(p); }
};
struct NodeDeleter {
    void operator()(cmark_node* n) const { cmark_node_free(n); }
};
struct IterDeleter {
    void operator()(cmark_iter* i) const { cmark_iter_free(i); }
};
using NodePtr = std::unique_ptr<cmark_node, NodeDeleter>;

NodePtr parseToTree(std::string_view utf8, MarkdownOptions options = {}) {
    const Extensions& ext = extensions();
    // The tree holds soft breaks either way (the option is cmark's renderers'); the
    // converter turns them into line breaks.
    const int flags = CMARK_OPT_DEFAULT | (options.hardBreaks ? CMARK_OPT_HARDBREAKS : 0);
    std::unique_ptr<cmark_parser, ParserDeleter> parser(cmark_parser_new(flags));
    for (cmark_syntax_extension* e :
         {ext.autolink, ext.strikethrough, ext.tagfilter, ext.tasklist, ext.table}) {
        if (e) cmark_parser_attach_syntax_extension(parser.get(), e);
    }
    cmark_parser_feed(parser.get(), utf8.data(), utf8.size());
    return NodePtr(cmark_parser_finish(parser.get()));
}

std::string literal(cmark_node* node) {
    const char* s = cmark_node_get_literal(node);
    return s ? std::string(s) : std::string();
}

std::string url(cmark_node* node) {
    const char* s = cmark_node_get_url(node);
    return s ? std::string(s) : std::string();
}

// One container being built while the tree is walked. A single struct with room for
// every kind keeps the walk simple; only the fields of its kind are used.
struct Frame {
    enum class Kind {
        Document,
        Blockquote,
        List,
        Item,
        Paragraph,
        Heading,
        Table,
        Row,
        Cell,
        Emphasis,
        Strong,
        Strikethrough,
        Link,
        Image
    };
    cmark_node* node;
    Kind kind;
    Blocks blocks;                            // Document, Blockquote, Item
    Inlines inlines;                          // Paragraph, Heading, Cell, inline containers
    std::vector<Blocks> items;                // List
    std::vector<int> itemTask;                // List: -1 plain item, 0 open box, 1 ticked box
    std::vector<Inlines> cells;               // Row
    std::vector<std::vector<Inlines>> rows;   // Table
    std::vector<ColumnAlignment> alignments;  // Table
};

void appendInline(Inlines& target, InlineNode node) {
    // The parser splits text at characters that might have started markup; joined
    // again, a run of text is one node.
    if (auto* text = std::get_if<inl::Text>(&node.value); text && !target.empty()) {
        if (auto* last = std::get_if<inl::Text>(&target.back().value)) {
            last->text += text->text;
            return;
        }
    }
    target.push_back(std::move(node));
}

// Turns a finished list into one or more list blocks. A list whose items all carry a
// task box is a task list; a list mixing task items and plain items is split into runs,
// so that no box is shown for an item without one and no ticked box is lost.
void finishList(Frame& list, cmark_node* node, Blocks& target) {
    const bool tight = cmark_node_get_list_tight(node) != 0;
    const bool ordered = cmark_node_get_list_type(node) == CMARK_ORDERED_LIST;
    const int start = cmark_node_get_list_start(node);
    size_t i = 0;
    while (i < list.items.size()) {
        const bool task = list.itemTask[i] >= 0;
        size_t end = i;
        while (end < list.items.size() && (list.itemTask[end] >= 0) == task) ++end;
        if (task) {
            blk::TaskList out{tight, {}};
            for (size_t k = i; k < end; ++k)
                out.items.push_back({list.itemTask[k] == 1, std::move(list.items[k])});
            target.push_back({std::move(out)});
        } else if (ordered) {
            blk::NumberedList out{tight, start + static_cast<int>(i), {}};
            for (size_t k = i; k < end; ++k) out.items.push_back(std::move(list.items[k]));
            target.push_back({std::move(out)});
        } else {
            blk::BulletedList out{tight, {}};
            for (size_t k = i; k < end; ++k) out.items.push_back(std::move(list.items[k]));
            target.push_back({std::move(out)});
        }
        i = end;
    }
}

ColumnAlignment alignmentOf(uint8_t a) {
    switch (a) {
        case 'l':
            return ColumnAlignment::Left;
        case 'c':
            return ColumnAlignment::Center;
        case 'r':
            return ColumnAlignment::Right;
        default:
            return ColumnAlignment::None;
    }
}

class Converter {
public:
    Converter(cmark_node* root, MarkdownOptions options) : root_(root), options_(options) {}

    Blocks run() { return walk(root_); }

    /// Converts one child of the document on its own.
    Blocks runChild(cmark_node* child) {
        stack_.clear();
        blockDepth_ = 0;
        inlineDepth_ = 0;
        push(nullptr, Kind::Document);
        return walk(child);
    }

private:
    Blocks walk(cmark_node* root) {
        std::unique_ptr<cmark_iter, IterDeleter> iter(cmark_iter_new(root));
        cmark_event_type ev;
        while ((ev = cmark_iter_next(iter.get())) != CMARK_EVENT_DONE) {
            cmark_node* node = cmark_iter_get_node(iter.get());
            if (ev == CMARK_EVENT_ENTER)
                enter(node);
            else if (ev == CMARK_EVENT_EXIT)
                exit(node);
        }
        if (stack_.empty()) return {};
        return std::move(stack_.front().blocks);
    }

    using Kind = Frame::Kind;

    Frame& top() { return stack_.back(); }

    // Where blocks go: the innermost block container. Blocks only ever arrive when one
    // is on top (the parser puts blocks inside blocks).
    Blocks& blockTarget() { return top().blocks; }
    Inlines& inlineTarget() { return top().inlines; }

    void push(cmark_node* node, Kind kind) {
        stack_.push_back(Frame{node, kind, {}, {}, {}, {}, {}, {}, {}});
    }

    bool isInlineContainer(Kind k) const {
        return k == Kind::Emphasis || k == Kind::Strong || k == Kind::Strikethrough ||
               k == Kind::Link || k == Kind::Image;
    }
    bool acceptsInlines() const {
        Kind k = stack_.back().kind;
        return k == Kind::Paragraph || k == Kind::Heading || k == Kind::Cell ||
               isInlineContainer(k);
    }

    void pushBlockContainer(cmark_node* node, Kind kind) {
        if (blockDepth_ >= kMaxBlockNesting) return;  // flattened: content joins the parent
        ++blockDepth_;
        push(node, kind);
    }
    void pushInlineContainer(cmark_node* node, Kind kind) {
        if (inlineDepth_ >= kMaxInlineNesting || !acceptsInlines()) return;
        ++inlineDepth_;
        push(node, kind);
    }

    void addLeafInline(InlineNode n) {
        if (acceptsInlines()) appendInline(inlineTarget(), std::move(n));
    }

    void enter(cmark_node* node) {
        const cmark_node_type type = cmark_node_get_type(node);
        switch (type) {
            case CMARK_NODE_DOCUMENT:
                push(node, Kind::Document);
                return;
            case CMARK_NODE_BLOCK_QUOTE:
                pushBlockContainer(node, Kind::Blockquote);
                return;
            case CMARK_NODE_LIST:
                pushBlockContainer(node, Kind::List);
                return;
            case CMARK_NODE_ITEM:
                // An item of a flattened list has no list frame above it; its blocks then
                // join the enclosing container directly.
                if (top().kind == Kind::List && top().node == cmark_node_parent(node)) {
                    push(node, Kind::Item);
                }
                return;
            case CMARK_NODE_CODE_BLOCK: {
                blk::CodeBlock code;
                const char* info = cmark_node_get_fence_info(node);
                if (info && *info) code.fenceInfo = std::string(info);
                code.content = literal(node);
                blockTarget().push_back({std::move(code)});
                return;
            }
            case CMARK_NODE_HTML_BLOCK:
                blockTarget().push_back({blk::HtmlBlock{literal(node)}});
                return;
            case CMARK_NODE_THEMATIC_BREAK:
                blockTarget().push_back({blk::ThematicBreak{}});
                return;
            case CMARK_NODE_PARAGRAPH:
                push(node, Kind::Paragraph);
                return;
            case CMARK_NODE_HEADING:
                push(node, Kind::Heading);
                return;
            case CMARK_NODE_TEXT:
                addLeafInline({inl::Text{literal(node)}});
                return;
            case CMARK_NODE_CODE:
                addLeafInline({inl::Code{literal(node)}});
                return;
            case CMARK_NODE_HTML_INLINE:
                addLeafInline({inl::Html{literal(node)}});
                return;
            case CMARK_NODE_SOFTBREAK:
                if (options_.hardBreaks) {
                    addLeafInline({inl::LineBreak{}});
                } else {
                    addLeafInline({inl::SoftBreak{}});
                }
                return;
            case CMARK_NODE_LINEBREAK:
                addLeafInline({inl::LineBreak{}});
                return;
            case CMARK_NODE_EMPH:
                pushInlineContainer(node, Kind::Emphasis);
                return;
            case CMARK_NODE_STRONG:
                pushInlineContainer(node, Kind::Strong);
                return;
            case CMARK_NODE_LINK:
                pushInlineContainer(node, Kind::Link);
                return;
            case CMARK_NODE_IMAGE:
                pushInlineContainer(node, Kind::Image);
                return;
            default:
                break;
        }
        if (type == CMARK_NODE_STRIKETHROUGH) {
            pushInlineContainer(node, Kind::Strikethrough);
        } else if (type == CMARK_NODE_TABLE) {
            push(node, Kind::Table);
            const uint16_t columns = cmark_gfm_extensions_get_table_columns(node);
            const uint8_t* aligns = cmark_gfm_extensions_get_table_alignments(node);
            for (uint16_t i = 0; i < columns; ++i)
                top().alignments.push_back(aligns ? alignmentOf(aligns[i]) : ColumnAlignment::None);
        } else if (type == CMARK_NODE_TABLE_ROW) {
            if (top().kind == Kind::Table) push(node, Kind::Row);
        } else if (type == CMARK_NODE_TABLE_CELL) {
            if (top().kind == Kind::Row) push(node, Kind::Cell);
        } else if (const char* lit = cmark_node_get_literal(node); lit && *lit) {
            // A node this converter does not know: keep its text rather than drop it.
            addLeafInline({inl::Text{lit}});
        }
    }

    void exit(cmark_node* node) {
        if (stack_.empty() || top().node != node) return;  // a flattened container
        Frame done = std::move(stack_.back());
        stack_.pop_back();
        if (stack_.empty()) {  // the document itself
            stack_.push_back(std::move(done));
            return;
        }
        switch (done.kind) {
            case Kind::Document:
                break;
            case Kind::Blockquote:
                --blockDepth_;
                blockTarget().push_back({blk::Blockquote{std::move(done.blocks)}});
                break;
            case Kind::List:
                --blockDepth_;
                finishList(done, node, blockTarget());
                break;
            case Kind::Item: {
                int task = -1;
                if (cmark_node_get_syntax_extension(node) == extensions().tasklist &&
                    extensions().tasklist)
                    task = cmark_gfm_extensions_get_tasklist_item_checked(node) ? 1 : 0;
                top().items.push_back(std::move(done.blocks));
                top().itemTask.push_back(task);
                break;
            }
            case Kind::Paragraph:
                blockTarget().push_back({blk::Paragraph{std::move(done.inlines)}});
                break;
            case Kind::Heading:
                blockTarget().push_back(
                    {blk::Heading{cmark_node_get_heading_level(node), std::move(done.inlines)}});
                break;
            case Kind::Table: {
                blk::Table table{std::move(done.alignments), std::move(done.rows)};
                // Rows are cut or padded to the header's width, so every row has one cell
                // per column.
                for (auto& row : table.rows) row.resize(table.columnAlignments.size());
                blockTarget().push_back({std::move(table)});
                break;
            }
            case Kind::Row:
                top().rows.push_back(std::move(done.cells));
                break;
            case Kind::Cell:
                top().cells.push_back(std::move(done.inlines));
                break;
            case Kind::Emphasis:
                --inlineDepth_;
                appendInline(inlineTarget(), {inl::Emphasis{std::move(done.inlines)}});
                break;
            case Kind::Strong:
                --inlineDepth_;
                appendInline(inlineTarget(), {inl::Strong{std::move(done.inlines)}});
                break;
            case Kind::Strikethrough:
                --inlineDepth_;
                appendInline(inlineTarget(), {inl::Strikethrough{std::move(done.inlines)}});
                break;
            case Kind::Link:
                --inlineDepth_;
                appendInline(inlineTarget(), {inl::Link{url(node), std::move(done.inlines)}});
                break;
            case Kind::Image:
                --inlineDepth_;
                appendInline(inlineTarget(), {inl::Image{url(node), std::move(done.inlines)}});
                break;
        }
    }

    cmark_node* root_;
    MarkdownOptions options_;
    std::vector<Frame> stack_;
    int blockDepth_ = 0;
    int inlineDepth_ = 0;
};

}  // namespace

Blocks parseMarkdown(std::string_view utf8, MarkdownOptions options) {
    NodePtr doc = parseToTree(utf8, options);
    if (!doc) return {};
    return Converter(doc.get(), options).run();
}

namespace {

// The line of a table's header row. When the header was the last line of a paragraph,
// cmark-gfm gives the table (and its header row) the paragraph's first line, and the
// paragraph left before it line 0. The header lies just before the delimiter row: two
// lines before the first body row, or the line before the table's last when it has none.
int tableHeaderLine(cmark_node* table) {
    cmark_node* header = cmark_node_first_child(table);
    cmark_node* body = header ? cmark_node_next(header) : nullptr;
    const int line =
        body ? cmark_node_get_start_line(body) - 2 : cmark_node_get_end_line(table) - 1;
    return std::max(line, cmark_node_get_start_line(table));
}

}  // namespace

std::vector<TopLevelBlock> parseTopLevel(std::string_view utf8, MarkdownOptions options) {
    std::vector<TopLevelBlock> out;
    NodePtr doc = parseToTree(utf8, options);
    if (!doc) return out;
    Converter converter(doc.get(), options);
    for (cmark_node* child = cmark_node_first_child(doc.get()); child;
         child = cmark_node_next(child)) {
        TopLevelBlock block{converter.runChild(child),
                            cmark_node_get_start_line(child),
                            cmark_node_get_end_line(child),
                            {}};
        if (cmark_node_get_type(child) == CMARK_NODE_TABLE) {
            block.startLine = tableHeaderLine(child);
            // The paragraph the header was taken from began where the table was said to.
            const int paragraphStart = cmark_node_get_start_line(child);
            if (block.startLine > paragraphStart && !out.empty() &&
                out.back().startLine < paragraphStart) {
                out.back().startLine = paragraphStart;
                out.back().endLine = block.startLine - 1;
            }
        } else if (cmark_node_get_type(child) == CMARK_NODE_LIST) {
            for (cmark_node* item = cmark_node_first_child(child); item;
                 item = cmark_node_next(item))
                block.itemLines.push_back(cmark_node_get_start_line(item));
        }
        out.push_back(std::move(block));
    }
    return out;
}

void parseMarkdownOnly(std::string_view utf8) {
    NodePtr doc = parseToTree(utf8);
}

}  // namespace parlote

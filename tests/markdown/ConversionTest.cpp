// Markdown text to BlockNode/InlineNode values: every case and field, the streaming edge
// cases, and inputs that must not blow the stack.

#include <gtest/gtest.h>

#include <string>

#include "MarkdownParser.h"

using namespace parlote;

namespace {

template <class T>
const T& only(const Blocks& blocks) {
    EXPECT_EQ(blocks.size(), 1u);
    const T* node = blocks.empty() ? nullptr : std::get_if<T>(&blocks.front().value);
    if (!node) throw std::runtime_error("unexpected block kind");
    return *node;
}

template <class T>
const T& only(Blocks&&) = delete;  // the reference would outlive the blocks

template <class T>
const T& as(const BlockNode& block) {
    const T* node = std::get_if<T>(&block.value);
    if (!node) throw std::runtime_error("unexpected block kind");
    return *node;
}

template <class T>
const T& as(const InlineNode& node) {
    const T* n = std::get_if<T>(&node.value);
    if (!n) throw std::runtime_error("unexpected inline kind");
    return *n;
}

InlineNode text(std::string s) {
    return {inl::Text{std::move(s)}};
}

// All the text of some inlines, markup stripped.
std::string plain(const Inlines& inlines) {
    std::string out;
    for (const auto& n : inlines) {
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, inl::Text> || std::is_same_v<T, inl::Code>)
                    out += v.text;
                else if constexpr (std::is_same_v<T, inl::Html>)
                    out += v.html;
                else if constexpr (std::is_same_v<T, inl::SoftBreak> ||
                                   std::is_same_v<T, inl::LineBreak>)
                    out += '\n';
                else
                    out += plain(v.children);
            },
            n.value);
    }
    return out;
}

std::string plain(const Blocks& blocks);
std::string plain(const BlockNode& b) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, blk::Paragraph> || std::is_same_v<T, blk::Heading>)
                return plain(v.inlines);
            else if constexpr (std::is_same_v<T, blk::Blockquote>)
                return plain(v.blocks);
            else if constexpr (std::is_same_v<T, blk::CodeBlock>)
                return v.content;
            else if constexpr (std::is_same_v<T, blk::HtmlBlock>)
                return v.content;
            else if constexpr (std::is_same_v<T, blk::TaskList>) {
                std::string s;
                for (const auto& i : v.items) s += plain(i.blocks);
                return s;
            } else if constexpr (std::is_same_v<T, blk::BulletedList> ||
                                 std::is_same_v<T, blk::NumberedList>) {
                std::string s;
                for (const auto& i : v.items) s += plain(i);
                return s;
            } else if constexpr (std::is_same_v<T, blk::Table>) {
                std::string s;
                for (const auto& r : v.rows)
                    for (const auto& c : r) s += plain(c);
                return s;
            } else
                return "";
        },
        b.value);
}
std::string plain(const Blocks& blocks) {
    std::string out;
    for (const auto& b : blocks) out += plain(b);
    return out;
}

}  // namespace

TEST(MarkdownConversion, HeadingsKeepTheirLevelAndInlines) {
    Blocks blocks = parseMarkdown("# One\n\n###### Six *em*\n\nSetext\n---\n");
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(as<blk::Heading>(blocks[0]), (blk::Heading{1, {text("One")}}));
    const auto& six = as<blk::Heading>(blocks[1]);
    EXPECT_EQ(six.level, 6);
    ASSERT_EQ(six.inlines.size(), 2u);
    EXPECT_EQ(as<inl::Emphasis>(six.inlines[1]).children, Inlines{text("em")});
    EXPECT_EQ(as<blk::Heading>(blocks[2]).level, 2);
}

TEST(MarkdownConversion, InlineCasesAreDistinguished) {
    const Blocks pBlocks = parseMarkdown(
        "a *e* **s** ~~x~~ `c` <b>h</b> [l](http://x.org \"t\") ![alt "
        "*t*](http://x.org/i.png)\nnext  \nlast");
    const auto& p = only<blk::Paragraph>(pBlocks);
    const Inlines& in = p.inlines;
    ASSERT_EQ(in.size(), 20u) << plain(in);
    EXPECT_EQ(as<inl::Emphasis>(in[1]).children, Inlines{text("e")});
    EXPECT_EQ(as<inl::Strong>(in[3]).children, Inlines{text("s")});
    EXPECT_EQ(as<inl::Strikethrough>(in[5]).children, Inlines{text("x")});
    EXPECT_EQ(as<inl::Code>(in[7]).text, "c");
    EXPECT_EQ(as<inl::Html>(in[9]).html, "<b>");
    EXPECT_EQ(as<inl::Html>(in[11]).html, "</b>");
    EXPECT_EQ(as<inl::Link>(in[13]), (inl::Link{"http://x.org", {text("l")}}));
    const auto& img = as<inl::Image>(in[15]);
    EXPECT_EQ(img.source, "http://x.org/i.png");
    EXPECT_EQ(plain(img.children), "alt t");
    EXPECT_TRUE(std::holds_alternative<inl::SoftBreak>(in[16].value));
    EXPECT_TRUE(std::holds_alternative<inl::LineBreak>(in[18].value));
    EXPECT_EQ(as<inl::Text>(in[19]).text, "last");
}

TEST(MarkdownConversion, AdjacentTextIsOneNode) {
    // The parser splits text at characters that could open markup.
    EXPECT_EQ(as<blk::Paragraph>(parseMarkdown("a [b * c ] d_e").at(0)).inlines,
              Inlines{text("a [b * c ] d_e")});
}

TEST(MarkdownConversion, DoubleTildesStrikeThrough) {
    const Blocks pBlocks = parseMarkdown("keep ~~gone~~ keep");
    const auto& p = only<blk::Paragraph>(pBlocks);
    ASSERT_EQ(p.inlines.size(), 3u);
    EXPECT_EQ(as<inl::Strikethrough>(p.inlines[1]).children, Inlines{text("gone")});
}

TEST(MarkdownConversion, BareWebAddressBecomesALink) {
    const Blocks pBlocks = parseMarkdown("see www.example.com and https://a.org/x?y=1.");
    const auto& p = only<blk::Paragraph>(pBlocks);
    std::vector<std::string> links;
    for (const auto& n : p.inlines)
        if (auto* l = std::get_if<inl::Link>(&n.value)) links.push_back(l->destination);
    EXPECT_EQ(links, (std::vector<std::string>{"http://www.example.com", "https://a.org/x?y=1"}));
}

TEST(MarkdownConversion, ListsKeepTightnessAndStartNumber) {
    const Blocks tightBlocks = parseMarkdown("- a\n- b\n  - c\n");
    const auto& tight = only<blk::BulletedList>(tightBlocks);
    EXPECT_TRUE(tight.isTight);
    ASSERT_EQ(tight.items.size(), 2u);
    ASSERT_EQ(tight.items[1].size(), 2u);  // paragraph "b" and the nested list
    EXPECT_EQ(as<blk::BulletedList>(tight.items[1][1]).items.size(), 1u);

    const Blocks looseBlocks = parseMarkdown("7. a\n\n8. b\n");

    const auto& loose = only<blk::NumberedList>(looseBlocks);
    EXPECT_FALSE(loose.isTight);
    EXPECT_EQ(loose.start, 7);
    EXPECT_EQ(loose.items.size(), 2u);

    EXPECT_EQ(as<blk::NumberedList>(parseMarkdown("1) x\n").at(0)).start, 1);
    EXPECT_EQ(as<blk::NumberedList>(parseMarkdown("0. x\n").at(0)).start, 0);
}

TEST(MarkdownConversion, TaskBoxesBecomeATaskList) {
    const Blocks listBlocks = parseMarkdown("- [ ] open\n- [x] done\n- [X] also\n");
    const auto& list = only<blk::TaskList>(listBlocks);
    EXPECT_TRUE(list.isTight);
    ASSERT_EQ(list.items.size(), 3u);
    EXPECT_FALSE(list.items[0].isCompleted);
    EXPECT_TRUE(list.items[1].isCompleted);
    EXPECT_TRUE(list.items[2].isCompleted);
    // The box itself is not part of the item's text.
    EXPECT_EQ(plain(list.items[0].blocks), "open");

    EXPECT_FALSE(as<blk::TaskList>(parseMarkdown("- [ ] a\n\n- [x] b\n").at(0)).isTight);
}

TEST(MarkdownConversion, MixedTaskAndPlainItemsSplitIntoRuns) {
    Blocks blocks = parseMarkdown("3. [x] a\n4. b\n5. c\n6. [ ] d\n");
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_TRUE(as<blk::TaskList>(blocks[0]).items[0].isCompleted);
    const auto& middle = as<blk::NumberedList>(blocks[1]);
    EXPECT_EQ(middle.start, 4);  // numbering carries on where the run begins
    EXPECT_EQ(middle.items.size(), 2u);
    EXPECT_FALSE(as<blk::TaskList>(blocks[2]).items[0].isCompleted);
}

TEST(MarkdownConversion, CodeBlocksKeepFenceInfoAndContent) {
    Blocks blocks =
        parseMarkdown("```cpp title\nint x;\n\n  y\n```\n\n```\nplain\n```\n\n    indented\n");
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(as<blk::CodeBlock>(blocks[0]), (blk::CodeBlock{"cpp title", "int x;\n\n  y\n"}));
    EXPECT_EQ(as<blk::CodeBlock>(blocks[1]), (blk::CodeBlock{std::nullopt, "plain\n"}));
    EXPECT_EQ(as<blk::CodeBlock>(blocks[2]), (blk::CodeBlock{std::nullopt, "indented\n"}));
}

TEST(MarkdownConversion, UnclosedFenceRunsToTheEndUntilItCloses) {
    const std::string streamed = "Intro\n\n```py\nprint(1)\n\nAfter";
    Blocks open = parseMarkdown(streamed);
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(as<blk::CodeBlock>(open[1]).content, "print(1)\n\nAfter\n");

    Blocks closed = parseMarkdown("Intro\n\n```py\nprint(1)\n```\n\nAfter *all*");
    ASSERT_EQ(closed.size(), 3u);
    EXPECT_EQ(as<blk::CodeBlock>(closed[1]), (blk::CodeBlock{"py", "print(1)\n"}));
    EXPECT_EQ(plain(as<blk::Paragraph>(closed[2]).inlines), "After all");
    EXPECT_EQ(open[0], closed[0]);  // leading blocks compare equal across chunks
}

TEST(MarkdownConversion, PipeTableKeepsAlignmentsAndHeader) {
    const Blocks tableBlocks =
        parseMarkdown("| L | C | R | N |\n|:--|:-:|--:|---|\n| a | *b* | c | d |\n| short |\n");
    const auto& table = only<blk::Table>(tableBlocks);
    EXPECT_EQ(table.columnAlignments,
              (std::vector<ColumnAlignment>{ColumnAlignment::Left, ColumnAlignment::Center,
                                            ColumnAlignment::Right, ColumnAlignment::None}));
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[0][2], Inlines{text("R")});
    EXPECT_EQ(as<inl::Emphasis>(table.rows[1][1][0]).children, Inlines{text("b")});
    ASSERT_EQ(table.rows[2].size(), 4u);  // short rows are padded to the header's width
    EXPECT_EQ(table.rows[2][0], Inlines{text("short")});
    EXPECT_TRUE(table.rows[2][3].empty());
}

TEST(MarkdownConversion, QuotesBreaksAndRawHtmlBlocks) {
    Blocks blocks = parseMarkdown("> q1\n>\n> > q2\n\n***\n\n<div onclick=\"x()\">\nraw\n</div>\n");
    ASSERT_EQ(blocks.size(), 3u);
    const auto& quote = as<blk::Blockquote>(blocks[0]);
    ASSERT_EQ(quote.blocks.size(), 2u);
    EXPECT_EQ(plain(as<blk::Blockquote>(quote.blocks[1]).blocks), "q2");
    EXPECT_TRUE(std::holds_alternative<blk::ThematicBreak>(blocks[1].value));
    EXPECT_EQ(as<blk::HtmlBlock>(blocks[2]).content, "<div onclick=\"x()\">\nraw\n</div>\n");
}

TEST(MarkdownConversion, TagFilterDoesNotHideRawHtmlText) {
    // The tag filter only matters to HTML output; the text of the tag stays in the tree
    // so that it can be shown literally.
    Blocks blocks = parseMarkdown("<script>alert(1)</script>\n");
    EXPECT_EQ(as<blk::HtmlBlock>(blocks.at(0)).content, "<script>alert(1)</script>\n");
}

TEST(MarkdownConversion, RelativeAndOddLinksKeepTheirDestinationVerbatim) {
    const Blocks pBlocks = parseMarkdown("![a](img/x.png) [j](javascript:alert(1))");
    const auto& p = only<blk::Paragraph>(pBlocks);
    EXPECT_EQ(as<inl::Image>(p.inlines[0]).source, "img/x.png");
    EXPECT_EQ(as<inl::Link>(p.inlines[2]).destination, "javascript:alert(1)");
}

TEST(MarkdownConversion, DeepNestingIsFlattenedWithoutLosingText) {
    for (const char* opener : {"> ", "- ", "1. ", "* > "}) {
        std::string deep;
        for (int i = 0; i < 5000; ++i) deep += opener;
        deep += "bottom";
        Blocks blocks = parseMarkdown(deep);
        EXPECT_EQ(plain(blocks), "bottom") << opener;
        int depth = 0;
        const Blocks* level = &blocks;
        while (!level->empty()) {
            const BlockNode& b = level->front();
            if (auto* q = std::get_if<blk::Blockquote>(&b.value))
                level = &q->blocks;
            else if (auto* l = std::get_if<blk::BulletedList>(&b.value))
                level = &l->items.front();
            else if (auto* n = std::get_if<blk::NumberedList>(&b.value))
                level = &n->items.front();
            else
                break;
            ++depth;
        }
        EXPECT_LE(depth, kMaxBlockNesting) << opener;
    }

    std::string inlineDeep;
    for (int i = 0; i < 3000; ++i) inlineDeep += "*a **b [c ";
    inlineDeep += "end";
    for (int i = 0; i < 3000; ++i) inlineDeep += "](http://x) b** a*";
    Blocks blocks = parseMarkdown(inlineDeep);
    EXPECT_NE(plain(blocks).find("end"), std::string::npos);
}

TEST(MarkdownConversion, EmptyAndBlankTextGiveNoBlocks) {
    EXPECT_TRUE(parseMarkdown("").empty());
    EXPECT_TRUE(parseMarkdown("\n  \n\t\n").empty());
}

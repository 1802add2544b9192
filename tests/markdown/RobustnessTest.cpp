// Hostile Markdown: random mixes of every construct, unclosed everything, deep nesting
// and long lines, rendered end to end. Passing means no crash, no sanitizer report and
// no hang (ctest's time limit).

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <random>

#include "ImageStore.h"
#include "MarkdownLayout.h"
#include "MarkdownParser.h"

using namespace parlote;

namespace {

const char* const kPieces[] = {
    "# ",
    "###### ",
    "> ",
    ">>>> ",
    "- ",
    "* ",
    "+ ",
    "1. ",
    "9999999999. ",
    "- [ ] ",
    "- [x] ",
    "```",
    "~~~",
    "```cpp\n",
    "    ",
    "|",
    "| a | b |\n|:-|-:|\n",
    "|---|",
    "*",
    "**",
    "_",
    "__",
    "~~",
    "~",
    "`",
    "``",
    "[",
    "](",
    ")",
    "![",
    "<",
    ">",
    "<div>",
    "</div>",
    "<script>",
    "<!--",
    "-->",
    "&amp;",
    "&#0;",
    "\\",
    "\n",
    "\n\n",
    "\t",
    "---\n",
    "***",
    "www.",
    "https://x.org/",
    "mailto:a@b",
    "<http://a.b>",
    "text ",
    "é",
    "\xF0\x9F\x98\x80",
    "\xFF",
    "\xC3",
    "\0",
    "[ref]: http://x\n",
    "[ref]",
    "  \n",
    "===\n",
    "1) ",
    "<details>",
    "|||||",
    ":-:",
};

std::string hostileText(std::mt19937& rng) {
    std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> kind(0, 9);
    std::string out;
    switch (kind(rng)) {
        case 0: {  // deep nesting of one opener
            const char* opener = kPieces[piece(rng)];
            for (int i = 0; i < 3000; ++i) out += opener;
            out += "deep";
            break;
        }
        case 1:  // one long line
            for (int i = 0; i < 2000; ++i) out += (i % 7 ? "word " : "**x** ");
            break;
        case 2: {  // a wide, long table
            out += "|";
            for (int c = 0; c < 120; ++c) out += " h |";
            out += "\n|";
            for (int c = 0; c < 120; ++c) out += ":-:|";
            out += "\n";
            for (int r = 0; r < 150; ++r) out += "| a | *b* | `c` |\n";
            break;
        }
        default: {  // random soup
            const size_t count = std::uniform_int_distribution<size_t>(1, 400)(rng);
            for (size_t i = 0; i < count; ++i) {
                const char* p = kPieces[piece(rng)];
                out.append(p, p[0] ? std::strlen(p) : 1);
            }
        }
    }
    return out;
}

}  // namespace

TEST(MarkdownRobustness, HostileCorpusRendersWithoutCrashOrHang) {
    std::mt19937 rng(20240604);
    ImageStore offline(nullptr);
    QImage canvas(300, 400, QImage::Format_ARGB32);
    for (int i = 0; i < 60; ++i) {
        const std::string text = hostileText(rng);
        MarkdownLayout layout(&offline);
        layout.setMarkdown(text);
        ASSERT_GE(layout.heightForWidth(280), 0) << i;
        QPainter painter(&canvas);
        layout.paint(&painter, {0, 0}, QRectF(0, 0, 300, 400));
        painter.end();
        // Streaming the same text in pieces goes through the reuse path too.
        MarkdownLayout streamed(&offline);
        for (size_t cut = 0; cut < text.size(); cut += std::max<size_t>(1, text.size() / 4)) {
            streamed.setMarkdown(std::string_view(text).substr(0, cut));
            streamed.heightForWidth(200);
        }
    }
}

TEST(MarkdownRobustness, MegabytesOfTextParse) {
    const std::string unit = "## Part\n\nSome *text* with `code` and a [link](http://x.org).\n\n";
    std::string big;
    size_t units = 0;
    for (; big.size() < 3'000'000; ++units) big += unit;
    EXPECT_EQ(parseMarkdown(big).size(), 2 * units);
}

// Streaming: a text handed over again after every chunk, parsed by MarkdownStream and laid
// out by MarkdownLayout, reads exactly as the same text parsed and laid out at once, at
// every chunk, for random chunk sizes, including texts where a later character changes an
// earlier block.

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QTextDocument>
#include <QTextTable>
#include <random>

#include "DocumentWriter.h"
#include "ImageStore.h"
#include "MarkdownLayout.h"
#include "MarkdownParser.h"
#include "MarkdownSelection.h"
#include "MarkdownStream.h"

namespace parlote {
namespace {

std::string repeat(int times, const std::function<std::string(int)>& part) {
    std::string out;
    for (int i = 1; i <= times; ++i) out += part(i);
    return out;
}

// The five shapes of the benchmark, small, and texts that change earlier blocks later.
std::vector<std::pair<const char*, std::string>> texts() {
    return {
        {"code", "Intro:\n\n```python\n" +
                     repeat(40,
                            [](int i) {
                                return "def f" + std::to_string(i) + "(x):\n    return x * " +
                                       std::to_string(i) + "  # twice\n";
                            }) +
                     "```\n\nDone.\n"},
        {"table", "| a | b | c |\n|:--|:-:|--:|\n" +
                      repeat(60,
                             [](int i) {
                                 const std::string n = std::to_string(i);
                                 return "| " + n + " | `x" + n + "` | **" + n + "** |\n";
                             }) +
                      "\nAfter the table.\n"},
        {"list",
         "Steps:\n\n" +
             repeat(40,
                    [](int i) { return "- item " + std::to_string(i) + " with *some* `code`\n"; }) +
             "\nEnd.\n"},
        {"paragraph", repeat(60,
                             [](int i) {
                                 return "Sentence " + std::to_string(i) +
                                        " has **bold** and *italics* and `code`. ";
                             })},
        {"mixed", repeat(6,
                         [](int i) {
                             const std::string n = std::to_string(i);
                             return "## Part " + n + "\n\nText *" + n +
                                    "*.\n\n- a\n- b\n  - nested\n\n> quote " + n +
                                    "\n> more\n\n```js\nlet x = " + n +
                                    ";\n```\n\n| h | i |\n|---|---|\n| " + n +
                                    " | y |\n\n1. one\n2. two\n\n---\n\n";
                         })},
        {"setext heading", "Title line\n==========\n\nText\nAnother title\n---\n\nEnd"},
        {"opening fence",
         "First paragraph.\n\n```\ncode\n\n# not a heading\n- not a list\n```\n"
         "After.\n\n~~~~ sh\necho ~~~\n~~~~\n"},
        {"definition after link",
         "See [the manual][m] and [m].\n\nMore text here.\n\n- item [m]\n\n[m]: "
         "https://example.com "
         "\"Manual\"\n\nLast [m]."},
        {"list turning loose",
         "- a\n- b\n- c\n\n- d\n- e\n\nafter\n\n1. x\n2. y\n\n   more\n3. z\n"},
        {"table delimiter later",
         "| h1 | h2 |\n| --- | --- |\n| 1 | 2 |\nlazy row\n\n"
         "not | a table\n\n| x |\n|---|\n"},
        {"interrupting lines",
         "para\n#\n# heading\ntext\n- \n-\nstill\n1. one\n2) two\n* star\n+ plus\n"},
        {"tasks", "- [ ] open\n- [x] done\n- plain\n- [ ] again\n\n* [x] other\n"},
        {"long numbers", repeat(14, [](int i) { return std::to_string(i) + ". item\n"; })},
        {"nested", "> - a\n>   ```\n>   code\n>   ```\n> - b\n\n- x\n\n      indented\n- y\n"},
        {"crlf", "line one\r\nline two\r\n\r\n```\r\ncode\r\n```\r\n"},
        {"html", "<div>\nraw *html*\n</div>\n\n<!-- c -->\ntext\n"},
        {"nul bytes", std::string("#,Pla   |\n\0\0\0es** |\n|--  \n-: ] open task\n- [x] done\n\n"
                                  "> - one\n> - tw\0o\n",
                                  70)},
        // A table whose header row was the last line of a paragraph.
        {"table under a paragraph",
         "Here:\nmore\n| a | b |\n|---|--:|\n| 1 | 2 |\n| 3 | 4 |\n"
         "\n> quote\n> | q |\n> |---|\n\nEnd | x\n| y |\n|-|\n"},
        // Rows with empty cells appended to a table (found by the fuzzer).
        {"empty cells", "V\n|-\n|.M||.\n||.\n\n| h | i |\n|---|---|\n| a | |\n| | b |\n|  |  |\n"},
        // A line cut short that reads as a delimiter row (found by the fuzzer), then does not.
        {"delimiter row undone", "para\n| a |\n-| b `c` | d ~\n\n | x |\n|:-  \n| y\n"},
        {"code then definition",
         "```json\n[\n  [1, 2],\n  {\"a\": [3]}\n]\n   ```\n\nSee [d].\n\n[d\n]: /u\n\n"
         "~~~\n[x]: /in-code\n~~~~\n\n[x]\n```\n[\n``` x\n[e]: /u\n```\n"},
    };
}

// Feeds `text` (ASCII) to `feed` whole up to the end of each chunk of 1 to `maxChunk` bytes.
template <typename Feed>
void stream(const std::string& text, unsigned seed, size_t maxChunk, Feed feed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> size(1, maxChunk);
    size_t at = 0;
    while (at < text.size()) {
        at = std::min(text.size(), at + size(random));
        feed(std::string_view(text.data(), at));
    }
}

TEST(MarkdownStreamTest, EveryChunkParsesAsTheWholeTextAtOnce) {
    for (const auto& [name, text] : texts()) {
        for (unsigned seed = 1; seed <= 4; ++seed) {
            MarkdownStream parsed;
            stream(text, seed, seed == 1 ? 1 : 9, [&, name = name](std::string_view prefix) {
                parsed.update(prefix);
                ASSERT_EQ(parsed.blocks(), parseMarkdown(prefix))
                    << name << ", seed " << seed << ", after " << prefix.size() << " bytes";
            });
        }
    }
}

TEST(MarkdownStreamTest, OnlyTheTailIsParsedAgainAndADefinitionMakesItParseWhole) {
    MarkdownStream parsed;
    parsed.update("One.\n\nTwo.\n\nThr");
    // "Two." is final only once a block begins on a complete line after it.
    EXPECT_EQ(parsed.finalBlockCount(), 1u);
    EXPECT_FALSE(parsed.lastUpdateWasWhole());
    const MarkdownStream::Change change = parsed.update("One.\n\nTwo.\n\nThree\n\nFour");
    EXPECT_EQ(change.kept, 2u);
    EXPECT_EQ(parsed.finalBlockCount(), 2u);

    // A growing code block keeps its complete lines.
    MarkdownStream code;
    code.update("```\na\n");
    code.update("```\na\nb\n");
    const MarkdownStream::Change grown = code.update("```\na\nb\nc");
    EXPECT_EQ(grown.kept, 0u);
    EXPECT_EQ(grown.keptParts, 2u);

    // Code is no definition: a JSON array in a fenced block keeps the parse to the tail.
    MarkdownStream json;
    json.update("```json\n[\n  1,\n");
    json.update("```json\n[\n  1,\n  2\n]\n```\n\nText");
    EXPECT_FALSE(json.lastUpdateWasWhole());

    parsed.update("One.\n\nTwo.\n\nThree [x]\n\n[x]: /u");
    EXPECT_TRUE(parsed.lastUpdateWasWhole());
    // A text that does not continue the last one is parsed from its start.
    const MarkdownStream::Change replaced = parsed.update("Other.");
    EXPECT_EQ(replaced.kept, 0u);
    EXPECT_EQ(parsed.blocks(), parseMarkdown("Other."));
}

// What a layout draws, at a width.
QImage render(MarkdownLayout& layout) {
    QImage image(500, int(layout.height()) + 1, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    layout.paint(&painter, QPointF(0, 0));
    return image;
}

TEST(MarkdownLayoutStreamingTest, TheStreamedLayoutDrawsAsTheWholeTextLaidOutAtOnce) {
    ImageStore offline;
    for (const auto& [name, text] : texts()) {
        MarkdownLayout streamed(&offline);
        streamed.setWidth(500);
        int chunk = 0;
        stream(text, 7, 11, [&, name = name](std::string_view prefix) {
            streamed.setMarkdown(prefix);
            // Laid out between some chunks only, as a view that paints once per frame.
            if (++chunk % 3 == 0) (void)streamed.height();
            if (chunk % 40 != 0 && prefix.size() != text.size()) return;
            MarkdownLayout whole(&offline);
            whole.setWidth(500);
            whole.setMarkdown(prefix);
            ASSERT_EQ(streamed.blockCount(), whole.blockCount());
            for (int i = 0; i < whole.blockCount(); ++i) {
                ASSERT_EQ(streamed.blockDocument(i)->toHtml().toStdString(),
                          whole.blockDocument(i)->toHtml().toStdString())
                    << name << ", block " << i << " at " << prefix.size();
            }
            ASSERT_EQ(streamed.height(), whole.height()) << name << " at " << prefix.size();
            ASSERT_EQ(render(streamed), render(whole)) << name << " at " << prefix.size();
        });
    }
}

TEST(MarkdownLayoutStreamingTest, AGrowingBlockIsAppendedToRatherThanWrittenAgain) {
    ImageStore offline;
    MarkdownLayout layout(&offline);
    layout.setWidth(500);
    std::string text = "```python\nx = 0\nx = 1\n";
    layout.setMarkdown(text);
    layout.setMarkdown(text + "x");
    (void)layout.height();
    const QTextDocument* doc = layout.blockDocument(0);
    for (int i = 2; i < 30; ++i) {
        text += "x = " + std::to_string(i) + "\n";
        layout.setMarkdown(text);
        (void)layout.height();
    }
    EXPECT_EQ(layout.blockDocument(0), doc);  // the same document, appended to
    EXPECT_EQ(layout.codeOf(0).count(QLatin1Char('\n')), 29);

    // A paragraph: its text before the inlines that changed stays where it is.
    MarkdownLayout paragraph(&offline);
    paragraph.setWidth(500);
    std::string words = "Some *words* and ";
    paragraph.setMarkdown(words);
    (void)paragraph.height();
    const QTextDocument* written = paragraph.blockDocument(0);
    for (int i = 0; i < 30; ++i) {
        words += i % 5 == 0 ? "**more" : i % 5 == 1 ? " words** " : "word ";
        paragraph.setMarkdown(words);
        (void)paragraph.height();
    }
    EXPECT_EQ(paragraph.blockDocument(0), written);
    MarkdownLayout whole(&offline);
    whole.setWidth(500);
    whole.setMarkdown(words);
    EXPECT_EQ(paragraph.blockDocument(0)->toHtml(), whole.blockDocument(0)->toHtml());
}

// A long table: written as a stack of short tables that share their column widths,
// appended to part by part while it streams, and read (copied, selected) as one table.
TEST(MarkdownLayoutStreamingTest, ALongTableIsAStackOfPartsThatReadsAsOneTable) {
    ImageStore offline;
    MarkdownLayout layout(&offline);
    layout.setWidth(500);
    std::string text = "| n | name | note |\n|---|:--|--:|\n";
    QString expected = "n\tname\tnote";
    const QTextTable* firstPart = nullptr;
    for (int i = 1; i <= 40; ++i) {
        const std::string n = std::to_string(i);
        text += "| " + n + " | x" + n + " | long note " + n + " |\n";
        expected += QString("\n%1\tx%1\tlong note %1").arg(i);
        layout.setMarkdown(text);
        (void)layout.height();
        if (i == 20)
            firstPart = qobject_cast<QTextTable*>(
                layout.blockDocument(0)->rootFrame()->childFrames().value(0));
    }
    QTextDocument* doc = layout.blockDocument(0);
    const QList<QTextFrame*> parts = doc->rootFrame()->childFrames();
    const int perPart = DocumentWriter::kTablePartCells / 3;
    ASSERT_EQ(parts.size(), (41 + perPart - 1) / perPart);
    EXPECT_EQ(parts[0], firstPart) << "rows were appended, the first part kept";
    for (QTextFrame* part : parts) {
        auto* table = qobject_cast<QTextTable*>(part);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->format().columnWidthConstraints(),
                  static_cast<QTextTable*>(parts[0])->format().columnWidthConstraints());
    }
    EXPECT_EQ(plainTextOf(layout, {}, textEnd(layout)), expected) << "no gaps between parts";

    // From a cell of the first part to one of the third: the rows between, the columns
    // between the two cells, as in one table.
    auto at = [&](const QString& cellText) {
        return TextPosition{0, doc->find(cellText).selectionStart()};
    };
    QString rectangle;
    for (int i = 3; i <= 25; ++i) rectangle += QString("%1\tx%1\n").arg(i);
    rectangle.chop(1);
    EXPECT_EQ(plainTextOf(layout, at("x3"), at("25")), rectangle);
    // Painted the same way: the selected cells, not whole parts.
    QTextCharFormat selected;
    selected.setBackground(Qt::blue);
    auto paintSelection = [&](TextPosition from, TextPosition to) {
        QImage image(500, int(layout.height()) + 1, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        layout.paint(&painter, QPointF(0, 0), QRectF(), from, to, selected);
        return image;
    };
    const QImage cells = paintSelection(at("x3"), at("25"));
    const QRectF lastCell = doc->documentLayout()->blockBoundingRect(doc->find("x26").block());
    EXPECT_NE(cells.pixelColor(QPoint(int(lastCell.left()) + 1, int(lastCell.center().y()))),
              QColor(Qt::blue))
        << "a cell of a later row is not selected";
    const QRectF inside = doc->documentLayout()->blockBoundingRect(doc->find("x10").block());
    EXPECT_EQ(cells.pixelColor(QPoint(int(inside.left()) + 1, int(inside.center().y()))),
              QColor(Qt::blue));
}

TEST(MarkdownLayoutStreamingTest, CodeLinesCountOnFromAMarkOnlyWhereItStillHolds) {
    const std::string code = "a\nbb\nccc\ndddd\n";
    int total = 0;
    CodeLineMark mark;
    EXPECT_EQ(codeLines(code, 2, &total, &mark), QStringList({"ccc", "dddd"}));
    EXPECT_EQ(total, 4);
    EXPECT_EQ(mark.line, 2);
    EXPECT_EQ(mark.offset, 5u);
    // From the mark on, as from the start.
    EXPECT_EQ(codeLines(code, 3, &total, &mark), QStringList({"dddd"}));
    EXPECT_EQ(mark.line, 3);
    // A mark past the line asked for, or at no line start, is not used.
    CodeLineMark late{3, 9};
    EXPECT_EQ(codeLines(code, 1, &total, &late), QStringList({"bb", "ccc", "dddd"}));
    CodeLineMark inside{2, 6};
    EXPECT_EQ(codeLines(code, 2, &total, &inside), QStringList({"ccc", "dddd"}));
    CodeLineMark beyond{1, 400};
    EXPECT_EQ(codeLines(code, 1, &total, &beyond), QStringList({"bb", "ccc", "dddd"}));
}

TEST(MarkdownStreamTest, BytesThatAreNotUtf8MakeTheWholeTextParse) {
    // Found by the Markdown fuzzer: a header and a delimiter row cut where the third line
    // read as a delimiter row, then bytes that are not UTF-8 in that line.
    const std::string withBadBytes =
        " |\n|:-  \n-| Earth  | 0     | npop&#x1F999|--2----....\xd2\xd1\xd1\xd9... `Mars` | 2 |\n";
    for (const std::string& text : {withBadBytes}) {
        for (size_t cut = 1; cut < text.size(); ++cut) {
            MarkdownStream stream;
            stream.update(std::string_view(text).substr(0, cut));
            stream.update(text);
            EXPECT_TRUE(stream.blocks() == parseMarkdown(text)) << "cut at " << cut;
        }
    }
}

}  // namespace
}  // namespace parlote

// A layout's plain text with the place of each character (what Find in a conversation
// looks through): the same text as the Markdown's plain text made without laying it out and
// as a selection of all of it copies, and places that lead back to the characters.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>
#include <ostream>

#include "ImageStore.h"
#include "MarkdownLayout.h"
#include "MarkdownPlainText.h"
#include "MarkdownSelection.h"

// Texts print as text in failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace parlote {
namespace {

const char* const kSamples[] = {
    "Plain words, *emphasis*, **strong**, `code` and a [link](https://example.com).",
    "# Heading\n\nA paragraph\nwith a soft break.\n\nAnother  with a hard  \nbreak.",
    "- one\n- two\n  - nested *deep*\n- three\n\n1. first\n2. second\n\n- [x] done\n- [ ] to do",
    "```python\ndef f(x):\n    return x\n\n# the end\n```\n\nAfter the code.",
    "| Name | Value |\n|:-----|------:|\n| a *b* | `1` |\n| long cell  text | 2 |\n\nAfter.",
    "> A quotation\n> on two lines\n\n---\n\nThe end.",
    "<div>raw html</div>\n\nText with <b>inline</b> html.",
    "1. An item\n\n   with a second paragraph\n2. Another\n\n   ```\n   code in a list\n   ```",
};

class PlacedTextTest : public ::testing::TestWithParam<bool> {
protected:
    ImageStore images;  // keeps the layouts off the network
};

TEST_P(PlacedTextTest, IsThePlainTextOfTheMarkdownAndOfASelectionOfAll) {
    const bool hardBreaks = GetParam();
    for (const char* sample : kSamples) {
        MarkdownLayout layout(&images);
        layout.setHardBreaks(hardBreaks);
        layout.setWidth(400);
        layout.setMarkdown(sample);
        const PlacedText placed = placedText(layout);
        EXPECT_EQ(placed.text,
                  markdownToPlainText(QString::fromUtf8(sample), MarkdownOptions{hardBreaks}))
            << sample;
        EXPECT_EQ(placed.text, plainTextOf(layout, {}, textEnd(layout))) << sample;
        EXPECT_EQ(placed.places.size(), size_t(placed.text.size())) << sample;
    }
}

TEST_P(PlacedTextTest, EachWordsPlacesLeadBackToIt) {
    static const QRegularExpression word(QStringLiteral("\\w+"));
    for (const char* sample : kSamples) {
        MarkdownLayout layout(&images);
        layout.setHardBreaks(GetParam());
        layout.setWidth(400);
        layout.setMarkdown(sample);
        const PlacedText placed = placedText(layout);
        for (auto it = word.globalMatch(placed.text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            // A list's numbers are markers, not text of the documents.
            if (!placed.places[size_t(m.capturedStart())].real) continue;
            const TextRange range = placed.range(m.capturedStart(), m.capturedLength());
            ASSERT_EQ(range.from.block, range.to.block);
            QTextCursor cursor(layout.blockDocument(range.from.block));
            cursor.setPosition(range.from.offset);
            cursor.setPosition(range.to.offset, QTextCursor::KeepAnchor);
            EXPECT_EQ(cursor.selectedText(), m.captured()) << sample << " at " << m.capturedStart();
            const QRectF rect = rangeRect(layout, range);
            EXPECT_FALSE(rect.isEmpty()) << m.captured().toStdString();
            EXPECT_EQ(textPositionAt(layout, rect.center() - QPointF(rect.width() / 2 - 0.5, 0)),
                      range.from)
                << m.captured().toStdString() << " in " << sample;
        }
    }
}

TEST_P(PlacedTextTest, APictureThatDidNotComeShowsItsPlaceholderBeforeItsAlternativeText) {
    MarkdownLayout layout(&images);
    layout.setHardBreaks(GetParam());
    layout.setWidth(400);
    layout.setMarkdown("![a picture](pic.png) and text");
    const PlacedText placed = placedText(layout);
    // What is painted, unlike the text made without laying it out: Find counts what the
    // latter holds, and the placeholder is no word that anyone looks for.
    EXPECT_TRUE(placed.text.endsWith("a picture and text"));
    const qsizetype at = placed.text.indexOf("picture");
    const TextRange range = placed.range(at, 7);
    EXPECT_EQ(plainTextOf(layout, range.from, range.to), "picture");
}

TEST_P(PlacedTextTest, AStretchAcrossBlocksTakesInTheirEndsAndNotTheBreakBetween) {
    MarkdownLayout layout(&images);
    layout.setHardBreaks(GetParam());
    layout.setWidth(400);
    layout.setMarkdown("First paragraph.\n\n- item one\n- item two");
    const PlacedText placed = placedText(layout);
    ASSERT_EQ(placed.text, "First paragraph.\n• item one\n• item two");
    const qsizetype start = placed.text.indexOf("paragraph");
    const qsizetype end = placed.text.indexOf("item one") + 4;
    const TextRange range = placed.range(start, end - start);
    EXPECT_EQ(plainTextOf(layout, range.from, range.to), "paragraph.\n• item");
    // A stretch that ends on the break takes in nothing of the block after it.
    const TextRange toBreak = placed.range(start, placed.text.indexOf('\n') + 1 - start);
    EXPECT_EQ(toBreak.to.block, 1);
    EXPECT_EQ(plainTextOf(layout, toBreak.from, toBreak.to), "paragraph.");
    EXPECT_EQ(placed.range(0, 0), TextRange{});
    EXPECT_EQ(placed.range(0, placed.text.size() + 1), TextRange{});
}

INSTANTIATE_TEST_SUITE_P(BothBreakModes, PlacedTextTest, ::testing::Bool());

}  // namespace
}  // namespace parlote

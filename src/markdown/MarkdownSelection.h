#pragma once

// Selecting text in a MarkdownLayout: the place under a point, the word or paragraph
// around a place, where a piece of text is drawn, and the plain text between two places
// as it reads on screen: no Markdown syntax, list items on lines of their own under their
// markers, a table's cells separated by tabs and its rows by line breaks, code as written,
// one line break between blocks (as markdownToPlainText() gives for a whole text).
//
// Places are MarkdownLayout::TextPosition values: a top-level block and a position in its
// document, so a place stays on the same character while the text grows after it. A
// place past the end of the text stands for its end.
//
// Interface thread only.

#include <QRectF>
#include <QString>
#include <vector>

#include "MarkdownLayout.h"

namespace parlote {

using TextPosition = MarkdownLayout::TextPosition;

/// A stretch of text from `from` up to `to`; empty unless `from` comes first.
struct TextRange {
    TextPosition from;
    TextPosition to;
    bool isEmpty() const { return !(from < to); }
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

/// The end of the text (the start of an empty one).
TextPosition textEnd(MarkdownLayout& layout);

/// `at` as a place in the text as it is now: one past the end becomes the end.
TextPosition clampPosition(MarkdownLayout& layout, TextPosition at);

/// The place between characters nearest to `point` (relative to the layout's top-left
/// corner): above the text its start, below it its end, in the gap between two blocks the
/// end of the one above, beside a line its start or end.
TextPosition textPositionAt(MarkdownLayout& layout, const QPointF& point);

/// The word under `point` (what a double click selects); an empty range at the nearest
/// place when the point is over no word.
TextRange wordAt(MarkdownLayout& layout, const QPointF& point);

/// The paragraph holding `at` (what a triple click selects): a paragraph, a heading, a
/// list item's line, a table cell, a whole code block.
TextRange paragraphAt(MarkdownLayout& layout, TextPosition at);

/// The text between `from` and `to` as plain text (see above). A range that ends inside a
/// table it did not start in takes in the whole table, as it is painted.
QString plainTextOf(MarkdownLayout& layout, TextPosition from, TextPosition to);

/// Where the first occurrence of `text` is drawn, relative to the layout's top-left corner:
/// the part of it on its first line. A null rectangle when the layout does not hold it.
QRectF textRect(MarkdownLayout& layout, const QString& text);

/// Where `range` is drawn, relative to the layout's top-left corner: the part of it on the
/// line it begins on (to the end of that line when it goes on past it). A null rectangle
/// for an empty range or one outside the text.
QRectF rangeRect(MarkdownLayout& layout, TextRange range);

/// The plain text of a whole layout, as plainTextOf() gives it from the start to the end,
/// with the place of each of its characters: what Find looks through, so that a stretch
/// found in the text can be painted where it is.
struct PlacedText {
    /// Where a character of `text` is: the place before it. Characters that are not in
    /// the documents (a list item's marker, the line break between two blocks, the tab
    /// between two cells) are not `real`: they take no room, and stand at the place of
    /// what follows them.
    struct Place {
        TextPosition at;
        bool real = true;
    };
    QString text;
    std::vector<Place> places;  // one per character of `text`

    /// The places of the `length` characters of `text` from `start` (within the text).
    TextRange range(qsizetype start, qsizetype length) const;
};
PlacedText placedText(MarkdownLayout& layout);

}  // namespace parlote

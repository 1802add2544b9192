#pragma once

// What DocumentWriter records for the decorations Qt's text layout cannot draw on its
// own (list markers, task boxes, quote bars, code backgrounds, rules): block properties,
// read back by paintDecorations() (declared in DocumentWriter.h) to draw them. Used by
// those two only.

#include <QString>
#include <QTextFormat>

namespace parlote::decoration {

// Block properties the writer leaves for paintDecorations().
enum Property {
    MarkerTexts = QTextFormat::UserProperty + 1,  // QStringList: list markers on this line
    MarkerRights,                                 // QList<qreal>: right edge of each marker
    QuoteBars,                                    // QList<qreal>: x of each quote bar
    QuoteBarsStarting,                            // int: how many of the bars begin at this block
    CodeLeft,                                     // qreal: left edge of a code block's background
    CodeTopInset,  // qreal: the background starts this far below the top
    Rule,          // bool: a thematic break
    CodeStart,     // bool: the first block of a code background (a header, raw HTML)
    CodeHeader,    // QString: a code block's header line; the value is its language
    CodeLine,      // bool: a line of a code block
    CodeLast,      // bool: the last block of a code background
    // A table format property rather than a block's: set on each part of a long table
    // written as a stack of short ones (DocumentWriter), the row of the whole table its
    // first row is.
    TablePart,  // int
};

/// The label of the button drawn at the right end of a code block's header.
inline const QString kCopyLabel = QStringLiteral("Copy");

// Markers that stand for task boxes rather than text (private-use characters).
inline const QString kOpenBox = QStringLiteral("\uE000");
inline const QString kTickedBox = QStringLiteral("\uE001");

}  // namespace parlote::decoration

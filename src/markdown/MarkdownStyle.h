#pragma once

// Fonts, colours and spacing of rendered Markdown, all derived from the font and palette
// of the widget that shows it, so that light and dark themes both read well.

#include <QColor>
#include <QFont>
#include <QPalette>

#include "SyntaxTheme.h"

namespace parlote {

/// `a` moved towards `b` by `amountOfB` (0 gives a, 1 gives b), opaque.
QColor mixColors(const QColor& a, const QColor& b, qreal amountOfB);
/// The colour of secondary text (times, captions, fallbacks) on the window background.
QColor secondaryTextColor(const QPalette& palette);
/// `font` `factor` times larger, whether it is sized in points or in pixels.
QFont scaledFont(const QFont& font, qreal factor);

struct MarkdownStyle {
    QFont body;
    QFont mono;
    QColor text;
    QColor secondary;  // list markers, image stand-ins
    QColor link;
    QColor codeBackground;  // code blocks and inline code
    QColor quoteBar;
    QColor rule;              // thematic breaks and table borders
    QColor headerBackground;  // table header row
    QColor checkboxFill;      // ticked task boxes
    SyntaxTheme syntax;       // coloured code, for the code background's lightness
    qreal blockSpacing = 8;   // between paragraphs and other blocks
    qreal listIndent = 24;    // room for a list marker
    qreal quoteIndent = 14;
    qreal codePadding = 8;
    /// Whether code block headers show their Copy button (not on paper).
    bool copyButtons = true;

    /// The style for text shown in `font` on `palette`. `text` and `background` name the
    /// palette roles the text is drawn with and on (WindowText on Window for views on a
    /// window, Text on Base inside a text box).
    static MarkdownStyle from(const QFont& font, const QPalette& palette,
                              QPalette::ColorRole text = QPalette::WindowText,
                              QPalette::ColorRole background = QPalette::Window);

    /// The font of a heading of `level` (1 to 6).
    QFont headingFont(int level) const;

    bool operator==(const MarkdownStyle&) const = default;
};

}  // namespace parlote

#pragma once

// The colours of coloured code: one set for light backgrounds and one for dark ones,
// chosen by the lightness of the background the code is drawn on.

#include <QColor>
#include <array>

#include "CodeHighlighter.h"

namespace parlote {

struct SyntaxTheme {
    std::array<QColor, size_t(SyntaxKind::Count)> colors;  // invalid for Plain: the text's own
    bool dark = false;

    /// The theme for code drawn on `background`.
    static SyntaxTheme forBackground(const QColor& background);

    QColor color(SyntaxKind kind) const { return colors[size_t(kind)]; }
    /// Comments are set in italics as well as coloured.
    static bool isItalic(SyntaxKind kind) { return kind == SyntaxKind::Comment; }

    bool operator==(const SyntaxTheme&) const = default;
};

}  // namespace parlote

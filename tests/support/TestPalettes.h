#pragma once

// The dark palette that screenshots (of the tests and of the tools) are taken with,
// beside Fusion's standard light one.

#include <QColor>
#include <QPalette>

namespace parlote::testing {

inline QPalette darkPalette() {
    QPalette p(QColor(0x35, 0x35, 0x35), QColor(0x2b, 0x2b, 0x2b));  // button, window
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    p.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9a));
    p.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
    // A dark desktop's tooltips are dark too (the two-colour palette keeps pale yellow ones).
    p.setColor(QPalette::ToolTipBase, QColor(0x3c, 0x3c, 0x3c));
    p.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
    return p;
}

}  // namespace parlote::testing

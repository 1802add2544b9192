#pragma once

// How the window shows names it did not choose (the models Ollama reports, a name the
// user typed), wherever it shows one. A name is shown as it is, except that it cannot
// pass for another name:
//  - every invisible formatting or control character (bidirectional embeddings,
//    overrides and isolates, direction marks, zero-width characters, line breaks, tabs)
//    is shown as its code point, "<U+202E>", so that it neither reorders nor hides
//    characters;
//  - a name holding right-to-left letters is isolated (U+2068 … U+2069): it takes its own
//    direction and neither reorders the text around it nor is reordered by it;
//  - a long name is cut in the middle, where names differ least.
// Widgets that read '&' as a shortcut marker (menu items, tool buttons) need it doubled on
// top of that.

#include <QString>

class QFontMetrics;

namespace parlote::views {

/// `name` ready to show, whole.
QString displayName(const QString& name);
/// `name` ready to show, cut in the middle with an ellipsis to fit `width` pixels.
QString displayName(const QString& name, const QFontMetrics& metrics, int width);

/// A message that may quote names (an alert's text): every invisible control shown as
/// its code point, and every run of more than `longestRun` characters without a space cut
/// in the middle, so that the message box stays readable. White space is kept.
QString displayMessage(const QString& text, int longestRun = 80);

/// `text` with each '&' doubled: a menu item or a button shows it rather than taking the
/// next character as its shortcut.
QString withLiteralAmpersands(QString text);

/// A tool tip showing `text` literally on one line (a tool tip would read markup in it).
QString plainToolTip(const QString& text);

}  // namespace parlote::views

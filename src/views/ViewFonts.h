#pragma once

// The few text styles the main window's widgets share, derived from the desktop's
// font so that they follow the user's font choice and scaling.

#include <QFont>

namespace parlote::views {

/// Headings and conversation titles: the base font, bold and a little larger.
QFont headlineFont(const QFont& base);
/// Secondary lines such as a conversation's last message: a little smaller.
QFont captionFont(const QFont& base);
/// The message input box: the desktop font at about 14 pixels on a 96 dpi screen.
QFont inputFont(const QFont& base);
/// Titles of panes and windows: the base font `factor` times larger, semibold.
QFont titleFont(const QFont& base, qreal factor);

}  // namespace parlote::views

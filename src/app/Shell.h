#pragma once

// The start-up steps of the application shell, around the main window (MainWindow.h):
// the names the desktop knows Parlote by, the launch modifiers, and where the help page
// is.

#include <QSettings>
#include <QUrl>

namespace parlote::shell {

/// With Alt held at launch, the first-launch decision is taken again: "hasLaunched" is
/// stored as false. Returns whether it was.
bool applyLaunchModifiers(Qt::KeyboardModifiers held, QSettings& settings);

/// The help page installed with Parlote, found beside the executable first (an install
/// moved as a whole), then at the configured prefix, then in the source tree (a build
/// run from its folder). The installed address when none exists.
QUrl helpPageUrl();

/// Sets the names the desktop knows Parlote by, and the window icon.
void setUpApplication();

}  // namespace parlote::shell

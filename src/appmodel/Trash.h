#pragma once

// Moving files to the desktop's trash (the freedesktop.org trash that file managers show,
// under $XDG_DATA_HOME/Trash for the home volume), where the user can still bring them
// back or empty it.

#include <QString>

namespace parlote {

/// Moves the file `path` to the desktop's trash; true when it is there. Where there is no
/// trash (no data folder to hold one), false, and the file stays where it is.
bool moveToTrash(const QString& path);

}  // namespace parlote

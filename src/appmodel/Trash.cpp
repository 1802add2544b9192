#include "Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace parlote {

bool moveToTrash(const QString& path) {
    // Qt falls back to the home trash, "Trash" in the user's data folder, and when it
    // cannot make that folder it reports an empty trash location, which it then takes
    // for the working folder: the file would land in "./files". A data folder that does
    // not exist means there is no trash, so the file is not handed over at all.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QFileInfo(dataHome).isDir()) return false;
    QString placed;
    if (!QFile::moveToTrash(path, &placed)) return false;
    if (!QFileInfo(placed).isRelative()) return true;
    // Moved beside the working folder after all: it goes back, and its record with it.
    const QFileInfo inTrash(placed);
    QFile::remove(inTrash.dir().filePath(QStringLiteral("../info/")) + inTrash.fileName() +
                  QStringLiteral(".trashinfo"));
    QFile::rename(placed, path);
    return false;
}

}  // namespace parlote

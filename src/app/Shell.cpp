#include "Shell.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include "AboutWindow.h"
#include "AppInfo.h"
#include "ZoruveVede.h"

namespace parlote::shell {

bool applyLaunchModifiers(Qt::KeyboardModifiers held, QSettings& settings) {
    if (!(held & Qt::AltModifier)) return false;
    settings.setValue(ZoruveVede::hasLaunchedKey, false);
    settings.sync();
    return true;
}

QUrl helpPageUrl() {
    const QStringList candidates = {
        QDir(QCoreApplication::applicationDirPath())
            .filePath(QStringLiteral(PARLOTE_HELP_PAGE_FROM_BINDIR)),
        QStringLiteral(PARLOTE_HELP_PAGE),
        QStringLiteral(PARLOTE_HELP_PAGE_IN_SOURCE),
    };
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile())
            return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    }
    return QUrl::fromLocalFile(QStringLiteral(PARLOTE_HELP_PAGE));
}

void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Parlote"));
    QApplication::setOrganizationName(QStringLiteral("Parlote"));
    QApplication::setApplicationDisplayName(appinfo::displayName());
    QApplication::setApplicationVersion(appinfo::shortVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.parlote.Parlote"));
    QApplication::setWindowIcon(AboutWindow::applicationIcon());
    QApplication::setQuitOnLastWindowClosed(true);
}

}  // namespace parlote::shell

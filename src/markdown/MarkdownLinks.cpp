#include "MarkdownLinks.h"

#include <QDesktopServices>

namespace parlote {

LinkOpener desktopLinkOpener() {
    return [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

bool isOpenableLink(const QString& destination) {
    const QUrl url(destination, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto")) return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool isLoadableImageSource(const QString& source) {
    const QUrl url(source, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool openLinkIfAllowed(const QString& destination, const LinkOpener& opener) {
    if (!isOpenableLink(destination) || !opener) return false;
    opener(QUrl(destination, QUrl::StrictMode));
    return true;
}

}  // namespace parlote

#pragma once

// Which link destinations may leave the application, and the one place that opens them.

#include <QString>
#include <QUrl>
#include <functional>

namespace parlote {

/// Opens an address in the user's browser or mail program. Views take one so that tests
/// can see what would be opened instead of opening it.
using LinkOpener = std::function<void(const QUrl&)>;

/// Hands the address to the desktop (QDesktopServices::openUrl).
LinkOpener desktopLinkOpener();

/// True for absolute http, https and mailto addresses: the only links that open. With no
/// base address, relative destinations resolve to nothing and stay inert, as do file:,
/// javascript:, data: and every other scheme.
bool isOpenableLink(const QString& destination);

/// True for absolute http and https addresses with a host: the only image sources that
/// are fetched.
bool isLoadableImageSource(const QString& source);

/// Opens `destination` through `opener` when it is openable; returns whether it did.
bool openLinkIfAllowed(const QString& destination, const LinkOpener& opener);

}  // namespace parlote

#pragma once

// What Parlote knows about itself: the names and version numbers set at build time, and
// the Markdown documents it ships as Qt resources (":/resources/<name>.md"). Both are read
// through small replaceable sources so that tests can blank a value or hide a document.
// Interface thread only.

#include <QString>
#include <QUrl>
#include <optional>

namespace parlote {

/// The values set at build time; an empty string stands for a value that is missing.
struct AppMetadata {
    QString displayName;
    QString name;
    QString shortVersion;
    QString build;
};

namespace appinfo {

/// Shown for a missing application name.
inline constexpr const char* unknownApp = "Unknown App";
/// Shown for a missing version or build.
inline constexpr const char* unknown = "Unknown";

/// The values compiled into this program (from CMake).
AppMetadata builtInMetadata();
/// The values the functions below use: the built-in ones unless replaced.
AppMetadata metadata();
/// Replaces the values (tests); std::nullopt returns to the built-in ones.
void setMetadata(std::optional<AppMetadata> values);

/// The display name, else the name, else "Unknown App".
QString displayName();
/// The short version ("0.1.0"), else "Unknown".
QString shortVersion();
/// The build number, else "Unknown".
QString build();
/// "Version " + short version + " (" + build + ")".
QString versionLine();

/// The folder the documents are read from: ":/resources" unless replaced.
QString resourceRoot();
/// Reads documents from another folder (tests); an empty string returns to ":/resources".
void setResourceRoot(const QString& folder);
/// The document `<root>/<name>.md` ("Welcome", "Legal") read whole as UTF-8, read afresh
/// on every call; std::nullopt when it is missing, unreadable or not valid UTF-8.
std::optional<QString> readResource(const QString& name);

/// Where "Download Ollama" leads.
QUrl ollamaDownloadUrl();

}  // namespace appinfo
}  // namespace parlote

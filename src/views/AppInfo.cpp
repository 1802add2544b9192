#include "AppInfo.h"

#include <QFile>
#include <QStringDecoder>

#ifndef PARLOTE_DISPLAY_NAME
#define PARLOTE_DISPLAY_NAME ""
#endif
#ifndef PARLOTE_APP_NAME
#define PARLOTE_APP_NAME ""
#endif
#ifndef PARLOTE_SHORT_VERSION
#define PARLOTE_SHORT_VERSION ""
#endif
#ifndef PARLOTE_BUILD_NUMBER
#define PARLOTE_BUILD_NUMBER ""
#endif

namespace parlote::appinfo {

namespace {

const QString defaultRoot = QStringLiteral(":/resources");

std::optional<AppMetadata>& replacedMetadata() {
    static std::optional<AppMetadata> values;
    return values;
}

QString& replacedRoot() {
    static QString root;
    return root;
}

QString orElse(const QString& value, const char* fallback) {
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

}  // namespace

AppMetadata builtInMetadata() {
    return {QStringLiteral(PARLOTE_DISPLAY_NAME), QStringLiteral(PARLOTE_APP_NAME),
            QStringLiteral(PARLOTE_SHORT_VERSION), QStringLiteral(PARLOTE_BUILD_NUMBER)};
}

AppMetadata metadata() {
    return replacedMetadata() ? *replacedMetadata() : builtInMetadata();
}

void setMetadata(std::optional<AppMetadata> values) {
    replacedMetadata() = std::move(values);
}

QString displayName() {
    const AppMetadata m = metadata();
    return orElse(m.displayName.isEmpty() ? m.name : m.displayName, unknownApp);
}

QString shortVersion() {
    return orElse(metadata().shortVersion, unknown);
}

QString build() {
    return orElse(metadata().build, unknown);
}

QString versionLine() {
    return QStringLiteral("Version %1 (%2)").arg(shortVersion(), build());
}

QString resourceRoot() {
    return replacedRoot().isEmpty() ? defaultRoot : replacedRoot();
}

void setResourceRoot(const QString& folder) {
    replacedRoot() = folder;
}

std::optional<QString> readResource(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) return std::nullopt;
    QFile file(resourceRoot() + QLatin1Char('/') + name + QStringLiteral(".md"));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

QUrl ollamaDownloadUrl() {
    return QUrl(QStringLiteral("https://ollama.com/download/linux"));
}

}  // namespace parlote::appinfo

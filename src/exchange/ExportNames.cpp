#include "ExportNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <optional>

namespace parlote {

namespace {

constexpr qsizetype kMaxTitleCharacters = 80;

}  // namespace

QString exportSuffix(ExportFormat format) {
    switch (format) {
        case ExportFormat::markdown:
            return QStringLiteral("md");
        case ExportFormat::json:
            return QStringLiteral("json");
        case ExportFormat::pdf:
            return QStringLiteral("pdf");
    }
    return {};
}

std::optional<ExportFormat> exportFormatOfName(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (ExportFormat format : {ExportFormat::markdown, ExportFormat::json, ExportFormat::pdf})
        if (suffix == exportSuffix(format)) return format;
    return std::nullopt;
}

QString safeFileTitle(const QString& title) {
    QString name;
    name.reserve(title.size());
    bool space = false;
    for (const QChar c : title) {
        // Control characters, line breaks included, read as white space.
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            space = true;
            continue;
        }
        if (space && !name.isEmpty()) name += QLatin1Char(' ');
        space = false;
        name += c == QLatin1Char('/') || c == QLatin1Char('\\') ? QLatin1Char('-') : c;
    }
    while (name.startsWith(QLatin1Char('.'))) name.remove(0, 1);
    if (name.size() > kMaxTitleCharacters) {
        qsizetype cut = kMaxTitleCharacters;
        if (name.at(cut - 1).isHighSurrogate()) --cut;
        name.truncate(cut);
    }
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("Conversation") : name;
}

QString uniqueFileName(const QString& title, const QString& suffix,
                       const std::function<bool(const QString& name)>& taken) {
    const QString base = safeFileTitle(title);
    QString name = base + QLatin1Char('.') + suffix;
    for (int n = 2; taken(name); ++n)
        name = QStringLiteral("%1 (%2).%3").arg(base).arg(n).arg(suffix);
    return name;
}

QString writeNewExportFile(const QString& folder, const QString& title, const QString& suffix,
                           const QByteArray& bytes, QString* error) {
    const QDir dir(folder);
    // A name is tried until a file can be made under it that did not exist before.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString name = uniqueFileName(
            title, suffix, [&](const QString& candidate) { return dir.exists(candidate); });
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists()) continue;  // made by someone else meanwhile
            if (error) *error = file.errorString();
            return {};
        }
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            if (error) *error = file.errorString();
            file.close();
            file.remove();
            return {};
        }
        file.close();
        return file.fileName();
    }
    if (error) *error = QStringLiteral("no free file name");
    return {};
}

}  // namespace parlote

#include "AttachmentStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace parlote {

namespace {

constexpr QFile::Permissions kFolderPermissions =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

}  // namespace

AttachmentStore::AttachmentStore(QString folder) : folder_(std::move(folder)) {}

QString AttachmentStore::formatOf(const QByteArray& bytes) {
    if (bytes.startsWith("\x89PNG\r\n\x1a\n")) return QStringLiteral("png");
    if (bytes.startsWith("\xff\xd8\xff")) return QStringLiteral("jpg");
    if (bytes.size() >= 12 && bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a")) return QStringLiteral("gif");
    if (bytes.size() >= 26 && bytes.startsWith("BM")) return QStringLiteral("bmp");
    return {};
}

bool AttachmentStore::isReference(QStringView text) {
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{64}\\.(png|jpg|webp|gif|bmp)$"));
    return form.match(text).hasMatch();
}

QString AttachmentStore::path(const QString& reference) const {
    if (folder_.isEmpty() || !isReference(reference)) return {};
    return folder_ + QLatin1Char('/') + reference;
}

AttachmentStore::Stored AttachmentStore::store(const QByteArray& bytes) const {
    if (folder_.isEmpty()) return {{}, QStringLiteral("there is no data folder")};
    if (bytes.size() > kMaxBytes)
        return {{}, QStringLiteral("the picture is larger than %1 MiB").arg(kMaxBytes >> 20)};
    const QString format = formatOf(bytes);
    if (format.isEmpty())
        return {{}, QStringLiteral("the file is not a PNG, JPEG, WebP, GIF or BMP picture")};
    const QString reference =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()) +
        QLatin1Char('.') + format;
    const QString target = path(reference);
    // Named by its content: a file of that name and size holds these very bytes.
    const QFileInfo existing(target);
    if (existing.isFile() && existing.size() == bytes.size()) return {reference, {}};
    if (!QFileInfo(folder_).isDir()) {
        if (!QDir().mkpath(folder_))
            return {{}, QStringLiteral("cannot create the folder \"%1\"").arg(folder_)};
        QFile::setPermissions(folder_, kFolderPermissions);
    }
    const QString error = replaceFileAtomically(target, bytes.constData(),
                                                static_cast<std::size_t>(bytes.size()), io_);
    if (!error.isEmpty()) return {{}, error};
    return {reference, {}};
}

std::optional<QByteArray> AttachmentStore::read(const QString& reference) const {
    const QString file = path(reference);
    if (file.isEmpty()) return std::nullopt;
    QFile picture(file);
    if (!picture.open(QIODevice::ReadOnly) || picture.size() > kMaxBytes) return std::nullopt;
    QByteArray bytes = picture.readAll();
    if (picture.error() != QFileDevice::NoError) return std::nullopt;
    return bytes;
}

bool AttachmentStore::remove(const QString& reference) const {
    const QString file = path(reference);
    if (file.isEmpty()) return false;
    return !QFileInfo::exists(file) || QFile::remove(file);
}

}  // namespace parlote

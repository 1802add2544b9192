#pragma once

// Pictures attached to messages. Each is a file of its own in the "attachments" folder of
// the data folder, named by the SHA-256 of its bytes and its format
// ("3a7bd3e2360a3d29eea436fcfb7e44c735d117c42d1c1835420b6b9942dd4f1b.png"): the same
// picture attached twice is stored once, and a name, once given, always means the same
// bytes. A message refers to its pictures by these names (ChatMessage::images()).
//
// The folder is private like the rest of the data (0700, files 0600), and every file is
// written atomically: a picture is either all there or not there at all.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "AtomicFile.h"

namespace parlote {

class AttachmentStore {
public:
    /// Pictures larger than this are refused (Ollama reads them whole, in base64).
    static constexpr qsizetype kMaxBytes = 32 * 1024 * 1024;

    /// A store over `folder` (the attachments folder itself), created when the first
    /// picture is stored.
    explicit AttachmentStore(QString folder);

    const QString& folder() const { return folder_; }

    /// The outcome of store(): the picture's name, or why it was not stored.
    struct Stored {
        QString reference;
        QString error;  // empty on success
        explicit operator bool() const { return error.isEmpty(); }
    };

    /// Stores the picture `bytes` (PNG, JPEG, WebP, GIF or BMP, told by its first bytes)
    /// and returns its name. A picture already stored is not written again.
    Stored store(const QByteArray& bytes) const;

    /// The bytes of the picture `reference`; nullopt when there is no such file (or the
    /// name is not one store() gives).
    std::optional<QByteArray> read(const QString& reference) const;

    /// Where the picture `reference` is kept (it may not exist); empty for a name that
    /// store() never gives, so that no name can point outside the folder.
    QString path(const QString& reference) const;

    /// Removes the picture `reference`; true when it is gone (also when it never existed).
    bool remove(const QString& reference) const;

    /// Whether `text` has the form of a name store() gives: 64 lower-case hexadecimal
    /// digits, a dot and one of png, jpg, webp, gif, bmp.
    static bool isReference(QStringView text);

    /// The file extension for the picture `bytes` ("png", "jpg", "webp", "gif", "bmp"),
    /// told by its signature; empty for anything else.
    static QString formatOf(const QByteArray& bytes);

    /// Replaces the system calls that writes go through (for tests of failing disks).
    void setFileIo(FileIo io) { io_ = std::move(io); }

private:
    QString folder_;
    FileIo io_ = FileIo::system();
};

}  // namespace parlote

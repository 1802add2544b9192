#pragma once

// What the fuzz targets share: a failed invariant stops the run as a finding, a scratch
// folder for the store targets, and a strict UTF-8 check.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace parlote::fuzzing {

/// A broken invariant: libFuzzer saves the input and reports the abort.
inline void check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

/// A folder of its own for the whole run, in memory when /dev/shm is there: the store
/// syncs every save, which costs nothing there.
inline QString scratchFolder() {
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir folder(base + QStringLiteral("/parlote-fuzz-XXXXXX"));
    check(folder.isValid(), "a scratch folder can be made");
    return folder.path();
}

inline void writeBytes(const QString& path, const std::uint8_t* data, std::size_t size) {
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input can be written");
    check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
          "the input can be written");
}

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Removes every file in `folder`, so that each input starts from the same state.
inline void emptyFolder(const QString& folder) {
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) dir.remove(name);
}

/// Whether `text` is well-formed UTF-8: no stray continuation bytes, no overlong forms,
/// no surrogates, nothing above U+10FFFF.
inline bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
            code = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            code = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            code = byte & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
            (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

}  // namespace parlote::fuzzing

#pragma once

// Replacing a file so that it either holds all of the new content, durably, or stays
// exactly as it was. Every byte and the final sync are checked before the rename, so a
// full disk, a quota or an I/O error can never put an empty or cut-off file in place of
// a good one, and the caller learns why the save failed.

#include <sys/types.h>

#include <QString>
#include <cstddef>
#include <functional>

namespace parlote {

/// The system calls a replacement goes through. Tests substitute failing ones (a disk
/// that fills up after so many bytes, a sync that fails) to prove nothing is lost.
struct FileIo {
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> sync;

    /// The real system calls.
    static FileIo system();
};

/// Replaces `path` with `size` bytes at `data`: writes a private (0600) temporary file
/// "<path>.XXXXXX" beside it, syncs it, renames it over `path` and syncs the folder.
/// Returns an empty string on success; otherwise the reason (such as "No space left on
/// device"), the temporary file is gone and `path` is untouched.
QString replaceFileAtomically(const QString& path, const char* data, std::size_t size,
                              const FileIo& io = FileIo::system());

}  // namespace parlote

#include "AtomicFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace parlote {

namespace {

QString reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

/// Makes a rename in `folder` durable. A failure here is not reported: the new content
/// is complete in the file that now has the name, whatever the folder's sync says.
void syncFolder(const QByteArray& folder) {
    const int fd =
        ::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

FileIo FileIo::system() {
    return {[](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); },
            [](int fd) { return ::fsync(fd); }};
}

QString replaceFileAtomically(const QString& path, const char* data, std::size_t size,
                              const FileIo& io) {
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    // mkstemp makes the file with mode 0600: transcripts are private from the start.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return reason(errno);

    int failure = 0;
    std::size_t done = 0;
    while (done < size && failure == 0) {
        const ssize_t written = io.write(fd, data + done, size - done);
        if (written < 0) {
            if (errno != EINTR) failure = errno;
        } else if (written == 0) {
            failure = EIO;  // a write that makes no progress would loop for ever
        } else {
            done += static_cast<std::size_t>(written);
        }
    }
    // The content must be on the disk before the name points at it; a full disk can also
    // show up only here (delayed allocation) or at close (network file systems).
    if (failure == 0 && io.sync(fd) != 0) failure = errno ? errno : EIO;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && ::rename(temporary.constData(), target.constData()) != 0) failure = errno;
    if (failure != 0) {
        ::unlink(temporary.constData());
        return reason(failure);
    }
    const qsizetype slash = target.lastIndexOf('/');
    syncFolder(slash < 0 ? QByteArray() : slash == 0 ? QByteArray("/") : target.left(slash));
    return {};
}

}  // namespace parlote

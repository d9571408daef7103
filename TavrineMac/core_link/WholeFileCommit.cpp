#include "WholeFileCommit.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Writes every byte, going on after a short write: the call after it says why the rest did not fit (a full disk, say),
// where Qt's own write would give up on the short write with no reason at all.
bool writeWhole(int descriptor, const QByteArray &bytes)
{
    const char *next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, next, size_t(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

bool syncDescriptor(int descriptor)
{
    int result = 0;
    do {
        result = ::fsync(descriptor);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// A rename lasts once the folder that holds the name is on the disk too.
bool syncFolderOf(const QString &path)
{
    const int folder =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return false;
    }
    const bool synced = syncDescriptor(folder);
    const int failure = errno;
    ::close(folder);
    errno = failure;
    // A file system that cannot sync a folder keeps no folder to sync: nothing is lost by it.
    return synced || errno == EINVAL || errno == EOPNOTSUPP;
}

} // namespace

bool commitWholeFile(QSaveFile &file, const QByteArray &bytes, QString *errorMessage, int *errorNumber)
{
    const auto fail = [&](int number, const QString &systemText) {
        if (errorMessage) {
            *errorMessage = number != 0 ? qt_error_string(number) : systemText;
        }
        if (errorNumber) {
            *errorNumber = number;
        }
        return false;
    };
    // Some file systems report a full disk only when the data is forced out.
    if (!writeWhole(file.handle(), bytes) || !syncDescriptor(file.handle())) {
        const int failure = errno;
        file.cancelWriting();
        return fail(failure, {});
    }
    errno = 0;
    if (!file.commit()) {
        return fail(errno, file.errorString());
    }
    if (!syncFolderOf(file.fileName())) {
        return fail(errno, {});
    }
    return true;
}

#include "WholeFileCommit.h"

#include "FileSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
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

// The names in the open folder `folder` reach the disk.
bool syncOpenedFolder(int folder)
{
    const bool synced = syncToDisk(folder);
    const int failure = errno;
    ::close(folder);
    errno = failure;
    return synced || tavrine::core::folderSyncLosesNothing(errno);
}

} // namespace

bool syncToDisk(int descriptor)
{
    int result = 0;
    do {
        result = ::fsync(descriptor);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool syncFolderToDisk(int folder)
{
    // Held for naming only, the folder is opened again to be read. One that may be written to but not read cannot
    // be synced: its names reach the disk with the system's next write-back.
    const int readable = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return readable >= 0 ? syncOpenedFolder(readable) : errno == EACCES;
}

bool syncFolderToDisk(const QString &path)
{
    const int folder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return folder >= 0 ? syncOpenedFolder(folder) : errno == EACCES;
}

void removeLeftoverSaveFiles(const QString &filePath)
{
    const QFileInfo file(filePath);
    const QRegularExpression leftover(QRegularExpression::anchoredPattern(QRegularExpression::escape(file.fileName()) +
                                                                          QStringLiteral("\\.[A-Za-z0-9]{6}")));
    const QDir folder = file.absoluteDir();
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!leftover.match(name).hasMatch()) {
            continue;
        }
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        struct stat status = {};
        // Only a file of its own: a link is never followed, and whatever it names stays.
        if (::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode)) {
            ::unlink(path.constData());
        }
    }
}

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
    if (!writeWhole(file.handle(), bytes) || !syncToDisk(file.handle())) {
        const int failure = errno;
        file.cancelWriting();
        return fail(failure, {});
    }
    errno = 0;
    if (!file.commit()) {
        return fail(errno, file.errorString());
    }
    if (!syncFolderToDisk(QFileInfo(file.fileName()).absolutePath())) {
        return fail(errno, {});
    }
    return true;
}

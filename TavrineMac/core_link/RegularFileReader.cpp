#include "RegularFileReader.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFileRead readRegularFile(const QString &path, qint64 maximumBytes)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return {};
        }
        return {RegularFileRead::Outcome::unreadable, {}, qt_error_string(errno)};
    }
    RegularFileRead result{RegularFileRead::Outcome::read, {}, {}};
    struct stat status = {};
    if (fstat(descriptor, &status) != 0) {
        result = {RegularFileRead::Outcome::unreadable, {}, qt_error_string(errno)};
    } else if (S_ISDIR(status.st_mode)) {
        result.outcome = RegularFileRead::Outcome::folder;
    } else if (!S_ISREG(status.st_mode) || status.st_size > maximumBytes) {
        result = {RegularFileRead::Outcome::unreadable, {}, QStringLiteral("no regular file of a sane size")};
    }
    char buffer[64 * 1024];
    while (result.outcome == RegularFileRead::Outcome::read) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 || result.contents.size() + count > maximumBytes) {
            result = {RegularFileRead::Outcome::unreadable,
                      {},
                      count < 0 ? qt_error_string(errno) : QStringLiteral("the file grew past its bound")};
        } else if (count == 0) {
            break;
        } else {
            result.contents.append(buffer, count);
        }
    }
    ::close(descriptor);
    return result;
}

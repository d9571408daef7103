#include "MoveWithoutReplacing.h"

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Answers of a file system that does not know the call or one of its flags.
bool isUnknownToTheFileSystem(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

MoveOutcome failedWith(int error)
{
    errno = error;
    return MoveOutcome::failed;
}

std::optional<bool> isFolder(int folder, const QByteArray &name)
{
    struct stat status = {};
    if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return S_ISDIR(status.st_mode);
}

// A second name for a file or link, then the first removed. Fails with EPERM where the file system has no second
// names, and with EISDIR for a folder, which cannot have one.
MoveOutcome bySecondName(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to)
{
    const std::optional<bool> folder = isFolder(fromFolder, from);
    if (!folder)
        return MoveOutcome::failed;
    if (*folder)
        return failedWith(EISDIR);
    // A second name never replaces what stands there; a link gets a second name of its own, not its target's.
    if (::linkat(fromFolder, from.constData(), toFolder, to.constData(), 0) != 0)
        return errno == EEXIST ? MoveOutcome::nameTaken : MoveOutcome::failed;
    if (::unlinkat(fromFolder, from.constData(), 0) != 0) {
        const int error = errno;
        ::unlinkat(toFolder, to.constData(), 0);
        return failedWith(error);
    }
    return MoveOutcome::moved;
}

// An empty item of the same kind as `from` claims `to`, so that the rename then replaces only that.
MoveOutcome overPlaceholder(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to)
{
    const std::optional<bool> folder = isFolder(fromFolder, from);
    if (!folder)
        return MoveOutcome::failed;
    // A folder may be renamed over an empty folder only, anything else over a file only.
    if (*folder) {
        if (::mkdirat(toFolder, to.constData(), 0700) != 0)
            return errno == EEXIST ? MoveOutcome::nameTaken : MoveOutcome::failed;
    } else {
        const int placeholder =
            ::openat(toFolder, to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (placeholder < 0)
            return errno == EEXIST ? MoveOutcome::nameTaken : MoveOutcome::failed;
        ::close(placeholder);
    }
    if (::renameat(fromFolder, from.constData(), toFolder, to.constData()) != 0) {
        const int error = errno;
        ::unlinkat(toFolder, to.constData(), *folder ? AT_REMOVEDIR : 0);
        return failedWith(error);
    }
    return MoveOutcome::moved;
}

} // namespace

MoveOutcome moveWithoutReplacing(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(fromFolder, from.constData(), toFolder, to.constData(), RENAME_NOREPLACE) == 0)
        return MoveOutcome::moved;
    if (errno == EEXIST)
        return MoveOutcome::nameTaken;
    if (!isUnknownToTheFileSystem(errno))
        return MoveOutcome::failed;
#endif
    const MoveOutcome linked = bySecondName(fromFolder, from, toFolder, to);
    // File systems without second names answer EPERM (or, where the item is a folder, we did: EISDIR).
    if (linked != MoveOutcome::failed ||
        (errno != EPERM && errno != EMLINK && errno != EISDIR && !isUnknownToTheFileSystem(errno)))
        return linked;
    return overPlaceholder(fromFolder, from, toFolder, to);
}

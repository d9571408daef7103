#include "ManagedDownloadDelivery.h"

#include "LocalNames.h"
#include "MoveWithoutReplacing.h"
#include "SystemErrorText.h"
#include "WholeFileCommit.h"

#include <QFile>
#include <QStringList>
#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Error = ManagedDownloadDeliveryError;
using Purpose = TransferTaskRecord::DeliveryPurpose;

constexpr qsizetype maximumRelativePathBytes = 16384;
constexpr qsizetype maximumComponentCount = 65;
constexpr qsizetype chunkBytes = 1024 * 1024;
constexpr int highestFreeNameNumber = 10000;
// Folders are held only to name things inside them, which needs no right to read them where the system allows.
#ifdef O_PATH
constexpr int heldFolderAccess = O_PATH;
#else
constexpr int heldFolderAccess = O_RDONLY;
#endif
// Each attempt that loses a race to another writer takes the next free name; this only bounds a pathological loop.
constexpr int maximumMoveAttempts = 100;

[[noreturn]] void throwSystemError(int code)
{
    throw FileOperationError(SystemErrorText::describe(code));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

bool isValidComponent(const QString &name)
{
    return isAcceptableItemName(name);
}

QStringList relativePathComponents(const QString &relativePath)
{
    if (relativePath.isEmpty() || relativePath.startsWith(u'/') ||
        relativePath.toUtf8().size() > maximumRelativePathBytes)
        throw Error(Error::Case::invalidRelativePath);
    const QStringList components = relativePath.split(u'/', Qt::KeepEmptyParts);
    if (components.size() > maximumComponentCount)
        throw Error(Error::Case::invalidRelativePath);
    for (const QString &component : components) {
        if (!isValidComponent(component))
            throw Error(Error::Case::invalidRelativePath);
    }
    return components;
}

// Resolving with and without security scope is the same here, so one failure stands for both.
QString resolvedBookmark(const QByteArray &bookmark)
{
    const QString path = QString::fromUtf8(bookmark);
    if (!path.startsWith(u'/') || path.contains(QChar(0)))
        throw FileOperationError(u"无法解析文件位置。"_s);
    return path;
}

QByteArray resolvedSymbolicLinks(const QString &path)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(encoded(path).constData(), nullptr),
                                                               &std::free);
    if (!resolved)
        throwSystemError(errno);
    return QByteArray(resolved.get());
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int descriptor) : m_descriptor(descriptor) {}
    ~FileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    FileDescriptor(FileDescriptor &&other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        std::swap(m_descriptor, other.m_descriptor);
        return *this;
    }

    int get() const { return m_descriptor; }

    // A written file reports some write errors (full disk on network file systems) only when closed.
    void closeChecked()
    {
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        if (::close(descriptor) != 0)
            throwSystemError(errno);
    }

private:
    int m_descriptor;
};

// The values of what an open descriptor refers to.
struct stat statusOf(const FileDescriptor &file)
{
    struct stat status = {};
    if (::fstat(file.get(), &status) != 0)
        throwSystemError(errno);
    return status;
}

// The folder `name` inside `folder`, never through a link: a link or a file there is `invalidRelativePath`;
// nothing when nothing is there.
std::optional<FileDescriptor> openFolderIn(const FileDescriptor &folder, const QByteArray &name)
{
    FileDescriptor child(
        ::openat(folder.get(), name.constData(), heldFolderAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child.get() >= 0)
        return child;
    if (errno == ENOENT)
        return std::nullopt;
    if (errno == ELOOP || errno == ENOTDIR)
        throw Error(Error::Case::invalidRelativePath);
    throwSystemError(errno);
}

// The folder `name` inside `folder`, made when missing; `made` tells whether it was made here.
FileDescriptor openOrMakeFolderIn(const FileDescriptor &folder, const QByteArray &name, bool &made)
{
    made = false;
    if (std::optional<FileDescriptor> child = openFolderIn(folder, name))
        return std::move(*child);
    if (::mkdirat(folder.get(), name.constData(), 0777) == 0)
        made = true;
    else if (errno != EEXIST)
        throwSystemError(errno);
    if (std::optional<FileDescriptor> child = openFolderIn(folder, name))
        return std::move(*child);
    // Made and gone again at once: another program is at work in the folder.
    throwSystemError(ENOENT);
}

// The destination folder, reached from "/" through each component of its real path without following a link, so
// that nothing swapped in on the way since the path was resolved can stand in for it.
FileDescriptor openDestination(const QByteArray &realPath)
{
    FileDescriptor folder(::open("/", heldFolderAccess | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        throwSystemError(errno);
    for (const QByteArray &name : realPath.split('/')) {
        if (name.isEmpty())
            continue;
        try {
            std::optional<FileDescriptor> child = openFolderIn(folder, name);
            if (!child)
                throwSystemError(ENOENT);
            folder = std::move(*child);
        } catch (const Error &) {
            throw Error(Error::Case::destinationUnavailable);
        }
    }
    return folder;
}

// Opens a regular file for reading, never through a link nor waiting on a pipe; nothing when no regular file is
// there by that name (`folder` is AT_FDCWD for a path).
std::optional<FileDescriptor> openRegularFile(int folder, const QByteArray &name)
{
    FileDescriptor file(::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR)
            return std::nullopt;
        throwSystemError(errno);
    }
    if (!S_ISREG(statusOf(file).st_mode))
        return std::nullopt;
    return file;
}

// Fills `buffer` unless the file ends first; returns the bytes read.
qsizetype readChunk(const FileDescriptor &file, char *buffer)
{
    qsizetype filled = 0;
    while (filled < chunkBytes) {
        const ssize_t count = ::read(file.get(), buffer + filled, static_cast<size_t>(chunkBytes - filled));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwSystemError(errno);
        }
        if (count == 0)
            break;
        filled += count;
    }
    return filled;
}

void readFromStart(const FileDescriptor &file)
{
    if (::lseek(file.get(), 0, SEEK_SET) != 0)
        throwSystemError(errno);
}

void writeAll(const FileDescriptor &file, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t count = ::write(file.get(), data, static_cast<size_t>(size));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwSystemError(errno);
        }
        data += count;
        size -= count;
    }
}

// The file's bytes are on the disk before it takes its name: a power cut never leaves the name on a file short of them.
void syncData(const FileDescriptor &file)
{
    if (!syncToDisk(file.get()))
        throwSystemError(errno);
}

// The names in `folder` are on the disk, so that a file placed there (or a folder made there) stays after a power cut.
void syncFolder(const FileDescriptor &folder)
{
    if (!syncFolderToDisk(folder.get()))
        throwSystemError(errno);
}

bool haveSameContents(const FileDescriptor &first, const FileDescriptor &second)
{
    readFromStart(first);
    readFromStart(second);
    std::vector<char> firstChunk(chunkBytes);
    std::vector<char> secondChunk(chunkBytes);
    for (;;) {
        const qsizetype firstCount = readChunk(first, firstChunk.data());
        const qsizetype secondCount = readChunk(second, secondChunk.data());
        if (firstCount != secondCount ||
            std::memcmp(firstChunk.data(), secondChunk.data(), static_cast<size_t>(firstCount)) != 0)
            return false;
        if (firstCount < chunkBytes)
            return true;
    }
}

bool itemExistsIn(const FileDescriptor &folder, const QString &name)
{
    struct stat status = {};
    return ::fstatat(folder.get(), encoded(name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

QString freeName(const FileDescriptor &folder, const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    for (int number = 2; number <= highestFreeNameNumber; ++number) {
        QString candidate = base + u' ' + QString::number(number);
        if (hasExtension)
            candidate += name.mid(dot);
        if (!itemExistsIn(folder, candidate))
            return candidate;
    }
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u'-' + name;
}

bool isUnsupportedOperation(int code)
{
    return code == ENOSYS || code == ENOTSUP || code == EOPNOTSUPP;
}

// The name of the hidden file in which the delivery of transfer `transferId` is made: the id itself where it is a
// lower-case UUID, as the application's ids are, else a UUID made from it. The same task always gets the same name, so
// that a delivery cut short by a crash leaves nothing that its next attempt does not replace.
QByteArray partialNameFor(const QString &transferId)
{
    QString id = QUuid::fromString(transferId).toString(QUuid::WithoutBraces);
    if (id != transferId || QUuid::fromString(transferId).isNull()) {
        static const QUuid space = QUuid::fromString(u"7f2b9f0e-3c4d-4b8a-9d35-6a1c2e8f4b70"_s);
        id = QUuid::createUuidV5(space, transferId).toString(QUuid::WithoutBraces);
    }
    return ".tavrine-" + id.toLatin1() + ".partial";
}

// The hidden file that a delivery writes in the target's folder before the file takes its final name; removed
// unless it was moved. Every step names it relative to the folder held open, so it never lands elsewhere.
class PartialFile
{
public:
    PartialFile(const FileDescriptor &folder, const QString &transferId)
        : m_folder(folder), m_name(partialNameFor(transferId))
    {
        // Left by an attempt that was cut short: a file (or a link planted under the name) goes; a folder stays and
        // makes the delivery fail below.
        ::unlinkat(m_folder.get(), m_name.constData(), 0);
    }
    ~PartialFile()
    {
        if (m_created)
            ::unlinkat(m_folder.get(), m_name.constData(), 0);
    }
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    // Gives `source` (the open received file itself, never what its name may stand for by now) the partial name as
    // a second name, without a copy; false when the folder lies on another file system, or on one without hard links.
    bool linkTo(const FileDescriptor &source)
    {
        const QByteArray opened = "/proc/self/fd/" + QByteArray::number(source.get());
        if (::linkat(AT_FDCWD, opened.constData(), m_folder.get(), m_name.constData(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EXDEV || errno == EPERM || errno == EMLINK || errno == ENOENT || isUnsupportedOperation(errno))
                return false;
            throwSystemError(errno);
        }
        m_created = true;
        struct stat linked = {};
        if (::fstatat(m_folder.get(), m_name.constData(), &linked, AT_SYMLINK_NOFOLLOW) != 0)
            throwSystemError(errno);
        const struct stat received = statusOf(source);
        if (linked.st_dev != received.st_dev || linked.st_ino != received.st_ino)
            throw Error(Error::Case::sizeMismatch);
        return true;
    }

    // Copies `source`; the copy must be a regular file of `expectedSize` bytes, else `sizeMismatch`.
    void copyFrom(const FileDescriptor &source, qint64 expectedSize)
    {
        // O_EXCL: a file that is not ours is never written into, nor through a link planted at this name.
        FileDescriptor output(
            ::openat(m_folder.get(), m_name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (output.get() < 0)
            throwSystemError(errno);
        m_created = true;
        readFromStart(source);
        std::vector<char> chunk(chunkBytes);
        for (;;) {
            const qsizetype count = readChunk(source, chunk.data());
            writeAll(output, chunk.data(), count);
            if (count < chunkBytes)
                break;
        }
        const struct stat written = statusOf(output);
        syncData(output);
        output.closeChecked();
        if (!S_ISREG(written.st_mode) || written.st_size != expectedSize)
            throw Error(Error::Case::sizeMismatch);
    }

    // Replaces a file or link at `target` in one step; a folder there is refused, never removed.
    void replace(const QString &target)
    {
        if (::renameat(m_folder.get(), m_name.constData(), m_folder.get(), encoded(target).constData()) != 0)
            throwSystemError(errno);
        m_created = false;
    }

    // Moves to `target` or, when that name is or becomes taken, to the next free name; returns the name used.
    QString moveToFreeName(QString target, const QString &name)
    {
        for (int attempt = 0; attempt < maximumMoveAttempts; ++attempt) {
            switch (moveWithoutReplacing(m_folder.get(), m_name, m_folder.get(), encoded(target))) {
            case MoveOutcome::moved:
                m_created = false;
                return target;
            case MoveOutcome::failed:
                throwSystemError(errno);
            case MoveOutcome::nameTaken:
                break;
            }
            target = freeName(m_folder, name);
        }
        throwSystemError(EEXIST);
    }

private:
    const FileDescriptor &m_folder;
    QByteArray m_name;
    bool m_created = false;
};

// The delivered file below `root`: the folders asked for, then the name used.
ManagedDownloadDelivery::Result resultFor(const QString &root, QStringList components, const QString &name)
{
    components.last() = name;
    const QString relativePath = components.join(u'/');
    return {childPath(root, relativePath), relativePath};
}

} // namespace

ManagedDownloadDeliveryError::ManagedDownloadDeliveryError(Case errorCase)
    : m_case(errorCase), m_what(errorDescription().toUtf8())
{}

QString ManagedDownloadDeliveryError::errorDescription() const
{
    switch (m_case) {
    case Case::receivedFileMissing:
        return u"已接收的文件不可用，请重试"_s;
    case Case::destinationUnavailable:
        return u"无法访问所选保存位置，请重新选择"_s;
    case Case::invalidRelativePath:
        return u"保存位置包含无效路径"_s;
    case Case::sizeMismatch:
        return u"文件校验未通过，请重试"_s;
    }
    return QString();
}

FileOperationError::FileOperationError(const QString &description)
    : m_description(description), m_what(description.toUtf8())
{}

ManagedDownloadDelivery::Result ManagedDownloadDelivery::deliver(const QString &transferId,
                                                                 const QString &receiveFolder, const QString &fileName,
                                                                 const QByteArray &destinationBookmark,
                                                                 const QString &destinationRelativePath,
                                                                 qint64 expectedSize, Purpose purpose)
{
    if (!isValidComponent(fileName))
        throw Error(Error::Case::invalidRelativePath);
    const QStringList components = relativePathComponents(destinationRelativePath);

    const std::optional<FileDescriptor> received =
        openRegularFile(AT_FDCWD, encoded(childPath(receiveFolder, fileName)));
    if (!received || statusOf(*received).st_size != expectedSize)
        throw Error(Error::Case::receivedFileMissing);

    // From here on every folder is held open and everything is named relative to it: another program that swaps
    // a folder for a link on the way can only make the delivery fail, never move it elsewhere.
    const QByteArray root = resolvedSymbolicLinks(resolvedBookmark(destinationBookmark));
    FileDescriptor folder = openDestination(root);
    // The folders in which this delivery made a folder: their new names must last as well as the file's.
    std::vector<FileDescriptor> foldersWithNewNames;
    for (qsizetype index = 0; index + 1 < components.size(); ++index) {
        bool made = false;
        FileDescriptor child = openOrMakeFolderIn(folder, encoded(components.at(index)), made);
        if (made)
            foldersWithNewNames.push_back(std::move(folder));
        folder = std::move(child);
    }
    const auto syncNames = [&] {
        syncFolder(folder);
        for (auto parent = foldersWithNewNames.rbegin(); parent != foldersWithNewNames.rend(); ++parent)
            syncFolder(*parent);
    };
    // Made now, so that whatever an earlier attempt left under this task's partial name goes, whatever comes next.
    PartialFile partial(folder, transferId);

    const QString finalName = components.last();
    QString target = finalName;
    struct stat existing = {};
    if (::fstatat(folder.get(), encoded(target).constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            const std::optional<FileDescriptor> file = openRegularFile(folder.get(), encoded(target));
            if (!file)
                throw Error(Error::Case::sizeMismatch);
            if (statusOf(*file).st_size == expectedSize && haveSameContents(*file, *received)) {
                // Delivered by an attempt that may have stopped before its names were synced.
                syncData(*file);
                syncNames();
                return resultFor(QFile::decodeName(root), components, target);
            }
        }
        if (purpose == Purpose::preview) {
            if (::unlinkat(folder.get(), encoded(target).constData(), 0) != 0)
                throwSystemError(errno);
        } else {
            target = freeName(folder, finalName);
        }
    } else if (errno != ENOENT) {
        throwSystemError(errno);
    }

    // On the inbox's own file system the received file takes its place under a second name: no copy, so a download
    // needs its size once on the disk, not twice. The inbox name goes when the host is told the file was delivered.
    // A second name shares the received file's bytes, which are synced as they stand; a copy syncs its own.
    if (partial.linkTo(*received))
        syncData(*received);
    else
        partial.copyFrom(*received, expectedSize);
    if (purpose == Purpose::preview)
        partial.replace(target);
    else
        target = partial.moveToFreeName(target, finalName);
    syncNames();
    return resultFor(QFile::decodeName(root), components, target);
}

QString ManagedDownloadDelivery::destinationURL(const TransferTaskRecord &record)
{
    if (!record.destinationBookmark || !record.destinationRelativePath)
        throw Error(Error::Case::destinationUnavailable);
    const QStringList components = relativePathComponents(*record.destinationRelativePath);
    QString path = resolvedBookmark(*record.destinationBookmark);
    for (const QString &component : components)
        path = childPath(path, component);
    return path;
}

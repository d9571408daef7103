#include "ManagedDownloadDelivery.h"

#include "LocalNames.h"

#include <QFile>
#include <QStringList>
#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
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
// Each attempt that loses a race to another writer takes the next free name; this only bounds a pathological loop.
constexpr int maximumMoveAttempts = 100;

[[noreturn]] void throwSystemError(int code)
{
    throw FileOperationError(qt_error_string(code));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

struct ItemValues
{
    bool isRegularFile = false;
    bool isDirectory = false;
    bool isSymbolicLink = false;
    qint64 size = -1;
};

// Values of the item itself, never of what a symbolic link points to; nothing when no item is there.
std::optional<ItemValues> itemValues(const QString &path)
{
    struct stat status = {};
    if (::lstat(encoded(path).constData(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throwSystemError(errno);
    }
    return ItemValues{S_ISREG(status.st_mode), S_ISDIR(status.st_mode), S_ISLNK(status.st_mode),
                      static_cast<qint64>(status.st_size)};
}

bool itemExists(const QString &path)
{
    struct stat status = {};
    return ::lstat(encoded(path).constData(), &status) == 0;
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

QString resolvedSymbolicLinks(const QString &path)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(encoded(path).constData(), nullptr),
                                                               &std::free);
    if (!resolved)
        throwSystemError(errno);
    return QFile::decodeName(resolved.get());
}

bool isInside(const QString &folder, const QString &root)
{
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    return folder == root || folder.startsWith(prefix);
}

qint64 regularFileSize(const QString &path)
{
    const std::optional<ItemValues> values = itemValues(path);
    if (!values)
        throwSystemError(ENOENT);
    if (!values->isRegularFile || values->isSymbolicLink)
        throw Error(Error::Case::sizeMismatch);
    return values->size;
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
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

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

int openForReading(const QString &path)
{
    const int descriptor = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0)
        throwSystemError(errno);
    return descriptor;
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

bool haveSameContents(const QString &firstPath, const QString &secondPath)
{
    const FileDescriptor first(openForReading(firstPath));
    const FileDescriptor second(openForReading(secondPath));
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

QString freeName(const QString &folder, const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    for (int number = 2; number <= highestFreeNameNumber; ++number) {
        QString candidate = base + u' ' + QString::number(number);
        if (hasExtension)
            candidate += name.mid(dot);
        if (!itemExists(childPath(folder, candidate)))
            return candidate;
    }
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u'-' + name;
}

bool isUnsupportedOperation(int code)
{
    return code == ENOSYS || code == ENOTSUP || code == EOPNOTSUPP;
}

// Moves `source` to `target` unless something already lies at `target`: false then, and nothing moved.
bool moveWithoutReplacing(const QString &source, const QString &target)
{
    const QByteArray from = encoded(source);
    const QByteArray to = encoded(target);
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    // File systems that do not know the flag answer EINVAL.
    if (errno != EINVAL && !isUnsupportedOperation(errno))
        throwSystemError(errno);
#endif
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    if (errno == EEXIST)
        return false;
    // File systems without hard links answer EPERM.
    if (errno != EPERM && !isUnsupportedOperation(errno))
        throwSystemError(errno);
    // Without hard links, an empty file of our own claims the name; the rename then replaces only that.
    const int placeholder = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (placeholder < 0) {
        if (errno == EEXIST)
            return false;
        throwSystemError(errno);
    }
    ::close(placeholder);
    if (::rename(from.constData(), to.constData()) != 0) {
        const int code = errno;
        ::unlink(to.constData());
        throwSystemError(code);
    }
    return true;
}

// The hidden file that a delivery writes before the file takes its final name; removed unless it was moved.
class PartialFile
{
public:
    explicit PartialFile(const QString &folder)
        : m_path(childPath(folder, ".tavrine-"_L1 + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower() +
                                       ".partial"_L1))
    {}
    ~PartialFile()
    {
        if (m_created)
            ::unlink(encoded(m_path).constData());
    }
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    const QString &path() const { return m_path; }

    void copyFrom(const QString &source)
    {
        const FileDescriptor input(openForReading(source));
        // O_EXCL: a file that is not ours is never written into, nor through a link planted at this name.
        FileDescriptor output(
            ::open(encoded(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (output.get() < 0)
            throwSystemError(errno);
        m_created = true;
        std::vector<char> chunk(chunkBytes);
        for (;;) {
            const qsizetype count = readChunk(input, chunk.data());
            writeAll(output, chunk.data(), count);
            if (count < chunkBytes)
                break;
        }
        output.closeChecked();
    }

    // Replaces a file or link at `target` in one step; a folder there is refused, never removed.
    void replace(const QString &target)
    {
        if (::rename(encoded(m_path).constData(), encoded(target).constData()) != 0)
            throwSystemError(errno);
        m_created = false;
    }

    // Moves to `target` or, when that name is or becomes taken, to the next free name; returns the path used.
    QString moveToFreeName(QString target, const QString &folder, const QString &name)
    {
        for (int attempt = 0; attempt < maximumMoveAttempts; ++attempt) {
            if (moveWithoutReplacing(m_path, target)) {
                m_created = false;
                return target;
            }
            target = childPath(folder, freeName(folder, name));
        }
        throwSystemError(EEXIST);
    }

private:
    QString m_path;
    bool m_created = false;
};

ManagedDownloadDelivery::Result resultFor(const QString &target, const QString &root)
{
    QStringView relative = QStringView(target).mid(root.size());
    while (relative.startsWith(u'/'))
        relative = relative.mid(1);
    while (relative.endsWith(u'/'))
        relative.chop(1);
    return {target, relative.toString()};
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

ManagedDownloadDelivery::Result ManagedDownloadDelivery::deliver(const QString &receiveFolder, const QString &fileName,
                                                                 const QByteArray &destinationBookmark,
                                                                 const QString &destinationRelativePath,
                                                                 qint64 expectedSize, Purpose purpose)
{
    if (!isValidComponent(fileName))
        throw Error(Error::Case::invalidRelativePath);
    const QStringList components = relativePathComponents(destinationRelativePath);

    const QString receivedFile = childPath(receiveFolder, fileName);
    const std::optional<ItemValues> received = itemValues(receivedFile);
    if (!received || !received->isRegularFile || received->isSymbolicLink || received->size != expectedSize)
        throw Error(Error::Case::receivedFileMissing);

    const QString root = resolvedSymbolicLinks(resolvedBookmark(destinationBookmark));
    const std::optional<ItemValues> rootValues = itemValues(root);
    if (!rootValues || !rootValues->isDirectory)
        throw Error(Error::Case::destinationUnavailable);

    QString folder = root;
    for (qsizetype index = 0; index + 1 < components.size(); ++index) {
        folder = childPath(folder, components.at(index));
        if (const std::optional<ItemValues> values = itemValues(folder)) {
            if (!values->isDirectory || values->isSymbolicLink)
                throw Error(Error::Case::invalidRelativePath);
        } else if (::mkdir(encoded(folder).constData(), 0777) != 0) {
            throwSystemError(errno);
        }
    }
    folder = resolvedSymbolicLinks(folder);
    if (!isInside(folder, root))
        throw Error(Error::Case::invalidRelativePath);

    const QString finalName = components.last();
    QString target = childPath(folder, finalName);
    if (const std::optional<ItemValues> existing = itemValues(target)) {
        if (!existing->isSymbolicLink) {
            if (!existing->isRegularFile)
                throw Error(Error::Case::sizeMismatch);
            if (existing->size == expectedSize && haveSameContents(target, receivedFile))
                return resultFor(target, root);
        }
        if (purpose == Purpose::preview) {
            if (::unlink(encoded(target).constData()) != 0)
                throwSystemError(errno);
        } else {
            target = childPath(folder, freeName(folder, finalName));
        }
    }

    PartialFile partial(folder);
    partial.copyFrom(receivedFile);
    if (regularFileSize(partial.path()) != expectedSize)
        throw Error(Error::Case::sizeMismatch);
    if (purpose == Purpose::preview)
        partial.replace(target);
    else
        target = partial.moveToFreeName(target, folder, finalName);
    return resultFor(target, root);
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

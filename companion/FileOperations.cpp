#include "FileOperations.h"

#include "FileActionError.h"
#include "FileDescriptor.h"
#include "MoveWithoutReplacing.h"
#include "StorageLayout.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace FileOperations {

namespace {

// A folder copy is walked whole before the first byte is written.
constexpr WalkLimits copyLimits{100000, 64};
constexpr qsizetype copyBufferBytes = 1024 * 1024;

FileActionError systemFailure(int error)
{
    return FileActionError(QStringLiteral("操作失败：%1").arg(QString::fromLocal8Bit(std::strerror(error))));
}

FileActionError nameTaken(const QString &path)
{
    return FileActionError(QStringLiteral("同名项目已存在：%1").arg(QFileInfo(path).fileName()));
}

struct Listed
{
    QFileInfo info;
    QString name;
    bool directory = false;
};

bool listedBefore(const Listed &first, const Listed &second)
{
    if (first.directory != second.directory) {
        return first.directory;
    }
    const int order = QString::compare(first.name, second.name, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : first.name < second.name;
}

bool stopsHere(WalkLimits limits, const QList<WalkedItem> &items)
{
    return limits.stopsAtMaximumEntries && items.size() >= limits.maximumEntries;
}

void walkInto(const QString &folder, const QString &prefix, int depth, bool isStorageFolder, WalkLimits limits,
              QList<WalkedItem> &items)
{
    if (stopsHere(limits, items)) {
        return;
    }
    const QFileInfo folderInfo(folder);
    if (!folderInfo.isReadable() || !folderInfo.isExecutable()) {
        throw FileActionError(QStringLiteral("无法读取文件夹：%1").arg(folderInfo.fileName()));
    }
    for (const QFileInfo &child : children(folder, isStorageFolder)) {
        if (stopsHere(limits, items)) {
            return;
        }
        if (depth > limits.maximumDepth) {
            throw FileActionError(QStringLiteral("文件夹层级超过 %1 层。").arg(limits.maximumDepth));
        }
        if (items.size() >= limits.maximumEntries) {
            throw FileActionError(QStringLiteral("文件夹中的项目超过 %1 个。").arg(limits.maximumEntries));
        }
        const QString relativePath = prefix.isEmpty() ? child.fileName() : prefix + u'/' + child.fileName();
        items.append({relativePath, child});
        if (child.isDir()) {
            walkInto(child.filePath(), relativePath, depth + 1, false, limits, items);
        }
    }
}

bool writeFully(int descriptor, const char *bytes, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

void copyFile(const QString &from, const QString &to)
{
    // O_NOFOLLOW and O_NONBLOCK: a link or a named pipe put in the file's place meanwhile is neither followed
    // nor waited on.
    const FileDescriptor source(
        ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (source.get() < 0) {
        throw systemFailure(errno);
    }
    struct stat status = {};
    if (::fstat(source.get(), &status) != 0) {
        throw systemFailure(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        throw FileActionError(QStringLiteral("不支持这种项目：%1").arg(QFileInfo(from).fileName()));
    }
    const QByteArray targetPath = QFile::encodeName(to);
    const FileDescriptor target(
        ::open(targetPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, status.st_mode & 0777));
    if (target.get() < 0) {
        throw errno == EEXIST ? nameTaken(to) : systemFailure(errno);
    }

    QByteArray buffer(copyBufferBytes, Qt::Uninitialized);
    int error = 0;
    for (;;) {
        const ssize_t count = ::read(source.get(), buffer.data(), static_cast<size_t>(buffer.size()));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 || (count > 0 && !writeFully(target.get(), buffer.constData(), count))) {
            error = errno;
            break;
        }
        if (count == 0) {
            break;
        }
    }
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (error == 0 && ::futimens(target.get(), times) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(targetPath.constData());
        throw systemFailure(error);
    }
}

} // namespace

bool isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QFileInfoList children(const QString &folder, bool isStorageFolder)
{
    const QFileInfoList found = QDir(folder).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::NoSort);
    const QString privateFolder =
        isStorageFolder ? QFileInfo(StorageLayout::stateFolderPath(folder)).fileName() : QString();
    std::vector<Listed> listed;
    listed.reserve(static_cast<size_t>(found.size()));
    for (const QFileInfo &entry : found) {
        QString name = entry.fileName();
        if (name != privateFolder) {
            listed.push_back({entry, std::move(name), entry.isDir()});
        }
    }
    std::sort(listed.begin(), listed.end(), listedBefore);
    QFileInfoList entries;
    entries.reserve(static_cast<qsizetype>(listed.size()));
    for (const Listed &entry : listed) {
        entries.append(entry.info);
    }
    return entries;
}

QList<WalkedItem> walk(const QString &folder, bool isStorageFolder, WalkLimits limits)
{
    QList<WalkedItem> items;
    walkInto(folder, QString(), 1, isStorageFolder, limits, items);
    return items;
}

void moveWithoutReplacing(const QString &from, const QString &to)
{
    switch (::moveWithoutReplacing(AT_FDCWD, QFile::encodeName(from), AT_FDCWD, QFile::encodeName(to))) {
    case MoveOutcome::moved:
        return;
    case MoveOutcome::nameTaken:
        throw nameTaken(to);
    case MoveOutcome::failed:
        throw systemFailure(errno);
    }
}

void makeFolder(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0) {
        throw errno == EEXIST ? nameTaken(path) : systemFailure(errno);
    }
}

void copyItem(const QString &from, const QString &to)
{
    const QFileInfo source(from);
    if (source.isSymLink() || !source.isDir()) {
        copyFile(from, to);
        return;
    }
    const QList<WalkedItem> items = walk(from, false, copyLimits);
    makeFolder(to);
    try {
        for (const WalkedItem &item : items) {
            const QString target = to + u'/' + item.relativePath;
            if (item.info.isDir()) {
                makeFolder(target);
            } else {
                copyFile(item.info.filePath(), target);
            }
        }
    } catch (const FileActionError &) {
        qint64 removedBytes = 0;
        removeTree(to, &removedBytes);
        throw;
    }
}

bool removeTree(const QString &path, qint64 *removedBytes)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink()) {
        bool removedAll = true;
        const QFileInfoList entries =
            QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            removedAll = removeTree(entry.filePath(), removedBytes) && removedAll;
        }
        return removedAll && QDir().rmdir(path);
    }
    const qint64 size = info.isFile() && !info.isSymLink() ? info.size() : 0;
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        return false;
    }
    *removedBytes += size;
    return true;
}

} // namespace FileOperations

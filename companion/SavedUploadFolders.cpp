#include "SavedUploadFolders.h"

#include "ActionPayload.h"
#include "FileDescriptor.h"
#include "RegularFileReader.h"
#include "StorageLayout.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SavedUploadFolders {

namespace {

const QString transferIdKey = QStringLiteral("transferId");
const QString directoryIdKey = QStringLiteral("directoryId");

// Twice the kept entries with the longest ids, and room to spare.
constexpr qint64 maximumFileBytes = 16 * 1024 * 1024;

std::optional<std::pair<QString, QString>> parseLine(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonObject entry = QJsonDocument::fromJson(line, &error).object();
    const QString transferId = entry.value(transferIdKey).toString();
    const QString folderId = entry.value(directoryIdKey).toString();
    // The bounds of the computer's request.
    if (error.error != QJsonParseError::NoError || transferId.isEmpty() ||
        transferId.size() > ActionPayload::maximumTextLength || folderId.isEmpty() ||
        folderId.size() > ActionPayload::maximumIdLength) {
        return std::nullopt;
    }
    return std::pair(transferId, folderId);
}

QByteArray lineOf(const QString &transferId, const QString &folderId)
{
    return QJsonDocument(QJsonObject{{transferIdKey, transferId}, {directoryIdKey, folderId}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool fail(QString *errorMessage, const QString &path, const QString &reason)
{
    if (errorMessage) {
        *errorMessage = QStringLiteral("Could not keep the folders of the uploads in %1: %2")
                            .arg(QDir::toNativeSeparators(path), reason);
    }
    return false;
}

} // namespace

std::optional<Contents> parse(const QByteArray &bytes)
{
    if (bytes.size() > maximumFileBytes) {
        return std::nullopt;
    }
    const QList<QByteArray> lines = bytes.split('\n');
    Contents contents;
    QHash<QString, qsizetype> newestLine; // by transfer id
    std::vector<std::pair<QString, QString>> entries;
    for (qsizetype index = 0; index < lines.size(); ++index) {
        // The text after the last line break: empty, or a line the phone stopped in the middle of.
        if (index == lines.size() - 1) {
            break;
        }
        ++contents.lines;
        // A line that is not an entry (cut short by a power cut, or written by another program) names no folder.
        const std::optional<std::pair<QString, QString>> entry = parseLine(lines.at(index));
        if (!entry) {
            continue;
        }
        newestLine.insert(entry->first, qsizetype(entries.size()));
        entries.push_back(*entry);
    }
    for (qsizetype index = 0; index < qsizetype(entries.size()); ++index) {
        if (newestLine.value(entries[index].first) == index) {
            contents.folders.push_back(entries[index]);
        }
    }
    if (qsizetype(contents.folders.size()) > maximumEntries) {
        contents.folders.erase(contents.folders.begin(), contents.folders.end() - maximumEntries);
    }
    return contents;
}

std::optional<Contents> load(const QString &storageDirectory, QString *errorMessage)
{
    const QString path = StorageLayout::uploadFoldersPath(storageDirectory);
    const RegularFileRead read = readRegularFile(path, maximumFileBytes);
    if (read.outcome == RegularFileRead::Outcome::missing) {
        return Contents();
    }
    std::optional<Contents> contents =
        read.outcome == RegularFileRead::Outcome::read ? parse(read.contents) : std::nullopt;
    if (!contents && errorMessage) {
        *errorMessage = QStringLiteral("The folders of earlier uploads in %1 could not be read; their files go into "
                                       "the storage folder")
                            .arg(QDir::toNativeSeparators(path));
    }
    return contents;
}

bool append(const QString &storageDirectory, const QString &transferId, const QString &folderId, QString *errorMessage)
{
    const QString path = StorageLayout::uploadFoldersPath(storageDirectory);
    if (!QDir().mkpath(QFileInfo(path).path())) {
        return fail(errorMessage, path, QStringLiteral("the folder cannot be made"));
    }
    const FileDescriptor descriptor(
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (descriptor.get() < 0) {
        return fail(errorMessage, path, systemError());
    }
    QByteArray line = lineOf(transferId, folderId);
    // After a line cut short (by a full disk, or a power cut), this one starts a line of its own.
    struct stat status = {};
    char last = '\n';
    if (::fstat(descriptor.get(), &status) == 0 && status.st_size > 0 &&
        ::pread(descriptor.get(), &last, 1, status.st_size - 1) == 1 && last != '\n') {
        line.prepend('\n');
    }
    // One write: a kill leaves the line whole, and a line cut short is left out when read.
    const ssize_t written = ::write(descriptor.get(), line.constData(), size_t(line.size()));
    if (written != ssize_t(line.size())) {
        if (written >= 0) {
            errno = ENOSPC;
        }
        return fail(errorMessage, path, systemError());
    }
    return true;
}

bool rewrite(const QString &storageDirectory, const Folders &folders, QString *errorMessage)
{
    QByteArray bytes;
    for (const auto &[transferId, folderId] : folders) {
        bytes += lineOf(transferId, folderId);
    }
    const QString path = StorageLayout::uploadFoldersPath(storageDirectory);
    // Replaced whole, by a new copy moved into place, but never synced: a kill at any moment leaves the old file or
    // the new one, and what a power cut may take back is only where a file goes (into the storage folder then), never
    // the file. A sync would make uploads wait for the disk once more.
    QTemporaryFile copy(path + QStringLiteral(".XXXXXX"));
    if (!QDir().mkpath(QFileInfo(path).path()) || !copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        return fail(errorMessage, path, copy.errorString());
    }
    if (::rename(QFile::encodeName(copy.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        return fail(errorMessage, path, systemError());
    }
    copy.setAutoRemove(false);
    return true;
}

} // namespace SavedUploadFolders

#include "MediaLibrary.h"

#include "StorageIds.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The phone's own folder, right inside the storage folder.
const QByteArray privateFolderName = QByteArrayLiteral(".tavrine");

qint64 nanosecondsOf(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

struct MediaLibrary::PendingFolder
{
    QString relativePath;
    int depth = 0;
    bool certain = false; // its parent's names did not change, so it is the folder its record was made of
};

struct MediaLibrary::Walk
{
    ManagedMediaKind kind;
    QString query;
    qint64 startedNanoseconds;
    quint64 number;
    int entries = 0;
    QList<ManagedMediaItem> found;
    QList<PendingFolder> pending;
};

MediaLibrary::MediaLibrary(const QString &storageDirectory, WallClock clock, Watching watching)
    : m_storageDirectory(QDir::cleanPath(storageDirectory)), m_clock(std::move(clock)),
      m_watch(watching == Watching::folders)
{}

MediaLibrary::Stamp MediaLibrary::stampOf(const struct stat &status)
{
    return {status.st_dev, status.st_ino, status.st_size, nanosecondsOf(status.st_mtim), nanosecondsOf(status.st_ctim)};
}

QList<ManagedMediaItem> MediaLibrary::items(ManagedMediaKind kind, const QString &query)
{
    takeChanges();
    Walk walk{kind,
              query,
              std::chrono::duration_cast<std::chrono::nanoseconds>(m_clock().time_since_epoch()).count(),
              ++m_walkCount,
              0,
              {},
              {{QString(), 0, false}}};
    while (!walk.pending.isEmpty() && walk.entries < maximumWalkEntries) {
        visitFolder(walk, walk.pending.takeLast());
    }
    // Only what this walk found stays in the index, so removed folders do not pile up.
    for (auto folder = m_folders.begin(); folder != m_folders.end();) {
        if (folder->walk != walk.number) {
            forgetWatch(folder.key(), *folder);
            folder = m_folders.erase(folder);
        } else {
            ++folder;
        }
    }

    std::sort(walk.found.begin(), walk.found.end(), [](const ManagedMediaItem &left, const ManagedMediaItem &right) {
        if (left.modifiedAtMillis != right.modifiedAtMillis) {
            return left.modifiedAtMillis > right.modifiedAtMillis;
        }
        return left.relativePath < right.relativePath;
    });
    return walk.found;
}

void MediaLibrary::takeChanges()
{
    const FolderWatch::Changes changes = m_watch.take();
    if (changes.lost) {
        for (FolderRecord &folder : m_folders) {
            folder.changed = true;
        }
    }
    for (const int watch : changes.changed) {
        const auto folder = m_folders.find(m_watchedFolders.value(watch));
        if (folder != m_folders.end() && folder->watch == watch) {
            folder->changed = true;
        }
    }
    for (const int watch : changes.ended) {
        const auto folder = m_folders.find(m_watchedFolders.value(watch));
        if (folder != m_folders.end() && folder->watch == watch) {
            folder->changed = true;
            forgetWatch(folder.key(), *folder);
        }
    }
}

void MediaLibrary::forgetWatch(const QString &relativePath, FolderRecord &record)
{
    // A folder moved within the storage keeps its watch, which its new path may have taken over.
    const auto watched = m_watchedFolders.constFind(record.watch);
    if (record.watch >= 0 && watched != m_watchedFolders.cend() && *watched == relativePath) {
        m_watch.unwatch(record.watch);
        m_watchedFolders.erase(watched);
    }
    record.watch = -1;
}

bool MediaLibrary::reuseWatched(Walk &walk, const PendingFolder &folder, FolderRecord &record)
{
    if (record.watch < 0 || record.changed || !record.complete ||
        walk.entries + record.entryCount > maximumWalkEntries) {
        return false;
    }
    const auto matches = [&walk](const FileRecord &file) {
        return walk.query.isEmpty() || file.fileName.contains(walk.query, Qt::CaseInsensitive);
    };
    // A file not probed yet, since no listing asked for its name, is probed now.
    if (std::any_of(record.files.cbegin(), record.files.cend(),
                    [&](const FileRecord &file) { return !file.knows(walk.kind) && matches(file); })) {
        return false;
    }
    walk.entries += record.entryCount;
    record.walk = walk.number;
    pendSubfolders(walk, folder, record, true);
    for (const FileRecord &file : std::as_const(record.files)) {
        if (file.item && file.item->kind == walk.kind && matches(file)) {
            walk.found.append(*file.item);
        }
    }
    return true;
}

void MediaLibrary::pendSubfolders(Walk &walk, const PendingFolder &folder, const FolderRecord &record, bool certain)
{
    const QString prefix = folder.relativePath.isEmpty() ? QString() : folder.relativePath + u'/';
    for (const QByteArray &name : record.folders) {
        if (folder.depth + 1 < maximumWalkDepth && !(folder.depth == 0 && name == privateFolderName)) {
            walk.pending.append({prefix + QFile::decodeName(name), folder.depth + 1, certain});
        }
    }
}

void MediaLibrary::visitFolder(Walk &walk, const PendingFolder &folder)
{
    const auto known = m_folders.find(folder.relativePath);
    // Under a parent whose names did not change, a folder is the one its record was made of.
    if (folder.certain && known != m_folders.end() && reuseWatched(walk, folder, *known)) {
        return;
    }
    const QByteArray path = QFile::encodeName(
        folder.relativePath.isEmpty() ? m_storageDirectory : m_storageDirectory + u'/' + folder.relativePath);
    // The storage folder itself may be reached through a link; nothing below it is.
    const int descriptor =
        ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (folder.depth > 0 ? O_NOFOLLOW : 0));
    if (descriptor < 0) {
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR *)> stream(::fdopendir(descriptor), &::closedir);
    struct stat status = {};
    if (!stream) {
        ::close(descriptor);
        return;
    }
    if (::fstat(descriptor, &status) != 0) {
        return;
    }
    const bool sameFolder =
        known != m_folders.end() && known->stamp.device == status.st_dev && known->stamp.inode == status.st_ino;
    if (!folder.certain && sameFolder && reuseWatched(walk, folder, *known)) {
        return;
    }

    FolderRecord &record = m_folders[folder.relativePath];
    if (!sameFolder || record.watch < 0) {
        forgetWatch(folder.relativePath, record);
        record.watch = m_watchedFolders.size() < maximumWatchedFolders ? m_watch.watch(path, folder.depth == 0) : -1;
        // The same folder under another path (a bind mount) would share the watch, which tells only one of them:
        // this one is looked at by its stamp instead.
        const auto owner = m_folders.constFind(m_watchedFolders.value(record.watch));
        if (record.watch >= 0 && owner != m_folders.cend() && owner.key() != folder.relativePath &&
            owner->watch == record.watch) {
            record.watch = -1;
        }
        if (record.watch >= 0) {
            m_watchedFolders.insert(record.watch, folder.relativePath);
            // Looked at again now that changes are watched: what changed before shows in these times.
            if (::fstat(descriptor, &status) != 0) {
                return;
            }
        }
    }
    record.changed = false;
    readNames(walk, record, stream.get(), stampOf(status));
    pendSubfolders(walk, folder, record, false);
    const QString prefix = folder.relativePath.isEmpty() ? QString() : folder.relativePath + u'/';
    for (FileRecord &file : record.files) {
        visitFile(walk, descriptor, prefix, file);
    }
}

void MediaLibrary::readNames(Walk &walk, FolderRecord &record, DIR *stream, const Stamp &stamp)
{
    record.walk = walk.number;
    if (record.settled && record.complete && record.stamp == stamp &&
        walk.entries + record.entryCount <= maximumWalkEntries) {
        walk.entries += record.entryCount;
        return;
    }

    ++m_folderReadCount;
    const qint64 settleNanoseconds = std::chrono::nanoseconds(settleTime).count();
    // What is known of the files that were there before.
    QHash<QByteArray, qsizetype> earlier;
    for (qsizetype index = 0; index < record.files.size(); ++index) {
        earlier.insert(record.files.at(index).name, index);
    }
    QList<QByteArray> folders;
    QList<FileRecord> files;
    int entryCount = 0;
    const int descriptor = ::dirfd(stream);
    bool complete = false;
    // An entry at a time, so that a folder of millions of entries stops at the bound.
    while (walk.entries < maximumWalkEntries) {
        errno = 0;
        const dirent *entry = ::readdir(stream);
        if (!entry) {
            complete = errno == 0;
            break;
        }
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        ++walk.entries;
        ++entryCount;
        unsigned char type = entry->d_type;
        struct stat status = {};
        if (type == DT_UNKNOWN && ::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            folders.append(name);
        } else if (type == DT_REG) {
            const auto found = earlier.constFind(name);
            files.append(found != earlier.cend() ? record.files.at(*found)
                                                 : FileRecord{name, QFile::decodeName(name), {}, {}, {}});
        }
    }
    record.stamp = stamp;
    record.settled =
        std::max(stamp.modifiedNanoseconds, stamp.changedNanoseconds) + settleNanoseconds < walk.startedNanoseconds;
    // A folder read only in part is read again next time.
    record.complete = complete;
    record.entryCount = entryCount;
    record.folders = std::move(folders);
    record.files = std::move(files);
}

void MediaLibrary::visitFile(Walk &walk, int folderDescriptor, const QString &prefix, FileRecord &record)
{
    ++m_fileLookCount;
    const auto forget = [&record] {
        // Not listed from the record until it is a regular file again.
        record = {record.name, record.fileName, {}, FileRecord::Known::nothing, {}};
    };
    const bool matches = walk.query.isEmpty() || record.fileName.contains(walk.query, Qt::CaseInsensitive);
    struct stat status = {};
    if (record.known != FileRecord::Known::nothing) {
        if (::fstatat(folderDescriptor, record.name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode)) {
            forget();
            return;
        }
        if (stampOf(status) == record.stamp && record.knows(walk.kind)) {
            if (record.item && record.item->kind == walk.kind && matches) {
                walk.found.append(*record.item);
            }
            return;
        }
    }
    if (!matches) {
        // Left to be probed when a listing asks for its name.
        forget();
        return;
    }
    // Opened once, for its stamp and its contents.
    const QString relativePath = prefix + record.fileName;
    QFile file;
    if (!MediaFile::openRegularFileAt(file, folderDescriptor, record.name, &status)) {
        forget();
        return;
    }
    const Stamp stamp = stampOf(status);
    if (record.stamp != stamp) {
        record = {record.name, record.fileName, stamp, FileRecord::Known::nothing, {}};
    }
    if (!record.knows(walk.kind)) {
        if (walk.kind == ManagedMediaKind::photo && !MediaFile::mayBePhoto(file, stamp.size)) {
            record.known = FileRecord::Known::noPhoto;
            return;
        }
        ++m_probeCount;
        record.known = FileRecord::Known::everything;
        if (const std::optional<MediaFacts> facts = MediaFile::probe(file)) {
            const qint64 modifiedAtMillis = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1'000'000;
            record.item = ManagedMediaItem{StorageIds::idForRelativePath(relativePath),
                                           record.fileName,
                                           facts->kind,
                                           stamp.size,
                                           modifiedAtMillis,
                                           facts->mimeType,
                                           facts->size.width(),
                                           facts->size.height(),
                                           facts->orientationDegrees,
                                           relativePath,
                                           facts->durationMillis};
        }
    }
    if (record.item && record.item->kind == walk.kind && matches) {
        walk.found.append(*record.item);
    }
}

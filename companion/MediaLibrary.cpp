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

struct MediaLibrary::Walk
{
    ManagedMediaKind kind;
    QString query;
    qint64 startedNanoseconds;
    quint64 number;
    int entries = 0;
    QList<ManagedMediaItem> found;
};

MediaLibrary::MediaLibrary(const QString &storageDirectory, WallClock clock)
    : m_storageDirectory(QDir::cleanPath(storageDirectory)), m_clock(std::move(clock))
{}

MediaLibrary::Stamp MediaLibrary::stampOf(const struct stat &status)
{
    return {status.st_dev, status.st_ino, status.st_size, nanosecondsOf(status.st_mtim), nanosecondsOf(status.st_ctim)};
}

QList<ManagedMediaItem> MediaLibrary::items(ManagedMediaKind kind, const QString &query)
{
    Walk walk{kind,
              query,
              std::chrono::duration_cast<std::chrono::nanoseconds>(m_clock().time_since_epoch()).count(),
              ++m_walkCount,
              0,
              {}};
    struct Folder
    {
        QString relativePath;
        int depth;
    };
    QList<Folder> pending = {{QString(), 0}};
    while (!pending.isEmpty() && walk.entries < maximumWalkEntries) {
        const Folder folder = pending.takeLast();
        const QByteArray path = QFile::encodeName(
            folder.relativePath.isEmpty() ? m_storageDirectory : m_storageDirectory + u'/' + folder.relativePath);
        // The storage folder itself may be reached through a link; nothing below it is.
        const int descriptor =
            ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (folder.depth > 0 ? O_NOFOLLOW : 0));
        if (descriptor < 0) {
            continue;
        }
        const std::unique_ptr<DIR, int (*)(DIR *)> stream(::fdopendir(descriptor), &::closedir);
        struct stat status = {};
        if (!stream) {
            ::close(descriptor);
            continue;
        }
        if (::fstat(descriptor, &status) != 0) {
            continue;
        }
        FolderRecord &record = folderRecord(walk, folder.relativePath, stream.get(), stampOf(status));
        const QString prefix = folder.relativePath.isEmpty() ? QString() : folder.relativePath + u'/';
        for (const QByteArray &name : std::as_const(record.folders)) {
            if (folder.depth + 1 < maximumWalkDepth && !(folder.depth == 0 && name == privateFolderName)) {
                pending.append({prefix + QFile::decodeName(name), folder.depth + 1});
            }
        }
        for (FileRecord &file : record.files) {
            visitFile(walk, descriptor, prefix, file);
        }
    }
    // Only what this walk found stays in the index, so removed folders do not pile up.
    m_folders.removeIf([&walk](const auto &folder) { return folder.value().walk != walk.number; });

    std::sort(walk.found.begin(), walk.found.end(), [](const ManagedMediaItem &left, const ManagedMediaItem &right) {
        if (left.modifiedAtMillis != right.modifiedAtMillis) {
            return left.modifiedAtMillis > right.modifiedAtMillis;
        }
        return left.relativePath < right.relativePath;
    });
    return walk.found;
}

MediaLibrary::FolderRecord &MediaLibrary::folderRecord(Walk &walk, const QString &relativePath, DIR *stream,
                                                       const Stamp &stamp)
{
    FolderRecord &known = m_folders[relativePath];
    if (known.walk != 0 && known.settled && known.stamp == stamp &&
        walk.entries + known.entryCount <= maximumWalkEntries) {
        walk.entries += known.entryCount;
        known.walk = walk.number;
        return known;
    }

    ++m_folderReadCount;
    const qint64 settleNanoseconds = std::chrono::nanoseconds(settleTime).count();
    FolderRecord record;
    record.stamp = stamp;
    record.settled =
        std::max(stamp.modifiedNanoseconds, stamp.changedNanoseconds) + settleNanoseconds < walk.startedNanoseconds;
    record.walk = walk.number;
    // What is known of the files that were there before.
    QHash<QByteArray, qsizetype> earlier;
    for (qsizetype index = 0; index < known.files.size(); ++index) {
        earlier.insert(known.files.at(index).name, index);
    }
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
        ++record.entryCount;
        unsigned char type = entry->d_type;
        struct stat status = {};
        if (type == DT_UNKNOWN && ::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            record.folders.append(name);
        } else if (type == DT_REG) {
            const auto found = earlier.constFind(name);
            record.files.append(found != earlier.cend() ? known.files.at(*found)
                                                        : FileRecord{name, QFile::decodeName(name), {}, false, {}});
        }
    }
    // A folder read only in part is read again next time.
    record.settled = record.settled && complete;
    known = std::move(record);
    return known;
}

void MediaLibrary::visitFile(Walk &walk, int folderDescriptor, const QString &prefix, FileRecord &record)
{
    struct stat status = {};
    if (::fstatat(folderDescriptor, record.name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
        return;
    }
    const Stamp stamp = stampOf(status);
    const bool matches = walk.query.isEmpty() || record.fileName.contains(walk.query, Qt::CaseInsensitive);
    if (!record.probed || record.stamp != stamp) {
        if (!matches) {
            // Left to be probed when a listing asks for its name.
            record.probed = false;
            return;
        }
        ++m_probeCount;
        record.stamp = stamp;
        record.probed = true;
        record.item.reset();
        const QString relativePath = prefix + record.fileName;
        if (const std::optional<MediaFacts> facts = MediaFile::probe(m_storageDirectory + u'/' + relativePath)) {
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

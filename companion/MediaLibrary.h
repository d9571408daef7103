#pragma once

#include "MediaFile.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

#include <dirent.h>
#include <sys/stat.h>

// The photos and videos anywhere in the storage folder, found by their contents. A walk never enters the
// phone's own folder nor follows a symbolic link, and stops after maximumWalkEntries entries or below
// maximumWalkDepth folders.
//
// Listing again must not cost a walk of everything: the library keeps an index of what each folder held and
// what each file was. A folder whose change stamp (device, inode, modification and status change times) is
// the one recorded still holds the same names, so it is not read again; only its files are looked at, and a
// file whose stamp (inode, size, modification and status change times) is the one recorded keeps its facts
// without being probed. Times on disk are coarse: a folder changed within `settleTime` of being read could
// change again with the same stamp, so it is read again until it has settled.
class MediaLibrary
{
public:
    static constexpr int maximumWalkEntries = 100'000;
    static constexpr int maximumWalkDepth = 64;
    // Longer than the coarsest modification time of the file systems a phone uses (two seconds).
    static constexpr std::chrono::seconds settleTime{3};

    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    explicit MediaLibrary(const QString &storageDirectory, WallClock clock = std::chrono::system_clock::now);

    // The items of `kind` whose name holds `query` (ignoring case), newest first, then by path; each id is the
    // file's storage id.
    QList<ManagedMediaItem> items(ManagedMediaKind kind, const QString &query);

    // How many files were probed so far; a file found again unchanged is not probed again.
    int probeCount() const { return m_probeCount; }
    // How many times a folder's names were read; a folder found again unchanged is not read again.
    int folderReadCount() const { return m_folderReadCount; }

private:
    struct Stamp
    {
        dev_t device = 0;
        ino_t inode = 0;
        qint64 size = 0;
        qint64 modifiedNanoseconds = 0;
        qint64 changedNanoseconds = 0;

        bool operator==(const Stamp &) const = default;
    };

    struct FileRecord
    {
        QByteArray name; // as the file system has it
        QString fileName;
        Stamp stamp;
        bool probed = false;                  // files whose names do not match a search are not probed
        std::optional<ManagedMediaItem> item; // nothing for a file that is no photo or video
    };
    struct FolderRecord
    {
        Stamp stamp;
        bool settled = false;
        int entryCount = 0; // every entry, links and others included
        QList<QByteArray> folders;
        QList<FileRecord> files; // in the order the folder gives them
        quint64 walk = 0;        // the last walk that found the folder
    };
    struct Walk;

    static Stamp stampOf(const struct stat &status);
    // The record of the folder that `stream` reads, its names read again only when the folder changed.
    FolderRecord &folderRecord(Walk &walk, const QString &relativePath, DIR *stream, const Stamp &stamp);
    // Looks at the file of `record` in the folder open as `folderDescriptor`, probed when it is new or changed.
    void visitFile(Walk &walk, int folderDescriptor, const QString &prefix, FileRecord &record);

    QString m_storageDirectory;
    WallClock m_clock;
    QHash<QString, FolderRecord> m_folders; // by relative path
    quint64 m_walkCount = 0;
    int m_probeCount = 0;
    int m_folderReadCount = 0;
};

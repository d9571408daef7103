#pragma once

#include "FolderWatch.h"
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
// Listing again must not cost a walk of everything: the library keeps an index of what each folder held and what
// each file was, and watches the folders it read. A watched folder that did not change since is neither read nor
// are its files looked at. Where a folder cannot be watched, or changed, its stamp tells: a folder whose stamp
// (device, inode, modification and status change times) is the one recorded still holds the same names, and a file
// whose stamp (inode, size, modification and status change times) is the one recorded keeps its facts without being
// probed. Times on disk are coarse: a folder changed within `settleTime` of being read could change again with the
// same stamp, so it is read again until it has settled.
class MediaLibrary
{
public:
    static constexpr int maximumWalkEntries = 100'000;
    static constexpr int maximumWalkDepth = 64;
    // Watches are a resource of the whole system; folders beyond these are looked at by their stamps.
    static constexpr int maximumWatchedFolders = 8192;
    // Longer than the coarsest modification time of the file systems a phone uses (two seconds).
    static constexpr std::chrono::seconds settleTime{3};

    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    enum class Watching
    {
        folders,
        none, // every folder is looked at on every walk
    };

    explicit MediaLibrary(const QString &storageDirectory, WallClock clock = std::chrono::system_clock::now,
                          Watching watching = Watching::folders);

    // The items of `kind` whose name holds `query` (ignoring case), newest first, then by path; each id is the
    // file's storage id.
    QList<ManagedMediaItem> items(ManagedMediaKind kind, const QString &query);

    // How many files were probed so far; a file found again unchanged is not probed again.
    int probeCount() const { return m_probeCount; }
    // How many times a folder's names were read; a folder found again unchanged is not read again.
    int folderReadCount() const { return m_folderReadCount; }
    // How many times a file was looked at; the files of a watched folder that did not change are not.
    int fileLookCount() const { return m_fileLookCount; }

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
        // Files whose names do not match a search are not probed; a photo listing passes over files that cannot be
        // photos without telling whether they are videos.
        enum class Known
        {
            nothing,
            noPhoto,
            everything,
        } known = Known::nothing;
        std::optional<ManagedMediaItem> item; // nothing for a file that is no photo or video

        // Whether the file is known to be of `kind` or not.
        bool knows(ManagedMediaKind kind) const
        {
            return known == Known::everything || (known == Known::noPhoto && kind == ManagedMediaKind::photo);
        }
    };
    struct FolderRecord
    {
        Stamp stamp;
        bool settled = false;
        int entryCount = 0; // every entry, links and others included
        QList<QByteArray> folders;
        QList<FileRecord> files; // in the order the folder gives them
        bool complete = false;   // a folder read only in part is read again
        quint64 walk = 0;        // the last walk that found the folder
        int watch = -1;
        bool changed = true; // since it was read, as far as its watch tells
    };
    struct PendingFolder;
    struct Walk;

    static Stamp stampOf(const struct stat &status);
    void takeChanges();
    void forgetWatch(const QString &relativePath, FolderRecord &record);
    void visitFolder(Walk &walk, const PendingFolder &folder);
    // Lists what the record of a watched folder that did not change holds, without looking at the disk; false when
    // it cannot.
    bool reuseWatched(Walk &walk, const PendingFolder &folder, FolderRecord &record);
    void pendSubfolders(Walk &walk, const PendingFolder &folder, const FolderRecord &record, bool certain);
    // The names in the folder that `stream` reads into its record, read again only when the folder changed.
    void readNames(Walk &walk, FolderRecord &record, DIR *stream, const Stamp &stamp);
    // Looks at the file of `record` in the folder open as `folderDescriptor`, probed when it is new or changed.
    void visitFile(Walk &walk, int folderDescriptor, const QString &prefix, FileRecord &record);

    QString m_storageDirectory;
    WallClock m_clock;
    QHash<QString, FolderRecord> m_folders; // by relative path
    FolderWatch m_watch;
    QHash<int, QString> m_watchedFolders; // relative paths by watch
    quint64 m_walkCount = 0;
    int m_probeCount = 0;
    int m_folderReadCount = 0;
    int m_fileLookCount = 0;
};

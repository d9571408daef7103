#pragma once

#include <QFileInfo>
#include <QList>
#include <QString>

// Changes to files and folders of the storage folder that never follow a symbolic link and never replace an
// existing item. Paths are absolute and checked by the caller; failures throw FileActionError.
namespace FileOperations {

// An item of a walked folder.
struct WalkedItem
{
    QString relativePath; // "/"-separated below the walked folder
    QFileInfo info;
};

// How far a folder walk goes: beyond either limit it fails, unless it stops at `maximumEntries`.
struct WalkLimits
{
    qsizetype maximumEntries = 0;
    int maximumDepth = 0; // components of a relative path
    bool stopsAtMaximumEntries = false;
};

// Whether anything, a dangling symbolic link included, exists at `path`.
bool isTaken(const QString &path);

// The folders and regular files directly in `folder`, folders first, then by name ignoring case; symbolic links
// and special files are left out, and so is the phone's private folder when `isStorageFolder`.
QFileInfoList children(const QString &folder, bool isStorageFolder);

// Everything below `folder` in the order of `children`, each folder before its contents.
QList<WalkedItem> walk(const QString &folder, bool isStorageFolder, WalkLimits limits);

// Renames `from` to `to`, which must not exist.
void moveWithoutReplacing(const QString &from, const QString &to);

// Makes the folder `path`, which must not exist.
void makeFolder(const QString &path);

// Copies the regular file or folder `from` to `to`, which must not exist: the bytes and modification times of
// files, folders recursively. A copy that fails half way is removed again.
void copyItem(const QString &from, const QString &to);

// Removes `path` and, for a folder, everything in it; a symbolic link is removed itself. Adds the sizes of the
// removed regular files to `removedBytes`; false when anything stayed.
bool removeTree(const QString &path, qint64 *removedBytes);

} // namespace FileOperations

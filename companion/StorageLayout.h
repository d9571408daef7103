#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

// Where tavrine-phone keeps its own files inside the storage folder it serves.
namespace StorageLayout {

inline QString stateFolderPath(const QString &storageDirectory)
{
    return QDir(storageDirectory).filePath(QStringLiteral(".tavrine"));
}

inline QString stateFilePath(const QString &storageDirectory)
{
    return QDir(stateFolderPath(storageDirectory)).filePath(QStringLiteral("state.json"));
}

// The core library writes received files here; they are moved into the storage folder once complete.
inline QString inboxPath(const QString &storageDirectory)
{
    return QDir(stateFolderPath(storageDirectory)).filePath(QStringLiteral("inbox"));
}

// The phone's trash: the deleted items, and the index of where each came from.
inline QString trashFolderPath(const QString &storageDirectory)
{
    return QDir(stateFolderPath(storageDirectory)).filePath(QStringLiteral("trash"));
}

inline QString trashIndexPath(const QString &storageDirectory)
{
    return trashFolderPath(storageDirectory) + QStringLiteral("/index.json");
}

inline QString applicationsFilePath(const QString &storageDirectory)
{
    return QDir(stateFolderPath(storageDirectory)).filePath(QStringLiteral("applications.json"));
}

// The folders that the computer prepared for the files it uploads, by transfer id.
inline QString uploadFoldersPath(const QString &storageDirectory)
{
    return QDir(stateFolderPath(storageDirectory)).filePath(QStringLiteral("upload-folders.json"));
}

// The files tavrine-phone saves whole, each by writing a new copy beside it and moving it into place.
inline QStringList wholeSavedFilePaths(const QString &storageDirectory)
{
    return {stateFilePath(storageDirectory), applicationsFilePath(storageDirectory), trashIndexPath(storageDirectory),
            uploadFoldersPath(storageDirectory)};
}

} // namespace StorageLayout

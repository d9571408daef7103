#pragma once

#include <QDir>
#include <QString>

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

} // namespace StorageLayout

#pragma once

#include <QString>

// The storage folder as the computer sees it, and the "/"-separated relative paths of its items.
namespace StorageRoot {

// The display name of the storage folder.
inline const QString name = QStringLiteral("内部存储");

// The folder that holds the item at `relativePath`; empty for an item at the top.
inline QString parentPath(const QString &relativePath)
{
    const qsizetype slash = relativePath.lastIndexOf(u'/');
    return slash < 0 ? QString() : relativePath.left(slash);
}

inline QString childPath(const QString &folderPath, const QString &name)
{
    return folderPath.isEmpty() ? name : folderPath + u'/' + name;
}

// Whether `relativePath` is `folderPath` itself or something inside it.
inline bool isWithin(const QString &relativePath, const QString &folderPath)
{
    return folderPath.isEmpty() || relativePath == folderPath || relativePath.startsWith(folderPath + u'/');
}

} // namespace StorageRoot

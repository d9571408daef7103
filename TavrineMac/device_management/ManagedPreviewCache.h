#pragma once

#include "ManagedContentModel.h"

#include <QString>

#include <optional>

// Local copies of phone files that were previewed, in one flat folder, named by phone, file, version and
// size, and trimmed to a number of files and bytes. Writes no file itself: copies are delivered there by
// the transfer store's downloads.
class ManagedPreviewCache
{
public:
    // Without a folder: "Tavrine/Previews" in the user's cache folder, else in the temporary folder.
    ManagedPreviewCache(std::optional<QString> directory, int maximumFileCount, qint64 maximumBytes);

    static QString defaultDirectory();

    const QString &directory() const { return m_directory; }
    int maximumFileCount() const { return m_maximumFileCount; }
    qint64 maximumBytes() const { return m_maximumBytes; }

    // Throws FileOperationError when the folder cannot be made.
    void ensureDirectory() const;
    static QString fileName(const ManagedFileEntry &entry, const QString &peerID);
    // A current copy (a regular file of exactly the entry's size), its date refreshed; nothing on any failure.
    std::optional<QString> cachedFilePath(const ManagedFileEntry &entry, const QString &peerID) const;
    // Keeps the newest copies within both limits, always sparing `keeping`; throws FileOperationError. The copies
    // under the phone's names go with the copies they were made of.
    void prune(const std::optional<QString> &keeping) const;

    // The copy at `cachedPath` under the name the file has on the phone, for a program of the desktop that shows a
    // file's name as its title: a hard link at "<cache>/<copy name>.named/<name>", the name made safe first
    // (openableName). Throws FileOperationError.
    static QString namedCopy(const QString &cachedPath, const QString &phoneName);
    // A phone-supplied file name fit to be one local name: no '/', '\\', control or direction-changing characters,
    // not "." or "..", at most 255 UTF-8 bytes (the end cut from the name before its extension); `fallback` when
    // nothing of it is left.
    static QString openableName(const QString &phoneName, const QString &fallback);
    static constexpr QStringView namedCopyFolderSuffix = u".named";

private:
    QString m_directory;
    int m_maximumFileCount;
    qint64 m_maximumBytes;
};

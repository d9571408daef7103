#pragma once

#include <QString>

#include <variant>

// An item of the storage folder as an id names it.
struct StorageItem
{
    QString relativePath; // "/"-separated below the storage folder, empty for the folder itself
    QString path;         // the storage folder joined with relativePath, as the id names it
    QString realPath;     // `path` with every symbolic link resolved; always inside the storage folder

    bool operator==(const StorageItem &) const = default;
};

// Why an id names no item of the storage folder.
enum class StorageIdError
{
    malformed,      // not an id this phone gives out
    privateFolder,  // the phone's own folder (.tavrine) or something in it
    outsideStorage, // a symbolic link on the way leads out of the storage folder
    missing,        // nothing exists there (a dangling link included)
};

using StorageIdResult = std::variant<StorageItem, StorageIdError>;

// Ids of the files and folders of the storage folder, as the computer sees them. The computer treats
// them as opaque text; here an id is the item's path relative to the storage folder:
//   - "root" names the storage folder itself;
//   - any other id is the base64url encoding (RFC 4648 §5, without "=" padding) of the UTF-8 bytes of
//     the "/"-separated relative path, e.g. "Music/a.mp3" → "TXVzaWMvYS5tcDM".
// An id therefore stays the same while its item is neither renamed nor moved, and every path has exactly
// one id: "root" decodes to bytes that are not UTF-8, and non-canonical encodings are refused.
//
// Ids come from the network, so resolving one never leads outside the storage folder: an absolute
// path, an empty, "." or ".." component, a NUL, the phone's own .tavrine folder and anything whose real
// path (symbolic links resolved) is not inside the storage folder's real path are refused.
class StorageIds
{
public:
    static const QString rootId;

    explicit StorageIds(const QString &storageDirectory);

    // `relativePath` as StorageItem::relativePath has it.
    static QString idForRelativePath(const QString &relativePath);

    // The existing item that `id` names.
    StorageIdResult resolve(const QString &id) const;

private:
    QString m_storageDirectory;
};

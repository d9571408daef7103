#pragma once

#include "FileOperations.h"
#include "ListingSnapshots.h"
#include "ManagementHandlers.h"
#include "PhoneTrash.h"
#include "StorageIds.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// The management actions on the files and folders of the storage folder and on the phone's trash:
// "files.roots", "files.list", "files.tree", "files.mkdir", "files.rename", "files.copy", "files.move",
// "files.delete", "files.trash.list", "files.trash.restore" and "files.trash.empty".
//
// Items are named by storage ids. An id that names a symbolic link, or leads through one, names nothing here:
// links are never listed, walked, copied or moved through, so no action reaches outside the storage folder.
// The private folder (.tavrine), the trash included, is reachable only through trash entry ids.
class FileActions
{
public:
    explicit FileActions(const QString &storageDirectory);
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;

    // This object must outlive the handlers that `addTo` registers.
    void addTo(ManagementHandlers &handlers);

private:
    enum class ConflictPolicy
    {
        error,
        keepBoth,
        replace,
    };

    // An item of the storage folder reached through no symbolic link.
    struct Item
    {
        QString relativePath; // empty for the storage folder
        QString path;         // absolute, below the storage folder's real path
        QFileInfo info;
    };

    QJsonObject roots() const;
    QJsonObject list(const QJsonObject &payload) const;
    QJsonObject tree(const QJsonObject &payload) const;
    QJsonObject makeFolder(const QJsonObject &payload);
    QJsonObject rename(const QJsonObject &payload);
    QJsonObject copyOrMove(const QJsonObject &payload, bool move);
    QJsonObject moveToTrash(const QJsonObject &payload);
    QJsonObject listTrash(const QJsonObject &payload) const;
    QJsonObject restore(const QJsonObject &payload);
    QJsonObject emptyTrash();

    QString realStorage() const;
    // The file or folder that the id under `key` names; throws when it names nothing the phone lists.
    Item item(const QJsonObject &payload, const QString &key) const;
    Item folder(const QJsonObject &payload, const QString &key) const;
    static ConflictPolicy conflictPolicy(const QJsonObject &payload);
    static QString safeName(const QJsonObject &payload, const QString &key);

    // Runs `operation` with the free path for `name` in the folder at `folderPath` (relative), first taking the
    // name under `policy`; a replaced item goes to the trash and comes back when `operation` throws. The item
    // being put there, when it exists already, is at `sourcePath` (relative): it cannot replace itself or a
    // folder holding it. Gives the path used.
    QString putInPlace(const QString &folderPath, const QString &name, ConflictPolicy policy,
                       const std::optional<QString> &sourcePath,
                       const std::function<void(const QString &target)> &operation);

    QString m_storageDirectory;
    StorageIds m_ids;
    PhoneTrash m_trash;
    // The pages of each listing come from what its first page found.
    mutable ListingSnapshots<QFileInfo> m_folderListings;
    mutable ListingSnapshots<FileOperations::WalkedItem> m_treeListings;
    mutable ListingSnapshots<PhoneTrashEntry> m_trashListings;
};

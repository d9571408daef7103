#pragma once

#include "ManagedContentModel.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// One item in the phone's trash, as the computer lists it (its id is random, 32 lower-case hex digits, and
// also the item's name in the trash folder), and where it came from.
struct PhoneTrashEntry : ManagedTrashEntry
{
    QString originalPath; // "/"-separated below the storage folder; kept for restoring, never sent

    bool operator==(const PhoneTrashEntry &) const = default;

    // The keys of the computer's ManagedTrashEntry, plus originalPath.
    QJsonObject toJson() const;
    // Gives nothing for an entry that is malformed or whose originalPath could leave the storage folder or
    // lead into the phone's private folder.
    static std::optional<PhoneTrashEntry> fromJson(const QJsonObject &object);
};

struct PhoneTrashEmptied
{
    int deletedCount = 0;
    qint64 reclaimedBytes = 0;
};

// The phone's own trash: deleted items wait in .tavrine/trash/items/<entry id> of the storage folder, and
// .tavrine/trash/index.json (written atomically) remembers where each came from. An entry whose item is gone
// is forgotten; an item without entry is not listed but goes when the trash is emptied. Failures throw
// FileActionError.
class PhoneTrash
{
public:
    explicit PhoneTrash(const QString &storageDirectory);

    // Whether `id` has the form of an entry id.
    static bool isEntryId(const QString &id);

    // Moves the item at `relativePath` of the storage folder into the trash. The caller has checked that the
    // path leads through no symbolic link; the item itself may be anything, a link included.
    PhoneTrashEntry moveIn(const QString &relativePath);

    // Newest deletion first.
    QList<PhoneTrashEntry> entries() const;
    std::optional<PhoneTrashEntry> entry(const QString &id) const;

    // Moves the item of entry `id` to the absolute `path`, which must be free, and forgets the entry.
    void moveOut(const QString &id, const QString &path);

    // Removes every item in the trash.
    PhoneTrashEmptied empty();

private:
    QString realStorage() const;
    QString trashFolder() const;
    QString itemsFolder() const;
    QString indexPath() const;
    // Makes the trash folders, refusing when a symbolic link or a file sits in their place.
    void prepareFolders() const;
    // The entries in deletion order whose items are still in the trash.
    QList<PhoneTrashEntry> load() const;
    void save(const QList<PhoneTrashEntry> &entries) const;

    QString m_storageDirectory;
};

#include "PhoneTrash.h"

#include "FileActionError.h"
#include "FileNameRules.h"
#include "FileOperations.h"
#include "StorageIds.h"
#include "StorageLayout.h"
#include "StorageRoot.h"
#include "WholeFileCommit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QUuid>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString originalPathKey = QStringLiteral("originalPath");
const QString versionKey = QStringLiteral("version");
const QString entriesKey = QStringLiteral("entries");

constexpr int indexVersion = 1;
constexpr qint64 maximumIndexBytes = 16 * 1024 * 1024;
constexpr qsizetype entryIdLength = 32;

const QString notInTrashMessage = QStringLiteral("回收站中找不到这个项目。");
const QString trashUnavailableMessage = QStringLiteral("回收站不可用。");

bool isRealFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

// A path of plain names below the storage folder, outside the private folder.
bool isStoragePath(const QString &path)
{
    const QStringList components = path.split(u'/');
    const QString privateFolder = QFileInfo(StorageLayout::stateFolderPath(QString())).fileName();
    return components.first() != privateFolder &&
           std::all_of(components.cbegin(), components.cend(), FileNameRules::isSafeFileName);
}

} // namespace

QJsonObject PhoneTrashEntry::toJson() const
{
    QJsonObject object = encodeManaged<ManagedTrashEntry>(*this);
    object.insert(originalPathKey, originalPath);
    return object;
}

std::optional<PhoneTrashEntry> PhoneTrashEntry::fromJson(const QJsonObject &object)
{
    PhoneTrashEntry entry;
    try {
        static_cast<ManagedTrashEntry &>(entry) = decodeManaged<ManagedTrashEntry>(object);
    } catch (const ManagedDecodingError &) {
        return std::nullopt;
    }
    const QJsonValue originalPath = object.value(originalPathKey);
    if (!originalPath.isString() || (entry.size && *entry.size < 0)) {
        return std::nullopt;
    }
    entry.originalPath = originalPath.toString();
    if (!PhoneTrash::isEntryId(entry.id) || !isStoragePath(entry.originalPath) ||
        entry.originalName != entry.originalPath.section(u'/', -1)) {
        return std::nullopt;
    }
    return entry;
}

PhoneTrash::PhoneTrash(const QString &storageDirectory) : m_storageDirectory(storageDirectory) {}

bool PhoneTrash::isEntryId(const QString &id)
{
    return id.size() == entryIdLength && std::all_of(id.cbegin(), id.cend(), [](QChar character) {
               return (character >= u'0' && character <= u'9') || (character >= u'a' && character <= u'f');
           });
}

PhoneTrashEntry PhoneTrash::moveIn(const QString &relativePath)
{
    prepareFolders();
    const QString path = realStorage() + u'/' + relativePath;
    const QFileInfo info(path);
    if (!FileOperations::isTaken(path)) {
        throw FileActionError(QStringLiteral("找不到这个项目。"));
    }
    const QString parentPath = StorageRoot::parentPath(relativePath);
    const bool regularFile = info.isFile() && !info.isSymLink();
    const PhoneTrashEntry entry{
        {QUuid::createUuid().toString(QUuid::Id128), info.fileName(), StorageIds::idForRelativePath(parentPath),
         parentPath.isEmpty() ? StorageRoot::name : StorageRoot::name + u'/' + parentPath, StorageIds::rootId,
         info.isDir() && !info.isSymLink(), regularFile ? std::optional(info.size()) : std::nullopt,
         QDateTime::currentMSecsSinceEpoch()},
        relativePath};

    // The entry is written first: one whose item never arrives is forgotten by the next load, while an item
    // without entry could not be restored.
    QList<PhoneTrashEntry> remembered = load();
    remembered.append(entry);
    save(remembered);
    try {
        FileOperations::moveWithoutReplacing(path, itemsFolder() + u'/' + entry.id);
    } catch (const FileActionError &) {
        remembered.removeLast();
        try {
            save(remembered);
        } catch (const FileActionError &) {
        }
        throw;
    }
    return entry;
}

QList<PhoneTrashEntry> PhoneTrash::entries() const
{
    QList<PhoneTrashEntry> newestFirst = load();
    std::reverse(newestFirst.begin(), newestFirst.end());
    std::stable_sort(newestFirst.begin(), newestFirst.end(), [](const PhoneTrashEntry &a, const PhoneTrashEntry &b) {
        return a.deletedAtMillis > b.deletedAtMillis;
    });
    return newestFirst;
}

std::optional<PhoneTrashEntry> PhoneTrash::entry(const QString &id) const
{
    if (!isEntryId(id)) {
        return std::nullopt;
    }
    const QList<PhoneTrashEntry> remembered = load();
    const auto found = std::find_if(remembered.cbegin(), remembered.cend(),
                                    [&id](const PhoneTrashEntry &entry) { return entry.id == id; });
    return found == remembered.cend() ? std::nullopt : std::optional(*found);
}

void PhoneTrash::moveOut(const QString &id, const QString &path)
{
    QList<PhoneTrashEntry> remembered = isEntryId(id) ? load() : QList<PhoneTrashEntry>();
    const auto found = std::find_if(remembered.cbegin(), remembered.cend(),
                                    [&id](const PhoneTrashEntry &entry) { return entry.id == id; });
    if (found == remembered.cend()) {
        throw FileActionError(notInTrashMessage);
    }
    FileOperations::moveWithoutReplacing(itemsFolder() + u'/' + id, path);
    remembered.erase(found);
    try {
        save(remembered);
    } catch (const FileActionError &) {
        // The item is back in place; the next load forgets its entry, as it does every entry without item.
    }
}

PhoneTrashEmptied PhoneTrash::empty()
{
    prepareFolders();
    PhoneTrashEmptied emptied;
    bool removedAll = true;
    const QFileInfoList items =
        QDir(itemsFolder()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &item : items) {
        if (FileOperations::removeTree(item.filePath(), &emptied.reclaimedBytes)) {
            ++emptied.deletedCount;
        } else {
            removedAll = false;
        }
    }
    save(load());
    if (!removedAll) {
        throw FileActionError(QStringLiteral("回收站中有项目无法删除。"));
    }
    return emptied;
}

QString PhoneTrash::realStorage() const
{
    const QString path = QFileInfo(m_storageDirectory).canonicalFilePath();
    if (path.isEmpty()) {
        throw FileActionError(QStringLiteral("找不到存储文件夹。"));
    }
    return path;
}

QString PhoneTrash::trashFolder() const
{
    return StorageLayout::trashFolderPath(realStorage());
}

QString PhoneTrash::itemsFolder() const
{
    return trashFolder() + QStringLiteral("/items");
}

QString PhoneTrash::indexPath() const
{
    return StorageLayout::trashIndexPath(realStorage());
}

void PhoneTrash::prepareFolders() const
{
    for (const QString &folder : {StorageLayout::stateFolderPath(realStorage()), trashFolder(), itemsFolder()}) {
        const QFileInfo info(folder);
        if (info.isSymLink() || (info.exists() && !info.isDir())) {
            throw FileActionError(trashUnavailableMessage);
        }
        // Deleted items stay the owner's alone, as they were in the storage folder.
        if (!info.exists() && ::mkdir(QFile::encodeName(folder).constData(), 0700) != 0) {
            throw FileActionError(trashUnavailableMessage);
        }
    }
}

QList<PhoneTrashEntry> PhoneTrash::load() const
{
    const QString items = itemsFolder();
    const QFileInfo index(indexPath());
    if (!isRealFolder(StorageLayout::stateFolderPath(realStorage())) || !isRealFolder(trashFolder()) ||
        !isRealFolder(items) || index.isSymLink() || !index.isFile() || index.size() > maximumIndexBytes) {
        return {};
    }
    QFile file(index.filePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QJsonArray stored =
        QJsonDocument::fromJson(file.read(maximumIndexBytes)).object().value(entriesKey).toArray();

    QList<PhoneTrashEntry> remembered;
    QSet<QString> ids;
    for (const QJsonValue &value : stored) {
        const std::optional<PhoneTrashEntry> entry = PhoneTrashEntry::fromJson(value.toObject());
        if (entry && !ids.contains(entry->id) && FileOperations::isTaken(items + u'/' + entry->id)) {
            ids.insert(entry->id);
            remembered.append(*entry);
        }
    }
    return remembered;
}

void PhoneTrash::save(const QList<PhoneTrashEntry> &entries) const
{
    prepareFolders();
    QJsonArray stored;
    for (const PhoneTrashEntry &entry : entries) {
        stored.append(entry.toJson());
    }
    // QSaveFile writes through a symbolic link to its target; the index is only ever a file of ours.
    const QString path = indexPath();
    if (QFileInfo(path).isSymLink()) {
        ::unlink(QFile::encodeName(path).constData());
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw FileActionError(trashUnavailableMessage);
    }
    if (!commitWholeFile(file, QJsonDocument(QJsonObject{{versionKey, indexVersion}, {entriesKey, stored}}).toJson(),
                         nullptr)) {
        throw FileActionError(trashUnavailableMessage);
    }
}

#include "FileActions.h"

#include "FileActionError.h"
#include "FileActionsPrivate.h"
#include "FileOperations.h"
#include "StorageRoot.h"

using namespace fileActionsPrivate;

QJsonObject FileActions::listTrash(const QJsonObject &payload) const
{
    const QString query = ActionPayload::optionalText(payload, queryKey);
    const auto listEntries = [this, &query] {
        QList<PhoneTrashEntry> entries = m_trash.entries();
        if (!query.isEmpty()) {
            entries.removeIf([&query](const PhoneTrashEntry &entry) {
                return !entry.originalName.contains(query, Qt::CaseInsensitive);
            });
        }
        return entries;
    };
    // The computer gets each entry without its original path, which stays on the phone.
    const auto page = m_trashListings.page(payload, {query}, listEntries,
                                           [](const PhoneTrashEntry &entry) { return ManagedTrashEntry(entry); });
    return encodeManaged(ManagedTrashPage{answerVersion, page.items, page.nextPageToken});
}

QJsonObject FileActions::restore(const QJsonObject &payload)
{
    const std::optional<PhoneTrashEntry> entry =
        m_trash.entry(ActionPayload::text(payload, idKey, ActionPayload::maximumIdLength));
    const ConflictPolicy policy = conflictPolicy(payload);
    if (!entry) {
        throw FileActionError(QStringLiteral("回收站中找不到这个项目。"));
    }

    // The original folder is made again where it is missing, but never through a link or in place of a file.
    const QString folderPath = StorageRoot::parentPath(entry->originalPath);
    QString path = realStorage();
    for (const QString &component : folderPath.split(u'/', Qt::SkipEmptyParts)) {
        path += u'/' + component;
        const QFileInfo info(path);
        if (info.isSymLink() || (info.exists() && !info.isDir())) {
            throw FileActionError(QStringLiteral("原位置已不在存储中，无法恢复。"));
        }
        if (!info.exists()) {
            FileOperations::makeFolder(path);
        }
    }
    putInPlace(folderPath, entry->originalName, policy, std::nullopt,
               [this, &entry](const QString &target) { m_trash.moveOut(entry->id, target); });
    return {};
}

QJsonObject FileActions::emptyTrash()
{
    const PhoneTrashEmptied emptied = m_trash.empty();
    return encodeManaged(ManagedTrashEmptyResult{answerVersion, emptied.deletedCount, emptied.reclaimedBytes});
}

#include "FileActions.h"

#include "FileActionError.h"
#include "FileActionsPrivate.h"
#include "FileNameRules.h"
#include "FileOperations.h"
#include "StorageLayout.h"
#include "StorageRoot.h"

#include <QDir>

using namespace fileActionsPrivate;

namespace {

FileActionError storageFolderRefused()
{
    return FileActionError(QStringLiteral("不能对存储根目录执行这个操作。"));
}

} // namespace

QJsonObject FileActions::makeFolder(const QJsonObject &payload)
{
    const Item parent = folder(payload, QStringLiteral("parentId"));
    const QString name = safeName(payload, nameKey);
    const QString relativePath =
        putInPlace(parent.relativePath, name, conflictPolicy(payload), std::nullopt, FileOperations::makeFolder);
    return encodeManaged(fileEntry(relativePath, QFileInfo(realStorage() + u'/' + relativePath)));
}

QJsonObject FileActions::rename(const QJsonObject &payload)
{
    const Item source = item(payload, idKey);
    const QString name = safeName(payload, nameKey);
    const ConflictPolicy policy = conflictPolicy(payload);
    if (source.relativePath.isEmpty()) {
        throw storageFolderRefused();
    }
    putInPlace(StorageRoot::parentPath(source.relativePath), name, policy, source.relativePath,
               [&source](const QString &target) { FileOperations::moveWithoutReplacing(source.path, target); });
    return {};
}

QJsonObject FileActions::copyOrMove(const QJsonObject &payload, bool move)
{
    const Item source = item(payload, QStringLiteral("sourceId"));
    const Item destination = folder(payload, QStringLiteral("destinationParentId"));
    const ConflictPolicy policy = conflictPolicy(payload);
    if (source.relativePath.isEmpty()) {
        throw storageFolderRefused();
    }
    if (source.info.isDir() && StorageRoot::isWithin(destination.relativePath, source.relativePath)) {
        throw FileActionError(QStringLiteral("不能把文件夹放进它自己或它的子文件夹。"));
    }
    putInPlace(destination.relativePath, source.info.fileName(), policy, source.relativePath,
               [&source, move](const QString &target) {
                   if (move) {
                       FileOperations::moveWithoutReplacing(source.path, target);
                   } else {
                       FileOperations::copyItem(source.path, target);
                   }
               });
    return {};
}

QJsonObject FileActions::moveToTrash(const QJsonObject &payload)
{
    const Item target = item(payload, idKey);
    if (target.relativePath.isEmpty()) {
        throw storageFolderRefused();
    }
    m_trash.moveIn(target.relativePath);
    return {};
}

QString FileActions::putInPlace(const QString &folderPath, const QString &name, ConflictPolicy policy,
                                const std::optional<QString> &sourcePath,
                                const std::function<void(const QString &target)> &operation)
{
    const QString storage = realStorage();
    const auto absolute = [&storage](const QString &relativePath) {
        return relativePath.isEmpty() ? storage : storage + u'/' + relativePath;
    };
    // Not even a replacing action may take the name of the phone's private folder.
    if (folderPath.isEmpty() && name == QFileInfo(StorageLayout::stateFolderPath(storage)).fileName()) {
        throw FileActionError(QStringLiteral("这个名称由 Tavrine 保留：%1").arg(name));
    }
    QString target = StorageRoot::childPath(folderPath, name);
    std::optional<PhoneTrashEntry> replaced;
    if (FileOperations::isTaken(absolute(target))) {
        switch (policy) {
        case ConflictPolicy::error:
            throw FileActionError(QStringLiteral("同名项目已存在：%1").arg(name));
        case ConflictPolicy::keepBoth:
            target = StorageRoot::childPath(folderPath, FileNameRules::freeFileName(QDir(absolute(folderPath)), name));
            break;
        case ConflictPolicy::replace:
            if (sourcePath && *sourcePath == target) {
                throw FileActionError(QStringLiteral("不能用项目替换它自己。"));
            }
            if (sourcePath && StorageRoot::isWithin(*sourcePath, target)) {
                throw FileActionError(QStringLiteral("不能替换包含这个项目的文件夹。"));
            }
            replaced = m_trash.moveIn(target);
            break;
        }
    }
    try {
        operation(absolute(target));
    } catch (const FileActionError &) {
        if (replaced) {
            try {
                m_trash.moveOut(replaced->id, absolute(target));
            } catch (const FileActionError &) {
                // It stays in the trash, from where the user can restore it.
            }
        }
        throw;
    }
    return target;
}

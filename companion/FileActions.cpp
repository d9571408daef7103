#include "FileActions.h"

#include "FileActionError.h"
#include "FileActionsPrivate.h"
#include "FileNameRules.h"
#include "FileOperations.h"
#include "StorageRoot.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/statvfs.h>

using namespace fileActionsPrivate;

namespace {

// The computer refuses a folder download of more than 10000 items or 64 levels. A walk stops just beyond the items,
// so that the computer sees more than it takes and says so; a folder deeper than that is refused.
constexpr FileOperations::WalkLimits treeLimits{10001, 64, true};

const QString folderNotFoundMessage = QStringLiteral("找不到目标文件夹。");

QString displayName(const QString &relativePath)
{
    return relativePath.isEmpty() ? StorageRoot::name : relativePath.section(u'/', -1);
}

} // namespace

FileActions::FileActions(const QString &storageDirectory)
    : m_storageDirectory(storageDirectory), m_ids(storageDirectory), m_trash(storageDirectory)
{}

void FileActions::addTo(ManagementHandlers &handlers)
{
    const auto add = [&handlers](const QString &action, std::function<QJsonObject(const QJsonObject &)> run) {
        handlers.add(action, [run = std::move(run)](const QJsonObject &payload) {
            try {
                return ManagementAnswer::succeeded(run(payload));
            } catch (const FileActionError &error) {
                return ManagementAnswer::failed(error.message());
            }
        });
    };
    add(QStringLiteral("files.roots"), [this](const QJsonObject &) { return roots(); });
    add(QStringLiteral("files.list"), [this](const QJsonObject &payload) { return list(payload); });
    add(QStringLiteral("files.tree"), [this](const QJsonObject &payload) { return tree(payload); });
    add(QStringLiteral("files.mkdir"), [this](const QJsonObject &payload) { return makeFolder(payload); });
    add(QStringLiteral("files.rename"), [this](const QJsonObject &payload) { return rename(payload); });
    add(QStringLiteral("files.copy"), [this](const QJsonObject &payload) { return copyOrMove(payload, false); });
    add(QStringLiteral("files.move"), [this](const QJsonObject &payload) { return copyOrMove(payload, true); });
    add(QStringLiteral("files.delete"), [this](const QJsonObject &payload) { return moveToTrash(payload); });
    add(QStringLiteral("files.trash.list"), [this](const QJsonObject &payload) { return listTrash(payload); });
    add(QStringLiteral("files.trash.restore"), [this](const QJsonObject &payload) { return restore(payload); });
    add(QStringLiteral("files.trash.empty"), [this](const QJsonObject &) { return emptyTrash(); });
}

QJsonObject FileActions::roots() const
{
    struct statvfs status = {};
    if (::statvfs(QFile::encodeName(realStorage()).constData(), &status) != 0) {
        throw FileActionError(QStringLiteral("无法读取存储空间：%1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    const qint64 blockBytes = static_cast<qint64>(status.f_frsize != 0 ? status.f_frsize : status.f_bsize);
    const auto bytes = [blockBytes](fsblkcnt_t blocks) {
        return static_cast<qint64>(blocks) * blockBytes;
    };
    const ManagedStorageRoots::Root root{StorageIds::rootId, StorageRoot::name, false, bytes(status.f_bavail),
                                         bytes(status.f_blocks)};
    return encodeManaged(ManagedStorageRoots{answerVersion, {root}});
}

QJsonObject FileActions::list(const QJsonObject &payload) const
{
    const Item parent = folder(payload, QStringLiteral("parentId"));
    const QString query = ActionPayload::optionalText(payload, queryKey);
    const auto listChildren = [&parent, &query] {
        QFileInfoList children = FileOperations::children(parent.path, parent.relativePath.isEmpty());
        if (!query.isEmpty()) {
            children.removeIf(
                [&query](const QFileInfo &child) { return !child.fileName().contains(query, Qt::CaseInsensitive); });
        }
        return children;
    };
    const auto page =
        m_folderListings.page(payload, {parent.path, query}, listChildren, [&parent](const QFileInfo &child) {
            return fileEntry(StorageRoot::childPath(parent.relativePath, child.fileName()), child);
        });
    const std::optional<QString> parentParentId =
        parent.relativePath.isEmpty()
            ? std::nullopt
            : std::optional(StorageIds::idForRelativePath(StorageRoot::parentPath(parent.relativePath)));
    return encodeManaged(ManagedFilePage{answerVersion, StorageIds::idForRelativePath(parent.relativePath),
                                         displayName(parent.relativePath), parentParentId, page.items,
                                         page.nextPageToken});
}

QJsonObject FileActions::tree(const QJsonObject &payload) const
{
    const Item root = folder(payload, idKey);
    const auto walk = [&root] {
        return FileOperations::walk(root.path, root.relativePath.isEmpty(), treeLimits);
    };
    const auto page = m_treeListings.page(payload, {root.path}, walk, [&root](const FileOperations::WalkedItem &item) {
        return ManagedFileTreeEntry{
            StorageIds::idForRelativePath(StorageRoot::childPath(root.relativePath, item.relativePath)),
            item.relativePath, item.info.isDir(), item.info.isDir() ? std::nullopt : std::optional(item.info.size()),
            item.info.lastModified().toMSecsSinceEpoch()};
    });
    return encodeManaged(ManagedFileTreePage{answerVersion, StorageIds::idForRelativePath(root.relativePath),
                                             displayName(root.relativePath), page.items, page.nextPageToken});
}

QString FileActions::realStorage() const
{
    const QString path = QFileInfo(m_storageDirectory).canonicalFilePath();
    if (path.isEmpty()) {
        throw FileActionError(QStringLiteral("找不到存储文件夹。"));
    }
    return path;
}

FileActions::Item FileActions::item(const QJsonObject &payload, const QString &key) const
{
    const StorageIdResult resolved = m_ids.resolve(ActionPayload::text(payload, key, ActionPayload::maximumIdLength));
    const StorageItem *found = std::get_if<StorageItem>(&resolved);
    if (!found) {
        throw FileActionError(notFoundMessage);
    }
    const QString storage = realStorage();
    const QString path = found->relativePath.isEmpty() ? storage : storage + u'/' + found->relativePath;
    const QFileInfo info(path);
    // With no link on the way, the real path is the storage folder's real path and the relative path.
    if (found->realPath != path || info.isSymLink() || !(info.isDir() || info.isFile())) {
        throw FileActionError(notFoundMessage);
    }
    return {found->relativePath, path, info};
}

FileActions::Item FileActions::folder(const QJsonObject &payload, const QString &key) const
{
    try {
        Item found = item(payload, key);
        if (found.info.isDir()) {
            return found;
        }
    } catch (const FileActionError &error) {
        if (error.message() != notFoundMessage) {
            throw;
        }
    }
    throw FileActionError(folderNotFoundMessage);
}

FileActions::ConflictPolicy FileActions::conflictPolicy(const QJsonObject &payload)
{
    const QString policy = ActionPayload::text(payload, QStringLiteral("conflictPolicy"));
    if (policy == u"error") {
        return ConflictPolicy::error;
    }
    if (policy == u"keep_both") {
        return ConflictPolicy::keepBoth;
    }
    if (policy == u"replace") {
        return ConflictPolicy::replace;
    }
    throw ActionPayload::refusal(QStringLiteral("conflictPolicy"), QStringLiteral("error, keep_both or replace"));
}

QString FileActions::safeName(const QJsonObject &payload, const QString &key)
{
    // The computer sends names as the user typed them: an empty one is the user's slip, told like any bad name.
    const QString name = ActionPayload::optionalText(payload, key);
    if (!FileNameRules::isSafeFileName(name) || isBlankName(name)) {
        throw FileActionError(invalidNameMessage);
    }
    return name;
}

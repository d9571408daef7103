#include "DeviceManagementStore.h"

#include "BackgroundTask.h"
#include "DeviceManagementRequestError.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QUuid>

namespace {

const QString mkdirAction = QStringLiteral("files.mkdir");
const QString preparingUploadMessage = QStringLiteral("正在整理要发送的内容…");
const QString foldersCreatedMessage = QStringLiteral("文件夹已创建");
const QString invalidFolderStructureMessage = QStringLiteral("文件夹结构无效");

constexpr qint64 maximumUploadItemCount = 10000;
constexpr int maximumUploadDepth = 64;
constexpr qint64 maximumUploadBytes = 1'099'511'627'776; // 2^40

QString newBatchID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

// The relative path of the folder holding `relativePath`; empty for an item directly below the root.
QString parentKey(const QString &relativePath)
{
    QStringList components = relativePath.split(u'/', Qt::SkipEmptyParts);
    if (!components.isEmpty()) {
        components.removeLast();
    }
    return components.join(u'/');
}

QString folderID(const QHash<QString, QString> &folderIDs, const QString &relativePath)
{
    const auto found = folderIDs.constFind(parentKey(relativePath));
    if (found == folderIDs.constEnd()) {
        throw DeviceManagementRequestError::rejected(invalidFolderStructureMessage);
    }
    return *found;
}

QJsonObject mkdirPayload(const QString &parentID, const QString &name, ManagedConflictPolicy policy)
{
    return {{QStringLiteral("parentId"), parentID},
            {QStringLiteral("name"), name},
            {QStringLiteral("conflictPolicy"), rawValue(policy)}};
}

} // namespace

LocalManagedUploadPlan DeviceManagementStore::makeUploadPlan(const QStringList &paths)
{
    return LocalManagedUploadPlan::build(paths, maximumUploadItemCount, maximumUploadDepth, maximumUploadBytes);
}

QCoro::Task<void> DeviceManagementStore::upload(QStringList paths)
{
    if (!m_currentPage || paths.isEmpty() || m_isPerformingFileOperation) {
        co_return;
    }
    const quint64 generation = m_sessionGeneration;
    // Everything lands in the folder open now, even when the user opens another one meanwhile.
    const QString destination = m_currentPage->parentId;
    setIsPerformingFileOperation(true);
    setMessage(preparingUploadMessage);
    setErrorMessage(std::nullopt);

    LocalManagedUploadPlan plan;
    try {
        // The walk reads the disk, so it runs off the GUI thread.
        plan = co_await runInBackground([paths] { return makeUploadPlan(paths); });
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
            setIsPerformingFileOperation(false);
        }
        co_return;
    }
    if (!isCurrent(generation)) {
        co_return;
    }

    // Every folder exists on the phone before any file is handed over; a failure hands over nothing.
    QList<PreparedManagedUploadFile> prepared;
    try {
        for (const LocalManagedUploadPlan::Root &root : plan.roots) {
            const QString batchID = newBatchID();
            if (!root.directory) {
                if (!root.files.isEmpty()) {
                    prepared.append({root.files.first().sourcePath, destination, root.files.first().relativePath,
                                     batchID, root.name});
                }
                continue;
            }
            const ManagedFileEntry created = co_await request<ManagedFileEntry>(
                mkdirAction, mkdirPayload(destination, root.name, ManagedConflictPolicy::keepBoth));
            if (!isCurrent(generation)) {
                co_return;
            }
            QHash<QString, QString> folderIDs{{QString(), created.id}};
            for (const LocalManagedUploadPlan::Directory &directory : root.directories) {
                const QString parentID = folderID(folderIDs, directory.relativePath);
                const ManagedFileEntry folder = co_await request<ManagedFileEntry>(
                    mkdirAction,
                    mkdirPayload(parentID, lastPathComponent(directory.relativePath), ManagedConflictPolicy::error));
                if (!isCurrent(generation)) {
                    co_return;
                }
                folderIDs.insert(directory.relativePath, folder.id);
            }
            for (const LocalManagedUploadPlan::File &file : root.files) {
                prepared.append(
                    {file.sourcePath, folderID(folderIDs, file.relativePath), file.relativePath, batchID, root.name});
            }
        }
        m_channel->enqueueManagedUploads(prepared);
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
            setIsPerformingFileOperation(false);
        }
        co_return;
    }

    co_await reloadCurrentFolder();
    if (!isCurrent(generation)) {
        co_return;
    }
    setMessage(prepared.isEmpty() ? foldersCreatedMessage
                                  : QStringLiteral("已加入 %1 个发送任务").arg(prepared.size()));
    setErrorMessage(std::nullopt);
    setIsPerformingFileOperation(false);
}

// Files sent to the phone that land in the folder on screen.

void DeviceManagementStore::followSentFiles(const QList<TransferTaskRecord> &tasks)
{
    // Only a completion seen happening counts: tasks that were already complete when first seen (restored from
    // the task file) changed nothing that is on screen now. A managed upload names its folder; a file sent
    // without one (quick send) lands where the phone puts received files, which may be the folder on screen.
    // Called on every change of the tasks, while many files go out one after another, each changing the list once
    // or twice: the set is brought up to date in place rather than made anew each time, and a task that keeps its
    // place, its id and its state since the last call is passed over, its part of the set being as it was.
    bool landedOnScreen = false;
    qsizetype pendingCount = 0;
    if (m_followedTasks.size() > tasks.size()) {
        m_followedTasks.resize(tasks.size());
    }
    for (qsizetype index = 0; index < tasks.size(); ++index) {
        const TransferTaskRecord &task = tasks[index];
        const bool sending = task.direction == TransferTaskRecord::Direction::sending;
        const bool pending = sending && task.status != TransferTaskRecord::Status::completed;
        pendingCount += pending ? 1 : 0;
        if (index < m_followedTasks.size()) {
            FollowedTask &seen = m_followedTasks[index];
            if (!task.id.isEmpty() && seen.id == task.id && seen.direction == task.direction &&
                seen.status == task.status) {
                continue;
            }
            seen = {task.id, task.direction, task.status};
        } else {
            m_followedTasks.append({task.id, task.direction, task.status});
        }
        if (!sending) {
            continue;
        }
        if (pending) {
            m_pendingUploadIDs.insert(task.id);
        } else if (m_pendingUploadIDs.remove(task.id) && m_currentPage && task.trustedDeviceID == m_activePeerID &&
                   (!task.remoteDirectoryID || *task.remoteDirectoryID == m_currentPage->parentId)) {
            landedOnScreen = true;
        }
    }
    if (m_pendingUploadIDs.size() > pendingCount) {
        // Tasks that left the list leave the set too.
        QSet<QString> pending;
        for (const TransferTaskRecord &task : tasks) {
            if (task.direction == TransferTaskRecord::Direction::sending &&
                task.status != TransferTaskRecord::Status::completed) {
                pending.insert(task.id);
            }
        }
        m_pendingUploadIDs = std::move(pending);
    }
    if (landedOnScreen) {
        reloadForSentFiles();
    }
}

void DeviceManagementStore::reloadForSentFiles()
{
    // Completions of one turn of the event loop, or of the time a reload takes, make one more reload together.
    const bool idle = !m_uploadReloadDue && !m_isReloadingForUploads;
    m_uploadReloadDue = true;
    if (idle) {
        QTimer::singleShot(0, this, [this] { reloadWhileUploadsLand(); });
    }
}

QCoro::Task<void> DeviceManagementStore::reloadWhileUploadsLand()
{
    const QPointer<DeviceManagementStore> self(this);
    m_isReloadingForUploads = true;
    while (m_uploadReloadDue) {
        m_uploadReloadDue = false;
        // A switch of phone meanwhile closed the folder: there is nothing of these uploads to show.
        if (!m_currentPage) {
            break;
        }
        co_await reloadCurrentFolder();
        if (!self) {
            co_return;
        }
    }
    m_isReloadingForUploads = false;
}

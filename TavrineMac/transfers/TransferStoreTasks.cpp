#include "TransferStore.h"
#include "TransferStorePrivate.h"

#include "SystemErrorText.h"
#include "TransferTaskError.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

using transferStorePrivate::bookmarkFor;
using transferStorePrivate::defaultPhoneName;
using transferStorePrivate::describe;
using transferStorePrivate::newLowerCaseUuid;
using transferStorePrivate::noSuchFileDescription;

namespace {

QString resolvedBookmark(const QByteArray &bookmark)
{
    const QString path = QString::fromUtf8(bookmark);
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        throw FileOperationError(QStringLiteral("无法解析文件位置。"));
    }
    return path;
}

} // namespace

// MARK: - Tasks and their file

void TransferStore::persistTasks(bool immediately)
{
    if (!immediately) {
        // Progress comes every 100 ms while a file moves: re-armed by each, the save would wait for the end of the
        // transfer, and a crash would lose what the file never showed.
        if (!m_persistenceTimer.isActive()) {
            m_persistenceDeadline = QDeadlineTimer(longestPersistenceDelay, Qt::PreciseTimer);
        }
        const auto untilDeadline =
            std::chrono::ceil<std::chrono::milliseconds>(m_persistenceDeadline.remainingTimeAsDuration());
        m_persistenceTimer.start(std::min<std::chrono::milliseconds>(persistenceDelay, untilDeadline));
    } else if (m_deferTaskSignals > 0) {
        m_immediateSaveDue = true;
    } else {
        saveTasks();
    }
}

void TransferStore::saveTasks()
{
    m_persistenceTimer.stop();
    m_immediateSaveDue = false;
    m_lastTaskWriteRequest = m_taskWriter->write(m_tasks);
}

void TransferStore::taskFileSaveFailed(const QString &description)
{
    // The link goes on: the phone stays connected and its files still arrive, so the failure shows beside it.
    const QString problem = QStringLiteral("无法保存传输任务：") + SystemErrorText::describe(description);
    if (m_taskFileProblem != problem) {
        m_taskFileProblem = problem;
        emit taskFileProblemChanged();
    }
    if (!m_taskFileRetryTimer.isActive()) {
        m_taskFileRetryTimer.start(m_environment.taskFileRetryInterval);
    }
}

void TransferStore::taskFileWritten(quint64 writeRequest)
{
    m_taskFileRetryTimer.stop();
    if (m_taskFileProblem) {
        m_taskFileProblem.reset();
        emit taskFileProblemChanged();
    }
    acknowledgeWrittenDeliveries(writeRequest);
}

void TransferStore::acknowledgeDelivery(const QString &transferID)
{
    if (!m_host) {
        return;
    }
    try {
        m_host->acknowledgeReceivedTransfer(transferID);
    } catch (const std::exception &) {
        // The inbox copy stays; it is acknowledged again after the next start.
    }
}

void TransferStore::acknowledgeOnceWritten(const QString &transferID)
{
    m_deliveriesToAcknowledge.insert(transferID, m_lastTaskWriteRequest + 1);
}

void TransferStore::acknowledgeWrittenDeliveries(quint64 writeRequest)
{
    for (auto delivery = m_deliveriesToAcknowledge.begin(); delivery != m_deliveriesToAcknowledge.end();) {
        if (delivery.value() > writeRequest) {
            ++delivery;
            continue;
        }
        const QString transferID = delivery.key();
        delivery = m_deliveriesToAcknowledge.erase(delivery);
        acknowledgeDelivery(transferID);
    }
}

void TransferStore::waitForTaskFile()
{
    m_taskWriter->waitUntilWritten();
}

void TransferStore::pruneFinishedTasks()
{
    // Nothing is copied unless a task goes: a flood of new tasks must not copy the whole list for each.
    int finished = 0;
    m_tasks.removeIf([&finished](const TransferTaskRecord &task) {
        return TransferTaskRecord::isFinished(task.status) && ++finished > maximumFinishedTasks;
    });
    tasksDidChange();
}

void TransferStore::restoreTaskAfterRelaunch(TransferTaskRecord &task)
{
    if (task.status == TransferTaskRecord::Status::sending) {
        task.status = TransferTaskRecord::Status::waitingForConnection;
        task.message = QStringLiteral("等待设备重新连接后继续");
        task.updatedAt = QDateTime::currentDateTimeUtc();
    } else if (task.status == TransferTaskRecord::Status::receiving) {
        task.status = TransferTaskRecord::Status::waitingForConnection;
        task.message = QStringLiteral("等待发送设备继续");
        task.updatedAt = QDateTime::currentDateTimeUtc();
    }
}

QList<TransferTaskRecord> TransferStore::activeTasks() const
{
    QList<TransferTaskRecord> active;
    for (const TransferTaskRecord &task : m_tasks) {
        if (!TransferTaskRecord::isFinished(task.status)) {
            active.append(task);
        }
    }
    return active;
}

double TransferStore::overallProgress() const
{
    double total = 0;
    double done = 0;
    for (const TransferTaskRecord &task : activeTasks()) {
        if (task.totalBytes >= 1) {
            total += double(task.totalBytes);
            done += double(std::min(task.transferredBytes, task.totalBytes));
        }
    }
    return total <= 0 ? 0 : done / total;
}

void TransferStore::updateTaskStatus(qsizetype index, TransferTaskRecord::Status status, const QString &message)
{
    TransferTaskRecord &task = m_tasks[index];
    task.status = status;
    task.message = message;
    task.updatedAt = QDateTime::currentDateTimeUtc();
    tasksDidChange();
}

// MARK: - Sends and task controls

qsizetype TransferStore::sendFiles(const QStringList &filePaths)
{
    if (filePaths.isEmpty()) {
        return 0;
    }
    m_notifications->requestAuthorizationIfNeeded();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // Why a path cannot be sent; nothing when it can.
    const auto refusal = [](const QString &path) -> std::optional<QString> {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            return noSuchFileDescription(path);
        }
        // A link is not sent through: only a regular file of its own counts.
        if (info.isSymLink() || !info.isFile()) {
            return TransferTaskError(TransferTaskError::Case::notAFile).errorDescription();
        }
        return std::nullopt;
    };
    // A refused path is said apart from the link: the phone stays connected and the other files go.
    QStringList refusals;
    qsizetype taken = 0;
    // Two hundred files handed over at once are one change of the list, published and written once.
    ++m_deferTaskSignals;
    for (const QString &path : filePaths) {
        if (const std::optional<QString> reason = refusal(path)) {
            if (!refusals.contains(*reason)) {
                refusals.append(*reason);
            }
            continue;
        }
        const QFileInfo info(path);
        const bool connected = m_phase.kind == Phase::Kind::connected;
        TransferTaskRecord task;
        task.id = newLowerCaseUuid();
        task.direction = TransferTaskRecord::Direction::sending;
        task.peerName = currentPeerDisplayName().value_or(defaultPhoneName);
        task.trustedDeviceID = m_selectedTrustedDeviceID;
        task.fileName = info.fileName();
        task.sourceBookmark = bookmarkFor(path);
        task.transferredBytes = 0;
        task.totalBytes = info.size();
        task.status = connected ? TransferTaskRecord::Status::queued : TransferTaskRecord::Status::waitingForConnection;
        task.message = connected ? QStringLiteral("等待发送") : QStringLiteral("连接后将自动发送");
        task.createdAt = now;
        task.updatedAt = now;
        m_tasks.prepend(task);
        ++taken;
        tasksDidChange();
        // The first file goes on its way at once, while the rest are queued behind it (the list is published
        // once, at the end, all the same).
        if (!m_activeOutgoingTaskID) {
            startNextOutgoing();
        }
    }
    setSendRefusal(refusals.isEmpty() ? std::nullopt : std::optional(refusals.join(u'\n')));
    pruneFinishedTasks();
    persistTasks(true);
    startNextOutgoing();
    endDeferringTaskSignals();
    return taken;
}

void TransferStore::dismissSendRefusal()
{
    setSendRefusal(std::nullopt);
}

void TransferStore::setSendRefusal(const std::optional<QString> &refusal)
{
    if (m_sendRefusal != refusal) {
        m_sendRefusal = refusal;
        emit sendRefusalChanged();
    }
}

bool TransferStore::isEligibleForOutgoing(const TransferTaskRecord &task) const
{
    if (task.direction != TransferTaskRecord::Direction::sending ||
        (task.status != TransferTaskRecord::Status::queued &&
         task.status != TransferTaskRecord::Status::waitingForConnection)) {
        return false;
    }
    if (task.trustedDeviceID) {
        return m_selectedTrustedDeviceID && *task.trustedDeviceID == *m_selectedTrustedDeviceID;
    }
    return !m_selectedTrustedDeviceID || m_trustedRegistry.devices.size() < 2;
}

void TransferStore::startNextOutgoing()
{
    if (m_activeOutgoingTaskID || m_preparingManagedUploadID || !m_host || m_phase.kind != Phase::Kind::connected) {
        return;
    }
    qsizetype index = -1;
    for (qsizetype candidate = m_tasks.size() - 1; candidate >= 0; --candidate) {
        if (isEligibleForOutgoing(m_tasks[candidate])) {
            index = candidate;
            break;
        }
    }
    if (index < 0) {
        return;
    }
    const TransferTaskRecord task = m_tasks[index];
    if (task.remoteDirectoryID && !m_preparedManagedUploadIDs.contains(task.id)) {
        m_preparingManagedUploadID = task.id;
        prepareManagedUpload(task, *task.remoteDirectoryID);
        return;
    }
    if (!task.sourceBookmark) {
        updateTaskStatus(index, TransferTaskRecord::Status::needsAttention, QStringLiteral("请重新选择原文件"));
        persistTasks(true);
        startNextOutgoing();
        return;
    }
    const auto fail = [&](const QString &description) {
        m_scopedURLs.remove(task.id);
        const qsizetype current = taskIndex(task.id);
        if (current >= 0) {
            updateTaskStatus(current, TransferTaskRecord::Status::needsAttention, description);
        }
        persistTasks(true);
        startNextOutgoing();
    };
    QString path;
    try {
        path = resolvedBookmark(*task.sourceBookmark);
    } catch (const std::exception &error) {
        fail(describe(error));
        return;
    }
    const QFileInfo source(path);
    // A source that is gone, or that has become a link, is not sent.
    if (source.isSymLink() || !source.isFile()) {
        fail(TransferTaskError(TransferTaskError::Case::sourceMissing).errorDescription());
        return;
    }
    m_scopedURLs.insert(task.id, path);
    updateTaskStatus(index, TransferTaskRecord::Status::sending,
                     task.transferredBytes > 0 ? QStringLiteral("正在继续发送") : QStringLiteral("正在发送"));
    m_activeOutgoingTaskID = task.id;
    try {
        m_host->sendFileWithId(path, task.fileName, task.id);
    } catch (const std::exception &error) {
        m_activeOutgoingTaskID.reset();
        fail(describe(error));
        return;
    }
    persistTasks(false);
    beginEagerPolling();
}

void TransferStore::pauseTask(const QString &id)
{
    const qsizetype index = taskIndex(id);
    if (index < 0 || !m_tasks[index].canPause()) {
        return;
    }
    if (m_host && (m_activeOutgoingTaskID == id || m_activeManagedDownloadID == id)) {
        m_host->pauseTransfer(id);
    }
    updateTaskStatus(index, TransferTaskRecord::Status::paused, QStringLiteral("已暂停"));
    releaseTaskSlot(id);
}

void TransferStore::cancelTask(const QString &id)
{
    const qsizetype index = taskIndex(id);
    if (index < 0 || !m_tasks[index].canCancel()) {
        return;
    }
    if (m_host) {
        m_host->cancelTransfer(id);
    }
    updateTaskStatus(index, TransferTaskRecord::Status::cancelled, QStringLiteral("已取消"));
    releaseTaskSlot(id);
}

void TransferStore::releaseTaskSlot(const QString &id)
{
    if (m_activeOutgoingTaskID == id) {
        m_activeOutgoingTaskID.reset();
        m_scopedURLs.remove(id);
    } else if (m_activeManagedDownloadID == id) {
        m_activeManagedDownloadID.reset();
    }
    persistTasks(true);
    startNextOutgoing();
    startNextManagedDownload();
}

void TransferStore::resumeTask(const QString &id)
{
    requeueTask(id, &TransferTaskRecord::canResume, QStringLiteral("等待继续"), QStringLiteral("连接后将自动继续"));
}

void TransferStore::retryTask(const QString &id)
{
    requeueTask(id, &TransferTaskRecord::canRetry, QStringLiteral("等待重试"), QStringLiteral("连接后将自动重试"));
}

void TransferStore::requeueTask(const QString &id, bool (TransferTaskRecord::*allowed)() const,
                                const QString &queuedMessage, const QString &waitingMessage)
{
    const qsizetype index = taskIndex(id);
    if (index < 0 || !(m_tasks[index].*allowed)()) {
        return;
    }
    if (m_tasks[index].destinationBookmark) {
        retryManagedDownload(m_tasks[index]);
        return;
    }
    const bool connected = m_phase.kind == Phase::Kind::connected;
    updateTaskStatus(index,
                     connected ? TransferTaskRecord::Status::queued : TransferTaskRecord::Status::waitingForConnection,
                     connected ? queuedMessage : waitingMessage);
    persistTasks(true);
    startNextOutgoing();
}

void TransferStore::clearFinishedTasks()
{
    m_tasks.removeIf([](const TransferTaskRecord &task) { return TransferTaskRecord::isFinished(task.status); });
    tasksDidChange();
    persistTasks(true);
}

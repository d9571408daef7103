#include "BackgroundTask.h"
#include "TransferStore.h"
#include "TransferStorePrivate.h"

#include "TransferTaskError.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <qcorotimer.h>

#include <algorithm>
#include <variant>

using transferStorePrivate::bookmarkFor;
using transferStorePrivate::clampedByteCount;
using transferStorePrivate::defaultPhoneName;
using transferStorePrivate::describe;
using transferStorePrivate::newLowerCaseUuid;
using transferStorePrivate::noSuchFileDescription;

namespace {

const QString managedDownloadNotStartedMessage = QStringLiteral("手机同意了下载，但没有开始发送文件，请重试");

// A download never replaces a file: where its name was taken, the user learns the name it was saved under.
QString exportedMessage(const TransferTaskRecord &task, const QString &deliveredPath)
{
    const QString savedName = deliveredPath.section(u'/', -1);
    if (savedName == task.chosenName.value_or(task.fileName)) {
        return QStringLiteral("已保存到所选位置");
    }
    return QStringLiteral("已保存为“") + savedName + QStringLiteral("”");
}

} // namespace

// MARK: - Managed uploads and downloads

void TransferStore::enqueueManagedUploads(const QList<PreparedManagedUploadFile> &files)
{
    if (files.isEmpty()) {
        return;
    }
    m_notifications->requestAuthorizationIfNeeded();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool connected = m_phase.kind == Phase::Kind::connected;
    QList<TransferTaskRecord> records;
    for (const PreparedManagedUploadFile &file : files) {
        const QFileInfo info(file.sourceURL);
        if (!info.exists() && !info.isSymLink()) {
            throw FileOperationError(noSuchFileDescription(file.sourceURL));
        }
        if (info.isSymLink() || !info.isFile()) {
            throw TransferTaskError(TransferTaskError::Case::notAFile);
        }
        TransferTaskRecord task;
        task.id = newLowerCaseUuid();
        task.direction = TransferTaskRecord::Direction::sending;
        task.peerName = currentPeerDisplayName().value_or(defaultPhoneName);
        task.trustedDeviceID = m_selectedTrustedDeviceID;
        task.fileName = info.fileName();
        task.sourceBookmark = bookmarkFor(file.sourceURL);
        task.remoteDirectoryID = file.remoteDirectoryID;
        task.batchID = file.batchID;
        task.batchName = file.batchName;
        task.relativePath = file.relativePath;
        task.totalBytes = info.size();
        task.status = connected ? TransferTaskRecord::Status::queued : TransferTaskRecord::Status::waitingForConnection;
        task.message = connected ? QStringLiteral("等待发送") : QStringLiteral("连接后将自动发送");
        task.createdAt = now;
        task.updatedAt = now;
        records.append(task);
    }
    for (const TransferTaskRecord &task : records) {
        m_tasks.prepend(task);
    }
    tasksDidChange();
    pruneFinishedTasks();
    persistTasks(true);
    startNextOutgoing();
}

void TransferStore::enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &files,
                                            const QString &destinationFolder)
{
    if (files.isEmpty()) {
        return;
    }
    QSet<QString> ids;
    for (const PreparedManagedDownloadFile &file : files) {
        if (ids.contains(file.transferID) || taskIndex(file.transferID) >= 0) {
            throw DeviceManagementRequestError::rejected(QStringLiteral("下载任务标识重复，请重试"));
        }
        ids.insert(file.transferID);
    }
    if (!QFileInfo(destinationFolder).isDir()) {
        throw FileOperationError(noSuchFileDescription(destinationFolder));
    }
    const QByteArray destination = bookmarkFor(destinationFolder);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool connected = m_phase.kind == Phase::Kind::connected;
    QList<TransferTaskRecord> records;
    for (const PreparedManagedDownloadFile &file : files) {
        const bool preview = file.purpose == TransferTaskRecord::DeliveryPurpose::preview;
        TransferTaskRecord task;
        task.id = file.transferID;
        task.direction = TransferTaskRecord::Direction::receiving;
        task.peerName = currentPeerDisplayName().value_or(defaultPhoneName);
        task.trustedDeviceID = m_selectedTrustedDeviceID;
        task.fileName = file.fileName;
        task.remoteFileID = file.remoteFileID;
        task.batchID = file.batchID;
        task.batchName = file.batchName;
        task.relativePath = file.relativePath;
        task.destinationBookmark = destination;
        task.destinationRelativePath = file.relativePath;
        task.chosenName = file.chosenName;
        task.deliveryPurpose = file.purpose;
        task.totalBytes = file.totalBytes;
        task.status = connected ? TransferTaskRecord::Status::queued : TransferTaskRecord::Status::waitingForConnection;
        task.message = preview ? QStringLiteral("正在准备预览") : QStringLiteral("等待下载");
        task.createdAt = now;
        task.updatedAt = now;
        records.append(task);
    }
    m_tasks = records + m_tasks;
    tasksDidChange();
    pruneFinishedTasks();
    persistTasks(true);
    startNextManagedDownload();
}

bool TransferStore::isStartableManagedDownload(const TransferTaskRecord &task) const
{
    if (task.direction != TransferTaskRecord::Direction::receiving || !task.destinationBookmark || !task.remoteFileID ||
        task.status != TransferTaskRecord::Status::queued) {
        return false;
    }
    if (task.trustedDeviceID) {
        return m_selectedTrustedDeviceID && *task.trustedDeviceID == *m_selectedTrustedDeviceID;
    }
    return !m_selectedTrustedDeviceID || m_trustedRegistry.devices.size() <= 1;
}

void TransferStore::startNextManagedDownload()
{
    if (m_activeManagedDownloadID || m_phase.kind != Phase::Kind::connected) {
        return;
    }
    for (qsizetype index = m_tasks.size() - 1; index >= 0; --index) {
        if (!isStartableManagedDownload(m_tasks[index])) {
            continue;
        }
        const TransferTaskRecord task = m_tasks[index];
        m_activeManagedDownloadID = task.id;
        m_managedDownloadStartTimer.stop();
        const bool preview = task.deliveryPurpose == TransferTaskRecord::DeliveryPurpose::preview;
        updateTaskStatus(index, TransferTaskRecord::Status::queued,
                         preview ? QStringLiteral("正在准备预览") : QStringLiteral("正在准备下载"));
        persistTasks(true);
        requestManagedDownload(task, *task.remoteFileID);
        return;
    }
}

QCoro::Task<void> TransferStore::requestManagedDownload(TransferTaskRecord task, QString remoteFileID)
{
    QPointer<TransferStore> self(this);
    const quint64 request = ++m_managedDownloadRequest;
    const auto stillAsked = [&] {
        return self && m_activeManagedDownloadID == task.id && m_managedDownloadRequest == request;
    };
    const QJsonObject payload{{QStringLiteral("id"), remoteFileID}, {QStringLiteral("transferId"), task.id}};
    const QString text = QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    QString failure;
    try {
        co_await requestManagement(QStringLiteral("files.download"), text);
        // A phone that says yes and then sends nothing must not hold the download slot, and every preview
        // waiting behind it, until the link drops.
        const qsizetype index = stillAsked() ? taskIndex(task.id) : -1;
        if (index >= 0 && m_tasks[index].status == TransferTaskRecord::Status::queued) {
            m_managedDownloadStartTimer.start(m_environment.managedDownloadStartTimeout);
            beginEagerPolling();
        }
        co_return;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    // A late failure, of a download the link's drop or the host's stop has already let go of, changes nothing.
    if (!stillAsked()) {
        co_return;
    }
    const qsizetype index = taskIndex(task.id);
    if (index >= 0) {
        if (m_phase.kind == Phase::Kind::connected) {
            updateTaskStatus(index, TransferTaskRecord::Status::needsAttention, failure);
        } else {
            updateTaskStatus(index, TransferTaskRecord::Status::waitingForConnection,
                             QStringLiteral("连接后将自动继续"));
        }
    }
    m_activeManagedDownloadID.reset();
    persistTasks(true);
    startNextManagedDownload();
}

void TransferStore::failUnstartedManagedDownload()
{
    const qsizetype index = m_activeManagedDownloadID ? taskIndex(*m_activeManagedDownloadID) : -1;
    // Any event of the transfer has moved its task on: the phone has started.
    if (index < 0 || m_tasks[index].status != TransferTaskRecord::Status::queued) {
        return;
    }
    // The transfer is called off on the host too, so that a late start cannot run beside the next download.
    if (m_host) {
        m_host->cancelTransfer(*m_activeManagedDownloadID);
    }
    updateTaskStatus(index, TransferTaskRecord::Status::needsAttention, managedDownloadNotStartedMessage);
    m_activeManagedDownloadID.reset();
    persistTasks(true);
    startNextManagedDownload();
}

QCoro::Task<void> TransferStore::prepareManagedUpload(TransferTaskRecord task, QString directoryID)
{
    QPointer<TransferStore> self(this);
    const quint64 preparation = ++m_managedUploadPreparation;
    const auto stillAsked = [&] {
        return self && m_preparingManagedUploadID == task.id && m_managedUploadPreparation == preparation;
    };
    const QJsonObject payload{{QStringLiteral("transferId"), task.id}, {QStringLiteral("directoryId"), directoryID}};
    const QString text = QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    QString failure;
    try {
        co_await requestManagement(QStringLiteral("files.prepare_upload"), text);
        if (stillAsked()) {
            m_preparedManagedUploadIDs.insert(task.id);
            m_preparingManagedUploadID.reset();
            startNextOutgoing();
        }
        co_return;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    // A late failure, of a preparation the link's drop or the host's stop has already let go of, changes nothing.
    if (!stillAsked()) {
        co_return;
    }
    m_preparingManagedUploadID.reset();
    const qsizetype index = taskIndex(task.id);
    if (index >= 0) {
        updateTaskStatus(index, TransferTaskRecord::Status::needsAttention, failure);
    }
    persistTasks(true);
    startNextOutgoing();
}

bool TransferStore::receivedFileIsHere(const TransferTaskRecord &task) const
{
    // Byte counts of 0 of 0 are also what a download shows before anything arrived; only bytes that
    // this transfer really received make a file of that name its own.
    return task.transferredBytes > 0 && task.transferredBytes >= task.totalBytes &&
           QFileInfo::exists(QDir(receiveFolder()).filePath(task.fileName));
}

TransferEvent TransferStore::receivedEvent(const TransferTaskRecord &task)
{
    TransferEvent event;
    event.kind = TransferEventKind::completed;
    event.direction = TransferDirection::receiving;
    event.transferId = task.id;
    event.fileName = task.fileName;
    event.transferredBytes = uint64_t(std::max<qint64>(task.totalBytes, 0));
    event.totalBytes = event.transferredBytes;
    event.peerName = task.peerName;
    event.message = QStringLiteral("接收完成并已校验");
    return event;
}

void TransferStore::retryManagedDownload(const TransferTaskRecord &task)
{
    if (receivedFileIsHere(task)) {
        deliverDownloadedFile(receivedEvent(task));
        return;
    }
    const qsizetype index = taskIndex(task.id);
    if (!task.remoteFileID) {
        if (index >= 0) {
            updateTaskStatus(index, TransferTaskRecord::Status::needsAttention, QStringLiteral("请重新开始这个下载"));
            persistTasks(true);
        }
        return;
    }
    if (index < 0) {
        startNextManagedDownload();
        return;
    }
    m_tasks[index].transferredBytes = 0;
    const bool connected = m_phase.kind == Phase::Kind::connected;
    updateTaskStatus(index,
                     connected ? TransferTaskRecord::Status::queued : TransferTaskRecord::Status::waitingForConnection,
                     connected ? QStringLiteral("等待重新下载") : QStringLiteral("连接后将自动重试"));
    persistTasks(true);
    startNextManagedDownload();
}

void TransferStore::deliverDownloadedFile(const TransferEvent &event)
{
    if (m_finalizingDeliveryIDs.contains(event.transferId)) {
        return;
    }
    const qsizetype index = taskIndex(event.transferId);
    if (index < 0) {
        if (m_activeManagedDownloadID == event.transferId) {
            m_activeManagedDownloadID.reset();
            startNextManagedDownload();
        }
        return;
    }
    const TransferTaskRecord task = m_tasks[index];
    if (!task.destinationBookmark || !task.destinationRelativePath || !task.deliveryPurpose) {
        // Nothing can be delivered: say so on the task and free the download slot, so the queue moves on.
        updateTaskStatus(index, TransferTaskRecord::Status::needsAttention,
                         ManagedDownloadDeliveryError(ManagedDownloadDeliveryError::Case::destinationUnavailable)
                             .errorDescription());
        if (m_activeManagedDownloadID == event.transferId) {
            m_activeManagedDownloadID.reset();
        }
        persistTasks(true);
        startNextManagedDownload();
        return;
    }
    m_finalizingDeliveryIDs.insert(event.transferId);
    const bool preview = *task.deliveryPurpose == TransferTaskRecord::DeliveryPurpose::preview;
    updateTaskStatus(index, TransferTaskRecord::Status::receiving,
                     preview ? QStringLiteral("正在准备预览") : QStringLiteral("正在保存到所选位置"));
    runDelivery(task, event);
}

QCoro::Task<void> TransferStore::runDelivery(TransferTaskRecord task, TransferEvent event)
{
    QPointer<TransferStore> self(this);
    const QString transferID = task.id;
    const QString folder = receiveFolder();
    const QString fileName = event.fileName;
    const QByteArray bookmark = *task.destinationBookmark;
    const QString relativePath = *task.destinationRelativePath;
    const qint64 expectedSize = clampedByteCount(event.totalBytes);
    const TransferTaskRecord::DeliveryPurpose purpose = *task.deliveryPurpose;
    std::variant<ManagedDownloadDelivery::Result, QString> outcome;
    try {
        outcome = co_await runInBackground([=] {
            return ManagedDownloadDelivery::deliver(transferID, folder, fileName, bookmark, relativePath, expectedSize,
                                                    purpose);
        });
    } catch (const std::exception &error) {
        outcome = describe(error);
    }
    if (self) {
        finishDelivery(event, outcome);
    }
}

void TransferStore::finishDelivery(const TransferEvent &event,
                                   const std::variant<ManagedDownloadDelivery::Result, QString> &outcome)
{
    m_finalizingDeliveryIDs.remove(event.transferId);
    const qsizetype index = taskIndex(event.transferId);
    if (index < 0) {
        return;
    }
    if (const auto *failure = std::get_if<QString>(&outcome)) {
        updateTaskStatus(index, TransferTaskRecord::Status::needsAttention, *failure);
    } else {
        const auto &result = std::get<ManagedDownloadDelivery::Result>(outcome);
        TransferTaskRecord &task = m_tasks[index];
        task.destinationRelativePath = result.relativePath;
        task.deliveryCompletedAt = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
        const bool preview = task.deliveryPurpose == TransferTaskRecord::DeliveryPurpose::preview;
        updateTaskStatus(index, TransferTaskRecord::Status::completed,
                         preview ? QStringLiteral("预览已就绪") : exportedMessage(task, result.relativePath));
        acknowledgeOnceWritten(event.transferId);
        recordCompletion(event);
    }
    if (m_activeManagedDownloadID == event.transferId) {
        m_activeManagedDownloadID.reset();
    }
    persistTasks(true);
    startNextManagedDownload();
}

QCoro::Task<QString> TransferStore::waitForManagedDownload(QString transferID)
{
    QPointer<TransferStore> self(this);
    while (true) {
        if (!self) {
            throw DeviceManagementRequestError::disconnected();
        }
        const qsizetype index = taskIndex(transferID);
        if (index < 0) {
            throw ManagedDownloadDeliveryError(ManagedDownloadDeliveryError::Case::receivedFileMissing);
        }
        const TransferTaskRecord &task = m_tasks[index];
        if (task.status == TransferTaskRecord::Status::failed ||
            task.status == TransferTaskRecord::Status::needsAttention ||
            task.status == TransferTaskRecord::Status::cancelled) {
            throw DeviceManagementRequestError::rejected(task.message);
        }
        if (task.status == TransferTaskRecord::Status::completed && task.deliveryCompletedAt) {
            co_return ManagedDownloadDelivery::destinationURL(task);
        }
        co_await QCoro::sleepFor(managedDownloadPollInterval);
    }
}

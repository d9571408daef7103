#include "CoreMessageText.h"
#include "TransferStore.h"
#include "TransferStorePrivate.h"

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <coroutine>
#include <exception>
#include <utility>
#include <variant>

using transferStorePrivate::clampedByteCount;
using transferStorePrivate::defaultPhoneName;
using transferStorePrivate::describe;
using transferStorePrivate::newLowerCaseUuid;

namespace {

const QString interruptedMessage = QStringLiteral("连接中断，恢复后将继续");
const QString trustFailurePrefix = QStringLiteral("连接已建立，但无法安全保存设备信任：");

} // namespace

// MARK: - Event pump

void TransferStore::drainEvents()
{
    if (!m_host || m_pendingTrust) {
        m_managementResponseTimer.stop();
        return;
    }
    // One drain publishes the task list and writes the task file at most once, however many events it handles. It
    // takes a batch at most: a phone that floods the queue must not hold the event loop, so the rest waits for the
    // next turn, which comes at once.
    ++m_deferTaskSignals;
    int handled = 0;
    while (m_host && !m_pendingTrust && handled < maximumEventsPerDrain) {
        const std::optional<TransferEvent> event = m_host->pollEvent();
        if (!event) {
            break;
        }
        handleTransferEvent(*event);
        ++handled;
    }
    // Answers come after every event that was queued before them: a drain cut short, or held by a pairing whose trust
    // is on its way to the keychain, leaves them for the turn that takes the rest of the events.
    const bool cutShort = handled == maximumEventsPerDrain;
    if (!cutShort && !m_pendingTrust) {
        while (m_host) {
            const std::optional<ManagementResponse> response = m_host->pollManagementResponse();
            if (!response) {
                break;
            }
            routeManagementResponse(*response);
        }
        if (m_managementContinuations.isEmpty()) {
            m_managementResponseTimer.stop();
        }
    }
    endDeferringTaskSignals();
    if (cutShort && m_host && m_pollingTimer.isActive()) {
        m_pollingTimer.start(0);
    } else {
        paceEventPump();
    }
}

void TransferStore::paceEventPump()
{
    if (!m_pollingTimer.isActive()) {
        return;
    }
    auto interval = pollInterval;
    if (m_activeOutgoingTaskID || m_activeManagedDownloadID) {
        interval = m_eagerPollingUntil.hasExpired() ? activeTransferPollInterval : std::chrono::milliseconds(0);
    }
    if (m_pollingTimer.intervalAsDuration() != interval) {
        m_pollingTimer.start(interval);
    }
}

void TransferStore::beginEagerPolling()
{
    m_eagerPollingUntil = QDeadlineTimer(eagerPollingSpell, Qt::PreciseTimer);
    paceEventPump();
}

void TransferStore::drainManagementResponses()
{
    // While an answer is awaited it is looked for more often than the pump's period, but always by a whole drain,
    // so that no answer overtakes an event queued before it.
    drainEvents();
}

void TransferStore::handleTransferEvent(const TransferEvent &received)
{
    using Status = TransferTaskRecord::Status;
    TransferEvent event = received;
    // The core's texts are English; the task, the phase and the banner show them in the interface's words.
    event.message = CoreMessageText::describe(event.message, event.direction);
    if (event.kind == TransferEventKind::failed && event.direction == TransferDirection::receiving) {
        // The core refuses a file it has no folder for; the user is told why in the words of the receive folder.
        checkReceiveFolder();
        if (m_receiveFolderProblem) {
            event.message = *m_receiveFolderProblem;
        }
    }
    setLatestEvent(event);
    switch (event.kind) {
    case TransferEventKind::queued:
        upsertTask(event, Status::queued);
        break;
    case TransferEventKind::connecting:
        setPhase(Phase::pairing());
        break;
    case TransferEventKind::awaitingConfirmation:
        setPhase(Phase::awaitingConfirmation(event.peerName));
        break;
    case TransferEventKind::paired:
        handlePaired(event);
        break;
    case TransferEventKind::sending:
        upsertTask(event, Status::sending);
        break;
    case TransferEventKind::receiving:
        upsertTask(event, Status::receiving);
        break;
    case TransferEventKind::waitingForConnection:
        endTransfer(event, Status::waitingForConnection);
        persistTasks(true);
        startNextManagedDownload();
        break;
    case TransferEventKind::completed:
        handleCompleted(event);
        break;
    case TransferEventKind::paused:
        endTransfer(event, Status::paused);
        persistTasks(true);
        startNextOutgoing();
        startNextManagedDownload();
        break;
    case TransferEventKind::failed:
        if (event.direction == TransferDirection::none) {
            setPhase(Phase::failed(event.message));
            break;
        }
        [[fallthrough]];
    case TransferEventKind::cancelled:
        endTransfer(event, event.kind == TransferEventKind::failed ? Status::failed : Status::cancelled);
        m_preparedManagedUploadIDs.remove(event.transferId);
        persistTasks(true);
        startNextOutgoing();
        startNextManagedDownload();
        break;
    case TransferEventKind::disconnected:
        handleDisconnected(event);
        break;
    }
}

void TransferStore::endTransfer(const TransferEvent &event, TransferTaskRecord::Status status)
{
    upsertTask(event, status);
    releaseOutgoing(event.transferId);
    if (m_activeManagedDownloadID == event.transferId) {
        m_activeManagedDownloadID.reset();
    }
}

struct TransferStore::PendingTrust
{
    TransferEvent event;
    // The registry with the paired phone, when the host handed over its secret.
    std::optional<TrustedDeviceRegistry> registry;
    quint64 hostGeneration = 0;
    std::shared_future<CredentialWriter::Outcome> outcome;
};

CredentialWriter &TransferStore::credentialWriter()
{
    if (!m_credentialWriter) {
        m_credentialWriter = std::make_unique<CredentialWriter>(m_credentials);
    }
    return *m_credentialWriter;
}

void TransferStore::handlePaired(const TransferEvent &event)
{
    using Account = TransferCredentialStore::Account;
    auto pending = std::make_shared<PendingTrust>();
    pending->event = event;
    pending->hostGeneration = m_hostGeneration;
    QList<CredentialWriter::Item> writes;
    const std::optional<QString> secret = m_host ? m_host->trustedPeerSecret() : std::nullopt;
    if (secret) {
        // A peer id that breaks the record rules is not kept: the phone is matched by its name instead.
        std::optional<QString> peerID = event.peerId.trimmed();
        if (!TrustedDeviceRecord::isValidPeerID(*peerID)) {
            peerID.reset();
        }
        const std::optional<TrustedDeviceRecord> matched = m_trustedRegistry.device(peerID, event.peerName);
        const QString recordID = matched                              ? matched->id
                                 : m_pendingPairingDeviceID           ? *m_pendingPairingDeviceID
                                 : m_trustedRegistry.selectedDeviceID ? *m_trustedRegistry.selectedDeviceID
                                                                      : newLowerCaseUuid();
        TrustedDeviceRegistry candidate = m_trustedRegistry;
        auto existing = std::find_if(candidate.devices.begin(), candidate.devices.end(),
                                     [&](const TrustedDeviceRecord &record) { return record.id == recordID; });
        // The registry keeps whole seconds; the copy in memory matches what is stored.
        const QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
        TrustedDeviceRecord record;
        record.id = recordID;
        record.name = !event.peerName.isEmpty()             ? event.peerName
                      : existing != candidate.devices.end() ? existing->name
                                                            : defaultPhoneName;
        record.secret = *secret;
        record.peerID = peerID ? peerID : existing != candidate.devices.end() ? existing->peerID : std::nullopt;
        record.usbSerial = existing != candidate.devices.end() ? existing->usbSerial : std::nullopt;
        record.createdAt = existing != candidate.devices.end() ? existing->createdAt : now;
        record.lastSeenAt = now;
        if (existing != candidate.devices.end()) {
            *existing = record;
        } else {
            candidate.devices.prepend(record);
            while (candidate.devices.size() > maximumTrustedDevices) {
                candidate.devices.removeLast();
            }
        }
        candidate.selectedDeviceID = recordID;
        QString registryText;
        try {
            registryText = TrustedDeviceRegistryStore::encode(candidate);
        } catch (const std::exception &error) {
            setPhase(Phase::failed(trustFailurePrefix + describe(error)));
            return;
        }
        writes = {{Account::trustedPeerSecret, *secret}, {Account::trustedDeviceRegistry, registryText}};
        pending->registry = std::move(candidate);
    }
    if (!event.peerName.isEmpty()) {
        writes.append({Account::trustedPeerName, event.peerName});
    }
    if (writes.isEmpty()) {
        finishPaired(event);
        return;
    }
    // The keychain may keep a call waiting for long: the writes go off the event loop, and the events after this one
    // wait for them, so that nothing is handled as connected before the phone's trust is kept.
    m_pendingTrust = pending;
    m_managementResponseTimer.stop();
    QPointer<TransferStore> self(this);
    pending->outcome = credentialWriter().write(writes, this, [self] {
        if (self) {
            self->applyPendingTrust();
        }
    });
}

bool TransferStore::waitForCredentialWrites()
{
    if (m_credentialWriter) {
        m_credentialWriter->waitUntilWritten();
    }
    return applyPendingTrust();
}

bool TransferStore::applyPendingTrust()
{
    if (!m_pendingTrust || m_pendingTrust->outcome.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return false;
    }
    const std::shared_ptr<PendingTrust> pending = std::exchange(m_pendingTrust, nullptr);
    const bool sameHost = m_host && pending->hostGeneration == m_hostGeneration;
    if (const CredentialWriter::Outcome failure = pending->outcome.get()) {
        if (sameHost) {
            setPhase(Phase::failed(trustFailurePrefix + *failure));
        }
    } else {
        // The trust is kept whatever became of the host meanwhile; the registry in memory is what is stored.
        if (pending->registry) {
            adoptTrustedRegistry(*pending->registry);
            m_pendingPairingDeviceID.reset();
            if (m_trustedRegistry.devices.size() == 1) {
                for (qsizetype index = 0; index < m_tasks.size(); ++index) {
                    if (m_tasks[index].direction == TransferTaskRecord::Direction::sending &&
                        !m_tasks[index].trustedDeviceID) {
                        assignTrustedDevice(index, *m_trustedRegistry.selectedDeviceID);
                    }
                }
            }
        }
        if (sameHost) {
            finishPaired(pending->event);
        }
    }
    // The events held behind the pairing come next.
    if (m_pollingTimer.isActive()) {
        m_pollingTimer.start(0);
    }
    if (!m_managementContinuations.isEmpty()) {
        m_managementResponseTimer.start();
    }
    return true;
}

void TransferStore::finishPaired(const TransferEvent &event)
{
    setPhase(Phase::connected(event.peerName));
    resumeWaitingTransfers();
}

void TransferStore::resumeWaitingTransfers()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (TransferTaskRecord &task : m_tasks) {
        if (task.status == TransferTaskRecord::Status::waitingForConnection) {
            task.status = TransferTaskRecord::Status::queued;
            task.message = QStringLiteral("等待继续");
            task.updatedAt = now;
            tasksDidChange();
        }
    }
    persistTasks(false);
    startNextOutgoing();
    startNextManagedDownload();
}

void TransferStore::handleCompleted(const TransferEvent &event)
{
    const qsizetype index = taskIndex(event.transferId);
    if (index >= 0 && m_tasks[index].destinationBookmark && event.direction == TransferDirection::receiving) {
        upsertTask(event, TransferTaskRecord::Status::receiving);
        deliverDownloadedFile(event);
    } else {
        upsertTask(event, TransferTaskRecord::Status::completed);
        recordCompletion(event);
    }
    releaseOutgoing(event.transferId);
    m_preparedManagedUploadIDs.remove(event.transferId);
    persistTasks(true);
    startNextOutgoing();
}

void TransferStore::handleDisconnected(const TransferEvent &event)
{
    failPendingManagementRequests(DeviceManagementRequestError::disconnected());
    m_preparingManagedUploadID.reset();
    m_preparedManagedUploadIDs.clear();
    if (m_activeManagedDownloadID) {
        const qsizetype index = taskIndex(*m_activeManagedDownloadID);
        if (index >= 0) {
            updateTaskStatus(index, TransferTaskRecord::Status::waitingForConnection, interruptedMessage);
            m_activeManagedDownloadID.reset();
        }
    }
    if (m_activeOutgoingTaskID) {
        const qsizetype index = taskIndex(*m_activeOutgoingTaskID);
        if (index >= 0) {
            updateTaskStatus(index, TransferTaskRecord::Status::waitingForConnection, interruptedMessage);
            m_scopedURLs.remove(*m_activeOutgoingTaskID);
            m_activeOutgoingTaskID.reset();
        }
    }
    persistTasks(true);
    setPhase(Phase::reconnecting(event.peerName));
}

void TransferStore::upsertTask(const TransferEvent &event, TransferTaskRecord::Status status)
{
    if (event.transferId.isEmpty()) {
        return;
    }
    const qint64 transferred = clampedByteCount(event.transferredBytes);
    const qint64 total = clampedByteCount(event.totalBytes);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qsizetype index = taskIndex(event.transferId);
    if (index >= 0) {
        TransferTaskRecord &task = m_tasks[index];
        task.transferredBytes = std::max(task.transferredBytes, transferred);
        task.totalBytes = std::max(task.totalBytes, total);
        if (!event.fileName.isEmpty()) {
            task.fileName = event.fileName;
        }
        task.status = status;
        task.message = event.message;
        task.updatedAt = now;
        tasksDidChange();
        persistTasks(false);
        return;
    }
    TransferTaskRecord task;
    task.id = event.transferId;
    task.direction = event.direction == TransferDirection::sending ? TransferTaskRecord::Direction::sending
                                                                   : TransferTaskRecord::Direction::receiving;
    task.peerName = currentPeerDisplayName().value_or(defaultPhoneName);
    if (task.direction == TransferTaskRecord::Direction::sending) {
        task.trustedDeviceID = m_selectedTrustedDeviceID;
    }
    task.fileName = event.fileName;
    task.message = event.message;
    task.transferredBytes = transferred;
    task.totalBytes = total;
    task.status = status;
    task.createdAt = now;
    task.updatedAt = now;
    m_tasks.prepend(task);
    tasksDidChange();
    pruneFinishedTasks();
    // A task the file does not hold yet is written at once: after a crash its transfer would be lost, or offered
    // again as new.
    persistTasks(true);
}

void TransferStore::assignTrustedDevice(qsizetype taskIndex, const QString &deviceID)
{
    m_tasks[taskIndex].trustedDeviceID = deviceID;
    tasksDidChange();
}

void TransferStore::releaseOutgoing(const QString &transferID)
{
    if (m_activeOutgoingTaskID != transferID) {
        return;
    }
    m_activeOutgoingTaskID.reset();
    m_scopedURLs.remove(transferID);
}

void TransferStore::recordCompletion(const TransferEvent &event)
{
    const bool recorded = std::any_of(m_completedTransfers.begin(), m_completedTransfers.end(),
                                      [&](const TransferEvent &done) { return done.transferId == event.transferId; });
    if (recorded) {
        return;
    }
    const qsizetype index = taskIndex(event.transferId);
    if (index >= 0) {
        m_notifications->notifyTransferFinished(m_tasks[index].fileName, m_tasks[index].direction);
    }
    m_completedTransfers.prepend(event);
    while (m_completedTransfers.size() > maximumCompletedTransfers) {
        m_completedTransfers.removeLast();
    }
    emit completedTransfersChanged();
}

// MARK: - Management channel

// One caller waiting for the phone's answer. It is resumed from the event loop, never from inside the
// drain that delivered the answer, so the caller cannot re-enter the store mid-drain.
class ManagementWaiter
{
public:
    void finish(std::variant<QString, std::exception_ptr> outcome)
    {
        if (m_outcome) {
            return;
        }
        m_outcome = std::move(outcome);
        if (m_handle) {
            QTimer::singleShot(0, [handle = m_handle] { handle.resume(); });
        }
    }

    bool await_ready() const { return m_outcome.has_value(); }
    void await_suspend(std::coroutine_handle<> handle) { m_handle = handle; }
    QString await_resume()
    {
        if (auto *failure = std::get_if<std::exception_ptr>(&*m_outcome)) {
            std::rethrow_exception(*failure);
        }
        return std::get<QString>(*m_outcome);
    }

private:
    std::optional<std::variant<QString, std::exception_ptr>> m_outcome;
    std::coroutine_handle<> m_handle;
};

QCoro::Task<QString> TransferStore::requestManagement(QString action, QString payload)
{
    if (m_phase.kind != Phase::Kind::connected || !m_host) {
        throw DeviceManagementRequestError::notConnected();
    }
    // A refusal of the core reaches the caller as it is.
    const QString requestId = m_host->requestManagement(action, payload);
    auto waiter = std::make_shared<ManagementWaiter>();
    m_managementContinuations.insert(requestId, waiter);
    auto *timeout = new QTimer(this);
    timeout->setSingleShot(true);
    timeout->setTimerType(Qt::PreciseTimer);
    connect(timeout, &QTimer::timeout, this, [this, requestId] {
        const auto waiting = m_managementContinuations.find(requestId);
        if (waiting == m_managementContinuations.end()) {
            return;
        }
        const std::shared_ptr<ManagementWaiter> caller = waiting.value();
        m_managementContinuations.erase(waiting);
        if (QTimer *timer = m_managementTimeoutTasks.take(requestId)) {
            timer->deleteLater();
        }
        caller->finish(std::make_exception_ptr(DeviceManagementRequestError::rejected(managementTimeoutMessage)));
    });
    m_managementTimeoutTasks.insert(requestId, timeout);
    timeout->start(m_environment.managementTimeout);
    // Answers are looked for more often than events while someone waits for one, so that a listing of
    // many pages is not paced by the event pump.
    if (!m_managementResponseTimer.isActive()) {
        m_managementResponseTimer.start();
    }
    co_return co_await *waiter;
}

void TransferStore::routeManagementResponse(const ManagementResponse &response)
{
    const std::shared_ptr<ManagementWaiter> caller = m_managementContinuations.take(response.requestId);
    if (!caller) {
        return;
    }
    if (QTimer *timer = m_managementTimeoutTasks.take(response.requestId)) {
        timer->stop();
        timer->deleteLater();
    }
    if (response.success) {
        caller->finish(response.payload);
    } else {
        caller->finish(std::make_exception_ptr(DeviceManagementRequestError::rejected(response.message)));
    }
}

void TransferStore::failPendingManagementRequests(const DeviceManagementRequestError &error)
{
    const auto callers = std::exchange(m_managementContinuations, {});
    const auto timers = std::exchange(m_managementTimeoutTasks, {});
    for (QTimer *timer : timers) {
        timer->stop();
        timer->deleteLater();
    }
    for (const std::shared_ptr<ManagementWaiter> &caller : callers) {
        caller->finish(std::make_exception_ptr(error));
    }
}

#include "TransferStore.h"

#include "TransferTaskError.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QStandardPaths>
#include <QTextBoundaryFinder>
#include <QUrl>
#include <QUuid>
#include <QtConcurrent>

#include <qcorofuture.h>
#include <qcorotimer.h>

#include <coroutine>
#include <exception>
#include <limits>
#include <variant>

namespace {

const QString transferService = QStringLiteral("com.drovan.tavrine.transfer");
const QString noLocalNetworkMessage = QStringLiteral("请先让 Mac 连接到局域网，然后重试。");
const QString defaultPhoneName = QStringLiteral("Android 手机");
const QString interruptedMessage = QStringLiteral("连接中断，恢复后将继续");
const QString waitingForDeviceMessage = QStringLiteral("等待原设备重新连接");
constexpr int maximumDeviceNameCharacters = 80;

QString describe(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}

QString newLowerCaseUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

qint64 clampedByteCount(uint64_t count)
{
    return count > uint64_t(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(count);
}

QString leadingCharacters(const QString &text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype position = 0;
    for (qsizetype taken = 0; taken < count; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            break;
        }
        position = next;
    }
    return text.left(position);
}

// Runs `work` on the thread pool and hands its value (or its exception) back to the awaiting coroutine.
template <typename Work> QCoro::Task<std::invoke_result_t<Work>> runInBackground(Work work)
{
    using Result = std::invoke_result_t<Work>;
    if constexpr (std::is_void_v<Result>) {
        std::exception_ptr failure = co_await QtConcurrent::run([work]() -> std::exception_ptr {
            try {
                work();
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        });
        if (failure) {
            std::rethrow_exception(failure);
        }
    } else {
        using Outcome = std::variant<Result, std::exception_ptr>;
        Outcome outcome = co_await QtConcurrent::run([work]() -> Outcome {
            try {
                return work();
            } catch (...) {
                return std::current_exception();
            }
        });
        if (auto *failure = std::get_if<std::exception_ptr>(&outcome)) {
            std::rethrow_exception(*failure);
        }
        co_return std::get<Result>(std::move(outcome));
    }
}

} // namespace

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

TransferStore::TransferStore(TransferTaskRepository taskRepository, TransferStoreEnvironment environment,
                             QObject *parent)
    : QObject(parent), m_environment(std::move(environment)),
      m_credentials(transferService,
                    m_environment.keychain ? m_environment.keychain : TransferCredentialStore::systemKeychain()),
      m_taskRepository(std::move(taskRepository)),
      m_notifications(m_environment.notifications ? m_environment.notifications
                                                  : std::make_shared<TransferNotificationService>()),
      m_trustedRegistryStore(m_credentials)
{
    if (!m_environment.localAddress) {
        m_environment.localAddress = std::make_shared<SystemLocalAddressProvider>();
    }
    if (!m_environment.computerName) {
        m_environment.computerName = std::make_shared<SystemComputerNameProvider>();
    }
    if (!m_environment.startHost) {
        m_environment.startHost = [](const QString &advertisedHost, const QString &inboxDirectory,
                                     const QString &deviceName, const QString &identityMaterial,
                                     const QString &trustedPeerSecret) -> std::unique_ptr<TransferHostProtocol> {
            return TransferHost::start(advertisedHost, inboxDirectory, deviceName, identityMaterial, trustedPeerSecret);
        };
    }
    m_pollingTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pollingTimer, &QTimer::timeout, this, [this] {
        if (m_pollingTimer.intervalAsDuration() != pollInterval) {
            m_pollingTimer.setInterval(pollInterval);
        }
        drainEvents();
    });

    m_tasks = m_taskRepository.load();
    for (TransferTaskRecord &task : m_tasks) {
        restoreTaskAfterRelaunch(task);
    }
}

TransferStore::~TransferStore()
{
    // Waiting callers hear of the end instead of waiting forever.
    failPendingManagementRequests(DeviceManagementRequestError::disconnected());
}

// MARK: - Published state

namespace {

// Changes a published value; true when it really changed, so that the caller emits its signal.
template <typename T> bool assignChanged(T &field, const T &value)
{
    if (field == value) {
        return false;
    }
    field = value;
    return true;
}

} // namespace

void TransferStore::setPhase(const Phase &phase)
{
    if (assignChanged(m_phase, phase)) {
        emit phaseChanged();
    }
}

void TransferStore::setPairingPayload(const std::optional<QString> &payload)
{
    if (assignChanged(m_pairingPayload, payload)) {
        emit pairingPayloadChanged();
    }
}

void TransferStore::setConfirmationCode(const std::optional<QString> &code)
{
    if (assignChanged(m_confirmationCode, code)) {
        emit confirmationCodeChanged();
    }
}

void TransferStore::setLatestEvent(const std::optional<TransferEvent> &event)
{
    if (assignChanged(m_latestEvent, event)) {
        emit latestEventChanged();
    }
}

void TransferStore::tasksDidChange()
{
    if (m_deferTaskSignals > 0) {
        m_tasksDirty = true;
        return;
    }
    emit tasksChanged();
}

void TransferStore::publishTrustedRegistry()
{
    if (assignChanged(m_trustedDevices, m_trustedRegistry.devices)) {
        emit trustedDevicesChanged();
    }
    if (assignChanged(m_selectedTrustedDeviceID, m_trustedRegistry.selectedDeviceID)) {
        emit selectedTrustedDeviceIDChanged();
    }
}

qsizetype TransferStore::taskIndex(const QString &id) const
{
    for (qsizetype index = 0; index < m_tasks.size(); ++index) {
        if (m_tasks[index].id == id) {
            return index;
        }
    }
    return -1;
}

// MARK: - Start-up and host lifecycle

QString TransferStore::deviceName() const
{
    return m_environment.deviceName ? *m_environment.deviceName : computerDisplayName(*m_environment.computerName);
}

QString TransferStore::receiveFolder() const
{
    if (m_environment.receiveFolder) {
        return *m_environment.receiveFolder;
    }
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty()) {
        downloads = QDir::home().filePath(QStringLiteral("Downloads"));
    }
    return QDir(downloads).filePath(QStringLiteral("Tavrine"));
}

QCoro::Task<void> TransferStore::startUp()
{
    if (m_host) {
        co_return;
    }
    QPointer<TransferStore> self(this);
    const TrustedDeviceRegistryStore registryStore = m_trustedRegistryStore;
    std::variant<TrustedDeviceRegistry, QString> loaded;
    try {
        loaded = co_await runInBackground([registryStore] { return registryStore.load(); });
    } catch (const std::exception &error) {
        loaded = describe(error);
    }
    if (!self) {
        co_return;
    }
    if (const auto *failure = std::get_if<QString>(&loaded)) {
        setPhase(Phase::failed(*failure));
        co_return;
    }
    m_trustedRegistry = std::get<TrustedDeviceRegistry>(loaded);
    publishTrustedRegistry();
    const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice();
    if (!selected) {
        co_return;
    }
    try {
        co_await restartHost(*selected);
    } catch (const std::exception &error) {
        if (self) {
            setPhase(Phase::failed(describe(error)));
        }
    }
}

QCoro::Task<void> TransferStore::restartHost(TrustedDeviceRecord record)
{
    QPointer<TransferStore> self(this);
    const std::optional<QString> address = m_environment.localAddress->localIPv4Address();
    if (!address) {
        setPhase(Phase::failed(noLocalNetworkMessage));
        co_return;
    }
    const TransferCredentialStore credentials = m_credentials;
    const std::optional<QString> identity = co_await runInBackground(
        [credentials] { return credentials.read(TransferCredentialStore::Account::hostIdentity); });
    if (!self) {
        co_return;
    }
    std::unique_ptr<TransferHostProtocol> host =
        m_environment.startHost(*address, receiveFolder(), deviceName(), identity.value_or(QString()), record.secret);
    if (!identity) {
        const QString material = host->identityMaterial();
        co_await runInBackground(
            [credentials, material] { credentials.write(material, TransferCredentialStore::Account::hostIdentity); });
        if (!self) {
            co_return;
        }
    }
    adoptHost(std::move(host));
    setPhase(Phase::reconnecting(record.name));
    startEventPump();
    reconcileReceivedDownloads();
}

void TransferStore::adoptHost(std::unique_ptr<TransferHostProtocol> host)
{
    m_host = std::move(host);
    setPairingPayload(m_host->pairingPayload());
    setConfirmationCode(m_host->confirmationCode());
}

void TransferStore::startHost(bool withTrustedPeer, const QString &secret)
{
    const std::optional<QString> address = m_environment.localAddress->localIPv4Address();
    if (!address) {
        setPhase(Phase::failed(noLocalNetworkMessage));
        return;
    }
    std::unique_ptr<TransferHostProtocol> host;
    try {
        const std::optional<QString> identity = m_credentials.read(TransferCredentialStore::Account::hostIdentity);
        host = m_environment.startHost(*address, receiveFolder(), deviceName(), identity.value_or(QString()), secret);
        if (!identity) {
            m_credentials.write(host->identityMaterial(), TransferCredentialStore::Account::hostIdentity);
        }
    } catch (const std::exception &error) {
        setPhase(Phase::failed(describe(error)));
        return;
    }
    adoptHost(std::move(host));
    const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice();
    setPhase(withTrustedPeer && selected ? Phase::reconnecting(selected->name) : Phase::pairing());
    startEventPump();
    reconcileReceivedDownloads();
}

void TransferStore::stopHost()
{
    failPendingManagementRequests(DeviceManagementRequestError::disconnected());
    if (m_activeOutgoingTaskID) {
        const qsizetype index = taskIndex(*m_activeOutgoingTaskID);
        if (index >= 0) {
            if (m_host) {
                m_host->pauseTransfer(*m_activeOutgoingTaskID);
            }
            updateTaskStatus(index, TransferTaskRecord::Status::waitingForConnection, waitingForDeviceMessage);
            m_scopedURLs.remove(*m_activeOutgoingTaskID);
            persistTasks(true);
        }
    }
    if (m_activeManagedDownloadID) {
        const qsizetype index = taskIndex(*m_activeManagedDownloadID);
        if (index >= 0) {
            if (m_host) {
                m_host->pauseTransfer(*m_activeManagedDownloadID);
            }
            updateTaskStatus(index, TransferTaskRecord::Status::waitingForConnection, waitingForDeviceMessage);
            persistTasks(true);
        }
    }
    releaseScopedAccess();
    m_pollingTimer.stop();
    m_host.reset();
    setPairingPayload(std::nullopt);
    setConfirmationCode(std::nullopt);
    setLatestEvent(std::nullopt);
    m_activeOutgoingTaskID.reset();
    m_activeManagedDownloadID.reset();
    m_preparingManagedUploadID.reset();
    m_preparedManagedUploadIDs.clear();
    setPhase(Phase::idle());
}

void TransferStore::startEventPump()
{
    // The first drain comes as soon as the starting caller is done, not a period later: a phone that is
    // already knocking is seen at once. Stopping the timer cancels it like every later drain.
    m_pollingTimer.start(0);
}

void TransferStore::reconcileReceivedDownloads()
{
    const QList<TransferTaskRecord> snapshot = m_tasks;
    for (const TransferTaskRecord &task : snapshot) {
        if (!task.destinationBookmark) {
            continue;
        }
        if (task.deliveryCompletedAt) {
            if (m_host) {
                try {
                    m_host->acknowledgeReceivedTransfer(task.id);
                } catch (const std::exception &) {
                    // The inbox copy stays; it is acknowledged again after the next start.
                }
            }
            continue;
        }
        const bool interrupted = task.status == TransferTaskRecord::Status::needsAttention ||
                                 task.status == TransferTaskRecord::Status::waitingForConnection;
        if (interrupted && task.totalBytes >= 0 && receivedFileIsHere(task)) {
            deliverDownloadedFile(receivedEvent(task));
        }
    }
}

// MARK: - Pairing and trust

bool TransferStore::commitTrustedRegistry(const TrustedDeviceRegistry &candidate, const QString &failurePrefix)
{
    try {
        m_trustedRegistryStore.save(candidate);
    } catch (const std::exception &error) {
        setPhase(Phase::failed(failurePrefix + describe(error)));
        return false;
    }
    m_trustedRegistry = candidate;
    publishTrustedRegistry();
    return true;
}

bool TransferStore::saveTrustedRegistry()
{
    return commitTrustedRegistry(m_trustedRegistry, QStringLiteral("无法保存可信设备："));
}

void TransferStore::beginNewPairing()
{
    reloadTrustedRegistryIfEmpty();
    if (m_host) {
        if (m_phase.kind == Phase::Kind::pairing || m_phase.kind == Phase::Kind::awaitingConfirmation) {
            return;
        }
        stopHost();
    }
    m_pendingPairingDeviceID = newLowerCaseUuid();
    startHost(false, QString());
}

void TransferStore::selectTrustedDevice(const QString &id)
{
    if (m_selectedTrustedDeviceID == id) {
        return;
    }
    const bool known = std::any_of(m_trustedRegistry.devices.begin(), m_trustedRegistry.devices.end(),
                                   [&](const TrustedDeviceRecord &record) { return record.id == id; });
    if (!known) {
        return;
    }
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    candidate.select(id);
    if (!commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："))) {
        return;
    }
    stopHost();
    if (const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice()) {
        startHost(true, selected->secret);
    }
}

void TransferStore::renameTrustedDevice(const QString &id, const QString &name)
{
    const QString trimmed = leadingCharacters(name.trimmed(), maximumDeviceNameCharacters);
    if (trimmed.isEmpty()) {
        return;
    }
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    for (TrustedDeviceRecord &record : candidate.devices) {
        if (record.id == id) {
            record.name = trimmed;
            commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："));
            return;
        }
    }
}

void TransferStore::forgetTrustedDevice(const QString &id)
{
    const bool wasSelected = m_trustedRegistry.selectedDeviceID == id;
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    candidate.removeDevice(id);
    if (!commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："))) {
        return;
    }
    if (wasSelected) {
        stopHost();
        if (const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice()) {
            startHost(true, selected->secret);
        }
    }
}

void TransferStore::bindUSBSerial(const QString &serial, const QString &deviceID)
{
    if (!TrustedDeviceRecord::isValidUSBSerial(serial)) {
        return;
    }
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    auto target = std::find_if(candidate.devices.begin(), candidate.devices.end(),
                               [&](const TrustedDeviceRecord &record) { return record.id == deviceID; });
    if (target == candidate.devices.end() || target->usbSerial == serial) {
        return;
    }
    for (TrustedDeviceRecord &record : candidate.devices) {
        if (record.usbSerial == serial) {
            record.usbSerial.reset();
        }
    }
    target->usbSerial = serial;
    commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："));
}

void TransferStore::reloadTrustedRegistryIfEmpty()
{
    if (!m_trustedDevices.isEmpty()) {
        return;
    }
    try {
        reloadTrustedRegistry();
    } catch (const std::exception &error) {
        setPhase(Phase::failed(describe(error)));
    }
}

void TransferStore::reloadTrustedRegistry()
{
    m_trustedRegistry = m_trustedRegistryStore.load();
    publishTrustedRegistry();
}

std::optional<QString> TransferStore::currentPeerDisplayName() const
{
    switch (m_phase.kind) {
    case Phase::Kind::reconnecting:
    case Phase::Kind::awaitingConfirmation:
    case Phase::Kind::connected:
        return m_phase.text;
    default:
        break;
    }
    if (const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice()) {
        return selected->name;
    }
    return std::nullopt;
}

void TransferStore::revealReceiveFolder()
{
    const QString folder = receiveFolder();
    QDir().mkpath(folder);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(folder).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    }
}

void TransferStore::releaseScopedAccess()
{
    // Scoped access is a no-op here: a bookmark is the file's path.
    m_scopedURLs.clear();
}

// MARK: - Event pump

void TransferStore::drainEvents()
{
    if (!m_host) {
        return;
    }
    // One drain publishes the task list once, however many events it handles.
    ++m_deferTaskSignals;
    while (m_host) {
        const std::optional<TransferEvent> event = m_host->pollEvent();
        if (!event) {
            break;
        }
        handleTransferEvent(*event);
    }
    while (m_host) {
        const std::optional<ManagementResponse> response = m_host->pollManagementResponse();
        if (!response) {
            break;
        }
        routeManagementResponse(*response);
    }
    --m_deferTaskSignals;
    if (m_deferTaskSignals == 0 && m_tasksDirty) {
        m_tasksDirty = false;
        emit tasksChanged();
    }
}

void TransferStore::handleTransferEvent(const TransferEvent &event)
{
    using Status = TransferTaskRecord::Status;
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

void TransferStore::handlePaired(const TransferEvent &event)
{
    const QString failurePrefix = QStringLiteral("连接已建立，但无法安全保存设备信任：");
    try {
        const std::optional<QString> secret = m_host ? m_host->trustedPeerSecret() : std::nullopt;
        if (secret) {
            m_credentials.write(*secret, TransferCredentialStore::Account::trustedPeerSecret);

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
            m_trustedRegistryStore.save(candidate);
            m_trustedRegistry = candidate;
            publishTrustedRegistry();
            m_pendingPairingDeviceID.reset();
            if (m_trustedRegistry.devices.size() == 1) {
                for (qsizetype index = 0; index < m_tasks.size(); ++index) {
                    if (m_tasks[index].direction == TransferTaskRecord::Direction::sending &&
                        !m_tasks[index].trustedDeviceID) {
                        assignTrustedDevice(index, recordID);
                    }
                }
            }
        }
        if (!event.peerName.isEmpty()) {
            m_credentials.write(event.peerName, TransferCredentialStore::Account::trustedPeerName);
        }
    } catch (const std::exception &error) {
        setPhase(Phase::failed(failurePrefix + describe(error)));
        return;
    }
    setPhase(Phase::connected(event.peerName));
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
    persistTasks(false);
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

// MARK: - Tasks and their file

void TransferStore::persistTasks(bool immediately)
{
    if (m_persistenceTimer) {
        m_persistenceTimer->stop();
        m_persistenceTimer->deleteLater();
        m_persistenceTimer = nullptr;
    }
    const auto save = [this](const QList<TransferTaskRecord> &tasks) {
        try {
            m_taskRepository.save(tasks);
        } catch (const std::exception &error) {
            setPhase(Phase::failed(QStringLiteral("无法保存传输任务：") + describe(error)));
        }
    };
    if (immediately) {
        save(m_tasks);
        return;
    }
    m_persistenceTimer = new QTimer(this);
    m_persistenceTimer->setSingleShot(true);
    m_persistenceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_persistenceTimer, &QTimer::timeout, this, [this, save, snapshot = m_tasks] {
        m_persistenceTimer->deleteLater();
        m_persistenceTimer = nullptr;
        save(snapshot);
    });
    m_persistenceTimer->start(persistenceDelay);
}

void TransferStore::pruneFinishedTasks()
{
    int finished = 0;
    QList<TransferTaskRecord> kept;
    kept.reserve(m_tasks.size());
    for (const TransferTaskRecord &task : std::as_const(m_tasks)) {
        if (TransferTaskRecord::isFinished(task.status) && ++finished > maximumFinishedTasks) {
            continue;
        }
        kept.append(task);
    }
    m_tasks = std::move(kept);
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

namespace {

// A bookmark is the file's absolute path.
QByteArray bookmarkFor(const QString &path)
{
    return QFileInfo(path).absoluteFilePath().toUtf8();
}

QString resolvedBookmark(const QByteArray &bookmark)
{
    const QString path = QString::fromUtf8(bookmark);
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        throw FileOperationError(QStringLiteral("无法解析文件位置。"));
    }
    return path;
}

QString noSuchFileDescription(const QString &path)
{
    return QStringLiteral("“%1”不存在。").arg(QFileInfo(path).fileName());
}

} // namespace

void TransferStore::sendFiles(const QStringList &filePaths)
{
    if (filePaths.isEmpty()) {
        return;
    }
    m_notifications->requestAuthorizationIfNeeded();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QString &path : filePaths) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            setPhase(Phase::failed(noSuchFileDescription(path)));
            continue;
        }
        // A link is not sent through: only a regular file of its own counts.
        if (info.isSymLink() || !info.isFile()) {
            setPhase(Phase::failed(TransferTaskError(TransferTaskError::Case::notAFile).errorDescription()));
            continue;
        }
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
        tasksDidChange();
    }
    pruneFinishedTasks();
    persistTasks(true);
    startNextOutgoing();
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
    const QJsonObject payload{{QStringLiteral("id"), remoteFileID}, {QStringLiteral("transferId"), task.id}};
    const QString text = QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    QString failure;
    try {
        co_await requestManagement(QStringLiteral("files.download"), text);
        co_return;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self || m_activeManagedDownloadID != task.id) {
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

QCoro::Task<void> TransferStore::prepareManagedUpload(TransferTaskRecord task, QString directoryID)
{
    QPointer<TransferStore> self(this);
    const QJsonObject payload{{QStringLiteral("transferId"), task.id}, {QStringLiteral("directoryId"), directoryID}};
    const QString text = QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    QString failure;
    try {
        co_await requestManagement(QStringLiteral("files.prepare_upload"), text);
        if (self && m_preparingManagedUploadID == task.id) {
            m_preparedManagedUploadIDs.insert(task.id);
            m_preparingManagedUploadID.reset();
            startNextOutgoing();
        }
        co_return;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self) {
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
    const QString folder = receiveFolder();
    const QString fileName = event.fileName;
    const QByteArray bookmark = *task.destinationBookmark;
    const QString relativePath = *task.destinationRelativePath;
    const qint64 expectedSize = clampedByteCount(event.totalBytes);
    const TransferTaskRecord::DeliveryPurpose purpose = *task.deliveryPurpose;
    std::variant<ManagedDownloadDelivery::Result, QString> outcome;
    try {
        outcome = co_await runInBackground([=] {
            return ManagedDownloadDelivery::deliver(folder, fileName, bookmark, relativePath, expectedSize, purpose);
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
                         preview ? QStringLiteral("预览已就绪") : QStringLiteral("已保存到所选位置"));
        if (m_host) {
            try {
                m_host->acknowledgeReceivedTransfer(event.transferId);
            } catch (const std::exception &) {
                // The inbox copy is acknowledged again after the next start.
            }
        }
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

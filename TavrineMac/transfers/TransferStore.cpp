#include "TransferStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <chrono>

// The store's state and life cycle; its other operations live in the TransferStore*.cpp files beside this one.

namespace {

const QString transferService = QStringLiteral("com.drovan.tavrine.transfer");
// A partly received file whose task is gone waits this long for the phone to resume it.
constexpr auto unclaimedPartialLifetime = std::chrono::hours(24);

// The name under which the core keeps the part received so far of transfer `id` in the inbox.
QString incomingPartialName(const QString &id)
{
    const QByteArray digest = QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral(".tavrine-incoming-") + QString::fromLatin1(digest.left(16).toHex()) +
           QStringLiteral(".part");
}

// Removes the parts of receives that no unfinished task refers to, once they have not grown for a day. A part whose
// task the file lost in a crash is kept until then, since the phone resumes the same transfer id from it.
void removeUnclaimedPartials(const QString &inbox, const QList<TransferTaskRecord> &tasks)
{
    QSet<QString> claimed;
    for (const TransferTaskRecord &task : tasks) {
        if (task.direction == TransferTaskRecord::Direction::receiving &&
            !TransferTaskRecord::isFinished(task.status)) {
            claimed.insert(incomingPartialName(task.id));
        }
    }
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addSecs(
        -std::chrono::duration_cast<std::chrono::seconds>(unclaimedPartialLifetime).count());
    const QDir folder(inbox);
    const QFileInfoList partials =
        folder.entryInfoList({QStringLiteral(".tavrine-incoming-*.part")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &partial : partials) {
        if (partial.isFile() && !partial.isSymLink() && !claimed.contains(partial.fileName()) &&
            partial.lastModified().toUTC() < oldest) {
            QFile::remove(partial.filePath());
        }
    }
}

} // namespace

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
    m_managementResponseTimer.setTimerType(Qt::PreciseTimer);
    m_managementResponseTimer.setInterval(managementResponsePollInterval);
    connect(&m_managementResponseTimer, &QTimer::timeout, this, &TransferStore::drainManagementResponses);
    m_persistenceTimer.setSingleShot(true);
    m_persistenceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_persistenceTimer, &QTimer::timeout, this, &TransferStore::saveTasks);
    m_managedDownloadStartTimer.setSingleShot(true);
    connect(&m_managedDownloadStartTimer, &QTimer::timeout, this, &TransferStore::failUnstartedManagedDownload);
    m_pollingTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pollingTimer, &QTimer::timeout, this, &TransferStore::drainEvents);
    m_taskFileRetryTimer.setSingleShot(true);
    connect(&m_taskFileRetryTimer, &QTimer::timeout, this, &TransferStore::saveTasks);
    m_hostStartRetryTimer.setInterval(m_environment.hostStartRetryInterval);
    connect(&m_hostStartRetryTimer, &QTimer::timeout, this, &TransferStore::retryHostStart);

    m_taskWriter = std::make_unique<TaskFileWriter>(
        m_taskRepository, this, [this](const QString &description) { taskFileSaveFailed(description); },
        [this] { return m_tasks; }, [this](quint64 request) { taskFileWritten(request); });
    m_taskRepository.removeLeftoverTemporaryFiles();
    m_tasks = m_taskRepository.load();
    for (TransferTaskRecord &task : m_tasks) {
        restoreTaskAfterRelaunch(task);
    }
    removeUnclaimedPartials(receiveFolder(), m_tasks);
}

TransferStore::~TransferStore()
{
    // Waiting callers hear of the end instead of waiting forever.
    failPendingManagementRequests(DeviceManagementRequestError::disconnected());
    // A delayed save still pending goes to the writer, which writes it before it finishes: quitting right after a
    // change must not lose it.
    if (m_persistenceTimer.isActive() || m_immediateSaveDue) {
        saveTasks();
    }
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

void TransferStore::endDeferringTaskSignals()
{
    if (--m_deferTaskSignals > 0) {
        return;
    }
    if (m_immediateSaveDue) {
        saveTasks();
    }
    if (m_tasksDirty) {
        m_tasksDirty = false;
        emit tasksChanged();
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

void TransferStore::adoptTrustedRegistry(const TrustedDeviceRegistry &registry)
{
    m_trustedRegistry = registry;
    ++m_registryGeneration;
    publishTrustedRegistry();
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

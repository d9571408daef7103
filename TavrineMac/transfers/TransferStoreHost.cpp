#include "BackgroundTask.h"
#include "CoreMessageText.h"
#include "SystemErrorText.h"
#include "TransferStore.h"
#include "TransferStorePrivate.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using transferStorePrivate::describe;
using transferStorePrivate::newLowerCaseUuid;

namespace {

const QString noLocalNetworkMessage = QStringLiteral("请先让电脑连接到局域网，然后重试。");
const QString waitingForDeviceMessage = QStringLiteral("等待原设备重新连接");

// Whether a listening socket may take `port` on `address` now, as the host's would: no other program listens there.
bool portIsFree(const QString &address, quint16 port)
{
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    // What keeps a probe from being made is for the start itself to report.
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &endpoint.sin_addr) != 1) {
        return true;
    }
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return true;
    }
    const int enabled = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &enabled, sizeof enabled);
    const bool bound = ::bind(probe, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) == 0;
    ::close(probe);
    return bound;
}

// Why files cannot be received into `folder`, which is made when it is missing; nothing when they can.
std::optional<QString> receiveFolderProblemOf(const QString &folder)
{
    QString reason;
    if (!QDir().mkpath(folder)) {
        // The folder above it is missing, or is a link to a disk that is not mounted.
        reason = QFileInfo(folder).isFile() || QFileInfo(QFileInfo(folder).path()).isFile()
                     ? QStringLiteral("路径上有一个同名的文件")
                     : QStringLiteral("文件夹不存在，它所在的磁盘可能没有连接");
    } else if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        reason = SystemErrorText::describe(errno);
    } else {
        return std::nullopt;
    }
    return QStringLiteral(
               "无法使用接收文件夹“%1”：%2。暂时不能接收手机发来的文件，发送不受影响；文件夹恢复后会自动重试。")
        .arg(QDir::toNativeSeparators(folder), reason);
}

} // namespace

// MARK: - Start-up and host lifecycle

QString TransferStore::deviceName() const
{
    return m_environment.deviceName ? *m_environment.deviceName : computerDisplayName(*m_environment.computerName);
}

QCoro::Task<void> TransferStore::startUp()
{
    if (m_host) {
        co_return;
    }
    QPointer<TransferStore> self(this);
    // The keyring may take its time: a pairing made meanwhile holds a registry and a host that are newer than what
    // start-up set out from, and they stay.
    const LinkMoment loadStarted = linkMoment();
    const TrustedDeviceRegistryStore registryStore = m_trustedRegistryStore;
    std::variant<TrustedDeviceRegistry, QString> loaded;
    bool keychainFailed = false;
    try {
        loaded = co_await runInBackground([registryStore] { return registryStore.load(); });
    } catch (const TransferCredentialError &error) {
        loaded = describe(error);
        keychainFailed = error.errorCase() == TransferCredentialError::Case::keychain;
    } catch (const std::exception &error) {
        loaded = describe(error);
    }
    if (!self || linkMoment() != loadStarted) {
        co_return;
    }
    if (const auto *failure = std::get_if<QString>(&loaded)) {
        setPhase(Phase::failed(*failure));
        if (keychainFailed) {
            retryStartUpLater();
        }
        co_return;
    }
    adoptTrustedRegistry(std::get<TrustedDeviceRegistry>(loaded));
    noteStoredRegistry();
    const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice();
    if (!selected) {
        co_return;
    }
    const LinkMoment hostStarted = linkMoment();
    try {
        co_await restartHost(*selected);
    } catch (const TransferCredentialError &error) {
        if (self && linkMoment() == hostStarted) {
            setPhase(Phase::failed(describe(error)));
            if (error.errorCase() == TransferCredentialError::Case::keychain) {
                retryStartUpLater();
            }
        }
    } catch (const std::exception &error) {
        if (self && linkMoment() == hostStarted) {
            failHostStart(error);
        }
    }
}

void TransferStore::retryStartUpLater()
{
    // A locked keyring, or one whose service is not running yet, is usable again once the user unlocks it or the
    // service starts: nothing tells us when, so start-up is simply tried again while its failure is what shows. A
    // damaged item is not: it waits for a new pairing.
    const quint64 attempt = ++m_startUpRetry;
    const Phase shown = m_phase;
    QTimer::singleShot(m_environment.keyringRetryInterval, this, [this, attempt, shown] {
        if (attempt == m_startUpRetry && !m_host && m_phase == shown) {
            startUp();
        }
    });
}

void TransferStore::checkReceiveFolder()
{
    const quint64 check = ++m_receiveFolderCheck;
    const std::optional<QString> problem = receiveFolderProblemOf(receiveFolder());
    const bool cameBack = m_receiveFolderProblem && !problem;
    if (m_receiveFolderProblem != problem) {
        m_receiveFolderProblem = problem;
        emit receiveFolderProblemChanged();
    }
    if (problem && m_host) {
        QTimer::singleShot(m_environment.receiveFolderRetryInterval, this, [this, check] {
            if (check == m_receiveFolderCheck && m_host) {
                checkReceiveFolder();
            }
        });
    } else if (cameBack && m_host) {
        // Downloads received before the folder went away are delivered now.
        reconcileReceivedDownloads();
    }
}

QCoro::Task<void> TransferStore::restartHost(TrustedDeviceRecord record)
{
    QPointer<TransferStore> self(this);
    // A host started, or a registry changed, while the keyring was busy is newer than this start, which gives way.
    const LinkMoment started = linkMoment();
    const std::optional<QString> address = m_environment.localAddress->localIPv4Address();
    if (!address) {
        failHostStart(noLocalNetworkMessage);
        co_return;
    }
    const TransferCredentialStore credentials = m_credentials;
    const std::optional<QString> identity = co_await runInBackground(
        [credentials] { return credentials.read(TransferCredentialStore::Account::hostIdentity); });
    if (!self || linkMoment() != started) {
        co_return;
    }
    std::unique_ptr<TransferHostProtocol> host =
        m_environment.startHost(*address, receiveFolder(), deviceName(), identity.value_or(QString()), record.secret);
    if (!identity) {
        const QString material = host->identityMaterial();
        co_await runInBackground(
            [credentials, material] { credentials.write(material, TransferCredentialStore::Account::hostIdentity); });
        if (!self || linkMoment() != started) {
            co_return;
        }
    }
    adoptHost(std::move(host));
    setPhase(Phase::reconnecting(record.name));
    startEventPump();
    checkReceiveFolder();
    reconcileReceivedDownloads();
}

void TransferStore::adoptHost(std::unique_ptr<TransferHostProtocol> host)
{
    m_takenPort.reset();
    m_hostStartRetryTimer.stop();
    m_host = std::move(host);
    ++m_hostGeneration;
    setPairingPayload(m_host->pairingPayload());
    setConfirmationCode(m_host->confirmationCode());
}

void TransferStore::startHost(bool withTrustedPeer, const QString &secret)
{
    const std::optional<QString> address = m_environment.localAddress->localIPv4Address();
    if (!address) {
        failHostStart(noLocalNetworkMessage);
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
        failHostStart(error);
        return;
    }
    adoptHost(std::move(host));
    const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice();
    setPhase(withTrustedPeer && selected ? Phase::reconnecting(selected->name) : Phase::pairing());
    startEventPump();
    checkReceiveFolder();
    reconcileReceivedDownloads();
}

void TransferStore::failHostStart(const std::exception &error)
{
    // The core's own words are English.
    const auto *coreError = dynamic_cast<const TavrineCoreError *>(&error);
    if (!coreError || coreError->kind() != TavrineCoreError::Case::ServiceStart) {
        failHostStart(describe(error));
        return;
    }
    const std::optional<QString> text = CoreMessageText::describeServiceStart(coreError->details());
    failHostStart(text.value_or(describe(error)), CoreMessageText::takenPort(coreError->details()));
}

void TransferStore::failHostStart(const QString &message, std::optional<quint16> takenPort)
{
    setPhase(Phase::failed(message));
    // Only a port that another program lets go of later mends itself; nothing tells when, so it is looked at now
    // and then, and whenever the user refreshes.
    m_takenPort = takenPort ? std::optional(TakenPort{*takenPort, m_phase}) : std::nullopt;
    if (m_takenPort) {
        m_hostStartRetryTimer.start();
    } else {
        m_hostStartRetryTimer.stop();
    }
}

void TransferStore::retryHostStart()
{
    if (m_host || !m_takenPort || m_phase != m_takenPort->failure) {
        m_hostStartRetryTimer.stop();
        return;
    }
    // The core waits a while for a port that is taken, which the event loop would wait with it: a port still held
    // is left for the next try.
    const std::optional<QString> address = m_environment.localAddress->localIPv4Address();
    if (address && !portIsFree(*address, m_takenPort->port)) {
        return;
    }
    if (m_pendingPairingDeviceID) {
        startHost(false, QString());
    } else if (const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice()) {
        startHost(true, selected->secret);
    } else {
        m_hostStartRetryTimer.stop();
    }
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
    ++m_hostGeneration;
    ++m_receiveFolderCheck;
    if (m_receiveFolderProblem) {
        m_receiveFolderProblem.reset();
        emit receiveFolderProblemChanged();
    }
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
            if (!m_deliveriesToAcknowledge.contains(task.id)) {
                acknowledgeDelivery(task.id);
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

// MARK: - Pairing

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

// MARK: - Receive folder

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

bool TransferStore::revealReceiveFolder()
{
    const QString folder = receiveFolder();
    QDir().mkpath(folder);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(folder).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    // Without a file manager on the bus the desktop's opener of folders is asked; it says only whether it started.
    return reply.type() != QDBusMessage::ErrorMessage || QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TransferStore::releaseScopedAccess()
{
    // Scoped access is a no-op here: a bookmark is the file's path.
    m_scopedURLs.clear();
}

#pragma once

#include "ComputerName.h"
#include "CredentialWriter.h"
#include "DeviceManagementRequestError.h"
#include "LocalIPv4Address.h"
#include "ManagedDownloadDelivery.h"
#include "TaskFileWriter.h"
#include "TransferCredentialStore.h"
#include "TransferEvent.h"
#include "TransferHost.h"
#include "TransferNotificationService.h"
#include "TransferTaskRecord.h"
#include "TransferTaskRepository.h"
#include "TrustedDeviceRegistry.h"
#include "TrustedDeviceRegistryStore.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class ManagementWaiter;

// What the store needs from the machine, replaceable in tests.
struct TransferStoreEnvironment
{
    using HostStarter = std::function<std::unique_ptr<TransferHostProtocol>(
        const QString &advertisedHost, const QString &inboxDirectory, const QString &deviceName,
        const QString &identityMaterial, const QString &trustedPeerSecret)>;

    std::shared_ptr<Keychain> keychain;                         // default: the Secret Service
    std::shared_ptr<LocalAddressProvider> localAddress;         // default: this machine's interfaces
    std::shared_ptr<TransferNotificationService> notifications; // default: the desktop's notifications
    HostStarter startHost;                                      // default: TransferHost::start
    std::optional<QString> receiveFolder;                       // default: Downloads/Tavrine
    std::optional<QString> deviceName;                          // default: from computerName
    std::shared_ptr<ComputerNameProvider> computerName;         // default: hostnamed and the kernel
    std::chrono::milliseconds managementTimeout = std::chrono::seconds(20);
    // How long a download that the phone has agreed to send may wait for its first bytes.
    std::chrono::milliseconds managedDownloadStartTimeout = std::chrono::seconds(30);
    // How often a receive folder that cannot be used, a keyring that could not be read at start-up, and a host start
    // that found the phone's port held by another program are tried again.
    std::chrono::milliseconds receiveFolderRetryInterval = std::chrono::seconds(5);
    std::chrono::milliseconds keyringRetryInterval = std::chrono::seconds(5);
    std::chrono::milliseconds hostStartRetryInterval = std::chrono::seconds(5);
    // How often a task file that could not be saved is tried again while it cannot.
    std::chrono::milliseconds taskFileRetryInterval = std::chrono::seconds(5);
};

// The store of the link with the phone: owns the core host, publishes the connection phase, the pairing
// material, the latest event, the transfer tasks and the trusted phones, and keeps the trusted-device
// registry in step with the host. Lives on the GUI thread.
class TransferStore : public QObject
{
    Q_OBJECT

public:
    struct Phase
    {
        enum class Kind
        {
            idle,
            pairing,
            awaitingConfirmation,
            connected,
            reconnecting,
            failed
        };

        Kind kind = Kind::idle;
        QString text; // the peer name, or the failure message

        static Phase idle() { return {Kind::idle, {}}; }
        static Phase pairing() { return {Kind::pairing, {}}; }
        static Phase awaitingConfirmation(const QString &peerName) { return {Kind::awaitingConfirmation, peerName}; }
        static Phase connected(const QString &peerName) { return {Kind::connected, peerName}; }
        static Phase reconnecting(const QString &peerName) { return {Kind::reconnecting, peerName}; }
        static Phase failed(const QString &message) { return {Kind::failed, message}; }
        bool operator==(const Phase &) const = default;
    };

    static constexpr auto pollInterval = std::chrono::milliseconds(100);
    // How often events are looked for while a file is on its way, so that the next one starts as soon as it ends.
    static constexpr auto activeTransferPollInterval = std::chrono::milliseconds(2);
    // For this long after a file starts on its way the pump looks again on every turn of the event loop, so that
    // a small file's end is seen at once and the next one follows it without waiting for a period.
    static constexpr auto eagerPollingSpell = std::chrono::milliseconds(5);
    static constexpr auto persistenceDelay = std::chrono::milliseconds(300);
    // While changes keep coming, the task file is written at least this often all the same.
    static constexpr auto longestPersistenceDelay = std::chrono::seconds(2);
    static constexpr auto managedDownloadPollInterval = std::chrono::milliseconds(100);
    // How often answers to management requests are looked for while one is awaited.
    static constexpr auto managementResponsePollInterval = std::chrono::milliseconds(2);
    static constexpr int maximumCompletedTransfers = 20;
    static constexpr int maximumTrustedDevices = 20;
    static constexpr int maximumFinishedTasks = 200;
    // Events the pump takes in one turn of the event loop; a fuller queue is taken over the next turns.
    static constexpr int maximumEventsPerDrain = 500;

    explicit TransferStore(TransferTaskRepository taskRepository, TransferStoreEnvironment environment = {},
                           QObject *parent = nullptr);
    // The event pump's present period, for tests.
    std::chrono::milliseconds eventPumpInterval() const { return m_pollingTimer.intervalAsDuration(); }
    ~TransferStore() override;

    // Published state.
    const Phase &phase() const { return m_phase; }
    const std::optional<QString> &pairingPayload() const { return m_pairingPayload; }
    const std::optional<QString> &confirmationCode() const { return m_confirmationCode; }
    const std::optional<TransferEvent> &latestEvent() const { return m_latestEvent; }
    const QList<TransferEvent> &completedTransfers() const { return m_completedTransfers; }
    const QList<TransferTaskRecord> &tasks() const { return m_tasks; }
    const QList<TrustedDeviceRecord> &trustedDevices() const { return m_trustedDevices; }
    const std::optional<QString> &selectedTrustedDeviceID() const { return m_selectedTrustedDeviceID; }
    // True while a phone just paired waits for its trust to be kept: files sent meanwhile go to it once kept.
    bool isKeepingTrust() const { return m_pendingTrust != nullptr; }
    // Why the phone's files cannot be received now (the receive folder cannot be used); nothing while they can.
    const std::optional<QString> &receiveFolderProblem() const { return m_receiveFolderProblem; }
    // Why paths of the last hand-over of files were not taken (a folder, a link, a file gone), one reason a line;
    // nothing when it took every path, or once dismissed. The link is left as it is.
    const std::optional<QString> &sendRefusal() const { return m_sendRefusal; }
    void dismissSendRefusal();
    // Why the task list cannot be saved now ("无法保存传输任务：" and the reason); nothing once a save reaches the
    // disk. It is no failure of the link, which goes on meanwhile.
    const std::optional<QString> &taskFileProblem() const { return m_taskFileProblem; }

    bool hasHost() const { return m_host != nullptr; }
    const std::optional<QString> &pendingPairingDeviceID() const { return m_pendingPairingDeviceID; }
    // Returns once the trust of the last paired phone is in the keychain (or failed to go there), with the pairing
    // handled; true when a pairing was waiting for it.
    bool waitForCredentialWrites();
    void setPendingPairingDeviceID(const std::optional<QString> &id) { m_pendingPairingDeviceID = id; }

    // Start-up and host lifecycle.
    QCoro::Task<void> startUp();
    QCoro::Task<void> restartHost(TrustedDeviceRecord record);
    void startHost(bool withTrustedPeer, const QString &secret);
    // While the host could not start because another program held the phone's port, starts it again once the port
    // is free: the pairing under way, else the selected trusted phone's host. Does nothing otherwise.
    void retryHostStart();
    void stopHost();
    void startEventPump();
    void reconcileReceivedDownloads();

    // Pairing and trust.
    void beginNewPairing();
    void selectTrustedDevice(const QString &id);
    void renameTrustedDevice(const QString &id, const QString &name);
    void forgetTrustedDevice(const QString &id);
    void bindUSBSerial(const QString &serial, const QString &deviceID);
    bool saveTrustedRegistry();
    void reloadTrustedRegistryIfEmpty();
    void reloadTrustedRegistry();
    std::optional<QString> currentPeerDisplayName() const;

    // Receive folder.
    QString receiveFolder() const;
    // False when nothing on this computer could show it: no file manager answers and no program opens folders.
    [[nodiscard]] bool revealReceiveFolder();
    void releaseScopedAccess();

    // Event pump and handling.
    void drainEvents();
    // Sets the pump's period from what is on its way; looks on every turn for a spell after a file starts.
    void paceEventPump();
    void beginEagerPolling();
    void handleTransferEvent(const TransferEvent &event);
    void upsertTask(const TransferEvent &event, TransferTaskRecord::Status status);
    void assignTrustedDevice(qsizetype taskIndex, const QString &deviceID);
    void releaseOutgoing(const QString &transferID);
    void recordCompletion(const TransferEvent &event);

    // Management channel: resumes with the phone's answer, or throws DeviceManagementRequestError or
    // TavrineCoreError.
    QCoro::Task<QString> requestManagement(QString action, QString payload);
    void failPendingManagementRequests(const DeviceManagementRequestError &error);
    int pendingManagementRequestCount() const { return int(m_managementContinuations.size()); }

    // Tasks and their file.
    void persistTasks(bool immediately);
    // Returns once the task file holds every state written so far: the file is written on a thread of its own.
    void waitForTaskFile();
    void pruneFinishedTasks();
    static void restoreTaskAfterRelaunch(TransferTaskRecord &task);
    QList<TransferTaskRecord> activeTasks() const;
    double overallProgress() const;
    void updateTaskStatus(qsizetype index, TransferTaskRecord::Status status, const QString &message);

    // Outgoing sends and task controls. A hand-over gives how many of its paths became tasks.
    qsizetype sendFiles(const QStringList &filePaths);
    void startNextOutgoing();
    bool isEligibleForOutgoing(const TransferTaskRecord &task) const;
    void pauseTask(const QString &id);
    void resumeTask(const QString &id);
    void retryTask(const QString &id);
    void cancelTask(const QString &id);
    void clearFinishedTasks();

    // Managed uploads and downloads, and the delivery of downloaded files.
    void enqueueManagedUploads(const QList<PreparedManagedUploadFile> &files);
    void enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &files, const QString &destinationFolder);
    bool isStartableManagedDownload(const TransferTaskRecord &task) const;
    void retryManagedDownload(const TransferTaskRecord &task);
    void startNextManagedDownload();
    void deliverDownloadedFile(const TransferEvent &event);
    // Resumes with the path of the delivered file once the download has been delivered.
    QCoro::Task<QString> waitForManagedDownload(QString transferID);

signals:
    void phaseChanged();
    void pairingPayloadChanged();
    void confirmationCodeChanged();
    void latestEventChanged();
    void completedTransfersChanged();
    void tasksChanged();
    void trustedDevicesChanged();
    void selectedTrustedDeviceIDChanged();
    void receiveFolderProblemChanged();
    void sendRefusalChanged();
    void taskFileProblemChanged();

private:
    void setPhase(const Phase &phase);
    void setPairingPayload(const std::optional<QString> &payload);
    void setConfirmationCode(const std::optional<QString> &code);
    void setLatestEvent(const std::optional<TransferEvent> &event);
    void setSendRefusal(const std::optional<QString> &refusal);
    void tasksDidChange();
    // Ends one level of deferring; the last publishes the task list and writes the file when either is due.
    void endDeferringTaskSignals();
    void saveTasks();
    // Tells the host it may let go of its inbox copy of a delivered transfer; a failure leaves it for the next start.
    void acknowledgeDelivery(const QString &transferID);
    // A delivery is acknowledged only once the task file records it: until then, a restart must still find the
    // inbox copy to deliver from.
    void acknowledgeOnceWritten(const QString &transferID);
    void acknowledgeWrittenDeliveries(quint64 writeRequest);
    void taskFileSaveFailed(const QString &description);
    void taskFileWritten(quint64 writeRequest);
    // The host and the registry at one moment: work that waited gives way when either changed meanwhile.
    struct LinkMoment
    {
        quint64 hostGeneration = 0;
        quint64 registryGeneration = 0;
        bool operator==(const LinkMoment &) const = default;
    };
    LinkMoment linkMoment() const { return {m_hostGeneration, m_registryGeneration}; }
    void publishTrustedRegistry();
    // Makes `registry` the one in memory and publishes it.
    void adoptTrustedRegistry(const TrustedDeviceRegistry &registry);
    // Saves `candidate` and only then makes it the registry in memory; false (phase failed with the
    // prefix and the description) when it cannot be saved.
    bool commitTrustedRegistry(const TrustedDeviceRegistry &candidate, const QString &failurePrefix);
    // A transfer stopped running: its task takes `status` and its send or download slot is freed.
    void endTransfer(const TransferEvent &event, TransferTaskRecord::Status status);
    void handlePaired(const TransferEvent &event);
    // The rest of a pairing, once its trust is in the keychain; the pump holds the events behind it until then.
    bool applyPendingTrust();
    void finishPaired(const TransferEvent &event);
    // With the phone connected: the files that waited for it are queued, and the next transfers start.
    void resumeWaitingTransfers();
    CredentialWriter &credentialWriter();
    // The registry in memory is what the keychain holds: writing it again would change nothing.
    void noteStoredRegistry();
    void handleCompleted(const TransferEvent &event);
    void handleDisconnected(const TransferEvent &event);
    void routeManagementResponse(const ManagementResponse &response);
    void drainManagementResponses();
    qsizetype taskIndex(const QString &id) const;
    QString deviceName() const;
    // Makes the receive folder when it is missing and publishes why it cannot be used; while it cannot, it is looked
    // at again now and then, for as long as a host runs.
    void checkReceiveFolder();
    // Start-up failed on the keychain: it is tried again a while later, unless something else happened meanwhile.
    void retryStartUpLater();
    void adoptHost(std::unique_ptr<TransferHostProtocol> host);
    // Shows why the host did not start; a port held by another program is tried again while that failure shows.
    void failHostStart(const std::exception &error);
    void failHostStart(const QString &message, std::optional<quint16> takenPort = std::nullopt);
    void releaseTaskSlot(const QString &id);
    void requeueTask(const QString &id, bool (TransferTaskRecord::*allowed)() const, const QString &queuedMessage,
                     const QString &waitingMessage);
    QCoro::Task<void> prepareManagedUpload(TransferTaskRecord task, QString directoryID);
    QCoro::Task<void> requestManagedDownload(TransferTaskRecord task, QString remoteFileID);
    void failUnstartedManagedDownload();
    QCoro::Task<void> runDelivery(TransferTaskRecord task, TransferEvent event);
    void finishDelivery(const TransferEvent &event,
                        const std::variant<ManagedDownloadDelivery::Result, QString> &outcome);
    bool receivedFileIsHere(const TransferTaskRecord &task) const;
    static TransferEvent receivedEvent(const TransferTaskRecord &task);

    TransferStoreEnvironment m_environment;

    Phase m_phase;
    std::optional<QString> m_pairingPayload;
    std::optional<QString> m_confirmationCode;
    std::optional<TransferEvent> m_latestEvent;
    QList<TransferEvent> m_completedTransfers;
    QList<TransferTaskRecord> m_tasks;
    QList<TrustedDeviceRecord> m_trustedDevices;
    std::optional<QString> m_selectedTrustedDeviceID;

    std::unique_ptr<TransferHostProtocol> m_host;
    QTimer m_pollingTimer;
    QDeadlineTimer m_eagerPollingUntil;
    // The one pending debounced save; it writes the tasks as they are when it fires.
    QTimer m_persistenceTimer;
    // When the pending debounced save must be written at the latest.
    QDeadlineTimer m_persistenceDeadline;
    QHash<QString, QString> m_scopedURLs;
    std::optional<QString> m_activeOutgoingTaskID;
    std::optional<QString> m_activeManagedDownloadID;
    // Runs from the phone's yes to a download until its first bytes; the active download fails when it ends.
    QTimer m_managedDownloadStartTimer;
    TransferCredentialStore m_credentials;
    // Keychain writes go through it, off the event loop; made on first use.
    std::unique_ptr<CredentialWriter> m_credentialWriter;
    struct PendingTrust;
    // A pairing whose trust is on its way to the keychain.
    std::shared_ptr<PendingTrust> m_pendingTrust;
    // Counts host starts and stops, so that a pairing finished late knows whether its host is still the one running.
    quint64 m_hostGeneration = 0;
    TransferTaskRepository m_taskRepository;
    std::unique_ptr<TaskFileWriter> m_taskWriter;
    quint64 m_lastTaskWriteRequest = 0;
    // Delivered transfers whose inbox copy waits for the task file: each with the first write that records it.
    QHash<QString, quint64> m_deliveriesToAcknowledge;
    std::optional<QString> m_taskFileProblem;
    // Room on the disk comes back without a word: while a save fails, it is tried again now and then.
    QTimer m_taskFileRetryTimer;
    std::shared_ptr<TransferNotificationService> m_notifications;
    TrustedDeviceRegistryStore m_trustedRegistryStore;
    TrustedDeviceRegistry m_trustedRegistry;
    // Counts the registries made the one in memory, so that work that waited knows whether the registry it started
    // from is still the one.
    quint64 m_registryGeneration = 0;
    std::optional<QString> m_pendingPairingDeviceID;
    QHash<QString, std::shared_ptr<ManagementWaiter>> m_managementContinuations;
    QHash<QString, QTimer *> m_managementTimeoutTasks;
    QTimer m_managementResponseTimer;
    QSet<QString> m_preparedManagedUploadIDs;
    std::optional<QString> m_preparingManagedUploadID;
    // Count the preparations and the downloads asked for: a link that drops and comes back asks again for the same
    // task, and the failure of the request the drop cut short is no answer to the new one.
    quint64 m_managedUploadPreparation = 0;
    quint64 m_managedDownloadRequest = 0;
    QSet<QString> m_finalizingDeliveryIDs;
    std::optional<QString> m_receiveFolderProblem;
    std::optional<QString> m_sendRefusal;
    // Each check of the receive folder, and each stop, makes the look again that an earlier check planned void.
    quint64 m_receiveFolderCheck = 0;
    quint64 m_startUpRetry = 0;
    // The port another program held at the last host start, with the failure shown for it.
    struct TakenPort
    {
        quint16 port = 0;
        Phase failure;
    };
    std::optional<TakenPort> m_takenPort;
    QTimer m_hostStartRetryTimer;

    // Inside a drain or a hand-over of files, task signals and immediate saves wait for its end, so that a batch
    // publishes and writes once.
    int m_deferTaskSignals = 0;
    bool m_tasksDirty = false;
    bool m_immediateSaveDue = false;
};

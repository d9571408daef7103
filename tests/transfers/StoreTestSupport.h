#pragma once

#include "AwaitTask.h"
#include "FakeTransferHost.h"
#include "InMemoryKeychain.h"
#include "TestSupport.h"
#include "TransferNotificationService.h"
#include "TransferStore.h"
#include "TrustedDeviceRegistryStore.h"

#include <QTemporaryDir>

#include <qcorotask.h>

#include <algorithm>
#include <exception>
#include <memory>

// The text `task` ends with: its value, or the description of its error.
template <typename Task> QString outcomeOf(Task &&task)
{
    try {
        return awaitTask(task);
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    }
}

// Notifications that are only recorded.
struct RecordingNotificationSink : NotificationSink
{
    struct Log
    {
        int authorizationRequests = 0;
        QList<TransferNotification> posted;
    };

    explicit RecordingNotificationSink(std::shared_ptr<Log> shared) : log(std::move(shared)) {}
    void requestAuthorization() override { ++log->authorizationRequests; }
    void post(const TransferNotification &notification) override { log->posted.append(notification); }

    std::shared_ptr<Log> log;
};

// This computer's names as a test sets them; a null pretty name is one the system does not have.
struct FixedComputerNames : ComputerNameProvider
{
    QString pretty;
    QString host = QStringLiteral("test-host");

    std::optional<QString> prettyHostName() const override
    {
        return pretty.isNull() ? std::nullopt : std::optional(pretty);
    }
    QString hostName() const override { return host; }
};

// An event of the link with phone `peerName`.
inline TransferEvent linkEvent(TransferEventKind kind, const QString &peerName = QStringLiteral("Pixel"),
                               const QString &peerId = QStringLiteral("peer-1"))
{
    return {kind, TransferDirection::none, {}, {}, 0, 0, peerName, peerId, {}};
}

// An event of a transfer of "a.jpg" with its byte counts.
inline TransferEvent transferEvent(TransferEventKind kind, TransferDirection direction, const QString &transferId,
                                   uint64_t transferredBytes = 0, uint64_t totalBytes = 0)
{
    return {kind, direction, transferId, QStringLiteral("a.jpg"), transferredBytes, totalBytes, {}, {}, {}};
}

// Trusted phone number `number`: an id and a secret of its own.
inline TrustedDeviceRecord trustedPhone(const QString &name, int number)
{
    const QDateTime created = QDateTime::fromSecsSinceEpoch(1'700'000'000 + number, Qt::UTC);
    return {QStringLiteral("00000000-0000-4000-8000-%1").arg(number, 12, 10, QLatin1Char('0')),
            name,
            QStringLiteral("0123456789abcdef0123456789abcdef") + QString::number(number),
            {},
            {},
            created,
            created};
}

// A task of file "<id>.jpg" as the task file keeps it.
inline TransferTaskRecord taskRecord(const QString &id, TransferTaskRecord::Direction direction,
                                     TransferTaskRecord::Status status)
{
    const QDateTime created = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    return {.id = id,
            .direction = direction,
            .peerName = QStringLiteral("Pixel"),
            .fileName = id + QStringLiteral(".jpg"),
            .status = status,
            .createdAt = created,
            .updatedAt = created};
}

// A managed download of "<id>.jpg" of `size` bytes into `destination`, of which `received` bytes arrived.
inline TransferTaskRecord downloadTask(const QString &id, const QString &destination, TransferTaskRecord::Status status,
                                       qint64 received = 0, qint64 size = 5)
{
    TransferTaskRecord task = taskRecord(id, TransferTaskRecord::Direction::receiving, status);
    task.remoteFileID = QStringLiteral("remote-") + id;
    task.destinationBookmark = destination.toUtf8();
    task.destinationRelativePath = task.fileName;
    task.deliveryPurpose = TransferTaskRecord::DeliveryPurpose::export_;
    task.transferredBytes = received;
    task.totalBytes = size;
    return task;
}

inline PreparedManagedDownloadFile
preparedDownload(const QString &id, const QString &relativePath, qint64 size = 5,
                 TransferTaskRecord::DeliveryPurpose purpose = TransferTaskRecord::DeliveryPurpose::export_)
{
    return {id, QStringLiteral("remote-") + id, QFileInfo(relativePath).fileName(), size, relativePath, purpose, {}, {},
            {}};
}

inline const TransferTaskRecord *taskWithId(const TransferStore &store, const QString &id)
{
    const QList<TransferTaskRecord> &tasks = store.tasks();
    const auto found = std::find_if(tasks.begin(), tasks.end(), [&](const auto &task) { return task.id == id; });
    return found == tasks.end() ? nullptr : &*found;
}

// The task's status; `failed` when there is no such task.
inline TransferTaskRecord::Status statusOf(const TransferStore &store, const QString &id)
{
    const TransferTaskRecord *task = taskWithId(store, id);
    return task ? task->status : TransferTaskRecord::Status::failed;
}

// A store over a fake core host, an in-memory keychain and a task file in a temporary folder.
struct StoreFixture
{
    QTemporaryDir folder;
    std::shared_ptr<InMemoryKeychain> keychain = std::make_shared<InMemoryKeychain>();
    // The keychain the store is given, when it is not `keychain` itself (one that wraps it, say).
    std::shared_ptr<Keychain> environmentKeychain;
    std::shared_ptr<FakeTransferHost::Script> host = std::make_shared<FakeTransferHost::Script>();
    std::shared_ptr<RecordingNotificationSink::Log> notifications = std::make_shared<RecordingNotificationSink::Log>();
    std::shared_ptr<FixedComputerNames> computerNames = std::make_shared<FixedComputerNames>();
    std::optional<QString> address = QStringLiteral("127.0.0.1");
    std::optional<QString> deviceName = QStringLiteral("Test computer");
    std::chrono::milliseconds managementTimeout = std::chrono::seconds(20);
    std::chrono::milliseconds managedDownloadStartTimeout = std::chrono::seconds(30);
    // Of the receive folder, the keyring, the task file and a port held by another program.
    std::chrono::milliseconds retryInterval = std::chrono::seconds(5);
    QString inboxPath;                                                 // empty: "inbox" in the fixture's folder
    std::unique_ptr<TransferStore> store;

    QString taskFile() const { return folder.filePath(QStringLiteral("transfer-tasks-v1.json")); }
    QString inbox() const { return inboxPath.isEmpty() ? folder.filePath(QStringLiteral("inbox")) : inboxPath; }
    // The host calls that start with `prefix`, such as "send:" or "request:files.download".
    QStringList calls(const QString &prefix) const { return host->calls.filter(prefix); }
    void saveTasks(const QList<TransferTaskRecord> &tasks) const { TransferTaskRepository(taskFile()).save(tasks); }

    TransferStore &make()
    {
        TransferStoreEnvironment environment;
        environment.keychain = environmentKeychain ? environmentKeychain : keychain;
        environment.localAddress = std::make_shared<FixedLocalAddressProvider>(address);
        environment.notifications =
            std::make_shared<TransferNotificationService>(std::make_unique<RecordingNotificationSink>(notifications));
        environment.startHost = FakeTransferHost::starter(host);
        environment.receiveFolder = inbox();
        environment.deviceName = deviceName;
        environment.computerName = computerNames;
        environment.managementTimeout = managementTimeout;
        environment.managedDownloadStartTimeout = managedDownloadStartTimeout;
        environment.receiveFolderRetryInterval = retryInterval;
        environment.keyringRetryInterval = retryInterval;
        environment.taskFileRetryInterval = retryInterval;
        environment.hostStartRetryInterval = retryInterval;
        store.reset();
        store = std::make_unique<TransferStore>(TransferTaskRepository(taskFile()), environment);
        return *store;
    }

    // A store that has paired with "Pixel" and is connected.
    TransferStore &makePaired()
    {
        make();
        pair();
        return *store;
    }

    // Writes `bytes` to the file at `relativePath` in the fixture's folder and gives its path.
    QString writeFile(const QString &relativePath, const QByteArray &bytes = "a") const
    {
        ::writeFile(folder.filePath(relativePath), bytes);
        return folder.filePath(relativePath);
    }

    TrustedDeviceRegistryStore registryStore() const
    {
        return TrustedDeviceRegistryStore(
            TransferCredentialStore(QStringLiteral("com.drovan.tavrine.transfer"), keychain));
    }

    void saveRegistry(const QList<TrustedDeviceRecord> &devices, int selected = 0) const
    {
        registryStore().save({1, devices.isEmpty() ? std::nullopt : std::optional(devices[selected].id), devices});
    }

    std::optional<QString> keychainText(TransferCredentialStore::Account account) const
    {
        const auto item = keychain->item(QStringLiteral("com.drovan.tavrine.transfer"),
                                         TransferCredentialStore::accountName(account));
        return item ? std::optional(QString::fromUtf8(*item)) : std::nullopt;
    }

    void deliver(const QList<TransferEvent> &events)
    {
        host->events.insert(host->events.end(), events.begin(), events.end());
        store->drainEvents();
        // A pairing holds the events behind it until the phone's trust is in the keychain.
        while (store->waitForCredentialWrites()) {
            store->drainEvents();
        }
    }

    // The phone's answer to the `number`th management request, routed at once.
    void answer(int number, bool success, const QString &text = QStringLiteral("{}"))
    {
        ManagementResponse response{QStringLiteral("request-%1").arg(number), {}, success, {}, {}};
        (success ? response.payload : response.message) = text;
        host->responses.push_back(response);
        store->drainEvents();
    }

    // Pairs a phone through the events of a new pairing; leaves the store connected.
    void pair(const QString &peerName = QStringLiteral("Pixel"), const QString &peerId = QStringLiteral("peer-1"),
              const QString &secret = QStringLiteral("0123456789abcdef0123456789abcdef-secret"))
    {
        store->beginNewPairing();
        host->trustedPeerSecret = secret;
        deliver({linkEvent(TransferEventKind::connecting, {}, {}),
                 linkEvent(TransferEventKind::awaitingConfirmation, peerName, peerId),
                 linkEvent(TransferEventKind::paired, peerName, peerId)});
    }
};

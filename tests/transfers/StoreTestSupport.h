#pragma once

#include "FakeTransferHost.h"
#include "InMemoryKeychain.h"
#include "TransferNotificationService.h"
#include "TransferStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <qcorotask.h>

#include <exception>
#include <memory>
#include <stdexcept>

// Runs the event loop until `task` has finished and gives its value or rethrows its error. Unlike
// QCoro::waitFor it also returns for a task that finished before the call, and it gives up after 30 s.
template <typename T> T awaitTask(QCoro::Task<T> &task)
{
    bool done = false;
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    // The closure must outlive the coroutine: its body reaches the captures through it.
    const auto body = [&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await task;
                value = true;
            } else {
                value = co_await task;
            }
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    };
    QCoro::Task<void> waiter = body();
    const QDeadlineTimer deadline(30'000);
    while (!done && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    if (!done) {
        throw std::runtime_error("the task did not finish within 30 s");
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*value);
    }
}

template <typename T> T awaitTask(QCoro::Task<T> &&task)
{
    return awaitTask(task);
}

// The description of the error `task` ends with; a marker text when it ends without one.
template <typename T> QString failureOf(QCoro::Task<T> &task)
{
    try {
        awaitTask(task);
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    }
    return QStringLiteral("<no failure>");
}

// Notifications that are only recorded.
class RecordingNotificationSink : public NotificationSink
{
public:
    struct Log
    {
        int authorizationRequests = 0;
        QList<TransferNotification> posted;
    };

    explicit RecordingNotificationSink(std::shared_ptr<Log> log) : m_log(std::move(log)) {}
    void requestAuthorization() override { ++m_log->authorizationRequests; }
    void post(const TransferNotification &notification) override { m_log->posted.append(notification); }

private:
    std::shared_ptr<Log> m_log;
};

inline TransferEvent makeEvent(TransferEventKind kind, TransferDirection direction = TransferDirection::none,
                               const QString &transferId = {}, const QString &peerName = {}, const QString &peerId = {})
{
    TransferEvent event;
    event.kind = kind;
    event.direction = direction;
    event.transferId = transferId;
    event.peerName = peerName;
    event.peerId = peerId;
    return event;
}

// A store over a fake core host, an in-memory keychain and a task file in a temporary folder.
struct StoreFixture
{
    QTemporaryDir folder;
    std::shared_ptr<InMemoryKeychain> keychain = std::make_shared<InMemoryKeychain>();
    std::shared_ptr<FakeTransferHost::Script> host = std::make_shared<FakeTransferHost::Script>();
    std::shared_ptr<RecordingNotificationSink::Log> notifications = std::make_shared<RecordingNotificationSink::Log>();
    std::optional<QString> address = QStringLiteral("127.0.0.1");
    std::chrono::milliseconds managementTimeout = std::chrono::seconds(20);
    std::unique_ptr<TransferStore> store;

    QString taskFile() const { return folder.filePath(QStringLiteral("transfer-tasks-v1.json")); }

    TransferStore &make()
    {
        TransferStoreEnvironment environment;
        environment.keychain = keychain;
        environment.localAddress = std::make_shared<FixedLocalAddressProvider>(address);
        environment.notifications =
            std::make_shared<TransferNotificationService>(std::make_unique<RecordingNotificationSink>(notifications));
        environment.startHost = FakeTransferHost::starter(host);
        environment.receiveFolder = folder.filePath(QStringLiteral("inbox"));
        environment.deviceName = QStringLiteral("Test computer");
        environment.managementTimeout = managementTimeout;
        store.reset();
        store = std::make_unique<TransferStore>(TransferTaskRepository(taskFile()), environment);
        return *store;
    }

    void deliver(std::initializer_list<TransferEvent> events)
    {
        for (const TransferEvent &event : events) {
            host->events.push_back(event);
        }
        store->drainEvents();
    }

    // Pairs a phone through the events of a new pairing; leaves the store connected.
    void pair(const QString &peerName = QStringLiteral("Pixel"), const QString &peerId = QStringLiteral("peer-1"),
              const QString &secret = QStringLiteral("0123456789abcdef0123456789abcdef-secret"))
    {
        store->beginNewPairing();
        host->trustedPeerSecret = secret;
        deliver({makeEvent(TransferEventKind::connecting),
                 makeEvent(TransferEventKind::awaitingConfirmation, TransferDirection::none, {}, peerName, peerId),
                 makeEvent(TransferEventKind::paired, TransferDirection::none, {}, peerName, peerId)});
    }
};

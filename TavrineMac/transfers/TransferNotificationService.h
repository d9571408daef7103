#pragma once

#include <optional>

#include "TransferTaskRecord.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

// One notification as the user sees it. The identifier is unique, so notifications never replace one
// another.
struct TransferNotification
{
    QString identifier;
    QString title;
    QString body;

    bool operator==(const TransferNotification &) const = default;
};

// Where notifications go: the desktop's notification service, or a recorder in tests.
class NotificationSink
{
public:
    virtual ~NotificationSink() = default;

    // Asked at most once per TransferNotificationService.
    virtual void requestAuthorization() = 0;
    // Fire and forget: a failed delivery is never reported.
    virtual void post(const TransferNotification &notification) = 0;
};

// org.freedesktop.Notifications on a D-Bus connection (the session bus by default). The desktop asks no
// permission, so authorization only makes sure the service is reachable; every call is asynchronous and
// its answer and errors are dropped.
class DBusNotificationSink final : public NotificationSink
{
public:
    explicit DBusNotificationSink(const QDBusConnection &connection = QDBusConnection::sessionBus());
    ~DBusNotificationSink() override;

    void requestAuthorization() override;
    void post(const TransferNotification &notification) override;
    const std::optional<bool> &readsBodyMarkup() const { return *m_readsBodyMarkup; }

private:
    QDBusConnection m_connection;
    // Whether the desktop's notification server reads markup in a body: asked once when the sink is made, and
    // known long before the first transfer ends; none until the server answers.
    std::shared_ptr<std::optional<bool>> m_readsBodyMarkup = std::make_shared<std::optional<bool>>();
    // Posts waiting for the next turn of the event loop go with the sink.
    std::unique_ptr<QObject> m_context = std::make_unique<QObject>();
    // Puts the messages together and sends them, one after another, on a thread of its own started by the first
    // post: many files finishing one after another leave the event loop free for the next.
    std::unique_ptr<QThread> m_senderThread;
    std::unique_ptr<QObject> m_sender;
};

// Tells the user that a transfer has finished.
class TransferNotificationService
{
public:
    TransferNotificationService();
    explicit TransferNotificationService(std::unique_ptr<NotificationSink> sink);

    bool didRequestAuthorization() const { return m_didRequestAuthorization; }
    void requestAuthorizationIfNeeded();
    void notifyTransferFinished(const QString &fileName, TransferTaskRecord::Direction direction);

    // Empty until the first notification.
    QString lastNotificationIdentifier() const { return m_lastNotificationIdentifier; }

private:
    std::unique_ptr<NotificationSink> m_sink;
    bool m_didRequestAuthorization = false;
    QString m_lastNotificationIdentifier;
};

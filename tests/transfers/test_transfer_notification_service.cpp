#include "TransferNotificationService.h"

#include <QDBusConnection>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace Qt::StringLiterals;

using Direction = TransferTaskRecord::Direction;

namespace {

const QString serverConnectionName = u"fake-notification-server"_s;
const QString identifierPrefix = u"tavrine-transfer-"_s;
constexpr int deliveryTimeoutMilliseconds = 5000;

} // namespace

// Stands in for the desktop's notification daemon on the test's private session bus.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notification
    {
        QString appName;
        uint replacesID = 0;
        QString summary;
        QString body;
        QVariantMap hints;
        int expireTimeout = 0;
    };

    int capabilityRequests = 0;
    QList<Notification> notifications;

public slots:
    QStringList GetCapabilities()
    {
        ++capabilityRequests;
        return {u"body"_s, u"sound"_s};
    }

    uint Notify(const QString &appName, uint replacesID, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &hints, int expireTimeout)
    {
        notifications.append({appName, replacesID, summary, body, hints, expireTimeout});
        return uint(notifications.size());
    }
};

class TransferNotificationServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_server = std::make_unique<FakeNotificationServer>();
        // A connection of its own, so every call really travels through the bus.
        QDBusConnection connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, serverConnectionName);
        QVERIFY2(connection.isConnected(), "run inside dbus-run-session");
        QVERIFY(connection.registerObject(u"/org/freedesktop/Notifications"_s, m_server.get(),
                                          QDBusConnection::ExportAllSlots));
        QVERIFY2(connection.registerService(u"org.freedesktop.Notifications"_s),
                 "another notification service owns the name on this bus");
    }

    void cleanup()
    {
        QDBusConnection::disconnectFromBus(serverConnectionName);
        m_server.reset();
    }

    void asksForAuthorizationOncePerService()
    {
        TransferNotificationService service;
        QVERIFY(!service.didRequestAuthorization());
        service.notifyTransferFinished(u"a.txt"_s, Direction::sending);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->notifications.size(), 1, deliveryTimeoutMilliseconds);
        QCOMPARE(m_server->capabilityRequests, 0);

        service.requestAuthorizationIfNeeded();
        service.requestAuthorizationIfNeeded();
        QVERIFY(service.didRequestAuthorization());
        // Calls arrive in the order they were made, so the second notification is the barrier.
        service.notifyTransferFinished(u"b.txt"_s, Direction::sending);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->notifications.size(), 2, deliveryTimeoutMilliseconds);
        QCOMPARE(m_server->capabilityRequests, 1);
    }

    void postsOneNotificationPerFinishedTransfer_data()
    {
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QString>("title");
        QTest::newRow("received") << Direction::receiving << u"文件已接收"_s;
        QTest::newRow("sent") << Direction::sending << u"文件已发送"_s;
    }

    void postsOneNotificationPerFinishedTransfer()
    {
        QFETCH(Direction, direction);
        QFETCH(QString, title);
        const QString fileName = u"报告 <第2版> & 附件.pdf"_s;
        TransferNotificationService service;
        service.notifyTransferFinished(fileName, direction);
        const QString firstIdentifier = service.lastNotificationIdentifier();
        service.notifyTransferFinished(fileName, direction);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->notifications.size(), 2, deliveryTimeoutMilliseconds);

        QStringList identifiers;
        for (const FakeNotificationServer::Notification &notification : std::as_const(m_server->notifications)) {
            QCOMPARE(notification.appName, u"TavrineMac"_s);
            QCOMPARE(notification.summary, title);
            QCOMPARE(notification.body, fileName);
            QCOMPARE(notification.replacesID, 0u);
            QCOMPARE(notification.expireTimeout, -1);
            QCOMPARE(notification.hints.value(u"sound-name"_s).toString(), u"message-new-instant"_s);
            const QString identifier = notification.hints.value(u"x-tavrine-identifier"_s).toString();
            QVERIFY2(identifier.startsWith(identifierPrefix), qPrintable(identifier));
            const QString uuidText = identifier.sliced(identifierPrefix.size());
            QVERIFY(!QUuid::fromString(uuidText).isNull());
            QCOMPARE(uuidText, uuidText.toUpper());
            identifiers.append(identifier);
        }
        QCOMPARE(identifiers, QStringList({firstIdentifier, service.lastNotificationIdentifier()}));
        QVERIFY(firstIdentifier != service.lastNotificationIdentifier());
    }

private:
    std::unique_ptr<FakeNotificationServer> m_server;
};

QTEST_GUILESS_MAIN(TransferNotificationServiceTest)
#include "test_transfer_notification_service.moc"

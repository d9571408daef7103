#include "TestSupport.h"
#include "TransferNotificationService.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace Qt::StringLiterals;

using Direction = TransferTaskRecord::Direction;

namespace {

const QString serverConnectionName = u"fake-notification-server"_s;
constexpr int deliveryTimeoutMilliseconds = 5000;

} // namespace

// Stands in for the desktop's notification daemon on the test's private session bus. The bus is shared with
// other tests running beside this one, whose applications notify too: only this process's calls are counted.
class FakeNotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    int capabilityRequests = 0;
    QStringList capabilities{u"body"_s, u"sound"_s};
    QList<QVariantList> notifications; // the arguments of each Notify call

public slots:
    QStringList GetCapabilities()
    {
        if (isOurs())
            ++capabilityRequests;
        return capabilities;
    }

    uint Notify(const QString &appName, uint replacesID, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout)
    {
        if (isOurs())
            notifications.append({appName, replacesID, icon, summary, body, actions, hints, expireTimeout});
        return uint(notifications.size());
    }

private:
    bool isOurs() const { return message().service() == QDBusConnection::sessionBus().baseService(); }
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

    void postsEachFinishedTransferAndAsksForAuthorizationOnce_data()
    {
        const TestTable<Direction, QString> rows; // the direction, and the notification's title
        rows("received", Direction::receiving, u"文件已接收"_s);
        rows("sent", Direction::sending, u"文件已发送"_s);
    }

    // Each with an identifier of its own, so that none replaces another. Posting never asks for authorization;
    // asking twice asks the desktop once (the service asked once, when it was made, what the server reads).
    void postsEachFinishedTransferAndAsksForAuthorizationOnce()
    {
        const auto [direction, title] = TestTable<Direction, QString>::fetch();
        const QString fileName = u"报告 <第2版> & 附件.pdf"_s;
        TransferNotificationService service;
        QStringList identifiers;
        for (int count = 1; count <= 2; ++count) {
            service.notifyTransferFinished(fileName, direction);
            identifiers.append(service.lastNotificationIdentifier());
            QTRY_COMPARE_WITH_TIMEOUT(m_server->notifications.size(), count, deliveryTimeoutMilliseconds);
            const QVariantMap hints{{u"sound-name"_s, u"message-new-instant"_s},
                                    {u"x-tavrine-identifier"_s, identifiers.last()}};
            QCOMPARE(m_server->notifications.last(),
                     QVariantList({u"TavrineMac"_s, 0u, QString(), title, fileName, QStringList(), hints, -1}));
            // Calls arrive in the order they were made, so the notification is the barrier.
            QCOMPARE(m_server->capabilityRequests, count);
            service.requestAuthorizationIfNeeded();
            service.requestAuthorizationIfNeeded();
        }
        QVERIFY(service.didRequestAuthorization());
        for (const QString &identifier : identifiers) {
            const QString uuidText = identifier.sliced(qMin(identifier.size(), 17));
            QCOMPARE(identifier, u"tavrine-transfer-"_s + uuidText.toUpper());
            QVERIFY(!QUuid::fromString(uuidText).isNull());
        }
        QVERIFY(identifiers.first() != identifiers.last());
    }

    void fileNamesReadAsTheyStand_data()
    {
        const TestTable<bool, QString> rows; // the server reads markup in a body, the body sent
        rows("markup read", true, u"报告 &lt;第2版&gt; &amp; 附件.pdf"_s);
        rows("plain text", false, u"报告 <第2版> & 附件.pdf"_s);
    }

    // A file name that looks like markup is not drawn as markup by a server that reads it.
    void fileNamesReadAsTheyStand()
    {
        const auto [readsMarkup, body] = TestTable<bool, QString>::fetch();
        if (readsMarkup)
            m_server->capabilities.append(u"body-markup"_s);
        DBusNotificationSink sink;
        QTRY_COMPARE_WITH_TIMEOUT(sink.readsBodyMarkup(), std::optional(readsMarkup), deliveryTimeoutMilliseconds);
        sink.post({u"id"_s, u"文件已接收"_s, u"报告 <第2版> & 附件.pdf"_s});
        QTRY_COMPARE_WITH_TIMEOUT(m_server->notifications.size(), 1, deliveryTimeoutMilliseconds);
        QCOMPARE(m_server->notifications.last().at(4).toString(), body);
    }

    // Posts leave on the next turn of the event loop, in the order they were made; those of a sink that is gone
    // by then are dropped with it.
    void postsLeaveInOrderOnTheNextTurn()
    {
        {
            DBusNotificationSink sink;
            sink.post({u"gone"_s, u"文件已发送"_s, u"never.txt"_s});
        }
        DBusNotificationSink sink;
        sink.post({u"first"_s, u"文件已发送"_s, u"a.txt"_s});
        sink.post({u"second"_s, u"文件已发送"_s, u"b.txt"_s});
        QTRY_COMPARE_WITH_TIMEOUT(m_server->notifications.size(), 2, deliveryTimeoutMilliseconds);
        QCOMPARE(m_server->notifications.at(0).at(4).toString(), u"a.txt"_s);
        QCOMPARE(m_server->notifications.at(1).at(4).toString(), u"b.txt"_s);
        // Nothing more trails behind.
        QTest::qWait(50);
        QCOMPARE(m_server->notifications.size(), 2);
    }

private:
    std::unique_ptr<FakeNotificationServer> m_server;
};

QTEST_GUILESS_MAIN(TransferNotificationServiceTest)
#include "test_transfer_notification_service.moc"

#include "ComputerName.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

const QString serverConnectionName = u"fake-hostnamed"_s;

// Stands in for hostnamed: answers a read of the pretty host name with `answer`, or never when it is invalid.
class FakeHostnamed : public QDBusVirtualObject
{
public:
    QVariant answer;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QVariantList asked{u"org.freedesktop.hostname1"_s, u"PrettyHostname"_s};
        if (message.interface() != u"org.freedesktop.DBus.Properties" || message.member() != u"Get" ||
            message.arguments() != asked) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
        } else if (answer.isValid()) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(answer))));
        }
        return true;
    }
};

} // namespace

class ComputerNameTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The test session's bus plays the system bus, where a test can own hostnamed's name.
        const QByteArray sessionBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        if (sessionBus.isEmpty()) {
            QSKIP("run inside dbus-run-session");
        }
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", sessionBus);
        m_thread.start();
        m_fake.moveToThread(&m_thread);
        m_server = QDBusConnection::connectToBus(QDBusConnection::SessionBus, serverConnectionName);
        QVERIFY(m_server.registerVirtualObject(u"/org/freedesktop/hostname1"_s, &m_fake));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(serverConnectionName);
        m_thread.quit();
        m_thread.wait();
    }

    void prettyHostName_data()
    {
        // Whether hostnamed is on the bus, its answer (invalid: never answers), and the name (null: none).
        const TestTable<bool, QVariant, QString> rows;
        rows("a text", true, u"Study Mac"_s, u"Study Mac"_s);
        rows("not a text", true, 42, {});
        rows("never answers", true, {}, {});
        rows("not on the bus", false, {}, {});
    }

    // Whatever hostnamed does, a start waits at most about the time-out for it.
    void prettyHostName()
    {
        const auto [present, answer, expected] = TestTable<bool, QVariant, QString>::fetch();
        m_fake.answer = answer;
        QVERIFY(!present || m_server.registerService(u"org.freedesktop.hostname1"_s));
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> name = SystemComputerNameProvider().prettyHostName();
        const qint64 elapsed = clock.elapsed();
        m_server.unregisterService(u"org.freedesktop.hostname1"_s);
        QCOMPARE(name, expected.isNull() ? std::nullopt : std::optional(expected));
        // Well short of the bus's own 25 s time-out, which a call without one of its own would wait for.
        QVERIFY2(elapsed < 20 * SystemComputerNameProvider::hostnamedTimeout.count(), QByteArray::number(elapsed));
    }

private:
    QThread m_thread;
    FakeHostnamed m_fake;
    QDBusConnection m_server{serverConnectionName};
};

QTEST_GUILESS_MAIN(ComputerNameTest)
#include "test_computer_name.moc"

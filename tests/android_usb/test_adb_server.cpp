#include "ADBClient.h"
#include "ADBServerProbe.h"
#include "AwaitTask.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A server started by someone else on another port, which stopping ours must leave alone.
constexpr quint16 otherPort = 45039;

int runADB(const QString &adb, quint16 port, const QString &command)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(adb, {u"-P"_s, QString::number(port), command});
    return process.waitForFinished(30'000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

// The real adb: the client's commands start the private server, and stopping ends that server only.
class TestADBServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_adb = QStandardPaths::findExecutable(u"adb"_s);
        if (m_adb.isEmpty()) {
            QSKIP("adb is not installed (scripts/install-dependencies.sh --test installs it)");
        }
        QCOMPARE(runADB(m_adb, ADBServerController::privatePort, u"kill-server"_s), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isAcceptingOnLoopback(ADBServerController::privatePort), 10'000);
    }

    void cleanupTestCase()
    {
        if (!m_adb.isEmpty()) {
            runADB(m_adb, ADBServerController::privatePort, u"kill-server"_s);
            runADB(m_adb, otherPort, u"kill-server"_s);
        }
    }

    void stoppingEndsOnlyThePrivateServer()
    {
        QCOMPARE(runADB(m_adb, otherPort, u"start-server"_s), 0);
        QVERIFY(isAcceptingOnLoopback(otherPort));

        const auto controller = std::make_shared<ADBServerController>();
        ADBClient client(m_adb, std::make_shared<FoundationCommandRunner>(), controller);
        awaitTask(client.devices()); // no phone needs to be attached
        QVERIFY(isAcceptingOnLoopback(ADBServerController::privatePort));

        controller->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!isAcceptingOnLoopback(ADBServerController::privatePort), 10'000);
        QVERIFY(isAcceptingOnLoopback(otherPort));
        QVERIFY_THROWS_EXCEPTION(ADBClientError, awaitTask(client.devices()));
        QVERIFY(!isAcceptingOnLoopback(ADBServerController::privatePort));

        QCOMPARE(runADB(m_adb, otherPort, u"kill-server"_s), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isAcceptingOnLoopback(otherPort), 10'000);
    }

private:
    QString m_adb;
};

QTEST_GUILESS_MAIN(TestADBServer)
#include "test_adb_server.moc"

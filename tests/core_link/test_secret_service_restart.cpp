#include "GioCalls.h"
#include "SecretServiceKeychain.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <future>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A bus of the test's own, so that its keyring daemon can be stopped and started again without touching the
// session's. It has no service folders: nothing starts a keyring on demand between the test's steps.
constexpr char busConfiguration[] = "<busconfig>"
                                    "<type>session</type>"
                                    "<listen>unix:tmpdir=/tmp</listen>"
                                    "<policy context='default'>"
                                    "<allow send_destination='*' eavesdrop='true'/>"
                                    "<allow eavesdrop='true'/>"
                                    "<allow own='*'/>"
                                    "</policy>"
                                    "</busconfig>";

// Whether a keyring daemon serves the bus now.
bool keyringServes()
{
    gio::Connection *bus = gio::g_bus_get_sync(2 /* G_BUS_TYPE_SESSION */, nullptr, nullptr);
    gio::Variant *reply =
        bus ? gio::g_dbus_connection_call_sync(
                  bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                  gio::g_variant_new_parsed("('org.freedesktop.secrets',)"), nullptr, 0, 10000, nullptr, nullptr)
            : nullptr;
    int owned = 0;
    if (reply) {
        gio::g_variant_get(reply, "(b)", &owned);
        gio::g_variant_unref(reply);
    }
    return owned != 0;
}

// The application reads and writes the keyring from the threads of Qt's pool, which live on between calls, each with
// an event loop context of its own that nothing runs while the thread waits for work.
template <typename Function> auto onWorkerThread(Function function)
{
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    pool.setExpiryTimeout(-1);
    // Waited for through the standard library, whose hand-over a ThreadSanitizer build can follow.
    std::promise<decltype(function())> result;
    pool.start([&] { result.set_value(function()); });
    return result.get_future().get();
}

} // namespace

class SecretServiceRestartTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QFile configuration(m_folder.filePath(u"bus.conf"_s));
        QVERIFY(configuration.open(QIODevice::WriteOnly) && configuration.write(busConfiguration) > 0);
        configuration.close();
        m_bus.start(u"dbus-daemon"_s,
                    {u"--nofork"_s, u"--print-address=1"_s, u"--config-file="_s + configuration.fileName()});
        QVERIFY2(m_bus.waitForStarted(), qPrintable(m_bus.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        const QByteArray address = m_bus.readLine().trimmed();
        QVERIFY(!address.isEmpty());
        // Before the keychain's first call: GLib connects to the session bus once per process.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDir(m_folder.path()).mkpath(u"runtime"_s);
        QFile::setPermissions(m_folder.filePath(u"runtime"_s),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void cleanupTestCase()
    {
        stopKeyring();
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // A keyring daemon that went away and came back (a desktop session restarted it, or the user did) serves the
    // keychain again at once, instead of every later call failing on the connection to the daemon that is gone.
    void keyringThatCameBackServesAgain()
    {
        SecretServiceKeychain keychain;
        startKeyring();
        const QString service = u"com.drovan.tavrine.test.restart"_s;
        QCOMPARE(onWorkerThread([&] { return keychain.add(service, u"alpha"_s, "eins"); }), Keychain::success);

        stopKeyring();
        QCOMPARE(onWorkerThread([&] { return keychain.copyMatching(service, u"alpha"_s).status; }),
                 SecretServiceKeychain::serviceFailure);

        startKeyring();
        QTRY_COMPARE_WITH_TIMEOUT(onWorkerThread([&] { return keychain.copyMatching(service, u"alpha"_s).data; }),
                                  QByteArray("eins"), 10000);
        QCOMPARE(onWorkerThread([&] { return keychain.update(service, u"alpha"_s, "zwei"); }), Keychain::success);
    }

private:
    // The login keyring in the test's folder, unlocked with the same password each time.
    void startKeyring()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_s, m_folder.filePath(u"data"_s));
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_folder.filePath(u"runtime"_s));
        m_keyring.setProcessEnvironment(environment);
        m_keyring.start(u"gnome-keyring-daemon"_s, {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        QVERIFY2(m_keyring.waitForStarted(), qPrintable(m_keyring.errorString()));
        m_keyring.write("tavrine-test");
        m_keyring.closeWriteChannel();
        // The keychain's first call then finds the daemon by its own connection's name, as it does when the
        // application starts with the keyring running.
        QTRY_VERIFY_WITH_TIMEOUT(keyringServes(), 10000);
    }

    void stopKeyring()
    {
        if (m_keyring.state() == QProcess::NotRunning)
            return;
        m_keyring.kill();
        QVERIFY(m_keyring.waitForFinished());
    }

    QTemporaryDir m_folder;
    QProcess m_bus;
    QProcess m_keyring;
};

QTEST_GUILESS_MAIN(SecretServiceRestartTest)
#include "test_secret_service_restart.moc"

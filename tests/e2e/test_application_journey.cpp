// The real TavrineMac program under the test session's X server and session bus, with a companion phone:
// first run, pairing by the QR code on the screen, sending from a second start, the quick-send hot key, quitting
// and reconnecting.
#include "GlobalHotKey.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

constexpr int commandTimeoutMilliseconds = 30'000;

QString binary(const QString &name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

QByteArray sha256Of(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

// Runs a tool to its end; its standard output, or nothing when it failed or hung.
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(commandTimeoutMilliseconds)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// The phone: tavrine-phone, whose standard output is one JSON object a line.
struct Phone
{
    QProcess process;

    // Waits for a line that `matches`; that line, or an empty object when none came in time.
    QJsonObject waitForLine(const std::function<bool(const QJsonObject &)> &matches)
    {
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                while (found.isEmpty() && process.canReadLine()) {
                    const QJsonObject line = QJsonDocument::fromJson(process.readLine()).object();
                    if (matches(line))
                        found = line;
                }
                return !found.isEmpty();
            },
            commandTimeoutMilliseconds);
        return found;
    }

    ~Phone()
    {
        process.write("quit\n");
        if (!process.waitForFinished(10'000))
            process.kill();
        process.waitForFinished();
    }
};

bool isEvent(const QJsonObject &line, QStringView event)
{
    return line.value(u"event"_s).toString() == event;
}

} // namespace

class ApplicationJourneyTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QProcess m_app;
    Phone m_phone;

    QString path(const QString &relative) const { return m_folder.filePath(relative); }

    void startApp()
    {
        m_app.setProcessEnvironment(m_environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(binary(u"TavrineMac"_s));
        QVERIFY(m_app.waitForStarted());
    }

    // The main window's id once it is shown.
    QByteArray waitForWindow()
    {
        const auto found =
            runTool(u"xdotool"_s, {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--class"_s, u"TavrineMac"_s});
        return found ? found->split('\n').constFirst() : QByteArray();
    }

    // The whole screen, kept among the files of the run.
    static QString screenshot(const QString &name)
    {
        const QString folder = QDir::temp().filePath(u"tavrine-screens"_s);
        QDir().mkpath(folder);
        const QString file = QDir(folder).filePath(name + u".png"_s);
        return runTool(u"import"_s, {u"-window"_s, u"root"_s, file}) ? file : QString();
    }

    QByteArray adbCommands() const { return contentsOf(path(u"adb/commands.log"_s)); }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X server: run the tests through scripts/run-in-test-session.sh");
        QVERIFY(m_folder.isValid());
        for (const QString &folder : {u"home"_s, u"config"_s, u"data"_s, u"cache"_s, u"state"_s, u"adb"_s, u"phone"_s})
            QVERIFY(QDir(m_folder.path()).mkpath(folder));
        m_environment.insert(u"HOME"_s, path(u"home"_s));
        m_environment.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        m_environment.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
        m_environment.insert(u"XDG_CACHE_HOME"_s, path(u"cache"_s));
        m_environment.insert(u"XDG_STATE_HOME"_s, path(u"state"_s));
        m_environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        m_environment.insert(u"TAVRINE_ADB_PATH"_s, QFINDTESTDATA("../android_usb/fake-adb"));
        m_environment.insert(u"TAVRINE_FAKE_ADB_STATE"_s, path(u"adb"_s));
    }

    void firstRunShowsTheWindow()
    {
        startApp();
        QVERIFY(!waitForWindow().isEmpty());
        QVERIFY(!screenshot(u"app-first-run"_s).isEmpty());
    }

    void pairsByTheQRCodeOnTheScreen()
    {
        // The first-run card's "显示配对码" button, where the default window size puts it.
        const QByteArray window = waitForWindow();
        QVERIFY(runTool(u"xdotool"_s, {u"mousemove"_s, u"--window"_s, QString::fromLatin1(window), u"423"_s, u"424"_s,
                                       u"click"_s, u"1"_s}));
        // The code is on the screen once zbar reads it.
        std::optional<QByteArray> link;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return (link = runTool(u"zbarimg"_s, {u"--raw"_s, u"-q"_s, screenshot(u"app-pairing-sheet"_s)}))
                    .has_value();
            },
            commandTimeoutMilliseconds));
        // The code shows the web pairing link, which the phone takes as it is.
        const QString url = QString::fromUtf8(link->trimmed());
        QVERIFY2(url.startsWith(u"https://") && url.contains(u"#payload="), qPrintable(url));

        m_phone.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_phone.process.start(binary(u"tavrine-phone"_s), {u"pair"_s, u"--url"_s, url, u"--storage"_s, path(u"phone"_s),
                                                           u"--name"_s, u"Journey phone"_s, u"--confirm"_s});
        QVERIFY(m_phone.process.waitForStarted());
        QVERIFY(!m_phone.waitForLine([](const QJsonObject &line) { return isEvent(line, u"paired"); }).isEmpty());
        QVERIFY(!screenshot(u"app-paired"_s).isEmpty());
    }

    void aSecondStartSendsTheFileThroughTheFirst()
    {
        const QString file = path(u"note.txt"_s);
        QFile output(file);
        QVERIFY(output.open(QIODevice::WriteOnly));
        output.write(QByteArray(100'000, 'n') + "journey");
        output.close();

        QVERIFY(runTool(binary(u"TavrineMac"_s), {u"--send"_s, file}, m_environment));
        const QJsonObject received = m_phone.waitForLine([](const QJsonObject &line) {
            return isEvent(line, u"completed") && line.value(u"direction"_s).toString() == u"receiving";
        });
        QVERIFY(!received.isEmpty());
        const QString stored = QDir(path(u"phone"_s)).filePath(received.value(u"storedName"_s).toString());
        QCOMPARE(sha256Of(stored), sha256Of(file));
    }

    void aPlainSecondStartHandsOverAndEnds()
    {
        QVERIFY(runTool(binary(u"TavrineMac"_s), {}, m_environment));
        QCOMPARE(m_app.state(), QProcess::Running);
    }

    void theHotKeyShowsTheQuickSendPanel()
    {
        // Held by the application, so this process cannot have it.
        GlobalHotKeyRegistrar registrar;
        QVERIFY(!registrar.registerHotKey([] {}));
        QVERIFY(runTool(u"xdotool"_s, {u"key"_s, u"ctrl+alt+space"_s}));
        QVERIFY(runTool(u"xdotool"_s, {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--name"_s, u"快速发送"_s}));
        QVERIFY(!screenshot(u"app-quick-send"_s).isEmpty());
    }

    void terminationStopsThePrivateADBServer()
    {
        QVERIFY(adbCommands().contains(R"(["-P", "45037", "devices")"));
        ::kill(pid_t(m_app.processId()), SIGTERM);
        QVERIFY(m_app.waitForFinished(commandTimeoutMilliseconds));
        QCOMPARE(m_app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app.exitCode(), 0);
        QVERIFY(adbCommands().contains(R"(["-P", "45037", "kill-server"])"));
        QVERIFY(!QFile::exists(path(u"adb/server-running"_s)));
        // The application let go of the hot key.
        GlobalHotKeyRegistrar registrar;
        QVERIFY(registrar.registerHotKey([] {}));
        registrar.unregister();
        QVERIFY(!registrar.isRegistered());
    }

    void aRestartReconnectsThePairedPhone()
    {
        startApp();
        QVERIFY(!waitForWindow().isEmpty());
        QVERIFY(!m_phone.waitForLine([](const QJsonObject &line) { return isEvent(line, u"paired"); }).isEmpty());
        QVERIFY(!screenshot(u"app-reconnected"_s).isEmpty());
    }

    void cleanupTestCase()
    {
        if (m_app.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_app.processId()), SIGTERM);
            if (!m_app.waitForFinished(commandTimeoutMilliseconds))
                m_app.kill();
        }
    }
};

// The hot-key checks grab keys on the same X server as the application, so this process runs on xcb too.
int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    ApplicationJourneyTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_application_journey.moc"

// The real TavrineMac program under the test session's X server and session bus, with a companion phone:
// its help and version, first run, pairing by the QR code on the screen, sending from a second start, a file dropped
// on the panel that the quick-send hot key shows, quitting by signal and by the menu, and reconnecting.
#include "GlobalHotKey.h"
#include "ScreenQRCode.h"
#include "TestSupport.h"
#include "TransferCredentialStore.h"
#include "TrustedDeviceRegistryStore.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <csignal>
#include <functional>

#include <poll.h>

// After Qt: the X11 headers define macros such as None and Bool.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

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

// How a run of a program ended: its exit code (-1 when it crashed or hung) and what it printed.
struct Outcome
{
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

Outcome runToEnd(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(commandTimeoutMilliseconds)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// Runs a tool to its end; its standard output, or nothing when it failed or hung.
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    const Outcome outcome = runToEnd(program, arguments, environment);
    return outcome.exitCode == 0 ? std::optional(outcome.output) : std::nullopt;
}

// arguments → exit code, a pattern of what it prints on standard output, a text of what it prints on standard error
using CommandLines = TestTable<QStringList, int, QString, QString>;

void commandLineRows()
{
    const CommandLines rows;
    const QString usage = uR"(^Usage:\n  TavrineMac \[FILE\.\.\.\]\n(.|\n)*\n$)"_s;
    rows("help", {u"--help"_s}, 0, usage, {});
    rows("short help", {u"-h"_s}, 0, usage, {});
    rows("help after a file", {u"note.txt"_s, u"--help"_s}, 0, usage, {});
    rows("version", {u"--version"_s}, 0, uR"(^TavrineMac \d+\.\d+\.\d+\n$)"_s, {});
    rows("unknown option", {u"--bogus"_s}, 1, u"^$"_s, u"unknown option '--bogus'"_s);
    rows("unknown short option", {u"-x"_s, u"note.txt"_s}, 1, u"^$"_s, u"unknown option '-x'"_s);
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

bool isReceivedFile(const QJsonObject &line)
{
    return isEvent(line, u"completed") && line.value(u"direction"_s).toString() == u"receiving";
}

// Another program that drops a list of files on a window, speaking the X drag-and-drop protocol from a window of
// its own, as a file manager does when the user lets go of files over that window.
class FileDropper
{
public:
    FileDropper() : m_display(XOpenDisplay(nullptr))
    {
        if (m_display)
            m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
    }
    ~FileDropper()
    {
        if (m_display) {
            XDestroyWindow(m_display, m_window);
            XCloseDisplay(m_display);
        }
    }

    // Drops `files` on `target` at the screen point (x, y); true once the target says it took them.
    bool drop(unsigned long target, int x, int y, const QStringList &files)
    {
        if (!m_display)
            return false;
        QByteArray uriList;
        for (const QString &file : files)
            uriList += QUrl::fromLocalFile(file).toEncoded() + "\r\n";
        const Atom uriListType = atom("text/uri-list");
        XSetSelectionOwner(m_display, atom("XdndSelection"), m_window, CurrentTime);
        send(target, "XdndEnter", {long(m_window), 5L << 24, long(uriListType), 0, 0});
        send(target, "XdndPosition",
             {long(m_window), 0, (long(x) << 16) | long(y), CurrentTime, long(atom("XdndActionCopy"))});
        const auto status = waitFor("XdndStatus", uriList);
        if (!status || !(status->data.l[1] & 1)) {
            send(target, "XdndLeave", {long(m_window), 0, 0, 0, 0});
            return false;
        }
        send(target, "XdndDrop", {long(m_window), 0, CurrentTime, 0, 0});
        const auto finished = waitFor("XdndFinished", uriList);
        return finished && (finished->data.l[1] & 1);
    }

private:
    Atom atom(const char *name) { return XInternAtom(m_display, name, False); }

    void send(unsigned long target, const char *type, const std::array<long, 5> &data)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = atom(type);
        event.xclient.format = 32;
        std::copy(data.begin(), data.end(), event.xclient.data.l);
        XSendEvent(m_display, target, False, NoEventMask, &event);
        XFlush(m_display);
    }

    // Waits (at most 30 s) for the target's message of `type`, answering its requests for the list meanwhile.
    std::optional<XClientMessageEvent> waitFor(const char *type, const QByteArray &uriList)
    {
        const QDeadlineTimer deadline(commandTimeoutMilliseconds);
        while (!deadline.hasExpired()) {
            if (!XPending(m_display)) {
                pollfd connection{ConnectionNumber(m_display), POLLIN, 0};
                ::poll(&connection, 1, 50);
                continue;
            }
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == atom(type))
                return event.xclient;
            if (event.type == SelectionRequest)
                answer(event.xselectionrequest, uriList);
        }
        return std::nullopt;
    }

    void answer(const XSelectionRequestEvent &request, const QByteArray &uriList)
    {
        XEvent notify{};
        notify.xselection.type = SelectionNotify;
        notify.xselection.requestor = request.requestor;
        notify.xselection.selection = request.selection;
        notify.xselection.target = request.target;
        notify.xselection.time = request.time;
        notify.xselection.property = None;
        if (request.target == atom("text/uri-list") && request.property != None) {
            XChangeProperty(m_display, request.requestor, request.property, request.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(uriList.constData()), int(uriList.size()));
            notify.xselection.property = request.property;
        }
        XSendEvent(m_display, request.requestor, False, NoEventMask, &notify);
        XFlush(m_display);
    }

    Display *m_display = nullptr;
    Window m_window = 0;
};

} // namespace

class ApplicationJourneyTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QProcess m_app;
    Phone m_phone;

    QString path(const QString &relative) const { return m_folder.filePath(relative); }

    void startApp(const QStringList &arguments = {})
    {
        m_app.setProcessEnvironment(m_environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(binary(u"TavrineMac"_s), arguments);
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

    QString writeFile(const QString &name, const QByteArray &contents) const
    {
        QFile output(path(name));
        return output.open(QIODevice::WriteOnly) && output.write(contents) == contents.size() ? output.fileName()
                                                                                              : QString();
    }

    void expectCommandLineAnswers()
    {
        const auto [arguments, exitCode, output, errors] = CommandLines::fetch();
        const Outcome outcome = runToEnd(binary(u"TavrineMac"_s), arguments, m_environment);
        QCOMPARE(outcome.exitCode, exitCode);
        QVERIFY2(QRegularExpression(output).match(QString::fromLocal8Bit(outcome.output)).hasMatch(),
                 outcome.output.constData());
        QVERIFY2(QString::fromLocal8Bit(outcome.errors).contains(errors), outcome.errors.constData());
    }

    // Waits for the phone to store a file and compares it with `sent`, byte for byte.
    void expectReceived(const QString &sent)
    {
        const QJsonObject received = m_phone.waitForLine(isReceivedFile);
        QVERIFY(!received.isEmpty());
        const QString stored = QDir(path(u"phone"_s)).filePath(received.value(u"storedName"_s).toString());
        QCOMPARE(sha256Of(stored), sha256Of(sent));
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X server: run the tests through scripts/run-in-test-session.sh");
        QVERIFY(m_folder.isValid());
        // Trust is kept in the session's keyring, which the tests share: the journey starts with no phone.
        TrustedDeviceRegistryStore(TransferCredentialStore(u"com.drovan.tavrine.transfer"_s))
            .save(TrustedDeviceRegistry{});
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
        // The application ends without waiting for the work it has under way (an adb listing, a question to the
        // phone), whose frames go with the process; the stores' own tests check what they free. Other memory
        // errors still end it with a failure.
        const QString sanitizer = m_environment.value(u"ASAN_OPTIONS"_s);
        m_environment.insert(u"ASAN_OPTIONS"_s,
                             sanitizer + (sanitizer.isEmpty() ? u""_s : u":"_s) + u"detect_leaks=0"_s);
    }

    // "--help" and "--version" print and end, an unknown option says so and fails: none of them opens a window, with
    // nothing running as with the application running.
    void commandLineWithNothingRunning_data() { commandLineRows(); }
    void commandLineWithNothingRunning() { expectCommandLineAnswers(); }

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
        std::optional<QByteArray> read;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return (read = runTool(u"zbarimg"_s,
                                       screen_qr_code::zbarimgArguments(screenshot(u"app-pairing-sheet"_s))))
                    .has_value();
            },
            commandTimeoutMilliseconds));
        // The code shows the web pairing link, which the phone takes as it is.
        const std::optional<QString> link = screen_qr_code::onlyCode(*read);
        QVERIFY2(link, read->constData());
        const QString url = *link;
        QVERIFY2(url.startsWith(u"https://") && url.contains(u"#payload="), qPrintable(url));

        m_phone.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_phone.process.start(binary(u"tavrine-phone"_s), {u"pair"_s, u"--url"_s, url, u"--storage"_s, path(u"phone"_s),
                                                           u"--name"_s, u"Journey phone"_s, u"--confirm"_s});
        QVERIFY(m_phone.process.waitForStarted());
        QVERIFY(!m_phone.waitForLine([](const QJsonObject &line) { return isEvent(line, u"paired"); }).isEmpty());
        // The phone is paired before the desktop has kept its trust: the desktop holds the phone once the phone's
        // dashboard asks it for its facts, and only then has a phone to send to.
        QVERIFY(!m_phone
                     .waitForLine([](const QJsonObject &line) {
                         return line.value(u"request"_s).toString() == u"device.snapshot";
                     })
                     .isEmpty());
        QVERIFY(!screenshot(u"app-paired"_s).isEmpty());
    }

    void aSecondStartSendsTheFileThroughTheFirst()
    {
        const QString file = writeFile(u"note.txt"_s, QByteArray(100'000, 'n') + "journey");
        QVERIFY(!file.isEmpty());
        QVERIFY(runTool(binary(u"TavrineMac"_s), {u"--send"_s, file}, m_environment));
        expectReceived(file);
    }

    void aPlainSecondStartHandsOverAndEnds()
    {
        QVERIFY(runTool(binary(u"TavrineMac"_s), {}, m_environment));
        QCOMPARE(m_app.state(), QProcess::Running);
    }

    void commandLineWhileTheApplicationRuns_data() { commandLineRows(); }
    void commandLineWhileTheApplicationRuns()
    {
        expectCommandLineAnswers();
        QCOMPARE(m_app.state(), QProcess::Running);
    }

    void aFileDroppedOnTheHotKeyPanelReachesThePhone()
    {
        // Held by the application, so this process cannot have it.
        GlobalHotKeyRegistrar registrar;
        QVERIFY(!registrar.registerHotKey([] {}));
        QVERIFY(runTool(u"xdotool"_s, {u"key"_s, u"ctrl+alt+space"_s}));
        const auto found =
            runTool(u"xdotool"_s, {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--name"_s, u"快速发送"_s});
        QVERIFY(found.has_value());
        QVERIFY(!screenshot(u"app-quick-send"_s).isEmpty());
        const QByteArray panel = found->split('\n').constFirst();
        const auto geometry = runTool(u"xdotool"_s, {u"getwindowgeometry"_s, u"--shell"_s, QString::fromLatin1(panel)});
        QVERIFY(geometry.has_value());
        QMap<QByteArray, int> values;
        for (const QByteArray &line : geometry->split('\n'))
            if (const qsizetype equals = line.indexOf('='); equals > 0)
                values.insert(line.left(equals), line.mid(equals + 1).toInt());

        // Let go of the file over the middle of the panel, where its drop zone is.
        const QString file = writeFile(u"dropped.bin"_s, QByteArray(300'000, 'd') + "dropped");
        QVERIFY(!file.isEmpty());
        FileDropper dropper;
        QVERIFY(dropper.drop(panel.toULong(), values.value("X") + values.value("WIDTH") / 2,
                             values.value("Y") + values.value("HEIGHT") / 2, {file}));
        expectReceived(file);
        QVERIFY(!screenshot(u"app-quick-send-dropped"_s).isEmpty());
    }

    void terminationStopsThePrivateADBServer()
    {
        QVERIFY(adbCommands().contains(R"(["-P", "45037", "devices")"));
        // An application that is gone has no process: a signal to process 0 would end the whole test run.
        QCOMPARE(m_app.state(), QProcess::Running);
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

    void theQuitCommandEndsTheApplicationCleanly()
    {
        const QString window = QString::fromLatin1(waitForWindow());
        // The shortcut counts once the window has taken the focus, which a busy machine can hand over late.
        bool finished = false;
        for (int attempt = 0; attempt < 6 && !finished; ++attempt) {
            QVERIFY(runTool(u"xdotool"_s, {u"windowfocus"_s, u"--sync"_s, window}));
            QVERIFY(runTool(u"xdotool"_s, {u"key"_s, u"--clearmodifiers"_s, u"ctrl+q"_s}));
            finished = m_app.waitForFinished(5'000);
        }
        QVERIFY(finished);
        QCOMPARE(m_app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app.exitCode(), 0);
        QVERIFY(!QFile::exists(path(u"adb/server-running"_s)));
        GlobalHotKeyRegistrar registrar;
        QVERIFY(registrar.registerHotKey([] {}));
    }

    // A send hands its files to a running instance without a display of its own; with none running it becomes the
    // instance itself: its window shows, the file reaches the phone, and a later start hands over to it.
    void aSendWithNothingRunningStartsTheApplication()
    {
        QCOMPARE(m_app.state(), QProcess::NotRunning);
        const QString file = writeFile(u"first.txt"_s, QByteArray(50'000, 'f') + "first");
        QVERIFY(!file.isEmpty());
        startApp({u"--send"_s, file});
        QVERIFY(!waitForWindow().isEmpty());
        expectReceived(file);
        QVERIFY(runTool(binary(u"TavrineMac"_s), {}, m_environment));
        QCOMPARE(m_app.state(), QProcess::Running);
    }

    void cleanupTestCase()
    {
        if (m_app.state() != QProcess::NotRunning && m_app.processId() > 0) {
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

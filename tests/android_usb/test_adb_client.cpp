#include "ADBClient.h"
#include "ADBLocation.h"
#include "APKArchiveInspector.h"
#include "AwaitTask.h"
#include "PairingPayload.h"
#include "ProcessProbe.h"
#include "TestSupport.h"
#include "ZipBuilder.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <qcorotimer.h>

#include <functional>
#include <map>
#include <vector>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

char *toString(const ADBClientError &error)
{
    return QTest::toString(u"case %1 | %2 | %3 | %4"_s.arg(int(error.errorCase()))
                               .arg(error.arguments().join(u' '), error.message())
                               .arg(error.status()));
}

namespace {

using Case = ADBClientError::Case;
using RunnerCase = CommandRunnerError::Case;
using Operation = std::function<QCoro::Task<void>(ADBClient &)>;

const QString serial = u"R58N"_s;
constexpr std::chrono::milliseconds commandTimeout = std::chrono::seconds(20);
constexpr qsizetype mebibyte = 1024 * 1024;
const QString pairingURL = u"tavrine://pair/v1?device=p~~~&key=K123456789abcdef&token=T123456789abcdef"
                           u"&endpoint=192.168.1.20:7000&code=123456"_s;
const QString listingHeader = u"List of devices attached\n"_s;
const QString phoneLine = u"R58N                   device usb:1-1 product:panther model:Pixel_7 transport_id:3\n"_s;
const QString otherLines = u"U1                     unauthorized usb:1-2 transport_id:4\n"
                           u"10.0.0.2:5555          device product:p model:M device:d transport_id:5\n"_s;

// What a phone answers a command that succeeds: the activity manager's report of a started activity, the package
// manager's "Success", nothing for the rest.
CommandResult succeeded(const QStringList &arguments)
{
    QString output;
    if (arguments.contains(u"start"_s))
        output = u"Starting: Intent { cmp=com.drovan.tavrine/.MainActivity (has extras) }\nStatus: ok\nComplete\n"_s;
    else if (arguments.contains(u"install"_s) || arguments.contains(u"install-multiple"_s) ||
             arguments.contains(u"uninstall"_s) || arguments.contains(u"clear"_s))
        output = u"Success\n"_s;
    return CommandResult{arguments, output, {}, 0};
}

// What adb lists while a command runs on phone() below: that phone, and the same serial under a transport id.
const QString phoneListing = listingHeader + u"R58N                   device usb:1-1\n"
                                             u"R58N                   device usb:1-2 transport_id:7\n"_s;

// Answers each command at once from `answer` (a listing from `listing`, where it is set) and records it; a command
// that `timesOut` picks is ended as the runner ends one past its time-out.
class ScriptedRunner : public CommandRunning
{
public:
    std::function<CommandResult(const QStringList &)> answer = succeeded;
    std::optional<QString> listing = phoneListing;
    std::function<bool(const QStringList &)> timesOut = [](const QStringList &) {
        return false;
    };
    // Whether each command answers from the event loop, as a process does, so that others may start meanwhile.
    bool answersLater = false;
    QList<QStringList> commands;

    QCoro::Task<CommandResult> run(QString, QStringList arguments, std::chrono::milliseconds) override
    {
        commands.append(arguments);
        if (answersLater)
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (timesOut(arguments))
            throw CommandRunnerError(RunnerCase::timedOut, u"timed out"_s);
        if (listing && arguments.mid(2) == QStringList{u"devices"_s, u"-l"_s})
            co_return CommandResult{arguments, *listing, {}, 0};
        co_return answer(arguments);
    }
};

// The file system's number of the file a path leads to, through a symbolic link.
ino_t fileNumber(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

AndroidDevice phone(AndroidDevice::State state = AndroidDevice::State::authorized)
{
    return {.serial = serial, .state = state};
}

QStringList adbLine(const QStringList &arguments)
{
    return QStringList{u"-P"_s, u"45037"_s} + arguments;
}

// The ADBClientError the task fails with; a marker error when it succeeds.
template <typename T> ADBClientError failureOf(QCoro::Task<T> task)
{
    try {
        awaitTask(task);
    } catch (const ADBClientError &error) {
        return error;
    }
    return ADBClientError::commandFailed({u"<succeeded>"_s}, {}, -1);
}

// Recorded adb output from tests/data/android_usb.
QString recorded(const QString &name)
{
    const QString path = QFINDTESTDATA(u"../data/android_usb/"_s + name);
    return QString::fromUtf8(contentsOf(path));
}

QString optionalText(const char *label, const std::optional<QString> &value)
{
    return value ? u" %1=%2"_s.arg(QLatin1String(label), *value) : QString();
}

// "serial state[ usb][ model=…][ product=…][ transport=…]", absent fields left out.
QString describe(const AndroidDevice &device)
{
    return device.serial + u' ' + AndroidDevice::rawValue(device.state) + (device.isUSBTransport ? u" usb"_s : u""_s) +
           optionalText("model", device.model) + optionalText("product", device.product) +
           optionalText("transport", device.transportID);
}

QString describe(const ADBDeviceProperties &properties)
{
    return (optionalText("name", properties.marketingName) + optionalText("maker", properties.manufacturer) +
            optionalText("version", properties.androidVersion) +
            (properties.sdkLevel ? u" sdk=%1"_s.arg(*properties.sdkLevel) : QString()))
        .trimmed();
}

} // namespace

using DeviceLists = TestTable<QString, QStringList>;
using PropertyLists = TestTable<QString, QString>;
using Names = TestTable<std::optional<QString>, std::optional<QString>, std::optional<QString>, QString>;

// The adb stack: the parser of its output, the runner of child processes, the server controller, the client over
// a scripted runner, and where adb is found.
class TestADBClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid() && m_temporary.isValid());
        // The runner's folders go to TMPDIR; a private one shows whether any is left behind.
        qputenv("TMPDIR", m_temporary.path().toUtf8());
        for (const QString &name :
             {u"com.example.app.apk"_s, u"base.apk"_s, u"split_config.xxhdpi.apk"_s, u"split_config.arm64_v8a.apk"_s}) {
            QVERIFY(writeFile(m_folder.filePath(name), buildZip({"AndroidManifest.xml"}).bytes));
        }
    }

    void init()
    {
        m_runner = std::make_shared<ScriptedRunner>();
        m_controller = std::make_shared<ADBServerController>([](const QString &, const QStringList &) {});
        m_client = std::make_unique<ADBClient>(u"/fake/adb"_s, m_runner, m_controller);
    }

    void cleanup()
    {
        QCOMPARE(QDir(m_temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void deviceList_data()
    {
        // Output of "adb devices -l" (a recorded file when it names one), the devices in lines.
        const DeviceLists rows;
        rows("authorised on USB", recorded(u"devices-authorised.txt"_s),
             {u"R5CW21ABCDE device usb model=SM_S9180 product=dm3qzcx transport=1"_s});
        rows("unauthorised, after the server start notices", recorded(u"devices-unauthorised.txt"_s),
             {u"8B2X1Q4KZ unauthorized usb transport=2"_s});
        rows("offline", recorded(u"devices-offline.txt"_s), {u"8B2X1Q4KZ offline usb transport=3"_s});
        rows("no permissions", recorded(u"devices-no-permissions.txt"_s),
             {u"8B2X1Q4KZ no permissions usb transport=4"_s});
        rows("emulator", recorded(u"devices-emulator.txt"_s),
             {u"emulator-5554 device model=sdk_gphone64_x86_64 product=sdk_gphone64_x86_64 transport=5"_s});
        rows("network connection", recorded(u"devices-tcp.txt"_s),
             {u"192.168.1.23:5555 device model=Pixel_7 product=panther transport=6"_s});
        rows("carriage returns, duplicates kept",
             u"List of devices attached\r\nA\tdevice usb:1-1\r\nA\tdevice usb:1-1\r\n\r\n"_s,
             {u"A device usb"_s, u"A device usb"_s});
        rows("other line breaks", u"A device\u2028B recovery\u0085C bootloader\vD sideload\fE host"_s,
             {u"A device"_s, u"B recovery"_s, u"C bootloader"_s, u"D unknown"_s, u"E unknown"_s});
        rows("serial alone, state case", u"  lonely  \nA Device\n"_s, {u"A unknown"_s});
        // Shown cut (AndroidDevice::displayName), the model is kept whole to be compared.
        rows("the phone's model and product without hidden characters, whole",
             u"A device usb:1-1 product:\u202Ep\u0007 model:"_s + QString(70, u'M') + u" transport_id:1"_s,
             {u"A device usb model="_s + QString(70, u'M') + u" product=p transport=1"_s});
        rows("empty model, colon in a value, later key wins, usb token late",
             u"A device model: transport_id:x:y product:p product:q weird usb:2"_s,
             {u"A device usb model= product=q transport=x:y"_s});
        // adb's libusb back end writes the device path without "usb:"; a path never makes a network phone USB.
        rows("libusb device paths",
             u"R58N   device 1-4.2 product:p model:Pixel_7 transport_id:7\n"
             u"U1     unauthorized 3-1 transport_id:8\n"
             u"10.0.0.2:5555 device 1-1 transport_id:9\n"
             u"adb-R58N-x1y2._adb-tls-connect._tcp device 2-1 transport_id:10\n"
             u"emulator-5554 device 1-2 transport_id:11\n"_s,
             {u"R58N device usb model=Pixel_7 product=p transport=7"_s, u"U1 unauthorized usb transport=8"_s,
              u"10.0.0.2:5555 device transport=9"_s, u"adb-R58N-x1y2._adb-tls-connect._tcp device transport=10"_s,
              u"emulator-5554 device transport=11"_s});
        rows("no serial number, the states adb waits in",
             u"(no serial number)     device usb:1-1 product:p model:M transport_id:1\n"
             u"A                      authorizing usb:1-2 transport_id:2\n"
             u"B                      connecting usb:1-3 transport_id:3\n"
             u"(no serial number)     no permissions (user in plugdev group; are your udev rules wrong?); see "
             u"[http://developer.android.com/tools/device.html] usb:1-4 transport_id:4\n"
             u"C                      no permissions; see [http://developer.android.com/tools/device.html]\n"_s,
             {u" device usb model=M product=p transport=1"_s, u"A authorizing usb transport=2"_s,
              u"B connecting usb transport=3"_s, u" no permissions usb transport=4"_s, u"C no permissions"_s});
    }

    void deviceList()
    {
        const auto [output, expected] = DeviceLists::fetch();
        QStringList devices;
        for (const AndroidDevice &device : ADBOutputParser::parseDeviceList(output))
            devices.append(describe(device));
        QCOMPARE(devices, expected);
    }

    void properties_data()
    {
        // Output of "adb shell getprop", the four facts.
        const PropertyLists rows;
        rows("model when the marketing names are empty", recorded(u"getprop-samsung.txt"_s),
             u"name=SM-S9180 maker=samsung version=14 sdk=34"_s);
        rows("vendor names, multi-line value skipped", recorded(u"getprop-xiaomi.txt"_s),
             u"name=Xiaomi 13 Ultra maker=Xiaomi version=13 sdk=33"_s);
        rows("verbatim values with brackets, later line wins",
             u"[ro.product.model]: [a]\r\n[ro.product.model]: [ [b]: [c] ]\n[ro.build.version.sdk]: [+34]"_s,
             u"name= [b]: [c]  sdk=34"_s);
        rows("lines that are not properties",
             u"[ro.product.model] [x]\nno brackets\n[ro.build.version.sdk]: [ 34]\n"
             u"[ro.product.manufacturer]: [x\n ro.build.version.release]: [9]"_s,
             u""_s);
        rows("sdk limits", u"[ro.build.version.sdk]: [-9223372036854775808]"_s, u"sdk=-9223372036854775808"_s);
        rows("sdk overflow", u"[ro.build.version.sdk]: [9223372036854775808]"_s, u""_s);
        rows("sdk sign alone", u"[ro.build.version.sdk]: [-]"_s, u""_s);
        // A phone's names are shown as they read: no character that reorders, hides or rings; no page of text.
        rows("direction overrides and controls dropped",
             u"[ro.product.marketname]: [\u202Ekpa.exe Safe Phone\u202C]\n"
             u"[ro.product.manufacturer]: [\u001b[31mACME\u0007\u0090\u2067x\u2069\u200F]\n"
             u"[ro.build.version.release]: [\u200E14\u009B]"_s,
             u"name=kpa.exe Safe Phone maker=[31mACMEx version=14"_s);
        rows("a name of nothing but controls gives way to the next",
             u"[ro.product.marketname]: [\u202E\u0007]\n[ro.product.model]: [Pixel 7]"_s, u"name=Pixel 7"_s);
        // The name is shown cut (names below) but kept whole, within a bound, to be compared.
        rows("a long name is kept to its first 4 KiB", u"[ro.product.marketname]: ["_s + QString(4600, u'w') + u"]"_s,
             u"name="_s + QString(4096, u'w') + u"…"_s);
        rows("a long name is kept to a whole character",
             u"[ro.product.marketname]: ["_s + QString(4093, u'w') + u"😀😀]"_s,
             u"name="_s + QString(4093, u'w') + u"…"_s);
    }

    void properties()
    {
        const auto [output, expected] = PropertyLists::fetch();
        QCOMPARE(describe(ADBDeviceProperties::fromGetpropOutput(output)), expected);
    }

    void names_data()
    {
        // Marketing name, model and Android version; the name and the version label texts show.
        const Names rows;
        rows("marketing name", u"Galaxy S24"_s, u"SM_S9210"_s, u"14"_s, u"Galaxy S24 | Android 14"_s);
        rows("empty model still wins", std::nullopt, u""_s, std::nullopt, u" | none"_s);
        rows("nothing known", std::nullopt, std::nullopt, std::nullopt, u"Android 手机 | none"_s);
        rows("a long name is cut", QString(4600, u'w'), std::nullopt, std::nullopt, QString(64, u'w') + u"… | none"_s);
        rows("a long name is cut between two characters", QString(63, u'w') + u"😀😀"_s, std::nullopt, std::nullopt,
             QString(63, u'w') + u"😀… | none"_s);
        rows("a long model is cut", std::nullopt, QString(70, u'M'), std::nullopt, QString(64, u'M') + u"… | none"_s);
    }

    void names()
    {
        const auto [marketingName, model, version, expected] = Names::fetch();
        const AndroidDevice device{.model = model, .marketingName = marketingName, .androidVersion = version};
        QCOMPARE(device.displayName() + u" | "_s + device.androidVersionLabel().value_or(u"none"_s), expected);
    }

    void runnerResultsCarryStatusAndBothOutputs_data()
    {
        // A shell script; its standard output, standard error and status.
        TestTable<QString, QString> rows;
        rows("success", u"printf 'out\\n'; printf err >&2"_s, u"out\n|err|0"_s);
        rows("failure is a result", u"printf out; printf 'no such thing' >&2; exit 1"_s, u"out|no such thing|1"_s);
        rows("invalid UTF-8", u"printf 'a\\377b'"_s, u"a\uFFFDb||0"_s);
        rows("killed by a signal", u"kill -9 $$"_s, u"||9"_s);
        rows("standard input is the null device", u"cat; echo ended"_s, u"ended\n||0"_s);
    }
    void runnerResultsCarryStatusAndBothOutputs()
    {
        const auto [script, expected] = TestTable<QString, QString>::fetch();
        FoundationCommandRunner runner;
        const QStringList arguments{u"-c"_s, script};
        const CommandResult result = awaitTask(runner.run(u"/bin/sh"_s, arguments, commandTimeout));
        QCOMPARE(u"%1|%2|%3"_s.arg(result.standardOutput, result.standardError).arg(result.status), expected);
    }

    void runnerRunsOneCommandAtATimeInCallOrder()
    {
        FoundationCommandRunner runner;
        const QString log = m_temporary.filePath(u"order.log"_s);
        const auto logged = [&runner, &log](const QString &name, const QString &pause) {
            const QString script = u"echo start-%1 >> %2; %3 echo end-%1 >> %2"_s.arg(name, log, pause);
            return runner.run(u"/bin/sh"_s, {u"-c"_s, script}, commandTimeout);
        };
        // The first child is the slowest: run side by side, the last would finish first. Between them, one that
        // cannot start fails and passes the turn on.
        QCoro::Task<CommandResult> first = logged(u"one"_s, u"sleep 0.3;"_s);
        QCoro::Task<CommandResult> unstartable = runner.run(QFINDTESTDATA("test_adb_client.cpp"), {}, commandTimeout);
        QCoro::Task<CommandResult> last = logged(u"two"_s, QString());
        QCOMPARE(awaitTask(first).status, 0);
        QVERIFY_THROWS_EXCEPTION(CommandRunnerError, awaitTask(unstartable));
        QCOMPARE(awaitTask(last).status, 0);
        QCOMPARE(contentsOf(log), "start-one\nend-one\nstart-two\nend-two\n");
        QFile::remove(log);
    }

    // Commands that cannot start fail at once and pass the turn on, several times before the event loop runs: the
    // commands waiting behind them each start once, in order, and the runner is not touched after their waits end.
    void turnsPassedAtOnceWakeEachCommandOnce()
    {
        FoundationCommandRunner runner;
        const QString log = m_temporary.filePath(u"turns.log"_s);
        const QString unstartable = QFINDTESTDATA("test_adb_client.cpp");
        const auto logged = [&runner, &log](const QString &name) {
            return runner.run(u"/bin/sh"_s, {u"-c"_s, u"echo %1 >> %2"_s.arg(name, log)}, commandTimeout);
        };
        QCoro::Task<CommandResult> first = logged(u"one"_s);
        std::vector<QCoro::Task<CommandResult>> failing;
        for (int index = 0; index < 3; ++index) {
            failing.push_back(runner.run(unstartable, {}, commandTimeout));
        }
        QCoro::Task<CommandResult> second = logged(u"two"_s);
        QCoro::Task<CommandResult> third = logged(u"three"_s);
        QCOMPARE(awaitTask(third).status, 0);
        QCOMPARE(awaitTask(first).status, 0);
        QCOMPARE(awaitTask(second).status, 0);
        for (QCoro::Task<CommandResult> &task : failing) {
            QVERIFY_THROWS_EXCEPTION(CommandRunnerError, awaitTask(task));
        }
        QCOMPARE(contentsOf(log), "one\ntwo\nthree\n");
        // Nothing left in the event loop reaches back into the commands' finished waits.
        QCoreApplication::processEvents();
        QFile::remove(log);
    }

    void runnerEndsCommandsPastTheirBounds_data()
    {
        // A shell script (%1: a file for the process ids of its group), its time-out in milliseconds, and why the
        // runner ends it (-1: it ends by itself). The runner keeps a mebibyte of each output.
        TestTable<QString, int, int> rows;
        rows("never answers", u"sleep 600 & echo $$ $! > %1; wait"_s, 300, int(RunnerCase::timedOut));
        rows("never stops writing", u"sleep 600 & echo $$ $! > %1; yes"_s, 20'000, int(RunnerCase::outputTooLarge));
        rows("writes past the bound, then ends", u"echo $$ > %1; head -c 1048577 /dev/zero >&2"_s, 20'000,
             int(RunnerCase::outputTooLarge));
        rows("writes up to the bound", u"echo $$ > %1; head -c 1048576 /dev/zero"_s, 20'000, -1);
    }
    void runnerEndsCommandsPastTheirBounds()
    {
        const auto [script, timeout, ending] = TestTable<QString, int, int>::fetch();
        FoundationCommandRunner runner(mebibyte);
        const QString processIds = m_folder.filePath(u"bounds.pids"_s);
        QFile::remove(processIds);
        int ended = -1;
        try {
            const CommandResult result = awaitTask(
                runner.run(u"/bin/sh"_s, {u"-c"_s, script.arg(processIds)}, std::chrono::milliseconds(timeout)));
            QCOMPARE(result.standardOutput.size(), mebibyte);
        } catch (const CommandRunnerError &error) {
            ended = int(error.errorCase());
        }
        QCOMPARE(ended, ending);
        // The shell's background child went with it.
        for (const qint64 processId : processIdsIn(processIds))
            QTRY_VERIFY(!isProcessRunning(processId));
    }

    // When the application quits, the command under way ends with its whole group and leaves no folder behind; the
    // commands queued after it never start.
    void quittingEndsTheRunningCommand()
    {
        FoundationCommandRunner runner;
        const QString processIds = m_folder.filePath(u"quit.pids"_s);
        const QString started = m_folder.filePath(u"started"_s);
        QCoro::Task<CommandResult> running =
            runner.run(u"/bin/sh"_s, {u"-c"_s, u"sleep 600 & echo $$ $! > %1; wait"_s.arg(processIds)}, commandTimeout);
        QCoro::Task<CommandResult> queued =
            runner.run(u"/bin/sh"_s, {u"-c"_s, u"touch %1"_s.arg(started)}, commandTimeout);
        QTRY_COMPARE(processIdsIn(processIds).size(), 2);

        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec(); // ends with aboutToQuit, as the application does
        for (const qint64 processId : processIdsIn(processIds))
            QTRY_VERIFY(!isProcessRunning(processId));
        QCOMPARE(commandFoldersLeft(), QStringList());
        for (QCoro::Task<CommandResult> *task : {&running, &queued}) {
            try {
                awaitTask(*task);
                QFAIL("a command went on after quitting");
            } catch (const CommandRunnerError &error) {
                QCOMPARE(error.errorCase(), RunnerCase::stopped);
            }
        }
        QVERIFY(!QFileInfo::exists(started));
    }

    // The port prefix is proven by the client's command lines; this is the stop at quit.
    void serverControllerStopsTheLastUsedServerOnce()
    {
        QList<QStringList> shutdowns;
        ADBServerController controller([&shutdowns](const QString &executable, const QStringList &arguments) {
            shutdowns.append(QStringList{executable} + arguments);
        });
        controller.arguments({u"devices"_s}, u"/old/adb"_s);
        controller.arguments({u"devices"_s}, u"/bin/adb"_s);
        controller.stop();
        controller.stop();
        QCOMPARE(shutdowns, QList<QStringList>{(QStringList{u"/bin/adb"_s, u"-P"_s, u"45037"_s, u"kill-server"_s})});
    }

    void operationsRunTheirCommandLines_data()
    {
        TestTable<Operation, QStringList> rows;
        const QString single = m_folder.filePath(u"com.example.app.apk"_s), base = m_folder.filePath(u"base.apk"_s);
        const QString arm = m_folder.filePath(u"split_config.arm64_v8a.apk"_s),
                      xxhdpi = m_folder.filePath(u"split_config.xxhdpi.apk"_s);
        rows("list devices", [](ADBClient &client) -> QCoro::Task<void> { co_await client.devices(); },
             {u"devices"_s, u"-l"_s});
        rows("install one APK", [single](ADBClient &client) { return client.install({single}, phone()); },
             {u"-s"_s, serial, u"install"_s, u"-r"_s, single});
        const QStringList picked{xxhdpi, base, arm};
        // The set reaches adb under plain names in a private folder ("<private>" here), in the plan's order.
        rows("split set", [picked](ADBClient &client) { return client.install(picked, phone()); },
             {u"-s"_s, serial, u"install-multiple"_s, u"-r"_s, u"<private>/base.apk"_s, u"<private>/split1.apk"_s,
              u"<private>/split2.apk"_s});
        rows("launch the companion", [](ADBClient &client) { return client.launchCompanion(pairingURL, phone()); },
             {u"-s"_s, serial, u"shell"_s, u"am"_s, u"start"_s, u"-W"_s, u"-n"_s, u"com.drovan.tavrine/.MainActivity"_s,
              u"--es"_s, u"tavrine_pairing_payload_b64"_s,
              u"dGF2cmluZTovL3BhaXIvdjE_ZGV2aWNlPXB-fn4ma2V5PUsxMjM0NTY3ODlhYmNkZWYmdG9rZW49VDEyMzQ1Njc4OWFiY2RlZiZl"
              u"bmRwb2ludD0xOTIuMTY4LjEuMjA6NzAwMCZjb2RlPTEyMzQ1Ng"_s});
        rows("uninstall", [](ADBClient &client) { return client.uninstall(u"com.example.app_1"_s, phone()); },
             {u"-s"_s, serial, u"shell"_s, u"pm"_s, u"uninstall"_s, u"com.example.app_1"_s});
        AndroidDevice listed = phone();
        listed.transportID = u"7"_s;
        rows("a listed phone by its transport id",
             [listed](ADBClient &client) { return client.forceStop(u"com.example.app_1"_s, listed); },
             {u"-t"_s, u"7"_s, u"shell"_s, u"am"_s, u"force-stop"_s, u"com.example.app_1"_s});
        rows("force-stop", [](ADBClient &client) { return client.forceStop(u"com.example.app_1"_s, phone()); },
             {u"-s"_s, serial, u"shell"_s, u"am"_s, u"force-stop"_s, u"com.example.app_1"_s});
        rows("clear data", [](ADBClient &client) { return client.clearData(u"com.example.app_1"_s, phone()); },
             {u"-s"_s, serial, u"shell"_s, u"pm"_s, u"clear"_s, u"com.example.app_1"_s});
    }
    void operationsRunTheirCommandLines()
    {
        const auto [operation, arguments] = TestTable<Operation, QStringList>::fetch();
        // A package under its plain name is the file picked, linked: the same file, named anew.
        QList<ino_t> linked;
        m_runner->answer = [&linked](const QStringList &line) {
            for (const QString &argument : line) {
                if (argument.startsWith(QDir::tempPath()))
                    linked.append(fileNumber(argument));
            }
            return succeeded(line);
        };
        const QStringList listDevices{u"devices"_s, u"-l"_s};
        if (arguments == listDevices)
            m_runner->listing.reset(); // no phone to read properties of
        awaitTask(operation(*m_client));
        QList<QStringList> commands = m_runner->commands;
        for (QStringList &command : commands) {
            for (QString &argument : command) {
                if (argument.startsWith(QDir::tempPath()))
                    argument = u"<private>/"_s + QFileInfo(argument).fileName();
            }
        }
        // A command that changes the phone follows a listing that finds it.
        QList<QStringList> expected{adbLine(arguments)};
        if (arguments != listDevices)
            expected.prepend(adbLine(listDevices));
        QCOMPARE(commands, expected);
        if (!linked.isEmpty()) {
            QCOMPARE(linked, (QList<ino_t>{fileNumber(m_folder.filePath(u"base.apk"_s)),
                                           fileNumber(m_folder.filePath(u"split_config.arm64_v8a.apk"_s)),
                                           fileNumber(m_folder.filePath(u"split_config.xxhdpi.apk"_s))}));
        }
    }

    void commandsReachThePhoneAskedAbout_data()
    {
        // What adb lists when the command is sent, after the phone was listed as phoneLine (Pixel_7, panther,
        // transport 3) → the transport id the command goes to (none: nothing but the listing runs, the phone is gone).
        TestTable<QString, std::optional<QString>> rows;
        const QString mate = u"R58N device usb:1-1 product:ALN model:Mate_60 transport_id:3\n"_s;
        rows("still under its id", phoneLine, u"3"_s);
        rows("plugged in again", u"R58N device usb:1-4 product:panther model:Pixel_7 transport_id:9\n"_s, u"9"_s);
        rows("its id another phone's, of its serial", mate, std::nullopt);
        rows("its id another phone's, itself under another",
             mate + u"R58N device usb:1-2 product:panther "
                    u"model:Pixel_7 transport_id:4\n"_s,
             u"4"_s);
        rows("numbered the other way",
             u"E5 device usb:1-2 product:p model:M transport_id:3\n"
             u"R58N device usb:1-1 product:panther model:Pixel_7 transport_id:4\n"_s,
             u"4"_s);
        rows("two of its kind, neither under its id",
             u"R58N device usb:1-1 product:panther model:Pixel_7 "
             u"transport_id:5\nR58N device usb:1-2 product:panther "
             u"model:Pixel_7 transport_id:6\n"_s,
             std::nullopt);
        rows("listed without its model while it connects", u"R58N offline usb:1-1 transport_id:3\n"_s, std::nullopt);
        rows("elsewhere, not authorised", u"R58N offline usb:1-1 product:panther model:Pixel_7 transport_id:8\n"_s,
             std::nullopt);
        rows("on the network only", u"R58N device product:panther model:Pixel_7 transport_id:3\n"_s, std::nullopt);
        rows("gone", QString(), std::nullopt);
    }
    void commandsReachThePhoneAskedAbout()
    {
        const auto [listed, transport] = TestTable<QString, std::optional<QString>>::fetch();
        const AndroidDevice asked = ADBOutputParser::parseDeviceLine(phoneLine).value();
        m_runner->listing = listingHeader + listed;
        const ADBClientError failure = failureOf(m_client->clearData(u"com.x.y"_s, asked));
        const QList<QStringList> listing{adbLine({u"devices"_s, u"-l"_s})};
        if (transport) {
            QCOMPARE(failure.arguments(), QStringList{u"<succeeded>"_s});
            QCOMPARE(m_runner->commands, listing + QList<QStringList>{adbLine({u"-t"_s, *transport, u"shell"_s, u"pm"_s,
                                                                               u"clear"_s, u"com.x.y"_s})});
        } else {
            QCOMPARE(failure, ADBClientError(Case::deviceNotFound));
            QCOMPARE(m_runner->commands, listing);
        }
    }

    // Commands started together each run right after the listing that found their phone, never after another
    // command's listing.
    void eachCommandFollowsTheListingThatFoundItsPhone()
    {
        m_runner->answersLater = true;
        QCoro::Task<void> stop = m_client->forceStop(u"com.x.y"_s, phone());
        QCoro::Task<void> clear = m_client->clearData(u"com.x.y"_s, phone());
        awaitTask(stop);
        awaitTask(clear);
        const QStringList listing = adbLine({u"devices"_s, u"-l"_s});
        QCOMPARE(
            m_runner->commands,
            (QList<QStringList>{listing, adbLine({u"-s"_s, serial, u"shell"_s, u"am"_s, u"force-stop"_s, u"com.x.y"_s}),
                                listing, adbLine({u"-s"_s, serial, u"shell"_s, u"pm"_s, u"clear"_s, u"com.x.y"_s})}));
    }

    void failuresAreClassifiedFromTheirMessage_data()
    {
        TestTable<QString, QString, ADBClientError, QString> rows;
        const QStringList line = adbLine({u"-s"_s, serial, u"shell"_s, u"pm"_s, u"uninstall"_s, u"com.x.y"_s});
        const auto coded = [&rows](const char *name, const QString &code, Case errorCase, const QString &text) {
            rows(name, u"adb: failed to install a.apk: Failure [%1: reason]\n"_s.arg(code), QString(),
                 ADBClientError(errorCase), text);
        };
        coded("user restricted", u"INSTALL_FAILED_USER_RESTRICTED"_s, Case::installNeedsPhoneApproval,
              u"手机系统暂时取消了本次安装。请保持手机解锁和 USB 连接稳定后重试；若出现安全确认，请允许安装。"_s);
        coded("update incompatible", u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s, Case::signatureConflict,
              u"手机上已有另一个签名的同名应用。为保护现有数据，Tavrine 没有覆盖它。"_s);
        coded("downgrade", u"INSTALL_FAILED_VERSION_DOWNGRADE"_s, Case::versionDowngrade,
              u"所选版本低于手机中的版本，Tavrine 不会自动降级应用。"_s);
        coded("parse failed", u"INSTALL_PARSE_FAILED_NO_CERTIFICATES"_s, Case::invalidPackage,
              u"这个安装包无效或签名不完整，请换一个 APK。"_s);
        coded("invalid APK", u"INSTALL_FAILED_INVALID_APK"_s, Case::invalidPackage,
              u"这个安装包无效或签名不完整，请换一个 APK。"_s);
        coded("storage", u"INSTALL_FAILED_INSUFFICIENT_STORAGE"_s, Case::insufficientStorage,
              u"手机可用空间不足，清理空间后再试。"_s);
        coded("the earlier code of the table wins",
              u"INSTALL_FAILED_INSUFFICIENT_STORAGE INSTALL_FAILED_USER_RESTRICTED"_s, Case::installNeedsPhoneApproval,
              u"手机系统暂时取消了本次安装。请保持手机解锁和 USB 连接稳定后重试；若出现安全确认，请允许安装。"_s);
        // Android's other codes with a text of their own, and adb's own failures.
        for (const auto &[code, errorCase] : std::initializer_list<std::pair<QString, Case>>{
                 {u"INSTALL_FAILED_MISSING_SPLIT"_s, Case::installMissingSplit},
                 {u"INSTALL_CANCELED_BY_USER"_s, Case::installCanceledOnPhone}, // Xiaomi's prompt declined
                 {u"INSTALL_FAILED_VERIFICATION_FAILURE"_s, Case::installVerificationFailed},
                 {u"INSTALL_FAILED_CONFLICTING_PROVIDER"_s, Case::installConflictingProvider},
                 {u"INSTALL_FAILED_DUPLICATE_PERMISSION"_s, Case::installDuplicatePermission},
                 {u"INSTALL_FAILED_MISSING_SHARED_LIBRARY"_s, Case::installMissingSharedLibrary},
                 {u"INSTALL_FAILED_SHARED_USER_INCOMPATIBLE"_s, Case::installSharedUserIncompatible},
                 {u"INSTALL_FAILED_INTERNAL_ERROR"_s, Case::installInternalError},
                 {u"INSTALL_FAILED_SESSION_INVALID"_s, Case::installSessionInvalid},
                 {u"INSTALL_FAILED_PERMISSION_MODEL_DOWNGRADE"_s, Case::installPermissionModelDowngrade}})
            coded(code.toLatin1().constData(), code, errorCase, ADBClientError(errorCase).errorDescription());
        rows("another code is named, not shown raw",
             u"adb: failed to install /a/b.apk: Failure [INSTALL_FAILED_BAD_DEX_METADATA: x]\n"_s, QString(),
             ADBClientError::phoneRefused(line, u"INSTALL_FAILED_BAD_DEX_METADATA"_s, 1),
             u"手机没有完成这个操作（Android 返回代码 INSTALL_FAILED_BAD_DEX_METADATA）。"_s);
        rows("connection closed", u"error: closed\n"_s, QString(), ADBClientError(Case::connectionClosed),
             u"与手机的连接中断了。请重新插拔 USB 线，解锁手机后再试。"_s);
        rows("server without an answer", u"adb: protocol fault (couldn't read status): Connection reset by peer\n"_s,
             QString(), ADBClientError(Case::serverNotAnswering), u"手机连接服务没有正常回应，请稍后再试。"_s);
        rows("server of another version",
             u"error: failed to check server version: protocol fault (couldn't read status length): Success\n"_s,
             QString(), ADBClientError(Case::serverVersionUnknown), u"无法确认手机连接服务的版本，请稍后再试。"_s);
        // Android before 7 writes the package manager's answer on standard output, whatever adb adds on standard
        // error.
        rows("a code on standard output counts beside standard error",
             u"adb: error: failed to copy 'a.apk' to '/data/local/tmp/a.apk'\n"_s,
             u"\tpkg: /data/local/tmp/a.apk\nFailure [INSTALL_FAILED_VERSION_DOWNGRADE]\n"_s,
             ADBClientError(Case::versionDowngrade), u"所选版本低于手机中的版本，Tavrine 不会自动降级应用。"_s);
        // Only adb's and the phone's own lines are read: not a progress line, nor a server's start-up log.
        const QString progress = u"Performing Streamed Install: device offline, Error type 3"_s;
        rows("lines adb and the phone do not write themselves", progress + u"\n"_s, QString(),
             ADBClientError::commandFailed(line, progress, 1), progress);
        rows("blank standard error gives standard output, codes are case-sensitive", u" \n\t"_s,
             u"  install_failed_version_downgrade\n"_s,
             ADBClientError::commandFailed(line, u"install_failed_version_downgrade"_s, 1),
             u"install_failed_version_downgrade"_s);
        rows("nothing printed", QString(), u"\n"_s, ADBClientError::commandFailed(line, QString(), 1),
             u"操作没有完成，请重新连接手机后再试。"_s);
    }
    void failuresAreClassifiedFromTheirMessage()
    {
        const auto [standardError, standardOutput, error, text] =
            TestTable<QString, QString, ADBClientError, QString>::fetch();
        m_runner->answer = [output = standardOutput, errors = standardError](const QStringList &arguments) {
            return CommandResult{arguments, output, errors, 1};
        };
        const ADBClientError failure = failureOf(m_client->uninstall(u"com.x.y"_s, phone()));
        QCOMPARE(failure, error);
        QCOMPARE(failure.errorDescription(), text);
    }

    void phoneAnswersDecideTheOutcome_data()
    {
        // The operation ("launch", "uninstall", "clear", "force-stop", "install", "split"), what adb printed on
        // standard output and standard error, its status, and the outcome: the error's case (none: it succeeded).
        TestTable<QString, QString, QString, int, std::optional<Case>> rows;
        const QString starting = u"Starting: Intent { cmp=com.drovan.tavrine/.MainActivity (has extras) }\n"_s;
        // A missing activity, a refused uninstall and a refused clear on phones before and after Android 7 are
        // answered by the fake adb's phones (test_adb_real_phones); these are the other answers.
        rows("launch that timed out", u"launch"_s, starting + u"Status: timeout\nActivity: x\nComplete\n"_s, QString(),
             0, Case::companionNotStarted);
        rows("launch with an error line", u"launch"_s,
             starting + u"Status: ok\nError: Activity not started, unknown error\n"_s, QString(), 0,
             Case::companionNotStarted);
        rows("uninstall without an answer", u"uninstall"_s, QString(), QString(), 0, Case::commandFailed);
        rows("force-stop, Android 6", u"force-stop"_s, u"java.lang.SecurityException: Permission Denial\n"_s, QString(),
             0, Case::operationNotAllowed);
        rows("force-stop", u"force-stop"_s, QString(), QString(), 0, std::nullopt);
        const auto refused = [&rows](const char *name, const QString &code, Case errorCase) {
            rows(name, u"install"_s, u"Performing Streamed Install\n"_s,
                 u"adb: failed to install /a/app.apk: Failure [%1]\n"_s.arg(code), 1, errorCase);
        };
        refused("debug build", u"INSTALL_FAILED_TEST_ONLY: installPackageLI"_s, Case::installTestOnly);
        refused("prompt declined", u"INSTALL_FAILED_ABORTED: User rejected permissions"_s,
                Case::installRejectedOnPhone);
        refused("newer Android needed", u"INSTALL_FAILED_OLDER_SDK: Failed parse during installPackageLI"_s,
                Case::installNeedsNewerAndroid);
        refused("other processor", u"INSTALL_FAILED_NO_MATCHING_ABIS: Failed to extract native libraries, res=-113"_s,
                Case::installWrongProcessor);
        refused("too old a target",
                u"INSTALL_FAILED_DEPRECATED_SDK_VERSION: App package must target at least SDK "
                u"version 23"_s,
                Case::installNeedsOlderAndroid);
        rows("install, Android 6", u"install"_s,
             u"Performing Push Install\n\tpkg: /data/local/tmp/app.apk\n"
             u"Failure [INSTALL_FAILED_OLDER_SDK]\n"_s,
             QString(), 0, Case::installNeedsNewerAndroid);
        rows("install", u"install"_s, u"Performing Streamed Install\nSuccess\n"_s, QString(), 0, std::nullopt);
        rows("split set refused", u"split"_s, QString(),
             u"adb: failed to finalize session\nFailure [INSTALL_FAILED_ABORTED]\n"_s, 1, Case::installRejectedOnPhone);
        // adb's own failures.
        rows("phone gone", u"force-stop"_s, QString(), u"error: device 'R58N' not found\n"_s, 1, Case::deviceNotFound);
        rows("transport gone", u"force-stop"_s, QString(), u"error: no device with transport id '3'\n"_s, 1,
             Case::deviceNotFound);
        rows("offline", u"force-stop"_s, QString(), u"error: device offline\n"_s, 1, Case::deviceOffline);
        rows("unauthorised", u"force-stop"_s, QString(),
             u"error: device unauthorized.\nThis adb server's $ADB_VENDOR_KEYS is not set\nTry 'adb kill-server' if "
             u"that seems wrong.\nOtherwise check for a confirmation dialog on your device.\n"_s,
             1, Case::deviceNotAuthorized);
        rows("no permissions", u"force-stop"_s, QString(),
             u"error: insufficient permissions for device: user in plugdev group; are your udev rules wrong?\n"_s, 1,
             Case::usbPermissionDenied);
        rows("server that would not start", u"force-stop"_s, QString(),
             u"* daemon not running; starting now at tcp:45037\nADB server didn't ACK\nFull server startup log: "
             u"/tmp/adb.1000.log\n* failed to start daemon\nerror: cannot connect to daemon\n"_s,
             1, Case::serverUnavailable);
    }
    void phoneAnswersDecideTheOutcome()
    {
        const auto [operation, standardOutput, standardError, status, outcome] =
            TestTable<QString, QString, QString, int, std::optional<Case>>::fetch();
        m_runner->answer = [output = standardOutput, errors = standardError,
                            code = status](const QStringList &arguments) {
            return CommandResult{arguments, output, errors, code};
        };
        const QString id = u"com.x.y"_s;
        const std::map<QString, std::function<QCoro::Task<void>()>> operations{
            {u"launch"_s,
             [&] {
                 return m_client->launchCompanion(pairingURL, phone());
             }},
            {u"uninstall"_s,
             [&] {
                 return m_client->uninstall(id, phone());
             }},
            {u"clear"_s,
             [&] {
                 return m_client->clearData(id, phone());
             }},
            {u"force-stop"_s,
             [&] {
                 return m_client->forceStop(id, phone());
             }},
            {u"install"_s,
             [&] {
                 return m_client->install({m_folder.filePath(u"com.example.app.apk"_s)}, phone());
             }},
            {u"split"_s,
             [&] {
                 return m_client->install(
                     {m_folder.filePath(u"base.apk"_s), m_folder.filePath(u"split_config.xxhdpi.apk"_s)}, phone());
             }},
        };
        const ADBClientError failure = failureOf(operations.at(operation)());
        const bool succeeded = failure.arguments() == QStringList{u"<succeeded>"_s};
        QCOMPARE(succeeded ? std::nullopt : std::optional(failure.errorCase()), outcome);
        // A failure the table knows shows a text of its own, never adb's English.
        if (!succeeded && failure.errorCase() != Case::commandFailed)
            QVERIFY(!failure.errorDescription().contains(u"Fail"_s) && !failure.errorDescription().contains(u"rror"_s));
    }

    void serverNoticesAreNeverPartOfAMessage()
    {
        m_runner->answer = [](const QStringList &arguments) {
            return CommandResult{arguments, u"adb: usage: unknown command\n"_s,
                                 u"* daemon not running; starting now at tcp:45037\n* daemon started successfully\n"_s,
                                 1};
        };
        QCOMPARE(failureOf(m_client->forceStop(u"com.x.y"_s, phone())).errorDescription(),
                 u"adb: usage: unknown command"_s);
    }

    void phonesMatchTheModelTheyReport_data()
    {
        // adb's copy of the model (none: not listed with one), the phone's own model (none: not read), the model the
        // phone reports to the companion, whether they match.
        TestTable<std::optional<QString>, std::optional<QString>, QString, bool> rows;
        rows("own model, letter case and blanks", u"SM_S9180"_s, u"SM-S9180"_s, u" sm-s9180\n"_s, true);
        rows("own model decides over adb's copy", u"SM_S9180"_s, u"SM-S9180"_s, u"SM_S9180"_s, false);
        rows("adb's copy: a blank read as _", u"Redmi_Note_12"_s, std::nullopt, u"Redmi Note 12"_s, true);
        rows("adb's copy: a dash read as _", u"SM_S9180"_s, std::nullopt, u"SM-S9180"_s, true);
        rows("adb's copy: each byte of a Chinese character as _", u"_______13"_s, std::nullopt, u"小米 13"_s, true);
        rows("adb's copy: another model", u"SM_S9180"_s, std::nullopt, u"SM-S918B"_s, false);
        rows("no model at all", std::nullopt, std::nullopt, u"Pixel 7"_s, false);
        rows("blank report", u"_"_s, std::nullopt, u" "_s, false);
    }
    void phonesMatchTheModelTheyReport()
    {
        const auto [model, productModel, reported, matches] =
            TestTable<std::optional<QString>, std::optional<QString>, QString, bool>::fetch();
        AndroidDevice device = phone();
        device.model = model;
        device.productModel = productModel;
        QCOMPARE(device.matchesPhoneModel(reported), matches);
    }

    // A model longer than a name is shown is compared whole: as the phone states it, and as adb lists it.
    void longModelsAreComparedWholeAndShownCut_data()
    {
        // The phone's own model, whether its properties were read, the model the phone reports, whether they match.
        TestTable<QString, bool, QString, bool> rows;
        const QString model = QString(64, u'M') + u" Pro 5G"_s;
        const QString sibling = QString(64, u'M') + u" Pro 4G"_s;
        rows("own model", model, true, model, true);
        rows("own model, another ending", model, true, sibling, false);
        rows("adb's copy", model, false, model, true);
        rows("adb's copy, another ending", model, false, sibling, false);
    }
    void longModelsAreComparedWholeAndShownCut()
    {
        const auto [model, read, reported, matches] = TestTable<QString, bool, QString, bool>::fetch();
        QString adbCopy = model;
        adbCopy.replace(u' ', u'_');
        std::optional<AndroidDevice> device = ADBOutputParser::parseDeviceLine(
            u"R58N device usb:1-1 product:p model:"_s + adbCopy + u" transport_id:1"_s);
        QVERIFY(device);
        if (read)
            ADBDeviceProperties::fromGetpropOutput(u"[ro.product.model]: [%1]\n"_s.arg(model)).applyTo(*device);
        QCOMPARE(device->matchesPhoneModel(reported), matches);
        QCOMPARE(device->displayName(), QString(64, u'M') + u'…');
    }

    void failureTextsAreCutToAnExcerpt_data()
    {
        // What adb printed on standard error; the text the failure shows.
        TestTable<QString, QString> rows;
        const QString bound(4096, u'a');
        rows("within the bound", bound, bound);
        rows("six megabytes", QString(6'000'000, u'a'), bound + u'…');
        rows("three-byte characters, cut between two", QString(1366, u'中'), QString(1365, u'中') + u'…');
        rows("a character beyond the basic plane is not split", QString(4093, u'a') + u"😀"_s,
             QString(4093, u'a') + u'…');
        rows("a code past the excerpt still decides",
             QString(5'000'000, u'x') + u"\nFailure [INSTALL_FAILED_VERSION_DOWNGRADE]"_s,
             ADBClientError(Case::versionDowngrade).errorDescription());
        rows("control and direction characters are dropped, lines kept", u"adb: \u202Eabc\u001b[0m\u0007\nnext\tline"_s,
             u"adb: abc[0m\nnext\tline"_s);
    }
    void failureTextsAreCutToAnExcerpt()
    {
        const auto [standardError, shown] = TestTable<QString, QString>::fetch();
        m_runner->answer = [errors = standardError](const QStringList &arguments) {
            return CommandResult{arguments, {}, errors, 1};
        };
        QCOMPARE(failureOf(m_client->uninstall(u"com.x.y"_s, phone())).errorDescription(), shown);
    }

    void packageIdentifiersAreCheckedBeforeTheyReachTheShell_data()
    {
        TestTable<QString, bool> rows;
        rows("three parts", u"com.example.app_1"_s, true);
        rows("255 characters", u"a."_s + QString(253, u'b'), true);
        rows("256 characters", u"a."_s + QString(254, u'b'), false);
        rows("one part", u"example"_s, false);
        rows("trailing dot", u"com.x."_s, false);
        rows("trailing newline", u"com.x\n"_s, false);
        rows("shell command", u"com.x;reboot"_s, false);
        rows("non-ASCII letter", u"com.\u00e9.x"_s, false);
    }
    void packageIdentifiersAreCheckedBeforeTheyReachTheShell()
    {
        const auto [identifier, accepted] = TestTable<QString, bool>::fetch();
        for (const auto operation : {&ADBClient::uninstall, &ADBClient::forceStop, &ADBClient::clearData}) {
            const ADBClientError failure = failureOf((m_client.get()->*operation)(identifier, phone()));
            QCOMPARE(failure.errorCase() == Case::invalidPackageIdentifier, !accepted);
        }
        QCOMPARE(m_runner->commands.size(), accepted ? 6 : 0); // each with its listing
        QCOMPARE(ADBClientError(Case::invalidPackageIdentifier).errorDescription(),
                 u"应用标识无效，Tavrine 已取消操作。"_s);
    }

    void refusalsComeBeforeAnyCommand()
    {
        // The phone's state is tested first, before the files, the URL or the identifier.
        const AndroidDevice locked = phone(AndroidDevice::State::unauthorized);
        const ADBClientError notAuthorized(Case::deviceNotAuthorized);
        QCOMPARE(failureOf(m_client->install({u"/nowhere/notes.txt"_s}, locked)), notAuthorized);
        QCOMPARE(failureOf(m_client->launchCompanion(u"nonsense"_s, locked)), notAuthorized);
        QCOMPARE(failureOf(m_client->clearData(u"bad id"_s, locked)), notAuthorized);
        QCOMPARE(notAuthorized.errorDescription(), u"请解锁手机，并允许这台电脑连接。"_s);

        QVERIFY_THROWS_EXCEPTION(APKValidationError, awaitTask(m_client->install({u"/nowhere/notes.txt"_s}, phone())));
        QVERIFY_THROWS_EXCEPTION(PairingPayloadError, awaitTask(m_client->launchCompanion(u"nonsense"_s, phone())));

        m_controller->stop();
        const ADBClientError stopping = failureOf(m_client->devices());
        QCOMPARE(stopping, ADBClientError(Case::serverStopping));
        QCOMPARE(stopping.errorDescription(), u"Tavrine 正在退出，手机连接操作已取消。"_s);
        QCOMPARE(m_runner->commands, QList<QStringList>());

        QVERIFY_THROWS_EXCEPTION(ADBClientError, ADBClient(std::nullopt, m_runner, m_controller));
        QCOMPARE(ADBClientError(Case::executableMissing).errorDescription(),
                 u"Tavrine 的手机连接组件不可用，请重新安装 Tavrine。"_s);
    }

    void listingsReadPropertiesOncePerAttachedPhone()
    {
        m_runner->listing.reset();
        QString listing = listingHeader + phoneLine + otherLines;
        bool propertiesFail = false;
        const QString properties = u"[ro.product.model]: [Pixel 7]\n[ro.build.version.sdk]: [34]"_s;
        m_runner->answer = [&](const QStringList &arguments) {
            if (!arguments.contains(u"getprop"_s))
                return CommandResult{arguments, listing, {}, 0};
            return propertiesFail ? CommandResult{arguments, {}, u"error: closed"_s, 1}
                                  : CommandResult{arguments, properties, {}, 0};
        };
        const QStringList listDevices = adbLine({u"devices"_s, u"-l"_s});
        // The phone is named by the transport id it is listed with.
        const QList<QStringList> listAndRead{listDevices, adbLine({u"-t"_s, u"3"_s, u"shell"_s, u"getprop"_s})};
        QList<AndroidDevice> devices;
        const auto commandsOfListing = [&] {
            m_runner->commands.clear();
            devices = awaitTask(m_client->devices());
            return m_runner->commands;
        };

        QCOMPARE(commandsOfListing(), listAndRead);
        QCOMPARE(devices.size(), 2); // the phone on the network is not a USB phone
        QCOMPARE(devices.at(0).marketingName, u"Pixel 7"_s);
        QCOMPARE(devices.at(0).sdkLevel, std::optional<qint64>(34));
        QCOMPARE(devices.at(1).marketingName, std::nullopt); // not authorised
        const QList<AndroidDevice> first = devices;
        QCOMPARE(commandsOfListing(), QList<QStringList>{listDevices});
        QCOMPARE(devices, first);

        listing = listingHeader + otherLines; // unplugged: its properties are forgotten
        QCOMPARE(commandsOfListing(), QList<QStringList>{listDevices});
        QVERIFY(m_client->cachedProperties().isEmpty());
        listing = listingHeader + phoneLine;
        propertiesFail = true;
        QCOMPARE(commandsOfListing(), listAndRead);
        QCOMPARE(devices.at(0).marketingName, std::nullopt);
        propertiesFail = false;
        QCOMPARE(commandsOfListing(), listAndRead);
        QCOMPARE(devices.at(0).marketingName, u"Pixel 7"_s);
    }

    // A phone whose shell does not answer is asked again after 1, 2, 4, … listings, up to 32; one that answered
    // with a failure, at the next listing; an answer ends the waiting.
    void listingsBackOffFromAPhoneThatDoesNotAnswer()
    {
        m_runner->listing.reset();
        QString listing = listingHeader + phoneLine;
        bool answers = false;
        m_runner->answer = [&listing](const QStringList &arguments) {
            return CommandResult{
                arguments, arguments.contains(u"getprop"_s) ? u"[ro.product.model]: [P]"_s : listing, {}, 0};
        };
        m_runner->timesOut = [&answers](const QStringList &arguments) {
            return arguments.contains(u"getprop"_s) && !answers;
        };
        QList<int> asked;
        for (int listingNumber = 1; listingNumber <= 80; ++listingNumber) {
            m_runner->commands.clear();
            const QList<AndroidDevice> devices = awaitTask(m_client->devices());
            QCOMPARE(devices.size(), 1);
            if (m_runner->commands.size() > 1)
                asked.append(listingNumber);
        }
        QCOMPARE(asked, (QList<int>{1, 3, 6, 11, 20, 37, 70}));

        answers = true;
        int reads = 0;
        for (int listingNumber = 71; listingNumber <= 104; ++listingNumber) {
            m_runner->commands.clear();
            const QList<AndroidDevice> devices = awaitTask(m_client->devices());
            reads += int(m_runner->commands.size()) - 1;
            if (reads > 0)
                QCOMPARE(devices.value(0).marketingName, u"P"_s);
        }
        QCOMPARE(reads, 1); // within 33 listings of the last, then never again

        // Unplugged, then plugged in again: asked at once, and waited for from the start again.
        answers = false;
        listing = listingHeader;
        awaitTask(m_client->devices());
        listing = listingHeader + phoneLine;
        asked.clear();
        for (int listingNumber = 1; listingNumber <= 3; ++listingNumber) {
            m_runner->commands.clear();
            awaitTask(m_client->devices());
            if (m_runner->commands.size() > 1)
                asked.append(listingNumber);
        }
        QCOMPARE(asked, (QList<int>{1, 3}));
    }

    // Each phone's properties are read beside the others', but no more than eight at once: a listing of many phones
    // leaves the rest to the listings after it.
    void propertyReadsAreBounded()
    {
        m_runner->listing.reset();
        QString listing = listingHeader;
        for (int phone = 1; phone <= 20; ++phone)
            listing += u"P%1 device usb:1-%1 product:p model:M transport_id:%1\n"_s.arg(phone);
        m_runner->answer = [&listing](const QStringList &arguments) {
            return CommandResult{
                arguments, arguments.contains(u"getprop"_s) ? u"[ro.product.model]: [M]"_s : listing, {}, 0};
        };
        QList<qsizetype> reads;
        for (int listingNumber = 1; listingNumber <= 4; ++listingNumber) {
            m_runner->commands.clear();
            awaitTask(m_client->devices());
            reads.append(m_runner->commands.size() - 1);
        }
        QCOMPARE(reads, (QList<qsizetype>{8, 8, 4, 0}));
    }

    void locatorTakesTheFirstExecutableCandidate()
    {
        QProcessEnvironment environment;
        environment.insert(u"TAVRINE_ADB_PATH"_s, u"/configured/adb"_s);
        environment.insert(u"PATH"_s, u"/one::bin:"_s);
        QCOMPARE(adbCandidatePaths(environment, u"/home/u"_s, u"/app/Helpers/adb"_s),
                 (QStringList{u"/configured/adb"_s, u"/app/Helpers/adb"_s, u"/home/u/Android/Sdk/platform-tools/adb"_s,
                              u"/usr/lib/android-sdk/platform-tools/adb"_s, u"/usr/local/bin/adb"_s, u"/one/adb"_s}));

        // A configured plain file and a configured folder are passed over.
        const QString bundled = m_folder.filePath(u"bundle/adb"_s);
        QVERIFY(writeFile(m_folder.filePath(u"plain/adb"_s), "") && writeFile(bundled, ""));
        QVERIFY(QFile::setPermissions(bundled, QFile::ReadOwner | QFile::ExeOwner));
        for (const QString &configured : {u"plain/adb"_s, u"bundle"_s}) {
            environment.insert(u"TAVRINE_ADB_PATH"_s, m_folder.filePath(configured));
            QCOMPARE(locateADBExecutable(environment, m_folder.path(), bundled), bundled);
        }
    }

private:
    QTemporaryDir m_folder;
    QTemporaryDir m_temporary;
    std::shared_ptr<ScriptedRunner> m_runner;
    std::shared_ptr<ADBServerController> m_controller;
    std::unique_ptr<ADBClient> m_client;
};

QTEST_GUILESS_MAIN(TestADBClient)
#include "test_adb_client.moc"

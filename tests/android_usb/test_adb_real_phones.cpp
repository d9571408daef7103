#include "ADBClient.h"
#include "AwaitTask.h"
#include "DefaultADBClient.h"
#include "ProcessProbe.h"
#include "TestSupport.h"
#include "ZipBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Case = ADBClientError::Case;

namespace {

const QString pairingURL = u"tavrine://pair/v1?device=p~~~&key=K123456789abcdef&token=T123456789abcdef"
                           u"&endpoint=127.0.0.1:7000&code=123456"_s;

// The error case the task fails with; none when it succeeds.
template <typename T> std::optional<Case> failureOf(QCoro::Task<T> task)
{
    try {
        awaitTask(task);
    } catch (const ADBClientError &error) {
        return error.errorCase();
    }
    return std::nullopt;
}

} // namespace

// The adb client over the fake adb, whose phones print and end as real adb and real phones do: the listings of
// both USB back ends, phones without a serial or sharing one, phones before Android 7, split sets with names the
// phone's shell would read as commands, and a phone that goes away.
class ADBRealPhonesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("fake-adb").toUtf8());
        // The runner's folders and the install's plain names go to TMPDIR; a private one shows what is left.
        QVERIFY(m_temporary.isValid());
        qputenv("TMPDIR", m_temporary.path().toUtf8());
    }

    void init()
    {
        m_folder.emplace();
        qputenv("TAVRINE_FAKE_ADB_STATE", state(QString()).toUtf8());
        QVERIFY(QDir().mkpath(state(QString())));
    }

    // Neither a command's folder nor a split set's plain names are left behind.
    void cleanup()
    {
        QCOMPARE(QDir(m_temporary.path()).entryList({u"tavrine-*"_s}, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // adb hands each name of a split set to the phone's shell unquoted: the phone sees only plain names.
    void splitNamesNeverReachThePhonesShell()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N"}])"));
        const QStringList names{u"base.apk"_s, u"config (1).apk"_s, u"x;pm uninstall com.victim;.apk"_s,
                                u"$(pm clear com.victim).apk"_s};
        QStringList files;
        for (const QString &name : names) {
            files.append(m_folder->filePath(name));
            QVERIFY(writeFile(files.last(), buildZip({"AndroidManifest.xml"}).bytes));
        }
        const std::shared_ptr<ADBClient> client = makeDefaultADBClient();
        const QList<AndroidDevice> phones = listed(*client);
        QCOMPARE(failureOf(client->install(files, phones.value(0))), std::nullopt);

        QStringList seen;
        for (const QByteArray &line : contentsOf(state(u"phone-shell.log"_s)).trimmed().split('\n'))
            seen.append(QJsonDocument::fromJson(line).toVariant().toStringList().join(u' '));
        const qsizetype size = QFileInfo(files.first()).size();
        QStringList expected;
        for (const QString &name : {u"base.apk"_s, u"split1.apk"_s, u"split2.apk"_s, u"split3.apk"_s})
            expected.append(u"cmd package install-write -S %1 1234 %2 -"_s.arg(size).arg(name));
        QCOMPARE(seen, expected);
    }

    // "adb uninstall" waits for a phone that is gone, for ever; the phone's own shell fails at once.
    void anUninstallOfAGonePhoneEndsAtOnce()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N"}])"));
        QVERIFY(writeFile(state(u"installed/R58N"_s), "com.example.app\n"));
        const auto client = makeClient(ADBCommandTimeouts{15s, 20s, 20s});
        const AndroidDevice phone = listed(*client).value(0);
        QVERIFY(writeFile(state(u"devices.json"_s), "[]"));
        QCOMPARE(failureOf(client->uninstall(u"com.example.app"_s, phone)), Case::deviceNotFound);
    }

    void theListingNeverWaitsBehindAnApplicationCommand()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N"}])"));
        const QString package = m_folder->filePath(u"app.apk"_s);
        QVERIFY(writeFile(package, buildZip({"AndroidManifest.xml"}).bytes));
        const auto client = makeClient(ADBCommandTimeouts{15s, 15s, 3s});
        const AndroidDevice phone = listed(*client).value(0);
        QVERIFY(writeFile(state(u"failures.json"_s), R"({"install": {"hang": true}})"));
        QCoro::Task<void> install = client->install({package}, phone);
        QTRY_VERIFY(QFileInfo::exists(state(u"hang.pids"_s)));
        QCOMPARE(listed(*client).size(), 1);
        QVERIFY(!install.isReady());
        QCOMPARE(failureOf(std::move(install)), Case::commandTimedOut);
        for (const qint64 processId : processIdsIn(state(u"hang.pids"_s)))
            QTRY_VERIFY(!isProcessRunning(processId));
    }

    void listingsAsAdbPrintsThem_data()
    {
        // The phones the fake lists, whether it writes paths as adb's libusb back end does, and what the client
        // lists: serial, state, transport id.
        TestTable<QByteArray, bool, QStringList> rows;
        const QByteArray phone = R"([{"serial": "R58N", "model": "Pixel 7"}])";
        rows("native back end", phone, false, {u"R58N device 1"_s});
        rows("libusb back end", phone, true, {u"R58N device 1"_s});
        rows("no serial, no permissions, waiting",
             R"([{"serial": ""}, {"serial": "N1", "state": "no permissions"}, {"serial": "A1", "state": "authorizing"},
                 {"serial": "C1", "state": "connecting"}])",
             false, {u" device 1"_s, u"N1 no permissions 2"_s, u"A1 authorizing 3"_s, u"C1 connecting 4"_s});
        rows("network phones are not USB phones", R"([{"serial": "10.0.0.2:5555", "usb": false}])", true, {});
    }
    void listingsAsAdbPrintsThem()
    {
        const auto [phones, libusb, expected] = TestTable<QByteArray, bool, QStringList>::fetch();
        QVERIFY(writeFile(state(u"devices.json"_s), phones));
        if (libusb)
            qputenv("ADB_LIBUSB", "1");
        const QList<AndroidDevice> devices = listed(*makeDefaultADBClient());
        qunsetenv("ADB_LIBUSB");
        QStringList described;
        for (const AndroidDevice &device : devices)
            described.append(device.serial + u' ' + AndroidDevice::rawValue(device.state) + u' ' +
                             device.transportID.value_or(QString()));
        QCOMPARE(described, expected);
    }

    // Phones without a serial, or sharing one, are each reached through their own transport.
    void phonesAreNamedByTheirTransport()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "0123456789ABCDEF", "model": "A"},
                                                        {"serial": "0123456789ABCDEF", "model": "B"},
                                                        {"serial": "", "model": "C"}])"));
        QVERIFY(writeFile(state(u"installed/0123456789ABCDEF"_s), "com.example.app\n"));
        QVERIFY(writeFile(state(u"installed/-"_s), "com.example.app\n"));
        const std::shared_ptr<ADBClient> client = makeDefaultADBClient();
        const QList<AndroidDevice> phones = listed(*client);
        QCOMPARE(phones.size(), 3);
        QStringList names;
        for (const AndroidDevice &phone : phones) {
            QCOMPARE(failureOf(client->clearData(u"com.example.app"_s, phone)), std::nullopt);
            names.append(phone.productModel.value_or(u"?"_s));
        }
        QCOMPARE(names, (QStringList{u"A"_s, u"B"_s, u"C"_s}));
        QCOMPARE(commandLines().filter(u"pm clear"_s),
                 (QStringList{u"-t 1 shell pm clear com.example.app"_s, u"-t 2 shell pm clear com.example.app"_s,
                              u"-t 3 shell pm clear com.example.app"_s}));
    }

    // adb would send every command to the server this names; ours runs on this computer.
    void theServerAddressOfTheEnvironmentIsLeftOut()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N"}])"));
        qputenv("ANDROID_ADB_SERVER_ADDRESS", "192.0.2.7");
        const std::shared_ptr<ADBClient> client = makeDefaultADBClient();
        QList<AndroidDevice> phones;
        try {
            phones = listed(*client);
        } catch (...) {
        }
        qunsetenv("ANDROID_ADB_SERVER_ADDRESS");
        QCOMPARE(phones.size(), 1);
    }

    void answersOfThePhoneDecide_data()
    {
        // The phone's Android SDK level, the operation, and its outcome.
        TestTable<int, QString, std::optional<Case>> rows;
        for (const int sdk : {23, 34}) {
            const QByteArray version = sdk < 24 ? "Android 6: " : "Android 14: ";
            const auto row = [&rows, &version, sdk](const char *name, const QString &operation,
                                                    std::optional<Case> outcome) {
                rows((version + name).constData(), sdk, operation, outcome);
            };
            row("clearing data of an application not installed", u"clear missing"_s, Case::operationFailed);
            row("clearing data refused", u"clear protected"_s, Case::operationNotAllowed);
            row("clearing data", u"clear"_s, std::nullopt);
            row("uninstalling an application not installed", u"uninstall missing"_s, Case::uninstallFailed);
            row("uninstalling", u"uninstall"_s, std::nullopt);
            row("opening a companion not installed", u"launch missing"_s, Case::companionMissing);
            row("opening the companion", u"launch"_s, std::nullopt);
        }
    }
    void answersOfThePhoneDecide()
    {
        const auto [sdk, operation, outcome] = TestTable<int, QString, std::optional<Case>>::fetch();
        QVERIFY(
            writeFile(state(u"devices.json"_s),
                      uR"([{"serial": "R58N", "sdk": %1, "protected": ["com.example.guarded"]}])"_s.arg(sdk).toUtf8()));
        QVERIFY(writeFile(state(u"installed/R58N"_s), "com.example.app\ncom.example.guarded\n"));
        const std::shared_ptr<ADBClient> client = makeDefaultADBClient();
        const AndroidDevice phone = listed(*client).value(0);
        const bool missing = operation.endsWith(u" missing"_s);
        const QString package = missing ? u"com.example.gone"_s : u"com.example.app"_s;
        std::optional<Case> failure;
        if (operation.startsWith(u"clear"_s))
            failure = failureOf(
                client->clearData(operation.endsWith(u"protected"_s) ? u"com.example.guarded"_s : package, phone));
        else if (operation.startsWith(u"uninstall"_s))
            failure = failureOf(client->uninstall(package, phone));
        else {
            if (!missing)
                QVERIFY(writeFile(state(u"installed/R58N"_s), "com.drovan.tavrine\n"));
            failure = failureOf(client->launchCompanion(pairingURL, phone));
        }
        QCOMPARE(failure, outcome);
    }

    void installRefusalsAreReadFromThePhonesWords_data()
    {
        // The package's file name, the maker the phone's properties name (empty: none), the phone's refusal, and the
        // text shown.
        TestTable<QString, QString, QString, QString> rows;
        const auto text = [](Case errorCase) {
            return ADBClientError(errorCase).errorDescription();
        };
        // adb echoes the package's path before the phone's answer: the name of the file says nothing.
        rows("a file named after an adb failure", u"device offline.apk"_s, QString(),
             u"INSTALL_FAILED_CONFLICTING_PROVIDER: Scanning Failed.: Can't install because provider name "
             u"com.example.files (in package com.example.app) is already used by com.other.app"_s,
             text(Case::installConflictingProvider));
        rows("a file named after the activity manager's failure", u"Error type 3.apk"_s, QString(),
             u"INSTALL_FAILED_MISSING_SPLIT: Missing split for com.example.app"_s, text(Case::installMissingSplit));
        // Xiaomi's phones refuse an install over USB this way while "USB 安装" is off in the developer options.
        rows("Xiaomi with USB installs off", u"app.apk"_s, u"Xiaomi"_s,
             u"INSTALL_FAILED_USER_RESTRICTED: Install canceled by user"_s, text(Case::installNeedsUSBInstallSetting));
        rows("another maker's restriction", u"app.apk"_s, u"samsung"_s,
             u"INSTALL_FAILED_USER_RESTRICTED: Install canceled by user"_s, text(Case::installNeedsPhoneApproval));
        rows("Xiaomi's prompt declined", u"app.apk"_s, u"Xiaomi"_s, u"INSTALL_CANCELED_BY_USER"_s,
             text(Case::installCanceledOnPhone));
        rows("a code without a text of its own", u"device offline.apk"_s, QString(),
             u"INSTALL_FAILED_UID_CHANGED: Package com.example.app couldn't be installed"_s,
             u"手机没有完成这个操作（Android 返回代码 INSTALL_FAILED_UID_CHANGED）。"_s);
    }
    void installRefusalsAreReadFromThePhonesWords()
    {
        const auto [fileName, maker, refusal, shown] = TestTable<QString, QString, QString, QString>::fetch();
        QJsonObject phone{{u"serial"_s, u"R58N"_s}, {u"model"_s, u"Phone"_s}};
        if (!maker.isEmpty())
            phone.insert(u"properties"_s, QJsonObject{{u"ro.product.manufacturer"_s, maker}});
        QVERIFY(writeFile(state(u"devices.json"_s), QJsonDocument(QJsonArray{phone}).toJson()));
        const QString package = m_folder->filePath(fileName);
        QVERIFY(writeFile(package, buildZip({"AndroidManifest.xml"}).bytes));
        const std::shared_ptr<ADBClient> client = makeDefaultADBClient();
        const AndroidDevice listedPhone = listed(*client).value(0);
        QCOMPARE(listedPhone.manufacturer, maker.isEmpty() ? std::nullopt : std::optional(maker));
        QVERIFY(writeFile(state(u"failures.json"_s),
                          QJsonDocument(QJsonObject{{u"install"_s, QJsonObject{{u"refuse"_s, refusal}}}}).toJson()));
        QString text;
        try {
            awaitTask(client->install({package}, listedPhone));
        } catch (const ADBClientError &error) {
            text = error.errorDescription();
        }
        QCOMPARE(text, shown);
    }

private:
    QString state(const QString &name) const { return m_folder->filePath(u"fake-state/"_s + name); }

    std::shared_ptr<ADBClient> makeClient(ADBCommandTimeouts timeouts) const
    {
        auto runner = std::make_shared<FoundationCommandRunner>();
        auto queryRunner = std::make_shared<FoundationCommandRunner>();
        return std::make_shared<ADBClient>(
            QFINDTESTDATA("fake-adb"), runner,
            std::make_shared<ADBServerController>([](const QString &, const QStringList &) {}), timeouts, queryRunner);
    }

    static QList<AndroidDevice> listed(ADBClient &client)
    {
        QCoro::Task<QList<AndroidDevice>> listing = client.devices();
        return awaitTask(listing);
    }

    // The command lines the fake adb received, without the server port, each joined by blanks.
    QStringList commandLines() const
    {
        QStringList lines;
        for (const QByteArray &line : contentsOf(state(u"commands.log"_s)).trimmed().split('\n'))
            lines.append(QJsonDocument::fromJson(line).toVariant().toStringList().mid(2).join(u' '));
        return lines;
    }

    QTemporaryDir m_temporary;
    std::optional<QTemporaryDir> m_folder;
};

QTEST_GUILESS_MAIN(ADBRealPhonesTest)
#include "test_adb_real_phones.moc"

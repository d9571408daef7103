#include "ADBServerProbe.h"
#include "APKArchiveInspector.h"
#include "AwaitTask.h"
#include "DefaultADBClient.h"
#include "DeviceStore.h"
#include "ProcessProbe.h"
#include "TestSupport.h"
#include "ZipBuilder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using InstallState = DeviceStore::InstallState;
using AppOperationState = DeviceStore::AppOperationState;
using CompanionState = DeviceStore::CompanionInstallState;

namespace {

const QString pairingURL = u"tavrine://pair/v1?device=p~~~&key=K123456789abcdef&token=T123456789abcdef"
                           u"&endpoint=127.0.0.1:7000&code=123456"_s;
// The second phone has no marketing name: texts show its model.
const QByteArray twoPhones = R"([{"serial": "R58N", "model": "Pixel_7"},
                                  {"serial": "E5", "model": "SM_S911B", "properties": {"ro.product.model": ""}}])";
const QString notAuthorized = ADBClientError(ADBClientError::Case::deviceNotAuthorized).errorDescription();
const QString noCompanion = CompanionAPKArtifactError(CompanionAPKArtifactError::Case::unavailable).errorDescription();

struct FakeUSBDeviceRegistry : USBDeviceRegistry
{
    QList<USBRegistryEntry> entries;
    QList<USBRegistryEntry> attachedDevices() const override { return entries; }
};

// Phones listed first, selection set then, second listing (none: it fails), serials and selection after it.
using SelectionRows = TestTable<QByteArray, QString, std::optional<QByteArray>, QString, std::optional<QString>>;

const QDateTime firstDate(QDate(2026, 3, 1), QTime(8, 30), Qt::UTC);

InstallHistoryRecord record(const QString &id, int minutesAfterFirst)
{
    return {id,   u"R5CT"_s,    u"Galaxy S23"_s, {id + u".apk"_s}, firstDate.addSecs(60 * minutesAfterFirst),
            true, u"安装成功"_s};
}

// One record object as the file holds it, `from` replaced by `to` to spoil it for a test.
QByteArray recordText(const QString &id, const QString &from = {}, const QString &to = {})
{
    QString text = uR"({"deviceName": "Pixel 7", "deviceSerial": "s", "fileNames": ["%1.apk"], "id": "%1",)"
                   uR"( "installedAt": "2026-03-01T08:30:00Z", "message": "ok", "succeeded": true})"_s.arg(id);
    return (from.isEmpty() ? text : text.replace(from, to)).toUtf8();
}

QStringList idsOf(const QList<InstallHistoryRecord> &records)
{
    QStringList ids;
    for (const InstallHistoryRecord &kept : records)
        ids.append(kept.id);
    return ids;
}

const QByteArray manifest = "AndroidManifest.xml";

// The bytes of a package of the kind named in a test row.
QByteArray package(const QString &kind)
{
    if (kind == u"unsigned")
        return buildZip({manifest, "classes.dex"}).bytes;
    if (kind == u"legacy")
        return buildZip({manifest, "META-INF/CERT.SF", "META-INF/CERT.RSA"}).bytes;
    if (kind == u"modern")
        return buildZip({manifest}, {.beforeDirectory = apkSigningBlock()}).bytes;
    if (kind == u"corrupt")
        return buildZip({manifest}).bytes + "x";
    if (kind == u"nested manifest")
        return buildZip({"lib/AndroidManifest.xml"}).bytes;
    return {};
}

QString describe(const APKInstallPlan &plan, const QString &base)
{
    QStringList names;
    for (const QString &file : plan.files)
        names.append(QDir(base).relativeFilePath(file));
    return u"%1: %2 | %3 | %4"_s.arg(plan.kind == APKInstallPlan::Kind::single ? u"single"_s : u"split"_s,
                                     names.join(u", "_s), plan.signatureSummary, plan.displayName());
}

constexpr qsizetype mebibyte = 1024 * 1024;

// A signed package of exactly two mebibytes, so the digest ends on a chunk boundary.
QByteArray companionPackage()
{
    const QList<QByteArray> entries{"AndroidManifest.xml", "classes.dex"};
    const qsizetype unpadded = buildZip(entries, {.beforeDirectory = apkSigningBlock()}).bytes.size();
    return buildZip(entries, {.beforeDirectory = QByteArray(2 * mebibyte - unpadded, '\0') + apkSigningBlock()}).bytes;
}

// Cuts the file at a path to nothing the moment this process has read from it or mapped it: a package that goes
// away while it is being checked.
class CutOnFirstRead
{
public:
    explicit CutOnFirstRead(const QString &path)
        : m_path(QFile::encodeName(path)), m_notifier(inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
        inotify_add_watch(m_notifier, m_path.constData(), IN_ACCESS);
        m_watcher = std::thread([this] { watch(); });
    }
    ~CutOnFirstRead()
    {
        stop();
        ::close(m_notifier);
    }
    CutOnFirstRead(const CutOnFirstRead &) = delete;
    CutOnFirstRead &operator=(const CutOnFirstRead &) = delete;

    // Stops watching; whether the file was cut.
    bool stop()
    {
        m_stopping = true;
        if (m_watcher.joinable())
            m_watcher.join();
        return m_hasCut;
    }

private:
    void watch()
    {
        while (!m_stopping && !m_hasCut) {
            pollfd readable{m_notifier, POLLIN, 0};
            if (::poll(&readable, 1, 1) > 0 || isMapped())
                m_hasCut = ::truncate(m_path.constData(), 0) == 0;
        }
    }

    // A mapping is read without a read call, so no access is reported for it.
    bool isMapped() const
    {
        QFile mappings(u"/proc/self/maps"_s);
        return mappings.open(QIODevice::ReadOnly) && mappings.readAll().contains(m_path);
    }

    const QByteArray m_path;
    const int m_notifier;
    std::atomic<bool> m_stopping = false;
    std::atomic<bool> m_hasCut = false;
    std::thread m_watcher;
};

} // namespace

using Plans = TestTable<QStringList, QStringList, QString>;
using Archives = TestTable<QByteArray, QStringList>;
// The package's bytes (none: no file), the metadata text (none: no file; "/": a folder), the outcome.
using Pairs = TestTable<std::optional<QByteArray>, std::optional<QByteArray>, QString>;

// The device store over the fake adb, the file of its install history, and the checks of the packages it installs:
// those picked by the user and the companion package shipped with the application.
class DeviceStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("fake-adb").toUtf8());
        // The runner's folders go to TMPDIR; a private one shows whether any is left behind.
        QVERIFY(m_temporary.isValid());
        qputenv("TMPDIR", m_temporary.path().toUtf8());
    }

    void init()
    {
        m_folder.emplace();
        qputenv("TAVRINE_FAKE_ADB_STATE", state(QString()).toUtf8());
        m_usb = std::make_shared<FakeUSBDeviceRegistry>();
        m_otherADBServer = false;
    }

    void cleanup() { m_store.reset(); }

    void constructionWithoutAdb()
    {
        // One damaged record costs that record only.
        QVERIFY(writeFile(history().fileURL(), "[" + recordText(u"kept"_s) + R"(, {"id": "damaged"}])"));
        m_usb->entries = {{u"18d1"_s, u"4ee7"_s, u"Pixel 7"_s, u"Google"_s, u"R58N"_s}};
        DeviceStore store(nullptr, history(), {m_usb, u"/none"_s});
        QCOMPARE(store.installHistory().size(), 1);
        QCOMPARE(store.setupMessage(), ADBClientError(ADBClientError::Case::executableMissing).errorDescription());
        QCOMPARE(store.companionArtifactErrorMessage(), noCompanion);
        awaitTask(store.refresh());
        QVERIFY(!store.isRefreshing());
        QCOMPARE(store.waitingUSBPhone().value_or(USBAndroidDevice()).serialNumber, u"R58N"_s);
    }

    // An application killed while it wrote the history left its new copy beside the file: the next start removes
    // it, and keeps the history, other names and links.
    void copiesLeftByAnInterruptedWriteGoAtStart()
    {
        const QString file = history().fileURL();
        QVERIFY(writeFile(file, "[" + recordText(u"kept"_s) + "]"));
        QVERIFY(writeFile(file + u".k3Xq9Z"_s, "[" + recordText(u"half"_s)));
        QVERIFY(writeFile(file + u".damaged-1"_s, "[]"));
        QVERIFY(QFile::link(file, file + u".Lnk123"_s));
        DeviceStore store(nullptr, history(), {m_usb, u"/none"_s});
        QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::System, QDir::Name),
                 QStringList({u"install-history.json"_s, u"install-history.json.Lnk123"_s,
                              u"install-history.json.damaged-1"_s}));
        QCOMPARE(store.installHistory().size(), 1);
    }

    void refreshKeepsOrMovesTheSelection_data()
    {
        const SelectionRows rows;
        const QByteArray three =
            R"([{"serial": "A"}, {"serial": "B", "model": "Pixel_7", "product": "panther"}, {"serial": "C"}])";
        // adb keeps a phone's transport id while it stays attached; one plugged in again gets a new one.
        const QByteArray kept = R"([{"serial": "C", "transport_id": "3"}, {"serial": "B", "transport_id": "2"}])";
        rows("still listed: stays", three, u"B"_s, kept, u"C B"_s, u"B"_s);
        rows("gone: the first", three, u"B"_s, R"([{"serial": "C"}, {"serial": "A"}])", u"C A"_s, u"C"_s);
        rows("plugged in again: stays", three, u"B"_s,
             R"([{"serial": "C", "transport_id": "3"},
                 {"serial": "B", "model": "Pixel_7", "product": "panther", "transport_id": "4"}])",
             u"C B"_s, u"B"_s);
        rows("case-sensitive", three, u"b"_s, three, u"A B C"_s, u"A"_s);
        rows("empty list: none", three, u"C"_s, "[]", QString(), std::nullopt);
        rows("failed listing shows no phone, keeps the selection", three, u"C"_s, std::nullopt, QString(), u"C"_s);
    }

    void refreshKeepsOrMovesTheSelection()
    {
        const auto [first, selection, second, serials, selected] = SelectionRows::fetch();
        QVERIFY(writeFile(state(u"devices.json"_s), first));
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        // The row chosen is the phone listed with that serial; a serial listed by no phone names none.
        const auto chosen = std::ranges::find(store.devices(), selection, &AndroidDevice::serial);
        const QString chosenID = chosen == store.devices().end() ? selection : chosen->id();
        store.setSelectedDeviceID(chosenID);
        QVERIFY(second ? writeFile(state(u"devices.json"_s), *second)
                       : writeFile(state(u"failures.json"_s), R"({"devices": {"stderr": "adb: protocol fault"}})"));
        awaitTask(store.refresh());
        QStringList listed;
        for (const AndroidDevice &device : store.devices())
            listed.append(device.serial);
        QCOMPARE(listed.join(u' '), serials);
        const std::optional<AndroidDevice> selectedDevice = store.selectedDevice();
        if (second) {
            QCOMPARE(store.selectedDeviceID() && selectedDevice ? std::optional(selectedDevice->serial) : std::nullopt,
                     selected);
        } else {
            // No phone is listed while adb fails, but the choice waits for the phone to come back.
            QVERIFY(!selectedDevice);
            QCOMPARE(store.selectedDeviceID(), std::optional(chosenID));
        }
        QCOMPARE(store.setupMessage(),
                 second ? std::nullopt
                        : std::optional(ADBClientError(ADBClientError::Case::serverNotAnswering).errorDescription()));
    }

    // A phone that leaves as one of its serial comes is that phone: the selection and the outcome shown on its page
    // go with it. Phones of one serial are told apart by the model and product adb lists them with; one listed
    // without them (awaiting approval, offline) may be any phone of its serial and is none that left.
    void aPhonePluggedInAgainIsTheSamePhone_data()
    {
        // The phones listed first, the one chosen (its place), the listings then, whether the chosen phone is among
        // the last, and the one selected then (its place).
        TestTable<QByteArray, int, QList<QByteArray>, bool, int> rows;
        const QByteArray twoOfOneSerial = R"([{"serial": "X", "model": "M1", "product": "p1", "transport_id": "1"},
                                              {"serial": "X", "model": "M2", "product": "p2", "transport_id": "2"}])";
        rows("one of two phones of a serial", twoOfOneSerial, 0,
             {R"([{"serial": "X", "model": "M2", "product": "p2", "transport_id": "2"},
                  {"serial": "X", "model": "M1", "product": "p1", "transport_id": "3"}])"},
             true, 1);
        rows("the two swapped their transport ids", twoOfOneSerial, 1,
             {R"([{"serial": "X", "model": "M2", "product": "p2", "transport_id": "1"},
                  {"serial": "X", "model": "M1", "product": "p1", "transport_id": "2"}])"},
             true, 0);
        rows("another model of the serial is another phone", twoOfOneSerial, 0,
             {R"([{"serial": "A", "transport_id": "7"}, {"serial": "X", "model": "M2", "product": "p2",
                  "transport_id": "2"}, {"serial": "X", "model": "M3", "product": "p3", "transport_id": "3"}])"},
             false, 0);
        rows("two of a serial left, one came: neither",
             R"([{"serial": "X", "transport_id": "1"}, {"serial": "X", "transport_id": "2"}])", 1,
             {R"([{"serial": "A", "transport_id": "7"}, {"serial": "X", "transport_id": "3"}])"}, false, 0);
        const QByteArray one = R"([{"serial": "X", "model": "M1", "product": "p1", "transport_id": "1"}])";
        for (const char *state : {"unauthorized", "offline", "authorizing"}) {
            rows(qPrintable(u"a phone of the serial %1 is none that left"_s.arg(QLatin1StringView(state))), one, 0,
                 {R"([{"serial": "A", "transport_id": "7"}, {"serial": "X", "state": ")" + QByteArray(state) +
                  R"(", "transport_id": "2"}])"},
                 false, 0);
        }
        rows("listed without a product", R"([{"serial": "X", "model": "M1", "transport_id": "1"}])", 0,
             {R"([{"serial": "A", "transport_id": "7"}, {"serial": "X", "model": "M1", "transport_id": "2"}])"}, false,
             0);
        // adb lists a phone being connected for a moment without its model and product: that line is no phone that
        // left, nor another phone; the first line that names it is.
        const QByteArray inState =
            R"([{"serial": "A", "transport_id": "7"}, {"serial": "X", "state": "STATE", "model": "M1", "product": "p1",
                "transport_id": "2"}])";
        const auto connecting = [&inState](const char *state) {
            return QByteArray(inState).replace("STATE", state);
        };
        rows("offline for a moment, then itself", one, 0, {connecting("offline"), connecting("device")}, true, 0);
        rows("connecting, then itself", one, 0, {connecting("connecting"), connecting("device")}, true, 0);
        rows("offline for a moment alone, then itself", one, 0,
             {R"([{"serial": "X", "state": "offline", "transport_id": "2"}])",
              R"([{"serial": "X", "model": "M1", "product": "p1", "transport_id": "2"}])"},
             true, 0);
        rows("offline for a moment, then another model of its serial", one, 0,
             {connecting("offline"), R"([{"serial": "A", "transport_id": "7"}, {"serial": "X", "model": "M2",
                                        "product": "p2", "transport_id": "2"}])"},
             false, 0);
    }
    void aPhonePluggedInAgainIsTheSamePhone()
    {
        const auto [first, chosen, listings, isListed, selected] =
            TestTable<QByteArray, int, QList<QByteArray>, bool, int>::fetch();
        QVERIFY(writeFile(state(u"devices.json"_s), first));
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        const AndroidDevice chosenPhone = store.devices().at(chosen);
        const QString chosenID = chosenPhone.id();
        store.setSelectedDeviceID(chosenID);
        awaitTask(store.performAppOperation(
            u"正在停止 Example"_s, DeviceStore::forceStopOperation(u"com.example.app"_s, u"Example"_s), chosenPhone));
        QCOMPARE(store.appOperationStateFor(chosenID).kind, AppOperationState::Kind::succeeded);

        for (const QByteArray &listing : listings) {
            QVERIFY(writeFile(state(u"devices.json"_s), listing));
            awaitTask(store.refresh());
        }
        const QString selectedID = store.devices().at(selected).id();
        QCOMPARE(store.selectedDeviceID(), selectedID);
        // The outcome shows on the page of the chosen phone, wherever it is listed now as itself.
        const auto chosenNow = std::ranges::find_if(store.devices(), [&chosenPhone](const AndroidDevice &device) {
            return device.model && device.product && device.model == chosenPhone.model &&
                   device.product == chosenPhone.product;
        });
        QCOMPARE(chosenNow != store.devices().end() &&
                     store.appOperationStateFor(chosenNow->id()).kind == AppOperationState::Kind::succeeded,
                 isListed);
    }

    // A phone that came back awaiting approval was not known as the one that left; approved, then plugged in again,
    // it is known as the phone it was when it left last.
    void aPhoneOnceBackUnknownIsKnownOnItsNextReturn()
    {
        // Another phone, and X in `phoneState` under the transport id `transport` (adb lists its model and product
        // only once it is approved).
        const auto listing = [this](const QString &phoneState, int transport) {
            return writeFile(state(u"devices.json"_s),
                             uR"([{"serial": "A", "transport_id": "7"}, {"serial": "X", "state": "%1", "model": "M1",
                                  "product": "p1", "transport_id": "%2"}])"_s.arg(phoneState)
                                 .arg(transport)
                                 .toUtf8());
        };
        QVERIFY(listing(u"device"_s, 1));
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        QVERIFY(listing(u"unauthorized"_s, 2));
        awaitTask(store.refresh());
        QVERIFY(listing(u"device"_s, 2));
        awaitTask(store.refresh());
        const QString phone = store.devices().at(1).id();
        awaitTask(store.performAppOperation(u"正在停止 Example"_s,
                                            DeviceStore::forceStopOperation(u"com.example.app"_s, u"Example"_s),
                                            store.device(phone)));
        QCOMPARE(store.appOperationStateFor(phone).kind, AppOperationState::Kind::succeeded);

        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "A", "transport_id": "7"}])"));
        awaitTask(store.refresh());
        QVERIFY(listing(u"device"_s, 3));
        QSignalSpy renames(&store, &DeviceStore::devicesRenamed);
        awaitTask(store.refresh());
        QCOMPARE(renames.size(), 1);
        using Renames = QHash<QString, QString>;
        QCOMPARE(renames.first().first().value<Renames>(), (Renames{{phone, store.devices().at(1).id()}}));
        QCOMPARE(store.appOperationStateFor(store.devices().at(1).id()).kind, AppOperationState::Kind::succeeded);
    }

    void refreshInFlightOnlyScansUSB()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "A"}, {"serial": "B"}])"));
        m_usb->entries = {{u"18d1"_s, u"4ee7"_s, u"Pixel 7"_s, u"Google"_s, u"A"_s}};
        DeviceStore &store = makeStore();
        QCoro::Task<void> listing = store.refresh();
        m_usb->entries.clear();
        awaitTask(store.refresh());
        QVERIFY(store.connectedUSBPhones().isEmpty() && store.isRefreshing());
        awaitTask(listing);
        QVERIFY(!store.isRefreshing());
        QCOMPARE(listings(), 1);
        // Unset, the selection is the first phone until the next listing sets it.
        store.setSelectedDeviceID(std::nullopt);
        QCOMPARE(store.selectedDevice()->serial, u"A"_s);
    }

    void aPhoneHeldByAnotherAdbIsSaid_data()
    {
        // The serial of the phone on the USB bus (none: it has none), whether its USB debugging is on, the phones
        // adb lists, whether another adb server runs, and whether the store says another adb program uses the phone.
        TestTable<std::optional<QString>, bool, QByteArray, bool, bool> rows;
        rows("held by another server", u"HELD"_s, true, "[]", true, true);
        rows("no other server", u"HELD"_s, true, "[]", false, false);
        rows("USB debugging off", u"HELD"_s, false, "[]", true, false);
        rows("listed by ours", u"R58N"_s, true, R"([{"serial": "R58N"}])", true, false);
        rows("listed, without a serial", std::nullopt, true, R"([{"serial": ""}])", true, false);
        rows("another phone listed", u"HELD"_s, true, R"([{"serial": "R58N"}])", true, true);
    }
    void aPhoneHeldByAnotherAdbIsSaid()
    {
        const auto [serial, debugging, phones, otherServer, said] =
            TestTable<std::optional<QString>, bool, QByteArray, bool, bool>::fetch();
        m_usb->entries = {{u"18d1"_s, u"4ee7"_s, u"Pixel 7"_s, u"Google"_s, serial, debugging}};
        QVERIFY(writeFile(state(u"devices.json"_s), phones));
        m_otherADBServer = otherServer;
        DeviceStore &store = makeStore();
        QSignalSpy changes(&store, &DeviceStore::usbPhoneProblemChanged);
        awaitTask(store.refresh());
        QCOMPARE(store.usbPhoneProblem().has_value(), said);
        QCOMPARE(changes.size(), said ? 1 : 0);
        if (said)
            QVERIFY(store.usbPhoneProblem()->startsWith(u"另一个 adb 程序正在使用手机“Pixel 7”"_s));
        // Unplugged: nothing is said any more, at once.
        m_usb->entries.clear();
        m_otherADBServer = false;
        QCoro::Task<void> refresh = store.refresh();
        QCOMPARE(store.usbPhoneProblem(), std::nullopt);
        awaitTask(refresh);
    }

    // Another server is one that accepts connections on adb's usual port, or on the port the environment names.
    void anotherAdbServerIsFoundByItsPort()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(::listen(listener, 1) == 0 &&
                ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        QProcessEnvironment environment;
        environment.insert(u"ANDROID_ADB_SERVER_PORT"_s, QString::number(ntohs(address.sin_port)));
        const bool usualPortTaken = isAcceptingOnLoopback(5037);
        QVERIFY(isOtherADBServerRunning(environment));
        ::close(listener);
        QCOMPARE(isOtherADBServerRunning(environment), usualPortTaken);
        environment.insert(u"ANDROID_ADB_SERVER_PORT"_s, u"45037"_s); // our own server is never another
        QCOMPARE(isOtherADBServerRunning(environment), usualPortTaken);
    }

    void installRecordsHistory()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        QStringList files;
        for (const QString &name : {u"split_config.xxhdpi.apk"_s, u"base.apk"_s, u"app.apk"_s}) {
            files.append(m_folder->filePath(name));
            QVERIFY(writeFile(files.last(), buildZip({"AndroidManifest.xml"}).bytes));
        }
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        // Whether the plan was taken at once and the store showed it installing.
        const auto install = [&store](const QStringList &picked) {
            awaitTask(store.prepareInstall(picked));
            QCoro::Task<void> installing = store.installPendingPlan();
            const bool shown =
                store.installState().kind == InstallState::Kind::installing && !store.pendingInstallPlan();
            awaitTask(installing);
            return shown;
        };
        const QString succeeded = u"Split APK（2 个文件） 已安装到 Pixel 7。"_s;
        QVERIFY(install(files.first(2)));
        QCOMPARE(store.installState(), InstallState::succeeded(succeeded));
        QCOMPARE(listings(), 3); // before the install, and again after its success
        QVERIFY(writeFile(state(u"failures.json"_s),
                          R"({"install": {"stderr": "Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]"}})"));
        QVERIFY(install({files.last()}));
        const QString failed = ADBClientError(ADBClientError::Case::insufficientStorage).errorDescription();
        QCOMPARE(store.installState(), InstallState::failed(failed));
        QCOMPARE(listings(), 4); // before the install, not after its failure

        QStringList recorded;
        for (const InstallHistoryRecord &record : store.installHistory())
            recorded.append(u"%1 | %2 | %3 | %4"_s.arg(record.fileNames.join(u' '), record.deviceName,
                                                       record.succeeded ? u"ok"_s : u"failed"_s, record.message));
        QCOMPARE(recorded, (QStringList{u"app.apk | Pixel 7 | failed | "_s + failed,
                                        u"base.apk split_config.xxhdpi.apk | Pixel 7 | ok | "_s + succeeded}));
        QCOMPARE(store.historyStore().load(), store.installHistory());
    }

    // Without an authorised phone every flow shows why, and adb only lists the phones.
    void operationsNeedAnAuthorizedPhone()
    {
        DeviceStore &store = makeStore();
        const APKInstallPlan plan{APKInstallPlan::Kind::single, {u"/a/app.apk"_s}, 1, {}};
        // A phone this computer may not open is told apart from one that waits for the user's approval.
        const QString noPermission = ADBClientError(ADBClientError::Case::usbPermissionDenied).errorDescription();
        for (const auto &[phones, reason] : std::initializer_list<std::pair<QByteArray, QString>>{
                 {"[]", QString()},
                 {R"([{"serial": "U1", "state": "unauthorized"}])", notAuthorized},
                 {R"([{"serial": "A1", "state": "authorizing"}])", notAuthorized},
                 {R"([{"serial": "N1", "state": "no permissions"}])", noPermission}}) {
            const bool none = reason.isEmpty();
            QVERIFY(writeFile(state(u"devices.json"_s), phones));
            awaitTask(store.refresh());
            QCOMPARE(store.devices().size(), none ? 0 : 1);
            store.setPendingInstallPlan(plan);
            awaitTask(store.installPendingPlan());
            QCOMPARE(store.installState().text, none ? u"请先连接并选择一台 Android 手机。"_s : reason);
            QCOMPARE(store.pendingInstallPlan(), plan);
            awaitTask(store.performAppOperation(u"…"_s, DeviceStore::uninstallOperation(u"a.b"_s, u"B"_s)));
            QCOMPARE(store.appOperationState().text, none ? u"请先连接并明确选择一台 USB 手机。"_s : reason);
            store.setCompanionInstallState(CompanionState::connected(u"earlier"_s));
            awaitTask(store.installCompanionAndConnect(pairingURL));
            QCOMPARE(store.companionInstallState().text, none ? notAuthorized : reason);
            awaitTask(store.openCompanion(pairingURL));
            QCOMPARE(store.pairingLaunchMessage(), std::nullopt);
        }
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N"}])"));
        awaitTask(store.refresh());
        awaitTask(store.installCompanionAndConnect(pairingURL)); // an authorised phone, but no companion package
        QCOMPARE(store.companionInstallState().text, noCompanion);
        QVERIFY(onlyListingRan());
    }

    void operationsReachTheSelectedPhone()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), twoPhones));
        // The fake phone knows a package only by its entry "fake-adb-package", which the ZIP helper cannot fill.
        QVERIFY(writeFile(state(u"installed/R58N"_s), "com.drovan.tavrine\n"));
        QVERIFY(writeFile(state(u"installed/E5"_s), "com.example.app\n"));
        QVERIFY(writeCompanionResources(m_folder->filePath(u"Android"_s)));
        DeviceStore &store = makeStore(m_folder->filePath(u"Android"_s));
        awaitTask(store.refresh());

        // A URL the phone could not pair with fails before anything reaches the phone.
        awaitTask(store.installCompanionAndConnect(u"tavrine://pair/v1?device=x"_s));
        QCOMPARE(store.companionInstallState().kind, CompanionState::Kind::failed);
        QCOMPARE(store.pairingLaunchMessage(), u"手机端安装没有完成"_s);
        QVERIFY(onlyListingRan() && store.canInstallCompanion());
        // Opening shows a fixed text in place of the error and leaves the companion state alone.
        awaitTask(store.openCompanion(pairingURL));
        QCOMPARE(store.pairingLaunchMessage(), u"请在手机上确认相同号码"_s);
        store.setSelectedDeviceID(store.devices().at(1).id());
        awaitTask(store.openCompanion(pairingURL));
        QCOMPARE(store.pairingLaunchMessage(), u"未能自动打开手机应用，请使用二维码连接。"_s);
        QCOMPARE(store.companionInstallState().kind, CompanionState::Kind::failed);

        QList<AppOperationState> shown;
        connect(&store, &DeviceStore::appOperationStateChanged, this, [&] { shown.append(store.appOperationState()); });
        const QString id = u"com.example.app"_s;
        // The second uninstall finds the package gone.
        for (const DeviceStore::AppOperation &operation :
             {DeviceStore::forceStopOperation(id, u"Example"_s), DeviceStore::clearDataOperation(id, u"Example"_s),
              DeviceStore::uninstallOperation(id, u"Example"_s), DeviceStore::uninstallOperation(id, u"Example"_s)})
            awaitTask(store.performAppOperation(u"正在处理 Example"_s, operation));
        const AppOperationState running = AppOperationState::running(u"正在处理 Example"_s);
        QCOMPARE(
            shown,
            (QList<AppOperationState>{
                running, AppOperationState::succeeded(u"已在 SM S911B 停止 Example"_s), running,
                AppOperationState::succeeded(u"已清除 SM S911B 上 Example 的本地数据"_s), running,
                AppOperationState::succeeded(u"已从 SM S911B 卸载 Example"_s), running,
                AppOperationState::failed(ADBClientError(ADBClientError::Case::uninstallFailed).errorDescription())}));
        // Clearing and uninstalling succeed only on the phone that has the package, named by its transport id.
        QCOMPARE(commands().at(commands().size() - 7), // each command after the listing that found its phone
                 (QStringList{u"-t"_s, u"2"_s, u"shell"_s, u"am"_s, u"force-stop"_s, id}));
        QCOMPARE(listings(), 7); // the first, then one before each command (two launches, four operations)
    }

    // Cheap phones share one USB serial: the phone chosen is the one every flow reaches, named by its transport,
    // and its texts and install record name it.
    void phonesSharingASerialAreToldApart()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([
            {"serial": "0123456789ABCDEF", "model": "SM-S9180", "storage": "samsung"},
            {"serial": "0123456789ABCDEF", "model": "23021RAAEG", "storage": "redmi",
             "properties": {"ro.product.marketname": "Redmi Note 12", "ro.product.model": "23021RAAEG"}}])"));
        QVERIFY(writeFile(state(u"installed/samsung"_s), "com.example.app\n"));
        QVERIFY(writeFile(state(u"installed/redmi"_s), "com.example.app\n"));
        const QString apk = m_folder->filePath(u"app.apk"_s);
        QVERIFY(writeFile(apk, buildZip({"AndroidManifest.xml"}).bytes));
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        QCOMPARE(store.devices().size(), 2);
        const QString samsung = store.devices().at(0).id();
        const QString redmi = store.devices().at(1).id();
        QVERIFY(samsung != redmi);

        store.setSelectedDeviceID(redmi);
        awaitTask(store.refresh());
        QCOMPARE(store.selectedDeviceID(), redmi);
        QCOMPARE(store.selectedDevice()->displayName(), u"Redmi Note 12"_s);
        awaitTask(store.performAppOperation(u"正在清除 Example 的数据"_s,
                                            DeviceStore::clearDataOperation(u"com.example.app"_s, u"Example"_s)));
        QCOMPARE(store.appOperationState(),
                 AppOperationState::succeeded(u"已清除 Redmi Note 12 上 Example 的本地数据"_s));
        QCOMPARE(commands().last(),
                 (QStringList{u"-t"_s, u"2"_s, u"shell"_s, u"pm"_s, u"clear"_s, u"com.example.app"_s}));

        // The phone named outright is the one reached, whichever is selected.
        awaitTask(store.prepareInstall({apk}));
        awaitTask(store.installPendingPlan(samsung));
        QCOMPARE(store.installState(), InstallState::succeeded(u"app.apk 已安装到 SM-S9180。"_s));
        QVERIFY(commands().contains(QStringList{u"-t"_s, u"1"_s, u"install"_s, u"-r"_s, apk}));
        QCOMPARE(store.installHistory().first().deviceName, u"SM-S9180"_s);
        QCOMPARE(store.selectedDeviceID(), redmi);
    }

    // adb's server numbers the phones afresh when it starts again, so that two phones may swap transport ids: each
    // phone keeps its own name, and a command for the phone shown reaches that phone.
    void phonesKeepTheirNamesWhenAdbsServerStartsAgain_data()
    {
        // The serials of the Galaxy and of the Redmi, whether the store listed the phones again before the command.
        TestTable<QString, QString, bool> rows;
        rows("two serials", u"R5CT"_s, u"8B2X"_s, true);
        rows("one serial for both", u"0123456789ABCDEF"_s, u"0123456789ABCDEF"_s, true);
        rows("two serials, not listed again yet", u"R5CT"_s, u"8B2X"_s, false);
        rows("one serial for both, not listed again yet", u"0123456789ABCDEF"_s, u"0123456789ABCDEF"_s, false);
    }
    void phonesKeepTheirNamesWhenAdbsServerStartsAgain()
    {
        const auto [galaxySerial, redmiSerial, listedAgain] = TestTable<QString, QString, bool>::fetch();
        // The Redmi is plugged in first; the Galaxy then, on the port the server finds first when it starts.
        const QString redmi =
            uR"({"serial": "%1", "model": "23021RAAEG", "storage": "redmi", "usb_path": "1-2", "properties":
                 {"ro.product.marketname": "Redmi Note 12", "ro.product.model": "23021RAAEG"}})"_s.arg(redmiSerial);
        const QString galaxy =
            uR"({"serial": "%1", "model": "SM-S9180", "storage": "galaxy", "usb_path": "1-1"})"_s.arg(galaxySerial);
        QVERIFY(writeFile(state(u"devices.json"_s), u"[%1]"_s.arg(redmi).toUtf8()));
        QVERIFY(writeFile(state(u"installed/redmi"_s), "com.example.app\n"));
        QVERIFY(writeFile(state(u"installed/galaxy"_s), "com.example.app\n"));
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        QVERIFY(writeFile(state(u"devices.json"_s), u"[%1, %2]"_s.arg(galaxy, redmi).toUtf8()));
        awaitTask(store.refresh());
        // The Galaxy, then the Redmi: their transport ids and names.
        const auto shown = [&store] {
            QStringList phones;
            for (const AndroidDevice &device : store.devices())
                phones.append(device.transportID.value_or(QString()) + u' ' + device.displayName());
            return phones;
        };
        QCOMPARE(shown(), (QStringList{u"2 SM-S9180"_s, u"1 Redmi Note 12"_s}));
        const AndroidDevice redmiAsked = store.devices().at(1);

        QCOMPARE(QProcess::execute(QFINDTESTDATA("fake-adb"),
                                   {u"-P"_s, QString::number(ADBServerController::privatePort), u"kill-server"_s}),
                 0);
        if (listedAgain) {
            awaitTask(store.refresh());
            QCOMPARE(shown(), (QStringList{u"1 SM-S9180"_s, u"2 Redmi Note 12"_s}));
        }

        // Clearing data on the phone shown as the Redmi clears it there, also when the question was asked before
        // the server numbered the phones afresh: the command goes by the phone, not by the id it had.
        awaitTask(store.performAppOperation(u"正在清除 Example 的数据"_s,
                                            DeviceStore::clearDataOperation(u"com.example.app"_s, u"Example"_s),
                                            listedAgain ? store.devices().at(1) : redmiAsked));
        QCOMPARE(store.appOperationState(),
                 AppOperationState::succeeded(u"已清除 Redmi Note 12 上 Example 的本地数据"_s));
        QCOMPARE(commands().last(),
                 (QStringList{u"-t"_s, u"2"_s, u"shell"_s, u"pm"_s, u"clear"_s, u"com.example.app"_s}));
    }

    void theCompanionReachesOnlyThePhoneAskedAbout_data()
    {
        // Whether the companion is installed first (else only opened), what adb lists once the user was asked
        // ("later:": from then on, before the store lists again) → the transport ids the install and the start ran on
        // ("install 5", "start 5"), and the companion state's text (install) or the launch message (open).
        TestTable<bool, QByteArray, QStringList, QString> rows;
        const QString gone = ADBClientError(ADBClientError::Case::deviceNotFound).errorDescription();
        const QString confirm = u"请在手机上确认相同号码"_s;
        const QString notOpened = u"未能自动打开手机应用，请使用二维码连接。"_s;
        const QByteArray galaxy = R"([{"serial": "R58N", "model": "SM-S911B", "product": "dm1q", "storage": "galaxy",
                                       "transport_id": "5"}])";
        // Another model reporting the Galaxy's serial, under the Galaxy's transport id.
        const QByteArray other = R"([{"serial": "R58N", "model": "SM-A546B", "product": "a54x", "storage": "other",
                                      "transport_id": "5"}])";
        QByteArray pluggedInAgain = galaxy;
        pluggedInAgain.replace(R"("transport_id": "5")", R"("transport_id": "6")");
        rows("install, its phone still there", true, galaxy, {u"install 5"_s, u"start 5"_s}, confirm);
        rows("install, another model of its serial under its id", true, other, {}, gone);
        rows("install, another model under its id, not listed yet", true, "later:" + other, {}, gone);
        rows("install, plugged in again", true, pluggedInAgain, {u"install 6"_s, u"start 6"_s}, confirm);
        rows("open, its phone still there", false, galaxy, {u"start 5"_s}, confirm);
        rows("open, another model of its serial under its id", false, other, {}, notOpened);
        rows("open, another model under its id, not listed yet", false, "later:" + other, {}, notOpened);
        // adb lists a phone offline for a moment without its model: it cannot be told from another of its serial.
        rows("open, its phone offline for a moment", false,
             R"([{"serial": "R58N", "state": "offline", "storage": "galaxy", "transport_id": "5"}])", {}, notOpened);
    }
    // The companion goes to the phone the pairing began for, as it was listed then, checked again as each command is
    // sent: nothing reaches a phone that took its place, and the user is told.
    void theCompanionReachesOnlyThePhoneAskedAbout()
    {
        const auto [installs, listing, ranOn, shown] = TestTable<bool, QByteArray, QStringList, QString>::fetch();
        QVERIFY(writeFile(state(u"devices.json"_s),
                          R"([{"serial": "R58N", "model": "SM-S911B", "product": "dm1q", "storage": "galaxy",
                               "transport_id": "5"}])"));
        for (const char *storage : {"galaxy", "other"})
            QVERIFY(writeFile(state(u"installed/"_s + QLatin1StringView(storage)), "com.drovan.tavrine\n"));
        QVERIFY(writeCompanionResources(m_folder->filePath(u"Android"_s)));
        DeviceStore &store = makeStore(m_folder->filePath(u"Android"_s));
        awaitTask(store.refresh());
        const AndroidDevice asked = store.devices().value(0);
        QCOMPARE(asked.transportID, u"5"_s);

        const bool later = listing.startsWith("later:");
        QVERIFY(writeFile(state(u"devices.json"_s), later ? listing.mid(6) : listing));
        if (!later)
            awaitTask(store.refresh());
        if (installs) {
            awaitTask(store.installCompanionAndConnect(pairingURL, asked));
            QCOMPARE(store.companionInstallState().text, shown);
        } else {
            awaitTask(store.openCompanion(pairingURL, asked));
            QCOMPARE(store.pairingLaunchMessage(), shown);
        }
        QStringList ran;
        for (const QStringList &command : commands()) {
            if (command.value(2) == u"install"_s)
                ran.append(u"install "_s + command.value(1));
            else if (command.mid(2, 3) == QStringList{u"shell"_s, u"am"_s, u"start"_s})
                ran.append(u"start "_s + command.value(1));
        }
        QCOMPARE(ran, ranOn);
    }

    // The companion that was just installed but does not start says that it did not start, not that it is missing;
    // once the phone pairs all the same (by its code), the failure and the launch message go.
    void aCompanionThatDoesNotStartAfterItsInstallSaysSo()
    {
        // The phone has no companion: the package installed here is not one the phone can start.
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        QVERIFY(writeCompanionResources(m_folder->filePath(u"Android"_s)));
        DeviceStore &store = makeStore(m_folder->filePath(u"Android"_s));
        awaitTask(store.refresh());
        awaitTask(store.installCompanionAndConnect(pairingURL));
        QCOMPARE(store.companionInstallState(),
                 CompanionState::failed(ADBClientError(ADBClientError::Case::companionNotStarted).errorDescription()));
        QCOMPARE(store.pairingLaunchMessage(), u"手机端安装没有完成"_s);

        store.markCompanionConnected();
        QCOMPARE(store.companionInstallState(), CompanionState::idle());
        QCOMPARE(store.pairingLaunchMessage(), std::nullopt);
    }

    // An install's or an operation's outcome belongs to its phone; one of no phone belongs to every page.
    void outcomesAreKeptWithTheirPhone()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), twoPhones));
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        const QString pixel = store.devices().at(0).id();
        const QString galaxy = store.devices().at(1).id();
        awaitTask(store.performAppOperation(u"正在停止 Example"_s,
                                            DeviceStore::forceStopOperation(u"com.example.app"_s, u"Example"_s),
                                            store.device(galaxy)));
        const AppOperationState stopped = AppOperationState::succeeded(u"已在 SM S911B 停止 Example"_s);
        QCOMPARE(store.appOperationDeviceID(), galaxy);
        QCOMPARE(store.appOperationStateFor(galaxy), stopped);
        QCOMPARE(store.appOperationStateFor(pixel), AppOperationState::idle());
        QCOMPARE(store.appOperationStateFor(std::nullopt), AppOperationState::idle());

        awaitTask(store.prepareInstall({m_folder->filePath(u"missing.apk"_s)}));
        QCOMPARE(store.installStateDeviceID(), std::nullopt);
        QCOMPARE(store.installStateFor(pixel), store.installState());
        QCOMPARE(store.installState().kind, InstallState::Kind::failed);
    }

    // A phone that holds a newer companion than the one shipped here is ready to pair; a package the user chose is
    // not put over a newer one.
    void aNewerCompanionOnThePhoneIsOpened()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        QVERIFY(writeFile(state(u"installed/R58N"_s), "com.drovan.tavrine\n"));
        QVERIFY(writeCompanionResources(m_folder->filePath(u"Android"_s)));
        const QString package = m_folder->filePath(u"app.apk"_s);
        QVERIFY(writeFile(package, buildZip({manifest}).bytes));
        DeviceStore &store = makeStore(m_folder->filePath(u"Android"_s));
        awaitTask(store.refresh());
        // What Android 8 to 15 answer an install of an older version of a package they hold.
        QVERIFY(writeFile(state(u"failures.json"_s),
                          R"({"install": {"refuse": "INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected: Update )"
                          R"(version code 210 is older than current 300"}})"));

        awaitTask(store.installCompanionAndConnect(pairingURL));
        QCOMPARE(store.companionInstallState(), CompanionState::awaitingConfirmation(u"请在手机上确认相同号码"_s));
        QCOMPARE(store.pairingLaunchMessage(), u"请在手机上确认相同号码"_s);
        QCOMPARE(std::ranges::count_if(commands(), [](const QStringList &line) { return line.contains(u"start"_s); }),
                 1);

        awaitTask(store.prepareInstall({package}));
        awaitTask(store.installPendingPlan());
        QCOMPARE(store.installState(),
                 InstallState::failed(ADBClientError(ADBClientError::Case::versionDowngrade).errorDescription()));
    }

    // The list of phones is published before their properties are read: a phone whose shell does not answer holds
    // up neither its own arrival nor another phone's departure.
    void aPhoneThatDoesNotAnswerHoldsUpNoListing()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "A"}, {"serial": "B"}])"));
        QVERIFY(writeFile(state(u"failures.json"_s), R"({"getprop": {"hang": true, "times": 1}})"));
        DeviceStore &store = makeStoreOnPort(0, std::chrono::minutes(1));
        const auto serials = [&store] {
            QStringList listed;
            for (const AndroidDevice &device : store.devices())
                listed.append(device.serial);
            return listed.join(u' ');
        };
        QCoro::Task<void> first = store.refresh();
        QTRY_COMPARE(processIdsIn(state(u"hang.pids"_s)).size(), 2);
        QCOMPARE(serials(), u"A B"_s);
        QVERIFY(!store.isRefreshing());

        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "A"}])"));
        awaitTask(store.refresh());
        QCOMPARE(serials(), u"A"_s);
        const QList<qint64> hanging = processIdsIn(state(u"hang.pids"_s));
        QVERIFY(std::ranges::all_of(hanging, isProcessRunning)); // A's read still waits
        for (const qint64 processId : hanging)
            ::kill(pid_t(processId), SIGKILL);
        awaitTask(first);
        // Once it answers, its name follows.
        awaitTask(store.refresh());
        QCOMPARE(store.devices().value(0).marketingName, u"A"_s);
    }

    // A phone whose shell does not answer holds up no other phone's properties, whether that one came with it or
    // later.
    void aPhoneThatDoesNotAnswerHoldsUpNoOtherPhone_data()
    {
        // Whether the second phone is plugged in while the first one's read waits (else both together).
        TestTable<bool> rows;
        rows("plugged in later", true);
        rows("plugged in together", false);
    }
    void aPhoneThatDoesNotAnswerHoldsUpNoOtherPhone()
    {
        const auto [later] = TestTable<bool>::fetch();
        const QByteArray both = R"([{"serial": "A", "model": "Alpha"}, {"serial": "B", "model": "Beta"}])";
        QVERIFY(writeFile(state(u"devices.json"_s), later ? R"([{"serial": "A", "model": "Alpha"}])" : both));
        QVERIFY(writeFile(state(u"failures.json"_s), R"({"getprop": {"hang": true, "times": 1}})"));
        DeviceStore &store = makeStoreOnPort(0, std::chrono::minutes(2));
        QCoro::Task<void> first = store.refresh();
        QTRY_COMPARE(processIdsIn(state(u"hang.pids"_s)).size(), 2);
        std::optional<QCoro::Task<void>> second;
        if (later) {
            QVERIFY(writeFile(state(u"devices.json"_s), both));
            second.emplace(store.refresh());
        }
        // The one phone that answers is named while the other one's read still waits.
        const auto named = [&store] {
            return std::ranges::count_if(store.devices(),
                                         [](const AndroidDevice &device) { return device.marketingName.has_value(); });
        };
        QTRY_COMPARE_WITH_TIMEOUT(named(), 1, 60'000);
        const QList<qint64> hanging = processIdsIn(state(u"hang.pids"_s));
        QVERIFY(std::ranges::all_of(hanging, isProcessRunning));
        if (later)
            QCOMPARE(store.devices().at(1).displayName(), u"Beta"_s);
        for (const qint64 processId : hanging)
            ::kill(pid_t(processId), SIGKILL);
        awaitTask(first);
        if (second)
            awaitTask(*second);
    }

    // When adb cannot list the phones, none is shown as connected and the reason is said until a listing succeeds.
    void aFailedListingShowsNoPhoneAndSaysWhy_data()
    {
        // What adb is told (an answer of RECORDED_ANSWERS, or "hang"), whether a program that is not adb listens on
        // its port, and the text shown.
        TestTable<QString, bool, QString> rows;
        const auto text = [](ADBClientError::Case errorCase) {
            return ADBClientError(errorCase).errorDescription();
        };
        rows("server did not start", u"server-did-not-start"_s, false, text(ADBClientError::Case::serverUnavailable));
        rows("connection closed", u"closed"_s, false, text(ADBClientError::Case::connectionClosed));
        rows("server of another version", u"server-version"_s, false, text(ADBClientError::Case::serverVersionUnknown));
        rows("port held by a program that is not adb", u"hang"_s, true,
             u"Tavrine 的手机连接端口 %1 已被其他程序占用。请关闭占用这个端口的程序后再试。"_s);
        rows("port held by a program that is not adb, which answers", u"server-version"_s, true,
             u"Tavrine 的手机连接端口 %1 已被其他程序占用。请关闭占用这个端口的程序后再试。"_s);
    }
    void aFailedListingShowsNoPhoneAndSaysWhy()
    {
        const auto [answer, portTaken, shown] = TestTable<QString, bool, QString>::fetch();
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        // A port of this test's own: a listener there, or nothing.
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        const quint16 port = ntohs(address.sin_port);
        if (portTaken)
            QVERIFY(::listen(listener, 4) == 0);
        else
            ::close(listener);
        DeviceStore &store = makeStoreOnPort(port, std::chrono::seconds(2));
        awaitTask(store.refresh());
        QCOMPARE(store.devices().size(), 1);

        const QJsonObject failure =
            answer == u"hang" ? QJsonObject{{u"hang"_s, true}} : QJsonObject{{u"answer"_s, answer}};
        QVERIFY(writeFile(state(u"failures.json"_s), QJsonDocument(QJsonObject{{u"devices"_s, failure}}).toJson()));
        awaitTask(store.refresh());
        QVERIFY(store.devices().isEmpty() && !store.selectedDevice());
        QCOMPARE(store.setupMessage(), shown.arg(port));
        awaitTask(store.refresh()); // said without a break while it lasts
        QCOMPARE(store.setupMessage(), shown.arg(port));

        QVERIFY(QFile::remove(state(u"failures.json"_s)));
        awaitTask(store.refresh());
        QCOMPARE(store.devices().size(), 1);
        QCOMPARE(store.setupMessage(), std::nullopt);
        if (portTaken)
            ::close(listener);
        for (const qint64 processId : processIdsIn(state(u"hang.pids"_s)))
            QTRY_VERIFY(!isProcessRunning(processId));
    }

    // Once the pairing it was started for is withdrawn, the companion is never opened with that link.
    void aWithdrawnPairingNeverReachesThePhone()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        QVERIFY(writeFile(state(u"installed/R58N"_s), "com.drovan.tavrine\n"));
        QVERIFY(writeCompanionResources(m_folder->filePath(u"Android"_s)));
        DeviceStore &store = makeStore(m_folder->filePath(u"Android"_s));
        awaitTask(store.refresh());
        const auto launches = [&] {
            return std::ranges::count_if(commands(), [](const QStringList &line) { return line.contains(u"am"_s); });
        };
        const QString withdrawn = u"配对已取消，未在手机上打开 Tavrine"_s;

        // Withdrawn while installing: the installation ends, the phone's application is not opened.
        QCoro::Task<void> installing = store.installCompanionAndConnect(pairingURL);
        QCOMPARE(store.companionInstallState().kind, CompanionState::Kind::installing);
        store.withdrawCompanionPairing();
        QVERIFY(!store.canInstallCompanion()); // adb is still busy with it
        awaitTask(installing);
        QCOMPARE(store.companionInstallState(), CompanionState::failed(withdrawn));
        QCOMPARE(store.pairingLaunchMessage(), std::nullopt);
        QCOMPARE(launches(), 0);

        // Withdrawn once the phone was asked to confirm: nothing is left to confirm.
        awaitTask(store.installCompanionAndConnect(pairingURL));
        QCOMPARE(store.companionInstallState().kind, CompanionState::Kind::awaitingConfirmation);
        store.withdrawCompanionPairing();
        QCOMPARE(store.companionInstallState(), CompanionState::failed(withdrawn));
        QCOMPARE(store.pairingLaunchMessage(), std::nullopt);

        // Withdrawn while the companion is being opened: it does not claim the phone awaits a confirmation.
        QCoro::Task<void> opening = store.openCompanion(pairingURL);
        store.withdrawCompanionPairing();
        awaitTask(opening);
        QCOMPARE(store.pairingLaunchMessage(), std::nullopt);
    }

    // adb's failure text of six megabytes is kept as its first 4 KiB: in the state the banner shows, in the install
    // record, and in a history file that a restart reads back.
    void hugeInstallFailureKeepsAnExcerpt()
    {
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        const QString text = u"adb: failed to install app.apk: "_s + QString(6'000'000, u'x');
        const QJsonObject failure{{u"install"_s, QJsonObject{{u"stderr"_s, text}}}};
        QVERIFY(writeFile(state(u"failures.json"_s), QJsonDocument(failure).toJson()));
        const QString package = m_folder->filePath(u"app.apk"_s);
        QVERIFY(writeFile(package, buildZip({manifest}).bytes));
        DeviceStore &store = makeStore();
        awaitTask(store.refresh());
        awaitTask(store.prepareInstall({package}));
        awaitTask(store.installPendingPlan());
        const QString excerpt = text.left(4096) + u'…';
        QCOMPARE(store.installState(), InstallState::failed(excerpt));
        QCOMPARE(store.installHistory().value(0).message, excerpt);
        QCOMPARE(history().load(), store.installHistory());
    }

    void misbehavingAdbIsEnded_data()
    {
        // What the fake adb is told, the flow tried ("list" or "install"), and the text shown after it: for a
        // listing its setup message (none: the phone is listed without its properties).
        const TestTable<QByteArray, QString, QString> rows;
        const QString flooded = u"“%1”的输出过多，Tavrine 已停止这条 adb 命令。请重新连接手机后再试。"_s;
        rows("property read that never answers", R"({"getprop": {"hang": true}})", u"list"_s, QString());
        rows("listing that never stops writing", R"({"devices": {"flood": true}})", u"list"_s,
             flooded.arg(u"列出手机"_s));
        rows("install that never answers", R"({"install": {"hang": true}})", u"install"_s,
             u"“安装应用”没有在 2 秒内完成，Tavrine 已停止这条 adb 命令。请检查 USB 连接并解锁手机后再试。"_s);
        rows("install that writes past the bound, then ends", R"({"install": {"flood": 1100000}})", u"install"_s,
             flooded.arg(u"安装应用"_s));
    }

    void misbehavingAdbIsEnded()
    {
        const auto [failures, flow, shown] = TestTable<QByteArray, QString, QString>::fetch();
        QVERIFY(writeFile(state(u"devices.json"_s), R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        const QString package = m_folder->filePath(u"app.apk"_s);
        QVERIFY(writeFile(package, buildZip({manifest}).bytes));
        DeviceStore &store = makeBoundedStore();
        if (flow == u"install") {
            awaitTask(store.refresh());
            awaitTask(store.prepareInstall({package}));
        }
        QVERIFY(writeFile(state(u"failures.json"_s), failures));
        if (flow == u"list") {
            awaitTask(store.refresh());
            QVERIFY(!store.isRefreshing());
            QCOMPARE(store.setupMessage(), shown.isEmpty() ? std::nullopt : std::optional<QString>(shown));
            QCOMPARE(store.devices().size(), shown.isEmpty() ? 1 : 0);
            QCOMPARE(store.devices().value(0).marketingName, std::nullopt);
        } else {
            awaitTask(store.installPendingPlan());
            QCOMPARE(store.installState(), InstallState::failed(shown));
        }
        // Nothing of the command is left: neither its processes nor its folder.
        for (const qint64 processId : processIdsIn(state(u"hang.pids"_s)))
            QTRY_VERIFY(!isProcessRunning(processId));
        QCOMPARE(commandFoldersLeft(), QStringList());
    }

    // Every field's round trip is proven by the store's install records.
    void historyFileIsMadeWithItsFolder()
    {
        const InstallHistoryStore store(m_folder->filePath(u"Tavrine/install-history.json"_s));
        QCOMPARE(store.load(), QList<InstallHistoryRecord>());
        QCOMPARE(store.append(record(u"a"_s, 0)), QList{record(u"a"_s, 0)});
        QVERIFY(contentsOf(store.fileURL()).contains("\"installedAt\": \"2026-03-01T08:30:00Z\""));
    }

    void historyDamagedRecordCostsOnlyItself_data()
    {
        const TestTable<QByteArray> rows;
        rows("no message", recordText(u"bad"_s, u", \"message\": \"ok\""_s, u""_s));
        rows("fractional seconds", recordText(u"bad"_s, u"00Z"_s, u"00.5Z"_s));
        rows("text for Boolean", recordText(u"bad"_s, u"true"_s, u"\"true\""_s));
        rows("number among file names", recordText(u"bad"_s, u"[\"bad.apk\"]"_s, u"[\"a.apk\", 5]"_s));
        rows("null id", recordText(u"bad"_s, u"\"id\": \"bad\""_s, u"\"id\": null"_s));
        rows("not an object", "[1]");
    }

    void historyDamagedRecordCostsOnlyItself()
    {
        const auto [damaged] = TestTable<QByteArray>::fetch();
        const InstallHistoryStore store = history();
        // Equal dates keep their file order; an unknown key is ignored.
        const QByteArray original = "[" + recordText(u"a"_s, u"\"id\""_s, u"\"extra\": 1, \"id\""_s) + "," + damaged +
                                    "," + recordText(u"b"_s) + "]";
        QVERIFY(writeFile(store.fileURL(), original));
        QCOMPARE(idsOf(store.load()), QStringList({u"a"_s, u"b"_s}));
        QCOMPARE(idsOf(store.append(record(u"new"_s, 1))), QStringList({u"new"_s, u"a"_s, u"b"_s}));
        // The file as it was is kept beside the one rewritten without the damaged record.
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files),
                 QStringList({u"install-history.json"_s, u"install-history.json.damaged-1"_s}));
        QCOMPARE(contentsOf(store.fileURL() + u".damaged-1"_s), original);
    }

    void historyWhoseRecordsAllFailIsKeptAsideOnce()
    {
        // Every record dated with fractions of a second: the next append holds the new record alone, and the
        // file's bytes are kept beside it once, however often the same bytes come back.
        const InstallHistoryStore store = history();
        const QByteArray fractional = "[" + recordText(u"a"_s, u"00Z"_s, u"00.250Z"_s) + "]";
        const QByteArray other = "[" + recordText(u"b"_s, u"00Z"_s, u"00.5Z"_s) + "]";
        for (const QByteArray &damaged : {fractional, fractional, other}) {
            QVERIFY(writeFile(store.fileURL(), damaged));
            QCOMPARE(idsOf(store.append(record(u"new"_s, 1))), QStringList{u"new"_s});
        }
        QCOMPARE(contentsOf(store.fileURL() + u".damaged-1"_s), fractional);
        QCOMPARE(contentsOf(store.fileURL() + u".damaged-2"_s), other);
        QVERIFY(!QFileInfo::exists(store.fileURL() + u".damaged-3"_s));
    }

    void historyStaysWithinItsReadBound()
    {
        // Records of about a megabyte each (a split set of many long names): the oldest go, so that the file
        // written is always read back whole.
        const InstallHistoryStore store = history();
        const QStringList fileNames(4000, QString(250, u'f'));
        for (int index = 0; index < 6; ++index) {
            InstallHistoryRecord large = record(QString::number(index), index);
            large.fileNames = fileNames;
            const QList<InstallHistoryRecord> written = store.append(large);
            QVERIFY(QFileInfo(store.fileURL()).size() <= 4 * mebibyte);
            QCOMPARE(written.first().id, QString::number(index));
            QCOMPARE(store.load(), written);
        }
        QVERIFY(store.load().size() < 6);
    }

    void historyUnparsableFilesAreCopiedAsideNeverOverwritten()
    {
        const InstallHistoryStore store = history();
        const QList<QByteArray> damagedFiles{"[" + recordText(u"a"_s) + ",", recordText(u"a"_s), ""};
        for (const QByteArray &damaged : damagedFiles) {
            QVERIFY(writeFile(store.fileURL(), damaged));
            QCOMPARE(store.load(), QList<InstallHistoryRecord>());
            QCOMPARE(idsOf(store.append(record(u"new"_s, 1))), QStringList{u"new"_s});
        }
        for (qsizetype copy = 0; copy < damagedFiles.size(); ++copy)
            QCOMPARE(contentsOf(store.fileURL() + u".damaged-"_s + QString::number(copy + 1)), damagedFiles[copy]);
    }

    void historyUnreadableFileIsMovedAside_data()
    {
        const TestTable<QString> rows; // what stands at the file's place
        rows("symbolic link", u"link"_s);
        rows("pipe", u"pipe"_s);
        rows("oversized file", u"large"_s);
    }

    void historyUnreadableFileIsMovedAside()
    {
        const auto [kind] = TestTable<QString>::fetch();
        const InstallHistoryStore store = history();
        const QByteArray path = QFile::encodeName(store.fileURL());
        const QString target = m_folder->filePath(u"elsewhere.json"_s);
        QVERIFY(writeFile(target, "[" + recordText(u"a"_s) + "]"));
        if (kind == u"link")
            QVERIFY(QFile::link(target, store.fileURL()));
        if (kind == u"pipe")
            QCOMPARE(mkfifo(path.constData(), 0600), 0);
        if (kind == u"large")
            QVERIFY(writeFile(store.fileURL(), "[" + QByteArray(5 * 1024 * 1024, ' ') + "]"));
        QCOMPARE(store.load(), QList<InstallHistoryRecord>());
        QCOMPARE(idsOf(store.append(record(u"new"_s, 1))), QStringList{u"new"_s});
        const QFileInfo kept(store.fileURL() + u".damaged-1"_s);
        QVERIFY(kept.exists() || kept.isSymLink());
        QCOMPARE(kept.isSymLink(), kind == u"link");
        QCOMPARE(contentsOf(target), "[" + recordText(u"a"_s) + "]");
    }

    void historyFailedWriteThrowsAndChangesNothing()
    {
        // A folder where the file belongs, and a file where its folder belongs.
        QVERIFY(QDir(m_folder->path()).mkpath(u"install-history.json/inside"_s));
        QVERIFY(writeFile(m_folder->filePath(u"Tavrine"_s), "x"));
        for (const QString &name : {u"install-history.json"_s, u"Tavrine/install-history.json"_s})
            QVERIFY_THROWS_EXCEPTION(InstallHistoryStoreError,
                                     InstallHistoryStore(m_folder->filePath(name)).append(record(u"a"_s, 0)));
        QVERIFY(QFileInfo(m_folder->filePath(u"install-history.json/inside"_s)).isDir());
        QCOMPARE(contentsOf(m_folder->filePath(u"Tavrine"_s)), "x");
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({u"install-history.json"_s, u"Tavrine"_s}));
    }

    // A full disk fails the save, and the file keeps every record it had: no file cut short takes its place.
    void historyOnAFullDiskKeepsItsFile()
    {
        const InstallHistoryStore store = history();
        for (int index = 0; index < 20; ++index)
            store.append(record(QString::number(index), index));
        const QByteArray before = contentsOf(store.fileURL());
        // Writing past this size fails as on a full disk (EFBIG in place of ENOSPC).
        const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit previous = {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &previous) == 0);
        rlimit full = previous;
        full.rlim_cur = rlim_t(before.size());
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
        bool failed = false;
        try {
            store.append(record(u"new"_s, 30));
        } catch (const InstallHistoryStoreError &) {
            failed = true;
        }
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousSignal);
        QVERIFY(failed);
        QCOMPARE(contentsOf(store.fileURL()), before);
        QCOMPARE(QDir(QFileInfo(store.fileURL()).path()).entryList({u"install-history*"_s}, QDir::Files | QDir::Hidden),
                 QStringList{u"install-history.json"_s});
        QCOMPARE(store.load().size(), 20);
    }

    void historyKeepsTheFiftyNewest()
    {
        const InstallHistoryStore store = history();
        // Records in no order are sorted newest first and cut to fifty, before and after the append.
        QByteArray text = "[";
        for (int index = 0; index < 55; ++index)
            text +=
                recordText(QString::number(index), u"08:30"_s, u"08:%1"_s.arg(index % 11, 2, 10, QChar(u'0'))) + ",";
        text.back() = ']';
        QVERIFY(writeFile(store.fileURL(), text));
        const QStringList loaded = idsOf(store.load());
        QCOMPARE(loaded.size(), 50);
        QCOMPARE(loaded.first(6), QStringList({u"10"_s, u"21"_s, u"32"_s, u"43"_s, u"54"_s, u"9"_s}));
        QCOMPARE(idsOf(store.append(record(u"new"_s, 100))), QStringList{u"new"_s} + loaded.first(49));
    }

    void packagePlan_data()
    {
        // Files made ("name=kind", a name ending in "/" is a folder), the ones chosen, the plan or its error.
        using Case = APKValidationError::Case;
        const auto description = [](Case errorCase) {
            return APKValidationError(errorCase).errorDescription();
        };
        const Plans rows;
        rows("single file of any name", {u"app-release.APK=unsigned"_s}, {u"app-release.APK"_s},
             u"single: app-release.APK | 签名将由 Android 在安装时验证 | app-release.APK"_s);
        rows("split set, base first whatever its case, JAR and block signatures",
             {u"split_config.xxhdpi.apk=modern"_s, u"Base.APK=legacy"_s, u"split_config.arm64_v8a.apk=modern"_s},
             {u"split_config.xxhdpi.apk"_s, u"Base.APK"_s, u"split_config.arm64_v8a.apk"_s},
             u"split: Base.APK, split_config.arm64_v8a.apk, split_config.xxhdpi.apk | 已检测到 APK 签名 | "
             u"Split APK（3 个文件）"_s);
        rows("split names by digit value, one unsigned",
             {u"base.apk=modern"_s, u"s/split10.apk=modern"_s, u"split2.apk=unsigned"_s},
             {u"s/split10.apk"_s, u"base.apk"_s, u"split2.apk"_s},
             u"split: base.apk, split2.apk, s/split10.apk | 签名将由 Android 在安装时验证 | Split APK（3 个文件）"_s);
        rows("split set all signed with blocks", {u"base.apk=modern"_s, u"b.apk=modern"_s}, {u"b.apk"_s, u"base.apk"_s},
             u"split: base.apk, b.apk | 已检测到 APK v2/v3 签名 | Split APK（2 个文件）"_s);
        rows("nothing chosen", {}, {}, description(Case::notAPK));
        rows("same name twice, tested before opening", {}, {u"a.apk"_s, u"sub/A.APK"_s},
             description(Case::duplicateFileName));
        rows("set without base", {u"one.apk=unsigned"_s, u"two.apk=modern"_s}, {u"one.apk"_s, u"two.apk"_s},
             description(Case::splitSetNeedsBase));
        rows("inspection before the base test", {u"one.apk=unsigned"_s, u"two.apk=corrupt"_s},
             {u"one.apk"_s, u"two.apk"_s}, description(Case::corruptArchive));
        rows("first failing file wins", {}, {u"x.zip"_s, u"x.aab"_s}, description(Case::notAPK));
        rows("bundle, even missing", {}, {u"x.aab"_s}, description(Case::unsupportedBundle));
        rows("no extension", {u"apk=unsigned"_s}, {u"apk"_s}, description(Case::notAPK));
        rows("missing", {}, {u"gone.apk"_s}, description(Case::missing));
        rows("folder", {u"folder.apk/"_s}, {u"folder.apk"_s}, description(Case::directory));
        rows("empty file", {u"a.apk="_s}, {u"a.apk"_s}, description(Case::empty));
        rows("manifest only in a folder", {u"a.apk=nested manifest"_s}, {u"a.apk"_s},
             description(Case::missingManifest));
    }

    void packagePlan()
    {
        const auto [made, chosen, expected] = Plans::fetch();
        for (const QString &item : made) {
            const QString name = item.section(u'=', 0, 0);
            QVERIFY(name.endsWith(u'/') ? QDir(m_folder->path()).mkpath(name)
                                        : writeFile(m_folder->filePath(name), package(item.section(u'=', 1))));
        }
        QStringList paths;
        qint64 chosenBytes = 0;
        for (const QString &name : chosen) {
            paths.append(m_folder->filePath(name));
            chosenBytes += QFileInfo(m_folder->filePath(name)).size();
        }
        try {
            const APKInstallPlan plan = APKArchiveInspector::plan(paths);
            QCOMPARE(describe(plan, m_folder->path()), expected);
            QCOMPARE(plan.totalBytes, chosenBytes);
        } catch (const APKValidationError &error) {
            QCOMPARE(error.errorDescription(), expected);
        }
    }

    // A package larger than any read in one piece, cut short while it is being checked: a corrupt archive, and
    // the process goes on.
    void packageCutShortWhileCheckedIsCorrupt()
    {
        // The archive's entries at the start, its directory after a hole of 600 MiB.
        constexpr qint64 hole = 600 * mebibyte;
        ZipArchive zip = buildZip({manifest});
        const qsizetype directory = zip.centralEntryOffsets.first();
        zip.put32(zip.endRecordOffset + 16, quint32(directory + hole));
        const QString path = m_folder->filePath(u"large.apk"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(zip.bytes.first(directory)) == directory &&
                file.seek(directory + hole) && file.write(zip.bytes.sliced(directory)) > 0);
        file.close();
        QCOMPARE(APKArchiveInspector::plan({path}).totalBytes, zip.bytes.size() + hole);

        CutOnFirstRead cut(path);
        try {
            APKArchiveInspector::plan({path});
            QFAIL("a package cut short passed");
        } catch (const APKValidationError &error) {
            QCOMPARE(error.errorCase(), APKValidationError::Case::corruptArchive);
        }
        QVERIFY(cut.stop());
    }

    void packageCentralDirectory_data()
    {
        // Archive bytes, the entry names or "corrupt".
        const Archives rows;
        const QStringList corrupt{u"corrupt"_s};
        const QStringList names{u"AndroidManifest.xml"_s, u"classes.dex"_s};
        const auto patched = [](auto change) {
            ZipArchive z = buildZip({manifest, "classes.dex"});
            change(z);
            return z.bytes;
        };
        ZipArchive stray = buildZip({}, {.beforeDirectory = "PK\1\2"});
        stray.put32(stray.endRecordOffset + 12, 4);
        stray.put32(stray.endRecordOffset + 16, 0);

        rows("directory order, repeats and UTF-8 names kept", buildZip({manifest, "中文/名.txt", manifest}).bytes,
             {u"AndroidManifest.xml"_s, u"中文/名.txt"_s, u"AndroidManifest.xml"_s});
        rows("no entries", buildZip({}).bytes, {});
        rows("no entries but a directory", stray.bytes, corrupt);
        rows("longest comment", buildZip({manifest, "classes.dex"}, {.comment = QByteArray(65535, 'c')}).bytes, names);
        // A copy of the end record in the comment is taken, and must pass on its own.
        for (const int extra : {0, 1}) {
            rows(extra ? "broken end record copy in the comment" : "end record copy in the comment",
                 patched([extra](ZipArchive &z) {
                     z.put16(z.endRecordOffset + 20, 22 + extra);
                     z.bytes.append(z.bytes.mid(z.endRecordOffset, 20)).append(QByteArray(2 + extra, 0));
                 }),
                 extra ? corrupt : names);
        }
        rows("shorter than an end record", QByteArray("PK\5\6").leftJustified(21, '\0'), corrupt);
        rows("no end record", QByteArray(4096, 'P'), corrupt);
        rows("ZIP64 marker", patched([](ZipArchive &z) { z.put32(z.endRecordOffset + 12, ~0u); }), corrupt);
        rows("byte after the comment", buildZip({manifest}).bytes + QByteArray(1, 0), corrupt);
        rows("second disk", patched([](ZipArchive &z) { z.put16(z.endRecordOffset + 4, 1); }), corrupt);
        rows("fewer entries on this disk", patched([](ZipArchive &z) { z.put16(z.endRecordOffset + 8, 1); }), corrupt);
        rows("directory into the end record", patched([](ZipArchive &z) { z.put32(z.endRecordOffset + 12, 999); }),
             corrupt);
        rows("directory longer than its entries",
             patched([](ZipArchive &z) { z.put32(z.endRecordOffset + 8, 0x10001); }), corrupt);
        rows("entry signature", patched([](ZipArchive &z) { z.put32(z.centralEntryOffsets[1], 0); }), corrupt);
        rows("local header signature", patched([](ZipArchive &z) { z.put32(z.localHeaderOffsets[1], 0); }), corrupt);
        rows("local header past the end", patched([](ZipArchive &z) { z.put32(z.centralEntryOffsets[0] + 42, ~1u); }),
             corrupt);
        rows("name past the directory", patched([](ZipArchive &z) { z.put16(z.centralEntryOffsets[1] + 28, 12); }),
             corrupt);
        rows("overlong UTF-8", buildZip({manifest, "..\xc0\xaf"}).bytes, corrupt);
        rows("empty name", buildZip({manifest, ""}).bytes, corrupt);
    }

    void packageCentralDirectory()
    {
        const auto [bytes, expected] = Archives::fetch();
        QStringList names;
        try {
            names = APKArchiveInspector::centralDirectoryEntryNames(bytes);
        } catch (const APKValidationError &error) {
            QCOMPARE(error.errorCase(), APKValidationError::Case::corruptArchive);
            names = {u"corrupt"_s};
        }
        QCOMPARE(names, expected);
    }

    void companionArtifact_data()
    {
        using Case = CompanionAPKArtifactError::Case;
        const auto description = [](Case errorCase) {
            return CompanionAPKArtifactError(errorCase).errorDescription();
        };
        const Pairs rows;
        const QByteArray package = companionPackage();
        const QByteArray metadata = companionMetadata(package).encoded();
        // The metadata (or `base`) with the value of `key` replaced.
        const auto with = [&metadata](const char *key, const QJsonValue &value, const QByteArray &base = {}) {
            QJsonObject object = QJsonDocument::fromJson(base.isEmpty() ? metadata : base).object();
            object.insert(QLatin1String(key), value); // an undefined value removes the key
            return QJsonDocument(object).toJson();
        };
        const QString digest = companionMetadata(package).sha256;

        rows("valid pair, digest across a chunk boundary", package, metadata, u"2.1.0 210 2097152"_s);
        rows("package alone", package, std::nullopt, description(Case::metadataMissing));
        rows("metadata alone", std::nullopt, metadata, description(Case::unavailable));
        rows("metadata unreadable", package, QByteArray("/"), description(Case::invalidMetadata));
        rows("not JSON", package, QByteArray("{\"schema_version\": 1,"), description(Case::invalidMetadata));
        rows("key missing", package, with("signing_certificate_subject", QJsonValue::Undefined),
             description(Case::invalidMetadata));
        rows("version code as text", package, with("version_code", u"140"_s), description(Case::invalidMetadata));
        rows("fractional version code", package, with("version_code", 1.5), description(Case::invalidMetadata));
        rows("extra key ignored", package, with("channel", u"beta"_s), u"2.1.0 210 2097152"_s);
        rows("schema tested before the package name", package,
             with("package_name", u"com.example"_s, with("schema_version", 2)), description(Case::invalidMetadata));
        rows("package name in another case", package, with("package_name", u"com.drovan.Tavrine"_s),
             u"手机端安装包标识不正确（com.drovan.Tavrine），Tavrine 已停止安装。"_s);
        rows("empty version name", package, with("version_name", u""_s), description(Case::invalidVersion));
        rows("blank version name is a name", package, with("version_name", u" "_s), u"  210 2097152"_s);
        rows("version code 0", package, with("version_code", 0), description(Case::invalidVersion));
        rows("digest of 63 digits", package, with("sha256", digest.left(63)), description(Case::invalidMetadata));
        rows("digest with a line break", package, with("sha256", digest + u'\n'), description(Case::invalidMetadata));
        rows("digest in upper case", package, with("sha256", digest.toUpper()), u"2.1.0 210 2097152"_s);
        rows("certificate digest", package, with("signing_certificate_sha256", u"abc"_s),
             description(Case::invalidSigningCertificate));
        rows("blank certificate subject", package, with("signing_certificate_subject", u" \n\t"_s),
             description(Case::invalidSigningCertificate));
        rows("package changed", package + "!", metadata, description(Case::checksumMismatch));
        rows("package without manifest", buildZip({"classes.dex"}).bytes,
             companionMetadata(buildZip({"classes.dex"}).bytes).encoded(), description(Case::invalidAPK));
        rows("package is a folder", QByteArray("/"), metadata, description(Case::invalidAPK));
    }

    void companionArtifact()
    {
        const auto [package, metadata, expected] = Pairs::fetch();
        const QString apkPath = m_folder->filePath(u"Tavrine-Android.apk"_s);
        const auto put = [](const QString &path, const std::optional<QByteArray> &contents) {
            return !contents || (*contents == "/" ? QDir().mkdir(path) : writeFile(path, *contents));
        };
        QVERIFY(put(apkPath, package) && put(m_folder->filePath(u"Tavrine-Android.json"_s), metadata));
        QString outcome;
        try {
            const CompanionAPKArtifact artifact = CompanionAPKArtifact::load(m_folder->path());
            QCOMPARE(artifact.apkURL, apkPath);
            outcome = u"%1 %2 %3"_s.arg(artifact.metadata.versionName)
                          .arg(artifact.metadata.versionCode)
                          .arg(artifact.sizeBytes);
        } catch (const CompanionAPKArtifactError &error) {
            outcome = error.errorDescription();
        }
        QCOMPARE(outcome, expected);
    }

private:
    QString state(const QString &name) const { return m_folder->filePath(u"fake-state/"_s + name); }
    InstallHistoryStore history() const { return InstallHistoryStore(m_folder->filePath(u"install-history.json"_s)); }

    // A store whose adb commands end after 2 s and keep a mebibyte of output.
    DeviceStore &makeBoundedStore() { return makeStoreOnPort(0, std::chrono::seconds(2)); }

    // A store whose adb server is on `port` (0: the private one), each of whose adb commands ends after `timeout`,
    // with listings, each property read and other commands each through a runner of their own.
    DeviceStore &makeStoreOnPort(quint16 port, std::chrono::milliseconds timeout)
    {
        const auto runner = [] {
            return std::make_shared<FoundationCommandRunner>(mebibyte);
        };
        auto client = std::make_shared<ADBClient>(
            QFINDTESTDATA("fake-adb"), runner(),
            std::make_shared<ADBServerController>([](const QString &, const QStringList &) {},
                                                  port == 0 ? ADBServerController::privatePort : port),
            ADBCommandTimeouts{timeout, timeout, timeout}, runner(), runner);
        m_store = std::make_unique<DeviceStore>(client, history(), DeviceStoreEnvironment{m_usb, u"/none"_s});
        return *m_store;
    }

    DeviceStore &makeStore(const QString &companionFolder = u"/none"_s)
    {
        m_store = std::make_unique<DeviceStore>(makeDefaultADBClient(), history(),
                                                DeviceStoreEnvironment{m_usb, companionFolder, [this] {
                                                                           return m_otherADBServer;
                                                                       }});
        return *m_store;
    }

    // The command lines the fake adb received, without the server port.
    QList<QStringList> commands() const
    {
        QList<QStringList> lines;
        for (const QByteArray &line : contentsOf(state(u"commands.log"_s)).trimmed().split('\n'))
            lines.append(QJsonDocument::fromJson(line).toVariant().toStringList().mid(2));
        return lines;
    }
    qsizetype listings() const { return commands().count({u"devices"_s, u"-l"_s}); }

    // Whether adb did nothing but list the phones and read their properties.
    bool onlyListingRan() const
    {
        return std::ranges::all_of(commands(), [](const QStringList &line) {
            return line == QStringList{u"devices"_s, u"-l"_s} || line.mid(2) == QStringList{u"shell"_s, u"getprop"_s};
        });
    }

    QTemporaryDir m_temporary;
    std::optional<QTemporaryDir> m_folder;
    std::shared_ptr<FakeUSBDeviceRegistry> m_usb;
    bool m_otherADBServer = false;
    std::unique_ptr<DeviceStore> m_store;
};

QTEST_GUILESS_MAIN(DeviceStoreTest)
#include "test_device_store.moc"

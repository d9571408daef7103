#include "../android_usb_views/UsbViewsTestSupport.h"
#include "AwaitTask.h"
#include "DefaultADBClient.h"
#include "DeviceDashboard.h"
#include "DeviceManagementDashboard.h"
#include "DeviceManagementStore.h"
#include "DeviceOverviewPane.h"
#include "DisclosureGroup.h"
#include "FirstRunConnectionView.h"
#include "HomeQuickAction.h"
#include "InstallStatusBanner.h"
#include "MainWindow.h"
#include "MainWindowDetailPane.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagedMediaGallery.h"
#include "NativeOpenPanel.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "SidebarRows.h"
#include "StatusBanner.h"
#include "USBApprovalView.h"
#include "USBCompanionSetupCard.h"
#include "ViewMessageBox.h"

#include <QJsonDocument>
#include <QListView>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>

using namespace MainWindowPresentation;
using namespace UsbViewsTestSupport;
using Phase = TransferStore::Phase;
using Screen = DetailScreen::Kind;
using State = AndroidDevice::State;

// selection, connected, selected trusted index (-1 none), adb serials, waiting phone → screen, its record index
// or serial
using Screens = TestTable<std::optional<SidebarSelection>, bool, int, QStringList, bool, Screen, QString>;
// trusted names (with "#serial" for a bound serial), connected index (-1 none), adb devices "serial:name" (with
// ":transport" for adb's transport id), waiting → trusted rows "name/status flags", USB rows (their ids), shows the
// no-devices label
using Sidebars = TestTable<QStringList, int, QStringList, bool, QStringList, QStringList, bool>;
// payload, last payload, the state of the pairing's USB phone as listed when the pairing began (none: no such
// phone), whether the companion is to be installed on it → hand-off
using HandOffs =
    TestTable<std::optional<QString>, std::optional<QString>, std::optional<State>, bool, USBPairingHandOff>;

Q_DECLARE_METATYPE(std::optional<SidebarSelection>)
Q_DECLARE_METATYPE(std::optional<State>)
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(MainWindow::Importer)

namespace {

AndroidDevice device(const QString &serial, const QString &name, State state = State::authorized)
{
    AndroidDevice device = phone(serial, state);
    device.marketingName = name;
    return device;
}

// Records "A", "B", … named by `names`; "Name#serial" binds a USB serial.
QList<TrustedDeviceRecord> records(const QStringList &names)
{
    QList<TrustedDeviceRecord> records;
    for (const auto &name : names) {
        TrustedDeviceRecord record = trustedPhone(name.section('#', 0, 0), int(records.size()) + 1);
        if (name.contains('#'))
            record.usbSerial = name.section('#', 1);
        records.append(record);
    }
    return records;
}

MainWindowState stateOf(const QStringList &trusted, int connected, const QStringList &devices, bool waiting)
{
    MainWindowState state;
    state.trustedDevices = records(trusted);
    if (connected >= 0) {
        state.phase = Phase::connected(state.trustedDevices[connected].name);
        state.selectedTrustedDeviceID = state.trustedDevices[connected].id;
    }
    for (const auto &entry : devices) {
        state.devices.append(device(entry.section(':', 0, 0), entry.section(':', 1, 1)));
        if (!entry.section(':', 2).isEmpty())
            state.devices.last().transportID = entry.section(':', 2);
    }
    if (waiting)
        state.waitingUSBPhone = USBAndroidDevice{0x18d1, 0x4ee7, QStringLiteral("Pixel 8"), {}, {}};
    return state;
}

// The window over adb through the fake adb, no USB devices and no companion package, and a phone paired and connected
// unless `paired` is false; the link's start is tried again every `retryInterval`.
struct PairedWindow
{
    explicit PairedWindow(bool paired = true, std::chrono::milliseconds retryInterval = std::chrono::seconds(5))
        : management(madeStore(paired, retryInterval))
    {}

    StoreFixture transfers;
    QTemporaryDir folder;
    DeviceStore devices{makeDefaultADBClient(),
                        InstallHistoryStore(folder.filePath("history.json")),
                        {std::make_shared<NoUSBDevices>(), folder.filePath("no-companion")}};
    DeviceManagementStore management;
    QuickSendCoordinator quickSend{*transfers.store};
    MainWindow window{devices, *transfers.store, management, quickSend};

private:
    TransferStore &madeStore(bool paired, std::chrono::milliseconds retryInterval)
    {
        transfers.retryInterval = retryInterval;
        return paired ? transfers.makePaired() : transfers.make();
    }
};

// The window over a transfer store already made, with a device store that has no adb.
struct WindowOverStore
{
    explicit WindowOverStore(TransferStore &transfers) : management(transfers), quickSend(transfers)
    {
        window = std::make_unique<MainWindow>(devices.make(), transfers, management, quickSend);
    }

    DeviceStoreFixture devices;
    DeviceManagementStore management;
    QuickSendCoordinator quickSend;
    std::unique_ptr<MainWindow> window;
};
// The id of the phone the device store lists with `serial`: the fake adb gives each phone a transport id.
QString listedID(const DeviceStore &devices, const QString &serial)
{
    const auto listed = std::ranges::find(devices.devices(), serial, &AndroidDevice::serial);
    return listed == devices.devices().end() ? serial : listed->id();
}

void saveScreenshot(QWidget *widget, const QString &name)
{
    const QDir folder(QDir::tempPath() + "/tavrine-screens");
    QVERIFY(folder.mkpath(".") && widget->grab().save(folder.filePath(name)));
    qInfo("screenshot: %s", qPrintable(folder.filePath(name)));
}

// Where the pane shows `text`: "notice" for the line under the screen, "first run" for the first-run screen's
// message.
QStringList placesShowing(const MainWindowDetailPane &pane, const QString &text)
{
    QStringList places;
    if (!pane.linkProblemNotice()->isHidden() && pane.linkProblemNotice()->text().contains(text))
        places << "notice";
    const auto *firstRun = qobject_cast<FirstRunConnectionView *>(pane.screenWidget());
    if (firstRun && !firstRun->messageBanner()->isHidden()) {
        const auto labels = firstRun->messageBanner()->findChildren<QLabel *>();
        if (std::any_of(labels.begin(), labels.end(),
                        [&](const QLabel *label) { return label->text().contains(text); }))
            places << "first run";
    }
    return places;
}

// Answers the phone's first request for `action` once the window has asked it.
bool answerRequest(StoreFixture &transfers, const QString &action, const QJsonObject &answer)
{
    qsizetype number = 0;
    if (!QTest::qWaitFor([&] { return (number = transfers.calls("request:").indexOf("request:" + action) + 1) > 0; },
                         30'000))
        return false;
    transfers.answer(int(number), true, QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
    return true;
}

// A photo "<id>.jpg" of the phone's camera folder.
ManagedMediaItem photo(const QString &id)
{
    ManagedMediaItem item;
    item.id = id;
    item.name = id + ".jpg";
    item.size = 1000;
    item.mimeType = "image/jpeg";
    item.width = 400;
    item.height = 300;
    item.relativePath = "DCIM/" + item.name;
    return item;
}

// Has the connected phone name its model `model` in its snapshot; false when it was not asked for one.
bool reportModel(StoreFixture &transfers, DeviceManagementStore &management, const QString &model)
{
    QCoro::Task<void> overview = management.refreshOverview();
    const QStringList requests = transfers.calls("request:");
    const auto snapshot = std::ranges::find(requests, QStringLiteral("request:device.snapshot"));
    if (snapshot == requests.end())
        return false;
    ManagedDeviceSnapshot answer;
    answer.model = model;
    transfers.answer(int(snapshot - requests.begin()) + 1, true,
                     QJsonDocument(encodeManaged(answer)).toJson(QJsonDocument::Compact));
    awaitTask(overview);
    return management.snapshot().value_or(ManagedDeviceSnapshot()).model == model;
}

// The phone rows of the sidebar, as "title · status".
QStringList phoneRows(const MainWindow &window)
{
    QStringList rows;
    for (int row = 0; row < window.sidebar()->count(); ++row) {
        auto *widget = window.sidebar()->itemWidget(window.sidebar()->item(row));
        if (auto *phoneRow = qobject_cast<SidebarPhoneRow *>(widget))
            rows << phoneRow->titleLabel()->text() + " · " + phoneRow->statusLabel()->text();
    }
    return rows;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        qputenv("TAVRINE_FAKE_ADB_STATE", m_adbState.path().toUtf8());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    void detailPaneChoosesOneScreen_data()
    {
        const auto trusted = [](const QString &id) {
            return std::optional(SidebarSelection::trustedDevice(id));
        };
        const auto usb = [](const QString &serial) {
            return std::optional(SidebarSelection::usbDevice(serial));
        };
        const QString first = records({"A"}).first().id;
        const QString second = records({"A", "B"}).last().id;
        Screens rows;
        rows("nothing at all", std::nullopt, false, -1, {}, false, Screen::firstRun, "");
        rows("nothing selected, a phone waits", std::nullopt, false, -1, {"S1"}, true, Screen::usbApproval, "");
        rows("nothing selected, connected", std::nullopt, true, 1, {}, false, Screen::connectedTrustedDashboard,
             second);
        rows("trusted phone, even unlisted", trusted(first), false, -1, {}, false, Screen::trustedDashboard, first);
        rows("forgotten record, connected", trusted("gone"), true, 0, {}, false, Screen::connectedTrustedDashboard,
             first);
        rows("forgotten record, waiting phone", trusted("gone"), false, -1, {}, true, Screen::usbApproval, "");
        rows("USB phone listed", usb("S1"), true, 0, {"S1"}, false, Screen::usbDashboard, "S1");
        rows("USB phone gone, connected", usb("S9"), true, 1, {"S1"}, false, Screen::connectedTrustedDashboard, second);
        rows("USB phone gone, others listed", usb("S9"), false, -1, {"S1"}, false, Screen::firstRun, "");
        rows("USB serial is not a trusted id", trusted("S1"), false, -1, {"S1"}, false, Screen::firstRun, "");
    }

    void detailPaneChoosesOneScreen()
    {
        const auto [selection, connected, selectedIndex, serials, waiting, expected, target] = Screens::fetch();
        MainWindowState state = stateOf({"A", "B"}, connected ? selectedIndex : -1, {}, waiting);
        for (const auto &serial : serials)
            state.devices.append(device(serial, "Galaxy", serial == "S1" ? State::unauthorized : State::authorized));
        if (waiting)
            state.devices.clear(); // adb lists nothing while a phone waits
        const DetailScreen screen = detailScreen(selection, state);
        QCOMPARE(screen.kind, expected);
        if (screen.record)
            QCOMPARE(screen.record->id, target);
        if (screen.device)
            QCOMPARE(screen.device->serial, target);
        QCOMPARE(screen.waitingPhone.has_value(), expected == Screen::usbApproval);
    }

    void usbDashboardShowsTransferOnlyForItsPeer()
    {
        MainWindowState state = stateOf({}, -1, {"S1:Pixel 8"}, false);
        const auto selection = std::optional(SidebarSelection::usbDevice("S1"));
        QVERIFY(detailScreen(selection, state).showsTransfer);
        state.currentPeerDisplayName = "Pixel 8";
        QVERIFY(detailScreen(selection, state).showsTransfer);
        state.currentPeerDisplayName = "pixel 8";
        QVERIFY(!detailScreen(selection, state).showsTransfer);
    }

    void sidebarListsUsablePhones_data()
    {
        Sidebars rows;
        rows("nothing", {}, -1, {}, false, {}, {}, true);
        rows("a waiting phone replaces the label", {}, -1, {}, true, {}, {}, false);
        rows("trusted but absent", {"Pixel", "Mate"}, -1, {}, false, {}, {}, true);
        rows("connected and plugged in", {"Pixel", "Mate"}, 0, {"S1:pixel", "S2:Galaxy"}, false,
             {"Pixel/selected connected usb"}, {"S2"}, false);
        rows("plugged in only", {"Pixel"}, -1, {"S1:Pixel"}, false, {"Pixel/usb"}, {}, false);
        rows("two phones of the name match none", {"Pixel"}, -1, {"S1:Pixel", "S2:PIXEL"}, false, {}, {"S1", "S2"},
             false);
        rows("a bound serial beats the name", {"Pixel#S2"}, -1, {"S1:Pixel", "S2:Galaxy"}, false, {"Pixel/usb"}, {"S1"},
             false);
        rows("an empty bound serial matches no phone", {"Pixel#"}, -1, {"S1:Pixel"}, false, {}, {"S1"}, false);
        // Cheap phones share one serial: each is a row of its own, and a record bound to the serial is the one of
        // its name.
        rows("two phones of one serial", {}, -1, {"X:SM-S9180:1", "X:Redmi Note 12:2"}, false, {},
             {"X transport_id:1", "X transport_id:2"}, false);
        rows("paired with one of two phones of one serial", {"Redmi Note 12#X"}, -1,
             {"X:SM-S9180:1", "X:Redmi Note 12:2"}, false, {"Redmi Note 12/usb"}, {"X transport_id:1"}, false);
        rows("a shared serial, neither of the name", {"Pixel#X"}, -1, {"X:SM-S9180:1", "X:Redmi Note 12:2"}, false, {},
             {"X transport_id:1", "X transport_id:2"}, false);
    }

    void sidebarListsUsablePhones()
    {
        const auto [trusted, connected, devices, waiting, trustedRows, usbRows, showsNoDevices] = Sidebars::fetch();
        const SidebarContent content = sidebarContent(stateOf(trusted, connected, devices, waiting));
        QStringList shownTrusted;
        for (const auto &row : content.trustedRows) {
            QStringList flags;
            if (row.isSelected)
                flags << "selected";
            if (row.isConnected)
                flags << "connected";
            if (row.usbState)
                flags << "usb";
            shownTrusted << row.record.name + "/" + flags.join(' ');
        }
        QStringList shownUSB;
        for (const auto &device : content.usbRows)
            shownUSB << device.id();
        QCOMPARE(shownTrusted, trustedRows);
        QCOMPARE(shownUSB, usbRows);
        QCOMPARE(content.waitingPhone.has_value(), waiting);
        QCOMPARE(content.showsNoDevices, showsNoDevices);
        QCOMPARE(content.trustedDeviceCount, trusted.size());
    }

    void selectionFollowsThePhones()
    {
        MainWindowState state = stateOf({"Pixel", "Mate"}, -1, {"S2:Galaxy"}, false);
        QCOMPARE(reconciledSelection(std::nullopt, state), (Reconciliation{SidebarSelection::usbDevice("S2"), "S2"}));
        state = stateOf({"Pixel", "Mate"}, 1, {"S1:Pixel", "S2:Galaxy"}, false);
        const auto usbRow = std::optional(SidebarSelection::usbDevice("S2"));
        QCOMPARE(reconciledSelection(usbRow, state), (Reconciliation{usbRow, std::nullopt}));
        QCOMPARE(reconciledSelection(SidebarSelection::usbDevice("S1"), state),
                 (Reconciliation{SidebarSelection::trustedDevice(state.trustedDevices[1].id), std::nullopt}));
        state.phase = Phase::idle();
        QCOMPARE(reconciledSelection(std::nullopt, state),
                 (Reconciliation{SidebarSelection::trustedDevice(state.trustedDevices[0].id), std::nullopt}));
        QCOMPARE(reconciledSelection(usbRow, stateOf({}, -1, {}, false)), Reconciliation{});
    }

    // Two phones of one serial are two phones: the row chosen is the phone shown, selected in the device store,
    // and the one a companion install waits for.
    void phonesOfOneSerialAreChosenByTheirRow()
    {
        MainWindowState state = stateOf({"Redmi Note 12#X"}, -1, {"X:SM-S9180:1", "X:Redmi Note 12:2"}, false);
        const QString samsung = state.devices[0].id();
        const QString redmi = state.devices[1].id();
        QCOMPARE(reconciledSelection(std::nullopt, state),
                 (Reconciliation{SidebarSelection::trustedDevice(state.trustedDevices[0].id), std::nullopt}));
        QCOMPARE(deviceIDOfTrustedDevice(state.trustedDevices[0].id, state), redmi);
        const auto samsungRow = std::optional(SidebarSelection::usbDevice(samsung));
        QCOMPARE(reconciledSelection(samsungRow, state), (Reconciliation{samsungRow, std::nullopt}));
        QCOMPARE(detailScreen(samsungRow, state).device, state.devices[0]);
        state.trustedDevices.clear();
        QCOMPARE(detailScreen(SidebarSelection::usbDevice(redmi), state).device, state.devices[1]);
        QCOMPARE(reconciledSelection(std::nullopt, state), (Reconciliation{samsungRow, samsung}));
    }

    void aListingBindsOnlyAMissingOrWrongSerial_data()
    {
        // The trusted records ("Name#serial" binds one; the first is the selected one), whether it is connected, the
        // phones adb lists ("serial=model", "=state" after it for another state than authorised, no model: listed
        // without one) → the serial a listing binds to the first record (none: none).
        TestTable<QStringList, bool, QStringList, std::optional<QString>> rows;
        rows("no serial yet", {"Pixel"}, true, {"PX1=Pixel_7"}, QString("PX1"));
        rows("not connected", {"Pixel"}, false, {"PX1=Pixel_7"}, std::nullopt);
        rows("its phone unplugged, another of its model", {"Pixel#PX1"}, true, {"PX2=Pixel_7"}, std::nullopt);
        rows("its phone and another of its model", {"Pixel#PX1"}, true, {"PX1=Pixel_7", "PX2=Pixel_7"}, std::nullopt);
        rows("bound to a phone of another model", {"Pixel#R5CT"}, true, {"R5CT=SM-S9180", "PX1=Pixel_7"},
             QString("PX1"));
        rows("its phone listed without a model", {"Pixel#R5CT"}, true, {"R5CT==unauthorized", "PX1=Pixel_7"},
             std::nullopt);
        rows("its serial shared, one of its model", {"Pixel#X"}, true,
             {"X=SM-S9180", "X=Pixel_7=offline", "PX1=Pixel_7"}, std::nullopt);
        rows("its serial shared, none of its model", {"Pixel#X"}, true, {"X=SM-S9180", "X=Mate_60", "PX1=Pixel_7"},
             QString("PX1"));
        rows("the serial another trusted phone's", {"Pixel", "Mate#PX1"}, true, {"PX1=Pixel_7"}, std::nullopt);
        rows("bound wrong to another trusted phone's serial", {"Pixel#R5CT", "Mate#PX1"}, true,
             {"R5CT=SM-S9180", "PX1=Pixel_7"}, std::nullopt);
    }

    void aListingBindsOnlyAMissingOrWrongSerial()
    {
        const auto [trusted, connected, listed, expected] =
            TestTable<QStringList, bool, QStringList, std::optional<QString>>::fetch();
        MainWindowState state = stateOf(trusted, connected ? 0 : -1, {}, false);
        state.selectedTrustedDeviceID = state.trustedDevices.first().id;
        for (const QString &entry : listed) {
            AndroidDevice listedPhone = phone(entry.section('=', 0, 0));
            listedPhone.model = entry.section('=', 1, 1);
            if (listedPhone.model->isEmpty())
                listedPhone.model.reset();
            if (!entry.section('=', 2).isEmpty())
                listedPhone.state = *AndroidDevice::stateFromRawValue(entry.section('=', 2));
            listedPhone.transportID = QString::number(state.devices.size() + 1);
            state.devices.append(listedPhone);
        }
        const auto device = deviceToBindSerial(QString("Pixel 7"), state);
        QCOMPARE(device ? std::optional(device->serial) : std::nullopt, expected);
        QCOMPARE(deviceToBindSerial(std::nullopt, state), std::nullopt);
    }

    void serialIsBoundOnlyToOneAuthorisedModel()
    {
        MainWindowState state = stateOf({"Pixel"}, 0, {}, false);
        state.devices = {phone("S1"), phone("S2", State::unauthorized)};
        QCOMPARE(deviceToBind(QString("sm_s911b"), state), state.devices[0]);
        QCOMPARE(deviceToBind(std::nullopt, state), std::nullopt);
        state.devices[1].state = State::authorized;
        QCOMPARE(deviceToBind(QString("SM_S911B"), state), std::nullopt);
    }

    void pairingPayloadReachesAuthorisedPhoneOnce_data()
    {
        using H = USBPairingHandOff;
        HandOffs rows;
        rows("new payload opens the companion", "p1", std::nullopt, State::authorized, false, H::openCompanion);
        rows("install pending on the phone", "p1", "p0", State::authorized, true, H::installAndConnect);
        rows("same payload again", "p1", "p1", State::authorized, true, H::none);
        rows("no payload", std::nullopt, "p1", State::authorized, false, H::none);
        rows("unauthorised phone", "p1", std::nullopt, State::unauthorized, true, H::none);
        rows("pairing begun on no phone's page", "p1", std::nullopt, std::nullopt, false, H::none);
    }

    void pairingPayloadReachesAuthorisedPhoneOnce()
    {
        const auto [payload, last, targetState, installs, expected] = HandOffs::fetch();
        const auto target =
            targetState ? std::optional(USBPairingTarget{phone("R5CT80ABCDE", *targetState), installs}) : std::nullopt;
        QCOMPARE(usbPairingHandOff(payload, last, target), expected);
    }

    // A connected trusted phone that is also plugged in, and a second USB phone: the window polls adb, lists both
    // and shows the connected phone's dashboard; picking the USB row shows its dashboard and selects its serial.
    void windowListsPhonesAndShowsTheirScreens()
    {
        QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                          R"([{"serial": "PX1", "model": "Pixel"}, {"serial": "R58N", "model": "Galaxy_S23"}])"));
        PairedWindow paired;
        StoreFixture &transfers = paired.transfers;
        DeviceStore &devices = paired.devices;
        DeviceManagementStore &management = paired.management;
        MainWindow &window = paired.window;
        QCOMPARE(window.detailPane()->screen().kind, Screen::connectedTrustedDashboard);
        QVERIFY(!window.sidebarSelection());

        window.show();
        QVERIFY(window.isPollingUSB());
        QTRY_COMPARE_WITH_TIMEOUT(devices.devices().size(), 2, 10000);
        const QString pixelID = transfers.store->trustedDevices().first().id;
        QCOMPARE(window.sidebarSelection(), SidebarSelection::trustedDevice(pixelID));
        QVERIFY(qobject_cast<DeviceManagementDashboard *>(window.detailPane()->screenWidget()));
        QCOMPARE(devices.selectedDeviceID(), listedID(devices, "PX1"));

        QCOMPARE(phoneRows(window), QStringList({"Pixel · 无线 + USB 已连接", "Galaxy S23 · USB 已连接"}));
        for (const QSize size : {QSize(MainWindow::defaultWidth, MainWindow::defaultHeight),
                                 QSize(MainWindow::minimumWidth, MainWindow::minimumHeight)}) {
            window.resize(size);
            QTRY_COMPARE(window.size(), size);
            QVERIFY(window.sidebar()->width() >= MainWindow::sidebarMinimumWidth - 16);
            QVERIFY(window.detailPane()->width() > 300);
        }
        window.resize(MainWindow::defaultWidth, MainWindow::defaultHeight);
        QTRY_COMPARE(window.width(), MainWindow::defaultWidth);
        saveScreenshot(&window, "main-window.png");

        window.sidebar()->item(2)->setSelected(true);
        QCOMPARE(window.sidebarSelection(), SidebarSelection::usbDevice(listedID(devices, "R58N")));
        QCOMPARE(devices.selectedDeviceID(), listedID(devices, "R58N"));
        auto *dashboard = qobject_cast<DeviceDashboard *>(window.detailPane()->screenWidget());
        QVERIFY(dashboard);

        // The USB dashboard's send while connected opens the importer; its files go to the phone.
        QStringList sent;
        window.setImporterPresenter([&](MainWindow::Importer importer, std::function<void(QStringList)> done) {
            QCOMPARE(importer, MainWindow::Importer::transferFiles);
            QVERIFY(window.isImportingTransferFiles());
            done({});
        });
        window.beginTransfer();
        QVERIFY(!window.isImportingTransferFiles());
        QVERIFY(!window.isShowingPairing());

        window.hide();
        QVERIFY(!window.isPollingUSB());
        // The dashboard's snapshot request ends before the stores go.
        transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // The device store works on the phone of the row chosen: a trusted row selects its USB phone, and a new listing
    // does not take the store from a plain USB row to the trusted phone's.
    void theDeviceStoreFollowsTheRowChosen()
    {
        QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                          R"([{"serial": "PX1", "model": "Pixel"}, {"serial": "R58N", "model": "Galaxy_S23"}])"));
        PairedWindow paired;
        DeviceStore &devices = paired.devices;
        MainWindow &window = paired.window;
        awaitTask(devices.refresh());
        const QString pixelID = paired.transfers.store->trustedDevices().first().id;
        window.setSidebarSelection(SidebarSelection::usbDevice(listedID(devices, "R58N")));
        window.setSidebarSelection(SidebarSelection::trustedDevice(pixelID));
        QCOMPARE(devices.selectedDeviceID(), listedID(devices, "PX1"));

        window.setSidebarSelection(SidebarSelection::usbDevice(listedID(devices, "R58N")));
        // A third phone plugged in changes the list.
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "PX1", "model": "Pixel"},
            {"serial": "R58N", "model": "Galaxy_S23"}, {"serial": "E5", "model": "Mate_60"}])"));
        awaitTask(devices.refresh());
        QCOMPARE(devices.devices().size(), 3);
        QCOMPARE(window.sidebarSelection(), SidebarSelection::usbDevice(listedID(devices, "R58N")));
        QCOMPARE(devices.selectedDeviceID(), listedID(devices, "R58N"));
        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // A phone plugged in again is the phone chosen, with a transport id of its own: its row stays selected, its page
    // stays open while no listing went without it, and a companion set-up confirmed there reaches it.
    void aPhonePluggedInAgainStaysChosen_data()
    {
        // Whether a listing ran while it was unplugged, and whether one listed it offline as it came back, as adb
        // does for a moment while it connects.
        QTest::addColumn<bool>("listedWithout");
        QTest::addColumn<bool>("listedOffline");
        QTest::newRow("at once") << false << false;
        QTest::newRow("after a listing without it") << true << false;
        QTest::newRow("after a listing of it offline") << false << true;
    }
    void aPhonePluggedInAgainStaysChosen()
    {
        QFETCH(bool, listedWithout);
        QFETCH(bool, listedOffline);
        const QByteArray both =
            R"([{"serial": "R58N", "model": "Galaxy_S23"}, {"serial": "E5", "model": "Mate_60", "product": "ALN"}])";
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), both));
        PairedWindow paired;
        DeviceStore &devices = paired.devices;
        MainWindow &window = paired.window;
        awaitTask(devices.refresh());
        const QString earlierID = listedID(devices, "E5");
        window.sidebar()->item(3)->setSelected(true);
        QCOMPARE(window.sidebarSelection(), SidebarSelection::usbDevice(earlierID));
        const QPointer<QWidget> page = window.detailPane()->screenWidget();
        QVERIFY(qobject_cast<DeviceDashboard *>(page));

        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "R58N", "model": "Galaxy_S23"}])"));
        if (listedWithout)
            awaitTask(devices.refresh());
        else // adb's server saw it leave
            QCOMPARE(QProcess::execute(qEnvironmentVariable("TAVRINE_ADB_PATH"), {"devices"}), 0);
        if (listedOffline) {
            QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                              R"([{"serial": "R58N", "model": "Galaxy_S23"},
                                  {"serial": "E5", "state": "offline", "model": "Mate_60", "product": "ALN"}])"));
            awaitTask(devices.refresh());
        }
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), both));
        awaitTask(devices.refresh());
        const QString laterID = listedID(devices, "E5");
        QVERIFY(laterID != earlierID);
        QCOMPARE(window.sidebarSelection(), SidebarSelection::usbDevice(laterID));
        QCOMPARE(devices.selectedDeviceID(), laterID);
        auto *dashboard = qobject_cast<DeviceDashboard *>(window.detailPane()->screenWidget());
        QVERIFY(dashboard);
        QCOMPARE(dashboard == page, !listedWithout && !listedOffline);

        // Without a companion package here the install fails at once: that it was tried is what counts.
        ViewMessageBox::setNextAnswer(QMessageBox::AcceptRole);
        dashboard->companionCard()->installButton()->setEnabled(true);
        dashboard->companionCard()->installButton()->click();
        QCOMPARE(devices.companionInstallState().kind, DeviceStore::CompanionInstallState::Kind::failed);
        QCOMPARE(devices.companionInstallState().text,
                 CompanionAPKArtifactError(CompanionAPKArtifactError::Case::unavailable).errorDescription());

        window.pairingSheet()->cancel();
        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // While adb cannot list the phones none is shown; those that come back get their row back, as chosen.
    void phonesBackFromAFailedListingAreChosenAgain_data()
    {
        // Whether adb's server started anew while the listing failed, numbering the phones afresh.
        QTest::addColumn<bool>("serverStartedAgain");
        QTest::newRow("listing failed") << false;
        QTest::newRow("server started anew meanwhile") << true;
    }
    void phonesBackFromAFailedListingAreChosenAgain()
    {
        QFETCH(bool, serverStartedAgain);
        // The Mate is plugged in first, the Galaxy then on the port adb's server finds first.
        const QByteArray mate = R"({"serial": "E5", "model": "Mate_60", "product": "ALN", "usb_path": "1-2"})";
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[" + mate + "]"));
        PairedWindow paired;
        DeviceStore &devices = paired.devices;
        MainWindow &window = paired.window;
        awaitTask(devices.refresh());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                          R"([{"serial": "R58N", "model": "Galaxy_S23", "usb_path": "1-1"}, )" + mate + "]"));
        awaitTask(devices.refresh());
        const QString earlierID = listedID(devices, "E5");
        window.sidebar()->item(3)->setSelected(true);
        QCOMPARE(window.sidebarSelection(), SidebarSelection::usbDevice(earlierID));

        QVERIFY(writeFile(m_adbState.filePath("failures.json"), R"({"devices": {"answer": "closed"}})"));
        awaitTask(devices.refresh());
        QVERIFY(devices.devices().isEmpty());
        const QString pixelID = paired.transfers.store->trustedDevices().first().id;
        QCOMPARE(window.sidebarSelection(), SidebarSelection::trustedDevice(pixelID));
        if (serverStartedAgain)
            QCOMPARE(QProcess::execute(qEnvironmentVariable("TAVRINE_ADB_PATH"), {"kill-server"}), 0);
        QVERIFY(QFile::remove(m_adbState.filePath("failures.json")));
        awaitTask(devices.refresh());
        const QString laterID = listedID(devices, "E5");
        QCOMPARE(laterID != earlierID, serverStartedAgain);
        QCOMPARE(window.sidebarSelection(), SidebarSelection::usbDevice(laterID));
        QCOMPARE(devices.selectedDeviceID(), laterID);
        QVERIFY(qobject_cast<DeviceDashboard *>(window.detailPane()->screenWidget()));

        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // A trusted phone bound to another phone's serial (its properties once read from the other phone) is bound to
    // its own serial once it is listed, without its model changing: it is no second row beside its own.
    void aSerialBoundWrongIsMendedOnceThePhoneIsSeen()
    {
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "R5CT", "model": "SM-S9180"}])"));
        PairedWindow paired;
        TransferStore &transfers = *paired.transfers.store;
        const QString pixelID = transfers.trustedDevices().first().id;
        transfers.bindUSBSerial("R5CT", pixelID);
        awaitTask(paired.devices.refresh());
        // The connected phone names its model; no phone of that model is plugged in yet.
        QVERIFY(reportModel(paired.transfers, paired.management, "Pixel 7"));
        QCOMPARE(transfers.trustedDevices().first().usbSerial, QString("R5CT"));

        QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                          R"([{"serial": "R5CT", "model": "SM-S9180"}, {"serial": "PX1", "model": "Pixel_7"}])"));
        awaitTask(paired.devices.refresh());
        QCOMPARE(transfers.trustedDevices().first().usbSerial, QString("PX1"));
        QCOMPARE(phoneRows(paired.window), QStringList({"Pixel · 无线 + USB 已连接", "SM-S9180 · USB 已连接"}));
        QCOMPARE(paired.devices.selectedDeviceID(), listedID(paired.devices, "PX1"));
        transfers.failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    void aListingBindsOnlyAPhoneNotYetKnown_data()
    {
        // The serial the trusted phone "Pixel" is bound to (none: none), the phones adb lists before the phone names
        // its model "Pixel 7", those it lists one listing after the other then → the serial it is bound to then, the
        // phone rows.
        TestTable<std::optional<QString>, QByteArray, QList<QByteArray>, std::optional<QString>, QStringList> rows;
        const QByteArray mine = R"({"serial": "PX1", "model": "Pixel_7"})";
        const QByteArray stranger = R"({"serial": "PX2", "model": "Pixel_7"})";
        rows("another's phone of its model, its own unplugged", QString("PX1"), "[]", {"[" + stranger + "]"},
             QString("PX1"), {"Pixel · 无线已连接", "Pixel 7 · USB 已连接"});
        rows("then its own plugged in too", QString("PX1"), "[]",
             {"[" + stranger + "]", "[" + stranger + ", " + mine + "]"}, QString("PX1"),
             {"Pixel · 无线 + USB 已连接", "Pixel 7 · USB 已连接"});
        rows("not bound yet", std::nullopt, "[]", {"[" + mine + "]"}, QString("PX1"), {"Pixel · 无线 + USB 已连接"});
        // The model the phone names binds no more than a listing does.
        rows("another's phone of its model plugged in as it names its model", QString("PX1"), "[" + stranger + "]", {},
             QString("PX1"), {"Pixel · 无线已连接", "Pixel 7 · USB 已连接"});
        rows("not bound yet, its phone plugged in as it names its model", std::nullopt, "[" + mine + "]", {},
             QString("PX1"), {"Pixel · 无线 + USB 已连接"});
    }

    // A phone of the connected phone's model that a listing shows may be anyone's: its serial is bound only to a
    // trusted phone that has none yet, and the trusted phone's own USB phone stays its own.
    void aListingBindsOnlyAPhoneNotYetKnown()
    {
        const auto [bound, before, listings, boundThen, shownRows] =
            TestTable<std::optional<QString>, QByteArray, QList<QByteArray>, std::optional<QString>,
                      QStringList>::fetch();
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), before));
        PairedWindow paired;
        TransferStore &transfers = *paired.transfers.store;
        const QString pixelID = transfers.trustedDevices().first().id;
        if (bound)
            transfers.bindUSBSerial(*bound, pixelID);
        awaitTask(paired.devices.refresh());
        QVERIFY(reportModel(paired.transfers, paired.management, "Pixel 7"));
        for (const QByteArray &listing : listings) {
            QVERIFY(writeFile(m_adbState.filePath("devices.json"), listing));
            awaitTask(paired.devices.refresh());
        }
        QCOMPARE(transfers.trustedDevices().first().usbSerial, boundThen);
        QCOMPARE(phoneRows(paired.window), shownRows);
        QCOMPARE(paired.window.sidebarSelection(), SidebarSelection::trustedDevice(pixelID));
        // The device store works on the trusted phone's own USB phone once it is plugged in.
        const auto own = std::ranges::find(paired.devices.devices(), QString("PX1"), &AndroidDevice::serial);
        if (own != paired.devices.devices().end())
            QCOMPARE(paired.devices.selectedDeviceID(), own->id());
        transfers.failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    void aTrustedPhoneOnUSBTellsItsState_data()
    {
        // The phones adb lists, whether the trusted phone "Pixel" is bound to the serial PX1 → its sidebar status, its
        // overview's connection line (without the battery), the banner over its applications (empty: none)
        const TestTable<QByteArray, bool, QString, QString, QString> rows;
        const QString noPermission = ADBClientError(ADBClientError::Case::usbPermissionDenied).errorDescription();
        rows("no permissions", R"([{"serial": "PX1", "state": "no permissions"}])", true, "无线已连接 · 没有 USB 权限",
             "无线已连接 · 没有 USB 权限", "无法打开手机的 USB 接口 | " + noPermission);
        rows("offline", R"([{"serial": "PX1", "state": "offline"}])", true, "无线已连接 · 设备暂时离线",
             "无线已连接 · 设备暂时离线",
             "设备暂时离线 | " + ADBClientError(ADBClientError::Case::deviceOffline).errorDescription());
        rows("authorised", R"([{"serial": "PX1", "model": "Pixel"}])", true, "无线 + USB 已连接", "无线 + USB 已连接",
             "");
        // Another phone on USB is not this phone's USB connection.
        rows("another phone", R"([{"serial": "R58N", "model": "Galaxy_S23"}])", false, "无线已连接", "无线已连接", "");
    }

    // A paired phone that is plugged in tells its USB state in the sidebar and on its dashboard, and why its USB
    // actions cannot act; a phone that is not this one is never taken for its USB connection.
    void aTrustedPhoneOnUSBTellsItsState()
    {
        const auto [adbDevices, bound, sidebarStatus, summary, banner] =
            TestTable<QByteArray, bool, QString, QString, QString>::fetch();
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), adbDevices));
        PairedWindow paired;
        const QString pixelID = paired.transfers.store->trustedDevices().first().id;
        if (bound)
            paired.transfers.store->bindUSBSerial("PX1", pixelID);
        awaitTask(paired.devices.refresh());
        paired.window.setSidebarSelection(SidebarSelection::trustedDevice(pixelID));

        QStringList statuses;
        for (int row = 0; row < paired.window.sidebar()->count(); ++row) {
            const auto *trusted = qobject_cast<TrustedDeviceRow *>(
                paired.window.sidebar()->itemWidget(paired.window.sidebar()->item(row)));
            if (trusted)
                statuses << trusted->statusLabel()->text();
        }
        QCOMPARE(statuses, QStringList{sidebarStatus});
        auto *dashboard = qobject_cast<DeviceManagementDashboard *>(paired.window.detailPane()->screenWidget());
        QVERIFY(dashboard);
        auto *overview = qobject_cast<DeviceOverviewPane *>(dashboard->sectionPane());
        QVERIFY(overview);
        QCOMPARE(overview->connectionLabel()->text().section(" · 电量", 0, 0), summary);

        dashboard->setSection(DeviceManagementDashboard::Section::applications);
        auto *applications = qobject_cast<ManagedApplicationsPane *>(dashboard->sectionPane());
        QVERIFY(applications);
        QCOMPARE(applications->usbStateBanner()->isVisibleTo(applications), !banner.isEmpty());
        if (!banner.isEmpty()) {
            QCOMPARE(ViewsTestSupport::transcript(applications->usbStateBanner()), banner);
            QVERIFY(!applications->installButton()->isEnabled());
            QCOMPARE(applications->installButton()->toolTip(), banner.section(" | ", 1));
        }
        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // One phone's install outcome shows on that phone's page only.
    void anInstallShowsOnItsPhonesPageOnly()
    {
        QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                          R"([{"serial": "R58N", "model": "Galaxy_S23"}, {"serial": "E5", "model": "Mate_60"}])"));
        PairedWindow paired;
        DeviceStore &devices = paired.devices;
        awaitTask(devices.refresh());
        devices.setPendingInstallPlan(APKInstallPlan{APKInstallPlan::Kind::single, {"/nowhere/app.apk"}, 1, {}});
        awaitTask(devices.installPendingPlan(listedID(devices, "R58N"))); // the package is gone: it fails
        QCOMPARE(devices.installState().kind, DeviceStore::InstallState::Kind::failed);

        const auto shownDashboard = [&](const QString &serial) {
            paired.window.setSidebarSelection(SidebarSelection::usbDevice(listedID(devices, serial)));
            return qobject_cast<DeviceDashboard *>(paired.window.detailPane()->screenWidget());
        };
        const DeviceDashboard *mate = shownDashboard("E5");
        QVERIFY(mate);
        QVERIFY(!mate->installBanner()->isVisibleTo(mate));
        const DeviceDashboard *galaxy = shownDashboard("R58N");
        QVERIFY(galaxy);
        QVERIFY(galaxy->installBanner()->isVisibleTo(galaxy));
        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // A screen whose own action leads to another screen is still there when that action goes on; within one
    // kind of screen, the same phone's screen is brought up to date instead of built anew.
    void screensOutliveTheirActionsAndKeepTheirState()
    {
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "R58N", "model": "Galaxy_S23"}])"));
        PairedWindow paired;
        StoreFixture &transfers = paired.transfers;
        DeviceStore &devices = paired.devices;
        MainWindow &window = paired.window;
        const QString id = transfers.store->trustedDevices().first().id;
        window.setSidebarSelection(SidebarSelection::trustedDevice(id));
        auto *dashboard = qobject_cast<DeviceManagementDashboard *>(window.detailPane()->screenWidget());
        QVERIFY(dashboard);

        // Renaming the phone keeps the dashboard and its section.
        dashboard->setSection(DeviceManagementDashboard::Section::applications);
        transfers.store->renameTrustedDevice(id, "Study phone");
        QCOMPARE(window.detailPane()->screenWidget(), dashboard);
        QCOMPARE(dashboard->peerName(), QString("Study phone"));
        QCOMPARE(dashboard->section(), DeviceManagementDashboard::Section::applications);

        // The overview's "添加另一台手机" starts a pairing, which ends the connected phone's screen while the
        // overview's own handler still runs (the screen goes on a later turn).
        dashboard->setSection(DeviceManagementDashboard::Section::home);
        auto *add = dashboard->findChild<QPushButton *>("addDeviceButton");
        QVERIFY(add);
        QPointer<DeviceManagementDashboard> guard(dashboard);
        add->click();
        QCOMPARE(window.detailPane()->screen().kind, Screen::firstRun);
        QVERIFY(window.isShowingPairing());
        QTRY_VERIFY(!guard);
        window.continueAfterPairing();

        // A USB phone whose facts change keeps its page, with the facts group left open.
        awaitTask(devices.refresh());
        window.setSidebarSelection(SidebarSelection::usbDevice(listedID(devices, "R58N")));
        auto *usbDashboard = qobject_cast<DeviceDashboard *>(window.detailPane()->screenWidget());
        QVERIFY(usbDashboard);
        usbDashboard->deviceInfo()->setExpanded(true);
        QVERIFY(writeFile(
            m_adbState.filePath("devices.json"),
            R"([{"serial": "R58N", "model": "Galaxy_S23", "properties": {"ro.build.version.release": "15"}}])"));
        awaitTask(devices.refresh());
        QCOMPARE(window.detailPane()->screenWidget(), usbDashboard);
        QCOMPARE(usbDashboard->device(), devices.devices().first());
        QVERIFY(usbDashboard->deviceInfo()->isExpanded());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // A new pairing's link opens the companion on the selected USB phone; withdrawing it hands the link back to
    // the trusted phone, whose host takes no new phone, so that link is not handed to the USB phone.
    void aPairingsLinkGoesOnlyToThePhoneItBeganFor_data()
    {
        // Whether a phone is paired and connected, where the pairing begins ("connect": the USB page's
        // "手机已安装，直接连接"; "add": "添加另一台手机" in the manager), whether another program holds the link's
        // port until the phones changed, what adb lists then (empty: as before) → the transport ids the companion was
        // opened on, and the launch message.
        TestTable<bool, QString, bool, QByteArray, QStringList, std::optional<QString>> rows;
        const QString confirm = "请在手机上确认相同号码";
        const QByteArray pixel = R"([{"serial": "PX7", "model": "Pixel_7", "storage": "pixel", "transport_id": "3"}])";
        rows("connect on its page", false, "connect", false, "", QStringList{"5"}, confirm);
        rows("connect, the link late", false, "connect", true, "", QStringList{"5"}, confirm);
        rows("connect, the link late, another phone in its place", false, "connect", true, pixel, QStringList(),
             QString("未能自动打开手机应用，请使用二维码连接。"));
        rows("add another phone, the paired phone on USB", true, "add", false, "", QStringList(), std::nullopt);
    }
    // A pairing's link goes to the USB phone whose page it began on, as that phone was listed then, and only while it
    // is listed so; a pairing begun elsewhere hands its link to no phone. Once the sheet is closed, the link the
    // trusted phone's host shows again reaches no phone either.
    void aPairingsLinkGoesOnlyToThePhoneItBeganFor()
    {
        const auto [paired, how, portHeld, phonesThen, openedOn, shown] =
            TestTable<bool, QString, bool, QByteArray, QStringList, std::optional<QString>>::fetch();
        // The Galaxy, or the paired Pixel (found by its name), with the companion on it.
        QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                          paired ? R"([{"serial": "PX1", "model": "Pixel", "storage": "paired", "transport_id": "4"}])"
                                 : R"([{"serial": "R58N", "model": "Galaxy_S23", "storage": "galaxy",
                                        "transport_id": "5"}])"));
        for (const char *storage : {"galaxy", "pixel", "paired"})
            QVERIFY(writeFile(m_adbState.filePath("installed/" + QString(storage)), "com.drovan.tavrine\n"));
        QVERIFY(!QFile::exists(m_adbState.filePath("commands.log")) ||
                QFile::remove(m_adbState.filePath("commands.log")));
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        PairedWindow scene(paired, std::chrono::milliseconds(50));
        if (portHeld) {
            const QString taken = QString("port %1 on 127.0.0.1 is taken by another program (Address already in use); "
                                          "close it and try again, the phone looks here")
                                      .arg(holder.serverPort());
            scene.transfers.host->startFailure = [&holder, taken]() -> std::optional<TavrineCoreError> {
                if (holder.isListening())
                    return TavrineCoreError::ServiceStart(taken);
                return std::nullopt;
            };
        }
        MainWindow &window = scene.window;
        awaitTask(scene.devices.refresh());

        if (how == "connect") {
            auto *page = qobject_cast<DeviceDashboard *>(window.detailPane()->screenWidget());
            QVERIFY(page);
            QPushButton *connect = page->companionCard()->connectExistingButton();
            QVERIFY(connect->isVisibleTo(page) && connect->isEnabled());
            QTest::mouseClick(connect, Qt::LeftButton);
        } else {
            const auto buttons = window.sidebar()->findChildren<QPushButton *>();
            const auto manage = std::ranges::find(buttons, QString("管理已信任设备"), &QWidget::accessibleName);
            QVERIFY(manage != buttons.end());
            QTest::mouseClick(*manage, Qt::LeftButton);
            QVERIFY(window.trustedDeviceManagerSheet());
            const auto sheetButtons = window.trustedDeviceManagerSheet()->findChildren<QPushButton *>();
            const auto add = std::ranges::find(sheetButtons, QString("添加另一台手机"), &QAbstractButton::text);
            QVERIFY(add != sheetButtons.end());
            QTest::mouseClick(*add, Qt::LeftButton);
        }
        QVERIFY(window.pairingSheet());
        QCOMPARE(scene.transfers.store->phase().kind, portHeld ? Phase::Kind::failed : Phase::Kind::pairing);
        if (!phonesThen.isEmpty()) {
            QVERIFY(writeFile(m_adbState.filePath("devices.json"), phonesThen));
            awaitTask(scene.devices.refresh());
            QCOMPARE(scene.devices.selectedDevice()->serial, "PX7"); // chosen by the window itself
        }
        holder.close();
        QTRY_COMPARE(scene.transfers.store->phase().kind, Phase::Kind::pairing);
        QTRY_COMPARE(scene.devices.pairingLaunchMessage(), shown);
        const auto opened = [this] {
            QStringList transports;
            for (const QByteArray &line : contentsOf(m_adbState.filePath("commands.log")).split('\n')) {
                const QStringList command = QJsonDocument::fromJson(line).toVariant().toStringList().mid(2);
                if (command.mid(2, 3) == QStringList{"shell", "am", "start"})
                    transports.append(command.value(1));
            }
            return transports;
        };
        QCOMPARE(opened(), openedOn);

        window.pairingSheet()->cancel();
        QVERIFY(!window.usbPairingTarget());
        QCOMPARE(scene.devices.pairingLaunchMessage(), std::nullopt);
        if (paired) {
            QCOMPARE(scene.transfers.store->phase().kind, Phase::Kind::reconnecting);
            QVERIFY(scene.transfers.store->pairingPayload());
        }
        QCOMPARE(opened(), openedOn);
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // The manager sheet's "添加另一台手机" closes it first; the pairing sheet opens after it.
    void addingFromTheManagerPairsAfterItCloses()
    {
        StoreFixture transfers;
        transfers.makePaired();
        DeviceStoreFixture devices;
        devices.make();
        DeviceManagementStore management(*transfers.store);
        QuickSendCoordinator quickSend(*transfers.store);
        MainWindow window(*devices.store, *transfers.store, management, quickSend);
        window.showTrustedDeviceManager();
        QVERIFY(window.trustedDeviceManagerSheet());
        window.addDeviceFromManager();
        QVERIFY(!window.isShowingTrustedDeviceManager());
        QVERIFY(window.isShowingPairing());
        QCOMPARE(transfers.store->phase().kind, Phase::Kind::pairing);
        window.continueAfterPairing();
        QVERIFY(!window.isShowingPairing());
        QVERIFY(!window.isImportingTransferFiles());
    }

    // A link that cannot start, or cannot receive, says why on the screen shown: a locked keyring on the first-run
    // screen (no phone can be listed), a receive folder that cannot be used under every screen.
    void theLinksTroublesShowOnTheScreenShown()
    {
        StoreFixture transfers;
        transfers.retryInterval = std::chrono::hours(1);
        transfers.inboxPath = transfers.writeFile("Downloads") + "/Tavrine";
        transfers.saveRegistry({trustedPhone("Pixel", 1)});
        transfers.keychain->answerNextCall(Keychain::interactionNotAllowed);
        WindowOverStore shown(transfers.make());
        MainWindow &window = *shown.window;
        awaitTask(transfers.store->startUp());
        const auto *firstRun = qobject_cast<FirstRunConnectionView *>(window.detailPane()->screenWidget());
        QVERIFY(firstRun);
        QVERIFY(!firstRun->messageBanner()->isHidden());
        const auto texts = firstRun->messageBanner()->findChildren<QLabel *>();
        QVERIFY(std::any_of(texts.begin(), texts.end(),
                            [](const QLabel *label) { return label->text().contains("请先解锁“登录”密钥环后重试"); }));
        QVERIFY(window.detailPane()->linkProblemNotice()->isHidden());

        transfers.store->beginNewPairing();
        QVERIFY(transfers.store->hasHost());
        QVERIFY(!window.detailPane()->linkProblemNotice()->isHidden());
        QCOMPARE(window.detailPane()->linkProblemNotice()->text(), *transfers.store->receiveFolderProblem());
    }

    void refreshStartsTheLinkOnceItsPortIsFree_data()
    {
        // the core's details, in its words (core/Host.cpp; {port}: a port held by this test), whether the holder lets
        // go first → the link starts
        const TestTable<QString, bool, bool> rows;
        const QString taken = "port {port} on 127.0.0.1 is taken by another program (Address already in use); close "
                              "it and try again, the phone looks here";
        rows("the port let go of", taken, true, true);
        rows("the port still held", taken, false, false);
        rows("an address that cannot be listened on", "cannot listen on 127.0.0.1: Permission denied", true, false);
    }
    // The link that could not take the phone's port is tried again as soon as the user refreshes, and goes back to
    // the trusted phone without a pairing; a failure that no retry mends is left as it is.
    void refreshStartsTheLinkOnceItsPortIsFree()
    {
        const auto [details, letGo, starts] = TestTable<QString, bool, bool>::fetch();
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        StoreFixture transfers;
        transfers.retryInterval = std::chrono::hours(1);
        transfers.saveRegistry({trustedPhone("Pixel", 1)});
        transfers.host->failNextStart =
            TavrineCoreError::ServiceStart(QString(details).replace("{port}", QString::number(holder.serverPort())));
        WindowOverStore shown(transfers.make());
        awaitTask(transfers.store->startUp());
        QCOMPARE(transfers.store->phase().kind, Phase::Kind::failed);
        if (letGo)
            holder.close();

        QVERIFY(shown.window->refreshButton()->isEnabled());
        shown.window->refreshButton()->click();
        QCOMPARE(transfers.store->hasHost(), starts);
        QCOMPARE(transfers.store->phase().kind, starts ? Phase::Kind::reconnecting : Phase::Kind::failed);
        QVERIFY(!shown.window->isShowingPairing());
    }

    // A task file that cannot be saved leaves the link alone: the phone stays in the sidebar, connected, and the
    // screen shown stays where it is, with the reason under it, once, until a save reaches the disk again.
    void aTaskFileThatCannotBeSavedSaysWhyOnTheScreenShown_data()
    {
        // adb devices, the selection ("" none, "Pixel" the trusted phone, else a USB serial) → the screen shown
        const TestTable<QByteArray, QString, Screen> rows;
        rows("phone on the network only", "[]", "", Screen::connectedTrustedDashboard);
        rows("phone also on USB", R"([{"serial": "PX1", "model": "Pixel"}])", "Pixel", Screen::trustedDashboard);
        rows("another phone's USB dashboard", R"([{"serial": "R58N", "model": "Galaxy_S23"}])", "R58N",
             Screen::usbDashboard);
    }
    void aTaskFileThatCannotBeSavedSaysWhyOnTheScreenShown()
    {
        const auto [adbDevices, selected, screen] = TestTable<QByteArray, QString, Screen>::fetch();
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), adbDevices));
        PairedWindow paired;
        StoreFixture &transfers = paired.transfers;
        MainWindowDetailPane &pane = *paired.window.detailPane();
        awaitTask(paired.devices.refresh());
        if (selected == "Pixel")
            paired.window.setSidebarSelection(SidebarSelection::trustedDevice(transfers.store->trustedDevices()[0].id));
        else if (!selected.isEmpty())
            paired.window.setSidebarSelection(SidebarSelection::usbDevice(listedID(paired.devices, selected)));
        const QStringList rows = phoneRows(paired.window);
        QVERIFY(rows.contains("Pixel · 无线已连接") || rows.contains("Pixel · 无线 + USB 已连接"));

        paired.window.show();
        QApplication::processEvents();
        const QPoint screenOrigin = pane.screenWidget()->mapTo(&pane, QPoint(0, 0));

        QVERIFY(!QFile::exists(transfers.taskFile()) || QFile::remove(transfers.taskFile()));
        QVERIFY(QDir().mkpath(transfers.taskFile())); // no save succeeds now
        transfers.deliver({transferEvent(TransferEventKind::queued, TransferDirection::receiving, "offer")});
        transfers.store->waitForTaskFile();
        QTRY_VERIFY(transfers.store->taskFileProblem());
        // The line comes under the screen, which stays where it was.
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        QVERIFY(pane.linkProblemNotice()->isVisible());
        QCOMPARE(pane.screenWidget()->mapTo(&pane, QPoint(0, 0)), screenOrigin);
        QVERIFY(pane.linkProblemNotice()->geometry().top() >= pane.screenWidget()->geometry().bottom());
        const QString failure = *transfers.store->taskFileProblem();
        QVERIFY(failure.startsWith("无法保存传输任务："));
        QCOMPARE(transfers.store->phase().kind, Phase::Kind::connected);
        QCOMPARE(pane.screen().kind, screen);
        QCOMPARE(phoneRows(paired.window), rows);
        QCOMPARE(placesShowing(pane, failure), QStringList{"notice"});
        QCOMPARE(pane.linkProblemNotice()->text(), failure);

        QVERIFY(QDir(transfers.taskFile()).removeRecursively());
        transfers.store->persistTasks(true);
        transfers.store->waitForTaskFile();
        QTRY_VERIFY(!transfers.store->taskFileProblem());
        QCOMPARE(placesShowing(pane, failure), QStringList());
        QVERIFY(pane.linkProblemNotice()->isHidden());
        QCOMPARE(pane.screen().kind, screen);

        transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // The program starts again while the task file still cannot be saved (the disk is full, say): the phone comes
    // back and its files arrive, and it is listed as connected, with the reason under its dashboard.
    void aRestartWhileTheTaskFileCannotBeSavedShowsThePhone()
    {
        StoreFixture transfers;
        const TrustedDeviceRecord pixel = trustedPhone("Pixel", 1);
        transfers.saveRegistry({pixel});
        QVERIFY(QDir().mkpath(transfers.taskFile())); // no save succeeds
        WindowOverStore shown(transfers.make());
        MainWindow &window = *shown.window;
        awaitTask(transfers.store->startUp());
        transfers.host->trustedPeerSecret = pixel.secret;
        transfers.deliver(
            {linkEvent(TransferEventKind::paired, "Pixel"),
             transferEvent(TransferEventKind::receiving, TransferDirection::receiving, "incoming", 10, 100)});
        transfers.store->waitForTaskFile();
        QTRY_VERIFY(transfers.store->taskFileProblem());

        QCOMPARE(transfers.store->phase(), Phase::connected("Pixel"));
        QCOMPARE(phoneRows(window), QStringList{"Pixel · 无线已连接"});
        MainWindowDetailPane &pane = *window.detailPane();
        QCOMPARE(pane.screen().kind, Screen::trustedDashboard);
        QCOMPARE(placesShowing(pane, *transfers.store->taskFileProblem()), QStringList{"notice"});
        transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!shown.management.isLoadingOverview());
    }

    // When adb cannot list the phones, the phone leaves the USB side and the reason shows on the screen the user is
    // on, until a listing succeeds again.
    void aFailedListingSaysWhyOnTheScreenShown()
    {
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "PX1", "model": "Pixel"}])"));
        PairedWindow paired;
        MainWindowDetailPane &pane = *paired.window.detailPane();
        awaitTask(paired.devices.refresh());
        paired.window.setSidebarSelection(
            SidebarSelection::trustedDevice(paired.transfers.store->trustedDevices()[0].id));
        QCOMPARE(pane.screen().kind, Screen::trustedDashboard);
        QVERIFY(pane.linkProblemNotice()->isHidden());

        // What adb prints when its server cannot start.
        QVERIFY(writeFile(m_adbState.filePath("failures.json"), R"({"devices": {"answer": "server-did-not-start"}})"));
        awaitTask(paired.devices.refresh());
        const QString reason = ADBClientError(ADBClientError::Case::serverUnavailable).errorDescription();
        QVERIFY(paired.devices.devices().isEmpty());
        QCOMPARE(pane.screen().kind, Screen::trustedDashboard);
        QCOMPARE(placesShowing(pane, reason), QStringList{"notice"});

        QVERIFY(QFile::remove(m_adbState.filePath("failures.json")));
        awaitTask(paired.devices.refresh());
        QCOMPARE(paired.devices.devices().size(), 1);
        QVERIFY(pane.linkProblemNotice()->isHidden());

        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    void sidebarKeysMoveBetweenPhonesOnly_data()
    {
        // keys pressed on the sidebar with the connected "Pixel" selected → the phone selected then
        using Keys = TestTable<QList<int>, QString>;
        Keys rows;
        rows("down to the USB phone", {Qt::Key_Down}, "R58N");
        rows("down stops at the last phone, not on the manager", {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}, "R58N");
        rows("up stops at the first phone, not on the header", {Qt::Key_Up, Qt::Key_Up}, "Pixel");
        rows("down and up again", {Qt::Key_Down, Qt::Key_Up}, "Pixel");
        rows("end", {Qt::Key_End}, "R58N");
        rows("end and home", {Qt::Key_End, Qt::Key_Home}, "Pixel");
        rows("page down", {Qt::Key_PageDown}, "R58N");
        rows("page up", {Qt::Key_Down, Qt::Key_PageUp}, "Pixel");
    }

    // The arrow keys go from phone to phone, the highlighted row and the keyboard's place always on the selected one.
    void sidebarKeysMoveBetweenPhonesOnly()
    {
        const auto [keys, expected] = TestTable<QList<int>, QString>::fetch();
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "R58N", "model": "Galaxy_S23"}])"));
        PairedWindow paired;
        awaitTask(paired.devices.refresh());
        const QString pixelID = paired.transfers.store->trustedDevices().first().id;
        QCOMPARE(paired.window.sidebarSelection(), SidebarSelection::trustedDevice(pixelID));
        QListWidget *sidebar = paired.window.sidebar();
        for (const int key : keys)
            QTest::keyClick(sidebar, Qt::Key(key));
        QCOMPARE(paired.window.sidebarSelection(),
                 expected == "Pixel" ? SidebarSelection::trustedDevice(pixelID)
                                     : SidebarSelection::usbDevice(listedID(paired.devices, expected)));
        const auto highlighted = sidebar->selectedItems();
        QCOMPARE(highlighted.size(), 1);
        QCOMPARE(highlighted.first(), sidebar->currentItem());
        QCOMPARE(highlighted.first()->data(Qt::UserRole + 1).toString(), paired.window.sidebarSelection()->value);
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // A click on the header or the note below keeps the phone highlighted while its dashboard shows; the keyboard
    // starts on the first phone, never on the header; the manager row opens on Return as on Space.
    void sidebarRowsThatAreNoPhoneKeepTheSelection()
    {
        PairedWindow paired;
        QListWidget *sidebar = paired.window.sidebar();
        // Nothing selected yet: the keyboard's first place is the connected phone's row.
        QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(sidebar, &focusIn);
        QVERIFY(sidebar->currentItem());
        QCOMPARE(sidebar->currentItem()->data(Qt::UserRole + 1).toString(),
                 paired.transfers.store->trustedDevices().first().id);

        paired.window.setSidebarSelection(
            SidebarSelection::trustedDevice(paired.transfers.store->trustedDevices().first().id));
        const QListWidgetItem *phoneRow = sidebar->currentItem();
        paired.window.resize(MainWindow::defaultWidth, MainWindow::defaultHeight);
        paired.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&paired.window));
        for (const int row : {0, sidebar->count() - 1}) {
            QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {},
                              sidebar->visualItemRect(sidebar->item(row)).center());
            QCOMPARE(sidebar->selectedItems(), QList<QListWidgetItem *>{const_cast<QListWidgetItem *>(phoneRow)});
            QCOMPARE(sidebar->currentItem(), phoneRow);
        }

        QPushButton *manage = nullptr;
        for (auto *button : sidebar->findChildren<QPushButton *>())
            if (button->accessibleName() == "管理已信任设备")
                manage = button;
        QVERIFY(manage);
        // Tab leads from the list to it.
        QWidget *next = sidebar->nextInFocusChain();
        while (next && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, manage);
        // Reached with Tab, it shows that it has the keyboard.
        QApplication::setActiveWindow(&paired.window);
        QVERIFY(QTest::qWaitForWindowActive(&paired.window));
        const QImage unfocused = manage->grab().toImage();
        sidebar->setFocus(Qt::TabFocusReason);
        QTest::keyClick(sidebar, Qt::Key_Tab);
        QVERIFY(manage->hasFocus());
        QVERIFY2(manage->grab().toImage() != unfocused, "the row looks the same with the keyboard's focus");
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
            QTest::keyClick(manage, key);
            QVERIFY2(paired.window.isShowingTrustedDeviceManager(), qPrintable(QKeySequence(key).toString()));
            paired.window.trustedDeviceManagerSheet()->close();
            QVERIFY(!paired.window.isShowingTrustedDeviceManager());
        }
        paired.window.hide();
        QTRY_VERIFY(!paired.devices.isRefreshing());
        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
    }

    void cardsHandTheKeyboardToTheSectionTheyOpen_data()
    {
        // the home card pressed with Return → the phone's answers to what the section asks, the part that then has
        // the keyboard
        using Cards = TestTable<QString, QList<std::pair<QString, QJsonObject>>, QString>;
        const Cards rows;
        rows("photos", "查看照片", {{"media.list", encodeManaged(ManagedMediaPage{1, {photo("a"), photo("b")}, {}})}},
             "gallery");
        rows("phone", "浏览手机",
             {{"files.roots", encodeManaged(ManagedStorageRoots{1, {{"root", "内部存储", false, 1000, 2000}}})},
              {"files.list", encodeManaged(ManagedFilePage{1,
                                                           "root",
                                                           "内部存储",
                                                           std::nullopt,
                                                           {{"f", "a.txt", false, 10, 1'700'000'000'000, false, true}},
                                                           {}})}},
             "files");
        rows("applications", "安装应用",
             {{"apps.list", encodeManaged(ManagedApplicationPage{
                                1, {{"pkg.maps", "Maps", "1.0", 1, 0, 0, false, true, true}}, {}})}},
             "applications");
    }

    // A card of the home section pressed with the keyboard opens its section with the keyboard in what the section
    // shows, not back in the sidebar, where the next key would switch the phone.
    void cardsHandTheKeyboardToTheSectionTheyOpen()
    {
        const auto [card, answers, focused] =
            TestTable<QString, QList<std::pair<QString, QJsonObject>>, QString>::fetch();
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "R58N", "model": "Galaxy_S23"}])"));
        PairedWindow paired;
        awaitTask(paired.devices.refresh());
        const std::optional<SidebarSelection> phone = paired.window.sidebarSelection();
        QVERIFY(phone);
        paired.window.resize(MainWindow::defaultWidth, MainWindow::defaultHeight);
        paired.window.show();
        QApplication::setActiveWindow(&paired.window);
        QVERIFY(QTest::qWaitForWindowActive(&paired.window));
        auto *dashboard = qobject_cast<DeviceManagementDashboard *>(paired.window.detailPane()->screenWidget());
        QVERIFY(dashboard);
        HomeQuickAction *pressed = nullptr;
        for (HomeQuickAction *tile : dashboard->findChildren<HomeQuickAction *>())
            pressed = tile->text() == card ? tile : pressed;
        QVERIFY(pressed);
        pressed->setFocus(Qt::TabFocusReason);
        QTest::keyClick(pressed, Qt::Key_Return);
        for (const auto &[action, answer] : answers)
            QVERIFY2(answerRequest(paired.transfers, action, answer), qPrintable(action));

        QWidget *expected = nullptr;
        if (focused == "gallery")
            expected = dashboard->findChild<ManagedMediaGallery *>();
        else if (focused == "files")
            expected = dashboard->findChild<ManagedFileBrowser *>()->view();
        else
            expected = dashboard->findChild<ManagedApplicationsPane *>()->applicationList();
        QVERIFY(expected);
        QTRY_VERIFY_WITH_TIMEOUT(expected->isVisible(), 30'000);
        QTRY_COMPARE(QApplication::focusWidget(), expected);
        if (auto *gallery = qobject_cast<ManagedMediaGallery *>(expected))
            QCOMPARE(gallery->currentIndex(), std::optional<qsizetype>(0));
        // End goes to the end of what the section shows; the sidebar keeps its phone.
        QTest::keyClick(expected, Qt::Key_End);
        QCOMPARE(paired.window.sidebarSelection(), phone);
        QCOMPARE(paired.window.detailPane()->screenWidget(), dashboard);
        QVERIFY(dashboard->section() != DashboardSection::home);

        paired.window.hide();
        QTRY_VERIFY(!paired.devices.isRefreshing());
        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    // The sidebar's rows are made again when the phones change: the keyboard on the button to the trusted phones
    // stays on it, and never passes to the screen beside the sidebar meanwhile.
    void theManagerButtonKeepsTheKeyboardWhenThePhonesChange()
    {
        PairedWindow paired;
        paired.window.resize(MainWindow::defaultWidth, MainWindow::defaultHeight);
        paired.window.show();
        QApplication::setActiveWindow(&paired.window);
        QVERIFY(QTest::qWaitForWindowActive(&paired.window));
        QListWidget *sidebar = paired.window.sidebar();
        sidebar->setFocus(Qt::TabFocusReason);
        QTest::keyClick(sidebar, Qt::Key_Tab);
        const auto isManager = [](const QWidget *widget) {
            return qobject_cast<const QPushButton *>(widget) && widget->accessibleName() == "管理已信任设备";
        };
        QVERIFY(isManager(QApplication::focusWidget()));
        QStringList elsewhere;
        const QMetaObject::Connection watch =
            connect(qApp, &QApplication::focusChanged, this, [&](QWidget *, QWidget *now) {
                if (now && now != sidebar && !sidebar->isAncestorOf(now))
                    elsewhere << now->metaObject()->className();
            });
        // A phone is plugged in; its name follows once its properties are read.
        QVERIFY(writeFile(m_adbState.filePath("devices.json"),
                          R"([{"serial": "R58N", "model": "Galaxy_S23", "properties": )"
                          R"({"ro.product.model": "Galaxy S23", "ro.build.version.release": "14"}}])"));
        awaitTask(paired.devices.refresh());
        QTRY_COMPARE(phoneRows(paired.window).size(), 2);
        // No read of the phone is left running when the window goes.
        QTRY_VERIFY(!paired.devices.devices().isEmpty() && paired.devices.devices().first().androidVersion);
        disconnect(watch);
        QVERIFY(isManager(QApplication::focusWidget()));
        QVERIFY2(elsewhere.isEmpty(), qPrintable(elsewhere.join(", ")));

        paired.window.hide();
        QTRY_VERIFY(!paired.devices.isRefreshing());
        paired.transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
    }

    void importersAreTheApplicationsChoosers_data()
    {
        TestTable<MainWindow::Importer, QString, QString> rows;
        rows("files to send, as the pairing sheet's 选择文件 opens it", MainWindow::Importer::transferFiles, "选择文件",
             "选择要发送到手机的文件");
        rows("packages to install", MainWindow::Importer::apk, "选择安装包", "选择要安装到手机的 APK 或 AAB 文件");
    }

    // The importers are titled and set up as the other choosers, and start in the home folder rather than in the
    // folder the application was started from.
    void importersAreTheApplicationsChoosers()
    {
        const auto [importer, title, message] = TestTable<MainWindow::Importer, QString, QString>::fetch();
        const QString started = QDir::currentPath();
        QTemporaryDir elsewhere;
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        PairedWindow paired;
        if (importer == MainWindow::Importer::apk)
            paired.window.chooseAPK();
        else
            paired.window.chooseTransferFiles();
        auto *panel = paired.window.findChild<NativeOpenPanel *>();
        QVERIFY(QDir::setCurrent(started));
        QVERIFY(panel);
        QCOMPARE(panel->windowTitle(), title);
        QCOMPARE(panel->findChild<QLabel *>("panelMessage")->text(), message);
        QCOMPARE(QDir(panel->directory()), QDir::home());
        panel->reject();
        QVERIFY(!paired.window.isImportingAPK() && !paired.window.isImportingTransferFiles());
    }

private:
    QTemporaryDir m_adbState;
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"

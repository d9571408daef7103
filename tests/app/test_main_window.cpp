#include "../android_usb_views/UsbViewsTestSupport.h"
#include "AwaitTask.h"
#include "DefaultADBClient.h"
#include "DeviceDashboard.h"
#include "DeviceManagementDashboard.h"
#include "DeviceManagementStore.h"
#include "DisclosureGroup.h"
#include "FirstRunConnectionView.h"
#include "MainWindow.h"
#include "MainWindowDetailPane.h"
#include "NativeOpenPanel.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "SidebarRows.h"
#include "USBApprovalView.h"

#include <QListWidget>
#include <QPushButton>

using namespace MainWindowPresentation;
using namespace UsbViewsTestSupport;
using Phase = TransferStore::Phase;
using Screen = DetailScreen::Kind;
using State = AndroidDevice::State;

// selection, connected, selected trusted index (-1 none), adb serials, waiting phone → screen, its record index
// or serial
using Screens = TestTable<std::optional<SidebarSelection>, bool, int, QStringList, bool, Screen, QString>;
// trusted names (with "#serial" for a bound serial), connected index (-1 none), adb devices "serial:name", waiting
// → trusted rows "name/status flags", USB rows, shows the no-devices label
using Sidebars = TestTable<QStringList, int, QStringList, bool, QStringList, QStringList, bool>;
// payload, last payload, selected device state (none when unknown), pending serial → hand-off
using HandOffs = TestTable<std::optional<QString>, std::optional<QString>, std::optional<State>, std::optional<QString>,
                           USBPairingHandOff>;

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
    for (const auto &entry : devices)
        state.devices.append(device(entry.section(':', 0, 0), entry.section(':', 1)));
    if (waiting)
        state.waitingUSBPhone = USBAndroidDevice{0x18d1, 0x4ee7, QStringLiteral("Pixel 8"), {}, {}};
    return state;
}

// The window over a phone paired and connected, adb through the fake adb, no USB devices and no companion package.
struct PairedWindow
{
    StoreFixture transfers;
    QTemporaryDir folder;
    DeviceStore devices{makeDefaultADBClient(),
                        InstallHistoryStore(folder.filePath("history.json")),
                        {std::make_shared<NoUSBDevices>(), folder.filePath("no-companion")}};
    DeviceManagementStore management{(transfers.makePaired(), *transfers.store)};
    QuickSendCoordinator quickSend{*transfers.store};
    MainWindow window{devices, *transfers.store, management, quickSend};
};

void saveScreenshot(QWidget *widget, const QString &name)
{
    const QDir folder(QDir::tempPath() + "/tavrine-screens");
    QVERIFY(folder.mkpath(".") && widget->grab().save(folder.filePath(name)));
    qInfo("screenshot: %s", qPrintable(folder.filePath(name)));
}

// Where the pane shows `text`: "notice" for the line above the screen, "first run" for the first-run screen's
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
            if (row.isUSBConnected)
                flags << "usb";
            shownTrusted << row.record.name + "/" + flags.join(' ');
        }
        QStringList shownUSB;
        for (const auto &device : content.usbRows)
            shownUSB << device.serial;
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

    void serialIsBoundOnlyToOneAuthorisedModel()
    {
        MainWindowState state = stateOf({"Pixel"}, 0, {}, false);
        state.devices = {phone("S1"), phone("S2", State::unauthorized)};
        QCOMPARE(serialToBind(QString("sm_s911b"), state), QString("S1"));
        QCOMPARE(serialToBind(std::nullopt, state), std::nullopt);
        state.devices[1].state = State::authorized;
        QCOMPARE(serialToBind(QString("SM_S911B"), state), std::nullopt);
    }

    void pairingPayloadReachesAuthorisedPhoneOnce_data()
    {
        using H = USBPairingHandOff;
        HandOffs rows;
        rows("new payload opens the companion", "p1", std::nullopt, State::authorized, std::nullopt, H::openCompanion);
        rows("pending install on this phone", "p1", "p0", State::authorized, "R5CT80ABCDE", H::installAndConnect);
        rows("pending install on another phone", "p1", "p0", State::authorized, "OTHER", H::openCompanion);
        rows("same payload again", "p1", "p1", State::authorized, "R5CT80ABCDE", H::none);
        rows("no payload", std::nullopt, "p1", State::authorized, std::nullopt, H::none);
        rows("unauthorised phone", "p1", std::nullopt, State::unauthorized, "R5CT80ABCDE", H::none);
        rows("no phone", "p1", std::nullopt, std::nullopt, std::nullopt, H::none);
    }

    void pairingPayloadReachesAuthorisedPhoneOnce()
    {
        const auto [payload, last, selectedState, pending, expected] = HandOffs::fetch();
        const auto selected = selectedState ? std::optional(phone("R5CT80ABCDE", *selectedState)) : std::nullopt;
        QCOMPARE(usbPairingHandOff(payload, last, selected, pending), expected);
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
        QCOMPARE(devices.selectedSerial(), QString("PX1"));

        QStringList rows;
        for (int row = 0; row < window.sidebar()->count(); ++row) {
            auto *widget = window.sidebar()->itemWidget(window.sidebar()->item(row));
            if (auto *phoneRow = qobject_cast<SidebarPhoneRow *>(widget))
                rows << phoneRow->titleLabel()->text() + " · " + phoneRow->statusLabel()->text();
        }
        QCOMPARE(rows, QStringList({"Pixel · 无线 + USB 已连接", "Galaxy S23 · USB 已连接"}));
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
        QCOMPARE(window.sidebarSelection(), SidebarSelection::usbDevice("R58N"));
        QCOMPARE(devices.selectedSerial(), QString("R58N"));
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
        window.setSidebarSelection(SidebarSelection::usbDevice("R58N"));
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
    void onlyANewPairingsLinkReachesTheUSBPhone()
    {
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), R"([{"serial": "R58N", "model": "Galaxy_S23"}])"));
        QVERIFY(writeFile(m_adbState.filePath("installed/R58N"), "com.drovan.tavrine\n"));
        PairedWindow paired;
        DeviceStore &devices = paired.devices;
        awaitTask(devices.refresh());
        devices.setSelectedSerial("R58N");

        paired.window.connectPhone();
        QVERIFY(paired.window.pairingSheet());
        QCOMPARE(devices.pairingLaunchMessage(), QString("正在手机上打开 Tavrine…"));
        QTRY_COMPARE(devices.pairingLaunchMessage(), QString("请在手机上确认相同号码"));

        paired.window.pairingSheet()->cancel();
        QCOMPARE(paired.transfers.store->phase().kind, Phase::Kind::reconnecting);
        QVERIFY(paired.transfers.store->pairingPayload());
        QCOMPARE(devices.pairingLaunchMessage(), std::nullopt);
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
    // screen (no phone can be listed), a receive folder that cannot be used above every screen.
    void theLinksTroublesShowOnTheScreenShown()
    {
        StoreFixture transfers;
        transfers.retryInterval = std::chrono::hours(1);
        transfers.inboxPath = transfers.writeFile("Downloads") + "/Tavrine";
        transfers.saveRegistry({trustedPhone("Pixel", 1)});
        transfers.keychain->answerNextCall(Keychain::interactionNotAllowed);
        transfers.make();
        DeviceStoreFixture devices;
        devices.make();
        DeviceManagementStore management(*transfers.store);
        QuickSendCoordinator quickSend(*transfers.store);
        MainWindow window(*devices.store, *transfers.store, management, quickSend);
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

    // A task file that cannot be saved fails the phase while the link runs on, so the phone leaves the sidebar unless
    // it is plugged in: whichever screen follows says why, once, until a save reaches the disk again.
    void aTaskFileThatCannotBeSavedSaysWhyOnTheScreenShown_data()
    {
        // adb devices, the selection ("" none, "Pixel" the trusted phone, else a USB serial) → the screen while
        // saving fails, where it shows the reason
        const TestTable<QByteArray, QString, Screen, QString> rows;
        rows("phone on the network only", "[]", "", Screen::firstRun, "first run");
        rows("phone also on USB", R"([{"serial": "PX1", "model": "Pixel"}])", "Pixel", Screen::trustedDashboard,
             "notice");
        rows("another phone's USB dashboard", R"([{"serial": "R58N", "model": "Galaxy_S23"}])", "R58N",
             Screen::usbDashboard, "notice");
    }
    void aTaskFileThatCannotBeSavedSaysWhyOnTheScreenShown()
    {
        const auto [adbDevices, selected, screen, place] = TestTable<QByteArray, QString, Screen, QString>::fetch();
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), adbDevices));
        PairedWindow paired;
        StoreFixture &transfers = paired.transfers;
        MainWindowDetailPane &pane = *paired.window.detailPane();
        awaitTask(paired.devices.refresh());
        if (selected == "Pixel")
            paired.window.setSidebarSelection(SidebarSelection::trustedDevice(transfers.store->trustedDevices()[0].id));
        else if (!selected.isEmpty())
            paired.window.setSidebarSelection(SidebarSelection::usbDevice(selected));

        QVERIFY(!QFile::exists(transfers.taskFile()) || QFile::remove(transfers.taskFile()));
        QVERIFY(QDir().mkpath(transfers.taskFile())); // no save succeeds now
        transfers.deliver({transferEvent(TransferEventKind::queued, TransferDirection::receiving, "offer")});
        transfers.store->waitForTaskFile();
        QTRY_VERIFY(transfers.store->phase().text.startsWith("无法保存传输任务："));
        QVERIFY(transfers.store->hasHost());
        const QString failure = transfers.store->phase().text;
        QCOMPARE(pane.screen().kind, screen);
        QCOMPARE(placesShowing(pane, failure), QStringList{place});

        QVERIFY(QDir(transfers.taskFile()).removeRecursively());
        transfers.store->persistTasks(true);
        transfers.store->waitForTaskFile();
        QTRY_COMPARE(transfers.store->phase().kind, Phase::Kind::connected);
        QCOMPARE(placesShowing(pane, failure), QStringList());
        QVERIFY(pane.linkProblemNotice()->isHidden());

        transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QTRY_VERIFY(!paired.management.isLoadingOverview());
        QVERIFY(writeFile(m_adbState.filePath("devices.json"), "[]"));
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
        QCOMPARE(paired.window.sidebarSelection(), expected == "Pixel" ? SidebarSelection::trustedDevice(pixelID)
                                                                       : SidebarSelection::usbDevice(expected));
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

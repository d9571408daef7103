#include "../transfers/StoreTestSupport.h"
#include "AppOperationBanner.h"
#include "ApplicationTile.h"
#include "AwaitTask.h"
#include "ClampedLabel.h"
#include "DefaultADBClient.h"
#include "DeviceManagementDashboard.h"
#include "DeviceStore.h"
#include "DisclosureGroup.h"
#include "ElidedLabel.h"
#include "InstallPlanCard.h"
#include "InstallStatusBanner.h"
#include "ManagedApplicationsPane.h"
#include "ManagedApplicationsPresentation.h"
#include "ManagementStoreFixture.h"
#include "SelectableWrappedText.h"
#include "SymbolIcon.h"
#include "TestSupport.h"
#include "ViewFonts.h"
#include "ViewMessageBox.h"

#include <QAccessible>
#include <QApplication>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

using namespace Qt::StringLiterals;
using namespace ManagedApplicationsPresentation;
using Action = ApplicationAction;
using State = AndroidDevice::State;

namespace {

AndroidDevice device(const QString &serial, std::optional<QString> model, State state = State::authorized)
{
    AndroidDevice result;
    result.serial = serial;
    result.model = std::move(model);
    result.state = state;
    return result;
}

ManagedDeviceSnapshot snapshotOf(const QString &model)
{
    ManagedDeviceSnapshot snapshot;
    snapshot.model = model;
    return snapshot;
}

ManagedApplication application(const QString &name, bool system = false, bool launchable = true)
{
    return {u"pkg."_s + name, name, u"1.2"_s, 12, 0, 0, system, true, launchable};
}

// The dashboard's phone, alone on USB, as adb lists it.
const QByteArray pixelOnUSB = R"([{"serial": "MINE", "model": "Pixel_7", "product": "panther"}])";

// Snapshot model (none: no snapshot), the adb devices, the target's serial.
using TargetRows = TestTable<std::optional<QString>, QList<AndroidDevice>, std::optional<QString>>;
// Name, system, symbol of the details column.
using SymbolRows = TestTable<QString, bool, QString>;

} // namespace

class ApplicationsPaneTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8()); }

    void init()
    {
        m_folder.emplace();
        qputenv("TAVRINE_FAKE_ADB_STATE", m_folder->filePath(u"adb"_s).toUtf8());
        ViewMessageBox::clearShown();
    }

    void cleanup() { m_deviceStore.reset(); }

    void usbTarget_data()
    {
        const TargetRows rows;
        const std::optional<QString> none;
        rows("trimmed, any letter case", u"  pixel_7\n"_s, {device(u"A"_s, u"Other"_s), device(u"B"_s, u" Pixel_7"_s)},
             u"B"_s);
        rows("unauthorised does not count", u"Pixel_7"_s,
             {device(u"A"_s, u"Pixel_7"_s, State::unauthorized), device(u"B"_s, u"pixel_7"_s)}, u"B"_s);
        rows("two matches: none", u"Pixel_7"_s, {device(u"A"_s, u"Pixel_7"_s), device(u"B"_s, u"PIXEL_7"_s)}, none);
        rows("blank model", u" \t"_s, {device(u"A"_s, u""_s)}, none);
        rows("no snapshot", none, {device(u"A"_s, u"Pixel_7"_s)}, none);
        rows("device without model", u"Pixel_7"_s, {device(u"A"_s, std::nullopt)}, none);
    }

    void usbTarget()
    {
        const auto [model, devices, serial] = TargetRows::fetch();
        const std::optional<ManagedDeviceSnapshot> snapshot = model ? std::optional(snapshotOf(*model)) : std::nullopt;
        const std::optional<AndroidDevice> target = usbTargetDevice(snapshot, devices);
        QCOMPARE(target ? std::optional(target->serial) : std::nullopt, serial);
    }

    void symbols_data()
    {
        const SymbolRows rows;
        rows("capital word", u"Offline MAPS"_s, false, u"map"_s);
        rows("first row wins", u"音乐相册"_s, false, u"photo.on.rectangle"_s);
        rows("system, no word", u"Settings"_s, true, u"gearshape"_s);
        rows("system with a word", u"Files"_s, true, u"folder"_s);
        rows("user, no word", u"Notes"_s, false, u"app"_s);
        rows("last row", u"Web Browser"_s, false, u"globe"_s);
    }

    void symbols()
    {
        const auto [name, system, symbol] = SymbolRows::fetch();
        QCOMPARE(applicationSymbolName(application(name, system)), symbol);
        QVERIFY(SymbolIcon::named(symbol)); // drawn, not a blank
        QCOMPARE(tileSymbolName(application(name, system)), system ? u"gearshape"_s : u"app"_s);
    }

    void offeredActions()
    {
        QCOMPARE(contextMenuActions(application(u"A"_s)),
                 (QList<Action>{Action::open, Action::showDetails, Action::divider, Action::uninstall}));
        QCOMPARE(contextMenuActions(application(u"S"_s, true, false)), QList<Action>{Action::showDetails});
        QCOMPARE(moreActions(application(u"S"_s, true), true), QList<Action>{});
        QCOMPARE(moreActions(application(u"A"_s), false), QList<Action>{Action::uninstall});
        QCOMPARE(moreActions(application(u"A"_s), true),
                 (QList<Action>{Action::uninstall, Action::divider, Action::forceStop, Action::clearData,
                                Action::uninstallOverUSB}));
        QVERIFY(updatedText(application(u"A"_s)).startsWith(u"更新于 "_s));
    }

    // The card shows the day of the last update and no time of day.
    void updateDateHasNoTime()
    {
        ManagedApplication updated = application(u"A"_s);
        updated.updatedAtMillis = QDateTime(QDate(2023, 11, 14), QTime(23, 59)).toMSecsSinceEpoch();
        QCOMPARE(updatedText(updated), u"更新于 2023年11月14日"_s);
        updated.updatedAtMillis = QDateTime(QDate(1970, 1, 2), QTime(0, 0)).toMSecsSinceEpoch();
        QCOMPARE(updatedText(updated), u"更新于 1970年1月2日"_s);
    }

    void dialogTexts()
    {
        const AndroidDevice named = device(u"S"_s, u"SM_S911B"_s);
        QCOMPARE(uninstallConfirmation(std::nullopt),
                 (Confirmation{u"在手机上卸载 这个应用？"_s, u"手机系统会显示最终确认。"_s, u"继续卸载"_s}));
        QCOMPARE(clearDataConfirmation(application(u"Maps"_s), named),
                 (Confirmation{u"清除 Maps 的全部本地数据？"_s, u"目标：SM S911B。这个操作无法撤销。"_s,
                               u"永久清除数据"_s}));
        QCOMPARE(usbUninstallConfirmation(std::nullopt, std::nullopt),
                 (Confirmation{u"通过 USB 卸载 应用？"_s, u"目标：USB 手机。应用数据也会被移除。"_s, u"卸载"_s}));
        QCOMPARE(clearDataConfirmation(std::nullopt, device(u"S"_s, std::nullopt)).message,
                 u"目标：Android 手机。这个操作无法撤销。"_s);
    }

    void selectionFollowsTheList()
    {
        const QList<ManagedApplication> list{application(u"A"_s), application(u"B"_s)};
        QCOMPARE(selectionAfterListChange(u"pkg.B"_s, list), u"pkg.B"_s);
        QCOMPARE(selectionAfterListChange(u"pkg.gone"_s, list), u"pkg.A"_s);
        QCOMPARE(selectionAfterListChange(std::nullopt, list), u"pkg.A"_s);
        QCOMPARE(selectionAfterListChange(u"pkg.A"_s, {}), std::nullopt);
    }

    void usbOperationsReachTheTargetPhone_data()
    {
        // The phones adb lists (the other one first, the dashboard's phone second) and the serial of the latter.
        TestTable<QByteArray, QString> rows;
        rows("two phones", R"([{"serial": "OTHER", "model": "SM_S911B"}, {"serial": "MINE", "model": "Pixel_7"}])",
             u"MINE"_s);
        // Cheap phones share a serial; the fake keeps each one's packages apart.
        rows("two phones of one serial",
             R"([{"serial": "0123456789ABCDEF", "model": "SM_S911B", "storage": "OTHER"},
                 {"serial": "0123456789ABCDEF", "model": "Pixel_7", "storage": "MINE"}])",
             u"0123456789ABCDEF"_s);
    }

    // Two phones attached, the device store's selection on the other one: every USB operation and the install
    // reach the phone of the dashboard.
    void usbOperationsReachTheTargetPhone()
    {
        const auto [phones, serial] = TestTable<QByteArray, QString>::fetch();
        QVERIFY(writeFile(m_folder->filePath(u"adb/devices.json"_s), phones));
        QVERIFY(writeFile(m_folder->filePath(u"adb/installed/MINE"_s), "pkg.Maps\n"));
        ManagementStoreFixture management;
        DeviceStore &devices = makeDeviceStore();
        awaitTask(devices.refresh());
        devices.setSelectedDeviceID(devices.devices().first().id());
        // The phone reports its own model; adb lists it as "Pixel_7".
        answerWith(management, u"Pixel 7"_s, {application(u"Maps"_s), application(u"Settings"_s, true)});

        ManagedApplicationsPane pane(u"Pixel"_s, management.store.get(), &devices, true, true, {});
        pane.resize(900, 600);
        pane.show();
        QCOMPARE(pane.selectedApplicationID(), std::nullopt); // a list already loaded selects nothing
        QVERIFY(pane.visibleTitles().contains(u"选择一个应用"_s));
        QCOMPARE(pane.usbTargetDevice()->id(), devices.devices().last().id());
        QVERIFY(pane.installButton()->isEnabled());

        const ManagedApplication maps = application(u"Maps"_s);
        pane.forceStop(maps);
        QTRY_COMPARE(devices.appOperationState().kind, DeviceStore::AppOperationState::Kind::succeeded);
        QCOMPARE(pane.operationBanner()->textLabel()->text(), u"已在 Pixel 7 停止 Maps"_s);

        ViewMessageBox::setNextAnswer(QMessageBox::RejectRole);
        pane.requestClearData(maps);
        QCOMPARE(pane.pendingClearData(), std::nullopt);
        ViewMessageBox::setNextAnswer(QMessageBox::DestructiveRole);
        pane.requestClearData(maps);
        QTRY_COMPARE(devices.appOperationState().text, u"已清除 Pixel 7 上 Maps 的本地数据"_s);
        ViewMessageBox::setNextAnswer(QMessageBox::DestructiveRole);
        pane.requestUSBUninstall(maps);
        QTRY_COMPARE(devices.appOperationState().text, u"已从 Pixel 7 卸载 Maps"_s);
        QCOMPARE(ViewMessageBox::shown().size(), 3);
        QCOMPARE(ViewMessageBox::shown().last().text, u"通过 USB 卸载 Maps？"_s);
        QCOMPARE(ViewMessageBox::shown().last().informativeText, u"目标：Pixel 7。应用数据也会被移除。"_s);

        devices.setPendingInstallPlan(APKInstallPlan{APKInstallPlan::Kind::single, {u"/nowhere/app.apk"_s}, 1, {}});
        QVERIFY(pane.planCard()->isVisibleTo(&pane));
        pane.planCard()->confirmButton()->click();
        QTRY_COMPARE(devices.installHistory().size(), 1);
        QCOMPARE(devices.installHistory().first().deviceSerial, serial);

        const QList<QStringList> sent = adbCommands();
        QVERIFY(!sent.isEmpty());
        // Commands name a phone by its transport id: OTHER is listed first, MINE second.
        for (const QStringList &command : sent) {
            const bool listing = command.mid(2) == QStringList{u"shell"_s, u"getprop"_s};
            QVERIFY2(listing || command.value(1) != u"1", qPrintable(command.join(u' ')));
        }
        QVERIFY(sent.contains(QStringList{u"-t"_s, u"2"_s, u"shell"_s, u"am"_s, u"force-stop"_s, u"pkg.Maps"_s}));
        QVERIFY(sent.contains(QStringList{u"-t"_s, u"2"_s, u"shell"_s, u"pm"_s, u"clear"_s, u"pkg.Maps"_s}));
        QVERIFY(sent.contains(QStringList{u"-t"_s, u"2"_s, u"shell"_s, u"pm"_s, u"uninstall"_s, u"pkg.Maps"_s}));
    }

    // Another phone's install or operation, started from that phone's page, never shows on this phone's page.
    void outcomesShowOnlyForTheirPhone()
    {
        ManagementStoreFixture management;
        const auto pane = paneOfPixel(
            management, R"([{"serial": "OTHER", "model": "SM_S911B"}, {"serial": "MINE", "model": "Pixel_7"}])");
        QVERIFY(pane);
        const QString other = m_deviceStore->devices().first().id();

        // The phone knows no such package: clearing its data fails.
        awaitTask(m_deviceStore->performAppOperation(u"正在清除 Maps 的数据"_s,
                                                     DeviceStore::clearDataOperation(u"pkg.Maps"_s, u"Maps"_s),
                                                     m_deviceStore->device(other)));
        QCOMPARE(m_deviceStore->appOperationState().kind, DeviceStore::AppOperationState::Kind::failed);
        QVERIFY(!pane->operationBanner()->isVisibleTo(pane.get()));
        m_deviceStore->setPendingInstallPlan(
            APKInstallPlan{APKInstallPlan::Kind::single, {u"/nowhere/app.apk"_s}, 1, {}});
        awaitTask(m_deviceStore->installPendingPlan(other));
        QCOMPARE(m_deviceStore->installState().kind, DeviceStore::InstallState::Kind::failed);
        QVERIFY(!pane->installBanner()->isVisibleTo(pane.get()));

        // The same on this phone shows.
        pane->forceStop(application(u"Maps"_s));
        QTRY_COMPARE(m_deviceStore->appOperationState().kind, DeviceStore::AppOperationState::Kind::succeeded);
        QVERIFY(pane->operationBanner()->isVisibleTo(pane.get()));
        QCOMPARE(pane->operationBanner()->textLabel()->text(), u"已在 Pixel 7 停止 Maps"_s);
        // An outcome of no phone (no package to install) shows on every page.
        awaitTask(m_deviceStore->prepareInstall({m_folder->filePath(u"missing.apk"_s)}));
        QVERIFY(pane->installBanner()->isVisibleTo(pane.get()));
    }

    // A USB question answered after the phones changed goes to the phone it was asked about, followed when it is
    // plugged in again or listed under another id; when that phone is gone it says so and nothing runs, whichever
    // phone took its place, also when the store has not listed the phones since.
    void anAnswerAfterThePhoneWentSaysSo_data()
    {
        // Whether the question is the one to clear the data (else to uninstall over USB), whether it is chosen from
        // the "更多操作" menu opened before the phones changed (else asked at once), the listings while it is open
        // ("fail": adb cannot list; "later:" and the phones: what adb lists from then on, before the store lists
        // again), the text shown then, and the transport id the command ran on (none: no command ran).
        TestTable<bool, bool, QList<QByteArray>, QString, std::optional<QString>> rows;
        const QString gone = ADBClientError(ADBClientError::Case::deviceNotFound).errorDescription();
        const QString cleared = u"已清除 Pixel 7 上 Maps 的本地数据"_s;
        const QByteArray stranger = R"([{"serial": "THEIRS", "model": "Pixel_7", "product": "panther"}])";
        // A phone of the Pixel's serial, of another model, under the Pixel's transport id.
        const QByteArray mate =
            R"([{"serial": "MINE", "model": "Mate_60", "product": "ALN", "storage": "MATE", "transport_id": "1"}])";
        // adb's server started again and numbered the phones the other way.
        const QByteArray renumbered = R"([{"serial": "THEIRS", "model": "SM_S911B", "transport_id": "1"},
                                          {"serial": "MINE", "model": "Pixel_7", "product": "panther",
                                           "transport_id": "2"}])";
        rows("clear data, phone gone", true, false, {"fail"}, gone, std::nullopt);
        rows("uninstall, phone gone", false, false, {"fail"}, gone, std::nullopt);
        rows("clear data, phone back", true, false, {"fail", pixelOnUSB}, cleared, u"1"_s);
        rows("clear data, plugged in again", true, false, {"[]", pixelOnUSB}, cleared, u"2"_s);
        rows("clear data, another phone of its model in its place", true, false, {"[]", stranger}, gone, std::nullopt);
        rows("uninstall, another phone of its model in its place", false, false, {"[]", stranger}, gone, std::nullopt);
        rows("uninstall, swapped between two listings", false, false, {stranger}, gone, std::nullopt);
        rows("clear data, another model of its serial under its id", true, false, {"[]", mate}, gone, std::nullopt);
        rows("clear data, another model of its serial under its id, not listed yet", true, false, {"later:" + mate},
             gone, std::nullopt);
        rows("clear data, numbered anew, not listed yet", true, false, {"later:" + renumbered}, cleared, u"2"_s);
        rows("clear data from the menu, phone gone", true, true, {"[]"}, gone, std::nullopt);
        rows("uninstall from the menu, phone gone", false, true, {"fail"}, gone, std::nullopt);
        rows("clear data from the menu, plugged in again", true, true, {"[]", pixelOnUSB}, cleared, u"2"_s);
    }
    void anAnswerAfterThePhoneWentSaysSo()
    {
        const auto [clearsData, fromMenu, listings, shown, transport] =
            TestTable<bool, bool, QList<QByteArray>, QString, std::optional<QString>>::fetch();
        for (const char *storage : {"MINE", "THEIRS", "MATE"})
            QVERIFY(writeFile(m_folder->filePath(u"adb/installed/"_s + QLatin1StringView(storage)), "pkg.Maps\n"));
        ManagementStoreFixture management;
        const auto pane = shownPaneOfPixel(management);
        QVERIFY(pane);
        const ManagedApplication maps = application(u"Maps"_s);
        const auto changePhones = [&, listings = listings] {
            for (const QByteArray &listing : listings) {
                const QString failures = m_folder->filePath(u"adb/failures.json"_s);
                const bool later = listing.startsWith("later:");
                if (!(listing == "fail"
                          ? writeFile(failures, R"({"devices": {"answer": "closed"}})")
                          : writeFile(m_folder->filePath(u"adb/devices.json"_s), later ? listing.mid(6) : listing) &&
                                (!QFile::exists(failures) || QFile::remove(failures))))
                    return false;
                if (!later)
                    awaitTask(m_deviceStore->refresh());
            }
            return true;
        };
        if (fromMenu) {
            // The menu waits for its choice: the phones change, and the item is chosen, while it is open.
            pane->setSelectedApplicationID(maps.packageName);
            QMenu *menu = pane->moreActionsButton()->menu();
            bool chosen = false;
            QTimer::singleShot(0, menu, [&, clearsData = clearsData] {
                const QList<QAction *> items = menu->actions();
                const QString title = clearsData ? u"清除数据…"_s : u"通过 USB 卸载…"_s;
                const auto item = std::ranges::find(items, title, &QAction::text);
                if (menu->isVisible() && item != items.end() && changePhones()) {
                    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(*item).center());
                    chosen = true;
                }
                menu->close();
            });
            QTest::mouseClick(pane->moreActionsButton(), Qt::LeftButton);
            QVERIFY(chosen);
        } else {
            clearsData ? pane->requestClearData(maps) : pane->requestUSBUninstall(maps);
            QVERIFY(changePhones());
        }
        const QPointer<QMessageBox> question = pane->findChild<QMessageBox *>();
        QVERIFY(question && question->isVisible());
        const QList<QAbstractButton *> buttons = question->buttons();
        const auto confirm = std::ranges::find_if(buttons, [&question](QAbstractButton *button) {
            return question->buttonRole(button) == QMessageBox::DestructiveRole;
        });
        QVERIFY(confirm != buttons.end());
        QTest::mouseClick(*confirm, Qt::LeftButton);
        QTRY_COMPARE(m_deviceStore->appOperationState().text, shown);
        QCOMPARE(pane->operationBanner()->textLabel()->text(), shown);
        QVERIFY(pane->operationBanner()->isVisibleTo(pane.get()));
        QStringList ranOn;
        for (const QStringList &command : adbCommands()) {
            if (command.mid(2, 2) == QStringList{u"shell"_s, u"pm"_s} && command.last() == maps.packageName)
                ranOn.append(command.value(1));
        }
        QCOMPARE(ranOn, transport ? QStringList{*transport} : QStringList());
    }

    void bannersMoveNothing_data()
    {
        const TestTable<QString> rows; // the banner that comes
        rows("an operation's outcome", u"operation"_s);
        rows("an install's outcome", u"install"_s);
        rows("the phone's state", u"state"_s);
    }

    // A banner comes on its own, a moment after the click that led to it or when the phone changes: the tile and
    // the button under the pointer stay where they are, and a click there still reaches them.
    void bannersMoveNothing()
    {
        const auto [banner] = TestTable<QString>::fetch();
        ManagementStoreFixture management;
        const auto pane = shownPaneOfPixel(management);
        QVERIFY(pane);
        const ManagedApplication maps = application(u"Maps"_s);
        pane->setSelectedApplicationID(maps.packageName);
        QApplication::processEvents();
        QListView *list = pane->findChild<QListView *>(u"applicationList"_s);
        QPushButton *more = pane->moreActionsButton();
        const QList<QPoint> points{
            more->mapTo(pane.get(), more->rect().center()),
            list->viewport()->mapTo(pane.get(), list->visualRect(list->currentIndex()).center())};
        QList<QWidget *> widgets;
        QList<QPoint> origins;
        for (const QPoint &point : points) {
            widgets.append(pane->childAt(point));
            origins.append(widgets.last()->mapTo(pane.get(), QPoint(0, 0)));
        }
        QCOMPARE(widgets.first(), more);

        QWidget *coming = nullptr;
        if (banner == u"operation") {
            pane->forceStop(maps);
            QTRY_COMPARE(m_deviceStore->appOperationState().kind, DeviceStore::AppOperationState::Kind::succeeded);
            coming = pane->operationBanner();
        } else if (banner == u"install") {
            awaitTask(m_deviceStore->prepareInstall({m_folder->filePath(u"missing.apk"_s)}));
            coming = pane->installBanner();
        } else {
            AndroidDevice offline = m_deviceStore->devices().first();
            offline.state = AndroidDevice::State::offline;
            pane->setUSBPhone(offline);
            coming = pane->findChild<QWidget *>(u"usbStateBanner"_s);
        }
        // Layouts follow on the next turns of the event loop.
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        QVERIFY(coming->isVisible());
        for (qsizetype index = 0; index < points.size(); ++index) {
            QCOMPARE(pane->childAt(points[index]), widgets[index]);
            QCOMPARE(widgets[index]->mapTo(pane.get(), QPoint(0, 0)), origins[index]);
        }
        QCOMPARE(list->indexAt(list->viewport()->mapFrom(pane.get(), points[1])), list->currentIndex());
    }

    // With both phones of the same model there is no target: nothing is offered and nothing starts.
    void twoMatchingPhonesOfferNothing()
    {
        ManagementStoreFixture management;
        const auto pane = paneOfPixel(
            management, R"([{"serial": "ONE", "model": "Pixel_7"}, {"serial": "TWO", "model": "pixel_7"}])");
        QVERIFY(pane);

        QVERIFY(!pane->installButton()->isEnabled());
        QCOMPARE(pane->installButton()->toolTip(), u"连接当前手机后即可安装应用"_s);
        const int commandsBefore = int(adbCommands().size());
        pane->forceStop(application(u"Maps"_s));
        ViewMessageBox::setNextAnswer(QMessageBox::DestructiveRole);
        pane->requestClearData(application(u"Maps"_s));
        QCOMPARE(ViewMessageBox::shown().last().informativeText, u"目标：USB 手机。这个操作无法撤销。"_s);
        QCOMPARE(m_deviceStore->appOperationState(), DeviceStore::AppOperationState::idle());
        QCOMPARE(adbCommands().size(), commandsBefore);
    }

    void aBoundPhonesPageOffersUSBOnlyOnIt_data()
    {
        // The serial the trusted record is bound to (none: not yet), the phones adb lists → the serial the USB items
        // of "更多操作" act on (none: they are not offered).
        TestTable<std::optional<QString>, QByteArray, std::optional<QString>> rows;
        const QByteArray mine = R"([{"serial": "MINE", "model": "Pixel_7"}])";
        const QByteArray stranger = R"([{"serial": "THEIRS", "model": "Pixel_7"}])";
        rows("bound, its phone", u"MINE"_s, mine, u"MINE"_s);
        rows("bound, unplugged, a stranger of its model", u"MINE"_s, stranger, std::nullopt);
        rows("not bound, one phone of its model", std::nullopt, stranger, u"THEIRS"_s);
    }
    // On the trusted phone's own page, the applications' USB actions reach the phone of its serial alone.
    void aBoundPhonesPageOffersUSBOnlyOnIt()
    {
        const auto [boundSerial, phones, target] =
            TestTable<std::optional<QString>, QByteArray, std::optional<QString>>::fetch();
        QVERIFY(writeFile(m_folder->filePath(u"adb/devices.json"_s), phones));
        StoreFixture transfers;
        TransferStore &transferStore = transfers.makePaired();
        if (boundSerial)
            transferStore.bindUSBSerial(*boundSerial, transferStore.selectedTrustedDeviceID().value());
        ManagementStoreFixture management;
        DeviceStore &devices = makeDeviceStore();
        awaitTask(devices.refresh());
        answerWith(management, u"Pixel 7"_s, {application(u"Maps"_s)});
        DeviceManagementDashboard dashboard(u"Pixel"_s, &transferStore, management.store.get(), &devices, {},
                                            DeviceManagementDashboard::Section::applications,
                                            ManagedContentCategory::allFiles);
        dashboard.resize(900, 600);
        dashboard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dashboard));
        QTRY_VERIFY(management.store->snapshot() && !management.store->applications().isEmpty());
        auto *pane = qobject_cast<ManagedApplicationsPane *>(dashboard.sectionPane());
        QVERIFY(pane);
        pane->setSelectedApplicationID(application(u"Maps"_s).packageName);
        QCOMPARE(pane->installButton()->isEnabled(), target.has_value());

        QMenu *menu = pane->moreActionsButton()->menu();
        QStringList offered;
        QTimer::singleShot(0, menu, [&] {
            for (const QAction *item : menu->actions())
                offered.append(item->text());
            menu->close();
        });
        QTest::mouseClick(pane->moreActionsButton(), Qt::LeftButton);
        QVERIFY(!offered.isEmpty());
        QCOMPARE(offered.contains(u"清除数据…"_s), target.has_value());
        if (target)
            QCOMPARE(pane->usbTargetDevice()->serial, *target);
    }

    // A screen reader's show-menu action opens "更多操作" without waiting for the menu to close.
    void moreActionsOpenFromTheShowMenuAction()
    {
        ManagementStoreFixture management;
        DeviceStore &devices = makeDeviceStore();
        ManagedApplicationsPane pane(u"Pixel"_s, management.store.get(), &devices, true, false, {});
        answerWith(management, u"X"_s, {application(u"A"_s)});
        pane.resize(900, 600);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QPushButton *more = pane.moreActionsButton();
        QVERIFY(more->isVisible() && more->isEnabled());
        QAccessibleActionInterface *actions = QAccessible::queryAccessibleInterface(more)->actionInterface();
        QVERIFY(actions && actions->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
        // A menu still open a moment later is closed, so that a call that waits for it cannot hang the test.
        QTimer::singleShot(200, [] {
            if (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
        });
        QSignalSpy opened(more->menu(), &QMenu::aboutToShow);
        actions->doAction(QAccessibleActionInterface::showMenuAction());
        QCOMPARE(opened.count(), 0);
        QTRY_COMPARE(opened.count(), 1);
    }

    void selectionAndStates()
    {
        ManagementStoreFixture management;
        DeviceStore &devices = makeDeviceStore();
        answerWith(management, u"X"_s, {});
        ManagedApplicationsPane pane(u"Pixel"_s, management.store.get(), &devices, true, false, {});
        pane.resize(900, 600);
        QVERIFY(pane.visibleTitles().contains(u"没有匹配的应用"_s));

        answerWith(management, u"X"_s, {application(u"A"_s), application(u"B"_s, true, false)});
        QCOMPARE(pane.selectedApplicationID(), u"pkg.A"_s);
        pane.setSelectedApplicationID(u"pkg.B"_s);
        QVERIFY(pane.visibleTitles().contains(u"版本 1.2"_s));
        QVERIFY(!pane.openButton()->isVisibleTo(&pane) && !pane.moreActionsButton()->isVisibleTo(&pane));
        answerWith(management, u"X"_s, {application(u"C"_s), application(u"B"_s, true, false)});
        QCOMPARE(pane.selectedApplicationID(), u"pkg.B"_s);

        management.store->setActivePeer(u"peer-2"_s);
        QCOMPARE(pane.selectedApplicationID(), std::nullopt);

        pane.setManagementConnected(false);
        QVERIFY(pane.visibleTitles().contains(u"手机未连接"_s));
        QVERIFY(!pane.searchField()->isEnabled());
    }

    // The arrow keys choose the application the details column shows, as a click does.
    void keysChooseTheApplicationShown()
    {
        ManagementStoreFixture management;
        DeviceStore &devices = makeDeviceStore();
        ManagedApplicationsPane pane(u"Pixel"_s, management.store.get(), &devices, true, false, {});
        pane.resize(900, 600);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        answerWith(management, u"X"_s, {application(u"A"_s), application(u"B"_s), application(u"C"_s)});
        QCOMPARE(pane.selectedApplicationID(), u"pkg.A"_s);
        const QList<std::pair<Qt::Key, QString>> steps{
            {Qt::Key_Right, u"B"_s}, {Qt::Key_End, u"C"_s}, {Qt::Key_Home, u"A"_s}};
        for (const auto &[key, name] : steps) {
            QTest::keyClick(pane.applicationList(), key);
            QCOMPARE(pane.selectedApplicationID(), u"pkg."_s + name);
            QVERIFY2(pane.visibleTitles().contains(name), qPrintable(pane.visibleTitles().join(u'|')));
        }
    }

    void tilesTakeTheColumnWidth_data()
    {
        QTest::addColumn<int>("paneWidth");
        QTest::newRow("one column") << 560;
        QTest::newRow("the default window") << 900;
        QTest::newRow("wide") << 1400;
    }

    // The grid has as many columns of at least 200 as fit, and each tile is as wide as its column: no cell keeps
    // space its tile leaves unused.
    void tilesTakeTheColumnWidth()
    {
        QFETCH(int, paneWidth);
        ManagementStoreFixture management;
        DeviceStore &devices = makeDeviceStore();
        QList<ManagedApplication> applications;
        for (const QString &name : {u"A"_s, u"B"_s, u"C"_s, u"D"_s, u"E"_s, u"F"_s, u"G"_s}) {
            applications.append(application(name));
        }
        answerWith(management, u"X"_s, applications);
        ManagedApplicationsPane pane(u"Pixel"_s, management.store.get(), &devices, true, false, {});
        pane.resize(paneWidth, 600);
        pane.show();
        QListView *list = pane.applicationList();
        QTRY_VERIFY(list->isVisible() && list->gridSize().isValid());
        const int viewport = list->viewport()->width();
        QVERIFY(ApplicationTile::minimumWidth() >= 200);
        const int columns = viewport / (ApplicationTile::minimumWidth() + 12);
        QVERIFY(columns >= 1);
        QTRY_COMPARE(list->visualRect(list->model()->index(0, 0)).width(), viewport / columns);
        int rightmost = 0;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            const QRect tile = list->visualRect(list->model()->index(row, 0));
            QCOMPARE(tile.width(), viewport / columns);
            rightmost = std::max(rightmost, tile.right() + 1);
        }
        QCOMPARE(rightmost, columns * (viewport / columns));
        QVERIFY(viewport - rightmost < columns);
    }

    // The detail pane beside the sidebar's usual width, in the default window and in one 1560 pixels wide; run also
    // under a Chinese desktop's fonts and those of a desktop without a language.
    void textsShowWholeOrShortened_data()
    {
        QTest::addColumn<int>("paneWidth");
        QTest::newRow("default window") << 980 - 210;
        QTest::newRow("1560 wide") << 1560 - 210;
    }

    // A tile shows its date whole and its name whole or ending in "…", both whole in its tool tip; the details show
    // the name on at most two lines, the last ending in "…", the version shortened, each whole in its tool tip, and
    // the package name wrapped, whole.
    void textsShowWholeOrShortened()
    {
        QFETCH(int, paneWidth);
        const QString name = u"Family Photo Organizer 家庭相册整理与备份助手 for Small Teams and Clubs"_s; // 60
        const QString package = u"com.example.very_long_package_name_of_the_family_photo_organizer"_s;
        const QString version = u"2024.12.28-beta.7+build.20241228.1200-release-candidate"_s;
        const ManagedApplication shown{package,  name, version,
                                       20241228, 0,    QDateTime(QDate(2024, 12, 28), QTime(12, 0)).toMSecsSinceEpoch(),
                                       false,    true, true};
        ManagementStoreFixture management;
        DeviceStore &devices = makeDeviceStore();
        answerWith(management, u"X"_s, {shown, application(u"A"_s)});
        ManagedApplicationsPane pane(u"Pixel"_s, management.store.get(), &devices, true, false, {});
        pane.resize(paneWidth, 700);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        QListView *list = pane.applicationList();
        QTRY_VERIFY(list->gridSize().isValid());
        const QRect cell = list->visualRect(list->model()->index(0, 0));
        const ApplicationTile::ShownTexts tile = ApplicationTile::shownTexts(shown, cell.width());
        QCOMPARE(tile.date, u"更新于 2024年12月28日"_s);
        QVERIFY(QFontMetricsF(ViewFonts::caption()).horizontalAdvance(tile.date) <= tile.width);
        QVERIFY2(tile.name.endsWith(u'…'), qPrintable(tile.name));
        QHelpEvent help(QEvent::ToolTip, cell.center(), list->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(list->viewport(), &help);
        QTRY_COMPARE(QToolTip::text(), name + u'\n' + tile.date);
        QToolTip::hideText();

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(pane.selectedApplicationID(), package);
        auto *nameLabel = pane.findChild<ClampedLabel *>();
        QTRY_VERIFY2(nameLabel->text().endsWith(u'…'), qPrintable(nameLabel->text()));
        const QStringList lines = nameLabel->text().split(u'\n');
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines)
            QVERIFY2(nameLabel->fontMetrics().horizontalAdvance(line) <= nameLabel->contentsRect().width(),
                     qPrintable(line));
        QTRY_VERIFY(nameLabel->height() >= nameLabel->sizeHint().height());
        QCOMPARE(nameLabel->toolTip(), name);
        auto *versionLabel = pane.findChild<ElidedLabel *>(u"applicationVersion"_s);
        QCOMPARE(versionLabel->toolTip(), u"版本 "_s + version);
        QVERIFY(versionLabel->width() < versionLabel->fontMetrics().horizontalAdvance(versionLabel->toolTip()));

        DisclosureGroup *advanced = nullptr;
        for (DisclosureGroup *group : pane.findChildren<DisclosureGroup *>())
            advanced = group->title() == u"高级信息"_s ? group : advanced;
        QVERIFY(advanced);
        QTest::mouseClick(advanced->toggle(), Qt::LeftButton);
        auto *packageText = pane.findChild<SelectableWrappedText *>(u"packageName"_s);
        QVERIFY(packageText->isVisible());
        QCOMPARE(packageText->text(), package);
        QTRY_VERIFY(packageText->document()->firstBlock().layout()->lineCount() > 1);
        QVERIFY(packageText->document()->size().width() <= packageText->viewport()->width());
        QVERIFY(packageText->viewport()->height() >= qCeil(packageText->document()->size().height()));
    }

private:
    DeviceStore &makeDeviceStore()
    {
        m_deviceStore = std::make_unique<DeviceStore>(
            makeDefaultADBClient(), InstallHistoryStore(m_folder->filePath(u"history.json"_s)),
            DeviceStoreEnvironment{std::make_shared<NoUSBDevices>(), m_folder->filePath(u"no-companion"_s)});
        return *m_deviceStore;
    }

    // The pane of the phone that reports the model "Pixel 7" and the application Maps, over the adb phones `phones`
    // (the fake adb's devices.json); none when they cannot be written.
    std::unique_ptr<ManagedApplicationsPane> paneOfPixel(ManagementStoreFixture &management, const QByteArray &phones)
    {
        if (!writeFile(m_folder->filePath(u"adb/devices.json"_s), phones)) {
            return nullptr;
        }
        DeviceStore &devices = makeDeviceStore();
        awaitTask(devices.refresh());
        answerWith(management, u"Pixel 7"_s, {application(u"Maps"_s)});
        return std::make_unique<ManagedApplicationsPane>(u"Pixel"_s, management.store.get(), &devices, true, true,
                                                         ManagedApplicationsPane::Actions{});
    }

    // The pane of Pixel 7 (paneOfPixel), the only phone on USB, shown at 900 × 600.
    std::unique_ptr<ManagedApplicationsPane> shownPaneOfPixel(ManagementStoreFixture &management)
    {
        auto pane = paneOfPixel(management, pixelOnUSB);
        if (pane) {
            pane->resize(900, 600);
            pane->show();
        }
        return pane;
    }

    // Makes the store's snapshot name `model` and its list hold `applications`.
    static void answerWith(ManagementStoreFixture &management, const QString &model,
                           const QList<ManagedApplication> &applications)
    {
        management.channel->answer = [model, applications](const FakeManagementChannel::Request &request) {
            if (request.action == u"device.snapshot") {
                return FakeManagementChannel::Reply::json(encodeManaged(snapshotOf(model)));
            }
            return FakeManagementChannel::Reply::json(encodeManaged(ManagedApplicationPage{1, applications, {}}));
        };
        awaitTask(management.store->refreshOverview());
        awaitTask(management.store->loadApplications());
    }

    QList<QStringList> adbCommands() const
    {
        QList<QStringList> lines;
        for (const QByteArray &line : contentsOf(m_folder->filePath(u"adb/commands.log"_s)).split('\n')) {
            if (!line.isEmpty()) {
                lines.append(QJsonDocument::fromJson(line).toVariant().toStringList().mid(2));
            }
        }
        return lines;
    }

    struct NoUSBDevices : USBDeviceRegistry
    {
        QList<USBRegistryEntry> attachedDevices() const override { return {}; }
    };

    std::optional<QTemporaryDir> m_folder;
    std::unique_ptr<DeviceStore> m_deviceStore;
};

QTEST_MAIN(ApplicationsPaneTest)
#include "test_applications_pane.moc"

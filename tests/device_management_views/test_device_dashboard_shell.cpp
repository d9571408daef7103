#include "../android_usb_views/UsbViewsTestSupport.h"
#include "../device_management/ManagementStoreFixture.h"
#include "DeviceManagementDashboard.h"
#include "DeviceOverviewPane.h"
#include "DeviceStatusRow.h"
#include "DisclosureGroup.h"
#include "ElidedLabel.h"
#include "FileTypeSymbol.h"
#include "FilesPaneToolbar.h"
#include "HomeQuickAction.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagementMessageBar.h"
#include "OverviewInfoRow.h"
#include "RecentContentTile.h"
#include "SymbolIcon.h"
#include "TestSupport.h"
#include "TileButton.h"
#include "TransferActivityDock.h"
#include "TrustedDeviceManagementRow.h"
#include "TrustedDeviceManager.h"
#include "ViewColors.h"

#include <QAccessible>
#include <QApplication>
#include <QDragEnterEvent>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

using namespace DeviceManagementDashboardPresentation;
using namespace ViewsTestSupport;
using Category = ManagedContentCategory;
using Section = DashboardSection;

// management connected, the state of the phone on USB (none: not plugged in), battery → summary
using Summaries = TestTable<bool, std::optional<AndroidDevice::State>, std::optional<qint64>, QString>;
using Drops = TestTable<QStringList, DropDecision::Kind, QStringList>;
using Symbols = TestTable<QString, QString>;
using QuickClicks = TestTable<QString, Section, Category, QString>;
using ContentEntries = TestTable<Section, Category, QString>;
// How the user presses a control: a key with its modifiers, or no key for a click of the mouse.
using Presses = TestTable<std::optional<Qt::Key>, Qt::KeyboardModifiers>;
// The tile's accessible name, the key that presses it and the section and category that it opens.
using TileKeys = TestTable<QString, Qt::Key, Qt::KeyboardModifiers, Section, Category>;
// The bars shown before and the bar that comes.
using ComingBars = TestTable<QStringList, QString>;

namespace {

// A transfer store over a fake core, a management store over a fake channel and a device store without adb,
// each kept for the dashboard that the test builds over them.
struct DashboardFixture
{
    StoreFixture transfers;
    ManagementStoreFixture management;
    UsbViewsTestSupport::DeviceStoreFixture devices;
    TransferStore *transferStore = nullptr;

    // `otherPhones`: phones trusted before this one paired.
    explicit DashboardFixture(bool connected = true, const QList<TransferTaskRecord> &tasks = {},
                              const QList<TrustedDeviceRecord> &otherPhones = {})
    {
        transfers.saveTasks(tasks);
        if (!otherPhones.isEmpty())
            transfers.saveRegistry(otherPhones);
        transferStore = connected ? &transfers.makePaired() : &transfers.make();
        devices.make();
    }

    std::unique_ptr<DeviceManagementDashboard> dashboard(Section section = Section::home,
                                                         Category category = Category::allFiles)
    {
        auto made = std::make_unique<DeviceManagementDashboard>(
            QStringLiteral("Pixel"), transferStore, management.store.get(), devices.store.get(),
            DeviceManagementDashboard::Actions{}, section, category);
        made->resize(900, 700);
        return made;
    }

    qsizetype requests(const QString &action) const { return management.channel->count(action); }
    // No store operation is waiting on the phone.
    bool idle() const
    {
        const DeviceManagementStore &store = *management.store;
        return !store.isLoadingOverview() && !store.isLoadingFiles() && !store.isLoadingMedia() &&
               !store.isLoadingTrash() && !store.isLoadingApplications();
    }
    void disconnect() { transfers.deliver({linkEvent(TransferEventKind::disconnected)}); }
    void reconnect() { transfers.deliver({linkEvent(TransferEventKind::paired)}); }
};

// Answers the phone's snapshot request with a snapshot that has no details of its own.
void answerSnapshots(DashboardFixture &fixture)
{
    fixture.management.channel->answer = [](const FakeManagementChannel::Request &request) {
        return request.action == "device.snapshot"
                   ? FakeManagementChannel::Reply::json(encodeManaged(ManagedDeviceSnapshot{}))
                   : FakeManagementChannel::Reply{};
    };
}

// The overview of a dashboard on screen and active, with the phone's snapshot shown.
DeviceOverviewPane *shownOverview(DashboardFixture &fixture, DeviceManagementDashboard &dashboard)
{
    dashboard.show();
    if (!QTest::qWaitForWindowActive(&dashboard))
        return nullptr;
    auto *pane = qobject_cast<DeviceOverviewPane *>(dashboard.sectionPane());
    if (!pane || !QTest::qWaitFor([&] { return pane->statusCard()->isVisible() && fixture.idle(); }, 30'000))
        return nullptr;
    return pane;
}

// Whether the focus ring is drawn along the top edge of `button`.
bool ringed(QWidget *button)
{
    const QImage image = button->grab().toImage();
    const QColor drawn = image.pixelColor(image.width() / 2, 1), ring = button->palette().color(QPalette::Highlight);
    return std::abs(drawn.red() - ring.red()) + std::abs(drawn.green() - ring.green()) +
               std::abs(drawn.blue() - ring.blue()) <
           24;
}

QList<TransferTaskRecord> tasks(int count)
{
    QList<TransferTaskRecord> made;
    for (int index = 0; index < count; ++index)
        made.append(taskRecord(QStringLiteral("task-%1").arg(index), TransferTaskRecord::Direction::receiving,
                               TransferTaskRecord::Status::completed));
    return made;
}

} // namespace

class DeviceDashboardShellTest : public QObject
{
    Q_OBJECT

private slots:
    void enumerationsKeepTheirTitlesAndGroups()
    {
        QStringList titles;
        for (const Category category : allManagedContentCategories()) {
            QCOMPARE(managedContentCategoryFromRawValue(rawValue(category)), category);
            titles.append(rawValue(category));
        }
        QCOMPARE(titles, QStringList({"照片", "视频", "下载", "文档", "所有文件", "回收站"}));
        QCOMPARE(managedContentCategoryFromRawValue("Photos"), std::nullopt);
        QCOMPARE(dashboardSectionFromRawValue("应用"), Section::applications);
        QCOMPARE(dashboardSectionFromRawValue("home"), std::nullopt);
        QVERIFY(isMediaCategory(Category::videos) && !isMediaCategory(Category::trash));
        QVERIFY(isFilesCategory(Category::allFiles) && !isFilesCategory(Category::trash));
    }

    void connectionSummary_data()
    {
        const Summaries rows;
        using State = AndroidDevice::State;
        rows("both, with battery", true, State::authorized, 80, "无线 + USB 已连接 · 电量 80%");
        rows("wireless, zero battery", true, std::nullopt, 0, "无线已连接 · 电量 0%");
        rows("wireless, no battery", true, std::nullopt, std::nullopt, "无线已连接");
        rows("USB only never shows the battery", false, State::authorized, 80, "USB 已连接 · 手机端 Tavrine 未连接");
        rows("nothing", false, std::nullopt, 80, "未连接");
        // A phone on USB that cannot take commands is not connected by USB: its state is said.
        rows("wireless, USB without permission", true, State::noPermissions, 80,
             "无线已连接 · 没有 USB 权限 · 电量 80%");
        rows("USB waiting for approval", false, State::unauthorized, std::nullopt,
             "等待手机确认 · 手机端 Tavrine 未连接");
        rows("USB offline", false, State::offline, std::nullopt, "设备暂时离线 · 手机端 Tavrine 未连接");
    }

    void connectionSummary()
    {
        const auto [management, usb, battery, text] = Summaries::fetch();
        QCOMPARE(connectionSummaryText(management, usb, battery), text);
    }

    void theTrustedPhonesUSBPhoneIsItsOwn_data()
    {
        // The record's USB serial (none: not bound yet), the model the connected phone reports (empty: no snapshot),
        // the phones adb lists ("serial=model", "=unauthorized" after it, listed so without a model) → the serial of
        // the phone the page's USB actions reach (none: they are not offered).
        TestTable<std::optional<QString>, QString, QStringList, std::optional<QString>> rows;
        rows("not bound, one phone of its model", std::nullopt, "23021RAAEG", {"5E2B=23021RAAEG"}, QString("5E2B"));
        rows("not bound, two phones of its model", std::nullopt, "23021RAAEG", {"5E2B=23021RAAEG", "7C1A=23021RAAEG"},
             std::nullopt);
        rows("bound, its phone", "8A3F", "23021RAAEG", {"5E2B=23021RAAEG", "8A3F=23021RAAEG"}, QString("8A3F"));
        rows("bound, unplugged, a stranger of its model", "8A3F", "23021RAAEG", {"5E2B=23021RAAEG"}, std::nullopt);
        rows("bound, another model listed with its serial", "8A3F", "23021RAAEG", {"8A3F=SM_A546B"}, std::nullopt);
        rows("bound, its phone awaiting approval", "8A3F", "23021RAAEG", {"8A3F==unauthorized"}, QString("8A3F"));
        rows("bound, no snapshot", "8A3F", "", {"8A3F=SM_A546B"}, QString("8A3F"));
    }
    // The page of a phone bound to its USB serial acts over USB on that phone alone; only a record not bound yet takes
    // the one phone of its model.
    void theTrustedPhonesUSBPhoneIsItsOwn()
    {
        const auto [serial, reported, listed, expected] =
            TestTable<std::optional<QString>, QString, QStringList, std::optional<QString>>::fetch();
        TrustedDeviceRecord record = trustedPhone("Redmi", 1);
        record.usbSerial = serial;
        std::optional<ManagedDeviceSnapshot> snapshot;
        if (!reported.isEmpty()) {
            snapshot = ManagedDeviceSnapshot{};
            snapshot->model = reported;
        }
        QList<AndroidDevice> devices;
        for (const QString &entry : listed) {
            AndroidDevice device = UsbViewsTestSupport::phone(entry.section('=', 0, 0));
            device.marketingName.reset();
            device.model = entry.section('=', 1, 1);
            if (device.model->isEmpty())
                device.model.reset();
            if (!entry.section('=', 2).isEmpty())
                device.state = *AndroidDevice::stateFromRawValue(entry.section('=', 2));
            device.transportID = QString::number(devices.size() + 1);
            devices.append(device);
        }
        const std::optional<AndroidDevice> target = usbDevice(record, snapshot, devices);
        QCOMPARE(target ? std::optional(target->serial) : std::nullopt, expected);
    }

    void dropRule_data()
    {
        const Drops rows;
        const auto install = DropDecision::Kind::install, send = DropDecision::Kind::send;
        rows("packages are installed", {"file:///a.apk", "file:///b.APK", "file:///c.aab"}, install,
             {"/a.apk", "/b.APK", "/c.aab"});
        rows("a package among files is sent", {"file:///a.apk", "file:///d.pdf"}, send, {"/a.apk", "/d.pdf"});
        rows("web addresses only are rejected", {"https://x.org/a.apk"}, DropDecision::Kind::reject, {});
        rows("only the file of a mixed drop is sent", {"https://x.org/a", "file:///d.pdf"}, send, {"/d.pdf"});
        rows("a name that is only apk is no package", {"file:///apk"}, send, {"/apk"});
    }

    void dropRule()
    {
        const auto [urls, kind, paths] = Drops::fetch();
        QList<QUrl> dropped;
        for (const QString &url : urls)
            dropped.append(QUrl(url));
        QCOMPARE(dropDecision(dropped), (DropDecision{kind, paths}));
    }

    void fileTypeSymbols_data()
    {
        const Symbols rows;
        rows("case does not matter", "IMG_0001.JPG", "photo");
        rows("video", "clip.MOV", "film");
        rows("audio", "song.flac", "music.note");
        rows("last piece only", "backup.tar.gz", "doc");
        rows("pdf", "book.pdf", "doc.richtext");
        rows("package", "app-release.apk", "shippingbox");
        rows("bundle", "bundle.aab", "doc");
        rows("empty", "", "doc");
        rows("dots only", "...", "doc");
        rows("no dot", "README", "doc");
        rows("no dot, an extension", "zip", "archivebox");
        rows("trailing dot", "notes.", "doc");
    }

    void fileTypeSymbols()
    {
        const auto [name, symbol] = Symbols::fetch();
        QCOMPARE(fileTypeSymbolName(name), symbol);
        QVERIFY(SymbolIcon::named(symbol).has_value());
    }

    void statusValues()
    {
        ManagedDeviceSnapshot snapshot;
        snapshot.manufacturer = "";
        snapshot.model = "Pixel 8";
        snapshot.agentVersion = "1.2";
        QCOMPARE(deviceInfoRows(snapshot), (QList<std::pair<QString, QString>>{{"设备", " Pixel 8"},
                                                                               {"系统", "Android "},
                                                                               {"安全更新", "未提供"},
                                                                               {"Tavrine", "1.2"},
                                                                               {"连接", "本地加密"}}));
        QCOMPARE(batteryValue(std::nullopt), "暂不可用");
        QCOMPARE(statusArea(true, true), StatusArea::statusCard);
        QCOMPARE(statusArea(false, true), StatusArea::syncing);
        QCOMPARE(statusArea(false, false), StatusArea::nothing);
        QCOMPARE(loadTaskID(std::nullopt, false), "none|false");
    }

    void pollRunsOnlyWhileConnected()
    {
        DashboardFixture fixture;
        auto dashboard = fixture.dashboard();
        QVERIFY(!dashboard->isPollingSnapshot());
        dashboard->show();
        // The poll and the home section's load ask at once; the store sends the phone one request.
        QTRY_COMPARE(fixture.requests("device.snapshot"), 1);
        QVERIFY(dashboard->isPollingSnapshot());
        QCOMPARE(fixture.management.store->activePeerID(), fixture.transferStore->selectedTrustedDeviceID());
        QTRY_VERIFY(fixture.idle());

        fixture.disconnect();
        QVERIFY(!dashboard->isPollingSnapshot());
        QCOMPARE(dashboard->loadTaskID(), *fixture.transferStore->selectedTrustedDeviceID() + "|false");
        // Reconnecting loads the shown section again without the user.
        fixture.reconnect();
        QVERIFY(dashboard->isPollingSnapshot());
        QTRY_COMPARE(fixture.requests("device.snapshot"), 2);
        dashboard->hide();
        QVERIFY(!dashboard->isPollingSnapshot());
        QTRY_VERIFY(fixture.idle());
    }

    void disconnectedDashboardActivatesThePeerAndLoadsNothing()
    {
        DashboardFixture fixture(false);
        auto dashboard = fixture.dashboard();
        dashboard->show();
        dashboard->setSection(Section::applications);
        QVERIFY(!dashboard->isPollingSnapshot());
        QCOMPARE(fixture.management.store->activePeerID(), fixture.transferStore->selectedTrustedDeviceID());
        // Requests are recorded when they are made.
        QCoreApplication::processEvents();
        QVERIFY(fixture.management.channel->requests.isEmpty());
        QVERIFY(qobject_cast<ManagedApplicationsPane *>(dashboard->sectionPane()));
    }

    void enteringContentLoadsItsCategoryOnce_data()
    {
        const ContentEntries rows;
        rows("built on photos", Section::content, Category::photos, "media.list");
        rows("entered from home", Section::home, Category::videos, "media.list");
    }

    void enteringContentLoadsItsCategoryOnce()
    {
        const auto [initialSection, category, action] = ContentEntries::fetch();
        DashboardFixture fixture;
        auto dashboard = fixture.dashboard(initialSection, category);
        dashboard->show();
        dashboard->setSection(Section::content);
        QTRY_VERIFY(fixture.requests(action) >= 1);
        QTRY_VERIFY(fixture.idle());
        QCOMPARE(fixture.requests(action), 1);
        QCOMPARE(dashboard->contentCategory(), category);
        QCOMPARE(qobject_cast<ManagedFilesPane *>(dashboard->sectionPane())->selection(), category);
    }

    void quickActionsChooseSectionAndCategory_data()
    {
        const QuickClicks rows;
        rows("photos", "查看照片", Section::content, Category::photos, "media.list");
        rows("browse phone", "浏览手机", Section::content, Category::allFiles, "files.roots");
        rows("applications", "安装应用", Section::applications, Category::allFiles, "apps.list");
    }

    void quickActionsChooseSectionAndCategory()
    {
        const auto [title, section, category, action] = QuickClicks::fetch();
        DashboardFixture fixture;
        auto dashboard = fixture.dashboard();
        dashboard->show();
        QTRY_COMPARE(fixture.requests("device.snapshot"), 1);
        HomeQuickAction *tile = nullptr;
        for (HomeQuickAction *candidate : dashboard->findChildren<HomeQuickAction *>())
            tile = candidate->text() == title ? candidate : tile;
        QVERIFY(tile);
        QSignalSpy sectionChanges(dashboard.get(), &DeviceManagementDashboard::sectionChanged);
        tile->click();
        QCOMPARE(dashboard->section(), section);
        QCOMPARE(dashboard->contentCategory(), category);
        QCOMPARE(sectionChanges.size(), 1);
        QVERIFY(section == Section::content ? bool(qobject_cast<ManagedFilesPane *>(dashboard->sectionPane()))
                                            : bool(qobject_cast<ManagedApplicationsPane *>(dashboard->sectionPane())));
        QTRY_VERIFY(fixture.requests(action) >= 1);
        QTRY_VERIFY(fixture.idle());
    }

    void messageBarShowsTheErrorAndDismissesBoth()
    {
        DashboardFixture fixture(false);
        auto dashboard = fixture.dashboard();
        dashboard->show();
        QVERIFY(!dashboard->messageBar()->isVisible());
        fixture.management.store->setMessage(QStringLiteral("已删除"));
        fixture.management.store->setErrorMessage(QStringLiteral("连接已断开"));
        QVERIFY(dashboard->messageBar()->isVisible());
        QCOMPARE(dashboard->messageBar()->text(), "连接已断开");
        QVERIFY(dashboard->messageBar()->isError());
        dashboard->messageBar()->closeButton()->click();
        QCOMPARE(fixture.management.store->message(), std::nullopt);
        QCOMPARE(fixture.management.store->errorMessage(), std::nullopt);
        QVERIFY(!dashboard->messageBar()->isVisible());
    }

    void recentContentAndDockFollowTheTasks()
    {
        for (const int count : {0, 7}) {
            DashboardFixture fixture(false, tasks(count));
            auto dashboard = fixture.dashboard();
            dashboard->show();
            const QList<RecentContentTile *> tiles = dashboard->findChildren<RecentContentTile *>();
            QCOMPARE(tiles.size(), std::min(count, 6));
            if (count)
                QCOMPARE(tiles.first()->task().id, "task-0");
            QCOMPARE(dashboard->activityDock()->isVisible(), count > 0);
            QCOMPARE(dashboard->findChild<QPushButton *>("browsePhoneButton")->isVisible(), count > 0);
        }
    }

    void recentTilesTakeNewTasksInPlace()
    {
        DashboardFixture fixture(true, tasks(7));
        auto dashboard = fixture.dashboard();
        dashboard->show();
        const QList<RecentContentTile *> before = dashboard->findChildren<RecentContentTile *>();
        QCOMPARE(before.size(), 6);
        const auto shown = [&] {
            QStringList ids;
            for (RecentContentTile *tile : dashboard->findChildren<RecentContentTile *>())
                ids.append(tile->task().id);
            return ids;
        };
        const auto nameOf = [](RecentContentTile *tile) {
            return tile->findChild<ElidedLabel *>()->text();
        };

        // A new task comes first: every tile shows the task now in its place, and the tiles stay.
        const QString document = fixture.transfers.writeFile(QStringLiteral("report.pdf"));
        fixture.transferStore->sendFiles({document});
        const QString newID = fixture.transferStore->tasks().first().id;
        QTRY_COMPARE(shown().first(), newID);
        QCOMPARE(shown(), QStringList({newID, "task-0", "task-1", "task-2", "task-3", "task-4"}));
        QCOMPARE(dashboard->findChildren<RecentContentTile *>(), before);
        // What each tile shows is its new task's: name, time and file-type symbol (a document where a photo was).
        const auto iconOf = [](RecentContentTile *tile) {
            return tile->findChild<QLabel *>("recentIcon")->pixmap().toImage();
        };
        const auto symbolOf = [&](const QString &fileName) {
            return SymbolIcon::pixmap(SymbolIcon::named(fileTypeSymbolName(fileName)).value_or(Symbol::doc),
                                      ViewColors::blue(), 28, dashboard->devicePixelRatioF())
                .toImage();
        };
        const QList<TransferTaskRecord> now = fixture.transferStore->tasks();
        for (qsizetype index = 0; index < before.size(); ++index) {
            QCOMPARE(nameOf(before[index]), now[index].fileName);
            QCOMPARE(before[index]->findChildren<QLabel *>().last()->text(),
                     RecentContentTile::timeText(now[index].updatedAt));
            QCOMPARE(iconOf(before[index]), symbolOf(now[index].fileName));
        }
        QCOMPARE(nameOf(before[0]), "report.pdf");
        QVERIFY(symbolOf("report.pdf") != symbolOf("task-0.jpg"));

        // Fewer tasks than tiles: the tiles past the list go, the rest stay.
        fixture.transferStore->clearFinishedTasks();
        QTRY_COMPARE(dashboard->findChildren<RecentContentTile *>().size(), 1);
        QCOMPARE(dashboard->findChildren<RecentContentTile *>().first(), before.first());
        QCOMPARE(shown(), QStringList{newID});
        QVERIFY(dashboard->findChild<QPushButton *>("browsePhoneButton")->isVisible());
    }

    void dropsInstallPackagesOrSendFiles()
    {
        DashboardFixture fixture;
        QStringList installed;
        DeviceOverviewPane::Actions actions;
        actions.installURLs = [&](const QStringList &paths) {
            installed = paths;
        };
        DeviceOverviewPane pane("Pixel", fixture.transferStore, fixture.management.store.get(), std::nullopt, actions);
        const QString package = fixture.transfers.writeFile("app.apk"), document = fixture.transfers.writeFile("a.pdf");

        QVERIFY(pane.handleDrop({QUrl::fromLocalFile(package)}));
        QCOMPARE(installed, QStringList{package});
        QVERIFY(!pane.handleDrop({QUrl("https://example.org/a.apk")}));
        const qsizetype sent = fixture.transferStore->tasks().size();
        QVERIFY(pane.handleDrop({QUrl::fromLocalFile(package), QUrl::fromLocalFile(document)}));
        QCOMPARE(installed, QStringList{package});
        QTRY_COMPARE(fixture.transferStore->tasks().size(), sent + 2);
    }

    // A folder dropped with a file on the overview says why it is not sent, and the phone stays connected: the file
    // goes, the dashboard still asks the phone, and closing the bar drops the reason.
    void aDroppedFolderIsRefusedWithoutLosingThePhone()
    {
        DashboardFixture fixture;
        auto dashboard = fixture.dashboard();
        dashboard->show();
        QTRY_COMPARE(fixture.requests("device.snapshot"), 1);
        QTRY_VERIFY(fixture.idle());
        auto *pane = qobject_cast<DeviceOverviewPane *>(dashboard->sectionPane());
        const QString folder = fixture.transfers.folder.filePath("相册");
        QVERIFY(QDir().mkpath(folder));
        const QString document = fixture.transfers.writeFile("report.pdf");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(document)});
        const QPoint centre = pane->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &drop);
        QVERIFY(drop.isAccepted());

        QCOMPARE(fixture.transferStore->phase().kind, TransferStore::Phase::Kind::connected);
        QCOMPARE(fixture.transferStore->tasks().size(), 1);
        QCOMPARE(fixture.transferStore->tasks().first().fileName, "report.pdf");
        QCOMPARE(fixture.transferStore->tasks().first().status, TransferTaskRecord::Status::sending);
        QVERIFY(dashboard->messageBar()->isVisible() && dashboard->messageBar()->isError());
        QCOMPARE(dashboard->messageBar()->text(), "当前版本请拖入文件；文件夹传输将在后续增量开放。");
        QCOMPARE(pane->connectionLabel()->text(), "无线已连接");
        dashboard->setSection(Section::applications);
        QTRY_COMPARE(fixture.requests("apps.list"), 1);
        QTest::mouseClick(dashboard->messageBar()->closeButton(), Qt::LeftButton);
        QCOMPARE(fixture.transferStore->sendRefusal(), std::nullopt);
        QVERIFY(!dashboard->messageBar()->isVisible());
        QTRY_VERIFY(fixture.idle());
    }

    void barsThatComeOnTheirOwnMoveNothing_data()
    {
        const ComingBars rows;
        rows("the message bar", {}, "message");
        rows("the activity dock", {}, "dock");
        rows("the selection bar", {}, "selection");
        rows("the selection bar over the dock", {"dock"}, "selection");
        rows("the dock under the selection bar", {"selection"}, "dock");
        rows("the message over the selection bar and the dock", {"dock", "selection"}, "message");
    }

    // What lies under the pointer stays where it is when a bar comes: the way back and the category chips above the
    // content, the rows of the list and the bars already shown. Each bar that comes takes its place under the content,
    // on top of those already there, where the list gives up its lowest rows, so that no room stays empty while none
    // is there and the way back is never covered. A double click on the last row shown opens that row, also when its
    // first click brings the selection's actions.
    void barsThatComeOnTheirOwnMoveNothing()
    {
        const auto [before, bar] = ComingBars::fetch();
        DashboardFixture fixture;
        QList<ManagedFileEntry> entries;
        for (int index = 0; index < 40; ++index)
            entries.append(fileEntry(QString::number(index), QStringLiteral("file %1.txt").arg(index)));
        fixture.management.channel->answer = [&entries](const FakeManagementChannel::Request &request) {
            if (request.action == "files.roots")
                return FakeManagementChannel::Reply::json(
                    encodeManaged(ManagedStorageRoots{1, {{"root", "内部存储", false, 1, 2}}}));
            if (request.action == "files.list")
                return FakeManagementChannel::Reply::json(filePageJson("root", entries));
            return FakeManagementChannel::Reply{};
        };
        auto dashboard = fixture.dashboard(Section::content, Category::allFiles);
        dashboard->show();
        auto *pane = qobject_cast<ManagedFilesPane *>(dashboard->sectionPane());
        auto *browser = static_cast<ManagedFileBrowser *>(pane->fileBrowserPage());
        QTRY_COMPARE(browser->entries().size(), 40);
        QTRY_VERIFY(fixture.idle());
        dashboard->dismissMessage();
        QListView *view = browser->view();
        QWidget *dockBar = dashboard->activityDock()->parentWidget();
        const auto barOf = [&](const QString &name) -> QWidget * {
            if (name == "message")
                return dashboard->messageBar();
            return name == "dock" ? dockBar : pane->selectionBar();
        };
        const auto bring = [&](const QString &name) {
            if (name == "message")
                fixture.management.store->setErrorMessage("无法重命名");
            else if (name == "dock")
                fixture.transferStore->sendFiles({fixture.transfers.writeFile("a.txt")});
            else
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                                  view->visualRect(view->model()->index(0, 0)).center());
        };
        for (const QString &shown : before) {
            bring(shown);
            QTRY_VERIFY(barOf(shown)->isVisible());
        }
        QApplication::processEvents();
        const auto lastWholeRow = [view] {
            int last = 0;
            while (view->visualRect(view->model()->index(last + 1, 0)).bottom() <= view->viewport()->rect().bottom())
                ++last;
            return last;
        };
        const int last = lastWholeRow();
        QVERIFY(last > 0 && last < 39);
        const QRect lastRect = view->visualRect(view->model()->index(last, 0));
        const QPoint listOrigin = view->viewport()->mapToGlobal(QPoint(0, 0));
        const auto under = [&](const QPoint &global) {
            return dashboard->childAt(dashboard->mapFromGlobal(global));
        };
        QList<QWidget *> fixed{pane->toolbar()->homeButton(), pane->toolbar()->chip(Category::videos)};
        for (const QString &shown : before)
            fixed.append(barOf(shown));
        QList<QPoint> origins;
        for (QWidget *widget : fixed)
            origins.append(widget->mapToGlobal(QPoint(0, 0)));
        const QPoint onLastRow = view->viewport()->mapToGlobal(lastRect.center());
        QCOMPARE(under(onLastRow), view->viewport());

        QWidget *coming = barOf(bar);
        if (bar == "selection") {
            // A person's double click: the second click follows the first at once.
            const QPoint onRow = view->viewport()->mapFromGlobal(onLastRow);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onRow);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, onRow);
            QTRY_COMPARE(fixture.management.channel->downloads.size(), 1);
            QCOMPARE(fixture.management.channel->downloads.first().first.first().remoteFileID, entries[last].id);
            QTRY_VERIFY(!fixture.management.store->previewLoadingFileID());
        } else {
            bring(bar);
        }
        QTRY_VERIFY(coming->isVisible());
        // Layouts follow on the next turns of the event loop.
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        for (qsizetype index = 0; index < fixed.size(); ++index) {
            QCOMPARE(fixed[index]->mapToGlobal(QPoint(0, 0)), origins[index]);
            QVERIFY(fixed[index]->isVisible());
            const QPoint centre = fixed[index]->mapToGlobal(fixed[index]->rect().center());
            QVERIFY2(fixed[index] == under(centre) || fixed[index]->isAncestorOf(under(centre)),
                     qPrintable(fixed[index]->objectName() + " covered by " + under(centre)->objectName()));
        }
        QCOMPARE(view->viewport()->mapToGlobal(QPoint(0, 0)), listOrigin);
        const QRect lastRectNow = view->visualRect(view->model()->index(last, 0));
        QCOMPARE(lastRectNow.top(), lastRect.top());
        QCOMPARE(lastRectNow.height(), lastRect.height());
        if (bar == "selection")
            return;

        // The last row shown whole now opens on a double click.
        const int shownLast = lastWholeRow();
        QVERIFY(shownLast > 0 && shownLast <= last);
        const QPoint onRow = view->visualRect(view->model()->index(shownLast, 0)).center();
        QCOMPARE(under(view->viewport()->mapToGlobal(onRow)), view->viewport());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onRow);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, onRow);
        QTRY_COMPARE(fixture.management.channel->downloads.size(), 1);
        QCOMPARE(fixture.management.channel->downloads.first().first.first().remoteFileID, entries[shownLast].id);
        QTRY_VERIFY(!fixture.management.store->previewLoadingFileID());
    }

    void statusCardShowsTheSnapshot()
    {
        DashboardFixture fixture;
        ManagedDeviceSnapshot snapshot;
        snapshot.battery.charging = true;
        fixture.management.channel->answer = [&](const FakeManagementChannel::Request &request) {
            return request.action == "device.snapshot" ? FakeManagementChannel::Reply::json(encodeManaged(snapshot))
                                                       : FakeManagementChannel::Reply{};
        };
        auto dashboard = fixture.dashboard();
        dashboard->show();
        auto *pane = qobject_cast<DeviceOverviewPane *>(dashboard->sectionPane());
        QTRY_VERIFY(pane->statusCard()->isVisible());
        QVERIFY(pane->findChild<QWidget *>("permissionHint")->isVisible());
        QVERIFY(!pane->findChild<QWidget *>("syncingRow")->isVisible());
        const auto *battery = pane->findChild<DeviceStatusRow *>("batteryRow");
        QCOMPARE(battery->iconName(), "battery.100percent.bolt");
        QCOMPARE(battery->value(), "暂不可用");
        QCOMPARE(pane->connectionLabel()->text(), "无线已连接");
        QCOMPARE(pane->findChildren<OverviewInfoRow *>().size(), 5);
        QVERIFY(!pane->findChild<OverviewInfoRow *>()->isVisible());
        QTRY_VERIFY(fixture.idle());
    }

    // The trusted phones and "添加另一台手机" sit in the group "管理可信设备" of the details, closed at first; the
    // mouse, Space, Return and Enter open and close it, and a screen reader hears whether it is open.
    void trustedPhonesSitInACollapsibleGroup_data()
    {
        const Presses rows;
        rows("mouse", std::nullopt, Qt::NoModifier);
        rows("space", Qt::Key_Space, Qt::NoModifier);
        rows("return", Qt::Key_Return, Qt::NoModifier);
        rows("keypad enter", Qt::Key_Enter, Qt::KeypadModifier);
    }

    void trustedPhonesSitInACollapsibleGroup()
    {
        const auto [pressedKey, pressedModifiers] = Presses::fetch();
        const std::optional<Qt::Key> key = pressedKey;
        const Qt::KeyboardModifiers modifiers = pressedModifiers;
        DashboardFixture fixture;
        answerSnapshots(fixture);
        auto dashboard = fixture.dashboard();
        DeviceOverviewPane *pane = shownOverview(fixture, *dashboard);
        QVERIFY(pane);
        QTest::mouseClick(pane->detailsButton(), Qt::LeftButton);
        auto *manager = pane->findChild<TrustedDeviceManager *>();
        QVERIFY(manager && manager->disclosure());
        DisclosureGroup *group = manager->disclosure();
        QToolButton *toggle = group->toggle();
        QTRY_VERIFY(toggle->isVisible() && !toggle->rect().isEmpty());
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(toggle);
        QCOMPARE(accessible->text(QAccessible::Name), "管理可信设备");
        const auto shows = [&](bool expanded) {
            const QAccessible::State state = accessible->state();
            return group->isExpanded() == expanded && manager->addDeviceButton()->isVisible() == expanded &&
                   manager->rows().first()->isVisible() == expanded && state.expandable &&
                   bool(state.expanded) == expanded && bool(state.collapsed) == !expanded;
        };
        QVERIFY(shows(false));
        for (const bool expanded : {true, false}) {
            if (key) {
                toggle->setFocus(Qt::TabFocusReason);
                QTest::keyClick(toggle, *key, modifiers);
            } else {
                QTest::mouseClick(toggle, Qt::LeftButton);
            }
            QVERIFY(shows(expanded));
        }
        // The sheet of trusted phones has no such group.
        QVERIFY(!TrustedDeviceManager(fixture.transferStore, false, {}).disclosure());
    }

    // Tab reaches every control of the home section, the trusted phones included; each one it stops on has a name
    // that a screen reader says, and a tile drawn whole shows a focus ring while it alone has the focus.
    void everyTabStopIsNamed()
    {
        DashboardFixture fixture(true, tasks(2));
        answerSnapshots(fixture);
        auto dashboard = fixture.dashboard();
        DeviceOverviewPane *pane = shownOverview(fixture, *dashboard);
        QVERIFY(pane);
        QTest::mouseClick(pane->detailsButton(), Qt::LeftButton);
        const TrustedDeviceManager *manager = pane->findChild<TrustedDeviceManager *>();
        QTRY_VERIFY(!manager->disclosure()->toggle()->rect().isEmpty());
        QTest::mouseClick(manager->disclosure()->toggle(), Qt::LeftButton);
        const QList<TileButton *> tiles = dashboard->findChildren<TileButton *>();
        QCOMPARE(tiles.size(), 5); // four quick actions and the activity dock

        QTest::keyClick(dashboard.get(), Qt::Key_Tab);
        QList<QWidget *> stops;
        QStringList faults;
        for (QWidget *focused = QApplication::focusWidget(); focused && !stops.contains(focused) && stops.size() < 100;
             focused = QApplication::focusWidget()) {
            stops.append(focused);
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(focused);
            if (!accessible || accessible->text(QAccessible::Name).trimmed().isEmpty())
                faults.append(QString::fromLatin1(focused->metaObject()->className()) + " without a name");
            for (TileButton *tile : tiles) {
                if (ringed(tile) != (tile == focused))
                    faults.append(tile->accessibleName() + " ringed wrongly");
            }
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(", ")));
        for (QWidget *control : QList<QWidget *>{tiles.begin(), tiles.end()} +
                                    QList<QWidget *>{manager->disclosure()->toggle(), manager->addDeviceButton(),
                                                     manager->rows().first()->findChild<QLineEdit *>("nameField")})
            QVERIFY(stops.contains(control));
    }

    // In the group "管理可信设备" Tab goes as the eye reads: the group's header, down the phones' rows, along a row
    // from its leading edge, then the add button below them.
    void trustedPhonesAreTabbedAsTheyRead()
    {
        DashboardFixture fixture(true, {}, {trustedPhone("Galaxy", 2)});
        answerSnapshots(fixture);
        auto dashboard = fixture.dashboard();
        dashboard->resize(980, 650);
        DeviceOverviewPane *pane = shownOverview(fixture, *dashboard);
        QVERIFY(pane);
        QTest::mouseClick(pane->detailsButton(), Qt::LeftButton);
        auto *manager = pane->findChild<TrustedDeviceManager *>();
        QTRY_VERIFY(!manager->disclosure()->toggle()->rect().isEmpty());
        QTest::mouseClick(manager->disclosure()->toggle(), Qt::LeftButton);
        QCOMPARE(manager->rows().size(), 2);
        QTRY_VERIFY(manager->rows().last()->y() > manager->rows().first()->geometry().bottom());

        const QList<QWidget *> read = tabStopsAsRead(manager);
        QCOMPARE(read.size(), 2 + 2 * 3);
        QCOMPARE(read.first(), manager->disclosure()->toggle());
        QCOMPARE(read.last(), manager->addDeviceButton());
        QCOMPARE(accessibleNames(tabbedFrom(read.first(), read.size())), accessibleNames(read));
    }

    // Return, Enter and Space press the quick actions and the activity dock.
    void tilesAnswerTheKeyboard_data()
    {
        const TileKeys rows;
        rows("photos by Return", "查看照片", Qt::Key_Return, Qt::NoModifier, Section::content, Category::photos);
        rows("phone by keypad Enter", "浏览手机", Qt::Key_Enter, Qt::KeypadModifier, Section::content,
             Category::allFiles);
        rows("applications by Space", "安装应用", Qt::Key_Space, Qt::NoModifier, Section::applications,
             Category::allFiles);
        rows("activity by Return", "活动", Qt::Key_Return, Qt::NoModifier, Section::home, Category::allFiles);
    }

    void tilesAnswerTheKeyboard()
    {
        const auto [name, key, modifiers, section, category] = TileKeys::fetch();
        DashboardFixture fixture(false, tasks(1));
        auto dashboard = fixture.dashboard();
        dashboard->show();
        QVERIFY(QTest::qWaitForWindowActive(dashboard.get()));
        TileButton *pressed = nullptr;
        for (TileButton *tile : dashboard->findChildren<TileButton *>())
            pressed = tile->accessibleName() == name ? tile : pressed;
        QVERIFY(pressed);
        pressed->setFocus(Qt::TabFocusReason);
        QTest::keyClick(pressed, key, modifiers);
        QCOMPARE(dashboard->section(), section);
        QCOMPARE(dashboard->contentCategory(), category);
        QCOMPARE(dashboard->activityDock()->isShowingActivity(), pressed == dashboard->activityDock());
        dashboard->activityDock()->setShowingActivity(false);
    }

    void detailsButtonTogglesTheDetails()
    {
        DashboardFixture fixture;
        auto dashboard = fixture.dashboard();
        dashboard->show();
        QTRY_COMPARE(fixture.requests("device.snapshot"), 1);
        auto *pane = qobject_cast<DeviceOverviewPane *>(dashboard->sectionPane());
        QVERIFY(pane && !pane->statusCard()->isVisible());
        pane->detailsButton()->click();
        QCOMPARE(pane->detailsButton()->text(), "收起设备详情");
        QVERIFY(!pane->findChild<QWidget *>("detailsBlock")->isHidden());
        pane->detailsButton()->click();
        QCOMPARE(pane->detailsButton()->text(), "设备详情");
        QTRY_VERIFY(fixture.idle());
    }
};

QTEST_MAIN(DeviceDashboardShellTest)
#include "test_device_dashboard_shell.moc"

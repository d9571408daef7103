#include "../android_usb_views/UsbViewsTestSupport.h"
#include "../device_management/ManagementStoreFixture.h"
#include "DeviceManagementDashboard.h"
#include "DeviceOverviewPane.h"
#include "DeviceStatusRow.h"
#include "ElidedLabel.h"
#include "FileTypeSymbol.h"
#include "HomeQuickAction.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFilesPane.h"
#include "ManagementMessageBar.h"
#include "OverviewInfoRow.h"
#include "RecentContentTile.h"
#include "SymbolIcon.h"
#include "TestSupport.h"
#include "TransferActivityDock.h"
#include "ViewColors.h"

#include <QPushButton>
#include <QSignalSpy>

using namespace DeviceManagementDashboardPresentation;
using Category = ManagedContentCategory;
using Section = DashboardSection;

// management connected, the state of the phone on USB (none: not plugged in), battery → summary
using Summaries = TestTable<bool, std::optional<AndroidDevice::State>, std::optional<qint64>, QString>;
using Drops = TestTable<QStringList, DropDecision::Kind, QStringList>;
using Symbols = TestTable<QString, QString>;
using QuickClicks = TestTable<QString, Section, Category, QString>;
using ContentEntries = TestTable<Section, Category, QString>;

namespace {

// A transfer store over a fake core, a management store over a fake channel and a device store without adb,
// each kept for the dashboard that the test builds over them.
struct DashboardFixture
{
    StoreFixture transfers;
    ManagementStoreFixture management;
    UsbViewsTestSupport::DeviceStoreFixture devices;
    TransferStore *transferStore = nullptr;

    explicit DashboardFixture(bool connected = true, const QList<TransferTaskRecord> &tasks = {})
    {
        transfers.saveTasks(tasks);
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

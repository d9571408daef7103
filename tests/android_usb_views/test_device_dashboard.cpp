#include "AwaitTask.h"
#include "DeviceDashboard.h"
#include "DeviceHero.h"
#include "DisclosureGroup.h"
#include "InstallActionCard.h"
#include "InstallHistoryCard.h"
#include "InstallPlanCard.h"
#include "InstallStatusBanner.h"
#include "StatusBanner.h"
#include "TransferActionCard.h"
#include "TransferStatusBanner.h"
#include "TransferTaskCenter.h"
#include "USBCompanionSetupCard.h"
#include "USBPhoneProblemBanner.h"
#include "UsbViewsTestSupport.h"
#include "ViewMessageBox.h"

#include <QDBusConnection>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>

using namespace Qt::StringLiterals;

using namespace UsbViewsTestSupport;
using namespace ViewsTestSupport;

// connected: the link is up and a file is on its way; cards: the quick actions shown, by object name
using Compositions = TestTable<bool, bool, AndroidDevice::State, QString, bool>;

namespace {

// A dashboard over the two stores whose host actions only note that they were called.
struct DashboardFixture
{
    StoreFixture transfers;
    DeviceStoreFixture devices;
    QStringList calls;
    std::optional<AndroidDevice> companionPhone; // handed to the last companion install
    std::unique_ptr<DeviceDashboard> view;

    DeviceDashboard &make(const AndroidDevice &device, bool showsTransfer)
    {
        const auto note = [this](const char *action) {
            return [this, action] {
                calls << action;
            };
        };
        view = std::make_unique<DeviceDashboard>(device, devices.store.get(), transfers.store.get(), showsTransfer,
                                                 DeviceDashboard::Actions{note("chooseAPK"), note("transferAction"),
                                                                          [this, note](const AndroidDevice &phone) {
                                                                              companionPhone = phone;
                                                                              note("installCompanionAction")();
                                                                          },
                                                                          note("showPairing")});
        return *view;
    }
};

QString shownCards(const DeviceDashboard &dashboard)
{
    QStringList names;
    for (const QWidget *card : dashboard.quickActionGrid()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (card->isVisibleTo(&dashboard))
            names.append(card->objectName());
    return names.join(", ");
}

const APKInstallPlan splitPlan{APKInstallPlan::Kind::split,
                               {"/home/me/下载/天气/base.apk", "/home/me/下载/天气/split_config.arm64_v8a.apk",
                                "/home/me/下载/天气/split_config.zh.apk"},
                               48'300'000,
                               "APK Signature Scheme v2 + v3"};

// A file manager on the session bus, as a desktop's own one answers: it shows the items it is asked to and returns
// nothing.
class BusFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList &uris, const QString &) { shown += uris; }
};

void saveScreenshot(QWidget *widget, const QString &name)
{
    const QDir folder(QDir::tempPath() + "/tavrine-screens");
    QVERIFY(folder.mkpath(".") && widget->grab().save(folder.filePath(name)));
    qInfo("screenshot: %s", qPrintable(folder.filePath(name)));
}

} // namespace

class DeviceDashboardTest : public QObject
{
    Q_OBJECT

private slots:
    void composition_data()
    {
        const Compositions rows;
        const auto authorized = AndroidDevice::State::authorized;
        rows("this phone's link, idle", true, false, authorized,
             "companionSetupCard, installActionCard, transferActionCard", true);
        rows("this phone's link, connected", true, true, authorized, "installActionCard, transferActionCard", true);
        rows("another phone's link", false, true, authorized, "installActionCard", true);
        rows("phone not authorised", false, false, AndroidDevice::State::unauthorized, "installActionCard", false);
    }

    void composition()
    {
        const auto [showsTransfer, connected, state, cards, installEnabled] = Compositions::fetch();
        DashboardFixture fixture;
        fixture.devices.make();
        fixture.transfers.make();
        if (connected) {
            fixture.transfers.pair();
            fixture.transfers.deliver(
                {progress(TransferEventKind::sending, "video", "旅行视频.mp4", 640'000'000, 1'024'000'000)});
        }
        const DeviceDashboard &dashboard = fixture.make(phone("R5CT", state), showsTransfer);
        QCOMPARE(dashboard.windowTitle(), "Galaxy S23");
        QCOMPARE(shownCards(dashboard), cards);
        QCOMPARE(dashboard.installCard()->chooseButton()->isEnabled(), installEnabled);
        QCOMPARE(dashboard.taskCenter() != nullptr, showsTransfer);
        // The latest transfer event shows whoever's link it is.
        QCOMPARE(dashboard.transferBanner()->isVisibleTo(&dashboard), connected);
        QCOMPARE(dashboard.planCard()->isVisibleTo(&dashboard), false);
        QCOMPARE(dashboard.installBanner()->isVisibleTo(&dashboard), false);
        QCOMPARE(dashboard.historyCard()->isVisibleTo(&dashboard), false);
        QCOMPARE(dashboard.deviceInfo()->isExpanded(), false);
    }

    void gridFitsColumnsToTheWidth()
    {
        DashboardFixture fixture;
        fixture.devices.make();
        fixture.transfers.make();
        DeviceDashboard &dashboard = fixture.make(phone(), true);
        const QList<QWidget *> cards{dashboard.companionCard(), dashboard.installCard(), dashboard.transferCard()};
        dashboard.resize(440, 700);
        dashboard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dashboard));
        // Narrow: one column, the cards under each other at the grid's full width.
        QTRY_VERIFY(cards[1]->y() >= cards[0]->geometry().bottom() + 14 &&
                    cards[2]->y() >= cards[1]->geometry().bottom() + 14);
        for (const QWidget *card : cards) {
            QCOMPARE(card->x(), 0);
            QCOMPARE(card->width(), dashboard.quickActionGrid()->width());
            QVERIFY(card->height() >= 210);
        }
        QVERIFY(dashboard.quickActionGrid()->width() < 2 * 260 + 14);
        // The page scrolls down to its last section.
        dashboard.scrollArea()->verticalScrollBar()->setValue(INT_MAX);
        const QWidget *viewport = dashboard.scrollArea()->viewport();
        QTRY_VERIFY(viewport->rect().contains(
            QRect(dashboard.deviceInfo()->mapTo(viewport, QPoint()), dashboard.deviceInfo()->size())));

        // Wide: the column stops at 900 and holds the three cards side by side, 14 apart.
        dashboard.resize(1200, 700);
        QTRY_COMPARE(dashboard.quickActionGrid()->width(), 900);
        QTRY_COMPARE(cards[2]->y(), cards[0]->y());
        QCOMPARE(cards[1]->y(), cards[0]->y());
        QCOMPARE(cards[1]->x(), cards[0]->geometry().right() + 1 + 14);
        QCOMPARE(cards[2]->x(), cards[1]->geometry().right() + 1 + 14);
        QCOMPARE(cards[0]->width(), (900 - 2 * 14) / 3);
        QCOMPARE(dashboard.hero()->width(), 900);
        QCOMPARE(dashboard.hero()->mapTo(&dashboard, QPoint()), QPoint(24, 24));
    }

    void companionInstallIsConfirmedFirst()
    {
        DashboardFixture fixture;
        DeviceStore &store = fixture.devices.make();
        fixture.transfers.make();
        DeviceDashboard &dashboard = fixture.make(phone(), true);
        // Without a companion package the button stays disabled; the confirmation is what is tested here.
        QPushButton *install = dashboard.companionCard()->installButton();
        QVERIFY(!install->isEnabled());

        for (const auto answer : {QMessageBox::RejectRole, QMessageBox::AcceptRole}) {
            store.setCompanionInstallState(DeviceStore::CompanionInstallState::failed("安装失败"));
            ViewMessageBox::clearShown();
            ViewMessageBox::setNextAnswer(answer);
            install->setEnabled(true);
            install->click();
            QVERIFY(!dashboard.isConfirmingCompanionInstall());
            QCOMPARE(ViewMessageBox::shown().size(), 1);
            QCOMPARE(ViewMessageBox::shown()[0].text, "安装 Tavrine 手机端？");
            QCOMPARE(ViewMessageBox::shown()[0].informativeText,
                     "将在 Galaxy S23 上安装或更新 Tavrine 手机端（未知大小）。Android 可能会要求你在手机上确认一次，"
                     "完成后 Tavrine 会自动打开并继续配对。");
            QCOMPARE(ViewMessageBox::shown()[0].buttons, QStringList({"安装并连接", "取消"}));
        }
        // Cancel changed nothing; confirm cleared the failed state, then handed over to the host.
        QCOMPARE(store.companionInstallState(), DeviceStore::CompanionInstallState::idle());
        QCOMPARE(fixture.calls, QStringList{"installCompanionAction"});

        dashboard.companionCard()->connectExistingButton()->click();
        dashboard.installCard()->chooseButton()->click();
        dashboard.transferCard()->primaryButton()->click();
        QCOMPARE(fixture.calls,
                 QStringList({"installCompanionAction", "transferAction", "chooseAPK", "transferAction"}));
        QCOMPARE(fixture.companionPhone, phone());

        // Answered after another phone took the page's id (another model of its serial): the answer is for the
        // phone the question named.
        fixture.calls.clear();
        install->setEnabled(true);
        install->click();
        QPointer<QMessageBox> asked = dashboard.findChild<QMessageBox *>();
        QVERIFY(asked && asked->isVisible());
        AndroidDevice other = phone();
        other.model = "SM_A546B";
        other.marketingName.reset();
        dashboard.setDevice(other, true);
        const QList<QAbstractButton *> answers = asked->buttons();
        const auto accept = std::ranges::find_if(answers, [&asked](QAbstractButton *button) {
            return asked->buttonRole(button) == QMessageBox::AcceptRole;
        });
        QVERIFY(accept != answers.end());
        QTest::mouseClick(*accept, Qt::LeftButton);
        QTRY_COMPARE(fixture.calls, QStringList{"installCompanionAction"});
        QCOMPARE(fixture.companionPhone, phone());
        QTRY_VERIFY(!asked); // answered, the question goes

        // The page may go while the question is open (the phone unplugged): the question goes with it.
        install->setEnabled(true);
        install->click();
        QVERIFY(dashboard.isConfirmingCompanionInstall());
        const QPointer<QMessageBox> question = dashboard.findChild<QMessageBox *>();
        QVERIFY(question && question->isVisible());
        fixture.view.reset();
        QVERIFY(!question);
        QCOMPARE(fixture.calls, QStringList{"installCompanionAction"});
    }

    void planCardActsOnTheStore()
    {
        DashboardFixture fixture;
        DeviceStore &store = fixture.devices.make();
        fixture.transfers.make();
        DeviceDashboard &dashboard = fixture.make(phone(), false);
        store.setPendingInstallPlan(splitPlan);
        QVERIFY(dashboard.planCard()->isVisibleTo(&dashboard));
        dashboard.planCard()->cancelButton()->click();
        QCOMPARE(store.pendingInstallPlan(), std::nullopt);
        QVERIFY(!dashboard.planCard()->isVisibleTo(&dashboard));

        // This store has no adb: confirming fails at once, and the banner says why.
        store.setPendingInstallPlan(splitPlan);
        dashboard.planCard()->confirmButton()->click();
        QVERIFY(dashboard.installBanner()->isVisibleTo(&dashboard));
        QCOMPARE(transcript(dashboard.installBanner()), "安装未完成 | 请先连接并选择一台 Android 手机。");
    }

    void stateBannerSaysWhyThePhoneCannotTakeCommands_data()
    {
        // The phone's state, and the banner over the quick actions (empty: none).
        QTest::addColumn<AndroidDevice::State>("state");
        QTest::addColumn<QString>("banner");
        const QString waiting = "等待手机确认 | 请解锁手机，在“允许 USB 调试吗？”的提示中点按“允许”。";
        QTest::newRow("authorised") << AndroidDevice::State::authorized << QString();
        QTest::newRow("unauthorised") << AndroidDevice::State::unauthorized << waiting;
        QTest::newRow("authorizing") << AndroidDevice::State::authorizing << waiting;
        QTest::newRow("connecting") << AndroidDevice::State::connecting
                                    << QString("正在连接手机 | 请保持 USB 线连接，稍等片刻。");
        QTest::newRow("no permissions")
            << AndroidDevice::State::noPermissions
            << "无法打开手机的 USB 接口 | " +
                   ADBClientError(ADBClientError::Case::usbPermissionDenied).errorDescription();
        QTest::newRow("offline") << AndroidDevice::State::offline
                                 << "设备暂时离线 | " +
                                        ADBClientError(ADBClientError::Case::deviceOffline).errorDescription();
        const QString noSystem = " | 手机现在不在系统中运行，无法通过 USB 操作。请重新启动手机，解锁后再试。";
        QTest::newRow("recovery") << AndroidDevice::State::recovery << "恢复模式" + noSystem;
        QTest::newRow("bootloader") << AndroidDevice::State::bootloader << "引导模式" + noSystem;
        QTest::newRow("unknown") << AndroidDevice::State::unknown << "暂不可用" + noSystem;
    }
    void stateBannerSaysWhyThePhoneCannotTakeCommands()
    {
        QFETCH(AndroidDevice::State, state);
        QFETCH(QString, banner);
        DashboardFixture fixture;
        fixture.devices.make();
        fixture.transfers.make();
        DeviceDashboard &dashboard = fixture.make(phone("R5CT", state), false);
        QCOMPARE(dashboard.stateBanner()->isVisibleTo(&dashboard), !banner.isEmpty());
        if (!banner.isEmpty())
            QCOMPARE(transcript(dashboard.stateBanner()), banner);
        QVERIFY(!transcript(&dashboard).contains("请解锁手机，并允许这台电脑连接") ||
                state != AndroidDevice::State::noPermissions);
        // The header says so too: only a phone that takes commands is connected.
        QCOMPARE(transcript(dashboard.hero()).contains("已连接 | · | Android 14 | 安全连接"), banner.isEmpty());
        // Shown at the window's usual size, the banner's texts are whole.
        dashboard.resize(960, 900);
        dashboard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dashboard));
        QCOMPARE(cutTexts(dashboard.stateBanner()), QStringList());
        if (state == AndroidDevice::State::noPermissions)
            saveScreenshot(&dashboard, "usb-device-dashboard-no-permissions.png");
        // Once the phone is approved the banner goes, in place.
        dashboard.setDevice(phone("R5CT"), false);
        QVERIFY(!dashboard.stateBanner()->isVisibleTo(&dashboard));
    }

    // The banner the approval screen shows follows the store: while another adb program holds the phone on the
    // bus, and no longer once it does not.
    void phoneHeldByAnotherAdbIsSaid()
    {
        struct ListingNothing : CommandRunning
        {
            QCoro::Task<CommandResult> run(QString, QStringList arguments, std::chrono::milliseconds) override
            {
                co_return CommandResult{arguments, "List of devices attached\n\n", {}, 0};
            }
        };
        struct OnePhone : USBDeviceRegistry
        {
            QList<USBRegistryEntry> attachedDevices() const override
            {
                return {{"18d1", "4ee7", "Pixel 7", "Google", "HELD", true}};
            }
        };
        QTemporaryDir folder;
        bool otherServer = true;
        auto client = std::make_shared<ADBClient>(
            "/fake/adb", std::make_shared<ListingNothing>(),
            std::make_shared<ADBServerController>([](const QString &, const QStringList &) {}));
        DeviceStore store(client, InstallHistoryStore(folder.filePath("history.json")),
                          {std::make_shared<OnePhone>(), folder.filePath("none"), [&otherServer] {
                               return otherServer;
                           }});
        USBPhoneProblemBanner banner(&store);
        QVERIFY(banner.isHidden());
        awaitTask(store.refresh());
        QVERIFY(!banner.isHidden());
        QCOMPARE(banner.titleLabel()->text(), "手机正被其他 adb 程序使用");
        QCOMPARE(banner.textLabel()->text(), store.usbPhoneProblem().value_or(QString()));
        otherServer = false;
        awaitTask(store.refresh());
        QVERIFY(banner.isHidden());
    }

    void revealSaysWhenNothingCanShowTheFolder_data()
    {
        QTest::addColumn<bool>("fileManagerRuns");
        QTest::newRow("a file manager on the bus") << true;
        QTest::newRow("no file manager, no program that opens folders") << false;
    }

    void revealSaysWhenNothingCanShowTheFolder()
    {
        QFETCH(bool, fileManagerRuns);
        DashboardFixture fixture;
        fixture.devices.make();
        fixture.transfers.make();
        fixture.transfers.pair();
        fixture.transfers.deliver({progress(TransferEventKind::completed, "photo", "海边.jpg", 10, 10)});
        DeviceDashboard &dashboard = fixture.make(phone(), true);
        dashboard.resize(980, 650);
        dashboard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dashboard));
        QPushButton *reveal = dashboard.transferBanner()->revealButton();
        QVERIFY(reveal->isVisible());
        dashboard.scrollArea()->ensureWidgetVisible(reveal);

        BusFileManager fileManager;
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QString service = u"org.freedesktop.FileManager1"_s, path = u"/org/freedesktop/FileManager1"_s;
        if (fileManagerRuns) {
            QVERIFY(bus.registerObject(path, &fileManager, QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService(service));
        }
        const auto leaveBus = qScopeGuard([&] {
            bus.unregisterService(service);
            bus.unregisterObject(path);
        });
        // Where no program on the PATH opens folders, the toolkit finds none.
        const QByteArray searchPath = qgetenv("PATH");
        const QTemporaryDir emptyFolder;
        qputenv("PATH", emptyFolder.path().toLocal8Bit());
        QTest::mouseClick(reveal, Qt::LeftButton);
        qputenv("PATH", searchPath);

        const QString folder = fixture.transfers.inbox();
        QVERIFY(QFileInfo(folder).isDir());
        QLabel *problem = dashboard.transferBanner()->revealProblemLabel();
        QCOMPARE(problem->isVisible(), !fileManagerRuns);
        QCOMPARE(fileManager.shown,
                 fileManagerRuns ? QStringList{QUrl::fromLocalFile(folder).toString()} : QStringList());
        if (!fileManagerRuns) {
            QCOMPARE(problem->text(), "没有找到能打开文件夹的文件管理器。收到的文件在“" + folder + "”。");
            QVERIFY(!problem->visibleRegion().isEmpty());
            // The next event of a transfer is shown without it.
            fixture.transfers.deliver({progress(TransferEventKind::completed, "photo-2", "山.jpg", 10, 10)});
            QVERIFY(problem->isHidden());
        }
    }

    void screenshot()
    {
        DashboardFixture fixture;
        const QString serial = "R5CT80ABCDE";
        DeviceStore &store = fixture.devices.make(
            {installRecord("3", serial, {"天气.apk"}, 40), installRecord("2", serial.toLower(), {"其他手机.apk"}, 30),
             installRecord("1", serial, {"base.apk", "split_config.arm64_v8a.apk", "split_config.zh.apk"}, 20, false),
             installRecord("0", serial, {"记账本.apk"}, 10)});
        store.setPendingInstallPlan(splitPlan);
        fixture.transfers.make();
        DeviceDashboard &dashboard = fixture.make(phone(serial), true);
        dashboard.planCard()->fileList()->setExpanded(true);
        dashboard.historyCard()->group()->setExpanded(true);
        dashboard.deviceInfo()->setExpanded(true);
        dashboard.resize(960, 1200);
        dashboard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dashboard));
        QCOMPARE(dashboard.size(), QSize(960, 1200));
        saveScreenshot(&dashboard, "usb-device-dashboard.png");
        // The whole page fits: nothing to scroll, no text cut.
        QTRY_COMPARE(dashboard.scrollArea()->verticalScrollBar()->maximum(), 0);
        QCOMPARE(cutTexts(&dashboard), QStringList());

        QCOMPARE(transcript(dashboard.hero()), "Galaxy S23 | 已连接 | · | Android 14 | 安全连接");
        QCOMPARE(shownCards(dashboard), "companionSetupCard, installActionCard, transferActionCard");
        QCOMPARE(dashboard.companionCard()->subtitle(), "当前电脑版本未包含 Tavrine 手机端安装包，请使用扫码连接。");
        QCOMPARE(transcript(dashboard.planCard()),
                 "准备安装到 Galaxy S23 | Split APK（3 个文件） | 48.3 MB · APK Signature Scheme v2 + v3 | "
                 "[查看 3 个安装包] | base.apk | split_config.arm64_v8a.apk | split_config.zh.apk | "
                 "[确认安装] | [取消]");
        QCOMPARE(transcript(dashboard.historyCard()),
                 "[最近安装] | 天气.apk | 2026年3月1日 09:10 | "
                 "base.apk + split_config.arm64_v8a.apk + split_config.zh.apk | 2026年3月1日 08:50 | "
                 "记账本.apk | 2026年3月1日 08:40");
        QCOMPARE(transcript(dashboard.deviceInfo()),
                 "[设备信息] | 连接方式 | USB | 系统 | Android 14 | 制造商 | samsung | 设备编号 | R5CT80ABCDE");
        // The sections follow each other down the page, 18 apart, none over another.
        const QList<QWidget *> sections{dashboard.hero(),        dashboard.quickActionGrid(), dashboard.planCard(),
                                        dashboard.historyCard(), dashboard.taskCenter(),      dashboard.deviceInfo()};
        for (qsizetype index = 1; index < sections.size(); ++index)
            QVERIFY(sections[index]->y() >= sections[index - 1]->geometry().bottom() + 18);
    }
};

QTEST_MAIN(DeviceDashboardTest)
#include "test_device_dashboard.moc"

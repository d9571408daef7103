#include "DeviceHero.h"
#include "DisclosureGroup.h"
#include "InstallActionCard.h"
#include "InstallHistoryCard.h"
#include "InstallPlanCard.h"
#include "InstallStatusBanner.h"
#include "SpinningIndicator.h"
#include "TransferActionCard.h"
#include "TransferStatusBanner.h"
#include "USBCompanionSetupCard.h"
#include "UsbViewsTestSupport.h"

#include "TintedProgressBar.h"

#include <QFrame>
#include <QVBoxLayout>

using namespace UsbViewsTestSupport;
using namespace ViewsTestSupport;
using namespace DeviceDashboardPresentation;
using CompanionState = DeviceStore::CompanionInstallState;
using InstallState = DeviceStore::InstallState;
using PhaseKind = TransferStore::Phase::Kind;

// symbol: the system symbol name, "spinner", or empty for a banner that shows nothing
using InstallBanners = TestTable<InstallState, QString, QColor, QString>;
using CompanionCards =
    TestTable<std::optional<CompanionAPKArtifact>, std::optional<QString>, bool, CompanionState, QString>;
using TransferCards = TestTable<PhaseKind, QString>;
using TransferBanners = TestTable<TransferEvent, QString, QColor, QString>;

namespace {

const QColor blue = ViewColors::blue(), green = ViewColors::green(), orange = ViewColors::orange();

TransferEvent transferOf(TransferEventKind kind, TransferDirection direction = TransferDirection::sending,
                         uint64_t transferred = 0, uint64_t total = 0)
{
    return {kind, direction, QStringLiteral("t-1"),     QStringLiteral("旅行视频.mp4"), transferred, total,
            {},   {},        QStringLiteral("等待手机")};
}

bool showsNamedSymbol(const QLabel *label, const QString &name, const QColor &color)
{
    const std::optional<Symbol> symbol = SymbolIcon::named(name);
    return symbol && showsSymbol(label->pixmap(), *symbol, color);
}

} // namespace

class DeviceCardsTest : public QObject
{
    Q_OBJECT

private slots:
    void installStatusBanner_data()
    {
        const InstallBanners rows;
        rows("idle", InstallState::idle(), "", {}, "");
        rows("installing", InstallState::installing("base.apk"), "spinner", blue, "正在安装 | base.apk");
        rows("succeeded", InstallState::succeeded("base.apk 已安装到 Pixel 8。"), "checkmark.circle.fill", green,
             "安装完成 | base.apk 已安装到 Pixel 8。");
        rows("failed", InstallState::failed("设备存储空间不足。"), "exclamationmark.triangle.fill", orange,
             "安装未完成 | 设备存储空间不足。");
    }

    void installStatusBanner()
    {
        const auto [state, symbol, tint, reads] = InstallBanners::fetch();
        QWidget host; // never shown: the banner shows and hides itself within it
        auto &banner = *new InstallStatusBanner(&host);
        banner.setState(InstallState::failed("earlier"));
        banner.setState(state);
        QCOMPARE(!banner.isHidden(), !reads.isEmpty());
        if (reads.isEmpty())
            return;
        QCOMPARE(transcript(&banner), reads);
        QCOMPARE(!banner.spinner()->isHidden(), symbol == "spinner");
        QVERIFY(symbol == "spinner" || showsNamedSymbol(banner.symbolLabel(), symbol, tint));
    }

    void companionSetupCard_data()
    {
        const CompanionCards rows;
        const CompanionAPKArtifact artifact{"/app/Resources/Android/Tavrine-Android.apk",
                                            {1, "com.drovan.tavrine", "1.4.0", 140, {}, {}, {}},
                                            12'345'678};
        const QString ready = "在手机上设置 Tavrine | 安装或更新至 Tavrine 1.4.0（12.3 MB），然后自动继续配对。 | ";
        rows("idle", artifact, {}, true, CompanionState::idle(),
             ready + "[安装 Tavrine 并连接] | [手机已安装，直接连接]");
        // Busy disables both buttons, even when the store would allow an install.
        rows("installing", artifact, {}, true, CompanionState::installing("正在安装…"),
             ready + "[正在设置…]✗ | [手机已安装，直接连接]✗");
        rows("awaiting confirmation", artifact, {}, true, CompanionState::awaitingConfirmation("请确认"),
             ready + "[安装 Tavrine 并连接] | [手机已安装，直接连接]");
        rows("connected", artifact, {}, true, CompanionState::connected("已连接"),
             ready + "[安装 Tavrine 并连接] | [手机已安装，直接连接]");
        rows("failed", artifact, {}, true, CompanionState::failed("安装失败"),
             ready + "[安装 Tavrine 并连接] | [手机已安装，直接连接]");
        rows("no authorised phone", artifact, {}, false, CompanionState::idle(),
             ready + "[安装 Tavrine 并连接]✗ | [手机已安装，直接连接]");
        rows("package failed its check", {}, "手机端安装包校验失败。", false, CompanionState::idle(),
             "在手机上设置 Tavrine | 手机端安装包校验失败。 | [安装 Tavrine 并连接]✗ | [手机已安装，直接连接]");
        rows("no package, no message", {}, {}, false, CompanionState::idle(),
             "在手机上设置 Tavrine | 当前电脑版本未包含手机端安装包，请使用已安装的手机端连接。 | "
             "[安装 Tavrine 并连接]✗ | [手机已安装，直接连接]");
    }

    void companionSetupCard()
    {
        const auto [artifact, errorMessage, canInstall, state, reads] = CompanionCards::fetch();
        int installs = 0, connects = 0;
        USBCompanionSetupCard card([&] { ++installs; }, [&] { ++connects; });
        card.setValues(companionCardValues(artifact, errorMessage, canInstall, state));
        QCOMPARE(transcript(&card), reads);
        QCOMPARE(SymbolIcon::name(card.icon()), "iphone.and.arrow.forward");
        card.installButton()->click();
        card.connectExistingButton()->click();
        QCOMPARE(installs, card.installButton()->isEnabled() ? 1 : 0);
        QCOMPARE(connects, card.connectExistingButton()->isEnabled() ? 1 : 0);
    }

    void installActionCard()
    {
        int picks = 0;
        InstallActionCard card([&] { ++picks; });
        QCOMPARE(SymbolIcon::name(card.icon()), "shippingbox.fill");
        for (const auto &[enabled, installing, reads] :
             {std::tuple(true, false, "[选择安装包]"), std::tuple(false, false, "[选择安装包]✗"),
              std::tuple(true, true, "[正在安装…]✗")}) {
            card.setValues(enabled, installing);
            QCOMPARE(transcript(&card),
                     "安装手机应用 | 选择 APK，Tavrine 会安全发送并安装到这台手机。 | " + QString::fromUtf8(reads));
            card.chooseButton()->click();
        }
        QCOMPARE(picks, 1);
    }

    void transferActionCard_data()
    {
        const TransferCards rows;
        rows("idle", PhaseKind::idle, "扫描一次配对码，即可在局域网内直接收发。 | [开始配对]");
        rows("pairing", PhaseKind::pairing, "配对码已准备好，请使用手机上的 Tavrine 扫描。 | [打开配对页]");
        rows("awaiting confirmation", PhaseKind::awaitingConfirmation,
             "已找到 Galaxy S23，请确认两边显示相同号码。 | [打开配对页] | [查看确认码]");
        rows("connected", PhaseKind::connected, "已与 Galaxy S23 安全配对，可以直接发送。 | [选择文件]");
        rows("reconnecting", PhaseKind::reconnecting,
             "Galaxy S23 当前未连接。选择文件后会在手机上线时自动发送。 | [选择文件]");
        rows("failed", PhaseKind::failed, "连接没有完成，重新配对即可恢复。 | [开始配对]");
    }

    void transferActionCard()
    {
        const auto [phase, reads] = TransferCards::fetch();
        QStringList calls;
        TransferActionCard card([&] { calls << "action"; }, [&] { calls << "showPairing"; });
        card.setValues(PhaseKind::awaitingConfirmation, "earlier");
        card.setValues(phase, "Galaxy S23");
        QCOMPARE(transcript(&card), "传输文件 | " + reads);
        card.primaryButton()->click();
        if (!card.confirmationCodeButton()->isHidden())
            card.confirmationCodeButton()->click();
        QCOMPARE(calls.join(","), phase == PhaseKind::awaitingConfirmation ? "action,showPairing" : "action");
    }

    void transferStatusBanner_data()
    {
        const TransferBanners rows;
        const QString link = "arrow.left.arrow.right.circle.fill";
        rows("queued", transferOf(TransferEventKind::queued), "clock.fill", blue, "等待发送 | 旅行视频.mp4 | 等待手机");
        rows("sending", transferOf(TransferEventKind::sending, TransferDirection::sending, 25, 100),
             "arrow.up.circle.fill", blue, "正在发送 | 旅行视频.mp4 | ━");
        rows("sending, size unknown", transferOf(TransferEventKind::sending), "arrow.up.circle.fill", blue,
             "正在发送 | 旅行视频.mp4 | 等待手机");
        rows("receiving", transferOf(TransferEventKind::receiving, TransferDirection::receiving, 1, 3),
             "arrow.down.circle.fill", blue, "正在接收 | 旅行视频.mp4 | ━");
        rows("completed send", transferOf(TransferEventKind::completed), "checkmark.circle.fill", green,
             "传输完成 | 旅行视频.mp4 | 等待手机");
        rows("completed receive", transferOf(TransferEventKind::completed, TransferDirection::receiving, 3, 3),
             "checkmark.circle.fill", green, "传输完成 | 旅行视频.mp4 | 等待手机 | [在文件管理器中查看]");
        rows("paused", transferOf(TransferEventKind::paused, TransferDirection::sending, 1, 3), "pause.circle.fill",
             blue, "传输已暂停 | 旅行视频.mp4 | 等待手机");
        rows("cancelled", transferOf(TransferEventKind::cancelled), "xmark.circle.fill", ViewColors::secondary(),
             "传输已取消 | 旅行视频.mp4 | 等待手机");
        rows("failed", transferOf(TransferEventKind::failed), "exclamationmark.triangle.fill", orange,
             "传输失败 | 旅行视频.mp4 | 等待手机");
        for (const auto kind :
             {TransferEventKind::connecting, TransferEventKind::awaitingConfirmation, TransferEventKind::paired,
              TransferEventKind::waitingForConnection, TransferEventKind::disconnected})
            rows(qPrintable(QString("link event %1").arg(int(kind))), transferOf(kind), link, blue,
                 "文件传输 | 旅行视频.mp4 | 等待手机");
        TransferEvent withoutTransfer = transferOf(TransferEventKind::completed, TransferDirection::receiving);
        withoutTransfer.transferId.clear();
        rows("no transfer id", withoutTransfer, "", {}, "");
    }

    void transferStatusBanner()
    {
        const auto [shownEvent, symbol, tint, reads] = TransferBanners::fetch();
        int reveals = 0;
        QWidget host;
        auto &banner = *new TransferStatusBanner([&] { ++reveals; }, &host);
        banner.setEvent(transferOf(TransferEventKind::completed, TransferDirection::receiving));
        banner.setEvent(shownEvent);
        QCOMPARE(!banner.isHidden(), !reads.isEmpty());
        if (reads.isEmpty())
            return;
        QCOMPARE(transcript(&banner), reads);
        QVERIFY(showsNamedSymbol(banner.symbolLabel(), symbol, tint));
        if (!banner.progressBar()->isHidden())
            QVERIFY(qAbs(banner.progressBar()->fraction() -
                         double(shownEvent.transferredBytes) / double(shownEvent.totalBytes)) < 1e-3);
        if (!banner.revealButton()->isHidden()) {
            banner.revealButton()->click();
            QCOMPARE(reveals, 1);
        }
    }

    void installPlanCard()
    {
        QStringList calls;
        InstallPlanCard card([&] { calls << "confirm"; }, [&] { calls << "cancel"; });
        card.setPlan({APKInstallPlan::Kind::single, {"/下载/天气.apk"}, 4'200'000, "v2 签名"}, "Pixel 8");
        QCOMPARE(transcript(&card), "准备安装到 Pixel 8 | 天气.apk | 4.2 MB · v2 签名 | [确认安装] | [取消]");
        QVERIFY(card.fileList()->isHidden());

        const QStringList split{"/a/base.apk", "/a/split_config.arm64_v8a.apk", "/a/split_config.zh.apk"};
        card.setPlan({APKInstallPlan::Kind::split, split, 61'500'000, "v2 + v3 签名"}, "Pixel 8");
        QCOMPARE(transcript(&card), "准备安装到 Pixel 8 | Split APK（3 个文件） | 61.5 MB · v2 + v3 签名 | "
                                    "[查看 3 个安装包] | [确认安装] | [取消]");
        card.fileList()->toggle()->click();
        QCOMPARE(transcript(card.fileList()), "[查看 3 个安装包] | base.apk | split_config.arm64_v8a.apk | "
                                              "split_config.zh.apk");
        card.confirmButton()->click();
        card.cancelButton()->click();
        QCOMPARE(calls, QStringList({"confirm", "cancel"}));
    }

    // However long the phone's name, the headline keeps to one line within the window and the buttons stay in it;
    // the whole headline is in the tooltip.
    void installPlanCardKeepsItsButtonsForALongName()
    {
        QStringList calls;
        QWidget window;
        window.resize(560, 320);
        auto *card = new InstallPlanCard([&] { calls << "confirm"; }, [&] { calls << "cancel"; });
        (new QVBoxLayout(&window))->addWidget(card);
        const QString name(4600, u'W');
        card->setPlan({APKInstallPlan::Kind::single, {"/a/天气.apk"}, 1000, "v2 签名"}, name);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.width(), 560);
        const auto *headline = card->findChild<QLabel *>("headlineLabel");
        QVERIFY(window.minimumSizeHint().width() <= window.width());
        for (QPushButton *button : {card->confirmButton(), card->cancelButton()})
            QVERIFY(window.rect().contains(QRect(button->mapTo(&window, QPoint()), button->size())));
        QVERIFY(headline->sizeHint().height() < 2 * headline->fontMetrics().height());
        QCOMPARE(headline->toolTip(), "准备安装到 " + name);
        QTest::mouseClick(card->confirmButton(), Qt::LeftButton);
        QCOMPARE(calls, QStringList{"confirm"});
    }

    void installHistoryCard()
    {
        QWidget host;
        auto &card = *new InstallHistoryCard(&host);
        card.setRecords({});
        QVERIFY(card.isHidden());

        QList<InstallHistoryRecord> records;
        for (int number = 12; number >= 1; --number)
            records.append(installRecord(QString("r%1").arg(number), "s", {QString("app%1.apk").arg(number)}, number,
                                         number != 11));
        records[0].fileNames.append("split_config.zh.apk");
        for (const qsizetype count : {12, 1}) {
            card.setRecords(records.first(count));
            card.group()->setExpanded(true);
            const QList<QWidget *> rows = card.findChildren<QWidget *>("historyRow");
            const QList<QFrame *> dividers = card.findChildren<QFrame *>("historyDivider");
            QCOMPARE(rows.size(), std::min<qsizetype>(count, 8));
            QCOMPARE(dividers.size(), rows.size() - 1);
            // Every divider lies between two rows: none under the last one.
            for (const QFrame *divider : dividers)
                QVERIFY(card.group()->contentLayout()->indexOf(divider) <
                        card.group()->contentLayout()->indexOf(rows.last()));
        }
        card.setRecords(records);
        QCOMPARE(transcript(card.findChildren<QWidget *>("historyRow").first()),
                 "app12.apk + split_config.zh.apk | 2026年3月1日 08:42");
        QVERIFY(showsNamedSymbol(card.findChildren<QLabel *>("historySymbol")[0], "checkmark.circle.fill", green));
        QVERIFY(
            showsNamedSymbol(card.findChildren<QLabel *>("historySymbol")[1], "xmark.circle.fill", ViewColors::red()));
    }

    void deviceHero()
    {
        DeviceHero hero;
        AndroidDevice device = phone();
        hero.setDevice(device);
        QCOMPARE(transcript(&hero), "Galaxy S23 | 已连接 | · | Android 14 | 安全连接");
        device.marketingName = "";
        device.androidVersion.reset();
        hero.setDevice(device);
        QCOMPARE(transcript(&hero), "SM S911B | 已连接 | 安全连接");
        device.model.reset();
        hero.setDevice(device);
        QCOMPARE(transcript(&hero), "Android 手机 | 已连接 | 安全连接");
    }

    void deviceHeroTellsAPhoneThatCannotTakeCommands_data()
    {
        QTest::addColumn<AndroidDevice::State>("state");
        QTest::addColumn<QString>("status");
        QTest::newRow("unauthorised") << AndroidDevice::State::unauthorized << QString("等待手机确认");
        QTest::newRow("no permissions") << AndroidDevice::State::noPermissions << QString("没有 USB 权限");
        QTest::newRow("offline") << AndroidDevice::State::offline << QString("设备暂时离线");
        QTest::newRow("recovery") << AndroidDevice::State::recovery << QString("恢复模式");
    }

    // Such a phone is neither connected nor securely: its state shows in orange, without the badge.
    void deviceHeroTellsAPhoneThatCannotTakeCommands()
    {
        QFETCH(AndroidDevice::State, state);
        QFETCH(QString, status);
        DeviceHero hero;
        AndroidDevice device = phone(QStringLiteral("R5CT"), state);
        device.androidVersion.reset();
        hero.setDevice(device);
        QCOMPARE(transcript(&hero), "Galaxy S23 | " + status);
        const auto *label = hero.findChild<QLabel *>("connectionStatusLabel");
        QVERIFY(label);
        QCOMPARE(label->text(), status);
        QVERIFY(!hero.findChild<QLabel *>("secureBadge")->isVisibleTo(&hero));
        hero.setDevice(phone(QStringLiteral("R5CT")));
        QCOMPARE(label->text(), QString("已连接"));
        QVERIFY(hero.findChild<QLabel *>("secureBadge")->isVisibleTo(&hero));
    }
};

QTEST_MAIN(DeviceCardsTest)
#include "test_device_cards.moc"

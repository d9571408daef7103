#include "../android_usb_views/UsbViewsTestSupport.h"
#include "FirstRunConnectionView.h"
#include "PairingQRCodeView.h"
#include "PairingSheet.h"
#include "SidebarAndPairingPresentation.h"
#include "SidebarRows.h"
#include "SymbolTile.h"
#include "USBApprovalView.h"

#include <QPushButton>

using namespace SidebarAndPairingPresentation;
using namespace UsbViewsTestSupport;
using namespace ViewsTestSupport;
using Phase = TransferStore::Phase;
using CompanionState = DeviceStore::CompanionInstallState;

Q_DECLARE_METATYPE(std::optional<QString>)

// state, marketing name, model → title, status, tint
using DeviceRows =
    TestTable<AndroidDevice::State, std::optional<QString>, std::optional<QString>, QString, QString, Tint>;
// selected, network, the state of its USB phone (none: not plugged in) → status
using TrustedRows = TestTable<bool, bool, std::optional<AndroidDevice::State>, QString>;
using PhaseTexts = TestTable<Phase, QString, QString, FooterAction>;
using Codes = TestTable<QString, QString>;
using CompanionLines = TestTable<CompanionState, std::optional<QString>, std::optional<CompanionStatus>>;
// trusted phone selected, pairing start fails, a phone is confirming → phase once the sheet closed
using ClosingRows = TestTable<bool, bool, bool, Phase::Kind>;

namespace {

void saveScreenshot(QWidget *widget, const QString &name)
{
    const QDir folder(QDir::tempPath() + "/tavrine-screens");
    QVERIFY(folder.mkpath(".") && widget->grab().save(folder.filePath(name)));
    qInfo("screenshot: %s", qPrintable(folder.filePath(name)));
}

// The two stores and a sheet over them whose continue action is counted.
struct SheetFixture
{
    StoreFixture transfers;
    DeviceStoreFixture devices;
    int continued = 0;
    std::unique_ptr<PairingSheet> sheet;

    PairingSheet &make()
    {
        if (!transfers.store)
            transfers.make();
        if (!devices.store)
            devices.make();
        sheet = std::make_unique<PairingSheet>(transfers.store.get(), devices.store.get(), [this] { ++continued; });
        return *sheet;
    }
};

// The texts and [buttons] a person sees on `root`, in order, once its layouts have settled; fails the test when
// one of them is cut short.
QString texts(QWidget *root)
{
    // A nested layout asks its parent for a new pass only once it has settled itself.
    for (int pass = 0; pass < 4; ++pass)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (root->isVisible() && !cutTexts(root).isEmpty())
        return QStringLiteral("cut: ") + cutTexts(root).join(QStringLiteral(" | "));
    QStringList seen;
    for (const QWidget *widget : root->findChildren<QWidget *>()) {
        const auto *label = qobject_cast<const QLabel *>(widget);
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        const QString text = button ? QStringLiteral("[%1]").arg(button->text()) : label ? label->text() : QString();
        if (widget->isVisibleTo(root) && !text.isEmpty())
            seen.append(text);
    }
    return seen.join(QStringLiteral(" | "));
}

const QString scanTitle = QStringLiteral("用手机扫描配对码");

} // namespace

class SidebarAndPairingTest : public QObject
{
    Q_OBJECT

private slots:
    void deviceRow_data()
    {
        using State = AndroidDevice::State;
        const DeviceRows rows;
        rows("authorised", State::authorized, u"Galaxy S23"_qs, u"SM_S911B"_qs, "Galaxy S23", "USB 已连接",
             Tint::green);
        rows("unauthorised", State::unauthorized, u""_qs, u"SM_S911B"_qs, "SM S911B", "等待手机确认", Tint::orange);
        rows("offline", State::offline, {}, u""_qs, "", "设备暂时离线", Tint::orange);
        rows("recovery", State::recovery, {}, {}, "Android 手机", "恢复模式", Tint::orange);
        rows("bootloader", State::bootloader, {}, u"a_b_c"_qs, "a b c", "引导模式", Tint::orange);
        rows("unknown", State::unknown, u"Pixel 8"_qs, {}, "Pixel 8", "暂不可用", Tint::orange);
    }

    void deviceRow()
    {
        const auto [state, marketingName, model, title, status, tint] = DeviceRows::fetch();
        AndroidDevice device = phone(QStringLiteral("serial-1"), state);
        device.marketingName = marketingName;
        device.model = model;
        const DeviceRow row(device);
        QCOMPARE(row.titleLabel()->text(), title);
        QCOMPARE(row.statusLabel()->text(), status);
        QCOMPARE(row.icon()->style().symbolColor, color(tint, {}));
        QCOMPARE(row.icon()->drawnSymbol(), Symbol::smartphone);
    }

    void trustedRow_data()
    {
        const TrustedRows rows;
        using State = AndroidDevice::State;
        rows("network and USB", false, true, State::authorized, "无线 + USB 已连接");
        rows("network", true, true, std::nullopt, "无线已连接");
        rows("USB", true, false, State::authorized, "USB 已连接");
        rows("selected only", true, false, std::nullopt, "未连接");
        rows("neither", false, false, std::nullopt, "已信任");
        // A phone on USB that cannot take commands says its state.
        rows("network, USB without permission", true, true, State::noPermissions, "无线已连接 · 没有 USB 权限");
        rows("USB waiting for approval", true, false, State::unauthorized, "等待手机确认");
        rows("USB offline", false, false, State::offline, "设备暂时离线");
    }

    void trustedRow()
    {
        const auto [isSelected, isConnected, usbState, status] = TrustedRows::fetch();
        const TrustedDeviceRow row(QStringLiteral("Pixel"), isSelected, isConnected, usbState);
        QCOMPARE(row.statusLabel()->text(), status);
    }

    void longNamesStayOnOneLine()
    {
        const QString name = QStringLiteral("A phone with a very long product name that cannot fit the sidebar");
        USBAndroidDevice plugged;
        plugged.productName = name;
        const TrustedDeviceRow trusted(name, true, true, std::nullopt);
        USBWaitingRow waiting(plugged);
        for (QLabel *title : {trusted.titleLabel(), waiting.titleLabel()}) {
            QCOMPARE(title->text(), name);
            QVERIFY(!title->wordWrap());
        }
        QVERIFY(texts(&waiting).endsWith(usbWaitingRowStatus));
    }

    void pairingTexts_data()
    {
        const PhaseTexts rows;
        const QString scanSubtitle = QStringLiteral("打开手机 Tavrine，点击“扫描 Mac”。");
        rows("idle", Phase::idle(), scanTitle, scanSubtitle, FooterAction::none);
        rows("pairing", Phase::pairing(), scanTitle, scanSubtitle, FooterAction::none);
        rows("failed", Phase::failed("x"), scanTitle, scanSubtitle, FooterAction::retry);
        rows("reconnecting", Phase::reconnecting("Pixel"), "手机未连接",
             "请在 Pixel 上打开 Tavrine；上线后会自动连接，无需扫码。", FooterAction::none);
        rows("awaiting", Phase::awaitingConfirmation("Pixel"), "确认是同一台设备", "请在 Pixel 上确认相同号码。",
             FooterAction::none);
        rows("connected", Phase::connected("Pixel"), "配对完成", "已与 Pixel 建立安全连接。",
             FooterAction::chooseFiles);
    }

    void pairingTexts()
    {
        const auto [phase, title, subtitle, action] = PhaseTexts::fetch();
        QCOMPARE(pairingTitle(phase), title);
        QCOMPARE(pairingSubtitle(phase), subtitle);
        QCOMPARE(footerAction(phase), action);
        // The code area: any payload wins; without one only a failure replaces the spinner.
        QCOMPARE(codeArea(u"tavrine://pair"_qs, phase), CodeArea::qrCode);
        QCOMPARE(codeArea(std::nullopt, phase),
                 phase.kind == Phase::Kind::failed ? CodeArea::failure : CodeArea::preparing);
    }

    void formatsSixCharacterCodes_data()
    {
        const Codes rows;
        rows("six digits", "123456", "123  456");
        rows("four", "1234", "1234");
        rows("eight", "12345678", "12345678");
        rows("empty", "", "");
        rows("six with combining marks", "e\u0301e\u0301e\u0301abc", "e\u0301e\u0301e\u0301  abc");
        rows("six outside the basic plane", "😀😀😀😀😀😀", "😀😀😀  😀😀😀");
        rows("five outside the basic plane", "😀😀😀😀😀", "😀😀😀😀😀");
    }

    void formatsSixCharacterCodes()
    {
        const auto [code, shown] = Codes::fetch();
        QCOMPARE(formattedCode(code), shown);
    }

    void companionStatusLine_data()
    {
        const CompanionLines rows;
        const auto line = [](bool spinner, const char *symbol, Tint tint, const char *text) {
            return std::optional(CompanionStatus{spinner, QString::fromUtf8(symbol), tint, QString::fromUtf8(text)});
        };
        rows("installing", CompanionState::installing("正在安装"), u"ignored"_qs,
             line(true, "", Tint::secondary, "正在安装"));
        rows("awaiting", CompanionState::awaitingConfirmation("请确认"), {},
             line(false, "checkmark.circle.fill", Tint::blue, "请确认"));
        rows("connected", CompanionState::connected("已连接"), {},
             line(false, "checkmark.circle.fill", Tint::green, "已连接"));
        rows("failed", CompanionState::failed("失败"), {},
             line(false, "exclamationmark.triangle.fill", Tint::red, "失败"));
        rows("idle with launch message", CompanionState::idle(), u"正在手机上打开 Tavrine…"_qs,
             line(false, "iphone", Tint::secondary, "正在手机上打开 Tavrine…"));
        rows("idle", CompanionState::idle(), {}, std::nullopt);
    }

    void companionStatusLine()
    {
        const auto [state, launchMessage, expected] = CompanionLines::fetch();
        QCOMPARE(companionStatus(state, launchMessage), expected);
    }

    void sheetFollowsANewPairing()
    {
        SheetFixture fixture;
        PairingSheet &sheet = fixture.make();
        QCOMPARE(sheet.size(), QSize(PairingSheet::sheetWidth, PairingSheet::sheetHeight));
        QCOMPARE(sheet.windowModality(), Qt::WindowModal);
        QVERIFY(texts(&sheet).contains(preparingText));

        sheet.show();
        TransferStore &store = *fixture.transfers.store;
        QCOMPARE(store.phase().kind, Phase::Kind::pairing);
        QCOMPARE(sheet.codeView()->payload(), store.pairingPayload().value());
        QVERIFY(sheet.codeView()->isShowingCode() && sheet.codeView()->isVisible());
        QCOMPARE(sheet.codeView()->size(), QSize(PairingSheet::codeSide, PairingSheet::codeSide));
        QCOMPARE(texts(&sheet), scanTitle + " | 打开手机 Tavrine，点击“扫描 Mac”。 | 确认号码 | 123  456 | [取消] | "
                                            "TLS 1.3 · 文件不经过云端");

        fixture.devices.store->setCompanionInstallState(CompanionState::failed(u"安装失败"_qs));
        QVERIFY(texts(&sheet).contains("123  456 | 安装失败 | [取消]"));
        saveScreenshot(&sheet, "pairing-sheet.png");

        fixture.transfers.deliver({linkEvent(TransferEventKind::awaitingConfirmation, "Pixel")});
        QVERIFY(texts(&sheet).startsWith("确认是同一台设备 | 请在 Pixel 上确认相同号码。"));
        QVERIFY(!sheet.footerButton()->isVisibleTo(&sheet));

        fixture.transfers.host->trustedPeerSecret = u"0123456789abcdef0123456789abcdef-secret"_qs;
        fixture.transfers.deliver({linkEvent(TransferEventKind::paired, "Pixel")});
        QVERIFY(texts(&sheet).startsWith("配对完成 | 已与 Pixel 建立安全连接。"));
        QCOMPARE(sheet.footerButton()->text(), "选择文件");
        sheet.footerButton()->click();
        QCOMPARE(fixture.continued, 1);
    }

    void cancellingWithdrawsTheCodeAndReopeningStartsAFreshOne()
    {
        SheetFixture fixture;
        TransferStore &store = fixture.transfers.make();
        // A pairing already under way when the sheet appears is kept.
        store.beginNewPairing();
        const std::optional<QString> pendingID = store.pendingPairingDeviceID();
        PairingSheet &sheet = fixture.make();
        sheet.show();
        QCOMPARE(fixture.transfers.host->startCount, 1);
        QCOMPARE(store.pendingPairingDeviceID(), pendingID);

        sheet.cancel();
        QVERIFY(!sheet.isVisible());
        QVERIFY(!store.hasHost());
        QCOMPARE(store.phase().kind, Phase::Kind::idle);
        QVERIFY(!store.pairingPayload() && !store.confirmationCode());

        sheet.show();
        QCOMPARE(fixture.transfers.host->startCount, 2);
        QVERIFY(store.pendingPairingDeviceID() != pendingID);
        QTest::keyClick(&sheet, Qt::Key_Escape);
        QVERIFY(!sheet.isVisible() && !store.hasHost());
    }

    void closingEndsThePairingAndHandsTheLinkBack_data()
    {
        const ClosingRows rows;
        rows("pairing", true, false, false, Phase::Kind::reconnecting);
        rows("pairing failed to start", true, true, false, Phase::Kind::reconnecting);
        rows("a phone is confirming", true, false, true, Phase::Kind::reconnecting);
        rows("no trusted phone", false, false, false, Phase::Kind::idle);
        rows("no trusted phone, a phone is confirming", false, false, true, Phase::Kind::idle);
    }

    void closingEndsThePairingAndHandsTheLinkBack()
    {
        const auto [trusted, startFails, confirming, phaseAfterClosing] = ClosingRows::fetch();
        SheetFixture fixture;
        const TrustedDeviceRecord phone = trustedPhone(u"Pixel"_qs, 1);
        if (trusted)
            fixture.transfers.saveRegistry({phone});
        TransferStore &store = fixture.transfers.make();
        awaitTask(store.startUp());
        if (startFails)
            fixture.transfers.host->failNextStart = TavrineCoreError::ServiceStart(u"port busy"_qs);
        PairingSheet &sheet = fixture.make();
        sheet.show();
        if (confirming)
            fixture.transfers.deliver({linkEvent(TransferEventKind::awaitingConfirmation, "Nokia")});
        const int starts = fixture.transfers.host->startCount;

        QTest::keyClick(&sheet, Qt::Key_Escape);
        QCOMPARE(store.phase().kind, phaseAfterClosing);
        const bool restarted = phaseAfterClosing == Phase::Kind::reconnecting;
        QCOMPARE(store.hasHost(), restarted);
        QCOMPARE(fixture.transfers.host->startCount, starts + (restarted ? 1 : 0));
        if (restarted)
            QCOMPARE(fixture.transfers.host->startArguments.last().last(), phone.secret);
    }

    void openingWhileConnectedStartsAFreshPairing()
    {
        SheetFixture fixture;
        fixture.transfers.makePaired();
        const int starts = fixture.transfers.host->startCount;
        PairingSheet &sheet = fixture.make();
        sheet.show();
        QCOMPARE(fixture.transfers.host->startCount, starts + 1);
        QVERIFY(texts(&sheet).startsWith(scanTitle));
        QVERIFY(sheet.codeView()->isVisible());
    }

    void failureShowsItsMessageAndRetries()
    {
        SheetFixture fixture;
        fixture.transfers.make();
        fixture.transfers.host->failNextStart = TavrineCoreError::ServiceStart(u"port busy"_qs);
        PairingSheet &sheet = fixture.make();
        sheet.show();
        const TransferStore &store = *fixture.transfers.store;
        QCOMPARE(store.phase().kind, Phase::Kind::failed);
        QVERIFY(texts(&sheet).contains(failureTitle + " | " + store.phase().text));
        QVERIFY(!sheet.codeView()->isVisibleTo(&sheet));
        const std::optional<QString> pendingID = store.pendingPairingDeviceID();

        QCOMPARE(sheet.footerButton()->text(), "重新尝试");
        sheet.footerButton()->click();
        QCOMPARE(store.phase().kind, Phase::Kind::pairing);
        QVERIFY(store.pendingPairingDeviceID() != pendingID);
        QCOMPARE(store.pendingPairingDeviceID()->toLower(), *store.pendingPairingDeviceID());
        QVERIFY(sheet.codeView()->isVisible() && !texts(&sheet).contains(failureTitle));
        QCOMPARE(fixture.continued, 0);
    }

    void firstRunShowsMessageAndCalls()
    {
        int connects = 0;
        int refreshes = 0;
        FirstRunConnectionView view(
            std::nullopt, [&] { ++connects; }, [&] { ++refreshes; });
        view.resize(800, 900);
        view.show();
        const QString withoutMessage = texts(&view);
        QCOMPARE(withoutMessage,
                 "连接你的手机 | 扫码最快，也可以直接使用 USB。连接一次，以后会自动找到这台手机。 | 扫码连接 | "
                 "推荐 | 打开手机 Tavrine，扫描电脑上的配对码。 | [显示配对码] | USB 连接 | "
                 "连接并解锁手机，Tavrine 会自动检查连接状态。 | [检查 USB 连接] | "
                 "首次连接需要在手机上确认一次；连接成功后即可选择文件。 | 文件只在你的设备之间传输");
        QVERIFY(view.qrCard()->isProminent() && view.qrCard()->badge());
        QVERIFY(!view.usbCard()->isProminent() && !view.usbCard()->badge());

        view.setMessage(u""_qs);
        QVERIFY(view.messageBanner()->isVisible());
        view.setMessage(u"adb 启动失败"_qs);
        QVERIFY(texts(&view).contains("[检查 USB 连接] | adb 启动失败 | 首次连接"));
        QVERIFY(view.messageBanner()->y() > view.cardGrid()->y());
        saveScreenshot(&view, "first-run.png");

        view.qrCard()->button()->click();
        view.qrCard()->button()->click();
        view.usbCard()->button()->click();
        QCOMPARE(connects, 2);
        QCOMPARE(refreshes, 1);
    }

    void firstRunCardsStackBelowTheirWidth()
    {
        FirstRunConnectionView view(std::nullopt, {}, {});
        for (const int width : {577, 578, 1200}) {
            view.resize(width, 900);
            view.show();
            QTRY_COMPARE(view.cardGrid()->width(), std::min(width - 64, int(FirstRunConnectionView::maximumGridWidth)));
            QCOMPARE(view.usbCard()->y() == view.qrCard()->y(), width >= 578);
            QVERIFY(view.qrCard()->height() >= 190);
        }
    }

    void approvalShowsTheSteps()
    {
        USBAndroidDevice plugged;
        plugged.productName = QStringLiteral("Pixel 8 Pro");
        USBApprovalView view(plugged);
        view.resize(700, 700);
        view.show();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCOMPARE(texts(&view), "已找到 Pixel 8 Pro | 只需在手机上确认一次，之后连接会自动完成。 | 1 | 解锁手机 | "
                               "USB 用途选择“文件传输”。 | 2 | 允许连接 | 在开发者选项中打开“USB 调试”。 | 3 | "
                               "信任这台电脑 | 手机弹出提示时点击“允许”。 | 正在等待手机确认…");
        QCOMPARE(view.stepsCard()->width(), USBApprovalView::maximumStepsWidth);
        QVERIFY(view.findChildren<QAbstractButton *>().isEmpty());
        saveScreenshot(&view, "usb-approval.png");
    }
};

QTEST_MAIN(SidebarAndPairingTest)
#include "test_sidebar_and_pairing.moc"

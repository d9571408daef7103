#include "SidebarAndPairingPresentation.h"

#include "DeviceDashboardPresentation.h"
#include "ViewColors.h"

#include <QTextBoundaryFinder>

namespace SidebarAndPairingPresentation {

using Kind = TransferStore::Phase::Kind;

QString deviceRowStatus(AndroidDevice::State state)
{
    return DeviceDashboardPresentation::deviceStateText(state);
}

Tint deviceRowTint(AndroidDevice::State state)
{
    return state == AndroidDevice::State::authorized ? Tint::green : Tint::orange;
}

QString trustedRowStatus(bool isSelected, bool isConnected, std::optional<AndroidDevice::State> usbState)
{
    const bool usbConnected = usbState == AndroidDevice::State::authorized;
    if (isConnected && usbConnected)
        return QStringLiteral("无线 + USB 已连接");
    // A phone on USB that cannot take commands says so, after the wireless link when there is one.
    if (isConnected && usbState)
        return QStringLiteral("无线已连接 · ") + deviceRowStatus(*usbState);
    if (isConnected)
        return QStringLiteral("无线已连接");
    if (usbState)
        return deviceRowStatus(*usbState);
    if (isSelected)
        return QStringLiteral("未连接");
    return QStringLiteral("已信任");
}

QString pairingTitle(const TransferStore::Phase &phase)
{
    switch (phase.kind) {
    case Kind::reconnecting:
        return QStringLiteral("手机未连接");
    case Kind::awaitingConfirmation:
        return QStringLiteral("确认是同一台设备");
    case Kind::connected:
        return QStringLiteral("配对完成");
    case Kind::failed:
    case Kind::idle:
    case Kind::pairing:
        break;
    }
    return QStringLiteral("用手机扫描配对码");
}

QString pairingSubtitle(const TransferStore::Phase &phase)
{
    switch (phase.kind) {
    case Kind::reconnecting:
        return QStringLiteral("请在 ") + phase.text + QStringLiteral(" 上打开 Tavrine；上线后会自动连接，无需扫码。");
    case Kind::awaitingConfirmation:
        return QStringLiteral("请在 ") + phase.text + QStringLiteral(" 上确认相同号码。");
    case Kind::connected:
        return QStringLiteral("已与 ") + phase.text + QStringLiteral(" 建立安全连接。");
    case Kind::failed:
    case Kind::idle:
    case Kind::pairing:
        break;
    }
    return QStringLiteral("打开手机 Tavrine，点击“扫描 Mac”。");
}

CodeArea codeArea(const std::optional<QString> &pairingPayload, const TransferStore::Phase &phase)
{
    if (pairingPayload)
        return CodeArea::qrCode;
    return phase.kind == Kind::failed ? CodeArea::failure : CodeArea::preparing;
}

QString formattedCode(const QString &code)
{
    // Counted as a reader sees characters, so a code of combined or paired code units is never cut inside one.
    QList<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, code);
    for (qsizetype position = finder.toNextBoundary(); position != -1; position = finder.toNextBoundary())
        boundaries.append(position);
    if (boundaries.size() != 6)
        return code;
    const qsizetype middle = boundaries[2];
    return code.left(middle) + QStringLiteral("  ") + code.mid(middle);
}

std::optional<CompanionStatus> companionStatus(const DeviceStore::CompanionInstallState &state,
                                               const std::optional<QString> &pairingLaunchMessage)
{
    using StateKind = DeviceStore::CompanionInstallState::Kind;
    switch (state.kind) {
    case StateKind::installing:
        return CompanionStatus{true, {}, Tint::secondary, state.text};
    case StateKind::awaitingConfirmation:
        return CompanionStatus{false, QStringLiteral("checkmark.circle.fill"), Tint::blue, state.text};
    case StateKind::connected:
        return CompanionStatus{false, QStringLiteral("checkmark.circle.fill"), Tint::green, state.text};
    case StateKind::failed:
        return CompanionStatus{false, QStringLiteral("exclamationmark.triangle.fill"), Tint::red, state.text};
    case StateKind::idle:
        break;
    }
    if (pairingLaunchMessage)
        return CompanionStatus{false, QStringLiteral("iphone"), Tint::secondary, *pairingLaunchMessage};
    return std::nullopt;
}

FooterAction footerAction(const TransferStore::Phase &phase)
{
    if (phase.kind == Kind::failed)
        return FooterAction::retry;
    return phase.kind == Kind::connected ? FooterAction::chooseFiles : FooterAction::none;
}

QString footerActionTitle(FooterAction action)
{
    switch (action) {
    case FooterAction::retry:
        return QStringLiteral("重新尝试");
    case FooterAction::chooseFiles:
        return QStringLiteral("选择文件");
    case FooterAction::none:
        break;
    }
    return {};
}

QList<MethodCard> firstRunMethodCards()
{
    return {{QStringLiteral("qrcode.viewfinder"), QStringLiteral("扫码连接"), QStringLiteral("推荐"),
             QStringLiteral("打开手机 Tavrine，扫描电脑上的配对码。"), QStringLiteral("显示配对码"), true},
            {usbSymbol, QStringLiteral("USB 连接"), std::nullopt,
             QStringLiteral("连接并解锁手机，Tavrine 会自动检查连接状态。"), QStringLiteral("检查 USB 连接"), false}};
}

QList<SetupStepText> usbApprovalSteps()
{
    return {{1, QStringLiteral("解锁手机"), QStringLiteral("USB 用途选择“文件传输”。")},
            {2, QStringLiteral("允许连接"), QStringLiteral("在开发者选项中打开“USB 调试”。")},
            {3, QStringLiteral("信任这台电脑"), QStringLiteral("手机弹出提示时点击“允许”。")}};
}

QString usbApprovalTitle(const QString &productName)
{
    return QStringLiteral("已找到 ") + productName;
}

} // namespace SidebarAndPairingPresentation

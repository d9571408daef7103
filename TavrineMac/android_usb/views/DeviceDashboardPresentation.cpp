#include "DeviceDashboardPresentation.h"

#include "LocalNames.h"
#include "TextExcerpt.h"
#include "ViewColors.h"

#include <QFileInfo>

#include <algorithm>

namespace DeviceDashboardPresentation {

using PhaseKind = TransferStore::Phase::Kind;

QList<QuickAction> quickActions(bool showsTransfer, PhaseKind phase)
{
    QList<QuickAction> actions;
    if (showsTransfer && phase != PhaseKind::connected) {
        actions.append(QuickAction::companionSetup);
    }
    actions.append(QuickAction::install);
    if (showsTransfer) {
        actions.append(QuickAction::transfer);
    }
    return actions;
}

ActionCardStyle actionCardStyle(QuickAction action)
{
    switch (action) {
    case QuickAction::companionSetup:
        return {Symbol::iphoneAndArrowForward, Tint::blue, QStringLiteral("在手机上设置 Tavrine")};
    case QuickAction::install:
        return {Symbol::shippingboxFill, Tint::blue, QStringLiteral("安装手机应用")};
    case QuickAction::transfer:
        return {Symbol::arrowLeftArrowRight, Tint::blue, QStringLiteral("传输文件")};
    }
    Q_UNREACHABLE();
}

std::optional<QString> companionVersionLabel(const std::optional<CompanionAPKArtifact> &artifact)
{
    if (!artifact) {
        return std::nullopt;
    }
    return QStringLiteral("Tavrine ") + artifact->metadata.versionName;
}

CompanionCardValues companionCardValues(const std::optional<CompanionAPKArtifact> &artifact,
                                        const std::optional<QString> &artifactErrorMessage, bool canInstallCompanion,
                                        const DeviceStore::CompanionInstallState &state)
{
    return {companionVersionLabel(artifact), artifact ? std::optional<qint64>(artifact->sizeBytes) : std::nullopt,
            artifactErrorMessage, canInstallCompanion,
            state.kind == DeviceStore::CompanionInstallState::Kind::installing};
}

QString companionSubtitle(const CompanionCardValues &values)
{
    if (values.versionLabel && values.sizeBytes) {
        return QStringLiteral("安装或更新至 ") + *values.versionLabel + QStringLiteral("（") +
               fileByteCount(*values.sizeBytes) + QStringLiteral("），然后自动继续配对。");
    }
    return values.unavailableMessage.value_or(
        QStringLiteral("当前电脑版本未包含手机端安装包，请使用已安装的手机端连接。"));
}

QString companionInstallTitle(bool isBusy)
{
    return isBusy ? QStringLiteral("正在设置…") : QStringLiteral("安装 Tavrine 并连接");
}

bool companionInstallEnabled(const CompanionCardValues &values)
{
    return values.isEnabled && !values.isBusy;
}

QString companionConfirmationMessage(const QString &deviceName, const std::optional<CompanionAPKArtifact> &artifact)
{
    const QString versionLabel = companionVersionLabel(artifact).value_or(QStringLiteral("Tavrine 手机端"));
    const QString size = artifact ? fileByteCount(artifact->sizeBytes) : QStringLiteral("未知大小");
    return QStringLiteral("将在 ") + deviceName + QStringLiteral(" 上安装或更新 ") + versionLabel +
           QStringLiteral("（") + size +
           QStringLiteral("）。Android 可能会要求你在手机上确认一次，完成后 Tavrine 会自动打开并继续配对。");
}

QString installButtonTitle(bool isInstalling)
{
    return isInstalling ? QStringLiteral("正在安装…") : QStringLiteral("选择安装包");
}

bool installButtonEnabled(bool isEnabled, bool isInstalling)
{
    return isEnabled && !isInstalling;
}

TransferCardText transferCardText(PhaseKind phase, const QString &deviceName)
{
    switch (phase) {
    case PhaseKind::idle:
        return {QStringLiteral("扫描一次配对码，即可在局域网内直接收发。"), QStringLiteral("开始配对")};
    case PhaseKind::pairing:
        return {QStringLiteral("配对码已准备好，请使用手机上的 Tavrine 扫描。"), QStringLiteral("打开配对页")};
    case PhaseKind::awaitingConfirmation:
        return {QStringLiteral("已找到 ") + deviceName + QStringLiteral("，请确认两边显示相同号码。"),
                QStringLiteral("打开配对页"), true};
    case PhaseKind::connected:
        return {QStringLiteral("已与 ") + deviceName + QStringLiteral(" 安全配对，可以直接发送。"),
                QStringLiteral("选择文件")};
    case PhaseKind::reconnecting:
        return {deviceName + QStringLiteral(" 当前未连接。选择文件后会在手机上线时自动发送。"),
                QStringLiteral("选择文件")};
    case PhaseKind::failed:
        return {QStringLiteral("连接没有完成，重新配对即可恢复。"), QStringLiteral("开始配对")};
    }
    Q_UNREACHABLE();
}

QString planHeadline(const QString &deviceName)
{
    return QStringLiteral("准备安装到 ") + deviceName;
}

QString planDetailLine(const APKInstallPlan &plan)
{
    return fileByteCount(plan.totalBytes) + QStringLiteral(" · ") + plan.signatureSummary;
}

std::optional<QString> planFileListTitle(const APKInstallPlan &plan)
{
    if (plan.kind != APKInstallPlan::Kind::split) {
        return std::nullopt;
    }
    return QStringLiteral("查看 ") + QString::number(plan.files.size()) + QStringLiteral(" 个安装包");
}

QStringList planFileNames(const APKInstallPlan &plan)
{
    QStringList names;
    names.reserve(plan.files.size());
    for (const QString &file : plan.files) {
        names.append(QFileInfo(file).fileName());
    }
    return names;
}

QList<InstallHistoryRecord> historyForDevice(const QList<InstallHistoryRecord> &history, const AndroidDevice &device,
                                             const QList<AndroidDevice> &listed)
{
    const bool serialShared = std::any_of(listed.begin(), listed.end(), [&device](const AndroidDevice &other) {
        return other.serial == device.serial && other.id() != device.id();
    });
    // Kept as the history keeps it.
    const QString name = textExcerpt(device.displayName());
    QList<InstallHistoryRecord> records;
    for (const InstallHistoryRecord &record : history) {
        if (record.deviceSerial == device.serial && (!serialShared || record.deviceName == name)) {
            records.append(record);
        }
    }
    return records;
}

QList<InstallHistoryRecord> shownHistory(const QList<InstallHistoryRecord> &records)
{
    return records.first(std::min(records.size(), shownHistoryLimit));
}

QString historyFileLine(const InstallHistoryRecord &record)
{
    return record.fileNames.join(QStringLiteral(" + "));
}

StatusSymbol historySymbol(const InstallHistoryRecord &record)
{
    return record.succeeded ? StatusSymbol{Symbol::checkmarkCircleFill, Tint::green}
                            : StatusSymbol{Symbol::xmarkCircleFill, Tint::red};
}

std::optional<BannerStyle> installBanner(const DeviceStore::InstallState &state)
{
    using Kind = DeviceStore::InstallState::Kind;
    switch (state.kind) {
    case Kind::idle:
        return std::nullopt;
    case Kind::installing:
        return BannerStyle{std::nullopt, Tint::blue, QStringLiteral("正在安装"), state.text};
    case Kind::succeeded:
        return BannerStyle{Symbol::checkmarkCircleFill, Tint::green, QStringLiteral("安装完成"), state.text};
    case Kind::failed:
        return BannerStyle{Symbol::exclamationmarkTriangleFill, Tint::orange, QStringLiteral("安装未完成"), state.text};
    }
    Q_UNREACHABLE();
}

QString deviceStateText(AndroidDevice::State state)
{
    switch (state) {
    case AndroidDevice::State::authorized:
        return QStringLiteral("USB 已连接");
    case AndroidDevice::State::unauthorized:
    case AndroidDevice::State::authorizing:
    case AndroidDevice::State::connecting:
        return QStringLiteral("等待手机确认");
    case AndroidDevice::State::noPermissions:
        return QStringLiteral("没有 USB 权限");
    case AndroidDevice::State::offline:
        return QStringLiteral("设备暂时离线");
    case AndroidDevice::State::recovery:
        return QStringLiteral("恢复模式");
    case AndroidDevice::State::bootloader:
        return QStringLiteral("引导模式");
    case AndroidDevice::State::unknown:
        break;
    }
    return QStringLiteral("暂不可用");
}

std::optional<BannerStyle> deviceStateBanner(const AndroidDevice &device)
{
    if (device.state == AndroidDevice::State::connecting) {
        return BannerStyle{std::nullopt, Tint::blue, QStringLiteral("正在连接手机"),
                           QStringLiteral("请保持 USB 线连接，稍等片刻。")};
    }
    if (device.isWaitingForApproval()) {
        return BannerStyle{std::nullopt, Tint::blue, QStringLiteral("等待手机确认"),
                           QStringLiteral("请解锁手机，在“允许 USB 调试吗？”的提示中点按“允许”。")};
    }
    switch (device.state) {
    case AndroidDevice::State::authorized:
        return std::nullopt;
    case AndroidDevice::State::noPermissions:
        return BannerStyle{Symbol::exclamationmarkTriangleFill, Tint::orange, QStringLiteral("无法打开手机的 USB 接口"),
                           ADBClientError::notReady(device).errorDescription()};
    case AndroidDevice::State::offline:
        return BannerStyle{Symbol::exclamationmarkTriangleFill, Tint::orange, deviceStateText(device.state),
                           ADBClientError(ADBClientError::Case::deviceOffline).errorDescription()};
    case AndroidDevice::State::unauthorized:
    case AndroidDevice::State::authorizing:
    case AndroidDevice::State::connecting:
    case AndroidDevice::State::recovery:
    case AndroidDevice::State::bootloader:
    case AndroidDevice::State::unknown:
        break;
    }
    // A phone in its recovery or boot loader, or in a state this version does not know, runs no system to command.
    return BannerStyle{Symbol::exclamationmarkTriangleFill, Tint::orange, deviceStateText(device.state),
                       QStringLiteral("手机现在不在系统中运行，无法通过 USB 操作。请重新启动手机，解锁后再试。")};
}

std::optional<BannerStyle> usbPhoneProblemBanner(const std::optional<QString> &problem)
{
    if (!problem) {
        return std::nullopt;
    }
    return BannerStyle{Symbol::exclamationmarkTriangleFill, Tint::orange, QStringLiteral("手机正被其他 adb 程序使用"),
                       *problem};
}

TransferEventStyle transferEventStyle(TransferEventKind kind)
{
    switch (kind) {
    case TransferEventKind::queued:
        return {Symbol::clockFill, Tint::blue, QStringLiteral("等待发送")};
    case TransferEventKind::sending:
        return {Symbol::arrowUpCircleFill, Tint::blue, QStringLiteral("正在发送")};
    case TransferEventKind::receiving:
        return {Symbol::arrowDownCircleFill, Tint::blue, QStringLiteral("正在接收")};
    case TransferEventKind::completed:
        return {Symbol::checkmarkCircleFill, Tint::green, QStringLiteral("传输完成")};
    case TransferEventKind::paused:
        return {Symbol::pauseCircleFill, Tint::blue, QStringLiteral("传输已暂停")};
    case TransferEventKind::cancelled:
        return {Symbol::xmarkCircleFill, Tint::secondary, QStringLiteral("传输已取消")};
    case TransferEventKind::failed:
        return {Symbol::exclamationmarkTriangleFill, Tint::orange, QStringLiteral("传输失败")};
    case TransferEventKind::connecting:
    case TransferEventKind::awaitingConfirmation:
    case TransferEventKind::paired:
    case TransferEventKind::waitingForConnection:
    case TransferEventKind::disconnected:
        break;
    }
    // The link's own events, and any kind a newer core may add.
    return {Symbol::arrowLeftArrowRightCircleFill, Tint::blue, QStringLiteral("文件传输")};
}

bool showsTransferBanner(const std::optional<TransferEvent> &event)
{
    return event && !event->transferId.isEmpty();
}

std::optional<double> transferProgress(const TransferEvent &event)
{
    const bool moving = event.kind == TransferEventKind::sending || event.kind == TransferEventKind::receiving;
    if (!moving || event.totalBytes == 0) {
        return std::nullopt;
    }
    return double(event.transferredBytes) / double(event.totalBytes);
}

bool showsRevealButton(const TransferEvent &event)
{
    return event.kind == TransferEventKind::completed && event.direction == TransferDirection::receiving;
}

QString revealProblemText(const QString &receiveFolder)
{
    return QStringLiteral("没有找到能打开文件夹的文件管理器。收到的文件在“%1”。").arg(receiveFolder);
}

QList<DeviceInfoRow> deviceInfoRows(const AndroidDevice &device)
{
    QList<DeviceInfoRow> rows{{QStringLiteral("连接方式"), QStringLiteral("USB")}};
    if (const std::optional<QString> version = device.androidVersionLabel()) {
        rows.append({QStringLiteral("系统"), *version});
    }
    if (device.manufacturer && !device.manufacturer->isEmpty()) {
        rows.append({QStringLiteral("制造商"), *device.manufacturer});
    }
    // adb lists the serial the phone reports; it is shown as a phone's name is.
    rows.append({QStringLiteral("设备编号"), phoneText(device.serial)});
    return rows;
}

} // namespace DeviceDashboardPresentation

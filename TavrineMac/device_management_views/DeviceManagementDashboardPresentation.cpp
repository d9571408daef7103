#include "DeviceManagementDashboardPresentation.h"

#include "DeviceDashboardPresentation.h"
#include "ManagedApplicationsPresentation.h"
#include "TrustedPhoneOnUSB.h"

#include <QFileInfo>

#include <algorithm>

QList<DashboardSection> allDashboardSections()
{
    return {DashboardSection::home, DashboardSection::content, DashboardSection::applications};
}

QString rawValue(DashboardSection section)
{
    switch (section) {
    case DashboardSection::home:
        return QStringLiteral("首页");
    case DashboardSection::content:
        return QStringLiteral("内容");
    case DashboardSection::applications:
        return QStringLiteral("应用");
    }
    return {};
}

std::optional<DashboardSection> dashboardSectionFromRawValue(const QString &text)
{
    for (const DashboardSection section : allDashboardSections()) {
        if (rawValue(section) == text) {
            return section;
        }
    }
    return std::nullopt;
}

QString connectionSummaryText(bool isManagementConnected, std::optional<AndroidDevice::State> usbState,
                              std::optional<qint64> batteryPercent)
{
    const bool isUSBConnected = usbState == AndroidDevice::State::authorized;
    // A phone on USB that cannot take commands is not "connected" by USB: its state is said instead.
    const std::optional<QString> usbProblem =
        usbState && !isUSBConnected ? std::optional(DeviceDashboardPresentation::deviceStateText(*usbState))
                                    : std::nullopt;
    if (!isManagementConnected) {
        if (usbProblem)
            return *usbProblem + QStringLiteral(" · 手机端 Tavrine 未连接");
        return isUSBConnected ? QStringLiteral("USB 已连接 · 手机端 Tavrine 未连接") : QStringLiteral("未连接");
    }
    QString text = isUSBConnected ? QStringLiteral("无线 + USB 已连接") : QStringLiteral("无线已连接");
    if (usbProblem)
        text += QStringLiteral(" · ") + *usbProblem;
    if (batteryPercent) {
        text += QStringLiteral(" · 电量 %1%").arg(*batteryPercent);
    }
    return text;
}

namespace DeviceManagementDashboardPresentation {

bool isManagementConnected(const TransferStore::Phase &phase)
{
    return phase.kind == TransferStore::Phase::Kind::connected;
}

std::optional<AndroidDevice> usbDevice(const std::optional<TrustedDeviceRecord> &record,
                                       const std::optional<ManagedDeviceSnapshot> &snapshot,
                                       const QList<AndroidDevice> &devices)
{
    if (record) {
        std::optional<AndroidDevice> match = matchedUSBDevice(*record, devices);
        if (record->usbSerial) {
            // A phone bound by its serial is that phone alone: not a stranger of its model plugged in while it is
            // away, nor a phone that lists its serial with another model than the one it reports.
            const bool namesOtherModel = match && match->model && snapshot && !snapshot->model.trimmed().isEmpty() &&
                                         !match->matchesPhoneModel(snapshot->model);
            return namesOtherModel ? std::nullopt : match;
        }
        if (match)
            return match;
    }
    return ManagedApplicationsPresentation::usbTargetDevice(snapshot, devices);
}

bool isUSBConnected(const std::optional<AndroidDevice> &usbDevice)
{
    return usbDevice && usbDevice->state == AndroidDevice::State::authorized;
}

QString loadTaskID(const std::optional<QString> &selectedTrustedDeviceID, bool isManagementConnected)
{
    return selectedTrustedDeviceID.value_or(QStringLiteral("none")) + u'|' +
           (isManagementConnected ? QStringLiteral("true") : QStringLiteral("false"));
}

StatusArea statusArea(bool hasSnapshot, bool isLoadingOverview)
{
    if (hasSnapshot) {
        return StatusArea::statusCard;
    }
    return isLoadingOverview ? StatusArea::syncing : StatusArea::nothing;
}

bool showsPermissionHint(const std::optional<ManagedDeviceSnapshot> &snapshot)
{
    return snapshot && !snapshot->capabilities.allFilesGranted;
}

std::optional<qint64> batteryPercent(const std::optional<ManagedDeviceSnapshot> &snapshot)
{
    return snapshot ? snapshot->battery.percent : std::nullopt;
}

QString batteryValue(std::optional<qint64> percent)
{
    return percent ? QStringLiteral("%1%").arg(*percent) : QStringLiteral("暂不可用");
}

QString batterySymbolName(bool charging)
{
    return charging ? QStringLiteral("battery.100percent.bolt") : QStringLiteral("battery.75percent");
}

QList<std::pair<QString, QString>> deviceInfoRows(const ManagedDeviceSnapshot &snapshot)
{
    return {
        {QStringLiteral("设备"), snapshot.manufacturer + u' ' + snapshot.model},
        {QStringLiteral("系统"), QStringLiteral("Android ") + snapshot.androidVersion},
        {QStringLiteral("安全更新"),
         snapshot.securityPatch.isEmpty() ? QStringLiteral("未提供") : snapshot.securityPatch},
        {QStringLiteral("Tavrine"), snapshot.agentVersion},
        {QStringLiteral("连接"), QStringLiteral("本地加密")},
    };
}

QString detailsButtonTitle(bool isShowingDetails)
{
    return isShowingDetails ? QStringLiteral("收起设备详情") : QStringLiteral("设备详情");
}

QList<TransferTaskRecord> recentTasks(const QList<TransferTaskRecord> &tasks)
{
    return tasks.first(std::min(tasks.size(), recentTaskLimit));
}

QList<QuickActionItem> quickActions()
{
    return {
        {QStringLiteral("发送文件"), QStringLiteral("paperplane.fill"), true, QuickActionTarget::sendFiles},
        {QStringLiteral("查看照片"), QStringLiteral("photo.on.rectangle"), false, QuickActionTarget::photos},
        {QStringLiteral("浏览手机"), QStringLiteral("folder"), false, QuickActionTarget::browsePhone},
        {QStringLiteral("安装应用"), QStringLiteral("square.and.arrow.down"), false, QuickActionTarget::applications},
    };
}

DropDecision dropDecision(const QList<QUrl> &urls)
{
    DropDecision decision;
    bool allPackages = true;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QString path = url.toLocalFile();
        decision.paths.append(path);
        const QString extension = QFileInfo(path).suffix().toLower();
        const bool isPackage = extension == QLatin1String("apk") || extension == QLatin1String("aab");
        allPackages = allPackages && isPackage;
    }
    if (!decision.paths.isEmpty()) {
        decision.kind = allPackages ? DropDecision::Kind::install : DropDecision::Kind::send;
    }
    return decision;
}

} // namespace DeviceManagementDashboardPresentation

#include "ManagedApplicationsPresentation.h"

#include "DeviceDashboardPresentation.h"
#include "ViewDates.h"

#include <array>

namespace ManagedApplicationsPresentation {

namespace {

struct SymbolWords
{
    std::array<const char *, 3> words; // null where a row has fewer
    const char *symbol;
};

// Tried in order; the first row with a word in the name decides.
const std::array symbolTable{
    SymbolWords{{"相册", "photo", "gallery"}, "photo.on.rectangle"},
    SymbolWords{{"地图", "map", nullptr}, "map"},
    SymbolWords{{"音乐", "music", nullptr}, "music.note"},
    SymbolWords{{"文件", "file", nullptr}, "folder"},
    SymbolWords{{"日历", "calendar", nullptr}, "calendar"},
    SymbolWords{{"浏览器", "browser", nullptr}, "globe"},
};

QString pendingName(const std::optional<ManagedApplication> &application, const QString &fallback)
{
    return application ? application->name : fallback;
}

QString targetName(const std::optional<AndroidDevice> &target)
{
    return target ? target->displayName() : QStringLiteral("USB 手机");
}

} // namespace

std::optional<AndroidDevice> usbTargetDevice(const std::optional<ManagedDeviceSnapshot> &snapshot,
                                             const QList<AndroidDevice> &devices)
{
    if (!snapshot) {
        return std::nullopt;
    }
    const QString model = snapshot->model.trimmed();
    if (model.isEmpty()) {
        return std::nullopt;
    }
    std::optional<AndroidDevice> target;
    for (const AndroidDevice &device : devices) {
        if (device.state != AndroidDevice::State::authorized || !device.matchesPhoneModel(model)) {
            continue;
        }
        if (target) {
            return std::nullopt; // two phones of the same model: neither is known to be this one
        }
        target = device;
    }
    return target;
}

QString applicationSymbolName(const ManagedApplication &application)
{
    const QString name = application.name.toLower();
    for (const SymbolWords &row : symbolTable) {
        for (const char *word : row.words) {
            if (word && name.contains(QString::fromUtf8(word))) {
                return QString::fromLatin1(row.symbol);
            }
        }
    }
    return tileSymbolName(application);
}

QString tileSymbolName(const ManagedApplication &application)
{
    return application.system ? QStringLiteral("gearshape") : QStringLiteral("app");
}

QString updatedText(const ManagedApplication &application)
{
    return QStringLiteral("更新于 ") + ViewDates::dateText(application.updatedAtMillis);
}

QString actionTitle(ApplicationAction action)
{
    switch (action) {
    case ApplicationAction::open:
        return QStringLiteral("打开");
    case ApplicationAction::showDetails:
        return QStringLiteral("在手机上查看详情");
    case ApplicationAction::uninstall:
        return QStringLiteral("卸载…");
    case ApplicationAction::forceStop:
        return QStringLiteral("强制停止");
    case ApplicationAction::clearData:
        return QStringLiteral("清除数据…");
    case ApplicationAction::uninstallOverUSB:
        return QStringLiteral("通过 USB 卸载…");
    case ApplicationAction::divider:
        break;
    }
    return {};
}

bool isDestructive(ApplicationAction action)
{
    return action == ApplicationAction::uninstall || action == ApplicationAction::clearData ||
           action == ApplicationAction::uninstallOverUSB;
}

QList<ApplicationAction> contextMenuActions(const ManagedApplication &application)
{
    QList<ApplicationAction> actions;
    if (application.launchable) {
        actions.append(ApplicationAction::open);
    }
    actions.append(ApplicationAction::showDetails);
    if (!application.system) {
        actions.append({ApplicationAction::divider, ApplicationAction::uninstall});
    }
    return actions;
}

QList<ApplicationAction> moreActions(const ManagedApplication &application, bool hasUSBTarget)
{
    if (application.system) {
        return {};
    }
    QList<ApplicationAction> actions{ApplicationAction::uninstall};
    if (hasUSBTarget) {
        actions.append({ApplicationAction::divider, ApplicationAction::forceStop, ApplicationAction::clearData,
                        ApplicationAction::uninstallOverUSB});
    }
    return actions;
}

Confirmation uninstallConfirmation(const std::optional<ManagedApplication> &application)
{
    return {QStringLiteral("在手机上卸载 ") + pendingName(application, QStringLiteral("这个应用")) +
                QStringLiteral("？"),
            QStringLiteral("手机系统会显示最终确认。"), QStringLiteral("继续卸载")};
}

Confirmation clearDataConfirmation(const std::optional<ManagedApplication> &application,
                                   const std::optional<AndroidDevice> &target)
{
    return {QStringLiteral("清除 ") + pendingName(application, QStringLiteral("应用")) +
                QStringLiteral(" 的全部本地数据？"),
            QStringLiteral("目标：") + targetName(target) + QStringLiteral("。这个操作无法撤销。"),
            QStringLiteral("永久清除数据")};
}

Confirmation usbUninstallConfirmation(const std::optional<ManagedApplication> &application,
                                      const std::optional<AndroidDevice> &target)
{
    return {QStringLiteral("通过 USB 卸载 ") + pendingName(application, QStringLiteral("应用")) + QStringLiteral("？"),
            QStringLiteral("目标：") + targetName(target) + QStringLiteral("。应用数据也会被移除。"),
            QStringLiteral("卸载")};
}

QString installHelp(bool hasUSBTarget, const std::optional<AndroidDevice> &usbPhone)
{
    if (hasUSBTarget) {
        return QStringLiteral("选择 APK 安装到手机");
    }
    if (const auto problem = usbPhone ? DeviceDashboardPresentation::deviceStateBanner(*usbPhone) : std::nullopt) {
        return problem->text;
    }
    return QStringLiteral("连接当前手机后即可安装应用");
}

Unavailable disconnectedContent(bool isUSBConnected)
{
    if (isUSBConnected) {
        return {QStringLiteral("手机端 Tavrine 未连接"),
                QStringLiteral("请在手机上打开 Tavrine，并让手机与电脑保持在同一个 Wi-Fi。")};
    }
    return {QStringLiteral("手机未连接"), QStringLiteral("请确认手机已联网并打开 Tavrine。上线后会自动连接。")};
}

ListContent listContent(bool isLoadingApplications, qsizetype applicationCount)
{
    if (applicationCount == 0) {
        return isLoadingApplications ? ListContent::loading : ListContent::empty;
    }
    return ListContent::grid;
}

std::optional<QString> selectionAfterListChange(const std::optional<QString> &selectedApplicationID,
                                                const QList<ManagedApplication> &applications)
{
    if (selectedApplicationID) {
        for (const ManagedApplication &application : applications) {
            if (application.packageName == *selectedApplicationID) {
                return selectedApplicationID;
            }
        }
    }
    if (applications.isEmpty()) {
        return std::nullopt;
    }
    return applications.first().packageName;
}

} // namespace ManagedApplicationsPresentation

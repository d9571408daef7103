#include "ADBClientError.h"

#include "PhoneAnswer.h"
#include "TextExcerpt.h"

#include <array>
#include <utility>

namespace {

// "10 分钟" for whole minutes, else whole seconds rounded up: "15 秒".
QString durationText(std::chrono::milliseconds duration)
{
    if (duration >= std::chrono::minutes(1) && duration % std::chrono::minutes(1) == std::chrono::milliseconds(0)) {
        return QStringLiteral("%1 分钟").arg(std::chrono::duration_cast<std::chrono::minutes>(duration).count());
    }
    return QStringLiteral("%1 秒").arg(std::chrono::ceil<std::chrono::seconds>(duration).count());
}

} // namespace

ADBClientError::ADBClientError(Case errorCase) : ADBClientError(errorCase, {}, {}, 0) {}

ADBClientError::ADBClientError(Case errorCase, const QStringList &arguments, const QString &message, int status)
    : m_case(errorCase), m_arguments(arguments), m_message(textExcerpt(message)), m_status(status),
      m_what(errorDescription().toUtf8())
{}

ADBClientError ADBClientError::commandFailed(const QStringList &arguments, const QString &message, int status)
{
    return ADBClientError(Case::commandFailed, arguments, message, status);
}

ADBClientError ADBClientError::commandTimedOut(const QStringList &arguments, const QString &commandName,
                                               std::chrono::milliseconds timeout)
{
    return ADBClientError(
        Case::commandTimedOut, arguments,
        QStringLiteral("“%1”没有在 %2内完成，Tavrine 已停止这条 adb 命令。请检查 USB 连接并解锁手机后再试。")
            .arg(commandName, durationText(timeout)),
        0);
}

ADBClientError ADBClientError::outputTooLarge(const QStringList &arguments, const QString &commandName)
{
    return ADBClientError(
        Case::outputTooLarge, arguments,
        QStringLiteral("“%1”的输出过多，Tavrine 已停止这条 adb 命令。请重新连接手机后再试。").arg(commandName), 0);
}

ADBClientError ADBClientError::classify(const QString &output, const QStringList &arguments, int status)
{
    // The first text found, in this order, decides; the search is case-sensitive. Android's package manager
    // writes its codes ("Failure [INSTALL_FAILED_…]"); adb writes its own failures in English.
    static const std::array<std::pair<QLatin1String, Case>, 27> codes{{
        {QLatin1String("INSTALL_FAILED_USER_RESTRICTED"), Case::installNeedsPhoneApproval},
        {QLatin1String("INSTALL_FAILED_UPDATE_INCOMPATIBLE"), Case::signatureConflict},
        {QLatin1String("INSTALL_FAILED_VERSION_DOWNGRADE"), Case::versionDowngrade},
        {QLatin1String("INSTALL_PARSE_FAILED"), Case::invalidPackage},
        {QLatin1String("INSTALL_FAILED_INVALID_APK"), Case::invalidPackage},
        {QLatin1String("INSTALL_FAILED_INSUFFICIENT_STORAGE"), Case::insufficientStorage},
        {QLatin1String("INSTALL_FAILED_TEST_ONLY"), Case::installTestOnly},
        // "User rejected permissions": the install prompt of several makers' phones was declined.
        {QLatin1String("INSTALL_FAILED_ABORTED"), Case::installRejectedOnPhone},
        {QLatin1String("INSTALL_FAILED_OLDER_SDK"), Case::installNeedsNewerAndroid},
        {QLatin1String("INSTALL_FAILED_NO_MATCHING_ABIS"), Case::installWrongProcessor},
        {QLatin1String("INSTALL_FAILED_DEPRECATED_SDK_VERSION"), Case::installNeedsOlderAndroid},
        {QLatin1String("DELETE_FAILED_"), Case::uninstallFailed},
        {QLatin1String("SecurityException"), Case::operationNotAllowed},
        {QLatin1String("no permissions"), Case::usbPermissionDenied},
        {QLatin1String("insufficient permissions for device"), Case::usbPermissionDenied},
        {QLatin1String("device unauthorized"), Case::deviceNotAuthorized},
        {QLatin1String("device still authorizing"), Case::deviceNotAuthorized},
        {QLatin1String("device offline"), Case::deviceOffline},
        {QLatin1String("device still connecting"), Case::deviceOffline},
        {QLatin1String("' not found"), Case::deviceNotFound},
        {QLatin1String("no device with transport id"), Case::deviceNotFound},
        {QLatin1String("no devices/emulators found"), Case::deviceNotFound},
        {QLatin1String("failed to start daemon"), Case::serverUnavailable},
        {QLatin1String("didn't ACK"), Case::serverUnavailable},
        {QLatin1String("cannot connect to daemon"), Case::serverUnavailable},
        {QLatin1String("Error type 3"), Case::companionMissing},
        {QLatin1String("does not exist."), Case::companionMissing},
    }};
    for (const auto &[code, errorCase] : codes) {
        if (output.contains(code)) {
            return ADBClientError(errorCase);
        }
    }
    // "Failed" is all that "pm clear" says when the phone did not clear the data.
    if (PhoneAnswer::hasLine(output, [](QStringView line) { return line == QLatin1String("Failed"); })) {
        return ADBClientError(Case::operationFailed);
    }
    return commandFailed(arguments, output, status);
}

ADBClientError ADBClientError::notReady(const AndroidDevice &device)
{
    return ADBClientError(device.state == AndroidDevice::State::noPermissions ? Case::usbPermissionDenied
                                                                              : Case::deviceNotAuthorized);
}

QString ADBClientError::errorDescription() const
{
    switch (m_case) {
    case Case::commandFailed:
        return m_message.isEmpty() ? QStringLiteral("操作没有完成，请重新连接手机后再试。") : m_message;
    case Case::executableMissing:
        return QStringLiteral("Tavrine 的手机连接组件不可用，请重新安装 Tavrine。");
    case Case::serverStopping:
        return QStringLiteral("Tavrine 正在退出，手机连接操作已取消。");
    case Case::deviceNotAuthorized:
        return QStringLiteral("请解锁手机，并允许这台电脑连接。");
    case Case::installNeedsPhoneApproval:
        return QStringLiteral(
            "手机系统暂时取消了本次安装。请保持手机解锁和 USB 连接稳定后重试；若出现安全确认，请允许安装。");
    case Case::signatureConflict:
        return QStringLiteral("手机上已有另一个签名的同名应用。为保护现有数据，Tavrine 没有覆盖它。");
    case Case::versionDowngrade:
        return QStringLiteral("所选版本低于手机中的版本，Tavrine 不会自动降级应用。");
    case Case::invalidPackage:
        return QStringLiteral("这个安装包无效或签名不完整，请换一个 APK。");
    case Case::invalidPackageIdentifier:
        return QStringLiteral("应用标识无效，Tavrine 已取消操作。");
    case Case::insufficientStorage:
        return QStringLiteral("手机可用空间不足，清理空间后再试。");
    case Case::commandTimedOut:
    case Case::outputTooLarge:
        return m_message;
    case Case::usbPermissionDenied:
        return QStringLiteral(
            "这台电脑没有打开这部手机 USB 接口的权限。请为手机添加 udev 规则，或把当前用户加入 plugdev "
            "组，然后重新插拔手机。");
    case Case::deviceNotFound:
        return QStringLiteral("找不到这部手机，请检查 USB 连接后再试。");
    case Case::deviceOffline:
        return QStringLiteral("手机暂时没有响应，请重新插拔 USB 线后再试。");
    case Case::serverUnavailable:
        return QStringLiteral("手机连接服务没有启动，请稍后再试。");
    case Case::installTestOnly:
        return QStringLiteral("这是只供测试的调试版安装包，手机不允许这样安装。请换用正式版的 APK。");
    case Case::installRejectedOnPhone:
        return QStringLiteral("手机上的安装提示没有被允许。请解锁手机，重新安装，并在手机弹出提示时选择允许。");
    case Case::installNeedsNewerAndroid:
        return QStringLiteral("这个应用需要更新的 Android 版本，这部手机的系统太旧，无法安装。");
    case Case::installWrongProcessor:
        return QStringLiteral("这个安装包不支持这部手机的处理器，请换一个适合这部手机的 APK。");
    case Case::installNeedsOlderAndroid:
        return QStringLiteral("这个应用是为很旧的 Android 版本制作的，这部手机的系统不再允许安装它。");
    case Case::uninstallFailed:
        return QStringLiteral("手机没有卸载这个应用。它可能已经被卸载，或者是手机不允许卸载的应用。");
    case Case::operationNotAllowed:
        return QStringLiteral("手机系统不允许对这个应用进行这个操作。");
    case Case::operationFailed:
        return QStringLiteral("手机没有完成这个操作，请确认应用仍在手机上，然后再试。");
    case Case::companionMissing:
        return QStringLiteral("手机上没有找到 Tavrine 手机端，请先安装它。");
    case Case::companionNotStarted:
        return QStringLiteral("手机没有打开 Tavrine，请解锁手机后再试。");
    }
    return QString();
}

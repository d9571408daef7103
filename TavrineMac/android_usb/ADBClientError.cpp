#include "ADBClientError.h"

#include "TextExcerpt.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Whether a line, trimmed, is one adb or the phone writes in its own words: adb's failures and notices, the package
// manager's "Failure […]" and "Failed", the activity manager's "Error…", Java's exceptions. Other lines (the
// progress adb reports, a server's start-up log, a stack frame, the path of a package on the phone) are not read.
bool isOwnLine(QStringView line)
{
    static const std::array<QLatin1String, 10> beginnings{
        QLatin1String("Failure"),        QLatin1String("Failed"), QLatin1String("Error"),
        QLatin1String("error:"),         QLatin1String("adb:"),   QLatin1String("* "),
        QLatin1String("ADB server"),     QLatin1String("java."),  QLatin1String("Exception"),
        QLatin1String("cannot connect"),
    };
    return std::ranges::any_of(beginnings, [line](QLatin1String beginning) { return line.startsWith(beginning); });
}

// What adb or the phone said on `line` in its own words, without what it echoes of the command line: the path of
// the package adb failed to install, a quoted serial. Empty for any other line.
QString ownText(QStringView line, const QStringList &arguments)
{
    static const QLatin1String failedInstall("adb: failed to install ");
    if (line.startsWith(failedInstall)) {
        // "adb: failed to install PATH: ANSWER": the phone's answer follows the path that adb echoes.
        const QStringView rest = line.mid(failedInstall.size());
        qsizetype echoed = -1;
        for (const QString &argument : arguments) {
            if (argument.size() > echoed && rest.startsWith(argument) &&
                rest.mid(argument.size()).startsWith(QLatin1String(": "))) {
                echoed = argument.size();
            }
        }
        if (echoed >= 0) {
            return rest.mid(echoed + 2).toString();
        }
        const qsizetype answer = rest.lastIndexOf(QLatin1String(": Failure ["));
        return answer < 0 ? QString() : rest.mid(answer + 2).toString();
    }
    if (!isOwnLine(line)) {
        return {};
    }
    QStringList echoes = arguments;
    std::ranges::sort(echoes, [](const QString &left, const QString &right) { return left.size() > right.size(); });
    QString text = line.toString();
    for (const QString &argument : std::as_const(echoes)) {
        if (argument.contains(u'/')) {
            text.replace(argument, QStringLiteral("…"));
        } else if (!argument.isEmpty()) {
            text.replace(u'\'' + argument + u'\'', QStringLiteral("'…'"));
        }
    }
    return text;
}

// The code of a "Failure [CODE…]" line, such as "INSTALL_FAILED_ABORTED"; empty when the line holds none.
QString failureCode(const QString &line)
{
    static const QRegularExpression code(QStringLiteral("Failure \\[([A-Z][A-Z0-9]*_[A-Z0-9_]*)"));
    constexpr qsizetype longestCode = 80;
    const QRegularExpressionMatch match = code.match(line);
    return match.hasMatch() && match.capturedLength(1) <= longestCode ? match.captured(1) : QString();
}

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
    : m_case(errorCase), m_arguments(arguments), m_message(withoutControlCharacters(textExcerpt(message), true)),
      m_status(status), m_what(errorDescription().toUtf8())
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

ADBClientError ADBClientError::phoneRefused(const QStringList &arguments, const QString &code, int status)
{
    return ADBClientError(Case::phoneRefusedWithCode, arguments, code, status);
}

ADBClientError ADBClientError::serverPortTaken(quint16 port)
{
    return ADBClientError(Case::serverPortTaken, {}, QString::number(port), 0);
}

ADBClientError ADBClientError::classify(const QString &output, const QStringList &arguments, int status,
                                        const QString &otherOutput)
{
    QStringList ownLines;
    for (const QString *stream : {&output, &otherOutput}) {
        for (const QStringView line : QStringView(*stream).split(u'\n')) {
            if (QString own = ownText(line.trimmed(), arguments); !own.isEmpty()) {
                ownLines.append(std::move(own));
            }
        }
    }
    const auto anyLine = [&ownLines](const auto &test) {
        return std::ranges::any_of(ownLines, test);
    };
    // The first text found, in this order, decides; the search is case-sensitive. Android's package manager
    // writes its codes ("Failure [INSTALL_FAILED_…]"); adb writes its own failures in English.
    static const std::array<std::pair<QLatin1String, Case>, 40> codes{{
        {QLatin1String("INSTALL_FAILED_USER_RESTRICTED"), Case::installNeedsPhoneApproval},
        {QLatin1String("INSTALL_FAILED_UPDATE_INCOMPATIBLE"), Case::signatureConflict},
        {QLatin1String("INSTALL_FAILED_VERSION_DOWNGRADE"), Case::versionDowngrade},
        {QLatin1String("INSTALL_PARSE_FAILED"), Case::invalidPackage},
        {QLatin1String("INSTALL_FAILED_INVALID_APK"), Case::invalidPackage},
        {QLatin1String("INSTALL_FAILED_INSUFFICIENT_STORAGE"), Case::insufficientStorage},
        {QLatin1String("INSTALL_FAILED_TEST_ONLY"), Case::installTestOnly},
        // "User rejected permissions": the install prompt of several makers' phones was declined.
        {QLatin1String("INSTALL_FAILED_ABORTED"), Case::installRejectedOnPhone},
        // The install prompt of Xiaomi's phones was declined, or not answered in time.
        {QLatin1String("INSTALL_CANCELED_BY_USER"), Case::installCanceledOnPhone},
        {QLatin1String("INSTALL_FAILED_OLDER_SDK"), Case::installNeedsNewerAndroid},
        {QLatin1String("INSTALL_FAILED_NO_MATCHING_ABIS"), Case::installWrongProcessor},
        {QLatin1String("INSTALL_FAILED_DEPRECATED_SDK_VERSION"), Case::installNeedsOlderAndroid},
        {QLatin1String("INSTALL_FAILED_MISSING_SPLIT"), Case::installMissingSplit},
        {QLatin1String("INSTALL_FAILED_VERIFICATION_FAILURE"), Case::installVerificationFailed},
        {QLatin1String("INSTALL_FAILED_CONFLICTING_PROVIDER"), Case::installConflictingProvider},
        {QLatin1String("INSTALL_FAILED_DUPLICATE_PERMISSION"), Case::installDuplicatePermission},
        {QLatin1String("INSTALL_FAILED_MISSING_SHARED_LIBRARY"), Case::installMissingSharedLibrary},
        {QLatin1String("INSTALL_FAILED_SHARED_USER_INCOMPATIBLE"), Case::installSharedUserIncompatible},
        {QLatin1String("INSTALL_FAILED_INTERNAL_ERROR"), Case::installInternalError},
        {QLatin1String("INSTALL_FAILED_SESSION_INVALID"), Case::installSessionInvalid},
        {QLatin1String("INSTALL_FAILED_PERMISSION_MODEL_DOWNGRADE"), Case::installPermissionModelDowngrade},
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
        {QLatin1String("failed to check server version"), Case::serverVersionUnknown},
        {QLatin1String("protocol fault"), Case::serverNotAnswering},
        // The phone's end of the connection went away while the command ran.
        {QLatin1String("error: closed"), Case::connectionClosed},
        {QLatin1String("Error type 3"), Case::companionMissing},
        {QLatin1String("does not exist."), Case::companionMissing},
    }};
    for (const auto &[text, errorCase] : codes) {
        const QLatin1String code = text;
        if (anyLine([code](const QString &line) { return line.contains(code); })) {
            return ADBClientError(errorCase);
        }
    }
    // "Failed" is all that "pm clear" says when the phone did not clear the data.
    if (anyLine([](const QString &line) { return line == QLatin1String("Failed"); })) {
        return ADBClientError(Case::operationFailed);
    }
    for (const QString &line : std::as_const(ownLines)) {
        if (const QString code = failureCode(line); !code.isEmpty()) {
            return phoneRefused(arguments, code, status);
        }
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
    case Case::installNeedsUSBInstallSetting:
        return QStringLiteral("手机关闭了“USB 安装”，不允许通过 USB 安装应用。请在手机的 开发者选项 中打开“USB 安装”，"
                              "然后重试。");
    case Case::installMissingSplit:
        return QStringLiteral(
            "这个应用缺少需要一起安装的 split APK。请同时选择 base.apk 和它的全部 split APK 后再试。");
    case Case::installCanceledOnPhone:
        return QStringLiteral("安装在手机上被取消了。请解锁手机后重新安装，并在手机弹出安装确认时选择继续安装。");
    case Case::installVerificationFailed:
        return QStringLiteral("手机的应用验证没有通过这个安装包，安装已被阻止。");
    case Case::installConflictingProvider:
        return QStringLiteral("手机上另一个应用已经使用了这个应用需要的内容提供方名称，两者不能同时安装。");
    case Case::installDuplicatePermission:
        return QStringLiteral("手机上另一个应用已经定义了这个应用声明的同名权限，两者不能同时安装。");
    case Case::installMissingSharedLibrary:
        return QStringLiteral("这部手机缺少这个应用需要的系统库，无法安装。");
    case Case::installSharedUserIncompatible:
        return QStringLiteral("这个应用与手机上共享同一用户身份的应用签名不一致，无法安装。");
    case Case::installInternalError:
        return QStringLiteral("手机在安装时出现内部错误。请重启手机后再试。");
    case Case::installSessionInvalid:
        return QStringLiteral("手机上的这次安装已失效。请保持手机解锁和 USB 连接稳定后重新安装。");
    case Case::installPermissionModelDowngrade:
        return QStringLiteral("所选版本使用旧的权限方式，手机不允许用它替换已安装的版本。");
    case Case::phoneRefusedWithCode:
        return QStringLiteral("手机没有完成这个操作（Android 返回代码 %1）。").arg(m_message);
    case Case::connectionClosed:
        return QStringLiteral("与手机的连接中断了。请重新插拔 USB 线，解锁手机后再试。");
    case Case::serverNotAnswering:
        return QStringLiteral("手机连接服务没有正常回应，请稍后再试。");
    case Case::serverVersionUnknown:
        return QStringLiteral("无法确认手机连接服务的版本，请稍后再试。");
    case Case::serverPortTaken:
        return QStringLiteral("Tavrine 的手机连接端口 %1 已被其他程序占用。请关闭占用这个端口的程序后再试。")
            .arg(m_message);
    }
    return QString();
}

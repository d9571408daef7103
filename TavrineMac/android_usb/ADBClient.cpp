#include "ADBClient.h"

#include "APKArchiveInspector.h"
#include "BackgroundTask.h"
#include "PairingPayload.h"
#include "TextExcerpt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <array>
#include <functional>
#include <utility>

#include <cerrno>
#include <unistd.h>

namespace {

const QString companionActivity = QStringLiteral("com.drovan.tavrine/.MainActivity");
const QString pairingPayloadExtra = QStringLiteral("tavrine_pairing_payload_b64");
constexpr qsizetype maximumPackageIdentifierLength = 255;

// How a failure text names each kind of command.
QString commandName(ADBCommand command)
{
    switch (command) {
    case ADBCommand::listDevices:
        return QStringLiteral("列出手机");
    case ADBCommand::readProperties:
        return QStringLiteral("读取手机信息");
    case ADBCommand::install:
        return QStringLiteral("安装应用");
    case ADBCommand::launchCompanion:
        return QStringLiteral("在手机上打开 Tavrine");
    case ADBCommand::uninstall:
        return QStringLiteral("卸载应用");
    case ADBCommand::forceStop:
        return QStringLiteral("停止应用");
    case ADBCommand::clearData:
        return QStringLiteral("清除应用数据");
    }
    return {};
}

// "10 分钟" for whole minutes, else whole seconds rounded up: "15 秒".
QString durationText(std::chrono::milliseconds duration)
{
    if (duration >= std::chrono::minutes(1) && duration % std::chrono::minutes(1) == std::chrono::milliseconds(0)) {
        return QStringLiteral("%1 分钟").arg(std::chrono::duration_cast<std::chrono::minutes>(duration).count());
    }
    return QStringLiteral("%1 秒").arg(std::chrono::ceil<std::chrono::seconds>(duration).count());
}

void requireAuthorized(const AndroidDevice &device)
{
    if (device.state != AndroidDevice::State::authorized) {
        throw ADBClientError::notReady(device);
    }
}

// `text` without the lines adb writes about its own server: "* daemon not running; starting now at tcp:45037",
// "* daemon started successfully", a version mismatch that restarts the server. They are never part of a message.
QString withoutServerNotices(const QString &text)
{
    if (!text.contains(QLatin1String("* daemon")) && !text.contains(QLatin1String("adb server version ("))) {
        return text.trimmed();
    }
    QStringList kept;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(QLatin1String("* daemon")) &&
            !trimmed.startsWith(QLatin1String("adb server version ("))) {
            kept.append(line);
        }
    }
    return kept.join(QLatin1Char('\n')).trimmed();
}

// What the phone answered a shell command, on either stream: Android before 7 sends everything on one stream,
// which adb writes to standard output.
QString phoneAnswer(const CommandResult &result)
{
    return (withoutServerNotices(result.standardOutput) + QLatin1Char('\n') +
            withoutServerNotices(result.standardError))
        .trimmed();
}

bool hasLine(const QString &answer, const std::function<bool(QStringView)> &test)
{
    for (const QStringView line : QStringView(answer).split(QLatin1Char('\n'))) {
        if (test(line.trimmed())) {
            return true;
        }
    }
    return false;
}

// A line by which the activity or package manager reports a failure, also with exit status 0.
bool isFailureLine(QStringView line)
{
    return line.startsWith(QLatin1String("Error")) || line.startsWith(QLatin1String("Failure")) ||
           line.startsWith(QLatin1String("Exception")) || line.startsWith(QLatin1String("java.lang.")) ||
           line == QLatin1String("Failed");
}

// Links each package under a plain name in a private folder: "base.apk" for the first (the plan puts the base
// first), "split1.apk", "split2.apk", … for the others. A hard link where the file system allows one, else a
// symbolic link to the package's absolute path.
QStringList linkPlainNames(const QStringList &files, const QTemporaryDir &folder)
{
    QStringList linked;
    for (qsizetype index = 0; index < files.size(); ++index) {
        const QString name = index == 0 ? QStringLiteral("base.apk") : QStringLiteral("split%1.apk").arg(index);
        const QString link = folder.filePath(name);
        const QByteArray source = QFile::encodeName(QFileInfo(files.at(index)).absoluteFilePath());
        const QByteArray target = QFile::encodeName(link);
        if (::link(source.constData(), target.constData()) != 0 &&
            ::symlink(source.constData(), target.constData()) != 0) {
            throw CommandRunnerError(
                CommandRunnerError::Case::fileSystem,
                QStringLiteral("Cannot link %1 as %2: %3").arg(files.at(index), link, qt_error_string(errno)));
        }
        linked.append(link);
    }
    return linked;
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
    if (hasLine(output, [](QStringView line) { return line == QLatin1String("Failed"); })) {
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

std::chrono::milliseconds ADBCommandTimeouts::of(ADBCommand command) const
{
    switch (command) {
    case ADBCommand::install:
        return install;
    case ADBCommand::launchCompanion:
    case ADBCommand::uninstall:
    case ADBCommand::clearData:
        return application;
    case ADBCommand::listDevices:
    case ADBCommand::readProperties:
    case ADBCommand::forceStop:
        break;
    }
    return query;
}

ADBClient::ADBClient(const std::optional<QString> &executableURL, std::shared_ptr<CommandRunning> runner,
                     std::shared_ptr<ADBServerController> serverController, ADBCommandTimeouts timeouts,
                     std::shared_ptr<CommandRunning> queryRunner)
    : m_runner(std::move(runner)), m_queryRunner(queryRunner ? std::move(queryRunner) : m_runner),
      m_serverController(std::move(serverController)), m_timeouts(timeouts)
{
    if (!executableURL) {
        throw ADBClientError(ADBClientError::Case::executableMissing);
    }
    m_executableURL = *executableURL;
}

QStringList ADBClient::deviceArguments(const AndroidDevice &device)
{
    if (device.transportID && !device.transportID->isEmpty()) {
        return {QStringLiteral("-t"), *device.transportID};
    }
    return {QStringLiteral("-s"), device.serial};
}

QCoro::Task<QList<AndroidDevice>> ADBClient::devices()
{
    const CommandResult listing =
        co_await run({QStringLiteral("devices"), QStringLiteral("-l")}, ADBCommand::listDevices);
    QList<AndroidDevice> devices;
    for (const AndroidDevice &device : ADBOutputParser::parseDeviceList(listing.standardOutput)) {
        if (device.isUSBTransport) {
            devices.append(device); // phones on a network connection are not USB phones
        }
    }

    // Phones that share a serial (or have none) are told apart by their transport ids.
    const auto cacheKey = [](const AndroidDevice &device) {
        return device.transportID && !device.transportID->isEmpty() ? QStringLiteral("t:") + *device.transportID
                                                                    : QStringLiteral("s:") + device.serial;
    };
    // One property read at a time, and only for phones not seen before.
    for (qsizetype index = 0; index < devices.size(); ++index) {
        if (devices.at(index).state != AndroidDevice::State::authorized) {
            continue;
        }
        const QString key = cacheKey(devices.at(index));
        if (const auto cached = m_cachedProperties.constFind(key); cached != m_cachedProperties.cend()) {
            cached->applyTo(devices[index]);
            continue;
        }
        try {
            const CommandResult properties = co_await run(
                deviceArguments(devices.at(index)) + QStringList{QStringLiteral("shell"), QStringLiteral("getprop")},
                ADBCommand::readProperties);
            const ADBDeviceProperties parsed = ADBDeviceProperties::fromGetpropOutput(properties.standardOutput);
            m_cachedProperties.insert(key, parsed);
            parsed.applyTo(devices[index]);
        } catch (const std::exception &) {
            // The phone is shown without its properties; the next listing tries again.
        }
    }

    QSet<QString> listedKeys;
    for (const AndroidDevice &device : std::as_const(devices)) {
        listedKeys.insert(cacheKey(device));
    }
    m_cachedProperties.removeIf([&listedKeys](const QHash<QString, ADBDeviceProperties>::iterator entry) {
        return !listedKeys.contains(entry.key());
    });
    co_return devices;
}

QCoro::Task<void> ADBClient::install(QStringList files, AndroidDevice device)
{
    requireAuthorized(device);
    // The packages are read whole, so the check runs off this thread.
    const APKInstallPlan plan = co_await runInBackground([files] { return APKArchiveInspector::plan(files); });
    QStringList arguments = deviceArguments(device);
    if (plan.kind == APKInstallPlan::Kind::single) {
        // A single package is streamed without its name.
        arguments << QStringLiteral("install") << QStringLiteral("-r") << plan.files;
        requireAnswer(co_await run(arguments, ADBCommand::install), Answer::success);
        co_return;
    }
    // Removed with this frame, whichever way the install ends.
    const QTemporaryDir plainNames(QDir::tempPath() + QStringLiteral("/tavrine-install-XXXXXX"));
    if (!plainNames.isValid()) {
        throw CommandRunnerError(
            CommandRunnerError::Case::fileSystem,
            QStringLiteral("Cannot create a folder for the packages: %1").arg(plainNames.errorString()));
    }
    arguments << QStringLiteral("install-multiple") << QStringLiteral("-r") << linkPlainNames(plan.files, plainNames);
    requireAnswer(co_await run(arguments, ADBCommand::install), Answer::success);
}

QCoro::Task<void> ADBClient::launchCompanion(QString pairingURL, AndroidDevice device)
{
    requireAuthorized(device);
    PairingPayload::parse(pairingURL); // only its refusal matters here
    // URL-safe Base64 without padding: nothing in it means anything to the phone's shell.
    const QString encoded = QString::fromLatin1(
        pairingURL.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const CommandResult result = co_await run(
        deviceArguments(device) + QStringList{QStringLiteral("shell"), QStringLiteral("am"), QStringLiteral("start"),
                                              QStringLiteral("-W"), QStringLiteral("-n"), companionActivity,
                                              QStringLiteral("--es"), pairingPayloadExtra, encoded},
        ADBCommand::launchCompanion);
    const QString answer = phoneAnswer(result);
    const bool started = hasLine(answer, [](QStringView line) { return line == QLatin1String("Status: ok"); }) &&
                         !hasLine(answer, [](QStringView line) { return line.startsWith(QLatin1String("Error")); });
    if (!started) {
        const ADBClientError error = ADBClientError::classify(answer, result.arguments, result.status);
        throw error.errorCase() == ADBClientError::Case::commandFailed
            ? ADBClientError(ADBClientError::Case::companionNotStarted)
            : error;
    }
}

QCoro::Task<void> ADBClient::uninstall(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("pm"), QStringLiteral("uninstall")},
                                 ADBCommand::uninstall, std::move(packageIdentifier), std::move(device),
                                 Answer::success);
}

QCoro::Task<void> ADBClient::forceStop(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("am"), QStringLiteral("force-stop")},
                                 ADBCommand::forceStop, std::move(packageIdentifier), std::move(device), Answer::quiet);
}

QCoro::Task<void> ADBClient::clearData(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("pm"), QStringLiteral("clear")},
                                 ADBCommand::clearData, std::move(packageIdentifier), std::move(device),
                                 Answer::success);
}

QCoro::Task<void> ADBClient::runApplicationCommand(QStringList command, ADBCommand kind, QString packageIdentifier,
                                                   AndroidDevice device, Answer expected)
{
    requireAuthorized(device);
    // The identifier reaches the phone's shell as part of a command line: only a strict identifier gets there.
    const QString identifier = validatePackageIdentifier(packageIdentifier);
    requireAnswer(co_await run(deviceArguments(device) + command + QStringList{identifier}, kind), expected);
}

void ADBClient::requireAnswer(const CommandResult &result, Answer expected)
{
    const QString answer = phoneAnswer(result);
    const bool succeeded = !hasLine(answer, isFailureLine) &&
                           (expected == Answer::quiet ||
                            hasLine(answer, [](QStringView line) { return line == QLatin1String("Success"); }));
    if (!succeeded) {
        throw ADBClientError::classify(answer, result.arguments, result.status);
    }
}

QCoro::Task<CommandResult> ADBClient::run(QStringList arguments, ADBCommand command)
{
    const std::optional<QStringList> fullArguments = m_serverController->arguments(arguments, m_executableURL);
    if (!fullArguments) {
        throw ADBClientError(ADBClientError::Case::serverStopping);
    }
    const std::chrono::milliseconds timeout = m_timeouts.of(command);
    const bool isQuery = command == ADBCommand::listDevices || command == ADBCommand::readProperties;
    std::optional<CommandResult> finished;
    try {
        finished = co_await (isQuery ? m_queryRunner : m_runner)->run(m_executableURL, *fullArguments, timeout);
    } catch (const CommandRunnerError &error) {
        switch (error.errorCase()) {
        case CommandRunnerError::Case::timedOut:
            throw ADBClientError::commandTimedOut(*fullArguments, commandName(command), timeout);
        case CommandRunnerError::Case::outputTooLarge:
            throw ADBClientError::outputTooLarge(*fullArguments, commandName(command));
        case CommandRunnerError::Case::stopped:
            throw ADBClientError(ADBClientError::Case::serverStopping);
        case CommandRunnerError::Case::fileSystem:
        case CommandRunnerError::Case::launch:
            throw;
        }
        throw;
    }
    CommandResult &result = *finished;
    result.arguments = *fullArguments;
    if (result.status == 0) {
        co_return result;
    }
    const QString standardError = withoutServerNotices(result.standardError);
    const QString message = standardError.isEmpty() ? withoutServerNotices(result.standardOutput) : standardError;
    throw ADBClientError::classify(message, *fullArguments, result.status);
}

QString ADBClient::validatePackageIdentifier(const QString &packageIdentifier)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_]+(?:\\.[A-Za-z0-9_]+)+")));
    if (packageIdentifier.size() > maximumPackageIdentifierLength || !pattern.match(packageIdentifier).hasMatch()) {
        throw ADBClientError(ADBClientError::Case::invalidPackageIdentifier);
    }
    return packageIdentifier;
}

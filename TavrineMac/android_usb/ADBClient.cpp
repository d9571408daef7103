#include "ADBClient.h"

#include "APKArchiveInspector.h"
#include "BackgroundTask.h"
#include "PairingPayload.h"
#include "TextExcerpt.h"

#include <QRegularExpression>
#include <QSet>

#include <array>
#include <utility>

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
        throw ADBClientError(ADBClientError::Case::deviceNotAuthorized);
    }
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
    // The first code found, in this order, decides; the search is case-sensitive.
    static const std::array<std::pair<QLatin1String, Case>, 6> codes{{
        {QLatin1String("INSTALL_FAILED_USER_RESTRICTED"), Case::installNeedsPhoneApproval},
        {QLatin1String("INSTALL_FAILED_UPDATE_INCOMPATIBLE"), Case::signatureConflict},
        {QLatin1String("INSTALL_FAILED_VERSION_DOWNGRADE"), Case::versionDowngrade},
        {QLatin1String("INSTALL_PARSE_FAILED"), Case::invalidPackage},
        {QLatin1String("INSTALL_FAILED_INVALID_APK"), Case::invalidPackage},
        {QLatin1String("INSTALL_FAILED_INSUFFICIENT_STORAGE"), Case::insufficientStorage},
    }};
    for (const auto &[code, errorCase] : codes) {
        if (output.contains(code)) {
            return ADBClientError(errorCase);
        }
    }
    return commandFailed(arguments, output, status);
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
                     std::shared_ptr<ADBServerController> serverController, ADBCommandTimeouts timeouts)
    : m_runner(std::move(runner)), m_serverController(std::move(serverController)), m_timeouts(timeouts)
{
    if (!executableURL) {
        throw ADBClientError(ADBClientError::Case::executableMissing);
    }
    m_executableURL = *executableURL;
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

    // One property read at a time, and only for phones not seen before.
    for (qsizetype index = 0; index < devices.size(); ++index) {
        if (devices.at(index).state != AndroidDevice::State::authorized) {
            continue;
        }
        const QString serial = devices.at(index).serial;
        if (const auto cached = m_cachedProperties.constFind(serial); cached != m_cachedProperties.cend()) {
            cached->applyTo(devices[index]);
            continue;
        }
        try {
            const CommandResult properties =
                co_await run({QStringLiteral("-s"), serial, QStringLiteral("shell"), QStringLiteral("getprop")},
                             ADBCommand::readProperties);
            const ADBDeviceProperties parsed = ADBDeviceProperties::fromGetpropOutput(properties.standardOutput);
            m_cachedProperties.insert(serial, parsed);
            parsed.applyTo(devices[index]);
        } catch (const std::exception &) {
            // The phone is shown without its properties; the next listing tries again.
        }
    }

    QSet<QString> listedSerials;
    for (const AndroidDevice &device : std::as_const(devices)) {
        listedSerials.insert(device.serial);
    }
    m_cachedProperties.removeIf([&listedSerials](const QHash<QString, ADBDeviceProperties>::iterator entry) {
        return !listedSerials.contains(entry.key());
    });
    co_return devices;
}

QCoro::Task<void> ADBClient::install(QStringList files, AndroidDevice device)
{
    requireAuthorized(device);
    // The packages are read whole, so the check runs off this thread.
    const APKInstallPlan plan = co_await runInBackground([files] { return APKArchiveInspector::plan(files); });
    QStringList arguments{QStringLiteral("-s"), device.serial};
    arguments << (plan.kind == APKInstallPlan::Kind::single ? QStringLiteral("install")
                                                            : QStringLiteral("install-multiple"))
              << QStringLiteral("-r") << plan.files;
    co_await run(arguments, ADBCommand::install);
}

QCoro::Task<void> ADBClient::launchCompanion(QString pairingURL, AndroidDevice device)
{
    requireAuthorized(device);
    PairingPayload::parse(pairingURL); // only its refusal matters here
    // URL-safe Base64 without padding: nothing in it means anything to the phone's shell.
    const QString encoded = QString::fromLatin1(
        pairingURL.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    co_await run({QStringLiteral("-s"), device.serial, QStringLiteral("shell"), QStringLiteral("am"),
                  QStringLiteral("start"), QStringLiteral("-W"), QStringLiteral("-n"), companionActivity,
                  QStringLiteral("--es"), pairingPayloadExtra, encoded},
                 ADBCommand::launchCompanion);
}

QCoro::Task<void> ADBClient::uninstall(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("uninstall")}, ADBCommand::uninstall, std::move(packageIdentifier),
                                 std::move(device));
}

QCoro::Task<void> ADBClient::forceStop(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("am"), QStringLiteral("force-stop")},
                                 ADBCommand::forceStop, std::move(packageIdentifier), std::move(device));
}

QCoro::Task<void> ADBClient::clearData(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("pm"), QStringLiteral("clear")},
                                 ADBCommand::clearData, std::move(packageIdentifier), std::move(device));
}

QCoro::Task<void> ADBClient::runApplicationCommand(QStringList command, ADBCommand kind, QString packageIdentifier,
                                                   AndroidDevice device)
{
    requireAuthorized(device);
    // The identifier reaches the phone's shell as part of a command line: only a strict identifier gets there.
    const QString identifier = validatePackageIdentifier(packageIdentifier);
    co_await run(QStringList{QStringLiteral("-s"), device.serial} + command + QStringList{identifier}, kind);
}

QCoro::Task<CommandResult> ADBClient::run(QStringList arguments, ADBCommand command)
{
    const std::optional<QStringList> fullArguments = m_serverController->arguments(arguments, m_executableURL);
    if (!fullArguments) {
        throw ADBClientError(ADBClientError::Case::serverStopping);
    }
    const std::chrono::milliseconds timeout = m_timeouts.of(command);
    std::optional<CommandResult> finished;
    try {
        finished = co_await m_runner->run(m_executableURL, *fullArguments, timeout);
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
    if (result.status == 0) {
        co_return result;
    }
    const QString standardError = result.standardError.trimmed();
    const QString message = standardError.isEmpty() ? result.standardOutput.trimmed() : standardError;
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

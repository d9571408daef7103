#include "ADBClient.h"

#include "APKArchiveInspector.h"
#include "BackgroundTask.h"
#include "PairingPayload.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

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

void requireAuthorized(const AndroidDevice &device)
{
    if (device.state != AndroidDevice::State::authorized) {
        throw ADBClientError::notReady(device);
    }
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
        requireAnswer(co_await run(arguments, ADBCommand::install), PhoneAnswer::Needs::successLine);
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
    requireAnswer(co_await run(arguments, ADBCommand::install), PhoneAnswer::Needs::successLine);
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
    if (const auto failure = PhoneAnswer::failure(result.standardOutput, result.standardError, result.arguments,
                                                  result.status, PhoneAnswer::Needs::startedActivity)) {
        throw *failure;
    }
}

QCoro::Task<void> ADBClient::uninstall(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("pm"), QStringLiteral("uninstall")},
                                 ADBCommand::uninstall, std::move(packageIdentifier), std::move(device),
                                 PhoneAnswer::Needs::successLine);
}

QCoro::Task<void> ADBClient::forceStop(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("am"), QStringLiteral("force-stop")},
                                 ADBCommand::forceStop, std::move(packageIdentifier), std::move(device),
                                 PhoneAnswer::Needs::nothing);
}

QCoro::Task<void> ADBClient::clearData(QString packageIdentifier, AndroidDevice device)
{
    return runApplicationCommand({QStringLiteral("shell"), QStringLiteral("pm"), QStringLiteral("clear")},
                                 ADBCommand::clearData, std::move(packageIdentifier), std::move(device),
                                 PhoneAnswer::Needs::successLine);
}

QCoro::Task<void> ADBClient::runApplicationCommand(QStringList command, ADBCommand kind, QString packageIdentifier,
                                                   AndroidDevice device, PhoneAnswer::Needs needs)
{
    requireAuthorized(device);
    // The identifier reaches the phone's shell as part of a command line: only a strict identifier gets there.
    const QString identifier = validatePackageIdentifier(packageIdentifier);
    requireAnswer(co_await run(deviceArguments(device) + command + QStringList{identifier}, kind), needs);
}

void ADBClient::requireAnswer(const CommandResult &result, PhoneAnswer::Needs needs)
{
    if (const auto failure =
            PhoneAnswer::failure(result.standardOutput, result.standardError, result.arguments, result.status, needs)) {
        throw *failure;
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
    const QString standardError = PhoneAnswer::withoutServerNotices(result.standardError);
    const QString message =
        standardError.isEmpty() ? PhoneAnswer::withoutServerNotices(result.standardOutput) : standardError;
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

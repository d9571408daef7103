#include "ADBClient.h"

#include "ADBServerProbe.h"
#include "APKArchiveInspector.h"
#include "BackgroundTask.h"
#include "PairingPayload.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <utility>
#include <vector>

#include <cerrno>
#include <unistd.h>

namespace {

const QString companionActivity = QStringLiteral("com.drovan.tavrine/.MainActivity");
const QString pairingPayloadExtra = QStringLiteral("tavrine_pairing_payload_b64");
constexpr qsizetype maximumPackageIdentifierLength = 255;
// An adb server answers its version at once, even while its phones do not.
constexpr std::chrono::milliseconds serverAnswerBound = std::chrono::seconds(2);

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

// Redmi and POCO phones name Xiaomi as their maker too.
bool isXiaomi(const std::optional<QString> &manufacturer)
{
    return manufacturer && manufacturer->trimmed().compare(QLatin1String("Xiaomi"), Qt::CaseInsensitive) == 0;
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
                     std::shared_ptr<CommandRunning> queryRunner, RunnerFactory propertyRunners)
    : m_runner(std::move(runner)), m_queryRunner(queryRunner ? std::move(queryRunner) : m_runner),
      m_propertyRunners(std::move(propertyRunners)), m_serverController(std::move(serverController)),
      m_timeouts(timeouts)
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

QString ADBClient::propertyKey(const AndroidDevice &device)
{
    // A listed text holds no line break; "=" tells an empty text from none.
    const auto part = [](const std::optional<QString> &text) {
        return text ? u'=' + *text : QString();
    };
    return device.id() + u'\n' + part(device.model) + u'\n' + part(device.product);
}

bool ADBClient::isSamePhone(const AndroidDevice &listed, const AndroidDevice &read)
{
    return propertyKey(listed) == propertyKey(read);
}

std::optional<AndroidDevice> ADBClient::commandTarget(const AndroidDevice &asked, const QList<AndroidDevice> &listing)
{
    QList<AndroidDevice> listedSo;
    for (const AndroidDevice &listed : listing) {
        if (!listed.isUSBTransport || listed.serial != asked.serial || listed.model != asked.model ||
            listed.product != asked.product) {
            continue;
        }
        if (listed.id() == asked.id()) {
            return listed;
        }
        if (listed.state == AndroidDevice::State::authorized) {
            listedSo.append(listed);
        }
    }
    return listedSo.size() == 1 ? std::optional(listedSo.first()) : std::nullopt;
}

QCoro::Task<QList<AndroidDevice>> ADBClient::listDevices()
{
    std::optional<CommandResult> listing;
    std::exception_ptr failure;
    try {
        listing = co_await run({QStringLiteral("devices"), QStringLiteral("-l")}, ADBCommand::listDevices);
    } catch (const ADBClientError &error) {
        if (error.errorCase() == ADBClientError::Case::serverStopping) {
            throw;
        }
        failure = std::current_exception();
    }
    if (failure) {
        // A program that is not adb but holds the private port makes adb wait for an answer or give up on its
        // server: that is what the user can mend.
        const quint16 port = m_serverController->port();
        const PortListener listener =
            co_await runInBackground([port] { return listenerOnLoopback(port, serverAnswerBound); });
        if (listener == PortListener::otherProgram) {
            throw ADBClientError::serverPortTaken(port);
        }
        std::rethrow_exception(failure);
    }
    QList<AndroidDevice> devices;
    QSet<QString> listedKeys;
    for (AndroidDevice &device : ADBOutputParser::parseDeviceList(listing->standardOutput)) {
        if (!device.isUSBTransport) {
            continue; // phones on a network connection are not USB phones
        }
        const QString key = propertyKey(device);
        listedKeys.insert(key);
        if (const auto cached = m_cachedProperties.constFind(key);
            cached != m_cachedProperties.cend() && device.state == AndroidDevice::State::authorized) {
            cached->applyTo(device);
        }
        devices.append(std::move(device));
    }
    // An unplugged phone is forgotten: plugged in again, it is read again at once. So are the reads of a phone that
    // adb now lists under its id with another model or product: another phone took the id.
    m_cachedProperties.removeIf([&listedKeys](const QHash<QString, ADBDeviceProperties>::iterator entry) {
        return !listedKeys.contains(entry.key());
    });
    m_propertyRetries.removeIf([&listedKeys](const QHash<QString, PropertyRetry>::iterator entry) {
        return !listedKeys.contains(entry.key());
    });
    ++m_listingCount;
    m_listedKeys = listedKeys;
    co_return devices;
}

QList<AndroidDevice> ADBClient::devicesNeedingProperties(const QList<AndroidDevice> &devices) const
{
    QList<AndroidDevice> needing;
    for (const AndroidDevice &device : devices) {
        if (m_propertyReads.size() + needing.size() >= maximumPropertyReads) {
            break;
        }
        const QString key = propertyKey(device);
        const auto retry = m_propertyRetries.constFind(key);
        if (device.state == AndroidDevice::State::authorized && !m_cachedProperties.contains(key) &&
            !m_propertyReads.contains(key) && (retry == m_propertyRetries.cend() || retry->askedAt <= m_listingCount)) {
            needing.append(device);
        }
    }
    return needing;
}

QCoro::Task<std::optional<ADBDeviceProperties>> ADBClient::readProperties(AndroidDevice device)
{
    const QString key = propertyKey(device);
    m_propertyReads.insert(key);
    std::optional<ADBDeviceProperties> properties;
    try {
        const CommandResult result =
            co_await run(deviceArguments(device) + QStringList{QStringLiteral("shell"), QStringLiteral("getprop")},
                         ADBCommand::readProperties);
        properties = ADBDeviceProperties::fromGetpropOutput(result.standardOutput);
    } catch (const ADBClientError &error) {
        // A phone whose shell does not answer is asked again only after more and more listings; one that
        // answered with a failure, at the next listing.
        if (error.errorCase() == ADBClientError::Case::commandTimedOut ||
            error.errorCase() == ADBClientError::Case::outputTooLarge) {
            PropertyRetry &retry = m_propertyRetries[key];
            retry.askedAt = m_listingCount + retry.nextSkip + 1;
            retry.nextSkip = std::min(retry.nextSkip * 2, maximumPropertyRetrySkip);
        }
    } catch (const std::exception &) {
        // Shown without its properties.
    }
    m_propertyReads.remove(key);
    // A phone unplugged meanwhile is not remembered.
    if (properties && m_listedKeys.contains(key)) {
        m_cachedProperties.insert(key, *properties);
        m_propertyRetries.remove(key);
    }
    co_return properties;
}

QCoro::Task<QList<AndroidDevice>> ADBClient::devices()
{
    QList<AndroidDevice> devices = co_await listDevices();
    const QList<AndroidDevice> needing = devicesNeedingProperties(devices);
    // Started together, awaited in turn.
    std::vector<QCoro::Task<std::optional<ADBDeviceProperties>>> reads;
    for (const AndroidDevice &device : needing) {
        reads.push_back(readProperties(device));
    }
    for (qsizetype index = 0; index < needing.size(); ++index) {
        if (const std::optional<ADBDeviceProperties> properties = co_await reads[size_t(index)]) {
            for (AndroidDevice &listed : devices) {
                if (isSamePhone(listed, needing.at(index))) {
                    properties->applyTo(listed);
                }
            }
        }
    }
    co_return devices;
}

QCoro::Task<void> ADBClient::install(QStringList files, AndroidDevice device)
{
    requireAuthorized(device);
    // The packages are read whole, so the check runs off this thread.
    const APKInstallPlan plan = co_await runInBackground([files] { return APKArchiveInspector::plan(files); });
    if (plan.kind == APKInstallPlan::Kind::single) {
        // A single package is streamed without its name.
        co_await runInstall(QStringList{QStringLiteral("install"), QStringLiteral("-r")} + plan.files, device);
        co_return;
    }
    // Removed with this frame, whichever way the install ends.
    const QTemporaryDir plainNames(QDir::tempPath() + QStringLiteral("/tavrine-install-XXXXXX"));
    if (!plainNames.isValid()) {
        throw CommandRunnerError(
            CommandRunnerError::Case::fileSystem,
            QStringLiteral("Cannot create a folder for the packages: %1").arg(plainNames.errorString()));
    }
    co_await runInstall(QStringList{QStringLiteral("install-multiple"), QStringLiteral("-r")} +
                            linkPlainNames(plan.files, plainNames),
                        device);
}

QCoro::Task<CommandResult> ADBClient::runOnPhone(AndroidDevice asked, QStringList command, ADBCommand kind)
{
    const quint64 ticket = m_changeTurns.nextTicket();
    co_await m_changeTurns.turn(ticket);
    const auto release = qScopeGuard([this] { m_changeTurns.pass(); });
    const CommandResult listing =
        co_await run({QStringLiteral("devices"), QStringLiteral("-l")}, ADBCommand::listDevices);
    const std::optional<AndroidDevice> target =
        commandTarget(asked, ADBOutputParser::parseDeviceList(listing.standardOutput));
    if (!target) {
        throw ADBClientError(ADBClientError::Case::deviceNotFound);
    }
    requireAuthorized(*target);
    co_return co_await run(deviceArguments(*target) + command, kind);
}

QCoro::Task<void> ADBClient::runInstall(QStringList command, AndroidDevice device)
{
    try {
        requireAnswer(co_await runOnPhone(device, command, ADBCommand::install), PhoneAnswer::Needs::successLine);
    } catch (const ADBClientError &error) {
        // Xiaomi's phones refuse every install over USB this way while "USB 安装" of the developer options is off.
        if (error.errorCase() == ADBClientError::Case::installNeedsPhoneApproval && isXiaomi(manufacturerOf(device))) {
            throw ADBClientError(ADBClientError::Case::installNeedsUSBInstallSetting);
        }
        throw;
    }
}

std::optional<QString> ADBClient::manufacturerOf(const AndroidDevice &device) const
{
    if (device.manufacturer) {
        return device.manufacturer;
    }
    const auto cached = m_cachedProperties.constFind(propertyKey(device));
    return cached == m_cachedProperties.cend() ? std::nullopt : cached->manufacturer;
}

QCoro::Task<void> ADBClient::launchCompanion(QString pairingURL, AndroidDevice device)
{
    requireAuthorized(device);
    PairingPayload::parse(pairingURL); // only its refusal matters here
    // URL-safe Base64 without padding: nothing in it means anything to the phone's shell.
    const QString encoded = QString::fromLatin1(
        pairingURL.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const CommandResult result = co_await runOnPhone(
        device,
        {QStringLiteral("shell"), QStringLiteral("am"), QStringLiteral("start"), QStringLiteral("-W"),
         QStringLiteral("-n"), companionActivity, QStringLiteral("--es"), pairingPayloadExtra, encoded},
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
    requireAnswer(co_await runOnPhone(device, command + QStringList{identifier}, kind), needs);
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
    // Listings and property reads never wait behind an install; each property read has a runner of its own where
    // there is a maker of them, so that a phone whose shell does not answer holds up no other phone's read.
    const std::shared_ptr<CommandRunning> runner =
        command == ADBCommand::readProperties && m_propertyRunners                    ? m_propertyRunners()
        : command == ADBCommand::listDevices || command == ADBCommand::readProperties ? m_queryRunner
                                                                                      : m_runner;
    const std::optional<QStringList> fullArguments = m_serverController->arguments(arguments, m_executableURL);
    if (!fullArguments) {
        throw ADBClientError(ADBClientError::Case::serverStopping);
    }
    const std::chrono::milliseconds timeout = m_timeouts.of(command);
    std::optional<CommandResult> finished;
    try {
        finished = co_await runner->run(m_executableURL, *fullArguments, timeout);
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
    // Standard error is shown first; a code the phone wrote on standard output counts as well.
    const QString standardError = PhoneAnswer::withoutServerNotices(result.standardError);
    const QString standardOutput = PhoneAnswer::withoutServerNotices(result.standardOutput);
    if (standardError.isEmpty()) {
        throw ADBClientError::classify(standardOutput, *fullArguments, result.status);
    }
    throw ADBClientError::classify(standardError, *fullArguments, result.status, standardOutput);
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

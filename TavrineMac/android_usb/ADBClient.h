#pragma once

#include "ADBOutputParser.h"
#include "ADBServerController.h"
#include "AndroidDevice.h"
#include "CommandRunner.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

// The error of every adb operation; stores show its description.
class ADBClientError : public std::exception
{
public:
    enum class Case
    {
        commandFailed,
        executableMissing,
        serverStopping,
        deviceNotAuthorized,
        installNeedsPhoneApproval,
        signatureConflict,
        versionDowngrade,
        invalidPackage,
        invalidPackageIdentifier,
        insufficientStorage,
        commandTimedOut,
        outputTooLarge,
        usbPermissionDenied,
        deviceNotFound,
        deviceOffline,
        serverUnavailable,
        installTestOnly,
        installRejectedOnPhone,
        installNeedsNewerAndroid,
        installWrongProcessor,
        installNeedsOlderAndroid,
        uninstallFailed,
        operationNotAllowed,
        operationFailed,
        companionMissing,
        companionNotStarted,
    };

    // Every case but those that carry their command.
    explicit ADBClientError(Case errorCase);
    // The message kept is an excerpt of `message` (textExcerpt), however much adb printed.
    static ADBClientError commandFailed(const QStringList &arguments, const QString &message, int status);
    // The command named `commandName` did not end within `timeout` and was ended.
    static ADBClientError commandTimedOut(const QStringList &arguments, const QString &commandName,
                                          std::chrono::milliseconds timeout);
    // The command named `commandName` printed more than is kept and was ended.
    static ADBClientError outputTooLarge(const QStringList &arguments, const QString &commandName);

    // The error of a command that ended with `status` and printed `output` (trimmed, standard error first), or
    // whose output tells of a failure: the codes of Android's package manager and adb's own failures each have a
    // text of their own.
    static ADBClientError classify(const QString &output, const QStringList &arguments, int status);

    // Why a phone in `device`'s state cannot take a command: not authorised (or still waiting), or not to be
    // opened by this computer at all.
    static ADBClientError notReady(const AndroidDevice &device);

    Case errorCase() const { return m_case; }
    // The full argument vector ("-P" "45037" first), the message and the exit status of commandFailed; the vector
    // and the description of commandTimedOut and outputTooLarge.
    const QStringList &arguments() const { return m_arguments; }
    const QString &message() const { return m_message; }
    int status() const { return m_status; }

    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const ADBClientError &left, const ADBClientError &right)
    {
        return left.m_case == right.m_case && left.m_arguments == right.m_arguments &&
               left.m_message == right.m_message && left.m_status == right.m_status;
    }

private:
    ADBClientError(Case errorCase, const QStringList &arguments, const QString &message, int status);

    Case m_case;
    QStringList m_arguments;
    QString m_message;
    int m_status = 0;
    QByteArray m_what;
};

// The kinds of adb command the client runs, each with its own time-out and its name in failure texts.
enum class ADBCommand
{
    listDevices,
    readProperties,
    install,
    launchCompanion,
    uninstall,
    forceStop,
    clearData,
};

// How long each kind of command may run before it is ended. Installing a large package takes minutes; a listing,
// a property read or stopping an application answer at once unless something is wrong.
struct ADBCommandTimeouts
{
    std::chrono::milliseconds query = std::chrono::seconds(15);      // listing, reading properties, force-stop
    std::chrono::milliseconds application = std::chrono::minutes(2); // opening the companion, uninstall, clear data
    std::chrono::milliseconds install = std::chrono::minutes(10);

    std::chrono::milliseconds of(ADBCommand command) const;
};

// The one way the application talks to phones over adb. Its operations run on the thread that owns it; while one
// waits for its command, others may start, and their commands queue at the runner. Listings and property reads go
// through a runner of their own when one is given, so that the list of phones never waits behind an install or
// an application command.
class ADBClient
{
public:
    // Throws ADBClientError::Case::executableMissing when no adb was located. Without `queryRunner`, every command
    // goes through `runner`.
    ADBClient(const std::optional<QString> &executableURL, std::shared_ptr<CommandRunning> runner,
              std::shared_ptr<ADBServerController> serverController, ADBCommandTimeouts timeouts = {},
              std::shared_ptr<CommandRunning> queryRunner = {});
    ADBClient(const ADBClient &) = delete;
    ADBClient &operator=(const ADBClient &) = delete;

    const QString &executableURL() const { return m_executableURL; }
    // Keyed by the phone's transport id ("t:3"), or by its serial ("s:R58N") when adb gives no transport id.
    const QHash<QString, ADBDeviceProperties> &cachedProperties() const { return m_cachedProperties; }

    // How commands name `device`: by the transport id adb listed it with ("-t", id), since a serial can be empty
    // or shared by several phones; by its serial ("-s", serial) when there is no transport id.
    static QStringList deviceArguments(const AndroidDevice &device);

    // The phones attached by USB in adb's order; the authorised ones with their system properties, which are
    // read once per phone while it stays listed.
    QCoro::Task<QList<AndroidDevice>> devices();

    // Checks the packages again and installs them: one file, or a split set in one go. adb hands each file name
    // of a split set to the phone's shell as it stands, so the set goes to adb under plain names ("base.apk",
    // "split1.apk", …) linked in a private folder that is removed afterwards. Throws ADBClientError,
    // APKValidationError or CommandRunnerError.
    QCoro::Task<void> install(QStringList files, AndroidDevice device);

    // Starts the companion with the pairing URL, so that pairing completes without a scan. A URL the pairing
    // parser refuses fails with its PairingPayloadError. The activity manager ends with status 0 even when the
    // activity does not exist: the launch counts only when it printed "Status: ok" and no line starting "Error".
    QCoro::Task<void> launchCompanion(QString pairingURL, AndroidDevice device);

    // Through the phone's shell ("pm uninstall"), which fails at once when the phone is gone where "adb uninstall"
    // waits for it. Each of the three counts only when the phone's answer says so: Android before 7 passes no
    // exit status through adb.
    QCoro::Task<void> uninstall(QString packageIdentifier, AndroidDevice device);
    QCoro::Task<void> forceStop(QString packageIdentifier, AndroidDevice device);
    QCoro::Task<void> clearData(QString packageIdentifier, AndroidDevice device);

    // Runs one adb command of the kind `command` against the private server port; a non-zero exit status fails
    // with the classified error, a command past its time-out or its output bound with commandTimedOut or
    // outputTooLarge, one ended as the application quits with serverStopping.
    QCoro::Task<CommandResult> run(QStringList arguments, ADBCommand command);

    // The identifier when it is two or more dot-separated parts of ASCII letters, digits and "_", fewer than 256
    // characters; otherwise throws invalidPackageIdentifier.
    static QString validatePackageIdentifier(const QString &packageIdentifier);

private:
    // What the phone's answer must hold for a command to count as done.
    enum class Answer
    {
        quiet,   // anything but a failure line
        success, // a line "Success", and no failure line
    };

    QCoro::Task<void> runApplicationCommand(QStringList command, ADBCommand kind, QString packageIdentifier,
                                            AndroidDevice device, Answer answer);
    // Throws the classified error when the phone's answer on either stream reports a failure or lacks what
    // `expected` needs: Android before 7 ends every shell command with status 0.
    static void requireAnswer(const CommandResult &result, Answer expected);

    QString m_executableURL;
    std::shared_ptr<CommandRunning> m_runner;
    std::shared_ptr<CommandRunning> m_queryRunner;
    std::shared_ptr<ADBServerController> m_serverController;
    ADBCommandTimeouts m_timeouts;
    QHash<QString, ADBDeviceProperties> m_cachedProperties;
};

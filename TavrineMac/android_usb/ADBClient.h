#pragma once

#include "ADBClientError.h"
#include "ADBOutputParser.h"
#include "ADBServerController.h"
#include "AndroidDevice.h"
#include "CommandRunner.h"
#include "PhoneAnswer.h"
#include "TurnLine.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

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
// waits for its command, others may start, and their commands queue at the runner. Listings go through a runner of
// their own when it is given, and each property read through one of its own, so that the list of phones never waits
// behind an install or an application command, and a phone whose shell does not answer holds up no other phone.
class ADBClient
{
public:
    // Makes a runner for one command.
    using RunnerFactory = std::function<std::shared_ptr<CommandRunning>()>;

    // How many listings may pass, at most, before a phone that did not answer its property read is asked again.
    static constexpr int maximumPropertyRetrySkip = 32;
    // How many phones' properties are read at once, at most; the others wait for later listings.
    static constexpr qsizetype maximumPropertyReads = 8;

    // Throws ADBClientError::Case::executableMissing when no adb was located. Without `queryRunner`, every command
    // goes through `runner`; without `propertyRunners`, property reads go through the listings' runner.
    ADBClient(const std::optional<QString> &executableURL, std::shared_ptr<CommandRunning> runner,
              std::shared_ptr<ADBServerController> serverController, ADBCommandTimeouts timeouts = {},
              std::shared_ptr<CommandRunning> queryRunner = {}, RunnerFactory propertyRunners = {});
    ADBClient(const ADBClient &) = delete;
    ADBClient &operator=(const ADBClient &) = delete;

    const QString &executableURL() const { return m_executableURL; }
    // Keyed by propertyKey.
    const QHash<QString, ADBDeviceProperties> &cachedProperties() const { return m_cachedProperties; }

    // How commands name `device`: by the transport id adb listed it with ("-t", id), since a serial can be empty
    // or shared by several phones; by its serial ("-s", serial) when there is no transport id.
    static QStringList deviceArguments(const AndroidDevice &device);

    // Which phone's properties a record's are: its id (serial and transport id), with the model and product adb
    // listed it with. A transport id alone is not enough: adb's server numbers the phones afresh when it starts
    // again, and two phones may share a serial.
    static QString propertyKey(const AndroidDevice &device);
    // Whether properties read from `read` are those of `listed`: the same property key.
    static bool isSamePhone(const AndroidDevice &listed, const AndroidDevice &read);

    // Of the phones `listing` names, the one a command for `asked` (the phone as it was listed when the user was
    // asked, or the action began) goes to: the phone under its id, when it is listed there with the serial, model
    // and product it had; else the one authorised USB phone listed with them. None when no phone, or more than one,
    // is listed so: adb's server numbers the phones afresh when it starts again, and phones may share a serial, so
    // that its id may name another phone by now.
    static std::optional<AndroidDevice> commandTarget(const AndroidDevice &asked, const QList<AndroidDevice> &listing);

    // The phones attached by USB in adb's order, at once: the authorised ones with the system properties already
    // read from them.
    QCoro::Task<QList<AndroidDevice>> listDevices();
    // Of `devices`, the authorised phones whose properties are still to be read: not read yet, not being read, and
    // not waiting out the listings after a read that got no answer; no more than may be read at once besides the
    // reads under way.
    QList<AndroidDevice> devicesNeedingProperties(const QList<AndroidDevice> &devices) const;
    // Reads the system properties of `device` and keeps them while it stays listed; nothing when the phone does
    // not answer, which it is then not asked again for 1, 2, 4, … (at most 32) listings.
    QCoro::Task<std::optional<ADBDeviceProperties>> readProperties(AndroidDevice device);
    // The listing, then the properties still to be read, each phone's at once.
    QCoro::Task<QList<AndroidDevice>> devices();

    // Every command that changes a phone (installs, the companion's start, the application commands) lists the
    // phones afresh just before it runs and goes to commandTarget() of that listing, or fails with deviceNotFound;
    // no other such command runs between the listing and its command.

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
    // Runs `command` on the phone `asked` is, found in a fresh listing (see commandTarget()).
    QCoro::Task<CommandResult> runOnPhone(AndroidDevice asked, QStringList command, ADBCommand kind);
    // Runs an install command; the phone's refusal is thrown in the words that fit `device`'s maker.
    QCoro::Task<void> runInstall(QStringList command, AndroidDevice device);
    // The maker `device` reports, or the one its cached properties name.
    std::optional<QString> manufacturerOf(const AndroidDevice &device) const;
    QCoro::Task<void> runApplicationCommand(QStringList command, ADBCommand kind, QString packageIdentifier,
                                            AndroidDevice device, PhoneAnswer::Needs needs);
    // Throws the failure the phone's answer reports, or the lack of what `needs` asks for.
    static void requireAnswer(const CommandResult &result, PhoneAnswer::Needs needs);

    QString m_executableURL;
    std::shared_ptr<CommandRunning> m_runner;
    // When a phone that did not answer its property read is asked again: from the listing numbered `askedAt` on;
    // and how many listings it passes over after its next read without an answer.
    struct PropertyRetry
    {
        quint64 askedAt = 0;
        int nextSkip = 1;
    };

    std::shared_ptr<CommandRunning> m_queryRunner;
    RunnerFactory m_propertyRunners;
    std::shared_ptr<ADBServerController> m_serverController;
    ADBCommandTimeouts m_timeouts;
    QHash<QString, ADBDeviceProperties> m_cachedProperties;
    QHash<QString, PropertyRetry> m_propertyRetries;
    QSet<QString> m_propertyReads; // being read
    QSet<QString> m_listedKeys;    // of the last listing
    quint64 m_listingCount = 0;
    // The commands that change a phone, one at a time with the listing that checks their phone.
    TurnLine m_changeTurns;
};

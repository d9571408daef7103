#pragma once

#include "AndroidDevice.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <exception>

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
        installNeedsUSBInstallSetting,
        installMissingSplit,
        installCanceledOnPhone,
        installVerificationFailed,
        installConflictingProvider,
        installDuplicatePermission,
        installMissingSharedLibrary,
        installSharedUserIncompatible,
        installInternalError,
        installSessionInvalid,
        installPermissionModelDowngrade,
        phoneRefusedWithCode,
        connectionClosed,
        serverNotAnswering,
        serverVersionUnknown,
        serverPortTaken,
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
    // The phone refused the command with a code that has no text of its own ("INSTALL_FAILED_…").
    static ADBClientError phoneRefused(const QStringList &arguments, const QString &code, int status);
    // Another program than an adb server listens on the private server port `port`.
    static ADBClientError serverPortTaken(quint16 port);

    // The error of a command that ended with `status` and printed `output` (trimmed, standard error first), or
    // whose output tells of a failure: the codes of Android's package manager and adb's own failures each have a
    // text of their own. Codes are read from `output` and then `otherOutput` (the other stream), only from the
    // lines adb and the phone write themselves ("Failure […]", "Error: …", adb's "error: …"), and never from what
    // they echo of `arguments` (a package's path, a serial); `otherOutput` is never shown.
    static ADBClientError classify(const QString &output, const QStringList &arguments, int status,
                                   const QString &otherOutput = {});

    // Why a phone in `device`'s state cannot take a command: not authorised (or still waiting), or not to be
    // opened by this computer at all.
    static ADBClientError notReady(const AndroidDevice &device);

    Case errorCase() const { return m_case; }
    // The full argument vector ("-P" "45037" first), the message and the exit status of commandFailed; the vector
    // and the description of commandTimedOut and outputTooLarge; the code of phoneRefusedWithCode.
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

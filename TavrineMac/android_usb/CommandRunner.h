#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "TurnLine.h"

#include <qcorotask.h>

#include <chrono>
#include <exception>
#include <optional>

// The outcome of one finished child process. A non-zero status is an ordinary result here, not a failure.
struct CommandResult
{
    QStringList arguments; // as given, without the executable
    QString standardOutput;
    QString standardError;
    int status = 0; // the exit status, or the signal number when the child was killed by a signal

    bool operator==(const CommandResult &) const = default;
};

// Why a command could not be run, or was stopped before it ended by itself.
class CommandRunnerError : public std::exception
{
public:
    enum class Case
    {
        fileSystem,     // its temporary files
        launch,         // the executable could not be started
        timedOut,       // it ran past its time-out and was ended
        outputTooLarge, // it wrote more than the runner keeps and was ended
        stopped,        // the application quits: it was ended, or never started
    };

    CommandRunnerError(Case errorCase, const QString &message);

    Case errorCase() const { return m_case; }
    QString errorDescription() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Case m_case;
    QString m_message;
    QByteArray m_what;
};

// Runs an executable to completion and hands back its status and both outputs.
class CommandRunning
{
public:
    virtual ~CommandRunning() = default;

    // Throws CommandRunnerError when the command cannot be run or is ended before it is done (after `timeout`,
    // among others); the child's own failure is in the result.
    virtual QCoro::Task<CommandResult> run(QString executableURL, QStringList arguments,
                                           std::chrono::milliseconds timeout) = 0;
};

// Runs one child process at a time, in the order of the calls. The child reads the null device, and its two
// outputs go to the files "stdout" and "stderr" of a fresh folder "tavrine-command-<UUID>" in the temporary
// directory, which is removed again on every path. The child starts a process group of its own, which is ended
// as a whole when the command runs past its time-out, when either output grows past `maximumOutputBytes`, and when
// the application quits. Lives on the thread whose event loop runs its tasks.
class FoundationCommandRunner : public QObject, public CommandRunning
{
    Q_OBJECT

public:
    static constexpr qint64 defaultMaximumOutputBytes = 16 * 1024 * 1024;

    explicit FoundationCommandRunner(qint64 maximumOutputBytes = defaultMaximumOutputBytes, QObject *parent = nullptr);
    ~FoundationCommandRunner() override;

    QCoro::Task<CommandResult> run(QString executableURL, QStringList arguments,
                                   std::chrono::milliseconds timeout) override;

    // The environment of every later child; without it, the application's own.
    void setEnvironment(const QProcessEnvironment &environment) { m_environment = environment; }

    // Ends the running command's process group, removes its folder and refuses every later command. Called when
    // the application is about to quit, so that no child of ours outlives it.
    void stop();

private:
    QCoro::Task<CommandResult> runNow(QString executableURL, QStringList arguments, std::chrono::milliseconds timeout);
    // Kills the running child's process group, remembering why.
    void endRunningCommand(CommandRunnerError::Case reason);

    const qint64 m_maximumOutputBytes;
    // One command at a time, in the order of the calls.
    TurnLine m_turns;
    bool m_isStopped = false;
    std::optional<QProcessEnvironment> m_environment;

    // The command under way, while there is one.
    QPointer<QProcess> m_runningProcess;
    QString m_runningFolder;
    std::optional<CommandRunnerError::Case> m_endReason;
};

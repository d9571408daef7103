#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <qcorotask.h>

#include <exception>

// The outcome of one finished child process. A non-zero status is an ordinary result here, not a failure.
struct CommandResult
{
    QStringList arguments; // as given, without the executable
    QString standardOutput;
    QString standardError;
    int status = 0; // the exit status, or the signal number when the child was killed by a signal

    bool operator==(const CommandResult &) const = default;
};

// Why a command could not be run at all: its temporary files, or the launch of the executable.
class CommandRunnerError : public std::exception
{
public:
    enum class Case
    {
        fileSystem,
        launch,
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

    // Throws CommandRunnerError when the command cannot be run; the child's own failure is in the result.
    virtual QCoro::Task<CommandResult> run(QString executableURL, QStringList arguments) = 0;
};

// Runs one child process at a time, in the order of the calls. The child reads the null device, and its two
// outputs go to the files "stdout" and "stderr" of a fresh folder "tavrine-command-<UUID>" in the temporary
// directory, which is removed again on every path. Lives on the thread whose event loop runs its tasks.
class FoundationCommandRunner : public QObject, public CommandRunning
{
    Q_OBJECT

public:
    explicit FoundationCommandRunner(QObject *parent = nullptr);

    QCoro::Task<CommandResult> run(QString executableURL, QStringList arguments) override;

signals:
    // The command holding the turn has ended; the next in line may start.
    void turnPassed();

private:
    QCoro::Task<CommandResult> runNow(QString executableURL, QStringList arguments);

    quint64 m_nextTicket = 0;
    quint64 m_servingTicket = 0;
};

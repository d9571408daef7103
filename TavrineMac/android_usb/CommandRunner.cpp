#include "CommandRunner.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QUuid>

#include <qcorosignal.h>

#include <coroutine>

namespace {

// What is kept of each output stream. adb's answers (device lists, properties, install messages) are far smaller;
// a child that writes more cannot make the application hold all of it.
constexpr qint64 maximumOutputBytes = 16 * 1024 * 1024;

// Suspends the awaiting coroutine until the process has finished or has failed to start. It resumes from the
// event loop, never from inside the process's own signal, so the coroutine may destroy the process right away.
class ProcessEnd
{
public:
    explicit ProcessEnd(QProcess &process) : m_process(process) {}

    bool await_ready() const noexcept { return m_process.state() == QProcess::NotRunning; }

    void await_suspend(std::coroutine_handle<> waiter)
    {
        const auto resumeLater = [this, waiter] {
            QObject::disconnect(m_finished);
            QObject::disconnect(m_failed);
            QTimer::singleShot(0, [waiter] { waiter.resume(); });
        };
        m_finished = QObject::connect(&m_process, &QProcess::finished, resumeLater);
        m_failed = QObject::connect(&m_process, &QProcess::errorOccurred, [resumeLater](QProcess::ProcessError error) {
            // Other errors (a crash, a failed write) are followed by finished().
            if (error == QProcess::FailedToStart) {
                resumeLater();
            }
        });
    }

    void await_resume() const noexcept {}

private:
    QProcess &m_process;
    QMetaObject::Connection m_finished;
    QMetaObject::Connection m_failed;
};

// Removes the command's temporary folder when the command ends, whichever way it ends.
class FolderRemoval
{
public:
    explicit FolderRemoval(QString path) : m_path(std::move(path)) {}
    ~FolderRemoval() { QDir(m_path).removeRecursively(); }
    FolderRemoval(const FolderRemoval &) = delete;
    FolderRemoval &operator=(const FolderRemoval &) = delete;

private:
    QString m_path;
};

// Hands the turn to the next command when the current one ends, whichever way it ends.
class TurnRelease
{
public:
    TurnRelease(quint64 &servingTicket, FoundationCommandRunner &runner)
        : m_servingTicket(servingTicket), m_runner(runner)
    {}
    ~TurnRelease()
    {
        ++m_servingTicket;
        emit m_runner.turnPassed();
    }
    TurnRelease(const TurnRelease &) = delete;
    TurnRelease &operator=(const TurnRelease &) = delete;

private:
    quint64 &m_servingTicket;
    FoundationCommandRunner &m_runner;
};

bool createEmptyFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
}

QString readOutput(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw CommandRunnerError(CommandRunnerError::Case::fileSystem,
                                 QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    }
    // Invalid UTF-8 becomes U+FFFD; decoding never fails.
    return QString::fromUtf8(file.read(maximumOutputBytes));
}

} // namespace

CommandRunnerError::CommandRunnerError(Case errorCase, const QString &message)
    : m_case(errorCase), m_message(message), m_what(message.toUtf8())
{}

FoundationCommandRunner::FoundationCommandRunner(QObject *parent) : QObject(parent) {}

QCoro::Task<CommandResult> FoundationCommandRunner::run(QString executableURL, QStringList arguments)
{
    const quint64 ticket = m_nextTicket++;
    while (m_servingTicket != ticket) {
        co_await qCoro(this, &FoundationCommandRunner::turnPassed);
    }
    const TurnRelease release(m_servingTicket, *this);
    co_return co_await runNow(std::move(executableURL), std::move(arguments));
}

QCoro::Task<CommandResult> FoundationCommandRunner::runNow(QString executableURL, QStringList arguments)
{
    const QString temporary = QDir::tempPath();
    const QString folder =
        temporary + QStringLiteral("/tavrine-command-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // A folder of our own, made here and now: never one that something else put in the shared directory.
    if (!QDir().mkpath(temporary) || !QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        throw CommandRunnerError(CommandRunnerError::Case::fileSystem,
                                 QStringLiteral("Cannot create the folder %1").arg(folder));
    }
    const FolderRemoval removal(folder);
    const QString standardOutputPath = folder + QStringLiteral("/stdout");
    const QString standardErrorPath = folder + QStringLiteral("/stderr");
    if (!createEmptyFile(standardOutputPath) || !createEmptyFile(standardErrorPath)) {
        throw CommandRunnerError(CommandRunnerError::Case::fileSystem,
                                 QStringLiteral("Cannot create the output files in %1").arg(folder));
    }

    QProcess process;
    process.setProgram(executableURL);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(standardOutputPath);
    process.setStandardErrorFile(standardErrorPath);
    process.start();
    // No time-out: an install of a large package may take minutes, and adb ends every command it is given.
    co_await ProcessEnd(process);
    if (process.error() == QProcess::FailedToStart) {
        throw CommandRunnerError(CommandRunnerError::Case::launch,
                                 QStringLiteral("Cannot run %1: %2").arg(executableURL, process.errorString()));
    }

    CommandResult result;
    result.arguments = std::move(arguments);
    result.standardOutput = readOutput(standardOutputPath);
    result.standardError = readOutput(standardErrorPath);
    // Qt reports the signal number as the exit code of a child that a signal ended.
    result.status = process.exitCode();
    co_return result;
}

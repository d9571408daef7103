#include "CommandRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>
#include <QUuid>

#include <coroutine>

#include <csignal>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// How often the size of a running child's outputs is looked at: a child writing as fast as a disk takes it gets
// some tens of megabytes past the bound before it is ended, not gigabytes.
constexpr auto outputCheckInterval = 20ms;
// How long quitting waits for a killed child to be gone.
constexpr auto killedChildBound = 2s;

// Suspends the awaiting coroutine until the process has finished or has failed to start. It resumes from the
// event loop, never from inside the process's own signal, so the coroutine may destroy the process right away;
// and only while `owner` exists, so a runner destroyed meanwhile is never touched again.
class ProcessEnd
{
public:
    ProcessEnd(QProcess &process, QObject &owner) : m_process(process), m_owner(owner) {}

    bool await_ready() const noexcept { return m_process.state() == QProcess::NotRunning; }

    void await_suspend(std::coroutine_handle<> waiter)
    {
        const auto resumeLater = [this, waiter] {
            QObject::disconnect(m_finished);
            QObject::disconnect(m_failed);
            QTimer::singleShot(0, &m_owner, [waiter] { waiter.resume(); });
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
    QObject &m_owner;
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

bool createEmptyFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
}

QString readOutput(const QString &path, qint64 maximumBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw CommandRunnerError(CommandRunnerError::Case::fileSystem,
                                 QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    }
    // Invalid UTF-8 becomes U+FFFD; decoding never fails.
    return QString::fromUtf8(file.read(maximumBytes));
}

CommandRunnerError endedError(CommandRunnerError::Case reason, const QString &executableURL,
                              std::chrono::milliseconds timeout, qint64 maximumOutputBytes)
{
    if (reason == CommandRunnerError::Case::timedOut) {
        return {reason, QStringLiteral("%1 did not end within %2 ms").arg(executableURL).arg(timeout.count())};
    }
    if (reason == CommandRunnerError::Case::outputTooLarge) {
        return {reason, QStringLiteral("%1 wrote more than %2 bytes").arg(executableURL).arg(maximumOutputBytes)};
    }
    return {CommandRunnerError::Case::stopped,
            QStringLiteral("%1 was stopped as the application quits").arg(executableURL)};
}

} // namespace

CommandRunnerError::CommandRunnerError(Case errorCase, const QString &message)
    : m_case(errorCase), m_message(message), m_what(message.toUtf8())
{}

FoundationCommandRunner::FoundationCommandRunner(qint64 maximumOutputBytes, QObject *parent)
    : QObject(parent), m_maximumOutputBytes(maximumOutputBytes)
{
    if (QCoreApplication *application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, &FoundationCommandRunner::stop);
    }
}

FoundationCommandRunner::~FoundationCommandRunner()
{
    stop();
}

QCoro::Task<CommandResult> FoundationCommandRunner::run(QString executableURL, QStringList arguments,
                                                        std::chrono::milliseconds timeout)
{
    const quint64 ticket = m_turns.nextTicket();
    co_await m_turns.turn(ticket);
    // The turn goes to the next command when this one ends, whichever way it ends.
    const auto release = qScopeGuard([this] { m_turns.pass(); });
    co_return co_await runNow(std::move(executableURL), std::move(arguments), timeout);
}

void FoundationCommandRunner::stop()
{
    m_isStopped = true;
    if (m_runningProcess && m_runningProcess->state() != QProcess::NotRunning) {
        endRunningCommand(CommandRunnerError::Case::stopped);
        m_runningProcess->waitForFinished(int(std::chrono::milliseconds(killedChildBound).count()));
    }
    // The command's own coroutine may never run again once the application has quit.
    if (!m_runningFolder.isEmpty()) {
        QDir(m_runningFolder).removeRecursively();
    }
}

void FoundationCommandRunner::endRunningCommand(CommandRunnerError::Case reason)
{
    // Once Qt has collected the child its process id may belong to someone else.
    if (!m_runningProcess || m_runningProcess->state() == QProcess::NotRunning || m_endReason) {
        return;
    }
    m_endReason = reason;
    const pid_t child = pid_t(m_runningProcess->processId());
    // The group is the child's from its first instruction on; before that, the child alone is all there is.
    if (::kill(-child, SIGKILL) != 0) {
        ::kill(child, SIGKILL);
    }
}

QCoro::Task<CommandResult> FoundationCommandRunner::runNow(QString executableURL, QStringList arguments,
                                                           std::chrono::milliseconds timeout)
{
    if (m_isStopped) {
        throw endedError(CommandRunnerError::Case::stopped, executableURL, timeout, m_maximumOutputBytes);
    }
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
    const auto outputTooLarge = [this, standardOutputPath, standardErrorPath] {
        return QFileInfo(standardOutputPath).size() > m_maximumOutputBytes ||
               QFileInfo(standardErrorPath).size() > m_maximumOutputBytes;
    };

    QProcess process;
    process.setProgram(executableURL);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (m_environment) {
        process.setProcessEnvironment(*m_environment);
    }
    process.setStandardOutputFile(standardOutputPath);
    process.setStandardErrorFile(standardErrorPath);
    // A group of its own, so that what the child starts is ended with it.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start();

    m_runningProcess = &process;
    m_runningFolder = folder;
    m_endReason.reset();
    const auto unregister = qScopeGuard([this] {
        m_runningProcess.clear();
        m_runningFolder.clear();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this] { endRunningCommand(CommandRunnerError::Case::timedOut); });
    deadline.start(timeout);
    QTimer outputCheck;
    connect(&outputCheck, &QTimer::timeout, this, [this, outputTooLarge] {
        if (outputTooLarge()) {
            endRunningCommand(CommandRunnerError::Case::outputTooLarge);
        }
    });
    outputCheck.start(outputCheckInterval);

    co_await ProcessEnd(process, *this);
    deadline.stop();
    outputCheck.stop();
    if (process.error() == QProcess::FailedToStart) {
        throw CommandRunnerError(CommandRunnerError::Case::launch,
                                 QStringLiteral("Cannot run %1: %2").arg(executableURL, process.errorString()));
    }
    if (m_isStopped || m_endReason) {
        throw endedError(m_isStopped ? CommandRunnerError::Case::stopped : *m_endReason, executableURL, timeout,
                         m_maximumOutputBytes);
    }
    // A child that wrote past the bound between two looks, and ended by itself, is refused the same way.
    if (outputTooLarge()) {
        throw endedError(CommandRunnerError::Case::outputTooLarge, executableURL, timeout, m_maximumOutputBytes);
    }

    CommandResult result;
    result.arguments = std::move(arguments);
    result.standardOutput = readOutput(standardOutputPath, m_maximumOutputBytes);
    result.standardError = readOutput(standardErrorPath, m_maximumOutputBytes);
    // Qt reports the signal number as the exit code of a child that a signal ended.
    result.status = process.exitCode();
    co_return result;
}

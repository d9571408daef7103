#include "ADBServerController.h"

#include <QMutexLocker>
#include <QProcess>

#include <chrono>

#include <csignal>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The application quits while this runs on the main thread, so an adb that never answers must not keep it
// from quitting: after this long the kill-server child is ended and quitting goes on.
constexpr auto killServerBound = 5s;
constexpr auto killedChildBound = 1s;

} // namespace

ADBServerController::ADBServerController(Shutdown shutdown, quint16 port)
    : m_port(port), m_shutdown(std::move(shutdown))
{}

std::shared_ptr<ADBServerController> ADBServerController::shared()
{
    static const std::shared_ptr<ADBServerController> controller = std::make_shared<ADBServerController>();
    return controller;
}

std::optional<QStringList> ADBServerController::arguments(const QStringList &arguments, const QString &executableURL)
{
    const QMutexLocker locker(&m_lock);
    if (m_isStopping) {
        return std::nullopt;
    }
    m_executableURL = executableURL;
    return QStringList{QStringLiteral("-P"), QString::number(m_port)} + arguments;
}

void ADBServerController::stop()
{
    std::optional<QString> executableURL;
    {
        const QMutexLocker locker(&m_lock);
        m_isStopping = true;
        executableURL.swap(m_executableURL);
    }
    if (executableURL) {
        m_shutdown(*executableURL, {QStringLiteral("-P"), QString::number(m_port), QStringLiteral("kill-server")});
    }
}

QProcessEnvironment ADBServerController::childEnvironment(QProcessEnvironment environment)
{
    environment.remove(QStringLiteral("ANDROID_ADB_SERVER_ADDRESS"));
    environment.remove(QStringLiteral("ADB_SERVER_SOCKET"));
    return environment;
}

void ADBServerController::defaultShutdown(const QString &executableURL, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(executableURL);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setProcessEnvironment(childEnvironment());
    // A group of its own, so that nothing it starts outlives the bound below.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start();
    if (!process.waitForStarted(-1)) {
        return; // a launch error changes nothing at quit
    }
    if (!process.waitForFinished(int(std::chrono::milliseconds(killServerBound).count()))) {
        if (::kill(-pid_t(process.processId()), SIGKILL) != 0) {
            process.kill();
        }
        process.waitForFinished(int(std::chrono::milliseconds(killedChildBound).count()));
    }
}

#pragma once

#include <QMutex>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// Pins every adb command of the process to a private server port, remembers the adb executable last used, refuses
// new commands once the application quits, and stops the private server then. Its two sides (the adb client
// asking for command lines, the main thread stopping at quit) may be on different threads.
class ADBServerController
{
public:
    // Runs the server-stop command with the executable and the full argument vector; returns when it is done.
    using Shutdown = std::function<void(const QString &executableURL, const QStringList &arguments)>;

    static constexpr quint16 privatePort = 45037;

    // `port` is the private one but in tests.
    explicit ADBServerController(Shutdown shutdown = defaultShutdown, quint16 port = privatePort);

    // The one controller of the process, made on first use.
    static std::shared_ptr<ADBServerController> shared();

    quint16 port() const { return m_port; }

    // "-P" "45037" followed by `arguments`, remembering `executableURL` for stop(); nothing once stopping.
    std::optional<QStringList> arguments(const QStringList &arguments, const QString &executableURL);

    // Refuses every later command and, when an adb command ran since start-up, runs "kill-server" once against
    // the private port. Blocks its thread until that command has ended (or its bound has passed).
    void stop();

    // Runs the executable with both outputs sent to the null device and waits for it, at most a few seconds.
    static void defaultShutdown(const QString &executableURL, const QStringList &arguments);

    // The environment every adb child runs in: the process's own, without the variables that would send adb's
    // commands to another server than the private one ("ANDROID_ADB_SERVER_ADDRESS", "ADB_SERVER_SOCKET").
    static QProcessEnvironment
    childEnvironment(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment());

private:
    const quint16 m_port;
    const Shutdown m_shutdown;
    QMutex m_lock;
    std::optional<QString> m_executableURL; // guarded by m_lock
    bool m_isStopping = false;              // guarded by m_lock
};

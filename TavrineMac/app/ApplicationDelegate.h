#pragma once

#include <QList>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class ADBServerController;
class QIcon;
class QuickSendCoordinator;

// Ties the application's life to quick send and to the private adb server: at launch it sets the application
// icon and starts quick send (the SendFiles entry, the global hot key, the transfer store's bootstrap); it
// routes files opened with the application and files sent through the SendFiles entry to the coordinator;
// on reopen without a visible window it brings the main window back; on termination it stops quick send and
// then the adb server. Closing the last window does not end the application.
class TavrineApplicationDelegate : public QObject
{
    Q_OBJECT

public:
    static constexpr auto noFilesFoundMessage = "没有找到可发送的文件";
    static constexpr auto applicationIconResource = ":/TavrineMac/AppIcon.png";

    explicit TavrineApplicationDelegate(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
                                        std::shared_ptr<ADBServerController> adbServerController = nullptr,
                                        QObject *parent = nullptr);
    ~TavrineApplicationDelegate() override;

    QuickSendCoordinator *quickSendCoordinator() const { return m_quickSendCoordinator.get(); }
    // Set once by the application object.
    void setQuickSendCoordinator(std::unique_ptr<QuickSendCoordinator> coordinator);
    // Drops the coordinator before the transfer store it refers to goes.
    void releaseQuickSendCoordinator();
    bool didFinishLaunching() const { return m_didFinishLaunching; }
    // Whether the SendFiles entry has been offered to the session.
    bool isServicesProvider() const { return m_isServicesProvider; }
    const std::shared_ptr<ADBServerController> &adbServerController() const { return m_adbServerController; }

    void applicationDidFinishLaunching();
    // The clean-up of every way out: the quit command, SIGINT and SIGTERM, the session's end. Runs once.
    void applicationWillTerminate();
    // The quit command: the clean-up, then the event loop ends.
    void quit();
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void openFiles(const QList<QUrl> &urls);
    // The SendFiles entry: the error text when no file was handed over.
    std::optional<QString> sendFiles(const QList<QUrl> &urls);

    void startQuickSend();
    // The application's icon image from its resources; a null icon when it is missing or unreadable.
    static QIcon applicationIcon();
    // Makes that image the application's icon; a missing or unreadable image changes nothing.
    static void applyDockIcon();

private:
    const QProcessEnvironment m_environment;
    std::unique_ptr<QuickSendCoordinator> m_quickSendCoordinator;
    bool m_didFinishLaunching = false;
    bool m_isServicesProvider = false;
    bool m_didTerminate = false;
    const std::shared_ptr<ADBServerController> m_adbServerController;
};

// SIGINT and SIGTERM, turned into a signal on the GUI thread so that they end the application the way its
// quit command does. One at a time per process; the default handlers come back when it goes.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isInstalled() const { return m_isInstalled; }

signals:
    void received(int signalNumber);

private:
    int m_sockets[2] = {-1, -1};
    bool m_isInstalled = false;
};

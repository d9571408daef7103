#include "ApplicationDelegate.h"

#include "ADBServerController.h"
#include "KeptPixmap.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPointer>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end of the pipe the handler may touch: one int, written before the handlers go in.
volatile std::sig_atomic_t terminationSocket = -1;

void forwardTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(terminationSocket, &byte, 1);
    errno = savedErrno;
}

constexpr int terminationSignalNumbers[] = {SIGINT, SIGTERM};

} // namespace

TavrineApplicationDelegate::TavrineApplicationDelegate(QProcessEnvironment environment,
                                                       std::shared_ptr<ADBServerController> adbServerController,
                                                       QObject *parent)
    : QObject(parent), m_environment(std::move(environment)),
      m_adbServerController(adbServerController ? std::move(adbServerController) : ADBServerController::shared())
{}

TavrineApplicationDelegate::~TavrineApplicationDelegate() = default;

void TavrineApplicationDelegate::setQuickSendCoordinator(std::unique_ptr<QuickSendCoordinator> coordinator)
{
    m_quickSendCoordinator = std::move(coordinator);
}

void TavrineApplicationDelegate::releaseQuickSendCoordinator()
{
    m_quickSendCoordinator.reset();
}

void TavrineApplicationDelegate::applicationDidFinishLaunching()
{
    m_didFinishLaunching = true;
    applyDockIcon();
    startQuickSend();
}

QIcon TavrineApplicationDelegate::applicationIcon()
{
    // The tray and the windows take the icon one after the other at start: it is decoded once.
    const QPixmap decoded = keptPixmap(QStringLiteral("tavrine-application-icon"), [] {
        QImageReader reader(QString::fromLatin1(applicationIconResource));
        return QPixmap::fromImage(reader.read());
    });
    return decoded.isNull() ? QIcon() : QIcon(decoded);
}

void TavrineApplicationDelegate::applyDockIcon()
{
    if (const QIcon icon = applicationIcon(); !icon.isNull()) {
        QApplication::setWindowIcon(icon);
    }
}

void TavrineApplicationDelegate::startQuickSend()
{
    if (m_environment.contains(QStringLiteral("XCTestConfigurationFilePath")) || !m_quickSendCoordinator) {
        return;
    }
    m_isServicesProvider = true;
    QuickSendCoordinator &coordinator = *m_quickSendCoordinator;
    if (coordinator.didStart()) {
        return;
    }
    coordinator.setDidStart(true);
    const QPointer<QuickSendCoordinator> weakCoordinator(&coordinator);
    coordinator.setHotKeyAvailable(coordinator.hotKeyRegistrar().registerHotKey([weakCoordinator] {
        if (weakCoordinator) {
            weakCoordinator->showPanel();
        }
    }));
    coordinator.bootstrap();
}

void TavrineApplicationDelegate::applicationWillTerminate()
{
    if (std::exchange(m_didTerminate, true)) {
        return;
    }
    if (m_quickSendCoordinator) {
        m_quickSendCoordinator->stop();
    }
    m_adbServerController->stop();
}

void TavrineApplicationDelegate::quit()
{
    applicationWillTerminate();
    QCoreApplication::quit();
}

bool TavrineApplicationDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (!hasVisibleWindows && m_quickSendCoordinator) {
        m_quickSendCoordinator->showMainWindow();
    }
    return true;
}

void TavrineApplicationDelegate::openFiles(const QList<QUrl> &urls)
{
    if (m_quickSendCoordinator) {
        m_quickSendCoordinator->handle(urls, QuickSendCoordinator::Source::dock);
    }
}

std::optional<QString> TavrineApplicationDelegate::sendFiles(const QList<QUrl> &urls)
{
    if (urls.isEmpty()) {
        return QString::fromUtf8(noFilesFoundMessage);
    }
    if (m_quickSendCoordinator) {
        m_quickSendCoordinator->handle(urls, QuickSendCoordinator::Source::finderService);
    }
    return std::nullopt;
}

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (terminationSocket != -1 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_sockets) != 0) {
        return;
    }
    terminationSocket = m_sockets[0];
    struct sigaction action = {};
    action.sa_handler = forwardTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : terminationSignalNumbers) {
        ::sigaction(signalNumber, &action, nullptr);
    }
    m_isInstalled = true;
    auto *notifier = new QSocketNotifier(m_sockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(m_sockets[1], &byte, 1) == 1) {
            emit received(byte);
        }
    });
}

TerminationSignals::~TerminationSignals()
{
    if (!m_isInstalled) {
        return;
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : terminationSignalNumbers) {
        ::sigaction(signalNumber, &action, nullptr);
    }
    terminationSocket = -1;
    ::close(m_sockets[0]);
    ::close(m_sockets[1]);
}

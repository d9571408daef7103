#include "MainScene.h"

#include "ApplicationDelegate.h"
#include "MainWindow.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "TavrineMacApp.h"
#include "UpdateController.h"
#include "X11Desktop.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSystemTrayIcon>

namespace MainWindowSizeMigration {

QRect migratedFrame(const std::optional<QRect> &visibleFrame, const QRect &currentFrame)
{
    constexpr int width = targetWidth;
    constexpr int height = targetHeight;
    if (!visibleFrame) {
        return {currentFrame.x() + currentFrame.width() / 2 - width / 2,
                currentFrame.y() + currentFrame.height() / 2 - height / 2, width, height};
    }
    const QRect &visible = *visibleFrame;
    // Qt's y axis points down. A window taller than the visible frame starts at its top, so that its title bar
    // stays on the screen where the user can take hold of it.
    const int left = visible.x();
    const int right = visible.x() + visible.width();
    const int top = visible.y();
    const int bottom = visible.y() + visible.height();
    const int x0 = left + visible.width() / 2 - width / 2;
    const int y0 = top + visible.height() / 2 - height / 2;
    const int x = width <= visible.width() ? std::min(std::max(x0, left), right - width) : left;
    const int y = height <= visible.height() ? std::min(std::max(y0, top), bottom - height) : top;
    return {x, y, width, height};
}

bool migrateWindowSizeIfNeeded(QWidget &window, QSettings &settings, const QProcessEnvironment &environment)
{
    if (environment.contains(QStringLiteral("XCTestConfigurationFilePath")) ||
        settings.value(QLatin1String(revisionKey), 0).toInt() > currentRevision - 1) {
        return false;
    }
    const QScreen *screen = window.screen();
    const QRect frame =
        migratedFrame(screen ? std::optional(screen->availableGeometry()) : std::nullopt, window.frameGeometry());
    // The origin is the frame's, title bar included: move() places the frame, also on a window not yet shown,
    // whose frame the window manager then puts there; the size is the window's own area.
    window.move(frame.topLeft());
    window.resize(frame.size());
    settings.setValue(QLatin1String(revisionKey), currentRevision);
    return true;
}

} // namespace MainWindowSizeMigration

MainScene::MainScene(TavrineMacApp &application, QProcessEnvironment environment, QObject *parent)
    : QObject(parent), m_application(application), m_environment(std::move(environment))
{
    TavrineApplicationDelegate &delegate = application.delegate();
    AppUpdateController &updates = application.updateController();

    m_checkForUpdatesAction = new QAction(QStringLiteral("检查更新…"), this);
    m_checkForUpdatesAction->setEnabled(updates.canCheckForUpdates());
    connect(&updates, &AppUpdateController::canCheckForUpdatesChanged, m_checkForUpdatesAction, &QAction::setEnabled);
    connect(m_checkForUpdatesAction, &QAction::triggered, &updates, [&updates] {
        if (updates.canCheckForUpdates()) {
            updates.checkForUpdates();
        }
    });

    m_quickSendAction = new QAction(QStringLiteral("快速发送…"), this);
    connect(m_quickSendAction, &QAction::triggered, this, [&delegate] {
        if (QuickSendCoordinator *coordinator = delegate.quickSendCoordinator()) {
            coordinator->showPanel();
        }
    });

    m_quitAction = new QAction(QStringLiteral("退出 TavrineMac"), this);
    m_quitAction->setShortcut(QKeySequence::Quit);
    m_quitAction->setMenuRole(QAction::QuitRole);
    connect(m_quitAction, &QAction::triggered, &delegate, &TavrineApplicationDelegate::quit);

    if (QuickSendCoordinator *coordinator = delegate.quickSendCoordinator()) {
        coordinator->setMainWindowOpener([this] { showWindow(); });
    }
}

MainScene::~MainScene()
{
    delete m_window;
    delete m_trayMenu;
}

QMainWindow *MainScene::window()
{
    if (!m_window) {
        MainWindow *window = makeWindow();
        buildContent(*window);
        m_window = window;
    }
    return m_window;
}

MainWindow *MainScene::makeWindow()
{
    TavrineApplicationDelegate &delegate = m_application.delegate();
    auto *window =
        new MainWindow(m_application.deviceStore(), m_application.transferStore(), m_application.managementStore(),
                       *delegate.quickSendCoordinator(), MainWindow::ContentLater{});
    // Closing the window hides it; the application goes on in the tray, the hot key and the bus.
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    MainWindowSizeMigration::migrateWindowSizeIfNeeded(*window, m_settings, m_environment);
    return window;
}

void MainScene::buildContent(MainWindow &window)
{
    installMenus(window);
    window.buildContent();
}

void MainScene::installMenus(QMainWindow &window)
{
    QMenuBar *menuBar = window.menuBar();
    QMenu *applicationMenu = menuBar->addMenu(QStringLiteral("TavrineMac"));
    applicationMenu->addAction(m_checkForUpdatesAction);
    applicationMenu->addSeparator();
    applicationMenu->addAction(m_quitAction);
    QMenu *fileMenu = menuBar->addMenu(QStringLiteral("文件"));
    fileMenu->addAction(m_quickSendAction);
}

void MainScene::showWindow()
{
    // The first window is put on the screen, in its background colour, before its texts are laid out and drawn:
    // their fonts take longer than the window itself. The content is built at once, before the window's first
    // frame. The X server fills the window as it maps it; after that the window is left as the toolkit draws it.
    MainWindow *first = m_window ? nullptr : makeWindow();
    if (first) {
        m_window = first;
        setX11WindowBackground(*first, first->palette().color(QPalette::Window));
    }
    if (m_window->isMinimized()) {
        m_window->showNormal();
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    if (first) {
        setX11WindowBackground(*first, std::nullopt);
        flushX11Requests();
        // The look for USB phones that the window queued as it was shown starts now, so that adb runs while the
        // content is built.
        QCoreApplication::sendPostedEvents(first, QEvent::MetaCall);
        buildContent(*first);
    }
}

void MainScene::activate()
{
    const bool hasVisibleWindows = m_window && m_window->isVisible();
    m_application.delegate().applicationShouldHandleReopen(hasVisibleWindows);
    // The delegate brings back a hidden window; one on the screen only needs to come forward.
    if (hasVisibleWindows || !m_application.delegate().quickSendCoordinator()) {
        showWindow();
    }
}

void MainScene::showTrayIcon()
{
    if (m_trayIcon || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    m_trayMenu = new QMenu;
    m_trayMenu->addAction(m_quickSendAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_quitAction);
    // Launching, which gives the application its icon, may not have finished yet.
    m_trayIcon = new QSystemTrayIcon(TavrineApplicationDelegate::applicationIcon(), this);
    m_trayIcon->setToolTip(QStringLiteral("TavrineMac"));
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            activate();
        }
    });
    m_trayIcon->show();
}

#pragma once

#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QRect>
#include <QSettings>

#include <optional>

class MainWindow;
class QAction;
class QMainWindow;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class TavrineMacApp;

// Once per settings domain the main window is brought to the current default size, centred on the visible
// part of its screen.
namespace MainWindowSizeMigration {

inline constexpr auto revisionKey = "mainWindowSizeMigrationRevision";
inline constexpr int currentRevision = 5;
inline constexpr int targetWidth = 980;
inline constexpr int targetHeight = 650;

// The new frame: always 980 by 650; the origin is kept inside `visibleFrame` where the size fits, else at
// its minimum. Without a screen the window is centred on its current frame.
QRect migratedFrame(const std::optional<QRect> &visibleFrame, const QRect &currentFrame);

// Resizes `window` unless the environment marks a test run or `settings` records an earlier migration;
// true when it did.
bool migrateWindowSizeIfNeeded(QWidget &window, QSettings &settings,
                               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

} // namespace MainWindowSizeMigration

// The application's one window scene: the main window made from the application's stores (on first need,
// kept when closed), the menu commands "检查更新…" and "快速发送…" beside the quit command, and the tray icon
// that stands in for the Dock icon.
class MainScene : public QObject
{
    Q_OBJECT

public:
    explicit MainScene(TavrineMacApp &application,
                       QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
                       QObject *parent = nullptr);
    ~MainScene() override;

    // The main window, made and sized on first use.
    QMainWindow *window();
    void showWindow();
    // A start of the application while it runs, or a click on the tray icon: a hidden window comes back,
    // a shown one comes forward.
    void activate();
    // Shows the tray icon where the desktop has a tray.
    void showTrayIcon();

    QAction *checkForUpdatesAction() const { return m_checkForUpdatesAction; }
    QAction *quickSendAction() const { return m_quickSendAction; }
    QAction *quitAction() const { return m_quitAction; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }

private:
    void installMenus(QMainWindow &window);
    MainWindow *makeWindow();
    void buildContent(MainWindow &window);

    TavrineMacApp &m_application;
    const QProcessEnvironment m_environment;
    // Written back by the event loop once the window is up, not while the first window waits for it.
    QSettings m_settings;
    QAction *m_checkForUpdatesAction = nullptr;
    QAction *m_quickSendAction = nullptr;
    QAction *m_quitAction = nullptr;
    QPointer<QMainWindow> m_window;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
};

// The main scene on an X server of its own with a short screen and a real window manager: the first window reaches
// the screen in its background colour before the event loop runs and is then drawn whole at once, the migrated
// window keeps its title bar on the screen, and the tray icon carries the application's icon.
#include "ApplicationShellFixture.h"
#include "MainScene.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// After Qt: the X11 headers define macros such as None and Bool.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr QSize screenSize(1280, 600);

// Xvfb on a display number it finds free, so that the session's own X server is left alone.
class PrivateXServer
{
public:
    // The display's name, such as ":3"; empty when the server did not come up within 20 s.
    QByteArray start()
    {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            return {};
        }
        const QByteArray displayFd = QByteArray::number(pipe[1]);
        const QByteArray screen =
            QByteArray::number(screenSize.width()) + 'x' + QByteArray::number(screenSize.height()) + "x24";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::fcntl(pipe[1], F_SETFD, 0);
            ::execlp("Xvfb", "Xvfb", "-displayfd", displayFd.constData(), "-screen", "0", screen.constData(),
                     "-nolisten", "tcp", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        // The server writes its display number once it takes connections.
        QByteArray number;
        pollfd ready{pipe[0], POLLIN, 0};
        char buffer[16];
        while (m_pid > 0 && !number.endsWith('\n') && ::poll(&ready, 1, 20'000) == 1) {
            const ssize_t length = ::read(pipe[0], buffer, sizeof buffer);
            if (length <= 0) {
                break;
            }
            number.append(buffer, length);
        }
        ::close(pipe[0]);
        return number.endsWith('\n') ? ':' + number.trimmed() : QByteArray();
    }

    ~PrivateXServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

Atom atom(Display *display, const char *name)
{
    return XInternAtom(display, name, False);
}

} // namespace

class TestMainSceneDesktop : public QObject
{
    Q_OBJECT

    QProcess m_windowManager;
    QTemporaryDir m_adbState;
    // The test's own connection, standing for another client of the desktop such as a tray.
    Display *m_display = nullptr;

    // The frame the window manager put `window` in, as the X server has it; none before it is reparented.
    std::optional<QRect> managedFrame(Window window) const
    {
        Window current = window;
        for (;;) {
            Window root = 0;
            Window parent = 0;
            Window *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, current, &root, &parent, &children, &count)) {
                return std::nullopt;
            }
            if (children) {
                XFree(children);
            }
            if (parent == root) {
                break;
            }
            current = parent;
        }
        XWindowAttributes frame;
        if (current == window || !XGetWindowAttributes(m_display, current, &frame)) {
            return std::nullopt;
        }
        return QRect(frame.x, frame.y, frame.width + 2 * frame.border_width, frame.height + 2 * frame.border_width);
    }

    QSize clientSize(Window window) const
    {
        XWindowAttributes attributes;
        return XGetWindowAttributes(m_display, window, &attributes) ? QSize(attributes.width, attributes.height)
                                                                    : QSize();
    }

    // The colours the top of `window` shows on the X server (a window taller than this screen has its bottom off
    // it), each once; none while it is not viewable.
    QSet<unsigned long> colours(Window window) const
    {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, window, &attributes) || attributes.map_state != IsViewable) {
            return {};
        }
        XImage *image = XGetImage(m_display, window, 0, 0, unsigned(attributes.width),
                                  unsigned(std::min(attributes.height, 300)), AllPlanes, ZPixmap);
        if (!image) {
            return {};
        }
        QSet<unsigned long> found;
        for (int y = 0; y < image->height; ++y) {
            for (int x = 0; x < image->width; ++x) {
                found.insert(XGetPixel(image, x, y));
            }
        }
        XDestroyImage(image);
        return found;
    }

private slots:
    void initTestCase()
    {
        // The window lists the USB phones as soon as it is shown: through the stand-in, since a real adb would leave
        // its server running after the test.
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        qputenv("TAVRINE_FAKE_ADB_STATE", m_adbState.path().toUtf8());
        const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
        if (openbox.isEmpty()) {
            QSKIP("openbox is not installed");
        }
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), screenSize);
        m_display = XOpenDisplay(nullptr);
        QVERIFY(m_display);

        m_windowManager.start(openbox, {QStringLiteral("--sm-disable")});
        QVERIFY(m_windowManager.waitForStarted(10'000));
        // A window manager announces itself on the root window once it manages the screen.
        const auto windowManagerIsRunning = [this] {
            Atom type = 0;
            int format = 0;
            unsigned long count = 0;
            unsigned long remaining = 0;
            unsigned char *data = nullptr;
            XGetWindowProperty(m_display, DefaultRootWindow(m_display), atom(m_display, "_NET_SUPPORTING_WM_CHECK"), 0,
                               1, False, XA_WINDOW, &type, &format, &count, &remaining, &data);
            if (data) {
                XFree(data);
            }
            return count == 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(windowManagerIsRunning(), 10'000);
        // It has finished starting when it puts a frame around a new window; a window mapped while it is still
        // starting may stay without one, so the probe is mapped again each second until it gets one.
        const Window probe = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 10, 10, 0, 0, 0);
        QElapsedTimer sinceMapped;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (managedFrame(probe)) {
                    return true;
                }
                if (!sinceMapped.isValid() || sinceMapped.hasExpired(1000)) {
                    XUnmapWindow(m_display, probe);
                    XMapWindow(m_display, probe);
                    XSync(m_display, False);
                    sinceMapped.start();
                }
                return false;
            }(),
            10'000);
        XDestroyWindow(m_display, probe);
        XSync(m_display, False);

        // A tray on the screen: this connection holds the tray's selection, as a panel's tray would.
        const Window tray = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(m_display, atom(m_display, "_NET_SYSTEM_TRAY_S0"), tray, CurrentTime);
        XSync(m_display, False);
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
    }

    void cleanupTestCase()
    {
        m_windowManager.terminate();
        m_windowManager.waitForFinished(10'000);
        if (m_display) {
            XCloseDisplay(m_display);
        }
    }

    void firstWindowReachesTheScreenBeforeItsContentIsDrawn()
    {
        Shell shell;
        MainScene scene(shell.app);
        scene.showWindow();

        // Its parts are shown and laid out already: nothing waits for a later turn of the event loop, which
        // would draw a first frame without them.
        QMainWindow *window = scene.window();
        QVERIFY(window->centralWidget()->isVisible() && window->menuBar()->isVisible());
        QCOMPARE(window->centralWidget()->geometry().bottom(), window->rect().bottom());
        QVERIFY(window->centralWidget()->geometry().top() >= window->menuBar()->geometry().bottom());
        QVERIFY(!window->menuBar()->geometry().isEmpty());

        // The X server has the window before the event loop runs, filled with the background colour.
        const Window client = window->winId();
        const QColor background = window->palette().color(QPalette::Window);
        const unsigned long backgroundPixel = (unsigned long)(background.rgb() & 0xffffff);
        QElapsedTimer waited;
        waited.start();
        QSet<unsigned long> shown;
        while ((shown = colours(client)).isEmpty() && !waited.hasExpired(10'000)) {
            QThread::msleep(5);
        }
        QCOMPARE(shown, QSet<unsigned long>{backgroundPixel});

        // Its first frame has the content; the server no longer paints over what the application drew.
        QTRY_VERIFY_WITH_TIMEOUT(colours(client).size() > 1, 10'000);
        XClearArea(m_display, client, 0, 0, 0, 0, False);
        XSync(m_display, False);
        QVERIFY(colours(client).size() > 1);
        window->hide();
    }

    void migratedWindowKeepsItsTitleBarOnTheScreen()
    {
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(available.size(), screenSize);
        QTemporaryDir folder;
        QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        QMainWindow window;
        QVERIFY(MainWindowSizeMigration::migrateWindowSizeIfNeeded(window, settings, QProcessEnvironment()));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // The title bar starts at the top of the screen, although the window is taller than the screen.
        const Window client = window.winId();
        QTRY_COMPARE_WITH_TIMEOUT(managedFrame(client).value_or(QRect()).top(), available.top(), 10'000);
        QCOMPARE(managedFrame(client)->left(),
                 available.left() + (available.width() - MainWindowSizeMigration::targetWidth) / 2);
        QCOMPARE(clientSize(client),
                 QSize(MainWindowSizeMigration::targetWidth, MainWindowSizeMigration::targetHeight));
    }

    void trayIconCarriesTheApplicationIcon_data()
    {
        const TestTable<bool> rows;
        // In this order: the application's icon, once set, stays.
        rows("before launching gives the application its icon", false);
        rows("after launching gave the application its icon", true);
    }
    void trayIconCarriesTheApplicationIcon()
    {
        const auto [iconApplied] = TestTable<bool>::fetch();
        if (iconApplied) {
            TavrineApplicationDelegate::applyDockIcon();
        } else {
            QVERIFY(QApplication::windowIcon().isNull());
        }
        Shell shell;
        MainScene scene(shell.app);
        scene.showTrayIcon();
        QVERIFY(scene.trayIcon() && scene.trayIcon()->isVisible());
        TavrineApplicationDelegate::applyDockIcon();

        const auto imageOf = [](const QIcon &icon) {
            return icon.pixmap(QSize(64, 64)).toImage().convertToFormat(QImage::Format_ARGB32);
        };
        const QImage expected =
            imageOf(QIcon(QPixmap(QString::fromLatin1(TavrineApplicationDelegate::applicationIconResource))));
        QVERIFY(!expected.isNull());
        QCOMPARE(imageOf(scene.trayIcon()->icon()), expected);
    }
};

int main(int argc, char *argv[])
{
    PrivateXServer server;
    const QByteArray display = server.start();
    if (display.isEmpty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    TestMainSceneDesktop test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_main_scene_desktop.moc"

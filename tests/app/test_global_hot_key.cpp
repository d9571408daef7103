// The global hot key under a real X server: presses come from xdotool as from a keyboard.
#include "GlobalHotKey.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

// After Qt: the X11 headers define macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/keysym.h>

class TestGlobalHotKey : public QObject
{
    Q_OBJECT

private:
    static void pressHotKey()
    {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+space")});
        QVERIFY2(xdotool.waitForFinished(10'000), "xdotool did not finish");
        QCOMPARE(xdotool.exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            // Without X11 the hot key is unavailable.
            QVERIFY(!GlobalHotKeyRegistrar().registerHotKey([] {}));
            QSKIP("no X server");
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QSKIP("xdotool is not installed");
        }
    }

    void pressesRunTheLatestActionUntilUnregistered()
    {
        GlobalHotKeyRegistrar registrar;
        int firstPresses = 0;
        int presses = 0;
        QVERIFY(registrar.registerHotKey([&] { ++firstPresses; }));
        // A second registration replaces the first: one grab, the new action.
        QVERIFY(registrar.registerHotKey([&] { ++presses; }));
        pressHotKey();
        QTRY_COMPARE_WITH_TIMEOUT(presses, 1, 10'000);
        QCOMPARE(firstPresses, 0);

        registrar.unregister();
        pressHotKey();
        // A press after registering again arrives after the unregistered one would have: only it counts.
        QVERIFY(registrar.registerHotKey([&] { presses += 10; }));
        pressHotKey();
        QTRY_COMPARE_WITH_TIMEOUT(presses, 11, 10'000);
    }

    void aCombinationHeldByAnotherClientIsNotRegistered()
    {
        Display *other = XOpenDisplay(nullptr);
        QVERIFY(other);
        const KeyCode space = XKeysymToKeycode(other, XK_space);
        XGrabKey(other, space, ControlMask | Mod1Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
        XSync(other, False);

        GlobalHotKeyRegistrar registrar;
        int presses = 0;
        QVERIFY(!registrar.registerHotKey([&] { ++presses; }));
        QVERIFY(!registrar.isRegistered());
        registrar.performAction();
        QCOMPARE(presses, 0);

        XCloseDisplay(other);
        QVERIFY(registrar.registerHotKey([&] { ++presses; }));
    }
};

int main(int argc, char *argv[])
{
    // The tests run offscreen; the hot key needs the X11 platform.
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    TestGlobalHotKey test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_global_hot_key.moc"

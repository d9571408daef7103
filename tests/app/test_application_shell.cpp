// The application shell: one instance per session bus, the start-up arguments, the window-size migration, the
// menu commands, and the clean-up that the quit command and SIGINT/SIGTERM share.
#include "ADBServerController.h"
#include "ApplicationDelegate.h"
#include "ApplicationShellFixture.h"
#include "DeviceManagementStore.h"
#include "MainScene.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "SingleInstance.h"
#include "TavrineMacApp.h"
#include "UpdateController.h"
#include "transfers/StoreTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <csignal>

class TestApplicationShell : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private slots:
    void secondInstanceReachesTheFirst_data()
    {
        TestTable<LaunchRequest, QString, std::optional<QString>> rows;
        rows("activate", {LaunchRequest::Kind::activate, {}}, "activate", std::nullopt);
        rows("open", {LaunchRequest::Kind::open, {"/tmp/a b.txt", "/tmp/c"}}, "open /tmp/a b.txt,/tmp/c", std::nullopt);
        rows("send", {LaunchRequest::Kind::send, {"/tmp/a.txt"}}, "send /tmp/a.txt", std::nullopt);
        rows("send refused by the first", {LaunchRequest::Kind::send, {"/tmp/refused"}}, "send /tmp/refused",
             "没有找到可发送的文件");
    }
    void secondInstanceReachesTheFirst()
    {
        const auto [request, expected, error] = TestTable<LaunchRequest, QString, std::optional<QString>>::fetch();
        QStringList received;
        const auto paths = [](const QList<QUrl> &urls) {
            QStringList list;
            for (const QUrl &url : urls) {
                list.append(url.toLocalFile());
            }
            return list.join(u',');
        };
        SingleInstance first(QDBusConnection::sessionBus());
        QVERIFY(first.claim());
        first.setHandlers({[&] { received.append(QStringLiteral("activate")); },
                           [&](const QList<QUrl> &urls) { received.append(QStringLiteral("open ") + paths(urls)); },
                           [&](const QList<QUrl> &urls) -> std::optional<QString> {
                               received.append(QStringLiteral("send ") + paths(urls));
                               return paths(urls).endsWith(u"refused")
                                          ? std::optional(
                                                QString::fromUtf8(TavrineApplicationDelegate::noFilesFoundMessage))
                                          : std::nullopt;
                           }});
        {
            QDBusConnection secondBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "second");
            SingleInstance second(secondBus);
            QVERIFY(!second.claim());
            QCOMPARE(SingleInstance::forward(request, secondBus), error);

            // A caller that is not a second start of ours gets no further than the checks.
            QDBusMessage web = QDBusMessage::createMethodCall(SingleInstance::serviceName, SingleInstance::objectPath,
                                                              SingleInstance::applicationInterface, "Open");
            web << QStringList{QStringLiteral("https://example.com/a")} << QVariantMap();
            QCOMPARE(secondBus.call(web, QDBus::BlockWithGui).errorName(),
                     QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
        }
        QDBusConnection::disconnectFromBus("second");
        QCOMPARE(received, QStringList{expected});
    }

    void launchArguments_data()
    {
        TestTable<QStringList, std::variant<LaunchRequest, QString>> rows;
        const QString noFiles = QString::fromUtf8(TavrineApplicationDelegate::noFilesFoundMessage);
        rows("no arguments", {}, LaunchRequest{});
        rows("send without files", {"--send"}, noFiles);
        rows("send of missing files", {"--send", "/nonexistent/a", "file:///nonexistent/b"}, noFiles);
        rows("send keeps the existing", {"--send", "/nonexistent/a", "file:///etc/hostname", "/etc/"},
             LaunchRequest{LaunchRequest::Kind::send, {"/etc/hostname", "/etc"}});
        rows("opened items go on as given", {"/nonexistent/a", "-platform"},
             LaunchRequest{LaunchRequest::Kind::open, {"/nonexistent/a"}});

        // Relative names are found in the current folder, which holds "-x.txt" and "--".
        QVERIFY(writeFile(m_folder.filePath("-x.txt"), "x") && writeFile(m_folder.filePath("--"), "x"));
        const QString dashed = QDir(m_folder.path()).canonicalPath() + "/-x.txt";
        const QString doubleDash = QDir(m_folder.path()).canonicalPath() + "/--";
        rows("send takes a name with a leading dash", {"--send", "-x.txt"},
             LaunchRequest{LaunchRequest::Kind::send, {dashed}});
        rows("send drops the end of options", {"--send", "--", "-x.txt"},
             LaunchRequest{LaunchRequest::Kind::send, {dashed}});
        rows("send takes a second -- as a file", {"--send", "--", "-x.txt", "--"},
             LaunchRequest{LaunchRequest::Kind::send, {dashed, doubleDash}});
        rows("send of a missing dashed name", {"--send", "--", "-missing"}, noFiles);
        rows("opened items after the end of options", {"-reverse", "--", "-x.txt", "-missing"},
             LaunchRequest{LaunchRequest::Kind::open, {dashed, QDir(m_folder.path()).canonicalPath() + "/-missing"}});
    }
    void launchArguments()
    {
        const auto [arguments, expected] = TestTable<QStringList, std::variant<LaunchRequest, QString>>::fetch();
        const QString previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_folder.path()));
        const auto parsed = LaunchRequest::parse(arguments);
        QVERIFY(QDir::setCurrent(previousFolder));
        QCOMPARE(parsed, expected);
    }

    void optionsOfTheProgram_data()
    {
        // arguments, whether the toolkit has taken its options out → what the start asks for
        TestTable<QStringList, LaunchRequest::ToolkitOptions, std::variant<LaunchRequest, QString>> rows;
        const auto present = LaunchRequest::ToolkitOptions::present, removed = LaunchRequest::ToolkitOptions::removed;
        const LaunchRequest help{LaunchRequest::Kind::help, {}};
        rows("help before the toolkit has looked", {"-platform", "xcb", "--help"}, present, help);
        rows("help wins over an unknown option", {"--bogus", "-h"}, removed, help);
        rows("version", {"/tmp/a", "--version"}, removed, LaunchRequest{LaunchRequest::Kind::version, {}});
        rows("a file named --help", {"--", "--help"}, removed,
             LaunchRequest{LaunchRequest::Kind::open, {QDir::currentPath() + "/--help"}});
        rows("a send of a file named --help", {"--send", "--help"}, removed,
             QString::fromUtf8(TavrineApplicationDelegate::noFilesFoundMessage));
        rows("an option the toolkit may yet take", {"-reverse"}, present, LaunchRequest{});
        rows("an option nobody took", {"-reverse", "/tmp/a"}, removed,
             "TavrineMac: unknown option '-reverse'\nTry 'TavrineMac --help'.");
    }
    void optionsOfTheProgram()
    {
        const auto [arguments, toolkitOptions, expected] =
            TestTable<QStringList, LaunchRequest::ToolkitOptions, std::variant<LaunchRequest, QString>>::fetch();
        QCOMPARE(LaunchRequest::parse(arguments, toolkitOptions), expected);
    }

    void sendWithoutFilesReportsAndShowsNothing()
    {
        Shell shell;
        QCOMPARE(shell.delegate.sendFiles({}), QString::fromUtf8(TavrineApplicationDelegate::noFilesFoundMessage));
        QVERIFY(!shell.delegate.quickSendCoordinator()->panel());
    }

    // The desktop entry built beside the executable offers it for every file a file manager opens with it (opened
    // files go to quick send), and its action "发送到手机" sends them.
    void desktopEntryTakesEveryFile()
    {
        QFile entry(QCoreApplication::applicationDirPath() + QStringLiteral("/com.drovan.tavrine.TavrineMac.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(entry.readAll()).split(u'\n');
        QVERIFY(lines.contains(QStringLiteral("MimeType=application/octet-stream;")));
        const qsizetype action = lines.indexOf(QStringLiteral("[Desktop Action send]"));
        QVERIFY(action > 0);
        QCOMPARE(lines.value(action + 1), QStringLiteral("Name=发送到手机"));
        QVERIFY(lines.value(action + 2).startsWith(QStringLiteral("Exec=")));
        QVERIFY(lines.value(action + 2).endsWith(QStringLiteral(" --send %F")));
    }

    void windowSizeMigrationFrame_data()
    {
        TestTable<std::optional<QRect>, QRect, QRect> rows;
        rows("centred on a large screen", QRect(0, 0, 1920, 1080), {}, QRect(470, 215, 980, 650));
        rows("a short screen keeps the title bar on it", QRect(0, 25, 1280, 600), {}, QRect(150, 25, 980, 650));
        rows("a narrow screen starts at its left", QRect(100, 0, 800, 900), {}, QRect(100, 125, 980, 650));
        rows("a second screen", QRect(1920, 0, 1000, 700), {}, QRect(1930, 25, 980, 650));
        rows("no screen: centred on the window", std::nullopt, QRect(100, 100, 600, 400), QRect(-90, -25, 980, 650));
    }
    void windowSizeMigrationFrame()
    {
        const auto [visible, current, expected] = TestTable<std::optional<QRect>, QRect, QRect>::fetch();
        QCOMPARE(MainWindowSizeMigration::migratedFrame(visible, current), expected);
    }

    void windowSizeMigrationRunsOnce_data()
    {
        TestTable<QVariant, bool, bool> rows;
        rows("never migrated", {}, false, true);
        rows("revision 4", 4, false, true);
        rows("revision 5", 5, false, false);
        rows("a later revision", 9, false, false);
        rows("a test run", {}, true, false);
    }
    void windowSizeMigrationRunsOnce()
    {
        const auto [stored, isTestRun, migrates] = TestTable<QVariant, bool, bool>::fetch();
        QTemporaryDir folder;
        QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        if (stored.isValid()) {
            settings.setValue(MainWindowSizeMigration::revisionKey, stored);
        }
        QProcessEnvironment environment;
        if (isTestRun) {
            environment.insert(QStringLiteral("XCTestConfigurationFilePath"), QString());
        }
        QWidget window;
        window.resize(600, 400);
        QCOMPARE(MainWindowSizeMigration::migrateWindowSizeIfNeeded(window, settings, environment), migrates);
        QCOMPARE(window.size(), migrates ? QSize(980, 650) : QSize(600, 400));
        QCOMPARE(settings.value(MainWindowSizeMigration::revisionKey), migrates ? QVariant(5) : stored);
        // A second pass never changes a migrated window.
        window.resize(700, 500);
        QVERIFY(!MainWindowSizeMigration::migrateWindowSizeIfNeeded(window, settings, environment) || !migrates);
    }

    void startUpAndMenuCommands()
    {
        Shell shell;
        TavrineApplicationDelegate &delegate = shell.delegate;
        QuickSendCoordinator *coordinator = delegate.quickSendCoordinator();
        QVERIFY(coordinator);
        // Building the application again keeps the delegate's coordinator.
        TavrineMacApp again(delegate, shell.builders());
        QCOMPARE(delegate.quickSendCoordinator(), coordinator);
        QVERIFY(!shell.app.hasDeviceStore() && !shell.app.hasManagementStore() && !shell.app.hasUpdateController());

        MainScene scene(shell.app);
        QAction *checkForUpdates = scene.checkForUpdatesAction();
        QVERIFY(!checkForUpdates->isEnabled());
        shell.driver->handler(true);
        QVERIFY(checkForUpdates->isEnabled());
        checkForUpdates->trigger();
        QCOMPARE(shell.driver->checks, 1);
        shell.driver->handler(false);
        QVERIFY(!checkForUpdates->isEnabled());

        QVERIFY(scene.quickSendAction()->isEnabled());
        scene.quickSendAction()->trigger();
        QVERIFY(coordinator->panel() && coordinator->panel()->isVisible());
        QVERIFY(!shell.app.hasDeviceStore() && !shell.app.hasManagementStore());
    }

    // A request still waiting for the phone when the application ends is over before its store goes: the
    // sanitizers find its work resumed on a store that is gone, or left waiting for ever.
    void managementRequestsEndWithTheApplication()
    {
        auto shell = std::make_unique<Shell>(true);
        DeviceManagementStore &management = shell->app.managementStore();
        management.refreshOverview();
        QVERIFY(management.isLoadingOverview());
        QCOMPARE(shell->fixture.host->requestIds.size(), 1);
        shell.reset();
    }

    void quitAndTerminationSignalsCleanUp_data()
    {
        TestTable<int> rows;
        rows("quit command", 0);
        rows("SIGTERM", SIGTERM);
        rows("SIGINT", SIGINT);
    }
    void quitAndTerminationSignalsCleanUp()
    {
        const auto [signalNumber] = TestTable<int>::fetch();
        Shell shell;
        MainScene scene(shell.app);
        TerminationSignals terminationSignals;
        QVERIFY(terminationSignals.isInstalled());
        connect(&terminationSignals, &TerminationSignals::received, &shell.delegate, &TavrineApplicationDelegate::quit);
        shell.delegate.applicationDidFinishLaunching();
        QVERIFY(shell.delegate.quickSendCoordinator()->didStart());
        shell.adbServer->arguments({QStringLiteral("devices")}, QStringLiteral("/usr/bin/adb"));

        if (signalNumber == 0) {
            scene.quitAction()->trigger();
        } else {
            QSignalSpy received(&terminationSignals, &TerminationSignals::received);
            QCOMPARE(std::raise(signalNumber), 0);
            QVERIFY(received.wait(5000));
        }
        // Quick send stops before the adb server on its private port; the clean-up runs once.
        QCOMPARE(shell.events, QStringList{QStringLiteral("adb -P 45037 kill-server (quick send started: 0)")});
        shell.delegate.applicationWillTerminate();
        QCOMPARE(shell.events.size(), 1);
        QVERIFY(!shell.delegate.quickSendCoordinator()->hotKeyRegistrar().isRegistered());
    }
};

QTEST_MAIN(TestApplicationShell)
#include "test_application_shell.moc"

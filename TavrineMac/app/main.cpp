// TavrineMac: one running instance per session, which owns the stores, quick send and the main window.
#include "ApplicationAccessible.h"
#include "ApplicationDelegate.h"
#include "MainScene.h"
#include "QtTranslations.h"
#include "SingleInstance.h"
#include "TavrineCoreFunctions.h"
#include "TavrineMacApp.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFontDatabase>
#include <QImageReader>
#include <QThreadPool>
#include <QTimer>

#include <cstdio>

namespace {

std::optional<TavrineCoreFunctions> loadCoreLibrary()
{
    // The core library is installed beside the executable.
    QString loadError;
    auto coreFunctions = loadTavrineCoreFunctions(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("libtavrine_core.so")), &loadError);
    if (!coreFunctions) {
        std::fprintf(stderr, "TavrineMac: the core library is unavailable: %s\n", qPrintable(loadError));
    }
    return coreFunctions;
}

// Hands `request` to the running instance over `bus`; the exit status of this start.
int handOver(const LaunchRequest &request, const QDBusConnection &bus)
{
    if (const std::optional<QString> error = SingleInstance::forward(request, bus)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    return 0;
}

// A send to the instance that runs already needs no display: a start without the toolkit's connection to the screen
// hands it over. Nothing when no instance answers on the session bus; this start then goes on to become it.
std::optional<int> handOverWithoutDisplay(int &argc, char **argv, const LaunchRequest &request)
{
    const QString connectionName = QStringLiteral("tavrine-hand-over");
    std::optional<int> status;
    {
        const QCoreApplication application(argc, argv);
        {
            const QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
            if (bus.isConnected() &&
                bus.interface()->isServiceRegistered(QString::fromLatin1(SingleInstance::serviceName))) {
                status = handOver(request, bus);
            }
        }
        QDBusConnection::disconnectFromBus(connectionName);
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // A send that names no file fails before the toolkit looks for a display.
    QStringList arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.append(QString::fromLocal8Bit(argv[index]));
    }
    const auto early = LaunchRequest::parse(arguments);
    if (const QString *error = std::get_if<QString>(&early)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    if (const LaunchRequest &request = std::get<LaunchRequest>(early); request.kind == LaunchRequest::Kind::send) {
        if (const std::optional<int> status = handOverWithoutDisplay(argc, argv, request)) {
            return *status;
        }
    }

    ApplicationAccessible::install();
    QApplication application(argc, argv);
    QtTranslations::install();
    QApplication::setApplicationName(QStringLiteral("TavrineMac"));
    QApplication::setOrganizationName(QStringLiteral("Tavrine"));
    QApplication::setDesktopFileName(QString::fromLatin1(SingleInstance::serviceName));
    QApplication::setQuitOnLastWindowClosed(
        TavrineApplicationDelegate::applicationShouldTerminateAfterLastWindowClosed());

    const auto parsed = LaunchRequest::parse(QApplication::arguments().mid(1));
    if (const QString *error = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    const LaunchRequest request = std::get<LaunchRequest>(parsed);

    // Without a session bus this start simply runs on its own.
    SingleInstance instance(QDBusConnection::sessionBus());
    if (QDBusConnection::sessionBus().isConnected() && !instance.claim()) {
        return handOver(request, QDBusConnection::sessionBus());
    }

    // This is the running instance. The fonts and the image readers are set up on a worker while the window is
    // built, which then finds them ready (both are safe to use from any thread).
    QThreadPool::globalInstance()->start([] {
        QFontDatabase::families();
        QImageReader::supportedImageFormats();
    });

    TavrineApplicationDelegate delegate;
    TavrineMacApp app(delegate);
    MainScene scene(app);
    instance.setHandlers({[&scene] { scene.activate(); },
                          [&delegate](const QList<QUrl> &urls) { delegate.openFiles(urls); },
                          [&delegate](const QList<QUrl> &urls) -> std::optional<QString> {
                              return delegate.isServicesProvider() ? delegate.sendFiles(urls) : std::nullopt;
                          }});
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &delegate, &TavrineApplicationDelegate::quit);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &TavrineApplicationDelegate::applicationWillTerminate);

    // The core library, with its TLS library, is loaded when something first talks to a phone: the host of a
    // trusted phone once the keyring has been read, or a new pairing.
    installTavrineCoreLoader(loadCoreLibrary);
    scene.showWindow();
    scene.showTrayIcon();
    QTimer::singleShot(0, &delegate, [&delegate, request] {
        delegate.applicationDidFinishLaunching();
        if (request.kind == LaunchRequest::Kind::open) {
            delegate.openFiles(request.urls());
        } else if (request.kind == LaunchRequest::Kind::send) {
            delegate.sendFiles(request.urls());
        }
    });
    application.exec();
    return 0;
}

// The running instance: everything a start needs once it is to become the one instance of the session (the
// toolkit, the window, the stores), in a library of its own that the executable loads only then. A start that hands
// its request to a running instance never loads it.
#include "ApplicationMain.h"

#include "ApplicationAccessible.h"
#include "ApplicationDelegate.h"
#include "ApplicationIdentity.h"
#include "MainScene.h"
#include "SingleInstance.h"
#include "TavrineCoreFunctions.h"
#include "TavrineMacApp.h"

#include <QApplication>
#include <QDBusConnection>
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

} // namespace

extern "C" int tavrine_run_application(int *argumentCount, char **arguments)
{
    int &argc = *argumentCount;
    char **argv = arguments;
    ApplicationAccessible::install();
    QApplication application(argc, argv);
    ApplicationIdentity::apply(QString::fromLatin1(SingleInstance::serviceName));
    QApplication::setQuitOnLastWindowClosed(
        TavrineApplicationDelegate::applicationShouldTerminateAfterLastWindowClosed());

    // The toolkit has taken its own options: any other is unknown.
    const auto parsed = LaunchRequest::parse(QApplication::arguments().mid(1), LaunchRequest::ToolkitOptions::removed);
    if (const QString *error = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    const LaunchRequest request = std::get<LaunchRequest>(parsed);

    // Without a session bus this start simply runs on its own.
    SingleInstance instance(QDBusConnection::sessionBus());
    if (QDBusConnection::sessionBus().isConnected() && !instance.claim()) {
        return SingleInstance::handOver(request, QDBusConnection::sessionBus());
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

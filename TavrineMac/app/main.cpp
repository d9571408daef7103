// TavrineMac: one running instance per session, which owns the stores, quick send and the main window. This start
// hands its request to the running instance when there is one; only otherwise does it load the application's
// library, with the toolkit's windows and everything else an instance needs.
#include "ApplicationMain.h"
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <cstdio>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace {

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
                status = SingleInstance::handOver(request, bus);
            }
        }
        QDBusConnection::disconnectFromBus(connectionName);
    }
    return status;
}

// The folder this executable was started from, where its libraries are installed beside it.
std::string executableFolder()
{
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size()) {
        return {};
    }
    path.resize(size_t(length));
    return path.substr(0, path.rfind('/'));
}

int runApplication(int &argc, char **argv)
{
    const std::string library = executableFolder() + "/libtavrine_desktop.so";
    void *handle = ::dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
    const auto run =
        handle ? reinterpret_cast<TavrineRunApplication>(::dlsym(handle, "tavrine_run_application")) : nullptr;
    if (!run) {
        std::fprintf(stderr, "TavrineMac: the application library is unavailable: %s\n", ::dlerror());
        return 1;
    }
    // Never unloaded: the toolkit's objects live until the process ends.
    return run(&argc, argv);
}

} // namespace

int main(int argc, char *argv[])
{
    // A send that names no file fails, and help and the version are printed, before the toolkit looks for a display
    // or a running instance.
    QStringList arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.append(QString::fromLocal8Bit(argv[index]));
    }
    const auto early = LaunchRequest::parse(arguments);
    if (const QString *error = std::get_if<QString>(&early)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    const LaunchRequest &request = std::get<LaunchRequest>(early);
    if (request.kind == LaunchRequest::Kind::help || request.kind == LaunchRequest::Kind::version) {
        const QString text =
            request.kind == LaunchRequest::Kind::help ? LaunchRequest::usage() : LaunchRequest::versionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (request.kind == LaunchRequest::Kind::send) {
        if (const std::optional<int> status = handOverWithoutDisplay(argc, argv, request)) {
            return *status;
        }
    }

    return runApplication(argc, argv);
}

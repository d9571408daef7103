// How TavrineMac starts against an empty toolkit window (minimal_window, beside it in the same folder): the time
// from starting the process to its first window mapped on the X server; the processor time it used in its first
// 3 s, all threads together, and the threads it has then; and the resident memory (VmRSS) 3 s after the window,
// when the start-up work has settled. Each round starts each program afresh with a private home and XDG folders
// and an adb that fails every command, so that nothing outside is read or touched, then stops it with SIGTERM. The
// window is found on the X server itself: a viewable window whose _NET_WM_PID is the process's. For TavrineMac it
// also reports when the window first holds more than one colour, its first frame with content: a window may be put
// on the screen in its background colour before its content is drawn.
#include "Median.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <time.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int defaultRounds = 5;
constexpr auto pollInterval = 2ms;
constexpr auto windowTimeout = 30s;
constexpr auto restPeriod = 3s;
constexpr auto firstPeriod = 3s;
constexpr auto stopTimeout = 10s;
constexpr double windowGoalRatio = 1.5;
constexpr double goalRatio = 2.0;

void printUsage()
{
    std::fprintf(stderr,
                 "usage: startup_memory [rounds]\n"
                 "Starts TavrineMac and minimal_window from this program's folder, %d rounds by default, on the X\n"
                 "server named by DISPLAY and inside the session bus named by DBUS_SESSION_BUS_ADDRESS (TavrineMac\n"
                 "needs a session bus and a keyring), for example:\n"
                 "  dbus-run-session -- xvfb-run -a build/bench/bin/startup_memory\n",
                 defaultRounds);
}

struct Sample
{
    double startMilliseconds = 0;
    std::optional<double> drawnMilliseconds;
    qint64 residentKiB = 0;
    qint64 anonymousKiB = 0;
    qint64 fileKiB = 0;
    double firstCpuMilliseconds = 0;
    int firstThreads = 0;
    QStringList threadNames;
};

struct Samples
{
    QList<double> startMilliseconds;
    QList<double> drawnMilliseconds;
    QList<double> residentKiB;
    QList<double> anonymousKiB;
    QList<double> fileKiB;
    QList<double> firstCpuMilliseconds;
    QList<double> firstThreads;

    void append(const Sample &sample)
    {
        startMilliseconds.append(sample.startMilliseconds);
        if (sample.drawnMilliseconds) {
            drawnMilliseconds.append(*sample.drawnMilliseconds);
        }
        firstCpuMilliseconds.append(sample.firstCpuMilliseconds);
        firstThreads.append(double(sample.firstThreads));
        residentKiB.append(double(sample.residentKiB));
        anonymousKiB.append(double(sample.anonymousKiB));
        fileKiB.append(double(sample.fileKiB));
    }
};

using tavrine::benchmarks::median;

int ignoreXError(Display *, XErrorEvent *)
{
    // A window may be destroyed between listing it and reading it.
    return 0;
}

class WindowWatcher
{
public:
    explicit WindowWatcher(Display *display) : m_display(display), m_pidAtom(XInternAtom(display, "_NET_WM_PID", False))
    {}

    std::optional<Window> viewableWindow(qint64 pid) { return viewableWindow(DefaultRootWindow(m_display), pid); }

    // Whether `window` shows more than one colour.
    bool hasContent(Window window)
    {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, window, &attributes) || attributes.map_state != IsViewable) {
            return false;
        }
        XImage *image = XGetImage(m_display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                                  AllPlanes, ZPixmap);
        if (!image) {
            return false;
        }
        const unsigned long first = XGetPixel(image, 0, 0);
        bool differs = false;
        for (int y = 0; y < image->height && !differs; ++y) {
            for (int x = 0; x < image->width && !differs; ++x) {
                differs = XGetPixel(image, x, y) != first;
            }
        }
        XDestroyImage(image);
        return differs;
    }

private:
    std::optional<Window> viewableWindow(Window window, qint64 pid)
    {
        if (ownedBy(window, pid)) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(m_display, window, &attributes) && attributes.map_state == IsViewable) {
                return window;
            }
        }
        Window root = 0;
        Window parent = 0;
        Window *children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(m_display, window, &root, &parent, &children, &childCount)) {
            return false;
        }
        std::optional<Window> found;
        for (unsigned int index = 0; index < childCount && !found; ++index) {
            found = viewableWindow(children[index], pid);
        }
        if (children) {
            XFree(children);
        }
        return found;
    }

    bool ownedBy(Window window, qint64 pid)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(m_display, window, m_pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                               &remaining, &data) != Success) {
            return false;
        }
        const bool owned = data && type == XA_CARDINAL && format == 32 && count == 1 &&
                           qint64(*reinterpret_cast<unsigned long *>(data)) == pid;
        if (data) {
            XFree(data);
        }
        return owned;
    }

    Display *m_display;
    Atom m_pidAtom;
};

// The resident set of a running process from /proc/<pid>/status, in KiB.
std::optional<Sample> residentMemory(qint64 pid)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    Sample sample;
    const auto field = [](const QByteArray &line, const QByteArray &name) -> std::optional<qint64> {
        if (!line.startsWith(name)) {
            return std::nullopt;
        }
        bool ok = false;
        const qint64 value = line.mid(name.size()).trimmed().split(' ').value(0).toLongLong(&ok);
        return ok ? std::optional(value) : std::nullopt;
    };
    bool haveResident = false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (const auto value = field(line, "VmRSS:")) {
            sample.residentKiB = *value;
            haveResident = true;
        } else if (const auto anonymous = field(line, "RssAnon:")) {
            sample.anonymousKiB = *anonymous;
        } else if (const auto file = field(line, "RssFile:")) {
            sample.fileKiB = *file;
        }
    }
    return haveResident ? std::optional(sample) : std::nullopt;
}

// The processor time a running process has used so far, all its threads together (those that ended too).
std::optional<double> cpuMilliseconds(qint64 pid)
{
    clockid_t clock = 0;
    timespec used = {};
    if (clock_getcpuclockid(pid_t(pid), &clock) != 0 || clock_gettime(clock, &used) != 0) {
        return std::nullopt;
    }
    return double(used.tv_sec) * 1e3 + double(used.tv_nsec) / 1e6;
}

// The names of a running process's threads.
QStringList threadNames(qint64 pid)
{
    QStringList names;
    const QDir tasks(u"/proc/%1/task"_s.arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + u"/comm"_s));
        if (comm.open(QIODevice::ReadOnly)) {
            names.append(QString::fromLocal8Bit(comm.readAll().trimmed()));
        }
    }
    return names;
}

QString outputTail(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLocal8Bit(file.readAll().right(2000));
}

// One start of `program`: the time to its first viewable window, its processor time and threads at the end of
// its first 3 s, and its memory after the rest period.
std::optional<Sample> measureStart(WindowWatcher &watcher, const QString &program, bool watchContent)
{
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot create a private home folder\n");
        return std::nullopt;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QDir homeDir(home.path());
    environment.insert(u"HOME"_s, home.path());
    for (const auto &[variable, folder] :
         {std::pair{u"XDG_CONFIG_HOME"_s, u".config"_s}, std::pair{u"XDG_DATA_HOME"_s, u".local/share"_s},
          std::pair{u"XDG_STATE_HOME"_s, u".local/state"_s}, std::pair{u"XDG_CACHE_HOME"_s, u".cache"_s}}) {
        homeDir.mkpath(folder);
        environment.insert(variable, homeDir.filePath(folder));
    }
    // A missing TAVRINE_ADB_PATH would fall through to an adb installed on the machine, which starts a server of
    // its own: an adb that fails every command keeps the phone side out, as on a machine without adb.
    const QString adbPath = homeDir.filePath(u"adb"_s);
    QFile adb(adbPath);
    if (!adb.open(QIODevice::WriteOnly) || adb.write("#!/bin/sh\nexit 1\n") < 0 ||
        !adb.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        std::fprintf(stderr, "cannot write the stand-in adb %s\n", qPrintable(adbPath));
        return std::nullopt;
    }
    adb.close();
    environment.insert(u"TAVRINE_ADB_PATH"_s, adbPath);
    environment.insert(u"TAVRINE_CORE_PORT"_s, u"0"_s);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);

    const QString outputPath = homeDir.filePath(u"output.log"_s);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(outputPath);
    process.setStandardInputFile(QProcess::nullDevice());

    QElapsedTimer timer;
    timer.start();
    process.start(program, {});
    if (!process.waitForStarted()) {
        std::fprintf(stderr, "%s did not start: %s\n", qPrintable(program), qPrintable(process.errorString()));
        return std::nullopt;
    }
    const qint64 pid = process.processId();

    std::optional<double> shownMilliseconds;
    std::optional<double> drawnMilliseconds;
    std::optional<Window> window;
    while (!timer.hasExpired(std::chrono::milliseconds(windowTimeout).count())) {
        if (!window && (window = watcher.viewableWindow(pid))) {
            shownMilliseconds = double(timer.nsecsElapsed()) / 1e6;
        }
        if (window && (!watchContent || watcher.hasContent(*window))) {
            if (watchContent) {
                drawnMilliseconds = double(timer.nsecsElapsed()) / 1e6;
            }
            break;
        }
        // Waiting for the end doubles as the pause between looks.
        if (process.waitForFinished(int(pollInterval.count()))) {
            break;
        }
    }

    std::optional<Sample> sample;
    std::optional<double> firstCpu;
    QStringList firstThreadNames;
    const auto waitUntil = [&](double milliseconds) {
        const double left = milliseconds - double(timer.nsecsElapsed()) / 1e6;
        return !process.waitForFinished(std::max(0, int(left)));
    };
    const double firstPeriodMilliseconds = double(std::chrono::milliseconds(firstPeriod).count());
    if (!shownMilliseconds || (watchContent && !drawnMilliseconds)) {
        std::fprintf(stderr, "%s %s\n%s\n", qPrintable(QFileInfo(program).fileName()),
                     process.state() == QProcess::NotRunning ? "ended before it showed a window"
                     : shownMilliseconds                     ? "drew nothing in its window in time"
                                                             : "showed no window in time",
                     qPrintable(outputTail(outputPath)));
    } else if (!waitUntil(firstPeriodMilliseconds) || !(firstCpu = cpuMilliseconds(pid)) ||
               (firstThreadNames = threadNames(pid)).isEmpty() ||
               !waitUntil(*shownMilliseconds + double(std::chrono::milliseconds(restPeriod).count()))) {
        std::fprintf(stderr, "%s ended after it showed its window\n%s\n", qPrintable(QFileInfo(program).fileName()),
                     qPrintable(outputTail(outputPath)));
    } else if ((sample = residentMemory(pid))) {
        sample->startMilliseconds = *shownMilliseconds;
        sample->drawnMilliseconds = drawnMilliseconds;
        sample->firstCpuMilliseconds = *firstCpu;
        sample->firstThreads = int(firstThreadNames.size());
        sample->threadNames = firstThreadNames;
    }

    process.terminate();
    if (!process.waitForFinished(int(std::chrono::milliseconds(stopTimeout).count()))) {
        std::fprintf(stderr, "%s did not end on SIGTERM; killed\n", qPrintable(QFileInfo(program).fileName()));
        process.kill();
        process.waitForFinished();
    }
    return sample;
}

// `goal` is the greatest ratio the figure may have; 0 when it has none.
void reportFigure(const char *figure, double application, double minimal, const char *unit, double goal)
{
    const double ratio = application / minimal;
    std::printf("%-30s TavrineMac %8.1f %s   minimal %8.1f %s   ratio %5.2f", figure, application, unit, minimal, unit,
                ratio);
    if (goal > 0) {
        std::printf("  (goal <= %g: %s)", goal, ratio <= goal ? "met" : "NOT met");
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    bool roundsOk = true;
    const int rounds = arguments.isEmpty() ? defaultRounds : arguments.first().toInt(&roundsOk);
    if (arguments.size() > 1 || !roundsOk || rounds < 1 || rounds > 100) {
        printUsage();
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "DISPLAY and DBUS_SESSION_BUS_ADDRESS must be set.\n");
        printUsage();
        return 2;
    }
    const QDir binDir(QCoreApplication::applicationDirPath());
    const QString applicationProgram = binDir.filePath(u"TavrineMac"_s);
    const QString minimalProgram = binDir.filePath(u"minimal_window"_s);
    for (const QString &program : {applicationProgram, minimalProgram}) {
        if (!QFileInfo(program).isExecutable()) {
            std::fprintf(stderr, "%s is missing; build it first.\n", qPrintable(program));
            return 2;
        }
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the X display %s\n", qgetenv("DISPLAY").constData());
        return 2;
    }
    XSetErrorHandler(ignoreXError);
    WindowWatcher watcher(display);

    Samples applicationSamples;
    Samples minimalSamples;
    QStringList lastThreadNames;
    // The two programs take turns, so that whatever else the machine does falls on both alike.
    for (int round = 0; round < rounds; ++round) {
        const auto minimal = measureStart(watcher, minimalProgram, false);
        const auto started = measureStart(watcher, applicationProgram, true);
        if (!minimal || !started) {
            XCloseDisplay(display);
            return 1;
        }
        minimalSamples.append(*minimal);
        applicationSamples.append(*started);
        lastThreadNames = started->threadNames;
        std::printf("round %d: TavrineMac %7.1f ms (drawn %7.1f ms) %7lld KiB %6.1f ms CPU %2d threads   "
                    "minimal %7.1f ms %7lld KiB %6.1f ms CPU %2d threads\n",
                    round + 1, started->startMilliseconds, started->drawnMilliseconds.value_or(0), started->residentKiB,
                    started->firstCpuMilliseconds, started->firstThreads, minimal->startMilliseconds,
                    minimal->residentKiB, minimal->firstCpuMilliseconds, minimal->firstThreads);
        std::fflush(stdout);
    }
    XCloseDisplay(display);

    std::printf("\nmedians of %d rounds\n", rounds);
    reportFigure("start to first window", median(applicationSamples.startMilliseconds),
                 median(minimalSamples.startMilliseconds), "ms ", windowGoalRatio);
    std::printf("%-30s TavrineMac %8.1f ms\n", "start to first drawn content",
                median(applicationSamples.drawnMilliseconds));
    reportFigure("CPU in the first 3 s", median(applicationSamples.firstCpuMilliseconds),
                 median(minimalSamples.firstCpuMilliseconds), "ms ", goalRatio);
    reportFigure("threads 3 s after the start", median(applicationSamples.firstThreads),
                 median(minimalSamples.firstThreads), "   ", 0);
    reportFigure("VmRSS 3 s after the window", median(applicationSamples.residentKiB) / 1024.0,
                 median(minimalSamples.residentKiB) / 1024.0, "MiB", goalRatio);
    reportFigure("  of which anonymous", median(applicationSamples.anonymousKiB) / 1024.0,
                 median(minimalSamples.anonymousKiB) / 1024.0, "MiB", 0);
    reportFigure("  of which file-backed", median(applicationSamples.fileKiB) / 1024.0,
                 median(minimalSamples.fileKiB) / 1024.0, "MiB", 0);
    std::printf("TavrineMac's threads 3 s after the start, last round: %s\n",
                qPrintable(lastThreadNames.join(u", "_s)));
    return 0;
}

// Many small files sent as a user sends them: `TavrineMac --send f1 … f200` hands 200 files of 4 KiB to the running
// application, which is paired with tavrine-phone, and the time runs from the hand-over until the last of them
// stands complete in the phone's storage folder. The anchor, in the same round: tar of the same files streamed over
// a TLS 1.3 connection on loopback (both ends in this program, with the link's key and pinning) into `tar -xf -`,
// timed until the files stand extracted. Three rounds, medians, and the ratio of the two speeds.
//
// The program pairs as a person does: it clicks 显示配对码 on the first-run card, reads the QR code off the screen
// and gives its link to tavrine-phone. So it needs an X server and a private session bus with a keyring of its own,
// and it gives the application a home and XDG folders of its own, so that nothing of the user's is read or touched.
#include "Identity.h"
#include "LoopbackSockets.h"
#include "Median.h"
#include "ScreenQRCode.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <linux/magic.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace Qt::StringLiterals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int defaultFileCount = 200;
constexpr int defaultRounds = 3;
constexpr qsizetype fileBytes = 4096;
constexpr int maximumFileCount = 4096;
// In memory tar does little more than copy, and the ratio's goal is low; on a disk both pay for the file system, and
// the application also for making what it received durable.
constexpr double memoryGoalRatio = 0.10;
constexpr double diskGoalRatio = 0.30;
// Each step (a window showing, the QR code appearing, a pairing, a file arriving) may take this long at most.
constexpr int stepTimeoutMilliseconds = 30'000;
// Where the first-run card's 显示配对码 button lies in the main window at its first size, with no message shown.
constexpr int pairingButtonX = 423;
constexpr int pairingButtonY = 424;
constexpr size_t pipeChunkBytes = 64 * 1024;

void printUsage()
{
    std::fprintf(stderr,
                 "usage: small_files_through_app [files] [rounds]\n"
                 "Sends [files] (%d by default) of 4 KiB through TavrineMac to tavrine-phone, both from this\n"
                 "program's folder, against tar over TLS 1.3 on loopback, %d rounds by default. It needs an X server\n"
                 "and a private session bus with a keyring of its own, such as the tests' session gives:\n"
                 "  dbus-run-session -- scripts/run-in-test-session.sh build/bench/bin/small_files_through_app\n",
                 defaultFileCount, defaultRounds);
}

using tavrine::benchmarks::median;

QString binary(const QString &name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

// Runs a tool to its end; its standard output, or nothing when it failed or hung.
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(stepTimeoutMilliseconds)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(fileBytes + 1) : QByteArray();
}

// The files of one round: distinct random contents, names that no other round uses.
QStringList writeRoundFiles(const QString &folder, int round, int count)
{
    QStringList paths;
    QDir().mkpath(folder);
    for (int index = 0; index < count; ++index) {
        QByteArray contents(fileBytes, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(contents.data()), fileBytes / 4);
        const QString path = QDir(folder).filePath(u"r%1-f%2.bin"_s.arg(round).arg(index, 4, 10, QLatin1Char('0')));
        if (!writeFile(path, contents)) {
            throw std::runtime_error("cannot write " + path.toStdString());
        }
        paths.append(path);
    }
    return paths;
}

// True when every file of `sources` stands in `folder` under its own name with the same bytes.
bool sameFilesIn(const QStringList &sources, const QString &folder)
{
    return std::all_of(sources.begin(), sources.end(), [&](const QString &source) {
        const QByteArray copy = contentsOf(QDir(folder).filePath(QFileInfo(source).fileName()));
        return copy.size() == fileBytes && copy == contentsOf(source);
    });
}

// MARK: - The anchor: tar over TLS 1.3

using tavrine::benchmarks::Descriptor;
using tavrine::benchmarks::loopbackConnection;

[[noreturn]] void throwSystemError(const std::string &what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A child running `tar` with `arguments`, one end of a pipe as its standard input or output; `pipeEnd` is the
// other end, kept by this program.
struct TarChild
{
    pid_t pid = -1;
    Descriptor pipeEnd;

    TarChild(const std::vector<std::string> &arguments, bool writesToPipe)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throwSystemError("cannot make a pipe");
        }
        Descriptor readEnd(ends[0]);
        Descriptor writeEnd(ends[1]);
        const int childEnd = writesToPipe ? writeEnd.get() : readEnd.get();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childEnd, writesToPipe ? STDOUT_FILENO : STDIN_FILENO);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>("tar"));
        for (const std::string &argument : arguments) {
            argv.push_back(const_cast<char *>(argument.c_str()));
        }
        argv.push_back(nullptr);
        const int spawned = posix_spawnp(&pid, "tar", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            errno = spawned;
            throwSystemError("cannot start tar");
        }
        pipeEnd = writesToPipe ? std::move(readEnd) : std::move(writeEnd);
    }
    TarChild(const TarChild &) = delete;
    TarChild &operator=(const TarChild &) = delete;

    // Waits for the child; throws unless it ended with status 0.
    void finish()
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                throwSystemError("cannot wait for tar");
            }
        }
        pid = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            throw std::runtime_error("tar failed");
        }
    }

    ~TarChild()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

tavrine::core::SslPointer startTls(SSL_CTX *context, int socket, bool asServer)
{
    tavrine::core::SslPointer ssl(SSL_new(context));
    if (!ssl || SSL_set_fd(ssl.get(), socket) != 1) {
        throw std::runtime_error("cannot create a TLS session");
    }
    if ((asServer ? SSL_accept(ssl.get()) : SSL_connect(ssl.get())) != 1) {
        throw std::runtime_error("the TLS handshake failed");
    }
    return ssl;
}

// Streams `tar -cf -` of `names` in `source` through TLS into `tar -xf -` in `destination`; the seconds from
// starting the first tar (after the handshake) until the second one has extracted everything and ended.
double timeTarOverTls(const QString &source, const QStringList &names, const QString &destination)
{
    std::vector<std::string> createArguments{"-cf", "-", "-C", source.toStdString(), "--"};
    for (const QString &name : names) {
        createArguments.push_back(name.toStdString());
    }
    const std::vector<std::string> extractArguments{"-xf", "-", "-C", destination.toStdString()};
    if (!QDir().mkpath(destination)) {
        throw std::runtime_error("cannot make " + destination.toStdString());
    }

    const auto sockets = loopbackConnection();
    const tavrine::core::HostIdentity identity = tavrine::core::HostIdentity::generate();
    const tavrine::core::ContextPointer serverContext = identity.makeServerContext();
    const tavrine::core::ContextPointer clientContext =
        tavrine::core::makePinnedClientContext(identity.publicKeyText());

    Clock::time_point started;
    Clock::time_point extracted;
    // The first failure tells what happened; the failing side shuts its socket, so that the other one ends too.
    std::once_flag failed;
    std::exception_ptr failure;
    const auto fail = [&](int socket) {
        std::call_once(failed, [&] { failure = std::current_exception(); });
        ::shutdown(socket, SHUT_RDWR);
    };
    std::thread receiver([&] {
        try {
            const tavrine::core::SslPointer ssl = startTls(serverContext.get(), sockets.second.get(), true);
            TarChild extract(extractArguments, false);
            std::string chunk(pipeChunkBytes, '\0');
            for (;;) {
                size_t count = 0;
                if (SSL_read_ex(ssl.get(), chunk.data(), chunk.size(), &count) != 1) {
                    if (SSL_get_error(ssl.get(), 0) == SSL_ERROR_ZERO_RETURN) {
                        break;
                    }
                    throw std::runtime_error("the tar stream broke off");
                }
                for (size_t written = 0; written < count;) {
                    const ssize_t step = ::write(extract.pipeEnd.get(), chunk.data() + written, count - written);
                    if (step <= 0) {
                        throwSystemError("cannot feed tar -x");
                    }
                    written += size_t(step);
                }
            }
            extract.pipeEnd.reset();
            extract.finish();
            extracted = Clock::now();
        } catch (...) {
            fail(sockets.second.get());
        }
    });
    std::thread sender([&] {
        try {
            const tavrine::core::SslPointer ssl = startTls(clientContext.get(), sockets.first.get(), false);
            started = Clock::now();
            TarChild create(createArguments, true);
            std::string chunk(pipeChunkBytes, '\0');
            for (;;) {
                const ssize_t count = ::read(create.pipeEnd.get(), chunk.data(), chunk.size());
                if (count < 0 && errno == EINTR) {
                    continue;
                }
                if (count < 0) {
                    throwSystemError("cannot read tar -c");
                }
                if (count == 0) {
                    break;
                }
                size_t written = 0;
                if (SSL_write_ex(ssl.get(), chunk.data(), size_t(count), &written) != 1) {
                    throw std::runtime_error("the tar stream's receiver went away");
                }
            }
            create.finish();
            SSL_shutdown(ssl.get());
        } catch (...) {
            fail(sockets.first.get());
        }
    });
    sender.join();
    receiver.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return std::chrono::duration<double>(extracted - started).count();
}

// MARK: - The application and the phone

bool isEvent(const QJsonObject &line, QStringView event)
{
    return line.value(u"event"_s).toString() == event;
}

// tavrine-phone, whose standard output is one JSON object a line.
class Phone
{
public:
    ~Phone()
    {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        m_process.write("quit\n");
        if (!m_process.waitForFinished(10'000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    bool pair(const QString &url, const QString &storage, const QString &errorFile)
    {
        m_process.setStandardErrorFile(errorFile);
        m_process.start(binary(u"tavrine-phone"_s), {u"pair"_s, u"--url"_s, url, u"--storage"_s, storage, u"--name"_s,
                                                     u"基准手机"_s, u"--confirm"_s});
        if (!m_process.waitForStarted()) {
            return false;
        }
        const QDeadlineTimer deadline(stepTimeoutMilliseconds);
        while (const std::optional<QJsonObject> line = nextLine(deadline)) {
            if (isEvent(*line, u"paired")) {
                return true;
            }
        }
        return false;
    }

    // The next line, or nothing when none came before `deadline` or the phone ended.
    std::optional<QJsonObject> nextLine(const QDeadlineTimer &deadline)
    {
        while (!m_process.canReadLine()) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired() ||
                !m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) {
                if (!m_process.canReadLine()) {
                    return std::nullopt;
                }
            }
        }
        return QJsonDocument::fromJson(m_process.readLine()).object();
    }

private:
    QProcess m_process;
};

// The running application with its own home and XDG folders, on the X server and session bus of this program.
class Application
{
public:
    explicit Application(const QString &folder)
    {
        m_environment = QProcessEnvironment::systemEnvironment();
        const QDir root(folder);
        for (const QString &name : {u"home"_s, u"config"_s, u"data"_s, u"cache"_s, u"state"_s}) {
            root.mkpath(name);
        }
        m_environment.insert(u"HOME"_s, root.filePath(u"home"_s));
        m_environment.insert(u"XDG_CONFIG_HOME"_s, root.filePath(u"config"_s));
        m_environment.insert(u"XDG_DATA_HOME"_s, root.filePath(u"data"_s));
        m_environment.insert(u"XDG_CACHE_HOME"_s, root.filePath(u"cache"_s));
        m_environment.insert(u"XDG_STATE_HOME"_s, root.filePath(u"state"_s));
        m_environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        // Any free port: another run or a test on this machine may hold the usual one.
        m_environment.insert(u"TAVRINE_CORE_PORT"_s, u"0"_s);
        // An adb with no phone attached keeps an adb installed on the machine, and its server, out of the run. It
        // succeeds, as one that failed would put a message on the first-run card, which moves its buttons.
        const QString adb = root.filePath(u"adb"_s);
        QFile script(adb);
        if (!script.open(QIODevice::WriteOnly) ||
            script.write("#!/bin/sh\ncase \" $* \" in *\" devices \"*) printf 'List of devices attached\\n\\n' ;; "
                         "esac\nexit 0\n") < 0 ||
            !script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
            throw std::runtime_error("cannot write the stand-in adb");
        }
        m_environment.insert(u"TAVRINE_ADB_PATH"_s, adb);
        m_log = root.filePath(u"TavrineMac.log"_s);
    }

    ~Application()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGTERM);
            if (!m_process.waitForFinished(stepTimeoutMilliseconds)) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
    }

    const QProcessEnvironment &environment() const { return m_environment; }

    bool start()
    {
        m_process.setProcessEnvironment(m_environment);
        m_process.setStandardOutputFile(m_log);
        m_process.setStandardErrorFile(m_log, QIODevice::Append);
        m_process.start(binary(u"TavrineMac"_s));
        return m_process.waitForStarted();
    }

    // Shows the pairing code on the first-run card and reads its link off the screen; empty when it did not show.
    QString pairingUrl(const QString &screenshot)
    {
        const auto found =
            runTool(u"xdotool"_s, {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--class"_s, u"TavrineMac"_s});
        if (!found) {
            return {};
        }
        const QString window = QString::fromLatin1(found->split('\n').constFirst());
        if (!runTool(u"xdotool"_s, {u"mousemove"_s, u"--window"_s, window, QString::number(pairingButtonX),
                                    QString::number(pairingButtonY), u"click"_s, u"1"_s})) {
            return {};
        }
        const QDeadlineTimer deadline(stepTimeoutMilliseconds);
        while (!deadline.hasExpired()) {
            if (runTool(u"import"_s, {u"-window"_s, u"root"_s, screenshot})) {
                if (const auto read = runTool(u"zbarimg"_s, screen_qr_code::zbarimgArguments(screenshot))) {
                    if (const std::optional<QString> link = screen_qr_code::onlyCode(*read)) {
                        return *link;
                    }
                    throw std::runtime_error("zbarimg read more than one code: " + read->toStdString());
                }
            }
        }
        return {};
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }

    // The seconds a second start without files takes to hand over to this one (which brings its window forward)
    // and end: what a hand-over of files costs before the first file can go.
    double timeSecondStart() const
    {
        QProcess second;
        second.setProcessEnvironment(m_environment);
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        const auto started = Clock::now();
        second.start(binary(u"TavrineMac"_s));
        if (!second.waitForFinished(stepTimeoutMilliseconds) || second.exitStatus() != QProcess::NormalExit ||
            second.exitCode() != 0) {
            throw std::runtime_error("a second start of TavrineMac failed");
        }
        return std::chrono::duration<double>(Clock::now() - started).count();
    }

private:
    QProcessEnvironment m_environment;
    QString m_log;
    QProcess m_process;
};

struct AppRound
{
    // From the hand-over until the phone stored the last file.
    double seconds = 0;
    // Where the time went, by the files' modification times (the phone's link wrote each file at the end of its
    // transfer, and storing it keeps that time): until the first file was written, the mean interval between two
    // files written, and from the last file written until the phone reported it stored (its event pump's pace).
    double firstWrittenSeconds = 0;
    double meanIntervalSeconds = 0;
    double lastStoredLagSeconds = 0;
};

std::chrono::system_clock::time_point modificationTime(const QString &path)
{
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        throwSystemError("cannot read the time of " + path.toStdString());
    }
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
}

// Hands `paths` to the running application as a second start does and waits until the phone stored them all.
AppRound sendThroughApplication(const Application &application, Phone &phone, const QStringList &paths,
                                const QString &storage, int stepMilliseconds = stepTimeoutMilliseconds)
{
    QHash<QString, bool> awaited;
    for (const QString &path : paths) {
        awaited.insert(QFileInfo(path).fileName(), false);
    }
    QProcess handOver;
    handOver.setProcessEnvironment(application.environment());
    handOver.setProcessChannelMode(QProcess::ForwardedChannels);

    qsizetype stored = 0;
    const auto wallStarted = std::chrono::system_clock::now();
    const auto started = Clock::now();
    handOver.start(binary(u"TavrineMac"_s), QStringList{u"--send"_s} + paths);
    // The phone tells of other things too (its progress, its state): only a file stored gives the next one more time.
    QDeadlineTimer deadline(stepMilliseconds);
    while (stored < paths.size()) {
        const std::optional<QJsonObject> line = phone.nextLine(deadline);
        if (!line) {
            throw std::runtime_error("the phone stored " + std::to_string(stored) + " of " +
                                     std::to_string(paths.size()) + " files before it stopped telling of them");
        }
        if (!isEvent(*line, u"completed") || line->value(u"direction"_s).toString() != u"receiving") {
            continue;
        }
        const QString name = line->value(u"storedName"_s).toString();
        const auto found = awaited.find(name);
        if (found == awaited.end() || found.value()) {
            throw std::runtime_error("the phone stored an unexpected file " + name.toStdString());
        }
        found.value() = true;
        ++stored;
        deadline.setRemainingTime(stepMilliseconds);
    }
    AppRound round;
    round.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (!handOver.waitForFinished(stepTimeoutMilliseconds) || handOver.exitStatus() != QProcess::NormalExit ||
        handOver.exitCode() != 0) {
        throw std::runtime_error("TavrineMac --send failed");
    }
    if (!sameFilesIn(paths, storage)) {
        throw std::runtime_error("the phone's copies differ from the files sent");
    }
    std::vector<double> written;
    for (const QString &path : paths) {
        const auto time = modificationTime(QDir(storage).filePath(QFileInfo(path).fileName()));
        written.push_back(std::chrono::duration<double>(time - wallStarted).count());
    }
    const auto [first, last] = std::minmax_element(written.begin(), written.end());
    round.firstWrittenSeconds = *first;
    round.meanIntervalSeconds = (*last - *first) / double(written.size() - 1);
    round.lastStoredLagSeconds = round.seconds - *last;
    return round;
}

// True once the application keeps a trusted phone in the session's keyring, which it does when it takes a pairing in;
// until then it has no phone to send to and drops a hand-over.
bool keyringHoldsTrustedPhone()
{
    const QMap<QString, QString> attributes{{u"service"_s, u"com.drovan.tavrine.transfer"_s},
                                            {u"account"_s, u"trusted-device-registry-v1"_s}};
    QDBusMessage search = QDBusMessage::createMethodCall(u"org.freedesktop.secrets"_s, u"/org/freedesktop/secrets"_s,
                                                         u"org.freedesktop.Secret.Service"_s, u"SearchItems"_s);
    search << QVariant::fromValue(attributes);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(search);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        return false;
    }
    return !qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0)).isEmpty() ||
           !qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1)).isEmpty();
}

bool waitForTrustedPhone()
{
    const QDeadlineTimer deadline(stepTimeoutMilliseconds);
    while (!keyringHoldsTrustedPhone()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

// A private session bus is one that dbus-run-session made; the user's own lives in their runtime folder, and its
// keyring holds their trusted phones, which the pairing of this program would change.
bool inPrivateSession()
{
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    return !qEnvironmentVariableIsEmpty("DISPLAY") && !bus.isEmpty() && !bus.contains("/run/user/");
}

// True when `folder` lies in memory (tmpfs), not on a disk.
bool inMemory(const QString &folder)
{
    struct statfs status
    {
    };
    return ::statfs(QFile::encodeName(folder).constData(), &status) == 0 && status.f_type == TMPFS_MAGIC;
}

// Measures in `root`; false when the run failed.
bool measure(const QDir &root, int fileCount, int rounds)
{
    const QString storage = root.filePath(u"phone"_s);
    root.mkpath(u"phone"_s);

    Application application(root.filePath(u"app"_s));
    if (!application.start()) {
        std::fprintf(stderr, "TavrineMac did not start\n");
        return false;
    }
    const QString url = application.pairingUrl(root.filePath(u"screen.png"_s));
    if (!url.startsWith(u"https://") || !url.contains(u"#payload=")) {
        std::fprintf(stderr, "no pairing code on the screen (a phone already trusted in this keyring?)\n");
        return false;
    }
    Phone phone;
    if (!phone.pair(url, storage, root.filePath(u"phone.log"_s))) {
        std::fprintf(stderr, "tavrine-phone did not pair\n");
        return false;
    }
    if (!waitForTrustedPhone()) {
        std::fprintf(stderr, "TavrineMac did not keep the paired phone\n");
        return false;
    }
    // One file first, so that the application has taken the pairing in and the rounds start alike. A build that
    // refuses a hand-over made just after the pairing (while the phone's trust is still being kept) is given another
    // file, and the refusal is told.
    for (int attempt = 1;; ++attempt) {
        try {
            const QString folder = root.filePath(u"files/r0-%1"_s.arg(attempt));
            sendThroughApplication(application, phone, writeRoundFiles(folder, -attempt, 1), storage, 5'000);
            break;
        } catch (const std::runtime_error &) {
            if (attempt == 3) {
                throw;
            }
            std::fprintf(stderr, "the application did not take a file handed over just after the pairing\n");
        }
    }

    std::printf("%d files of %lld bytes, %d rounds; files, the application's folders and the phone's storage in %s\n",
                fileCount, qlonglong(fileBytes), rounds, qPrintable(QDir::tempPath()));
    QList<double> appRates;
    QList<double> tarRates;
    QList<double> ratios;
    QList<double> firstWritten;
    QList<double> secondStarts;
    QList<double> intervals;
    QList<double> storedLags;
    for (int round = 1; round <= rounds; ++round) {
        const QString source = root.filePath(u"files/r%1"_s.arg(round));
        const QStringList paths = writeRoundFiles(source, round, fileCount);
        QStringList names;
        for (const QString &path : paths) {
            names.append(QFileInfo(path).fileName());
        }
        const QString extracted = root.filePath(u"tar/r%1"_s.arg(round));
        const double tarSeconds = timeTarOverTls(source, names, extracted);
        if (!sameFilesIn(paths, extracted)) {
            throw std::runtime_error("tar's copies differ from the files sent");
        }
        const double secondStartSeconds = application.timeSecondStart();
        const AppRound app = sendThroughApplication(application, phone, paths, storage);
        const double appRate = fileCount / app.seconds;
        const double tarRate = fileCount / tarSeconds;
        std::printf("round %d: application %.0f files/s, tar over TLS %.0f files/s, ratio %.3f\n"
                    "  application %.0f ms: first file written after %.0f ms (a second start alone takes %.0f ms), "
                    "then one every %.2f ms, the last stored %.0f ms after it was written; tar %.1f ms\n",
                    round, appRate, tarRate, appRate / tarRate, app.seconds * 1e3, app.firstWrittenSeconds * 1e3,
                    secondStartSeconds * 1e3, app.meanIntervalSeconds * 1e3, app.lastStoredLagSeconds * 1e3,
                    tarSeconds * 1e3);
        std::fflush(stdout);
        appRates.append(appRate);
        tarRates.append(tarRate);
        ratios.append(appRate / tarRate);
        firstWritten.append(app.firstWrittenSeconds * 1e3);
        secondStarts.append(secondStartSeconds * 1e3);
        intervals.append(app.meanIntervalSeconds * 1e3);
        storedLags.append(app.lastStoredLagSeconds * 1e3);
    }
    const double ratio = median(ratios);
    std::printf("\nmedians of %d rounds, %d files of 4 KiB:\n", rounds, fileCount);
    std::printf(
        "  TavrineMac --send to tavrine-phone: %.0f files/s\n"
        "    first file written after %.0f ms (a second start alone: %.0f ms), then one every %.2f ms, the last "
        "stored %.0f ms after it was written\n",
        median(appRates), median(firstWritten), median(secondStarts), median(intervals), median(storedLags));
    std::printf("  tar over TLS 1.3 on loopback:       %.0f files/s\n", median(tarRates));
    const double goalRatio = inMemory(QDir::tempPath()) ? memoryGoalRatio : diskGoalRatio;
    std::printf("  ratio: %.3f (goal >= %.2f) %s\n", ratio, goalRatio, ratio >= goalRatio ? "ok" : "below goal");
    if (!application.isRunning()) {
        std::fprintf(stderr, "TavrineMac ended during the run\n");
        return false;
    }
    return true;
}

int run(int fileCount, int rounds)
{
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    bool measured = false;
    try {
        measured = measure(QDir(folder.path()), fileCount, rounds);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    if (!measured) {
        folder.setAutoRemove(false);
        std::fprintf(stderr, "the run's files and logs are kept in %s\n", qPrintable(folder.path()));
        return 1;
    }
    // A figure below its goal is a result, not an error.
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    bool countValid = true;
    bool roundsValid = true;
    const int fileCount = arguments.size() > 0 ? arguments.at(0).toInt(&countValid) : defaultFileCount;
    const int rounds = arguments.size() > 1 ? arguments.at(1).toInt(&roundsValid) : defaultRounds;
    if (arguments.size() > 2 || !countValid || !roundsValid || fileCount < 2 || fileCount > maximumFileCount ||
        rounds < 1) {
        printUsage();
        return 2;
    }
    if (!inPrivateSession()) {
        std::fprintf(stderr, "no X server or no private session bus\n");
        printUsage();
        return 2;
    }
    return run(fileCount, rounds);
}

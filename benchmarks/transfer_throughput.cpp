// Measures the core's link between a host and a phone over loopback, against two ceilings measured in the
// same run: this machine's single-core SHA-256 speed for 16 KiB blocks (openssl speed) and a plain TLS 1.3
// pipe that does a transfer's work with a TLS thread and a file thread each side (TlsPipe.h). Each round
// measures:
//   - the SHA-256 speed, and the pipe sending <MiB> one way;
//   - <MiB> host -> phone and <MiB> phone -> host, each until the receiver reports it completed;
//   - 2000 files of 4 KiB host -> phone, each sent once the phone reported the previous one completed;
//   - management round trips (the host asks, the phone answers) every 5 ms while <MiB> flow host -> phone;
//   - under load, with <busy CPUs> kept busy by stress-ng (one per core unless told): the pipe again, and
//     <MiB> each way, so that the transfer meets its ceiling under the same load. Without stress-ng the
//     benchmark says so and leaves this part out; 0 busy CPUs leaves it out too.
// A summary then gives the best and the median of each figure over the rounds and holds the median
// against the goals: each direction at 0.7 of SHA-256 and 0.95 of the pipe or better, under load 0.9 of
// the loaded pipe or better, 3000 small files/s or more, a management p99 of 20 ms or less. A figure below
// its goal is a result, not an error: the exit code is non-zero only when something failed (a transfer that
// failed or timed out).
//
//   ./scripts/configure.sh build/bench -DCMAKE_BUILD_TYPE=Release -DTAVRINE_BUILD_BENCHMARKS=ON
//   cmake --build build/bench --target transfer_throughput
//   build/bench/bin/transfer_throughput [MiB, 1024] [rounds, 3] [busy CPUs, one per core]
//
// The files are kept in /dev/shm when it exists, so that the disk does not set the pace.
#include "Client.h"
#include "Host.h"
#include "TlsPipe.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavrine::core;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr int smallFileCount = 2000;
constexpr uint64_t smallFileBytes = 4096;
constexpr auto managementInterval = 5ms;
constexpr auto answerPollInterval = 200us;
constexpr auto eventPollInterval = 20us;
// A large transfer takes a second or more: looking for its end every millisecond costs it at most a thousandth,
// and spares the run a thread that wakes 50000 times a second beside it, which under load would take its
// share of the processors from the transfer's threads.
constexpr auto largeTransferPollInterval = 1ms;
constexpr auto pairingLimit = 10s;
constexpr auto largeTransferLimit = 600s;
constexpr auto smallTransferLimit = 30s;
constexpr auto answerLimit = 30s;
// How long the load's workers get to start before the first loaded figure, and how long they may run at most
// (should the benchmark die without stopping them).
constexpr auto loadSettling = 500ms;
constexpr auto loadLimit = 3600s;

// A step that failed or timed out: the run stops with a non-zero exit code.
class Failure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct Devices
{
    std::shared_ptr<Host> host;
    std::shared_ptr<Client> phone;
};

struct Files
{
    fs::path source;      // the large file, both ways
    fs::path smallSource; // every small file
    fs::path pipeCopy;    // what the TLS pipe receives
};

struct RoundFigures
{
    double sha256 = 0;  // MB/s
    double pipe = 0;    // MB/s
    double toPhone = 0; // MB/s
    double toHost = 0;  // MB/s
    double toPhoneOfSha256 = 0;
    double toPhoneOfPipe = 0;
    double toHostOfSha256 = 0;
    double toHostOfPipe = 0;
    double smallFiles = 0;    // files/s
    double managementP50 = 0; // ms
    double managementP99 = 0;
    double managementMax = 0;
    // Under load; NAN when the round measured none.
    double loadedPipe = NAN; // MB/s
    double loadedToPhone = NAN;
    double loadedToHost = NAN;
    double loadedToPhoneOfPipe = NAN;
    double loadedToHostOfPipe = NAN;
};

// Keeps every core busy with stress-ng for as long as it lives.
class Load
{
public:
    // Where stress-ng is on the PATH; empty when it is not installed.
    static std::string executable()
    {
        const char *path = std::getenv("PATH");
        const std::string directories = path ? path : "/usr/bin:/bin";
        for (size_t start = 0; start <= directories.size();) {
            const size_t end = std::min(directories.find(':', start), directories.size());
            const std::string candidate = directories.substr(start, end - start) + "/stress-ng";
            if (end > start && ::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
            start = end + 1;
        }
        return {};
    }

    Load(const std::string &executable, unsigned processes)
    {
        const std::string count = std::to_string(processes);
        const std::string timeout = std::to_string(loadLimit.count()) + "s";
        // Prepared before forking: the child of a process with threads may only call what is safe in a signal.
        const char *arguments[] = {"stress-ng",     "--cpu",   count.c_str(), "--timeout",
                                   timeout.c_str(), "--quiet", nullptr};
        m_process = ::fork();
        if (m_process == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::setpgid(0, 0);
            // Its workers complain when they are stopped before their time, which is every time here.
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, STDOUT_FILENO);
            ::dup2(quiet, STDERR_FILENO);
            ::execv(executable.c_str(), const_cast<char *const *>(arguments));
            ::_exit(127);
        }
        if (m_process < 0) {
            throw Failure("stress-ng could not be started");
        }
        ::setpgid(m_process, m_process);
        std::this_thread::sleep_for(loadSettling);
        int status = 0;
        if (::waitpid(m_process, &status, WNOHANG) == m_process) {
            m_process = -1;
            throw Failure("stress-ng ended at once");
        }
    }
    ~Load()
    {
        if (m_process > 0) {
            ::kill(-m_process, SIGTERM);
            ::waitpid(m_process, nullptr, 0);
        }
    }
    Load(const Load &) = delete;
    Load &operator=(const Load &) = delete;

private:
    pid_t m_process = -1;
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeTestFile(const fs::path &path, uint64_t bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        throw Failure("cannot create " + path.string());
    }
    std::string block(1 << 20, '\0');
    for (size_t index = 0; index < block.size(); ++index) {
        block[index] = char((index * 2654435761u) >> 13);
    }
    for (uint64_t written = 0; written < bytes; written += block.size()) {
        std::fwrite(block.data(), 1, size_t(std::min<uint64_t>(block.size(), bytes - written)), file);
    }
    std::fclose(file);
}

double sha256MegabytesPerSecond()
{
    FILE *output = ::popen("openssl speed -evp sha256 -bytes 16384 -seconds 2 2>/dev/null", "r");
    if (!output) {
        throw Failure("openssl speed could not be started");
    }
    char line[512];
    double kilobytesPerSecond = 0;
    while (std::fgets(line, sizeof line, output)) {
        // The result line: "sha256  <speed>k" (thousands of bytes per second for 16384-byte blocks).
        if (std::string(line).rfind("sha256", 0) == 0) {
            const char *last = std::strrchr(line, ' ');
            kilobytesPerSecond = last ? std::atof(last + 1) : 0;
        }
    }
    ::pclose(output);
    if (kilobytesPerSecond <= 0) {
        throw Failure("openssl speed gave no SHA-256 result");
    }
    return kilobytesPerSecond / 1000.0;
}

template <typename Side> void waitForEvent(Side &side, EventKind kind, const char *failure)
{
    const auto deadline = Clock::now() + pairingLimit;
    while (Clock::now() < deadline) {
        while (auto event = side.pollEvent()) {
            if (event->kind == kind) {
                return;
            }
        }
        std::this_thread::sleep_for(1ms);
    }
    throw Failure(failure);
}

// Fills `devices` as it goes, so that a failure leaves them to the caller instead of stopping them here.
void pair(Devices &devices, const fs::path &root)
{
    fs::create_directories(root / "host");
    fs::create_directories(root / "phone");
    devices.host = Host::start("127.0.0.1", (root / "host").string(), "benchmark host", "", "");
    devices.phone = Client::connect(devices.host->pairingPayload(), "", "benchmark phone", (root / "phone").string());
    waitForEvent(*devices.phone, EventKind::awaitingConfirmation, "the phone did not reach the host");
    devices.phone->confirmPairing();
    waitForEvent(*devices.host, EventKind::paired, "the host did not report the pairing");
    waitForEvent(*devices.phone, EventKind::paired, "the phone did not report the pairing");
}

// What the benchmark knows of the transfer it waits for.
struct Watch
{
    std::string transferId;
    uint64_t receivedBytes = 0;
    bool received = false;
};

const char *endingName(EventKind kind)
{
    switch (kind) {
    case EventKind::failed:
        return "failed";
    case EventKind::cancelled:
        return "was cancelled";
    case EventKind::paused:
        return "was paused";
    case EventKind::waitingForConnection:
        return "lost its connection";
    default:
        return nullptr;
    }
}

void noteEvent(const Event &event, Watch &watch)
{
    if (event.transferId != watch.transferId) {
        return;
    }
    if (event.direction == Direction::receiving) {
        watch.receivedBytes = event.transferredBytes;
        watch.received = watch.received || event.kind == EventKind::completed;
    }
    if (const char *ending = endingName(event.kind)) {
        throw Failure(watch.transferId + " " + ending + (event.message.empty() ? "" : ": " + event.message));
    }
}

// Drains both event queues (so neither grows), noting what concerns the watched transfer. Throws Failure
// when either side reports that the transfer ended without arriving.
void pumpEvents(Devices &devices, Watch &watch)
{
    while (auto event = devices.host->pollEvent()) {
        noteEvent(*event, watch);
    }
    while (auto event = devices.phone->pollEvent()) {
        noteEvent(*event, watch);
    }
}

Failure timedOut(const Watch &watch, std::chrono::seconds limit)
{
    return Failure(watch.transferId + " did not arrive within " + std::to_string(limit.count()) +
                   " s; the receiver last reported " + std::to_string(watch.receivedBytes) + " bytes");
}

// Waits until the receiver reports the transfer completed, which it does after the integrity check.
void waitUntilReceived(Devices &devices, const std::string &transferId, std::chrono::seconds limit,
                       std::chrono::microseconds pollInterval)
{
    Watch watch{transferId};
    const auto deadline = Clock::now() + limit;
    while (true) {
        pumpEvents(devices, watch);
        if (watch.received) {
            return;
        }
        if (Clock::now() > deadline) {
            throw timedOut(watch, limit);
        }
        std::this_thread::sleep_for(pollInterval);
    }
}

// The seconds from the call that starts the transfer until the receiver has the file verified. The
// received copy is removed afterwards.
double timeLargeTransfer(Devices &devices, bool toPhone, const fs::path &source, const std::string &transferId)
{
    const auto started = Clock::now();
    if (toPhone) {
        devices.host->sendFileWithId(source.string(), transferId + ".bin", transferId);
    } else {
        const int descriptor = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        devices.phone->sendFileDescriptorWithId(descriptor, transferId + ".bin", fs::file_size(source), transferId);
        ::close(descriptor);
    }
    waitUntilReceived(devices, transferId, largeTransferLimit, largeTransferPollInterval);
    const double seconds = secondsSince(started);
    if (toPhone) {
        devices.phone->acknowledgeReceivedTransfer(transferId);
    } else {
        devices.host->acknowledgeReceivedTransfer(transferId);
    }
    return seconds;
}

double smallFilesPerSecond(Devices &devices, const fs::path &source, const std::string &idPrefix)
{
    std::vector<std::string> transferIds;
    const auto started = Clock::now();
    for (int index = 0; index < smallFileCount; ++index) {
        transferIds.push_back(idPrefix + std::to_string(index));
        devices.host->sendFileWithId(source.string(), transferIds.back() + ".bin", transferIds.back());
        waitUntilReceived(devices, transferIds.back(), smallTransferLimit, eventPollInterval);
    }
    const double seconds = secondsSince(started);
    // Removed after the clock stopped: the files are the benchmark's leftovers, not part of the work.
    for (const std::string &transferId : transferIds) {
        devices.phone->acknowledgeReceivedTransfer(transferId);
    }
    return smallFileCount / seconds;
}

bool answered(Host &host, const std::string &requestId)
{
    while (auto response = host.pollManagementResponse()) {
        if (response->requestId == requestId) {
            return true;
        }
    }
    return false;
}

// The nearest-rank percentile of sorted values.
double percentile(const std::vector<double> &sorted, double fraction)
{
    const auto rank = size_t(std::ceil(fraction * double(sorted.size())));
    return sorted[std::max<size_t>(rank, 1) - 1];
}

// Management round trips while a large file flows host -> phone: the host asks every 5 ms (or at once
// after a slower answer), the phone answers from a thread that looks for requests every 200 µs, as an
// application polling its queue would. Gives the round trip times in milliseconds, sorted.
std::vector<double> managementDuringTransfer(Devices &devices, const fs::path &source, const std::string &transferId)
{
    std::jthread answering([&devices](std::stop_token stop) {
        while (!stop.stop_requested()) {
            if (auto request = devices.phone->pollManagementRequest()) {
                devices.phone->respondManagement(request->requestId, true, "{}", {});
            } else {
                std::this_thread::sleep_for(answerPollInterval);
            }
        }
    });
    Watch watch{transferId};
    std::vector<double> milliseconds;
    const auto deadline = Clock::now() + largeTransferLimit;
    devices.host->sendFileWithId(source.string(), transferId + ".bin", transferId);
    while (!watch.received) {
        const auto asked = Clock::now();
        if (asked > deadline) {
            throw timedOut(watch, largeTransferLimit);
        }
        const std::string requestId = devices.host->requestManagement("benchmark.ping", "{}");
        while (!answered(*devices.host, requestId)) {
            pumpEvents(devices, watch);
            if (Clock::now() - asked > answerLimit) {
                throw Failure("benchmark.ping was not answered within " + std::to_string(answerLimit.count()) +
                              " s while " + std::to_string(watch.receivedBytes) + " bytes of " + transferId +
                              " had arrived");
            }
            std::this_thread::sleep_for(eventPollInterval);
        }
        milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        std::this_thread::sleep_until(asked + managementInterval);
        pumpEvents(devices, watch);
    }
    devices.phone->acknowledgeReceivedTransfer(transferId);
    std::sort(milliseconds.begin(), milliseconds.end());
    return milliseconds;
}

enum class Better
{
    higher,
    lower
};

struct Figure
{
    const char *label;
    const char *format; // one value, 10 columns wide
    double RoundFigures::*value;
    Better better;
    double goal = NAN;
};

const Figure figures[] = {
    {"sha256, one core, 16 KiB (MB/s)", "%10.1f", &RoundFigures::sha256, Better::higher},
    {"TLS 1.3 pipe (MB/s)", "%10.1f", &RoundFigures::pipe, Better::higher},
    {"host -> phone (MB/s)", "%10.1f", &RoundFigures::toPhone, Better::higher},
    {"phone -> host (MB/s)", "%10.1f", &RoundFigures::toHost, Better::higher},
    {"host -> phone / sha256", "%10.2f", &RoundFigures::toPhoneOfSha256, Better::higher, 0.7},
    {"host -> phone / pipe", "%10.2f", &RoundFigures::toPhoneOfPipe, Better::higher, 0.95},
    {"phone -> host / sha256", "%10.2f", &RoundFigures::toHostOfSha256, Better::higher, 0.7},
    {"phone -> host / pipe", "%10.2f", &RoundFigures::toHostOfPipe, Better::higher, 0.95},
    {"small files, 4 KiB (files/s)", "%10.0f", &RoundFigures::smallFiles, Better::higher, 3000},
    {"management p50 (ms)", "%10.2f", &RoundFigures::managementP50, Better::lower},
    {"management p99 (ms)", "%10.2f", &RoundFigures::managementP99, Better::lower, 20},
    {"management max (ms)", "%10.2f", &RoundFigures::managementMax, Better::lower},
    {"loaded: TLS 1.3 pipe (MB/s)", "%10.1f", &RoundFigures::loadedPipe, Better::higher},
    {"loaded: host -> phone (MB/s)", "%10.1f", &RoundFigures::loadedToPhone, Better::higher},
    {"loaded: phone -> host (MB/s)", "%10.1f", &RoundFigures::loadedToHost, Better::higher},
    {"loaded: host -> phone / pipe", "%10.2f", &RoundFigures::loadedToPhoneOfPipe, Better::higher, 0.9},
    {"loaded: phone -> host / pipe", "%10.2f", &RoundFigures::loadedToHostOfPipe, Better::higher, 0.9},
};

void printGoal(const Figure &figure, double value)
{
    if (std::isnan(figure.goal)) {
        return;
    }
    const bool met = figure.better == Better::higher ? value >= figure.goal : value <= figure.goal;
    std::printf("   goal %s %-6g %s", figure.better == Better::higher ? ">=" : "<=", figure.goal,
                met ? "ok" : "below goal");
}

struct LargeFigures
{
    double pipe = 0; // MB/s
    double toPhone = 0;
    double toHost = 0;
};

// The pipe, then the large file host -> phone and phone -> host.
LargeFigures measureLarge(Devices &devices, const Files &files, const std::string &prefix)
{
    const double megabytes = double(fs::file_size(files.source)) / 1e6;
    LargeFigures result;
    result.pipe = megabytes / tavrine::benchmarks::timeTlsPipe(files.source, files.pipeCopy);
    fs::remove(files.pipeCopy);
    result.toPhone = megabytes / timeLargeTransfer(devices, true, files.source, prefix + "to-phone");
    result.toHost = megabytes / timeLargeTransfer(devices, false, files.source, prefix + "to-host");
    return result;
}

// `busyProcessors` processes of `loadExecutable` spin while the loaded figures are taken; none when it is 0.
RoundFigures measureRound(Devices &devices, const Files &files, int round, int rounds,
                          const std::string &loadExecutable, unsigned busyProcessors)
{
    const std::string prefix = "round" + std::to_string(round) + "-";
    RoundFigures result;
    result.sha256 = sha256MegabytesPerSecond();
    const LargeFigures quiet = measureLarge(devices, files, prefix);
    result.pipe = quiet.pipe;
    result.toPhone = quiet.toPhone;
    result.toHost = quiet.toHost;
    result.toPhoneOfSha256 = result.toPhone / result.sha256;
    result.toPhoneOfPipe = result.toPhone / result.pipe;
    result.toHostOfSha256 = result.toHost / result.sha256;
    result.toHostOfPipe = result.toHost / result.pipe;
    result.smallFiles = smallFilesPerSecond(devices, files.smallSource, prefix + "small-");
    const std::vector<double> roundTrips = managementDuringTransfer(devices, files.source, prefix + "with-pings");
    result.managementP50 = percentile(roundTrips, 0.5);
    result.managementP99 = percentile(roundTrips, 0.99);
    result.managementMax = roundTrips.back();
    if (busyProcessors > 0) {
        const Load load(loadExecutable, busyProcessors);
        const LargeFigures loaded = measureLarge(devices, files, prefix + "loaded-");
        result.loadedPipe = loaded.pipe;
        result.loadedToPhone = loaded.toPhone;
        result.loadedToHost = loaded.toHost;
        result.loadedToPhoneOfPipe = loaded.toPhone / loaded.pipe;
        result.loadedToHostOfPipe = loaded.toHost / loaded.pipe;
    }

    std::printf("round %d of %d (management over %zu round trips)\n", round, rounds, roundTrips.size());
    for (const Figure &figure : figures) {
        if (std::isnan(result.*figure.value)) {
            continue;
        }
        std::printf("  %-34s", figure.label);
        std::printf(figure.format, result.*figure.value);
        printGoal(figure, result.*figure.value);
        std::printf("\n");
    }
    std::fflush(stdout);
    return result;
}

void printSummary(const std::vector<RoundFigures> &results)
{
    std::printf("summary of %zu rounds (the goals are held against the median)\n", results.size());
    std::printf("  %-34s%10s%10s\n", "", "best", "median");
    for (const Figure &figure : figures) {
        std::vector<double> values;
        for (const RoundFigures &round : results) {
            if (!std::isnan(round.*figure.value)) {
                values.push_back(round.*figure.value);
            }
        }
        if (values.empty()) {
            continue;
        }
        std::sort(values.begin(), values.end());
        const double best = figure.better == Better::higher ? values.back() : values.front();
        const size_t middle = values.size() / 2;
        const double median = values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
        std::printf("  %-34s", figure.label);
        std::printf(figure.format, best);
        std::printf(figure.format, median);
        printGoal(figure, median);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const long busyArgument = argc > 3 ? std::strtol(argv[3], nullptr, 10) : long(std::thread::hardware_concurrency());
    if (mebibytes == 0 || rounds <= 0 || busyArgument < 0 || busyArgument > 1024) {
        std::fprintf(stderr, "usage: %s [MiB, 1024] [rounds, 3] [busy CPUs, one per core; 0 for none]\n", argv[0]);
        return 2;
    }
    unsigned busyProcessors = unsigned(busyArgument);
    const std::string loadExecutable = Load::executable();
    if (busyProcessors > 0 && loadExecutable.empty()) {
        std::printf("stress-ng is not installed (apt-get install stress-ng): the figures under load are left out\n");
        busyProcessors = 0;
    }
    // A pipe side whose peer went away gets an error from its write instead of the signal.
    std::signal(SIGPIPE, SIG_IGN);
    // Files live in memory where it can, so the figures measure the link and not the disk's write-back.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path root = base / ("tavrine-benchmark-" + std::to_string(::getpid()));
    const Files files{root / "source.bin", root / "small.bin", root / "pipe-copy.bin"};

    Devices devices;
    try {
        fs::create_directories(root);
        writeTestFile(files.source, mebibytes << 20);
        writeTestFile(files.smallSource, smallFileBytes);
        pair(devices, root);
        // The benchmark's own waits poll with short sleeps; without the default 50 µs of timer slack they
        // wake on time and add little to what is measured. Set after pairing, so that the core's threads,
        // and the ones they start later, keep the default.
        ::prctl(PR_SET_TIMERSLACK, 1UL);

        std::printf("%llu MiB each way, integrity check on; %d files of %llu KiB one at a time; "
                    "management every %lld ms while %llu MiB flow host -> phone\n",
                    static_cast<unsigned long long>(mebibytes), smallFileCount,
                    static_cast<unsigned long long>(smallFileBytes / 1024),
                    static_cast<long long>(managementInterval.count()), static_cast<unsigned long long>(mebibytes));
        if (busyProcessors > 0) {
            std::printf("under load: %u CPUs kept busy by stress-ng while the pipe and %llu MiB each way run\n",
                        busyProcessors, static_cast<unsigned long long>(mebibytes));
        }
        std::vector<RoundFigures> results;
        for (int round = 1; round <= rounds; ++round) {
            results.push_back(measureRound(devices, files, round, rounds, loadExecutable, busyProcessors));
        }
        printSummary(results);
    } catch (const std::exception &error) {
        const auto *coreError = dynamic_cast<const CoreError *>(&error);
        std::fprintf(stderr, "failed: %s%s\n",
                     coreError ? ("core error " + std::to_string(int(coreError->kind())) + " ").c_str() : "",
                     error.what());
        std::fflush(nullptr);
        fs::remove_all(root);
        // A core stuck in a transfer may not stop cleanly either: leave without tearing it down.
        std::_Exit(1);
    }
    devices.phone.reset();
    devices.host.reset();
    fs::remove_all(root);
    return 0;
}

// Sends a file host → phone and phone → host over loopback, with the integrity check on, and prints the
// throughput of each direction next to this machine's single-core SHA-256 speed for 16 KiB blocks,
// measured in the same run. The target is each direction at half that speed or better.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRINE_BUILD_BENCHMARKS=ON
//   cmake --build build/bench --target transfer_throughput && build/bench/bin/transfer_throughput [MiB]
//
// The files are kept in /dev/shm when it exists, so that the disk does not set the pace.
#include "Client.h"
#include "Host.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace tavrine::core;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

template <typename Side>
std::optional<Event> waitFor(Side &side, EventKind kind, const std::string &transferId, std::chrono::seconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        while (auto event = side.pollEvent()) {
            if (event->kind == kind && event->transferId == transferId) {
                return event;
            }
            if (!transferId.empty() && event->transferId == transferId &&
                (event->kind == EventKind::failed || event->kind == EventKind::cancelled)) {
                std::fprintf(stderr, "transfer ended: %s\n", event->message.c_str());
                return std::nullopt;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
}

double sha256MegabytesPerSecond()
{
    FILE *output = ::popen("openssl speed -evp sha256 -bytes 16384 -seconds 3 2>/dev/null", "r");
    if (!output) {
        return 0;
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
    return kilobytesPerSecond / 1000.0;
}

void writeTestFile(const fs::path &path, uint64_t bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    std::string block(1 << 20, '\0');
    for (size_t index = 0; index < block.size(); ++index) {
        block[index] = char((index * 2654435761u) >> 13);
    }
    for (uint64_t written = 0; written < bytes; written += block.size()) {
        std::fwrite(block.data(), 1, size_t(std::min<uint64_t>(block.size(), bytes - written)), file);
    }
    std::fclose(file);
}

} // namespace

int main(int argc, char *argv[])
{
    const uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const uint64_t bytes = mebibytes << 20;
    // Files live in memory where it can, so the figures measure the link and not the disk's write-back.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path root = base / ("tavrine-benchmark-" + std::to_string(::getpid()));
    fs::create_directories(root / "host");
    fs::create_directories(root / "phone");
    const fs::path source = root / "source.bin";
    writeTestFile(source, bytes);

    auto host = Host::start("127.0.0.1", (root / "host").string(), "benchmark host", "", "");
    auto phone = Client::connect(host->pairingPayload(), "", "benchmark phone", (root / "phone").string());
    if (!waitFor(*phone, EventKind::awaitingConfirmation, {}, std::chrono::seconds(10))) {
        std::fprintf(stderr, "the phone did not reach the host\n");
        return 1;
    }
    phone->confirmPairing();
    if (!waitFor(*host, EventKind::paired, {}, std::chrono::seconds(10))) {
        std::fprintf(stderr, "pairing did not complete\n");
        return 1;
    }

    const auto toPhoneStart = Clock::now();
    host->sendFileWithId(source.string(), "to-phone.bin", "to-phone");
    if (!waitFor(*phone, EventKind::completed, "to-phone", std::chrono::seconds(600))) {
        return 1;
    }
    const double toPhoneSeconds = std::chrono::duration<double>(Clock::now() - toPhoneStart).count();
    fs::remove(root / "phone" / "to-phone.bin");

    const int descriptor = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    const auto toHostStart = Clock::now();
    phone->sendFileDescriptorWithId(descriptor, "to-host.bin", bytes, "to-host");
    ::close(descriptor);
    if (!waitFor(*host, EventKind::completed, "to-host", std::chrono::seconds(600))) {
        return 1;
    }
    const double toHostSeconds = std::chrono::duration<double>(Clock::now() - toHostStart).count();

    phone.reset();
    host.reset();
    fs::remove_all(root);

    const double megabytes = double(bytes) / 1e6;
    const double sha256Speed = sha256MegabytesPerSecond();
    std::printf("file: %llu MiB, integrity check on\n", static_cast<unsigned long long>(mebibytes));
    std::printf("host -> phone: %8.1f MB/s\n", megabytes / toPhoneSeconds);
    std::printf("phone -> host: %8.1f MB/s\n", megabytes / toHostSeconds);
    std::printf("sha256 16 KiB: %8.1f MB/s (openssl speed, one core)\n", sha256Speed);
    if (sha256Speed > 0) {
        std::printf("ratio to sha256: %.2f and %.2f (target: at least 0.50 each)\n",
                    megabytes / toPhoneSeconds / sha256Speed, megabytes / toHostSeconds / sha256Speed);
    }
    return 0;
}

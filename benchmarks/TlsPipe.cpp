#include "TlsPipe.h"

#include "Identity.h"
#include "LoopbackSockets.h"
#include "Wire.h"

#include <openssl/evp.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrine::benchmarks {

namespace {

using core::ContextPointer;
using core::SslPointer;
using Clock = std::chrono::steady_clock;
using DigestPointer = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr size_t digestBytes = 32;

ContextPointer makeClientContext()
{
    ContextPointer context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        throw std::runtime_error("could not create a TLS context");
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(context.get(), TLS1_3_VERSION);
    // Without verification: checking the peer's key costs only at the handshake, which is not timed.
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    return context;
}

SslPointer startTls(SSL_CTX *context, int socket, bool asServer)
{
    SslPointer ssl(SSL_new(context));
    if (!ssl || SSL_set_fd(ssl.get(), socket) != 1) {
        throw std::runtime_error("could not create a TLS session");
    }
    SSL_set_read_ahead(ssl.get(), 1);
    if ((asServer ? SSL_accept(ssl.get()) : SSL_connect(ssl.get())) != 1) {
        throw std::runtime_error("the pipe's TLS handshake failed");
    }
    return ssl;
}

void writeAll(SSL *ssl, const void *bytes, size_t count)
{
    // A blocking socket without partial writes: one call writes everything or fails.
    size_t written = 0;
    if (SSL_write_ex(ssl, bytes, count, &written) != 1) {
        throw std::runtime_error("the pipe's receiver went away");
    }
}

void readAll(SSL *ssl, void *bytes, size_t count)
{
    auto *position = static_cast<char *>(bytes);
    while (count > 0) {
        size_t read = 0;
        if (SSL_read_ex(ssl, position, count, &read) != 1) {
            throw std::runtime_error("the pipe's sender went away");
        }
        position += read;
        count -= read;
    }
}

DigestPointer newDigest()
{
    DigestPointer digest(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
    return digest;
}

// Chunks between a side's TLS thread and its file thread, at most as many as the link queues for sending and the
// session for writing. Buffers go back the other way through a second channel, so the two threads never allocate.
class Channel
{
public:
    void push(std::string chunk)
    {
        {
            std::lock_guard lock(m_mutex);
            m_chunks.push_back(std::move(chunk));
        }
        m_changed.notify_one();
    }
    // Gives nothing once the channel was closed (the other thread failed).
    std::optional<std::string> pop()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_closed || !m_chunks.empty(); });
        if (m_closed) {
            return std::nullopt;
        }
        std::string chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        return chunk;
    }
    void close()
    {
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_chunks;
    bool m_closed = false;
};

constexpr size_t chunksInFlight = 16;

// A side's two channels: full chunks towards the consumer, empty buffers back to the producer.
struct Channels
{
    // Gives the producer its buffers.
    void fill()
    {
        for (size_t index = 0; index < chunksInFlight; ++index) {
            empty.push(std::string(core::wire::chunkBytes, '\0'));
        }
    }
    void close()
    {
        full.close();
        empty.close();
    }
    Channel full;
    Channel empty;
};

std::string takeBuffer(Channel &channel)
{
    std::optional<std::string> buffer = channel.pop();
    if (!buffer) {
        throw std::runtime_error("the pipe's other thread failed");
    }
    return std::move(*buffer);
}

// The sender's file thread: reads and hashes each chunk, then hands it to the TLS thread. The digest goes last.
void readAndHash(int file, uint64_t size, Channels &channels)
{
    const DigestPointer digest = newDigest();
    for (uint64_t position = 0; position < size;) {
        std::string chunk = takeBuffer(channels.empty);
        chunk.resize(core::wire::chunkBytes);
        const ssize_t count = ::pread(file, chunk.data(), chunk.size(), off_t(position));
        if (count <= 0) {
            throw std::runtime_error("the pipe's source cannot be read");
        }
        chunk.resize(size_t(count));
        EVP_DigestUpdate(digest.get(), chunk.data(), chunk.size());
        position += uint64_t(count);
        channels.full.push(std::move(chunk));
    }
    unsigned char sum[EVP_MAX_MD_SIZE];
    EVP_DigestFinal_ex(digest.get(), sum, nullptr);
    channels.full.push(std::string(reinterpret_cast<const char *>(sum), digestBytes));
}

void sendFile(SSL *ssl, uint64_t size, Channels &channels)
{
    writeAll(ssl, &size, sizeof size);
    for (uint64_t position = 0; position < size;) {
        std::string chunk = takeBuffer(channels.full);
        writeAll(ssl, chunk.data(), chunk.size());
        position += chunk.size();
        channels.empty.push(std::move(chunk));
    }
    const std::string sum = takeBuffer(channels.full);
    writeAll(ssl, sum.data(), sum.size());
}

// The receiver's TLS thread: reads each chunk and hands it to the file thread, the digest last.
void receiveFile(SSL *ssl, Channels &channels)
{
    uint64_t size = 0;
    readAll(ssl, &size, sizeof size);
    channels.full.push(std::string(reinterpret_cast<const char *>(&size), sizeof size));
    for (uint64_t position = 0; position < size;) {
        std::string chunk = takeBuffer(channels.empty);
        chunk.resize(size_t(std::min<uint64_t>(core::wire::chunkBytes, size - position)));
        readAll(ssl, chunk.data(), chunk.size());
        position += chunk.size();
        channels.full.push(std::move(chunk));
    }
    std::string expected(digestBytes, '\0');
    readAll(ssl, expected.data(), expected.size());
    channels.full.push(std::move(expected));
}

// The receiver's file thread: writes and hashes each chunk, then checks the digest.
void writeAndHash(int file, Channels &channels)
{
    uint64_t size = 0;
    const std::string announced = takeBuffer(channels.full);
    std::memcpy(&size, announced.data(), sizeof size);
    const DigestPointer digest = newDigest();
    for (uint64_t position = 0; position < size;) {
        std::string chunk = takeBuffer(channels.full);
        for (size_t written = 0; written < chunk.size();) {
            const ssize_t step = ::write(file, chunk.data() + written, chunk.size() - written);
            if (step <= 0) {
                throw std::runtime_error(std::string("the pipe's copy cannot be written: ") + std::strerror(errno));
            }
            written += size_t(step);
        }
        EVP_DigestUpdate(digest.get(), chunk.data(), chunk.size());
        position += chunk.size();
        channels.empty.push(std::move(chunk));
    }
    const std::string expected = takeBuffer(channels.full);
    unsigned char actual[EVP_MAX_MD_SIZE];
    EVP_DigestFinal_ex(digest.get(), actual, nullptr);
    if (std::memcmp(expected.data(), actual, digestBytes) != 0) {
        throw std::runtime_error("the pipe's copy arrived damaged");
    }
}

} // namespace

double timeTlsPipe(const std::filesystem::path &source, const std::filesystem::path &destination)
{
    const Descriptor file(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    const Descriptor copy(::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (file.get() < 0 || copy.get() < 0) {
        throw std::runtime_error(std::string("the pipe's files cannot be opened: ") + std::strerror(errno));
    }
    struct stat status
    {
    };
    if (::fstat(file.get(), &status) != 0) {
        throw std::runtime_error("the pipe's source cannot be read");
    }
    const auto size = uint64_t(status.st_size);
    const auto sockets = loopbackConnection();
    const ContextPointer serverContext = core::HostIdentity::generate().makeServerContext();
    const ContextPointer clientContext = makeClientContext();

    Clock::time_point started;
    Clock::time_point verified;
    // The first failure tells what happened; the side that fails shuts its socket down and closes its
    // channels, so that its other thread and the other side's blocking calls return too (and only report
    // that their peer went away).
    std::once_flag failed;
    std::exception_ptr failure;
    Channels sending;
    Channels receiving;
    const auto fail = [&](int socket, Channels &channels) {
        std::call_once(failed, [&] { failure = std::current_exception(); });
        channels.close();
        ::shutdown(socket, SHUT_RDWR);
    };
    std::thread writing([&] {
        try {
            writeAndHash(copy.get(), receiving);
            verified = Clock::now();
        } catch (...) {
            fail(sockets.second.get(), receiving);
        }
    });
    std::thread receiver([&] {
        try {
            const SslPointer ssl = startTls(serverContext.get(), sockets.second.get(), true);
            receiving.fill();
            receiveFile(ssl.get(), receiving);
        } catch (...) {
            fail(sockets.second.get(), receiving);
        }
    });
    // Starts reading once the sender has its buffers, after the handshake.
    std::thread reading([&] {
        try {
            readAndHash(file.get(), size, sending);
        } catch (...) {
            fail(sockets.first.get(), sending);
        }
    });
    std::thread sender([&] {
        try {
            const SslPointer ssl = startTls(clientContext.get(), sockets.first.get(), false);
            started = Clock::now();
            sending.fill();
            sendFile(ssl.get(), size, sending);
        } catch (...) {
            fail(sockets.first.get(), sending);
        }
    });
    reading.join();
    writing.join();
    sender.join();
    receiver.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return std::chrono::duration<double>(verified - started).count();
}

} // namespace tavrine::benchmarks

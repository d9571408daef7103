#include "TlsPipe.h"

#include "Identity.h"
#include "Wire.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <mutex>
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

class Descriptor
{
public:
    explicit Descriptor(int value) : m_value(value) {}
    Descriptor(Descriptor &&other) noexcept : m_value(std::exchange(other.m_value, -1)) {}
    ~Descriptor()
    {
        if (m_value >= 0) {
            ::close(m_value);
        }
    }
    int get() const { return m_value; }

private:
    int m_value;
};

// The client and the server end of a loopback TCP connection. The connect completes through the listen
// backlog before the accept, so no thread has to wait for the other.
std::pair<Descriptor, Descriptor> connectedSockets()
{
    const Descriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto *generic = reinterpret_cast<sockaddr *>(&address);
    if (::bind(listener.get(), generic, sizeof address) != 0 || ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), generic, &length) != 0) {
        throw std::runtime_error(std::string("the pipe cannot listen: ") + std::strerror(errno));
    }
    Descriptor client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(client.get(), generic, sizeof address) != 0) {
        throw std::runtime_error(std::string("the pipe cannot connect: ") + std::strerror(errno));
    }
    Descriptor server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (server.get() < 0) {
        throw std::runtime_error(std::string("the pipe cannot accept: ") + std::strerror(errno));
    }
    // The same socket settings as the link's.
    const int enabled = 1;
    ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof enabled);
    ::setsockopt(server.get(), IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof enabled);
    return {std::move(client), std::move(server)};
}

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

void sendFile(SSL *ssl, int file)
{
    struct stat status
    {
    };
    if (::fstat(file, &status) != 0) {
        throw std::runtime_error("the pipe's source cannot be read");
    }
    const auto size = uint64_t(status.st_size);
    writeAll(ssl, &size, sizeof size);
    const DigestPointer digest = newDigest();
    std::string chunk(core::wire::chunkBytes, '\0');
    for (uint64_t position = 0; position < size;) {
        const ssize_t count = ::pread(file, chunk.data(), chunk.size(), off_t(position));
        if (count <= 0) {
            throw std::runtime_error("the pipe's source cannot be read");
        }
        EVP_DigestUpdate(digest.get(), chunk.data(), size_t(count));
        writeAll(ssl, chunk.data(), size_t(count));
        position += uint64_t(count);
    }
    unsigned char sum[EVP_MAX_MD_SIZE];
    EVP_DigestFinal_ex(digest.get(), sum, nullptr);
    writeAll(ssl, sum, digestBytes);
}

void receiveFile(SSL *ssl, int file)
{
    uint64_t size = 0;
    readAll(ssl, &size, sizeof size);
    const DigestPointer digest = newDigest();
    std::string chunk(core::wire::chunkBytes, '\0');
    for (uint64_t position = 0; position < size;) {
        const size_t count = size_t(std::min<uint64_t>(chunk.size(), size - position));
        readAll(ssl, chunk.data(), count);
        for (size_t written = 0; written < count;) {
            const ssize_t step = ::write(file, chunk.data() + written, count - written);
            if (step <= 0) {
                throw std::runtime_error(std::string("the pipe's copy cannot be written: ") + std::strerror(errno));
            }
            written += size_t(step);
        }
        EVP_DigestUpdate(digest.get(), chunk.data(), count);
        position += count;
    }
    unsigned char expected[digestBytes];
    unsigned char actual[EVP_MAX_MD_SIZE];
    readAll(ssl, expected, digestBytes);
    EVP_DigestFinal_ex(digest.get(), actual, nullptr);
    if (std::memcmp(expected, actual, digestBytes) != 0) {
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
    const auto sockets = connectedSockets();
    const ContextPointer serverContext = core::HostIdentity::generate().makeServerContext();
    const ContextPointer clientContext = makeClientContext();

    Clock::time_point started;
    Clock::time_point verified;
    // The first failure tells what happened; the side that fails shuts its socket down, so that the other
    // side's blocking call returns too (and only reports that its peer went away).
    std::once_flag failed;
    std::exception_ptr failure;
    const auto fail = [&](int socket) {
        std::call_once(failed, [&] { failure = std::current_exception(); });
        ::shutdown(socket, SHUT_RDWR);
    };
    std::thread receiver([&] {
        try {
            const SslPointer ssl = startTls(serverContext.get(), sockets.second.get(), true);
            receiveFile(ssl.get(), copy.get());
            verified = Clock::now();
        } catch (...) {
            fail(sockets.second.get());
        }
    });
    std::thread sender([&] {
        try {
            const SslPointer ssl = startTls(clientContext.get(), sockets.first.get(), false);
            started = Clock::now();
            sendFile(ssl.get(), file.get());
        } catch (...) {
            fail(sockets.first.get());
        }
    });
    sender.join();
    receiver.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return std::chrono::duration<double>(verified - started).count();
}

} // namespace tavrine::benchmarks

#include "Greetings.h"

#include <openssl/err.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace tavrine::core {

struct GreetingTable::Greeting
{
    int socket = -1;
    SslPointer ssl;
    wire::FrameDecoder decoder;
    uint32_t source = 0;
    uint64_t order = 0;
    Clock::time_point deadline;
    bool secured = false;
    short wanted = POLLIN;

    ~Greeting()
    {
        if (socket >= 0) {
            ::close(socket);
        }
    }
};

void refuseGreeting(GreetedConnection &connection, const std::string &reason)
{
    const std::string frame =
        wire::encodeFrame(wire::FrameType::refused, wire::FieldWriter().text(reason).take());
    ERR_clear_error();
    // A fresh connection has room for a few hundred bytes; a peer that does not take them hears nothing more.
    SSL_write(connection.ssl.get(), frame.data(), int(frame.size()));
    SSL_shutdown(connection.ssl.get());
    connection.ssl.reset();
    ::close(connection.socket);
    connection.socket = -1;
}

GreetingTable::GreetingTable(SSL_CTX *tls, Limits limits, HelloHandler handler)
    : m_tls(tls), m_limits(limits), m_handler(std::move(handler))
{
}

GreetingTable::~GreetingTable() = default;

void GreetingTable::evictFor(uint32_t sourceAddress)
{
    std::map<uint32_t, size_t> perSource;
    for (const auto &greeting : m_greetings) {
        ++perSource[greeting->source];
    }
    uint32_t crowded = sourceAddress;
    if (perSource[sourceAddress] < m_limits.perSource) {
        if (m_greetings.size() < m_limits.total) {
            return;
        }
        crowded = std::max_element(perSource.begin(), perSource.end(), [](const auto &left, const auto &right) {
                      return left.second < right.second;
                  })->first;
    }
    const auto victim = std::min_element(m_greetings.begin(), m_greetings.end(), [&](const auto &left, const auto &right) {
        // Greetings of the crowded source first, then those without a finished handshake, then the oldest.
        const auto rank = [&](const Greeting &greeting) {
            return std::tuple(greeting.source != crowded, greeting.secured, greeting.order);
        };
        return rank(*left) < rank(*right);
    });
    m_greetings.erase(victim);
}

void GreetingTable::admit(int socket, uint32_t sourceAddress)
{
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    const int enabled = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof enabled);
    ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &enabled, sizeof enabled);

    auto greeting = std::make_unique<Greeting>();
    greeting->socket = socket;
    greeting->ssl.reset(SSL_new(m_tls));
    if (!greeting->ssl) {
        return;
    }
    SSL_set_fd(greeting->ssl.get(), socket);
    greeting->decoder.setMaximumPayload(m_limits.maximumHelloBytes);
    greeting->source = sourceAddress;
    greeting->order = m_admitted++;
    greeting->deadline = Clock::now() + m_limits.timeLimit;
    // The peer's first bytes are often here already.
    if (step(*greeting) != Step::waiting) {
        return;
    }
    evictFor(sourceAddress);
    m_greetings.push_back(std::move(greeting));
}

void GreetingTable::addPollDescriptors(std::vector<pollfd> &descriptors) const
{
    for (const auto &greeting : m_greetings) {
        descriptors.push_back({greeting->socket, greeting->wanted, 0});
    }
}

void GreetingTable::advance(const std::vector<pollfd> &descriptors, size_t first)
{
    const auto now = Clock::now();
    std::vector<std::unique_ptr<Greeting>> waiting;
    waiting.reserve(m_greetings.size());
    for (size_t index = 0; index < m_greetings.size(); ++index) {
        std::unique_ptr<Greeting> &greeting = m_greetings[index];
        const size_t entry = first + index;
        const bool ready = entry < descriptors.size() && descriptors[entry].fd == greeting->socket &&
                           descriptors[entry].revents != 0;
        if (ready && step(*greeting) != Step::waiting) {
            continue;
        }
        if (now < greeting->deadline) {
            waiting.push_back(std::move(greeting));
        }
    }
    m_greetings = std::move(waiting);
}

int GreetingTable::millisecondsUntilNextDeadline() const
{
    if (m_greetings.empty()) {
        return 60'000;
    }
    Clock::time_point next = m_greetings.front()->deadline;
    for (const auto &greeting : m_greetings) {
        next = std::min(next, greeting->deadline);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return int(std::clamp<long long>(left + 1, 0, 60'000));
}

GreetingTable::Step GreetingTable::step(Greeting &greeting)
{
    SSL *ssl = greeting.ssl.get();
    const auto wait = [&](int result) {
        const int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            greeting.wanted = error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
            return Step::waiting;
        }
        return Step::failed;
    };
    if (!greeting.secured) {
        ERR_clear_error();
        const int result = SSL_accept(ssl);
        if (result != 1) {
            return wait(result);
        }
        greeting.secured = true;
    }
    char buffer[1024];
    try {
        while (true) {
            if (auto hello = greeting.decoder.next()) {
                GreetedConnection connection{greeting.socket, std::move(greeting.ssl), std::move(greeting.decoder),
                                             std::move(*hello)};
                greeting.socket = -1;
                m_handler(std::move(connection));
                return Step::handedOver;
            }
            ERR_clear_error();
            const int count = SSL_read(ssl, buffer, int(sizeof buffer));
            if (count <= 0) {
                return wait(count);
            }
            greeting.decoder.feed(buffer, size_t(count));
        }
    } catch (const wire::ProtocolError &) {
        return Step::failed;
    }
}

} // namespace tavrine::core

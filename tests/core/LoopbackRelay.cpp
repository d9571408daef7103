#include "LoopbackRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t readBytes = 64 * 1024;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void setNonBlocking(int socket)
{
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
}

// Closes with a reset instead of an orderly end, as a dropped network leaves the ends.
void closeAbruptly(int socket)
{
    if (socket < 0) {
        return;
    }
    const linger immediately{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    ::close(socket);
}

} // namespace

LoopbackRelay::LoopbackRelay(quint16 targetPort) : m_targetPort(targetPort)
{
    m_listenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    m_wakeDescriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address = loopback(0);
    if (m_listenSocket < 0 || m_wakeDescriptor < 0 ||
        ::bind(m_listenSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listenSocket, 16) != 0) {
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listenSocket, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

LoopbackRelay::~LoopbackRelay()
{
    m_stopping = true;
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    for (Connection &connection : m_connections) {
        closeConnection(connection);
    }
    if (m_listenSocket >= 0) {
        ::close(m_listenSocket);
    }
    if (m_wakeDescriptor >= 0) {
        ::close(m_wakeDescriptor);
    }
}

void LoopbackRelay::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(m_wakeDescriptor, &one, sizeof one);
}

void LoopbackRelay::closeConnection(Connection &connection)
{
    closeAbruptly(connection.upstream.from);
    closeAbruptly(connection.upstream.to);
    connection.upstream.from = connection.upstream.to = -1;
    connection.downstream.from = connection.downstream.to = -1;
}

void LoopbackRelay::acceptOne()
{
    const int phoneSide = ::accept4(m_listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (phoneSide < 0) {
        return;
    }
    ++m_accepted;
    const int hostSide = m_refusing ? -1 : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in target = loopback(m_targetPort);
    if (hostSide < 0 || ::connect(hostSide, reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
        closeAbruptly(hostSide);
        closeAbruptly(phoneSide);
        return;
    }
    setNonBlocking(phoneSide);
    setNonBlocking(hostSide);
    Connection connection;
    connection.upstream.from = connection.downstream.to = phoneSide;
    connection.upstream.to = connection.downstream.from = hostSide;
    m_connections.push_back(std::move(connection));
}

void LoopbackRelay::forward(Connection &connection, Direction &direction, uint64_t &budget, short readyFrom,
                            short readyTo)
{
    if (!direction.pending.empty() && (readyTo & (POLLOUT | POLLERR | POLLHUP))) {
        const ssize_t written = ::send(direction.to, direction.pending.data(), direction.pending.size(), MSG_NOSIGNAL);
        if (written > 0) {
            direction.pending.erase(direction.pending.begin(), direction.pending.begin() + written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            connection.broken = true;
            return;
        }
    }
    if (direction.pending.empty() && !direction.ended && budget > 0 && (readyFrom & (POLLIN | POLLERR | POLLHUP))) {
        std::vector<char> buffer(size_t(std::min<uint64_t>(readBytes, budget)));
        const ssize_t read = ::recv(direction.from, buffer.data(), buffer.size(), 0);
        if (read > 0) {
            budget -= uint64_t(read);
            buffer.resize(size_t(read));
            direction.pending = std::move(buffer);
        } else if (read == 0) {
            direction.ended = true;
        } else if (errno != EAGAIN && errno != EINTR) {
            connection.broken = true;
            return;
        }
    }
    if (direction.ended && direction.pending.empty()) {
        ::shutdown(direction.to, SHUT_WR);
    }
}

void LoopbackRelay::run()
{
    constexpr uint64_t unlimited = std::numeric_limits<uint64_t>::max();
    uint64_t upstreamBudget = unlimited;
    uint64_t downstreamBudget = unlimited;
    bool wasLimited = false;
    auto lastRefill = Clock::now();
    while (!m_stopping) {
        const uint64_t bytesPerSecond = m_bytesPerSecond;
        if (m_cutRequested.exchange(false)) {
            for (Connection &connection : m_connections) {
                closeConnection(connection);
            }
            m_connections.clear();
        }
        if (m_silenceRequested.exchange(false)) {
            for (Connection &connection : m_connections) {
                connection.silenced = true;
            }
        }
        const auto now = Clock::now();
        if (bytesPerSecond == 0) {
            upstreamBudget = downstreamBudget = unlimited;
        } else {
            // Refill by the time that passed, holding at most a twentieth of a second's worth.
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - lastRefill).count();
            const uint64_t refill = bytesPerSecond * uint64_t(elapsed) / 1'000'000;
            const uint64_t ceiling = std::max<uint64_t>(bytesPerSecond / 20, 16 * 1024);
            upstreamBudget = std::min(wasLimited ? upstreamBudget + refill : 0, ceiling);
            downstreamBudget = std::min(wasLimited ? downstreamBudget + refill : 0, ceiling);
        }
        wasLimited = bytesPerSecond != 0;
        lastRefill = now;

        std::vector<pollfd> descriptors{{m_listenSocket, POLLIN, 0}, {m_wakeDescriptor, POLLIN, 0}};
        for (const Connection &connection : m_connections) {
            const auto wants = [](const Direction &reading, const Direction &writing, uint64_t budget) {
                short events = 0;
                if (reading.pending.empty() && !reading.ended && budget > 0) {
                    events |= POLLIN;
                }
                if (!writing.pending.empty()) {
                    events |= POLLOUT;
                }
                return events;
            };
            const bool active = !connection.silenced;
            descriptors.push_back(
                {connection.upstream.from,
                 short(active ? wants(connection.upstream, connection.downstream, upstreamBudget) : 0), 0});
            descriptors.push_back(
                {connection.downstream.from,
                 short(active ? wants(connection.downstream, connection.upstream, downstreamBudget) : 0), 0});
        }
        const int timeout = bytesPerSecond == 0 ? 200 : 5;
        if (::poll(descriptors.data(), descriptors.size(), timeout) < 0 && errno != EINTR) {
            return;
        }
        if (descriptors[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(m_wakeDescriptor, &count, sizeof count);
        }
        for (size_t index = 0; index < m_connections.size(); ++index) {
            Connection &connection = m_connections[index];
            if (connection.silenced) {
                continue;
            }
            const short phoneReady = descriptors[2 + 2 * index].revents;
            const short hostReady = descriptors[3 + 2 * index].revents;
            forward(connection, connection.upstream, upstreamBudget, phoneReady, hostReady);
            if (!connection.broken) {
                forward(connection, connection.downstream, downstreamBudget, hostReady, phoneReady);
            }
        }
        std::erase_if(m_connections, [](Connection &connection) {
            const bool finished =
                connection.broken || (connection.upstream.ended && connection.upstream.pending.empty() &&
                                      connection.downstream.ended && connection.downstream.pending.empty());
            if (finished) {
                closeConnection(connection);
            }
            return finished;
        });
        if (descriptors[0].revents & POLLIN) {
            acceptOne();
        }
    }
}

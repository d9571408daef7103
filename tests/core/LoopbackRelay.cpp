#include "LoopbackRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>

namespace {

constexpr size_t readBytes = 64 * 1024;
constexpr int turnMilliseconds = 5;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Closes with a reset instead of an orderly end, as a dropped network leaves the ends.
void closeAbruptly(int socket)
{
    const linger immediately{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    ::close(socket);
}

bool failed(ssize_t result)
{
    return result < 0 && errno != EAGAIN && errno != EINTR;
}

} // namespace

LoopbackRelay::LoopbackRelay(quint16 targetPort) : m_targetPort(targetPort)
{
    m_listenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_listenSocket >= 0 && ::bind(m_listenSocket, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
        ::listen(m_listenSocket, 16) == 0 &&
        ::getsockname(m_listenSocket, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
}

LoopbackRelay::~LoopbackRelay()
{
    m_stopping = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listenSocket >= 0) {
        ::close(m_listenSocket);
    }
}

void LoopbackRelay::closeConnections()
{
    for (const Connection &connection : m_connections) {
        closeAbruptly(connection.sockets[0]);
        closeAbruptly(connection.sockets[1]);
    }
    m_connections.clear();
}

void LoopbackRelay::acceptOne()
{
    const int phoneSide = ::accept4(m_listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (phoneSide < 0) {
        return;
    }
    const int hostSide = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in target = loopback(m_targetPort);
    if (m_silent || ::connect(hostSide, reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
        closeAbruptly(hostSide);
        closeAbruptly(phoneSide);
        return;
    }
    Connection &connection = m_connections.emplace_back();
    connection.sockets[0] = phoneSide;
    connection.sockets[1] = hostSide;
}

void LoopbackRelay::run()
{
    using Clock = std::chrono::steady_clock;
    constexpr uint64_t unlimited = std::numeric_limits<uint64_t>::max();
    uint64_t budgets[2] = {unlimited, unlimited};
    bool wasLimited = false;
    auto lastTurn = Clock::now();
    while (!m_stopping) {
        if (m_cutRequested.exchange(false)) {
            closeConnections();
        }
        // Refill by the time that passed, holding at most a twentieth of a second's worth; a new cap starts empty.
        const uint64_t bytesPerSecond = m_bytesPerSecond;
        const auto now = Clock::now();
        const auto elapsed = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now - lastTurn).count());
        const uint64_t ceiling = std::max<uint64_t>(bytesPerSecond / 20, 16 * 1024);
        for (uint64_t &budget : budgets) {
            budget = bytesPerSecond == 0
                         ? unlimited
                         : std::min(wasLimited ? budget + bytesPerSecond * elapsed / 1'000'000 : 0, ceiling);
        }
        wasLimited = bytesPerSecond != 0;
        lastTurn = now;

        std::vector<pollfd> descriptors{{m_listenSocket, POLLIN, 0}};
        for (Connection &connection : m_connections) {
            connection.silenced = connection.silenced || m_silent;
            for (int side : {0, 1}) {
                const bool reads = connection.pending[side].empty() && !connection.ended[side] && budgets[side] > 0;
                const bool writes = !connection.pending[1 - side].empty();
                const short events = connection.silenced ? 0 : short((reads ? POLLIN : 0) | (writes ? POLLOUT : 0));
                descriptors.push_back({connection.sockets[side], events, 0});
            }
        }
        if (::poll(descriptors.data(), descriptors.size(), turnMilliseconds) < 0 && errno != EINTR) {
            break;
        }
        for (size_t index = 0; index < m_connections.size(); ++index) {
            Connection &connection = m_connections[index];
            for (int side = 0; side < 2 && !connection.silenced && !connection.broken; ++side) {
                std::vector<char> &pending = connection.pending[side];
                const int from = connection.sockets[side];
                const int to = connection.sockets[1 - side];
                if (!pending.empty() && descriptors[2 + 2 * index - side].revents) {
                    const ssize_t written = ::send(to, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                    pending.erase(pending.begin(), pending.begin() + std::max<ssize_t>(written, 0));
                    connection.broken = failed(written);
                }
                if (pending.empty() && !connection.ended[side] && budgets[side] > 0 &&
                    descriptors[1 + 2 * index + side].revents) {
                    pending.resize(size_t(std::min<uint64_t>(readBytes, budgets[side])));
                    const ssize_t read = ::recv(from, pending.data(), pending.size(), MSG_DONTWAIT);
                    pending.resize(size_t(std::max<ssize_t>(read, 0)));
                    budgets[side] -= pending.size();
                    connection.broken = connection.broken || failed(read);
                    // The other end hears that this one ended, as it would without the relay.
                    if (read == 0) {
                        connection.ended[side] = true;
                        ::shutdown(to, SHUT_WR);
                    }
                }
            }
        }
        std::erase_if(m_connections, [](const Connection &connection) {
            const bool finished = connection.broken || (connection.ended[0] && connection.ended[1] &&
                                                        connection.pending[0].empty() && connection.pending[1].empty());
            if (finished) {
                closeAbruptly(connection.sockets[0]);
                closeAbruptly(connection.sockets[1]);
            }
            return finished;
        });
        if (descriptors[0].revents & POLLIN) {
            acceptOne();
        }
    }
    closeConnections();
}

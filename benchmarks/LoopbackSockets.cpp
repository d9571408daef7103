#include "LoopbackSockets.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrine::benchmarks {

void Descriptor::reset()
{
    if (m_value >= 0) {
        ::close(m_value);
    }
    m_value = -1;
}

std::pair<Descriptor, Descriptor> loopbackConnection()
{
    const auto fail = [](const char *what) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    };
    const Descriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto *generic = reinterpret_cast<sockaddr *>(&address);
    if (::bind(listener.get(), generic, sizeof address) != 0 || ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), generic, &length) != 0) {
        fail("cannot listen on loopback");
    }
    Descriptor client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(client.get(), generic, sizeof address) != 0) {
        fail("cannot connect on loopback");
    }
    Descriptor server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (server.get() < 0) {
        fail("cannot accept on loopback");
    }
    const int enabled = 1;
    ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof enabled);
    ::setsockopt(server.get(), IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof enabled);
    return {std::move(client), std::move(server)};
}

} // namespace tavrine::benchmarks

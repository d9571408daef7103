#include "ADBServerProbe.h"

#include "ADBServerController.h"

#include <QList>

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr quint16 usualServerPort = 5037;

// A socket connected to the loopback address at `port`, or -1 when nothing accepts there.
int connectedToLoopback(quint16 port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

} // namespace

bool isAcceptingOnLoopback(quint16 port)
{
    const int socket = connectedToLoopback(port);
    if (socket < 0)
        return false;
    ::close(socket);
    return true;
}

PortListener listenerOnLoopback(quint16 port, std::chrono::milliseconds answerBound)
{
    const int socket = connectedToLoopback(port);
    if (socket < 0)
        return PortListener::nobody;
    // An adb request: four hexadecimal digits of length, then the service's name.
    static constexpr char request[] = "000chost:version";
    const bool sent = ::send(socket, request, sizeof request - 1, MSG_NOSIGNAL) == ssize_t(sizeof request - 1);
    char answer[4] = {};
    qsizetype received = 0;
    const auto deadline = std::chrono::steady_clock::now() + answerBound;
    while (sent && received < qsizetype(sizeof answer)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{socket, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0)
            break;
        const ssize_t count = ::recv(socket, answer + received, sizeof answer - received, 0);
        if (count <= 0)
            break;
        received += count;
    }
    ::close(socket);
    return received == qsizetype(sizeof answer) && std::memcmp(answer, "OKAY", sizeof answer) == 0
               ? PortListener::adbServer
               : PortListener::otherProgram;
}

bool isOtherADBServerRunning(const QProcessEnvironment &environment)
{
    QList<quint16> ports{usualServerPort};
    bool isNumber = false;
    const uint configured = environment.value(QStringLiteral("ANDROID_ADB_SERVER_PORT")).toUInt(&isNumber);
    if (isNumber && configured > 0 && configured <= 0xFFFF && configured != usualServerPort)
        ports.append(quint16(configured));
    for (const quint16 port : ports) {
        if (port != ADBServerController::privatePort && isAcceptingOnLoopback(port))
            return true;
    }
    return false;
}

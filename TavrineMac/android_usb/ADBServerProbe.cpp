#include "ADBServerProbe.h"

#include "ADBServerController.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr quint16 usualServerPort = 5037;

} // namespace

bool isAcceptingOnLoopback(quint16 port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(socket);
    return connected;
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

#pragma once

#include <QProcessEnvironment>
#include <QtGlobal>

#include <chrono>

// Whether an adb server other than the private one listens on this computer: on adb's usual port 5037, or on the
// port "ANDROID_ADB_SERVER_PORT" names. On Linux an adb server lists a phone only once it has claimed the phone's
// USB interface, so while such a server (an IDE's, a mirroring tool's) holds a phone, ours never lists it.
bool isOtherADBServerRunning(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// Whether something accepts connections on the loopback address at `port`. The connection is accepted or refused at
// once; nothing is sent on it.
bool isAcceptingOnLoopback(quint16 port);

// Who accepts connections on the loopback address at a port.
enum class PortListener
{
    nobody,
    adbServer,
    otherProgram,
};

// Asks whoever listens on the loopback address at `port` for its version, as an adb client does ("host:version"),
// and waits at most `answerBound` for an adb server's "OKAY". Blocks its thread meanwhile.
PortListener listenerOnLoopback(quint16 port, std::chrono::milliseconds answerBound);

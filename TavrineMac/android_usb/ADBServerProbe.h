#pragma once

#include <QProcessEnvironment>
#include <QtGlobal>

// Whether an adb server other than the private one listens on this computer: on adb's usual port 5037, or on the
// port "ANDROID_ADB_SERVER_PORT" names. On Linux an adb server lists a phone only once it has claimed the phone's
// USB interface, so while such a server (an IDE's, a mirroring tool's) holds a phone, ours never lists it.
bool isOtherADBServerRunning(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// Whether something accepts connections on the loopback address at `port`. The connection is accepted or refused at
// once; nothing is sent on it.
bool isAcceptingOnLoopback(quint16 port);

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A program on this computer that listens for connections on a port, as the system names it.
struct ListeningProgram
{
    QString name;
    qint64 processID = 0;

    bool operator==(const ListeningProgram &) const = default;
};

// The program that listens on TCP `port` (on any address, IPv4 or IPv6), found in /proc as far as this user may look
// into other processes; nothing when none is found. Best effort and bounded: it reads at most a few megabytes of the
// socket tables and looks at a bounded number of processes and of their open files.
std::optional<ListeningProgram> findListeningProgram(quint16 port);

// The inodes of the listening sockets on `port` in `table`, a socket table as /proc/net/tcp and /proc/net/tcp6 write
// it. Lines that are not of that form are skipped.
QList<quint64> listeningSocketInodes(const QByteArray &table, quint16 port);

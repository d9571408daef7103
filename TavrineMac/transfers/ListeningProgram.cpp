#include "ListeningProgram.h"

#include "HiddenCharacters.h"

#include <QFile>
#include <QSet>

#include <algorithm>

#include <dirent.h>
#include <unistd.h>

namespace {

// Tens of thousands of sockets take a few megabytes; more is not read.
constexpr qint64 maximumTableBytes = 8 * 1024 * 1024;
constexpr int maximumProcesses = 20'000;
constexpr int maximumOpenFilesLookedAt = 400'000;
// The kernel keeps a process name to 15 bytes.
constexpr qint64 maximumNameBytes = 64;
// The socket's state in the tables: listening.
constexpr int listenState = 0x0A;

QByteArray readBounded(const char *path, qint64 maximumBytes)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // The files of /proc tell no size: they are read until they end.
    QByteArray contents;
    while (contents.size() < maximumBytes) {
        const QByteArray part = file.read(std::min<qint64>(64 * 1024, maximumBytes - contents.size()));
        if (part.isEmpty()) {
            break;
        }
        contents += part;
    }
    return contents;
}

bool isNumber(const char *text)
{
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

// The name of the next entry of `folder` that is a number (a process, an open file), or nothing at its end.
const char *nextNumberedEntry(DIR *folder)
{
    while (const dirent *entry = ::readdir(folder)) {
        if (isNumber(entry->d_name)) {
            return entry->d_name;
        }
    }
    return nullptr;
}

// The process holding one of the sockets `inodes` among its open files.
std::optional<qint64> processHoldingSocket(const QSet<quint64> &inodes)
{
    DIR *processes = ::opendir("/proc");
    if (!processes) {
        return std::nullopt;
    }
    QSet<QByteArray> wanted;
    for (const quint64 inode : inodes) {
        wanted.insert("socket:[" + QByteArray::number(inode) + ']');
    }
    std::optional<qint64> holder;
    int processesSeen = 0;
    int filesSeen = 0;
    while (!holder && processesSeen < maximumProcesses && filesSeen < maximumOpenFilesLookedAt) {
        const char *process = nextNumberedEntry(processes);
        if (!process) {
            break;
        }
        ++processesSeen;
        const QByteArray fdFolder = QByteArray("/proc/") + process + "/fd";
        // Another user's process is closed to us: it is simply not looked at.
        DIR *files = ::opendir(fdFolder.constData());
        if (!files) {
            continue;
        }
        while (filesSeen < maximumOpenFilesLookedAt) {
            const char *file = nextNumberedEntry(files);
            if (!file) {
                break;
            }
            ++filesSeen;
            char target[64];
            const ssize_t length = ::readlink((fdFolder + '/' + file).constData(), target, sizeof target - 1);
            if (length > 0 && wanted.contains(QByteArray(target, length))) {
                holder = QByteArray(process).toLongLong();
                break;
            }
        }
        ::closedir(files);
    }
    ::closedir(processes);
    return holder;
}

} // namespace

QList<quint64> listeningSocketInodes(const QByteArray &table, quint16 port)
{
    // "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ...", then
    // one line per socket, its local address as hexadecimal address ':' port.
    QList<quint64> inodes;
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QList<QByteArray> fields = lines[index].simplified().split(' ');
        if (fields.size() < 10) {
            continue;
        }
        const QList<QByteArray> local = fields[1].split(':');
        bool portRead = false;
        bool stateRead = false;
        bool inodeRead = false;
        const uint localPort = local.size() == 2 ? local[1].toUInt(&portRead, 16) : 0;
        const int state = fields[3].toInt(&stateRead, 16);
        const quint64 inode = fields[9].toULongLong(&inodeRead);
        if (portRead && stateRead && inodeRead && localPort == port && state == listenState && inode != 0) {
            inodes.append(inode);
        }
    }
    return inodes;
}

std::optional<ListeningProgram> findListeningProgram(quint16 port)
{
    QSet<quint64> inodes;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        for (const quint64 inode : listeningSocketInodes(readBounded(table, maximumTableBytes), port)) {
            inodes.insert(inode);
        }
    }
    if (inodes.isEmpty()) {
        return std::nullopt;
    }
    const std::optional<qint64> processID = processHoldingSocket(inodes);
    if (!processID) {
        return std::nullopt;
    }
    const QByteArray commPath = "/proc/" + QByteArray::number(*processID) + "/comm";
    QString name = QString::fromUtf8(readBounded(commPath.constData(), maximumNameBytes)).trimmed();
    // The name is the program's own choice: it is shown, never read as anything else.
    name.removeIf([](QChar character) { return isHiddenCharacter(character.unicode()); });
    return ListeningProgram{name, *processID};
}

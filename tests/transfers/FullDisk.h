#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cerrno>
#include <csignal>
#include <optional>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

// Two ways to make the disk refuse writes in a test, each as the system really does it.

// A limit on the size of every file this process writes (RLIMIT_FSIZE): a write past it fails with EFBIG, as a full
// disk fails with ENOSPC. Works without privileges; lifted when it goes.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        // Past the limit the system also sends SIGXFSZ, which would end the process.
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limited = m_previous;
        limited.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isActive() const { return m_active; }

private:
    rlimit m_previous = {};
    void (*m_previousHandler)(int) = SIG_DFL;
    bool m_active = false;
};

// A small tmpfs at `mountPoint`, mounted in a mount namespace of this process's own, so that no other process sees
// it and it goes with the process. It can only be had where the process may mount: as the superuser, or in a user
// namespace of its own (which the system grants only to a process with one thread). Unmounted when it goes.
class SmallFileSystem
{
public:
    SmallFileSystem(const QString &mountPoint, int kibibytes) : m_mountPoint(QFile::encodeName(mountPoint))
    {
        if (!enterPrivateMountNamespace()) {
            return;
        }
        const QByteArray options = "size=" + QByteArray::number(kibibytes) + "k,mode=0700";
        m_mounted = ::mount("tmpfs", m_mountPoint.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted) {
            ::umount2(m_mountPoint.constData(), MNT_DETACH);
        }
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool isMounted() const { return m_mounted; }

    // Takes every free block but `spareBytes` with the file `name` inside it; true when the file system is that full.
    bool fill(const QString &name = QStringLiteral("filler"), int spareBytes = 0) const
    {
        const QByteArray spare = m_mountPoint + "/spare";
        if (spareBytes > 0 && !writeText(spare.constData(), QByteArray(spareBytes, 's'))) {
            return false;
        }
        const QByteArray path = m_mountPoint + '/' + QFile::encodeName(name);
        const int file = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (file < 0) {
            return false;
        }
        const QByteArray block(4096, 'x');
        while (::write(file, block.constData(), size_t(block.size())) > 0) {
        }
        const bool full = errno == ENOSPC;
        ::close(file);
        return full && (spareBytes == 0 || ::unlink(spare.constData()) == 0);
    }

private:
    static bool enterPrivateMountNamespace()
    {
        if (::unshare(CLONE_NEWNS) != 0) {
            const uid_t user = ::getuid();
            const gid_t group = ::getgid();
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
                return false;
            }
            writeText("/proc/self/setgroups", "deny");
            writeText("/proc/self/uid_map", "0 " + QByteArray::number(user) + " 1");
            writeText("/proc/self/gid_map", "0 " + QByteArray::number(group) + " 1");
        }
        // Mounts made here must not spread to the namespace this one was copied from.
        return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }
    static bool writeText(const char *path, const QByteArray &text)
    {
        QFile file(QString::fromLatin1(path));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush();
    }

    QByteArray m_mountPoint;
    bool m_mounted = false;
};

// A disk that refuses writes as a test table's row says: "full", a small file system mounted over `folder` and filled
// (only where the process may mount one), "nearly full", the same with 4 KiB left, where a larger write is cut short
// before it fails, or "limit", the file size limit of 4 KiB.
class RefusingDisk
{
public:
    // The rows of a table whose one column says how the disk refuses.
    static void addRows()
    {
        const TestTable<QString> rows;
        rows("full file system", QStringLiteral("full"));
        rows("nearly full file system", QStringLiteral("nearly full"));
        rows("file size limit", QStringLiteral("limit"));
    }
    static QString fetch() { return std::get<0>(TestTable<QString>::fetch()); }

    RefusingDisk(const QString &refusal, const QString &folder) : m_refusal(refusal)
    {
        if (isFull()) {
            m_small.emplace(folder, 64);
        }
    }

    // A file system out of room, as opposed to a limit of this process.
    bool isFull() const { return m_refusal != QStringLiteral("limit"); }
    // False where the process may not mount a file system: the test skips then.
    bool isAvailable() const { return !isFull() || m_small->isMounted(); }
    // Until `allow()`, a write of more than what is on disk now fails.
    bool refuse()
    {
        if (isFull()) {
            return m_small->fill(QStringLiteral("filler"), m_refusal == QStringLiteral("nearly full") ? 4096 : 0);
        }
        m_limit.emplace(4096);
        return m_limit->isActive();
    }
    // Lifts the file size limit; a full file system stays full.
    void allow() { m_limit.reset(); }

private:
    QString m_refusal;
    std::optional<SmallFileSystem> m_small;
    std::optional<FileSizeLimit> m_limit;
};

#include "FolderWatch.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr uint32_t watchedEvents = IN_ATTRIB | IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

} // namespace

FolderWatch::FolderWatch(bool enabled) : m_descriptor(enabled ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1) {}

FolderWatch::~FolderWatch()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

int FolderWatch::watch(const QByteArray &path, bool followLink)
{
    if (m_descriptor < 0) {
        return -1;
    }
    const int watch =
        ::inotify_add_watch(m_descriptor, path.constData(), watchedEvents | (followLink ? 0 : IN_DONT_FOLLOW));
    return watch >= 0 ? watch : -1;
}

void FolderWatch::unwatch(int watch)
{
    if (m_descriptor >= 0 && watch >= 0) {
        ::inotify_rm_watch(m_descriptor, watch);
    }
}

FolderWatch::Changes FolderWatch::take()
{
    Changes changes;
    if (m_descriptor < 0) {
        return changes;
    }
    alignas(inotify_event) std::array<char, 64 * 1024> buffer;
    while (true) {
        const ssize_t read = ::read(m_descriptor, buffer.data(), buffer.size());
        if (read <= 0) {
            // Nothing more to read (EAGAIN); any other failure may have lost changes.
            changes.lost = changes.lost || (read < 0 && errno != EAGAIN && errno != EINTR);
            if (read < 0 && errno == EINTR) {
                continue;
            }
            return changes;
        }
        for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= read;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + offset, sizeof(event));
            offset += ssize_t(sizeof(inotify_event) + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                changes.lost = true;
            } else if (event.mask & (IN_IGNORED | IN_MOVE_SELF)) {
                changes.ended.append(event.wd);
            } else {
                changes.changed.append(event.wd);
            }
        }
    }
}

#pragma once

#include <QByteArray>
#include <QList>

// Tells which folders changed since it was last asked: a name in the folder added, removed or renamed, a file in it
// written or its attributes changed, or the folder itself moved or removed (inotify). A watch follows its folder,
// not its path. A change made only through a hard link in another folder is not seen.
class FolderWatch
{
public:
    // One that is not `enabled` watches nothing.
    explicit FolderWatch(bool enabled = true);
    ~FolderWatch();
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    // The watch of the folder at `path`, the same for a folder watched already; -1 when it cannot be watched (the
    // system's limit of watches reached, say). Only the storage folder itself is followed through a link.
    int watch(const QByteArray &path, bool followLink);
    void unwatch(int watch);

    struct Changes
    {
        QList<int> changed; // folders changed (may repeat)
        QList<int> ended;   // watches that watch nothing any more: their folders went, or were moved
        bool lost = false;  // more changed than could be told: every folder may have changed
    };
    // What changed since the last call.
    Changes take();

private:
    int m_descriptor = -1;
};

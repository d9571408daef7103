#pragma once

#include <cerrno>
#include <memory>

namespace tavrine::core {

// Makes what was written durable, so that a power cut cannot take back a file reported as received: its bytes before
// it takes its name, and the name itself once it stands in its folder. Tests put a recorder in place of the system's.
class FileSync
{
public:
    virtual ~FileSync() = default;

    // The bytes (and the size) of the open file `file`. False, with errno set, when the system could not write them.
    virtual bool syncData(int file) = 0;
    // The names in the open folder `folder`, so that a file placed or renamed there stays so. False, with errno set,
    // on failure; `folderSyncLosesNothing` tells which failures leave nothing at stake.
    virtual bool syncFolder(int folder) = 0;

    // The system's own: it waits until the disk holds what was asked.
    static std::shared_ptr<FileSync> system();
};

// Whether a folder whose names could not be synced, with the error `error`, still keeps what was placed in it. Some
// file systems (network and shared-folder ones among them) keep no folder that could be synced and answer EINVAL or
// EOPNOTSUPP: a name placed there is as lasting as they make it, and refusing the file for it would receive nothing
// on such a disk. Every other failure (EIO, ENOSPC, …) may have lost the name.
inline bool folderSyncLosesNothing(int error) noexcept
{
    return error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP;
}

} // namespace tavrine::core

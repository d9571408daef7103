#pragma once

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
    // on failure.
    virtual bool syncFolder(int folder) = 0;

    // The system's own: it waits until the disk holds what was asked.
    static std::shared_ptr<FileSync> system();
};

} // namespace tavrine::core

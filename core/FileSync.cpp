#include "FileSync.h"

#include <cerrno>

#include <unistd.h>

namespace tavrine::core {

namespace {

template <typename Call> bool retryingInterruptions(Call &&call)
{
    int result = -1;
    do {
        result = call();
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

class SystemFileSync : public FileSync
{
public:
    bool syncData(int file) override
    {
#ifdef __linux__
        return retryingInterruptions([file] { return ::fdatasync(file); });
#else
        return retryingInterruptions([file] { return ::fsync(file); });
#endif
    }

    bool syncFolder(int folder) override
    {
        return retryingInterruptions([folder] { return ::fsync(folder); });
    }
};

} // namespace

std::shared_ptr<FileSync> FileSync::system()
{
    static const std::shared_ptr<FileSync> sync = std::make_shared<SystemFileSync>();
    return sync;
}

} // namespace tavrine::core

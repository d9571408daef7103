#include "FileNames.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrine::core {

namespace {

constexpr size_t maximumNameBytes = 255;
constexpr int maximumAttempts = 10'000;

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(const std::string &text, size_t bytes)
{
    if (text.size() <= bytes) {
        return text;
    }
    size_t end = bytes;
    while (end > 0 && (uint8_t(text[end]) & 0xc0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::string withinLimit(const std::string &stem, const std::string &suffix)
{
    if (stem.size() + suffix.size() <= maximumNameBytes) {
        return stem + suffix;
    }
    if (suffix.size() >= maximumNameBytes / 2) {
        return cutUtf8(stem + suffix, maximumNameBytes);
    }
    return cutUtf8(stem, maximumNameBytes - suffix.size()) + suffix;
}

void trimEnds(std::string &name)
{
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.pop_back();
    }
    const size_t first = name.find_first_not_of(' ');
    name.erase(0, first == std::string::npos ? name.size() : first);
}

bool isSameFile(const struct stat &left, const struct stat &right)
{
    return left.st_dev == right.st_dev && left.st_ino == right.st_ino;
}

// Removes what stands under `name`, file or (empty) folder alike.
void removeName(int directory, const std::string &name)
{
    if (::unlinkat(directory, name.c_str(), 0) != 0 && errno == EISDIR) {
        ::unlinkat(directory, name.c_str(), AT_REMOVEDIR);
    }
}

} // namespace

std::string sanitizedFileName(const std::string &name)
{
    std::string base = validUtf8(name);
    if (const size_t slash = base.find_last_of("/\\"); slash != std::string::npos) {
        base = base.substr(slash + 1);
    }
    std::string cleaned;
    for (const char character : base) {
        const auto byte = uint8_t(character);
        cleaned.push_back(byte < 0x20 || byte == 0x7f ? '_' : character);
    }
    // Names of this form belong to the inbox's own bookkeeping and partial files.
    if (cleaned.rfind(".tavrine-", 0) == 0) {
        cleaned[0] = '_';
    }
    trimEnds(cleaned);
    const size_t dot = cleaned.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    std::string limited =
        withinLimit(hasExtension ? cleaned.substr(0, dot) : cleaned, hasExtension ? cleaned.substr(dot) : "");
    // Cutting can leave an end that trimming removes, or nothing at all: the fallback comes last.
    trimEnds(limited);
    return limited.empty() ? "file" : limited;
}

bool writeFully(int descriptor, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(size_t(written));
    }
    return true;
}

bool copyFileContents(int from, int to, uint64_t size)
{
    off_t read = 0;
    off_t written = 0;
    // Within the kernel, and as a shared extent where the file system offers it.
    while (uint64_t(read) < size) {
        const ssize_t copied = ::copy_file_range(from, &read, to, &written, size_t(size - uint64_t(read)), 0);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied == 0) {
            errno = EIO;
            return false;
        }
        if (copied < 0) {
            break;
        }
    }
    // Where the two files cannot be copied between that way: through a buffer.
    std::string buffer(std::min<uint64_t>(size - uint64_t(read), 1024 * 1024), '\0');
    while (uint64_t(read) < size) {
        const ssize_t count =
            ::pread(from, buffer.data(), size_t(std::min<uint64_t>(buffer.size(), size - uint64_t(read))), read);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            errno = count == 0 ? EIO : errno;
            return false;
        }
        for (ssize_t done = 0; done < count;) {
            const ssize_t put = ::pwrite(to, buffer.data() + done, size_t(count - done), written);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                errno = put == 0 ? EIO : errno;
                return false;
            }
            done += put;
            written += put;
        }
        read += count;
    }
    return true;
}

int openPartialFile(int directory, const std::string &name)
{
    struct stat folder
    {
    };
    if (::fstat(directory, &folder) != 0) {
        return -1;
    }
    // Non-blocking, so that a pipe planted under the name cannot hold the link up; it is refused below anyway.
    constexpr int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int file = ::openat(directory, name.c_str(), flags | (attempt == 0 ? O_CREAT : O_CREAT | O_EXCL), 0666);
        struct stat status
        {
        };
        if (file >= 0 && ::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 &&
            status.st_uid == ::geteuid() && status.st_dev == folder.st_dev) {
            ::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK);
            return file;
        }
        const int error = file >= 0 ? EPERM : errno;
        if (file >= 0) {
            ::close(file);
        }
        if (error != ELOOP && error != EPERM && error != EISDIR && error != ENXIO && error != EEXIST) {
            errno = error;
            return -1;
        }
        removeName(directory, name);
        errno = error;
    }
    return -1;
}

std::optional<std::string> placeWithoutOverwriting(int directory, int file, const std::string &partialName,
                                                   const std::string &fileName)
{
    struct stat opened
    {
    };
    if (::fstat(file, &opened) != 0) {
        return std::nullopt;
    }
    const std::string openedPath = "/proc/self/fd/" + std::to_string(file);
    const size_t dot = fileName.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? fileName.substr(0, dot) : fileName;
    const std::string extension = hasExtension ? fileName.substr(dot) : "";
    bool hardLinks = true;
    for (int attempt = 0; attempt < maximumAttempts; ++attempt) {
        const std::string candidate =
            attempt == 0 ? fileName : withinLimit(stem, " (" + std::to_string(attempt) + ")" + extension);
        // A hard link never replaces an existing name, unlike a plain rename, and linking the opened file
        // itself places exactly the bytes that were checked.
        if (hardLinks) {
            if (::linkat(AT_FDCWD, openedPath.c_str(), directory, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                struct stat partial
                {
                };
                if (::fstatat(directory, partialName.c_str(), &partial, AT_SYMLINK_NOFOLLOW) == 0 &&
                    isSameFile(partial, opened)) {
                    ::unlinkat(directory, partialName.c_str(), 0);
                }
                return candidate;
            }
            if (errno == EEXIST) {
                continue;
            }
            hardLinks = false;
        }
        // Where the file system has no hard links: a rename that refuses to replace, of the partial name only
        // while it still is the opened file.
        struct stat partial
        {
        };
        if (::fstatat(directory, partialName.c_str(), &partial, AT_SYMLINK_NOFOLLOW) != 0 ||
            !isSameFile(partial, opened)) {
            errno = ENOENT;
            return std::nullopt;
        }
        if (::renameat2(directory, partialName.c_str(), directory, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            return candidate;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    errno = EEXIST;
    return std::nullopt;
}

} // namespace tavrine::core

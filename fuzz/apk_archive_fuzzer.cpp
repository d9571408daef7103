// A whole file as the APK inspector reads its ZIP central directory, from memory and from a file read piece by
// piece. Damaged bytes must fail with the inspector's own error, the same way both ways; whatever passes must list
// names that the format can hold.
#include "APKArchiveInspector.h"
#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <optional>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// The names, or nothing when the archive is refused as corrupt.
template <typename Archive> std::optional<QStringList> entryNames(const Archive &archive)
{
    try {
        return APKArchiveInspector::centralDirectoryEntryNames(archive);
    } catch (const APKValidationError &error) {
        requirePromise(error.errorCase() == APKValidationError::Case::corruptArchive, "only corrupt archives fail");
        return std::nullopt;
    }
}

// The names read from a file that holds the bytes.
std::optional<QStringList> entryNamesOfFile(const uint8_t *data, size_t size)
{
    static const int file = memfd_create("apk", MFD_CLOEXEC);
    requirePromise(file >= 0 && ftruncate(file, 0) == 0, "a file for the archive");
    for (size_t written = 0; written < size;) {
        const ssize_t count = pwrite(file, data + written, size - written, off_t(written));
        requirePromise(count > 0, "the archive written");
        written += size_t(count);
    }
    return entryNames(file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView archive(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QStringList> names = entryNames(archive);
    requirePromise(entryNamesOfFile(data, size) == names, "a file reads as its bytes do");
    if (!names) {
        return 0;
    }
    // Each entry takes at least 46 bytes of the directory plus its name, and the count field has 16 bits.
    requirePromise(names->size() < 0xFFFF && qsizetype(size) >= 22 + 47 * names->size(), "entries fit the file");
    for (const QString &name : *names) {
        const QByteArray bytes = name.toUtf8();
        requirePromise(!bytes.isEmpty() && bytes.size() <= 0xFFFF, "names are 1 to 65535 bytes");
        requirePromise(archive.indexOf(bytes) >= 0, "names are bytes of the file");
    }
    return 0;
}

// A whole file as the APK inspector reads its ZIP central directory. Damaged bytes must fail with the
// inspector's own error; whatever passes must list names that the format can hold.
#include "APKArchiveInspector.h"
#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView archive(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList names;
    try {
        names = APKArchiveInspector::centralDirectoryEntryNames(archive);
    } catch (const APKValidationError &error) {
        requirePromise(error.errorCase() == APKValidationError::Case::corruptArchive, "only corrupt archives fail");
        return 0;
    }
    // Each entry takes at least 46 bytes of the directory plus its name, and the count field has 16 bits.
    requirePromise(names.size() < 0xFFFF && qsizetype(size) >= 22 + 47 * names.size(), "entries fit the file");
    for (const QString &name : std::as_const(names)) {
        const QByteArray bytes = name.toUtf8();
        requirePromise(!bytes.isEmpty() && bytes.size() <= 0xFFFF, "names are 1 to 65535 bytes");
        requirePromise(archive.indexOf(bytes) >= 0, "names are bytes of the file");
    }
    return 0;
}

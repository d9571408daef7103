// The phone's answers to management actions, as the desktop decodes them: the first byte picks the record,
// the rest is the answer text. A damaged answer must fail with the decoder's error, whatever decodes must
// survive being encoded and decoded again unchanged, no item it lists has a name longer than a file system
// allows, and no application a text longer than its bound.
#include "FuzzCheck.h"
#include "ManagedContentModel.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

bool fits(const QString &text, qsizetype maximumBytes = maximumFileNameBytes)
{
    return text.toUtf8().size() <= maximumBytes;
}

template <typename Record> bool namesFit(const Record &)
{
    return true;
}

bool namesFit(const ManagedFilePage &page)
{
    return std::all_of(page.entries.cbegin(), page.entries.cend(), [](const auto &entry) { return fits(entry.name); });
}

bool namesFit(const ManagedTrashPage &page)
{
    return std::all_of(page.entries.cbegin(), page.entries.cend(),
                       [](const auto &entry) { return fits(entry.originalName); });
}

bool namesFit(const ManagedMediaPage &page)
{
    return std::all_of(page.items.cbegin(), page.items.cend(), [](const auto &item) { return fits(item.name); });
}

bool namesFit(const ManagedApplicationPage &page)
{
    return std::all_of(page.applications.cbegin(), page.applications.cend(), [](const auto &application) {
        return fits(application.packageName, maximumPackageNameBytes) &&
               fits(application.name, maximumApplicationTextBytes) &&
               fits(application.versionName, maximumApplicationTextBytes);
    });
}

template <typename Record> void decode(const QString &answer)
{
    Record record;
    try {
        record = decodeManagedAnswer<Record>(answer);
    } catch (const ManagedDecodingError &) {
        return;
    }
    requirePromise(namesFit(record), "a decoded item's texts keep to their bounds");
    const QString encoded = QString::fromUtf8(QJsonDocument(encodeManaged(record)).toJson(QJsonDocument::Compact));
    requirePromise(decodeManagedAnswer<Record>(encoded) == record, "an answer survives encoding");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const QString answer = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (data[0] % 8) {
    case 0:
        decode<ManagedDeviceSnapshot>(answer);
        break;
    case 1:
        decode<ManagedStorageRoots>(answer);
        break;
    case 2:
        decode<ManagedFilePage>(answer);
        break;
    case 3:
        decode<ManagedFileTreePage>(answer);
        break;
    case 4:
        decode<ManagedTrashPage>(answer);
        break;
    case 5:
        decode<ManagedMediaPage>(answer);
        break;
    case 6:
        decode<ManagedMediaThumbnail>(answer);
        break;
    default:
        decode<ManagedApplicationPage>(answer);
        break;
    }
    return 0;
}

// What the phone side reads back from its own folder: the applications file, the entries of its trash index and the
// folders of its uploads. Damaged text must be refused, and whatever is accepted must hold the promises the phone
// relies on (package names of the anchored form; trash entries whose path stays inside the storage folder; no more
// upload folders than it saves) and survive being written and read again.
#include "ApplicationInventory.h"
#include "FuzzCheck.h"
#include "PhoneTrash.h"
#include "SavedUploadFolders.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] % 3 == 2) {
        const std::optional<SavedUploadFolders::Contents> contents = SavedUploadFolders::parse(bytes);
        if (contents) {
            requirePromise(qsizetype(contents->folders.size()) <= SavedUploadFolders::maximumEntries,
                           "no more upload folders are read than are kept");
            for (const auto &[transferId, folderId] : contents->folders) {
                requirePromise(!transferId.isEmpty() && !folderId.isEmpty(), "an upload folder names its transfer");
            }
        }
        return 0;
    }
    if (data[0] % 3 == 0) {
        const std::optional<QList<ManagedApplication>> applications = ApplicationInventory::parse(bytes);
        for (const ManagedApplication &application : applications.value_or(QList<ManagedApplication>())) {
            requirePromise(ApplicationInventory::isPackageName(application.packageName),
                           "an accepted application has a package name");
        }
        return 0;
    }
    const std::optional<PhoneTrashEntry> entry = PhoneTrashEntry::fromJson(QJsonDocument::fromJson(bytes).object());
    if (entry) {
        requirePromise(PhoneTrash::isEntryId(entry->id), "an accepted trash entry has a trash id");
        requirePromise(!entry->originalPath.startsWith(u'/') && !entry->originalPath.split(u'/').contains(u".."),
                       "an accepted trash entry stays inside the storage folder");
        requirePromise(PhoneTrashEntry::fromJson(entry->toJson()) == entry, "a trash entry survives being written");
    }
    return 0;
}

#pragma once

#include "ManagedContentModel.h"

#include <QMimeData>
#include <QPointer>
#include <QString>

#include <chrono>
#include <optional>

class DeviceManagementStore;

// The error of a phone file that could not be made ready for a drag.
struct FileExportError
{
    QString domain; // "com.drovan.tavrine.file-export"
    int code = 0;   // 1
    QString description;

    bool operator==(const FileExportError &) const = default;
};

FileExportError makeFileExportError();

// The data of a phone file dragged out of the files pane. It offers a file URL but fetches the file only when a
// drop target asks for it: the store's preview download copies it into the preview cache folder, and the target
// receives that copy under the file's name on the phone. The wait is bounded; a file that is not ready in time, or
// cannot be fetched at all, gives no data, which fails the drop.
class PhoneFileMimeData : public QMimeData
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds fetchTimeout{120};

    PhoneFileMimeData(DeviceManagementStore *store, ManagedFileEntry entry,
                      std::chrono::milliseconds timeout = fetchTimeout);

    const ManagedFileEntry &entry() const { return m_entry; }
    // The suggested name of the dragged item: the entry's name.
    QString suggestedName() const { return m_entry.name; }
    // The local copy once fetched; the error once a fetch failed.
    const std::optional<QString> &fetchedPath() const { return m_fetchedPath; }
    const std::optional<FileExportError> &exportError() const { return m_exportError; }

    bool hasFormat(const QString &mimeType) const override;
    QStringList formats() const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    // Waits, with the event loop running, for the store's local copy of the file.
    std::optional<QString> fetch() const;

    QPointer<DeviceManagementStore> m_store;
    ManagedFileEntry m_entry;
    std::chrono::milliseconds m_timeout;
    mutable std::optional<QString> m_fetchedPath;
    mutable std::optional<FileExportError> m_exportError;
    mutable bool m_fetching = false;
};

#include "DeviceManagementStore.h"

#include <QLoggingCategory>
#include <QUuid>

namespace {

Q_LOGGING_CATEGORY(previewLog, "tavrine.device_management.preview")

const QString previewBatchName = QStringLiteral("预览");

} // namespace

QCoro::Task<std::optional<QString>> DeviceManagementStore::previewFile(ManagedFileEntry entry)
{
    // One preview download at a time, whichever file it is for.
    if (entry.directory || !m_activePeerID || m_previewLoadingFileID) {
        co_return std::nullopt;
    }
    const QString peerID = *m_activePeerID;
    if (std::optional<QString> cached = m_filePreviewCache.cachedFilePath(entry, peerID)) {
        co_return cached;
    }
    const quint64 generation = m_sessionGeneration;
    setPreviewLoadingFileID(entry.id);
    setMessage(QStringLiteral("正在准备“") + entry.name + QStringLiteral("”预览…"));
    setErrorMessage(std::nullopt);

    QString delivered;
    try {
        m_filePreviewCache.ensureDirectory();
        const PreparedManagedDownloadFile file{QUuid::createUuid().toString(QUuid::WithoutBraces).toLower(),
                                               entry.id,
                                               entry.name,
                                               entry.size.value_or(0),
                                               ManagedPreviewCache::fileName(entry, peerID),
                                               TransferTaskRecord::DeliveryPurpose::preview,
                                               std::nullopt,
                                               previewBatchName,
                                               std::nullopt};
        // The channel outlives the wait even when the store goes away meanwhile.
        const std::shared_ptr<DeviceManagementChannel> channel = m_channel;
        channel->enqueueManagedDownloads({file}, m_filePreviewCache.directory());
        delivered = co_await channel->waitForManagedDownload(file.transferID);
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
            setPreviewLoadingFileID(std::nullopt);
        }
        co_return std::nullopt;
    }
    if (!isCurrent(generation)) {
        co_return std::nullopt;
    }
    try {
        m_filePreviewCache.prune(delivered);
    } catch (const std::exception &error) {
        // The copy is here and worth showing; the next trim tries again what this one could not finish.
        qCWarning(previewLog) << "could not trim the preview cache:" << error.what();
    }
    setMessage(std::nullopt);
    setPreviewLoadingFileID(std::nullopt);
    co_return delivered;
}

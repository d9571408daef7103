#pragma once

#include "ManagementHandlers.h"
#include "StorageIds.h"
#include "TransferClient.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <optional>

// The management actions that move files between the storage folder and the computer under transfer ids
// the computer chose: "files.prepare_upload" {"transferId", "directoryId"} names the folder that the
// next file received under that transfer id goes into, "files.download" {"id", "transferId"} sends
// a file of the storage folder, and "media.download" {"id", "transferId"} sends one whose contents are a
// photo or video. All answer {} on success.
class ManagedTransferActions
{
public:
    // `client` must outlive this object, and this object the handlers that `addTo` registers.
    ManagedTransferActions(TransferClientProtocol &client, const QString &storageDirectory);
    ManagedTransferActions(const ManagedTransferActions &) = delete;
    ManagedTransferActions &operator=(const ManagedTransferActions &) = delete;

    void addTo(ManagementHandlers &handlers);

    // The folder that the file received under `transferId` goes into: the one prepared for that transfer,
    // which is then forgotten, else the storage folder. Gives nothing, with the reason in `errorMessage`,
    // when the prepared folder is no longer a folder inside the storage.
    std::optional<QString> takeDeliveryFolder(const QString &transferId, QString *errorMessage);

private:
    ManagementAnswer prepareUpload(const QJsonObject &payload);
    ManagementAnswer download(const QJsonObject &payload, bool mediaOnly);

    TransferClientProtocol &m_client;
    QString m_storageDirectory;
    StorageIds m_ids;
    QHash<QString, QString> m_uploadFolderIds; // by transfer id
};

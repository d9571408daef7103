#pragma once

#include "ManagementHandlers.h"
#include "MonotonicClock.h"
#include "StorageIds.h"
#include "TransferClient.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <map>
#include <optional>

// The management actions that move files between the storage folder and the computer under transfer ids
// the computer chose: "files.prepare_upload" {"transferId", "directoryId"} names the folder that the
// next file received under that transfer id goes into, "files.download" {"id", "transferId"} sends
// a file of the storage folder, and "media.download" {"id", "transferId"} sends one whose contents are a
// photo or video. All answer {} on success.
//
// A preparation whose file has not begun to arrive is forgotten after `preparationLifetime`. Beyond
// `maximumPreparations` the oldest go first, those whose file is on its way last. A forgotten transfer is one the
// phone does not know: its file goes into the storage folder.
//
// The newest preparations (those whose file is on its way first) are kept in the storage folder's upload-folders file
// too (SavedUploadFolders), so that a file that was complete in the inbox when the phone stopped goes at its next start
// where the computer sent it; a preparation read back from there is aged anew.
class ManagedTransferActions
{
public:
    static constexpr std::chrono::minutes preparationLifetime{10};
    static constexpr qsizetype maximumPreparations = 10'000;

    // `client` must outlive this object, and this object the handlers that `addTo` registers.
    ManagedTransferActions(TransferClientProtocol &client, const QString &storageDirectory,
                           MonotonicClock clock = steadyNow);
    ManagedTransferActions(const ManagedTransferActions &) = delete;
    ManagedTransferActions &operator=(const ManagedTransferActions &) = delete;

    void addTo(ManagementHandlers &handlers);

    // The folder that the file received under `transferId` goes into: the one prepared for that transfer,
    // which is then forgotten, else the storage folder. Gives nothing, with the reason in `errorMessage`,
    // when the prepared folder is no longer a folder inside the storage.
    std::optional<QString> takeDeliveryFolder(const QString &transferId, QString *errorMessage);

    // Follows a transfer that the phone receives: a prepared one whose file begins to arrive keeps its folder
    // however long the file takes; one that fails or is cancelled is forgotten, since the computer prepares a
    // transfer again after that.
    void followReceivedTransfer(const TransferEvent &event);

private:
    using Deadlines = std::multimap<std::chrono::steady_clock::time_point, QString>; // transfer ids, soonest first

    struct Preparation
    {
        QString folderId;
        Deadlines::iterator deadline;
    };

    ManagementAnswer prepareUpload(const QJsonObject &payload);
    ManagementAnswer download(const QJsonObject &payload, bool mediaOnly);
    void forget(QHash<QString, Preparation>::iterator preparation);
    void forgetStalePreparations();
    void loadSavedPreparations();
    void savePreparation(const QString &transferId, const QString &folderId);

    TransferClientProtocol &m_client;
    QString m_storageDirectory;
    StorageIds m_ids;
    MonotonicClock m_clock;
    QHash<QString, Preparation> m_preparations; // by transfer id
    // A file that has begun to arrive has no deadline: it comes last, and goes only when all else has gone.
    Deadlines m_deadlines;
    qsizetype m_savedLines = 0; // in the upload-folders file
};

#pragma once

#include "ListingSnapshots.h"
#include "ManagementHandlers.h"
#include "MediaLibrary.h"
#include "StorageIds.h"

#include <QJsonObject>
#include <QString>

// The management actions of the phone's photos and videos:
//   "media.list" {"kind": "photo"|"video", "query", "pageToken", "pageSize"} answers one ManagedMediaPage;
//   "media.thumbnail" {"id", "maxDimension"} answers a ManagedMediaThumbnail: a JPEG, turned upright, whose
//   longer side is min(maxDimension, the picture's own), made smaller when its bytes would be more than the
//   computer takes.
class MediaActions
{
public:
    // Largest thumbnails the computer takes: up to a dimension of 1024 (grid tiles), and above (previews).
    static constexpr qint64 maximumTileBytes = 143'360;
    static constexpr qint64 maximumPreviewBytes = 184'320;
    static constexpr int maximumThumbnailDimension = 2048;

    // This object must outlive the handlers that `addTo` registers.
    explicit MediaActions(const QString &storageDirectory);
    MediaActions(const MediaActions &) = delete;
    MediaActions &operator=(const MediaActions &) = delete;

    void addTo(ManagementHandlers &handlers);

    const MediaLibrary &library() const { return m_library; }

private:
    ManagementAnswer list(const QJsonObject &payload);
    // Runs on worker threads, beside the other actions: it reads nothing but what the constructor set.
    ManagementAnswer thumbnail(const QJsonObject &payload) const;

    StorageIds m_ids;
    MediaLibrary m_library;
    // The pages of each listing come from what its first page found.
    ListingSnapshots<ManagedMediaItem> m_listings;
};

#pragma once

#include "ManagedContentModel.h"

#include <QList>
#include <QString>

#include <optional>

// The plain decisions of the photo and video gallery: which state the media content shows, the texts of a tile
// and how a tile is drawn. No widgets here, so every rule is tested headless.

// What the content of the photos and videos categories shows.
enum class MediaGridState
{
    loading, // the loading row
    empty,   // the empty state
    gallery,
};

// The media list is shown only when it is of the requested kind; until then the loading row while a load runs,
// else the empty state.
MediaGridState mediaGridState(bool isLoadingMedia, const std::optional<ManagedMediaKind> &loadedMediaKind,
                              ManagedMediaKind requestedKind, bool hasItems);
// A phone's answer may mix photos and videos; the gallery draws, counts and steps through only the items of the kind
// of the list loaded. A list of no known kind is drawn as it stands.
bool isShownInGallery(const ManagedMediaItem &item, const std::optional<ManagedMediaKind> &loadedMediaKind);
QList<ManagedMediaItem> galleryMediaItems(const QList<ManagedMediaItem> &items,
                                          const std::optional<ManagedMediaKind> &loadedMediaKind);
// "没有照片" / "没有视频" for an empty search, "没有匹配的内容" otherwise.
QString mediaEmptyTitle(ManagedMediaKind kind, const QString &mediaQuery);
// "正在整理照片…" / "正在整理视频…".
QString mediaLoadingText(ManagedMediaKind kind);
// The stored layout text "compact" selects the square-cell grid; any other text the justified rows.
bool isCompactMediaLayout(const QString &layoutRawValue);

// "m:ss" below an hour, "h:mm:ss" from an hour on; negative durations count as 0.
QString mediaDurationText(qint64 milliseconds);
// Width over height as the item is seen, its orientation applied; 1.0 when a side is unknown.
double mediaAspectRatio(const ManagedMediaItem &item);
// The identity of an item's image task: its id, "|" and its modification time (no phone part).
QString mediaTaskKey(const ManagedMediaItem &item);
// "照片，name" or "视频，name".
QString mediaAccessibilityLabel(const ManagedMediaItem &item);
// The system name of the placeholder symbol: "photo" or "film".
QString mediaPlaceholderSymbol(ManagedMediaKind kind);
// The day an item was last changed, without the time, as its tile shows it.
QString mediaDateText(const ManagedMediaItem &item);

struct MediaTileAppearance
{
    enum class Content
    {
        image,
        loading,     // the small progress indicator
        placeholder, // the photo or film symbol
    };
    Content content = Content::placeholder;
    bool showsPlaySymbol = false;
    std::optional<QString> durationText; // the capsule in the bottom-trailing corner

    bool operator==(const MediaTileAppearance &) const = default;
};

MediaTileAppearance mediaTileAppearance(const ManagedMediaItem &item, bool hasImage, bool isLoading);

#pragma once

#include "ManagedContentModel.h"

#include <QList>
#include <QString>

#include <optional>

// The plain decisions of the media preview sheet: the current item, stepping, enablement and which layers show.

// The position in `items` of the first item whose id is `selectedID`; nothing when there is none.
std::optional<qsizetype> mediaPreviewIndex(const QList<ManagedMediaItem> &items,
                                           const std::optional<QString> &selectedID);
// The id that stepping by `offset` from the selected item selects; nothing when it cannot move (no current item,
// offset 0, or past either end: there is no wrap-around).
std::optional<QString> mediaPreviewMoveTarget(const QList<ManagedMediaItem> &items,
                                              const std::optional<QString> &selectedID, qsizetype offset);
bool canShowPreviousMedia(qsizetype index, qsizetype count);
bool canShowNextMedia(qsizetype index, qsizetype count);
// "4000 × 3000  ·  2 MB  ·  date and time"; "未知尺寸" when a side is unknown. The orientation is not applied.
QString mediaPreviewDetailLine(const ManagedMediaItem &item);

struct MediaPreviewAppearance
{
    enum class Picture
    {
        image,
        loading,     // "正在加载高清预览…"
        unavailable, // "无法显示预览"
    };
    Picture picture = Picture::unavailable;
    bool showsLoadingBadge = false; // an image is shown while the large preview is still loading
    bool showsReloadButton = false;

    bool operator==(const MediaPreviewAppearance &) const = default;
};

MediaPreviewAppearance mediaPreviewAppearance(bool hasImage, bool isLoading, bool hasFailed);

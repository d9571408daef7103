#include "MediaPreviewPresentation.h"

#include "LocalNames.h"
#include "MediaGalleryPresentation.h"
#include "ViewDates.h"

std::optional<qsizetype> mediaPreviewIndex(const QList<ManagedMediaItem> &items,
                                           const std::optional<QString> &selectedID)
{
    if (!selectedID || selectedID->isEmpty()) {
        return std::nullopt;
    }
    for (qsizetype index = 0; index < items.size(); ++index) {
        if (items.at(index).id == *selectedID) {
            return index;
        }
    }
    return std::nullopt;
}

std::optional<QString> mediaPreviewMoveTarget(const QList<ManagedMediaItem> &items,
                                              const std::optional<QString> &selectedID, qsizetype offset)
{
    const std::optional<qsizetype> index = mediaPreviewIndex(items, selectedID);
    if (!index || offset == 0) {
        return std::nullopt;
    }
    const qsizetype target = *index + offset;
    if (target < 0 || target >= items.size()) {
        return std::nullopt;
    }
    return items.at(target).id;
}

bool canShowPreviousMedia(qsizetype index, qsizetype count)
{
    return index > 0 && index < count;
}

bool canShowNextMedia(qsizetype index, qsizetype count)
{
    return index >= 0 && index + 1 < count;
}

QString mediaPreviewDetailLine(const ManagedMediaItem &item)
{
    const QString dimensions = item.width >= 1 && item.height >= 1
                                   ? QString::number(item.width) + QStringLiteral(" × ") + QString::number(item.height)
                                   : QStringLiteral("未知尺寸");
    const QString separator = QStringLiteral("  ·  ");
    return dimensions + separator + fileByteCount(item.size) + separator + ViewDates::dateTimeText(item.modifiedAtMillis);
}

MediaPreviewAppearance mediaPreviewAppearance(bool hasImage, bool isLoading, bool hasFailed)
{
    MediaPreviewAppearance appearance;
    if (hasImage) {
        appearance.picture = MediaPreviewAppearance::Picture::image;
    } else if (isLoading) {
        appearance.picture = MediaPreviewAppearance::Picture::loading;
    }
    appearance.showsLoadingBadge = hasImage && isLoading;
    appearance.showsReloadButton = hasFailed;
    return appearance;
}

#include "MediaGalleryPresentation.h"

#include "ViewDates.h"

#include <algorithm>
#include <iterator>

MediaGridState mediaGridState(bool isLoadingMedia, const std::optional<ManagedMediaKind> &loadedMediaKind,
                              ManagedMediaKind requestedKind, bool hasItems)
{
    // A list of the other kind is never shown as this category's media.
    if (loadedMediaKind != requestedKind) {
        return isLoadingMedia ? MediaGridState::loading : MediaGridState::empty;
    }
    return hasItems ? MediaGridState::gallery : MediaGridState::empty;
}

bool isShownInGallery(const ManagedMediaItem &item, const std::optional<ManagedMediaKind> &loadedMediaKind)
{
    return !loadedMediaKind || item.kind == *loadedMediaKind;
}

QList<ManagedMediaItem> galleryMediaItems(const QList<ManagedMediaItem> &items,
                                          const std::optional<ManagedMediaKind> &loadedMediaKind)
{
    QList<ManagedMediaItem> shown;
    shown.reserve(items.size());
    std::copy_if(items.cbegin(), items.cend(), std::back_inserter(shown),
                 [&](const ManagedMediaItem &item) { return isShownInGallery(item, loadedMediaKind); });
    return shown;
}

QString mediaEmptyTitle(ManagedMediaKind kind, const QString &mediaQuery)
{
    if (!mediaQuery.isEmpty()) {
        return QStringLiteral("没有匹配的内容");
    }
    return kind == ManagedMediaKind::photo ? QStringLiteral("没有照片") : QStringLiteral("没有视频");
}

QString mediaLoadingText(ManagedMediaKind kind)
{
    return kind == ManagedMediaKind::photo ? QStringLiteral("正在整理照片…") : QStringLiteral("正在整理视频…");
}

bool isCompactMediaLayout(const QString &layoutRawValue)
{
    return layoutRawValue == QStringLiteral("compact");
}

QString mediaDurationText(qint64 milliseconds)
{
    const qint64 seconds = std::max<qint64>(milliseconds / 1000, 0);
    const auto twoDigits = [](qint64 value) {
        return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
    };
    if (seconds < 3600) {
        return QString::number(seconds / 60) + u':' + twoDigits(seconds % 60);
    }
    return QString::number(seconds / 3600) + u':' + twoDigits(seconds % 3600 / 60) + u':' + twoDigits(seconds % 60);
}

double mediaAspectRatio(const ManagedMediaItem &item)
{
    if (item.width < 1 || item.height < 1) {
        return 1.0;
    }
    qint64 rotation = item.orientationDegrees.value_or(0) % 360;
    if (rotation < 0) {
        rotation += 360;
    }
    const double width = double(item.width);
    const double height = double(item.height);
    return rotation == 90 || rotation == 270 ? height / width : width / height;
}

QString mediaTaskKey(const ManagedMediaItem &item)
{
    return item.id + u'|' + QString::number(item.modifiedAtMillis);
}

QString mediaAccessibilityLabel(const ManagedMediaItem &item)
{
    return (item.kind == ManagedMediaKind::photo ? QStringLiteral("照片") : QStringLiteral("视频")) +
           QStringLiteral("，") + item.name;
}

QString mediaPlaceholderSymbol(ManagedMediaKind kind)
{
    return kind == ManagedMediaKind::photo ? QStringLiteral("photo") : QStringLiteral("film");
}

QString mediaDateText(const ManagedMediaItem &item)
{
    return ViewDates::dateText(item.modifiedAtMillis);
}

MediaTileAppearance mediaTileAppearance(const ManagedMediaItem &item, bool hasImage, bool isLoading)
{
    MediaTileAppearance appearance;
    if (hasImage) {
        appearance.content = MediaTileAppearance::Content::image;
    } else if (isLoading) {
        appearance.content = MediaTileAppearance::Content::loading;
    }
    appearance.showsPlaySymbol = item.kind == ManagedMediaKind::video;
    // The capsule follows the duration, whatever the kind.
    if (item.durationMillis && *item.durationMillis >= 1) {
        appearance.durationText = mediaDurationText(*item.durationMillis);
    }
    return appearance;
}

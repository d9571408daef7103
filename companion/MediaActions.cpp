#include "MediaActions.h"

#include "ActionPayload.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <limits>

namespace {

const QString listAction = QStringLiteral("media.list");
const QString thumbnailAction = QStringLiteral("media.thumbnail");

const QString fileNotFoundMessage = QStringLiteral("找不到这个文件。");
const QString noPreviewMessage = QStringLiteral("无法为这个文件生成预览。");

constexpr std::array jpegQualities = {85, 70, 55, 40, 25};
// Each smaller attempt keeps three quarters of the sides.
constexpr int maximumShrinks = 8;

QByteArray jpegBytes(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    return writer.write(image) ? bytes : QByteArray();
}

// The image as JPEG bytes of at most `maximumBytes`: lower qualities first, then smaller sizes, which
// `image` is left at. Empty when nothing fits.
QByteArray fittingJpeg(QImage &image, qint64 maximumBytes)
{
    for (int shrink = 0; shrink <= maximumShrinks && !image.isNull(); ++shrink) {
        for (const int quality : jpegQualities) {
            QByteArray bytes = jpegBytes(image, quality);
            if (!bytes.isEmpty() && bytes.size() <= maximumBytes) {
                return bytes;
            }
        }
        const QSize smaller = image.size() * 3 / 4;
        if (smaller.width() < 1 || smaller.height() < 1) {
            break;
        }
        image = image.scaled(smaller, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return {};
}

} // namespace

MediaActions::MediaActions(const QString &storageDirectory) : m_ids(storageDirectory), m_library(storageDirectory) {}

void MediaActions::addTo(ManagementHandlers &handlers)
{
    handlers.add(listAction, [this](const QJsonObject &payload) { return list(payload); });
    handlers.addConcurrent(thumbnailAction, [this](const QJsonObject &payload) { return thumbnail(payload); });
}

ManagementAnswer MediaActions::list(const QJsonObject &payload)
{
    const std::optional<ManagedMediaKind> kind =
        managedMediaKindFromRawValue(ActionPayload::text(payload, QStringLiteral("kind")));
    if (!kind) {
        throw ActionPayload::refusal(QStringLiteral("kind"), QStringLiteral("\"photo\" or \"video\""));
    }
    const QString query = ActionPayload::optionalText(payload, QStringLiteral("query"));
    const auto page = m_listings.page(payload, {rawValue(*kind), query},
                                      [this, &kind, &query] { return m_library.items(*kind, query); });
    return ManagementAnswer::succeeded(encodeManaged(ManagedMediaPage{1, page.items, page.nextPageToken}));
}

ManagementAnswer MediaActions::thumbnail(const QJsonObject &payload) const
{
    const QString id = ActionPayload::text(payload, QStringLiteral("id"), ActionPayload::maximumIdLength);
    const qint64 asked = ActionPayload::optionalInteger(payload, QStringLiteral("maxDimension"),
                                                        std::numeric_limits<qint64>::min(), maximumThumbnailDimension);
    const int maxDimension = static_cast<int>(std::clamp<qint64>(asked, 1, maximumThumbnailDimension));

    const StorageIdResult resolved = m_ids.resolve(id);
    const StorageItem *item = std::get_if<StorageItem>(&resolved);
    if (!item || QFileInfo(item->path).isSymLink()) {
        return ManagementAnswer::failed(fileNotFoundMessage);
    }
    QImage image = MediaFile::preview(item->realPath, maxDimension);
    const QByteArray bytes = fittingJpeg(image, maxDimension <= 1024 ? maximumTileBytes : maximumPreviewBytes);
    if (bytes.isEmpty()) {
        return ManagementAnswer::failed(noPreviewMessage);
    }
    return ManagementAnswer::succeeded(encodeManaged(ManagedMediaThumbnail{
        1, id, QStringLiteral("image/jpeg"), image.width(), image.height(), QString::fromLatin1(bytes.toBase64())}));
}

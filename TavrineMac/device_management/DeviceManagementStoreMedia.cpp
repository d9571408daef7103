#include "DeviceManagementStore.h"

#include "BackgroundTask.h"
#include "DeviceManagementRequestError.h"
#include "ManagedPaging.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QPointer>
#include <QUuid>
#include <QtMath>

#include <algorithm>

namespace {

const QString mediaListAction = QStringLiteral("media.list");
const QString mediaThumbnailAction = QStringLiteral("media.thumbnail");
const QString mediaDownloadAction = QStringLiteral("media.download");
const QString jpegMimeType = QStringLiteral("image/jpeg");

// The image of a thumbnail answer, or nothing when the answer is not the JPEG of `itemID` within the bounds.
// Every check that needs no decoding comes first, so oversized data is never decoded. With `shorterSide`, a
// larger picture is decoded straight to the size whose shorter side is that many pixels.
std::optional<QImage> acceptedImage(const ManagedMediaThumbnail &answer, const QString &itemID, qint64 maximumPixels,
                                    qsizetype maximumBytes, int shorterSide)
{
    if (answer.id != itemID || answer.mimeType != jpegMimeType) {
        return std::nullopt;
    }
    const auto withinPixels = [maximumPixels](qint64 pixels) {
        return pixels >= 1 && pixels <= maximumPixels;
    };
    if (!withinPixels(answer.pixelWidth) || !withinPixels(answer.pixelHeight)) {
        return std::nullopt;
    }
    // Four Base64 characters carry three bytes; padded text is a whole number of such groups.
    const qsizetype longestText = (maximumBytes + 2) / 3 * 4;
    const QString &text = answer.dataBase64;
    if (text.isEmpty() || text.size() > longestText || text.size() % 4 != 0) {
        return std::nullopt;
    }
    for (const QChar character : text) {
        if (character.unicode() > 0x7f || character.isSpace()) {
            return std::nullopt;
        }
    }
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        text.toLatin1(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() > maximumBytes) {
        return std::nullopt;
    }
    // A small JPEG can still describe a huge picture: its own size must keep to the same bounds before it is
    // decoded.
    QBuffer buffer;
    buffer.setData(decoded.decoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid() || !withinPixels(size.width()) || !withinPixels(size.height())) {
        return std::nullopt;
    }
    const int shorter = std::min(size.width(), size.height());
    if (shorterSide > 0 && shorter > shorterSide) {
        // The decoder skips the detail the smaller size cannot show, which is most of its work.
        const auto scaled = [shorter, shorterSide](int side) {
            return std::max(1, int((qint64(side) * shorterSide + shorter / 2) / shorter));
        };
        reader.setScaledSize(QSize(scaled(size.width()), scaled(size.height())));
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return std::nullopt;
    }
    return image;
}

} // namespace

// What differs between a gallery thumbnail and a large preview.
struct DeviceManagementStore::ImageRequest
{
    ImageMemoryCache DeviceManagementStore::*cache;
    MediaRequestQueue DeviceManagementStore::*queue;
    QSet<QString> DeviceManagementStore::*loadingKeys;
    QSet<QString> DeviceManagementStore::*failedKeys;
    qint64 maximumPixels;
    qsizetype maximumBytes;
    QString refusal; // the error of an answer that fails the checks
    int keptShorterSide; // the image is kept at this shorter side when it is larger; 0: as it came
};

QCoro::Task<void> DeviceManagementStore::loadMedia(ManagedMediaKind kind)
{
    const quint64 generation = m_sessionGeneration;
    if (!m_channel->isConnected()) {
        co_return;
    }
    // A load already running is superseded, not waited for: only the newest one publishes.
    const quint64 mediaRequest = ++m_mediaRequestGeneration;
    const auto isNewest = [this, generation, mediaRequest] {
        return isCurrent(generation) && mediaRequest == m_mediaRequestGeneration;
    };
    setIsLoadingMedia(true);
    setErrorMessage(std::nullopt);
    // Every page answers the same search, even when the search text changes while the pages arrive.
    const QString query = m_mediaQuery;
    QList<ManagedMediaItem> gathered;
    ManagedPaging paging(ManagedPaging::Listing::media);
    try {
        while (true) {
            const QJsonObject payload{{QStringLiteral("kind"), ::rawValue(kind)},
                                      {QStringLiteral("query"), query},
                                      {QStringLiteral("pageToken"), paging.pageToken()},
                                      {QStringLiteral("pageSize"), pageSize}};
            const QString answer = co_await requestText(mediaListAction, payload);
            const auto page = paging.read<ManagedMediaPage>(answer);
            if (!isNewest()) {
                co_return;
            }
            gathered.append(page.items);
            if (gathered.size() >= maximumListedEntries || !paging.advance(page.nextPageToken)) {
                break;
            }
        }
    } catch (...) {
        if (isNewest()) {
            present(std::current_exception());
            setIsLoadingMedia(false);
        }
        co_return;
    }
    publishListing(m_mediaItems, gathered, m_listedMediaQuery, query, &DeviceManagementStore::mediaItemsChanged);
    setLoadedMediaKind(kind);
    setIsLoadingMedia(false);
}

int DeviceManagementStore::keptThumbnailSide()
{
    // Kept at what the sharpest screen shows of a tile, not at the size asked of the phone: scaled once, and
    // hundreds fit in the cache.
    const auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    const qreal pixelRatio = application ? std::max<qreal>(application->devicePixelRatio(), 1) : 1;
    return qCeil(thumbnailTileSide * pixelRatio);
}

QString DeviceManagementStore::mediaCacheKey(const ManagedMediaItem &item) const
{
    return m_activePeerID.value_or(QStringLiteral("none")) + u'|' + item.id + u'|' +
           QString::number(item.modifiedAtMillis);
}

std::optional<QImage> DeviceManagementStore::cachedMediaImage(const ManagedMediaItem &item)
{
    const QString key = mediaCacheKey(item);
    if (std::optional<QImage> preview = m_mediaPreviewCache.image(key)) {
        return preview;
    }
    return m_thumbnailCache.image(key);
}

QCoro::Task<void> DeviceManagementStore::loadThumbnail(ManagedMediaItem item, int maximumDimension)
{
    const ImageRequest thumbnail{&DeviceManagementStore::m_thumbnailCache,
                                 &DeviceManagementStore::m_thumbnailRequests,
                                 &DeviceManagementStore::m_loadingThumbnailKeys,
                                 &DeviceManagementStore::m_failedThumbnailKeys,
                                 1024,
                                 143'360,
                                 QStringLiteral("媒体预览响应无效"),
                                 keptThumbnailSide()};
    co_await loadMediaImage(std::move(item), maximumDimension, thumbnail);
}

QCoro::Task<void> DeviceManagementStore::loadLargePreview(ManagedMediaItem item, int maximumDimension)
{
    const ImageRequest preview{&DeviceManagementStore::m_mediaPreviewCache,
                               &DeviceManagementStore::m_previewRequests,
                               &DeviceManagementStore::m_loadingPreviewKeys,
                               &DeviceManagementStore::m_failedPreviewKeys,
                               2048,
                               184'320,
                               QStringLiteral("高清媒体预览响应无效"),
                               0};
    co_await loadMediaImage(std::move(item), maximumDimension, preview);
}

QCoro::Task<void> DeviceManagementStore::loadMediaImage(ManagedMediaItem item, int maximumDimension, ImageRequest kind)
{
    const quint64 generation = m_sessionGeneration;
    const QString key = mediaCacheKey(item);
    if (!m_channel->isConnected()) {
        co_return;
    }
    ImageMemoryCache &cache = this->*kind.cache;
    QSet<QString> &loadingKeys = this->*kind.loadingKeys;
    QSet<QString> &failedKeys = this->*kind.failedKeys;
    // A cached large preview also serves as the thumbnail.
    if (m_mediaPreviewCache.contains(key) || cache.contains(key) || loadingKeys.contains(key) ||
        failedKeys.contains(key)) {
        co_return;
    }
    loadingKeys.insert(key);
    raiseThumbnailRevision();

    // Only a few requests are out at a time; one withdrawn while it waits (its tile left the screen, the preview
    // moved on) is never sent, and `withdrawMediaImage` has already taken its key out of the loading keys.
    MediaRequestQueue::Admission admission = co_await (this->*kind.queue).admit(key);
    if (admission.turn != MediaRequestQueue::Turn::granted) {
        co_return;
    }
    const QPointer<DeviceManagementStore> self(this);
    std::optional<QImage> image;
    try {
        const QJsonObject payload{{QStringLiteral("id"), item.id}, {QStringLiteral("maxDimension"), maximumDimension}};
        const ManagedMediaThumbnail answer = co_await request<ManagedMediaThumbnail>(mediaThumbnailAction, payload);
        // The phone is done with it: the next request may go while this answer is decoded.
        admission.place = {};
        if (self && isCurrent(generation)) {
            // However small its bytes, a JPEG can take seconds to decode (a progressive one of thousands of
            // scans): it is decoded off the GUI thread.
            image = co_await runInBackground([answer, id = item.id, kind] {
                return acceptedImage(answer, id, kind.maximumPixels, kind.maximumBytes, kind.keptShorterSide);
            });
            if (!image) {
                throw DeviceManagementRequestError::rejected(kind.refusal);
            }
        }
    } catch (...) {
        // Image failures show nothing: the tile keeps its placeholder and the key is not asked for again.
        image.reset();
    }
    if (!self) {
        co_return;
    }
    if (isCurrent(generation)) {
        if (image) {
            // The answer's own pixel sizes are only what the phone claims: the cache counts what it holds.
            cache.insert(key, *image, image->sizeInBytes());
        } else {
            failedKeys.insert(key);
        }
    }
    loadingKeys.remove(key);
    raiseThumbnailRevision();
}

void DeviceManagementStore::withdrawThumbnail(const ManagedMediaItem &item)
{
    withdrawMediaImage(mediaCacheKey(item), m_thumbnailRequests, m_loadingThumbnailKeys);
}

void DeviceManagementStore::withdrawLargePreview(const ManagedMediaItem &item)
{
    withdrawMediaImage(mediaCacheKey(item), m_previewRequests, m_loadingPreviewKeys);
}

void DeviceManagementStore::withdrawMediaImage(const QString &key, MediaRequestQueue &queue, QSet<QString> &loadingKeys)
{
    // Taken out of the loading keys at once, so the same item asked for again in this turn makes a new request.
    if (queue.withdraw(key)) {
        loadingKeys.remove(key);
        raiseThumbnailRevision();
    }
}

QCoro::Task<void> DeviceManagementStore::downloadMedia(ManagedMediaItem item)
{
    const quint64 generation = m_sessionGeneration;
    const QString transferID = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    try {
        const QJsonObject payload{{QStringLiteral("id"), item.id}, {QStringLiteral("transferId"), transferID}};
        co_await requestText(mediaDownloadAction, payload);
        if (isCurrent(generation)) {
            setMessage(item.name + QStringLiteral(" 已加入下载任务"));
            setErrorMessage(std::nullopt);
        }
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
    }
}

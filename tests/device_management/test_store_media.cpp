#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;

namespace {

constexpr qint64 itemMillis = 1'700'000'000'123;

// A real JPEG of the given size, padded with zero bytes after its end to `paddedTo` bytes.
QByteArray jpegBytes(int width, int height, qsizetype paddedTo = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    if (paddedTo > bytes.size()) {
        bytes.append(paddedTo - bytes.size(), '\0');
    }
    return bytes;
}

ManagedMediaItem mediaItem(const QString &id)
{
    return {id,   id + u".jpg"_s, ManagedMediaKind::photo, 100,         itemMillis, u"image/jpeg"_s, 4000,
            3000, std::nullopt,   u"DCIM/"_s + id,         std::nullopt};
}

QJsonObject thumbnailJson(const QString &id, const QString &mimeType, int width, int height, const QString &data)
{
    return encodeManaged(ManagedMediaThumbnail{1, id, mimeType, width, height, data});
}

// A thumbnail answer for whichever item is asked for: a JPEG of the asked size.
std::function<Reply(const Request &)> thumbnails(int width, int height)
{
    const QString data = QString::fromLatin1(jpegBytes(width, height).toBase64());
    return [=](const Request &request) {
        return Reply::json(
            thumbnailJson(request.object().value(u"id"_s).toString(), u"image/jpeg"_s, width, height, data));
    };
}

// Media pages of `prefix`0, `prefix`1, … , `perPage` at a time, `count` in all.
QJsonObject mediaPageJson(const QString &prefix, int start, int perPage, int count)
{
    ManagedMediaPage page{1, {}, std::nullopt};
    for (int index = start; index < std::min(count, start + perPage); ++index) {
        page.items.append(mediaItem(prefix + QString::number(index)));
    }
    if (start + perPage < count) {
        page.nextPageToken = start + perPage;
    }
    return encodeManaged(page);
}

} // namespace

enum class Load
{
    thumbnail,
    preview,
};

// load, answer id, type, declared width and height, data, whether the image is kept
using Answers = TestTable<Load, QString, QString, int, int, QString, bool>;
// first load, its answer succeeds, second load, whether the second asks the phone
using Repeats = TestTable<Load, bool, Load, bool>;

class StoreMediaTest : public QObject
{
    Q_OBJECT

    static QCoro::Task<void> load(DeviceManagementStore &store, Load kind, const ManagedMediaItem &item)
    {
        return kind == Load::thumbnail ? store.loadThumbnail(item, 1024) : store.loadLargePreview(item, 2048);
    }

private slots:
    void thumbnailAnswersAreChecked_data()
    {
        const Answers rows;
        const QString tile = QString::fromLatin1(jpegBytes(16, 16).toBase64());
        const QString largest = QString::fromLatin1(jpegBytes(16, 16, 143'360).toBase64());
        const QString withBreak = tile.left(8) + u'\n' + tile.mid(8);
        rows("1024 x 1", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 1024, 1,
             QString::fromLatin1(jpegBytes(1024, 1).toBase64()), true);
        rows("143,360 bytes", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 16, 16, largest, true);
        rows("another item's id", Load::thumbnail, u"other"_s, u"image/jpeg"_s, 16, 16, tile, false);
        rows("PNG type", Load::thumbnail, u"m"_s, u"image/png"_s, 16, 16, tile, false);
        rows("1025 x 10", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 1025, 10, tile, false);
        rows("0 x 10", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 0, 10, tile, false);
        rows("143,361 bytes", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 16, 16,
             QString::fromLatin1(jpegBytes(16, 16, 143'361).toBase64()), false);
        rows("empty data", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 16, 16, QString(), false);
        rows("line break in Base64", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 16, 16, withBreak, false);
        rows("not Base64", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 16, 16, u"@@@@"_s + tile.mid(4), false);
        rows("bytes that are no image", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 16, 16,
             QString::fromLatin1(QByteArray(600, 'x').toBase64()), false);
        rows("picture larger than it says", Load::thumbnail, u"m"_s, u"image/jpeg"_s, 16, 16,
             QString::fromLatin1(jpegBytes(1100, 2).toBase64()), false);
        rows("preview 2048 x 1536", Load::preview, u"m"_s, u"image/jpeg"_s, 2048, 1536,
             QString::fromLatin1(jpegBytes(2048, 1536, 184'320).toBase64()), true);
        rows("preview 184,321 bytes", Load::preview, u"m"_s, u"image/jpeg"_s, 16, 16,
             QString::fromLatin1(jpegBytes(16, 16, 184'321).toBase64()), false);
        rows("preview 2049 x 10", Load::preview, u"m"_s, u"image/jpeg"_s, 2049, 10, tile, false);
    }

    void thumbnailAnswersAreChecked()
    {
        const auto [kind, id, mimeType, width, height, data, kept] = Answers::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        const QJsonObject answer = thumbnailJson(id, mimeType, width, height, data);
        fixture.channel->answer = [answer](const Request &) {
            return Reply::json(answer);
        };
        const ManagedMediaItem item = mediaItem(u"m"_s);
        const quint64 revision = store.thumbnailRevision();

        awaitTask(load(store, kind, item));
        QCOMPARE(fixture.channel->requests.first().payload, kind == Load::thumbnail
                                                                ? uR"({"id":"m","maxDimension":1024})"_s
                                                                : uR"({"id":"m","maxDimension":2048})"_s);
        QCOMPARE(store.cachedMediaImage(item).has_value(), kept);
        const QSet<QString> &failed = kind == Load::thumbnail ? store.failedThumbnailKeys() : store.failedPreviewKeys();
        QCOMPARE(failed.contains(store.mediaCacheKey(item)), !kept);
        QVERIFY(store.loadingThumbnailKeys().isEmpty() && store.loadingPreviewKeys().isEmpty());
        QCOMPARE(store.thumbnailRevision(), revision + 2);
        // Image failures are silent.
        QCOMPARE(store.errorMessage(), std::nullopt);
        QCOMPARE(store.message(), std::nullopt);
    }

    // A large preview costs four bytes a pixel: ten of 2048 x 1536 fit in 128 MiB, the eleventh pushes the
    // one used longest ago out.
    void largePreviewsAreBoundByTheirPixelCost()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(2048, 1536);
        for (int index = 0; index < 11; ++index) {
            awaitTask(store.loadLargePreview(mediaItem(u"m%1"_s.arg(index)), 2048));
        }
        QVERIFY(!store.cachedMediaImage(mediaItem(u"m0"_s)));
        for (int index = 1; index < 11; ++index) {
            QCOMPARE(store.cachedMediaImage(mediaItem(u"m%1"_s.arg(index)))->size(), QSize(2048, 1536));
        }
    }

    void cachedOrFailedKeysAreNotAskedAgain_data()
    {
        const Repeats rows;
        rows("thumbnail after large preview", Load::preview, true, Load::thumbnail, false);
        rows("large preview after thumbnail", Load::thumbnail, true, Load::preview, true);
        rows("thumbnail twice", Load::thumbnail, true, Load::thumbnail, false);
        rows("failed thumbnail", Load::thumbnail, false, Load::thumbnail, false);
        rows("failed preview", Load::preview, false, Load::preview, false);
        rows("large preview after failed thumbnail", Load::thumbnail, false, Load::preview, true);
    }

    void cachedOrFailedKeysAreNotAskedAgain()
    {
        const auto [first, succeeds, second, asks] = Repeats::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = succeeds ? thumbnails(16, 16) : [](const Request &) {
            return Reply::failure(DeviceManagementRequestError::rejected(u"x"_s));
        };
        const ManagedMediaItem item = mediaItem(u"m"_s);
        awaitTask(load(store, first, item));
        awaitTask(load(store, second, item));
        QCOMPARE(fixture.channel->requests.size(), asks ? 2 : 1);
    }

    void loadsWhileRunningOrOfTheLastPhoneStoreNothing()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(16, 16);
        fixture.channel->hold = true;
        const ManagedMediaItem item = mediaItem(u"m"_s);
        auto first = store.loadThumbnail(item, 1024);
        auto again = store.loadThumbnail(item, 1024);
        QCOMPARE(fixture.channel->requests.size(), 1);
        QVERIFY(store.loadingThumbnailKeys().contains(store.mediaCacheKey(item)));

        // Away and back: the key is the same again, but the answer belongs to the earlier visit.
        store.setActivePeer(u"peer-2"_s);
        store.setActivePeer(u"peer-1"_s);
        const quint64 revision = store.thumbnailRevision();
        fixture.channel->release();
        awaitTask(first);
        QCOMPARE(store.thumbnailRevision(), revision + 1);
        QVERIFY(!store.cachedMediaImage(item));
        QVERIFY(store.failedThumbnailKeys().isEmpty() && store.loadingThumbnailKeys().isEmpty());

        fixture.channel->connected = false;
        awaitTask(store.loadThumbnail(item, 1024));
        QCOMPARE(fixture.channel->requests.size(), 1);
    }

    void cacheKeyNamesPhoneItemAndVersion()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        QCOMPARE(store.mediaCacheKey(mediaItem(u"m"_s)), u"peer-1|m|1700000000123"_s);
        store.setActivePeer(std::nullopt);
        QCOMPARE(store.mediaCacheKey(mediaItem(u"m"_s)), u"none|m|1700000000123"_s);
    }

    void onlyTheLastListLoadPublishes()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [](const Request &request) {
            const QJsonObject payload = request.object();
            return Reply::json(
                mediaPageJson(payload.value(u"kind"_s).toString(), payload.value(u"pageToken"_s).toInt(), 100, 150));
        };
        fixture.channel->hold = true;
        auto first = store.loadMedia(ManagedMediaKind::photo);
        auto second = store.loadMedia(ManagedMediaKind::video);
        QSignalSpy loading(&store, &DeviceManagementStore::isLoadingMediaChanged);
        fixture.channel->hold = false;
        fixture.channel->release();
        awaitTask(first);
        QVERIFY(store.isLoadingMedia());
        awaitTask(second);
        QVERIFY(!store.isLoadingMedia());
        QCOMPARE(loading.count(), 1);
        QCOMPARE(store.loadedMediaKind(), ManagedMediaKind::video);
        QCOMPARE(store.mediaItems().size(), 150);
        QCOMPARE(store.mediaItems().first().id, u"video0"_s);
        // The superseded load asks for no further page.
        QCOMPARE(fixture.channel->count(u"media.list"_s), 3);
    }

    // The search text is read once: a list never mixes the pages of two searches.
    void everyPageAnswersTheSearchTheLoadStartedWith()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [](const Request &request) {
            return Reply::json(mediaPageJson(u"p"_s, request.object().value(u"pageToken"_s).toInt(), 100, 200));
        };
        store.setMediaQuery(u"cat"_s);
        fixture.channel->hold = true;
        auto loading = store.loadMedia(ManagedMediaKind::photo);
        store.setMediaQuery(u"dog"_s);
        fixture.channel->hold = false;
        fixture.channel->release();
        awaitTask(loading);
        QCOMPARE(fixture.channel->requests.first().payload,
                 uR"({"kind":"photo","pageSize":100,"pageToken":0,"query":"cat"})"_s);
        QCOMPARE(fixture.channel->requests.size(), 2);
        QCOMPARE(store.mediaItems().size(), 200);
        for (const Request &request : std::as_const(fixture.channel->requests)) {
            QCOMPARE(request.object().value(u"query"_s).toString(), u"cat"_s);
        }
    }

    void imageCacheEvictsTheImageUsedLongestAgo()
    {
        ImageMemoryCache cache(2, 100);
        const QImage image(1, 1, QImage::Format_RGB32);
        cache.insert(u"a"_s, image, 10);
        cache.insert(u"b"_s, image, 10);
        QVERIFY(cache.image(u"a"_s));
        cache.insert(u"c"_s, image, 10);
        QVERIFY(cache.contains(u"a"_s) && !cache.contains(u"b"_s) && cache.contains(u"c"_s));
        cache.insert(u"d"_s, image, 101);
        cache.insert(u"e"_s, image, 85);
        QVERIFY(!cache.contains(u"d"_s) && cache.contains(u"c"_s) && cache.contains(u"e"_s));
        QCOMPARE(cache.totalCost(), qint64(95));
    }
};

QTEST_GUILESS_MAIN(StoreMediaTest)
#include "test_store_media.moc"

#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;

enum class Load
{
    thumbnail,
    preview,
};

namespace {

// The Base64 of a real JPEG of the given size, padded with zero bytes after its end to `paddedTo` bytes.
QString jpeg(int width, int height, qsizetype paddedTo = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "JPEG");
    bytes.append(std::max<qsizetype>(0, paddedTo - bytes.size()), '\0');
    return QString::fromLatin1(bytes.toBase64());
}

// A grey 1024 x 1024 progressive JPEG of a few bytes a scan: its first scan draws the picture, and each of the
// `extraScans` after it sends the decoder through all 16,384 blocks again for nothing.
QString slowProgressiveJpeg(int extraScans)
{
    QByteArray bytes("\xFF\xD8", 2);
    const auto segment = [&bytes](char marker, const QByteArray &body) {
        const int length = int(body.size()) + 2;
        bytes.append(char(0xFF)).append(marker).append(char(length >> 8)).append(char(length & 0xFF)).append(body);
    };
    segment(char(0xDB), QByteArray(1, 0) + QByteArray(64, 1));                  // one quantisation table of ones
    segment(char(0xC2), QByteArray("\x08\x04\x00\x04\x00\x01\x01\x11\x00", 9)); // progressive, 1024 x 1024, grey
    // One code each, "0": a DC difference of nothing, and a run of 2^14 blocks with nothing more to add.
    segment(char(0xC4), QByteArray("\x00\x01", 2) + QByteArray(15, 0) + QByteArray(1, 0));
    segment(char(0xC4), QByteArray("\x10\x01", 2) + QByteArray(15, 0) + QByteArray(1, char(0xE0)));
    segment(char(0xDA), QByteArray("\x01\x01\x00\x00\x00\x00", 6)); // the DC scan: one bit a block
    bytes.append(QByteArray(1024 * 1024 / 64 / 8, 0));
    for (int scan = 0; scan < extraScans; ++scan) {
        segment(char(0xDA), QByteArray("\x01\x01\x00\x01\x3F\x00", 6)); // all AC coefficients
        bytes.append("\x00\x01", 2);
    }
    bytes.append("\xFF\xD9", 2);
    return QString::fromLatin1(bytes.toBase64());
}

ManagedMediaThumbnail answer(int width, int height, const QString &data, const QString &id = u"m"_s,
                             const QString &mimeType = u"image/jpeg"_s)
{
    return {1, id, mimeType, width, height, data};
}

// Answers every thumbnail request with a JPEG of the given size for the item asked for, claiming `claimed` when
// given.
std::function<Reply(const Request &)> thumbnails(int width, int height, QSize claimed = {})
{
    const QString data = jpeg(width, height);
    const QSize said = claimed.isValid() ? claimed : QSize(width, height);
    return [=](const Request &request) {
        return Reply::json(
            encodeManaged(answer(said.width(), said.height(), data, request.object().value(u"id"_s).toString())));
    };
}

QStringList requestedIDs(const FakeManagementChannel &channel)
{
    QStringList ids;
    for (const Request &request : channel.requests) {
        ids.append(request.object().value(u"id"_s).toString());
    }
    return ids;
}

ManagedMediaItem mediaItem(const QString &id)
{
    return {id,   id + u".jpg"_s, ManagedMediaKind::photo, 100,         1'700'000'000'123, u"image/jpeg"_s, 4000,
            3000, std::nullopt,   u"DCIM/"_s + id,         std::nullopt};
}

QCoro::Task<void> load(DeviceManagementStore &store, Load kind, const ManagedMediaItem &item)
{
    return kind == Load::thumbnail ? store.loadThumbnail(item, 1024) : store.loadLargePreview(item, 2048);
}

} // namespace

// load, the phone's answer, whether the image is kept
using Answers = TestTable<Load, ManagedMediaThumbnail, bool>;
using SlowDecodes = TestTable<bool>;

class StoreMediaTest : public QObject
{
    Q_OBJECT

private slots:
    void thumbnailAnswersAreChecked_data()
    {
        const Answers rows;
        const Load thumbnail = Load::thumbnail;
        const QString tile = jpeg(16, 16);
        rows("1024 x 1 in 143,360 bytes", thumbnail, answer(1024, 1, jpeg(1024, 1, 143'360)), true);
        rows("another item's id", thumbnail, answer(16, 16, tile, u"other"_s), false);
        rows("PNG type", thumbnail, answer(16, 16, tile, u"m"_s, u"image/png"_s), false);
        rows("1025 x 10", thumbnail, answer(1025, 10, tile), false);
        rows("0 x 10", thumbnail, answer(0, 10, tile), false);
        rows("143,361 bytes", thumbnail, answer(16, 16, jpeg(16, 16, 143'361)), false);
        rows("line break in Base64", thumbnail, answer(16, 16, tile.left(8) + u'\n' + tile.mid(8)), false);
        rows("not Base64", thumbnail, answer(16, 16, u"@@@@"_s + tile.mid(4)), false);
        rows("bytes that are no image", thumbnail, answer(16, 16, u"AAAA"_s.repeated(100)), false);
        rows("picture larger than it says", thumbnail, answer(16, 16, jpeg(1100, 2)), false);
        rows("preview 2048 x 1536", Load::preview, answer(2048, 1536, jpeg(2048, 1536, 184'320)), true);
        rows("preview 184,321 bytes", Load::preview, answer(16, 16, jpeg(16, 16, 184'321)), false);
        rows("preview 2049 x 10", Load::preview, answer(2049, 10, tile), false);
    }

    void thumbnailAnswersAreChecked()
    {
        const auto [kind, reply, kept] = Answers::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [text = Reply::json(encodeManaged(reply))](const Request &) {
            return text;
        };
        const ManagedMediaItem item = mediaItem(u"m"_s);
        awaitTask(load(store, kind, item));
        QCOMPARE(fixture.channel->requests.first().payload,
                 uR"({"id":"m","maxDimension":%1})"_s.arg(kind == Load::thumbnail ? 1024 : 2048));
        QCOMPARE(store.cachedMediaImage(item).has_value(), kept);
        // The key names the phone, the item and its version.
        const QSet<QString> &failed = kind == Load::thumbnail ? store.failedThumbnailKeys() : store.failedPreviewKeys();
        QCOMPARE(failed.contains(u"peer-1|m|1700000000123"_s), !kept);
        QVERIFY(store.loadingThumbnailKeys().isEmpty() && store.loadingPreviewKeys().isEmpty());
        // Image failures are silent.
        QVERIFY(!store.errorMessage() && !store.message());

        // A kept or failed image is not asked for again; a kept large preview also serves as the thumbnail.
        awaitTask(load(store, kind, item));
        QCOMPARE(fixture.channel->requests.size(), 1);
        awaitTask(load(store, kind == Load::thumbnail ? Load::preview : Load::thumbnail, item));
        QCOMPARE(fixture.channel->requests.size(), kind == Load::preview && kept ? 1 : 2);
    }

    // A large preview costs four bytes a pixel: ten of 2048 x 1536 fill the 128 MiB, the eleventh pushes out the
    // one used longest ago.
    void largePreviewsAreBoundByTheirPixelCost()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(2048, 1536);
        for (int index = 0; index < 10; ++index) {
            awaitTask(store.loadLargePreview(mediaItem(QString::number(index)), 2048));
        }
        QVERIFY(store.cachedMediaImage(mediaItem(u"0"_s)));
        awaitTask(store.loadLargePreview(mediaItem(u"10"_s), 2048));
        QVERIFY(!store.cachedMediaImage(mediaItem(u"1"_s)));
        QCOMPARE(store.cachedMediaImage(mediaItem(u"0"_s))->size(), QSize(2048, 1536));
    }

    void thumbnailsAreKeptAtTileSize_data()
    {
        // The picture the phone sends, what the cache keeps (at a pixel ratio of 1).
        const TestTable<QSize, QSize> rows;
        rows("landscape 1024 x 768", QSize(1024, 768), QSize(293, 220));
        rows("portrait 768 x 1024", QSize(768, 1024), QSize(220, 293));
        rows("panorama 1024 x 100", QSize(1024, 100), QSize(1024, 100));
        rows("small 200 x 150, never enlarged", QSize(200, 150), QSize(200, 150));
    }

    // A thumbnail is kept at what a tile draws, scaled once; the cache counts the bytes it holds, whatever the
    // phone claims (here 1 x 1), so a few hundred fit where twenty 1024-pixel pictures filled it.
    void thumbnailsAreKeptAtTileSize()
    {
        const auto [sent, kept] = TestTable<QSize, QSize>::fetch();
        QCOMPARE(DeviceManagementStore::keptThumbnailSide(), 220);
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(sent.width(), sent.height(), QSize(1, 1));
        for (int index = 0; index < 3; ++index) {
            awaitTask(store.loadThumbnail(mediaItem(QString::number(index)), 1024));
        }
        const std::optional<QImage> image = store.cachedMediaImage(mediaItem(u"1"_s));
        QVERIFY(image);
        QCOMPARE(image->size(), kept);
        QCOMPARE(store.thumbnailCache().count(), 3);
        QCOMPARE(store.thumbnailCache().totalCost(), 3 * image->sizeInBytes());
        // A large preview stays as it came.
        fixture.channel->answer = thumbnails(1024, 768);
        awaitTask(store.loadLargePreview(mediaItem(u"p"_s), 2048));
        QCOMPARE(store.cachedMediaImage(mediaItem(u"p"_s))->size(), QSize(1024, 768));
    }

    void slowJpegIsDecodedAwayFromTheGuiThread_data()
    {
        // Whether the user switches to another phone and back while the JPEG is decoded.
        const SlowDecodes rows;
        rows("kept", false);
        rows("phones switched meanwhile", true);
    }

    // The GUI thread goes on turning its event loop while the thumbnail is decoded, and a decode that outlived its
    // phone's visit stores nothing.
    void slowJpegIsDecodedAwayFromTheGuiThread()
    {
        const auto [switched] = SlowDecodes::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [data = slowProgressiveJpeg(2000)](const Request &) {
            return Reply::json(encodeManaged(answer(1024, 1024, data)));
        };
        const ManagedMediaItem item = mediaItem(u"m"_s);
        int turnsWhileDecoding = 0;
        QTimer turns;
        connect(&turns, &QTimer::timeout, &store, [&turnsWhileDecoding, &store, switched = switched] {
            if (QThreadPool::globalInstance()->activeThreadCount() > 0 && ++turnsWhileDecoding == 1 && switched) {
                store.setActivePeer(u"peer-2"_s);
                store.setActivePeer(u"peer-1"_s);
            }
        });
        turns.start(0);
        awaitTask(store.loadThumbnail(item, 1024));
        turns.stop();
        QVERIFY(turnsWhileDecoding > 0);
        QCOMPARE(store.cachedMediaImage(item).has_value(), !switched);
        if (!switched) {
            QCOMPARE(store.cachedMediaImage(item)->size(), QSize(220, 220));
        }
        QVERIFY(store.failedThumbnailKeys().isEmpty() && store.loadingThumbnailKeys().isEmpty());
    }

    void loadsWhileRunningOrOfTheLastPhoneStoreNothing()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(16, 16);
        fixture.channel->hold = true;
        const ManagedMediaItem item = mediaItem(u"m"_s);
        auto first = store.loadThumbnail(item, 1024);
        awaitTask(store.loadThumbnail(item, 1024));
        QTRY_COMPARE(fixture.channel->requests.size(), 1);
        // Away and back: the key is the same again, but the answer belongs to the earlier visit.
        store.setActivePeer(u"peer-2"_s);
        store.setActivePeer(u"peer-1"_s);
        fixture.channel->release();
        awaitTask(first);
        QVERIFY(!store.cachedMediaImage(item));
        QVERIFY(store.failedThumbnailKeys().isEmpty() && store.loadingThumbnailKeys().isEmpty());
        fixture.channel->connected = false;
        awaitTask(store.loadThumbnail(item, 1024));
        QCOMPARE(fixture.channel->requests.size(), 1);
    }

    // A few thumbnail requests are out at a time, the rest go in the order asked as answers come back; one
    // withdrawn while it waits never goes out, and asked for again it does.
    void thumbnailRequestsWaitForAPlace()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(16, 16);
        fixture.channel->hold = true;
        const int places = DeviceManagementStore::thumbnailRequestPlaces;
        QStringList asked;
        for (int index = 0; index < places + 3; ++index) {
            asked.append(QString::number(index));
            store.loadThumbnail(mediaItem(asked.last()), 1024);
        }
        // Asked for and left within one turn: never sent, not loading.
        store.loadThumbnail(mediaItem(u"passed"_s), 1024);
        store.withdrawThumbnail(mediaItem(u"passed"_s));
        QVERIFY(!store.loadingThumbnailKeys().contains(store.mediaCacheKey(mediaItem(u"passed"_s))));
        QCOMPARE(store.loadingThumbnailKeys().size(), places + 3);
        QTRY_COMPARE(requestedIDs(*fixture.channel), asked.first(places));
        QTest::qWait(20);
        QCOMPARE(fixture.channel->requests.size(), places);

        // The waiting "9" leaves the screen and comes back within one turn: one request, in its new place.
        const ManagedMediaItem nine = mediaItem(asked.at(places + 1));
        store.withdrawThumbnail(nine);
        store.withdrawThumbnail(mediaItem(asked.first())); // out already: not touched
        store.loadThumbnail(nine, 1024);
        fixture.channel->hold = false;
        fixture.channel->release();
        QTRY_VERIFY(store.loadingThumbnailKeys().isEmpty());
        asked.move(places + 1, asked.size() - 1);
        QCOMPARE(requestedIDs(*fixture.channel), asked);
        for (const QString &id : asked) {
            QVERIFY(store.cachedMediaImage(mediaItem(id)));
        }
        QVERIFY(!store.cachedMediaImage(mediaItem(u"passed"_s)));
    }

    // Large previews go one at a time: of the items stepped over while one loads only the last is asked for.
    // Another phone's requests neither go out nor hold back those of the phone shown now.
    void previewsAndSwitchedPhonesWaitNoLonger()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(64, 48);
        fixture.channel->hold = true;
        store.loadLargePreview(mediaItem(u"a"_s), 2048);
        QTRY_COMPARE(requestedIDs(*fixture.channel), QStringList{u"a"_s});
        for (const QString &id : {u"b"_s, u"c"_s, u"d"_s}) {
            store.loadLargePreview(mediaItem(id), 2048);
            if (id != u"d"_s) {
                store.withdrawLargePreview(mediaItem(id));
            }
        }
        fixture.channel->release();
        QTRY_COMPARE(requestedIDs(*fixture.channel), (QStringList{u"a"_s, u"d"_s}));
        QTRY_VERIFY(store.cachedMediaImage(mediaItem(u"a"_s)));

        // "d" is out for the first phone; "e" waits behind it. On the next phone "f" goes at once.
        store.loadLargePreview(mediaItem(u"e"_s), 2048);
        for (int index = 0; index < DeviceManagementStore::thumbnailRequestPlaces + 1; ++index) {
            store.loadThumbnail(mediaItem(u"t%1"_s.arg(index)), 1024);
        }
        store.setActivePeer(u"peer-2"_s);
        QVERIFY(store.loadingPreviewKeys().isEmpty() && store.loadingThumbnailKeys().isEmpty());
        store.loadLargePreview(mediaItem(u"f"_s), 2048);
        QTRY_VERIFY(requestedIDs(*fixture.channel).contains(u"f"_s));
        QTest::qWait(20);
        const QStringList sent = requestedIDs(*fixture.channel);
        QVERIFY(!sent.contains(u"e"_s) && !sent.contains(u"t%1"_s.arg(DeviceManagementStore::thumbnailRequestPlaces)));
        fixture.channel->hold = false;
        fixture.channel->release();
        QTRY_VERIFY(store.loadingPreviewKeys().isEmpty());
        QVERIFY(store.cachedMediaImage(mediaItem(u"f"_s)) && !store.cachedMediaImage(mediaItem(u"e"_s)));
    }

    // A store that goes while requests wait ends them; nothing is left suspended or used after it is freed.
    void waitingRequestsEndWithTheStore()
    {
        ManagementStoreFixture fixture;
        fixture.channel->hold = true;
        std::vector<QCoro::Task<void>> loads;
        for (int index = 0; index < DeviceManagementStore::thumbnailRequestPlaces + 2; ++index) {
            loads.push_back(fixture.store->loadThumbnail(mediaItem(QString::number(index)), 1024));
        }
        loads.push_back(fixture.store->loadLargePreview(mediaItem(u"p"_s), 2048));
        loads.push_back(fixture.store->loadLargePreview(mediaItem(u"q"_s), 2048));
        QTRY_COMPARE(fixture.channel->requests.size(), DeviceManagementStore::thumbnailRequestPlaces + 1);
        fixture.store.reset();
        for (int index = 0; index < DeviceManagementStore::thumbnailRequestPlaces; ++index) {
            QVERIFY(!loads.at(index).isReady());
        }
        QVERIFY(loads.at(DeviceManagementStore::thumbnailRequestPlaces).isReady());
        QVERIFY(loads.back().isReady());
        fixture.channel->release();
        for (QCoro::Task<void> &load : loads) {
            awaitTask(std::move(load));
        }
        QCOMPARE(fixture.channel->requests.size(), DeviceManagementStore::thumbnailRequestPlaces + 1);
    }

    // Only the newest load publishes, and each reads the search text once: its pages never mix two searches.
    void onlyTheNewestMediaLoadPublishesItsOwnSearch()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [](const Request &request) {
            const QJsonObject payload = request.object();
            const qint64 token = payload.value(u"pageToken"_s).toInteger();
            const ManagedMediaItem item = mediaItem(payload.value(u"kind"_s).toString() + QString::number(token));
            return Reply::json(
                encodeManaged(ManagedMediaPage{1, {item}, token == 0 ? std::optional<qint64>(1) : std::nullopt}));
        };
        store.setMediaQuery(u"cat"_s);
        fixture.channel->hold = true;
        auto first = store.loadMedia(ManagedMediaKind::photo);
        auto second = store.loadMedia(ManagedMediaKind::video);
        store.setMediaQuery(u"dog"_s);
        fixture.channel->hold = false;
        fixture.channel->release();
        awaitTask(first);
        QVERIFY(store.isLoadingMedia());
        awaitTask(second);
        QVERIFY(!store.isLoadingMedia());
        QCOMPARE(store.mediaItems().size(), 2);
        QCOMPARE(store.mediaItems().last().id, u"video1"_s);
        // The superseded load asks for no further page.
        QCOMPARE(fixture.channel->actions(), QStringList(3, u"media.list"_s));
        QCOMPARE(fixture.channel->requests.last().payload,
                 uR"({"kind":"video","pageSize":100,"pageToken":1,"query":"cat"})"_s);
    }
};

QTEST_GUILESS_MAIN(StoreMediaTest)
#include "test_store_media.moc"

#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QTest>

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

ManagedMediaThumbnail answer(int width, int height, const QString &data, const QString &id = u"m"_s,
                             const QString &mimeType = u"image/jpeg"_s)
{
    return {1, id, mimeType, width, height, data};
}

// Answers every thumbnail request with a JPEG of the given size for the item asked for.
std::function<Reply(const Request &)> thumbnails(int width, int height)
{
    const QString data = jpeg(width, height);
    return [=](const Request &request) {
        return Reply::json(encodeManaged(answer(width, height, data, request.object().value(u"id"_s).toString())));
    };
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

    void loadsWhileRunningOrOfTheLastPhoneStoreNothing()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = thumbnails(16, 16);
        fixture.channel->hold = true;
        const ManagedMediaItem item = mediaItem(u"m"_s);
        auto first = store.loadThumbnail(item, 1024);
        awaitTask(store.loadThumbnail(item, 1024));
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

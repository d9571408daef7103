#include "FakeTransferClient.h"
#include "ManagedTransferActions.h"
#include "MediaActions.h"
#include "StorageTree.h"
#include "TestVideo.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QJsonDocument>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using Listings = TestTable<QJsonObject, QStringList, qint64>;
using Thumbnails = TestTable<QString, int, QSize, QPointF>;
using Answers = TestTable<QString, QJsonObject, QString>;

namespace {

const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1).addMSecs(-123);
const QStringList photosNewestFirst = {u"DCIM/b.dat"_s, u"Pictures/turned.jpg"_s, u"DCIM/a.jpg"_s, u"DCIM/c.jpg"_s};

// The photos and videos of the storage folder as "media.list" gives them, but for ids, names and byte sizes, and
// with times after dayAgo. Videos have 10 frames at 10 per second.
constexpr qint64 hour = 3'600'000;
const ManagedMediaKind photo = ManagedMediaKind::photo, video = ManagedMediaKind::video;
const QList<ManagedMediaItem> media = {
    {{}, {}, photo, 0, 0, u"image/jpeg"_s, 400, 300, {}, u"DCIM/a.jpg"_s, {}},
    {{}, {}, photo, 0, 0, u"image/jpeg"_s, 30, 20, {}, u"DCIM/c.jpg"_s, {}},
    {{}, {}, photo, 0, hour, u"image/jpeg"_s, 400, 300, 90, u"Pictures/turned.jpg"_s, {}},
    {{}, {}, photo, 0, 2 * hour, u"image/jpeg"_s, 64, 48, {}, u"DCIM/b.dat"_s, {}},
    {{}, {}, video, 0, hour, u"video/mp4"_s, 320, 240, 90, u"Movies/turned.mp4"_s, 900},
    {{}, {}, video, 0, 2 * hour, u"video/x-matroska"_s, 160, 128, {}, u"Movies/clip.mkv"_s, 900}};

// A JPEG, light in its upper half and dark in its lower; with an EXIF orientation when one is given.
QByteArray jpegOf(QSize size, int exifOrientation = 0)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 40, 60));
    QPainter(&image).fillRect(0, 0, size.width(), size.height() / 2, QColor(220, 210, 190));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    // APP1 "Exif": a big-endian TIFF header and one IFD entry, Orientation (0x0112), one SHORT.
    const QString exif = u"FFE10022 457869660000 4D4D002A00000008 0001 0112 0003 00000001 00%1 0000 00000000"_s;
    if (exifOrientation != 0)
        bytes.insert(2, QByteArray::fromHex(exif.arg(exifOrientation, 2, 16, QChar(u'0')).toLatin1()));
    return bytes;
}

const auto idOf = &StorageIds::idForRelativePath;

} // namespace

// Photos and videos found by their contents, their facts, pages and thumbnails.
class MediaActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        m_storage = m_root->filePath(u"storage"_s);
        QVERIFY(makeEntries(m_root->path(), {u"storage/fake.jpg=not a picture"_s, u"storage/pipe.jpg|"_s,
                                             u"storage/link.jpg -> DCIM/a.jpg"_s, u"outside.jpg=x"_s}));
        QVERIFY(writeFile(m_storage + u"/.tavrine/private.jpg"_s, jpegOf({10, 10})) &&
                writeFile(m_storage + u"/broken.png"_s, QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(100, 'x')));
        for (const ManagedMediaItem &medium : media) {
            QFile file(m_storage + u'/' + medium.relativePath);
            const QSize size(medium.width, medium.height);
            const int turn = medium.orientationDegrees.value_or(0);
            QVERIFY(medium.kind == video ? writeTestVideo(file.fileName(), size, 10, 10, turn)
                                         : writeFile(file.fileName(), jpegOf(size, turn ? 6 : 0)));
            QVERIFY(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(dayAgo.addMSecs(medium.modifiedAtMillis), QFileDevice::FileModificationTime));
        }
        m_actions.emplace(m_storage);
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void lists_data()
    {
        const Listings rows; // payload ("kind" photo unless named), relative paths listed, nextPageToken (-1: none)
        rows("photos newest first, then by path", {}, photosNewestFirst, -1);
        rows("videos", {{u"kind"_s, u"video"_s}}, {u"Movies/clip.mkv"_s, u"Movies/turned.mp4"_s}, -1);
        rows("query ignores case", {{u"query"_s, u"TURN"_s}}, {u"Pictures/turned.jpg"_s}, -1);
        rows("query matches names, not folders", {{u"kind"_s, u"video"_s}, {u"query"_s, u"Movies"_s}}, {}, -1);
        rows("first page", {{u"pageSize"_s, 2}}, photosNewestFirst.mid(0, 2), 2);
    }

    // A JPEG named .dat counts and a text named .jpg does not; neither links, pipes nor the phone's own
    // folder are listed. Every fact of an item is real.
    void lists()
    {
        const auto [payload, paths, next] = Listings::fetch();
        const ManagedMediaPage page = list(payload);
        QStringList listed;
        for (const ManagedMediaItem &item : page.items) {
            listed.append(item.relativePath);
            QCOMPARE(item, expectedItem(item));
        }
        QCOMPARE(listed, paths);
        QCOMPARE(page.nextPageToken.value_or(-1), next);
    }

    // Unchanged files are not probed again; a rewritten one is, and listed first with its new facts.
    void keepsFactsOfUnchangedFiles()
    {
        list({});
        const int probed = m_actions->library().probeCount();
        QVERIFY(writeFile(m_storage + u"/DCIM/a.jpg"_s, jpegOf({200, 100})));
        QCOMPARE(list({{u"pageSize"_s, 1}}).items.value(0).width, 200);
        QCOMPARE(m_actions->library().probeCount(), probed + 1);
    }

    void thumbnails_data()
    {
        const Thumbnails rows; // relative path, maxDimension, the JPEG's size, where its light half shows (null: any)
        const QPointF top(0.5, 0.25), right(0.75, 0.5);
        rows("photo made smaller", u"DCIM/a.jpg"_s, 100, {100, 75}, top);
        rows("photo never made larger", u"DCIM/a.jpg"_s, 5000, {400, 300}, top);
        rows("dimension below one", u"DCIM/a.jpg"_s, -3, {1, 1}, {});
        rows("photo turned by EXIF", u"Pictures/turned.jpg"_s, 200, {150, 200}, right);
        rows("turned video frame", u"Movies/turned.mp4"_s, 1000, {240, 320}, right);
        rows("Matroska video frame", u"Movies/clip.mkv"_s, 64, {64, 51}, top);
    }

    // Upright: the light half shows where it is seen, and the opposite point is dark.
    void thumbnails()
    {
        const auto [path, maxDimension, size, light] = Thumbnails::fetch();
        const QImage image = thumbnailOf(path, maxDimension, 143'360);
        QCOMPARE(image.size(), size);
        const auto grayAt = [&image](QPointF point) {
            return qGray(image.pixel(int(point.x() * image.width()), int(point.y() * image.height())));
        };
        QVERIFY(light.isNull() || grayAt(light) > grayAt(QPointF(1, 1) - light) + 100);
    }

    // A picture full of noise still comes within the bytes the computer takes, as tile and as large preview.
    void thumbnailsFitTheirByteBound()
    {
        QImage noise(2048, 1536, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(noise.scanLine(y)), noise.width());
        QVERIFY(noise.save(m_storage + u"/noise.png"_s));
        for (const auto &[maxDimension, maxBytes] : {std::pair(1024, 143'360), std::pair(2048, 184'320)}) {
            const QImage image = thumbnailOf(u"noise.png"_s, maxDimension, maxBytes);
            QVERIFY(image.width() <= maxDimension && image.width() >= maxDimension / 8);
            QCOMPARE(image.height(), image.width() * 3 / 4);
        }
    }

    void answers_data()
    {
        const Answers rows; // action, payload, what the failure message holds ("": the file is sent)
        const QString notFound = u"找不到这个文件。"_s, noPreview = u"无法为这个文件生成预览。"_s;
        const QString thumbnail = u"media.thumbnail"_s, list = u"media.list"_s, download = u"media.download"_s;
        rows("up and out", thumbnail, {{u"id"_s, idOf(u"../outside.jpg"_s)}}, notFound);
        rows("the phone's own folder", thumbnail, {{u"id"_s, idOf(u".tavrine/private.jpg"_s)}}, notFound);
        rows("link to a photo", thumbnail, {{u"id"_s, idOf(u"link.jpg"_s)}}, notFound);
        rows("text named .jpg", thumbnail, {{u"id"_s, idOf(u"fake.jpg"_s)}}, noPreview);
        rows("damaged picture", thumbnail, {{u"id"_s, idOf(u"broken.png"_s)}}, noPreview);
        rows("named pipe", thumbnail, {{u"id"_s, idOf(u"pipe.jpg"_s)}}, noPreview);
        rows("more than 100 megapixels", thumbnail, {{u"id"_s, idOf(u"huge.jpg"_s)}}, noPreview);
        rows("unknown kind", list, {{u"kind"_s, u"audio"_s}}, u"\"kind\""_s);
        rows("negative token", list, {{u"kind"_s, u"photo"_s}, {u"pageToken"_s, -1}}, u"\"pageToken\""_s);
        rows("fractional size", list, {{u"kind"_s, u"photo"_s}, {u"pageSize"_s, 1.5}}, u"\"pageSize\""_s);
        rows("download a photo named .dat", download, {{u"id"_s, idOf(u"DCIM/b.dat"_s)}, {u"transferId"_s, u"t"_s}},
             {});
        rows("download a text named .jpg", download, {{u"id"_s, idOf(u"fake.jpg"_s)}, {u"transferId"_s, u"t"_s}},
             u"这不是照片或视频。"_s);
    }

    void answers()
    {
        const auto [action, payload, message] = Answers::fetch();
        // A small JPEG whose frame header claims 15000 × 10000 pixels.
        QByteArray huge = jpegOf({64, 48});
        huge.replace(huge.indexOf("\xFF\xC0") + 5, 4, QByteArray("\x27\x10\x3A\x98", 4));
        QVERIFY(writeFile(m_storage + u"/huge.jpg"_s, huge));
        FakeTransferClient client;
        ManagedTransferActions transfers(client, m_storage);
        transfers.addTo(m_handlers);

        const ManagementAnswer answer = ask(action, payload);
        QVERIFY2(answer.success == message.isEmpty() && answer.message.contains(message), qPrintable(answer.message));
        QCOMPARE(client.sentFiles.size(), answer.success ? 1 : 0);
    }

private:
    ManagementAnswer ask(const QString &action, const QJsonObject &payload)
    {
        return m_handlers.answer(action, QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact)));
    }

    // The item of a listed file as it must be; a video's length may lack the last frame, which some containers
    // count and others do not.
    ManagedMediaItem expectedItem(const ManagedMediaItem &listed) const
    {
        const auto found = std::find_if(media.cbegin(), media.cend(), [&](const ManagedMediaItem &item) {
            return item.relativePath == listed.relativePath;
        });
        if (found == media.cend())
            return {};
        ManagedMediaItem expected = *found;
        expected.id = idOf(expected.relativePath);
        expected.name = expected.relativePath.section(u'/', -1);
        expected.size = QFileInfo(m_storage + u'/' + expected.relativePath).size();
        expected.modifiedAtMillis += dayAgo.toMSecsSinceEpoch();
        if (expected.durationMillis && std::abs(*expected.durationMillis - listed.durationMillis.value_or(0)) <= 50)
            expected.durationMillis = listed.durationMillis;
        return expected;
    }

    // The page that "media.list" answers ("kind" photo unless named), decoded as the computer decodes it.
    ManagedMediaPage list(QJsonObject payload)
    {
        payload.insert(u"kind"_s, payload.value(u"kind"_s).toString(u"photo"_s));
        const ManagementAnswer answer = ask(u"media.list"_s, payload);
        [&] {
            QVERIFY2(answer.success, qPrintable(answer.message));
        }();
        return answer.success ? decodeManagedAnswer<ManagedMediaPage>(answer.payload) : ManagedMediaPage();
    }

    // The thumbnail's picture, checked to be a real JPEG in strict Base64 of at most `maxBytes` that the answer
    // describes; null if not.
    QImage thumbnailOf(const QString &path, int maxDimension, qint64 maxBytes)
    {
        const ManagementAnswer answer =
            ask(u"media.thumbnail"_s, {{u"id"_s, idOf(path)}, {u"maxDimension"_s, maxDimension}});
        const auto thumbnail =
            answer.success ? decodeManagedAnswer<ManagedMediaThumbnail>(answer.payload) : ManagedMediaThumbnail();
        const auto bytes =
            QByteArray::fromBase64Encoding(thumbnail.dataBase64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        const QImage image = QImage::fromData(bytes.decoded, "JPEG");
        const bool valid =
            bytes && bytes.decoded.size() <= maxBytes &&
            thumbnail == ManagedMediaThumbnail{
                             1, idOf(path), u"image/jpeg"_s, image.width(), image.height(), thumbnail.dataBase64};
        [&] {
            QVERIFY2(valid, qPrintable(answer.message));
        }();
        return valid ? image : QImage();
    }

    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    std::optional<MediaActions> m_actions;
    ManagementHandlers m_handlers;
};

QTEST_GUILESS_MAIN(MediaActionsTest)
#include "test_media_actions.moc"

#include "FakeTransferClient.h"
#include "ManagedTransferActions.h"
#include "MediaActions.h"
#include "StorageTree.h"
#include "TestVideo.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using Listings = TestTable<QString, QString, QStringList>;
using Facts = TestTable<QString, QString, QString, QSize, int, qint64>;
using Pages = TestTable<qint64, qint64, QStringList, qint64>;
using Thumbnails = TestTable<QString, int, QSize, QString>;
using Refusals = TestTable<QString, QJsonObject, QString>;

namespace {

const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1).addMSecs(-123);

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
    if (exifOrientation != 0) {
        // APP1 "Exif": a big-endian TIFF header and one IFD entry, Orientation (0x0112), one SHORT.
        const char app1[] = "\xFF\xE1\x00\x22"
                            "Exif\0\0"
                            "MM\0\x2A\0\0\0\x08"
                            "\0\x01"
                            "\x01\x12\0\x03\0\0\0\x01\0\0\0\0"
                            "\0\0\0\0";
        QByteArray segment(app1, sizeof(app1) - 1);
        segment[29] = static_cast<char>(exifOrientation);
        bytes.insert(2, segment);
    }
    return bytes;
}

bool setModified(const QString &path, const QDateTime &time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

// Which half of the picture is lightest: "top", "right", "bottom" or "left".
QString lightSide(const QImage &image)
{
    const QImage quarters = image.scaled(2, 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const auto gray = [&](int x, int y) {
        return qGray(quarters.pixel(x, y));
    };
    const QList<std::pair<int, QString>> sides = {{gray(0, 0) + gray(1, 0), u"top"_s},
                                                  {gray(1, 0) + gray(1, 1), u"right"_s},
                                                  {gray(0, 1) + gray(1, 1), u"bottom"_s},
                                                  {gray(0, 0) + gray(0, 1), u"left"_s}};
    return std::max_element(sides.cbegin(), sides.cend())->second;
}

QString payloadText(const QJsonObject &payload)
{
    return QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
}

QString idOf(const QString &relativePath)
{
    return StorageIds::idForRelativePath(relativePath);
}

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
        const QList<std::pair<QString, QByteArray>> files = {
            {u"DCIM/a.jpg"_s, jpegOf({400, 300})},
            {u"DCIM/c.jpg"_s, jpegOf({30, 20})},
            {u"DCIM/b.dat"_s, jpegOf({64, 48})},
            {u"Pictures/turned.jpg"_s, jpegOf({400, 300}, 6)},
            {u".tavrine/private.jpg"_s, jpegOf({10, 10})},
            {u"broken.png"_s, QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(100, 'x')},
        };
        for (const auto &file : files)
            QVERIFY(writeFile(m_storage + u'/' + file.first, file.second));
        QVERIFY(makeEntries(m_root->path(), {u"storage/fake.jpg=not a picture"_s, u"storage/pipe.jpg|"_s,
                                             u"storage/link.jpg -> DCIM/a.jpg"_s, u"outside.jpg=x"_s}));
        QVERIFY(writeTestVideo(m_storage + u"/Movies/clip.mp4"_s, {320, 240}, 25, 25));
        QVERIFY(writeTestVideo(m_storage + u"/Movies/turned.mp4"_s, {320, 240}, 10, 10, 90));
        QVERIFY(writeTestVideo(m_storage + u"/Movies/clip.mkv"_s, {160, 128}, 10, 10));
        const QList<std::pair<QString, int>> hoursLater = {
            {u"DCIM/a.jpg"_s, 0},      {u"DCIM/c.jpg"_s, 0},        {u"Pictures/turned.jpg"_s, 1}, {u"DCIM/b.dat"_s, 2},
            {u"Movies/clip.mp4"_s, 0}, {u"Movies/turned.mp4"_s, 1}, {u"Movies/clip.mkv"_s, 2}};
        for (const auto &file : hoursLater)
            QVERIFY(setModified(m_storage + u'/' + file.first, dayAgo.addSecs(file.second * 3600)));
        m_actions.emplace(m_storage);
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void listsMediaByContent_data()
    {
        const Listings rows; // kind, query, and the relative paths listed
        rows("photos newest first, then by path", u"photo"_s, u""_s,
             {u"DCIM/b.dat"_s, u"Pictures/turned.jpg"_s, u"DCIM/a.jpg"_s, u"DCIM/c.jpg"_s});
        rows("videos", u"video"_s, u""_s, {u"Movies/clip.mkv"_s, u"Movies/turned.mp4"_s, u"Movies/clip.mp4"_s});
        rows("query ignores case", u"photo"_s, u"TURN"_s, {u"Pictures/turned.jpg"_s});
        rows("query matches names, not folders", u"video"_s, u"Movies"_s, {});
    }

    // A JPEG named .dat counts and a text named .jpg does not; neither links, pipes nor the phone's own
    // folder are listed.
    void listsMediaByContent()
    {
        const auto [kind, query, paths] = Listings::fetch();
        QCOMPARE(listedPaths({{u"kind"_s, kind}, {u"query"_s, query}}), paths);
    }

    void reportsRealFacts_data()
    {
        const Facts rows; // kind, relativePath, mimeType, size, orientation (-1: none), duration (-1: none)
        rows("photo", u"photo"_s, u"DCIM/a.jpg"_s, u"image/jpeg"_s, {400, 300}, -1, -1);
        rows("photo named .dat", u"photo"_s, u"DCIM/b.dat"_s, u"image/jpeg"_s, {64, 48}, -1, -1);
        rows("photo turned by EXIF", u"photo"_s, u"Pictures/turned.jpg"_s, u"image/jpeg"_s, {400, 300}, 90, -1);
        rows("video", u"video"_s, u"Movies/clip.mp4"_s, u"video/mp4"_s, {320, 240}, -1, 1000);
        rows("turned video", u"video"_s, u"Movies/turned.mp4"_s, u"video/mp4"_s, {320, 240}, 90, 900);
        rows("Matroska video", u"video"_s, u"Movies/clip.mkv"_s, u"video/x-matroska"_s, {160, 128}, -1, 900);
    }

    void reportsRealFacts()
    {
        const auto [kind, path, mimeType, size, orientation, duration] = Facts::fetch();
        const QJsonArray items = list({{u"kind"_s, kind}}).value(u"items"_s).toArray();
        const QString relativePath = path;
        const auto item = std::find_if(items.cbegin(), items.cend(), [&](const QJsonValue &value) {
                              return value[u"relativePath"_s] == relativePath;
                          })->toObject();
        const QFileInfo info(m_storage + u'/' + path);
        QJsonObject expected{{u"id"_s, idOf(path)},
                             {u"name"_s, info.fileName()},
                             {u"kind"_s, kind},
                             {u"size"_s, info.size()},
                             {u"modifiedAtMillis"_s, info.lastModified().toMSecsSinceEpoch()},
                             {u"mimeType"_s, mimeType},
                             {u"width"_s, size.width()},
                             {u"height"_s, size.height()},
                             {u"relativePath"_s, path}};
        if (orientation >= 0)
            expected.insert(u"orientationDegrees"_s, orientation);
        // Containers count a video's length with or without its last frame.
        if (duration >= 0 && std::abs(item.value(u"durationMillis"_s).toInteger() - duration) <= 50)
            expected.insert(u"durationMillis"_s, item.value(u"durationMillis"_s));
        QCOMPARE(item, expected);
    }

    void pages_data()
    {
        const Pages rows; // pageToken, pageSize, relative paths, nextPageToken (-1: none)
        rows("first page", 0, 2, {u"DCIM/b.dat"_s, u"Pictures/turned.jpg"_s}, 2);
        rows("last page", 2, 2, {u"DCIM/a.jpg"_s, u"DCIM/c.jpg"_s}, -1);
        rows("past the end", 9, 2, {}, -1);
        rows("size below one is one", 1, 0, {u"Pictures/turned.jpg"_s}, 2);
        rows("size above the largest", 0, 1 << 20,
             {u"DCIM/b.dat"_s, u"Pictures/turned.jpg"_s, u"DCIM/a.jpg"_s, u"DCIM/c.jpg"_s}, -1);
    }

    void pages()
    {
        const auto [token, size, paths, next] = Pages::fetch();
        const QJsonObject page = list({{u"kind"_s, u"photo"_s}, {u"pageToken"_s, token}, {u"pageSize"_s, size}});
        QCOMPARE(listedPaths(page), paths);
        QCOMPARE(page.value(u"nextPageToken"_s).toInteger(-1), next);
    }

    // Unchanged files are not probed again; a rewritten one is.
    void keepsFactsOfUnchangedFiles()
    {
        list({{u"kind"_s, u"photo"_s}});
        const int probed = m_actions->library().probeCount();
        list({{u"kind"_s, u"video"_s}, {u"pageToken"_s, 1}});
        QCOMPARE(m_actions->library().probeCount(), probed);

        QVERIFY(writeFile(m_storage + u"/DCIM/a.jpg"_s, jpegOf({200, 100})));
        const QJsonObject newest = list({{u"kind"_s, u"photo"_s}, {u"pageSize"_s, 1}});
        QCOMPARE(newest[u"items"_s][0][u"relativePath"_s], u"DCIM/a.jpg"_s);
        QCOMPARE(newest[u"items"_s][0][u"width"_s], 200);
        QCOMPARE(m_actions->library().probeCount(), probed + 1);
    }

    void thumbnails_data()
    {
        const Thumbnails rows; // relative path, maxDimension, the JPEG's size, its light side ("": any)
        rows("photo made smaller", u"DCIM/a.jpg"_s, 100, {100, 75}, u"top"_s);
        rows("photo never made larger", u"DCIM/a.jpg"_s, 5000, {400, 300}, u"top"_s);
        rows("dimension below one", u"DCIM/a.jpg"_s, -3, {1, 1}, u""_s);
        rows("photo named .dat", u"DCIM/b.dat"_s, 32, {32, 24}, u"top"_s);
        rows("photo turned by EXIF", u"Pictures/turned.jpg"_s, 200, {150, 200}, u"right"_s);
        rows("video frame", u"Movies/clip.mp4"_s, 160, {160, 120}, u"top"_s);
        rows("turned video frame", u"Movies/turned.mp4"_s, 1000, {240, 320}, u"right"_s);
        rows("Matroska video frame", u"Movies/clip.mkv"_s, 64, {64, 51}, u"top"_s);
    }

    void thumbnails()
    {
        const auto [path, maxDimension, size, side] = Thumbnails::fetch();
        const QImage image = thumbnailOf({{u"id"_s, idOf(path)}, {u"maxDimension"_s, maxDimension}}, 143'360);
        QCOMPARE(image.size(), size);
        if (!side.isEmpty())
            QCOMPARE(lightSide(image), side);
    }

    // A picture full of noise still comes within the bytes the computer takes, as tile and as large preview.
    void thumbnailsFitTheirByteBound()
    {
        QImage noise(2048, 1536, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(noise.scanLine(y)), noise.width());
        QVERIFY(noise.save(m_storage + u"/noise.png"_s));
        for (const auto &[maxDimension, maxBytes] : {std::pair(1024, 143'360), std::pair(2048, 184'320)}) {
            const QImage image =
                thumbnailOf({{u"id"_s, idOf(u"noise.png"_s)}, {u"maxDimension"_s, maxDimension}}, maxBytes);
            QVERIFY(image.width() <= maxDimension && image.width() >= maxDimension / 8);
            QCOMPARE(image.height(), image.width() * 3 / 4);
        }
    }

    void answers_data()
    {
        const Refusals rows; // action, payload, what the failure message holds ("": the file is sent)
        const QString list = u"media.list"_s, thumbnail = u"media.thumbnail"_s;
        const QString notFound = u"找不到这个文件。"_s, noPreview = u"无法为这个文件生成预览。"_s;
        const auto thumbnailOf = [&](const char *name, const QString &path, const QString &message) {
            rows(name, thumbnail, {{u"id"_s, idOf(path)}}, message);
        };
        const auto download = [&](const char *name, const QString &path, const QString &message) {
            rows(name, u"media.download"_s, {{u"id"_s, idOf(path)}, {u"transferId"_s, u"t"_s}}, message);
        };
        thumbnailOf("up and out", u"../outside.jpg"_s, notFound);
        thumbnailOf("the phone's own folder", u".tavrine/private.jpg"_s, notFound);
        thumbnailOf("link to a photo", u"link.jpg"_s, notFound);
        thumbnailOf("text named .jpg", u"fake.jpg"_s, noPreview);
        thumbnailOf("damaged picture", u"broken.png"_s, noPreview);
        thumbnailOf("named pipe", u"pipe.jpg"_s, noPreview);
        thumbnailOf("folder", u"DCIM"_s, noPreview);
        thumbnailOf("more than 100 megapixels", u"huge.jpg"_s, noPreview);
        rows("id not a text", thumbnail, {{u"id"_s, 7}}, u"\"id\""_s);
        rows("unknown kind", list, {{u"kind"_s, u"audio"_s}}, u"\"kind\""_s);
        rows("query not a text", list, {{u"kind"_s, u"photo"_s}, {u"query"_s, true}}, u"\"query\""_s);
        rows("negative token", list, {{u"kind"_s, u"photo"_s}, {u"pageToken"_s, -1}}, u"\"pageToken\""_s);
        rows("fractional size", list, {{u"kind"_s, u"photo"_s}, {u"pageSize"_s, 1.5}}, u"\"pageSize\""_s);
        download("download a photo named .dat", u"DCIM/b.dat"_s, u""_s);
        download("download a video", u"Movies/clip.mkv"_s, u""_s);
        download("download a text named .jpg", u"fake.jpg"_s, u"这不是照片或视频。"_s);
    }

    void answers()
    {
        const auto [action, payload, message] = Refusals::fetch();
        // A small JPEG whose frame header claims 15000 × 10000 pixels.
        QByteArray huge = jpegOf({64, 48});
        const qsizetype frame = huge.indexOf("\xFF\xC0");
        QVERIFY(frame > 0);
        huge.replace(frame + 5, 4, QByteArray("\x27\x10\x3A\x98", 4));
        QVERIFY(writeFile(m_storage + u"/huge.jpg"_s, huge));
        FakeTransferClient client;
        ManagedTransferActions transfers(client, m_storage);
        transfers.addTo(m_handlers);

        const ManagementAnswer answer = m_handlers.answer(action, payloadText(payload));
        QVERIFY2(answer.success == message.isEmpty() && answer.message.contains(message), qPrintable(answer.message));
        QCOMPARE(client.sentFiles.size(), answer.success ? 1 : 0);
    }

private:
    QJsonObject list(const QJsonObject &payload)
    {
        const ManagementAnswer answer = m_handlers.answer(u"media.list"_s, payloadText(payload));
        [&] {
            QVERIFY2(answer.success, qPrintable(answer.message));
        }();
        const QJsonObject page = QJsonDocument::fromJson(answer.payload.toUtf8()).object();
        [&] {
            QCOMPARE(page.value(u"version"_s), 1);
        }();
        return page;
    }

    QStringList listedPaths(const QJsonObject &payloadOrPage)
    {
        const QJsonObject page = payloadOrPage.contains(u"items"_s) ? payloadOrPage : list(payloadOrPage);
        QStringList paths;
        for (const QJsonValue &item : page.value(u"items"_s).toArray())
            paths.append(item[u"relativePath"_s].toString());
        return paths;
    }

    // The thumbnail's picture, checked to be a real JPEG in strict Base64 of at most `maxBytes`; null if not.
    QImage thumbnailOf(const QJsonObject &payload, int maxBytes)
    {
        const ManagementAnswer answer = m_handlers.answer(u"media.thumbnail"_s, payloadText(payload));
        const QJsonObject thumbnail = QJsonDocument::fromJson(answer.payload.toUtf8()).object();
        const auto bytes = QByteArray::fromBase64Encoding(thumbnail.value(u"dataBase64"_s).toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        const QImage image = QImage::fromData(bytes.decoded, "JPEG");
        const bool valid = answer.success && bytes && bytes.decoded.size() <= maxBytes &&
                           thumbnail[u"version"_s] == 1 && thumbnail[u"id"_s] == payload[u"id"_s] &&
                           thumbnail[u"mimeType"_s] == u"image/jpeg"_s && thumbnail[u"pixelWidth"_s] == image.width() &&
                           thumbnail[u"pixelHeight"_s] == image.height();
        [&] {
            QVERIFY2(valid, qPrintable(answer.message + u' ' + QString::number(bytes.decoded.size())));
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

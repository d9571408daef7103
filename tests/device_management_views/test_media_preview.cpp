#include "ManagedMediaPreview.h"
#include "ManagementStoreFixture.h"
#include "MediaPreviewPresentation.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Picture = MediaPreviewAppearance::Picture;
using Reply = FakeManagementChannel::Reply;

namespace {

ManagedMediaItem media(const QString &id, qint64 width = 4000, qint64 height = 3000)
{
    return {id,
            id + u".jpg"_s,
            ManagedMediaKind::photo,
            2'000'000,
            1'700'000'000'000,
            u"image/jpeg"_s,
            width,
            height,
            90,
            u"DCIM/"_s + id,
            std::nullopt};
}

const QList<ManagedMediaItem> threeItems{media(u"a"_s), media(u"b"_s), media(u"c"_s)};

// The phone's answer to an image request: a small JPEG of the item asked for.
Reply jpegAnswer(const FakeManagementChannel::Request &request)
{
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "JPEG");
    return Reply::json(
        encodeManaged(ManagedMediaThumbnail{1, request.object().value(u"id"_s).toString(), u"image/jpeg"_s, 32, 24,
                                            QString::fromLatin1(bytes.toBase64())}));
}

// The ids of the large previews asked for, in order.
QStringList previewRequests(const FakeManagementChannel &channel)
{
    QStringList ids;
    for (const FakeManagementChannel::Request &request : channel.requests) {
        if (request.object().value(u"maxDimension"_s).toInt() == 2048) {
            ids.append(request.object().value(u"id"_s).toString());
        }
    }
    return ids;
}

// Whether a label or button with exactly this text is on show in the sheet.
bool shows(const QWidget &sheet, const QString &text)
{
    for (const QLabel *label : sheet.findChildren<QLabel *>()) {
        if (label->text() == text && label->isVisible()) {
            return true;
        }
    }
    for (const QAbstractButton *button : sheet.findChildren<QAbstractButton *>()) {
        if (button->text() == text && button->isVisible()) {
            return true;
        }
    }
    return false;
}

QAbstractButton *button(const QWidget &sheet, const QString &text)
{
    for (QAbstractButton *candidate : sheet.findChildren<QAbstractButton *>()) {
        if (candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}

} // namespace

class MediaPreviewTest : public QObject
{
    Q_OBJECT

private slots:
    void stepping_data()
    {
        const TestTable<std::optional<QString>, qsizetype, std::optional<QString>> rows;
        rows("no selection", std::nullopt, 1, std::nullopt);
        rows("id not listed", u"x"_s, 1, std::nullopt);
        rows("before the first", u"a"_s, -1, std::nullopt);
        rows("past the last", u"c"_s, 1, std::nullopt);
        rows("no offset", u"b"_s, 0, std::nullopt);
        rows("next", u"a"_s, 1, u"b"_s);
        rows("previous", u"b"_s, -1, u"a"_s);
        rows("two on", u"a"_s, 2, u"c"_s);
    }
    void stepping()
    {
        const auto [selected, offset, target] =
            TestTable<std::optional<QString>, qsizetype, std::optional<QString>>::fetch();
        QCOMPARE(mediaPreviewMoveTarget(threeItems, selected, offset), target);
    }

    void steppingButtons_data()
    {
        const TestTable<qsizetype, qsizetype, bool, bool> rows;
        rows("only item", 0, 1, false, false);
        rows("first of three", 0, 3, false, true);
        rows("middle", 1, 3, true, true);
        rows("last", 2, 3, true, false);
        rows("index past the list", 3, 3, false, false);
    }
    void steppingButtons()
    {
        const auto [index, count, previous, next] = TestTable<qsizetype, qsizetype, bool, bool>::fetch();
        QCOMPARE(canShowPreviousMedia(index, count), previous);
        QCOMPARE(canShowNextMedia(index, count), next);
    }

    void detailLineAndLayers()
    {
        // Stored sizes, not turned by the orientation.
        QVERIFY(mediaPreviewDetailLine(media(u"a"_s)).startsWith(u"4000 × 3000  ·  "_s));
        QVERIFY(mediaPreviewDetailLine(media(u"a"_s, 0, 3000)).startsWith(u"未知尺寸  ·  "_s));
        QCOMPARE(mediaPreviewAppearance(true, true, false), (MediaPreviewAppearance{Picture::image, true, false}));
        QCOMPARE(mediaPreviewAppearance(false, true, false), (MediaPreviewAppearance{Picture::loading, false, false}));
        QCOMPARE(mediaPreviewAppearance(false, false, true),
                 (MediaPreviewAppearance{Picture::unavailable, false, true}));
    }

    void arrowKeysStepAndEscapeCloses()
    {
        ManagementStoreFixture fixture;
        fixture.store->setMediaItems(threeItems);
        fixture.channel->hold = true;
        ManagedMediaPreview sheet(*fixture.store, u"b"_s);
        sheet.show();
        QTRY_COMPARE(previewRequests(*fixture.channel), QStringList{u"b"_s});
        QVERIFY(shows(sheet, u"正在加载高清预览…"_s));
        QVERIFY(button(sheet, u"上一张"_s)->isEnabled() && button(sheet, u"下一张"_s)->isEnabled());

        QSignalSpy changes(&sheet, &ManagedMediaPreview::selectedMediaIDChanged);
        QTest::keyClick(&sheet, Qt::Key_Right);
        QCOMPARE(sheet.selectedMediaID(), u"c"_s);
        QVERIFY(!button(sheet, u"下一张"_s)->isEnabled());
        QTest::keyClick(&sheet, Qt::Key_Right); // the last item: ignored
        QCOMPARE(sheet.selectedMediaID(), u"c"_s);
        button(sheet, u"上一张"_s)->click();
        QTest::keyClick(&sheet, Qt::Key_Left);
        QCOMPARE(sheet.selectedMediaID(), u"a"_s);
        QCOMPARE(changes.size(), 3);
        // One preview is out at a time: "b" is still loading, "c" was stepped over while it waited and is never
        // asked for, "a" goes when "b" is answered.
        QCOMPARE(previewRequests(*fixture.channel), QStringList{u"b"_s});
        fixture.channel->release();
        QTRY_COMPARE(previewRequests(*fixture.channel), (QStringList{u"b"_s, u"a"_s}));
        QVERIFY(!fixture.store->loadingPreviewKeys().contains(fixture.store->mediaCacheKey(threeItems.at(2))));

        fixture.store->setMediaItems({media(u"z"_s)}); // the list was reloaded without the item
        QVERIFY(shows(sheet, u"照片已不可用"_s) && shows(sheet, u"照片列表可能已经刷新。"_s));
        QVERIFY(!sheet.move(1) && !sheet.move(-1));

        QSignalSpy rejected(&sheet, &QDialog::rejected);
        QTest::keyClick(&sheet, Qt::Key_Escape);
        QCOMPARE(rejected.size(), 1);
        QVERIFY(!sheet.isVisible());
        fixture.channel->release();
        QTRY_VERIFY(fixture.store->loadingPreviewKeys().isEmpty());
    }

    // The sheet steps through what the gallery drew: a video in a list of photos is passed over.
    void steppingSkipsTheOtherKind()
    {
        ManagementStoreFixture fixture;
        fixture.channel->hold = true;
        ManagedMediaItem video = media(u"v"_s);
        video.kind = ManagedMediaKind::video;
        fixture.store->setLoadedMediaKind(ManagedMediaKind::photo);
        fixture.store->setMediaItems({media(u"a"_s), video, media(u"b"_s), video});
        ManagedMediaPreview sheet(*fixture.store, u"a"_s);
        sheet.show();
        QTest::keyClick(&sheet, Qt::Key_Right);
        QCOMPARE(sheet.selectedMediaID(), u"b"_s);
        QVERIFY(!button(sheet, u"下一张"_s)->isEnabled());
        QVERIFY(!sheet.move(1));
        sheet.setSelectedMediaID(u"v"_s);
        QVERIFY(shows(sheet, u"照片已不可用"_s));
        fixture.channel->hold = false;
        fixture.channel->release();
        QTRY_VERIFY(fixture.store->loadingPreviewKeys().isEmpty());
    }

    void thumbnailStandsInWhileThePreviewLoads()
    {
        ManagementStoreFixture fixture;
        fixture.store->setMediaItems(threeItems);
        fixture.channel->answer = jpegAnswer;
        awaitTask(fixture.store->loadThumbnail(threeItems.at(0), 1024));
        fixture.channel->hold = true;
        ManagedMediaPreview sheet(*fixture.store, u"a"_s);
        sheet.show();
        QVERIFY(shows(sheet, u"正在加载高清预览"_s));
        QVERIFY(!shows(sheet, u"正在加载高清预览…"_s));
        QTRY_COMPARE(previewRequests(*fixture.channel).size(), 1);
        fixture.channel->release();
        QTRY_VERIFY(!shows(sheet, u"正在加载高清预览"_s));
        QVERIFY(!shows(sheet, u"无法显示预览"_s));
    }

    void failedPreviewOffersReload()
    {
        ManagementStoreFixture fixture;
        fixture.store->setMediaItems(threeItems);
        ManagedMediaPreview sheet(*fixture.store, u"a"_s);
        sheet.show(); // the default answer is no image
        QTRY_VERIFY(shows(sheet, u"重新加载高清预览"_s));
        QVERIFY(shows(sheet, u"无法显示预览"_s) && shows(sheet, u"你仍然可以将原文件下载到电脑。"_s));

        // Reopening does not ask again; only the reload button does.
        sheet.hide();
        sheet.show();
        QCOMPARE(previewRequests(*fixture.channel).size(), 1);
        fixture.channel->hold = true;
        button(sheet, u"重新加载高清预览"_s)->click();
        QTRY_COMPARE(previewRequests(*fixture.channel).size(), 2);
        QVERIFY(!shows(sheet, u"重新加载高清预览"_s));
        QVERIFY(shows(sheet, u"正在加载高清预览…"_s));
        fixture.channel->release();
        QTRY_VERIFY(shows(sheet, u"重新加载高清预览"_s));
    }
};

QTEST_MAIN(MediaPreviewTest)
#include "test_media_preview.moc"

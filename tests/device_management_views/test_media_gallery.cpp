#include "ManagedFilesPanePresentation.h"
#include "ManagedMediaGallery.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QBuffer>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
using Content = MediaTileAppearance::Content;

namespace {

ManagedMediaItem media(const QString &id, ManagedMediaKind kind = ManagedMediaKind::photo, qint64 width = 4000,
                       qint64 height = 3000, std::optional<qint64> orientation = std::nullopt,
                       std::optional<qint64> duration = std::nullopt)
{
    return {id,          id + u".jpg"_s,  kind,    100, 1'700'000'000'000, u"image/jpeg"_s, width, height,
            orientation, u"DCIM/"_s + id, duration};
}

QStringList thumbnailRequests(const FakeManagementChannel &channel)
{
    QStringList ids;
    for (const FakeManagementChannel::Request &request : channel.requests) {
        if (request.action == u"media.thumbnail"_s) {
            // A request of another size shows up as a wrong id.
            const bool bounded = request.object().value(u"maxDimension"_s).toInt() == 1024;
            ids.append((bounded ? u""_s : u"unbounded "_s) + request.object().value(u"id"_s).toString());
        }
    }
    return ids;
}

} // namespace

class MediaGalleryTest : public QObject
{
    Q_OBJECT

private slots:
    void durationTexts_data()
    {
        const TestTable<qint64, QString> rows;
        rows("none", 0, u"0:00"_s);
        rows("negative", -5000, u"0:00"_s);
        rows("just under a minute", 59'999, u"0:59"_s);
        rows("65 s", 65'000, u"1:05"_s);
        rows("one hour", 3'600'000, u"1:00:00"_s);
        rows("1:02:03", 3'723'000, u"1:02:03"_s);
    }
    void durationTexts()
    {
        const auto [milliseconds, text] = TestTable<qint64, QString>::fetch();
        QCOMPARE(mediaDurationText(milliseconds), text);
    }

    void aspectRatioAppliesOrientation_data()
    {
        const TestTable<ManagedMediaItem, double> rows;
        rows("no orientation", media(u"a"_s), 4000.0 / 3000);
        rows("180", media(u"a"_s, ManagedMediaKind::photo, 4000, 3000, 180), 4000.0 / 3000);
        rows("-90 is 270", media(u"a"_s, ManagedMediaKind::photo, 4000, 3000, -90), 0.75);
        rows("450 is 90", media(u"a"_s, ManagedMediaKind::photo, 4000, 3000, 450), 0.75);
        rows("no width", media(u"a"_s, ManagedMediaKind::photo, 0, 3000, 90), 1.0);
    }
    void aspectRatioAppliesOrientation()
    {
        const auto [item, ratio] = TestTable<ManagedMediaItem, double>::fetch();
        QCOMPARE(mediaAspectRatio(item), ratio);
    }

    void tileStates_data()
    {
        const auto video = ManagedMediaKind::video;
        const TestTable<ManagedMediaItem, bool, bool, MediaTileAppearance> rows;
        rows("photo loading", media(u"a"_s), false, true, {Content::loading, false, std::nullopt});
        rows("failed photo", media(u"a"_s), false, false, {Content::placeholder, false, std::nullopt});
        rows("video without duration", media(u"v"_s, video), true, true, {Content::image, true, std::nullopt});
        rows("video of 0 ms", media(u"v"_s, video, 1, 1, {}, 0), false, false, {Content::placeholder, true, {}});
        rows("video of 65 s", media(u"v"_s, video, 1, 1, {}, 65'000), true, false, {Content::image, true, u"1:05"_s});
        rows("photo with a duration", media(u"a"_s, ManagedMediaKind::photo, 1, 1, {}, 1000), true, false,
             {Content::image, false, u"0:01"_s});
    }
    void tileStates()
    {
        const auto [item, hasImage, isLoading, expected] =
            TestTable<ManagedMediaItem, bool, bool, MediaTileAppearance>::fetch();
        QCOMPARE(mediaTileAppearance(item, hasImage, isLoading), expected);
    }

    void gridStateShowsOnlyTheRequestedKind_data()
    {
        using Kind = std::optional<ManagedMediaKind>;
        const TestTable<bool, Kind, bool, MediaGridState> rows;
        const Kind photo = ManagedMediaKind::photo;
        const Kind video = ManagedMediaKind::video;
        rows("nothing loaded yet", true, std::nullopt, false, MediaGridState::loading);
        rows("videos shown, photos loading", true, video, true, MediaGridState::loading);
        rows("videos shown, photos not loading", false, video, true, MediaGridState::empty);
        rows("photos reloading", true, photo, true, MediaGridState::gallery);
        rows("no photos", false, photo, false, MediaGridState::empty);
    }
    void gridStateShowsOnlyTheRequestedKind()
    {
        const auto [loading, loaded, hasItems, state] =
            TestTable<bool, std::optional<ManagedMediaKind>, bool, MediaGridState>::fetch();
        QCOMPARE(mediaGridState(loading, loaded, ManagedMediaKind::photo, hasItems), state);
    }

    void texts()
    {
        QCOMPARE(mediaEmptyTitle(ManagedMediaKind::video, {}), u"没有视频"_s);
        QCOMPARE(mediaEmptyTitle(ManagedMediaKind::photo, u"x"_s), u"没有匹配的内容"_s);
        QCOMPARE(mediaLoadingText(ManagedMediaKind::photo), u"正在整理照片…"_s);
        QCOMPARE(mediaAccessibilityLabel(media(u"clip.mp4"_s, ManagedMediaKind::video)), u"视频，clip.mp4.jpg"_s);
        QVERIFY(isCompactMediaLayout(u"compact"_s));
        QVERIFY(!isCompactMediaLayout(u"Compact"_s) && !isCompactMediaLayout(u"grid"_s));
    }

    // The hover caption and the compact cell show the day alone, as the phone's clock saw it here.
    void tileDateHasNoTime_data()
    {
        const TestTable<QDateTime, QString> rows;
        rows("evening", QDateTime(QDate(2023, 11, 14), QTime(22, 13)), u"2023年11月14日"_s);
        rows("midnight", QDateTime(QDate(2024, 2, 29), QTime(0, 0)), u"2024年2月29日"_s);
    }

    void tileDateHasNoTime()
    {
        const auto [modified, text] = TestTable<QDateTime, QString>::fetch();
        ManagedMediaItem item = media(u"a"_s);
        item.modifiedAtMillis = modified.toMSecsSinceEpoch();
        QCOMPARE(mediaDateText(item), text);
        item.modifiedAtMillis = std::numeric_limits<qint64>::min(); // a broken clock shows as the epoch's day
        QCOMPARE(mediaDateText(item), QDateTime::fromMSecsSinceEpoch(0).date().toString(u"yyyy年M月d日"_s));
    }

    // Of 5000 photos only the tiles on screen ask for thumbnails, a few at a time; a failed one is not asked for
    // again, and tiles passed over between two frames are not asked for at all.
    void thumbnailsAreRequestedForTilesOnScreen()
    {
        ManagementStoreFixture fixture;
        QList<ManagedMediaItem> items;
        for (int index = 0; index < 5000; ++index) {
            items.append(media(QString::number(index)));
        }
        fixture.store->setMediaItems(items);
        fixture.channel->hold = true;
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        QVERIFY(thumbnailRequests(*fixture.channel).isEmpty()); // nothing is on screen before it is shown
        gallery.show();

        const QList<qsizetype> onScreen = gallery.onScreenIndices();
        QVERIFY(onScreen.size() > DeviceManagementStore::thumbnailRequestPlaces && onScreen.size() < 60);
        QStringList expected;
        for (const qsizetype index : onScreen) {
            expected.append(items.at(index).id);
        }
        QTRY_COMPARE(thumbnailRequests(*fixture.channel),
                     expected.first(DeviceManagementStore::thumbnailRequestPlaces));
        // Waiting for its turn is loading too.
        QCOMPARE(gallery.tile(0).appearance().content, Content::loading);
        QCOMPARE(gallery.tile(onScreen.last()).appearance().content, Content::loading);

        fixture.channel->hold = false;
        fixture.channel->release(); // the default answer is no image
        QTRY_COMPARE(fixture.store->failedThumbnailKeys().size(), onScreen.size());
        QCOMPARE(thumbnailRequests(*fixture.channel), expected);
        QCOMPARE(gallery.tile(0).appearance().content, Content::placeholder);

        // A fast scroll: the middle is on screen only between two frames.
        QScrollBar *scrollBar = gallery.verticalScrollBar();
        scrollBar->setValue(scrollBar->maximum() / 2);
        const QList<qsizetype> passed = gallery.onScreenIndices();
        scrollBar->setValue(scrollBar->maximum());
        QVERIFY(gallery.onScreenIndices().contains(4999));
        for (const qsizetype index : gallery.onScreenIndices()) {
            expected.append(items.at(index).id);
        }
        QTRY_VERIFY(fixture.store->loadingThumbnailKeys().isEmpty());
        QCOMPARE(thumbnailRequests(*fixture.channel), expected);
        QVERIFY(!thumbnailRequests(*fixture.channel).contains(items.at(passed.first()).id));
        QVERIFY(!fixture.store->failedThumbnailKeys().contains(fixture.store->mediaCacheKey(items.at(passed.first()))));
        scrollBar->setValue(0);
        QTest::qWait(20);
        QCOMPARE(thumbnailRequests(*fixture.channel), expected);
    }

    // What a person sees: each tile's own picture once it arrived, also after the layout, the palette and the
    // scroll position changed; a tile that scrolled away and back shows it again without asking the phone.
    void tilesShowTheirThumbnails()
    {
        ManagementStoreFixture fixture;
        const QList<QColor> colours{Qt::red, Qt::blue};
        fixture.channel->answer = [&colours](const FakeManagementChannel::Request &request) {
            const QString id = request.object().value(u"id"_s).toString();
            QImage picture(1024, 768, QImage::Format_RGB32);
            picture.fill(colours.at(id.toInt() % 2));
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "JPEG");
            return FakeManagementChannel::Reply::json(encodeManaged(
                ManagedMediaThumbnail{1, id, u"image/jpeg"_s, 1024, 768, QString::fromLatin1(bytes.toBase64())}));
        };
        QList<ManagedMediaItem> items;
        for (int index = 0; index < 300; ++index) {
            items.append(media(QString::number(index)));
        }
        fixture.store->setMediaItems(items);
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        gallery.show();
        const auto centreColour = [&gallery](qsizetype index) {
            const QPoint centre = gallery.tileRect(index).center().toPoint() -
                                  QPoint(0, gallery.verticalScrollBar()->value()) +
                                  gallery.viewport()->geometry().topLeft();
            return gallery.grab().toImage().pixelColor(centre);
        };
        const auto isColour = [](const QColor &seen, const QColor &expected) {
            return qAbs(seen.red() - expected.red()) < 40 && qAbs(seen.blue() - expected.blue()) < 40 &&
                   seen.green() < 40;
        };
        QTRY_VERIFY(isColour(centreColour(0), Qt::red));
        QVERIFY(isColour(centreColour(1), Qt::blue));

        gallery.setLayoutRawValue(u"compact"_s);
        QTRY_VERIFY(isColour(centreColour(1), Qt::blue));
        QTRY_VERIFY(fixture.store->loadingThumbnailKeys().isEmpty());
        QPalette dark = gallery.palette();
        dark.setColor(QPalette::Base, Qt::black);
        gallery.setPalette(dark);
        QVERIFY(isColour(centreColour(0), Qt::red));

        QScrollBar *scrollBar = gallery.verticalScrollBar();
        scrollBar->setValue(scrollBar->maximum());
        QTRY_VERIFY(isColour(centreColour(299), Qt::blue));
        QTRY_VERIFY(fixture.store->loadingThumbnailKeys().isEmpty());
        const qsizetype asked = thumbnailRequests(*fixture.channel).size();
        scrollBar->setValue(0);
        QVERIFY(isColour(centreColour(0), Qt::red) && isColour(centreColour(1), Qt::blue));
        QTest::qWait(20);
        QCOMPARE(thumbnailRequests(*fixture.channel).size(), asked);
    }

    void layoutsPlaceTiles()
    {
        ManagementStoreFixture fixture;
        fixture.channel->connected = false;
        fixture.store->setMediaItems({media(u"a"_s, ManagedMediaKind::photo, 0, 0), media(u"b"_s)});
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        gallery.show();
        // A short last row stays against the leading edge at the target height; an unknown size is a square.
        QCOMPARE(gallery.tileRect(0), QRectF(24, 18, 160, 160));
        QCOMPARE(gallery.tileRect(1).left(), 24 + 160 + 8);

        gallery.setLayoutRawValue(u"compact"_s);
        QCOMPARE(gallery.style(), MediaGalleryLayoutStyle::compact);
        const QRectF cell = gallery.tileRect(0);
        QVERIFY(cell.width() >= 156 && cell.width() <= 220 && cell.height() > cell.width());
        QCOMPARE(gallery.tileRect(1).top(), cell.top());
        gallery.setLayoutRawValue(u"square"_s);
        QCOMPARE(gallery.style(), MediaGalleryLayoutStyle::original);
    }

    // A phone's answer that mixes kinds: the photos section draws, counts, asks for and opens its photos only.
    void otherKindIsNotDrawn()
    {
        ManagementStoreFixture fixture;
        fixture.channel->hold = true;
        fixture.store->setLoadedMediaKind(ManagedMediaKind::photo);
        fixture.store->setMediaItems({media(u"clip"_s, ManagedMediaKind::video), media(u"a"_s), media(u"b"_s),
                                      media(u"film"_s, ManagedMediaKind::video)});
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        gallery.show();
        QCOMPARE(gallery.items().size(), 2);
        QCOMPARE(gallery.tile(0).item.id, u"a"_s);
        QCOMPARE(gallery.onScreenIndices(), (QList<qsizetype>{0, 1}));
        QVERIFY(gallery.tileRect(2).isEmpty());
        QTRY_COMPARE(thumbnailRequests(*fixture.channel), (QStringList{u"a"_s, u"b"_s}));
        QSignalSpy previews(&gallery, &ManagedMediaGallery::previewRequested);
        QTest::mouseDClick(gallery.viewport(), Qt::LeftButton, {}, gallery.tileRect(0).center().toPoint());
        QCOMPARE(previews.size(), 1);
        QCOMPARE(previews.first().first().toString(), u"a"_s);

        // A section whose list holds only the other kind is empty, not an empty gallery.
        QVERIFY(FilesPaneStoreValues::from(*fixture.store).hasMediaItems);
        fixture.store->setMediaItems({media(u"clip"_s, ManagedMediaKind::video)});
        QVERIFY(!FilesPaneStoreValues::from(*fixture.store).hasMediaItems);
        QVERIFY(gallery.items().isEmpty());
        fixture.store->setMediaItems({media(u"clip"_s, ManagedMediaKind::video), media(u"a"_s), media(u"b"_s),
                                      media(u"film"_s, ManagedMediaKind::video)});

        // The videos section, loaded later from the same answer, draws the other two.
        fixture.store->setLoadedMediaKind(ManagedMediaKind::video);
        QCOMPARE(gallery.items().size(), 2);
        QCOMPARE(gallery.tile(1).item.id, u"film"_s);
        fixture.channel->hold = false;
        fixture.channel->release();
        QTRY_VERIFY(fixture.store->loadingThumbnailKeys().isEmpty());
    }

    // A screen reader finds one button per tile, named by kind and name, that previews and downloads its item.
    void tilesAreAccessibleButtons()
    {
        ManagementStoreFixture fixture;
        fixture.channel->connected = false;
        fixture.store->setMediaItems({media(u"a"_s), media(u"clip"_s, ManagedMediaKind::video)});
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        gallery.show();
        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(gallery.viewport());
        QVERIFY(list);
        QCOMPARE(list->childCount(), 2);
        QAccessibleInterface *video = list->child(1);
        QVERIFY(video);
        QCOMPARE(video->role(), QAccessible::Button);
        QCOMPARE(video->text(QAccessible::Name), u"视频，clip.jpg"_s);
        // Said to the keyboard's user too: the key that previews, beside the double click.
        QCOMPARE(video->text(QAccessible::Description), u"双击或按空格键预览"_s);
        QCOMPARE(video->parent(), list);
        QCOMPARE(list->indexOfChild(video), 1);
        const QRect onScreen =
            gallery.tileRect(1).toAlignedRect().translated(gallery.viewport()->mapToGlobal(QPoint()));
        QCOMPARE(video->rect(), onScreen);
        QCOMPARE(list->childAt(onScreen.center().x(), onScreen.center().y()), video);

        QAccessibleActionInterface *actions = video->actionInterface();
        QVERIFY(actions);
        QCOMPARE(actions->actionNames(), (QStringList{u"预览"_s, u"下载到电脑"_s}));
        QSignalSpy previews(&gallery, &ManagedMediaGallery::previewRequested);
        actions->doAction(u"预览"_s);
        QCOMPARE(previews.size(), 1);
        QCOMPARE(previews.first().first().toString(), u"clip"_s);

        // Another item in that place is another element; the old one is gone.
        fixture.store->setMediaItems({media(u"b"_s)});
        QCOMPARE(list->childCount(), 1);
        QCOMPARE(list->child(0)->text(QAccessible::Name), u"照片，b.jpg"_s);
        QVERIFY(!list->child(1));
        fixture.channel->connected = true;
        list->child(0)->actionInterface()->doAction(u"下载到电脑"_s);
        QTRY_COMPARE(fixture.channel->count(u"media.download"_s), 1);
        QCOMPARE(fixture.channel->requests.last().object().value(u"id"_s).toString(), u"b"_s);
        QTRY_VERIFY(fixture.store->message().has_value() || fixture.store->errorMessage().has_value());
    }

    // Tab reaches the gallery, which puts the keyboard on the first tile; the arrow keys move between tiles, the
    // one under the keyboard is ringed and is the focused element for a screen reader; Return and Space preview it.
    void keyboardMovesBetweenTilesAndPreviews()
    {
        ManagementStoreFixture fixture;
        fixture.channel->connected = false;
        QList<ManagedMediaItem> items;
        for (int index = 0; index < 30; ++index) {
            items.append(media(QString::number(index)));
        }
        fixture.store->setMediaItems(items);
        QWidget window;
        auto *field = new QLineEdit(&window);
        auto *gallery = new ManagedMediaGallery(*fixture.store, &window);
        gallery->setLayoutRawValue(u"compact"_s);
        auto *column = new QVBoxLayout(&window);
        column->addWidget(field);
        column->addWidget(gallery);
        window.resize(800, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Tab);
        QVERIFY(gallery->hasFocus());
        QCOMPARE(gallery->currentIndex(), 0);

        const auto press = [gallery](Qt::Key key) {
            QTest::keyClick(gallery, key);
            return gallery->currentIndex().value_or(-1);
        };
        QCOMPARE(press(Qt::Key_Right), 1);
        QCOMPARE(press(Qt::Key_Left), 0);
        QCOMPARE(press(Qt::Key_Left), 0);
        const qsizetype below = press(Qt::Key_Down);
        QCOMPARE(gallery->tileRect(below).left(), gallery->tileRect(0).left());
        QVERIFY(gallery->tileRect(below).top() > gallery->tileRect(0).bottom());
        QCOMPARE(press(Qt::Key_Up), 0);
        QCOMPARE(press(Qt::Key_Up), 0);

        // The ring is drawn along the current tile's frame only.
        const auto ringed = [gallery](qsizetype index) {
            const QImage image = gallery->viewport()->grab().toImage();
            const QRectF tile = gallery->tileRect(index).translated(0, -gallery->verticalScrollBar()->value());
            return image.pixelColor(QPointF(tile.center().x(), tile.top() + 1).toPoint()) ==
                   gallery->palette().color(QPalette::Highlight);
        };
        QVERIFY(ringed(0));
        QVERIFY(!ringed(1));

        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(gallery->viewport());
        QCOMPARE(list->text(QAccessible::Name), u"照片"_s);
        QCOMPARE(press(Qt::Key_Right), 1);
        QCOMPARE(list->focusChild(), list->child(1));
        QVERIFY(list->child(1)->state().focused);
        QVERIFY(!list->child(0)->state().focused);

        QSignalSpy previews(gallery, &ManagedMediaGallery::previewRequested);
        QTest::keyClick(gallery, Qt::Key_Return);
        QTest::keyClick(gallery, Qt::Key_Space);
        QCOMPARE(previews.size(), 2);
        QCOMPARE(previews.at(1).first().toString(), u"1"_s);

        // Down to the last row scrolls the current tile into view.
        for (int step = 0; step < 15; ++step) {
            press(Qt::Key_Down);
        }
        const QRectF last = gallery->tileRect(*gallery->currentIndex());
        QCOMPARE(last.top(), gallery->tileRect(items.size() - 1).top());
        QVERIFY(last.top() >= gallery->verticalScrollBar()->value());
        QVERIFY(last.bottom() <= gallery->verticalScrollBar()->value() + gallery->viewport()->height());

        // Home and End go to the first and the last tile, scrolled into view.
        const auto shown = [gallery](qsizetype index) {
            const QRectF tile = gallery->tileRect(index);
            const int top = gallery->verticalScrollBar()->value();
            return tile.top() >= top && tile.bottom() <= top + gallery->viewport()->height();
        };
        QCOMPARE(press(Qt::Key_Home), 0);
        QVERIFY(shown(0));
        QCOMPARE(press(Qt::Key_End), items.size() - 1);
        QVERIFY(shown(items.size() - 1));
        QCOMPARE(list->focusChild(), list->child(int(items.size() - 1)));
        QCOMPARE(press(Qt::Key_Home), 0);
        QVERIFY(shown(0));
        QVERIFY(ringed(0));

        field->setFocus();
        QVERIFY(!list->child(int(*gallery->currentIndex()))->state().focused);
        QVERIFY(!ringed(*gallery->currentIndex()));

        // Items that arrive while the gallery has the focus: the first key starts on the first tile in view.
        fixture.store->setMediaItems({});
        gallery->setFocus();
        fixture.store->setMediaItems(items);
        QCOMPARE(gallery->currentIndex(), std::nullopt);
        QCOMPARE(press(Qt::Key_Down), 0);
    }

    void tilesOpenThePreviewAndDownload()
    {
        ManagementStoreFixture fixture;
        fixture.store->setMediaItems({media(u"a"_s), media(u"b"_s)});
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        gallery.show();
        QSignalSpy previews(&gallery, &ManagedMediaGallery::previewRequested);
        QTest::mouseDClick(gallery.viewport(), Qt::LeftButton, {}, gallery.tileRect(1).center().toPoint());
        QCOMPARE(previews.size(), 1);
        QCOMPARE(previews.first().first().toString(), u"b"_s);

        std::unique_ptr<QMenu> menu(gallery.makeContextMenu(0));
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(0)->text(), u"预览"_s);
        menu->actions().at(1)->trigger();
        QTRY_COMPARE(fixture.channel->count(u"media.download"_s), 1);
        QCOMPARE(fixture.channel->requests.last().object().value(u"id"_s).toString(), u"a"_s);
        QTRY_VERIFY(fixture.store->message().has_value());
        QTRY_VERIFY(fixture.store->loadingThumbnailKeys().isEmpty());
    }
};

QTEST_MAIN(MediaGalleryTest)
#include "test_media_gallery.moc"

// How long the files pane's views take with 5000 items, against the 100 ms event-pump period: a folder of 5000
// entries handed to the file list and to the grid the way the pane hands it over (filtered and sorted by the
// stored preferences) until the first painted frame; the justified rows of 5000 photos, and the gallery of 5000
// photos published by the store until its first painted frame; and each view scrolled to its end and painted.
// A frame is one turn of the event loop (the views' posted layouts) and a grab of the widget. Last, which
// thumbnails a fast scroll through 2000 photos asks the phone for.
#include "FileBrowserPreferences.h"
#include "JustifiedGalleryRows.h"
#include "ManagedFileBrowser.h"
#include "ManagedFileListModel.h"
#include "ManagedFileSort.h"
#include "ManagedMediaGallery.h"
#include "ManagementStoreFixture.h"
#include "MediaGalleryPresentation.h"
#include "Median.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QListView>
#include <QPixmap>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

constexpr int itemCount = 5000;
constexpr int widgetRounds = 9;
constexpr int layoutRounds = 51;
constexpr double pumpPeriodMilliseconds = 100.0;

using tavrine::benchmarks::median;

// Runs `prepare` untimed, then times `work`; the median of `rounds` rounds in milliseconds.
double timed(int rounds, const std::function<void()> &prepare, const std::function<void()> &work)
{
    QList<double> times;
    for (int round = 0; round < rounds; ++round) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

void report(const char *figure, double milliseconds, int rounds)
{
    std::printf("%-52s %8.2f ms = %.3f of the 100 ms pump period (median of %d)\n", figure, milliseconds,
                milliseconds / pumpPeriodMilliseconds, rounds);
}

// The posted work of one event-loop turn, then the widget painted once.
bool paintFrame(QWidget &widget)
{
    QCoreApplication::processEvents();
    return !widget.grab().isNull();
}

// A camera folder: a few sub-folders, then photos, videos and other files, in the phone's (unsorted) order.
QList<ManagedFileEntry> folderEntries()
{
    static const QStringList extensions{u"jpg"_s, u"heic"_s, u"mp4"_s, u"png"_s, u"pdf"_s, u"txt"_s};
    QList<ManagedFileEntry> entries;
    entries.reserve(itemCount);
    for (int index = 0; index < itemCount; ++index) {
        // A scrambled order, so that sorting has work to do.
        const int number = (index * 7919) % itemCount;
        if (index % 100 == 0) {
            entries.append(folderEntry(u"folder-%1"_s.arg(number), u"Album %1"_s.arg(number)));
            continue;
        }
        const QString name = u"IMG_2026%1_%2.%3"_s.arg(number % 1231, 4, 10, QLatin1Char('0'))
                                 .arg(number)
                                 .arg(extensions.at(index % extensions.size()));
        ManagedFileEntry entry = fileEntry(u"file-%1"_s.arg(number), name, 3'000'000 + number);
        entry.modifiedAtMillis = 1'760'000'000'000 + qint64(number) * 1000;
        entries.append(entry);
    }
    return entries;
}

// Photos of the common shapes (landscape, portrait, wide video, square, rotated), ids marked by `round` so that
// every round's tiles ask for thumbnails of their own.
QList<ManagedMediaItem> galleryItems(int round)
{
    static const QList<std::pair<qint64, qint64>> sizes{{4000, 3000}, {3000, 4000}, {1920, 1080}, {1080, 1080}};
    QList<ManagedMediaItem> items;
    items.reserve(itemCount);
    for (int index = 0; index < itemCount; ++index) {
        const auto &[width, height] = sizes.at(index % sizes.size());
        const QString id = u"%1-%2"_s.arg(round).arg(index);
        items.append({id, u"IMG_%1.jpg"_s.arg(index), ManagedMediaKind::photo, 3'000'000, 1'760'000'000'000,
                      u"image/jpeg"_s, width, height, index % 7 == 0 ? std::optional<qint64>(90) : std::nullopt,
                      u"DCIM/Camera/IMG_%1.jpg"_s.arg(index), std::nullopt});
    }
    return items;
}

// Answers every thumbnail request with the same 1024 x 768 JPEG, as a phone answers for a camera photo.
std::function<FakeManagementChannel::Reply(const FakeManagementChannel::Request &)> photoThumbnails()
{
    QImage picture(1024, 768, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            line[x] = qRgb(x / 4, y / 3, (x ^ y) & 0xff);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", 60);
    const QString data = QString::fromLatin1(bytes.toBase64());
    return [data](const FakeManagementChannel::Request &request) {
        if (request.action != u"media.thumbnail"_s) {
            return FakeManagementChannel::Reply{};
        }
        const QString id = request.object().value(u"id"_s).toString();
        return FakeManagementChannel::Reply::json(
            encodeManaged(ManagedMediaThumbnail{1, id, u"image/jpeg"_s, 1024, 768, data}));
    };
}

// Scroll steps of 120 pixels, each followed by a frame, in the middle of a long view: the median step. The steps
// are taken once untimed first, `settle` after each, so that what they show is loaded (a gallery's thumbnails in
// its store's cache) but drawn anew; `settle` also runs untimed before each timed step.
double scrollStep(QWidget &view, QScrollBar *scrollBar, const std::function<void()> &settle)
{
    constexpr int steps = 41;
    const int start = scrollBar->maximum() / 3;
    const auto step = [&] {
        scrollBar->setValue(scrollBar->value() + 120);
        paintFrame(view);
    };
    scrollBar->setValue(start);
    paintFrame(view);
    for (int index = 0; index < steps; ++index) {
        step();
        settle();
    }
    scrollBar->setValue(start);
    paintFrame(view);
    settle();
    return timed(steps, settle, step);
}

// The folder handed to the browser in list or grid presentation, then scrolled to its end.
bool measureFileBrowser(ManagementStoreFixture &fixture, FileBrowserPreferences &preferences, bool grid,
                        double &stepMilliseconds)
{
    const QList<ManagedFileEntry> pageEntries = folderEntries();
    ManagedFileBrowser browser(fixture.store.get());
    browser.resize(1000, 700);
    browser.show();
    paintFrame(browser);
    QScrollBar *scrollBar = browser.view()->verticalScrollBar();

    bool shown = true;
    const double showing = timed(
        widgetRounds,
        [&] {
            browser.setEntries({});
            paintFrame(browser);
        },
        [&] {
            // As the pane renders its content: the presentation, then the sorted entries.
            browser.setGridPresentation(grid);
            browser.setEntries(sortedManagedEntries(pageEntries, ManagedContentCategory::allFiles, preferences));
            shown = paintFrame(browser) && shown;
        });
    const double sorting = timed(
        layoutRounds, [] {},
        [&] {
            shown =
                sortedManagedEntries(pageEntries, ManagedContentCategory::allFiles, preferences).size() == itemCount &&
                shown;
        });
    const double scrolling = timed(
        widgetRounds,
        [&] {
            scrollBar->setValue(0);
            paintFrame(browser);
        },
        [&] {
            scrollBar->setValue(scrollBar->maximum());
            shown = paintFrame(browser) && shown;
        });
    if (!shown || browser.entries().size() != itemCount || scrollBar->maximum() <= 0 ||
        !browser.view()->viewport()->rect().intersects(
            browser.view()->visualRect(browser.model()->index(itemCount - 1)))) {
        std::fprintf(stderr, "the %s did not show the folder\n", grid ? "grid" : "list");

        return false;
    }
    report(grid ? "5000 entries, grid: hand over to first frame" : "5000 entries, list: hand over to first frame",
           showing, widgetRounds);
    report("  of which filtering and sorting", sorting, layoutRounds);
    report(grid ? "5000 entries, grid: scroll to the end and paint" : "5000 entries, list: scroll to the end and paint",
           scrolling, widgetRounds);
    stepMilliseconds = scrollStep(browser, scrollBar, [] {});
    report(grid ? "5000 entries, grid: one 120 px scroll step" : "5000 entries, list: one 120 px scroll step",
           stepMilliseconds, 41);
    return true;
}

bool measureGallery(ManagementStoreFixture &fixture, double listStepMilliseconds)
{
    // The rows alone, as the gallery asks for them at this width.
    const QList<ManagedMediaItem> firstItems = galleryItems(0);
    QList<qreal> ratios;
    for (const ManagedMediaItem &item : firstItems) {
        ratios.append(mediaAspectRatio(item));
    }
    qsizetype rowCount = 0;
    const double rows = timed(
        layoutRounds, [] {},
        [&] {
            rowCount = MediaGalleryRow::makeRows(ratios, MediaGalleryLayout::maximumItemsPerRow,
                                                 1000 - MediaGalleryLayout::horizontalInset,
                                                 MediaGalleryLayout::targetRowHeight, MediaGalleryLayout::spacing)
                           .size();
        });
    report("5000 photos: justified rows (makeRows)", rows, layoutRounds);

    // Thumbnail requests stay unanswered while timed; each round's are answered (with no image) afterwards.
    fixture.channel->hold = true;
    ManagedMediaGallery gallery(*fixture.store);
    gallery.resize(1000, 700);
    gallery.show();
    paintFrame(gallery);
    QScrollBar *scrollBar = gallery.verticalScrollBar();
    int round = 0;
    bool shown = true;
    const auto answerThumbnails = [&] {
        // Those waiting for a place go out too, and are answered at once.
        fixture.channel->hold = false;
        fixture.channel->release();
        shown = QTest::qWaitFor([&] { return fixture.store->loadingThumbnailKeys().isEmpty(); }, 10'000) && shown;
        fixture.channel->hold = true;
    };
    const double showing = timed(
        widgetRounds,
        [&] {
            answerThumbnails();
            fixture.store->setMediaItems({});
            paintFrame(gallery);
        },
        [&] {
            fixture.store->setMediaItems(galleryItems(++round));
            shown = paintFrame(gallery) && shown;
        });
    const double scrolling = timed(
        widgetRounds,
        [&] {
            scrollBar->setValue(0);
            answerThumbnails();
            paintFrame(gallery);
        },
        [&] {
            scrollBar->setValue(scrollBar->maximum());
            shown = paintFrame(gallery) && shown;
        });
    const bool endShown = gallery.onScreenIndices().contains(itemCount - 1);
    answerThumbnails();
    if (!shown || rowCount == 0 || !endShown) {
        std::fprintf(stderr, "the gallery did not show the photos\n");
        return false;
    }
    report("5000 photos: gallery published to first frame", showing, widgetRounds);
    report("5000 photos: gallery scroll to the end and paint", scrolling, widgetRounds);

    // Steps over tiles that show their thumbnails, the phone's answers taken in between.
    fixture.channel->answer = photoThumbnails();
    const double step = scrollStep(gallery, scrollBar, answerThumbnails);
    fixture.channel->answer = nullptr;
    report("5000 photos: gallery, one 120 px scroll step", step, 41);
    std::printf("  %-50s %8.2f (goal <= 1.3)\n", "gallery step / list step", step / listStepMilliseconds);
    return true;
}

// The scroll bar dragged from the top of 2000 photos to the bottom in half a second: 30 frames, each after four
// moves of the pointer. The phone answers what went out by the end of each frame. Every tile that came within the
// gallery's margin on any move is what a gallery asking at once would ask for; the goal is that only tiles on
// screen when a frame was painted are asked for.
bool measureFastScroll(ManagementStoreFixture &fixture)
{
    constexpr int photoCount = 2000;
    constexpr int frames = 30;
    constexpr int movesPerFrame = 4;
    QList<double> asked;
    QList<double> onScreenAtFrames;
    QList<double> passedOver;
    int strays = 0;
    for (int round = 0; round < 3; ++round) {
        fixture.channel->hold = true;
        fixture.channel->requests.clear();
        fixture.store->setMediaItems(galleryItems(1000 + round).first(photoCount));
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(1000, 700);
        gallery.show();
        QScrollBar *scrollBar = gallery.verticalScrollBar();
        QSet<qsizetype> atFrames;
        QSet<qsizetype> passed;
        const auto note = [&gallery](QSet<qsizetype> &into) {
            for (const qsizetype index : gallery.onScreenIndices()) {
                into.insert(index);
            }
        };
        paintFrame(gallery);
        note(atFrames);
        note(passed);
        const int moves = frames * movesPerFrame;
        for (int move = 1; move <= moves; ++move) {
            scrollBar->setValue(int(qint64(scrollBar->maximum()) * move / moves));
            note(passed);
            if (move % movesPerFrame == 0) {
                paintFrame(gallery);
                note(atFrames);
                fixture.channel->release();
            }
        }
        // The fake phone must not be released twice in one turn: the requests that went out in the last frame
        // are answered after it.
        fixture.channel->hold = false;
        QCoreApplication::processEvents();
        fixture.channel->release();
        if (!QTest::qWaitFor([&] { return fixture.store->loadingThumbnailKeys().isEmpty(); }, 10'000) ||
            !gallery.onScreenIndices().contains(photoCount - 1)) {
            std::fprintf(stderr, "the fast scroll did not reach the end\n");
            return false;
        }
        QSet<QString> atFrameIDs;
        for (const qsizetype index : atFrames) {
            atFrameIDs.insert(gallery.items().at(index).id);
        }
        QSet<QString> askedIDs;
        for (const FakeManagementChannel::Request &request : fixture.channel->requests) {
            if (request.action == u"media.thumbnail"_s) {
                askedIDs.insert(request.object().value(u"id"_s).toString());
            }
        }
        strays += int((askedIDs - atFrameIDs).size());
        asked.append(double(askedIDs.size()));
        onScreenAtFrames.append(double(atFrames.size()));
        passedOver.append(double(passed.size()));
    }
    std::printf("2000 photos, scroll bar dragged to the end in %d frames (median of 3):\n", frames);
    std::printf("  %-50s %6.0f\n", "tiles within the margin on any move", median(passedOver));
    std::printf("  %-50s %6.0f\n", "tiles on screen when a frame was painted", median(onScreenAtFrames));
    std::printf("  %-50s %6.0f\n", "thumbnails asked for", median(asked));
    std::printf("  %-50s %6d (goal 0)\n", "asked for, never on screen at a frame", strays);
    return strays == 0;
}

// Down 60 scroll steps of 120 pixels through 2000 photos and back up, a frame after each, the phone answering
// every request with a 1024 x 768 picture before the next step, so that every tile shows its thumbnail: the
// thumbnails asked for again on the way back, of those loaded on the way down.
bool measureDownAndBack(ManagementStoreFixture &fixture)
{
    constexpr int photoCount = 2000;
    constexpr int steps = 60;
    QList<double> loaded;
    QList<double> again;
    fixture.channel->answer = photoThumbnails();
    fixture.channel->hold = false;
    for (int round = 0; round < 3; ++round) {
        fixture.channel->requests.clear();
        fixture.store->setMediaItems(galleryItems(2000 + round).first(photoCount));
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(1000, 700);
        gallery.show();
        QScrollBar *scrollBar = gallery.verticalScrollBar();
        const auto frame = [&] {
            paintFrame(gallery);
            return QTest::qWaitFor([&] { return fixture.store->loadingThumbnailKeys().isEmpty(); }, 10'000);
        };
        bool answered = frame();
        for (int step = 0; step < steps; ++step) {
            scrollBar->setValue(scrollBar->value() + 120);
            answered = frame() && answered;
        }
        const qsizetype down = fixture.channel->count(u"media.thumbnail"_s);
        for (int step = 0; step < steps; ++step) {
            scrollBar->setValue(scrollBar->value() - 120);
            answered = frame() && answered;
        }
        if (!answered || scrollBar->value() != 0) {
            std::fprintf(stderr, "the scroll down and back did not load\n");
            return false;
        }
        loaded.append(double(down));
        again.append(double(fixture.channel->count(u"media.thumbnail"_s) - down));
    }
    fixture.channel->answer = nullptr;
    std::printf("2000 photos, %d steps of 120 px down and back, every thumbnail loaded (median of 3):\n", steps);
    std::printf("  %-50s %6.0f\n", "thumbnails asked for on the way down", median(loaded));
    std::printf("  %-50s %6.0f = %.3f of them (goal <= 0.10)\n", "asked for again on the way back", median(again),
                median(again) / median(loaded));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    ManagementStoreFixture fixture;
    QTemporaryDir settingsFolder;
    QSettings settings(settingsFolder.filePath(u"preferences.ini"_s), QSettings::IniFormat);
    FileBrowserPreferences preferences(&settings);

    std::printf("window 1000 x 700 on the %s platform\n", qPrintable(QGuiApplication::platformName()));
    double listStep = 0;
    double gridStep = 0;
    const bool measured = measureFileBrowser(fixture, preferences, false, listStep) &&
                          measureFileBrowser(fixture, preferences, true, gridStep) &&
                          measureGallery(fixture, listStep) && measureFastScroll(fixture) &&
                          measureDownAndBack(fixture);
    return measured ? 0 : 1;
}

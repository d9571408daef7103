// How the phone side's photo listing grows: every page of "media.list" (100 at a time, as the computer asks)
// answered through MediaActions from storage folders of 500 photos, 2000 photos, and 2000 photos among 5000
// unrelated text files. A first listing probes every file; a later one finds them in the index. Three rounds,
// medians; the figures that matter are the ratios between the folders, measured in the same run.
#include "ManagementHandlers.h"
#include "MediaActions.h"
#include "Median.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr int rounds = 3;

using tavrine::benchmarks::median;

// A small real JPEG, different for every index.
QByteArray photo(int index)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(index * 37 % 360, 120, 200));
    QPainter painter(&image);
    painter.fillRect(index % 100, index % 80, 60, 40, QColor::fromHsv(index * 91 % 360, 200, 90));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

bool write(const QString &path, const QByteArray &bytes, qint64 modifiedSeconds)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
        file.write(bytes) != bytes.size()) {
        return false;
    }
    file.close();
    const struct timespec times[2] = {{modifiedSeconds, 0}, {modifiedSeconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// A storage folder with `photos` photos in DCIM/Camera and `unrelated` text files in 50 folders of Documents.
bool makeStorage(const QString &storage, int photos, int unrelated)
{
    const qint64 dayAgo = QDateTime::currentSecsSinceEpoch() - 86'400;
    for (int index = 0; index < photos; ++index) {
        if (!write(QStringLiteral("%1/DCIM/Camera/IMG_%2.jpg").arg(storage).arg(index, 5, 10, QLatin1Char('0')),
                   photo(index), dayAgo + index)) {
            return false;
        }
    }
    for (int index = 0; index < unrelated; ++index) {
        const QByteArray text =
            QStringLiteral("Note %1: buy milk, call the office, %2\n").arg(index).arg(index * 7).toUtf8();
        if (!write(QStringLiteral("%1/Documents/%2/note_%3.txt").arg(storage).arg(index % 50).arg(index),
                   text.repeated(8), dayAgo + index)) {
            return false;
        }
    }
    return QDir().mkpath(storage + QStringLiteral("/.tavrine"));
}

// Every page of the photo listing; the number of items, or -1 when a page failed.
int listAll(const ManagementHandlers &handlers)
{
    int count = 0;
    qint64 token = 0;
    while (true) {
        const QJsonObject payload{{QStringLiteral("kind"), QStringLiteral("photo")},
                                  {QStringLiteral("pageToken"), token},
                                  {QStringLiteral("pageSize"), 100}};
        const ManagementAnswer answer = handlers.answer(
            QStringLiteral("media.list"), QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact)));
        if (!answer.success) {
            return -1;
        }
        const QJsonObject page = QJsonDocument::fromJson(answer.payload.toUtf8()).object();
        count += int(page.value(QStringLiteral("items")).toArray().size());
        if (!page.contains(QStringLiteral("nextPageToken"))) {
            return count;
        }
        token = page.value(QStringLiteral("nextPageToken")).toInteger();
    }
}

struct Timing
{
    double firstMilliseconds = 0; // a new MediaActions: every file probed
    double laterMilliseconds = 0; // the same MediaActions again: found in the index
};

std::optional<Timing> measure(const QString &storage, int photos)
{
    QList<double> first;
    QList<double> later;
    for (int round = 0; round < rounds; ++round) {
        MediaActions actions(storage);
        ManagementHandlers handlers;
        actions.addTo(handlers);
        QElapsedTimer timer;
        timer.start();
        if (listAll(handlers) != photos) {
            return std::nullopt;
        }
        first.append(double(timer.nsecsElapsed()) / 1e6);
        for (int again = 0; again < 3; ++again) {
            timer.restart();
            if (listAll(handlers) != photos) {
                return std::nullopt;
            }
            later.append(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    return Timing{median(first), median(later)};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir root;
    struct Case
    {
        const char *name;
        int photos;
        int unrelated;
    };
    const Case cases[] = {
        {"500 photos", 500, 0}, {"2000 photos", 2000, 0}, {"2000 photos + 5000 text files", 2000, 5000}};
    for (const Case &item : cases) {
        if (!makeStorage(root.filePath(QString::fromLatin1(item.name)), item.photos, item.unrelated)) {
            std::fprintf(stderr, "could not make the storage folder of %s\n", item.name);
            return 1;
        }
    }
    // Folders changed moments ago are read again until their times have settled.
    QThread::sleep(static_cast<unsigned long>(MediaLibrary::settleTime.count() + 1));

    QList<Timing> timings;
    for (const Case &item : cases) {
        const std::optional<Timing> timing = measure(root.filePath(QString::fromLatin1(item.name)), item.photos);
        if (!timing) {
            std::fprintf(stderr, "the listing of %s did not give its photos\n", item.name);
            return 1;
        }
        timings.append(*timing);
        std::printf("%-32s first listing %8.1f ms, later listing %7.2f ms\n", item.name, timing->firstMilliseconds,
                    timing->laterMilliseconds);
    }
    std::printf("later listing: 2000/500 = %.2f (goal <= 6), with unrelated/alone = %.2f (goal <= 1.5)\n",
                timings[1].laterMilliseconds / timings[0].laterMilliseconds,
                timings[2].laterMilliseconds / timings[1].laterMilliseconds);
    std::printf("first listing: 2000/500 = %.2f, with unrelated/alone = %.2f\n",
                timings[1].firstMilliseconds / timings[0].firstMilliseconds,
                timings[2].firstMilliseconds / timings[1].firstMilliseconds);
    return 0;
}

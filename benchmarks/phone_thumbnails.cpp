// How fast tavrine-phone makes the tiles of the gallery: 1024-pixel thumbnails of 24 photos of 12 megapixels
// (4000 × 3000 JPEGs), asked the way the computer asks them (at most 8 out at a time) and answered end to end by a
// running session, against vipsthumbnail on one thread making the same files at the same size in the same run.
// Three rounds of each, medians; the figure that matters is the ratio. Needs vipsthumbnail (Debian: libvips-tools).
#include "FakeTransferClient.h"
#include "ManagementHandlers.h"
#include "MediaActions.h"
#include "Median.h"
#include "PhoneSession.h"
#include "StorageIds.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int photoCount = 24;
constexpr int maxDimension = 1024;
constexpr int rounds = 3;
// The computer keeps at most this many thumbnail requests out at a time.
constexpr int requestsOut = 8;

using tavrine::benchmarks::median;

// A 4000 × 3000 picture of coloured patches with grain, so that it compresses as a photo does (about 4 MB).
QImage texturedPicture(quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(4000, 3000, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(random.bounded(360)), 80, 160));
    QPainter painter(&image);
    for (int patch = 0; patch < 3000; ++patch) {
        painter.fillRect(int(random.bounded(4000)), int(random.bounded(3000)), int(random.bounded(300)),
                         int(random.bounded(300)),
                         QColor::fromHsv(int(random.bounded(360)), int(random.bounded(256)), int(random.bounded(256))));
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(24)) - 12;
            line[x] = qRgb(std::clamp(qRed(line[x]) + grain, 0, 255), std::clamp(qGreen(line[x]) + grain, 0, 255),
                           std::clamp(qBlue(line[x]) + grain, 0, 255));
        }
    }
    return image;
}

// The photos, made once and kept for later runs.
QStringList photos()
{
    const QString folder = QDir::temp().filePath(QStringLiteral("tavrine-phone-thumbnails/DCIM"));
    QDir().mkpath(folder);
    QStringList paths;
    for (int index = 0; index < photoCount; ++index) {
        const QString path = QStringLiteral("%1/IMG_%2.jpg").arg(folder).arg(index, 4, 10, QLatin1Char('0'));
        if (!QFileInfo::exists(path) &&
            !texturedPicture(quint32(index + 1)).save(path + QStringLiteral(".new"), "JPEG", 92)) {
            return {};
        }
        if (QFileInfo::exists(path + QStringLiteral(".new")) && !QFile::rename(path + QStringLiteral(".new"), path)) {
            return {};
        }
        paths.append(path);
    }
    return paths;
}

QString storageOf(const QStringList &photos)
{
    return QFileInfo(QFileInfo(photos.constFirst()).path()).path();
}

QJsonObject thumbnailPayload(const QString &storage, const QString &path)
{
    return {{QStringLiteral("id"), StorageIds::idForRelativePath(QDir(storage).relativeFilePath(path))},
            {QStringLiteral("maxDimension"), maxDimension}};
}

QString jsonText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// vipsthumbnail on one thread over every photo; milliseconds, or a negative number when it failed.
double vipsBatch(const QString &program, const QStringList &photos, const QString &output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIPS_CONCURRENCY"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    process.start(program, QStringList{QStringLiteral("-s"), QString::number(maxDimension), QStringLiteral("-o"),
                                       output + QStringLiteral("/%s.jpg")} +
                               photos);
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

// The phone's own work on one thread: every thumbnail in turn through the handlers.
double phoneOneThread(const ManagementHandlers &handlers, const QStringList &photos)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &path : photos) {
        if (!handlers.answer(QStringLiteral("media.thumbnail"), jsonText(thumbnailPayload(storageOf(photos), path)))
                 .success) {
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

// Every thumbnail asked of a running session, at most `requestsOut` out at a time, until the last answer is sent.
double phoneSession(FakeTransferClient &client, const QStringList &photos)
{
    client.responses.clear();
    QElapsedTimer timer;
    timer.start();
    int asked = 0;
    while (client.responses.size() < photos.size() && timer.elapsed() < 600'000) {
        while (asked < photos.size() && asked - client.responses.size() < requestsOut) {
            client.requests.enqueue({QStringLiteral("request-%1").arg(asked), QStringLiteral("media.thumbnail"),
                                     jsonText(thumbnailPayload(storageOf(photos), photos.at(asked)))});
            ++asked;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const bool allMade = std::all_of(client.responses.cbegin(), client.responses.cend(),
                                     [](const ManagementResponse &response) { return response.success; });
    return client.responses.size() == photos.size() && allMade ? double(timer.nsecsElapsed()) / 1e6 : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (vips.isEmpty()) {
        std::fprintf(stderr, "This benchmark needs vipsthumbnail as its anchor: apt-get install libvips-tools\n");
        return 1;
    }
    const QStringList paths = photos();
    if (paths.size() != photoCount) {
        std::fprintf(stderr, "could not make the photos\n");
        return 1;
    }
    const QString storage = storageOf(paths);
    QTemporaryDir output;

    MediaActions media(storage);
    ManagementHandlers handlers;
    media.addTo(handlers);
    auto ownedClient = std::make_unique<FakeTransferClient>();
    FakeTransferClient &client = *ownedClient;
    PhoneOptions options;
    options.storageDirectory = storage;
    PhoneSession session(std::move(ownedClient), options, handlers, std::nullopt);
    int input[2];
    if (::pipe(input) != 0) {
        return 1;
    }
    session.start(input[0]);

    // The session writes a line for every answer; the figures alone go to the console.
    std::fflush(stdout);
    const int console = ::dup(STDOUT_FILENO);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(nowhere, STDOUT_FILENO);
    ::close(nowhere);

    // A round of each first, so that files are cached and libraries loaded.
    if (vipsBatch(vips, paths, output.path()) < 0 || phoneOneThread(handlers, paths) < 0 ||
        phoneSession(client, paths) < 0) {
        std::fprintf(stderr, "a warm-up round failed\n");
        return 1;
    }
    QList<double> vipsTimes;
    QList<double> oneThreadTimes;
    QList<double> sessionTimes;
    for (int round = 0; round < rounds; ++round) {
        vipsTimes.append(vipsBatch(vips, paths, output.path()));
        sessionTimes.append(phoneSession(client, paths));
        oneThreadTimes.append(phoneOneThread(handlers, paths));
    }
    if (std::min({*std::min_element(vipsTimes.cbegin(), vipsTimes.cend()),
                  *std::min_element(sessionTimes.cbegin(), sessionTimes.cend()),
                  *std::min_element(oneThreadTimes.cbegin(), oneThreadTimes.cend())}) < 0) {
        std::fprintf(stderr, "a round failed\n");
        return 1;
    }
    std::fflush(stdout);
    ::dup2(console, STDOUT_FILENO);
    ::close(console);
    const double vipsTime = median(vipsTimes);
    const double sessionTime = median(sessionTimes);
    const double oneThreadTime = median(oneThreadTimes);
    std::printf("%d thumbnails of %d px from 4000x3000 JPEGs, %d cores\n", photoCount, maxDimension,
                QThread::idealThreadCount());
    std::printf("vipsthumbnail, one thread:          %7.1f ms (%5.1f a second)\n", vipsTime,
                photoCount * 1000 / vipsTime);
    std::printf("phone handler, one thread:          %7.1f ms (%5.1f a second) = %.2f x vipsthumbnail\n", oneThreadTime,
                photoCount * 1000 / oneThreadTime, vipsTime / oneThreadTime);
    std::printf("phone session, requests to answers: %7.1f ms (%5.1f a second) = %.2f x vipsthumbnail (goal >= 4)\n",
                sessionTime, photoCount * 1000 / sessionTime, vipsTime / sessionTime);
    ::close(input[1]);
    return 0;
}

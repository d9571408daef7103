// How long the desktop takes to list a folder of 5000 entries: first the store's own work per page (decoding
// the phone's answer and, at the end, publishing the whole folder) with the answers ready in memory, as a
// fraction of the 100 ms event-pump period; then the whole listing over the real link on loopback, answered
// by the phone side's file actions from a folder of 5000 files.
#include "DeviceManagementStore.h"
#include "FileActions.h"
#include "LinkedStoreFixture.h"
#include "ManagementHandlers.h"
#include "Median.h"
#include "StorageIds.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int folderSize = 5000;
constexpr int rounds = 20;

// Answers every listing at once with pages made beforehand.
class ReadyChannel : public DeviceManagementChannel
{
public:
    QList<QString> pages;

    bool isConnected() const override { return true; }
    QCoro::Task<QString> requestManagement(QString, QString payload) override
    {
        const qsizetype token = QJsonDocument::fromJson(payload.toUtf8()).object().value(u"pageToken").toInteger();
        co_return pages.at(token / DeviceManagementStore::pageSize);
    }
    void enqueueManagedUploads(const QList<PreparedManagedUploadFile> &) override {}
    void enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &, const QString &) override {}
    QCoro::Task<QString> waitForManagedDownload(QString) override { co_return QString(); }
};

QList<QString> folderPages()
{
    QList<QString> pages;
    for (int start = 0; start < folderSize; start += DeviceManagementStore::pageSize) {
        ManagedFilePage page{1, QStringLiteral("RENDSU0vQ2FtZXJh"), QStringLiteral("Camera"), QStringLiteral("RENJTQ"),
                             {}, std::nullopt};
        for (int index = start; index < start + DeviceManagementStore::pageSize; ++index) {
            const QString name = QStringLiteral("IMG_2026%1_%2.jpg").arg(index, 4, 10, QLatin1Char('0')).arg(index * 7);
            page.entries.append({QString::fromLatin1(QStringLiteral("DCIM/Camera/%1").arg(name).toUtf8().toBase64()),
                                 name, false, 3'000'000 + index, 1'760'000'000'000 + index, false, true});
        }
        if (start + DeviceManagementStore::pageSize < folderSize) {
            page.nextPageToken = start + DeviceManagementStore::pageSize;
        }
        pages.append(QString::fromUtf8(QJsonDocument(encodeManaged(page)).toJson(QJsonDocument::Compact)));
    }
    return pages;
}

using tavrine::benchmarks::median;

// Runs `task` to its end, letting `pump` work between turns of the event loop.
template <typename Pump> bool finish(QCoro::Task<void> &task, Pump pump)
{
    bool done = false;
    const auto waiter = [&]() -> QCoro::Task<void> {
        co_await task;
        done = true;
    };
    QCoro::Task<void> running = waiter();
    return pump([&] { return done; });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);

    // The store's own work, answers ready in memory.
    const auto channel = std::make_shared<ReadyChannel>();
    channel->pages = folderPages();
    DeviceManagementStore store(channel, {});
    store.setActivePeer(QStringLiteral("benchmark"));
    QList<double> perPage;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        QCoro::Task<void> listing = store.listFolder(QStringLiteral("RENJTS9DYW1lcmE"));
        finish(listing, [](const auto &done) { return QTest::qWaitFor(done, 60'000); });
        perPage.append(double(timer.nsecsElapsed()) / 1e6 / (folderSize / DeviceManagementStore::pageSize));
        if (store.currentPage()->entries.size() != folderSize) {
            std::fprintf(stderr, "the listing gathered %lld entries\n", qlonglong(store.currentPage()->entries.size()));
            return 1;
        }
    }
    const double page = median(perPage);
    std::printf("decode and publish, per page of %d entries: %.3f ms = %.4f of the 100 ms pump period (goal < 0.05)\n",
                DeviceManagementStore::pageSize, page, page / 100.0);

    // The whole listing over the link on loopback.
    LinkedStoreFixture link;
    link.makeStore();
    if (!link.pair()) {
        std::fprintf(stderr, "pairing failed\n");
        return 1;
    }
    const QString storage = link.makeFolder(QStringLiteral("storage/Camera"));
    for (int index = 0; index < folderSize; ++index) {
        writeFile(QDir(storage).filePath(QStringLiteral("IMG_%1.jpg").arg(index)), QByteArray());
    }
    FileActions fileActions(QFileInfo(storage).path());
    ManagementHandlers phone;
    fileActions.addTo(phone);
    QList<double> phoneTimes;
    link.handlers.insert(QStringLiteral("files.list"), [&](const ManagementRequest &request, TransferClient &client) {
        QElapsedTimer answering;
        answering.start();
        const ManagementAnswer answer = phone.answer(request.action, request.payload);
        phoneTimes.append(double(answering.nsecsElapsed()) / 1e6);
        return client.respondManagement(request.requestId, answer.success, answer.payload, answer.message);
    });
    DeviceManagementStore linked(*link.store);
    linked.setActivePeer(QStringLiteral("benchmark"));
    QList<double> whole;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        QCoro::Task<void> listing = linked.listFolder(StorageIds::idForRelativePath(QStringLiteral("Camera")));
        // The phone answers as soon as a request arrives.
        const auto answerAtOnce = [&link](const auto &done) {
            QElapsedTimer waited;
            waited.start();
            while (!done() && waited.elapsed() < 60'000) {
                QCoreApplication::processEvents();
                link.pumpPhone();
            }
            return done();
        };
        if (!finish(listing, answerAtOnce) ||
            !linked.currentPage() || linked.currentPage()->entries.size() != folderSize) {
            std::fprintf(stderr, "the listing over the link failed: %s\n",
                         qPrintable(linked.errorMessage().value_or(QStringLiteral("no page"))));
            return 1;
        }
        whole.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("5000 entries over loopback, end to end: %.1f ms (median of 5), of which the phone side answers a "
                "page in %.1f ms\n",
                median(whole), median(phoneTimes));
    return 0;
}

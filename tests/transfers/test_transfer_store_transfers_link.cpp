#include "LinkedStoreFixture.h"
#include "LoopbackRelay.h"

#include <QCryptographicHash>
#include <QtTest>

using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;
using Purpose = TransferTaskRecord::DeliveryPurpose;

namespace {

QString writeFile(const QString &folder, const QString &name, qint64 size, int seed)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray block(64 * 1024, '\0');
    for (qsizetype index = 0; index < block.size(); ++index) {
        block[index] = char((index * 31 + seed * 7) & 0xff);
    }
    for (qint64 written = 0; written < size; written += block.size()) {
        file.write(block.constData(), std::min<qint64>(block.size(), size - written));
    }
    return path;
}

QByteArray digestOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

const TransferTaskRecord *taskWithId(const TransferStore &store, const QString &id)
{
    for (const TransferTaskRecord &task : store.tasks()) {
        if (task.id == id) {
            return &task;
        }
    }
    return nullptr;
}

Status statusOf(const TransferStore &store, const QString &id)
{
    const TransferTaskRecord *task = taskWithId(store, id);
    return task ? task->status : Status::failed;
}

PreparedManagedDownloadFile download(const QString &id, const QString &relativePath, qint64 size)
{
    return {id,
            QStringLiteral("remote-") + id,
            QFileInfo(relativePath).fileName(),
            size,
            relativePath,
            Purpose::export_,
            {},
            {}};
}

constexpr qint64 throttledBytes = 6 * 1024 * 1024;
constexpr uint64_t throttledBytesPerSecond = 3 * 1024 * 1024;

} // namespace

class TransferStoreTransfersLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A silent link is noticed quickly.
        qputenv("TAVRINE_CORE_IDLE_TIMEOUT_MS", "2000");
    }

    void sendsWithPauseAndCancel()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        QVERIFY(link.pair());
        const QString a =
            writeFile(link.folder.filePath(QStringLiteral("source")), QStringLiteral("a.bin"), 3'000'000, 1);
        const QString b =
            writeFile(link.folder.filePath(QStringLiteral("source")), QStringLiteral("b.bin"), 1'000'001, 2);
        const QString c = writeFile(link.folder.filePath(QStringLiteral("source")), QStringLiteral("c.bin"), 10, 3);
        store.sendFiles({a, b, c});
        const QString idA = store.tasks()[2].id;
        const QString idB = store.tasks()[1].id;
        const QString idC = store.tasks()[0].id;
        store.pauseTask(idB);
        store.cancelTask(idC);
        QVERIFY(link.waitUntil([&] { return statusOf(store, idA) == Status::completed; }));
        QCOMPARE(statusOf(store, idB), Status::paused);
        store.resumeTask(idB);
        QVERIFY(link.waitUntil([&] { return statusOf(store, idB) == Status::completed; }));
        QVERIFY(link.waitUntil([&] { return link.phoneSaw(TransferEventKind::completed, idB); }));

        QCOMPARE(digestOf(QDir(link.phoneInbox()).filePath(QStringLiteral("a.bin"))), digestOf(a));
        QCOMPARE(digestOf(QDir(link.phoneInbox()).filePath(QStringLiteral("b.bin"))), digestOf(b));
        QVERIFY(!QFile::exists(QDir(link.phoneInbox()).filePath(QStringLiteral("c.bin"))));
        QCOMPARE(statusOf(store, idC), Status::cancelled);
        QCOMPARE(link.notifications->posted.size(), 2);
    }

    void downloadIsDeliveredBesideAnExistingFile()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        QVERIFY(link.pair());
        const QString source =
            writeFile(link.folder.filePath(QStringLiteral("phone-storage")), QStringLiteral("photo.jpg"), 2'500'000, 4);
        const QString chosen = link.folder.filePath(QStringLiteral("chosen"));
        writeFile(chosen, QStringLiteral("photo.jpg"), 100, 5);
        link.handlers.insert(QStringLiteral("files.download"), LinkedStoreFixture::sendFileOnDownload(source));
        store.enqueueManagedDownloads({download(QStringLiteral("dl-1"), QStringLiteral("photo.jpg"), 2'500'000)},
                                      chosen);
        QVERIFY(link.waitUntil([&] { return statusOf(store, QStringLiteral("dl-1")) == Status::completed; }));
        QCOMPARE(taskWithId(store, QStringLiteral("dl-1"))->destinationRelativePath, QStringLiteral("photo 2.jpg"));
        QCOMPARE(digestOf(QDir(chosen).filePath(QStringLiteral("photo 2.jpg"))), digestOf(source));
        // The inbox copy was acknowledged away once the file was in place.
        QVERIFY(!QFile::exists(QDir(link.receiveFolder()).filePath(QStringLiteral("photo.jpg"))));
    }

    // The phone's file system may hold names that are not UTF-8; the file still reaches the chosen folder and
    // leaves the inbox.
    void downloadNamedOtherThanUtf8OnThePhoneIsDeliveredAndAcknowledged()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        QVERIFY(link.pair());
        const QString source =
            writeFile(link.folder.filePath(QStringLiteral("phone-storage")), QStringLiteral("raw.jpg"), 300'000, 6);
        const QString chosen = link.folder.filePath(QStringLiteral("chosen"));
        QDir().mkpath(chosen);
        link.handlers.insert(QStringLiteral("files.download"),
                             LinkedStoreFixture::sendFileOnDownload(source, rawFileName("\xe9t\xe9.jpg")));
        store.enqueueManagedDownloads({download(QStringLiteral("dl-raw"), QStringLiteral("été.jpg"), 300'000)}, chosen);
        QVERIFY(link.waitUntil([&] { return statusOf(store, QStringLiteral("dl-raw")) == Status::completed; }));
        const QString delivered = taskWithId(store, QStringLiteral("dl-raw"))->destinationRelativePath.value_or(QString());
        QCOMPARE(digestOf(QDir(chosen).filePath(delivered)), digestOf(source));
        QCOMPARE(QDir(link.receiveFolder()).entryList(QDir::Files), QStringList());
    }

    void uploadGoesToThePreparedFolder()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        QVERIFY(link.pair());
        QString preparedFolder;
        link.handlers.insert(QStringLiteral("files.prepare_upload"),
                             [&](const ManagementRequest &request, TransferClient &client) {
                                 preparedFolder = QJsonDocument::fromJson(request.payload.toUtf8())
                                                      .object()
                                                      .value(QStringLiteral("directoryId"))
                                                      .toString();
                                 return client.respondManagement(request.requestId, true, QStringLiteral("{}"), {});
                             });
        const QString file =
            writeFile(link.folder.filePath(QStringLiteral("source")), QStringLiteral("song.mp3"), 700'000, 6);
        store.enqueueManagedUploads({{file, QStringLiteral("music-folder"), QStringLiteral("song.mp3"),
                                      QStringLiteral("batch"), QStringLiteral("Music")}});
        const QString id = store.tasks().first().id;
        QVERIFY(link.waitUntil([&] { return statusOf(store, id) == Status::completed; }));
        QCOMPARE(preparedFolder, QStringLiteral("music-folder"));
        QCOMPARE(digestOf(QDir(link.phoneInbox()).filePath(QStringLiteral("song.mp3"))), digestOf(file));
    }

    // The link drops in the middle of a send and of a download; both go on once the phone is back.
    void transfersContinueAfterTheLinkDrops()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        awaitTask(store.startUp());
        store.beginNewPairing();
        LoopbackRelay relay(link.hostPort());
        QVERIFY(relay.port() != 0);
        store.stopHost();
        QVERIFY(link.pair(relay.port()));
        relay.setBytesPerSecond(throttledBytesPerSecond);

        const QString outgoing =
            writeFile(link.folder.filePath(QStringLiteral("source")), QStringLiteral("video.mp4"), throttledBytes, 7);
        const QString remote = writeFile(link.folder.filePath(QStringLiteral("phone-storage")),
                                         QStringLiteral("clip.mov"), throttledBytes, 8);
        const QString chosen = link.folder.filePath(QStringLiteral("chosen"));
        QDir().mkpath(chosen);
        link.handlers.insert(QStringLiteral("files.download"), LinkedStoreFixture::sendFileOnDownload(remote));
        store.sendFiles({outgoing});
        const QString sendID = store.tasks().first().id;
        store.enqueueManagedDownloads({download(QStringLiteral("dl-2"), QStringLiteral("clip.mov"), throttledBytes)},
                                      chosen);

        QVERIFY(link.waitUntil([&] {
            const TransferTaskRecord *send = taskWithId(store, sendID);
            const TransferTaskRecord *receive = taskWithId(store, QStringLiteral("dl-2"));
            return send && receive && send->transferredBytes > 0 && receive->transferredBytes > 0;
        }));
        relay.cutConnections();
        QVERIFY(link.waitUntil([&] { return link.phoneSaw(TransferEventKind::disconnected); }));
        relay.setBytesPerSecond(0);

        QVERIFY(link.waitUntil([&] { return statusOf(store, sendID) == Status::completed; }, 60'000));
        QVERIFY(link.waitUntil([&] { return statusOf(store, QStringLiteral("dl-2")) == Status::completed; }, 60'000));
        QVERIFY(link.waitUntil([&] { return link.phoneSaw(TransferEventKind::completed, sendID); }));
        QCOMPARE(digestOf(QDir(link.phoneInbox()).filePath(QStringLiteral("video.mp4"))), digestOf(outgoing));
        QCOMPARE(digestOf(QDir(chosen).filePath(QStringLiteral("clip.mov"))), digestOf(remote));
    }

    // The store goes away in the middle of a download; the next one finishes it, with one file in place.
    void downloadSurvivesARestartOfTheStore()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        awaitTask(store.startUp());
        store.beginNewPairing();
        LoopbackRelay relay(link.hostPort());
        store.stopHost();
        QVERIFY(link.pair(relay.port()));
        relay.setBytesPerSecond(throttledBytesPerSecond);
        const QString remote = writeFile(link.folder.filePath(QStringLiteral("phone-storage")),
                                         QStringLiteral("talk.m4a"), throttledBytes, 9);
        const QString chosen = link.folder.filePath(QStringLiteral("chosen"));
        QDir().mkpath(chosen);
        link.handlers.insert(QStringLiteral("files.download"), LinkedStoreFixture::sendFileOnDownload(remote));
        store.enqueueManagedDownloads({download(QStringLiteral("dl-3"), QStringLiteral("talk.m4a"), throttledBytes)},
                                      chosen);
        QVERIFY(link.waitUntil([&] {
            const TransferTaskRecord *receive = taskWithId(store, QStringLiteral("dl-3"));
            return receive && receive->transferredBytes > 0;
        }));
        store.persistTasks(true);

        TransferStore &restarted = link.makeStore();
        QCOMPARE(statusOf(restarted, QStringLiteral("dl-3")), Status::waitingForConnection);
        awaitTask(restarted.startUp());
        relay.setBytesPerSecond(0);
        QVERIFY(
            link.waitUntil([&] { return statusOf(restarted, QStringLiteral("dl-3")) == Status::completed; }, 60'000));
        QCOMPARE(digestOf(QDir(chosen).filePath(QStringLiteral("talk.m4a"))), digestOf(remote));
        QCOMPARE(QDir(chosen).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("talk.m4a")});
    }
};

QTEST_GUILESS_MAIN(TransferStoreTransfersLinkTest)
#include "test_transfer_store_transfers_link.moc"

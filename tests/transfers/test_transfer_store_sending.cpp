#include "StoreTestSupport.h"
#include "TransferTaskError.h"
#include "TrustedDeviceRegistryStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;
using Kind = TransferEventKind;
using Direction = TransferDirection;
using Purpose = TransferTaskRecord::DeliveryPurpose;

namespace {

QString writeFile(const QString &folder, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

QStringList sends(const StoreFixture &fixture)
{
    return fixture.host->calls.filter(QStringLiteral("send:"));
}

PreparedManagedDownloadFile download(const QString &id, const QString &relativePath, qint64 size = 5,
                                     Purpose purpose = Purpose::export_)
{
    return {id, QStringLiteral("remote-") + id, QFileInfo(relativePath).fileName(), size, relativePath, purpose, {},
            {}};
}

} // namespace

class TransferStoreSendingTest : public QObject
{
    Q_OBJECT

private slots:
    void emptySendDoesNothing()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        store.sendFiles({});
        QCOMPARE(fixture.notifications->authorizationRequests, 0);
        QVERIFY(!QFile::exists(fixture.taskFile()));
    }

    void filesAreSentOneAtATimeInTheGivenOrder()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        const QString a = writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "aaaa");
        const QString b = writeFile(fixture.folder.path(), QStringLiteral("b.txt"), "bb");
        const QString c = writeFile(fixture.folder.path(), QStringLiteral("c.txt"), "c");
        store.sendFiles({a, b, c});
        QCOMPARE(fixture.notifications->authorizationRequests, 1);
        QCOMPARE(store.tasks().size(), 3);
        QCOMPARE(store.tasks()[0].fileName, QStringLiteral("c.txt"));
        QCOMPARE(store.tasks()[1].status, Status::queued);
        QCOMPARE(store.tasks()[1].message, QStringLiteral("等待发送"));
        QCOMPARE(store.tasks()[2].status, Status::sending);
        QCOMPARE(store.tasks()[2].totalBytes, 4);
        QCOMPARE(sends(fixture), QStringList{QStringLiteral("send:") + store.tasks()[2].id});

        const QString first = store.tasks()[2].id;
        fixture.deliver({makeEvent(Kind::completed, Direction::sending, first)});
        QCOMPARE(sends(fixture).size(), 2);
        QCOMPARE(sends(fixture).last(), QStringLiteral("send:") + store.tasks()[1].id);
        store.sendFiles({a});
        QCOMPARE(fixture.notifications->authorizationRequests, 1);
    }

    void aFolderAmongFilesIsRefused()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        const QString a = writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a");
        const QString c = writeFile(fixture.folder.path(), QStringLiteral("c.txt"), "c");
        QDir(fixture.folder.path()).mkdir(QStringLiteral("folder"));
        const QString link = fixture.folder.filePath(QStringLiteral("link.txt"));
        QFile::link(a, link);
        store.sendFiles({a, fixture.folder.filePath(QStringLiteral("folder")), link, c});
        QCOMPARE(store.phase(), Phase::failed(TransferTaskError(TransferTaskError::Case::notAFile).errorDescription()));
        QCOMPARE(store.tasks().size(), 2);
        QCOMPARE(store.tasks()[0].status, Status::waitingForConnection);
        QCOMPARE(store.tasks()[0].message, QStringLiteral("连接后将自动发送"));
        QCOMPARE(store.tasks()[1].status, Status::queued);
        QVERIFY(sends(fixture).isEmpty());
    }

    void sendsWaitForTheConnection()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        store.sendFiles({writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a")});
        QCOMPARE(store.tasks().first().status, Status::waitingForConnection);
        fixture.pair();
        QCOMPARE(store.tasks().first().status, Status::sending);
        QCOMPARE(sends(fixture).size(), 1);
    }

    // A task made for one phone is never sent to another.
    void tasksStayWithTheirPhone()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair(QStringLiteral("First"), QStringLiteral("peer-1"), QString(40, QLatin1Char('a')));
        const QString firstID = *store.selectedTrustedDeviceID();
        fixture.pair(QStringLiteral("Second"), QStringLiteral("peer-2"), QString(40, QLatin1Char('b')));
        QCOMPARE(store.trustedDevices().size(), 2);
        store.selectTrustedDevice(firstID);
        store.sendFiles({writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a")});
        store.stopHost();
        store.selectTrustedDevice(store.trustedDevices().first().id == firstID ? store.trustedDevices().last().id
                                                                               : store.trustedDevices().first().id);
        fixture.deliver(
            {makeEvent(Kind::paired, Direction::none, {}, QStringLiteral("Second"), QStringLiteral("peer-2"))});
        QCOMPARE(store.phase(), Phase::connected(QStringLiteral("Second")));
        QVERIFY(sends(fixture).isEmpty());
        QCOMPARE(store.tasks().first().status, Status::queued);
    }

    void unusableSourcesNeedAttention_data()
    {
        QTest::addColumn<bool>("replaceWithLink");
        QTest::newRow("deleted") << false;
        QTest::newRow("replaced by a link") << true;
    }

    void unusableSourcesNeedAttention()
    {
        QFETCH(bool, replaceWithLink);
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        const QString a = writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a");
        const QString b = writeFile(fixture.folder.path(), QStringLiteral("b.txt"), "b");
        store.sendFiles({a, b});
        QFile::remove(a);
        if (replaceWithLink) {
            QFile::link(b, a);
        }
        fixture.pair();
        QCOMPARE(store.tasks()[1].status, Status::needsAttention);
        QCOMPARE(store.tasks()[1].message, QStringLiteral("原文件已移动或删除，请重新选择。"));
        QCOMPARE(sends(fixture), QStringList{QStringLiteral("send:") + store.tasks()[0].id});
    }

    void controls()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        store.sendFiles({writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a"),
                         writeFile(fixture.folder.path(), QStringLiteral("b.txt"), "b")});
        const QString running = store.tasks()[1].id;
        const QString waiting = store.tasks()[0].id;

        // Pausing a queued task that is not in the host makes no host call; cancelling always tells the host.
        fixture.host->calls.clear();
        store.pauseTask(waiting);
        QCOMPARE(store.tasks()[0].status, Status::paused);
        QCOMPARE(store.tasks()[0].message, QStringLiteral("已暂停"));
        QVERIFY(fixture.host->calls.isEmpty());
        store.cancelTask(waiting);
        QCOMPARE(fixture.host->calls, QStringList{QStringLiteral("cancel:") + waiting});
        QCOMPARE(store.tasks()[0].status, Status::cancelled);

        // Controls outside their statuses do nothing.
        store.retryTask(waiting);
        store.pauseTask(waiting);
        store.cancelTask(waiting);
        store.resumeTask(running);
        QCOMPARE(store.tasks()[0].status, Status::cancelled);
        QCOMPARE(store.tasks()[1].status, Status::sending);
        QCOMPARE(fixture.host->calls.size(), 1);

        // Resuming while the phone is away waits for it.
        store.pauseTask(running);
        store.stopHost();
        store.resumeTask(running);
        QCOMPARE(store.tasks()[1].status, Status::waitingForConnection);
        QCOMPARE(store.tasks()[1].message, QStringLiteral("连接后将自动继续"));

        store.clearFinishedTasks();
        QCOMPARE(store.tasks().size(), 1);
        QCOMPARE(store.tasks().first().id, running);
    }

    void pausingTheRunningSendFreesTheSlot()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        store.sendFiles({writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a"),
                         writeFile(fixture.folder.path(), QStringLiteral("b.txt"), "b")});
        const QString running = store.tasks()[1].id;
        store.pauseTask(running);
        QVERIFY(fixture.host->calls.contains(QStringLiteral("pause:") + running));
        QCOMPARE(sends(fixture).last(), QStringLiteral("send:") + store.tasks()[0].id);
        store.resumeTask(running);
        QCOMPARE(store.tasks()[1].status, Status::queued);
        QCOMPARE(store.tasks()[1].message, QStringLiteral("等待继续"));
    }

    // Managed downloads

    void downloadsStartOneAtATimeFromTheOldest()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        const QString destination = fixture.folder.filePath(QStringLiteral("chosen"));
        QDir().mkpath(destination);
        store.enqueueManagedDownloads({download(QStringLiteral("d1"), QStringLiteral("a.jpg")),
                                       download(QStringLiteral("d2"), QStringLiteral("b.jpg")),
                                       download(QStringLiteral("d3"), QStringLiteral("c.jpg"))},
                                      destination);
        QCOMPARE(store.tasks()[0].id, QStringLiteral("d1"));
        QCOMPARE(store.tasks()[2].id, QStringLiteral("d3"));
        QCOMPARE(store.tasks()[2].message, QStringLiteral("正在准备下载"));
        QCOMPARE(store.tasks()[0].message, QStringLiteral("等待下载"));
        QCOMPARE(fixture.host->calls.filter(QStringLiteral("request:files.download")).size(), 1);

        QVERIFY_THROWS_EXCEPTION(
            DeviceManagementRequestError,
            store.enqueueManagedDownloads({download(QStringLiteral("d2"), QStringLiteral("x.jpg"))}, destination));
        QVERIFY_THROWS_EXCEPTION(
            DeviceManagementRequestError,
            store.enqueueManagedDownloads({download(QStringLiteral("n1"), QStringLiteral("x.jpg")),
                                           download(QStringLiteral("n1"), QStringLiteral("y.jpg"))},
                                          destination));
        QCOMPARE(store.tasks().size(), 3);
    }

    void downloadIsDeliveredUnderAFreeName()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        const QString destination = fixture.folder.filePath(QStringLiteral("chosen"));
        writeFile(destination, QStringLiteral("photo.jpg"), "older");
        store.enqueueManagedDownloads({download(QStringLiteral("d1"), QStringLiteral("photo.jpg"))}, destination);
        writeFile(fixture.folder.filePath(QStringLiteral("inbox")), QStringLiteral("photo.jpg"), "fresh");
        TransferEvent done = makeEvent(Kind::completed, Direction::receiving, QStringLiteral("d1"));
        done.fileName = QStringLiteral("photo.jpg");
        done.transferredBytes = 5;
        done.totalBytes = 5;
        fixture.deliver({done});
        QCOMPARE(store.tasks().first().status, Status::receiving);
        QCOMPARE(store.tasks().first().message, QStringLiteral("正在保存到所选位置"));
        QTRY_COMPARE(store.tasks().first().status, Status::completed);
        QCOMPARE(store.tasks().first().message, QStringLiteral("已保存到所选位置"));
        QCOMPARE(store.tasks().first().destinationRelativePath, QStringLiteral("photo 2.jpg"));
        QVERIFY(fixture.host->calls.contains(QStringLiteral("acknowledge:d1")));
        QCOMPARE(store.completedTransfers().size(), 1);
        QFile delivered(QDir(destination).filePath(QStringLiteral("photo 2.jpg")));
        QVERIFY(delivered.open(QIODevice::ReadOnly));
        QCOMPARE(delivered.readAll(), QByteArray("fresh"));
        QCOMPARE(awaitTask(store.waitForManagedDownload(QStringLiteral("d1"))), delivered.fileName());
    }

    // A completed download that cannot be delivered must not hold the download slot.
    void undeliverableDownloadFreesTheSlot()
    {
        StoreFixture fixture;
        TransferTaskRecord broken;
        broken.id = QStringLiteral("broken");
        broken.direction = TransferTaskRecord::Direction::receiving;
        broken.peerName = QStringLiteral("Pixel");
        broken.fileName = QStringLiteral("a.jpg");
        broken.remoteFileID = QStringLiteral("remote-a");
        broken.destinationBookmark = fixture.folder.path().toUtf8();
        broken.status = Status::queued;
        broken.createdAt = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        broken.updatedAt = broken.createdAt;
        TransferTaskRepository(fixture.taskFile()).save({broken});
        TransferStore &store = fixture.make();
        fixture.pair();
        store.enqueueManagedDownloads({download(QStringLiteral("next"), QStringLiteral("b.jpg"))},
                                      fixture.folder.path());
        QCOMPARE(fixture.host->calls.filter(QStringLiteral("request:files.download")).size(), 1);

        TransferEvent done = makeEvent(Kind::completed, Direction::receiving, QStringLiteral("broken"));
        done.fileName = QStringLiteral("a.jpg");
        fixture.deliver({done});
        QCOMPARE(store.tasks().last().status, Status::needsAttention);
        QCOMPARE(fixture.host->calls.filter(QStringLiteral("request:files.download")).size(), 2);
    }

    // Byte counts of 0 of 0 do not make an older file of the same name this download's.
    void olderFileOfTheSameNameIsNotDeliveredInItsPlace()
    {
        StoreFixture fixture;
        writeFile(fixture.folder.filePath(QStringLiteral("inbox")), QStringLiteral("a.jpg"), "older");
        TransferTaskRecord waiting;
        waiting.id = QStringLiteral("d1");
        waiting.direction = TransferTaskRecord::Direction::receiving;
        waiting.peerName = QStringLiteral("Pixel");
        waiting.fileName = QStringLiteral("a.jpg");
        waiting.remoteFileID = QStringLiteral("remote-a");
        waiting.destinationBookmark = fixture.folder.filePath(QStringLiteral("chosen")).toUtf8();
        waiting.destinationRelativePath = QStringLiteral("a.jpg");
        waiting.deliveryPurpose = Purpose::export_;
        waiting.status = Status::waitingForConnection;
        waiting.createdAt = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        waiting.updatedAt = waiting.createdAt;
        TransferTaskRepository(fixture.taskFile()).save({waiting});
        TransferStore &store = fixture.make();
        store.beginNewPairing();
        QCOMPARE(store.tasks().first().status, Status::waitingForConnection);
        QVERIFY(!QFile::exists(fixture.folder.filePath(QStringLiteral("chosen/a.jpg"))));

        store.retryTask(QStringLiteral("d1"));
        store.resumeTask(QStringLiteral("d1"));
        QCOMPARE(store.tasks().first().status, Status::waitingForConnection);
        QCOMPARE(store.tasks().first().message, QStringLiteral("连接后将自动重试"));
    }

    void uploadsArePreparedBeforeTheyAreSent()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        const QString a = writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a");
        store.enqueueManagedUploads({{a, QStringLiteral("folder-1"), QStringLiteral("a.txt"), QStringLiteral("batch"),
                                      QStringLiteral("Batch")}});
        QCOMPARE(fixture.host->calls.filter(QStringLiteral("request:files.prepare_upload")).size(), 1);
        QVERIFY(sends(fixture).isEmpty());
        fixture.host->responses.push_back({QStringLiteral("request-1"), {}, true, QStringLiteral("{}"), {}});
        store.drainEvents();
        QTRY_COMPARE(sends(fixture).size(), 1);

        QDir(fixture.folder.path()).mkdir(QStringLiteral("folder"));
        QVERIFY_THROWS_EXCEPTION(
            TransferTaskError,
            store.enqueueManagedUploads(
                {{fixture.folder.filePath(QStringLiteral("folder")), QStringLiteral("folder-1"), {}, {}, {}}}));
    }

    void failedPreparationNeedsAttention()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        store.enqueueManagedUploads({{writeFile(fixture.folder.path(), QStringLiteral("a.txt"), "a"),
                                      QStringLiteral("folder-1"),
                                      QStringLiteral("a.txt"),
                                      {},
                                      {}}});
        fixture.host->responses.push_back(
            {QStringLiteral("request-1"), {}, false, {}, QStringLiteral("找不到目标文件夹。")});
        store.drainEvents();
        QTRY_COMPARE(store.tasks().first().status, Status::needsAttention);
        QCOMPARE(store.tasks().first().message, QStringLiteral("找不到目标文件夹。"));
        QVERIFY(sends(fixture).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TransferStoreSendingTest)
#include "test_transfer_store_sending.moc"

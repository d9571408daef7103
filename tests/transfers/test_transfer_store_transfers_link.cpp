#include "LinkedStoreFixture.h"
#include "LoopbackRelay.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;

class TransferStoreTransfersLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A silent link is noticed quickly.
        qputenv("TAVRINE_CORE_IDLE_TIMEOUT_MS", "2000");
    }

    // The phone's file system may hold names that are not UTF-8; the file still reaches the chosen folder and
    // leaves the inbox.
    void downloadNamedOtherThanUtf8OnThePhoneIsDeliveredAndAcknowledged()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        QVERIFY(link.pair());
        const QString source = link.makeFile(u"phone-storage/raw.jpg"_s, 300'000, 6);
        const QString chosen = link.makeFolder(u"chosen"_s);
        link.handlers.insert(u"files.download"_s,
                             LinkedStoreFixture::sendFileOnDownload(source, rawFileName("\xe9t\xe9.jpg")));
        store.enqueueManagedDownloads({preparedDownload(u"dl-raw"_s, u"été.jpg"_s, 300'000)}, chosen);
        QVERIFY(link.waitForStatus(u"dl-raw"_s, Status::completed));
        const QString delivered = taskWithId(store, u"dl-raw"_s)->destinationRelativePath.value_or(QString());
        QCOMPARE(fileSha256(chosen + u'/' + delivered), fileSha256(source));
        QCOMPARE(QDir(link.receiveFolder()).entryList(QDir::Files), QStringList());
    }

    // The link drops in the middle of a send and of a download; the phone comes back by itself, is known again,
    // and both transfers go on.
    void transfersContinueAfterTheLinkDrops()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        store.beginNewPairing();
        LoopbackRelay relay(link.hostPort());
        QVERIFY(relay.port() != 0);
        store.stopHost();
        QVERIFY(link.pair(relay.port()));
        relay.setBytesPerSecond(throttledBytesPerSecond);
        QList<Phase> phases;
        connect(&store, &TransferStore::phaseChanged, this, [&] { phases.append(store.phase()); });

        const QString outgoing = link.makeFile(u"source/video.mp4"_s, throttledFileBytes, 7);
        const QString remote = link.makeFile(u"phone-storage/clip.mov"_s, throttledFileBytes, 8);
        const QString chosen = link.makeFolder(u"chosen"_s);
        link.handlers.insert(u"files.download"_s, LinkedStoreFixture::sendFileOnDownload(remote));
        store.sendFiles({outgoing});
        const QString sendID = store.tasks().first().id;
        store.enqueueManagedDownloads({preparedDownload(u"dl-2"_s, u"clip.mov"_s, throttledFileBytes)}, chosen);
        QVERIFY(link.waitUntil([&] {
            const TransferTaskRecord *send = taskWithId(store, sendID);
            const TransferTaskRecord *receive = taskWithId(store, u"dl-2"_s);
            return send && receive && send->transferredBytes > 0 && receive->transferredBytes > 0;
        }));
        relay.cutConnections();
        QVERIFY(link.waitUntil([&] { return link.phoneSaw(TransferEventKind::disconnected); }));
        relay.setBytesPerSecond(0);

        QVERIFY(link.waitForStatus(sendID, Status::completed, 60'000));
        QVERIFY(link.waitForStatus(u"dl-2"_s, Status::completed, 60'000));
        QVERIFY(link.waitUntil([&] { return link.phoneSaw(TransferEventKind::completed, sendID); }));
        QCOMPARE(fileSha256(link.phoneInbox() + u"/video.mp4"_s), fileSha256(outgoing));
        QCOMPARE(fileSha256(chosen + u"/clip.mov"_s), fileSha256(remote));
        QVERIFY(phases.contains(Phase::reconnecting(u"Test phone"_s)));
        QCOMPARE(store.phase(), Phase::connected(u"Test phone"_s));
        QCOMPARE(store.trustedDevices().size(), 1);
    }

    // The store goes away in the middle of a download. The next one, on the trust kept in the session's keyring,
    // reconnects without a pairing and finishes the download, with one file in place.
    void downloadSurvivesARestartOfTheStore()
    {
        LinkedStoreFixture link(true);
        TransferStore &store = link.makeStore();
        store.beginNewPairing();
        LoopbackRelay relay(link.hostPort());
        store.stopHost();
        QVERIFY(link.pair(relay.port()));
        QCOMPARE(link.registryStore().load().devices, store.trustedDevices());
        const TrustedDeviceRecord device = store.trustedDevices().value(0);
        QVERIFY(device.secret.size() >= 32 && device.peerID);
        relay.setBytesPerSecond(throttledBytesPerSecond);
        const QString remote = link.makeFile(u"phone-storage/talk.m4a"_s, throttledFileBytes, 9);
        const QString chosen = link.makeFolder(u"chosen"_s);
        link.handlers.insert(u"files.download"_s, LinkedStoreFixture::sendFileOnDownload(remote));
        store.enqueueManagedDownloads({preparedDownload(u"dl-3"_s, u"talk.m4a"_s, throttledFileBytes)}, chosen);
        QVERIFY(link.waitUntil([&] {
            const TransferTaskRecord *receive = taskWithId(store, u"dl-3"_s);
            return receive && receive->transferredBytes > 0;
        }));
        store.persistTasks(true);

        TransferStore &restarted = link.makeStore();
        QCOMPARE(statusOf(restarted, u"dl-3"_s), Status::waitingForConnection);
        awaitTask(restarted.startUp());
        QCOMPARE(restarted.phase(), Phase::reconnecting(u"Test phone"_s));
        relay.setBytesPerSecond(0);
        QVERIFY(link.waitForStatus(u"dl-3"_s, Status::completed, 60'000));
        QCOMPARE(fileSha256(chosen + u"/talk.m4a"_s), fileSha256(remote));
        QCOMPARE(QDir(chosen).entryList(QDir::Files | QDir::Hidden), QStringList{u"talk.m4a"_s});
        QCOMPARE(restarted.trustedDevices().size(), 1);
        QCOMPARE(restarted.trustedDevices().first().id, device.id);
    }
};

QTEST_GUILESS_MAIN(TransferStoreTransfersLinkTest)
#include "test_transfer_store_transfers_link.moc"

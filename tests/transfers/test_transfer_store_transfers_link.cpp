#include "LinkedStoreFixture.h"
#include "LoopbackRelay.h"

#include <QTcpServer>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
        // The inbox copy goes once the task file records the delivery.
        QVERIFY(link.waitUntil([&] { return QDir(link.receiveFolder()).entryList(QDir::Files).isEmpty(); }));
    }

    // Downloads on a disk that is not mounted: the link starts and sends all the same; a file from the phone is
    // refused with the reason the window shows, and once the disk is back the next one arrives without a restart.
    void aReceiveFolderThatComesBack()
    {
        LinkedStoreFixture link;
        const QString disk = link.folder.filePath(u"disk"_s);
        QVERIFY(QFile::link(disk + u"/Tavrine"_s, link.receiveFolder()));
        TransferStore &store = link.makeStore();
        QVERIFY(link.pair());
        QVERIFY(store.receiveFolderProblem());
        const auto phoneSends = [&](const QString &name, int seed) {
            QFile file(link.makeFile(u"phone-storage/"_s + name, 1000, seed));
            return file.open(QIODevice::ReadOnly)
                       ? link.phone->sendFileDescriptor(file.handle(), name, uint64_t(file.size()))
                       : QString();
        };

        store.sendFiles({link.makeFile(u"outgoing.bin"_s, 1000, 1)});
        const QString sent = store.tasks().first().id;
        QVERIFY(link.waitForStatus(sent, Status::completed));
        const QString refused = phoneSends(u"first.bin"_s, 2);
        QVERIFY(link.waitUntil([&] {
            const TransferTaskRecord *task = taskWithId(store, refused);
            return task && task->status == Status::failed;
        }));
        QCOMPARE(taskWithId(store, refused)->message, *store.receiveFolderProblem());

        QVERIFY(QDir().mkpath(disk + u"/Tavrine"_s));
        const QString accepted = phoneSends(u"second.bin"_s, 3);
        QVERIFY(link.waitForStatus(accepted, Status::completed));
        QVERIFY(QFile::exists(link.receiveFolder() + u"/second.bin"_s));
        QVERIFY(link.waitUntil([&] { return !store.receiveFolderProblem(); }));
    }

    // Another program holds the port the phone knows when the program starts again (a second copy of it, started
    // where the first cannot be reached): the host does not start, and the reason names the port and this program.
    void aPortHeldByAnotherProgramIsNamed()
    {
        LinkedStoreFixture link;
        link.makeStore();
        QVERIFY(link.pair());
        const quint16 port = link.hostPort();
        link.phone.reset();
        link.store.reset();
        const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        // The phone's last connections to the port may linger a while after it closed.
        const int reuse = 1;
        ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        QVERIFY(::bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(::listen(holder, 1) == 0);

        TransferStore &store = link.makeStore();
        awaitTask(store.startUp());
        ::close(holder);
        QVERIFY(!store.hasHost());
        QCOMPARE(
            store.phase(),
            Phase::failed(
                u"端口 %1 已被程序“%2”（进程号 %3）占用。手机只会在这个端口寻找这台电脑，请关闭该程序后重试。"_s.arg(
                    QString::number(port), QString::fromUtf8(contentsOf(u"/proc/self/comm"_s)).trimmed(),
                    QString::number(QCoreApplication::applicationPid()))));
    }

    // The program that held the port quits: the host starts on it by itself a moment later, the reason goes, and the
    // trusted phone, knocking all the while, comes back without a new pairing.
    void aPortLetGoOfStartsTheHostForThePairedPhone()
    {
        LinkedStoreFixture link;
        link.makeStore();
        QVERIFY(link.pair());
        const quint16 port = link.hostPort();
        link.store.reset();
        auto holder = std::make_unique<QTcpServer>();
        QVERIFY(holder->listen(QHostAddress::LocalHost, port));
        TransferStore &store = link.makeStore();
        awaitTask(store.startUp());
        QVERIFY(!store.hasHost());
        QCOMPARE(store.phase().kind, Phase::Kind::failed);
        QVERIFY(store.phase().text.startsWith(u"端口 %1 已被"_s.arg(port)));

        // With the holder go the phone's connections to it, so the phone knocks again soon.
        holder.reset();
        QVERIFY(link.waitUntil([&] { return store.phase() == Phase::connected(u"Test phone"_s); }, 60'000));
        QCOMPARE(link.hostPort(), port);
        QVERIFY(!store.pendingPairingDeviceID());
        QCOMPARE(store.trustedDevices().size(), 1);
    }

    // The session's keyring takes the trust of a pairing from the writer's own thread, and a rename waits for it
    // there while the event loop is held.
    void trustReachesTheSessionsKeyring()
    {
        LinkedStoreFixture link(true);
        TransferStore &store = link.makeStore();
        QVERIFY(link.pair());
        QCOMPARE(link.registryStore().load().devices, store.trustedDevices());
        store.renameTrustedDevice(store.trustedDevices().value(0).id, u"Renamed phone"_s);
        QCOMPARE(store.phase(), Phase::connected(u"Test phone"_s));
        QCOMPARE(link.registryStore().load().devices.value(0).name, u"Renamed phone"_s);
    }

    // The store goes away in the middle of a download; the next one, on the trust kept in the session's keyring,
    // reconnects without a pairing. Then the link drops in the middle of that download and of a send; the phone
    // comes back by itself, and both transfers finish, each file once.
    void transfersSurviveARestartOfTheStoreAndALinkDrop()
    {
        LinkedStoreFixture link(true);
        link.makeStore().beginNewPairing();
        LoopbackRelay relay(link.hostPort());
        QVERIFY(relay.port() != 0);
        link.store->stopHost();
        QVERIFY(link.pair(relay.port()));
        QCOMPARE(link.registryStore().load().devices, link.store->trustedDevices());
        const TrustedDeviceRecord device = link.store->trustedDevices().value(0);
        QVERIFY(device.secret.size() >= 32 && device.peerID);
        relay.setBytesPerSecond(throttledBytesPerSecond);
        const QString outgoing = link.makeFile(u"source/video.mp4"_s, throttledFileBytes, 7);
        const QString remote = link.makeFile(u"phone-storage/clip.mov"_s, throttledFileBytes, 8);
        const QString chosen = link.makeFolder(u"chosen"_s);
        link.handlers.insert(u"files.download"_s, LinkedStoreFixture::sendFileOnDownload(remote));
        link.store->enqueueManagedDownloads({preparedDownload(u"dl"_s, u"clip.mov"_s, throttledFileBytes)}, chosen);
        const auto moving = [&](const QString &id) {
            const TransferTaskRecord *task = taskWithId(*link.store, id);
            return task && task->transferredBytes > 0 &&
                   (task->status == Status::sending || task->status == Status::receiving);
        };
        QVERIFY(link.waitUntil([&] { return moving(u"dl"_s); }));
        link.store->persistTasks(true);

        TransferStore &store = link.makeStore();
        QCOMPARE(statusOf(store, u"dl"_s), Status::waitingForConnection);
        awaitTask(store.startUp());
        // Back to the trusted phone, not to a new pairing; the phone may already be back.
        QVERIFY2(store.phase() == Phase::reconnecting(u"Test phone"_s) ||
                     store.phase() == Phase::connected(u"Test phone"_s),
                 qPrintable(u"%1 %2"_s.arg(int(store.phase().kind)).arg(store.phase().text)));
        QVERIFY(link.waitUntil([&] { return store.phase() == Phase::connected(u"Test phone"_s); }));
        store.sendFiles({outgoing});
        const QString sendID = store.tasks().first().id;
        QVERIFY(link.waitUntil([&] { return moving(sendID) && moving(u"dl"_s); }));
        link.phoneEvents.clear();
        relay.cutConnections();
        QVERIFY(link.waitUntil([&] { return link.phoneSaw(TransferEventKind::disconnected); }));
        relay.setBytesPerSecond(0);

        QVERIFY(link.waitForStatus(sendID, Status::completed, 60'000));
        QVERIFY(link.waitForStatus(u"dl"_s, Status::completed, 60'000));
        QVERIFY(link.waitUntil([&] { return link.phoneSaw(TransferEventKind::completed, sendID); }));
        QCOMPARE(fileSha256(link.phoneInbox() + u"/video.mp4"_s), fileSha256(outgoing));
        QCOMPARE(fileSha256(chosen + u"/clip.mov"_s), fileSha256(remote));
        QCOMPARE(QDir(chosen).entryList(QDir::Files | QDir::Hidden), QStringList{u"clip.mov"_s});
        QCOMPARE(store.phase(), Phase::connected(u"Test phone"_s));
        QCOMPARE(store.trustedDevices().size(), 1);
        QCOMPARE(store.trustedDevices().first().id, device.id);
    }
};

QTEST_GUILESS_MAIN(TransferStoreTransfersLinkTest)
#include "test_transfer_store_transfers_link.moc"

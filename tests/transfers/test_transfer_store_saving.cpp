#include "FullDisk.h"
#include "LinkedStoreFixture.h"
#include "StoreTestSupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Status = TransferTaskRecord::Status;
using Kind = TransferEventKind;
using Direction = TransferDirection;

namespace {

QList<TransferTaskRecord> written(const StoreFixture &fixture)
{
    return TransferTaskRepository(fixture.taskFile()).load();
}

qint64 writtenBytes(const StoreFixture &fixture, const QString &id)
{
    for (const TransferTaskRecord &task : written(fixture)) {
        if (task.id == id) {
            return task.transferredBytes;
        }
    }
    return -1;
}

} // namespace

// When the store writes its task file, and that a file it cannot write is shown and left whole.
class TransferStoreSavingTest : public QObject
{
    Q_OBJECT

private slots:
    // A task the phone starts is on disk as soon as its first event is handled, not after the transfer settles.
    void aNewTaskIsWrittenAtOnce()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        fixture.deliver({transferEvent(Kind::receiving, Direction::receiving, u"incoming"_s, 10, 100)});
        store.waitForTaskFile();
        QCOMPARE(writtenBytes(fixture, u"incoming"_s), 10);
    }

    // Progress every 100 ms re-arms the short delay each time; the file follows it all the same, while the events
    // are still coming.
    void progressThatKeepsComingIsWritten()
    {
        StoreFixture fixture;
        fixture.makePaired();
        uint64_t bytes = 1;
        fixture.deliver({transferEvent(Kind::receiving, Direction::receiving, u"long"_s, bytes, 1'000'000)});
        QTimer progress;
        connect(&progress, &QTimer::timeout, [&] {
            fixture.deliver({transferEvent(Kind::receiving, Direction::receiving, u"long"_s, ++bytes, 1'000'000)});
        });
        progress.start(std::chrono::milliseconds(100));
        // Without the longest delay the file waits as long as the progress keeps coming, whatever the bound.
        QTRY_VERIFY_WITH_TIMEOUT(writtenBytes(fixture, u"long"_s) > 1, 20'000);
        QVERIFY(progress.isActive());
    }

    // Quitting right after a change that waits for the short delay still writes it.
    void aPendingSaveIsWrittenWhenTheStoreGoes_data()
    {
        const TestTable<TransferDirection> rows;
        rows("progress of a receive", Direction::receiving);
        rows("progress of a send", Direction::sending);
    }
    void aPendingSaveIsWrittenWhenTheStoreGoes()
    {
        const auto [direction] = TestTable<TransferDirection>::fetch();
        const Kind kind = direction == Direction::sending ? Kind::sending : Kind::receiving;
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        fixture.deliver({transferEvent(kind, direction, u"moving"_s, 10, 100)});
        store.waitForTaskFile();
        fixture.deliver({transferEvent(kind, direction, u"moving"_s, 60, 100)});
        fixture.store.reset();
        QCOMPARE(writtenBytes(fixture, u"moving"_s), 60);
    }

    // At start, the part of a receive that no unfinished task refers to is removed once it has not grown for a day;
    // a younger one waits for the phone to resume its transfer, and the part of a waiting task stays however old.
    void unclaimedPartialsGoOnceADayOld()
    {
        StoreFixture fixture;
        fixture.saveTasks(
            {taskRecord(u"waiting"_s, TransferTaskRecord::Direction::receiving, Status::waitingForConnection),
             taskRecord(u"done"_s, TransferTaskRecord::Direction::receiving, Status::completed)});
        const auto partial = [&](const QString &id, int hoursOld) {
            // The core's name for the part received so far: the first 16 bytes of the id's SHA-256, in hex.
            const QString name = u".tavrine-incoming-%1.part"_s.arg(QString::fromLatin1(
                QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).left(16).toHex()));
            QFile file(fixture.writeFile(u"inbox/"_s + name));
            file.open(QIODevice::ReadWrite);
            file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600 * hoursOld),
                             QFileDevice::FileModificationTime);
            return name;
        };
        const QString waiting = partial(u"waiting"_s, 48);
        partial(u"done"_s, 48);
        partial(u"lost-long-ago"_s, 25);
        const QString recent = partial(u"lost-recently"_s, 23);
        fixture.writeFile(u"inbox/photo.jpg"_s);
        QVERIFY(QFile::link(fixture.folder.filePath(u"inbox/photo.jpg"_s),
                            fixture.folder.filePath(u"inbox/.tavrine-incoming-0.part"_s)));
        fixture.make();
        QStringList kept{u".tavrine-incoming-0.part"_s, waiting, recent, u"photo.jpg"_s};
        kept.sort();
        QCOMPARE(QDir(fixture.inbox()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), kept);
    }

    // The host lets go of its inbox copy of a delivered download only once the task file records the delivery: until
    // then a restart must still find the copy to deliver from.
    void aDeliveryIsAcknowledgedOnceTheFileRecordsIt()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        const QString destination = fixture.folder.filePath(u"chosen"_s);
        QVERIFY(QDir().mkpath(destination));
        store.enqueueManagedDownloads({preparedDownload(u"d1"_s, u"a.jpg"_s)}, destination);
        store.waitForTaskFile();
        QVERIFY(QFile::remove(fixture.taskFile()) && QDir().mkpath(fixture.taskFile())); // no save succeeds now
        fixture.writeFile(u"inbox/a.jpg"_s, "fresh");
        fixture.deliver({transferEvent(Kind::completed, Direction::receiving, u"d1"_s, 5, 5)});
        QCOMPARE(outcomeOf(store.waitForManagedDownload(u"d1"_s)), destination + u"/a.jpg"_s);
        QTRY_VERIFY(store.taskFileProblem());
        QVERIFY(!fixture.host->calls.contains(u"acknowledge:d1"_s));

        QVERIFY(QDir(fixture.taskFile()).removeRecursively());
        store.persistTasks(true);
        QTRY_VERIFY(fixture.host->calls.contains(u"acknowledge:d1"_s));
        QVERIFY(written(fixture).value(0).deliveryCompletedAt);
    }

    // Over the real core: a download arrived whole in the inbox, but the application went before its task file
    // followed (the file still shows the bytes of an earlier moment). After the restart the download is asked for
    // again under its own id, and the inbox copy the host holds for that id is delivered; no second copy is taken.
    void aDownloadTheInboxHoldsIsDeliveredFromItAfterARestart()
    {
        LinkedStoreFixture link;
        link.makeStore();
        QVERIFY(link.pair());
        const QString source = link.makeFile(u"phone-storage/clip.mov"_s, 300'000, 3);
        const QString chosen = link.makeFolder(u"chosen"_s);
        int offers = 0;
        link.handlers.insert(u"files.download"_s, [&](const ManagementRequest &request, TransferClient &client) {
            ++offers;
            return LinkedStoreFixture::sendFileOnDownload(source)(request, client);
        });
        link.store->enqueueManagedDownloads({preparedDownload(u"dl"_s, u"clip.mov"_s, 300'000)}, chosen);
        // The chosen folder is gone when the file arrives: nothing is delivered, and the inbox keeps its copy.
        QVERIFY(QDir(chosen).removeRecursively());
        QVERIFY(link.waitForStatus(u"dl"_s, Status::needsAttention));
        QCOMPARE(QDir(link.receiveFolder()).entryList(QDir::Files), QStringList{u"clip.mov"_s});
        link.store.reset();
        TransferTaskRecord lagging =
            TransferTaskRepository(link.folder.filePath(u"transfer-tasks-v1.json"_s)).load().value(0);
        lagging.status = Status::receiving;
        lagging.transferredBytes = 30'000;
        lagging.deliveryCompletedAt.reset();
        TransferTaskRepository(link.folder.filePath(u"transfer-tasks-v1.json"_s)).save({lagging});
        QVERIFY(!link.makeFolder(u"chosen"_s).isEmpty());

        TransferStore &store = link.makeStore();
        awaitTask(store.startUp());
        QVERIFY(link.waitForStatus(u"dl"_s, Status::completed));
        QCOMPARE(offers, 2);
        QCOMPARE(fileSha256(chosen + u"/clip.mov"_s), fileSha256(source));
        QCOMPARE(QDir(chosen).entryList(QDir::Files | QDir::Hidden), QStringList{u"clip.mov"_s});
        QVERIFY(link.waitUntil([&] { return QDir(link.receiveFolder()).entryList(QDir::Files).isEmpty(); }));
    }

    void aFileThatCannotBeWrittenIsShownAndKeptWhole_data() { RefusingDisk::addRows(); }
    // Whichever call finds the disk full (the first write, or one after a write cut short), the reason is said in
    // the interface's words; the old file stays whole, and the link goes on meanwhile.
    void aFileThatCannotBeWrittenIsShownAndKeptWhole()
    {
        StoreFixture fixture;
        RefusingDisk disk(RefusingDisk::fetch(), fixture.folder.path());
        if (!disk.isAvailable()) {
            QSKIP("this process may not mount a file system");
        }
        const QList<TransferTaskRecord> old{
            taskRecord(u"a"_s, TransferTaskRecord::Direction::sending, Status::paused),
            taskRecord(u"b"_s, TransferTaskRecord::Direction::receiving, Status::paused)};
        fixture.saveTasks(old);
        TransferStore &store = fixture.makePaired();
        const TransferStore::Phase connected = store.phase();
        QList<TransferEvent> offers;
        for (int number = 0; number < 40; ++number) {
            offers.append(transferEvent(Kind::queued, Direction::receiving, u"offer-%1"_s.arg(number)));
        }
        QVERIFY(disk.refuse());
        fixture.deliver(offers);
        store.waitForTaskFile();
        disk.allow();
        QTRY_VERIFY(store.taskFileProblem());
        QCOMPARE(*store.taskFileProblem(),
                 disk.isFull() ? u"无法保存传输任务：磁盘空间不足"_s : u"无法保存传输任务：文件过大"_s);
        QCOMPARE(store.phase(), connected);
        QCOMPARE(store.tasks().size(), 42);
        QCOMPARE(written(fixture), old);
    }

    // A failed save does not end the link: the phone stays connected, a file handed over meanwhile goes on its way,
    // and the failure shows until a save reaches the disk.
    void aFailedSaveLeavesTheLinkAlone()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        const TransferStore::Phase connected = store.phase();
        QCOMPARE(connected.kind, TransferStore::Phase::Kind::connected);
        QSignalSpy phaseChanges(&store, &TransferStore::phaseChanged);
        QSignalSpy problemChanges(&store, &TransferStore::taskFileProblemChanged);
        {
            const FileSizeLimit limit(64);
            QVERIFY(limit.isActive());
            fixture.deliver({transferEvent(Kind::queued, Direction::receiving, u"refused"_s)});
            store.waitForTaskFile();
            QTRY_VERIFY(store.taskFileProblem());
            store.sendFiles({fixture.writeFile(u"photo.jpg"_s)});
            store.waitForTaskFile();
            QCoreApplication::processEvents();
        }
        QVERIFY(store.taskFileProblem()->startsWith(u"无法保存传输任务："_s));
        QCOMPARE(fixture.calls(u"send:"_s).size(), 1);
        QCOMPARE(problemChanges.size(), 1);

        fixture.deliver({transferEvent(Kind::queued, Direction::receiving, u"written"_s)});
        store.waitForTaskFile();
        QTRY_VERIFY(!store.taskFileProblem());
        QCOMPARE(problemChanges.size(), 2);
        QCOMPARE(written(fixture).size(), 3);
        QCOMPARE(store.phase(), connected);
        QCOMPARE(phaseChanges.size(), 0);
    }

    // Room comes back without a word: the save that failed is tried again by itself while it fails, and the failure
    // goes once the file holds the tasks, though no task changed meanwhile.
    void aFailedSaveIsTriedAgainUntilItReachesTheDisk()
    {
        StoreFixture fixture;
        fixture.retryInterval = std::chrono::milliseconds(20);
        TransferStore &store = fixture.makePaired();
        QVERIFY(!QFile::exists(fixture.taskFile()) || QFile::remove(fixture.taskFile()));
        QVERIFY(QDir().mkpath(fixture.taskFile())); // no save succeeds now
        fixture.deliver({transferEvent(Kind::queued, Direction::receiving, u"offer"_s)});
        QTRY_VERIFY(store.taskFileProblem());

        QVERIFY(QDir(fixture.taskFile()).removeRecursively());
        QTRY_VERIFY(!store.taskFileProblem());
        QCOMPARE(written(fixture).value(0).id, u"offer"_s);
    }

    // A process ended between writing the task file aside and moving it into place leaves what it wrote, as large as
    // the file: the next start removes those, and nothing else.
    void leftoverTemporariesGoAtStart()
    {
        StoreFixture fixture;
        fixture.saveTasks({taskRecord(u"kept"_s, TransferTaskRecord::Direction::sending, Status::paused)});
        const QString outside = fixture.writeFile(u"outside.json"_s, "mine");
        for (const QString &name : {u"transfer-tasks-v1.json.Ab3dE9"_s, u"transfer-tasks-v1.json.zzzzzz"_s}) {
            fixture.writeFile(name, "[]");
        }
        QStringList kept{u"transfer-tasks-v1.json"_s,        u"outside.json"_s,
                         u"transfer-tasks-v1.json.Ab3dE"_s,  u"transfer-tasks-v1.json.Ab3dE9x"_s,
                         u"transfer-tasks-v1.json.Ab-dE9"_s, u"transfer-tasks-v1.json.damaged-20240101T000000Z"_s,
                         u"transfer-tasks-v2.json.Ab3dE9"_s, u"xtransfer-tasks-v1.json.Ab3dE9"_s};
        for (const QString &name : kept.mid(2)) {
            fixture.writeFile(name, "[]");
        }
        QVERIFY(QFile::link(outside, fixture.folder.filePath(u"transfer-tasks-v1.json.L1nk00"_s)));
        QVERIFY(QDir(fixture.folder.path()).mkdir(u"transfer-tasks-v1.json.F0lder"_s));
        kept << u"transfer-tasks-v1.json.L1nk00"_s << u"transfer-tasks-v1.json.F0lder"_s;

        TransferStore &store = fixture.make();
        QStringList left = QDir(fixture.folder.path())
                               .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        left.sort();
        kept.sort();
        QCOMPARE(left, kept);
        QCOMPARE(contentsOf(outside), "mine");
        QCOMPARE(store.tasks().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TransferStoreSavingTest)
#include "test_transfer_store_saving.moc"

#include "StoreTestSupport.h"
#include "TransferTaskError.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;
using Kind = TransferEventKind;
using Direction = TransferDirection;
using Purpose = TransferTaskRecord::DeliveryPurpose;

namespace {

// A managed download "d1.jpg" in the task file, and what becomes of it: the action, "start" (a new pairing),
// "startUp", "retry", or "retry connected" (after a pairing); the setup, "inbox" (its file is in the receive
// folder), "delivered" (before), "plain" (no destination), "noRemote" (no file id); the status before; the bytes
// received of 5 (0: of 0); the status after; the message (null: not checked); the download requests made.
using ReceivedDownloads = TestTable<QString, QString, Status, qint64, Status, QString, int>;
// The purpose; the name given in the save dialog; the path planned for the phone's a.jpg below the chosen folder,
// which holds an older a.jpg; the messages while waiting, starting, saving, and when done; the path delivered to.
using Deliveries = TestTable<Purpose, std::optional<QString>, QString, QStringList, QString>;
// How the download fails, and the status and message of its task.
using FailedDownloads = TestTable<QString, Status, QString>;

} // namespace

class TransferStoreSendingTest : public QObject
{
    Q_OBJECT

private slots:
    // Files go one at a time, oldest first, and wait for the phone; folders and links are refused.
    void sendingFiles()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        store.sendFiles({});
        QCOMPARE(fixture.notifications->authorizationRequests, 0);
        QVERIFY(!QFile::exists(fixture.taskFile()));

        const QString a = fixture.writeFile(u"a.txt"_s, "aaaa");
        QDir(fixture.folder.path()).mkdir(u"folder"_s);
        QFile::link(a, fixture.folder.filePath(u"link.txt"_s));
        store.sendFiles({a, fixture.folder.filePath(u"folder"_s), fixture.folder.filePath(u"link.txt"_s),
                         fixture.writeFile(u"b.txt"_s)});
        QCOMPARE(store.phase().kind, Phase::Kind::idle);
        QCOMPARE(store.sendRefusal(), TransferTaskError(TransferTaskError::Case::notAFile).errorDescription());
        QCOMPARE(store.tasks().size(), 2);
        QCOMPARE(store.tasks()[0].status, Status::waitingForConnection);
        QCOMPARE(store.tasks()[0].message, u"连接后将自动发送"_s);

        fixture.pair();
        const QString first = store.tasks()[1].id;
        QCOMPARE(store.tasks()[1].status, Status::sending);
        QCOMPARE(store.tasks()[1].totalBytes, 4);
        QCOMPARE(store.tasks()[0].status, Status::queued);
        QCOMPARE(fixture.calls(u"send:"_s), QStringList{u"send:"_s + first});
        store.sendFiles({fixture.writeFile(u"c.txt"_s)});
        QCOMPARE(store.tasks()[0].message, u"等待发送"_s);
        QCOMPARE(fixture.notifications->authorizationRequests, 1);

        fixture.deliver({transferEvent(Kind::completed, Direction::sending, first)});
        QCOMPARE(fixture.calls(u"send:"_s), (QStringList{u"send:"_s + first, u"send:"_s + store.tasks()[1].id}));
    }

    // A hand-over of several files starts the oldest one it takes at once, the rest wait behind it, and the list is
    // published once for the whole hand-over.
    void aHandOverStartsItsFirstFileAndPublishesOnce()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        QSignalSpy published(&store, &TransferStore::tasksChanged);
        store.sendFiles({fixture.writeFile(u"a.txt"_s), fixture.writeFile(u"b.txt"_s), fixture.writeFile(u"c.txt"_s)});
        QCOMPARE(published.size(), 1);
        QCOMPARE(store.tasks().size(), 3);
        const QString a = store.tasks()[2].id;
        QCOMPARE(store.tasks()[2].fileName, u"a.txt"_s);
        QCOMPARE(store.tasks()[2].status, Status::sending);
        QCOMPARE(store.tasks()[1].status, Status::queued);
        QCOMPARE(store.tasks()[0].status, Status::queued);
        QCOMPARE(fixture.calls(u"send:"_s), QStringList{u"send:"_s + a});
    }

    void aRefusedPathLeavesTheLinkAndTheOtherFiles_data()
    {
        // What is handed over ("file", "folder", "link", "missing"), in order; the statuses of the tasks made, oldest
        // first; the refusal shown (null: none).
        const TestTable<QStringList, QList<Status>, QString> rows;
        const QString notAFile = TransferTaskError(TransferTaskError::Case::notAFile).errorDescription();
        rows("file, folder, file", {u"file"_s, u"folder"_s, u"file"_s}, {Status::sending, Status::queued}, notAFile);
        rows("folder first", {u"folder"_s, u"file"_s}, {Status::sending}, notAFile);
        rows("file, file, missing", {u"file"_s, u"file"_s, u"missing"_s}, {Status::sending, Status::queued},
             u"“missing”不存在。"_s);
        rows("every reason once, in order", {u"missing"_s, u"folder"_s, u"link"_s, u"folder"_s}, {},
             u"“missing”不存在。\n"_s + notAFile);
        rows("files only", {u"file"_s}, {Status::sending}, QString());
    }

    // A refused path says why on its own, and leaves the phone connected: the other files of the hand-over go, and
    // the next hand-over sends what it takes.
    void aRefusedPathLeavesTheLinkAndTheOtherFiles()
    {
        const auto [items, statuses, refusal] = TestTable<QStringList, QList<Status>, QString>::fetch();
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        const Phase connected = store.phase();
        QDir(fixture.folder.path()).mkdir(u"folder"_s);
        QFile::link(fixture.writeFile(u"target.txt"_s), fixture.folder.filePath(u"link"_s));
        // What an earlier refusal said goes with the next hand-over.
        store.sendFiles({fixture.folder.filePath(u"folder"_s)});
        QStringList paths;
        for (qsizetype index = 0; index < items.size(); ++index) {
            paths.append(items[index] == u"file"_s ? fixture.writeFile(u"%1.txt"_s.arg(index))
                                                   : fixture.folder.filePath(items[index]));
        }
        QCOMPARE(store.sendFiles(paths), statuses.size());
        QCOMPARE(store.phase(), connected);
        QCOMPARE(store.sendRefusal(), refusal.isNull() ? std::nullopt : std::optional(refusal));
        QList<Status> made;
        for (const TransferTaskRecord &task : store.tasks()) {
            made.prepend(task.status);
        }
        QCOMPARE(made, statuses);
        QCOMPARE(fixture.calls(u"send:"_s).size(), statuses.isEmpty() ? 0 : 1);
        store.dismissSendRefusal();
        QCOMPARE(store.sendRefusal(), std::nullopt);
    }

    // While a file is on its way the pump looks for its end as often as for answers, and at first on every turn;
    // idle it keeps its pace.
    void thePumpKeepsPaceWithAFileOnItsWay()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        QTRY_COMPARE(store.eventPumpInterval(), TransferStore::pollInterval);
        store.sendFiles({fixture.writeFile(u"a.txt"_s)});
        // Right after a file starts the pump looks on every turn, so a small file's end is seen at once.
        QCOMPARE(store.eventPumpInterval(), std::chrono::milliseconds(0));
        QTest::qWait(int(TransferStore::eagerPollingSpell.count()) + 1);
        QTRY_COMPARE(store.eventPumpInterval(), TransferStore::activeTransferPollInterval);
        fixture.host->events.push_back(transferEvent(Kind::completed, Direction::sending, store.tasks()[0].id));
        QTRY_COMPARE(store.tasks()[0].status, Status::completed);
        QTRY_COMPARE(store.eventPumpInterval(), TransferStore::pollInterval);
    }

    // A task made for one phone is never sent to another.
    void tasksStayWithTheirPhone()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair(u"First"_s, u"peer-1"_s, QString(40, u'a'));
        const QString firstID = *store.selectedTrustedDeviceID();
        fixture.pair(u"Second"_s, u"peer-2"_s, QString(40, u'b'));
        QCOMPARE(store.trustedDevices().size(), 2);
        store.selectTrustedDevice(firstID);
        store.sendFiles({fixture.writeFile(u"a.txt"_s)});
        store.stopHost();
        store.selectTrustedDevice(store.trustedDevices()[store.trustedDevices()[0].id == firstID ? 1 : 0].id);
        fixture.deliver({linkEvent(Kind::paired, u"Second"_s, u"peer-2"_s)});
        QCOMPARE(store.phase(), Phase::connected(u"Second"_s));
        QVERIFY(fixture.calls(u"send:"_s).isEmpty());
        QCOMPARE(store.tasks().first().status, Status::queued);
    }

    void unusableSourcesNeedAttention_data()
    {
        const TestTable<QString, QString> rows; // what became of the source, and the message
        const QString gone = u"原文件已移动或删除，请重新选择。"_s;
        rows("deleted", u"deleted"_s, gone);
        rows("replaced by a link", u"link"_s, gone);
        rows("no bookmark", u"none"_s, u"请重新选择原文件"_s);
        rows("bookmark that is no path", u"relative"_s, u"无法解析文件位置。"_s);
    }

    // The send that cannot start says why, and the next one starts.
    void unusableSourcesNeedAttention()
    {
        const auto [source, message] = TestTable<QString, QString>::fetch();
        StoreFixture fixture;
        const QString a = fixture.writeFile(u"a.txt"_s);
        TransferTaskRecord broken = taskRecord(u"broken"_s, TransferTaskRecord::Direction::sending, Status::queued);
        broken.sourceBookmark =
            source == u"none" ? std::nullopt : std::optional(source == u"relative" ? "a.txt" : a.toUtf8());
        TransferTaskRecord good = taskRecord(u"good"_s, TransferTaskRecord::Direction::sending, Status::queued);
        good.sourceBookmark = fixture.writeFile(u"b.txt"_s).toUtf8();
        fixture.saveTasks({good, broken});
        if (source == u"deleted" || source == u"link") {
            QFile::remove(a);
        }
        if (source == u"link") {
            QFile::link(fixture.folder.filePath(u"b.txt"_s), a);
        }
        TransferStore &store = fixture.make();
        fixture.pair();
        QCOMPARE(statusOf(store, u"broken"_s), Status::needsAttention);
        QCOMPARE(taskWithId(store, u"broken"_s)->message, message);
        QCOMPARE(fixture.calls(u"send:"_s), QStringList{u"send:good"_s});
    }

    // Pausing or cancelling the running send tells the host and lets the next one go; resuming waits for the phone.
    void controlsOfTheRunningSend()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        store.sendFiles({fixture.writeFile(u"a.txt"_s), fixture.writeFile(u"b.txt"_s), fixture.writeFile(u"c.txt"_s)});
        const QString a = store.tasks()[2].id, b = store.tasks()[1].id, c = store.tasks()[0].id;
        store.pauseTask(c);
        store.cancelTask(c);
        QCOMPARE(fixture.host->calls.filter(c), QStringList{u"cancel:"_s + c});
        store.pauseTask(a);
        QVERIFY(fixture.host->calls.contains(u"pause:"_s + a));
        QCOMPARE(fixture.calls(u"send:"_s), (QStringList{u"send:"_s + a, u"send:"_s + b}));
        store.resumeTask(a);
        QCOMPARE(statusOf(store, a), Status::queued);
        QCOMPARE(taskWithId(store, a)->message, u"等待继续"_s);

        store.stopHost();
        store.pauseTask(a);
        store.resumeTask(a);
        QCOMPARE(statusOf(store, a), Status::waitingForConnection);
        QCOMPARE(taskWithId(store, a)->message, u"连接后将自动继续"_s);
    }

    // A file the phone sends is not paused here: the phone's next bytes would set it receiving again at once.
    void aFileThePhoneSendsIsNotPausedHere()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        fixture.deliver({transferEvent(Kind::receiving, Direction::receiving, u"incoming"_s, 10, 100)});
        store.pauseTask(u"incoming"_s);
        QCOMPARE(statusOf(store, u"incoming"_s), Status::receiving);
        QVERIFY(fixture.host->calls.filter(u"incoming"_s).isEmpty());
        store.cancelTask(u"incoming"_s);
        QCOMPARE(fixture.host->calls.filter(u"incoming"_s), QStringList{u"cancel:incoming"_s});
    }

    void deliveryByPurpose_data()
    {
        const Deliveries rows;
        const QStringList exporting{u"等待下载"_s, u"正在准备下载"_s, u"正在保存到所选位置"_s};
        const QString saved = u"已保存到所选位置"_s, savedAsA2 = u"已保存为“a 2.jpg”"_s;
        rows("export beside a file of that name", Purpose::export_, {}, u"a.jpg"_s, exporting + QStringList{savedAsA2},
             u"a 2.jpg"_s);
        rows("export to a free name", Purpose::export_, {}, u"Album/a.jpg"_s, exporting + QStringList{saved},
             u"Album/a.jpg"_s);
        rows("export under the name given in the save dialog", Purpose::export_, u"c.jpg"_s, u"c.jpg"_s,
             exporting + QStringList{saved}, u"c.jpg"_s);
        // Numbered when it was planned, the name taken then.
        rows("export under a number, the name given taken", Purpose::export_, u"a.jpg"_s, u"a 2.jpg"_s,
             exporting + QStringList{savedAsA2}, u"a 2.jpg"_s);
        rows("preview in its place", Purpose::preview, {}, u"a.jpg"_s,
             {u"正在准备预览"_s, u"正在准备预览"_s, u"正在准备预览"_s, u"预览已就绪"_s}, u"a.jpg"_s);
    }

    // Downloads start one at a time, oldest first; what the task says at each step, and where a caller waiting for
    // the download finds the file. A transfer id already taken, or taken twice in one batch, refuses the batch.
    void deliveryByPurpose()
    {
        const auto [purpose, chosenName, planned, messages, delivered] = Deliveries::fetch();
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        const QString destination = fixture.folder.filePath(u"chosen"_s);
        fixture.writeFile(u"chosen/a.jpg"_s, "older");
        const auto download = [p = purpose](const QString &id, const QString &path) {
            return preparedDownload(id, path, 5, p);
        };
        PreparedManagedDownloadFile phoneFile = download(u"d1"_s, planned);
        phoneFile.fileName = u"a.jpg"_s;
        phoneFile.chosenName = chosenName;
        store.enqueueManagedDownloads({download(u"d2"_s, u"b.jpg"_s), phoneFile}, destination);
        QCOMPARE((QStringList{taskWithId(store, u"d2"_s)->message, taskWithId(store, u"d1"_s)->message}),
                 messages.mid(0, 2));
        QCOMPARE(fixture.calls(u"request:files.download"_s).size(), 1);
        QVERIFY_THROWS_EXCEPTION(DeviceManagementRequestError,
                                 store.enqueueManagedDownloads({download(u"d2"_s, u"x.jpg"_s)}, destination));
        QVERIFY_THROWS_EXCEPTION(
            DeviceManagementRequestError,
            store.enqueueManagedDownloads({download(u"n"_s, u"x.jpg"_s), download(u"n"_s, u"y.jpg"_s)}, destination));
        QCOMPARE(store.tasks().size(), 2);
        fixture.writeFile(u"inbox/a.jpg"_s, "fresh");
        fixture.deliver({transferEvent(Kind::completed, Direction::receiving, u"d1"_s, 5, 5)});
        QCOMPARE(statusOf(store, u"d1"_s), Status::receiving);
        QCOMPARE(taskWithId(store, u"d1"_s)->message, messages[2]);
        QCOMPARE(outcomeOf(store.waitForManagedDownload(u"d1"_s)), destination + u'/' + delivered);
        QCOMPARE(statusOf(store, u"d1"_s), Status::completed);
        QCOMPARE(taskWithId(store, u"d1"_s)->message, messages[3]);
        QCOMPARE(taskWithId(store, u"d1"_s)->destinationRelativePath, delivered);
        QCOMPARE(contentsOf(destination + u'/' + delivered), "fresh");
        // The host hears of the delivery once the task file records it.
        QTRY_VERIFY(fixture.host->calls.contains(u"acknowledge:d1"_s));
        QCOMPARE(store.completedTransfers().size(), 1);
        QCOMPARE(fixture.calls(u"request:files.download"_s).size(), 2);
        QCOMPARE(outcomeOf(store.waitForManagedDownload(u"unknown"_s)), u"已接收的文件不可用，请重试"_s);
    }

    void failedDownloads_data()
    {
        const FailedDownloads rows;
        rows("refused by the phone", u"refused"_s, Status::needsAttention, u"文件不存在"_s);
        rows("refused once the link failed", u"link"_s, Status::waitingForConnection, u"连接后将自动继续"_s);
        rows("received file missing", u"undeliverable"_s, Status::needsAttention, u"已接收的文件不可用，请重试"_s);
        rows("task file without a destination", u"broken"_s, Status::needsAttention,
             u"无法访问所选保存位置，请重新选择"_s);
    }

    // A download that fails frees the slot; while connected the task says why and the next one starts.
    void failedDownloads()
    {
        const auto [failure, status, message] = FailedDownloads::fetch();
        StoreFixture fixture;
        QList<PreparedManagedDownloadFile> downloads{preparedDownload(u"d2"_s, u"b.jpg"_s)};
        if (failure == u"broken") {
            TransferTaskRecord broken = downloadTask(u"d1"_s, fixture.folder.path(), Status::queued);
            broken.destinationRelativePath.reset();
            fixture.saveTasks({broken});
        } else {
            downloads.append(preparedDownload(u"d1"_s, u"a.jpg"_s));
        }
        TransferStore &store = fixture.makePaired();
        store.enqueueManagedDownloads(downloads, fixture.folder.path());
        QCOMPARE(fixture.calls(u"request:files.download"_s).size(), 1);
        if (failure == u"link") {
            fixture.deliver({linkEvent(Kind::failed)});
        }
        if (failure == u"refused" || failure == u"link") {
            fixture.answer(1, false, u"文件不存在"_s);
        } else {
            fixture.deliver({transferEvent(Kind::completed, Direction::receiving, u"d1"_s, 5, 5)});
        }
        QTRY_COMPARE(statusOf(store, u"d1"_s), status);
        QCOMPARE(taskWithId(store, u"d1"_s)->message, message);
        const bool connected = status == Status::needsAttention;
        QCOMPARE(fixture.calls(u"request:files.download"_s).size(), connected ? 2 : 1);
        if (connected) {
            QCOMPARE(outcomeOf(store.waitForManagedDownload(u"d1"_s)), message);
        }
    }

    void downloadsThePhoneAgreesTo_data()
    {
        const TestTable<bool, Status, int> rows; // whether the phone starts sending; the status, the requests made
        rows("never sent", false, Status::needsAttention, 2);
        rows("started", true, Status::receiving, 1);
    }

    // A phone that agrees to a download and sends nothing: once the wait for the first bytes is over the download
    // needs attention, is called off on the host (a late start must not run beside the next download), its waiting
    // caller hears why, and the next download starts. Bytes that come in time end the wait.
    void downloadsThePhoneAgreesTo()
    {
        const auto [sends, status, requests] = TestTable<bool, Status, int>::fetch();
        StoreFixture fixture;
        fixture.managedDownloadStartTimeout = std::chrono::milliseconds(100);
        TransferStore &store = fixture.makePaired();
        store.enqueueManagedDownloads({preparedDownload(u"d2"_s, u"b.jpg"_s), preparedDownload(u"d1"_s, u"a.jpg"_s)},
                                      fixture.folder.path());
        fixture.answer(1, true);
        QCoreApplication::processEvents(); // the requester hears the yes
        if (sends) {
            fixture.deliver({transferEvent(Kind::receiving, Direction::receiving, u"d1"_s, 0, 5)});
            QSignalSpy changes(&store, &TransferStore::tasksChanged);
            QVERIFY(!changes.wait(500));
        } else {
            QCOMPARE(outcomeOf(store.waitForManagedDownload(u"d1"_s)), u"手机同意了下载，但没有开始发送文件，请重试"_s);
        }
        QCOMPARE(statusOf(store, u"d1"_s), status);
        QCOMPARE(fixture.calls(u"cancel:"_s), sends ? QStringList() : QStringList{u"cancel:d1"_s});
        QCOMPARE(fixture.calls(u"request:files.download"_s).size(), requests);
        QCOMPARE(taskWithId(store, u"d2"_s)->message, sends ? u"等待下载"_s : u"正在准备下载"_s);
    }

    void receivedDownloads_data()
    {
        const ReceivedDownloads row;
        const Status waiting = Status::waitingForConnection, attention = Status::needsAttention,
                     done = Status::completed;
        // After every start, what was received but not delivered is delivered; what was delivered is acknowledged
        // again so that the core lets go of its copy.
        row("start: received", u"start"_s, u"inbox"_s, waiting, 5, done, {}, 0);
        row("start-up: received", u"startUp"_s, u"inbox"_s, waiting, 5, done, {}, 0);
        row("start: received, needs attention", u"start"_s, u"inbox"_s, attention, 5, done, {}, 0);
        row("start: delivered before", u"start"_s, u"delivered"_s, done, 5, done, {}, 0);
        row("start: partly received", u"start"_s, u"inbox"_s, waiting, 4, waiting, {}, 0);
        row("start: not in the receive folder", u"start"_s, {}, waiting, 5, waiting, {}, 0);
        row("start: paused", u"start"_s, u"inbox"_s, Status::paused, 5, Status::paused, {}, 0);
        row("start: no destination", u"start"_s, u"inbox plain"_s, waiting, 5, waiting, {}, 0);
        // Byte counts of 0 of 0 do not make an older file of the same name this download's.
        row("start: nothing received", u"start"_s, u"inbox"_s, waiting, 0, waiting, {}, 0);
        // A retry delivers what the receive folder already holds, or asks the phone again.
        row("retry: received", u"retry"_s, u"inbox"_s, attention, 5, done, u"已保存到所选位置"_s, 0);
        row("retry: from the phone", u"retry connected"_s, {}, attention, 2, Status::queued, u"正在准备下载"_s, 1);
        row("retry: phone away", u"retry"_s, {}, attention, 2, waiting, u"连接后将自动重试"_s, 0);
        row("retry: no file id", u"retry connected"_s, u"noRemote"_s, attention, 2, attention, u"请重新开始这个下载"_s,
            0);
    }

    void receivedDownloads()
    {
        const auto [action, setup, before, received, after, message, requests] = ReceivedDownloads::fetch();
        StoreFixture fixture;
        const QString destination = fixture.folder.filePath(u"chosen"_s);
        QDir().mkpath(destination);
        TransferTaskRecord task = downloadTask(u"d1"_s, destination, before, received, received ? 5 : 0);
        const bool delivered = setup.contains(u"delivered");
        task.deliveryCompletedAt = delivered ? std::optional(task.createdAt) : std::nullopt;
        if (setup.contains(u"plain")) {
            task.destinationBookmark.reset();
        }
        if (setup.contains(u"noRemote")) {
            task.remoteFileID.reset();
        }
        fixture.saveTasks({task});
        fixture.saveRegistry({trustedPhone(u"Pixel"_s, 1)});
        TransferStore &store = fixture.make();
        if (action.endsWith(u"connected")) {
            fixture.pair();
        }
        if (setup.contains(u"inbox")) {
            fixture.writeFile(u"inbox/d1.jpg"_s, "fresh");
        }
        if (action == u"startUp") {
            awaitTask(store.startUp());
        } else {
            action == u"start" ? store.beginNewPairing() : store.retryTask(u"d1"_s);
        }
        QTRY_COMPARE(statusOf(store, u"d1"_s), after);
        QVERIFY(message.isNull() || taskWithId(store, u"d1"_s)->message == message);
        QCOMPARE(fixture.calls(u"request:files.download"_s).size(), requests);
        QVERIFY(requests == 0 || taskWithId(store, u"d1"_s)->transferredBytes == 0);
        QTRY_COMPARE(fixture.host->calls.contains(u"acknowledge:d1"_s),
                     store.hasHost() && (delivered || after == Status::completed));
        QCOMPARE(QFile::exists(destination + u"/d1.jpg"_s), !delivered && after == Status::completed);
    }

    void interruptionWithASendAndADownloadInFlight_data()
    {
        const TestTable<bool, QString> rows; // whether the host stops (else the link drops), and the message
        rows("host stopped", true, u"等待原设备重新连接"_s);
        rows("link dropped", false, u"连接中断，恢复后将继续"_s);
    }

    // Both wait for the phone at once, written to the task file, with every waiting request failed; both go on when
    // the phone is back.
    void interruptionWithASendAndADownloadInFlight()
    {
        const auto [stop, message] = TestTable<bool, QString>::fetch();
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        store.sendFiles({fixture.writeFile(u"a.txt"_s)});
        const QString send = store.tasks().first().id;
        store.enqueueManagedDownloads({preparedDownload(u"d1"_s, u"b.jpg"_s)}, fixture.folder.path());
        auto listing = store.requestManagement(u"files.list"_s, u"{}"_s);
        QCOMPARE(fixture.calls(u"send:"_s).size() + fixture.calls(u"request:"_s).size(), 3);
        if (stop) {
            store.stopHost();
        } else {
            fixture.deliver({linkEvent(Kind::disconnected)});
        }
        store.waitForTaskFile();
        const QList<TransferTaskRecord> written = TransferTaskRepository(fixture.taskFile()).load();
        QCOMPARE(outcomeOf(listing), u"手机连接已中断，请等待自动恢复后重试。"_s);
        for (const QString &id : {send, u"d1"_s}) {
            QCOMPARE(statusOf(store, id), Status::waitingForConnection);
            QCOMPARE(taskWithId(store, id)->message, message);
            QCOMPARE(fixture.host->calls.contains(u"pause:"_s + id), stop);
            QVERIFY(std::any_of(written.begin(), written.end(), [&](const TransferTaskRecord &task) {
                return task.id == id && task.status == Status::waitingForConnection;
            }));
        }

        if (stop) {
            store.startHost(true, store.trustedDevices().first().secret);
        }
        fixture.deliver({linkEvent(Kind::paired)});
        QCOMPARE(fixture.calls(u"send:"_s), (QStringList{u"send:"_s + send, u"send:"_s + send}));
        QCOMPARE(fixture.calls(u"request:files.download"_s).size(), 2);
        QCOMPARE(statusOf(store, send), Status::sending);
        QCOMPARE(taskWithId(store, u"d1"_s)->message, u"正在准备下载"_s);
    }

    // An upload is sent once the phone has prepared its place; a refusal says why, and the next one is prepared.
    void uploadsArePreparedBeforeTheyAreSent()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        store.enqueueManagedUploads({{fixture.writeFile(u"a.txt"_s), u"folder-1"_s, u"a.txt"_s, {}, {}},
                                     {fixture.writeFile(u"b.txt"_s), u"folder-1"_s, u"b.txt"_s, {}, {}}});
        QCOMPARE(fixture.calls(u"request:files.prepare_upload"_s).size(), 1);
        // Answers reach their own callers, in whatever order they come.
        auto listing = store.requestManagement(u"files.list"_s, u"{}"_s);
        fixture.answer(2, true, u"listing"_s);
        fixture.answer(1, false, u"找不到目标文件夹。"_s);
        QCOMPARE(outcomeOf(listing), u"listing"_s);
        QTRY_COMPARE(fixture.calls(u"request:files.prepare_upload"_s).size(), 2);
        QVERIFY(fixture.calls(u"send:"_s).isEmpty());
        fixture.answer(3, true);
        QTRY_COMPARE(fixture.calls(u"send:"_s), QStringList{u"send:"_s + store.tasks()[0].id});
        QCOMPARE(store.tasks()[0].status, Status::sending);
        QCOMPARE(store.tasks()[1].status, Status::needsAttention);
        QCOMPARE(store.tasks()[1].message, u"找不到目标文件夹。"_s);
        QVERIFY_THROWS_EXCEPTION(TransferTaskError,
                                 store.enqueueManagedUploads({{fixture.folder.path(), u"folder-1"_s, {}, {}, {}}}));
    }
};

QTEST_GUILESS_MAIN(TransferStoreSendingTest)
#include "test_transfer_store_sending.moc"

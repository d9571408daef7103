#include "FileDescriptor.h"
#include "LinkFixture.h"
#include "LinkedCoreFunctions.h"
#include "PhoneSession.h"
#include "StorageLayout.h"
#include "TavrineCoreError.h"

#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using namespace std::chrono_literals;

// Short, so that a link held up shows well within a test's bounds; the library reads it once, at the first link of
// the process.
constexpr auto idleTimeout = 1500ms;
// How fast the receiver reads a held part back, as a slow disk would: a mebibyte takes several idle times.
constexpr qint64 heldPartBytesPerSecond = 256 * 1024;

// What stands between a transfer that arrived whole and the same transfer offered again.
enum class Since
{
    nothing,           // its file still waits in the inbox
    acknowledged,      // its file was delivered and acknowledged
    fileChanged,       // the sender's file has another size now
    usersFileTookName, // the user put a file of their own, of the same size, in the received file's place
};

// What stands where the inbox folder belongs.
enum class InPlace
{
    danglingLink, // the folder it leads to is on a disk not mounted
    plainFile,
    readOnlyFolder,
};

// Makes the folder at `path` read-only, or writable again: for the superuser, whom permissions do not stop, a file
// system of its own is mounted there and mounted again read-only. False when that cannot be done here.
bool setReadOnly(const QString &path, bool readOnly)
{
    const QByteArray folder = QFile::encodeName(path);
    if (::geteuid() != 0) {
        return ::chmod(folder.constData(), readOnly ? 0555 : 0755) == 0;
    }
    if (readOnly && ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=4m") != 0) {
        return false;
    }
    return ::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | (readOnly ? MS_RDONLY : 0), "size=4m") == 0;
}

QStringList inboxFiles(const LinkSide &side)
{
    return QDir(side.inbox()).entryList(QDir::Files);
}

// Cuts the receiver's journal right after the line announcing that `transferId`'s file was about to take its name,
// as a stop between placing the file and recording it leaves the journal. False when there is no such line ahead of
// the one recording the file.
bool cutJournalAfterPlacing(const LinkSide &side, const QString &transferId)
{
    QFile journal(side.inboxFile(u".tavrine-received"_s));
    if (!journal.open(QIODevice::ReadWrite)) {
        return false;
    }
    const QByteArray text = journal.readAll();
    const QByteArray hexId = transferId.toUtf8().toHex();
    const qsizetype placing = text.indexOf("P " + hexId + ' ');
    const qsizetype received = text.indexOf("R " + hexId + ' ');
    if (placing < 0 || received < placing || (placing > 0 && text[placing - 1] != '\n')) {
        return false;
    }
    return journal.resize(text.indexOf('\n', placing) + 1);
}

// A run of the phone program on the storage folder `storage`, reconnecting with `material`: until `answered`
// returns, the host asks it something and waits for the answer, by which time the phone has handled every event that
// its core had for it as it started. False when a step did not happen in time.
bool runPhoneUntilItAnswers(LinkFixture &link, const QString &storage, const QString &material)
{
    int input[2];
    if (::pipe(input) != 0) {
        return false;
    }
    const FileDescriptor inputReadEnd(input[0]);
    const FileDescriptor inputWriteEnd(input[1]);
    PhoneOptions options;
    options.storageDirectory = storage;
    PhoneSession session(
        TransferClient::connect({}, material, link.phone.deviceName, StorageLayout::inboxPath(storage)), options,
        ManagementHandlers(), PhoneState{material, link.host.deviceName});
    session.start(inputReadEnd.get());
    const auto paired = countEvents(link.host.events, TransferEventKind::paired);
    if (!link.waitUntil([&] { return countEvents(link.host.events, TransferEventKind::paired) > paired; })) {
        return false;
    }
    const QString requestId = link.host->requestManagement(u"files.nothing"_s, u"{}"_s);
    return link.waitUntil([&] {
        return std::any_of(link.host.responses.begin(), link.host.responses.end(),
                           [&](const ManagementResponse &response) { return response.requestId == requestId; });
    });
}

bool acknowledge(LinkFixture &link, Way way, const QString &transferId)
{
    return way == Way::phoneToHost ? link.host->acknowledgeReceivedTransfer(transferId)
                                   : link.phone->acknowledgeReceivedTransfer(transferId);
}

} // namespace

class InboxFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TAVRINE_CORE_IDLE_TIMEOUT_MS", QByteArray::number(qint64(idleTimeout.count())));
        qputenv("TAVRINE_CORE_HELD_PART_BYTES_PER_SECOND", QByteArray::number(heldPartBytesPerSecond));
        installTavrineCoreFunctions(linkedCoreFunctions());
    }

    void slowlyReadHeldPartResumesAtTheFirstAttempt_data()
    {
        const TestTable<Way> rows;
        rows("phone to host", Way::phoneToHost);
        rows("host to phone", Way::hostToPhone);
    }

    // Checking what the receiver kept takes longer than the peer waits for a silent link: the link answers meanwhile,
    // and the file goes on from there at the first attempt.
    void slowlyReadHeldPartResumesAtTheFirstAttempt()
    {
        const auto [sendingWay] = TestTable<Way>::fetch();
        const Way way = sendingWay; // for the lambdas of WAIT_FOR
        LinkFixture link;
        const QString id = u"held"_s;
        const QString name = u"film.mp4"_s;
        const QString path = link.startThrottledTransfer(way, name, id);
        VERIFY_LINK(link, !path.isEmpty());
        QVERIFY(way == Way::phoneToHost ? link.phone->pauseTransfer(id) : link.host->pauseTransfer(id));
        WAIT_FOR(link, link.bothEndsReported(way, Kind::paused, id));
        VERIFY_LINK(link, link.roundTrip());
        // The part is cut to a mebibyte, a start of the file all the same, so that reading it back takes a known
        // time: several idle times.
        const qint64 held = mebibyte;
        QVERIFY(QFileInfo(link.receiver(way).onePartialFile()).size() >= held);
        QVERIFY(QFile::resize(link.receiver(way).onePartialFile(), held));
        QVERIFY(held * 1000 / heldPartBytesPerSecond > 2 * idleTimeout.count());

        VERIFY_NO_PROBLEM(link, link.resumeProblem(way, path, name, id, uint64_t(held)));
        QCOMPARE(countEvents(link.host.events, Kind::disconnected), 0);
        QCOMPARE(countEvents(link.phone.events, Kind::disconnected), 0);
    }

    void transferOfferedAgainIsNotTakenTwice_data()
    {
        const TestTable<Way, Since> rows;
        for (const Way way : {Way::phoneToHost, Way::hostToPhone}) {
            const auto row = [&](const char *name, Since since) {
                rows(qPrintable(wayName(way) + u", "_s + QLatin1StringView(name)), way, since);
            };
            row("its file still waits", Since::nothing);
            row("its file was acknowledged", Since::acknowledged);
            row("the file changed", Since::fileChanged);
            row("the user's own file took its name", Since::usersFileTookName);
        }
    }

    // The sender never heard that a file arrived (it quit before the receiver's word came) and offers it again: the
    // receiver says it is done instead of keeping a second copy. Another file under that id is taken, and replaces
    // the copy it left; a file of the user's own is never touched.
    void transferOfferedAgainIsNotTakenTwice()
    {
        const auto [sendingWay, since] = TestTable<Way, Since>::fetch();
        const Way way = sendingWay; // for the lambdas of WAIT_FOR
        LinkFixture link;
        VERIFY_LINK(link, link.pair());
        LinkSide &receiver = link.receiver(way);
        const QString id = u"again"_s;
        const QString name = u"photo.jpg"_s;
        QString path = link.transferFile(way, name, 300'000, id);
        VERIFY_LINK(link, !path.isEmpty());
        QCOMPARE(inboxFiles(receiver), QStringList{name});
        if (since == Since::acknowledged) {
            QVERIFY(acknowledge(link, way, id));
        } else if (since == Since::fileChanged) {
            path = link.writeSourceFile(u"photo-2.jpg"_s, 400'000);
        } else if (since == Since::usersFileTookName) {
            QVERIFY(QFile::remove(receiver.inboxFile(name)));
            QVERIFY(writeFile(receiver.inboxFile(name), QByteArray(300'000, 'u')));
        }

        link.newRound();
        link.sendFile(way, path, name, id);
        WAIT_FOR(link, link.sender(way).roundOutcome(id));
        VERIFY_LINK(link, link.roundTrip());
        VERIFY_ROUND(link, link.sender(way).round(id), TransferDirection::sending, Kind::completed,
                     QFileInfo(path).size());
        const std::optional<TransferEvent> outcome = receiver.roundOutcome(id);
        switch (since) {
        case Since::nothing:
            // Delivered from the copy that waits.
            VERIFY_LINK(link, outcome && outcome->kind == Kind::completed && outcome->fileName == name);
            QCOMPARE(inboxFiles(receiver), QStringList{name});
            break;
        case Since::acknowledged:
            VERIFY_LINK(link, receiver.round(id).isEmpty());
            QCOMPARE(inboxFiles(receiver), QStringList());
            break;
        case Since::fileChanged:
            VERIFY_LINK(link, outcome && outcome->kind == Kind::completed);
            QCOMPARE(inboxFiles(receiver), QStringList{outcome->fileName});
            QCOMPARE(fileSha256(receiver.inboxFile(outcome->fileName)), fileSha256(path));
            break;
        case Since::usersFileTookName:
            VERIFY_LINK(link, outcome && outcome->kind == Kind::completed && outcome->fileName != name);
            QCOMPARE(fileBytes(receiver.inboxFile(name)), QByteArray(300'000, 'u'));
            QCOMPARE(fileSha256(receiver.inboxFile(outcome->fileName)), fileSha256(path));
            break;
        }
        // The id stays known: acknowledging it removes the copy the receiver holds, and nothing else.
        QVERIFY(acknowledge(link, way, id));
        QCOMPARE(inboxFiles(receiver), since == Since::usersFileTookName ? QStringList{name} : QStringList());
    }

    void fileReceivedJustBeforeAStopIsNotTakenTwice_data()
    {
        const TestTable<Way, bool> rows; // the way, and whether the user's own file took the received file's place
        for (const Way way : {Way::phoneToHost, Way::hostToPhone}) {
            rows(qPrintable(wayName(way) + u", its file still waits"_s), way, false);
            rows(qPrintable(wayName(way) + u", the user's own file took its name"_s), way, true);
        }
    }

    // The receiver stopped after the file took its name and before it was recorded: started again and offered the
    // same transfer, it says it is done instead of keeping a second copy. A file of the user's own is never taken
    // for it.
    void fileReceivedJustBeforeAStopIsNotTakenTwice()
    {
        const auto [sendingWay, usersFile] = TestTable<Way, bool>::fetch();
        const Way way = sendingWay; // for the lambdas of WAIT_FOR
        LinkFixture link;
        VERIFY_LINK(link, link.pair());
        LinkSide &receiver = link.receiver(way);
        const QString id = u"stopped"_s;
        const QString name = u"photo.jpg"_s;
        const QString path = link.transferFile(way, name, 300'000, id);
        VERIFY_LINK(link, !path.isEmpty());

        if (way == Way::phoneToHost) {
            link.host.stop();
            QVERIFY(cutJournalAfterPlacing(receiver, id));
            link.host.startAgain();
            // The phone sends as soon as it is back: the host hearing of it first is not enough.
            WAIT_FOR(link, countEvents(link.host.events, Kind::paired) == 1 && link.phone->isConnected() &&
                               countEvents(link.phone.events, Kind::paired) == 2);
        } else {
            const QString material = link.phone->trustedConnectionMaterial().value_or(QString());
            link.phone.stop();
            QVERIFY(cutJournalAfterPlacing(receiver, id));
            link.phone.reconnect(material);
            WAIT_FOR(link, link.host->isConnected() && countEvents(link.phone.events, Kind::paired) == 2);
        }
        if (usersFile) {
            QVERIFY(QFile::remove(receiver.inboxFile(name)));
            QVERIFY(writeFile(receiver.inboxFile(name), QByteArray(300'000, 'u')));
        }

        link.newRound();
        link.sendFile(way, path, name, id);
        WAIT_FOR(link, link.sender(way).roundOutcome(id) && receiver.roundOutcome(id));
        VERIFY_ROUND(link, link.sender(way).round(id), TransferDirection::sending, Kind::completed, 300'000);
        const std::optional<TransferEvent> outcome = receiver.roundOutcome(id);
        VERIFY_LINK(link, outcome && outcome->kind == Kind::completed && (outcome->fileName == name) != usersFile);
        if (usersFile) {
            QCOMPARE(fileBytes(receiver.inboxFile(name)), QByteArray(300'000, 'u'));
            QStringList both{name, outcome->fileName};
            both.sort();
            QCOMPARE(inboxFiles(receiver), both);
        } else {
            QCOMPARE(inboxFiles(receiver), QStringList{name});
        }
        QCOMPARE(fileSha256(receiver.inboxFile(outcome->fileName)), fileSha256(path));
        QVERIFY(acknowledge(link, way, id));
        QCOMPARE(inboxFiles(receiver), usersFile ? QStringList{name} : QStringList());
    }

    void fileLeftInTheInboxByAStoppedPhoneIsDeliveredOnce_data()
    {
        const TestTable<bool> rows; // whether the phone had moved the file before it stopped
        rows("stopped before it moved the file", false);
        rows("stopped after it moved the file, before it acknowledged it", true);
    }

    // The phone program stopped after its core placed a file in the inbox and reported it (the computer counts it
    // as delivered) and before it moved the file into its storage: the next run moves it, once, and leaves nothing in
    // the inbox; a run after that finds nothing more to do.
    void fileLeftInTheInboxByAStoppedPhoneIsDeliveredOnce()
    {
        const auto [movedBeforeStop] = TestTable<bool>::fetch();
        LinkFixture link;
        VERIFY_LINK(link, link.pair());
        const QString path = link.transferFile(Way::hostToPhone, u"photo.jpg"_s, 300'000, u"left"_s);
        VERIFY_LINK(link, !path.isEmpty());
        const QString material = link.phone->trustedConnectionMaterial().value_or(QString());
        link.phone.stop();
        // The same folder, where the phone program keeps it.
        const QString storage = link.phone.root.filePath(u"storage"_s);
        const QString inbox = StorageLayout::inboxPath(storage);
        QVERIFY(QDir().mkpath(StorageLayout::stateFolderPath(storage)));
        QVERIFY(QDir().rename(link.phone.inbox(), inbox));
        if (movedBeforeStop) {
            QVERIFY(QFile::rename(inbox + u"/photo.jpg"_s, storage + u"/photo.jpg"_s));
        }

        for (int run = 0; run < 2; ++run) {
            VERIFY_LINK(link, runPhoneUntilItAnswers(link, storage, material));
            QCOMPARE(QDir(storage).entryList(QDir::Files), QStringList{u"photo.jpg"_s});
            QCOMPARE(fileSha256(storage + u"/photo.jpg"_s), fileSha256(path));
            QCOMPARE(QDir(inbox).entryList(QDir::Files), QStringList());
        }
    }

    void removedInboxIsMadeAgain_data()
    {
        const TestTable<Way, bool> rows; // the way, and whether the folder goes while a file arrives
        for (const Way way : {Way::phoneToHost, Way::hostToPhone}) {
            rows(qPrintable(wayName(way) + u", between files"_s), way, false);
            rows(qPrintable(wayName(way) + u", while a file arrives"_s), way, true);
        }
    }

    // Someone removes the inbox folder while the link runs: the file on its way and the next one land in the folder
    // made again, and stay known to the receiver.
    void removedInboxIsMadeAgain()
    {
        const auto [sendingWay, midway] = TestTable<Way, bool>::fetch();
        const Way way = sendingWay; // for the lambdas of WAIT_FOR
        LinkFixture link;
        LinkSide &receiver = link.receiver(way);
        QStringList ids{u"first"_s};
        QStringList paths;
        if (midway) {
            paths.append(link.startThrottledTransfer(way, u"first.mp4"_s, ids[0]));
            VERIFY_LINK(link, !paths[0].isEmpty());
            QVERIFY(QDir(receiver.inbox()).removeRecursively());
            link.relay->setBytesPerSecond(0);
            WAIT_FOR(link, link.bothEndsReported(way, Kind::completed, ids[0]));
        } else {
            VERIFY_LINK(link, link.pair());
            paths.append(link.transferFile(way, u"first.mp4"_s, 300'000, ids[0]));
            VERIFY_LINK(link, !paths[0].isEmpty());
            QVERIFY(QDir(receiver.inbox()).removeRecursively());
        }
        ids.append(u"second"_s);
        paths.append(link.transferFile(way, u"second.mp4"_s, 300'000, ids[1]));
        VERIFY_LINK(link, !paths[1].isEmpty());

        // Each file arrived whole, also the one under way when the folder went.
        const QStringList names = midway ? QStringList{u"first.mp4"_s, u"second.mp4"_s} : QStringList{u"second.mp4"_s};
        QCOMPARE(inboxFiles(receiver), names);
        for (const QString &name : names) {
            QCOMPARE(fileSha256(receiver.inboxFile(name)), fileSha256(paths[ids.indexOf(name.section(u'.', 0, 0))]));
        }
        QCOMPARE(partialFiles(receiver.inbox()), QStringList());
        QVERIFY(acknowledge(link, way, ids[1]));
        QVERIFY(!QFile::exists(receiver.inboxFile(u"second.mp4"_s)));
    }

    void unusableInboxRefusesFilesUntilItComesBack_data()
    {
        const TestTable<InPlace> rows;
        rows("a dangling link", InPlace::danglingLink);
        rows("a file", InPlace::plainFile);
        rows("a read-only folder", InPlace::readOnlyFolder);
    }

    // The host's inbox cannot be used when it starts: it starts all the same, sends, and refuses each file offered
    // with the reason, until the folder can be used again.
    void unusableInboxRefusesFilesUntilItComesBack()
    {
        const auto [standing] = TestTable<InPlace>::fetch();
        const InPlace inPlace = standing; // for the lambdas
        LinkFixture link;
        const QString inbox = link.host.inbox();
        const QString target = link.host.root.path() + u"/unmounted/Tavrine"_s;
        if (inPlace == InPlace::readOnlyFolder) {
            if (!setReadOnly(inbox, true)) {
                QSKIP("the inbox cannot be made read-only here");
            }
        } else {
            QVERIFY(QDir(inbox).removeRecursively());
            QVERIFY(inPlace == InPlace::danglingLink ? QFile::link(target, inbox) : writeFile(inbox, "not a folder"));
        }
        const auto unmount = qScopeGuard([&] {
            if (inPlace == InPlace::readOnlyFolder && ::geteuid() == 0) {
                ::umount2(QFile::encodeName(inbox).constData(), MNT_DETACH);
            }
        });
        VERIFY_LINK(link, link.pair());

        const QString id = u"refused"_s;
        const QString path = link.writeSourceFile(u"notes.txt"_s, 5000);
        link.sendFile(Way::phoneToHost, path, u"notes.txt"_s, id);
        WAIT_FOR(link, link.bothEndsReported(Way::phoneToHost, Kind::failed, id));
        const TransferEvent refused = *link.host.roundOutcome(id);
        const QString reason = inPlace == InPlace::readOnlyFolder ? u" cannot be written"_s : u" cannot be used"_s;
        QVERIFY2(refused.message.contains(u"the inbox folder "_s + inbox + reason), qPrintable(refused.message));
        VERIFY_LINK(link, !link.transferFile(Way::hostToPhone, u"out.txt"_s, 5000, u"out"_s).isEmpty());

        if (inPlace == InPlace::danglingLink) {
            QVERIFY(QDir().mkpath(target));
        } else if (inPlace == InPlace::plainFile) {
            QVERIFY(QFile::remove(inbox));
        } else {
            QVERIFY(setReadOnly(inbox, false));
        }
        link.newRound();
        link.sendFile(Way::phoneToHost, path, u"notes.txt"_s, id);
        WAIT_FOR(link, link.bothEndsReported(Way::phoneToHost, Kind::completed, id));
        QCOMPARE(fileSha256(link.host.inboxFile(u"notes.txt"_s)), fileSha256(path));
    }
};

QTEST_GUILESS_MAIN(InboxFaultsTest)
#include "test_inbox_faults.moc"

#include "LinkFixture.h"
#include "LinkedCoreFunctions.h"
#include "LoopbackRelay.h"
#include "TavrineCoreError.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

namespace {

using Kind = TransferEventKind;
using namespace std::chrono_literals;

constexpr qint64 largeFileBytes = 200 * mebibyte;

// A file that a test sends, and which way.
struct SentFile
{
    Way way;
    qint64 size;
};

template <typename Call> std::optional<TavrineCoreError::Case> errorOf(Call &&call)
{
    try {
        call();
    } catch (const TavrineCoreError &error) {
        return error.kind();
    }
    return std::nullopt;
}

} // namespace

Q_DECLARE_METATYPE(Way)
Q_DECLARE_METATYPE(SentFile)

class LinkIntegrationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installTavrineCoreFunctions(linkedCoreFunctionsWithRawNames()); }

    // --- Pairing ---------------------------------------------------------------------------------------------------

    void pairingTakesTheTokenAndTheUsersConfirmation()
    {
        LinkFixture link;
        link.host.start();
        const QString url = link.host->pairingPayload();
        const QString code = link.host->confirmationCode();
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(code).hasMatch(), qPrintable(code));
        QCOMPARE(pairingItem(url, QStringLiteral("code")), code);
        QVERIFY(link.host.port() != 0);
        QCOMPARE(pairingItem(url, QStringLiteral("endpoint")), QStringLiteral("127.0.0.1:%1").arg(link.host.port()));
        const auto managementRefused = [&] {
            return errorOf([&] { link.host->requestManagement(QStringLiteral("listFiles"), QStringLiteral("{}")); }) ==
                   TavrineCoreError::Case::NotConnected;
        };
        QVERIFY(!link.host->trustedPeerSecret());
        QVERIFY(managementRefused());

        link.phone.pair(url);
        WAIT_FOR(link, link.bothSidesCount(Kind::awaitingConfirmation, 1));
        const QString phoneId = link.host.events.last().peerId;
        QVERIFY(!phoneId.isEmpty());

        // Until the user confirms, the phone is not trusted: nothing goes to it and no secret exists yet.
        QVERIFY(!link.host->isConnected());
        QVERIFY(!link.host->trustedPeerSecret());
        QVERIFY(!link.phone->trustedConnectionMaterial());
        QVERIFY(managementRefused());
        const QString path = link.writeSourceFile(QStringLiteral("early.txt"), 100);
        QCOMPARE(
            errorOf([&] { link.host->sendFileWithId(path, QStringLiteral("early.txt"), QStringLiteral("early")); }),
            TavrineCoreError::Case::NotConnected);

        link.phone->confirmPairing();
        WAIT_FOR(link, link.bothSidesCount(Kind::paired, 1));
        // Each side names the other in every event, with no direction, and hears of no other step.
        VERIFY_NO_PROBLEM(link, pairingProblem(link.host.events, link.phone.deviceName));
        VERIFY_NO_PROBLEM(link, pairingProblem(link.phone.events, link.host.deviceName));
        QCOMPARE(lastEvent(link.host.events, Kind::paired)->peerId, phoneId);
        QCOMPARE(lastEvent(link.phone.events, Kind::paired)->peerId, pairingItem(url, QStringLiteral("device")));
        QVERIFY2(link.host->trustedPeerSecret().value_or(QString()).size() >= 32,
                 qPrintable(link.host->trustedPeerSecret().value_or(QString())));
        QVERIFY(!link.phone->trustedConnectionMaterial().value_or(QString()).isEmpty());
        QVERIFY(link.host->isConnected());
        QVERIFY(link.phone->isConnected());
    }

    void pairingClosesOnceAPhoneIsTrusted()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString phoneId = lastEvent(link.host.events, Kind::paired)->peerId;

        // The token of a confirmed pairing opens nothing any more.
        PhoneSide &second = link.addPhone(QStringLiteral("Second phone"));
        second.pair(link.host->pairingPayload());
        WAIT_FOR(link, countEvents(second.events, Kind::failed) == 1);
        QCOMPARE(kindNames(second.events), QStringList({"failed"}));
        QCOMPARE(second.events.first().direction, TransferDirection::none);
        // The host weighed the greeting before the phone heard of the refusal: all it reported is in.
        link.pump();
        VERIFY_NO_PROBLEM(link, pairingProblem(link.host.events, link.phone.deviceName));
        QVERIFY(link.host->isConnected());
        QCOMPARE(countEvents(link.phone.events, Kind::disconnected), 0);

        // A host started again for its trusted phone offers no pairing through its new URL either.
        link.host.stop();
        link.host.startAgain();
        PhoneSide &third = link.addPhone(QStringLiteral("Third phone"));
        third.pair(link.host->pairingPayload());
        WAIT_FOR(link,
                 countEvents(third.events, Kind::failed) == 1 && countEvents(link.host.events, Kind::paired) == 1);
        QCOMPARE(kindNames(third.events), QStringList({"failed"}));
        QCOMPARE(countEvents(link.host.events, Kind::awaitingConfirmation), 0);
        QCOMPARE(lastEvent(link.host.events, Kind::paired)->peerId, phoneId);
    }

    void hostComesBackForItsPhoneAfterARestart_data()
    {
        QTest::addColumn<bool>("newPhoneObject");
        QTest::newRow("phone keeps running") << false;
        QTest::newRow("phone restarts from its stored material") << true;
    }

    void hostComesBackForItsPhoneAfterARestart()
    {
        QFETCH(bool, newPhoneObject);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString material = link.phone->trustedConnectionMaterial().value_or(QString());
        QVERIFY(!material.isEmpty());
        const QString phoneId = lastEvent(link.host.events, Kind::paired)->peerId;
        const QString hostId = lastEvent(link.phone.events, Kind::paired)->peerId;

        link.host.stop();
        QVERIFY(!link.host.storedIdentity.isEmpty());
        WAIT_FOR(link, countEvents(link.phone.events, Kind::disconnected) == 1);
        if (newPhoneObject) {
            link.phone.stop();
        }
        link.phone.events.clear();

        // A new host object from what the application stored: no scanning, no confirmation.
        link.host.startAgain();
        if (newPhoneObject) {
            link.phone.reconnect(material);
        }
        WAIT_FOR(link, link.bothSidesCount(Kind::paired, 1));
        QCOMPARE(countEvents(link.host.events, Kind::awaitingConfirmation), 0);
        QCOMPARE(countEvents(link.phone.events, Kind::awaitingConfirmation), 0);
        const TransferEvent hostPaired = *lastEvent(link.host.events, Kind::paired);
        QCOMPARE(hostPaired.peerId, phoneId);
        QCOMPARE(hostPaired.peerName, link.phone.deviceName);
        const TransferEvent phonePaired = *lastEvent(link.phone.events, Kind::paired);
        QCOMPARE(phonePaired.peerId, hostId);
        QCOMPARE(phonePaired.peerName, link.host.deviceName);
        QCOMPARE(link.host->trustedPeerSecret(), std::optional<QString>(link.host.storedSecret));

        // The restored link carries files.
        const QString path =
            link.transferFile(Way::phoneToHost, QStringLiteral("after-restart.bin"), 300'000, QStringLiteral("again"));
        QVERIFY2(!path.isEmpty(), qPrintable(link.describe()));
        QCOMPARE(fileSha256(link.host.inboxFile(QStringLiteral("after-restart.bin"))), fileSha256(path));
    }

    void hostPairedAnewRefusesThePreviousPhone()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString oldPhoneId = lastEvent(link.host.events, Kind::paired)->peerId;

        // The user forgot the phone: the host starts with its key but without the phone's secret.
        link.host.stop();
        link.host.events.clear();
        link.phone.events.clear();
        link.host.start(link.host.storedIdentity);
        WAIT_FOR(link, countEvents(link.phone.events, Kind::failed) >= 1);
        QCOMPARE(countEvents(link.phone.events, Kind::paired), 0);

        PhoneSide &newPhone = link.addPhone(QStringLiteral("New phone"));
        newPhone.pair(link.host->pairingPayload());
        WAIT_FOR(link, countEvents(newPhone.events, Kind::awaitingConfirmation) == 1);
        newPhone->confirmPairing();
        WAIT_FOR(link, countEvents(link.host.events, Kind::paired) == 1);
        QVERIFY(lastEvent(link.host.events, Kind::paired)->peerId != oldPhoneId);
        QCOMPARE(lastEvent(link.host.events, Kind::paired)->peerName, QStringLiteral("New phone"));
        QCOMPARE(countEvents(link.phone.events, Kind::paired), 0);
    }

    // --- Transfers -------------------------------------------------------------------------------------------------

    void receivedFilesHoldTheSentBytes_data()
    {
        QTest::addColumn<QList<SentFile>>("files");
        const qint64 chunk = 256 * 1024;
        for (const Way way : {Way::hostToPhone, Way::phoneToHost}) {
            for (const qint64 size : {qint64(0), qint64(1), chunk - 1, chunk + 1, 5 * mebibyte + 3}) {
                QTest::addRow("%s, %lld bytes", qPrintable(wayName(way)), size) << QList<SentFile>{{way, size}};
            }
        }
        QTest::newRow("both ways at once, a small file overtaking a large one") << QList<SentFile>{
            {Way::hostToPhone, 40 * mebibyte + 5}, {Way::phoneToHost, 40 * mebibyte + 9}, {Way::hostToPhone, 70'000}};
    }

    void receivedFilesHoldTheSentBytes()
    {
        QFETCH(QList<SentFile>, files);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        // Each file's name is its transfer's id.
        const auto name = [](qsizetype index) {
            return QStringLiteral("file-%1.jpg").arg(index);
        };
        QStringList paths;
        for (const SentFile &file : std::as_const(files)) {
            paths.append(link.writeSourceFile(name(paths.size()), file.size));
        }
        for (qsizetype index = 0; index < files.size(); ++index) {
            link.sendFile(files[index].way, paths[index], name(index), name(index));
        }
        const auto allCompleted = [&] {
            for (qsizetype index = 0; index < files.size(); ++index) {
                if (!link.bothEndsReported(files[index].way, Kind::completed, name(index))) {
                    return false;
                }
            }
            return true;
        };
        WAIT_FOR(link, allCompleted());
        link.pump();
        for (qsizetype index = 0; index < files.size(); ++index) {
            LinkSide &receiver = link.receiver(files[index].way);
            VERIFY_TRANSFER(link, files[index].way, name(index), Kind::completed, files[index].size);
            QCOMPARE(lastEvent(receiver.events, Kind::completed, name(index))->fileName, name(index));
            QCOMPARE(QFileInfo(receiver.inboxFile(name(index))).size(), files[index].size);
            QCOMPARE(fileSha256(receiver.inboxFile(name(index))), fileSha256(paths[index]));
            QCOMPARE(partialFiles(receiver.inbox()), QStringList());
        }
    }

    void receivedFilesNeverReplaceAnother()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString existing = link.host.inboxFile(QStringLiteral("report.txt"));
        QVERIFY(writeFile(existing, "the user's own report"));
        const QString first = link.writeSourceFile(QStringLiteral("first"), 700'000);
        const QString second = link.writeSourceFile(QStringLiteral("second"), 500'000);

        // Both at once: two transfers of one name finish side by side.
        link.phone.sendFile(first, QStringLiteral("report.txt"), QStringLiteral("report-1"));
        link.phone.sendFile(second, QStringLiteral("report.txt"), QStringLiteral("report-2"));
        WAIT_FOR(link, lastEvent(link.host.events, Kind::completed, QStringLiteral("report-1")) &&
                           lastEvent(link.host.events, Kind::completed, QStringLiteral("report-2")));
        const QString firstName = lastEvent(link.host.events, Kind::completed, QStringLiteral("report-1"))->fileName;
        const QString secondName = lastEvent(link.host.events, Kind::completed, QStringLiteral("report-2"))->fileName;
        QCOMPARE(QSet<QString>({firstName, secondName}),
                 QSet<QString>({QStringLiteral("report (1).txt"), QStringLiteral("report (2).txt")}));
        QCOMPARE(fileBytes(existing), QByteArray("the user's own report"));
        QCOMPARE(fileSha256(link.host.inboxFile(firstName)), fileSha256(first));
        QCOMPARE(fileSha256(link.host.inboxFile(secondName)), fileSha256(second));
    }

    void receivedFilesStayInTheInboxWhateverTheirName_data()
    {
        QTest::addColumn<Way>("way");
        QTest::addColumn<QString>("sentName");
        QTest::addColumn<QString>("expectedName"); // empty: any name the inbox can hold
        QTest::addColumn<bool>("receivedBefore");
        const QString replacement(QChar::ReplacementCharacter);
        for (const Way way : {Way::phoneToHost, Way::hostToPhone}) {
            const auto row = [&](const char *name) {
                return &(QTest::addRow("%s, %s", qPrintable(wayName(way)), name) << way);
            };
            *row("path out of the inbox") << QStringLiteral("../../escape.txt") << QStringLiteral("escape.txt") << false;
            *row("name of the received-files record, first file") << QStringLiteral(".tavrine-received") << QString()
                                                                  << false;
            *row("name of the received-files record, later file") << QStringLiteral(".tavrine-received") << QString()
                                                                  << true;
            *row("non-ASCII name") << QStringLiteral("Фото 2024 — 照片 🎉.jpg") << QStringLiteral("Фото 2024 — 照片 🎉.jpg")
                                   << false;
            *row("name longer than the file system takes") << QString(150, QChar(0x00e9)) + QStringLiteral(".jpg")
                                                           << QString() << false;
            // Names that are not UTF-8 arrive repaired, and the name reported is the one on disk.
            *row("a byte that never starts a character") << rawFileName("\xff.txt") << replacement + ".txt" << false;
            *row("a character cut short") << rawFileName("ok\xc3.txt") << "ok" + replacement + ".txt" << false;
            *row("Latin-1 text") << rawFileName("\xe9t\xe9.txt") << replacement + "t" + replacement + ".txt"
                                 << false;
            *row("300 stray continuation bytes") << rawFileName(QByteArray(300, '\x80')) << replacement.repeated(85)
                                                 << false;
            *row("only dots") << QStringLiteral("....") << QStringLiteral("file") << false;
        }
    }

    void receivedFilesStayInTheInboxWhateverTheirName()
    {
        QFETCH(Way, way);
        QFETCH(QString, sentName);
        QFETCH(QString, expectedName);
        QFETCH(bool, receivedBefore);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        LinkSide &receiver = link.receiver(way);
        if (receivedBefore) {
            QVERIFY2(!link.transferFile(way, QStringLiteral("earlier.txt"), 1000, QStringLiteral("earlier")).isEmpty(),
                     qPrintable(link.describe()));
        }
        const QString path = link.writeSourceFile(QStringLiteral("odd"), 40'000);
        link.sendFile(way, path, sentName, QStringLiteral("odd"));
        WAIT_FOR(link, link.bothEndsReported(way, Kind::completed, QStringLiteral("odd")));

        const QString placed = lastEvent(receiver.events, Kind::completed, QStringLiteral("odd"))->fileName;
        QVERIFY2(!placed.isEmpty() && !placed.contains(QLatin1Char('/')) && placed != QStringLiteral("..") &&
                     placed.toUtf8().size() <= 255,
                 qPrintable(placed));
        if (!expectedName.isEmpty()) {
            QCOMPARE(placed, expectedName);
        }
        QCOMPARE(fileSha256(receiver.inboxFile(placed)), fileSha256(path));
        QVERIFY(!QFile::exists(receiver.root.path() + QStringLiteral("/escape.txt")));

        // The received files stay known: each acknowledgement removes its own file.
        const auto acknowledge = [&](const QString &transferId) {
            return way == Way::phoneToHost ? link.host->acknowledgeReceivedTransfer(transferId)
                                           : link.phone->acknowledgeReceivedTransfer(transferId);
        };
        QVERIFY(acknowledge(QStringLiteral("odd")));
        QVERIFY(!QFile::exists(receiver.inboxFile(placed)));
        if (receivedBefore) {
            QVERIFY(acknowledge(QStringLiteral("earlier")));
            QVERIFY(!QFile::exists(receiver.inboxFile(QStringLiteral("earlier.txt"))));
        }
    }

    void receivedFilesNeverGoThroughALinkPlantedInTheInbox_data()
    {
        QTest::addColumn<Way>("way");
        QTest::addColumn<bool>("symbolic");
        for (const Way way : {Way::phoneToHost, Way::hostToPhone}) {
            QTest::addRow("%s, symbolic link", qPrintable(wayName(way))) << way << true;
            QTest::addRow("%s, hard link", qPrintable(wayName(way))) << way << false;
        }
    }

    void receivedFilesNeverGoThroughALinkPlantedInTheInbox()
    {
        QFETCH(Way, way);
        QFETCH(bool, symbolic);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        LinkSide &receiver = link.receiver(way);
        // Someone who can write to the inbox guesses the partial file's name of the next transfer.
        const QString victim = receiver.root.path() + QStringLiteral("/outside.txt");
        QVERIFY(writeFile(victim, "the user's own notes"));
        const QString id = QStringLiteral("planted");
        const QString partialName = QStringLiteral(".tavrine-incoming-%1.part")
                                        .arg(QString::fromLatin1(
                                            QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256)
                                                .left(16)
                                                .toHex()));
        const QByteArray planted = QFile::encodeName(receiver.inboxFile(partialName));
        QCOMPARE(symbolic ? ::symlink(QFile::encodeName(victim).constData(), planted.constData())
                          : ::link(QFile::encodeName(victim).constData(), planted.constData()),
                 0);

        const QString path = link.transferFile(way, QStringLiteral("report.pdf"), 3 * mebibyte, id);
        QVERIFY2(!path.isEmpty(), qPrintable(link.describe()));
        QCOMPARE(fileBytes(victim), QByteArray("the user's own notes"));
        const QFileInfo placed(receiver.inboxFile(QStringLiteral("report.pdf")));
        QVERIFY(placed.isFile() && !placed.isSymLink());
        QCOMPARE(fileSha256(placed.filePath()), fileSha256(path));
        QVERIFY(partialFiles(receiver.inbox()).isEmpty());
    }

    void filesSentOneAfterAnotherEachArrivePromptly()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString path = link.writeSourceFile(QStringLiteral("megabyte.bin"), mebibyte);
        qint64 slowest = 0;
        for (int index = 0; index < 200; ++index) {
            const QString id = QStringLiteral("in-a-row-%1").arg(index);
            QElapsedTimer clock;
            clock.start();
            link.sendFile(Way::hostToPhone, path, QStringLiteral("megabyte.bin"), id);
            WAIT_FOR(link, lastEvent(link.phone.events, Kind::completed, id));
            slowest = std::max(slowest, clock.elapsed());
            QVERIFY(link.phone->acknowledgeReceivedTransfer(id));
        }
        // Milliseconds each (here, with the sanitizers and this loop's polling, tens); records read ahead but left
        // unread used to wait for the poll's 1 s timeout.
        QVERIFY2(slowest < 500, qPrintable(QStringLiteral("the slowest took %1 ms").arg(slowest)));
    }

    void unreadableFilesAreRefusedAtOnce()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString folder = link.sourceFolder();
        QCOMPARE(errorOf([&] {
                     link.host->sendFileWithId(folder + QStringLiteral("/missing.txt"), QStringLiteral("missing.txt"),
                                               QStringLiteral("missing"));
                 }),
                 TavrineCoreError::Case::FileAccess);
        QCOMPARE(
            errorOf([&] { link.host->sendFileWithId(folder, QStringLiteral("folder"), QStringLiteral("folder")); }),
            TavrineCoreError::Case::FileAccess);
        QCOMPARE(errorOf([&] {
                     link.phone->sendFileDescriptorWithId(-1, QStringLiteral("closed.txt"), 10,
                                                          QStringLiteral("closed"));
                 }),
                 TavrineCoreError::Case::FileAccess);

        // Nothing was queued for them, and the link goes on working.
        QVERIFY2(
            !link.transferFile(Way::hostToPhone, QStringLiteral("fine.txt"), 1000, QStringLiteral("fine")).isEmpty(),
            qPrintable(link.describe()));
        link.pump();
        for (const QString &id : {QStringLiteral("missing"), QStringLiteral("folder"), QStringLiteral("closed")}) {
            QCOMPARE(eventsOf(link.host.events, id).size() + eventsOf(link.phone.events, id).size(), 0);
        }
    }

    void pausedTransferResumesFromWhatTheReceiverHolds_data()
    {
        QTest::addColumn<Way>("way");
        QTest::addColumn<bool>("bySender");
        QTest::addColumn<bool>("hostRestarts");
        for (const Way way : {Way::hostToPhone, Way::phoneToHost}) {
            QTest::addRow("%s, paused by the sender", qPrintable(wayName(way))) << way << true << false;
            QTest::addRow("%s, paused by the receiver", qPrintable(wayName(way))) << way << false << false;
        }
        QTest::newRow("phone to host, paused by the sender, host restarted while paused")
            << Way::phoneToHost << true << true;
    }

    void pausedTransferResumesFromWhatTheReceiverHolds()
    {
        QFETCH(Way, way);
        QFETCH(bool, bySender);
        QFETCH(bool, hostRestarts);
        LinkFixture link;
        const QString id = QStringLiteral("resumable");
        const QString path = link.startThrottledTransfer(way, QStringLiteral("movie.mp4"), id);
        QVERIFY2(!path.isEmpty(), qPrintable(link.describe()));
        QVERIFY(link.pauseTransfer(way, bySender, id));
        WAIT_FOR(link, link.bothEndsReported(way, Kind::paused, id));
        const double seconds = double(link.sinceLastSend.elapsed()) / 1000;
        link.pump();
        VERIFY_TRANSFER(link, way, id, Kind::paused, throttledFileBytes);
        // Progress comes at most ten times a second for each transfer.
        for (const LinkSide *side : {&link.sender(way), &link.receiver(way)}) {
            const int progress =
                countEvents(side->events, Kind::sending, id) + countEvents(side->events, Kind::receiving, id);
            QVERIFY2(progress <= int(seconds * 10) + 3,
                     qPrintable(QStringLiteral("%1 progress events in %2 s").arg(progress).arg(seconds)));
        }

        // The receiver keeps what arrived, hidden, and nothing under the file's name yet.
        QVERIFY2(link.roundTrip(), qPrintable(link.describe()));
        const QStringList partial = partialFiles(link.receiver(way).inbox());
        QCOMPARE(partial.size(), 1);
        const QString partialPath = link.receiver(way).inboxFile(partial.first());
        const auto held = uint64_t(QFileInfo(partialPath).size());
        QVERIFY2(held > 0 && held < uint64_t(throttledFileBytes), qPrintable(QString::number(held)));
        QVERIFY(fileBytes(partialPath) == fileBytes(path, qint64(held)));
        QVERIFY(lastEvent(link.receiver(way).events, Kind::paused, id)->transferredBytes <= held);
        QVERIFY(!QFile::exists(link.receiver(way).inboxFile(QStringLiteral("movie.mp4"))));

        if (hostRestarts) {
            // What the receiving host holds outlives the host object.
            link.host.stop();
            WAIT_FOR(link, countEvents(link.phone.events, Kind::disconnected) == 1);
            link.host.startAgain();
            WAIT_FOR(link, countEvents(link.host.events, Kind::paired) == 1 &&
                               countEvents(link.phone.events, Kind::paired) == 2);
        }

        // Sending again under the same id carries on from there.
        VERIFY_NO_PROBLEM(link, link.resumeProblem(way, path, QStringLiteral("movie.mp4"), id, held));
    }

    void cancelledTransferLeavesNothingBehind_data()
    {
        QTest::addColumn<Way>("way");
        QTest::addColumn<bool>("bySender");
        QTest::addColumn<bool>("afterPause");
        for (const Way way : {Way::hostToPhone, Way::phoneToHost}) {
            for (const bool afterPause : {false, true}) {
                const char *when = afterPause ? "after a pause" : "while running";
                QTest::addRow("%s, cancelled by the sender %s", qPrintable(wayName(way)), when)
                    << way << true << afterPause;
                QTest::addRow("%s, cancelled by the receiver %s", qPrintable(wayName(way)), when)
                    << way << false << afterPause;
            }
        }
    }

    void cancelledTransferLeavesNothingBehind()
    {
        QFETCH(Way, way);
        QFETCH(bool, bySender);
        QFETCH(bool, afterPause);
        LinkFixture link;
        const QString id = QStringLiteral("cancelled");
        const QString path = link.startThrottledTransfer(way, QStringLiteral("movie.mp4"), id);
        QVERIFY2(!path.isEmpty(), qPrintable(link.describe()));
        const QString inbox = link.receiver(way).inbox();
        if (afterPause) {
            QVERIFY(link.pauseTransfer(way, bySender, id));
            WAIT_FOR(link, link.bothEndsReported(way, Kind::paused, id));
            QCOMPARE(partialFiles(inbox).size(), 1);
        }
        QVERIFY(link.cancelTransfer(way, bySender, id));
        if (!afterPause) {
            WAIT_FOR(link, link.bothEndsReported(way, Kind::cancelled, id));
            link.pump();
            VERIFY_TRANSFER(link, way, id, Kind::cancelled, throttledFileBytes);
        }
        WAIT_FOR(link, partialFiles(inbox).isEmpty());
        QVERIFY(!QFile::exists(link.receiver(way).inboxFile(QStringLiteral("movie.mp4"))));

        // The id is free again, and a new send starts from the first byte. When the receiver cancelled a
        // paused transfer, its cancel may still be on the way while the file goes again: it must not stop it.
        link.relay->setBytesPerSecond(0);
        link.newRound();
        link.sendFile(way, path, QStringLiteral("movie.mp4"), id);
        WAIT_FOR(link, link.bothEndsReported(way, Kind::completed, id));
        const QList<TransferEvent> received = link.receiver(way).round(id);
        QCOMPARE(received.first().kind, Kind::receiving);
        QCOMPARE(received.first().transferredBytes, uint64_t(0));
        QCOMPARE(fileSha256(link.receiver(way).inboxFile(QStringLiteral("movie.mp4"))), fileSha256(path));
    }

    void damagedPartialFileNeverCompletesAsTheFile()
    {
        LinkFixture link;
        const QString id = QStringLiteral("damaged");
        const QString path = link.startThrottledTransfer(Way::phoneToHost, QStringLiteral("scan.pdf"), id);
        QVERIFY2(!path.isEmpty(), qPrintable(link.describe()));
        QVERIFY(link.phone->pauseTransfer(id));
        WAIT_FOR(link, link.bothEndsReported(Way::phoneToHost, Kind::paused, id));

        // A byte of the kept part changes on disk while the transfer waits.
        const QStringList partial = partialFiles(link.host.inbox());
        QCOMPARE(partial.size(), 1);
        {
            QFile file(link.host.inboxFile(partial.first()));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(file.size() / 2));
            char byte = 0;
            QVERIFY(file.getChar(&byte));
            QVERIFY(file.seek(file.size() / 2));
            QVERIFY(file.putChar(char(~byte)));
        }

        link.relay->setBytesPerSecond(0);
        link.newRound();
        link.phone.sendFile(path, QStringLiteral("scan.pdf"), id);
        WAIT_FOR(link, link.host.roundOutcome(id) && link.phone.roundOutcome(id));
        const TransferEvent outcome = *link.host.roundOutcome(id);
        if (outcome.kind == Kind::completed) {
            // Starting over from the first byte is as good as refusing.
            qInfo("the receiver started over instead of refusing the damaged part");
            QCOMPARE(fileSha256(link.host.inboxFile(outcome.fileName)), fileSha256(path));
            return;
        }
        QCOMPARE(PhoneOutput::eventKindName(outcome.kind), QStringLiteral("failed"));
        QCOMPARE(PhoneOutput::eventKindName(link.phone.round(id).last().kind), QStringLiteral("failed"));
        QVERIFY(!QFile::exists(link.host.inboxFile(QStringLiteral("scan.pdf"))));

        // Sent once more, the file arrives whole.
        link.newRound();
        link.phone.sendFile(path, QStringLiteral("scan.pdf"), id);
        WAIT_FOR(link, lastEvent(link.host.round(id), Kind::completed, id));
        QCOMPARE(fileSha256(link.host.inboxFile(QStringLiteral("scan.pdf"))), fileSha256(path));
        QCOMPARE(partialFiles(link.host.inbox()), QStringList());
    }

    void fileThatShrinksWhileSentNeverCompletes()
    {
        LinkFixture link;
        const QString id = QStringLiteral("shrinking");
        const QString path = link.startThrottledTransfer(Way::hostToPhone, QStringLiteral("log.txt"), id);
        QVERIFY2(!path.isEmpty(), qPrintable(link.describe()));
        QVERIFY(QFile::resize(path, 0));
        link.relay->setBytesPerSecond(0);

        WAIT_FOR(link, lastEvent(link.host.events, Kind::failed, id) && link.phone.roundOutcome(id));
        link.pump();
        VERIFY_ROUND(link, link.host.round(id), TransferDirection::sending, Kind::failed, throttledFileBytes);
        QVERIFY(link.phone.round(id).last().kind != Kind::completed);
        QVERIFY(!QFile::exists(link.phone.inboxFile(QStringLiteral("log.txt"))));
        WAIT_FOR(link, partialFiles(link.phone.inbox()).isEmpty());
    }

    void acknowledgedFilesLeaveTheInboxAlsoAfterARestart()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        link.phone.sendFile(link.writeSourceFile(QStringLiteral("a.txt"), 2000), QStringLiteral("a.txt"),
                            QStringLiteral("ack-a"));
        link.phone.sendFile(link.writeSourceFile(QStringLiteral("b.txt"), 3000), QStringLiteral("b.txt"),
                            QStringLiteral("ack-b"));
        WAIT_FOR(link, lastEvent(link.host.events, Kind::completed, QStringLiteral("ack-a")) &&
                           lastEvent(link.host.events, Kind::completed, QStringLiteral("ack-b")));
        const QString firstCopy = link.host.inboxFile(QStringLiteral("a.txt"));
        const QString secondCopy = link.host.inboxFile(QStringLiteral("b.txt"));
        QVERIFY(QFile::exists(firstCopy));

        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-a")));
        QVERIFY(!QFile::exists(firstCopy));
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-a")));
        QVERIFY(!link.host->acknowledgeReceivedTransfer(QStringLiteral("never-sent")));
        QVERIFY(QFile::exists(secondCopy));

        // A new host object on the same inbox still knows both.
        link.host.stop();
        link.host.startAgain();
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-a")));
        QVERIFY(QFile::exists(secondCopy));
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-b")));
        QVERIFY(!QFile::exists(secondCopy));
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-b")));
        QVERIFY(!link.host->acknowledgeReceivedTransfer(QStringLiteral("never-sent")));

        // The phone side keeps the same record of what it received.
        WAIT_FOR(link, link.host->isConnected());
        QVERIFY2(!link.transferFile(Way::hostToPhone, QStringLiteral("c.txt"), 4000, QStringLiteral("ack-c")).isEmpty(),
                 qPrintable(link.describe()));
        QVERIFY(QFile::exists(link.phone.inboxFile(QStringLiteral("c.txt"))));
        QVERIFY(link.phone->acknowledgeReceivedTransfer(QStringLiteral("ack-c")));
        QVERIFY(!QFile::exists(link.phone.inboxFile(QStringLiteral("c.txt"))));
        QVERIFY(!link.phone->acknowledgeReceivedTransfer(QStringLiteral("never-sent")));
    }

    // --- Management ------------------------------------------------------------------------------------------------

    void managementAnswersComeBackToTheHost_data()
    {
        QTest::addColumn<bool>("besideAFile");
        QTest::addColumn<Way>("way");
        QTest::newRow("quiet link") << false << Way::hostToPhone;
        for (const Way way : {Way::hostToPhone, Way::phoneToHost}) {
            QTest::addRow("beside a large file %s", qPrintable(wayName(way))) << true << way;
        }
    }

    void managementAnswersComeBackToTheHost()
    {
        QFETCH(bool, besideAFile);
        QFETCH(Way, way);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString id = QStringLiteral("large");
        const QString path =
            besideAFile ? link.writeSourceFile(QStringLiteral("backup.tar"), largeFileBytes) : QString();
        if (besideAFile) {
            QVERIFY(!path.isEmpty());
            link.sendFile(way, path, QStringLiteral("backup.tar"), id);
            WAIT_FOR(link, mostBytesReported(link.sender(way).events, id) > 0);
        }

        QElapsedTimer clock;
        clock.start();
        const QString listingPayload = QStringLiteral(R"({"path":"/DCIM/Camera","名前":"写真"})");
        const QString deletionPayload = QStringLiteral(R"({"paths":["/DCIM/IMG_0001.jpg"]})");
        const QString listing = link.host->requestManagement(QStringLiteral("listFiles"), listingPayload);
        const QString deletion = link.host->requestManagement(QStringLiteral("deleteFiles"), deletionPayload);
        QVERIFY(!listing.isEmpty() && !deletion.isEmpty() && listing != deletion);
        WAIT_FOR(link, link.phone.requests.size() == 2);
        QCOMPARE(link.phone.requests,
                 (QList<ManagementRequest>{{listing, QStringLiteral("listFiles"), listingPayload},
                                           {deletion, QStringLiteral("deleteFiles"), deletionPayload}}));
        const QString files = QStringLiteral(R"({"files":[{"name":"IMG_0001.jpg","size":1024}]})");
        const QString refusal = QStringLiteral("Permission denied");
        QVERIFY(link.phone->respondManagement(listing, true, files, QString()));
        QVERIFY(link.phone->respondManagement(deletion, false, QStringLiteral("{}"), refusal));
        WAIT_FOR(link, link.host.responses.size() == 2);
        const qint64 answeredAfter = clock.elapsed();
        link.pump();
        QVERIFY2(!lastEvent(link.sender(way).events, Kind::completed, id) &&
                     !lastEvent(link.receiver(way).events, Kind::completed, id),
                 "the answers came only after the whole file");
        const uint64_t receivedWhenAnswered = mostBytesReported(link.receiver(way).events, id);
        QCOMPARE(link.host.responses,
                 (QList<ManagementResponse>{
                     {listing, QStringLiteral("listFiles"), true, files, QString()},
                     {deletion, QStringLiteral("deleteFiles"), false, QStringLiteral("{}"), refusal}}));
        // One answer per request.
        QVERIFY(!link.phone->respondManagement(listing, true, files, QString()));
        QVERIFY(!link.phone->respondManagement(deletion, false, QStringLiteral("{}"), refusal));
        QVERIFY(!link.phone->respondManagement(QStringLiteral("not-a-request"), true, QStringLiteral("{}"), {}));

        if (besideAFile) {
            WAIT_FOR(link, link.bothEndsReported(way, Kind::completed, id), 120s);
            qInfo("answers after %lld ms, with %llu of %lld bytes received; file after %lld ms", answeredAfter,
                  static_cast<unsigned long long>(receivedWhenAnswered), largeFileBytes, clock.elapsed());
            VERIFY_ROUND(link, link.sender(way).round(id), TransferDirection::sending, Kind::completed, largeFileBytes);
            QCOMPARE(fileSha256(link.receiver(way).inboxFile(QStringLiteral("backup.tar"))), fileSha256(path));
        }
    }
};

QTEST_GUILESS_MAIN(LinkIntegrationTest)
#include "test_link_integration.moc"

#include "LinkFixture.h"
#include "LinkedCoreFunctions.h"
#include "LoopbackRelay.h"
#include "TavrineCoreError.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

using Kind = TransferEventKind;

constexpr qint64 mebibyte = 1024 * 1024;
// Slow enough that a pause or a cancel lands in the middle of a file, fast enough to keep the tests short.
constexpr uint64_t throttledBytesPerSecond = 4 * mebibyte;
constexpr qint64 throttledFileBytes = 24 * mebibyte;

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

class LinkIntegrationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installTavrineCoreFunctions(linkedCoreFunctions()); }

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
        QVERIFY(!link.host->trustedPeerSecret());
        QCOMPARE(errorOf([&] { link.host->requestManagement(QStringLiteral("listFiles"), QStringLiteral("{}")); }),
                 TavrineCoreError::Case::NotConnected);

        link.phone.pair(url);
        WAIT_FOR(link, countEvents(link.host.events, Kind::awaitingConfirmation) == 1 &&
                           countEvents(link.phone.events, Kind::awaitingConfirmation) == 1);
        QCOMPARE(kindNames(link.host.events), QStringList({"connecting", "awaitingConfirmation"}));
        QCOMPARE(kindNames(link.phone.events), QStringList({"connecting", "awaitingConfirmation"}));
        for (const TransferEvent &event : std::as_const(link.host.events)) {
            QCOMPARE(event.peerName, QStringLiteral("Test phone"));
            QCOMPARE(event.direction, TransferDirection::none);
        }
        for (const TransferEvent &event : std::as_const(link.phone.events)) {
            QCOMPARE(event.peerName, QStringLiteral("Test computer"));
        }
        const QString phoneId = link.host.events.last().peerId;
        QVERIFY(!phoneId.isEmpty());

        // Until the user confirms, the phone is not trusted: nothing goes to it and no secret exists yet.
        QVERIFY(!link.host->isConnected());
        QVERIFY(!link.host->trustedPeerSecret());
        QVERIFY(!link.phone->trustedConnectionMaterial());
        QCOMPARE(errorOf([&] { link.host->requestManagement(QStringLiteral("listFiles"), QStringLiteral("{}")); }),
                 TavrineCoreError::Case::NotConnected);
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("early.txt"), 100, 1);
        QCOMPARE(
            errorOf([&] { link.host->sendFileWithId(path, QStringLiteral("early.txt"), QStringLiteral("early")); }),
            TavrineCoreError::Case::NotConnected);

        link.phone->confirmPairing();
        WAIT_FOR(link,
                 countEvents(link.host.events, Kind::paired) == 1 && countEvents(link.phone.events, Kind::paired) == 1);
        const TransferEvent hostPaired = *lastEvent(link.host.events, Kind::paired);
        QCOMPARE(hostPaired.peerName, QStringLiteral("Test phone"));
        QCOMPARE(hostPaired.peerId, phoneId);
        const TransferEvent phonePaired = *lastEvent(link.phone.events, Kind::paired);
        QCOMPARE(phonePaired.peerName, QStringLiteral("Test computer"));
        QCOMPARE(phonePaired.peerId, pairingItem(url, QStringLiteral("device")));
        QVERIFY2(link.host->trustedPeerSecret().value_or(QString()).size() >= 32,
                 qPrintable(link.host->trustedPeerSecret().value_or(QString())));
        QVERIFY(!link.phone->trustedConnectionMaterial().value_or(QString()).isEmpty());
        QVERIFY(link.host->isConnected());
        QVERIFY(link.phone->isConnected());
        QCOMPARE(kindNames(link.host.events), QStringList({"connecting", "awaitingConfirmation", "paired"}));
        QCOMPARE(kindNames(link.phone.events), QStringList({"connecting", "awaitingConfirmation", "paired"}));
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
        QCOMPARE(kindNames(link.host.events), QStringList({"connecting", "awaitingConfirmation", "paired"}));
        QVERIFY(link.host->isConnected());
        QCOMPARE(countEvents(link.phone.events, Kind::disconnected), 0);

        // A host started again for its trusted phone offers no pairing through its new URL either.
        const QString identity = link.host->identityMaterial();
        const QString secret = link.host->trustedPeerSecret().value_or(QString());
        link.host.stop();
        link.host.events.clear();
        link.host.start(identity, secret);
        PhoneSide &third = link.addPhone(QStringLiteral("Third phone"));
        third.pair(link.host->pairingPayload());
        WAIT_FOR(link,
                 countEvents(third.events, Kind::failed) == 1 && countEvents(link.host.events, Kind::paired) == 1);
        QCOMPARE(countEvents(third.events, Kind::awaitingConfirmation), 0);
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
        const QString identity = link.host->identityMaterial();
        const QString secret = link.host->trustedPeerSecret().value_or(QString());
        const QString material = link.phone->trustedConnectionMaterial().value_or(QString());
        QVERIFY(!identity.isEmpty());
        QVERIFY(!material.isEmpty());
        const quint16 port = link.host.port();
        const QString phoneId = lastEvent(link.host.events, Kind::paired)->peerId;
        const QString hostId = lastEvent(link.phone.events, Kind::paired)->peerId;

        link.host.stop();
        WAIT_FOR(link, countEvents(link.phone.events, Kind::disconnected) == 1);
        if (newPhoneObject) {
            link.phone.stop();
        }
        link.host.events.clear();
        link.phone.events.clear();

        // A new host object from what the application stored: no scanning, no confirmation.
        link.host.start(identity, secret);
        if (link.host.port() != port) {
            QSKIP("another program took the host's port while it was stopped");
        }
        if (newPhoneObject) {
            link.phone.reconnect(material);
        }
        WAIT_FOR(link,
                 countEvents(link.host.events, Kind::paired) == 1 && countEvents(link.phone.events, Kind::paired) == 1);
        QCOMPARE(countEvents(link.host.events, Kind::awaitingConfirmation), 0);
        QCOMPARE(countEvents(link.phone.events, Kind::awaitingConfirmation), 0);
        const TransferEvent hostPaired = *lastEvent(link.host.events, Kind::paired);
        QCOMPARE(hostPaired.peerId, phoneId);
        QCOMPARE(hostPaired.peerName, QStringLiteral("Test phone"));
        const TransferEvent phonePaired = *lastEvent(link.phone.events, Kind::paired);
        QCOMPARE(phonePaired.peerId, hostId);
        QCOMPARE(phonePaired.peerName, QStringLiteral("Test computer"));
        QCOMPARE(link.host->trustedPeerSecret(), std::optional<QString>(secret));

        // The restored link carries files.
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("after-restart.bin"), 300'000, 7);
        link.phone.sendFile(path, QStringLiteral("after-restart.bin"), QStringLiteral("after-restart"));
        WAIT_FOR(link, lastEvent(link.host.events, Kind::completed, QStringLiteral("after-restart")));
        QCOMPARE(fileSha256(link.host.inbox() + QStringLiteral("/after-restart.bin")), fileSha256(path));
    }

    void hostPairedAnewRefusesThePreviousPhone()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString identity = link.host->identityMaterial();
        const QString oldPhoneId = lastEvent(link.host.events, Kind::paired)->peerId;

        // The user forgot the phone: the host starts with its key but without the phone's secret.
        link.host.stop();
        link.host.events.clear();
        link.phone.events.clear();
        link.host.start(identity, QString());
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
        QTest::addColumn<Way>("way");
        QTest::addColumn<qint64>("size");
        const qint64 chunk = 256 * 1024;
        for (const Way way : {Way::hostToPhone, Way::phoneToHost}) {
            for (const qint64 size : {qint64(0), qint64(1), chunk - 1, chunk + 1, 5 * mebibyte + 3}) {
                QTest::addRow("%s, %lld bytes", qPrintable(wayName(way)), size) << way << size;
            }
        }
    }

    void receivedFilesHoldTheSentBytes()
    {
        QFETCH(Way, way);
        QFETCH(qint64, size);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("photo.jpg"), size, quint64(size) + 11);
        const QString id = QStringLiteral("transfer-%1").arg(size);

        link.sendFile(way, path, QStringLiteral("photo.jpg"), id);
        WAIT_FOR(link, lastEvent(link.senderEvents(way), Kind::completed, id) &&
                           lastEvent(link.receiverEvents(way), Kind::completed, id));
        link.pump();
        VERIFY_ROUND(link, eventsOf(link.senderEvents(way), id), TransferDirection::sending, Kind::completed,
                     uint64_t(size));
        VERIFY_ROUND(link, eventsOf(link.receiverEvents(way), id), TransferDirection::receiving, Kind::completed,
                     uint64_t(size));
        const TransferEvent received = *lastEvent(link.receiverEvents(way), Kind::completed, id);
        QCOMPARE(received.fileName, QStringLiteral("photo.jpg"));
        const QString receivedPath = link.receiverInbox(way) + QLatin1Char('/') + received.fileName;
        QCOMPARE(QFileInfo(receivedPath).size(), size);
        QCOMPARE(fileSha256(receivedPath), fileSha256(path));
        QCOMPARE(partialFiles(link.receiverInbox(way)), QStringList());
    }

    void receivedFilesNeverReplaceAnother()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        const QString existing = link.host.inbox() + QStringLiteral("/report.txt");
        {
            QFile file(existing);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("the user's own report");
        }
        QTemporaryDir source;
        const QString first = writeTestFile(source.path(), QStringLiteral("first"), 700'000, 21);
        const QString second = writeTestFile(source.path(), QStringLiteral("second"), 500'000, 22);

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
        QCOMPARE(fileSha256(link.host.inbox() + QLatin1Char('/') + firstName), fileSha256(first));
        QCOMPARE(fileSha256(link.host.inbox() + QLatin1Char('/') + secondName), fileSha256(second));
    }

    void receivedFilesStayInTheInboxWhateverTheirName_data()
    {
        QTest::addColumn<QString>("sentName");
        QTest::addColumn<QString>("expectedName"); // empty: any name the inbox can hold
        QTest::addColumn<bool>("receivedBefore");
        QTest::newRow("path out of the inbox")
            << QStringLiteral("../../escape.txt") << QStringLiteral("escape.txt") << false;
        QTest::newRow("name of the received-files record, first file")
            << QStringLiteral(".tavrine-received") << QString() << false;
        QTest::newRow("name of the received-files record, later file")
            << QStringLiteral(".tavrine-received") << QString() << true;
        QTest::newRow("non-ASCII name") << QStringLiteral("Фото 2024 — 照片 🎉.jpg")
                                        << QStringLiteral("Фото 2024 — 照片 🎉.jpg") << false;
        QTest::newRow("name longer than the file system takes")
            << QString(150, QChar(0x00e9)) + QStringLiteral(".jpg") << QString() << false;
    }

    void receivedFilesStayInTheInboxWhateverTheirName()
    {
        QFETCH(QString, sentName);
        QFETCH(QString, expectedName);
        QFETCH(bool, receivedBefore);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        QTemporaryDir source;
        if (receivedBefore) {
            const QString earlier = writeTestFile(source.path(), QStringLiteral("earlier.txt"), 1000, 30);
            link.phone.sendFile(earlier, QStringLiteral("earlier.txt"), QStringLiteral("earlier"));
            WAIT_FOR(link, lastEvent(link.host.events, Kind::completed, QStringLiteral("earlier")));
        }
        const QString path = writeTestFile(source.path(), QStringLiteral("odd"), 40'000, 31);
        link.phone.sendFile(path, sentName, QStringLiteral("odd"));
        WAIT_FOR(link, lastEvent(link.host.events, Kind::completed, QStringLiteral("odd")));

        const QString placed = lastEvent(link.host.events, Kind::completed, QStringLiteral("odd"))->fileName;
        QVERIFY2(!placed.isEmpty() && !placed.contains(QLatin1Char('/')) && placed != QStringLiteral("..") &&
                     placed.toUtf8().size() <= 255 && !placed.contains(QChar::ReplacementCharacter),
                 qPrintable(placed));
        if (!expectedName.isEmpty()) {
            QCOMPARE(placed, expectedName);
        }
        QCOMPARE(fileSha256(link.host.inbox() + QLatin1Char('/') + placed), fileSha256(path));
        QVERIFY(!QFile::exists(link.host.root.path() + QStringLiteral("/escape.txt")));

        // The received files stay known: each acknowledgement removes its own file.
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("odd")));
        QVERIFY(!QFile::exists(link.host.inbox() + QLatin1Char('/') + placed));
        if (receivedBefore) {
            QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("earlier")));
            QVERIFY(!QFile::exists(link.host.inbox() + QStringLiteral("/earlier.txt")));
        }
    }

    void unreadableFilesAreRefusedAtOnce()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        QTemporaryDir source;
        QCOMPARE(errorOf([&] {
                     link.host->sendFileWithId(source.path() + QStringLiteral("/missing.txt"),
                                               QStringLiteral("missing.txt"), QStringLiteral("missing"));
                 }),
                 TavrineCoreError::Case::FileAccess);
        QCOMPARE(errorOf([&] {
                     link.host->sendFileWithId(source.path(), QStringLiteral("folder"), QStringLiteral("folder"));
                 }),
                 TavrineCoreError::Case::FileAccess);
        QCOMPARE(errorOf([&] {
                     link.phone->sendFileDescriptorWithId(-1, QStringLiteral("closed.txt"), 10,
                                                          QStringLiteral("closed"));
                 }),
                 TavrineCoreError::Case::FileAccess);

        // Nothing was queued for them, and the link goes on working.
        const QString path = writeTestFile(source.path(), QStringLiteral("fine.txt"), 1000, 40);
        link.host->sendFileWithId(path, QStringLiteral("fine.txt"), QStringLiteral("fine"));
        WAIT_FOR(link, lastEvent(link.phone.events, Kind::completed, QStringLiteral("fine")));
        link.pump();
        for (const QString &id : {QStringLiteral("missing"), QStringLiteral("folder"), QStringLiteral("closed")}) {
            QCOMPARE(eventsOf(link.host.events, id).size() + eventsOf(link.phone.events, id).size(), 0);
        }
    }

    void pausedTransferResumesFromWhatTheReceiverHolds_data()
    {
        QTest::addColumn<Way>("way");
        QTest::addColumn<bool>("bySender");
        for (const Way way : {Way::hostToPhone, Way::phoneToHost}) {
            QTest::addRow("%s, paused by the sender", qPrintable(wayName(way))) << way << true;
            QTest::addRow("%s, paused by the receiver", qPrintable(wayName(way))) << way << false;
        }
    }

    void pausedTransferResumesFromWhatTheReceiverHolds()
    {
        QFETCH(Way, way);
        QFETCH(bool, bySender);
        LinkFixture link;
        link.host.start();
        LoopbackRelay relay(link.host.port());
        QVERIFY(relay.port() != 0);
        QVERIFY2(link.pair(withEndpointPort(link.host->pairingPayload(), relay.port())), qPrintable(link.describe()));
        relay.setBytesPerSecond(throttledBytesPerSecond);
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("movie.mp4"), throttledFileBytes, 50);
        const QString id = QStringLiteral("resumable");
        const QString inbox = link.receiverInbox(way);

        QElapsedTimer running;
        running.start();
        link.sendFile(way, path, QStringLiteral("movie.mp4"), id);
        WAIT_FOR(link, mostBytesReported(link.receiverEvents(way), id) >= uint64_t(mebibyte));
        QVERIFY(link.pauseTransfer(way, bySender, id));
        WAIT_FOR(link, lastEvent(link.senderEvents(way), Kind::paused, id) &&
                           lastEvent(link.receiverEvents(way), Kind::paused, id));
        const double seconds = double(running.elapsed()) / 1000;
        link.pump();
        VERIFY_ROUND(link, eventsOf(link.senderEvents(way), id), TransferDirection::sending, Kind::paused,
                     uint64_t(throttledFileBytes));
        VERIFY_ROUND(link, eventsOf(link.receiverEvents(way), id), TransferDirection::receiving, Kind::paused,
                     uint64_t(throttledFileBytes));
        // Progress comes at most ten times a second for each transfer.
        for (const auto *events : {&link.senderEvents(way), &link.receiverEvents(way)}) {
            const int progress = countEvents(*events, Kind::sending, id) + countEvents(*events, Kind::receiving, id);
            QVERIFY2(progress <= int(seconds * 10) + 3,
                     qPrintable(QStringLiteral("%1 progress events in %2 s").arg(progress).arg(seconds)));
        }

        // The receiver keeps what arrived, hidden, and nothing under the file's name yet.
        QVERIFY2(link.roundTrip(), qPrintable(link.describe()));
        const QStringList partial = partialFiles(inbox);
        QCOMPARE(partial.size(), 1);
        const QString partialPath = inbox + QLatin1Char('/') + partial.first();
        const auto held = uint64_t(QFileInfo(partialPath).size());
        QVERIFY2(held > 0 && held < uint64_t(throttledFileBytes), qPrintable(QString::number(held)));
        QVERIFY(fileBytes(partialPath) == fileBytes(path, qint64(held)));
        QVERIFY(lastEvent(link.receiverEvents(way), Kind::paused, id)->transferredBytes <= held);
        QVERIFY(!QFile::exists(inbox + QStringLiteral("/movie.mp4")));

        // Sending again under the same id carries on from there.
        relay.setBytesPerSecond(0);
        const qsizetype senderMark = link.senderEvents(way).size();
        const qsizetype receiverMark = link.receiverEvents(way).size();
        link.sendFile(way, path, QStringLiteral("movie.mp4"), id);
        WAIT_FOR(link, lastEvent(link.senderEvents(way).mid(senderMark), Kind::completed, id) &&
                           lastEvent(link.receiverEvents(way).mid(receiverMark), Kind::completed, id));
        link.pump();
        const QList<TransferEvent> sent = eventsOf(link.senderEvents(way).mid(senderMark), id);
        const QList<TransferEvent> received = eventsOf(link.receiverEvents(way).mid(receiverMark), id);
        VERIFY_ROUND(link, sent, TransferDirection::sending, Kind::completed, uint64_t(throttledFileBytes));
        VERIFY_ROUND(link, received, TransferDirection::receiving, Kind::completed, uint64_t(throttledFileBytes));
        QCOMPARE(received.first().transferredBytes, held);
        QVERIFY(sent.size() >= 2);
        QCOMPARE(sent[1].transferredBytes, held);
        QCOMPARE(received.last().fileName, QStringLiteral("movie.mp4"));
        QCOMPARE(fileSha256(inbox + QStringLiteral("/movie.mp4")), fileSha256(path));
        QCOMPARE(partialFiles(inbox), QStringList());
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
        link.host.start();
        LoopbackRelay relay(link.host.port());
        QVERIFY(relay.port() != 0);
        QVERIFY2(link.pair(withEndpointPort(link.host->pairingPayload(), relay.port())), qPrintable(link.describe()));
        relay.setBytesPerSecond(throttledBytesPerSecond);
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("movie.mp4"), throttledFileBytes, 60);
        const QString id = QStringLiteral("cancelled");
        const QString inbox = link.receiverInbox(way);

        link.sendFile(way, path, QStringLiteral("movie.mp4"), id);
        WAIT_FOR(link, mostBytesReported(link.receiverEvents(way), id) >= uint64_t(mebibyte));
        if (afterPause) {
            QVERIFY(link.pauseTransfer(way, bySender, id));
            WAIT_FOR(link, lastEvent(link.senderEvents(way), Kind::paused, id) &&
                               lastEvent(link.receiverEvents(way), Kind::paused, id));
            QCOMPARE(partialFiles(inbox).size(), 1);
        }
        QVERIFY(link.cancelTransfer(way, bySender, id));
        if (!afterPause) {
            WAIT_FOR(link, lastEvent(link.senderEvents(way), Kind::cancelled, id) &&
                               lastEvent(link.receiverEvents(way), Kind::cancelled, id));
            link.pump();
            VERIFY_ROUND(link, eventsOf(link.senderEvents(way), id), TransferDirection::sending, Kind::cancelled,
                         uint64_t(throttledFileBytes));
            VERIFY_ROUND(link, eventsOf(link.receiverEvents(way), id), TransferDirection::receiving, Kind::cancelled,
                         uint64_t(throttledFileBytes));
        }
        WAIT_FOR(link, partialFiles(inbox).isEmpty());
        QVERIFY(!QFile::exists(inbox + QStringLiteral("/movie.mp4")));

        // The id is free again, and a new send starts from the first byte. When the receiver cancelled a
        // paused transfer, its cancel may still be on the way while the file goes again: it must not stop it.
        relay.setBytesPerSecond(0);
        const qsizetype receiverMark = link.receiverEvents(way).size();
        link.sendFile(way, path, QStringLiteral("movie.mp4"), id);
        WAIT_FOR(link, lastEvent(link.senderEvents(way), Kind::completed, id) &&
                           lastEvent(link.receiverEvents(way).mid(receiverMark), Kind::completed, id));
        const QList<TransferEvent> received = eventsOf(link.receiverEvents(way).mid(receiverMark), id);
        QCOMPARE(received.first().kind, Kind::receiving);
        QCOMPARE(received.first().transferredBytes, uint64_t(0));
        QCOMPARE(fileSha256(inbox + QStringLiteral("/movie.mp4")), fileSha256(path));
    }

    void filesGoBothWaysAtOnce()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        QTemporaryDir source;
        const QString down = writeTestFile(source.path(), QStringLiteral("down.bin"), 40 * mebibyte + 5, 100);
        const QString downSmall = writeTestFile(source.path(), QStringLiteral("down-small.bin"), 70'000, 101);
        const QString up = writeTestFile(source.path(), QStringLiteral("up.bin"), 40 * mebibyte + 9, 102);

        link.host->sendFileWithId(down, QStringLiteral("down.bin"), QStringLiteral("down"));
        link.phone.sendFile(up, QStringLiteral("up.bin"), QStringLiteral("up"));
        link.host->sendFileWithId(downSmall, QStringLiteral("down-small.bin"), QStringLiteral("down-small"));
        WAIT_FOR(link, lastEvent(link.phone.events, Kind::completed, QStringLiteral("down")) &&
                           lastEvent(link.phone.events, Kind::completed, QStringLiteral("down-small")) &&
                           lastEvent(link.host.events, Kind::completed, QStringLiteral("up")) &&
                           lastEvent(link.host.events, Kind::completed, QStringLiteral("down")) &&
                           lastEvent(link.host.events, Kind::completed, QStringLiteral("down-small")) &&
                           lastEvent(link.phone.events, Kind::completed, QStringLiteral("up")));
        link.pump();
        const struct
        {
            QString id;
            QString path;
            Way way;
        } transfers[] = {{QStringLiteral("down"), down, Way::hostToPhone},
                         {QStringLiteral("down-small"), downSmall, Way::hostToPhone},
                         {QStringLiteral("up"), up, Way::phoneToHost}};
        for (const auto &transfer : transfers) {
            const auto size = uint64_t(QFileInfo(transfer.path).size());
            VERIFY_ROUND(link, eventsOf(link.senderEvents(transfer.way), transfer.id), TransferDirection::sending,
                         Kind::completed, size);
            VERIFY_ROUND(link, eventsOf(link.receiverEvents(transfer.way), transfer.id), TransferDirection::receiving,
                         Kind::completed, size);
            const QString name = QFileInfo(transfer.path).fileName();
            QCOMPARE(fileSha256(link.receiverInbox(transfer.way) + QLatin1Char('/') + name), fileSha256(transfer.path));
        }
    }

    void damagedPartialFileNeverCompletesAsTheFile()
    {
        LinkFixture link;
        link.host.start();
        LoopbackRelay relay(link.host.port());
        QVERIFY(relay.port() != 0);
        QVERIFY2(link.pair(withEndpointPort(link.host->pairingPayload(), relay.port())), qPrintable(link.describe()));
        relay.setBytesPerSecond(throttledBytesPerSecond);
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("scan.pdf"), throttledFileBytes, 110);
        const QString id = QStringLiteral("damaged");
        link.phone.sendFile(path, QStringLiteral("scan.pdf"), id);
        WAIT_FOR(link, mostBytesReported(link.host.events, id) >= uint64_t(mebibyte));
        QVERIFY(link.phone->pauseTransfer(id));
        WAIT_FOR(link, lastEvent(link.phone.events, Kind::paused, id) && lastEvent(link.host.events, Kind::paused, id));

        // A byte of the kept part changes on disk while the transfer waits.
        const QStringList partial = partialFiles(link.host.inbox());
        QCOMPARE(partial.size(), 1);
        {
            QFile file(link.host.inbox() + QLatin1Char('/') + partial.first());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(file.size() / 2));
            char byte = 0;
            QVERIFY(file.getChar(&byte));
            QVERIFY(file.seek(file.size() / 2));
            QVERIFY(file.putChar(char(~byte)));
        }

        relay.setBytesPerSecond(0);
        qsizetype hostMark = link.host.events.size();
        qsizetype phoneMark = link.phone.events.size();
        link.phone.sendFile(path, QStringLiteral("scan.pdf"), id);
        const auto closed = [&](const QList<TransferEvent> &events, qsizetype mark) {
            const QList<TransferEvent> round = eventsOf(events.mid(mark), id);
            return !round.isEmpty() && isClosingKind(round.last().kind);
        };
        WAIT_FOR(link, closed(link.host.events, hostMark) && closed(link.phone.events, phoneMark));
        const TransferEvent outcome = eventsOf(link.host.events.mid(hostMark), id).last();
        if (outcome.kind == Kind::completed) {
            // Starting over from the first byte is as good as refusing.
            qInfo("the receiver started over instead of refusing the damaged part");
            QCOMPARE(fileSha256(link.host.inbox() + QLatin1Char('/') + outcome.fileName), fileSha256(path));
            return;
        }
        QCOMPARE(kindName(outcome.kind), kindName(Kind::failed));
        QCOMPARE(kindName(eventsOf(link.phone.events.mid(phoneMark), id).last().kind), kindName(Kind::failed));
        QVERIFY(!QFile::exists(link.host.inbox() + QStringLiteral("/scan.pdf")));

        // Sent once more, the file arrives whole.
        hostMark = link.host.events.size();
        link.phone.sendFile(path, QStringLiteral("scan.pdf"), id);
        WAIT_FOR(link, lastEvent(link.host.events.mid(hostMark), Kind::completed, id));
        QCOMPARE(fileSha256(link.host.inbox() + QStringLiteral("/scan.pdf")), fileSha256(path));
        QCOMPARE(partialFiles(link.host.inbox()), QStringList());
    }

    void fileThatShrinksWhileSentNeverCompletes()
    {
        LinkFixture link;
        link.host.start();
        LoopbackRelay relay(link.host.port());
        QVERIFY(relay.port() != 0);
        QVERIFY2(link.pair(withEndpointPort(link.host->pairingPayload(), relay.port())), qPrintable(link.describe()));
        relay.setBytesPerSecond(throttledBytesPerSecond);
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("log.txt"), throttledFileBytes, 120);
        const QString id = QStringLiteral("shrinking");
        link.host->sendFileWithId(path, QStringLiteral("log.txt"), id);
        WAIT_FOR(link, mostBytesReported(link.phone.events, id) >= uint64_t(mebibyte));
        QVERIFY(QFile::resize(path, 0));
        relay.setBytesPerSecond(0);

        WAIT_FOR(link, lastEvent(link.host.events, Kind::failed, id) && !eventsOf(link.phone.events, id).isEmpty() &&
                           isClosingKind(eventsOf(link.phone.events, id).last().kind));
        link.pump();
        VERIFY_ROUND(link, eventsOf(link.host.events, id), TransferDirection::sending, Kind::failed,
                     uint64_t(throttledFileBytes));
        QVERIFY(eventsOf(link.phone.events, id).last().kind != Kind::completed);
        QVERIFY(!QFile::exists(link.phone.inbox() + QStringLiteral("/log.txt")));
        WAIT_FOR(link, partialFiles(link.phone.inbox()).isEmpty());
    }

    void pausedTransferResumesAfterTheHostRestarts()
    {
        LinkFixture link;
        link.host.start();
        LoopbackRelay relay(link.host.port());
        QVERIFY(relay.port() != 0);
        QVERIFY2(link.pair(withEndpointPort(link.host->pairingPayload(), relay.port())), qPrintable(link.describe()));
        relay.setBytesPerSecond(throttledBytesPerSecond);
        QTemporaryDir source;
        const QString path = writeTestFile(source.path(), QStringLiteral("album.zip"), throttledFileBytes, 130);
        const QString id = QStringLiteral("across-restart");
        link.phone.sendFile(path, QStringLiteral("album.zip"), id);
        WAIT_FOR(link, mostBytesReported(link.host.events, id) >= uint64_t(mebibyte));
        QVERIFY(link.phone->pauseTransfer(id));
        WAIT_FOR(link, lastEvent(link.phone.events, Kind::paused, id) && lastEvent(link.host.events, Kind::paused, id));
        QVERIFY2(link.roundTrip(), qPrintable(link.describe()));
        QCOMPARE(partialFiles(link.host.inbox()).size(), 1);
        const auto held =
            uint64_t(QFileInfo(link.host.inbox() + QLatin1Char('/') + partialFiles(link.host.inbox()).first()).size());
        QVERIFY(held > 0);

        const quint16 port = link.host.port();
        const QString identity = link.host->identityMaterial();
        const QString secret = link.host->trustedPeerSecret().value_or(QString());
        link.host.stop();
        WAIT_FOR(link, countEvents(link.phone.events, Kind::disconnected) == 1);
        link.host.events.clear();
        link.host.start(identity, secret);
        if (link.host.port() != port) {
            QSKIP("another program took the host's port while it was stopped");
        }
        WAIT_FOR(link,
                 countEvents(link.host.events, Kind::paired) == 1 && countEvents(link.phone.events, Kind::paired) == 2);

        relay.setBytesPerSecond(0);
        link.phone.sendFile(path, QStringLiteral("album.zip"), id);
        WAIT_FOR(link, lastEvent(link.host.events, Kind::completed, id));
        const QList<TransferEvent> received = eventsOf(link.host.events, id);
        VERIFY_ROUND(link, received, TransferDirection::receiving, Kind::completed, uint64_t(throttledFileBytes));
        QCOMPARE(received.first().transferredBytes, held);
        QCOMPARE(fileSha256(link.host.inbox() + QStringLiteral("/album.zip")), fileSha256(path));
        QCOMPARE(partialFiles(link.host.inbox()), QStringList());
    }

    void acknowledgedFilesLeaveTheInboxAlsoAfterARestart()
    {
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));
        QTemporaryDir source;
        const QString first = writeTestFile(source.path(), QStringLiteral("a.txt"), 2000, 70);
        const QString second = writeTestFile(source.path(), QStringLiteral("b.txt"), 3000, 71);
        link.phone.sendFile(first, QStringLiteral("a.txt"), QStringLiteral("ack-a"));
        link.phone.sendFile(second, QStringLiteral("b.txt"), QStringLiteral("ack-b"));
        WAIT_FOR(link, lastEvent(link.host.events, Kind::completed, QStringLiteral("ack-a")) &&
                           lastEvent(link.host.events, Kind::completed, QStringLiteral("ack-b")));
        const QString firstCopy = link.host.inbox() + QStringLiteral("/a.txt");
        const QString secondCopy = link.host.inbox() + QStringLiteral("/b.txt");
        QVERIFY(QFile::exists(firstCopy));

        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-a")));
        QVERIFY(!QFile::exists(firstCopy));
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-a")));
        QVERIFY(!link.host->acknowledgeReceivedTransfer(QStringLiteral("never-sent")));
        QVERIFY(QFile::exists(secondCopy));

        // A new host object on the same inbox still knows both.
        const QString identity = link.host->identityMaterial();
        const QString secret = link.host->trustedPeerSecret().value_or(QString());
        link.host.stop();
        link.host.start(identity, secret);
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-a")));
        QVERIFY(QFile::exists(secondCopy));
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-b")));
        QVERIFY(!QFile::exists(secondCopy));
        QVERIFY(link.host->acknowledgeReceivedTransfer(QStringLiteral("ack-b")));
        QVERIFY(!link.host->acknowledgeReceivedTransfer(QStringLiteral("never-sent")));

        // The phone side keeps the same record of what it received.
        WAIT_FOR(link, link.host->isConnected());
        const QString third = writeTestFile(source.path(), QStringLiteral("c.txt"), 4000, 72);
        link.host->sendFileWithId(third, QStringLiteral("c.txt"), QStringLiteral("ack-c"));
        WAIT_FOR(link, lastEvent(link.phone.events, Kind::completed, QStringLiteral("ack-c")));
        QVERIFY(QFile::exists(link.phone.inbox() + QStringLiteral("/c.txt")));
        QVERIFY(link.phone->acknowledgeReceivedTransfer(QStringLiteral("ack-c")));
        QVERIFY(!QFile::exists(link.phone.inbox() + QStringLiteral("/c.txt")));
        QVERIFY(!link.phone->acknowledgeReceivedTransfer(QStringLiteral("never-sent")));
    }

    // --- Management ------------------------------------------------------------------------------------------------

    void managementAnswersComeBackToTheHost_data()
    {
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("payload");
        QTest::addColumn<QString>("message");
        QTest::newRow("answered") << true << QStringLiteral(R"({"files":[{"name":"IMG_0001.jpg"}]})") << QString();
        QTest::newRow("refused") << false << QStringLiteral("{}") << QStringLiteral("Permission denied");
    }

    void managementAnswersComeBackToTheHost()
    {
        QFETCH(bool, success);
        QFETCH(QString, payload);
        QFETCH(QString, message);
        LinkFixture link;
        QVERIFY2(link.pair(), qPrintable(link.describe()));

        const QString requestPayload = QStringLiteral(R"({"path":"/DCIM/Camera","名前":"写真"})");
        const QString requestId = link.host->requestManagement(QStringLiteral("listFiles"), requestPayload);
        QVERIFY(!requestId.isEmpty());
        WAIT_FOR(link, link.phone.requests.size() == 1);
        QCOMPARE(link.phone.requests.first(),
                 (ManagementRequest{requestId, QStringLiteral("listFiles"), requestPayload}));

        QVERIFY(link.phone->respondManagement(requestId, success, payload, message));
        WAIT_FOR(link, link.host.responses.size() == 1);
        QCOMPARE(link.host.responses.first(),
                 (ManagementResponse{requestId, QStringLiteral("listFiles"), success, payload, message}));
        // One answer per request.
        QVERIFY(!link.phone->respondManagement(requestId, success, payload, message));
        QVERIFY(!link.phone->respondManagement(QStringLiteral("not-a-request"), true, QStringLiteral("{}"), {}));
    }
};

QTEST_GUILESS_MAIN(LinkIntegrationTest)
#include "test_link_integration.moc"

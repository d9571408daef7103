#include "LinkedStoreFixture.h"
#include "PairingSheet.h"

#include <QProcess>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;
using PhaseKind = TransferStore::Phase::Kind;

// The pairing sheet over the real core library, and phones played with the core's client over 127.0.0.1.
class PairingWithdrawalTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Every host listens on one port, as on a user's computer, so a withdrawn link reaches the host of a later
        // pairing instead of a closed port.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        qputenv("TAVRINE_CORE_PORT", QByteArray::number(probe.serverPort()));
    }

    void aCancelledCodeNeverPairs()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        PairingSheet sheet(&store, nullptr, [] {});

        QStringList withdrawn;
        for (int shown = 0; shown < 2; ++shown) {
            sheet.show();
            QVERIFY(store.pairingPayload() && store.confirmationCode());
            QVERIFY(!withdrawn.contains(*store.pairingPayload())); // each showing has a code of its own
            withdrawn.append(*store.pairingPayload());
            sheet.cancel();
            QVERIFY(!store.hasHost() && !store.pairingPayload());
        }

        // A new pairing on the same port: the links the cancelled sheets showed are refused, and the phone is told.
        sheet.show();
        const QString current = *store.pairingPayload();
        for (const QString &url : withdrawn) {
            link.phoneEvents.clear();
            link.phone = TransferClient::connect(url, {}, u"Stranger"_s, link.phoneInbox());
            QVERIFY(link.waitUntil([&] {
                return std::ranges::any_of(link.phoneEvents, [](const TransferEvent &event) {
                    return event.kind == TransferEventKind::failed && event.message == u"pairing refused"_s;
                });
            }));
            QCOMPARE(store.phase().kind, PhaseKind::pairing);
        }
        // The phone program says so and ends.
        QProcess phone;
        phone.start(QCoreApplication::applicationDirPath() + u"/tavrine-phone"_s,
                    {u"pair"_s, u"--url"_s, withdrawn.first(), u"--storage"_s, link.folder.filePath(u"storage"_s),
                     u"--name"_s, u"Stranger"_s, u"--confirm"_s});
        QVERIFY(phone.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return phone.state() == QProcess::NotRunning; }, 20'000));
        QCOMPARE(phone.exitCode(), 1);
        QVERIFY(phone.readAllStandardError().contains("pairing refused"));
        QVERIFY(store.trustedDevices().isEmpty());

        // The code on screen pairs.
        link.phone = TransferClient::connect(current, {}, u"Pixel"_s, link.phoneInbox());
        QVERIFY(link.waitUntil([&] {
            return store.phase().kind == PhaseKind::awaitingConfirmation &&
                   link.phoneSaw(TransferEventKind::awaitingConfirmation);
        }));
        link.phone->confirmPairing();
        QVERIFY(link.waitUntil([&] { return store.phase().kind == PhaseKind::connected; }));
        QCOMPARE(store.trustedDevices().size(), 1);
        QCOMPARE(store.trustedDevices().first().name, u"Pixel"_s);

        // Closing the sheet once paired keeps the phone connected.
        sheet.cancel();
        QCOMPARE(store.phase().kind, PhaseKind::connected);
        link.phone.reset();
    }
};

QTEST_MAIN(PairingWithdrawalTest)
#include "test_pairing_withdrawal.moc"

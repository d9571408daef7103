#include "StallingKeychain.h"
#include "StoreTestSupport.h"

#include <QtTest>

#include <utility>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Kind = TransferEventKind;
using Direction = TransferDirection;
using Account = TransferCredentialStore::Account;

namespace {

const QString secret = u"0123456789abcdef0123456789abcdef-secret"_s;

// The writes among `calls` ("update <account>" or "add <account>"), as account names.
QStringList writtenAccounts(const QStringList &calls)
{
    QStringList accounts;
    for (const QString &call : calls) {
        if (call.startsWith(u"update ") || call.startsWith(u"add ")) {
            accounts.append(call.section(u' ', 1));
        }
    }
    accounts.removeDuplicates();
    return accounts;
}

} // namespace

class TransferStoreKeyringTest : public QObject
{
    Q_OBJECT

private slots:
    // A keyring that keeps its writes waiting does not hold the window: the phone's trust goes to it off the event
    // loop, in order, and the events after the pairing wait until it is kept. A reconnection writes only what
    // changed.
    void trustIsWrittenOffTheEventLoop()
    {
        StoreFixture fixture;
        auto keychain = std::make_shared<StallingKeychain>(fixture.keychain);
        fixture.environmentKeychain = keychain;
        TransferStore &store = fixture.make();
        store.beginNewPairing();
        fixture.host->trustedPeerSecret = secret;
        fixture.host->events = {linkEvent(Kind::connecting, {}, {}), linkEvent(Kind::awaitingConfirmation),
                                linkEvent(Kind::paired),
                                transferEvent(Kind::receiving, Direction::receiving, u"r1"_s, 1, 10)};
        const qsizetype callsBefore = keychain->calls().size();
        keychain->stall();
        store.drainEvents();
        QTRY_VERIFY(keychain->hasWaitingCall());
        QCOMPARE(store.phase(), Phase::awaitingConfirmation(u"Pixel"_s));
        QVERIFY(store.trustedDevices().isEmpty());
        QCOMPARE(fixture.host->events.size(), size_t(1));

        keychain->release();
        QTRY_COMPARE(store.phase(), Phase::connected(u"Pixel"_s));
        QTRY_VERIFY(taskWithId(store, u"r1"_s));
        QCOMPARE(store.trustedDevices().size(), 1);
        QCOMPARE(
            writtenAccounts(keychain->calls().mid(callsBefore)),
            (QStringList{u"trusted-peer-secret-v1"_s, u"trusted-device-registry-v1"_s, u"trusted-peer-name-v1"_s}));
        QCOMPARE(fixture.keychainText(Account::trustedPeerSecret), secret);
        QCOMPARE(fixture.registryStore().load().devices, store.trustedDevices());

        // The same phone again, with the same secret and name: only its registry record (when it was last seen)
        // may change.
        const qsizetype callsAtReconnection = keychain->calls().size();
        fixture.deliver({linkEvent(Kind::disconnected), linkEvent(Kind::paired)});
        QCOMPARE(store.phase(), Phase::connected(u"Pixel"_s));
        QVERIFY(writtenAccounts(keychain->calls().mid(callsAtReconnection)).size() <= 1);
        QVERIFY(!writtenAccounts(keychain->calls().mid(callsAtReconnection)).contains(u"trusted-peer-secret-v1"_s));
        QVERIFY(!writtenAccounts(keychain->calls().mid(callsAtReconnection)).contains(u"trusted-peer-name-v1"_s));
    }

    void startUpWaitsForTheKeyring_data()
    {
        const TestTable<int32_t, QString> rows; // the keychain's answer, and the failure shown meanwhile
        rows("locked", Keychain::interactionNotAllowed, u"无法读取 Tavrine 安全身份，请先解锁“登录”密钥环后重试。"_s);
        rows("no service", -26000, u"The name org.freedesktop.secrets was not provided by any .service files"_s);
    }

    // A keyring locked, or not running, at start-up: the failure shows, and start-up is tried again until the
    // keyring answers, so the phone connects without a restart.
    void startUpWaitsForTheKeyring()
    {
        const auto [status, shown] = TestTable<int32_t, QString>::fetch();
        StoreFixture fixture;
        fixture.retryInterval = std::chrono::milliseconds(20);
        fixture.saveRegistry({trustedPhone(u"Pixel"_s, 1)});
        fixture.keychain->setMessage(status, status == Keychain::interactionNotAllowed ? QString() : shown);
        fixture.keychain->answerNextCall(status);
        fixture.keychain->answerNextCall(status);
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        QCOMPARE(store.phase(), Phase::failed(shown));
        QVERIFY(!store.hasHost());
        QTRY_COMPARE(store.phase(), Phase::reconnecting(u"Pixel"_s));
        QCOMPARE(store.trustedDevices().size(), 1);
        QCOMPARE(fixture.host->startCount, 1);
    }

    void aPairingMadeWhileStartUpReadsTheKeyringStays_data()
    {
        const TestTable<bool> rows; // whether the keyring was locked at the first try
        rows("slow keyring", false);
        rows("locked keyring, tried again", true);
    }

    // Start-up waits for the keyring while the user pairs a new phone: the registry it read is older than the one
    // with the new phone, and the host it would start is older than the one the new phone is connected to. Both
    // stay, and a later change of trust keeps the new phone.
    void aPairingMadeWhileStartUpReadsTheKeyringStays()
    {
        const auto [locked] = TestTable<bool>::fetch();
        StoreFixture fixture;
        fixture.retryInterval = std::chrono::milliseconds(20);
        auto keychain = std::make_shared<StallingKeychain>(fixture.keychain);
        fixture.environmentKeychain = keychain;
        const TrustedDeviceRecord known = trustedPhone(u"Pixel"_s, 1);
        fixture.saveRegistry({known});
        if (locked) {
            fixture.keychain->answerNextCall(Keychain::interactionNotAllowed);
        }
        TransferStore &store = fixture.make();
        if (!locked) {
            keychain->stallNextRead();
        }
        QCoro::Task<void> startUp = store.startUp();
        if (locked) {
            // The read of the start-up tried again is the slow one.
            awaitTask(startUp);
            QCOMPARE(store.phase().kind, Phase::Kind::failed);
            keychain->stallNextRead();
        }
        QTRY_VERIFY(keychain->hasWaitingCall());

        store.beginNewPairing();
        fixture.host->trustedPeerSecret = secret;
        fixture.deliver({linkEvent(Kind::connecting, {}, {}), linkEvent(Kind::awaitingConfirmation, u"Newcomer"_s),
                         linkEvent(Kind::paired, u"Newcomer"_s, u"peer-new"_s)});
        QCOMPARE(store.phase(), Phase::connected(u"Newcomer"_s));
        const QList<TrustedDeviceRecord> paired = store.trustedDevices();
        QCOMPARE(paired.size(), 2);
        keychain->release();
        if (!locked) {
            awaitTask(startUp);
        }
        QVERIFY(settleBackgroundWork());

        QCOMPARE(store.trustedDevices(), paired);
        QCOMPARE(store.selectedTrustedDeviceID(), paired.first().id);
        QCOMPARE(store.phase(), Phase::connected(u"Newcomer"_s));
        QCOMPARE(fixture.host->startCount, 1);
        store.renameTrustedDevice(known.id, u"Old phone"_s);
        const QList<TrustedDeviceRecord> stored = fixture.registryStore().load().devices;
        QCOMPARE(stored.size(), 2);
        QCOMPARE(stored.first().name, u"Newcomer"_s);
        QCOMPARE(stored.last().name, u"Old phone"_s);
    }

    // A change of the registry made while a pairing's trust is still on its way lands after it, and keeps it.
    void aLaterChangeIsNeverOvertaken()
    {
        StoreFixture fixture;
        auto keychain = std::make_shared<StallingKeychain>(fixture.keychain);
        fixture.environmentKeychain = keychain;
        fixture.saveRegistry({trustedPhone(u"Pixel"_s, 1)});
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        store.beginNewPairing();
        fixture.host->trustedPeerSecret = secret;
        fixture.host->events = {linkEvent(Kind::paired, u"Newcomer"_s, u"peer-new"_s)};
        keychain->stall();
        store.drainEvents();
        QTRY_VERIFY(keychain->hasWaitingCall());
        keychain->release();
        store.renameTrustedDevice(trustedPhone({}, 1).id, u"Renamed"_s);
        QCOMPARE(store.trustedDevices().size(), 2);
        QCOMPARE(fixture.registryStore().load().devices, store.trustedDevices());
        QCOMPARE(store.trustedDevices().last().name, u"Renamed"_s);
    }
};

QTEST_GUILESS_MAIN(TransferStoreKeyringTest)
#include "test_transfer_store_keyring.moc"

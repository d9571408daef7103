#include "LinkedStoreFixture.h"
#include "TrustedDeviceRegistryStore.h"

#include <QtTest>

using Phase = TransferStore::Phase;

class TransferStoreLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void pairsAndReconnectsAfterARestart()
    {
        LinkedStoreFixture link(true);
        TransferStore &store = link.makeStore();
        awaitTask(store.startUp());
        QCOMPARE(store.phase(), Phase::idle());
        store.beginNewPairing();
        QCOMPARE(store.phase(), Phase::pairing());
        store.stopHost();

        QVERIFY(link.pair());
        QCOMPARE(store.phase(), Phase::connected(QStringLiteral("Test phone")));
        QCOMPARE(store.trustedDevices().size(), 1);
        const TrustedDeviceRecord device = store.trustedDevices().first();
        QVERIFY(device.secret.size() >= 32);
        QVERIFY(device.peerID);

        // The registry is in the keyring: a new store on it reconnects without pairing.
        const TrustedDeviceRegistry stored =
            TrustedDeviceRegistryStore(
                TransferCredentialStore(QStringLiteral("com.drovan.tavrine.transfer"), link.keychain))
                .load();
        QCOMPARE(stored.devices, store.trustedDevices());

        TransferStore &restarted = link.makeStore();
        awaitTask(restarted.startUp());
        QCOMPARE(restarted.phase(), Phase::reconnecting(QStringLiteral("Test phone")));
        QVERIFY2(link.waitUntil([&] { return restarted.phase() == Phase::connected(QStringLiteral("Test phone")); }),
                 qPrintable(restarted.phase().text));
        QCOMPARE(restarted.trustedDevices().size(), 1);
        QCOMPARE(restarted.trustedDevices().first().id, device.id);
    }

    void managementRoundTrips()
    {
        LinkedStoreFixture link(true);
        link.managementTimeout = std::chrono::milliseconds(1500);
        link.makeStore();
        QVERIFY(link.pair());
        link.handlers.insert(QStringLiteral("files.list"), [](const ManagementRequest &request, TransferClient &phone) {
            return phone.respondManagement(request.requestId, true,
                                           QStringLiteral("{\"echo\":") + request.payload + "}", {});
        });
        link.handlers.insert(
            QStringLiteral("apps.uninstall"), [](const ManagementRequest &request, TransferClient &phone) {
                return phone.respondManagement(request.requestId, false, {}, QStringLiteral("没有权限"));
            });
        link.handlers.insert(QStringLiteral("media.list"),
                             [](const ManagementRequest &, TransferClient &) { return false; });

        auto answered = link.store->requestManagement(QStringLiteral("files.list"), QStringLiteral("{\"a\":1}"));
        auto refused = link.store->requestManagement(QStringLiteral("apps.uninstall"), QStringLiteral("{}"));
        auto unanswered = link.store->requestManagement(QStringLiteral("media.list"), QStringLiteral("{}"));
        QVERIFY(link.waitUntil([&] { return answered.isReady() && refused.isReady() && unanswered.isReady(); }));
        QCOMPARE(awaitTask(answered), QStringLiteral("{\"echo\":{\"a\":1}}"));
        QCOMPARE(failureOf(refused), QStringLiteral("没有权限"));
        QCOMPARE(failureOf(unanswered), QStringLiteral("手机响应超时，请刷新后重试"));
    }

    void phoneDropsAndComesBack()
    {
        LinkedStoreFixture link(true);
        link.makeStore();
        QVERIFY(link.pair());
        const QString material = *link.phone->trustedConnectionMaterial();
        link.phone->disconnect();
        QVERIFY(link.waitUntil([&] { return link.store->phase().kind == Phase::Kind::reconnecting; }));
        QCOMPARE(link.store->phase(), Phase::reconnecting(QStringLiteral("Test phone")));

        link.phone = TransferClient::connect({}, material, QStringLiteral("Test phone"), link.phoneInbox());
        QVERIFY(link.waitUntil([&] { return link.store->phase() == Phase::connected(QStringLiteral("Test phone")); }));
        QCOMPARE(link.store->trustedDevices().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TransferStoreLinkTest)
#include "test_transfer_store_link.moc"

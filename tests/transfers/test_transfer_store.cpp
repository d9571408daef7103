#include "StoreTestSupport.h"
#include "TrustedDeviceRegistryStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <qcorotask.h>

using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;
using Kind = TransferEventKind;
using Direction = TransferDirection;
using Account = TransferCredentialStore::Account;

namespace {

const QString service = QStringLiteral("com.drovan.tavrine.transfer");
const QString secret32 = QStringLiteral("0123456789abcdef0123456789abcdef");

TrustedDeviceRecord record(const QString &name, int number)
{
    TrustedDeviceRecord device;
    device.id = QStringLiteral("00000000-0000-4000-8000-%1").arg(number, 12, 10, QLatin1Char('0'));
    device.name = name;
    device.secret = secret32 + QString::number(number);
    device.createdAt = QDateTime::fromSecsSinceEpoch(1700000000 + number, Qt::UTC);
    device.lastSeenAt = device.createdAt;
    return device;
}

void storeRegistry(StoreFixture &fixture, const QList<TrustedDeviceRecord> &devices, int selected = 0)
{
    TrustedDeviceRegistry registry;
    registry.devices = devices;
    if (!devices.isEmpty()) {
        registry.selectedDeviceID = devices[selected].id;
    }
    TrustedDeviceRegistryStore(TransferCredentialStore(service, fixture.keychain)).save(registry);
}

std::optional<QString> keychainText(StoreFixture &fixture, Account account)
{
    const auto item = fixture.keychain->item(service, TransferCredentialStore::accountName(account));
    return item ? std::optional<QString>(QString::fromUtf8(*item)) : std::nullopt;
}

TrustedDeviceRegistry storedRegistry(StoreFixture &fixture)
{
    return TrustedDeviceRegistryStore(TransferCredentialStore(service, fixture.keychain)).load();
}

} // namespace

class TransferStoreTest : public QObject
{
    Q_OBJECT

private slots:
    // Start-up and host lifecycle

    void startUpWithoutTrustedPhoneStaysIdle()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        QCOMPARE(store.phase(), Phase::idle());
        QVERIFY(!store.hasHost());
        QVERIFY(store.trustedDevices().isEmpty());
    }

    void startUpReconnectsToTheSelectedPhone()
    {
        StoreFixture fixture;
        storeRegistry(fixture, {record(QStringLiteral("Pixel"), 1), record(QStringLiteral("Galaxy"), 2)}, 1);
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        QCOMPARE(store.phase(), Phase::reconnecting(QStringLiteral("Galaxy")));
        QCOMPARE(fixture.host->startArguments.last(),
                 (QStringList{QStringLiteral("127.0.0.1"), fixture.folder.filePath(QStringLiteral("inbox")),
                              QStringLiteral("Test computer"), QString(), record({}, 2).secret}));
        QCOMPARE(keychainText(fixture, Account::hostIdentity), QStringLiteral("identity-material"));

        // A second start-up while the host runs changes nothing.
        awaitTask(store.startUp());
        QCOMPARE(fixture.host->startCount, 1);
    }

    void everyStartNeedsALocalNetwork()
    {
        StoreFixture fixture;
        fixture.address.reset();
        storeRegistry(fixture, {record(QStringLiteral("Pixel"), 1)});
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        QCOMPARE(store.phase(), Phase::failed(QStringLiteral("请先让 Mac 连接到局域网，然后重试。")));
        store.beginNewPairing();
        QCOMPARE(store.phase(), Phase::failed(QStringLiteral("请先让 Mac 连接到局域网，然后重试。")));
        QVERIFY(!store.hasHost());
        QCOMPARE(fixture.host->startCount, 0);
    }

    void identityIsWrittenOnceAndPassedBack()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        store.beginNewPairing();
        QCOMPARE(store.phase(), Phase::pairing());
        QVERIFY(store.pendingPairingDeviceID());
        QCOMPARE(*store.pendingPairingDeviceID(), store.pendingPairingDeviceID()->toLower());
        QCOMPARE(store.confirmationCode(), QStringLiteral("123456"));

        // A pairing under way is left alone.
        const auto pending = store.pendingPairingDeviceID();
        store.beginNewPairing();
        QCOMPARE(fixture.host->startCount, 1);
        QCOMPARE(store.pendingPairingDeviceID(), pending);

        store.stopHost();
        QCOMPARE(store.phase(), Phase::idle());
        QVERIFY(!store.pairingPayload());
        store.beginNewPairing();
        QCOMPARE(fixture.host->startArguments[0][3], QString());
        QCOMPARE(fixture.host->startArguments[1][3], QStringLiteral("identity-material"));
        QVERIFY(store.pendingPairingDeviceID() != pending);
    }

    void hostStartFailureIsShown()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.host->failNextStart = TavrineCoreError::ServiceStart(QStringLiteral("port in use"));
        store.beginNewPairing();
        QCOMPARE(store.phase(),
                 Phase::failed(QStringLiteral("TavrineMac.TavrineCoreError.ServiceStart(details: \"port in use\")")));
        QVERIFY(!store.hasHost());
    }

    // Events

    void pairingStoresTheNewPhone()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        store.beginNewPairing();
        const QString pendingID = *store.pendingPairingDeviceID();
        fixture.host->trustedPeerSecret = secret32 + QStringLiteral("-new");
        fixture.deliver({makeEvent(Kind::connecting)});
        QCOMPARE(store.phase(), Phase::pairing());
        fixture.deliver({makeEvent(Kind::awaitingConfirmation, Direction::none, {}, QStringLiteral("Pixel 8"))});
        QCOMPARE(store.phase(), Phase::awaitingConfirmation(QStringLiteral("Pixel 8")));
        fixture.deliver(
            {makeEvent(Kind::paired, Direction::none, {}, QStringLiteral("Pixel 8"), QStringLiteral(" peer-8\n"))});

        QCOMPARE(store.phase(), Phase::connected(QStringLiteral("Pixel 8")));
        QCOMPARE(store.trustedDevices().size(), 1);
        const TrustedDeviceRecord &device = store.trustedDevices().first();
        QCOMPARE(device.id, pendingID);
        QCOMPARE(device.peerID, QStringLiteral("peer-8"));
        QCOMPARE(device.secret, secret32 + QStringLiteral("-new"));
        QCOMPARE(store.selectedTrustedDeviceID(), pendingID);
        QVERIFY(!store.pendingPairingDeviceID());
        QCOMPARE(storedRegistry(fixture).devices, store.trustedDevices());
        QCOMPARE(keychainText(fixture, Account::trustedPeerSecret), secret32 + QStringLiteral("-new"));
        QCOMPARE(keychainText(fixture, Account::trustedPeerName), QStringLiteral("Pixel 8"));
    }

    void pairedWithoutSecretOnlyConnects()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        store.beginNewPairing();
        fixture.deliver({makeEvent(Kind::paired, Direction::none, {}, QStringLiteral("Pixel"))});
        QCOMPARE(store.phase(), Phase::connected(QStringLiteral("Pixel")));
        QVERIFY(store.trustedDevices().isEmpty());
        QVERIFY(!keychainText(fixture, Account::trustedDeviceRegistry));
    }

    void unstorablePeerIdIsNotKept_data()
    {
        QTest::addColumn<QString>("peerId");
        QTest::newRow("tab") << QStringLiteral("peer\tone");
        QTest::newRow("zero-width joiner") << QStringLiteral("peer\u200Done");
        QTest::newRow("129 characters") << QString(129, QLatin1Char('p'));
    }

    // A peer id that breaks the record rules must not make the registry unsavable.
    void unstorablePeerIdIsNotKept()
    {
        QFETCH(QString, peerId);
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair(QStringLiteral("Pixel"), peerId);
        QCOMPARE(store.phase(), Phase::connected(QStringLiteral("Pixel")));
        QCOMPARE(store.trustedDevices().size(), 1);
        QVERIFY(!store.trustedDevices().first().peerID);
        QCOMPARE(storedRegistry(fixture).devices, store.trustedDevices());
    }

    // When trust cannot be saved, the registry in memory keeps what was saved before.
    void trustThatCannotBeSavedLeavesTheRegistryAsSaved()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair(QStringLiteral("Pixel"), QStringLiteral("peer-1"), secret32 + QStringLiteral("-old"));
        const QList<TrustedDeviceRecord> saved = store.trustedDevices();

        store.beginNewPairing();
        fixture.host->trustedPeerSecret = secret32 + QStringLiteral("-new");
        fixture.keychain->answerNextCall(Keychain::success);               // the secret item is replaced
        fixture.keychain->answerNextCall(Keychain::interactionNotAllowed); // the registry is not
        fixture.deliver(
            {makeEvent(Kind::paired, Direction::none, {}, QStringLiteral("Galaxy"), QStringLiteral("peer-2"))});

        QCOMPARE(store.phase().kind, Phase::Kind::failed);
        QVERIFY(store.phase().text.startsWith(QStringLiteral("连接已建立，但无法安全保存设备信任：")));
        QCOMPARE(store.trustedDevices(), saved);
        // The next save writes what was saved before, not the half-made pairing.
        store.renameTrustedDevice(saved.first().id, QStringLiteral("Pixel renamed"));
        const TrustedDeviceRegistry stored = storedRegistry(fixture);
        QCOMPARE(stored.devices.size(), 1);
        QCOMPARE(stored.devices.first().secret, secret32 + QStringLiteral("-old"));
    }

    void twentyFirstPhoneDropsTheOldest()
    {
        StoreFixture fixture;
        QList<TrustedDeviceRecord> devices;
        for (int number = 1; number <= 20; ++number) {
            devices.append(record(QStringLiteral("Phone %1").arg(number), number));
        }
        storeRegistry(fixture, devices);
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        fixture.pair(QStringLiteral("Newcomer"), QStringLiteral("peer-new"));
        QCOMPARE(store.trustedDevices().size(), 20);
        QCOMPARE(store.trustedDevices().first().name, QStringLiteral("Newcomer"));
        QCOMPARE(store.trustedDevices().last().name, QStringLiteral("Phone 19"));
    }

    void completionIsRecordedOnce()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        TransferEvent done = makeEvent(Kind::completed, Direction::receiving, QStringLiteral("t-1"));
        done.fileName = QStringLiteral("photo.jpg");
        fixture.deliver({done, done});
        QCOMPARE(store.completedTransfers().size(), 1);
        QCOMPARE(fixture.notifications->posted.size(), 1);
        QCOMPARE(fixture.notifications->posted.first().title, QStringLiteral("文件已接收"));
        QCOMPARE(fixture.notifications->posted.first().body, QStringLiteral("photo.jpg"));
        QCOMPARE(store.tasks().first().status, Status::completed);
    }

    void byteCountsAreClampedAndNeverGoBack()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        TransferEvent progress = makeEvent(Kind::receiving, Direction::receiving, QStringLiteral("t-1"));
        progress.transferredBytes = 100;
        progress.totalBytes = std::numeric_limits<uint64_t>::max();
        fixture.deliver({progress});
        progress.transferredBytes = 50;
        fixture.deliver({progress});
        QCOMPARE(store.tasks().first().transferredBytes, 100);
        QCOMPARE(store.tasks().first().totalBytes, std::numeric_limits<qint64>::max());
        QCOMPARE(store.tasks().first().peerName, QStringLiteral("Pixel"));
    }

    void linkFailureOnlySetsThePhase()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        fixture.deliver({makeEvent(Kind::receiving, Direction::receiving, QStringLiteral("t-1"))});
        const QList<TransferTaskRecord> tasks = store.tasks();
        TransferEvent failure = makeEvent(Kind::failed);
        failure.message = QStringLiteral("配对连接已断开");
        fixture.deliver({failure});
        QCOMPARE(store.phase(), Phase::failed(QStringLiteral("配对连接已断开")));
        QCOMPARE(store.tasks(), tasks);
    }

    void reconnectionRequeuesWaitingTasks()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        fixture.deliver({makeEvent(Kind::waitingForConnection, Direction::receiving, QStringLiteral("t-1")),
                         makeEvent(Kind::disconnected, Direction::none, {}, QStringLiteral("Pixel"))});
        QCOMPARE(store.phase(), Phase::reconnecting(QStringLiteral("Pixel")));
        QCOMPARE(store.tasks().first().status, Status::waitingForConnection);
        fixture.deliver(
            {makeEvent(Kind::paired, Direction::none, {}, QStringLiteral("Pixel"), QStringLiteral("peer-1"))});
        QCOMPARE(store.tasks().first().status, Status::queued);
        QCOMPARE(store.tasks().first().message, QStringLiteral("等待继续"));
    }

    // Management channel

    void answersAndRejections()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();

        auto answered = store.requestManagement(QStringLiteral("files.list"), QStringLiteral("{}"));
        auto refused = store.requestManagement(QStringLiteral("apps.uninstall"), QStringLiteral("{}"));
        auto empty = store.requestManagement(QStringLiteral("files.mkdir"), QStringLiteral("{}"));
        QCOMPARE(fixture.host->requestIds.size(), 3);
        fixture.host->responses.push_back(
            {QStringLiteral("request-1"), {}, true, QStringLiteral("{\"items\":[]}"), {}});
        fixture.host->responses.push_back({QStringLiteral("request-2"), {}, false, {}, {}});
        fixture.host->responses.push_back({QStringLiteral("request-3"), {}, true, QString(), {}});
        store.drainEvents();
        QCOMPARE(awaitTask(answered), QStringLiteral("{\"items\":[]}"));
        QCOMPARE(failureOf(refused), QStringLiteral("手机没有完成这个操作。"));
        QCOMPARE(awaitTask(empty), QString());
        QCOMPARE(store.pendingManagementRequestCount(), 0);
    }

    void requestsNeedAConnectedPhone()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        store.beginNewPairing();
        fixture.deliver({makeEvent(Kind::awaitingConfirmation, Direction::none, {}, QStringLiteral("Pixel"))});
        auto request = store.requestManagement(QStringLiteral("files.list"), QStringLiteral("{}"));
        QCOMPARE(failureOf(request), QStringLiteral("手机尚未连接。"));
        QVERIFY(fixture.host->requestIds.isEmpty());

        fixture.deliver({makeEvent(Kind::paired, Direction::none, {}, QStringLiteral("Pixel"))});
        fixture.host->failNextRequest = TavrineCoreError::InvalidManagementRequest(QStringLiteral("too large"));
        auto refused = store.requestManagement(QStringLiteral("files.list"), QStringLiteral("{}"));
        QCOMPARE(failureOf(refused),
                 QStringLiteral("TavrineMac.TavrineCoreError.InvalidManagementRequest(details: \"too large\")"));
    }

    void unansweredRequestTimesOutAndALateAnswerIsDropped()
    {
        StoreFixture fixture;
        fixture.managementTimeout = std::chrono::milliseconds(150);
        TransferStore &store = fixture.make();
        fixture.pair();
        auto request = store.requestManagement(QStringLiteral("files.list"), QStringLiteral("{}"));
        QCOMPARE(failureOf(request), QStringLiteral("手机响应超时，请刷新后重试"));
        QCOMPARE(store.pendingManagementRequestCount(), 0);
        fixture.host->responses.push_back({QStringLiteral("request-1"), {}, true, QStringLiteral("late"), {}});
        store.drainEvents();
        QCOMPARE(store.pendingManagementRequestCount(), 0);
    }

    void disconnectionFailsEveryWaitingRequest()
    {
        StoreFixture fixture;
        fixture.managementTimeout = std::chrono::milliseconds(300);
        TransferStore &store = fixture.make();
        fixture.pair();
        auto first = store.requestManagement(QStringLiteral("files.list"), QStringLiteral("{}"));
        auto second = store.requestManagement(QStringLiteral("media.list"), QStringLiteral("{}"));
        fixture.deliver({makeEvent(Kind::disconnected, Direction::none, {}, QStringLiteral("Pixel"))});
        QCOMPARE(store.phase(), Phase::reconnecting(QStringLiteral("Pixel")));
        QCOMPARE(failureOf(first), QStringLiteral("手机连接已中断，请等待自动恢复后重试。"));
        QCOMPARE(failureOf(second), QStringLiteral("手机连接已中断，请等待自动恢复后重试。"));
        // No time-out fires later for them.
        QTest::qWait(400);
        QCOMPARE(store.pendingManagementRequestCount(), 0);
    }

    // Trust operations

    void selectingRestartsTheHostForThatPhone()
    {
        StoreFixture fixture;
        storeRegistry(fixture, {record(QStringLiteral("Pixel"), 1), record(QStringLiteral("Galaxy"), 2)});
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        store.selectTrustedDevice(record({}, 1).id);
        store.selectTrustedDevice(QStringLiteral("no-such-id"));
        QCOMPARE(fixture.host->startCount, 1);
        store.selectTrustedDevice(record({}, 2).id);
        QCOMPARE(fixture.host->startCount, 2);
        QCOMPARE(fixture.host->startArguments.last()[4], record({}, 2).secret);
        QCOMPARE(store.phase(), Phase::reconnecting(QStringLiteral("Galaxy")));
        QCOMPARE(storedRegistry(fixture).selectedDeviceID, record({}, 2).id);
    }

    void renaming_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("trimmed") << QStringLiteral("  Work phone \n") << QStringLiteral("Work phone");
        QTest::newRow("blanks are ignored") << QStringLiteral(" \t ") << QStringLiteral("Pixel");
        QTest::newRow("cut to 80 characters") << QString(100, QLatin1Char('x')) << QString(80, QLatin1Char('x'));
        QTest::newRow("characters, not code units")
            << QString(100, QChar(0x00E9)).normalized(QString::NormalizationForm_D)
            << QString(80, QChar(0x00E9)).normalized(QString::NormalizationForm_D);
    }

    void renaming()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        StoreFixture fixture;
        storeRegistry(fixture, {record(QStringLiteral("Pixel"), 1)});
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        store.renameTrustedDevice(record({}, 1).id, name);
        QCOMPARE(store.trustedDevices().first().name, expected);
        QCOMPARE(storedRegistry(fixture).devices.first().name, expected);
        QCOMPARE(fixture.host->startCount, 1);
    }

    // A change that cannot be saved does not take effect.
    void unsavedChangesDoNotTakeEffect()
    {
        StoreFixture fixture;
        storeRegistry(fixture, {record(QStringLiteral("Pixel"), 1), record(QStringLiteral("Galaxy"), 2)});
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        const QList<TrustedDeviceRecord> before = store.trustedDevices();

        fixture.keychain->answerNextCall(Keychain::interactionNotAllowed);
        store.forgetTrustedDevice(record({}, 1).id);
        QVERIFY(store.phase().text.startsWith(QStringLiteral("无法保存可信设备：")));
        QCOMPARE(store.trustedDevices(), before);
        QVERIFY(store.hasHost());

        // The next successful save does not carry the failed change.
        store.renameTrustedDevice(record({}, 2).id, QStringLiteral("Galaxy S"));
        QCOMPARE(storedRegistry(fixture).devices.size(), 2);
    }

    void forgetting()
    {
        StoreFixture fixture;
        storeRegistry(fixture, {record(QStringLiteral("Pixel"), 1), record(QStringLiteral("Galaxy"), 2)});
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        store.forgetTrustedDevice(record({}, 2).id);
        QCOMPARE(fixture.host->startCount, 1);
        QCOMPARE(store.trustedDevices().size(), 1);
        store.forgetTrustedDevice(record({}, 1).id);
        QCOMPARE(store.phase(), Phase::idle());
        QVERIFY(!store.hasHost());
        QVERIFY(storedRegistry(fixture).devices.isEmpty());
    }

    void bindingUSBSerials()
    {
        StoreFixture fixture;
        TrustedDeviceRecord first = record(QStringLiteral("Pixel"), 1);
        first.usbSerial = QStringLiteral("SERIAL1");
        storeRegistry(fixture, {first, record(QStringLiteral("Galaxy"), 2)});
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());

        store.bindUSBSerial(QStringLiteral("SERIAL1"), record({}, 2).id);
        QVERIFY(!store.trustedDevices()[0].usbSerial);
        QCOMPARE(store.trustedDevices()[1].usbSerial, QStringLiteral("SERIAL1"));

        const qsizetype callsBefore = fixture.keychain->calls().size();
        store.bindUSBSerial(QStringLiteral("SERIAL1"), record({}, 2).id);
        store.bindUSBSerial(QString(257, QLatin1Char('s')), record({}, 1).id);
        store.bindUSBSerial(QStringLiteral("SER\tIAL"), record({}, 1).id);
        QCOMPARE(fixture.keychain->calls().size(), callsBefore);
    }

    // Tasks and their file

    void tasksComeBackAfterARelaunch()
    {
        StoreFixture fixture;
        {
            TransferStore &store = fixture.make();
            fixture.pair();
            fixture.deliver({makeEvent(Kind::sending, Direction::sending, QStringLiteral("send")),
                             makeEvent(Kind::receiving, Direction::receiving, QStringLiteral("receive")),
                             makeEvent(Kind::paused, Direction::receiving, QStringLiteral("paused"))});
            store.persistTasks(true);
        }
        TransferStore &store = fixture.make();
        QCOMPARE(store.tasks().size(), 3);
        QCOMPARE(store.tasks()[0].status, Status::paused);
        QCOMPARE(store.tasks()[1].status, Status::waitingForConnection);
        QCOMPARE(store.tasks()[1].message, QStringLiteral("等待发送设备继续"));
        QCOMPARE(store.tasks()[2].status, Status::waitingForConnection);
        QCOMPARE(store.tasks()[2].message, QStringLiteral("等待设备重新连接后继续"));
    }

    void finishedTasksArePruned()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        for (int number = 0; number < 10; ++number) {
            fixture.host->events.push_back(
                makeEvent(Kind::queued, Direction::sending, QStringLiteral("queued-%1").arg(number)));
        }
        for (int number = 0; number < 250; ++number) {
            fixture.host->events.push_back(
                makeEvent(Kind::completed, Direction::sending, QStringLiteral("done-%1").arg(number)));
        }
        store.drainEvents();
        QCOMPARE(store.tasks().size(), 210);
        QCOMPARE(store.tasks().first().id, QStringLiteral("done-249"));
        QCOMPARE(store.tasks().last().id, QStringLiteral("queued-0"));
        QCOMPARE(store.activeTasks().size(), 10);
    }

    void debouncedWritesKeepTheLastState()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        store.persistTasks(true);
        TransferEvent progress = makeEvent(Kind::receiving, Direction::receiving, QStringLiteral("t-1"));
        for (uint64_t bytes : {10u, 20u, 30u}) {
            progress.transferredBytes = bytes;
            progress.totalBytes = 100;
            fixture.deliver({progress});
        }
        const auto writtenBytes = [&] {
            QFile file(fixture.taskFile());
            file.open(QIODevice::ReadOnly);
            const QJsonArray array = QJsonDocument::fromJson(file.readAll()).array();
            return array.isEmpty() ? -1 : array.first().toObject().value(QStringLiteral("transferredBytes")).toInt();
        };
        QCOMPARE(writtenBytes(), -1);
        QTRY_COMPARE_WITH_TIMEOUT(writtenBytes(), 30, 2000);
        QCOMPARE(store.overallProgress(), 0.3);
    }

    void failedTaskWriteIsShown()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.pair();
        QVERIFY(QDir().mkpath(fixture.taskFile())); // a folder where the file should be
        store.persistTasks(true);
        QVERIFY(store.phase().text.startsWith(QStringLiteral("无法保存传输任务：")));
    }
};

QTEST_GUILESS_MAIN(TransferStoreTest)
#include "test_transfer_store.moc"

#include "StoreTestSupport.h"

#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;
using Kind = TransferEventKind;
using Direction = TransferDirection;
using Account = TransferCredentialStore::Account;

namespace {

const QString noNetwork = u"请先让电脑连接到局域网，然后重试。"_s;
const QString newSecret = u"0123456789abcdef0123456789abcdef-new"_s;

// A store started with phones "Pixel" (1) and "Galaxy" (2), the one numbered `selected` selected.
TransferStore &startedWithTwoPhones(StoreFixture &fixture, int selected = 1)
{
    fixture.saveRegistry({trustedPhone(u"Pixel"_s, 1), trustedPhone(u"Galaxy"_s, 2)}, selected - 1);
    TransferStore &store = fixture.make();
    awaitTask(store.startUp());
    return store;
}

// setup: "phones" ("Galaxy" of two selected), "startUp" (else a new pairing), "offline", "refused";
// the phase reached, and the secret handed to the host.
using HostStarts = TestTable<QString, Phase, QString>;
// The name the environment gives (null: none), what hostnamed says (null: nothing), the host name, and the name shown.
using DeviceNames = TestTable<QString, QString, QString, QString>;
// Whether the host hands over a secret, the peer id of the pairing, and the one kept (null: none).
using PairedEvents = TestTable<bool, QString, QString>;
// The events after a pairing with "Pixel"; the task's status and byte counts; the completions (entries in
// completedTransfers, and notifications); the phase reached.
using TransferEvents = TestTable<QList<TransferEvent>, Status, qint64, qint64, int, Phase>;

// Counts how often the task file in `folder` is put in place; a save writes aside and then moves the file in.
class TaskFileWrites
{
public:
    explicit TaskFileWrites(const QString &folder) : m_descriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        ::inotify_add_watch(m_descriptor, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_TO);
    }
    ~TaskFileWrites() { ::close(m_descriptor); }
    TaskFileWrites(const TaskFileWrites &) = delete;
    TaskFileWrites &operator=(const TaskFileWrites &) = delete;

    // The writes since the last call.
    int take()
    {
        int writes = 0;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t size; (size = ::read(m_descriptor, buffer, sizeof buffer)) > 0;) {
            for (ssize_t offset = 0; offset < size;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
                writes += event->len > 0 && qstrcmp(event->name, "transfer-tasks-v1.json") == 0;
                offset += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return writes;
    }

private:
    int m_descriptor;
};

} // namespace

class TransferStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void startingTheHost_data()
    {
        const HostStarts rows;
        const Phase refused = Phase::failed(u"TavrineMac.TavrineCoreError.ServiceStart(details: \"port in use\")"_s);
        rows("start-up, no trusted phone", u"startUp"_s, Phase::idle(), u""_s);
        rows("start-up", u"startUp phones"_s, Phase::reconnecting(u"Galaxy"_s), trustedPhone({}, 2).secret);
        rows("start-up, offline", u"startUp phones offline"_s, Phase::failed(noNetwork), u""_s);
        rows("start-up, host fails", u"startUp phones refused"_s, refused, u""_s);
        rows("pairing", u"phones"_s, Phase::pairing(), u""_s);
        rows("pairing, offline", u"offline"_s, Phase::failed(noNetwork), u""_s);
        rows("pairing, host fails", u"refused"_s, refused, u""_s);
    }

    // Every start hands the host the address, the inbox, the name and the identity kept from the first start.
    void startingTheHost()
    {
        const auto [setup, phase, secret] = HostStarts::fetch();
        StoreFixture fixture;
        if (setup.contains(u"offline")) {
            fixture.address.reset();
        }
        if (setup.contains(u"refused")) {
            fixture.host->failNextStart = TavrineCoreError::ServiceStart(u"port in use"_s);
        }
        if (setup.contains(u"phones")) {
            fixture.saveRegistry({trustedPhone(u"Pixel"_s, 1), trustedPhone(u"Galaxy"_s, 2)}, 1);
        }
        TransferStore &store = fixture.make();
        const bool startUp = setup.contains(u"startUp");
        const auto start = [&] {
            startUp ? awaitTask(store.startUp()) : store.beginNewPairing();
        };
        start();
        QCOMPARE(store.phase(), phase);
        QCOMPARE(store.trustedDevices().size(), setup.contains(u"phones") ? 2 : 0);
        QCOMPARE(fixture.host->startCount, store.hasHost() ? 1 : 0);
        if (!store.hasHost()) {
            return;
        }
        QCOMPARE(fixture.host->startArguments.last(),
                 (QStringList{u"127.0.0.1"_s, fixture.inbox(), u"Test computer"_s, QString(), secret}));
        QCOMPARE(fixture.keychainText(Account::hostIdentity), u"identity-material"_s);
        QCOMPARE(store.confirmationCode(), u"123456"_s);
        const auto pending = store.pendingPairingDeviceID();
        QCOMPARE(pending.has_value(), !startUp);

        // A running host, or a pairing under way, is left alone.
        start();
        QCOMPARE(fixture.host->startCount, 1);
        QCOMPARE(store.pendingPairingDeviceID(), pending);

        store.stopHost();
        QCOMPARE(store.phase(), Phase::idle());
        QVERIFY(!store.pairingPayload() && !store.confirmationCode() && !store.hasHost());
        store.beginNewPairing();
        QCOMPARE(fixture.host->startArguments.last().mid(3), (QStringList{u"identity-material"_s, QString()}));
        QVERIFY(store.pendingPairingDeviceID() && store.pendingPairingDeviceID() != pending);
        QCOMPARE(*store.pendingPairingDeviceID(), store.pendingPairingDeviceID()->toLower());
    }

    void deviceName_data()
    {
        const DeviceNames rows;
        rows("given", u"Given"_s, u"Study Mac"_s, u"study"_s, u"Given"_s);
        rows("pretty host name", {}, u" Study Mac "_s, u"study"_s, u"Study Mac"_s);
        rows("blank pretty host name", {}, u" "_s, u"study"_s, u"study"_s);
        rows("host name", {}, {}, u"study"_s, u"study"_s);
        rows("no name at all", {}, {}, u""_s, u"这台电脑"_s);
    }

    // The phone shows the name the user gave the computer.
    void deviceName()
    {
        const auto [given, pretty, host, expected] = DeviceNames::fetch();
        StoreFixture fixture;
        fixture.deviceName = given.isNull() ? std::nullopt : std::optional(given);
        fixture.computerNames->pretty = pretty;
        fixture.computerNames->host = host;
        fixture.make().beginNewPairing();
        QCOMPARE(fixture.host->startArguments.value(0).value(2), expected);
    }

    void pairedEvent_data()
    {
        const PairedEvents rows;
        rows("new phone", true, u" peer-8\n"_s, u"peer-8"_s);
        rows("no secret from the host: nothing stored", false, u"peer-8"_s, u""_s);
        // A peer id that breaks the record rules must not make the registry unsavable.
        rows("tab in the peer id", true, u"peer\tone"_s, {});
        rows("zero-width joiner in the peer id", true, u"peer\u200Done"_s, {});
        rows("129-character peer id", true, QString(129, u'p'), {});
    }

    // The pump applies at once what the core queued before it started, not a period later; then it goes on.
    void pairedEvent()
    {
        const auto [hostSecret, peerId, storedPeerID] = PairedEvents::fetch();
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        fixture.host->events = {linkEvent(Kind::connecting, {}, {}),
                                linkEvent(Kind::awaitingConfirmation, u"Pixel 8"_s, peerId)};
        store.beginNewPairing();
        const QString pendingID = *store.pendingPairingDeviceID();
        QCoreApplication::processEvents();
        QCOMPARE(store.phase(), Phase::awaitingConfirmation(u"Pixel 8"_s));
        if (hostSecret) {
            fixture.host->trustedPeerSecret = newSecret;
        }
        fixture.host->events.push_back(linkEvent(Kind::paired, u"Pixel 8"_s, peerId));
        QTRY_COMPARE_WITH_TIMEOUT(store.phase(), Phase::connected(u"Pixel 8"_s), 20'000);
        QCOMPARE(fixture.keychainText(Account::trustedPeerName), u"Pixel 8"_s);
        QCOMPARE(store.trustedDevices().size(), hostSecret ? 1 : 0);
        QCOMPARE(fixture.registryStore().load().devices, store.trustedDevices());
        if (!hostSecret) {
            return;
        }
        const TrustedDeviceRecord &device = store.trustedDevices().first();
        QCOMPARE(device.id, pendingID);
        QCOMPARE(device.name, u"Pixel 8"_s);
        QCOMPARE(device.peerID, storedPeerID.isNull() ? std::nullopt : std::optional(storedPeerID));
        QCOMPARE(device.secret, newSecret);
        QCOMPARE(store.selectedTrustedDeviceID(), pendingID);
        QVERIFY(!store.pendingPairingDeviceID());
        QCOMPARE(fixture.keychainText(Account::trustedPeerSecret), newSecret);
    }

    void twentyFirstPhoneDropsTheOldest()
    {
        StoreFixture fixture;
        QList<TrustedDeviceRecord> devices;
        for (int number = 1; number <= 20; ++number) {
            devices.append(trustedPhone(u"Phone %1"_s.arg(number), number));
        }
        fixture.saveRegistry(devices);
        TransferStore &store = fixture.make();
        awaitTask(store.startUp());
        fixture.pair(u"Newcomer"_s, u"peer-new"_s);
        QCOMPARE(store.trustedDevices().size(), 20);
        QCOMPARE(store.trustedDevices().first().name, u"Newcomer"_s);
        QCOMPARE(store.trustedDevices().last().name, u"Phone 19"_s);
    }

    void selectingAndForgettingPhones()
    {
        StoreFixture fixture;
        TransferStore &store = startedWithTwoPhones(fixture, 1);
        store.selectTrustedDevice(trustedPhone({}, 1).id);
        store.selectTrustedDevice(u"no-such-id"_s);
        QCOMPARE(fixture.host->startCount, 1);
        store.selectTrustedDevice(trustedPhone({}, 2).id);
        QCOMPARE(fixture.host->startArguments.last()[4], trustedPhone({}, 2).secret);
        QCOMPARE(store.phase(), Phase::reconnecting(u"Galaxy"_s));
        QCOMPARE(fixture.registryStore().load().selectedDeviceID, trustedPhone({}, 2).id);

        // A phone that is not selected goes without touching the host; the last one takes the host along.
        store.forgetTrustedDevice(trustedPhone({}, 1).id);
        QCOMPARE(fixture.host->startCount, 2);
        QCOMPARE(store.trustedDevices().size(), 1);
        store.forgetTrustedDevice(trustedPhone({}, 2).id);
        QCOMPARE(store.phase(), Phase::idle());
        QVERIFY(!store.hasHost());
        QVERIFY(fixture.registryStore().load().devices.isEmpty());
    }

    void renaming_data()
    {
        const TestTable<QString, QString> rows; // the name given, and the one kept
        const auto decomposed = [](int length) {
            return QString(length, QChar(0xE9)).normalized(QString::NormalizationForm_D);
        };
        rows("trimmed", u"  Work phone \n"_s, u"Work phone"_s);
        rows("characters, not code units", decomposed(100), decomposed(80));
    }

    void renaming()
    {
        const auto [name, expected] = TestTable<QString, QString>::fetch();
        StoreFixture fixture;
        TransferStore &store = startedWithTwoPhones(fixture, 1);
        store.renameTrustedDevice(trustedPhone({}, 1).id, name);
        QCOMPARE(store.trustedDevices().first().name, expected);
        QCOMPARE(fixture.registryStore().load().devices.first().name, expected);
        QCOMPARE(fixture.host->startCount, 1);
    }

    void changesThatCannotBeSavedDoNotTakeEffect_data()
    {
        const TestTable<QString, QString> rows; // the change, and the start of the failure shown
        rows("pair", u"pair"_s, u"连接已建立，但无法安全保存设备信任："_s);
        for (const char *change : {"select", "rename", "forget", "bind"})
            rows(change, QString::fromLatin1(change), u"无法保存可信设备："_s);
    }

    // The registry in memory keeps what was saved, the host stays, and the next save carries nothing of the change.
    void changesThatCannotBeSavedDoNotTakeEffect()
    {
        const auto [change, shown] = TestTable<QString, QString>::fetch();
        StoreFixture fixture;
        TransferStore &store = startedWithTwoPhones(fixture, 1);
        const QString pixel = trustedPhone({}, 1).id;
        TrustedDeviceRegistry saved = fixture.registryStore().load();
        if (change == u"pair") {
            store.beginNewPairing();
            fixture.host->trustedPeerSecret = newSecret;
            fixture.keychain->setItem(u"com.drovan.tavrine.transfer"_s,
                                      TransferCredentialStore::accountName(Account::trustedPeerSecret), "old");
            fixture.keychain->answerNextCall(Keychain::success); // the secret is replaced, the registry is not
        }
        fixture.keychain->answerNextCall(Keychain::interactionNotAllowed);
        if (change == u"pair") {
            fixture.deliver({linkEvent(Kind::paired, u"Newcomer"_s, u"peer-3"_s)});
        } else if (change == u"select") {
            store.selectTrustedDevice(trustedPhone({}, 2).id);
        } else if (change == u"rename") {
            store.renameTrustedDevice(pixel, u"Renamed"_s);
        } else if (change == u"forget") {
            store.forgetTrustedDevice(pixel);
        } else {
            store.bindUSBSerial(u"SERIAL"_s, pixel);
        }
        QVERIFY2(store.phase().text.startsWith(shown), qPrintable(store.phase().text));
        QCOMPARE(store.phase().kind, Phase::Kind::failed);
        QCOMPARE(store.trustedDevices(), saved.devices);
        QCOMPARE(store.selectedTrustedDeviceID(), saved.selectedDeviceID);
        QVERIFY(store.hasHost());
        QCOMPARE(fixture.host->startCount, change == u"pair" ? 2 : 1);
        store.renameTrustedDevice(trustedPhone({}, 2).id, u"Galaxy S"_s);
        saved.devices[1].name = u"Galaxy S"_s;
        QCOMPARE(fixture.registryStore().load(), saved);
    }

    // A serial belongs to one phone at a time.
    void bindingUSBSerials()
    {
        StoreFixture fixture;
        TransferStore &store = startedWithTwoPhones(fixture);
        store.bindUSBSerial(u"SERIAL1"_s, trustedPhone({}, 1).id);
        store.bindUSBSerial(u"SERIAL1"_s, trustedPhone({}, 2).id);
        QVERIFY(!store.trustedDevices()[0].usbSerial);
        QCOMPARE(store.trustedDevices()[1].usbSerial, u"SERIAL1"_s);
        QCOMPARE(fixture.registryStore().load().devices, store.trustedDevices());

        // The same binding again, or a serial that breaks the record rules, saves nothing.
        const qsizetype callsBefore = fixture.keychain->calls().size();
        store.bindUSBSerial(u"SERIAL1"_s, trustedPhone({}, 2).id);
        store.bindUSBSerial(QString(257, u's'), trustedPhone({}, 1).id);
        store.bindUSBSerial(u"SER\tIAL"_s, trustedPhone({}, 1).id);
        QCOMPARE(fixture.keychain->calls().size(), callsBefore);
    }

    void transferEvents_data()
    {
        const TransferEvents rows;
        const auto event = [](Kind kind, uint64_t transferred = 0, uint64_t total = 0) {
            return transferEvent(kind, Direction::receiving, u"t-1"_s, transferred, total);
        };
        TransferEvent linkFailure = linkEvent(Kind::failed);
        linkFailure.message = u"配对连接已断开"_s;
        const Phase connected = Phase::connected(u"Pixel"_s);
        rows("completed twice", {event(Kind::completed, 5, 5), event(Kind::completed, 5, 5)}, Status::completed, 5, 5,
             1, connected);
        rows("byte counts clamped, never back",
             {event(Kind::receiving, 100, UINT64_MAX), event(Kind::receiving, 50, 10)}, Status::receiving, 100,
             std::numeric_limits<qint64>::max(), 0, connected);
        rows("link failure touches no task", {event(Kind::receiving, 1, 2), linkFailure}, Status::receiving, 1, 2, 0,
             Phase::failed(u"配对连接已断开"_s));
        rows("waiting, disconnected", {event(Kind::waitingForConnection), linkEvent(Kind::disconnected)},
             Status::waitingForConnection, 0, 0, 0, Phase::reconnecting(u"Pixel"_s));
        rows("waiting, then reconnected", {event(Kind::waitingForConnection), linkEvent(Kind::paired)}, Status::queued,
             0, 0, 0, connected);
    }

    void transferEvents()
    {
        const auto [events, status, transferred, total, completions, phase] = TransferEvents::fetch();
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        fixture.deliver(events);
        QCOMPARE(store.phase(), phase);
        QCOMPARE(store.tasks().size(), 1);
        const TransferTaskRecord &task = store.tasks().first();
        QCOMPARE(task.status, status);
        QCOMPARE(task.transferredBytes, transferred);
        QCOMPARE(task.totalBytes, total);
        QCOMPARE(task.peerName, u"Pixel"_s);
        QVERIFY(status != Status::queued || task.message == u"等待继续"_s);
        QCOMPARE(store.completedTransfers().size(), completions);
        QCOMPARE(fixture.notifications->posted.size(), completions);
        for (const TransferNotification &notification : fixture.notifications->posted) {
            QCOMPARE(notification.title + notification.body, u"文件已接收a.jpg"_s);
        }
    }

    void managementOutcomes_data()
    {
        const TestTable<QString, QString> rows; // what becomes of the request, and the answer or the failure's text
        rows("answered", u"answer"_s, u"{\"items\":[]}"_s);
        rows("empty answer", u"answer"_s, u""_s);
        rows("refused", u"refuse"_s, u"没有权限"_s);
        rows("refused without a message", u"refuse silently"_s, u"手机没有完成这个操作。"_s);
        rows("never answered", u"none"_s, u"手机响应超时，请刷新后重试"_s);
        rows("link drops", u"drop"_s, u"手机连接已中断，请等待自动恢复后重试。"_s);
        rows("core refuses", u"core"_s,
             u"TavrineMac.TavrineCoreError.InvalidManagementRequest(details: \"too large\")"_s);
        rows("not yet confirmed", u"unconfirmed"_s, u"手机尚未连接。"_s);
    }

    // Whatever becomes of a request, its caller hears of it once and nothing is left waiting.
    void managementOutcomes()
    {
        const auto [outcome, result] = TestTable<QString, QString>::fetch();
        StoreFixture fixture;
        fixture.managementTimeout = std::chrono::milliseconds(150);
        TransferStore &store = fixture.make();
        store.beginNewPairing();
        fixture.deliver({linkEvent(outcome == u"unconfirmed" ? Kind::awaitingConfirmation : Kind::paired)});
        if (outcome == u"core") {
            fixture.host->failNextRequest = TavrineCoreError::InvalidManagementRequest(u"too large"_s);
        }
        auto request = store.requestManagement(u"files.list"_s, u"{}"_s);
        if (outcome.startsWith(u"answer") || outcome.startsWith(u"refuse")) {
            fixture.answer(1, outcome == u"answer", outcome.endsWith(u"silently") ? QString() : result);
        } else if (outcome == u"drop") {
            fixture.deliver({linkEvent(Kind::disconnected)});
        }
        QCOMPARE(outcomeOf(request), result);
        QCOMPARE(store.pendingManagementRequestCount(), 0);
    }

    // A drain cut short takes no answer: an answer that came after the link dropped is not taken ahead of the drop.
    void answersWaitForTheEventsQueuedBeforeThem()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        auto request = store.requestManagement(u"files.list"_s, u"{}"_s);
        for (int number = 0; number < TransferStore::maximumEventsPerDrain; ++number) {
            fixture.host->events.push_back(transferEvent(Kind::receiving, Direction::receiving, u"r"_s, number, 1000));
        }
        fixture.host->events.push_back(linkEvent(Kind::disconnected));
        fixture.answer(1, true, u"[]"_s);
        QCOMPARE(store.pendingManagementRequestCount(), 1);
        QCOMPARE(outcomeOf(request), DeviceManagementRequestError::disconnected().errorDescription());
        QCOMPARE(store.phase(), Phase::reconnecting(u"Pixel"_s));
    }

    void finishedTasksArePruned()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        for (int number = 0; number < 260; ++number) {
            const bool active = number < 10;
            fixture.host->events.push_back(transferEvent(active ? Kind::queued : Kind::completed, Direction::sending,
                                                         u"%1-%2"_s.arg(active ? u"q"_s : u"done"_s).arg(number)));
        }
        store.drainEvents();
        QCOMPARE(store.tasks().size(), 210);
        QCOMPARE(store.tasks().first().id, u"done-259"_s);
        QCOMPARE(store.tasks().last().id, u"q-0"_s);
        QCOMPARE(store.activeTasks().size(), 10);
    }

    // Two hundred files handed over at once are one change: the list is published and the task file written once,
    // with every file queued and the oldest already on its way.
    void aHandOverOfManyFilesIsOneChange()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        QStringList paths;
        for (int number = 0; number < 200; ++number) {
            paths.append(fixture.writeFile(u"f%1.txt"_s.arg(number)));
        }
        TaskFileWrites writes(fixture.folder.path());
        QSignalSpy changes(&store, &TransferStore::tasksChanged);
        store.sendFiles(paths);
        QCOMPARE(changes.size(), 1);
        store.waitForTaskFile();
        QCOMPARE(writes.take(), 1);
        const QList<TransferTaskRecord> written = TransferTaskRepository(fixture.taskFile()).load();
        QCOMPARE(written.size(), 200);
        for (qsizetype index = 0; index < written.size(); ++index) {
            QCOMPARE(written.at(index).id, store.tasks().at(index).id);
            QCOMPARE(written.at(index).status, store.tasks().at(index).status);
        }
        QCOMPARE(written.last().fileName, u"f0.txt"_s);
        QCOMPARE(written.last().status, Status::sending);
        QCOMPARE(written.first().status, Status::queued);
        QCOMPARE(fixture.calls(u"send:"_s), QStringList{u"send:"_s + written.last().id});
    }

    // A phone that offers files and pauses each at once, over and over: the pump takes the events a batch at a
    // time and lets the event loop run between batches, in the order they came; each batch writes the task file
    // once, and saving leaves no timer behind.
    void aFloodOfEventsIsTakenInBatches()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        TaskFileWrites writes(fixture.folder.path());
        constexpr int offers = 1500;
        for (int number = 0; number < offers; ++number) {
            const QString id = u"flood-%1"_s.arg(number);
            fixture.host->events.push_back(transferEvent(Kind::receiving, Direction::receiving, id, 0, 2 << 20));
            fixture.host->events.push_back(transferEvent(Kind::paused, Direction::receiving, id, 0, 2 << 20));
        }
        store.drainEvents();
        QCOMPARE(qsizetype(fixture.host->events.size()), 2 * offers - TransferStore::maximumEventsPerDrain);
        store.waitForTaskFile();
        QCOMPARE(writes.take(), 1);
        QCOMPARE(store.findChildren<QTimer *>(), QList<QTimer *>());

        // What else the event loop holds runs while the flood is still coming in.
        QObject context;
        QList<qsizetype> queuedAtOtherWork;
        int batches = 0;
        connect(&store, &TransferStore::tasksChanged, &context, [&] {
            ++batches;
            QTimer::singleShot(0, &context, [&] { queuedAtOtherWork.append(qsizetype(fixture.host->events.size())); });
        });
        QTRY_VERIFY_WITH_TIMEOUT(fixture.host->events.empty() && queuedAtOtherWork.size() == batches, 60'000);
        QVERIFY2(*std::max_element(queuedAtOtherWork.begin(), queuedAtOtherWork.end()) > 0,
                 qPrintable(QString::number(batches)));
        store.waitForTaskFile();
        const int left = 2 * offers - TransferStore::maximumEventsPerDrain;
        QCOMPARE(batches, (left + TransferStore::maximumEventsPerDrain - 1) / TransferStore::maximumEventsPerDrain);
        QVERIFY(writes.take() <= batches);
        QCOMPARE(store.findChildren<QTimer *>(), QList<QTimer *>());
        for (const QList<TransferTaskRecord> &tasks :
             {store.tasks(), TransferTaskRepository(fixture.taskFile()).load()}) {
            QCOMPARE(tasks.size(), offers);
            for (int number = 0; number < offers; ++number) {
                const TransferTaskRecord &task = tasks.at(offers - 1 - number);
                QCOMPARE(task.id, u"flood-%1"_s.arg(number));
                QCOMPARE(task.status, Status::paused);
            }
        }
    }

    void aRequestAskedAgainAfterADropGoesOn_data()
    {
        const TestTable<QString> rows; // what the request asks the phone for
        rows("an upload's folder", u"files.prepare_upload"_s);
        rows("a download", u"files.download"_s);
    }
    // The link drops while the phone is asked to prepare an upload's folder, or to send a download, and comes back at
    // once: the failure of the request that the drop cut short is no answer to the one asked again for the same task,
    // and the transfer goes on once that one is answered.
    void aRequestAskedAgainAfterADropGoesOn()
    {
        const auto [action] = TestTable<QString>::fetch();
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        const QString destination = fixture.folder.filePath(u"chosen"_s);
        QVERIFY(QDir().mkpath(destination));
        if (action == u"files.download") {
            store.enqueueManagedDownloads({preparedDownload(u"d1"_s, u"a.jpg"_s)}, destination);
        } else {
            store.enqueueManagedUploads({{fixture.writeFile(u"a.txt"_s), u"folder-1"_s, u"a.txt"_s, {}, {}}});
        }
        QCOMPARE(fixture.calls(u"request:"_s + action).size(), 1);
        fixture.deliver({linkEvent(Kind::disconnected), linkEvent(Kind::paired)});
        QCOMPARE(fixture.calls(u"request:"_s + action).size(), 2);
        QVERIFY(settleBackgroundWork());
        QCOMPARE(store.tasks()[0].status, Status::queued);

        fixture.answer(2, true);
        if (action == u"files.download") {
            fixture.deliver({transferEvent(Kind::receiving, Direction::receiving, u"d1"_s, 1, 5)});
            QCOMPARE(store.tasks()[0].status, Status::receiving);
        } else {
            QTRY_COMPARE(fixture.calls(u"send:"_s), QStringList{u"send:"_s + store.tasks()[0].id});
            QCOMPARE(store.tasks()[0].status, Status::sending);
        }
    }

    // A new task is written at once and its progress once it settles; after a relaunch the tasks wait for the phone,
    // and a file that cannot be written is shown.
    void writingAndReadingTheTaskFile()
    {
        StoreFixture fixture;
        fixture.makePaired().persistTasks(true);
        for (uint64_t bytes : {10u, 20u, 30u}) {
            fixture.deliver({transferEvent(Kind::receiving, Direction::receiving, u"receive"_s, bytes, 100)});
        }
        const auto written = [&] {
            return TransferTaskRepository(fixture.taskFile()).load();
        };
        fixture.store->waitForTaskFile();
        QCOMPARE(written().value(0).id, u"receive"_s);
        QTRY_COMPARE_WITH_TIMEOUT(written().value(0).transferredBytes, 30, 20'000);
        fixture.deliver({transferEvent(Kind::sending, Direction::sending, u"send"_s),
                         transferEvent(Kind::paused, Direction::receiving, u"paused"_s)});
        const QList<TransferTaskRecord> tasks = fixture.make().tasks();
        QCOMPARE(tasks.size(), 3);
        QCOMPARE(tasks[0].status, Status::paused);
        QCOMPARE(tasks[1].status, Status::waitingForConnection);
        QCOMPARE(tasks[1].message, u"等待设备重新连接后继续"_s);
        QCOMPARE(tasks[2].status, Status::waitingForConnection);
        QCOMPARE(tasks[2].message, u"等待发送设备继续"_s);
        QVERIFY(QFile::remove(fixture.taskFile()) && QDir().mkpath(fixture.taskFile())); // a folder in its place
        fixture.store->persistTasks(true);
        QTRY_VERIFY(fixture.store->taskFileProblem().value_or(QString()).startsWith(u"无法保存传输任务："_s));
    }
};

QTEST_GUILESS_MAIN(TransferStoreTest)
#include "test_transfer_store.moc"

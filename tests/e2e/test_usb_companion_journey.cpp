#include "AwaitTask.h"
#include "DefaultADBClient.h"
#include "DeviceStore.h"
#include "LinkedStoreFixture.h"
#include "ZipBuilder.h"

#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using CompanionState = DeviceStore::CompanionInstallState;

// One journey's desktop side over a folder of its own: the transfer store over the real core, and the device store
// over the fake adb with the companion package among its resources; the fake adb starts the phone program when
// the companion is launched with a pairing URL.
struct CompanionJourney
{
    LinkedStoreFixture link;
    const QDir folder{link.folder.path()};
    const QString state = folder.filePath(u"fake-adb"_s);
    std::unique_ptr<DeviceStore> devices;
    TransferStore *transfers = nullptr;
    // The phone program reads its commands from a pipe held open through this: the fake adb gives it none, and the
    // end of its input would end it before the pairing.
    int inputWriter = -1;

    // Lists `phones` (the fake adb's devices.json) with the companion installed on the phones of `storages`; false
    // when a file cannot be written.
    bool start(const QByteArray &phones, const QStringList &storages)
    {
        bool written = writeFile(state + u"/devices.json"_s, phones);
        // The fake phone knows a package only by its entry "fake-adb-package", which the ZIP helper cannot fill.
        for (const QString &storage : storages)
            written = written && writeFile(state + u"/installed/"_s + storage, "com.drovan.tavrine\n");
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        qputenv("TAVRINE_FAKE_ADB_STATE", state.toUtf8());
        const QString input = folder.filePath(u"phone-input"_s);
        if (!written || mkfifo(QFile::encodeName(input).constData(), 0600) != 0)
            return false;
        inputWriter = ::open(QFile::encodeName(input).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        const QString launcher = folder.filePath(u"phone"_s);
        const QString resources = folder.filePath(u"Android"_s);
        if (inputWriter < 0 ||
            !writeFile(launcher, u"#!/bin/sh\nexec '%1' \"$@\" < '%2'\n"_s
                                     .arg(QCoreApplication::applicationDirPath() + u"/tavrine-phone"_s, input)
                                     .toUtf8()) ||
            !QFile::setPermissions(launcher, QFile::ReadOwner | QFile::ExeOwner) || !writeCompanionResources(resources))
            return false;
        qputenv("TAVRINE_FAKE_ADB_PHONE", launcher.toUtf8());
        transfers = &link.makeStore();
        devices = std::make_unique<DeviceStore>(makeDefaultADBClient(),
                                                InstallHistoryStore(folder.filePath(u"history.json"_s)),
                                                DeviceStoreEnvironment{nullptr, resources});
        return true;
    }

    // Whether the phone program the companion of `storage` started pairs and connects under `name`.
    bool connects(const QString &name, const QString &storage)
    {
        const bool connected =
            link.waitUntil([&] { return transfers->phase() == TransferStore::Phase::connected(name); });
        if (!connected)
            qWarning("%s", qPrintable(transfers->phase().text + u" / "_s + phoneLog(storage)));
        return connected;
    }

    QString phoneLog(const QString &storage) const
    {
        return QString::fromUtf8(contentsOf(state + u"/phone-"_s + storage + u".log"_s));
    }

    // Ends the phone program of `storage` by ending its input, as "quit" does.
    void endPhoneProgram(const QString &storage)
    {
        const pid_t phone = contentsOf(state + u"/phone-"_s + storage + u".pid"_s).trimmed().toInt();
        QVERIFY(phone > 0);
        ::close(std::exchange(inputWriter, -1));
        // Ended, or ended and left unreaped by a parent that is not this test.
        const auto ended = [phone] {
            const QByteArray status = contentsOf(u"/proc/%1/stat"_s.arg(phone));
            return ::kill(phone, 0) != 0 || status.mid(status.lastIndexOf(')') + 2, 1) == "Z";
        };
        if (!QTest::qWaitFor(ended, 10'000)) {
            ::kill(phone, SIGTERM);
            QFAIL("the phone program did not quit");
        }
    }

    ~CompanionJourney()
    {
        if (inputWriter >= 0)
            ::close(inputWriter);
    }
};

// Pairing over USB as the user meets it: the desktop's transfer store over the real core, the device store over the
// fake adb, and the companion program that the fake adb starts when the companion is launched with a pairing URL.
class USBCompanionJourneyTest : public QObject
{
    Q_OBJECT

private slots:
    void installCompanionPairsThePhone()
    {
        CompanionJourney journey;
        QVERIFY(journey.start(R"([{"serial": "R58N", "model": "Pixel_7"}])", {u"R58N"_s}));
        TransferStore &transfers = *journey.transfers;
        DeviceStore &devices = *journey.devices;
        QList<CompanionState> shown;
        connect(&devices, &DeviceStore::companionInstallStateChanged, this,
                [&] { shown.append(devices.companionInstallState()); });

        awaitTask(devices.refresh());
        transfers.beginNewPairing();
        QVERIFY(transfers.pairingPayload());
        QCoro::Task<void> install = devices.installCompanionAndConnect(*transfers.pairingPayload());
        QVERIFY(!devices.canInstallCompanion());
        devices.markCompanionConnected(); // still installing: nothing changes
        awaitTask(install);
        QVERIFY(journey.connects(u"Pixel 7"_s, u"R58N"_s));
        devices.markCompanionConnected(); // as the main window does when the trusted phone connects

        const QString awaiting = u"请在手机上确认相同号码"_s;
        QCOMPARE(shown,
                 (QList<CompanionState>{CompanionState::installing(u"正在安装 Tavrine 2.1.0，完成后会自动打开…"_s),
                                        CompanionState::awaitingConfirmation(awaiting),
                                        CompanionState::connected(u"手机端已安装并安全连接"_s)}));
        QCOMPARE(devices.pairingLaunchMessage(), std::nullopt); // said while it was under way
        QVERIFY(devices.installHistory().isEmpty());            // the companion is never recorded
        // The phones are listed before the install and before the start, which find the phone, and again once the
        // companion is in.
        QCOMPARE(contentsOf(journey.state + u"/commands.log"_s).count(R"(["-P", "45037", "devices", "-l"])"), 4);
        // The phone keeps its pairing, to come back without the cable.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(journey.state + u"/phones/R58N/.tavrine/state.json"_s), 10'000);
        journey.endPhoneProgram(u"R58N"_s);
    }

    // Two cheap phones share one USB serial: the one chosen gets the companion and pairs; the other is left alone.
    void theChosenOfTwoPhonesOfOneSerialPairs()
    {
        CompanionJourney journey;
        QVERIFY(journey.start(R"([{"serial": "0123456789ABCDEF", "model": "SM-S9180", "storage": "samsung"},
                                  {"serial": "0123456789ABCDEF", "model": "Redmi Note 12", "storage": "redmi"}])",
                              {u"samsung"_s, u"redmi"_s}));
        DeviceStore &devices = *journey.devices;
        awaitTask(devices.refresh());
        QCOMPARE(devices.devices().size(), 2);
        devices.setSelectedDeviceID(devices.devices().last().id()); // as the Redmi's row does
        journey.transfers->beginNewPairing();
        QVERIFY(journey.transfers->pairingPayload());
        awaitTask(devices.installCompanionAndConnect(*journey.transfers->pairingPayload()));
        QVERIFY(journey.connects(u"Redmi Note 12"_s, u"redmi"_s));
        QVERIFY(!QFile::exists(journey.state + u"/phone-samsung.pid"_s));
        for (const QByteArray &line : contentsOf(journey.state + u"/commands.log"_s).split('\n')) {
            // Installing and opening the companion reach the Redmi alone.
            const bool reachesAPhone = line.contains("install") || line.contains(R"("am")");
            QVERIFY2(!reachesAPhone || line.contains(R"("-t", "2")"), line.constData());
        }
        journey.endPhoneProgram(u"redmi"_s);
    }

    // A phone without the companion: its activity manager says so and ends with status 0, as real phones do. The
    // desktop does not ask the user to confirm a number that nothing shows.
    void aPhoneWithoutTheCompanionIsNotAskedToConfirm()
    {
        LinkedStoreFixture link;
        const QDir folder(link.folder.path());
        const QString state = folder.filePath(u"fake-adb"_s);
        QVERIFY(writeFile(state + u"/devices.json"_s, R"([{"serial": "R58N", "model": "Pixel 7"}])"));
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        qputenv("TAVRINE_FAKE_ADB_STATE", state.toUtf8());

        TransferStore &transfers = link.makeStore();
        DeviceStore devices(makeDefaultADBClient(), InstallHistoryStore(folder.filePath(u"history.json"_s)),
                            {nullptr, folder.filePath(u"no-companion"_s)});
        awaitTask(devices.refresh());
        transfers.beginNewPairing();
        QVERIFY(transfers.pairingPayload());
        awaitTask(devices.openCompanion(*transfers.pairingPayload()));
        QCOMPARE(devices.pairingLaunchMessage(), u"未能自动打开手机应用，请使用二维码连接。"_s);
        QCOMPARE(devices.companionInstallState(), CompanionState::idle());
    }
};

QTEST_GUILESS_MAIN(USBCompanionJourneyTest)
#include "test_usb_companion_journey.moc"

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

// Pairing over USB as the user meets it: the desktop's transfer store over the real core, the device store over the
// fake adb, and the companion program that the fake adb starts when the companion is launched with a pairing URL.
class USBCompanionJourneyTest : public QObject
{
    Q_OBJECT

private slots:
    void installCompanionPairsThePhone()
    {
        LinkedStoreFixture link;
        const QDir folder(link.folder.path());
        const QString state = folder.filePath(u"fake-adb"_s);
        QVERIFY(writeFile(state + u"/devices.json"_s, R"([{"serial": "R58N", "model": "Pixel_7"}])"));
        // The fake phone knows a package only by its entry "fake-adb-package", which the ZIP helper cannot fill.
        QVERIFY(writeFile(state + u"/installed/R58N"_s, "com.drovan.tavrine\n"));
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        qputenv("TAVRINE_FAKE_ADB_STATE", state.toUtf8());

        // The phone program reads its commands from a pipe this test holds open: the fake adb gives it none, and
        // the end of its input would end it before the pairing.
        const QString input = folder.filePath(u"phone-input"_s);
        QCOMPARE(mkfifo(QFile::encodeName(input).constData(), 0600), 0);
        const int inputWriter = ::open(QFile::encodeName(input).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(inputWriter >= 0);
        const QString launcher = folder.filePath(u"phone"_s);
        QVERIFY(writeFile(launcher, u"#!/bin/sh\nexec '%1' \"$@\" < '%2'\n"_s
                                        .arg(QCoreApplication::applicationDirPath() + u"/tavrine-phone"_s, input)
                                        .toUtf8()));
        QVERIFY(QFile::setPermissions(launcher, QFile::ReadOwner | QFile::ExeOwner));
        qputenv("TAVRINE_FAKE_ADB_PHONE", launcher.toUtf8());

        const QString resources = folder.filePath(u"Android"_s);
        QVERIFY(writeCompanionResources(resources));

        TransferStore &transfers = link.makeStore();
        DeviceStore devices(makeDefaultADBClient(), InstallHistoryStore(folder.filePath(u"history.json"_s)),
                            {nullptr, resources});
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
        QVERIFY2(link.waitUntil([&] { return transfers.phase() == TransferStore::Phase::connected(u"Pixel 7"_s); }),
                 qPrintable(transfers.phase().text + u" / "_s + contentsOf(state + u"/phone-R58N.log"_s)));
        devices.markCompanionConnected(); // as the main window does when the trusted phone connects

        const QString awaiting = u"请在手机上确认相同号码"_s;
        QCOMPARE(shown,
                 (QList<CompanionState>{CompanionState::installing(u"正在安装 Tavrine 2.1.0，完成后会自动打开…"_s),
                                        CompanionState::awaitingConfirmation(awaiting),
                                        CompanionState::connected(u"手机端已安装并安全连接"_s)}));
        QCOMPARE(devices.pairingLaunchMessage(), awaiting);
        QVERIFY(devices.installHistory().isEmpty()); // the companion is never recorded
        // The phones are listed again once the companion is in.
        QCOMPARE(contentsOf(state + u"/commands.log"_s).count(R"(["-P", "45037", "devices", "-l"])"), 2);
        // The phone keeps its pairing, to come back without the cable.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state + u"/phones/R58N/.tavrine/state.json"_s), 10'000);

        const pid_t phone = contentsOf(state + u"/phone-R58N.pid"_s).trimmed().toInt();
        QVERIFY(phone > 0);
        ::close(inputWriter); // the end of its input ends it, as "quit" does
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

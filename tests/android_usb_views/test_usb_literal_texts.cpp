#include "../transfers_views/LiteralTextChecks.h"
#include "DeviceDashboard.h"
#include "InstallHistoryCard.h"
#include "InstallPlanCard.h"
#include "InstallStatusBanner.h"
#include "TransferActionCard.h"
#include "TransferStatusBanner.h"
#include "USBCompanionSetupCard.h"
#include "UsbViewsTestSupport.h"

using namespace UsbViewsTestSupport;
using namespace LiteralTextChecks;

namespace {

// The cards are given the device store's state as the dashboard gives it; they need nothing else.
struct Surroundings
{
};

template <typename View> View *placed(QWidget &host, View *view)
{
    host.layout()->addWidget(view);
    return view;
}

} // namespace

class UsbLiteralTextsTest : public QObject
{
    Q_OBJECT

private slots:
    void phoneAndAdbTextsShowAsTheyStand_data()
    {
        const Rows<Surroundings> rows;
        rows("install banner: adb's failure", [](QWidget &host, Surroundings &, const QString &text) {
            placed(host, new InstallStatusBanner)->setState(DeviceStore::InstallState::failed("adb: " + text));
        });
        rows("transfer banner: the file and the phone's message",
             [](QWidget &host, Surroundings &, const QString &text) {
                 placed(host, new TransferStatusBanner({}))
                     ->setEvent(TransferEvent{
                         TransferEventKind::failed, TransferDirection::sending, "t", text, 0, 0, {}, {}, text});
             });
        rows("install plan: the packages, their signature and the phone", [](QWidget &host, Surroundings &,
                                                                             const QString &text) {
            const QStringList files{"/下载/" + text + ".apk", "/下载/" + text + "-split.apk"};
            placed(host, new InstallPlanCard({}, {}))->setPlan({APKInstallPlan::Kind::split, files, 1, text}, text);
        });
        rows("install history: the packages", [](QWidget &host, Surroundings &, const QString &text) {
            placed(host, new InstallHistoryCard)->setRecords({installRecord("r", "s", {text + ".apk"})});
        });
        rows("dashboard: the phone's name and facts", [](QWidget &host, Surroundings &, const QString &text) {
            AndroidDevice device = phone();
            device.marketingName = device.manufacturer = text;
            placed(host, new DeviceDashboard(device, nullptr, nullptr, false, {}));
        });
        rows("companion card: the package's check", [](QWidget &host, Surroundings &, const QString &text) {
            placed(host, new USBCompanionSetupCard({}, {}))
                ->setValues(DeviceDashboardPresentation::companionCardValues(
                    {}, text, false, DeviceStore::CompanionInstallState::idle()));
        });
        rows("transfer card: the paired phone", [](QWidget &host, Surroundings &, const QString &text) {
            placed(host, new TransferActionCard({}, {}))->setValues(TransferStore::Phase::Kind::connected, text);
        });
    }

    void phoneAndAdbTextsShowAsTheyStand() { QCOMPARE(rowFaults<Surroundings>(), QString()); }
};

QTEST_MAIN(UsbLiteralTextsTest)
#include "test_usb_literal_texts.moc"

#include "../android_usb_views/UsbViewsTestSupport.h"
#include "../transfers_views/LiteralTextChecks.h"
#include "FirstRunConnectionView.h"
#include "PairingSheet.h"
#include "QuickSendPanel.h"
#include "SidebarRows.h"
#include "USBApprovalView.h"

using namespace UsbViewsTestSupport;
using namespace ViewsTestSupport;
using namespace LiteralTextChecks;

namespace {

struct Stores
{
    StoreFixture transfers;
    DeviceStoreFixture devices;
};

USBAndroidDevice pluggedIn(const QString &name)
{
    return {0x18d1, 0x4ee7, name, name, QStringLiteral("serial")};
}

} // namespace

class AppLiteralTextsTest : public QObject
{
    Q_OBJECT

private slots:
    void phoneAndAdbTextsShowAsTheyStand_data()
    {
        const Rows<Stores> rows;
        rows("quick send: the phone, the file and its failure", [](QWidget &host, Stores &stores, const QString &text) {
            TransferTaskRecord failed = task("t", Status::failed, Direction::sending, 0, 0, text);
            failed.fileName = text;
            stores.transfers.saveTasks({failed});
            stores.transfers.make();
            stores.transfers.pair(text);
            host.layout()->addWidget(new QuickSendPanel(nullptr, stores.transfers.store.get()));
        });
        rows("pairing sheet: the confirming phone and the companion's install failure",
             [](QWidget &host, Stores &stores, const QString &text) {
                 auto *sheet = new PairingSheet(&stores.transfers.make(), &stores.devices.make(), {}, &host);
                 sheet->show();
                 stores.devices.store->setCompanionInstallState(DeviceStore::CompanionInstallState::failed(text));
                 stores.transfers.deliver({linkEvent(TransferEventKind::awaitingConfirmation, text)});
             });
        rows("sidebar: phones by their names", [](QWidget &host, Stores &, const QString &text) {
            AndroidDevice device = phone();
            device.marketingName = text;
            host.layout()->addWidget(new DeviceRow(device));
            host.layout()->addWidget(new TrustedDeviceRow(text, true, true, std::nullopt));
            host.layout()->addWidget(new USBWaitingRow(pluggedIn(text)));
        });
        rows("USB approval: the product's name", [](QWidget &host, Stores &, const QString &text) {
            host.layout()->addWidget(new USBApprovalView(pluggedIn(text)));
        });
        rows("first run: the set-up message", [](QWidget &host, Stores &, const QString &text) {
            host.layout()->addWidget(new FirstRunConnectionView("adb: " + text, {}, {}));
        });
    }

    void phoneAndAdbTextsShowAsTheyStand() { QCOMPARE(rowFaults<Stores>(), QString()); }
};

QTEST_MAIN(AppLiteralTextsTest)
#include "test_app_literal_texts.moc"

#pragma once

#include "AndroidDevice.h"
#include "DeviceStore.h"
#include "TransferStore.h"
#include "TrustedDeviceRecord.h"
#include "TrustedPhoneOnUSB.h"
#include "USBAndroidDevice.h"

#include <QHashFunctions>
#include <QList>
#include <QString>

#include <optional>

// What the sidebar has selected: a trusted phone by its record id, or a USB phone by its id while adb lists it
// (AndroidDevice::id: phones may share a serial).
struct SidebarSelection
{
    enum class Kind
    {
        trustedDevice,
        usbDevice
    };

    Kind kind = Kind::trustedDevice;
    QString value;

    static SidebarSelection trustedDevice(const QString &id) { return {Kind::trustedDevice, id}; }
    static SidebarSelection usbDevice(const QString &deviceID) { return {Kind::usbDevice, deviceID}; }
    bool operator==(const SidebarSelection &) const = default;
};

size_t qHash(const SidebarSelection &selection, size_t seed = 0) noexcept;

// The values of the three stores the main window decides on, taken at one moment.
struct MainWindowState
{
    QList<TrustedDeviceRecord> trustedDevices;
    TransferStore::Phase phase;
    std::optional<QString> selectedTrustedDeviceID;
    std::optional<QString> currentPeerDisplayName;
    QList<AndroidDevice> devices;
    std::optional<USBAndroidDevice> waitingUSBPhone;

    static MainWindowState of(const DeviceStore &store, const TransferStore &transferStore);
    bool isConnected() const { return phase.kind == TransferStore::Phase::Kind::connected; }
};

// The main window's decisions, worked out from the stores' values: which phones the sidebar lists, how the
// selection follows them, what a new pairing payload does to a USB phone, and which screen the detail pane shows.
// Everything is recomputed on each use with linear scans; nothing is cached.
namespace MainWindowPresentation {

// A trusted record's adb device (TrustedPhoneOnUSB.h).
using ::matchedUSBDevice;
// Plugged in, or the trusted phone connected right now.
bool isAvailable(const TrustedDeviceRecord &record, const MainWindowState &state);
// The trusted records the sidebar lists, in registry order.
QList<TrustedDeviceRecord> availableTrustedDevices(const MainWindowState &state);
// The adb devices listed as plain USB phones: those that are no listed trusted record's match.
QList<AndroidDevice> unmatchedUSBDevices(const MainWindowState &state);
bool isListed(const SidebarSelection &selection, const MainWindowState &state);

// One trusted row of the sidebar with its flags.
struct TrustedRow
{
    TrustedDeviceRecord record;
    bool isSelected = false;
    bool isConnected = false;
    // The state of its USB phone; none while it is not plugged in.
    std::optional<AndroidDevice::State> usbState;

    bool operator==(const TrustedRow &) const = default;
};

// The sidebar's section of usable phones: trusted rows, then plain USB rows, then the waiting phone or, when all
// three are missing, the "未发现可用设备" label.
struct SidebarContent
{
    QList<TrustedRow> trustedRows;
    QList<AndroidDevice> usbRows;
    std::optional<USBAndroidDevice> waitingPhone;
    bool showsNoDevices = false;
    // The count on the manager row; no row while zero.
    qsizetype trustedDeviceCount = 0;
};

SidebarContent sidebarContent(const MainWindowState &state);

inline const QString sidebarTitle = QStringLiteral("Tavrine");
inline const QString availableDevicesHeader = QStringLiteral("可用设备");
inline const QString sidebarListName = QStringLiteral("设备列表");
inline const QString noDevicesText = QStringLiteral("未发现可用设备");
inline const QString noDevicesSymbol = QStringLiteral("wifi.slash");
inline const QString manageTrustedDevicesText = QStringLiteral("管理已信任设备");
inline const QString manageTrustedDevicesSymbol = QStringLiteral("person.2");
inline const QString privacyText = QStringLiteral("文件仅在设备之间传输");
inline const QString privacySymbol = QStringLiteral("lock.shield");
inline const QString refreshTitle = QStringLiteral("刷新");
inline const QString refreshSymbol = QStringLiteral("arrow.clockwise");
inline const QString refreshHelp = QStringLiteral("重新检查已连接的手机");

// The selection after a watched value changed, and the phone (its id) the device store is to select with it.
struct Reconciliation
{
    std::optional<SidebarSelection> selection;
    std::optional<QString> deviceIDToSelect;

    bool operator==(const Reconciliation &) const = default;
};

Reconciliation reconciledSelection(const std::optional<SidebarSelection> &selection, const MainWindowState &state);

// The phone (its id) the device store selects for the trusted record `recordID`: the record's match.
std::optional<QString> deviceIDOfTrustedDevice(const QString &recordID, const MainWindowState &state);

// The authorised adb device whose raw model equals the phone's reported model ignoring case, when exactly one
// does: its serial is bound to the selected trusted record.
std::optional<AndroidDevice> deviceToBind(const std::optional<QString> &snapshotModel, const MainWindowState &state);

// The device whose serial is bound to the connected trusted record, as a listing comes or the phone names its model:
// deviceToBind's, only where the record has no serial yet or is proven bound wrong (every phone listed with its
// serial names a model other than the snapshot's), and only where no other trusted record holds that serial. A phone
// of the record's model listed while its own is unplugged may be anyone's.
std::optional<AndroidDevice> deviceToBindSerial(const std::optional<QString> &snapshotModel,
                                                const MainWindowState &state);

// The USB phone whose page a pairing began on, as it was listed then: the one phone its links are handed to.
struct USBPairingTarget
{
    AndroidDevice phone;
    bool installsCompanion = false; // the companion is installed on it with the next link

    bool operator==(const USBPairingTarget &) const = default;
};

// What a newly published pairing payload does to the pairing's USB phone.
enum class USBPairingHandOff
{
    none,             // not handed over; the last payload stays as it was
    openCompanion,    // the installed companion opens the payload
    installAndConnect // the companion is installed, then opens the payload
};

USBPairingHandOff usbPairingHandOff(const std::optional<QString> &payload,
                                    const std::optional<QString> &lastUSBPairingPayload,
                                    const std::optional<USBPairingTarget> &target);

// The screen of the detail pane; the first rule that applies wins.
struct DetailScreen
{
    enum class Kind
    {
        trustedDashboard,          // the selected trusted phone; selects it in the transfer store
        usbDashboard,              // the selected adb device, whatever its state
        connectedTrustedDashboard, // the trusted phone connected right now; selects nothing
        usbApproval,               // a phone on USB that adb does not list
        firstRun
    };

    Kind kind = Kind::firstRun;
    std::optional<TrustedDeviceRecord> record;    // the two trusted dashboards
    std::optional<AndroidDevice> device;          // the USB dashboard
    bool showsTransfer = false;                   // the USB dashboard
    std::optional<USBAndroidDevice> waitingPhone; // the approval guide

    bool operator==(const DetailScreen &) const = default;
};

DetailScreen detailScreen(const std::optional<SidebarSelection> &selection, const MainWindowState &state);

} // namespace MainWindowPresentation

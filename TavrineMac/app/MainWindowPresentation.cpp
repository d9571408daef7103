#include "MainWindowPresentation.h"

#include <algorithm>

size_t qHash(const SidebarSelection &selection, size_t seed) noexcept
{
    return qHashMulti(seed, int(selection.kind), selection.value);
}

MainWindowState MainWindowState::of(const DeviceStore &store, const TransferStore &transferStore)
{
    return {transferStore.trustedDevices(),         transferStore.phase(), transferStore.selectedTrustedDeviceID(),
            transferStore.currentPeerDisplayName(), store.devices(),       store.waitingUSBPhone()};
}

namespace MainWindowPresentation {

namespace {

const TrustedDeviceRecord *recordWithID(const QList<TrustedDeviceRecord> &records, const QString &id)
{
    for (const auto &record : records) {
        if (record.id == id)
            return &record;
    }
    return nullptr;
}

const AndroidDevice *deviceWithID(const QList<AndroidDevice> &devices, const QString &deviceID)
{
    for (const auto &device : devices) {
        if (device.id() == deviceID)
            return &device;
    }
    return nullptr;
}

// The trusted record connected right now, when the transfer store has one selected.
const TrustedDeviceRecord *connectedRecord(const QList<TrustedDeviceRecord> &records, const MainWindowState &state)
{
    if (!state.isConnected() || !state.selectedTrustedDeviceID)
        return nullptr;
    return recordWithID(records, *state.selectedTrustedDeviceID);
}

} // namespace

bool isAvailable(const TrustedDeviceRecord &record, const MainWindowState &state)
{
    return matchedUSBDevice(record, state.devices) ||
           (state.isConnected() && state.selectedTrustedDeviceID == record.id);
}

QList<TrustedDeviceRecord> availableTrustedDevices(const MainWindowState &state)
{
    QList<TrustedDeviceRecord> available;
    for (const auto &record : state.trustedDevices) {
        if (isAvailable(record, state))
            available.append(record);
    }
    return available;
}

QList<AndroidDevice> unmatchedUSBDevices(const MainWindowState &state)
{
    // By id: a phone that shares its serial with a trusted one keeps its own row.
    QStringList matchedIDs;
    for (const auto &record : availableTrustedDevices(state)) {
        if (const auto match = matchedUSBDevice(record, state.devices))
            matchedIDs.append(match->id());
    }
    QList<AndroidDevice> unmatched;
    for (const auto &device : state.devices) {
        if (!matchedIDs.contains(device.id()))
            unmatched.append(device);
    }
    return unmatched;
}

bool isListed(const SidebarSelection &selection, const MainWindowState &state)
{
    if (selection.kind == SidebarSelection::Kind::usbDevice)
        return deviceWithID(unmatchedUSBDevices(state), selection.value) != nullptr;
    return recordWithID(availableTrustedDevices(state), selection.value) != nullptr;
}

SidebarContent sidebarContent(const MainWindowState &state)
{
    SidebarContent content;
    for (const auto &record : availableTrustedDevices(state)) {
        const bool isSelected = state.selectedTrustedDeviceID == record.id;
        const auto match = matchedUSBDevice(record, state.devices);
        content.trustedRows.append({record, isSelected, state.isConnected() && isSelected,
                                    match ? std::optional(match->state) : std::nullopt});
    }
    content.usbRows = unmatchedUSBDevices(state);
    content.waitingPhone = state.waitingUSBPhone;
    content.showsNoDevices = !content.waitingPhone && content.trustedRows.isEmpty() && content.usbRows.isEmpty();
    content.trustedDeviceCount = state.trustedDevices.size();
    return content;
}

Reconciliation reconciledSelection(const std::optional<SidebarSelection> &selection, const MainWindowState &state)
{
    if (selection && isListed(*selection, state))
        return {selection, std::nullopt};
    const auto available = availableTrustedDevices(state);
    if (const auto *connected = connectedRecord(available, state))
        return {SidebarSelection::trustedDevice(connected->id), std::nullopt};
    if (!available.isEmpty())
        return {SidebarSelection::trustedDevice(available.first().id), std::nullopt};
    const auto unmatched = unmatchedUSBDevices(state);
    if (!unmatched.isEmpty())
        return {SidebarSelection::usbDevice(unmatched.first().id()), unmatched.first().id()};
    return {};
}

std::optional<QString> deviceIDOfTrustedDevice(const QString &recordID, const MainWindowState &state)
{
    const auto *record = recordWithID(state.trustedDevices, recordID);
    if (!record)
        return std::nullopt;
    if (const auto match = matchedUSBDevice(*record, state.devices))
        return match->id();
    return std::nullopt;
}

std::optional<AndroidDevice> deviceToBind(const std::optional<QString> &snapshotModel, const MainWindowState &state)
{
    if (!snapshotModel || !state.selectedTrustedDeviceID)
        return std::nullopt;
    std::optional<AndroidDevice> match;
    for (const auto &device : state.devices) {
        if (device.state != AndroidDevice::State::authorized || !device.matchesPhoneModel(*snapshotModel))
            continue;
        if (match)
            return std::nullopt;
        match = device;
    }
    return match;
}

std::optional<AndroidDevice> deviceToBindSerial(const std::optional<QString> &snapshotModel,
                                                const MainWindowState &state)
{
    if (!state.isConnected())
        return std::nullopt;
    const auto device = deviceToBind(snapshotModel, state);
    const auto *record = device ? recordWithID(state.trustedDevices, *state.selectedTrustedDeviceID) : nullptr;
    if (!record)
        return std::nullopt;
    if (record->usbSerial) {
        // The snapshot may be an earlier phone's: a serial the record has is kept until its phone shows it is wrong.
        const auto isBoundSerial = [&](const AndroidDevice &listed) {
            return listed.serial == *record->usbSerial;
        };
        const auto namesOtherModel = [&](const AndroidDevice &listed) {
            return !isBoundSerial(listed) || (listed.model && !listed.matchesPhoneModel(*snapshotModel));
        };
        if (std::ranges::none_of(state.devices, isBoundSerial) || !std::ranges::all_of(state.devices, namesOtherModel))
            return std::nullopt;
    }
    if (std::ranges::any_of(state.trustedDevices, [&](const TrustedDeviceRecord &other) {
            return other.usbSerial == device->serial && other.id != record->id;
        }))
        return std::nullopt;
    return device;
}

USBPairingHandOff usbPairingHandOff(const std::optional<QString> &payload,
                                    const std::optional<QString> &lastUSBPairingPayload,
                                    const std::optional<USBPairingTarget> &target)
{
    if (!payload || payload == lastUSBPairingPayload || !target ||
        target->phone.state != AndroidDevice::State::authorized)
        return USBPairingHandOff::none;
    return target->installsCompanion ? USBPairingHandOff::installAndConnect : USBPairingHandOff::openCompanion;
}

DetailScreen detailScreen(const std::optional<SidebarSelection> &selection, const MainWindowState &state)
{
    using Kind = DetailScreen::Kind;
    if (selection && selection->kind == SidebarSelection::Kind::trustedDevice) {
        if (const auto *record = recordWithID(state.trustedDevices, selection->value))
            return {Kind::trustedDashboard, *record, std::nullopt, false, std::nullopt};
    }
    if (selection && selection->kind == SidebarSelection::Kind::usbDevice) {
        if (const auto *device = deviceWithID(state.devices, selection->value)) {
            const bool showsTransfer = !state.currentPeerDisplayName || *state.currentPeerDisplayName == device->name();
            return {Kind::usbDashboard, std::nullopt, *device, showsTransfer, std::nullopt};
        }
    }
    if (const auto *record = connectedRecord(state.trustedDevices, state))
        return {Kind::connectedTrustedDashboard, *record, std::nullopt, false, std::nullopt};
    if (state.waitingUSBPhone)
        return {Kind::usbApproval, std::nullopt, std::nullopt, false, state.waitingUSBPhone};
    return {};
}

} // namespace MainWindowPresentation

#pragma once

#include "AndroidDevice.h"
#include "ManagedContentCategory.h"
#include "ManagedContentModel.h"
#include "TransferStore.h"
#include "TransferTaskRecord.h"
#include "TrustedDeviceRecord.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <utility>

// The sections of a trusted phone's dashboard; the raw value is the title.
enum class DashboardSection
{
    home,
    content,
    applications,
};

QString rawValue(DashboardSection section);
std::optional<DashboardSection> dashboardSectionFromRawValue(const QString &text);
QList<DashboardSection> allDashboardSections();

inline size_t qHash(DashboardSection section, size_t seed = 0)
{
    return qHash(rawValue(section), seed);
}

// The one-line connection summary of the overview's header, with the battery level only while the management
// connection is up. `usbState`: the state of the phone's USB phone, none while it is not plugged in; one that
// cannot take commands says its state.
QString connectionSummaryText(bool isManagementConnected, std::optional<AndroidDevice::State> usbState,
                              std::optional<qint64> batteryPercent);

// What the device dashboard and its overview pane decide from the stores' values; no widgets.
namespace DeviceManagementDashboardPresentation {

// The phase is `connected`, whatever its text.
bool isManagementConnected(const TransferStore::Phase &phase);
// The phone's adb device: that of its trusted record (TrustedPhoneOnUSB.h), listed with the model the phone reports
// when both name one; only for a record with no serial yet, else the one authorised device whose model is the one
// the phone reports (the applications pane's USB target). None when none is found.
std::optional<AndroidDevice> usbDevice(const std::optional<TrustedDeviceRecord> &record,
                                       const std::optional<ManagedDeviceSnapshot> &snapshot,
                                       const QList<AndroidDevice> &devices);
// The phone's adb device exists and is authorised.
bool isUSBConnected(const std::optional<AndroidDevice> &usbDevice);
// "<trusted device id or none>|<true or false>": the section load runs again whenever it changes.
QString loadTaskID(const std::optional<QString> &selectedTrustedDeviceID, bool isManagementConnected);

// What follows the recent content in the overview's column.
enum class StatusArea
{
    nothing,
    syncing,    // no snapshot yet, one is being loaded
    statusCard, // the snapshot's card (and the permission hint when the phone has not granted file access)
};
StatusArea statusArea(bool hasSnapshot, bool isLoadingOverview);
bool showsPermissionHint(const std::optional<ManagedDeviceSnapshot> &snapshot);

// The battery level the connection line passes on: nothing without a snapshot or a percentage.
std::optional<qint64> batteryPercent(const std::optional<ManagedDeviceSnapshot> &snapshot);
QString batteryValue(std::optional<qint64> percent);
QString batterySymbolName(bool charging);
// The five detail rows (label, value) of the status card, values as they stand.
QList<std::pair<QString, QString>> deviceInfoRows(const ManagedDeviceSnapshot &snapshot);
QString detailsButtonTitle(bool isShowingDetails);

inline constexpr qsizetype recentTaskLimit = 6;
// The first six tasks in the store's order.
QList<TransferTaskRecord> recentTasks(const QList<TransferTaskRecord> &tasks);

// The four quick actions of the overview, in order.
enum class QuickActionTarget
{
    sendFiles,
    photos,
    browsePhone,
    applications,
};
struct QuickActionItem
{
    QString title;
    QString icon;
    bool isPrimary = false;
    QuickActionTarget target;

    bool operator==(const QuickActionItem &) const = default;
};
QList<QuickActionItem> quickActions();

// What a drop on the overview does with its URLs: rejected without a local file; the local files installed when
// every one is an Android package ("apk" or "aab", any case), otherwise all of them sent.
struct DropDecision
{
    enum class Kind
    {
        reject,
        install,
        send,
    };
    Kind kind = Kind::reject;
    QStringList paths; // absolute local paths, in drop order

    bool operator==(const DropDecision &) const = default;
};
DropDecision dropDecision(const QList<QUrl> &urls);

} // namespace DeviceManagementDashboardPresentation

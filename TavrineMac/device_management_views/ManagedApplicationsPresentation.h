#pragma once

#include "AndroidDevice.h"
#include "ManagedContentModel.h"

#include <QList>
#include <QString>

#include <optional>

// The decisions of the applications pane, without widgets: which adb phone is the dashboard's phone, the symbols
// of an application, which actions it offers, the texts of its dialogs and how the selection follows the list.
namespace ManagedApplicationsPresentation {

// The one authorised adb device whose model equals the snapshot's model (trimmed, ignoring case); nothing when
// there is no snapshot, its model is blank, or none or several devices match.
std::optional<AndroidDevice> usbTargetDevice(const std::optional<ManagedDeviceSnapshot> &snapshot,
                                             const QList<AndroidDevice> &devices);

// The symbol of the details column, chosen by the words of the lower-cased name.
QString applicationSymbolName(const ManagedApplication &application);
// The symbol of a tile: "gearshape" for a system application, "app" for any other.
QString tileSymbolName(const ManagedApplication &application);
// "更新于 " and the abbreviated date of the last update in this computer's locale and time zone.
QString updatedText(const ManagedApplication &application);

// The items of a menu, in order; `divider` separates groups.
enum class ApplicationAction
{
    open,
    showDetails,
    uninstall,
    forceStop,
    clearData,
    uninstallOverUSB,
    divider,
};
QString actionTitle(ApplicationAction action);
bool isDestructive(ApplicationAction action);

// The tile's context menu: "打开" for a launchable application, "在手机上查看详情", "卸载…" for a user application.
QList<ApplicationAction> contextMenuActions(const ManagedApplication &application);
// The details column's "更多操作" menu: empty for a system application; the USB items only with a USB target.
QList<ApplicationAction> moreActions(const ManagedApplication &application, bool hasUSBTarget);

// A confirmation of an operation that changes the phone.
struct Confirmation
{
    QString title;
    QString message;
    QString confirmText; // the destructive button; the other one is "取消"

    bool operator==(const Confirmation &) const = default;
};
// The dialogs of a pending application (nothing: already dismissed) and, for the USB ones, the target phone.
Confirmation uninstallConfirmation(const std::optional<ManagedApplication> &application);
Confirmation clearDataConfirmation(const std::optional<ManagedApplication> &application,
                                   const std::optional<AndroidDevice> &target);
Confirmation usbUninstallConfirmation(const std::optional<ManagedApplication> &application,
                                      const std::optional<AndroidDevice> &target);

// The tooltip of "安装 APK": without a USB target, why the phone on USB (`usbPhone`, when it is known) cannot take
// the package.
QString installHelp(bool hasUSBTarget, const std::optional<AndroidDevice> &usbPhone = std::nullopt);

// What the main area shows without a management connection.
struct Unavailable
{
    QString title;
    QString description;
};
Unavailable disconnectedContent(bool isUSBConnected);

// What the list shows.
enum class ListContent
{
    loading,
    empty,
    grid,
};
ListContent listContent(bool isLoadingApplications, qsizetype applicationCount);

// The selection after the list changed: kept while its package is listed, else the first package, else none.
std::optional<QString> selectionAfterListChange(const std::optional<QString> &selectedApplicationID,
                                                const QList<ManagedApplication> &applications);

} // namespace ManagedApplicationsPresentation

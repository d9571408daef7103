#pragma once

#include "APKInstallPlan.h"
#include "AndroidDevice.h"
#include "CompanionAPKArtifact.h"
#include "DeviceStore.h"
#include "InstallHistoryStore.h"
#include "SymbolIcon.h"
#include "TransferEvent.h"
#include "TransferStore.h"

#include "ViewColors.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the USB device dashboard and its cards show: which cards appear, their texts, symbols, tints and which
// buttons are enabled, all worked out from the stores' values. No widgets, so it is tested without a display.
namespace DeviceDashboardPresentation {

using Tint = ViewColors::Tint;
using ViewColors::color;

// The quick actions of the dashboard's grid, in the order they are shown.
enum class QuickAction
{
    companionSetup,
    install,
    transfer
};

QList<QuickAction> quickActions(bool showsTransfer, TransferStore::Phase::Kind phase);

// The frame of an action card.
struct ActionCardStyle
{
    Symbol icon;
    Tint tint;
    QString title;

    bool operator==(const ActionCardStyle &) const = default;
};

ActionCardStyle actionCardStyle(QuickAction action);

// The companion setup card.
struct CompanionCardValues
{
    std::optional<QString> versionLabel;
    std::optional<qint64> sizeBytes;
    std::optional<QString> unavailableMessage;
    bool isEnabled = false;
    bool isBusy = false;

    bool operator==(const CompanionCardValues &) const = default;
};

// "Tavrine " and the version of the companion package carried by the application.
std::optional<QString> companionVersionLabel(const std::optional<CompanionAPKArtifact> &artifact);
CompanionCardValues companionCardValues(const std::optional<CompanionAPKArtifact> &artifact,
                                        const std::optional<QString> &artifactErrorMessage, bool canInstallCompanion,
                                        const DeviceStore::CompanionInstallState &state);
QString companionSubtitle(const CompanionCardValues &values);
QString companionInstallTitle(bool isBusy);
bool companionInstallEnabled(const CompanionCardValues &values);
inline const QString companionConnectExistingTitle = QStringLiteral("手机已安装，直接连接");

// The confirmation before the companion is installed.
inline const QString companionConfirmationTitle = QStringLiteral("安装 Tavrine 手机端？");
inline const QString companionConfirmationAccept = QStringLiteral("安装并连接");
inline const QString companionConfirmationCancel = QStringLiteral("取消");
QString companionConfirmationMessage(const QString &deviceName, const std::optional<CompanionAPKArtifact> &artifact);

// The install card.
inline const QString installCardSubtitle = QStringLiteral("选择 APK，Tavrine 会安全发送并安装到这台手机。");
QString installButtonTitle(bool isInstalling);
bool installButtonEnabled(bool isEnabled, bool isInstalling);

// The transfer card in each connection phase; the phase's own text is not shown.
struct TransferCardText
{
    QString subtitle;
    QString primaryTitle;
    bool showsConfirmationCode = false; // the second button "查看确认码"

    bool operator==(const TransferCardText &) const = default;
};

TransferCardText transferCardText(TransferStore::Phase::Kind phase, const QString &deviceName);
inline const QString confirmationCodeTitle = QStringLiteral("查看确认码");

// The install plan card.
QString planHeadline(const QString &deviceName);
// The total size and the signature summary.
QString planDetailLine(const APKInstallPlan &plan);
// The label of the list of files, only for a split set.
std::optional<QString> planFileListTitle(const APKInstallPlan &plan);
QStringList planFileNames(const APKInstallPlan &plan);
inline const QString planConfirmTitle = QStringLiteral("确认安装");
inline const QString planCancelTitle = QStringLiteral("取消");

// The install history of `device` (its serial, compared exactly), in the store's order. Where another phone of
// `listed` has the same serial, only the records under the device's own name: the history keeps no more of a phone.
QList<InstallHistoryRecord> historyForDevice(const QList<InstallHistoryRecord> &history, const AndroidDevice &device,
                                             const QList<AndroidDevice> &listed);
// The records the history card lists: the newest 8.
QList<InstallHistoryRecord> shownHistory(const QList<InstallHistoryRecord> &records);
inline constexpr qsizetype shownHistoryLimit = 8;
inline const QString historyTitle = QStringLiteral("最近安装");
QString historyFileLine(const InstallHistoryRecord &record);
// The install time in this computer's time zone, as "2024年3月5日 14:07".

struct StatusSymbol
{
    Symbol symbol;
    Tint tint;

    bool operator==(const StatusSymbol &) const = default;
};

StatusSymbol historySymbol(const InstallHistoryRecord &record);

// The install state banner; none while idle. Without a symbol it shows a spinning indicator.
struct BannerStyle
{
    std::optional<Symbol> symbol;
    Tint tint;
    QString title;
    QString text;

    bool operator==(const BannerStyle &) const = default;
};

std::optional<BannerStyle> installBanner(const DeviceStore::InstallState &state);

// The phone's state on USB in a few words, as every place that shows a USB phone tells it ("USB 已连接" once it
// takes commands).
QString deviceStateText(AndroidDevice::State state);

// Why the phone shown cannot take commands: it waits for the user's approval or for adb (a spinner), this computer
// may not open its USB device, it does not answer, or it is not running its system; none for a phone that can.
std::optional<BannerStyle> deviceStateBanner(const AndroidDevice &device);

// Another adb program holds a phone on the USB bus; none while the store knows no such problem.
std::optional<BannerStyle> usbPhoneProblemBanner(const std::optional<QString> &problem);

// The latest transfer event banner.
struct TransferEventStyle
{
    Symbol symbol;
    Tint tint;
    QString title;

    bool operator==(const TransferEventStyle &) const = default;
};

TransferEventStyle transferEventStyle(TransferEventKind kind);
bool showsTransferBanner(const std::optional<TransferEvent> &event);
// The fraction transferred, for a file on its way with a known size; otherwise the banner shows the message.
std::optional<double> transferProgress(const TransferEvent &event);
// Only a file received completely can be shown in the receive folder.
bool showsRevealButton(const TransferEvent &event);
inline const QString revealTitle = QStringLiteral("在文件管理器中查看");
// What the banner says when nothing could show the receive folder: where the files are.
QString revealProblemText(const QString &receiveFolder);

// The facts of the "设备信息" group.
struct DeviceInfoRow
{
    QString label;
    QString value;

    bool operator==(const DeviceInfoRow &) const = default;
};

QList<DeviceInfoRow> deviceInfoRows(const AndroidDevice &device);

} // namespace DeviceDashboardPresentation

#pragma once

#include "AndroidDevice.h"
#include "DeviceStore.h"
#include "TransferStore.h"

#include "ViewColors.h"

#include <QColor>
#include <QList>
#include <QPalette>
#include <QString>

#include <optional>

// What the sidebar rows, the pairing sheet and the first-run and USB approval screens show, worked out from the
// stores' values: texts, symbol names and tints. No widgets, so it is tested without a display.
namespace SidebarAndPairingPresentation {

using Tint = ViewColors::Tint;
using ViewColors::color;

// Sidebar rows.
QString deviceRowStatus(AndroidDevice::State state);
// The icon tint of a plain USB row: green only for an authorised phone.
Tint deviceRowTint(AndroidDevice::State state);
// `usbState`: the state of the trusted phone's USB phone, none when it is not plugged in.
QString trustedRowStatus(bool isSelected, bool isConnected, std::optional<AndroidDevice::State> usbState);
inline const QString rowSymbol = QStringLiteral("smartphone");
inline const QString usbWaitingRowStatus = QStringLiteral("等待手机确认");

// Pairing sheet.
QString pairingTitle(const TransferStore::Phase &phase);
QString pairingSubtitle(const TransferStore::Phase &phase);

enum class CodeArea
{
    qrCode,   // the payload's QR code
    failure,  // the start failure, with the phase's message
    preparing // a spinner while no payload is published
};

CodeArea codeArea(const std::optional<QString> &pairingPayload, const TransferStore::Phase &phase);
inline const QString failureTitle = QStringLiteral("无法开始配对");
inline const QString failureSymbol = QStringLiteral("wifi.exclamationmark");
inline const QString preparingText = QStringLiteral("正在准备安全配对码…");
inline const QString confirmationCodeLabel = QStringLiteral("确认号码");

// A code of exactly six user-perceived characters as "123  456"; any other code unchanged.
QString formattedCode(const QString &code);

// The line under the code that follows the USB-assisted set-up of the phone application.
struct CompanionStatus
{
    bool showsSpinner = false; // in place of a symbol
    QString symbolName;        // empty with the spinner
    Tint tint = Tint::secondary;
    QString text;

    bool operator==(const CompanionStatus &) const = default;
};

std::optional<CompanionStatus> companionStatus(const DeviceStore::CompanionInstallState &state,
                                               const std::optional<QString> &pairingLaunchMessage);

enum class FooterAction
{
    none,
    retry,      // "重新尝试"
    chooseFiles // "选择文件"
};

FooterAction footerAction(const TransferStore::Phase &phase);
QString footerActionTitle(FooterAction action);
inline const QString cancelTitle = QStringLiteral("取消");
inline const QString footerNote = QStringLiteral("TLS 1.3 · 文件不经过云端");
inline const QString footerNoteSymbol = QStringLiteral("lock.shield.fill");

// First-run screen.
struct MethodCard
{
    QString icon;
    QString title;
    std::optional<QString> badge;
    QString detail;
    QString actionTitle;
    bool isProminent = false;

    bool operator==(const MethodCard &) const = default;
};

// The QR card (its action connects) and the USB card (its action refreshes), in that order.
QList<MethodCard> firstRunMethodCards();
inline const QString firstRunEmblemSymbol = QStringLiteral("iphone.and.arrow.forward");
inline const QString firstRunTitle = QStringLiteral("连接你的手机");
inline const QString firstRunSubtitle =
    QStringLiteral("扫码最快，也可以直接使用 USB。连接一次，以后会自动找到这台手机。");
inline const QString firstRunMessageSymbol = QStringLiteral("exclamationmark.triangle.fill");
inline const QString firstRunHint = QStringLiteral("首次连接需要在手机上确认一次；连接成功后即可选择文件。");
inline const QString firstRunPrivacyNote = QStringLiteral("文件只在你的设备之间传输");
inline const QString privacyNoteSymbol = QStringLiteral("lock.shield.fill");
// Two cards stand side by side from this width of their grid on; below it they stack.
inline constexpr int cardMinimumWidth = 250;
inline constexpr int cardSpacing = 14;

// USB approval screen.
struct SetupStepText
{
    int number = 0;
    QString title;
    QString detail;

    bool operator==(const SetupStepText &) const = default;
};

QList<SetupStepText> usbApprovalSteps();
QString usbApprovalTitle(const QString &productName);
inline const QString usbApprovalSubtitle = QStringLiteral("只需在手机上确认一次，之后连接会自动完成。");
inline const QString usbApprovalWaiting = QStringLiteral("正在等待手机确认…");
inline const QString usbSymbol = QStringLiteral("cable.connector.horizontal");

} // namespace SidebarAndPairingPresentation

#pragma once

#include "TrustedDeviceRecord.h"

#include <QDateTime>
#include <QString>

#include <optional>

// Texts and rules of the trusted-device sheet, without widgets.
namespace TrustedDeviceManagementPresentation {

// A row is selected exactly when a selection exists and names the row's phone.
bool isSelected(const TrustedDeviceRecord &device, const std::optional<QString> &selectedTrustedDeviceID);
// How long ago the phone was last seen: "刚刚", "5 分钟前", "3 小时前", "2 天前", "4 个月前", "1 年前".
QString relativeLastSeen(const QDateTime &lastSeenAt, const QDateTime &now);
// The title of the confirmation before a phone is removed.
QString revocationTitle(const QString &deviceName);

} // namespace TrustedDeviceManagementPresentation

#include "TrustedDeviceManagementPresentation.h"

namespace TrustedDeviceManagementPresentation {

bool isSelected(const TrustedDeviceRecord &device, const std::optional<QString> &selectedTrustedDeviceID)
{
    return selectedTrustedDeviceID.has_value() && *selectedTrustedDeviceID == device.id;
}

QString relativeLastSeen(const QDateTime &lastSeenAt, const QDateTime &now)
{
    constexpr qint64 minute = 60;
    constexpr qint64 hour = 60 * minute;
    constexpr qint64 day = 24 * hour;
    constexpr qint64 month = 30 * day;
    constexpr qint64 year = 365 * day;
    // A time in the future (another clock) reads as "just now" rather than as a negative age.
    const qint64 seconds = lastSeenAt.isValid() ? std::max<qint64>(lastSeenAt.secsTo(now), 0) : 0;
    if (seconds < minute) {
        return QStringLiteral("刚刚");
    }
    if (seconds < hour) {
        return QStringLiteral("%1 分钟前").arg(seconds / minute);
    }
    if (seconds < day) {
        return QStringLiteral("%1 小时前").arg(seconds / hour);
    }
    if (seconds < month) {
        return QStringLiteral("%1 天前").arg(seconds / day);
    }
    if (seconds < year) {
        return QStringLiteral("%1 个月前").arg(seconds / month);
    }
    return QStringLiteral("%1 年前").arg(seconds / year);
}

QString revocationTitle(const QString &deviceName)
{
    return QStringLiteral("移除 ") + deviceName + QStringLiteral("？");
}

} // namespace TrustedDeviceManagementPresentation

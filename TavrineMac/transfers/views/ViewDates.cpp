#include "ViewDates.h"

#include <QLocale>

namespace ViewDates {

QString dateTimeText(const QDateTime &moment)
{
    // The texts of the application are Chinese; the date follows them rather than the desktop's language.
    return QLocale(QLocale::Chinese, QLocale::China).toString(moment.toLocalTime(), QStringLiteral("yyyy年M月d日 HH:mm"));
}

QString dateTimeText(qint64 millisSinceEpoch)
{
    constexpr qint64 limitMillis = 253'402'300'799'000; // the end of year 9999
    const bool isShowable = millisSinceEpoch >= -limitMillis && millisSinceEpoch <= limitMillis;
    return dateTimeText(QDateTime::fromMSecsSinceEpoch(isShowable ? millisSinceEpoch : 0));
}

} // namespace ViewDates

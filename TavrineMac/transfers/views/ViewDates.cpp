#include "ViewDates.h"

#include <QLocale>

namespace ViewDates {

namespace {

// The texts of the application are Chinese; the date follows them rather than the desktop's language.
QLocale viewLocale()
{
    return QLocale(QLocale::Chinese, QLocale::China);
}

QDateTime showableMoment(qint64 millisSinceEpoch)
{
    constexpr qint64 limitMillis = 253'402'300'799'000; // the end of year 9999
    const bool isShowable = millisSinceEpoch >= -limitMillis && millisSinceEpoch <= limitMillis;
    return QDateTime::fromMSecsSinceEpoch(isShowable ? millisSinceEpoch : 0);
}

} // namespace

QString dateTimeText(const QDateTime &moment)
{
    return viewLocale().toString(moment.toLocalTime(), QStringLiteral("yyyy年M月d日 HH:mm"));
}

QString timeText(const QDateTime &moment)
{
    return viewLocale().toString(moment.toLocalTime().time(), QStringLiteral("HH:mm"));
}

QString dateTimeText(qint64 millisSinceEpoch)
{
    return dateTimeText(showableMoment(millisSinceEpoch));
}

QString dateText(qint64 millisSinceEpoch)
{
    return viewLocale().toString(showableMoment(millisSinceEpoch).toLocalTime().date(), QStringLiteral("yyyy年M月d日"));
}

} // namespace ViewDates

#pragma once

#include <QDateTime>
#include <QString>

// The one way the views write a point in time, such as "2023年11月14日 22:13".
namespace ViewDates {

QString dateTimeText(const QDateTime &moment);
// A time in milliseconds since the epoch as a phone reports it; values far outside what a clock can show come from
// a hostile or broken answer and show as the epoch.
QString dateTimeText(qint64 millisSinceEpoch);
// The time of day alone, such as "22:13".
QString timeText(const QDateTime &moment);
// The day alone, such as "2023年11月14日", for a time in milliseconds since the epoch, bounded as above.
QString dateText(qint64 millisSinceEpoch);

} // namespace ViewDates

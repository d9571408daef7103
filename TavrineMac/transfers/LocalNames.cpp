#include "LocalNames.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr qsizetype maximumNameBytes = 255;

QString withoutTrailingZeros(QString number)
{
    if (number.contains(QLatin1Char('.'))) {
        while (number.endsWith(QLatin1Char('0'))) {
            number.chop(1);
        }
        if (number.endsWith(QLatin1Char('.'))) {
            number.chop(1);
        }
    }
    return number;
}

} // namespace

bool containsNulScalar(const QString &text)
{
    return text.contains(QChar(0));
}

bool isAcceptableItemName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\') &&
           !containsNulScalar(name) && name.toUtf8().size() <= maximumNameBytes;
}

void sortByStandardName(QStringList &names)
{
    // The C locale compares bytes; the names are then ordered as the interface's language orders them.
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::Chinese, QLocale::China) : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(),
                     [&collator](const QString &left, const QString &right) { return collator.compare(left, right) < 0; });
}

QString fileByteCount(qint64 bytes)
{
    constexpr std::array units{"KB", "MB", "GB", "TB", "PB", "EB"};
    // Kilobytes are shown whole, megabytes with one decimal, larger units with two.
    constexpr std::array decimals{0, 1, 2, 2, 2, 2};
    bytes = std::max<qint64>(bytes, 0);
    if (bytes < 1000) {
        return QString::number(bytes) + QStringLiteral(" 字节");
    }
    double value = double(bytes) / 1000.0;
    std::size_t unit = 0;
    while (unit + 1 < units.size()) {
        const double scale = std::pow(10.0, decimals[unit]);
        // A value that rounds to 1000 is shown in the next unit ("1 MB", not "1000 KB").
        if (std::round(value * scale) / scale < 1000.0) {
            break;
        }
        value /= 1000.0;
        ++unit;
    }
    return withoutTrailingZeros(QString::number(value, 'f', decimals[unit])) + QLatin1Char(' ') +
           QLatin1String(units[unit]);
}

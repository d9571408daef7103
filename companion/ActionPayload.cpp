#include "ActionPayload.h"

#include "FileActionError.h"

#include <cmath>
#include <limits>

namespace ActionPayload {

namespace {

// JSON numbers are doubles: integers beyond 2^53 are not exact.
constexpr double largestExactInteger = 9007199254740992.0;

FileActionError malformed(const QString &key, const QString &expected)
{
    return FileActionError(QStringLiteral("The payload needs \"%1\" as %2").arg(key, expected));
}

} // namespace

std::optional<qint64> integerValue(const QJsonValue &value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > largestExactInteger) {
        return std::nullopt;
    }
    return static_cast<qint64>(number);
}

QString text(const QJsonObject &payload, const QString &key, qsizetype maximumLength)
{
    const QString value = optionalText(payload, key, maximumLength);
    if (value.isEmpty()) {
        throw malformed(key, QStringLiteral("a non-empty text"));
    }
    return value;
}

QString optionalText(const QJsonObject &payload, const QString &key, qsizetype maximumLength)
{
    const QJsonValue value = payload.value(key);
    if (value.isUndefined() || value.isNull()) {
        return QString();
    }
    if (!value.isString() || value.toString().size() > maximumLength) {
        throw malformed(key, QStringLiteral("a text of at most %1 characters").arg(maximumLength));
    }
    return value.toString();
}

qint64 optionalInteger(const QJsonObject &payload, const QString &key, qint64 minimum, qint64 fallback)
{
    const QJsonValue value = payload.value(key);
    if (value.isUndefined() || value.isNull()) {
        return fallback;
    }
    const std::optional<qint64> number = integerValue(value);
    if (!number || *number < minimum) {
        throw malformed(key, minimum == std::numeric_limits<qint64>::min()
                                 ? QStringLiteral("an integer")
                                 : QStringLiteral("an integer from %1").arg(minimum));
    }
    return *number;
}

} // namespace ActionPayload

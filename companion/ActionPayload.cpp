#include "ActionPayload.h"

#include <QJsonValue>

#include <cmath>
#include <limits>

namespace ActionPayload {

namespace {

// JSON numbers are doubles: integers beyond 2^53 are not exact.
constexpr double largestExactInteger = 9007199254740992.0;

} // namespace

FileActionError refusal(const QString &key, const QString &expected)
{
    return FileActionError(QStringLiteral("The payload needs \"%1\" as %2").arg(key, expected));
}

QString text(const QJsonObject &payload, const QString &key, qsizetype maximumLength)
{
    const QString value = optionalText(payload, key, maximumLength);
    if (value.isEmpty()) {
        throw refusal(key, QStringLiteral("a non-empty text"));
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
        throw refusal(key, QStringLiteral("a text of at most %1 characters").arg(maximumLength));
    }
    return value.toString();
}

qint64 optionalInteger(const QJsonObject &payload, const QString &key, qint64 minimum, qint64 fallback)
{
    const QJsonValue value = payload.value(key);
    if (value.isUndefined() || value.isNull()) {
        return fallback;
    }
    const double number = value.toDouble();
    if (!value.isDouble() || !std::isfinite(number) || std::trunc(number) != number ||
        std::fabs(number) > largestExactInteger || number < static_cast<double>(minimum)) {
        throw refusal(key, minimum == std::numeric_limits<qint64>::min()
                               ? QStringLiteral("an integer")
                               : QStringLiteral("an integer from %1").arg(minimum));
    }
    return static_cast<qint64>(number);
}

Range pageRange(const QJsonObject &payload, qsizetype count)
{
    constexpr qint64 defaultPageSize = 100;
    constexpr qint64 largestPageSize = 500;
    const qint64 token = optionalInteger(payload, QStringLiteral("pageToken"), 0, 0);
    const qint64 size = std::clamp<qint64>(
        optionalInteger(payload, QStringLiteral("pageSize"), std::numeric_limits<qint64>::min(), defaultPageSize), 1,
        largestPageSize);
    const qsizetype begin = static_cast<qsizetype>(std::min<qint64>(token, count));
    const qsizetype end = static_cast<qsizetype>(std::min<qint64>(begin + size, count));
    return {begin, end, end < count ? std::optional<qint64>(end) : std::nullopt};
}

} // namespace ActionPayload

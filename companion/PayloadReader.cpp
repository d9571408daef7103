#include "PayloadReader.h"

#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace {

// Beyond 2^53 a double no longer holds every whole number.
constexpr qint64 largestExactInteger = qint64(1) << 53;

} // namespace

PayloadReader::PayloadReader(const QString &action, const QJsonObject &payload) : m_action(action), m_payload(payload)
{}

QString PayloadReader::requiredText(const QString &key)
{
    const QJsonValue value = m_payload.value(key);
    if (!value.isString() || value.toString().isEmpty()) {
        refuse(key, QStringLiteral("a non-empty text"));
        return {};
    }
    return value.toString();
}

QString PayloadReader::optionalText(const QString &key, const QString &fallback)
{
    const QJsonValue value = m_payload.value(key);
    if (value.isUndefined() || value.isNull()) {
        return fallback;
    }
    if (!value.isString()) {
        refuse(key, QStringLiteral("a text"));
        return fallback;
    }
    return value.toString();
}

qint64 PayloadReader::optionalInteger(const QString &key, qint64 fallback, qint64 minimum)
{
    const QJsonValue value = m_payload.value(key);
    if (value.isUndefined() || value.isNull()) {
        return fallback;
    }
    const double number = value.toDouble();
    if (!value.isDouble() || std::trunc(number) != number ||
        std::abs(number) > static_cast<double>(largestExactInteger) || number < static_cast<double>(minimum)) {
        refuse(key, QStringLiteral("a whole number from %1 on").arg(minimum));
        return fallback;
    }
    return static_cast<qint64>(number);
}

qint64 PayloadReader::pageOffset()
{
    return optionalInteger(QStringLiteral("pageToken"), 0, 0);
}

qint64 PayloadReader::pageSize()
{
    const qint64 size = optionalInteger(QStringLiteral("pageSize"), defaultPageSize, -largestExactInteger);
    return std::clamp<qint64>(size, 1, maximumPageSize);
}

void PayloadReader::refuse(const QString &key, const QString &expectation)
{
    if (m_error.isEmpty()) {
        m_error = QStringLiteral("The payload of %1 needs \"%2\" as %3").arg(m_action, key, expectation);
    }
}

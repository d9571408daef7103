#pragma once

#include "TrustedDeviceRecord.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Typed reads of the registry's JSON: a missing or null value is absent, a wrong type is an error.
namespace trustedDeviceJson {

inline QJsonValue requiredValue(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        throw TrustedDeviceDecodingError(TrustedDeviceDecodingError::Case::missingValue, key);
    return value;
}

inline std::optional<QString> optionalText(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        throw TrustedDeviceDecodingError(TrustedDeviceDecodingError::Case::wrongType, key, QStringLiteral("a string"));
    return value.toString();
}

} // namespace trustedDeviceJson

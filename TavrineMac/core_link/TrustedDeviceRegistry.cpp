#include "TrustedDeviceRegistry.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QVariant>

#include <algorithm>
#include <cmath>

#include "TrustedDeviceJson.h"

namespace {

using trustedDeviceJson::optionalText;
using trustedDeviceJson::requiredValue;

using Case = TrustedDeviceDecodingError::Case;

const QString versionKey = QStringLiteral("version");
const QString selectedDeviceIDKey = QStringLiteral("selectedDeviceID");
const QString devicesKey = QStringLiteral("devices");

// Any JSON number with an integral value that fits 64 bits; 1.5 or 1e30 is not an integer.
qint64 requiredInteger(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = requiredValue(object, key);
    if (value.isDouble()) {
        const QVariant number = value.toVariant();
        if (number.typeId() == QMetaType::LongLong)
            return number.toLongLong();
        const double real = value.toDouble();
        constexpr double limit = 9223372036854775808.0;
        if (std::isfinite(real) && std::trunc(real) == real && real >= -limit && real < limit)
            return static_cast<qint64>(real);
    }
    throw TrustedDeviceDecodingError(Case::wrongType, key, QStringLiteral("an integer"));
}

} // namespace

std::optional<TrustedDeviceRecord> TrustedDeviceRegistry::selectedDevice() const
{
    if (devices.isEmpty())
        return std::nullopt;
    if (selectedDeviceID) {
        const auto selected = std::find_if(devices.cbegin(), devices.cend(), [&](const TrustedDeviceRecord &record) {
            return record.id == *selectedDeviceID;
        });
        if (selected != devices.cend())
            return *selected;
    }
    return devices.first();
}

void TrustedDeviceRegistry::select(const QString &id)
{
    const bool known = std::any_of(devices.cbegin(), devices.cend(),
                                   [&](const TrustedDeviceRecord &record) { return record.id == id; });
    if (known)
        selectedDeviceID = id;
}

void TrustedDeviceRegistry::removeDevice(const QString &id)
{
    devices.removeIf([&](const TrustedDeviceRecord &record) { return record.id == id; });
    if (selectedDeviceID == id)
        selectedDeviceID = devices.isEmpty() ? std::nullopt : std::optional<QString>(devices.first().id);
}

std::optional<TrustedDeviceRecord> TrustedDeviceRegistry::device(const std::optional<QString> &peerID,
                                                                 const QString &peerName) const
{
    if (peerID && !peerID->isEmpty()) {
        const auto bound = std::find_if(devices.cbegin(), devices.cend(),
                                        [&](const TrustedDeviceRecord &record) { return record.peerID == peerID; });
        if (bound != devices.cend())
            return *bound;
    }

    std::optional<TrustedDeviceRecord> match;
    for (const TrustedDeviceRecord &record : devices) {
        if (record.peerID || record.name != peerName)
            continue;
        // Two unbound phones of the same name cannot be told apart.
        if (match)
            return std::nullopt;
        match = record;
    }
    return match;
}

TrustedDeviceRegistry TrustedDeviceRegistry::fromJson(const QJsonObject &object)
{
    TrustedDeviceRegistry registry;
    registry.version = requiredInteger(object, versionKey);
    registry.selectedDeviceID = optionalText(object, selectedDeviceIDKey);

    const QJsonValue devicesValue = requiredValue(object, devicesKey);
    if (!devicesValue.isArray())
        throw TrustedDeviceDecodingError(Case::wrongType, devicesKey, QStringLiteral("an array"));
    const QJsonArray array = devicesValue.toArray();
    for (qsizetype index = 0; index < array.size(); ++index) {
        const QString elementPath = QStringLiteral("devices[%1]").arg(index);
        const QJsonValue element = array.at(index);
        if (!element.isObject())
            throw TrustedDeviceDecodingError(element.isNull() ? Case::missingValue : Case::wrongType, elementPath,
                                             QStringLiteral("an object"));
        try {
            registry.devices.append(TrustedDeviceRecord::fromJson(element.toObject()));
        } catch (const TrustedDeviceDecodingError &error) {
            throw error.inside(elementPath);
        }
    }
    return registry;
}

QJsonObject TrustedDeviceRegistry::toJson() const
{
    QJsonArray array;
    for (const TrustedDeviceRecord &record : devices)
        array.append(record.toJson());

    QJsonObject object{{versionKey, version}, {devicesKey, array}};
    if (selectedDeviceID)
        object.insert(selectedDeviceIDKey, *selectedDeviceID);
    return object;
}

#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Typed reads of a management action's payload. A value of the wrong JSON type, or out of bounds, throws
// FileActionError naming the key; such texts are for developers, since the computer never sends them.
namespace ActionPayload {

// The value when it is a JSON number holding an integer exactly.
std::optional<qint64> integerValue(const QJsonValue &value);

// A required non-empty text of at most `maximumLength` UTF-16 units.
QString text(const QJsonObject &payload, const QString &key, qsizetype maximumLength);

// An optional text (absent or null gives an empty text) of at most `maximumLength` UTF-16 units.
QString optionalText(const QJsonObject &payload, const QString &key, qsizetype maximumLength);

// An optional integer from `minimum` up, any integer for the lowest qint64 (absent or null gives `fallback`).
qint64 optionalInteger(const QJsonObject &payload, const QString &key, qint64 minimum, qint64 fallback);

} // namespace ActionPayload

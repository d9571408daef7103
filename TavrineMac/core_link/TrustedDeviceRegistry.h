#pragma once

#include "TrustedDeviceRecord.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The phones this computer trusts, one of them selected as the phone the host serves.
struct TrustedDeviceRegistry
{
    static constexpr qint64 currentVersion = 1;
    static constexpr qsizetype maximumDeviceCount = 20;

    qint64 version = currentVersion;
    std::optional<QString> selectedDeviceID;
    QList<TrustedDeviceRecord> devices;

    bool operator==(const TrustedDeviceRegistry &) const = default;

    // The selected record, else the first one; nothing when there are no records.
    std::optional<TrustedDeviceRecord> selectedDevice() const;
    // Selects the record with this id; an unknown id changes nothing.
    void select(const QString &id);
    // Removes every record with this id; a selection of it moves to the first remaining record.
    void removeDevice(const QString &id);
    // The record of a peer the core host reports: by peer id when one is given and known, else the one
    // record without a peer id that carries this name.
    std::optional<TrustedDeviceRecord> device(const std::optional<QString> &peerID, const QString &peerName) const;

    // Throws TrustedDeviceDecodingError.
    static TrustedDeviceRegistry fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
};

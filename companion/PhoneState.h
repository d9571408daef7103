#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

struct PhoneStateLoadResult;

// What tavrine-phone keeps of a pairing so that it can reconnect without a new pairing URL.
struct PhoneState
{
    QString connectionMaterial;
    QString peerName;

    bool operator==(const PhoneState &) const = default;

    QJsonObject toJson() const;
    // Both keys are required texts and the material must not be empty; gives nothing, with the reason in
    // `errorMessage`, otherwise.
    static std::optional<PhoneState> fromJson(const QJsonObject &object, QString *errorMessage);

    // Reads the state file of the storage folder.
    static PhoneStateLoadResult load(const QString &storageDirectory);
    // Writes the state file atomically, readable by the owner alone, creating its folder as needed.
    bool save(const QString &storageDirectory, QString *errorMessage) const;
};

struct PhoneStateLoadResult
{
    enum class Status
    {
        loaded,
        missing,
        damaged,
    };

    Status status = Status::missing;
    PhoneState state;
    // Why the file was missing or damaged, with its path.
    QString errorMessage;
};

#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

// One phone as adb lists it, with the system properties read from it when it is authorised. Its identity is
// the serial; equality and hashing cover every field.
struct AndroidDevice
{
    // The connection state adb reports; the raw values are the words of the device list.
    enum class State
    {
        authorized,
        unauthorized,
        offline,
        recovery,
        bootloader,
        unknown,
    };

    // The state whose word is exactly `rawValue` (case-sensitive), or nothing.
    static std::optional<State> stateFromRawValue(QStringView rawValue);
    static QString rawValue(State state);

    QString serial;
    State state = State::unknown;
    std::optional<QString> model;
    std::optional<QString> product;
    std::optional<QString> transportID;
    bool isUSBTransport = false;
    std::optional<QString> marketingName;
    std::optional<QString> manufacturer;
    std::optional<QString> androidVersion;
    std::optional<qint64> sdkLevel;

    const QString &id() const { return serial; }

    // "Android " and the version, when the version is known and not empty.
    std::optional<QString> androidVersionLabel() const;

    // The name every text shows for the phone: the marketing name when not empty, else the model (even an
    // empty one) with each "_" as a blank, else "Android 手机".
    QString displayName() const;

    bool operator==(const AndroidDevice &) const = default;
};

size_t qHash(const AndroidDevice &device, size_t seed = 0) noexcept;

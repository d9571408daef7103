#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

// One phone as adb lists it, with the system properties read from it when it is authorised. Its identity is its
// serial together with adb's transport id; equality and hashing cover every field.
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
        // adb may not open the phone's USB device: the system's udev rules or groups do not allow it.
        noPermissions,
        // adb is still exchanging keys with the phone, or still opening its connection: both wait, as an
        // unauthorised phone does.
        authorizing,
        connecting,
    };

    // The state whose word is exactly `rawValue` (case-sensitive), or nothing.
    static std::optional<State> stateFromRawValue(QStringView rawValue);
    static QString rawValue(State state);

    QString serial;
    State state = State::unknown;
    std::optional<QString> model; // whole, as adb lists it; shown through displayName()
    std::optional<QString> product;
    std::optional<QString> transportID;
    bool isUSBTransport = false;
    std::optional<QString> marketingName;
    std::optional<QString> manufacturer;
    std::optional<QString> androidVersion;
    std::optional<qint64> sdkLevel;
    // The phone's own model ("ro.product.model"), as its system has it; `model` is adb's copy of it, with every
    // character other than an ASCII letter or digit written as "_".
    std::optional<QString> productModel;

    // Which phone this is while adb lists it: the serial and, when adb gives one, the transport id. Cheap phones
    // share one serial and adb tells them apart only by their transports; a phone plugged in again gets a new one.
    QString id() const;

    // Whether the phone waits for the user: unauthorised, or adb still exchanging keys or connecting.
    bool isWaitingForApproval() const;

    // Whether this is the phone whose system calls its model `phoneModel` (as the phone reports it to the
    // companion): its own model when it is known, compared ignoring case and surrounding blanks; otherwise adb's
    // copy, compared with every character of `phoneModel` other than an ASCII letter or digit read as "_", as adb
    // writes it.
    bool matchesPhoneModel(const QString &phoneModel) const;

    // "Android " and the version, when the version is known and not empty.
    std::optional<QString> androidVersionLabel() const;

    // The phone's name as it states it: the marketing name when not empty, else the model (even an empty one) with
    // each "_" as a blank, else "Android 手机". What is compared with a name the phone gives elsewhere.
    QString name() const;
    // The name every text shows for the phone: its name, cut to 64 characters.
    QString displayName() const;

    bool operator==(const AndroidDevice &) const = default;
};

size_t qHash(const AndroidDevice &device, size_t seed = 0) noexcept;

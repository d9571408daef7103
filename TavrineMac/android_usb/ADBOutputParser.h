#pragma once

#include "AndroidDevice.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The facts read from a phone's system properties ("adb shell getprop"), without control and bidirectional
// characters: the maker and version as they are shown, at most 64 characters each; the names whole (phoneWords), as
// they are compared with the names the phone gives elsewhere, and cut where they are shown.
struct ADBDeviceProperties
{
    std::optional<QString> marketingName;
    std::optional<QString> manufacturer;
    std::optional<QString> androidVersion;
    std::optional<qint64> sdkLevel;
    std::optional<QString> productModel; // "ro.product.model" alone, when not empty

    bool operator==(const ADBDeviceProperties &) const = default;

    // Reads the "[key]: [value]" lines of getprop's output; never fails: missing keys give absent fields.
    static ADBDeviceProperties fromGetpropOutput(const QString &output);

    // Copies the fields into the device record.
    void applyTo(AndroidDevice &device) const;
};

// Pure parsers of adb's text output. Every byte comes from a child process and may be anything.
namespace ADBOutputParser {

// The devices of "adb devices -l" output, in the order of their lines, duplicates kept; the model and product
// without control and bidirectional characters, whole (phoneWords).
QList<AndroidDevice> parseDeviceList(const QString &output);

// One line of that output: a device, or nothing for headers, daemon notices and lines without a state.
std::optional<AndroidDevice> parseDeviceLine(const QString &line);

// Whether adb reaches the phone of this serial over the network: "host:port", a wireless-debugging service
// name ("adb-….._adb-tls-connect._tcp") or an emulator ("emulator-5554").
bool isNetworkSerial(QStringView serial);

// What adb prints in place of an empty serial.
inline constexpr QLatin1String noSerialNumber("(no serial number)");

// `text` cut at every kind of line break (LF, VT, FF, CR, CR LF, U+0085, U+2028, U+2029), empty pieces dropped.
QStringList splitLines(const QString &text);

} // namespace ADBOutputParser

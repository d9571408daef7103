#include "TrustedPhoneOnUSB.h"

namespace {

// The only device of `candidates` whose name equals `name` ignoring case; none when none or several do. The names
// are compared whole: a long one shows cut.
std::optional<AndroidDevice> onlyDeviceNamed(const QString &name, const QList<AndroidDevice> &candidates)
{
    std::optional<AndroidDevice> match;
    for (const auto &device : candidates) {
        if (device.name().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (match)
            return std::nullopt; // two phones of that name: neither is known to be this one
        match = device;
    }
    return match;
}

} // namespace

std::optional<AndroidDevice> matchedUSBDevice(const TrustedDeviceRecord &record, const QList<AndroidDevice> &devices)
{
    if (!record.usbSerial)
        return onlyDeviceNamed(record.name, devices);
    QList<AndroidDevice> withSerial;
    for (const auto &device : devices) {
        if (device.serial == *record.usbSerial)
            withSerial.append(device);
    }
    if (withSerial.size() == 1)
        return withSerial.first();
    return onlyDeviceNamed(record.name, withSerial);
}

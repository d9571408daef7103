#include "USBAndroidDevice.h"

#include "TextExcerpt.h"

#include <QCollator>
#include <QLocale>

#include <libudev.h>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype maximumIdentifierDigits = 4; // USB identifiers are 16-bit

struct UdevDeleter
{
    void operator()(udev *context) const { udev_unref(context); }
    void operator()(udev_enumerate *enumeration) const { udev_enumerate_unref(enumeration); }
    void operator()(udev_device *device) const { udev_device_unref(device); }
};

template <typename Handle> using UdevPointer = std::unique_ptr<Handle, UdevDeleter>;

// The kernel bounds every attribute to one page, so a value is never larger than that.
std::optional<QString> attribute(udev_device *device, const char *name)
{
    const char *value = udev_device_get_sysattr_value(device, name);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value);
}

// A USB identifier as the kernel writes it, at most four hexadecimal digits; anything else is no identifier.
std::optional<int> identifier(const std::optional<QString> &text)
{
    if (!text || text->isEmpty() || text->size() > maximumIdentifierDigits)
        return std::nullopt;
    const bool isHexadecimal = std::ranges::all_of(*text, [](QChar character) {
        return (character >= u'0' && character <= u'9') || (character >= u'a' && character <= u'f') ||
               (character >= u'A' && character <= u'F');
    });
    return isHexadecimal ? std::optional<int>(text->toInt(nullptr, 16)) : std::nullopt;
}

// The interface adb talks to: vendor-specific class ff, subclass 42, protocol 01.
bool isADBInterface(udev_device *interface)
{
    const auto hexadecimal = [interface](const char *name) {
        return identifier(attribute(interface, name)).value_or(-1);
    };
    return hexadecimal("bInterfaceClass") == 0xff && hexadecimal("bInterfaceSubClass") == 0x42 &&
           hexadecimal("bInterfaceProtocol") == 0x01;
}

// The order sortByStandardName gives names: the interface's language (Chinese under the C locale), letter
// case ignored, runs of digits by their value; stable.
void sortByProductName(QList<USBAndroidDevice> &devices)
{
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::Chinese, QLocale::China) : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(devices.begin(), devices.end(), [&collator](const auto &left, const auto &right) {
        return collator.compare(left.productName, right.productName) < 0;
    });
}

} // namespace

QList<USBRegistryEntry> UdevUSBDeviceRegistry::attachedDevices() const
{
    const UdevPointer<udev> context(udev_new());
    if (!context)
        return {};
    const UdevPointer<udev_enumerate> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "usb") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0)
        return {};

    QList<USBRegistryEntry> entries;
    QStringList entryPaths;
    QSet<QString> withADBInterface;
    udev_list_entry *listEntry = nullptr;
    udev_list_entry_foreach(listEntry, udev_enumerate_get_list_entry(enumeration.get()))
    {
        const UdevPointer<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(listEntry)));
        // The subsystem also holds every interface of every device.
        const char *deviceType = device ? udev_device_get_devtype(device.get()) : nullptr;
        if (deviceType && qstrcmp(deviceType, "usb_interface") == 0) {
            if (isADBInterface(device.get())) {
                udev_device *owner = udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
                if (owner)
                    withADBInterface.insert(QString::fromUtf8(udev_device_get_syspath(owner)));
            }
            continue;
        }
        if (!deviceType || qstrcmp(deviceType, "usb_device") != 0)
            continue;
        entries.append({attribute(device.get(), "idVendor"), attribute(device.get(), "idProduct"),
                        attribute(device.get(), "product"), attribute(device.get(), "manufacturer"),
                        attribute(device.get(), "serial")});
        entryPaths.append(QString::fromUtf8(udev_device_get_syspath(device.get())));
    }
    for (qsizetype index = 0; index < entries.size(); ++index)
        entries[index].hasADBInterface = withADBInterface.contains(entryPaths.at(index));
    return entries;
}

QString USBAndroidDevice::id() const
{
    if (serialNumber)
        return *serialNumber;
    return u"%1:%2:%3"_s.arg(vendorID).arg(productID).arg(productName);
}

const QSet<int> &USBAndroidDevice::phoneVendorIDs()
{
    // The last three are Motorola, ASUS and ZTE.
    static const QSet<int> vendorIDs{0x18D1, 0x04E8, 0x2717, 0x2D95, 0x22D9, 0x12D1, 0x0FCE,
                                     0x1004, 0x17EF, 0x0BB4, 0x2A70, 0x22B8, 0x0B05, 0x19D2};
    return vendorIDs;
}

QList<USBAndroidDevice> USBAndroidDevice::connectedPhones()
{
    return connectedPhones(UdevUSBDeviceRegistry());
}

QList<USBAndroidDevice> USBAndroidDevice::connectedPhones(const USBDeviceRegistry &registry)
{
    QList<USBAndroidDevice> phones;
    for (const USBRegistryEntry &entry : registry.attachedDevices()) {
        const std::optional<int> vendorID = identifier(entry.idVendor);
        if (!vendorID || !phoneVendorIDs().contains(*vendorID))
            continue;
        const std::optional<int> productID = identifier(entry.idProduct);
        if (!productID)
            continue;
        // The names are the phone's own words; its serial number stays as it is, since adb lists the phone by it.
        const std::optional<QString> vendorName =
            entry.vendorName ? std::optional<QString>(phoneText(*entry.vendorName)) : std::nullopt;
        phones.append({*vendorID, *productID, phoneText(entry.productName.value_or(u"Android phone"_s)), vendorName,
                       entry.serialNumber, entry.hasADBInterface});
    }
    sortByProductName(phones);
    return phones;
}

size_t qHash(const USBAndroidDevice &device, size_t seed)
{
    // Absent and empty texts hash apart, as they compare apart.
    return qHashMulti(seed, device.vendorID, device.productID, device.productName, device.vendorName.has_value(),
                      device.vendorName.value_or(QString()), device.serialNumber.has_value(),
                      device.serialNumber.value_or(QString()), device.hasADBInterface);
}

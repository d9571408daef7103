#pragma once

#include <QHashFunctions>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// One attached USB device (not one of its interfaces) as the system's device registry describes it: the
// device's own attributes, as text, each absent when the device has none.
struct USBRegistryEntry
{
    std::optional<QString> idVendor;     // hexadecimal, as the kernel writes it ("18d1")
    std::optional<QString> idProduct;    // hexadecimal
    std::optional<QString> productName;  // the device's product string
    std::optional<QString> vendorName;   // its manufacturer string
    std::optional<QString> serialNumber; // its serial number string
    // Whether one of its interfaces is the one adb talks to (class ff, subclass 42, protocol 01): a phone shows it
    // only while USB debugging is on, whoever has claimed it.
    bool hasADBInterface = false;
};

// The system's registry of attached USB devices; tests give a list of their own.
class USBDeviceRegistry
{
public:
    virtual ~USBDeviceRegistry() = default;
    // Every attached USB device in the registry's order; empty when the registry cannot be asked.
    virtual QList<USBRegistryEntry> attachedDevices() const = 0;
};

// The registry of the running system, asked through libudev (subsystem "usb", device type "usb_device").
class UdevUSBDeviceRegistry : public USBDeviceRegistry
{
public:
    QList<USBRegistryEntry> attachedDevices() const override;
};

// A phone of a known phone maker plugged in by USB, whether or not adb lists it.
struct USBAndroidDevice
{
    int vendorID = 0;
    int productID = 0;
    QString productName;
    std::optional<QString> vendorName;
    std::optional<QString> serialNumber;
    bool hasADBInterface = false; // USB debugging is on

    // The serial number whenever there is one (even an empty one), else "vendor:product:name" in decimal.
    QString id() const;

    bool operator==(const USBAndroidDevice &) const = default;

    // The USB vendor identifiers of the phone makers whose devices are listed.
    static const QSet<int> &phoneVendorIDs();

    // The phones attached now, ordered by product name as the file browser orders names; never fails.
    static QList<USBAndroidDevice> connectedPhones();
    static QList<USBAndroidDevice> connectedPhones(const USBDeviceRegistry &registry);
};

size_t qHash(const USBAndroidDevice &device, size_t seed = 0);

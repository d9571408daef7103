#include "TestSupport.h"
#include "USBAndroidDevice.h"

#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

struct FakeUSBDeviceRegistry : USBDeviceRegistry
{
    QList<USBRegistryEntry> entries;
    QList<USBRegistryEntry> attachedDevices() const override { return entries; }
};

USBRegistryEntry entry(const QString &vendor, const QString &product, const QString &name, const QString &serial)
{
    return {vendor, product, name, u"Maker"_s, serial};
}

USBAndroidDevice phone(int vendor, int product, const QString &name, const QString &serial)
{
    return {vendor, product, name, u"Maker"_s, serial};
}

} // namespace

class USBAndroidDeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void listsPhonesOfKnownMakersByName_data()
    {
        const TestTable<QList<USBRegistryEntry>, QList<USBAndroidDevice>> rows;
        rows("keyboard, stick and root hub",
             {entry(u"046d"_s, u"c31c"_s, u"USB Keyboard"_s, {}), entry(u"0781"_s, u"5581"_s, u"Ultra"_s, u"1"_s),
              entry(u"1d6b"_s, u"0002"_s, u"xHCI Host Controller"_s, u"0000:00:14.0"_s)},
             {});
        rows("unreadable identifiers",
             {{std::nullopt, u"4ee7"_s, u"A"_s, {}, {}},
              {u"18d1"_s, std::nullopt, u"B"_s, {}, {}},
              {u"18d1"_s, u"4ee7z"_s, u"C"_s, {}, {}},
              {u"+4e8"_s, u"6860"_s, u"D"_s, {}, {}},
              {u"18d1"_s, u""_s, u"F"_s, {}, {}}},
             {});
        rows("Motorola, ASUS and ZTE",
             {entry(u"22b8"_s, u"2e81"_s, u"moto g"_s, u"m"_s), entry(u"0b05"_s, u"7770"_s, u"ASUS_AI2302"_s, u"a"_s),
              entry(u"19d2"_s, u"1351"_s, u"ZTE Blade"_s, u"z"_s)},
             {phone(0x0b05, 0x7770, u"ASUS_AI2302"_s, u"a"_s), phone(0x22b8, 0x2e81, u"moto g"_s, u"m"_s),
              phone(0x19d2, 0x1351, u"ZTE Blade"_s, u"z"_s)});
        rows("missing texts", {{u"04E8"_s, u"6860"_s, std::nullopt, std::nullopt, std::nullopt}},
             {{0x04E8, 0x6860, u"Android phone"_s, std::nullopt, std::nullopt}});
        rows("numbers by value, equal names in registry order, case ignored",
             {entry(u"18d1"_s, u"4ee7"_s, u"Pixel 10"_s, u"a"_s), entry(u"18d1"_s, u"4ee7"_s, u"Pixel 9"_s, u"b"_s),
              entry(u"2717"_s, u"ff48"_s, u"redmi"_s, u"c"_s), entry(u"04e8"_s, u"6860"_s, u"Galaxy S23"_s, u"d"_s),
              entry(u"18d1"_s, u"4ee7"_s, u"Pixel 9"_s, u"e"_s), entry(u"2a70"_s, u"9011"_s, u"OnePlus"_s, u"f"_s)},
             {phone(0x04e8, 0x6860, u"Galaxy S23"_s, u"d"_s), phone(0x2a70, 0x9011, u"OnePlus"_s, u"f"_s),
              phone(0x18d1, 0x4ee7, u"Pixel 9"_s, u"b"_s), phone(0x18d1, 0x4ee7, u"Pixel 9"_s, u"e"_s),
              phone(0x18d1, 0x4ee7, u"Pixel 10"_s, u"a"_s), phone(0x2717, 0xff48, u"redmi"_s, u"c"_s)});
    }

    void listsPhonesOfKnownMakersByName()
    {
        const auto [entries, phones] = TestTable<QList<USBRegistryEntry>, QList<USBAndroidDevice>>::fetch();
        FakeUSBDeviceRegistry registry;
        registry.entries = entries;
        QCOMPARE(USBAndroidDevice::connectedPhones(registry), phones);
    }

    void identityIsTheSerialWhenThereIsOne()
    {
        USBAndroidDevice device{6353, 20199, u"Pixel 7"_s, std::nullopt, std::nullopt};
        QCOMPARE(device.id(), u"6353:20199:Pixel 7"_s);
        device.serialNumber = QString(); // an empty serial is still the serial
        QCOMPARE(device.id(), QString());
    }

    // Run by CTest under umockdev-run with the recording of a phone and a keyboard on one hub.
    void recordedDevices()
    {
        if (qEnvironmentVariableIsEmpty("UMOCKDEV_DIR"))
            QSKIP("needs the umockdev test bed");
        QStringList vendors;
        for (const USBRegistryEntry &device : UdevUSBDeviceRegistry().attachedDevices())
            vendors.append(device.idVendor.value_or(u"none"_s));
        std::ranges::sort(vendors);
        // The keyboard's interface is no device of its own.
        QCOMPARE(vendors, QStringList({u"046d"_s, u"18d1"_s, u"1d6b"_s}));
        // The phone's USB debugging is on: one of its interfaces is adb's.
        const QList<USBAndroidDevice> phones{{0x18d1, 0x4ee7, u"Pixel 7"_s, u"Google"_s, u"28011FDH2000KN"_s, true}};
        QCOMPARE(USBAndroidDevice::connectedPhones(), phones);
    }
};

QTEST_GUILESS_MAIN(USBAndroidDeviceTest)
#include "test_usb_android_device.moc"

#pragma once

#include "../transfers_views/ViewsTestSupport.h"
#include "DeviceStore.h"

#include <QTemporaryDir>

#include <algorithm>
#include <memory>

// Phones, install records and a device store for the USB view tests.
namespace UsbViewsTestSupport {

inline AndroidDevice phone(const QString &serial = QStringLiteral("R5CT80ABCDE"),
                           AndroidDevice::State state = AndroidDevice::State::authorized)
{
    AndroidDevice device;
    device.serial = serial;
    device.state = state;
    device.model = QStringLiteral("SM_S911B");
    device.marketingName = QStringLiteral("Galaxy S23");
    device.manufacturer = QStringLiteral("samsung");
    device.androidVersion = QStringLiteral("14");
    device.isUSBTransport = true;
    return device;
}

// A record of `files` installed on `serial`, `minutes` after 2026-03-01 08:30 local time.
inline InstallHistoryRecord installRecord(const QString &id, const QString &serial, const QStringList &files,
                                          int minutes = 0, bool succeeded = true)
{
    const QDateTime first(QDate(2026, 3, 1), QTime(8, 30));
    return {id,
            serial,
            QStringLiteral("Galaxy S23"),
            files,
            first.addSecs(60 * minutes).toUTC(),
            succeeded,
            QStringLiteral("ok")};
}

struct NoUSBDevices : USBDeviceRegistry
{
    QList<USBRegistryEntry> attachedDevices() const override { return {}; }
};

// A device store without adb and without a companion package, whose history file holds `history`.
struct DeviceStoreFixture
{
    QTemporaryDir folder;
    std::unique_ptr<DeviceStore> store;

    DeviceStore &make(const QList<InstallHistoryRecord> &history = {})
    {
        const InstallHistoryStore historyStore(folder.filePath(QStringLiteral("install-history.json")));
        for (auto record = history.rbegin(); record != history.rend(); ++record)
            historyStore.append(*record);
        DeviceStoreEnvironment environment{std::make_shared<NoUSBDevices>(),
                                           folder.filePath(QStringLiteral("no-companion"))};
        store = std::make_unique<DeviceStore>(nullptr, historyStore, environment);
        return *store;
    }
};

// Texts of `root` that do not fit their label: a one-line text wider than its label, or wrapped text taller.
inline QStringList cutTexts(const QWidget *root)
{
    QStringList cut;
    for (const QLabel *label : root->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty())
            continue;
        const QRect area = label->contentsRect();
        const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                            : label->fontMetrics().horizontalAdvance(label->text()) <= area.width();
        if (!fits)
            cut.append(label->text());
    }
    return cut;
}

} // namespace UsbViewsTestSupport

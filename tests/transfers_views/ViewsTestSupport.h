#pragma once

#include "../transfers/StoreTestSupport.h"
#include "TransferCredentialStore.h"
#include "TransferTaskRepository.h"
#include "TrustedDeviceRegistryStore.h"

#include <QDateTime>
#include <QList>

// Records and stores for the view tests: tasks written into the fixture's task file before the store
// is made, and trusted phones put into its keychain.
namespace ViewsTestSupport {

inline TransferTaskRecord task(const QString &id, TransferTaskRecord::Status status,
                               TransferTaskRecord::Direction direction = TransferTaskRecord::Direction::sending,
                               qint64 transferredBytes = 0, qint64 totalBytes = 0)
{
    TransferTaskRecord record;
    record.id = id;
    record.direction = direction;
    record.peerName = QStringLiteral("Pixel");
    record.fileName = id + QStringLiteral(".jpg");
    record.transferredBytes = transferredBytes;
    record.totalBytes = totalBytes;
    record.status = status;
    record.message = QStringLiteral("message of ") + id;
    record.createdAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    record.updatedAt = record.createdAt;
    return record;
}

// A store whose task list is `tasks` (sending and receiving tasks come back as waiting, as after a relaunch).
inline TransferStore &storeWithTasks(StoreFixture &fixture, const QList<TransferTaskRecord> &tasks)
{
    TransferTaskRepository(fixture.taskFile()).save(tasks);
    return fixture.make();
}

inline TrustedDeviceRecord phone(const QString &name, int number)
{
    TrustedDeviceRecord device;
    device.id = QStringLiteral("00000000-0000-4000-8000-%1").arg(number, 12, 10, QLatin1Char('0'));
    device.name = name;
    device.secret = QStringLiteral("0123456789abcdef0123456789abcdef") + QString::number(number);
    device.createdAt = QDateTime::currentDateTimeUtc().addDays(-30);
    device.lastSeenAt = QDateTime::currentDateTimeUtc().addSecs(-3600 * number);
    return device;
}

inline TrustedDeviceRegistryStore registryStore(StoreFixture &fixture)
{
    return TrustedDeviceRegistryStore(
        TransferCredentialStore(QStringLiteral("com.drovan.tavrine.transfer"), fixture.keychain));
}

// A started store whose registry holds `devices`, the one at `selected` selected.
inline TransferStore &storeWithPhones(StoreFixture &fixture, const QList<TrustedDeviceRecord> &devices,
                                      int selected = 0)
{
    TrustedDeviceRegistry registry;
    registry.devices = devices;
    if (!devices.isEmpty()) {
        registry.selectedDeviceID = devices[selected].id;
    }
    registryStore(fixture).save(registry);
    TransferStore &store = fixture.make();
    awaitTask(store.startUp());
    return store;
}

} // namespace ViewsTestSupport

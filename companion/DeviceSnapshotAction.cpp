#include "DeviceSnapshotAction.h"

#include <QDateTime>
#include <QFile>
#include <QStorageInfo>

#include <ctime>
#include <limits>

namespace {

const QString snapshotAction = QStringLiteral("device.snapshot");

// The memory figures of /proc/meminfo, in bytes, but for `low`; fixed ones where it cannot be read.
ManagedDeviceSnapshot::Memory memoryFigures()
{
    ManagedDeviceSnapshot::Memory figures{qint64(8) << 30, qint64(4) << 30, std::nullopt, false};
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly)) {
        return figures;
    }
    std::optional<qint64> total;
    std::optional<qint64> available;
    // The figures sit in the first lines; a few kilobytes are plenty.
    for (const QByteArray &line : file.read(64 * 1024).split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool valid = false;
        const qint64 kibibytes = fields.size() >= 2 ? fields.at(1).toLongLong(&valid) : 0;
        if (!valid || kibibytes < 0 || kibibytes > (std::numeric_limits<qint64>::max() >> 10)) {
            continue;
        }
        const qint64 bytes = kibibytes << 10;
        if (fields.at(0) == "MemTotal:") {
            total = bytes;
        } else if (fields.at(0) == "MemAvailable:") {
            available = bytes;
        } else if (fields.at(0) == "MemFree:") {
            figures.freeBytes = bytes;
        }
    }
    if (total && available) {
        figures.totalBytes = *total;
        figures.availableBytes = *available;
    }
    return figures;
}

qint64 uptimeMillis()
{
    timespec now = {};
#ifdef CLOCK_BOOTTIME
    const clockid_t clock = CLOCK_BOOTTIME; // counts suspended time too, as a phone's uptime does
#else
    const clockid_t clock = CLOCK_MONOTONIC;
#endif
    if (::clock_gettime(clock, &now) != 0) {
        return 0;
    }
    return static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

} // namespace

ManagedDeviceSnapshot DeviceSnapshotAction::standInFigures()
{
    return {
        .version = 1,
        .manufacturer = QStringLiteral("Tavrine"),
        .brand = QStringLiteral("Tavrine"),
        .device = QStringLiteral("tavrine_phone"),
        .androidVersion = QStringLiteral("14"),
        .sdkLevel = 34,
        .securityPatch = QStringLiteral("2024-06-01"),
        .agentVersion = QStringLiteral(TAVRINE_PHONE_VERSION),
        // Not plugged in (0), in good health (2).
        .battery = {.percent = 80, .plugged = 0, .health = 2, .cycleCount = 120, .temperatureCelsius = 31.5},
        .network = {.connected = true, .wifi = true, .cellular = false},
        .capabilities = {.version = 1, .allFilesGranted = true, .applicationInventory = true},
    };
}

DeviceSnapshotAction::DeviceSnapshotAction(const QString &storageDirectory, const QString &model,
                                           ActionNames actionNames, ManagedDeviceSnapshot figures)
    : m_storageDirectory(storageDirectory), m_actionNames(std::move(actionNames)), m_figures(std::move(figures))
{
    m_figures.model = model;
}

void DeviceSnapshotAction::addTo(ManagementHandlers &handlers)
{
    handlers.add(snapshotAction, [this](const QJsonObject &) { return ManagementAnswer::succeeded(snapshot()); });
}

QJsonObject DeviceSnapshotAction::snapshot() const
{
    ManagedDeviceSnapshot snapshot = m_figures;
    snapshot.capturedAtMillis = QDateTime::currentMSecsSinceEpoch();
    snapshot.uptimeMillis = uptimeMillis();
    const QStorageInfo storage(m_storageDirectory);
    snapshot.storage = {storage.isValid() ? storage.bytesTotal() : 0, storage.isValid() ? storage.bytesAvailable() : 0};
    snapshot.memory = memoryFigures();
    // As a phone does, memory counts as low when less than a tenth is available.
    snapshot.memory.low = snapshot.memory.availableBytes < snapshot.memory.totalBytes / 10;
    snapshot.capabilities.actions = m_actionNames();
    return encodeManaged(snapshot);
}

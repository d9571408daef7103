#include "DeviceSnapshotAction.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QStorageInfo>

#include <ctime>
#include <limits>

namespace {

const QString snapshotAction = QStringLiteral("device.snapshot");

struct MemoryFigures
{
    qint64 totalBytes = qint64(8) << 30;
    qint64 availableBytes = qint64(4) << 30;
    std::optional<qint64> freeBytes;
};

// The memory figures of /proc/meminfo, in bytes; fixed ones where it cannot be read.
MemoryFigures memoryFigures()
{
    MemoryFigures figures;
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

QString DeviceSnapshotFigures::phoneProgramVersion()
{
    return QStringLiteral(TAVRINE_PHONE_VERSION);
}

DeviceSnapshotAction::DeviceSnapshotAction(const QString &storageDirectory, const QString &model,
                                           ActionNames actionNames, DeviceSnapshotFigures figures)
    : m_storageDirectory(storageDirectory), m_model(model), m_actionNames(std::move(actionNames)),
      m_figures(std::move(figures))
{}

void DeviceSnapshotAction::addTo(ManagementHandlers &handlers)
{
    handlers.add(snapshotAction, [this](const QJsonObject &) { return ManagementAnswer::succeeded(snapshot()); });
}

QJsonObject DeviceSnapshotAction::snapshot() const
{
    QJsonObject battery{
        {QStringLiteral("charging"), m_figures.charging},
        {QStringLiteral("plugged"), m_figures.batteryPlugged},
        {QStringLiteral("health"), m_figures.batteryHealth},
        {QStringLiteral("cycleCount"), m_figures.batteryCycleCount},
    };
    if (m_figures.batteryPercent) {
        battery.insert(QStringLiteral("percent"), *m_figures.batteryPercent);
    }
    if (m_figures.batteryTemperatureCelsius) {
        battery.insert(QStringLiteral("temperatureCelsius"), *m_figures.batteryTemperatureCelsius);
    }

    const QStorageInfo storage(m_storageDirectory);
    const MemoryFigures memoryFigures = ::memoryFigures();
    QJsonObject memory{
        {QStringLiteral("totalBytes"), memoryFigures.totalBytes},
        {QStringLiteral("availableBytes"), memoryFigures.availableBytes},
        // As a phone does, memory counts as low when less than a tenth is available.
        {QStringLiteral("low"), memoryFigures.availableBytes < memoryFigures.totalBytes / 10},
    };
    if (memoryFigures.freeBytes) {
        memory.insert(QStringLiteral("freeBytes"), *memoryFigures.freeBytes);
    }

    return {
        {QStringLiteral("version"), 1},
        {QStringLiteral("capturedAtMillis"), QDateTime::currentMSecsSinceEpoch()},
        {QStringLiteral("manufacturer"), m_figures.manufacturer},
        {QStringLiteral("brand"), m_figures.brand},
        {QStringLiteral("model"), m_model},
        {QStringLiteral("device"), m_figures.device},
        {QStringLiteral("androidVersion"), m_figures.androidVersion},
        {QStringLiteral("sdkLevel"), m_figures.sdkLevel},
        {QStringLiteral("securityPatch"), m_figures.securityPatch},
        {QStringLiteral("agentVersion"), m_figures.agentVersion},
        {QStringLiteral("uptimeMillis"), uptimeMillis()},
        {QStringLiteral("locked"), m_figures.locked},
        {QStringLiteral("battery"), battery},
        {QStringLiteral("storage"),
         QJsonObject{
             {QStringLiteral("totalBytes"), storage.isValid() ? storage.bytesTotal() : 0},
             {QStringLiteral("availableBytes"), storage.isValid() ? storage.bytesAvailable() : 0},
         }},
        {QStringLiteral("memory"), memory},
        {QStringLiteral("network"),
         QJsonObject{
             {QStringLiteral("connected"), m_figures.networkConnected},
             {QStringLiteral("wifi"), m_figures.wifi},
             {QStringLiteral("cellular"), m_figures.cellular},
         }},
        {QStringLiteral("capabilities"),
         QJsonObject{
             {QStringLiteral("version"), 1},
             {QStringLiteral("allFilesGranted"), true},
             {QStringLiteral("applicationInventory"), true},
             {QStringLiteral("wirelessApplicationInstall"), false},
             {QStringLiteral("actions"), QJsonArray::fromStringList(m_actionNames())},
         }},
    };
}

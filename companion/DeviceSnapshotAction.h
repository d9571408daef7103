#pragma once

#include "ManagementHandlers.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What the stand-in phone reports about itself where no real figure exists: a recent Android phone on Wi-Fi.
struct DeviceSnapshotFigures
{
    QString manufacturer = QStringLiteral("Tavrine");
    QString brand = QStringLiteral("Tavrine");
    QString device = QStringLiteral("tavrine_phone");
    QString androidVersion = QStringLiteral("14");
    int sdkLevel = 34;
    QString securityPatch = QStringLiteral("2024-06-01");
    QString agentVersion = phoneProgramVersion();
    bool locked = false;
    std::optional<int> batteryPercent = 80;
    bool charging = false;
    int batteryPlugged = 0; // not plugged in
    int batteryHealth = 2;  // good
    int batteryCycleCount = 120;
    std::optional<double> batteryTemperatureCelsius = 31.5;
    bool networkConnected = true;
    bool wifi = true;
    bool cellular = false;

    // The version of tavrine-phone.
    static QString phoneProgramVersion();
};

// "device.snapshot" {} answers a ManagedDeviceSnapshot: the real time, uptime, free space of the storage
// folder's file system and memory of this computer, the actions the phone answers, and `figures` for the rest.
class DeviceSnapshotAction
{
public:
    using ActionNames = std::function<QStringList()>;

    // `model` is the phone's name; `actionNames` gives the sorted names of the actions the phone answers,
    // asked at every snapshot.
    DeviceSnapshotAction(const QString &storageDirectory, const QString &model, ActionNames actionNames,
                         DeviceSnapshotFigures figures = {});

    void addTo(ManagementHandlers &handlers);

    QJsonObject snapshot() const;

private:
    QString m_storageDirectory;
    QString m_model;
    ActionNames m_actionNames;
    DeviceSnapshotFigures m_figures;
};

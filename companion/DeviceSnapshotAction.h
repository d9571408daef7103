#pragma once

#include "ManagedContentModel.h"
#include "ManagementHandlers.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

// "device.snapshot" {} answers a ManagedDeviceSnapshot: the real time, uptime, free space of the storage
// folder's file system and memory of this computer, the actions the phone answers, and `figures` for the rest.
class DeviceSnapshotAction
{
public:
    using ActionNames = std::function<QStringList()>;

    // What the stand-in phone reports about itself where no real figure exists: a recent Android phone on
    // Wi-Fi, running this version of tavrine-phone.
    static ManagedDeviceSnapshot standInFigures();

    // `model` is the phone's name; `actionNames` gives the sorted names of the actions the phone answers,
    // asked at every snapshot.
    DeviceSnapshotAction(const QString &storageDirectory, const QString &model, ActionNames actionNames,
                         ManagedDeviceSnapshot figures = standInFigures());

    void addTo(ManagementHandlers &handlers);

    QJsonObject snapshot() const;

private:
    QString m_storageDirectory;
    ActionNames m_actionNames;
    ManagedDeviceSnapshot m_figures;
};

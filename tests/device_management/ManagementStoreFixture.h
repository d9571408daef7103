#pragma once

#include "AwaitTask.h"
#include "DeviceManagementStore.h"
#include "FakeManagementChannel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <optional>

#include <sys/stat.h>

// A device-management store over a fake channel, with its preview cache in a folder of its own, switched to
// the phone "peer-1".
struct ManagementStoreFixture
{
    QTemporaryDir folder;
    std::shared_ptr<FakeManagementChannel> channel = std::make_shared<FakeManagementChannel>();
    std::optional<qint64> availableBytes; // what the store is told of free local space; nothing: unknown
    // Folders on a disk of their own, with what the store is told of their free space; availableBytes for all others.
    std::map<QString, std::optional<qint64>> availableBytesByFolder;
    std::unique_ptr<DeviceManagementStore> store;

    ManagementStoreFixture()
    {
        DeviceManagementStoreEnvironment environment;
        environment.previewDirectory = folder.filePath(QStringLiteral("previews"));
        environment.availableBytes = [this](const QString &path) {
            const auto disk = availableBytesByFolder.find(path);
            return disk == availableBytesByFolder.end() ? availableBytes : disk->second;
        };
        store = std::make_unique<DeviceManagementStore>(channel, environment);
        store->setActivePeer(QStringLiteral("peer-1"));
    }
};

inline ManagedFileEntry fileEntry(const QString &id, const QString &name, std::optional<qint64> size = 10)
{
    return {id, name, false, size, 1'700'000'000'000, false, true};
}

inline ManagedFileEntry folderEntry(const QString &id, const QString &name)
{
    return {id, name, true, std::nullopt, 1'700'000'000'000, false, true};
}

// What a Pixel 8 on Android 14 reports: three quarters of its battery, about half its storage free, files allowed.
inline ManagedDeviceSnapshot pixelSnapshot()
{
    ManagedDeviceSnapshot snapshot;
    snapshot.manufacturer = QStringLiteral("Google");
    snapshot.model = QStringLiteral("Pixel 8");
    snapshot.androidVersion = QStringLiteral("14");
    snapshot.agentVersion = QStringLiteral("1.0");
    snapshot.battery.percent = 76;
    snapshot.storage = {128'000'000'000, 61'500'000'000};
    snapshot.capabilities.allFilesGranted = true;
    return snapshot;
}

// One "files.list" answer.
inline QJsonObject filePageJson(const QString &parentID, const QList<ManagedFileEntry> &entries,
                                std::optional<qint64> nextPageToken = std::nullopt)
{
    ManagedFilePage page{1, parentID, parentID + QStringLiteral(" name"), std::nullopt, entries, nextPageToken};
    return encodeManaged(page);
}

// Makes local items below `folder`, parents as needed: "A/" a folder, "A/f" a one-byte file, "A/f=N" a sparse file
// of N bytes, "A/l -> T" a symbolic link to T, "A/p|" a named pipe. False when one cannot be made.
inline bool makeLocalItems(const QString &folder, const QStringList &items)
{
    const QString arrow = QStringLiteral(" -> ");
    for (const QString &item : items) {
        QString path = folder + u'/' + item.section(arrow, 0, 0).section(u'=', 0, 0);
        bool made = QDir().mkpath(QFileInfo(path).path());
        if (item.endsWith(u'/')) {
            made = made && QDir().mkpath(path);
        } else if (item.contains(arrow)) {
            made = made && QFile::link(item.section(arrow, 1), path);
        } else if (item.endsWith(u'|')) {
            path.chop(1);
            made = made && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        } else {
            QFile file(path);
            const qint64 size = item.contains(u'=') ? item.section(u'=', 1).toLongLong() : 1;
            made = made && file.open(QIODevice::WriteOnly) && file.resize(size);
        }
        if (!made) {
            return false;
        }
    }
    return true;
}

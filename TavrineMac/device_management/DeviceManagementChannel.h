#pragma once

#include "TransferTaskRecord.h"

#include <QList>
#include <QString>

#include <qcorotask.h>

#include <functional>
#include <optional>

class QObject;
class TransferStore;

// What the device-management store needs of the link with the phone: the management round trip and the
// managed transfers. The application's channel is its transfer store; tests give a fake.
class DeviceManagementChannel
{
public:
    virtual ~DeviceManagementChannel() = default;

    // Whether the transfer store's phase is connected, whatever the peer's name.
    virtual bool isConnected() const = 0;
    // Resumes with the phone's answer text, or throws DeviceManagementRequestError or the time-out.
    virtual QCoro::Task<QString> requestManagement(QString action, QString payload) = 0;
    // Both may throw; nothing is queued then.
    virtual void enqueueManagedUploads(const QList<PreparedManagedUploadFile> &files) = 0;
    virtual void enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &files,
                                         const QString &destinationFolder) = 0;
    // Resumes with the path of the delivered file, or throws.
    virtual QCoro::Task<QString> waitForManagedDownload(QString transferID) = 0;
    // The folder a download is received into before it is delivered; nothing when the channel does not say.
    virtual std::optional<QString> receiveFolder() const { return std::nullopt; }
    // Calls `changed` with the transfer tasks now and after each change of them, for as long as `receiver` lives.
    // A channel that keeps no tasks never calls it.
    virtual void observeTasks(QObject *receiver, std::function<void(const QList<TransferTaskRecord> &tasks)> changed)
    {
        Q_UNUSED(receiver);
        Q_UNUSED(changed);
    }
};

// The channel of the application: its one transfer store, which outlives the channel.
class TransferStoreManagementChannel : public DeviceManagementChannel
{
public:
    explicit TransferStoreManagementChannel(TransferStore &store) : m_store(store) {}

    bool isConnected() const override;
    QCoro::Task<QString> requestManagement(QString action, QString payload) override;
    void enqueueManagedUploads(const QList<PreparedManagedUploadFile> &files) override;
    void enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &files,
                                 const QString &destinationFolder) override;
    QCoro::Task<QString> waitForManagedDownload(QString transferID) override;
    std::optional<QString> receiveFolder() const override;
    void observeTasks(QObject *receiver, std::function<void(const QList<TransferTaskRecord> &tasks)> changed) override;

private:
    TransferStore &m_store;
};

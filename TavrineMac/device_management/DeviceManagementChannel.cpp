#include "DeviceManagementChannel.h"

#include "TransferStore.h"

bool TransferStoreManagementChannel::isConnected() const
{
    return m_store.phase().kind == TransferStore::Phase::Kind::connected;
}

QCoro::Task<QString> TransferStoreManagementChannel::requestManagement(QString action, QString payload)
{
    return m_store.requestManagement(std::move(action), std::move(payload));
}

void TransferStoreManagementChannel::enqueueManagedUploads(const QList<PreparedManagedUploadFile> &files)
{
    m_store.enqueueManagedUploads(files);
}

void TransferStoreManagementChannel::enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &files,
                                                             const QString &destinationFolder)
{
    m_store.enqueueManagedDownloads(files, destinationFolder);
}

QCoro::Task<QString> TransferStoreManagementChannel::waitForManagedDownload(QString transferID)
{
    return m_store.waitForManagedDownload(std::move(transferID));
}

std::optional<QString> TransferStoreManagementChannel::receiveFolder() const
{
    return m_store.receiveFolder();
}

void TransferStoreManagementChannel::observeTasks(QObject *receiver,
                                                  std::function<void(const QList<TransferTaskRecord> &tasks)> changed)
{
    changed(m_store.tasks());
    QObject::connect(&m_store, &TransferStore::tasksChanged, receiver,
                     [store = &m_store, changed = std::move(changed)] { changed(store->tasks()); });
}

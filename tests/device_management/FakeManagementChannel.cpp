#include "FakeManagementChannel.h"

#include <qcorosignal.h>
#include <qcorotimer.h>

#include <chrono>

QStringList FakeManagementChannel::actions() const
{
    QStringList names;
    for (const Request &request : requests) {
        names.append(request.action);
    }
    return names;
}

QCoro::Task<void> FakeManagementChannel::waitTurn()
{
    if (hold) {
        co_await qCoro(this, &FakeManagementChannel::released);
    } else {
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    }
}

QCoro::Task<QString> FakeManagementChannel::requestManagement(QString action, QString payload)
{
    const Request request{action, payload};
    requests.append(request);
    co_await waitTurn();
    const Reply reply = answer ? answer(request) : Reply{};
    if (reply.error) {
        std::rethrow_exception(reply.error);
    }
    co_return reply.text;
}

void FakeManagementChannel::enqueueManagedUploads(const QList<PreparedManagedUploadFile> &files)
{
    if (const std::exception_ptr error = std::exchange(enqueueError, nullptr)) {
        std::rethrow_exception(error);
    }
    uploads.append(files);
}

void FakeManagementChannel::enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &files,
                                                    const QString &destinationFolder)
{
    if (const std::exception_ptr error = std::exchange(enqueueError, nullptr)) {
        std::rethrow_exception(error);
    }
    downloads.append({files, destinationFolder});
}

QCoro::Task<QString> FakeManagementChannel::waitForManagedDownload(QString transferID)
{
    co_await waitTurn();
    if (waitError || !deliveredPath) {
        std::rethrow_exception(waitError ? waitError
                                         : std::make_exception_ptr(DeviceManagementRequestError::disconnected()));
    }
    co_return deliveredPath(transferID);
}

void FakeManagementChannel::observeTasks(QObject *receiver,
                                         std::function<void(const QList<TransferTaskRecord> &tasks)> changed)
{
    changed(tasks);
    connect(this, &FakeManagementChannel::tasksChanged, receiver, [this, changed] { changed(tasks); });
}

#pragma once

#include "DeviceManagementChannel.h"
#include "DeviceManagementRequestError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>

#include <exception>
#include <functional>
#include <optional>

// A management channel that answers from the test: each request is recorded with its exact payload text and
// answered by `answer` after one turn of the event loop, or held until release() while `hold` is set.
class FakeManagementChannel : public QObject, public DeviceManagementChannel
{
    Q_OBJECT

public:
    struct Request
    {
        QString action;
        QString payload; // the text as the store encoded it
        QJsonObject object() const { return QJsonDocument::fromJson(payload.toUtf8()).object(); }
    };

    // An answer text, or an error to throw.
    struct Reply
    {
        QString text = QStringLiteral("{}");
        std::exception_ptr error;

        static Reply json(const QJsonObject &object)
        {
            return {QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)), nullptr};
        }
        static Reply failure(const DeviceManagementRequestError &error) { return {{}, std::make_exception_ptr(error)}; }
    };

    bool connected = true;
    bool hold = false;
    std::function<Reply(const Request &request)> answer;
    QList<Request> requests;

    QList<QList<PreparedManagedUploadFile>> uploads;
    QList<std::pair<QList<PreparedManagedDownloadFile>, QString>> downloads;
    std::exception_ptr enqueueError; // thrown by the next enqueue call
    // The delivered file of a waited-for download, by transfer id; nothing: the wait throws `waitError`.
    std::function<QString(const QString &transferID)> deliveredPath;
    std::exception_ptr waitError;
    QList<TransferTaskRecord> tasks;
    std::optional<QString> receiveFolderPath; // what receiveFolder() says

    // Publishes `changed` as the transfer tasks, as the transfer store does after each change of them.
    void setTasks(const QList<TransferTaskRecord> &changed)
    {
        tasks = changed;
        emit tasksChanged();
    }

    QStringList actions() const;
    qsizetype count(const QString &action) const { return actions().count(action); }
    // Lets every held request (and held download wait) go on; requests held later wait again.
    void release() { emit released(); }

    bool isConnected() const override { return connected; }
    QCoro::Task<QString> requestManagement(QString action, QString payload) override;
    void enqueueManagedUploads(const QList<PreparedManagedUploadFile> &files) override;
    void enqueueManagedDownloads(const QList<PreparedManagedDownloadFile> &files,
                                 const QString &destinationFolder) override;
    QCoro::Task<QString> waitForManagedDownload(QString transferID) override;
    std::optional<QString> receiveFolder() const override { return receiveFolderPath; }
    void observeTasks(QObject *receiver, std::function<void(const QList<TransferTaskRecord> &tasks)> changed) override;

signals:
    void released();
    void tasksChanged();

private:
    QCoro::Task<void> waitTurn();
};

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringView>

#include <exception>
#include <optional>

// A task object of the task file that cannot be read: a required key is missing, a value has the
// wrong type, or a text is none of the values its field allows.
class TransferTaskRecordDecodingError : public std::exception
{
public:
    enum class Case
    {
        missingKey,
        wrongType,
        invalidValue
    };

    TransferTaskRecordDecodingError(Case errorCase, const QString &key);

    Case errorCase() const { return m_case; }
    QString key() const { return m_key; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_description.constData(); }

private:
    Case m_case;
    QString m_key;
    QByteArray m_description;
};

// One file moving between this computer and a phone, as the task list shows it and the task file keeps it.
struct TransferTaskRecord
{
    enum class Status
    {
        queued,
        waitingForConnection,
        sending,
        receiving,
        paused,
        completed,
        failed,
        needsAttention,
        cancelled
    };

    enum class Direction
    {
        sending,
        receiving
    };

    enum class DeliveryPurpose
    {
        export_, // "export": `export` is a C++ keyword
        preview
    };

    QString id;
    Direction direction = Direction::sending;
    QString peerName;
    std::optional<QString> trustedDeviceID;
    QString fileName;
    std::optional<QByteArray> sourceBookmark;
    std::optional<QString> remoteDirectoryID;
    std::optional<QString> remoteFileID;
    std::optional<QString> batchID;
    std::optional<QString> batchName;
    std::optional<QString> relativePath;
    std::optional<QByteArray> destinationBookmark;
    std::optional<QString> destinationRelativePath;
    // The name given to a downloaded file in the save dialog; without it the file is meant to keep `fileName`.
    std::optional<QString> chosenName;
    std::optional<DeliveryPurpose> deliveryPurpose;
    std::optional<QDateTime> deliveryCompletedAt;
    qint64 transferredBytes = 0;
    qint64 totalBytes = 0;
    Status status = Status::queued;
    QString message;
    QDateTime createdAt;
    QDateTime updatedAt;

    bool operator==(const TransferTaskRecord &) const = default;

    double progress() const;
    static bool isFinished(Status status);
    bool canPause() const;
    bool canResume() const;
    bool canRetry() const;
    bool canCancel() const;

    static QString rawValue(Status status);
    static QString rawValue(Direction direction);
    static QString rawValue(DeliveryPurpose purpose);
    static std::optional<Status> statusFromRawValue(QStringView text);
    static std::optional<Direction> directionFromRawValue(QStringView text);
    static std::optional<DeliveryPurpose> deliveryPurposeFromRawValue(QStringView text);

    // Throws TransferTaskRecordDecodingError.
    static TransferTaskRecord fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
};

// One local file of a managed upload, handed from the device-management store to the transfer store.
struct PreparedManagedUploadFile
{
    QString sourceURL; // absolute path of the local file
    QString remoteDirectoryID;
    QString relativePath;
    QString batchID;
    QString batchName;

    bool operator==(const PreparedManagedUploadFile &) const = default;
};

// One phone file of a managed download, handed from the device-management store to the transfer store.
struct PreparedManagedDownloadFile
{
    QString transferID;
    QString remoteFileID;
    QString fileName;
    qint64 totalBytes = 0;
    QString relativePath;
    TransferTaskRecord::DeliveryPurpose purpose = TransferTaskRecord::DeliveryPurpose::export_;
    std::optional<QString> batchID;
    std::optional<QString> batchName;
    std::optional<QString> chosenName; // the name given in the save dialog, when there was one

    bool operator==(const PreparedManagedDownloadFile &) const = default;
};

#pragma once

#include "TransferTaskRecord.h"

#include <QByteArray>
#include <QString>

#include <exception>

// Why a downloaded file cannot be put into the folder chosen for it.
class ManagedDownloadDeliveryError : public std::exception
{
public:
    enum class Case
    {
        receivedFileMissing,
        destinationUnavailable,
        invalidRelativePath,
        sizeMismatch
    };

    explicit ManagedDownloadDeliveryError(Case errorCase);

    Case errorCase() const { return m_case; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Case m_case;
    QByteArray m_what;
};

// A file-system operation that the system refused; carries the system's own description.
class FileOperationError : public std::exception
{
public:
    explicit FileOperationError(const QString &description);

    QString errorDescription() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

// Puts a downloaded file from the receive folder into the folder chosen for it. Pure file-system
// work without state: safe on any thread. A bookmark is the folder's absolute path in UTF-8.
class ManagedDownloadDelivery
{
public:
    struct Result
    {
        QString url; // absolute path of the delivered file
        QString relativePath;

        bool operator==(const Result &) const = default;
    };

    // The delivery is written under a hidden name of transfer `transferId`'s own, so that an attempt cut short leaves
    // nothing the next does not replace. Throws ManagedDownloadDeliveryError or FileOperationError.
    static Result deliver(const QString &transferId, const QString &receiveFolder, const QString &fileName,
                          const QByteArray &destinationBookmark, const QString &destinationRelativePath,
                          qint64 expectedSize, TransferTaskRecord::DeliveryPurpose purpose);

    // Where the delivered file of `record` lies. Throws ManagedDownloadDeliveryError or FileOperationError.
    static QString destinationURL(const TransferTaskRecord &record);
};

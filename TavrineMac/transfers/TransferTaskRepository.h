#pragma once

#include "TransferTaskRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <exception>
#include <optional>

// The task file could not be written; the description is the system's.
class TransferTaskRepositoryError : public std::exception
{
public:
    explicit TransferTaskRepositoryError(const QString &description);

    QString errorDescription() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

// The task file "transfer-tasks-v1.json": a JSON array of task records, newest first.
class TransferTaskRepository
{
public:
    // Without a path: "Tavrine/transfer-tasks-v1.json" in the user's data folder (the temporary folder
    // when there is none).
    explicit TransferTaskRepository(std::optional<QString> filePath = std::nullopt);

    QString filePath() const { return m_filePath; }

    // Never fails: a missing file is an empty list, and every record that decodes is kept in file order.
    // A file that cannot be read whole is kept beside itself as "transfer-tasks-v1.json.damaged-<UTC time>"
    // (with "-2", "-3"... when that name is taken) before anything can be written over it: its bytes are
    // copied there, or, when it cannot be read at all, the file itself is moved there.
    QList<TransferTaskRecord> load() const;

    // Throws TransferTaskRepositoryError.
    void save(const QList<TransferTaskRecord> &records) const;

private:
    QString m_filePath;
};

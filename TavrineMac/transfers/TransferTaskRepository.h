#pragma once

#include "TransferTaskRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <exception>
#include <memory>
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
    // (with "-2", "-3"... when that name is taken) before anything can be written over it, in a way that needs no
    // room on the disk: that name is a second name of the file, or, where there can be none or the file cannot be
    // read at all, the file itself moved there.
    QList<TransferTaskRecord> load() const;

    // Throws TransferTaskRepositoryError, whose description is the reason in the interface's words. A damaged file
    // that load() could not keep is not written over: the save keeps it first, or fails.
    void save(const QList<TransferTaskRecord> &records) const;

    // Removes what writes cut short by the end of the process left beside the file: regular files named like the
    // file plus "." and six letters or digits (never a link, nor what it names).
    void removeLeftoverTemporaryFiles() const;

private:
    struct UnkeptDamage;

    void keepDamage(const std::optional<QByteArray> &contents) const;

    QString m_filePath;
    std::shared_ptr<UnkeptDamage> m_unkeptDamage;
};

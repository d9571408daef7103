#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>

// A record of the install history that cannot be read: a key is missing or its value has the wrong type or
// form.
class InstallHistoryRecordDecodingError : public std::exception
{
public:
    explicit InstallHistoryRecordDecodingError(const QString &key);

    QString key() const { return m_key; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_key;
    QByteArray m_what;
};

// The install history could not be written; the description is the system's.
class InstallHistoryStoreError : public std::exception
{
public:
    explicit InstallHistoryStoreError(const QString &description);

    QString errorDescription() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

// One APK installation started from the USB dashboard, successful or not.
struct InstallHistoryRecord
{
    QString id; // a random UUID in lower case
    QString deviceSerial;
    QString deviceName;
    QStringList fileNames; // in install order, the base APK first
    QDateTime installedAt;
    bool succeeded = false;
    QString message;

    bool operator==(const InstallHistoryRecord &) const = default;

    // Throws InstallHistoryRecordDecodingError. Dates are whole seconds with "Z" or a numeric offset.
    static InstallHistoryRecord fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
};

// The file "install-history.json": a pretty-printed JSON array of records, newest first, at most 50.
class InstallHistoryStore
{
public:
    static constexpr qsizetype maximumRecordCount = 50;

    // Without a location: "Tavrine/install-history.json" in the user's data folder. Does not touch the disk.
    explicit InstallHistoryStore(std::optional<QString> fileURL = std::nullopt);

    QString fileURL() const { return m_fileURL; }

    // The records that decode, newest first (equal dates in file order), at most 50. Never fails, never writes:
    // a missing, unreadable or unparsable file is an empty history.
    QList<InstallHistoryRecord> load() const;

    // Puts `record` in front of the loaded history, keeps 50 and writes the file atomically; returns the new
    // list. The record's serial, device name and message are kept as excerpts (textExcerpt), and the oldest
    // records are dropped where the file would grow past what load() reads. A file that could not be read or
    // parsed, or one with a record that does not decode, is first kept beside itself as
    // "install-history.json.damaged-<n>" under a name not taken before: its bytes copied there (once for the same
    // bytes), or the file moved there when it could not be read. Throws InstallHistoryStoreError, leaving the file
    // as it was.
    QList<InstallHistoryRecord> append(const InstallHistoryRecord &record) const;

    // Removes the new copies an application ended in the middle of a write left beside the file. Called at start,
    // before anything writes.
    void removeLeftoverTemporaryFiles() const;

private:
    QString m_fileURL;
};

#include "InstallHistoryStore.h"

#include "RegularFileReader.h"
#include "TextExcerpt.h"
#include "WholeFileCommit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(installHistoryLog, "tavrine.android_usb.installhistory")

// The bound of what is read back. Fifty records take a few kilobytes each; the store drops the oldest records
// rather than write a file past it, so a larger file is not one this program wrote.
constexpr qint64 maximumFileBytes = 4 * 1024 * 1024;
constexpr int maximumKeptNameAttempts = 1000;

QString defaultFileURL()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + u"/Tavrine/install-history.json"_s;
}

[[noreturn]] void fail(const QString &key)
{
    throw InstallHistoryRecordDecodingError(key);
}

QJsonValue requiredValue(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        fail(key);
    return value;
}

QString stringValue(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = requiredValue(object, key);
    if (!value.isString())
        fail(key);
    return value.toString();
}

// Internet date-time: whole seconds, "Z" or a numeric offset; no fractions, no date-only forms.
QDateTime dateValue(const QJsonObject &object, const QString &key)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        u"([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:Z|([+-])([0-9]{2}):([0-9]{2}))"_s));
    const QRegularExpressionMatch match = pattern.match(stringValue(object, key));
    if (!match.hasMatch())
        fail(key);
    const auto number = [&match](int group) {
        return match.capturedView(group).toInt();
    };
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6));
    const int offsetSeconds = (number(8) * 60 + number(9)) * 60 * (match.capturedView(7) == u"-" ? -1 : 1);
    if (!date.isValid() || !time.isValid() || number(8) > 23 || number(9) > 59)
        fail(key);
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

// What the file at a path holds, and how to keep it when it cannot be used.
struct HistoryFile
{
    enum class Damage
    {
        none,
        unreadable, // kept by moving the file itself aside
        undecodable // not a JSON array, or a record that does not decode: kept by copying `contents` aside
    };

    QList<InstallHistoryRecord> records;
    Damage damage = Damage::none;
    QByteArray contents;
};

HistoryFile readHistoryFile(const QString &path)
{
    // A folder in the file's place is left alone; the write reports it.
    const RegularFileRead read = readRegularFile(path, maximumFileBytes);
    if (read.outcome == RegularFileRead::Outcome::missing || read.outcome == RegularFileRead::Outcome::folder)
        return {};
    if (read.outcome == RegularFileRead::Outcome::unreadable) {
        qCWarning(installHistoryLog) << "cannot read the install history whole:" << read.problem;
        return {{}, HistoryFile::Damage::unreadable, {}};
    }
    const QByteArray &contents = read.contents;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(contents, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        qCWarning(installHistoryLog) << "the install history is not a JSON array";
        return {{}, HistoryFile::Damage::undecodable, contents};
    }
    // One damaged record costs that record, not the history; the file as it was is kept before it is rewritten.
    HistoryFile file;
    const QJsonArray array = document.array();
    for (qsizetype index = 0; index < array.size(); ++index) {
        try {
            if (!array.at(index).isObject())
                fail(u"record"_s);
            file.records.append(InstallHistoryRecord::fromJson(array.at(index).toObject()));
        } catch (const InstallHistoryRecordDecodingError &error) {
            qCWarning(installHistoryLog) << "install record" << index << "dropped:" << error.what();
            file.damage = HistoryFile::Damage::undecodable;
            file.contents = contents;
        }
    }
    return file;
}

void sortNewestFirst(QList<InstallHistoryRecord> &records)
{
    std::ranges::stable_sort(records, std::ranges::greater(), &InstallHistoryRecord::installedAt);
    if (records.size() > InstallHistoryStore::maximumRecordCount)
        records.resize(InstallHistoryStore::maximumRecordCount);
}

// Keeps the damaged file under the first free name "<file>.damaged-<n>": a copy of `contents`, or, when the file
// could not be read, the file itself moved there. Never replaces anything, and copies the same contents once: a
// kept copy that holds them already serves. Throws InstallHistoryStoreError.
void keepDamagedFile(const QString &path, const HistoryFile &file)
{
    for (int attempt = 1; attempt <= maximumKeptNameAttempts; ++attempt) {
        const QString keptPath = path + u".damaged-"_s + QString::number(attempt);
        if (file.damage == HistoryFile::Damage::unreadable) {
            // A hard link never replaces an existing name and takes a symbolic link as it is.
            if (::linkat(AT_FDCWD, QFile::encodeName(path).constData(), AT_FDCWD,
                         QFile::encodeName(keptPath).constData(), 0) != 0) {
                if (errno == EEXIST)
                    continue;
                throw InstallHistoryStoreError(qt_error_string(errno));
            }
            ::unlink(QFile::encodeName(path).constData());
        } else {
            QFile kept(keptPath);
            if (!kept.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                const RegularFileRead earlier = readRegularFile(keptPath, maximumFileBytes);
                if (earlier.outcome == RegularFileRead::Outcome::read && earlier.contents == file.contents)
                    return;
                if (QFileInfo(keptPath).exists() || QFileInfo(keptPath).isSymLink())
                    continue;
                throw InstallHistoryStoreError(kept.errorString());
            }
            if (kept.write(file.contents) != file.contents.size() || !kept.flush()) {
                const QString description = kept.errorString();
                kept.remove();
                throw InstallHistoryStoreError(description);
            }
        }
        qCWarning(installHistoryLog) << "damaged install history kept as" << keptPath;
        return;
    }
    throw InstallHistoryStoreError(u"No free name to keep the damaged install history beside it."_s);
}

QByteArray encode(const QList<InstallHistoryRecord> &records, qsizetype count)
{
    QJsonArray array;
    for (qsizetype index = 0; index < count; ++index)
        array.append(records.at(index).toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

// The file's bytes for the newest records that fit within the read bound, dropping the oldest others from
// `records`. Throws InstallHistoryStoreError when not even the newest fits.
QByteArray encodeWithinBound(QList<InstallHistoryRecord> &records)
{
    QByteArray bytes = encode(records, records.size());
    if (bytes.size() <= maximumFileBytes)
        return bytes;
    // The size grows with the count: find the largest count that fits.
    qsizetype fitting = 0;
    qsizetype tooMany = records.size();
    while (tooMany - fitting > 1) {
        const qsizetype count = fitting + (tooMany - fitting) / 2;
        (encode(records, count).size() <= maximumFileBytes ? fitting : tooMany) = count;
    }
    if (fitting == 0)
        throw InstallHistoryStoreError(u"The install record is too large to keep."_s);
    records.resize(fitting);
    return encode(records, fitting);
}

} // namespace

InstallHistoryRecordDecodingError::InstallHistoryRecordDecodingError(const QString &key)
    : m_key(key), m_what(u"missing or invalid value for key \"%1\""_s.arg(key).toUtf8())
{}

InstallHistoryStoreError::InstallHistoryStoreError(const QString &description)
    : m_description(description), m_what(description.toUtf8())
{}

InstallHistoryRecord InstallHistoryRecord::fromJson(const QJsonObject &object)
{
    InstallHistoryRecord record;
    record.id = stringValue(object, u"id"_s);
    record.deviceSerial = stringValue(object, u"deviceSerial"_s);
    record.deviceName = stringValue(object, u"deviceName"_s);
    const QJsonValue fileNames = requiredValue(object, u"fileNames"_s);
    if (!fileNames.isArray())
        fail(u"fileNames"_s);
    for (const QJsonValue &name : fileNames.toArray()) {
        if (!name.isString())
            fail(u"fileNames"_s);
        record.fileNames.append(name.toString());
    }
    record.installedAt = dateValue(object, u"installedAt"_s);
    const QJsonValue succeeded = requiredValue(object, u"succeeded"_s);
    if (!succeeded.isBool())
        fail(u"succeeded"_s);
    record.succeeded = succeeded.toBool();
    record.message = stringValue(object, u"message"_s);
    return record;
}

QJsonObject InstallHistoryRecord::toJson() const
{
    return {
        {u"id"_s, id},
        {u"deviceSerial"_s, deviceSerial},
        {u"deviceName"_s, deviceName},
        {u"fileNames"_s, QJsonArray::fromStringList(fileNames)},
        {u"installedAt"_s, installedAt.toUTC().toString(Qt::ISODate)},
        {u"succeeded"_s, succeeded},
        {u"message"_s, message},
    };
}

InstallHistoryStore::InstallHistoryStore(std::optional<QString> fileURL)
    : m_fileURL(fileURL ? std::move(*fileURL) : defaultFileURL())
{}

QList<InstallHistoryRecord> InstallHistoryStore::load() const
{
    QList<InstallHistoryRecord> records = readHistoryFile(m_fileURL).records;
    sortNewestFirst(records);
    return records;
}

void InstallHistoryStore::removeLeftoverTemporaryFiles() const
{
    removeLeftoverSaveFiles(m_fileURL);
}

QList<InstallHistoryRecord> InstallHistoryStore::append(const InstallHistoryRecord &record) const
{
    if (!record.installedAt.isValid())
        throw InstallHistoryStoreError(u"The install record has no valid date."_s);
    HistoryFile file = readHistoryFile(m_fileURL);
    QList<InstallHistoryRecord> records = std::move(file.records);
    sortNewestFirst(records);
    // The file keeps whole seconds and excerpts of texts from outside; the list returned is the one a later load
    // gives.
    InstallHistoryRecord newest = record;
    newest.installedAt = QDateTime::fromSecsSinceEpoch(record.installedAt.toSecsSinceEpoch(), Qt::UTC);
    newest.deviceSerial = textExcerpt(record.deviceSerial);
    newest.deviceName = textExcerpt(record.deviceName);
    newest.message = textExcerpt(record.message);
    records.prepend(std::move(newest));
    if (records.size() > maximumRecordCount)
        records.resize(maximumRecordCount);

    std::error_code folderError;
    std::filesystem::create_directories(
        std::filesystem::path(QFile::encodeName(QFileInfo(m_fileURL).absolutePath()).toStdString()), folderError);
    if (folderError)
        throw InstallHistoryStoreError(QString::fromLocal8Bit(folderError.message()));

    const QByteArray bytes = encodeWithinBound(records);

    if (file.damage != HistoryFile::Damage::none)
        keepDamagedFile(m_fileURL, file);
    QSaveFile saveFile(m_fileURL);
    if (!saveFile.open(QIODevice::WriteOnly))
        throw InstallHistoryStoreError(saveFile.errorString());
    // On a full disk the old file stays as it was.
    QString reason;
    if (!commitWholeFile(saveFile, bytes, &reason))
        throw InstallHistoryStoreError(reason);
    return records;
}

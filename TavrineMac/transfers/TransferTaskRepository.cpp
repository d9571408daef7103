#include "TransferTaskRepository.h"

#include "RegularFileReader.h"
#include "WholeFileCommit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(taskFileLog, "tavrine.transfers.taskfile")

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr int maximumKeptNameAttempts = 1000;
// Thousands of tasks take a few megabytes; a larger file is not one this program wrote.
constexpr qint64 maximumFileBytes = 64 * 1024 * 1024;

QString defaultFilePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + u"/Tavrine/transfer-tasks-v1.json"_s;
}

QString keptNamePrefix(const QString &path)
{
    return QFileInfo(path).fileName() + u".damaged-"_s;
}

// A damaged file that is loaded again before the next save must not pile up copies of itself.
bool isAlreadyKept(const QString &path, const QByteArray &contents)
{
    const QDir folder = QFileInfo(path).absoluteDir();
    const QString prefix = keptNamePrefix(path);
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!name.startsWith(prefix))
            continue;
        QFile kept(folder.filePath(name));
        if (kept.size() == contents.size() && kept.open(QIODevice::ReadOnly) && kept.readAll() == contents)
            return true;
    }
    return false;
}

bool isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Keeps the damaged task file under a name of its own: a copy of the bytes that were read, or, when the
// file could not be read at all, the file itself moved aside. Never replaces an earlier kept file.
void keepDamagedFile(const QString &path, const std::optional<QByteArray> &contents)
{
    if (contents && isAlreadyKept(path, *contents))
        return;

    const QString base = QFileInfo(path).absoluteDir().filePath(
        keptNamePrefix(path) + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss'Z'"_s));
    for (int attempt = 1; attempt <= maximumKeptNameAttempts; ++attempt) {
        const QString keptPath = attempt == 1 ? base : u"%1-%2"_s.arg(base).arg(attempt);
        if (isTaken(keptPath))
            continue;
        if (!contents) {
            if (QFile::rename(path, keptPath)) {
                qCWarning(taskFileLog) << "unreadable task file moved to" << keptPath;
                return;
            }
            if (isTaken(keptPath))
                continue;
            qCWarning(taskFileLog) << "could not move the unreadable task file aside:" << path;
            return;
        }
        QFile kept(keptPath);
        // NewOnly fails on an existing file, so a copy made meanwhile is never overwritten.
        if (!kept.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (isTaken(keptPath))
                continue;
            qCWarning(taskFileLog) << "could not keep the damaged task file:" << kept.errorString();
            return;
        }
        kept.setPermissions(ownerOnly);
        if (kept.write(*contents) != contents->size() || !kept.flush()) {
            qCWarning(taskFileLog) << "could not keep the damaged task file:" << kept.errorString();
            kept.remove();
            return;
        }
        qCWarning(taskFileLog) << "damaged task file kept as" << keptPath;
        return;
    }
    qCWarning(taskFileLog) << "no free name to keep the damaged task file" << path;
}

} // namespace

TransferTaskRepositoryError::TransferTaskRepositoryError(const QString &description)
    : m_description(description), m_what(description.toUtf8())
{}

TransferTaskRepository::TransferTaskRepository(std::optional<QString> filePath)
    : m_filePath(filePath ? std::move(*filePath) : defaultFilePath())
{}

QList<TransferTaskRecord> TransferTaskRepository::load() const
{
    // A folder in the file's place is left alone; the next save reports it.
    const RegularFileRead read = readRegularFile(m_filePath, maximumFileBytes);
    if (read.outcome == RegularFileRead::Outcome::missing || read.outcome == RegularFileRead::Outcome::folder)
        return {};
    if (read.outcome == RegularFileRead::Outcome::unreadable) {
        qCWarning(taskFileLog) << "cannot read the task file whole:" << read.problem;
        keepDamagedFile(m_filePath, std::nullopt);
        return {};
    }
    const QByteArray &contents = read.contents;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(contents, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        qCWarning(taskFileLog) << "the task file is not a JSON array:"
                               << (parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                                : u"another JSON value"_s);
        keepDamagedFile(m_filePath, contents);
        return {};
    }

    QList<TransferTaskRecord> records;
    bool isDamaged = false;
    const QJsonArray array = document.array();
    for (qsizetype index = 0; index < array.size(); ++index) {
        const QJsonValue value = array.at(index);
        if (!value.isObject()) {
            qCWarning(taskFileLog) << "task" << index << "is not a JSON object";
            isDamaged = true;
            continue;
        }
        try {
            records.append(TransferTaskRecord::fromJson(value.toObject()));
        } catch (const TransferTaskRecordDecodingError &error) {
            qCWarning(taskFileLog) << "task" << index << "dropped:" << error.errorDescription();
            isDamaged = true;
        }
    }
    if (isDamaged)
        keepDamagedFile(m_filePath, contents);
    return records;
}

void TransferTaskRepository::save(const QList<TransferTaskRecord> &records) const
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    std::error_code folderError;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), folderError);
    if (folderError)
        throw TransferTaskRepositoryError(QString::fromLocal8Bit(folderError.message()));

    QJsonArray array;
    for (const TransferTaskRecord &record : records)
        array.append(record.toJson());
    QByteArray bytes = QJsonDocument(array).toJson(QJsonDocument::Compact);
    // The file format escapes every slash. Outside strings compact JSON has no slash, and no UTF-8
    // sequence contains the byte, so this changes how string contents are written and nothing else.
    bytes.replace('/', "\\/");

    // The old file is replaced only once every byte of the new one is on the disk: a full disk must not leave an
    // empty or cut file in place of the tasks.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        throw TransferTaskRepositoryError(file.errorString());
    if (!file.setPermissions(ownerOnly)) {
        const QString description = file.errorString();
        file.cancelWriting();
        throw TransferTaskRepositoryError(description);
    }
    QString reason;
    if (!commitWholeFile(file, bytes, &reason))
        throw TransferTaskRepositoryError(reason);
}

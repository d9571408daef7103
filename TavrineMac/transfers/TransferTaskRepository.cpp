#include "TransferTaskRepository.h"

#include "MoveWithoutReplacing.h"
#include "RegularFileReader.h"
#include "SystemErrorText.h"
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

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Keeps the damaged task file under a name of its own, in a way that takes no room on the disk, since a nearly full
// disk is where files get damaged: a file that was read gets a second name, and stays in place until the next save
// replaces it; on a file system without second names, and for a file that cannot be read at all, the file itself is
// moved to that name. Never replaces an earlier kept file. Returns the error number when the file could not be kept.
std::optional<int> keepDamagedFile(const QString &path, bool wasRead)
{
    const QString base = QFileInfo(path).absoluteDir().filePath(
        keptNamePrefix(path) + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss'Z'"_s));
    const QByteArray from = QFile::encodeName(path);
    for (int attempt = 1; attempt <= maximumKeptNameAttempts; ++attempt) {
        const QString keptPath = attempt == 1 ? base : u"%1-%2"_s.arg(base).arg(attempt);
        if (isTaken(keptPath))
            continue;
        const QByteArray to = QFile::encodeName(keptPath);
        if (wasRead && ::link(from.constData(), to.constData()) == 0) {
            qCWarning(taskFileLog) << "damaged task file kept as" << keptPath;
            return std::nullopt;
        }
        if (wasRead && errno == EEXIST)
            continue;
        const MoveOutcome moved = moveWithoutReplacing(AT_FDCWD, from, AT_FDCWD, to);
        if (moved == MoveOutcome::moved) {
            qCWarning(taskFileLog) << "damaged task file moved to" << keptPath;
            return std::nullopt;
        }
        if (moved == MoveOutcome::nameTaken)
            continue;
        const int failure = errno;
        qCWarning(taskFileLog) << "could not keep the damaged task file:" << qt_error_string(failure);
        return failure;
    }
    qCWarning(taskFileLog) << "no free name to keep the damaged task file" << path;
    return EEXIST;
}

QString describeFailure(int errorNumber, const QString &systemText)
{
    return errorNumber != 0 ? SystemErrorText::describe(errorNumber) : SystemErrorText::describe(systemText);
}

} // namespace

TransferTaskRepositoryError::TransferTaskRepositoryError(const QString &description)
    : m_description(description), m_what(description.toUtf8())
{}

// A damaged file that load() found at the path and could not keep; shared by the copies of a repository, as the store
// loads with one and writes with another.
struct TransferTaskRepository::UnkeptDamage
{
    std::mutex mutex;
    std::optional<int> failure; // why it could not be kept, while it could not
};

TransferTaskRepository::TransferTaskRepository(std::optional<QString> filePath)
    : m_filePath(filePath ? std::move(*filePath) : defaultFilePath()), m_unkeptDamage(std::make_shared<UnkeptDamage>())
{}

void TransferTaskRepository::keepDamage(const std::optional<QByteArray> &contents) const
{
    if (contents && isAlreadyKept(m_filePath, *contents))
        return;
    const std::optional<int> failure = keepDamagedFile(m_filePath, contents.has_value());
    const std::lock_guard lock(m_unkeptDamage->mutex);
    m_unkeptDamage->failure = failure;
}

QList<TransferTaskRecord> TransferTaskRepository::load() const
{
    // A folder in the file's place is left alone; the next save reports it.
    const RegularFileRead read = readRegularFile(m_filePath, maximumFileBytes);
    if (read.outcome == RegularFileRead::Outcome::missing || read.outcome == RegularFileRead::Outcome::folder)
        return {};
    if (read.outcome == RegularFileRead::Outcome::unreadable) {
        qCWarning(taskFileLog) << "cannot read the task file whole:" << read.problem;
        keepDamage(std::nullopt);
        return {};
    }
    const QByteArray &contents = read.contents;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(contents, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        qCWarning(taskFileLog) << "the task file is not a JSON array:"
                               << (parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                                : u"another JSON value"_s);
        keepDamage(contents);
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
        keepDamage(contents);
    return records;
}

void TransferTaskRepository::save(const QList<TransferTaskRecord> &records) const
{
    {
        // What could not be kept is not written over: it is tried again, and the save waits for it.
        const std::lock_guard lock(m_unkeptDamage->mutex);
        if (m_unkeptDamage->failure) {
            std::optional<int> failure = keepDamagedFile(m_filePath, true);
            if (failure == ENOENT)
                failure.reset(); // gone meanwhile: nothing is written over
            m_unkeptDamage->failure = failure;
            if (failure) {
                throw TransferTaskRepositoryError(u"已损坏的旧任务文件无法另存（%1），为免覆盖它，暂不保存"_s.arg(
                    SystemErrorText::describe(*failure)));
            }
        }
    }

    const QString folder = QFileInfo(m_filePath).absolutePath();
    std::error_code folderError;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), folderError);
    if (folderError)
        throw TransferTaskRepositoryError(describeFailure(folderError.value(), {}));

    QJsonArray array;
    for (const TransferTaskRecord &record : records)
        array.append(record.toJson());
    QByteArray bytes = QJsonDocument(array).toJson(QJsonDocument::Compact);
    // The file format escapes every slash. Outside strings compact JSON has no slash, and no UTF-8
    // sequence contains the byte, so this changes how string contents are written and nothing else.
    bytes.replace('/', "\\/");

    // The old file is replaced only once every byte of the new one is on the disk: a full disk must not leave an
    // empty or cut file in place of the tasks. Each failure names the reason of the call that failed, as Qt's own
    // words for a short write are none at all.
    QSaveFile file(m_filePath);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        throw TransferTaskRepositoryError(describeFailure(errno, file.errorString()));
    errno = 0;
    if (!file.setPermissions(ownerOnly)) {
        const QString description = describeFailure(errno, file.errorString());
        file.cancelWriting();
        throw TransferTaskRepositoryError(description);
    }
    QString reason;
    int errorNumber = 0;
    if (!commitWholeFile(file, bytes, &reason, &errorNumber))
        throw TransferTaskRepositoryError(describeFailure(errorNumber, reason));
}

void TransferTaskRepository::removeLeftoverTemporaryFiles() const
{
    removeLeftoverSaveFiles(m_filePath);
}

#include "ReceivedFileDelivery.h"

#include "FileDescriptor.h"
#include "FileNameRules.h"
#include "WholeFileCommit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Another process may take a free name between the check and the move; the move itself never replaces.
constexpr int moveAttempts = 5;

// The device and inode of what stands at `path`; nothing when nothing does.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        return std::nullopt;
    }
    return std::pair(status.st_dev, status.st_ino);
}

} // namespace

ReceivedFileDelivery::ReceivedFileDelivery(const QString &inboxDirectory) : m_inboxDirectory(inboxDirectory) {}

std::optional<QString> ReceivedFileDelivery::deliver(const QString &fileName, const QString &targetDirectory,
                                                     QString *errorMessage)
{
    const auto fail = [errorMessage](const QString &message) -> std::optional<QString> {
        if (errorMessage) {
            *errorMessage = message;
        }
        return std::nullopt;
    };

    if (!FileNameRules::isSafeFileName(fileName)) {
        return fail(QStringLiteral("Refusing to deliver a received file with the unsafe name \"%1\"").arg(fileName));
    }
    const QString source = QDir(m_inboxDirectory).filePath(fileName);
    const QFileInfo sourceInfo(source);
    if (sourceInfo.isSymLink() || !sourceInfo.isFile()) {
        return fail(QStringLiteral("The inbox holds no received file named \"%1\"").arg(fileName));
    }

    const QDir target(targetDirectory);
    const auto received = fileIdentity(source);
    QString lastError;
    for (int attempt = 0; attempt < moveAttempts; ++attempt) {
        const QString name = FileNameRules::freeFileName(target, fileName);
        QFile file(source);
        if (file.rename(target.filePath(name))) {
            // The core made the file's bytes durable before it reported the file; a folder on another file system
            // holds a copy, whose bytes are synced like the new name.
            const QString moved = target.filePath(name);
            if (fileIdentity(moved) != received && !m_filesToSync.contains(moved)) {
                m_filesToSync.append(moved);
            }
            if (!m_foldersToSync.contains(targetDirectory)) {
                m_foldersToSync.append(targetDirectory);
            }
            return name;
        }
        lastError = file.errorString();
        if (!QFileInfo::exists(source)) {
            break;
        }
    }
    return fail(QStringLiteral("Could not move the received file \"%1\" into %2: %3")
                    .arg(fileName, QDir::toNativeSeparators(targetDirectory), lastError));
}

bool ReceivedFileDelivery::syncDeliveredFolders(QString *errorMessage)
{
    QStringList failures;
    const auto note = [&failures](const QString &path) {
        failures.append(
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno))));
    };
    const auto syncFile = [&note](const QString &path) {
        const FileDescriptor descriptor(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (descriptor.get() < 0 || !syncToDisk(descriptor.get())) {
            note(path);
        }
    };
    for (const QString &file : std::as_const(m_filesToSync)) {
        syncFile(file);
    }
    for (const QString &folder : std::as_const(m_foldersToSync)) {
        if (!syncFolderToDisk(folder)) {
            note(folder);
        }
    }
    m_filesToSync.clear();
    m_foldersToSync.clear();
    if (!failures.isEmpty() && errorMessage) {
        *errorMessage = QStringLiteral("Could not make the delivered files durable in %1").arg(failures.join(u", "));
    }
    return failures.isEmpty();
}

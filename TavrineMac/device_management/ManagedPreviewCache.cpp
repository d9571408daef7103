#include "ManagedPreviewCache.h"

#include "ManagedDownloadDelivery.h"
#include "SystemErrorText.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

[[noreturn]] void throwSystemError(int code)
{
    throw FileOperationError(SystemErrorText::describe(code));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Makes `path` and its missing parents, as mkdir -p does, keeping the system's reason on failure.
void makeFolders(const QString &path)
{
    struct stat status = {};
    if (::stat(encoded(path).constData(), &status) == 0) {
        if (!S_ISDIR(status.st_mode)) {
            throwSystemError(ENOTDIR);
        }
        return;
    }
    if (errno != ENOENT) {
        throwSystemError(errno);
    }
    const QString parent = QFileInfo(path).path();
    if (parent != path) {
        makeFolders(parent);
    }
    if (::mkdir(encoded(path).constData(), 0777) != 0 && errno != EEXIST) {
        throwSystemError(errno);
    }
}

QString extensionOf(const QString &name)
{
    static const QRegularExpression acceptable(QStringLiteral("^[A-Za-z0-9]{1,12}$"));
    const QStringList pieces = name.split(u'.', Qt::SkipEmptyParts);
    if (pieces.isEmpty() || !acceptable.match(pieces.last()).hasMatch()) {
        return {};
    }
    return pieces.last().toLower();
}

struct CachedCopy
{
    QByteArray name; // as the file system spells it
    QString path;
    qint64 size = 0;
    struct timespec modified = {};
};

bool isNewer(const CachedCopy &left, const CachedCopy &right)
{
    if (left.modified.tv_sec != right.modified.tv_sec) {
        return left.modified.tv_sec > right.modified.tv_sec;
    }
    return left.modified.tv_nsec > right.modified.tv_nsec;
}

} // namespace

ManagedPreviewCache::ManagedPreviewCache(std::optional<QString> directory, int maximumFileCount, qint64 maximumBytes)
    : m_directory(directory ? *directory : defaultDirectory()), m_maximumFileCount(maximumFileCount),
      m_maximumBytes(maximumBytes)
{}

QString ManagedPreviewCache::defaultDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty()) {
        base = QDir::tempPath();
    }
    return base + QStringLiteral("/Tavrine/Previews");
}

void ManagedPreviewCache::ensureDirectory() const
{
    makeFolders(QDir::cleanPath(m_directory));
}

QString ManagedPreviewCache::fileName(const ManagedFileEntry &entry, const QString &peerID)
{
    const QString key = peerID + u'|' + entry.id + u'|' + QString::number(entry.modifiedAtMillis) + u'|' +
                        QString::number(entry.size.value_or(-1));
    QString name = QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex());
    const QString extension = extensionOf(entry.name);
    if (!extension.isEmpty()) {
        name += u'.' + extension;
    }
    return name;
}

std::optional<QString> ManagedPreviewCache::cachedFilePath(const ManagedFileEntry &entry, const QString &peerID) const
{
    const QString candidate = QDir::cleanPath(m_directory + u'/' + fileName(entry, peerID));
    const QByteArray path = encoded(candidate);
    struct stat status = {};
    if (!entry.size || ::lstat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<qint64>(status.st_size) != *entry.size) {
        return std::nullopt;
    }
    // The date marks the copy as used just now for the trim; a copy whose date cannot be set is still good.
    ::utimensat(AT_FDCWD, path.constData(), nullptr, AT_SYMLINK_NOFOLLOW);
    return candidate;
}

void ManagedPreviewCache::prune(const std::optional<QString> &keeping) const
{
    ensureDirectory();
    const QString folder = QDir::cleanPath(m_directory);
    const std::unique_ptr<DIR, decltype(&::closedir)> listing(::opendir(encoded(folder).constData()), &::closedir);
    if (!listing) {
        throwSystemError(errno);
    }
    const int folderDescriptor = ::dirfd(listing.get());

    std::vector<CachedCopy> copies;
    errno = 0;
    while (const dirent *item = ::readdir(listing.get())) {
        const QString name = QFile::decodeName(item->d_name);
        struct stat status = {};
        // Hidden items, links, folders and anything unreadable are not ours to count or delete.
        if (name.startsWith(u'.') || ::fstatat(folderDescriptor, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode)) {
            errno = 0;
            continue;
        }
        copies.push_back(
            {QByteArray(item->d_name), folder + u'/' + name, static_cast<qint64>(status.st_size), status.st_mtim});
        errno = 0;
    }
    if (errno != 0) {
        throwSystemError(errno);
    }
    std::stable_sort(copies.begin(), copies.end(), isNewer);

    const QString spared = keeping ? QDir::cleanPath(*keeping) : QString();
    const auto sparedCopy = std::find_if(copies.begin(), copies.end(), [&spared](const CachedCopy &copy) {
        return !spared.isEmpty() && copy.path == spared;
    });
    qint64 keptFiles = 0;
    qint64 keptBytes = 0;
    if (sparedCopy != copies.end()) {
        keptFiles = 1;
        keptBytes = sparedCopy->size;
    }
    for (auto copy = copies.begin(); copy != copies.end(); ++copy) {
        if (copy == sparedCopy) {
            continue;
        }
        // Written as a difference so that a huge (sparse) file cannot overflow the sum.
        if (keptFiles < m_maximumFileCount && copy->size <= m_maximumBytes - keptBytes) {
            ++keptFiles;
            keptBytes += copy->size;
            continue;
        }
        // A copy removed by someone else meanwhile is as good as deleted.
        if (::unlinkat(folderDescriptor, copy->name.constData(), 0) != 0 && errno != ENOENT) {
            throwSystemError(errno);
        }
    }
}

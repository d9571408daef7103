#include "ManagedPreviewCache.h"

#include "HiddenCharacters.h"
#include "ManagedDownloadDelivery.h"
#include "SystemErrorText.h"
#include "Utf8Prefix.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

struct OpenFolder
{
    int descriptor = -1;
    ~OpenFolder()
    {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
};

// Characters that would make a local name misleading or unusable: separators, controls, line breaks and the marks
// that turn the direction of the text (which can make "txt.exe" read as "exe.txt").
bool isUnsafeInName(QChar character)
{
    const char16_t code = character.unicode();
    return code == u'/' || code == u'\\' || isHiddenCharacter(code);
}

// Removes a folder of named copies and the links in it; a folder someone else made in it stays, and so does this one.
void removeNamedCopies(int parentDescriptor, const QByteArray &folderName)
{
    const int descriptor =
        ::openat(parentDescriptor, folderName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT) {
            return;
        }
        throwSystemError(errno);
    }
    const std::unique_ptr<DIR, decltype(&::closedir)> listing(::fdopendir(descriptor), &::closedir);
    if (!listing) {
        const int error = errno;
        ::close(descriptor);
        throwSystemError(error);
    }
    std::vector<QByteArray> names;
    while (const dirent *item = ::readdir(listing.get())) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    for (const QByteArray &name : names) {
        if (::unlinkat(descriptor, name.constData(), 0) != 0 && errno != ENOENT && errno != EISDIR) {
            throwSystemError(errno);
        }
    }
    if (::unlinkat(parentDescriptor, folderName.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT &&
        errno != ENOTEMPTY) {
        throwSystemError(errno);
    }
}

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
    std::vector<QByteArray> namedCopyFolders;
    errno = 0;
    while (const dirent *item = ::readdir(listing.get())) {
        const QString name = QFile::decodeName(item->d_name);
        struct stat status = {};
        // Hidden items, links, other folders and anything unreadable are not ours to count or delete.
        if (name.startsWith(u'.') || ::fstatat(folderDescriptor, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            errno = 0;
            continue;
        }
        if (S_ISDIR(status.st_mode) && name.endsWith(namedCopyFolderSuffix)) {
            namedCopyFolders.emplace_back(item->d_name);
        }
        if (!S_ISREG(status.st_mode)) {
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
    // The names a copy was shown under go with it: their links would keep its bytes on the disk.
    for (const QByteArray &folderName : namedCopyFolders) {
        const QByteArray copyName = folderName.chopped(namedCopyFolderSuffix.size());
        struct stat status = {};
        if (::fstatat(folderDescriptor, copyName.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode)) {
            removeNamedCopies(folderDescriptor, folderName);
        }
    }
}

QString ManagedPreviewCache::openableName(const QString &phoneName, const QString &fallback)
{
    constexpr qsizetype maximumBytes = 255;
    constexpr qsizetype longestKeptExtension = 16;
    QString name = phoneName;
    for (QChar &character : name) {
        if (isUnsafeInName(character)) {
            character = u'_';
        }
    }
    name = name.trimmed();
    if (std::all_of(name.cbegin(), name.cend(), [](QChar character) { return character == u'.'; })) {
        return fallback;
    }
    if (name.toUtf8().size() <= maximumBytes) {
        return name;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot > 0 && name.size() - dot <= longestKeptExtension ? name.mid(dot) : QString();
    const QStringView stem = QStringView(name).first(name.size() - extension.size());
    const qsizetype budget = maximumBytes - extension.toUtf8().size();
    return stem.first(utf8PrefixLength(stem, budget)).toString() + extension;
}

QString ManagedPreviewCache::namedCopy(const QString &cachedPath, const QString &phoneName)
{
    const QFileInfo cached(cachedPath);
    const QByteArray source = encoded(cached.absoluteFilePath());
    struct stat sourceStatus = {};
    if (::lstat(source.constData(), &sourceStatus) != 0) {
        throwSystemError(errno);
    }
    if (!S_ISREG(sourceStatus.st_mode)) {
        throwSystemError(EINVAL);
    }
    const QString folder = cached.absolutePath() + u'/' + cached.fileName() + namedCopyFolderSuffix.toString();
    const QString name = openableName(phoneName, cached.fileName());
    const QByteArray folderPath = encoded(folder);
    struct stat folderStatus = {};
    // Anything else under the folder's name is in the way, and not followed.
    if (::lstat(folderPath.constData(), &folderStatus) == 0 && !S_ISDIR(folderStatus.st_mode) &&
        ::unlink(folderPath.constData()) != 0) {
        throwSystemError(errno);
    }
    if (::mkdir(folderPath.constData(), 0700) != 0 && errno != EEXIST) {
        throwSystemError(errno);
    }
    const OpenFolder opened{::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    const int descriptor = opened.descriptor;
    if (descriptor < 0) {
        throwSystemError(errno);
    }
    const QByteArray leaf = encoded(name);
    struct stat existing = {};
    if (::fstatat(descriptor, leaf.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        existing.st_dev == sourceStatus.st_dev && existing.st_ino == sourceStatus.st_ino) {
        return folder + u'/' + name;
    }
    // Linked under a passing name and then renamed, so that a name left from an older copy is replaced in one step.
    const QByteArray incoming = ".incoming-" + QUuid::createUuid().toByteArray(QUuid::Id128);
    if (::linkat(AT_FDCWD, source.constData(), descriptor, incoming.constData(), 0) != 0) {
        throwSystemError(errno);
    }
    if (::renameat(descriptor, incoming.constData(), descriptor, leaf.constData()) != 0) {
        const int error = errno;
        ::unlinkat(descriptor, incoming.constData(), 0);
        throwSystemError(error);
    }
    return folder + u'/' + name;
}

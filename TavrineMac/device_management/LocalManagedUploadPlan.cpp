#include "LocalManagedUploadPlan.h"

#include "LocalNames.h"
#include "ManagedDownloadDelivery.h"
#include "SystemErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QtNumeric>

#include <cerrno>
#include <memory>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Error = LocalManagedUploadPlanError;

// An open file descriptor, closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int descriptor) : m_descriptor(descriptor) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
    }
    int get() const { return m_descriptor; }
    bool isValid() const { return m_descriptor >= 0; }

private:
    int m_descriptor;
};

// The absolute, clean local path of a chosen item; nothing for what is not a local file.
std::optional<QString> standardizedPath(const QString &text)
{
    QString path = text;
    if (text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(text);
        if (!url.isValid() || !url.isLocalFile()) {
            return std::nullopt;
        }
        path = url.toLocalFile();
    }
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || containsNulScalar(path)) {
        return std::nullopt;
    }
    return QDir::cleanPath(path);
}

// The chosen items in order, each once.
QStringList uniquePaths(const QStringList &texts)
{
    QStringList paths;
    QSet<QString> seen;
    for (const QString &text : texts) {
        const std::optional<QString> path = standardizedPath(text);
        if (path && !seen.contains(*path)) {
            seen.insert(*path);
            paths.append(*path);
        }
    }
    return paths;
}

QString lastComponent(const QString &path)
{
    return QFileInfo(path).fileName();
}

void validateName(const QString &name)
{
    if (!isAcceptableItemName(name)) {
        throw Error::invalidName(name);
    }
}

// A name read from a folder listing; a name this computer cannot write as text cannot be sent faithfully.
QString decodedName(const char *bytes)
{
    const QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) != QByteArray(bytes)) {
        throw Error::invalidName(name);
    }
    return name;
}

// Shared by every root of one plan: the limits and the running counts.
class Walk
{
public:
    Walk(qint64 maximumItemCount, int maximumDepth, qint64 maximumBytes)
        : m_maximumItemCount(maximumItemCount), m_maximumDepth(maximumDepth), m_maximumBytes(maximumBytes)
    {}

    LocalManagedUploadPlan::Root root(const QString &path)
    {
        const QString name = lastComponent(path);
        const QByteArray encodedPath = QFile::encodeName(path);
        struct stat status = {};
        if (::lstat(encodedPath.constData(), &status) != 0) {
            // A name longer than this file system can hold is refused for its name rather than reported missing.
            validateName(name);
            throw Error::missingItem(name);
        }
        validateName(name);
        struct stat target = {};
        if (::stat(encodedPath.constData(), &target) != 0) {
            throw Error::missingItem(name);
        }
        if (S_ISLNK(status.st_mode)) {
            throw Error::symbolicLink(name);
        }
        LocalManagedUploadPlan::Root root{path, name, false, {}, {}};
        if (S_ISREG(status.st_mode)) {
            countFile(status.st_size);
            root.files.append({path, name, qint64(status.st_size)});
        } else if (S_ISDIR(status.st_mode)) {
            countItem();
            root.directory = true;
            walkDirectory(AT_FDCWD, encodedPath, {}, 0, root);
        } else {
            throw Error::unsupportedItem(name);
        }
        return root;
    }

private:
    void countItem()
    {
        if (++m_itemCount > m_maximumItemCount) {
            throw Error::tooManyItems(m_maximumItemCount);
        }
    }

    void countFile(qint64 size)
    {
        countItem();
        if (qAddOverflow(m_byteCount, size, &m_byteCount) || m_byteCount > m_maximumBytes) {
            throw Error::tooLarge(m_maximumBytes);
        }
    }

    [[noreturn]] static void throwListingError(const QString &relativePath, int code)
    {
        throw FileOperationError(
            QStringLiteral("无法读取文件夹“%1”：%2").arg(relativePath, SystemErrorText::describe(code)));
    }

    // The names in `folder`, without the desktop's bookkeeping files, in the name order.
    static QStringList listNames(const Descriptor &folder, const QString &relativePath)
    {
        // The stream reads its own copy of the descriptor, which stays open for the children's lookups.
        const int copy = ::dup(folder.get());
        std::unique_ptr<DIR, decltype(&::closedir)> stream(copy >= 0 ? ::fdopendir(copy) : nullptr, &::closedir);
        if (!stream) {
            const int code = errno;
            if (copy >= 0) {
                ::close(copy);
            }
            throwListingError(relativePath, code);
        }
        QStringList names;
        while (true) {
            errno = 0;
            const dirent *entry = ::readdir(stream.get());
            if (!entry) {
                if (errno != 0) {
                    throwListingError(relativePath, errno);
                }
                break;
            }
            const QByteArray bytes(entry->d_name);
            if (bytes == "." || bytes == ".." || bytes == ".DS_Store" || bytes.startsWith("._")) {
                continue;
            }
            names.append(decodedName(entry->d_name));
        }
        sortByStandardName(names);
        return names;
    }

    // Collects the folder `name` inside `parent` (the whole path for a root) into the root's lists. The folder
    // is opened without following a link, so it is the very folder that was examined.
    void walkDirectory(int parent, const QByteArray &name, const QStringList &components, int depth,
                       LocalManagedUploadPlan::Root &root)
    {
        if (depth >= m_maximumDepth) {
            throw Error::tooDeep(m_maximumDepth);
        }
        const QString folderPath = components.isEmpty() ? root.name : components.join(u'/');
        const Descriptor folder(::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder.isValid()) {
            throwListingError(folderPath, errno);
        }
        for (const QString &childName : listNames(folder, folderPath)) {
            const QByteArray encodedName = QFile::encodeName(childName);
            struct stat status = {};
            if (::fstatat(folder.get(), encodedName.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                throw Error::missingItem(childName);
            }
            validateName(childName);
            const QStringList childComponents = components + QStringList{childName};
            const QString relativePath = childComponents.join(u'/');
            if (S_ISLNK(status.st_mode)) {
                throw Error::symbolicLink(relativePath);
            }
            if (S_ISDIR(status.st_mode)) {
                countItem();
                root.directories.append({relativePath});
                walkDirectory(folder.get(), encodedName, childComponents, depth + 1, root);
            } else if (S_ISREG(status.st_mode)) {
                countFile(status.st_size);
                root.files.append({root.sourcePath + u'/' + relativePath, relativePath, qint64(status.st_size)});
            } else {
                throw Error::unsupportedItem(relativePath);
            }
        }
    }

    const qint64 m_maximumItemCount;
    const int m_maximumDepth;
    const qint64 m_maximumBytes;
    qint64 m_itemCount = 0;
    qint64 m_byteCount = 0;
};

} // namespace

LocalManagedUploadPlanError::LocalManagedUploadPlanError(Case errorCase, const QString &text, qint64 limit)
    : m_case(errorCase), m_text(text), m_limit(limit), m_what(errorDescription().toUtf8())
{}

QString LocalManagedUploadPlanError::errorDescription() const
{
    switch (m_case) {
    case Case::missingItem:
        return QStringLiteral("找不到“%1”").arg(m_text);
    case Case::unsupportedItem:
        return QStringLiteral("暂不支持发送“%1”").arg(m_text);
    case Case::symbolicLink:
        return QStringLiteral("“%1”包含替身或符号链接，未加入传输").arg(m_text);
    case Case::tooManyItems:
        return QStringLiteral("单次最多发送 %1 个项目").arg(m_limit);
    case Case::tooDeep:
        return QStringLiteral("文件夹层级不能超过 %1 层").arg(m_limit);
    case Case::tooLarge:
        return QStringLiteral("单次最多发送 ") + fileByteCount(m_limit);
    case Case::invalidName:
        return QStringLiteral("文件名称无效：") + m_text;
    }
    return QString();
}

const char *LocalManagedUploadPlanError::what() const noexcept
{
    return m_what.constData();
}

LocalManagedUploadPlan LocalManagedUploadPlan::build(const QStringList &paths, qint64 maximumItemCount,
                                                     int maximumDepth, qint64 maximumBytes)
{
    Walk walk(maximumItemCount, maximumDepth, maximumBytes);
    LocalManagedUploadPlan plan;
    for (const QString &path : uniquePaths(paths)) {
        plan.roots.append(walk.root(path));
    }
    return plan;
}

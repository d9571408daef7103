#include "FilePanelChecks.h"

#include "LocalNames.h"
#include "SystemErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

QString localizedDescription(NativeFolderBrowserError error)
{
    switch (error) {
    case NativeFolderBrowserError::invalidDirectory:
        return QStringLiteral("这个文件夹不可用");
    }
    Q_UNREACHABLE();
}

FilePanelError FilePanelError::fileSystem(int errnoValue, const QString &path)
{
    const QString name = QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName();
    return {fileSystemDomain, errnoValue,
            QStringLiteral("无法读取“%1”：%2").arg(name, SystemErrorText::describe(errnoValue))};
}

namespace FilePanelChecks {

namespace {

const QString wrongKindMessage = QStringLiteral("请选择符合当前操作的文件或文件夹。");

// lstat, so that a link is seen as a link; errno is kept for the caller on failure.
bool itemStatus(const QString &path, struct stat &status)
{
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

ItemValues valuesOf(const struct stat &status, const QString &path)
{
    ItemValues values;
    values.isFolder = S_ISDIR(status.st_mode);
    values.isRegularFile = S_ISREG(status.st_mode);
    values.isSymbolicLink = S_ISLNK(status.st_mode);
    values.isHidden = QFileInfo(path).fileName().startsWith(QLatin1Char('.'));
    return values;
}

QString cleanLocalPath(const QUrl &url)
{
    return QDir::cleanPath(url.toLocalFile());
}

} // namespace

FilePanelResult<ItemValues> readItemValues(const QString &path)
{
    struct stat status
    {
    };
    if (!itemStatus(path, status)) {
        return FilePanelError::fileSystem(errno, path);
    }
    return valuesOf(status, path);
}

std::optional<FilePanelError> validateChosenURL(const QUrl &url, bool canChooseFiles, bool canChooseFolders)
{
    if (!url.isLocalFile()) {
        return FilePanelError::refusal(QStringLiteral("请选择电脑上的本地文件或文件夹。"));
    }
    const FilePanelResult<ItemValues> read = readItemValues(cleanLocalPath(url));
    if (const FilePanelError *error = std::get_if<FilePanelError>(&read)) {
        return *error;
    }
    const ItemValues &values = std::get<ItemValues>(read);
    if (values.isSymbolicLink) {
        return FilePanelError::refusal(QStringLiteral("为保护文件路径安全，Tavrine 不支持选择符号链接。"));
    }
    if ((values.isFolder && canChooseFolders) || (values.isRegularFile && canChooseFiles)) {
        return std::nullopt;
    }
    return FilePanelError::refusal(wrongKindMessage);
}

FilePanelResult<NativeDownloadDestination> validatedSaveDestination(const QUrl &url)
{
    if (!url.isLocalFile()) {
        return FilePanelError::refusal(QStringLiteral("请选择电脑上的本地保存位置。"));
    }
    const QString path = cleanLocalPath(url);
    const QFileInfo location(path);
    const QString folder = location.path();
    const QString name = location.fileName();

    const FilePanelResult<ItemValues> folderValues = readItemValues(folder);
    if (const FilePanelError *error = std::get_if<FilePanelError>(&folderValues)) {
        return *error;
    }
    if (!std::get<ItemValues>(folderValues).isFolder || std::get<ItemValues>(folderValues).isSymbolicLink) {
        return FilePanelError::refusal(QStringLiteral("所选保存位置不可用。"));
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        return FilePanelError::refusal(QStringLiteral("请输入有效的名称。"));
    }

    // lstat rather than an existence test that follows links: a dangling link would otherwise pass as
    // a free name and the download would be written wherever it points.
    struct stat status
    {
    };
    if (itemStatus(path, status)) {
        const ItemValues existing = valuesOf(status, path);
        if (existing.isSymbolicLink) {
            return FilePanelError::refusal(QStringLiteral("为保护文件路径安全，Tavrine 不支持保存到符号链接。"));
        }
        if (existing.isFolder) {
            return FilePanelError::refusal(QStringLiteral("请选择文件名称，而不是文件夹。"));
        }
    } else if (errno != ENOENT) {
        return FilePanelError::fileSystem(errno, path);
    }
    return NativeDownloadDestination{QUrl::fromLocalFile(folder), name};
}

FilePanelResult<QStringList> listDirectories(const QString &folder)
{
    const FilePanelResult<ItemValues> read = readItemValues(folder);
    if (const FilePanelError *error = std::get_if<FilePanelError>(&read)) {
        return *error;
    }
    if (!std::get<ItemValues>(read).isFolder || std::get<ItemValues>(read).isSymbolicLink) {
        return FilePanelError::folderBrowser(NativeFolderBrowserError::invalidDirectory);
    }

    const std::unique_ptr<DIR, int (*)(DIR *)> stream(::opendir(QFile::encodeName(folder).constData()), ::closedir);
    if (!stream) {
        return FilePanelError::fileSystem(errno, folder);
    }
    const QDir parent(folder);
    QStringList names;
    while (const dirent *entry = ::readdir(stream.get())) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String("..")) {
            continue;
        }
        const FilePanelResult<ItemValues> item = readItemValues(parent.filePath(name));
        const ItemValues *values = std::get_if<ItemValues>(&item);
        if (values && values->isFolder && !values->isSymbolicLink && !values->isHidden) {
            names.append(name);
        }
    }

    sortByStandardName(names);
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : names) {
        paths.append(parent.filePath(name));
    }
    return paths;
}

QString initialDirectory(const QStringList &downloadLocations, const QString &homePath)
{
    for (const QString &location : downloadLocations) {
        if (!location.isEmpty()) {
            return location;
        }
    }
    return homePath;
}

QString parentDirectory(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    const QString parent = QFileInfo(clean).path();
    return parent.isEmpty() ? clean : QDir::cleanPath(parent);
}

bool isWritableDirectory(const QString &folder)
{
    return QFileInfo(folder).isWritable();
}

} // namespace FilePanelChecks

#include "DeviceManagementStore.h"

#include "DeviceManagementRequestError.h"
#include "LocalNames.h"
#include "ManagedDownloadDelivery.h"
#include "ManagedPaging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <QtNumeric>

#include <algorithm>
#include <iterator>

#include <sys/stat.h>

namespace {

const QString treeAction = QStringLiteral("files.tree");
const QString folderDownloadNeedsUpdateMessage = QStringLiteral("手机端 Tavrine 需要更新后才能下载文件夹。");
const QString sharedNameMessage = QStringLiteral("多个项目不能共用同一个名称");
const QString preparingDownloadMessage = QStringLiteral("正在准备下载…");
const QString invalidPathMessage = QStringLiteral("手机返回了无效的文件位置");
const QString invalidEntryNameMessage = QStringLiteral("手机返回了无效的文件名称");
const QString invalidSaveNameMessage = QStringLiteral("保存名称无效");
const QString folderTooLargeMessage = QStringLiteral("单个文件夹最多下载 10000 个项目");
const QString runTooLargeMessage = QStringLiteral("单次最多下载 10000 个项目");
const QString totalOverflowMessage = QStringLiteral("所选内容过大，无法创建下载任务");
const QString folderSavedMessage = QStringLiteral("文件夹已保存");

constexpr qsizetype maximumTreeEntries = 10000;
constexpr qint64 maximumPlannedItems = 10000;
constexpr qsizetype maximumRelativePathBytes = 16384;
constexpr qsizetype maximumPathComponents = 64;
constexpr qsizetype maximumComponentBytes = maximumFileNameBytes;
constexpr int highestNameNumber = 10000;

[[noreturn]] void reject(const QString &text)
{
    throw DeviceManagementRequestError::rejected(text);
}

QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

// Whether anything is at `path`, a symbolic link included, whether or not its target exists.
bool itemExists(const QString &path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

void makeFolder(const QString &path)
{
    if (path.isEmpty() || !QDir().mkpath(path)) {
        throw FileOperationError(QStringLiteral("无法创建文件夹“%1”").arg(path));
    }
}

// The size a download plans with: unknown or negative counts as nothing.
qint64 plannedBytes(const std::optional<qint64> &size)
{
    return std::max<qint64>(size.value_or(0), 0);
}

// The bytes of a run: every file lands in the chosen folder, and passes through the receive folder on its way.
struct RunBytes
{
    qint64 total = 0;
    qint64 largestFile = 0;

    void add(const std::optional<qint64> &size)
    {
        if (qAddOverflow(total, plannedBytes(size), &total)) {
            reject(totalOverflowMessage);
        }
        largestFile = std::max(largestFile, plannedBytes(size));
    }
};

// Free bytes in the folder the phone's files are received into or, while it is gone, in the nearest folder above it,
// where it is made again; nothing when unknown.
std::optional<qint64> receiveFolderAvailableBytes(const DeviceManagementChannel &channel,
                                                  const DeviceManagementStoreEnvironment &environment)
{
    const std::optional<QString> receiveFolder = channel.receiveFolder();
    if (!receiveFolder || receiveFolder->isEmpty()) {
        return std::nullopt;
    }
    QString existing = QDir::cleanPath(QDir(*receiveFolder).absolutePath());
    while (!QFileInfo(existing).isDir()) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing) {
            return std::nullopt;
        }
        existing = parent;
    }
    return environment.availableBytes(existing);
}

// A name given as one path component: refused when it would reach outside its folder.
QString singleComponent(const QString &name, const QString &refusal)
{
    if (DeviceManagementStore::validateRelativePath(name).size() != 1) {
        reject(refusal);
    }
    return name;
}

} // namespace

bool DeviceManagementStore::canDownload(const QList<ManagedFileEntry> &entries)
{
    if (entries.isEmpty()) {
        return false;
    }
    const bool anyFolder =
        std::any_of(entries.cbegin(), entries.cend(), [](const ManagedFileEntry &entry) { return entry.directory; });
    if (!anyFolder || (m_snapshot && m_snapshot->capabilities.actions.contains(treeAction))) {
        return true;
    }
    setErrorMessage(folderDownloadNeedsUpdateMessage);
    return false;
}

QCoro::Task<void> DeviceManagementStore::downloadToMac(QList<ManagedFileEntry> entries,
                                                       NativeDownloadDestination destination)
{
    const QList<ManagedFileEntry> selection = uniqueEntries(entries);
    if (selection.isEmpty() || m_isPerformingFileOperation || !canDownload(selection)) {
        co_return;
    }
    if (destination.preferredRootName && selection.size() > 1) {
        present(std::make_exception_ptr(DeviceManagementRequestError::rejected(sharedNameMessage)));
        co_return;
    }
    const quint64 generation = m_sessionGeneration;
    setIsPerformingFileOperation(true);
    setMessage(preparingDownloadMessage);
    setErrorMessage(std::nullopt);

    const QString folder =
        destination.directoryURL.isLocalFile() ? QDir::cleanPath(destination.directoryURL.toLocalFile()) : QString();
    try {
        makeFolder(folder);
        QList<PreparedManagedDownloadFile> items;
        QSet<QString> reservedNames;
        QStringList foldersToCreate;
        qint64 plannedItems = 0;
        RunBytes bytes;
        for (const ManagedFileEntry &entry : selection) {
            if (!isCurrent(generation)) {
                co_return;
            }
            singleComponent(entry.name, invalidEntryNameMessage);
            const QString targetName =
                singleComponent(destination.preferredRootName.value_or(entry.name), invalidSaveNameMessage);
            const QString localName = uniqueLocalName(targetName, folder, reservedNames);
            const QString batchID = newUUID();
            if (!entry.directory) {
                bytes.add(entry.size);
                items.append({newUUID(), entry.id, entry.name, plannedBytes(entry.size), localName,
                              TransferTaskRecord::DeliveryPurpose::export_, batchID, localName,
                              destination.preferredRootName});
                if (++plannedItems > maximumPlannedItems) {
                    reject(runTooLargeMessage);
                }
                continue;
            }
            const QString localFolder = childPath(folder, localName);
            const QList<ManagedFileTreeEntry> tree = co_await collectTree(entry.id);
            if (!isCurrent(generation)) {
                co_return;
            }
            if (plannedItems + 1 + tree.size() > maximumPlannedItems) {
                reject(runTooLargeMessage);
            }
            foldersToCreate.append(localFolder);
            QList<ManagedFileTreeEntry> subfolders;
            std::copy_if(tree.cbegin(), tree.cend(), std::back_inserter(subfolders),
                         [](const ManagedFileTreeEntry &treeEntry) { return treeEntry.directory; });
            sortByDepth(subfolders);
            for (const ManagedFileTreeEntry &subfolder : subfolders) {
                foldersToCreate.append(childPath(localFolder, validateRelativePath(subfolder.relativePath).join(u'/')));
            }
            for (const ManagedFileTreeEntry &file : tree) {
                if (file.directory) {
                    continue;
                }
                validateRelativePath(file.relativePath);
                bytes.add(file.size);
                items.append({newUUID(), file.id, lastPathComponent(file.relativePath), plannedBytes(file.size),
                              localName + u'/' + file.relativePath, TransferTaskRecord::DeliveryPurpose::export_,
                              batchID, localName, std::nullopt});
            }
            plannedItems += 1 + tree.size();
        }
        // The last answer may belong to a phone that is no longer shown: its files must not be queued.
        if (!isCurrent(generation)) {
            co_return;
        }

        if (const std::optional<qint64> available = m_environment.availableBytes(folder);
            available && *available < bytes.total) {
            reject(QStringLiteral("所选位置空间不足，需要 %1，当前可用 %2")
                       .arg(fileByteCount(bytes.total), fileByteCount(*available)));
        }
        // On the receive folder's own file system a received file becomes the delivered one, so the check above
        // counted it. On another one, files come one at a time and each leaves the receive folder once it is copied
        // into place: there the largest must fit.
        if (const std::optional<qint64> available = receiveFolderAvailableBytes(*m_channel, m_environment);
            available && *available < bytes.largestFile) {
            reject(QStringLiteral("接收文件夹空间不足，需要 %1，当前可用 %2")
                       .arg(fileByteCount(bytes.largestFile), fileByteCount(*available)));
        }
        for (const QString &path : std::as_const(foldersToCreate)) {
            makeFolder(path);
        }
        m_channel->enqueueManagedDownloads(items, folder);
        setMessage(items.isEmpty() ? folderSavedMessage : QStringLiteral("已加入 %1 个下载任务").arg(items.size()));
        setErrorMessage(std::nullopt);
    } catch (...) {
        if (isCurrent(generation)) {
            // The run is over: what it was preparing is not coming, only the reason why.
            setMessage(std::nullopt);
            present(std::current_exception());
        }
    }
    if (isCurrent(generation)) {
        setIsPerformingFileOperation(false);
    }
}

QCoro::Task<QList<ManagedFileTreeEntry>> DeviceManagementStore::collectTree(QString folderID)
{
    const quint64 generation = m_sessionGeneration;
    QList<ManagedFileTreeEntry> entries;
    ManagedPaging paging(ManagedPaging::Listing::folder);
    while (true) {
        const QJsonObject payload{{QStringLiteral("id"), folderID},
                                  {QStringLiteral("pageToken"), paging.pageToken()},
                                  {QStringLiteral("pageSize"), pageSize}};
        const QString answer = co_await requestText(treeAction, payload);
        const auto page = paging.read<ManagedFileTreePage>(answer);
        // Another phone is shown now: asking on would send this folder's id to it. The caller drops the run.
        if (!isCurrent(generation)) {
            co_return entries;
        }
        entries.append(page.entries);
        if (entries.size() > maximumTreeEntries) {
            reject(folderTooLargeMessage);
        }
        if (!paging.advance(page.nextPageToken)) {
            co_return entries;
        }
    }
}

// Path checks and list helpers.

QStringList DeviceManagementStore::validateRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(u'/') || path.toUtf8().size() > maximumRelativePathBytes) {
        reject(invalidPathMessage);
    }
    const QStringList components = path.split(u'/', Qt::KeepEmptyParts);
    if (components.size() > maximumPathComponents) {
        reject(invalidPathMessage);
    }
    for (const QString &component : components) {
        if (component.isEmpty() || component == u"." || component == u".." || component.contains(u'\\') ||
            containsNulScalar(component) || component.toUtf8().size() > maximumComponentBytes) {
            reject(invalidPathMessage);
        }
    }
    return components;
}

QString DeviceManagementStore::uniqueLocalName(const QString &name, const QString &folder, QSet<QString> &reserved)
{
    const auto take = [&folder, &reserved](const QString &candidate) {
        if (reserved.contains(candidate) || itemExists(childPath(folder, candidate))) {
            return false;
        }
        reserved.insert(candidate);
        return true;
    };
    if (take(name)) {
        return name;
    }
    // The extension follows the last dot unless that dot starts the name or ends it.
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    for (int number = 2; number <= highestNameNumber; ++number) {
        const QString candidate = base + u' ' + QString::number(number) + extension;
        if (take(candidate)) {
            return candidate;
        }
    }
    const QString fallback = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u'-' + name;
    reserved.insert(fallback);
    return fallback;
}

void DeviceManagementStore::sortByDepth(QList<ManagedFileTreeEntry> &entries)
{
    const auto depth = [](const ManagedFileTreeEntry &entry) {
        return entry.relativePath.split(u'/', Qt::SkipEmptyParts).size();
    };
    std::stable_sort(entries.begin(), entries.end(),
                     [&depth](const ManagedFileTreeEntry &left, const ManagedFileTreeEntry &right) {
                         return depth(left) < depth(right);
                     });
}

QString DeviceManagementStore::lastPathComponent(const QString &path)
{
    const QStringList components = path.split(u'/', Qt::SkipEmptyParts);
    return components.isEmpty() ? path : components.last();
}

#include "DeviceManagementStore.h"

#include "DeviceManagementRequestError.h"
#include "ManagedPaging.h"

#include <QJsonDocument>
#include <QStorageInfo>

namespace {

const QString snapshotAction = QStringLiteral("device.snapshot");
const QString rootsAction = QStringLiteral("files.roots");
const QString listAction = QStringLiteral("files.list");
const QString contentFolderMissingMessage = QStringLiteral("这台手机没有找到对应的内容文件夹，可在“所有文件”中浏览。");

std::optional<qint64> fileSystemAvailableBytes(const QString &folder)
{
    const QStorageInfo storage(folder);
    if (!storage.isValid() || !storage.isReady()) {
        return std::nullopt;
    }
    return storage.bytesAvailable();
}

} // namespace

QString rawValue(ManagedConflictPolicy policy)
{
    switch (policy) {
    case ManagedConflictPolicy::error:
        return QStringLiteral("error");
    case ManagedConflictPolicy::keepBoth:
        return QStringLiteral("keep_both");
    case ManagedConflictPolicy::replace:
        return QStringLiteral("replace");
    }
    Q_UNREACHABLE();
}

QString DeviceManagementStore::rawValue(AppFilter filter)
{
    switch (filter) {
    case AppFilter::user:
        return QStringLiteral("user");
    case AppFilter::system:
        return QStringLiteral("system");
    case AppFilter::all:
        return QStringLiteral("all");
    }
    Q_UNREACHABLE();
}

std::optional<DeviceManagementStore::AppFilter> DeviceManagementStore::appFilterFromRawValue(const QString &text)
{
    for (const AppFilter filter : allAppFilters()) {
        if (rawValue(filter) == text) {
            return filter;
        }
    }
    return std::nullopt;
}

DeviceManagementStore::DeviceManagementStore(TransferStore &transferStore, QObject *parent)
    : DeviceManagementStore(std::make_shared<TransferStoreManagementChannel>(transferStore), {}, parent)
{}

DeviceManagementStore::DeviceManagementStore(std::shared_ptr<DeviceManagementChannel> channel,
                                             DeviceManagementStoreEnvironment environment, QObject *parent)
    : QObject(parent), m_channel(std::move(channel)), m_environment(std::move(environment)),
      m_filePreviewCache(m_environment.previewDirectory, previewCacheFileLimit, previewCacheByteLimit)
{
    if (!m_environment.availableBytes) {
        m_environment.availableBytes = fileSystemAvailableBytes;
    }
    m_channel->observeTasks(this, [this](const QList<TransferTaskRecord> &tasks) { followSentFiles(tasks); });
}

DeviceManagementStore::~DeviceManagementStore() = default;

// Published values.

void DeviceManagementStore::setSnapshot(const std::optional<ManagedDeviceSnapshot> &snapshot)
{
    publish(m_snapshot, snapshot, &DeviceManagementStore::snapshotChanged);
}

void DeviceManagementStore::setRoots(const QList<ManagedStorageRoots::Root> &roots)
{
    publish(m_roots, roots, &DeviceManagementStore::rootsChanged);
}

void DeviceManagementStore::setCurrentPage(const std::optional<ManagedFilePage> &page, const QString &listedQuery)
{
    publishListing(m_currentPage, page, m_listedFileQuery, listedQuery, &DeviceManagementStore::currentPageChanged);
}

void DeviceManagementStore::setTrashEntries(const QList<ManagedTrashEntry> &entries)
{
    publish(m_trashEntries, entries, &DeviceManagementStore::trashEntriesChanged);
}

void DeviceManagementStore::setMediaItems(const QList<ManagedMediaItem> &items)
{
    publish(m_mediaItems, items, &DeviceManagementStore::mediaItemsChanged);
}

void DeviceManagementStore::setLoadedMediaKind(const std::optional<ManagedMediaKind> &kind)
{
    publish(m_loadedMediaKind, kind, &DeviceManagementStore::loadedMediaKindChanged);
}

void DeviceManagementStore::setApplications(const QList<ManagedApplication> &applications)
{
    publish(m_applications, applications, &DeviceManagementStore::applicationsChanged);
}

void DeviceManagementStore::setIsLoadingOverview(bool loading)
{
    publish(m_isLoadingOverview, loading, &DeviceManagementStore::isLoadingOverviewChanged);
}

void DeviceManagementStore::setIsLoadingFiles(bool loading)
{
    publish(m_isLoadingFiles, loading, &DeviceManagementStore::isLoadingFilesChanged);
}

void DeviceManagementStore::setIsLoadingTrash(bool loading)
{
    publish(m_isLoadingTrash, loading, &DeviceManagementStore::isLoadingTrashChanged);
}

void DeviceManagementStore::setIsLoadingMedia(bool loading)
{
    publish(m_isLoadingMedia, loading, &DeviceManagementStore::isLoadingMediaChanged);
}

void DeviceManagementStore::setIsLoadingApplications(bool loading)
{
    publish(m_isLoadingApplications, loading, &DeviceManagementStore::isLoadingApplicationsChanged);
}

void DeviceManagementStore::setIsPerformingFileOperation(bool performing)
{
    publish(m_isPerformingFileOperation, performing, &DeviceManagementStore::isPerformingFileOperationChanged);
}

void DeviceManagementStore::setMessage(const std::optional<QString> &message)
{
    publish(m_message, message, &DeviceManagementStore::messageChanged);
}

void DeviceManagementStore::setErrorMessage(const std::optional<QString> &message)
{
    publish(m_errorMessage, message, &DeviceManagementStore::errorMessageChanged);
    if (message) {
        setMessage(std::nullopt);
    }
}

void DeviceManagementStore::setFileQuery(const QString &query)
{
    publish(m_fileQuery, query, &DeviceManagementStore::fileQueryChanged);
}

void DeviceManagementStore::setTrashQuery(const QString &query)
{
    publish(m_trashQuery, query, &DeviceManagementStore::trashQueryChanged);
}

void DeviceManagementStore::setMediaQuery(const QString &query)
{
    publish(m_mediaQuery, query, &DeviceManagementStore::mediaQueryChanged);
}

void DeviceManagementStore::setApplicationQuery(const QString &query)
{
    publish(m_applicationQuery, query, &DeviceManagementStore::applicationQueryChanged);
}

void DeviceManagementStore::setApplicationFilter(AppFilter filter)
{
    publish(m_applicationFilter, filter, &DeviceManagementStore::applicationFilterChanged);
}

void DeviceManagementStore::setClipboard(const std::optional<FileClipboard> &clipboard)
{
    publish(m_clipboard, clipboard, &DeviceManagementStore::clipboardChanged);
}

void DeviceManagementStore::setActivePeerID(const std::optional<QString> &peerID)
{
    publish(m_activePeerID, peerID, &DeviceManagementStore::activePeerIDChanged);
}

void DeviceManagementStore::setPreviewLoadingFileID(const std::optional<QString> &fileID)
{
    publish(m_previewLoadingFileID, fileID, &DeviceManagementStore::previewLoadingFileIDChanged);
}

void DeviceManagementStore::raiseThumbnailRevision()
{
    ++m_thumbnailRevision;
    emit thumbnailRevisionChanged();
}

void DeviceManagementStore::forgetFailedPreview(const QString &key)
{
    m_failedPreviewKeys.remove(key);
}

// Switching phones.

void DeviceManagementStore::setActivePeer(const std::optional<QString> &peerID)
{
    if (peerID == m_activePeerID) {
        return;
    }
    setActivePeerID(peerID);
    ++m_sessionGeneration;
    setSnapshot(std::nullopt);
    setRoots({});
    setCurrentPage(std::nullopt);
    publishListing(m_trashEntries, {}, m_listedTrashQuery, {}, &DeviceManagementStore::trashEntriesChanged);
    publishListing(m_mediaItems, {}, m_listedMediaQuery, {}, &DeviceManagementStore::mediaItemsChanged);
    setLoadedMediaKind(std::nullopt);
    setApplications({});
    m_directoryHistory.clear();
    setClipboard(std::nullopt);
    setFileQuery({});
    setTrashQuery({});
    setMediaQuery({});
    setApplicationQuery({});
    setApplicationFilter(AppFilter::user);
    setIsLoadingOverview(false);
    setIsLoadingFiles(false);
    setIsLoadingTrash(false);
    setIsLoadingMedia(false);
    setIsPerformingFileOperation(false);
    ++m_mediaRequestGeneration;
    setIsLoadingApplications(false);
    setMessage(std::nullopt);
    setErrorMessage(std::nullopt);
    m_thumbnailCache.clear();
    m_mediaPreviewCache.clear();
    m_loadingThumbnailKeys.clear();
    m_failedThumbnailKeys.clear();
    m_loadingPreviewKeys.clear();
    m_failedPreviewKeys.clear();
    m_thumbnailRequests.reset();
    m_previewRequests.reset();
    setPreviewLoadingFileID(std::nullopt);
    raiseThumbnailRevision();
}

// The request path.

QString DeviceManagementStore::encodePayload(const QJsonObject &payload)
{
    // QJsonObject keeps its keys sorted; "/" only ever stands inside strings in JSON text.
    QString text = QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    text.replace(u'/', QStringLiteral("\\/"));
    return text;
}

QCoro::Task<QString> DeviceManagementStore::requestText(QString action, QJsonObject payload)
{
    const QString text = encodePayload(payload);
    // The channel outlives this call even when the store goes away meanwhile.
    const std::shared_ptr<DeviceManagementChannel> channel = m_channel;
    co_return co_await channel->requestManagement(std::move(action), text);
}

QString DeviceManagementStore::describe(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &exception) {
        return QString::fromUtf8(exception.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void DeviceManagementStore::present(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DeviceManagementRequestError &requestError) {
        if (requestError.errorCase() == DeviceManagementRequestError::Case::disconnected) {
            setErrorMessage(std::nullopt);
            return;
        }
    } catch (...) {
    }
    setErrorMessage(describe(error));
}

// Overview and roots.

QCoro::Task<void> DeviceManagementStore::refreshOverview()
{
    if (!m_channel->isConnected() || m_isLoadingOverview) {
        co_return;
    }
    const quint64 generation = m_sessionGeneration;
    setIsLoadingOverview(true);
    setErrorMessage(std::nullopt);
    try {
        ManagedDeviceSnapshot answer = co_await request<ManagedDeviceSnapshot>(snapshotAction, {});
        if (isCurrent(generation)) {
            setSnapshot(answer);
        }
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
    }
    if (isCurrent(generation)) {
        setIsLoadingOverview(false);
    }
}

QCoro::Task<void> DeviceManagementStore::loadRoots()
{
    if (!m_channel->isConnected() || m_isLoadingFiles) {
        co_return;
    }
    const quint64 generation = m_sessionGeneration;
    setIsLoadingFiles(true);
    setErrorMessage(std::nullopt);
    std::optional<QString> firstRoot;
    try {
        ManagedStorageRoots answer = co_await request<ManagedStorageRoots>(rootsAction, {});
        if (!isCurrent(generation)) {
            co_return;
        }
        setRoots(answer.roots);
        if (!m_currentPage && !m_roots.isEmpty()) {
            firstRoot = m_roots.first().id;
        }
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
    }
    if (firstRoot) {
        try {
            co_await listFolder(*firstRoot);
        } catch (...) {
            if (isCurrent(generation)) {
                present(std::current_exception());
            }
        }
    }
    if (isCurrent(generation)) {
        setIsLoadingFiles(false);
    }
}

// Folder navigation.

QCoro::Task<void> DeviceManagementStore::openRoot(ManagedStorageRoots::Root root, std::optional<QString> query)
{
    const quint64 generation = m_sessionGeneration;
    m_directoryHistory.clear();
    try {
        co_await listFolder(root.id, std::move(query));
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
    }
}

QCoro::Task<void> DeviceManagementStore::openFolder(ManagedFileEntry entry)
{
    if (!entry.directory) {
        co_return;
    }
    const quint64 generation = m_sessionGeneration;
    if (m_currentPage) {
        m_directoryHistory.append({m_currentPage->parentId, m_currentPage->parentName});
    }
    try {
        co_await listFolder(entry.id);
    } catch (...) {
        if (isCurrent(generation)) {
            if (!m_directoryHistory.isEmpty()) {
                m_directoryHistory.removeLast();
            }
            present(std::current_exception());
        }
    }
}

QCoro::Task<void> DeviceManagementStore::goBack()
{
    const quint64 generation = m_sessionGeneration;
    if (m_directoryHistory.isEmpty()) {
        co_return;
    }
    const HistoryItem previous = m_directoryHistory.takeLast();
    try {
        co_await listFolder(previous.id);
    } catch (...) {
        if (isCurrent(generation)) {
            m_directoryHistory.append(previous);
            present(std::current_exception());
        }
    }
}

QCoro::Task<void> DeviceManagementStore::reloadCurrentFolder()
{
    const quint64 generation = m_sessionGeneration;
    if (!m_currentPage) {
        co_await loadRoots();
        co_return;
    }
    try {
        co_await listFolder(m_currentPage->parentId);
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
    }
}

QCoro::Task<void> DeviceManagementStore::listFolder(QString parentID, std::optional<QString> query)
{
    const quint64 generation = m_sessionGeneration;
    // Listings may overlap (a reload while a folder opens): only the one started last publishes, so the
    // page shown is always the folder the user went to last.
    const quint64 listing = ++m_listingGeneration;
    const auto isNewest = [this, generation, listing] {
        return isCurrent(generation) && listing == m_listingGeneration;
    };
    setIsLoadingFiles(true);
    QList<ManagedFileEntry> gathered;
    ManagedPaging paging(ManagedPaging::Listing::folder);
    ManagedFilePage page;
    QString listedQuery;
    try {
        while (true) {
            listedQuery = query.value_or(m_fileQuery);
            const QJsonObject payload{{QStringLiteral("parentId"), parentID},
                                      {QStringLiteral("query"), listedQuery},
                                      {QStringLiteral("pageToken"), paging.pageToken()},
                                      {QStringLiteral("pageSize"), pageSize}};
            const QString answer = co_await requestText(listAction, payload);
            page = paging.read<ManagedFilePage>(answer);
            if (!isNewest()) {
                co_return;
            }
            gathered.append(page.entries);
            if (gathered.size() >= maximumListedEntries || !paging.advance(page.nextPageToken)) {
                break;
            }
        }
    } catch (...) {
        if (!isNewest()) {
            co_return;
        }
        setIsLoadingFiles(false);
        throw;
    }
    page.entries = std::move(gathered);
    setCurrentPage(page, listedQuery);
    setIsLoadingFiles(false);
}

QCoro::Task<bool> DeviceManagementStore::openContentFolder(QStringList candidateNames)
{
    // The search belongs to the phone shown when it began: after a switch it must not open a folder of the new
    // phone nor tell it that nothing was found.
    const quint64 generation = m_sessionGeneration;
    if (m_roots.isEmpty()) {
        co_await loadRoots();
        if (!isCurrent(generation)) {
            co_return false;
        }
    }
    if (m_roots.isEmpty()) {
        co_return false;
    }
    // The content folder is looked for among all the root's folders; the search filters the folder it opens.
    co_await openRoot(m_roots.first(), QString());
    if (!isCurrent(generation)) {
        co_return false;
    }
    if (m_currentPage) {
        for (const QString &candidate : candidateNames) {
            for (const ManagedFileEntry &entry : m_currentPage->entries) {
                if (entry.directory && entry.name.compare(candidate, Qt::CaseInsensitive) == 0) {
                    const ManagedFileEntry folder = entry;
                    co_await openFolder(folder);
                    co_return isCurrent(generation) && m_currentPage && m_currentPage->parentId == folder.id;
                }
            }
        }
    }
    setMessage(contentFolderMissingMessage);
    setErrorMessage(std::nullopt);
    co_return false;
}

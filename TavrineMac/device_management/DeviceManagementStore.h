#pragma once

#include "DeviceManagementChannel.h"
#include "ImageMemoryCache.h"
#include "LocalManagedUploadPlan.h"
#include "ManagedContentModel.h"
#include "ManagedPreviewCache.h"
#include "MediaRequestQueue.h"
#include "NativeDownloadDestination.h"

#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

// What the phone does when the name an action wants is taken.
enum class ManagedConflictPolicy
{
    error,    // the action fails
    keepBoth, // the new item gets a free name
    replace,  // the old item goes to the phone's trash
};

QString rawValue(ManagedConflictPolicy policy);

// What the store needs of the machine besides the channel, replaceable in tests.
struct DeviceManagementStoreEnvironment
{
    std::optional<QString> previewDirectory; // default: ManagedPreviewCache::defaultDirectory()
    // Bytes free for new files in a local folder; nothing when unknown. Default: the file system's figure.
    std::function<std::optional<qint64>(const QString &folder)> availableBytes;
};

// The one store through which the desktop manages the content of the phone the dashboard shows: it holds
// what the views draw and turns each intent into management actions over the transfer store. Lives on the
// GUI thread; every operation that awaits the phone drops its answer when the active phone changed meanwhile.
//
// The definitions are kept by concern: DeviceManagementStore.cpp (state, switching phones, the request path,
// overview, roots and folder navigation), …FileOperations.cpp (create, rename, trash, clipboard and paste),
// …Trash.cpp, …Media.cpp, …Uploads.cpp, …Downloads.cpp (download to this computer and its path checks),
// …Preview.cpp and …Applications.cpp.
class DeviceManagementStore : public QObject
{
    Q_OBJECT

public:
    enum class AppFilter
    {
        user,
        system,
        all,
    };
    static QList<AppFilter> allAppFilters() { return {AppFilter::user, AppFilter::system, AppFilter::all}; }
    static QString rawValue(AppFilter filter);
    static std::optional<AppFilter> appFilterFromRawValue(const QString &text);

    struct FileClipboard
    {
        QList<ManagedFileEntry> entries;
        bool move = false; // cut rather than copied

        bool operator==(const FileClipboard &) const = default;
    };

    struct HistoryItem
    {
        QString id;
        QString name;

        bool operator==(const HistoryItem &) const = default;
    };

    static constexpr int pageSize = 100;
    static constexpr qsizetype maximumListedEntries = 5000;
    static constexpr qsizetype maximumListedApplications = 2000;
    static constexpr int thumbnailCountLimit = 400;
    static constexpr qint64 thumbnailCostLimit = 83'886'080;
    static constexpr int mediaPreviewCountLimit = 12;
    static constexpr qint64 mediaPreviewCostLimit = 134'217'728;
    // Thumbnail requests out at a time; large previews go one at a time.
    static constexpr int thumbnailRequestPlaces = 8;
    // The largest side of a gallery tile (a grid cell; justified rows are at most 205 tall): thumbnails are kept
    // with their shorter side at this many pixels times the screen's pixel ratio.
    static constexpr int thumbnailTileSide = 220;
    static int keptThumbnailSide();
    static constexpr int previewCacheFileLimit = 32;
    static constexpr qint64 previewCacheByteLimit = 536'870'912;

    // The application's store, over its one transfer store.
    explicit DeviceManagementStore(TransferStore &transferStore, QObject *parent = nullptr);
    DeviceManagementStore(std::shared_ptr<DeviceManagementChannel> channel, DeviceManagementStoreEnvironment environment,
                          QObject *parent = nullptr);
    ~DeviceManagementStore() override;

    // Published state.
    const std::optional<ManagedDeviceSnapshot> &snapshot() const { return m_snapshot; }
    const QList<ManagedStorageRoots::Root> &roots() const { return m_roots; }
    const std::optional<ManagedFilePage> &currentPage() const { return m_currentPage; }
    const QList<ManagedTrashEntry> &trashEntries() const { return m_trashEntries; }
    const QList<ManagedMediaItem> &mediaItems() const { return m_mediaItems; }
    const std::optional<ManagedMediaKind> &loadedMediaKind() const { return m_loadedMediaKind; }
    const QList<ManagedApplication> &applications() const { return m_applications; }
    bool isLoadingOverview() const { return m_isLoadingOverview; }
    bool isLoadingFiles() const { return m_isLoadingFiles; }
    bool isLoadingTrash() const { return m_isLoadingTrash; }
    bool isLoadingMedia() const { return m_isLoadingMedia; }
    bool isLoadingApplications() const { return m_isLoadingApplications; }
    bool isPerformingFileOperation() const { return m_isPerformingFileOperation; }
    const std::optional<QString> &message() const { return m_message; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    const QString &fileQuery() const { return m_fileQuery; }
    const QString &trashQuery() const { return m_trashQuery; }
    const QString &mediaQuery() const { return m_mediaQuery; }
    const QString &applicationQuery() const { return m_applicationQuery; }
    AppFilter applicationFilter() const { return m_applicationFilter; }
    const std::optional<FileClipboard> &clipboard() const { return m_clipboard; }
    const std::optional<QString> &activePeerID() const { return m_activePeerID; }
    quint64 thumbnailRevision() const { return m_thumbnailRevision; }
    const std::optional<QString> &previewLoadingFileID() const { return m_previewLoadingFileID; }
    // The search texts the phone filtered the shown lists by, published with currentPage, mediaItems and
    // trashEntries: an empty list is "no match" only when its own listing searched, whatever the field holds now.
    const QString &listedFileQuery() const { return m_listedFileQuery; }
    const QString &listedMediaQuery() const { return m_listedMediaQuery; }
    const QString &listedTrashQuery() const { return m_listedTrashQuery; }

    // What the views may write (two-way bindings). Each emits its signal on a real change only.
    void setTrashEntries(const QList<ManagedTrashEntry> &entries);
    void setMediaItems(const QList<ManagedMediaItem> &items);
    void setLoadedMediaKind(const std::optional<ManagedMediaKind> &kind);
    void setIsLoadingFiles(bool loading);
    void setIsLoadingTrash(bool loading);
    void setIsLoadingMedia(bool loading);
    void setIsPerformingFileOperation(bool performing);
    void setMessage(const std::optional<QString> &message);
    // An error drops the message with it: kept behind the error, the message would come back as news once a load
    // clears the error.
    void setErrorMessage(const std::optional<QString> &message);
    // The folder search: the text sent as "query" with every folder listing; typing alone lists nothing.
    void setFileQuery(const QString &query);
    void setTrashQuery(const QString &query);
    void setMediaQuery(const QString &query);
    void setApplicationQuery(const QString &query);
    void setApplicationFilter(AppFilter filter);
    void setClipboard(const std::optional<FileClipboard> &clipboard);

    // Plain state, readable for views and tests.
    const QList<HistoryItem> &directoryHistory() const { return m_directoryHistory; }
    quint64 sessionGeneration() const { return m_sessionGeneration; }
    quint64 mediaRequestGeneration() const { return m_mediaRequestGeneration; }
    const ManagedPreviewCache &filePreviewCache() const { return m_filePreviewCache; }
    const ImageMemoryCache &thumbnailCache() const { return m_thumbnailCache; }
    const QSet<QString> &loadingThumbnailKeys() const { return m_loadingThumbnailKeys; }
    const QSet<QString> &failedThumbnailKeys() const { return m_failedThumbnailKeys; }
    const QSet<QString> &loadingPreviewKeys() const { return m_loadingPreviewKeys; }
    const QSet<QString> &failedPreviewKeys() const { return m_failedPreviewKeys; }
    // The preview's reload button forgets a failed key before asking again.
    void forgetFailedPreview(const QString &key);

    // Switching phones, overview, roots and folders.
    void setActivePeer(const std::optional<QString> &peerID);
    QCoro::Task<void> refreshOverview();
    QCoro::Task<void> loadRoots();
    // `query`: the search to list with; nothing: the fileQuery of the moment (see listFolder).
    QCoro::Task<void> openRoot(ManagedStorageRoots::Root root, std::optional<QString> query = std::nullopt);
    QCoro::Task<void> openFolder(ManagedFileEntry entry);
    QCoro::Task<void> goBack();
    QCoro::Task<void> reloadCurrentFolder();
    QCoro::Task<bool> openContentFolder(QStringList candidateNames);

    // File and folder operations and the clipboard.
    QCoro::Task<bool> createFolder(QString name, ManagedConflictPolicy policy);
    QCoro::Task<bool> rename(ManagedFileEntry entry, QString name, ManagedConflictPolicy policy);
    QCoro::Task<bool> moveToTrash(QList<ManagedFileEntry> entries);
    void putOnClipboard(const QList<ManagedFileEntry> &entries, bool move);
    QCoro::Task<bool> paste(ManagedConflictPolicy policy);

    // The phone's trash.
    QCoro::Task<void> loadTrash();
    QCoro::Task<bool> restore(ManagedTrashEntry entry, ManagedConflictPolicy policy);
    QCoro::Task<bool> emptyTrash();

    // Photos and videos.
    QCoro::Task<void> loadMedia(ManagedMediaKind kind);
    QString mediaCacheKey(const ManagedMediaItem &item) const;
    std::optional<QImage> cachedMediaImage(const ManagedMediaItem &item);
    QCoro::Task<void> loadThumbnail(ManagedMediaItem item, int maximumDimension);
    QCoro::Task<void> loadLargePreview(ManagedMediaItem item, int maximumDimension);
    // Nobody waits for the image of `item` any more: a request of it that has not gone out yet never does.
    void withdrawThumbnail(const ManagedMediaItem &item);
    void withdrawLargePreview(const ManagedMediaItem &item);
    QCoro::Task<void> downloadMedia(ManagedMediaItem item);

    // Local files and folders sent into the open phone folder; `paths` are absolute local paths.
    QCoro::Task<void> upload(QStringList paths);
    static LocalManagedUploadPlan makeUploadPlan(const QStringList &paths);

    // Phone files and folders downloaded into a local folder.
    bool canDownload(const QList<ManagedFileEntry> &entries);
    QCoro::Task<void> downloadToMac(QList<ManagedFileEntry> entries, NativeDownloadDestination destination);

    // A local copy of a phone file to preview: its path, or nothing when there is nothing to show.
    QCoro::Task<std::optional<QString>> previewFile(ManagedFileEntry entry);

    // Applications.
    QCoro::Task<void> loadApplications();
    QCoro::Task<void> uninstallApplication(ManagedApplication application);
    QCoro::Task<void> launchApplication(ManagedApplication application);
    QCoro::Task<void> showApplicationDetails(ManagedApplication application);

    // Shared by the operations above.
    // Compact JSON with sorted keys, raw UTF-8, and "/" written as "\/".
    static QString encodePayload(const QJsonObject &payload);
    // Throws the channel's error or ManagedDecodingError.
    template <typename Answer> QCoro::Task<Answer> request(QString action, QJsonObject payload);
    QCoro::Task<QString> requestText(QString action, QJsonObject payload);
    // The error sink: a dropped link clears errorMessage, any other error shows its description.
    void present(const std::exception_ptr &error);
    static QString describe(const std::exception_ptr &error);
    // Lists a folder into currentPage; throws the first failure. Without a `query`, each page sends the fileQuery
    // of its moment.
    QCoro::Task<void> listFolder(QString parentID, std::optional<QString> query = std::nullopt);
    QCoro::Task<QList<ManagedFileTreeEntry>> collectTree(QString folderID);

    // Path checks and list helpers.
    static QStringList validateRelativePath(const QString &path); // throws DeviceManagementRequestError
    static QString uniqueLocalName(const QString &name, const QString &folder, QSet<QString> &reserved);
    static void sortByDepth(QList<ManagedFileTreeEntry> &entries);
    static QString lastPathComponent(const QString &path);
    static QList<ManagedFileEntry> uniqueEntries(const QList<ManagedFileEntry> &entries);

signals:
    void snapshotChanged();
    void rootsChanged();
    void currentPageChanged();
    void trashEntriesChanged();
    void mediaItemsChanged();
    void loadedMediaKindChanged();
    void applicationsChanged();
    void isLoadingOverviewChanged();
    void isLoadingFilesChanged();
    void isLoadingTrashChanged();
    void isLoadingMediaChanged();
    void isLoadingApplicationsChanged();
    void isPerformingFileOperationChanged();
    void messageChanged();
    void errorMessageChanged();
    void fileQueryChanged();
    void trashQueryChanged();
    void mediaQueryChanged();
    void applicationQueryChanged();
    void applicationFilterChanged();
    void clipboardChanged();
    void activePeerIDChanged();
    void thumbnailRevisionChanged();
    void previewLoadingFileIDChanged();

private:
    // Sets a published value and emits its signal when it changed.
    template <typename T> void publish(T &field, const T &value, void (DeviceManagementStore::*changed)())
    {
        if (field == value) {
            return;
        }
        field = value;
        (this->*changed)();
    }
    void setSnapshot(const std::optional<ManagedDeviceSnapshot> &snapshot);
    void setRoots(const QList<ManagedStorageRoots::Root> &roots);
    void setCurrentPage(const std::optional<ManagedFilePage> &page, const QString &listedQuery = {});
    // Publishes a list with the search it was listed by; `changed` fires when either differs.
    template <typename T>
    void publishListing(T &field, const T &value, QString &listedQueryField, const QString &listedQuery,
                        void (DeviceManagementStore::*changed)())
    {
        if (field == value && listedQueryField == listedQuery) {
            return;
        }
        field = value;
        listedQueryField = listedQuery;
        (this->*changed)();
    }
    void setApplications(const QList<ManagedApplication> &applications);
    void setIsLoadingOverview(bool loading);
    void setIsLoadingApplications(bool loading);
    void setActivePeerID(const std::optional<QString> &peerID);
    void setPreviewLoadingFileID(const std::optional<QString> &fileID);
    void raiseThumbnailRevision();
    bool isCurrent(quint64 generation) const { return generation == m_sessionGeneration; }
    // Shared by the thumbnail and the large preview.
    struct ImageRequest;
    QCoro::Task<void> loadMediaImage(ManagedMediaItem item, int maximumDimension, ImageRequest kind);
    void withdrawMediaImage(const QString &key, MediaRequestQueue &queue, QSet<QString> &loadingKeys);
    QCoro::Task<void> requestApplicationAction(QString action, ManagedApplication application, QString hint);
    // Files sent to the phone shown that complete into the folder on screen (or into the phone's own place for
    // received files, which may be that folder) make it list again, once per burst.
    void followSentFiles(const QList<TransferTaskRecord> &tasks);
    void reloadForSentFiles();
    QCoro::Task<void> reloadWhileUploadsLand();

    std::shared_ptr<DeviceManagementChannel> m_channel;
    DeviceManagementStoreEnvironment m_environment;

    std::optional<ManagedDeviceSnapshot> m_snapshot;
    QList<ManagedStorageRoots::Root> m_roots;
    std::optional<ManagedFilePage> m_currentPage;
    QList<ManagedTrashEntry> m_trashEntries;
    QList<ManagedMediaItem> m_mediaItems;
    std::optional<ManagedMediaKind> m_loadedMediaKind;
    QList<ManagedApplication> m_applications;
    bool m_isLoadingOverview = false;
    bool m_isLoadingFiles = false;
    bool m_isLoadingTrash = false;
    bool m_isLoadingMedia = false;
    bool m_isLoadingApplications = false;
    bool m_isPerformingFileOperation = false;
    std::optional<QString> m_message;
    std::optional<QString> m_errorMessage;
    QString m_fileQuery;
    QString m_trashQuery;
    QString m_mediaQuery;
    QString m_applicationQuery;
    AppFilter m_applicationFilter = AppFilter::user;
    std::optional<FileClipboard> m_clipboard;
    std::optional<QString> m_activePeerID;
    quint64 m_thumbnailRevision = 0;
    std::optional<QString> m_previewLoadingFileID;
    QString m_listedFileQuery;
    QString m_listedMediaQuery;
    QString m_listedTrashQuery;

    QList<HistoryItem> m_directoryHistory;
    quint64 m_sessionGeneration = 0;
    quint64 m_mediaRequestGeneration = 0;
    // Raised by every folder listing; only the newest listing publishes.
    quint64 m_listingGeneration = 0;
    ImageMemoryCache m_thumbnailCache{thumbnailCountLimit, thumbnailCostLimit};
    ImageMemoryCache m_mediaPreviewCache{mediaPreviewCountLimit, mediaPreviewCostLimit};
    ManagedPreviewCache m_filePreviewCache;
    QSet<QString> m_loadingThumbnailKeys;
    QSet<QString> m_failedThumbnailKeys;
    QSet<QString> m_loadingPreviewKeys;
    QSet<QString> m_failedPreviewKeys;
    MediaRequestQueue m_thumbnailRequests{thumbnailRequestPlaces};
    MediaRequestQueue m_previewRequests{1};
    // Sends seen queued, sending or stopped, whose completion is still to come.
    QSet<QString> m_pendingUploadIDs;
    // What followSentFiles() saw at each place of the task list last time.
    struct FollowedTask
    {
        QString id;
        TransferTaskRecord::Direction direction = TransferTaskRecord::Direction::sending;
        TransferTaskRecord::Status status = TransferTaskRecord::Status::completed;
    };
    QList<FollowedTask> m_followedTasks;
    bool m_uploadReloadDue = false;
    bool m_isReloadingForUploads = false;
};

template <typename Answer> QCoro::Task<Answer> DeviceManagementStore::request(QString action, QJsonObject payload)
{
    const QString answer = co_await requestText(std::move(action), std::move(payload));
    co_return decodeManagedAnswer<Answer>(answer);
}

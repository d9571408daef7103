#include "ManagedFilesPanePresentation.h"

#include "MediaGalleryPresentation.h"

#include <algorithm>

namespace {

FilesPaneContent placeholder(const QString &title, const QString &symbolName, const QString &description)
{
    return {FilesPaneContent::Kind::placeholder, title, symbolName, description, false};
}

FilesPaneContent loadingRow(const QString &text)
{
    return {FilesPaneContent::Kind::loading, text, {}, {}, false};
}

FilesPaneContent mediaContent(ManagedMediaKind kind, const FilesPaneStoreValues &store,
                              const QString &mediaLayoutStyleRawValue)
{
    const bool isPhoto = kind == ManagedMediaKind::photo;
    // The list may still hold the other kind (or nothing yet): it is shown only once it is of the requested kind.
    const bool listIsOfKind = store.loadedMediaKind == kind;
    if (store.isLoadingMedia && !listIsOfKind) {
        return loadingRow(isPhoto ? QStringLiteral("正在整理照片…") : QStringLiteral("正在整理视频…"));
    }
    if (!listIsOfKind || !store.hasMediaItems) {
        // "No match" belongs to a list that was searched, not to text typed since.
        const QString title = mediaEmptyTitle(kind, listIsOfKind ? store.listedMediaQuery : QString());
        return placeholder(title, isPhoto ? QStringLiteral("photo.on.rectangle.angled") : QStringLiteral("film.stack"),
                           {});
    }
    return {FilesPaneContent::Kind::mediaGallery, {}, {}, {}, mediaLayoutStyleRawValue == QStringLiteral("compact")};
}

} // namespace

FilesPaneStoreValues FilesPaneStoreValues::from(const DeviceManagementStore &store)
{
    FilesPaneStoreValues values;
    values.hasSnapshot = store.snapshot().has_value();
    values.allFilesGranted = values.hasSnapshot && store.snapshot()->capabilities.allFilesGranted;
    values.isLoadingFiles = store.isLoadingFiles();
    values.isLoadingTrash = store.isLoadingTrash();
    values.isLoadingMedia = store.isLoadingMedia();
    values.isPerformingFileOperation = store.isPerformingFileOperation();
    values.hasCurrentPage = store.currentPage().has_value();
    if (values.hasCurrentPage) {
        values.currentFolderName = store.currentPage()->parentName;
    }
    values.errorMessage = store.errorMessage();
    values.hasTrashEntries = !store.trashEntries().isEmpty();
    values.hasMediaItems = std::any_of(store.mediaItems().cbegin(), store.mediaItems().cend(),
                                       [&](const ManagedMediaItem &item) {
                                           return isShownInGallery(item, store.loadedMediaKind());
                                       });
    values.loadedMediaKind = store.loadedMediaKind();
    values.fileQuery = store.fileQuery();
    values.trashQuery = store.trashQuery();
    values.mediaQuery = store.mediaQuery();
    values.listedMediaQuery = store.listedMediaQuery();
    values.hasDirectoryHistory = !store.directoryHistory().isEmpty();
    if (store.clipboard()) {
        values.clipboardCount = store.clipboard()->entries.size();
    }
    values.hasRoots = !store.roots().isEmpty();
    return values;
}

FilesPaneContent filesPaneStateContent(ManagedContentCategory category, bool isManagementConnected,
                                       bool isUSBConnected, const FilesPaneStoreValues &store,
                                       const QString &mediaLayoutStyleRawValue)
{
    if (!isManagementConnected) {
        return isUSBConnected ? placeholder(QStringLiteral("手机端 Tavrine 未连接"), QStringLiteral("wifi.slash"),
                                            QStringLiteral("请在手机上打开 Tavrine，并让手机与电脑保持在同一个 Wi-Fi。"))
                              : placeholder(QStringLiteral("手机未连接"), QStringLiteral("wifi.slash"),
                                            QStringLiteral("请确认手机已联网并打开 Tavrine。上线后会自动连接。"));
    }
    // Without a snapshot yet, permission counts as granted.
    if (store.hasSnapshot && !store.allFilesGranted) {
        return placeholder(QStringLiteral("需要在手机上允许文件管理"), QStringLiteral("folder.badge.questionmark"),
                           QStringLiteral("打开手机上的 Tavrine，点击“允许管理文件”。只需设置一次。"));
    }
    switch (group(category)) {
    case ManagedContentGroup::trash:
        if (store.isLoadingTrash && !store.hasTrashEntries) {
            return loadingRow(QStringLiteral("正在读取回收站…"));
        }
        return {FilesPaneContent::Kind::trashList, {}, {}, {}, false};
    case ManagedContentGroup::media:
        return mediaContent(mediaKind(category).value_or(ManagedMediaKind::photo), store, mediaLayoutStyleRawValue);
    case ManagedContentGroup::files:
        break;
    }
    // A page once listed stays on screen while the folder is listed again.
    if (!store.hasCurrentPage) {
        if (store.isLoadingFiles) {
            return loadingRow(QStringLiteral("正在读取手机文件…"));
        }
        return placeholder(QStringLiteral("无法读取手机文件"), QStringLiteral("folder.badge.questionmark"),
                           store.errorMessage.value_or(QStringLiteral("请确认手机仍然在线。")));
    }
    return {FilesPaneContent::Kind::fileBrowser, {}, {}, {}, false};
}

QString filesPaneSearchPrompt(ManagedContentCategory category)
{
    switch (category) {
    case ManagedContentCategory::photos:
        return QStringLiteral("搜索照片");
    case ManagedContentCategory::videos:
        return QStringLiteral("搜索视频");
    case ManagedContentCategory::trash:
        return QStringLiteral("搜索回收站");
    default:
        return QStringLiteral("搜索手机内容");
    }
}

QString filesPasteTitle(qsizetype count)
{
    return QStringLiteral("粘贴 %1 项").arg(count);
}

QString noProgramOpensMessage(const QString &fileName)
{
    return QStringLiteral("没有可以打开“%1”的程序。").arg(fileName);
}

FilesPaneToolbarState filesPaneToolbarState(ManagedContentCategory category, bool isManagementConnected,
                                            const FilesPaneStoreValues &store, bool fileSortAscending)
{
    FilesPaneToolbarState state;
    const ManagedContentGroup kind = group(category);
    state.searchPrompt = filesPaneSearchPrompt(category);
    state.searchText = kind == ManagedContentGroup::media   ? store.mediaQuery
                       : kind == ManagedContentGroup::trash ? store.trashQuery
                                                            : store.fileQuery;
    state.searchEnabled = isManagementConnected;
    switch (kind) {
    case ManagedContentGroup::files:
        state.headerAction = FilesPaneToolbarState::HeaderAction::addMenu;
        state.headerActionEnabled = store.hasCurrentPage;
        break;
    case ManagedContentGroup::trash:
        state.headerAction = FilesPaneToolbarState::HeaderAction::emptyTrash;
        state.headerActionEnabled = store.hasTrashEntries && !store.isLoadingTrash;
        break;
    case ManagedContentGroup::media:
        break;
    }
    state.refreshEnabled =
        isManagementConnected && !store.isLoadingFiles && !store.isLoadingTrash && !store.isLoadingMedia;
    state.showsFolderToolbar = kind == ManagedContentGroup::files;
    state.backEnabled = store.hasDirectoryHistory;
    state.folderTitle = store.hasCurrentPage ? store.currentFolderName : QStringLiteral("手机文件");
    state.sortSymbolName = fileSortAscending ? QStringLiteral("arrow.up.arrow.down") : QStringLiteral("arrow.down.arrow.up");
    state.sortDirectionTitle = fileSortAscending ? QStringLiteral("降序") : QStringLiteral("升序");
    if (store.clipboardCount) {
        state.pasteTitle = filesPasteTitle(*store.clipboardCount);
    }
    state.pasteEnabled = !store.isPerformingFileOperation;
    state.newFolderEnabled = store.hasCurrentPage;
    state.showsLayoutPicker = kind == ManagedContentGroup::media;
    return state;
}

QString fileSortFieldTitle(FileBrowserSortField field)
{
    switch (field) {
    case FileBrowserSortField::name:
        return QStringLiteral("名称");
    case FileBrowserSortField::modifiedAt:
        return QStringLiteral("修改时间");
    case FileBrowserSortField::size:
        return QStringLiteral("大小");
    case FileBrowserSortField::kind:
        return QStringLiteral("类型");
    }
    return {};
}

QString fileViewStyleTitle(FileBrowserViewStyle style)
{
    return style == FileBrowserViewStyle::grid ? QStringLiteral("图标") : QStringLiteral("列表");
}

QString fileViewStyleSymbolName(FileBrowserViewStyle style)
{
    return style == FileBrowserViewStyle::grid ? QStringLiteral("square.grid.3x3") : QStringLiteral("list.bullet");
}

QString mediaLayoutStyleTitle(MediaGalleryLayoutStyle style)
{
    return style == MediaGalleryLayoutStyle::compact ? QStringLiteral("紧凑网格") : QStringLiteral("原始比例");
}

QString mediaLayoutStyleSymbolName(MediaGalleryLayoutStyle style)
{
    return style == MediaGalleryLayoutStyle::compact ? QStringLiteral("square.grid.3x3")
                                                     : QStringLiteral("rectangle.3.group");
}

QString filesPaneLoadTaskID(ManagedContentCategory category, bool isManagementConnected)
{
    return rawValue(category) + u'|' + (isManagementConnected ? QStringLiteral("true") : QStringLiteral("false"));
}

bool filesPaneShowsDropTarget(ManagedContentCategory category, bool isHovering)
{
    return isHovering && isFilesCategory(category);
}

std::optional<QStringList> filesPaneDropPaths(ManagedContentCategory category, bool isManagementConnected,
                                              bool hasCurrentPage, const QList<QUrl> &urls)
{
    if (!isManagementConnected || !isFilesCategory(category) || !hasCurrentPage) {
        return std::nullopt;
    }
    QStringList paths;
    for (const QUrl &url : urls) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    if (paths.isEmpty()) {
        return std::nullopt;
    }
    return paths;
}

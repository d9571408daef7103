#pragma once

#include "DeviceManagementStore.h"
#include "FileBrowserPreferences.h"
#include "ManagedContentCategory.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// The plain decisions of the files pane: which screen fills its content area, what its header and folder toolbar
// show and enable, whether a drop is taken and which job identity loads a category. No widgets, so each is tested
// headless from plain values.

// What the pane reads of the store, as plain values.
struct FilesPaneStoreValues
{
    bool hasSnapshot = false;
    bool allFilesGranted = false;
    bool isLoadingFiles = false;
    bool isLoadingTrash = false;
    bool isLoadingMedia = false;
    bool isPerformingFileOperation = false;
    bool hasCurrentPage = false;
    QString currentFolderName; // the page's parentName
    std::optional<QString> errorMessage;
    bool hasTrashEntries = false;
    bool hasMediaItems = false;
    std::optional<ManagedMediaKind> loadedMediaKind;
    QString fileQuery;
    QString trashQuery;
    QString mediaQuery;
    QString listedMediaQuery; // the search the shown media were listed with
    bool hasDirectoryHistory = false;
    std::optional<qsizetype> clipboardCount; // nothing: no clipboard
    bool hasRoots = false;

    static FilesPaneStoreValues from(const DeviceManagementStore &store);
    bool operator==(const FilesPaneStoreValues &) const = default;
};

// The screen of the content area.
struct FilesPaneContent
{
    enum class Kind
    {
        placeholder,   // title, symbol and description
        loading,       // a spinning indicator and the text
        trashList,     // the trash rows (with their own empty overlay)
        mediaGallery,  // the compact grid or the justified rows
        fileBrowser,   // the list or grid of the current page
    };

    Kind kind = Kind::placeholder;
    QString title; // also the loading row's text
    QString symbolName;
    QString description;
    bool compactGallery = false; // mediaGallery: the compact grid rather than the justified rows

    bool operator==(const FilesPaneContent &) const = default;
};

FilesPaneContent filesPaneStateContent(ManagedContentCategory category, bool isManagementConnected,
                                       bool isUSBConnected, const FilesPaneStoreValues &store,
                                       const QString &mediaLayoutStyleRawValue);

// The header band and the folder toolbar.
struct FilesPaneToolbarState
{
    enum class HeaderAction
    {
        none,       // media
        addMenu,    // "添加到手机"
        emptyTrash, // "清空回收站"
    };

    QString searchPrompt;
    QString searchText;
    bool searchEnabled = false;
    HeaderAction headerAction = HeaderAction::none;
    bool headerActionEnabled = false;
    bool refreshEnabled = false;
    bool showsFolderToolbar = false;
    bool backEnabled = false;
    QString folderTitle; // the current page's folder, or "手机文件"
    QString sortSymbolName;
    QString sortDirectionTitle; // the direction the button switches to
    std::optional<QString> pasteTitle; // nothing: no paste menu
    bool pasteEnabled = false;
    bool newFolderEnabled = false;
    bool showsLayoutPicker = false;

    bool operator==(const FilesPaneToolbarState &) const = default;
};

FilesPaneToolbarState filesPaneToolbarState(ManagedContentCategory category, bool isManagementConnected,
                                            const FilesPaneStoreValues &store, bool fileSortAscending);

// The search prompt of a category: "搜索照片", "搜索视频", "搜索手机内容" or "搜索回收站".
QString filesPaneSearchPrompt(ManagedContentCategory category);
// "粘贴 N 项".
QString filesPasteTitle(qsizetype count);
// What the pane says when no program of the desktop opens a previewed file.
QString noProgramOpensMessage(const QString &fileName);
// The titles of the preference values.
QString fileSortFieldTitle(FileBrowserSortField field);
QString fileViewStyleTitle(FileBrowserViewStyle style);
QString fileViewStyleSymbolName(FileBrowserViewStyle style);
QString mediaLayoutStyleTitle(MediaGalleryLayoutStyle style);
QString mediaLayoutStyleSymbolName(MediaGalleryLayoutStyle style);

// The identity of the load job: the category's title, "|", and "true" or "false" for the connection.
QString filesPaneLoadTaskID(ManagedContentCategory category, bool isManagementConnected);

// Whether a drag hovering over the pane is shown as a drop target: only in the files categories.
bool filesPaneShowsDropTarget(ManagedContentCategory category, bool isHovering);
// The local files a drop uploads, in order; nothing when the drop is refused (not connected, not a files category,
// no page, or no local file among the URLs).
std::optional<QStringList> filesPaneDropPaths(ManagedContentCategory category, bool isManagementConnected,
                                              bool hasCurrentPage, const QList<QUrl> &urls);

#pragma once

#include "DeviceManagementStore.h"
#include "FileBrowserPreferences.h"
#include "FileSelectionRules.h"
#include "FilesPaneDialogs.h"
#include "ManagedContentCategory.h"
#include "ManagedFilesPanePresentation.h"
#include "QuickLookWindow.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class BannerColumn;
class FilesPaneToolbar;
class QSettings;
class QStackedWidget;
class QVBoxLayout;

// The pane of the dashboard's content section: one category of the phone at a time — photos or videos as a
// gallery, a folder as a file browser, or the phone's trash — under its header and toolbar, with the six dialogs,
// the selection and keys of the file browser, file drops into the open folder and both previews. It keeps only view
// state; everything it shows is redrawn from the store's published state and the stored preferences. Every action
// that waits on the phone starts one store operation and returns at once.
class ManagedFilesPane : public QWidget
{
    Q_OBJECT

public:
    // The host's actions; the pane only calls them.
    struct Actions
    {
        std::function<void()> chooseFiles;
        std::function<void()> chooseFolders;
        std::function<void()> goHome;
    };

    // `settings`: where the four preferences live; nothing: the application's standard settings.
    ManagedFilesPane(const QString &peerName, DeviceManagementStore *store, ManagedContentCategory selection,
                     bool isManagementConnected, bool isUSBConnected, Actions actions, QSettings *settings = nullptr,
                     QWidget *parent = nullptr);
    ~ManagedFilesPane() override;

    // What the dashboard hands in on every drawing.
    void setPeerName(const QString &peerName);
    void setConnection(bool isManagementConnected, bool isUSBConnected);
    // The dashboard's category (a two-way binding: the chips write it and selectionChanged tells the dashboard).
    void setSelection(ManagedContentCategory category);

    const QString &peerName() const { return m_peerName; }
    DeviceManagementStore *store() const { return m_store; }
    ManagedContentCategory selection() const { return m_selection; }
    bool isManagementConnected() const { return m_isManagementConnected; }
    bool isUSBConnected() const { return m_isUSBConnected; }
    const Actions &actions() const { return m_actions; }
    FileBrowserPreferences &preferences() const { return *m_preferences; }

    // View state.
    const QString &newFolderName() const { return m_newFolderName; }
    bool isCreatingFolder() const { return m_isCreatingFolder; }
    const std::optional<ManagedFileEntry> &renamingEntry() const { return m_renamingEntry; }
    const QString &renamedValue() const { return m_renamedValue; }
    const QList<ManagedFileEntry> &deletingEntries() const { return m_deletingEntries; }
    const FileSelection &fileSelection() const { return m_fileSelection; }
    const QSet<QString> &selectedFileIDs() const { return m_fileSelection.selectedFileIDs; }
    const std::optional<QString> &selectionAnchorID() const { return m_fileSelection.selectionAnchorID; }
    bool isReplacingPaste() const { return m_isReplacingPaste; }
    const std::optional<ManagedTrashEntry> &replacingTrashEntry() const { return m_replacingTrashEntry; }
    bool isEmptyingTrash() const { return m_isEmptyingTrash; }
    const std::optional<QString> &previewedMediaID() const { return m_previewedMediaID; }
    const std::optional<QString> &previewedFileURL() const { return m_previewedFileURL; } // a local path
    bool isFileDropTargeted() const { return m_isFileDropTargeted; }

    // What the rows, tiles, menus and toolbar set.
    void setNewFolderName(const QString &name) { m_newFolderName = name; }
    void setIsCreatingFolder(bool creating);
    void beginRename(const ManagedFileEntry &entry); // renamingEntry = entry, renamedValue = its name
    void setRenamedValue(const QString &value) { m_renamedValue = value; }
    void setDeletingEntries(const QList<ManagedFileEntry> &entries);
    void setIsReplacingPaste(bool replacing);
    void setReplacingTrashEntry(const std::optional<ManagedTrashEntry> &entry);
    void setIsEmptyingTrash(bool emptying);
    void setPreviewedMediaID(const std::optional<QString> &mediaID);
    // Shows the local copy in the one quick-look window (a new file replaces what it shows), titled with `name`, the
    // file's name on the phone (empty: the copy's own name); or closes it.
    void setPreviewedFileURL(const std::optional<QString> &path, const QString &name = {});
    // What opens a previewed file that is neither an image nor text (false: no program took it); default: the
    // desktop's program. When none takes it the store's error says so.
    void setExternalOpener(QuickLookWindow::ExternalOpener opener) { m_openExternally = std::move(opener); }
    void setFileSelection(const FileSelection &selection);

    // The entries the file browser shows, in its order (filtered by category, sorted by the preferences), and the
    // selected ones among them.
    QList<ManagedFileEntry> sortedEntries() const;
    QList<ManagedFileEntry> selectedEntries() const;
    // The values the presentation functions decide on.
    FilesPaneStoreValues storeValues() const;
    FilesPaneContent stateContent() const;
    QString loadTaskID() const;

    // Dialog answers (the buttons call these; so do tests).
    void createFolder();
    void cancelNewFolder();
    void submitRename(ManagedConflictPolicy policy);
    void cancelRename();
    void confirmMoveToTrash();
    void cancelMoveToTrash();
    void confirmPasteReplacing();
    void cancelPasteReplacing();
    void confirmRestoreReplacing();
    void cancelRestoreReplacing();
    void confirmEmptyTrash();
    void cancelEmptyTrash();
    // How the dialogs are shown: the default opens window-modal boxes; tests record them and answer directly.
    void setDialogPresenter(FilesPaneDialogPresenter presenter);

    // Selection and keys of the file browser.
    void handleClick(const ManagedFileEntry &entry, const QList<ManagedFileEntry> &shownEntries,
                     Qt::KeyboardModifiers modifiers);
    void handleDoubleClick(const ManagedFileEntry &entry);
    void requestMoveSelectionToTrash();
    bool openSelectedEntry();   // true: the key was handled
    bool previewSelectedFile(); // true: the key was handled
    // Return, Space and Delete (or Backspace) on the file browser; false when the key passes on. Does nothing
    // outside the files categories.
    bool handleFileBrowserKey(int key);
    void preview(const ManagedFileEntry &entry);

    // Gives the keyboard to what the category shows: the gallery at its current tile, the file list or the trash
    // list. While that still loads, the content area holds it and hands it on once the list shows.
    void focusContent();

    // File drops.
    bool handleDrop(const QList<QUrl> &urls);
    void updateDropTargeting(bool isTargeted);

    // Loading. `loadCategory` is the one loader of a category, for the pane and the dashboard alike;
    // `startLoadJob` loads the shown category unless it is already loaded for the current connection and phone.
    QCoro::Task<void> loadCategory(ManagedContentCategory category);
    void startLoadJob();
    QCoro::Task<void> refreshCurrentCategory();
    void activePeerChanged();
    void categoryChanged();
    void clearSelection();
    void pruneSelection(const QList<ManagedFileEntry> &listed);

    // Parts, for the dashboard and tests.
    FilesPaneToolbar *toolbar() const { return m_toolbar; }
    QStackedWidget *contentStack() const { return m_contentStack; }
    QWidget *fileBrowserPage() const { return m_fileBrowserPage; }
    QWidget *selectionBar() const { return m_selectionBar; }

    // The bars under the content: the selection's actions, and those the host puts there (the dashboard's message
    // and transfer dock), each shown on top of those already there as it comes.
    BannerColumn *bottomBars() const { return m_bottomBars; }
    // True while the selection's actions show under the content.
    bool showsSelectionBar() const;

signals:
    void selectionChanged(ManagedContentCategory category);
    // Any view state changed (the toolbar and selection bar redraw on it).
    void viewStateChanged();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildContent();
    void render();
    void renderContent();
    bool isSelectionBarWanted() const;
    void renderSelectionBar();
    // Whether the selection's actions, coming now, would lie over the row the selection was last made from.
    bool selectionBarWouldCoverAnchorRow() const;
    QWidget *shownContentView() const; // none while loading or showing a placeholder
    void watchStore();
    void presentDialogs();
    void presentDialog(FilesPaneDialogKind kind);
    void closeDialog(FilesPaneDialogKind kind);
    void answerDialog(FilesPaneDialogKind kind, quint64 generation, int button, const QString &fieldText);
    bool isDialogShownByState(FilesPaneDialogKind kind) const;
    QCoro::Task<void> runPreview(ManagedFileEntry entry);
    QCoro::Task<void> runLoadJob(quint64 generation);

    QString m_peerName;
    QPointer<DeviceManagementStore> m_store;
    ManagedContentCategory m_selection;
    bool m_isManagementConnected = false;
    bool m_isUSBConnected = false;
    Actions m_actions;
    FileBrowserPreferences *m_preferences = nullptr;

    QString m_newFolderName;
    bool m_isCreatingFolder = false;
    std::optional<ManagedFileEntry> m_renamingEntry;
    QString m_renamedValue;
    QList<ManagedFileEntry> m_deletingEntries;
    FileSelection m_fileSelection;
    bool m_isReplacingPaste = false;
    std::optional<ManagedTrashEntry> m_replacingTrashEntry;
    bool m_isEmptyingTrash = false;
    std::optional<QString> m_previewedMediaID;
    std::optional<QString> m_previewedFileURL;
    QuickLookWindow::ExternalOpener m_openExternally;
    QPointer<QuickLookWindow> m_quickLook;
    bool m_isFileDropTargeted = false;

    // Watched values of the change reactions, compared on every store change.
    std::optional<QString> m_watchedPeerID;
    std::optional<QString> m_watchedFolderID;
    QString m_watchedFileQuery;
    std::optional<QStringList> m_watchedEntryIDs;
    QString m_loadTaskID;
    quint64 m_loadGeneration = 0;
    bool m_isRenderingContent = false;

    FilesPaneDialogPresenter m_dialogPresenter;
    QHash<FilesPaneDialogKind, QPointer<QWidget>> m_openDialogs;
    QHash<FilesPaneDialogKind, quint64> m_dialogGenerations;
    quint64 m_nextDialogGeneration = 0;

    FilesPaneToolbar *m_toolbar = nullptr;
    QStackedWidget *m_contentStack = nullptr;
    QWidget *m_placeholderPage = nullptr;
    QWidget *m_loadingPage = nullptr;
    QWidget *m_trashPage = nullptr;
    QWidget *m_mediaPage = nullptr;
    QWidget *m_fileBrowserPage = nullptr;
    BannerColumn *m_bottomBars = nullptr;
    QWidget *m_selectionPlace = nullptr;
    QWidget *m_selectionBar = nullptr;
    QTimer m_selectionArrival;
    QWidget *m_dropOverlay = nullptr;
};

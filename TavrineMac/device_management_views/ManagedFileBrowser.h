#pragma once

#include "FileSelectionRules.h"
#include "ManagedContentModel.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class DeviceManagementStore;
class FileGridTile;
class FileListRow;
class ManagedFileListModel;
class QLabel;
class QListView;
class QMenu;
class QMimeData;

// The content of the file categories of the files pane: the shown entries of the open phone folder as a list of
// rows or a grid of tiles, with the selection, double click, the Return, Space and Delete keys, the entries'
// context menu, dragging files out and the empty-folder title laid over it. The pane gives it the shown entries
// (sorted and filtered) and the presentation, and answers its requests for dialogs: trashing and renaming are
// asked through signals, as is showing a local copy of a file. Phone operations go to the store without waiting.
class ManagedFileBrowser : public QWidget
{
    Q_OBJECT

public:
    explicit ManagedFileBrowser(DeviceManagementStore *store, QWidget *parent = nullptr);
    ~ManagedFileBrowser() override;

    // The entries shown, in shown order (the pane's sorted entries).
    void setEntries(const QList<ManagedFileEntry> &entries);
    const QList<ManagedFileEntry> &entries() const;
    // Tiles when true, rows otherwise. The selection survives the switch.
    void setGridPresentation(bool grid);
    bool isGridPresentation() const { return m_grid; }

    const FileSelection &selection() const { return m_selection; }
    // Sets the selection as it is (the pane prunes it when the entries or the category change).
    void setSelection(const FileSelection &selection);
    void clearSelection();
    // The shown entries that are selected, in shown order, and their known total size.
    QList<ManagedFileEntry> selectedEntries() const;
    qint64 selectedTotalBytes() const;

    // A grid click on `entry` with these modifiers (the current ones when the tile is clicked).
    void handleClick(const ManagedFileEntry &entry, Qt::KeyboardModifiers modifiers);
    // Double click: opens a folder, previews a file.
    void openEntry(const ManagedFileEntry &entry);
    // The key handlers; true when the key was used, false when it goes on to other handlers.
    bool openSelectedEntry();
    bool previewSelectedFile();
    void requestTrashForSelection();

    // The actions of the selection bar and the context menu.
    void downloadEntries(const QList<ManagedFileEntry> &entries);
    void downloadSelection();
    void putSelectionOnClipboard(bool move);
    void trashSelection();
    void runCommand(FileCommand command, const ManagedFileEntry &entry, const QList<ManagedFileEntry> &targets);

    // The context menu of `entry`, owned by the caller; it acts on contextMenuTargets() of the entry.
    QMenu *makeEntryContextMenu(const ManagedFileEntry &entry, QWidget *parent);
    // The drag data of a file entry; nothing for a folder.
    QMimeData *makeDragData(const ManagedFileEntry &entry) const;

    // For the pane and for tests.
    QListView *view() const { return m_view; }
    QLabel *emptyOverlay() const { return m_emptyOverlay; }
    ManagedFileListModel *model() const { return m_model; }

signals:
    void selectionChanged();
    // The pane asks whether to move these entries to the phone's trash.
    void deletingEntriesRequested(const QList<ManagedFileEntry> &entries);
    // The pane opens its rename dialog for this entry, its field holding `renamedValue`.
    void renamingEntryRequested(const ManagedFileEntry &entry, const QString &renamedValue);
    // A local copy of a phone file is ready to be shown (the pane's previewed file).
    void previewedFileReady(const QString &path, const QString &name); // `name`: the file's name on the phone

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class ManagedFileBrowserView;

    void applyPresentation();
    void syncViewSelection();
    void takeViewSelection();
    void updateEmptyOverlay();
    void updateGridSize();
    void showQuickLook(const ManagedFileEntry &entry);
    void openFolderEntry(const ManagedFileEntry &entry);
    void setSelectionState(const FileSelection &selection);

    QPointer<DeviceManagementStore> m_store;
    ManagedFileListModel *m_model = nullptr;
    QListView *m_view = nullptr;
    FileListRow *m_rowDelegate = nullptr;
    FileGridTile *m_tileDelegate = nullptr;
    QWidget *m_emptyState = nullptr; // the symbol over the title, laid over the view
    QLabel *m_emptySymbol = nullptr;
    QLabel *m_emptyOverlay = nullptr;
    FileSelection m_selection;
    bool m_grid = false;
    bool m_syncingSelection = false;
};

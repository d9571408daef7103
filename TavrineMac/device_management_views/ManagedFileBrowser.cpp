#include "ManagedFileBrowser.h"

#include "CardStyle.h"
#include "DeviceManagementStore.h"
#include "FileGridTile.h"
#include "FileListRow.h"
#include "FocusMark.h"
#include "ManagedFileListModel.h"
#include "ManagedFileSort.h"
#include "NativeFilePanels.h"
#include "PhoneFileMimeData.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QDrag>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>

// The list view of the browser: its drags carry the phone file they fetch on demand.
class ManagedFileBrowserView : public QListView
{
public:
    explicit ManagedFileBrowserView(ManagedFileBrowser *browser) : QListView(browser), m_browser(browser) {}

    using QListView::setViewportMargins;

protected:
    // A right click only opens the entry's menu, which acts on that entry alone or on the selection it belongs to:
    // the list's own press would first make the clicked row the whole selection.
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::RightButton) {
            event->accept();
            return;
        }
        QListView::mousePressEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::RightButton) {
            event->accept();
            return;
        }
        QListView::mouseReleaseEvent(event);
    }

    // A folder opened or listed again has no current row until the arrow keys pick one.
    void paintEvent(QPaintEvent *event) override
    {
        QListView::paintEvent(event);
        FocusMark::paint(*this);
    }

    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override
    {
        QListView::currentChanged(current, previous);
        FocusMark::currentItemChanged(*this, current, previous);
    }

    void startDrag(Qt::DropActions) override
    {
        const ManagedFileEntry *entry = m_browser->m_model->entryAt(currentIndex());
        QMimeData *data = entry ? m_browser->makeDragData(*entry) : nullptr;
        if (!data) {
            return;
        }
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        drag->setPixmap(viewport()->grab(visualRect(currentIndex())));
        drag->exec(Qt::CopyAction, Qt::CopyAction);
    }

private:
    ManagedFileBrowser *m_browser;
};

namespace {

// Shows a local copy of the file once the store has it; the browser may be gone by then.
QCoro::Task<void> previewInto(QPointer<ManagedFileBrowser> browser, DeviceManagementStore *store,
                              ManagedFileEntry entry)
{
    const std::optional<QString> path = co_await store->previewFile(entry);
    if (browser && path) {
        emit browser->previewedFileReady(*path, entry.name);
    }
}

// The type registered for the name's extension, or generic data.
QMimeType contentTypeFor(const QString &name)
{
    const QString extension = managedFileExtension(name);
    QMimeDatabase database;
    if (extension.isEmpty()) {
        return database.mimeTypeForName(QStringLiteral("application/octet-stream"));
    }
    return database.mimeTypeForFile(QStringLiteral("file.") + extension, QMimeDatabase::MatchExtension);
}

} // namespace

ManagedFileBrowser::ManagedFileBrowser(DeviceManagementStore *store, QWidget *parent)
    : QWidget(parent), m_store(store), m_model(new ManagedFileListModel(this))
{
    auto *view = new ManagedFileBrowserView(this);
    m_view = view;
    m_view->setModel(m_model);
    m_view->setUniformItemSizes(true);
    m_view->setAccessibleName(QStringLiteral("文件"));
    m_view->setDragEnabled(true);
    m_view->setDragDropMode(QAbstractItemView::DragOnly);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_view->setMouseTracking(true);
    m_view->installEventFilter(this);
    m_rowDelegate = new FileListRow(this);
    m_tileDelegate = new FileGridTile(this);

    m_emptyState = new QWidget(this);
    m_emptyState->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *emptyColumn = new QVBoxLayout(m_emptyState);
    emptyColumn->addStretch();
    m_emptySymbol = CardStyle::symbolLabel(Symbol::folder, ViewColors::secondary(), 40, m_emptyState);
    m_emptySymbol->hide();
    emptyColumn->addWidget(m_emptySymbol, 0, Qt::AlignHCenter);
    m_emptyOverlay = new PlainLabel(m_emptyState);
    m_emptyOverlay->setAlignment(Qt::AlignCenter);
    m_emptyOverlay->setFont(ViewFonts::title3());
    emptyColumn->addWidget(m_emptyOverlay);
    emptyColumn->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    connect(m_view, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (const ManagedFileEntry *entry = m_model->entryAt(index); entry && m_grid) {
            handleClick(*entry, QGuiApplication::keyboardModifiers());
        }
    });
    connect(m_view, &QListView::doubleClicked, this, [this](const QModelIndex &index) {
        if (const ManagedFileEntry *entry = m_model->entryAt(index)) {
            openEntry(*entry);
        }
    });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_syncingSelection && !m_grid) {
            takeViewSelection();
        }
    });
    connect(m_view, &QListView::customContextMenuRequested, this, [this](const QPoint &position) {
        const ManagedFileEntry *entry = m_model->entryAt(m_view->indexAt(position));
        if (!entry) {
            return;
        }
        QMenu *menu = makeEntryContextMenu(*entry, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_view->viewport()->mapToGlobal(position));
    });
    connect(this, &ManagedFileBrowser::selectionChanged, m_model,
            [this] { m_model->setSelectedIDs(m_selection.selectedFileIDs); });
    if (m_store) {
        // The empty folder's title follows the search the folder was listed with, not the text being typed.
        connect(m_store, &DeviceManagementStore::currentPageChanged, this, &ManagedFileBrowser::updateEmptyOverlay);
    }
    applyPresentation();
}

ManagedFileBrowser::~ManagedFileBrowser() = default;

void ManagedFileBrowser::setEntries(const QList<ManagedFileEntry> &entries)
{
    m_model->setEntries(entries);
    syncViewSelection();
    updateEmptyOverlay();
    emit selectionChanged(); // the selected entries follow the shown ones
}

const QList<ManagedFileEntry> &ManagedFileBrowser::entries() const
{
    return m_model->entries();
}

void ManagedFileBrowser::setGridPresentation(bool grid)
{
    if (grid == m_grid) {
        return;
    }
    m_grid = grid;
    applyPresentation();
}

void ManagedFileBrowser::applyPresentation()
{
    if (m_grid) {
        m_view->setViewMode(QListView::IconMode);
        m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        m_view->setMovement(QListView::Static);
        m_view->setResizeMode(QListView::Adjust);
        m_view->setWrapping(true);
        m_view->setFlow(QListView::LeftToRight);
        m_view->setSpacing(0);
        static_cast<ManagedFileBrowserView *>(m_view)->setViewportMargins(
            FileGridTile::gridPadding - FileGridTile::columnSpacing / 2,
            FileGridTile::gridPadding - FileGridTile::rowSpacing / 2,
            FileGridTile::gridPadding - FileGridTile::columnSpacing / 2,
            FileGridTile::gridPadding - FileGridTile::rowSpacing / 2);
        // Grid clicks follow the click-selection rule rather than the view's own.
        m_view->setSelectionMode(QAbstractItemView::NoSelection);
        m_view->setItemDelegate(m_tileDelegate);
        updateGridSize();
    } else {
        m_view->setViewMode(QListView::ListMode);
        m_view->setWrapping(false);
        m_view->setFlow(QListView::TopToBottom);
        m_view->setResizeMode(QListView::Adjust);
        m_view->setGridSize({});
        static_cast<ManagedFileBrowserView *>(m_view)->setViewportMargins(0, 0, 0, 0);
        // Rows take the view's width; their size is measured before the vertical scroll bar takes its share, so
        // a horizontal scroll bar would only ever scroll that share.
        m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        m_view->setItemDelegate(m_rowDelegate);
    }
    m_view->setDragEnabled(true);
    syncViewSelection();
}

void ManagedFileBrowser::updateGridSize()
{
    if (!m_grid) {
        return;
    }
    const int viewportWidth = m_view->width() - m_view->verticalScrollBar()->sizeHint().width();
    m_view->setGridSize({FileGridTile::tileWidth(viewportWidth) + FileGridTile::columnSpacing,
                         FileGridTile::tileHeight() + FileGridTile::rowSpacing});
}

void ManagedFileBrowser::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateGridSize();
    m_emptyState->setGeometry(rect());
}

void ManagedFileBrowser::updateEmptyOverlay()
{
    const std::optional<QString> title =
        emptyFolderTitle(!m_model->entries().isEmpty(), m_store ? m_store->listedFileQuery() : QString());
    m_emptySymbol->setVisible(title.has_value());
    m_emptyOverlay->setVisible(title.has_value());
    m_emptyOverlay->setText(title.value_or(QString()));
    if (title) {
        m_emptyState->setGeometry(rect());
        m_emptyState->raise();
    }
}

void ManagedFileBrowser::setSelection(const FileSelection &selection)
{
    setSelectionState(selection);
}

void ManagedFileBrowser::clearSelection()
{
    setSelectionState({});
}

void ManagedFileBrowser::setSelectionState(const FileSelection &selection)
{
    if (selection == m_selection) {
        return;
    }
    m_selection = selection;
    syncViewSelection();
    emit selectionChanged();
}

void ManagedFileBrowser::syncViewSelection()
{
    QItemSelection rows;
    const QList<ManagedFileEntry> &shown = m_model->entries();
    for (qsizetype row = 0; row < shown.size(); ++row) {
        if (m_selection.selectedFileIDs.contains(shown.at(row).id)) {
            const QModelIndex index = m_model->index(int(row));
            rows.select(index, index);
        }
    }
    m_syncingSelection = true;
    m_view->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    m_syncingSelection = false;
}

void ManagedFileBrowser::takeViewSelection()
{
    // The list's own selection writes the ids only; the anchor stays the grid's.
    FileSelection selection = m_selection;
    selection.selectedFileIDs.clear();
    for (const QModelIndex &index : m_view->selectionModel()->selectedIndexes()) {
        if (const ManagedFileEntry *entry = m_model->entryAt(index)) {
            selection.selectedFileIDs.insert(entry->id);
        }
    }
    if (selection != m_selection) {
        m_selection = selection;
        emit selectionChanged();
    }
}

QList<ManagedFileEntry> ManagedFileBrowser::selectedEntries() const
{
    return ::selectedEntries(m_model->entries(), m_selection.selectedFileIDs);
}

qint64 ManagedFileBrowser::selectedTotalBytes() const
{
    return ::selectedTotalBytes(selectedEntries());
}

void ManagedFileBrowser::handleClick(const ManagedFileEntry &entry, Qt::KeyboardModifiers modifiers)
{
    FileSelection selection = m_selection;
    handleFileClick(selection, entry, m_model->entries(), modifiers);
    setSelectionState(selection);
}

void ManagedFileBrowser::openEntry(const ManagedFileEntry &entry)
{
    if (entry.directory) {
        openFolderEntry(entry);
    } else {
        showQuickLook(entry);
    }
}

bool ManagedFileBrowser::openSelectedEntry()
{
    const QList<ManagedFileEntry> selected = selectedEntries();
    if (returnKeyAction(selected) == FileOpenAction::none) {
        return false;
    }
    openEntry(selected.first());
    return true;
}

bool ManagedFileBrowser::previewSelectedFile()
{
    const QList<ManagedFileEntry> selected = selectedEntries();
    if (spaceKeyAction(selected) != FileOpenAction::quickLook) {
        return false;
    }
    showQuickLook(selected.first());
    return true;
}

void ManagedFileBrowser::requestTrashForSelection()
{
    const QList<ManagedFileEntry> selected = selectedEntries();
    if (!selected.isEmpty()) {
        emit deletingEntriesRequested(selected);
    }
}

void ManagedFileBrowser::showQuickLook(const ManagedFileEntry &entry)
{
    if (m_store) {
        previewInto(this, m_store, entry);
    }
}

void ManagedFileBrowser::openFolderEntry(const ManagedFileEntry &entry)
{
    if (m_store) {
        m_store->openFolder(entry);
    }
}

void ManagedFileBrowser::downloadEntries(const QList<ManagedFileEntry> &entries)
{
    if (entries.isEmpty() || !m_store || !m_store->canDownload(entries)) {
        return;
    }
    const bool isFile = entries.size() == 1 && !entries.first().directory;
    const QString suggestedName = isFile ? entries.first().name : QString();
    NativeFilePanels::presentDownloadSavePanel(
        suggestedName, isFile, contentTypeFor(suggestedName),
        [store = m_store, entries](const NativeDownloadDestination &destination) {
            if (store) {
                store->downloadToMac(entries, destination);
            }
        });
}

void ManagedFileBrowser::downloadSelection()
{
    downloadEntries(selectedEntries());
}

void ManagedFileBrowser::putSelectionOnClipboard(bool move)
{
    if (m_store) {
        m_store->putOnClipboard(selectedEntries(), move);
    }
    clearSelection();
}

void ManagedFileBrowser::trashSelection()
{
    emit deletingEntriesRequested(selectedEntries());
}

void ManagedFileBrowser::runCommand(FileCommand command, const ManagedFileEntry &entry,
                                    const QList<ManagedFileEntry> &targets)
{
    switch (command) {
    case FileCommand::quickLook:
        showQuickLook(entry);
        break;
    case FileCommand::open:
        openFolderEntry(entry);
        break;
    case FileCommand::download:
        downloadEntries(targets);
        break;
    case FileCommand::copy:
    case FileCommand::move:
        // Unlike the selection bar, the menu leaves the selection as it is.
        if (m_store) {
            m_store->putOnClipboard(targets, command == FileCommand::move);
        }
        break;
    case FileCommand::rename:
        emit renamingEntryRequested(entry, entry.name);
        break;
    case FileCommand::trash:
        emit deletingEntriesRequested(targets);
        break;
    }
}

QMenu *ManagedFileBrowser::makeEntryContextMenu(const ManagedFileEntry &entry, QWidget *parent)
{
    const QList<ManagedFileEntry> targets = contextMenuTargets(entry, m_selection.selectedFileIDs, selectedEntries());
    auto *menu = new QMenu(parent);
    for (const FileCommandItem &item : entryContextMenuItems(entry, targets.size())) {
        if (item.dividerBefore) {
            menu->addSeparator();
        }
        QAction *action = menu->addAction(item.title);
        if (const std::optional<Symbol> symbol = SymbolIcon::named(item.symbolName)) {
            action->setIcon(SymbolIcon::icon(*symbol, ViewColors::secondary()));
        }
        action->setData(int(item.command));
        connect(action, &QAction::triggered, this,
                [this, command = item.command, entry, targets] { runCommand(command, entry, targets); });
    }
    return menu;
}

QMimeData *ManagedFileBrowser::makeDragData(const ManagedFileEntry &entry) const
{
    if (entry.directory || !m_store) {
        return nullptr;
    }
    return new PhoneFileMimeData(m_store, entry);
}

bool ManagedFileBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return openSelectedEntry();
        case Qt::Key_Space:
            return previewSelectedFile();
        case Qt::Key_Delete:
        case Qt::Key_Backspace: {
            const bool anySelected = !selectedEntries().isEmpty();
            requestTrashForSelection();
            return anySelected;
        }
        default:
            break;
        }
    }
    if (watched == m_view && event->type() == QEvent::Resize) {
        updateGridSize();
    }
    return QWidget::eventFilter(watched, event);
}

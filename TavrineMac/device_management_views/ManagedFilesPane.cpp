#include "ManagedFilesPane.h"

#include "PlainLabel.h"
#include "QuickLookWindow.h"

#include "BannerColumn.h"
#include "CardStyle.h"
#include "FilesPaneToolbar.h"
#include "ManagedFileBrowser.h"
#include "ManagedFileSort.h"
#include "ManagedMediaGallery.h"
#include "ManagedMediaPreview.h"
#include "ManagedSelectionBar.h"
#include "ManagedTrashList.h"
#include "SpinningIndicator.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

enum Page
{
    placeholderPageIndex,
    loadingPageIndex,
    trashPageIndex,
    mediaPageIndex,
    fileBrowserPageIndex,
};

QFrame *makeDivider(QWidget *parent)
{
    auto *divider = new QFrame(parent);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    return divider;
}

} // namespace

ManagedFilesPane::ManagedFilesPane(const QString &peerName, DeviceManagementStore *store,
                                   ManagedContentCategory selection, bool isManagementConnected, bool isUSBConnected,
                                   Actions actions, QSettings *settings, QWidget *parent)
    : QWidget(parent)
    , m_peerName(peerName)
    , m_store(store)
    , m_selection(selection)
    , m_isManagementConnected(isManagementConnected)
    , m_isUSBConnected(isUSBConnected)
    , m_actions(std::move(actions))
    , m_preferences(settings ? new FileBrowserPreferences(settings, this) : new FileBrowserPreferences(this))
    , m_dialogPresenter(&FilesPaneDialogs::present)
{
    setAcceptDrops(true);
    buildContent();
    if (m_store) {
        m_watchedPeerID = m_store->activePeerID();
        m_watchedFolderID = m_store->currentPage() ? std::optional(m_store->currentPage()->parentId) : std::nullopt;
        m_watchedFileQuery = m_store->fileQuery();
        watchStore();
    }
    connect(m_preferences, &FileBrowserPreferences::changed, this, &ManagedFilesPane::render);
    render();
    startLoadJob();
}

ManagedFilesPane::~ManagedFilesPane() = default;

void ManagedFilesPane::buildContent()
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_toolbar = new FilesPaneToolbar(this, this);
    column->addWidget(m_toolbar);
    column->addWidget(makeDivider(this));

    m_contentStack = new QStackedWidget(this);
    m_placeholderPage = new QWidget(m_contentStack);
    {
        auto *layout = new QVBoxLayout(m_placeholderPage);
        layout->addStretch();
        for (const char *name : {"placeholderSymbol", "placeholderTitle", "placeholderDescription"}) {
            auto *label = new PlainLabel(m_placeholderPage);
            label->setObjectName(QString::fromLatin1(name));
            label->setAlignment(Qt::AlignCenter);
            label->setWordWrap(true);
            layout->addWidget(label);
        }
        m_placeholderPage->findChild<QLabel *>(QStringLiteral("placeholderTitle"))->setFont(ViewFonts::title3());
        layout->addStretch();
    }
    m_loadingPage = new QWidget(m_contentStack);
    {
        auto *layout = new QHBoxLayout(m_loadingPage);
        layout->setSpacing(10);
        layout->addStretch();
        layout->addWidget(new SpinningIndicator(16, m_loadingPage));
        auto *text = new PlainLabel(m_loadingPage);
        text->setObjectName(QStringLiteral("loadingText"));
        text->setForegroundRole(QPalette::PlaceholderText);
        layout->addWidget(text);
        layout->addStretch();
    }
    auto *trashList = new ManagedTrashList(m_store, m_contentStack);
    connect(trashList, &ManagedTrashList::replacingTrashEntryRequested, this,
            [this](const ManagedTrashEntry &entry) { setReplacingTrashEntry(entry); });
    m_trashPage = trashList;
    auto *gallery = new ManagedMediaGallery(*m_store, m_contentStack);
    connect(gallery, &ManagedMediaGallery::previewRequested, this,
            [this](const QString &mediaID) { setPreviewedMediaID(mediaID); });
    m_mediaPage = gallery;
    auto *browser = new ManagedFileBrowser(m_store, m_contentStack);
    connect(browser, &ManagedFileBrowser::selectionChanged, this, [this, browser] {
        // The browser also reports the selection the pane hands it while drawing; only the user's changes count.
        if (!m_isRenderingContent && browser->selection() != m_fileSelection) {
            m_fileSelection = browser->selection();
            render();
        }
    });
    connect(browser, &ManagedFileBrowser::deletingEntriesRequested, this,
            [this](const QList<ManagedFileEntry> &entries) { setDeletingEntries(entries); });
    connect(browser, &ManagedFileBrowser::renamingEntryRequested, this,
            [this](const ManagedFileEntry &entry, const QString &value) {
                beginRename(entry);
                m_renamedValue = value;
            });
    connect(browser, &ManagedFileBrowser::previewedFileReady, this,
            [this](const QString &path, const QString &name) { setPreviewedFileURL(path, name); });
    // The pane, not the browser, answers the keys of the file browser.
    browser->view()->installEventFilter(this);
    m_fileBrowserPage = browser;
    for (QWidget *page : {m_placeholderPage, m_loadingPage, m_trashPage, m_mediaPage, m_fileBrowserPage}) {
        m_contentStack->addWidget(page);
    }
    // The content gives up its rows to the bars under it, down to none in the smallest window, before the header with
    // the way back gives up any of its room. (A minimum of 0 would leave it to the pages' own.)
    m_contentStack->setMinimumHeight(1);
    column->addWidget(m_contentStack, 1);

    // The selection's actions come under the content, on top of the host's bars that show there.
    m_bottomBars = new BannerColumn({}, 0, this, BannerColumn::Arrival::comesNextToContent);
    m_selectionPlace = new QWidget;
    m_selectionPlace->setObjectName(QStringLiteral("selectionPlace"));
    auto *selectionColumn = new QVBoxLayout(m_selectionPlace);
    selectionColumn->setContentsMargins(0, 0, 0, 0);
    selectionColumn->setSpacing(0);
    selectionColumn->addWidget(makeDivider(m_selectionPlace));
    m_selectionBar = new ManagedSelectionBar(browser, m_selectionPlace);
    m_selectionBar->setContentsMargins(24, 10, 24, 10);
    selectionColumn->addWidget(m_selectionBar);
    m_selectionPlace->hide();
    m_bottomBars->addBanner(m_selectionPlace);
    column->addWidget(m_bottomBars);
    m_selectionArrival.setSingleShot(true);
    connect(&m_selectionArrival, &QTimer::timeout, this, [this] {
        if (isSelectionBarWanted()) {
            m_selectionPlace->show();
        }
    });

    // A dashed blue frame over the pane with, centred on it, the hint on a capsule of the window's colour.
    m_dropOverlay = new QFrame(this);
    m_dropOverlay->setObjectName(QStringLiteral("dropOverlay"));
    m_dropOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dropOverlay->setStyleSheet(QStringLiteral("QFrame#dropOverlay { background: rgba(10,132,255,23);"
                                                " border: 2px dashed #0a84ff; border-radius: 18px; }"));
    auto *capsule = new QFrame(m_dropOverlay);
    capsule->setObjectName(QStringLiteral("dropOverlayCapsule"));
    auto *capsuleRow = new QHBoxLayout(capsule);
    capsuleRow->setContentsMargins(18, 12, 18, 12);
    capsuleRow->setSpacing(8);
    capsuleRow->addWidget(
        CardStyle::symbolLabel(Symbol::folderBadgePlus, ViewColors::blue(), CardStyle::title2SymbolPixels, capsule));
    auto *hint = new PlainLabel(QStringLiteral("松开即可添加到当前文件夹"), capsule);
    QFont hintFont = ViewFonts::title2();
    hintFont.setWeight(QFont::DemiBold);
    hint->setFont(hintFont);
    CardStyle::setTextColor(hint, ViewColors::blue());
    capsuleRow->addWidget(hint);
    const QColor material = CardStyle::withOpacity(palette().color(QPalette::Window), 0.85);
    capsule->setStyleSheet(
        QStringLiteral("QFrame#dropOverlayCapsule { background: rgba(%1,%2,%3,%4); border-radius: %5px; }")
            .arg(material.red())
            .arg(material.green())
            .arg(material.blue())
            .arg(material.alpha())
            .arg(capsule->sizeHint().height() / 2));
    auto *overlayLayout = new QVBoxLayout(m_dropOverlay);
    overlayLayout->addWidget(capsule, 0, Qt::AlignCenter);
    m_dropOverlay->hide();
}

void ManagedFilesPane::watchStore()
{
    const QList<void (DeviceManagementStore::*)()> signals_{
        &DeviceManagementStore::snapshotChanged,       &DeviceManagementStore::rootsChanged,
        &DeviceManagementStore::currentPageChanged,    &DeviceManagementStore::trashEntriesChanged,
        &DeviceManagementStore::mediaItemsChanged,     &DeviceManagementStore::loadedMediaKindChanged,
        &DeviceManagementStore::isLoadingFilesChanged, &DeviceManagementStore::isLoadingTrashChanged,
        &DeviceManagementStore::isLoadingMediaChanged, &DeviceManagementStore::isPerformingFileOperationChanged,
        &DeviceManagementStore::errorMessageChanged,   &DeviceManagementStore::fileQueryChanged,
        &DeviceManagementStore::trashQueryChanged,     &DeviceManagementStore::mediaQueryChanged,
        &DeviceManagementStore::clipboardChanged,      &DeviceManagementStore::activePeerIDChanged,
    };
    for (auto signal : signals_) {
        connect(m_store, signal, this, &ManagedFilesPane::render);
    }
    // The change reactions, in their order; each fires on a change only.
    connect(m_store, &DeviceManagementStore::activePeerIDChanged, this, [this] {
        if (m_store->activePeerID() != m_watchedPeerID) {
            m_watchedPeerID = m_store->activePeerID();
            activePeerChanged();
        }
    });
    connect(m_store, &DeviceManagementStore::currentPageChanged, this, [this] {
        const auto &page = m_store->currentPage();
        const std::optional<QString> folderID = page ? std::optional(page->parentId) : std::nullopt;
        if (folderID != m_watchedFolderID) {
            m_watchedFolderID = folderID;
            clearSelection();
        }
        pruneSelection(page ? page->entries : QList<ManagedFileEntry>{});
    });
    connect(m_store, &DeviceManagementStore::fileQueryChanged, this, [this] {
        if (m_store->fileQuery() != m_watchedFileQuery) {
            m_watchedFileQuery = m_store->fileQuery();
            clearSelection();
        }
    });
}

// Setting the bound values.

void ManagedFilesPane::setPeerName(const QString &peerName)
{
    m_peerName = peerName;
    render();
}

void ManagedFilesPane::setConnection(bool isManagementConnected, bool isUSBConnected)
{
    if (isManagementConnected == m_isManagementConnected && isUSBConnected == m_isUSBConnected) {
        return;
    }
    m_isManagementConnected = isManagementConnected;
    m_isUSBConnected = isUSBConnected;
    render();
    startLoadJob();
}

void ManagedFilesPane::setSelection(ManagedContentCategory category)
{
    if (category == m_selection) {
        return;
    }
    m_selection = category;
    categoryChanged();
    emit selectionChanged(category);
    render();
    startLoadJob();
}

void ManagedFilesPane::setIsCreatingFolder(bool creating)
{
    m_isCreatingFolder = creating;
    render();
}

void ManagedFilesPane::beginRename(const ManagedFileEntry &entry)
{
    m_renamingEntry = entry;
    m_renamedValue = entry.name;
    render();
}

void ManagedFilesPane::setDeletingEntries(const QList<ManagedFileEntry> &entries)
{
    m_deletingEntries = entries;
    render();
}

void ManagedFilesPane::setIsReplacingPaste(bool replacing)
{
    m_isReplacingPaste = replacing;
    render();
}

void ManagedFilesPane::setReplacingTrashEntry(const std::optional<ManagedTrashEntry> &entry)
{
    m_replacingTrashEntry = entry;
    render();
}

void ManagedFilesPane::setIsEmptyingTrash(bool emptying)
{
    m_isEmptyingTrash = emptying;
    render();
}

void ManagedFilesPane::setPreviewedMediaID(const std::optional<QString> &mediaID)
{
    if (mediaID == m_previewedMediaID) {
        return;
    }
    m_previewedMediaID = mediaID;
    if (mediaID && m_store && !findChild<ManagedMediaPreview *>()) {
        auto *sheet = new ManagedMediaPreview(*m_store, mediaID, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(sheet, &ManagedMediaPreview::selectedMediaIDChanged, this,
                [this, sheet] { m_previewedMediaID = sheet->selectedMediaID(); });
        connect(sheet, &QDialog::finished, this, [this] { m_previewedMediaID.reset(); });
        sheet->open();
    } else if (!mediaID) {
        if (auto *sheet = findChild<ManagedMediaPreview *>()) {
            sheet->close();
        }
    }
    emit viewStateChanged();
}

void ManagedFilesPane::setPreviewedFileURL(const std::optional<QString> &path, const QString &name)
{
    m_previewedFileURL = path;
    if (!path) {
        if (QuickLookWindow *window = m_quickLook) {
            m_quickLook = nullptr;
            window->close();
        }
        emit viewStateChanged();
        return;
    }
    // The local copy is shown at once: in the one window of ours for images and text, by the usual program for
    // the rest, which this pane cannot close; nothing of the pane shows it then.
    bool unopened = false;
    QuickLookWindow *window = QuickLookWindow::show(*path, this, m_openExternally, m_quickLook, name, &unopened);
    if (unopened && m_store) {
        m_store->setErrorMessage(noProgramOpensMessage(name.isEmpty() ? QFileInfo(*path).fileName() : name));
    }
    if (!window) {
        m_previewedFileURL.reset();
    } else if (window != m_quickLook) {
        m_quickLook = window;
        connect(window, &QDialog::finished, this, [this, window] {
            if (m_quickLook == window) {
                m_quickLook = nullptr;
                m_previewedFileURL.reset();
                emit viewStateChanged();
            }
        });
    }
    emit viewStateChanged();
}

void ManagedFilesPane::setFileSelection(const FileSelection &selection)
{
    m_fileSelection = selection;
    render();
}

// Derived values.

QList<ManagedFileEntry> ManagedFilesPane::sortedEntries() const
{
    if (!m_store || !m_store->currentPage()) {
        return {};
    }
    return sortedManagedEntries(m_store->currentPage()->entries, m_selection, *m_preferences);
}

QList<ManagedFileEntry> ManagedFilesPane::selectedEntries() const
{
    return ::selectedEntries(sortedEntries(), m_fileSelection.selectedFileIDs);
}

FilesPaneStoreValues ManagedFilesPane::storeValues() const
{
    return m_store ? FilesPaneStoreValues::from(*m_store) : FilesPaneStoreValues{};
}

FilesPaneContent ManagedFilesPane::stateContent() const
{
    return filesPaneStateContent(m_selection, m_isManagementConnected, m_isUSBConnected, storeValues(),
                                 m_preferences->mediaLayoutStyleRawValue());
}

QString ManagedFilesPane::loadTaskID() const
{
    return filesPaneLoadTaskID(m_selection, m_isManagementConnected);
}

// Dialogs. Each answer changes the pane's state first, then starts its one store operation.

void ManagedFilesPane::createFolder()
{
    const QString name = m_newFolderName;
    m_newFolderName.clear();
    m_isCreatingFolder = false;
    render();
    if (m_store) {
        m_store->createFolder(name, ManagedConflictPolicy::error);
    }
}

void ManagedFilesPane::cancelNewFolder()
{
    m_newFolderName.clear();
    setIsCreatingFolder(false);
}

void ManagedFilesPane::submitRename(ManagedConflictPolicy policy)
{
    if (!m_renamingEntry) {
        return;
    }
    const ManagedFileEntry entry = *m_renamingEntry;
    m_renamingEntry.reset();
    render();
    if (m_store) {
        m_store->rename(entry, m_renamedValue, policy);
    }
}

void ManagedFilesPane::cancelRename()
{
    m_renamingEntry.reset();
    render();
}

void ManagedFilesPane::confirmMoveToTrash()
{
    const QList<ManagedFileEntry> entries = m_deletingEntries;
    m_deletingEntries.clear();
    m_fileSelection = {};
    render();
    if (m_store) {
        m_store->moveToTrash(entries);
    }
}

void ManagedFilesPane::cancelMoveToTrash()
{
    setDeletingEntries({});
}

void ManagedFilesPane::confirmPasteReplacing()
{
    setIsReplacingPaste(false);
    if (m_store) {
        m_store->paste(ManagedConflictPolicy::replace);
    }
}

void ManagedFilesPane::cancelPasteReplacing()
{
    setIsReplacingPaste(false);
}

void ManagedFilesPane::confirmRestoreReplacing()
{
    if (!m_replacingTrashEntry) {
        return;
    }
    const ManagedTrashEntry entry = *m_replacingTrashEntry;
    setReplacingTrashEntry(std::nullopt);
    if (m_store) {
        m_store->restore(entry, ManagedConflictPolicy::replace);
    }
}

void ManagedFilesPane::cancelRestoreReplacing()
{
    setReplacingTrashEntry(std::nullopt);
}

void ManagedFilesPane::confirmEmptyTrash()
{
    setIsEmptyingTrash(false);
    if (m_store) {
        m_store->emptyTrash();
    }
}

void ManagedFilesPane::cancelEmptyTrash()
{
    setIsEmptyingTrash(false);
}

void ManagedFilesPane::setDialogPresenter(FilesPaneDialogPresenter presenter)
{
    m_dialogPresenter = std::move(presenter);
}

bool ManagedFilesPane::isDialogShownByState(FilesPaneDialogKind kind) const
{
    switch (kind) {
    case FilesPaneDialogKind::newFolder:
        return m_isCreatingFolder;
    case FilesPaneDialogKind::rename:
        return m_renamingEntry.has_value();
    case FilesPaneDialogKind::moveToTrash:
        return !m_deletingEntries.isEmpty();
    case FilesPaneDialogKind::replaceOnPaste:
        return m_isReplacingPaste;
    case FilesPaneDialogKind::replaceOnRestore:
        return m_replacingTrashEntry.has_value();
    case FilesPaneDialogKind::emptyTrash:
        return m_isEmptyingTrash;
    }
    return false;
}

void ManagedFilesPane::presentDialogs()
{
    using enum FilesPaneDialogKind;
    for (FilesPaneDialogKind kind : {newFolder, rename, moveToTrash, replaceOnPaste, replaceOnRestore, emptyTrash}) {
        const bool isOpen = m_dialogGenerations.contains(kind);
        if (isDialogShownByState(kind) && !isOpen) {
            presentDialog(kind);
        } else if (!isDialogShownByState(kind) && isOpen) {
            closeDialog(kind);
        }
    }
}

void ManagedFilesPane::presentDialog(FilesPaneDialogKind kind)
{
    FilesPaneDialog dialog;
    switch (kind) {
    case FilesPaneDialogKind::newFolder:
        dialog = FilesPaneDialogs::newFolder(m_newFolderName);
        break;
    case FilesPaneDialogKind::rename:
        dialog = FilesPaneDialogs::rename(m_renamedValue);
        break;
    case FilesPaneDialogKind::moveToTrash:
        dialog = FilesPaneDialogs::moveToTrash(m_deletingEntries);
        break;
    case FilesPaneDialogKind::replaceOnPaste:
        dialog = FilesPaneDialogs::replaceOnPaste();
        break;
    case FilesPaneDialogKind::replaceOnRestore:
        dialog = FilesPaneDialogs::replaceOnRestore();
        break;
    case FilesPaneDialogKind::emptyTrash:
        dialog = FilesPaneDialogs::emptyTrash();
        break;
    }
    const quint64 generation = ++m_nextDialogGeneration;
    m_dialogGenerations.insert(kind, generation);
    QPointer<ManagedFilesPane> self(this);
    const QPointer<QWidget> window =
        m_dialogPresenter(this, dialog, [self, kind, generation](int button, const QString &fieldText) {
            if (self) {
                self->answerDialog(kind, generation, button, fieldText);
            }
        });
    if (m_dialogGenerations.value(kind) == generation) {
        m_openDialogs.insert(kind, window);
    }
}

void ManagedFilesPane::closeDialog(FilesPaneDialogKind kind)
{
    m_dialogGenerations.remove(kind);
    if (const QPointer<QWidget> window = m_openDialogs.take(kind)) {
        window->close();
    }
}

void ManagedFilesPane::answerDialog(FilesPaneDialogKind kind, quint64 generation, int button,
                                    const QString &fieldText)
{
    // An answer of a question the pane has closed meanwhile is stale.
    if (m_dialogGenerations.value(kind) != generation) {
        return;
    }
    m_dialogGenerations.remove(kind);
    m_openDialogs.remove(kind);
    const bool confirmed = button == 0;
    switch (kind) {
    case FilesPaneDialogKind::newFolder:
        m_newFolderName = fieldText;
        confirmed ? createFolder() : cancelNewFolder();
        break;
    case FilesPaneDialogKind::rename:
        m_renamedValue = fieldText;
        if (const auto policy = FilesPaneDialogs::renamePolicy(button)) {
            submitRename(*policy);
        } else {
            cancelRename();
        }
        break;
    case FilesPaneDialogKind::moveToTrash:
        confirmed ? confirmMoveToTrash() : cancelMoveToTrash();
        break;
    case FilesPaneDialogKind::replaceOnPaste:
        confirmed ? confirmPasteReplacing() : cancelPasteReplacing();
        break;
    case FilesPaneDialogKind::replaceOnRestore:
        confirmed ? confirmRestoreReplacing() : cancelRestoreReplacing();
        break;
    case FilesPaneDialogKind::emptyTrash:
        confirmed ? confirmEmptyTrash() : cancelEmptyTrash();
        break;
    }
}

// Selection and keys.

void ManagedFilesPane::handleClick(const ManagedFileEntry &entry, const QList<ManagedFileEntry> &shownEntries,
                                   Qt::KeyboardModifiers modifiers)
{
    handleFileClick(m_fileSelection, entry, shownEntries, modifiers);
    render();
}

void ManagedFilesPane::handleDoubleClick(const ManagedFileEntry &entry)
{
    if (entry.directory) {
        if (m_store) {
            m_store->openFolder(entry);
        }
    } else {
        preview(entry);
    }
}

void ManagedFilesPane::requestMoveSelectionToTrash()
{
    const QList<ManagedFileEntry> selected = selectedEntries();
    if (!selected.isEmpty()) {
        setDeletingEntries(selected);
    }
}

bool ManagedFilesPane::openSelectedEntry()
{
    const QList<ManagedFileEntry> selected = selectedEntries();
    if (returnKeyAction(selected) == FileOpenAction::none) {
        return false;
    }
    handleDoubleClick(selected.first());
    return true;
}

bool ManagedFilesPane::previewSelectedFile()
{
    const QList<ManagedFileEntry> selected = selectedEntries();
    if (spaceKeyAction(selected) == FileOpenAction::none) {
        return false;
    }
    preview(selected.first());
    return true;
}

bool ManagedFilesPane::handleFileBrowserKey(int key)
{
    if (!isFilesCategory(m_selection) || stateContent().kind != FilesPaneContent::Kind::fileBrowser) {
        return false;
    }
    switch (key) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        requestMoveSelectionToTrash();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return openSelectedEntry();
    case Qt::Key_Space:
        return previewSelectedFile();
    default:
        return false;
    }
}

void ManagedFilesPane::preview(const ManagedFileEntry &entry)
{
    runPreview(entry);
}

QCoro::Task<void> ManagedFilesPane::runPreview(ManagedFileEntry entry)
{
    if (!m_store) {
        co_return;
    }
    QPointer<ManagedFilesPane> self(this);
    const std::optional<QString> path = co_await m_store->previewFile(entry);
    if (self && path) {
        self->setPreviewedFileURL(path, entry.name);
    }
}

bool ManagedFilesPane::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (handleFileBrowserKey(key->key())) {
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Drops.

bool ManagedFilesPane::handleDrop(const QList<QUrl> &urls)
{
    const std::optional<QStringList> paths = filesPaneDropPaths(
        m_selection, m_isManagementConnected, m_store && m_store->currentPage().has_value(), urls);
    if (!paths) {
        return false;
    }
    m_store->upload(*paths);
    return true;
}

void ManagedFilesPane::updateDropTargeting(bool isTargeted)
{
    m_isFileDropTargeted = filesPaneShowsDropTarget(m_selection, isTargeted);
    m_dropOverlay->setGeometry(rect().adjusted(18, 18, -18, -18));
    m_dropOverlay->setVisible(m_isFileDropTargeted);
    m_dropOverlay->raise();
}

void ManagedFilesPane::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls()) {
        updateDropTargeting(true);
        event->acceptProposedAction();
    }
}

void ManagedFilesPane::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

void ManagedFilesPane::dragLeaveEvent(QDragLeaveEvent *)
{
    updateDropTargeting(false);
}

void ManagedFilesPane::dropEvent(QDropEvent *event)
{
    updateDropTargeting(false);
    if (handleDrop(event->mimeData()->urls())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

// Loading and the change reactions.

QCoro::Task<void> ManagedFilesPane::loadCategory(ManagedContentCategory category)
{
    QPointer<DeviceManagementStore> store = m_store;
    if (!store) {
        co_return;
    }
    switch (category) {
    case ManagedContentCategory::photos:
    case ManagedContentCategory::videos:
        co_await store->loadMedia(*mediaKind(category));
        break;
    case ManagedContentCategory::downloads:
    case ManagedContentCategory::documents:
        co_await store->openContentFolder(contentFolderNames(category));
        break;
    case ManagedContentCategory::allFiles:
        // With no roots yet the store lists the first root itself when they arrive.
        if (store->roots().isEmpty()) {
            co_await store->loadRoots();
        } else {
            co_await store->openRoot(store->roots().first());
        }
        break;
    case ManagedContentCategory::trash:
        co_await store->loadTrash();
        break;
    }
}

QCoro::Task<void> ManagedFilesPane::refreshCurrentCategory()
{
    QPointer<DeviceManagementStore> store = m_store;
    if (!store) {
        co_return;
    }
    switch (group(m_selection)) {
    case ManagedContentGroup::media:
        co_await store->loadMedia(mediaKind(m_selection).value_or(ManagedMediaKind::photo));
        break;
    case ManagedContentGroup::files:
        co_await store->reloadCurrentFolder();
        break;
    case ManagedContentGroup::trash:
        co_await store->loadTrash();
        break;
    }
}

void ManagedFilesPane::startLoadJob()
{
    const QString identity = loadTaskID();
    if (identity == m_loadTaskID) {
        return;
    }
    m_loadTaskID = identity;
    runLoadJob(++m_loadGeneration);
}

QCoro::Task<void> ManagedFilesPane::runLoadJob(quint64 generation)
{
    // A later identity replaces this job; the store drops answers that are stale for its phone.
    if (generation != m_loadGeneration || !m_isManagementConnected) {
        co_return;
    }
    co_await loadCategory(m_selection);
}

void ManagedFilesPane::activePeerChanged()
{
    // Another phone: what was loaded belonged to the previous one.
    m_loadTaskID.clear();
    m_previewedMediaID.reset();
    setPreviewedFileURL(std::nullopt);
    m_renamingEntry.reset();
    m_replacingTrashEntry.reset();
    m_deletingEntries.clear();
    m_fileSelection = {};
    m_isReplacingPaste = false;
    m_isEmptyingTrash = false;
    setSelection(ManagedContentCategory::allFiles);
    setPreviewedMediaID(std::nullopt);
    render();
    startLoadJob();
}

void ManagedFilesPane::categoryChanged()
{
    setPreviewedMediaID(std::nullopt);
    setPreviewedFileURL(std::nullopt);
    m_fileSelection = {};
}

void ManagedFilesPane::clearSelection()
{
    m_fileSelection = {};
    render();
}

void ManagedFilesPane::pruneSelection(const QList<ManagedFileEntry> &listed)
{
    const FileSelection before = m_fileSelection;
    pruneFileSelection(m_fileSelection, listed);
    if (before != m_fileSelection) {
        render();
    }
}

// Drawing.

void ManagedFilesPane::focusContent()
{
    QWidget *view = shownContentView();
    (view ? view : m_contentStack)->setFocus(Qt::OtherFocusReason);
}

QWidget *ManagedFilesPane::shownContentView() const
{
    QWidget *page = m_contentStack->currentWidget();
    if (page == m_fileBrowserPage) {
        return static_cast<ManagedFileBrowser *>(m_fileBrowserPage)->view();
    }
    if (page == m_trashPage) {
        return static_cast<ManagedTrashList *>(m_trashPage)->view();
    }
    return page == m_mediaPage ? m_mediaPage : nullptr;
}

void ManagedFilesPane::render()
{
    renderContent();
    // The content area has the keyboard only while it holds it for a list still loading (focusContent).
    if (QWidget *view = shownContentView(); view && m_contentStack->hasFocus()) {
        view->setFocus(Qt::OtherFocusReason);
    }
    m_toolbar->render();
    presentDialogs();
    emit viewStateChanged();
}

void ManagedFilesPane::renderContent()
{
    const FilesPaneContent content = stateContent();
    switch (content.kind) {
    case FilesPaneContent::Kind::placeholder: {
        auto *symbol = m_placeholderPage->findChild<QLabel *>(QStringLiteral("placeholderSymbol"));
        const std::optional<Symbol> drawn = SymbolIcon::named(content.symbolName);
        symbol->setPixmap(drawn ? SymbolIcon::pixmap(*drawn, palette().color(QPalette::PlaceholderText), 44,
                                                     devicePixelRatioF())
                                : QPixmap());
        m_placeholderPage->findChild<QLabel *>(QStringLiteral("placeholderTitle"))->setText(content.title);
        m_placeholderPage->findChild<QLabel *>(QStringLiteral("placeholderDescription"))->setText(content.description);
        m_contentStack->setCurrentIndex(placeholderPageIndex);
        break;
    }
    case FilesPaneContent::Kind::loading:
        m_loadingPage->findChild<QLabel *>(QStringLiteral("loadingText"))->setText(content.title);
        m_contentStack->setCurrentIndex(loadingPageIndex);
        break;
    case FilesPaneContent::Kind::trashList:
        m_contentStack->setCurrentIndex(trashPageIndex);
        break;
    case FilesPaneContent::Kind::mediaGallery:
        static_cast<ManagedMediaGallery *>(m_mediaPage)->setLayoutRawValue(m_preferences->mediaLayoutStyleRawValue());
        m_contentStack->setCurrentIndex(mediaPageIndex);
        break;
    case FilesPaneContent::Kind::fileBrowser: {
        auto *browser = static_cast<ManagedFileBrowser *>(m_fileBrowserPage);
        const QScopedValueRollback rendering(m_isRenderingContent, true);
        browser->setGridPresentation(m_preferences->fileViewStyle() == FileBrowserViewStyle::grid);
        browser->setEntries(sortedEntries());
        if (browser->selection() != m_fileSelection) {
            browser->setSelection(m_fileSelection);
        }
        m_contentStack->setCurrentIndex(fileBrowserPageIndex);
        break;
    }
    }
    m_selectionBar->setEnabled(!(m_store && m_store->isPerformingFileOperation()));
    if (isSelectionBarWanted()) {
        static_cast<ManagedSelectionBar *>(m_selectionBar)->refresh();
    }
    renderSelectionBar();
}

bool ManagedFilesPane::isSelectionBarWanted() const
{
    return isFilesCategory(m_selection) && !m_fileSelection.selectedFileIDs.isEmpty();
}

bool ManagedFilesPane::showsSelectionBar() const
{
    return !m_selectionPlace->isHidden();
}

void ManagedFilesPane::renderSelectionBar()
{
    if (!isSelectionBarWanted()) {
        m_selectionArrival.stop();
        m_selectionPlace->hide();
        return;
    }
    // Over the row just clicked, the actions come only once that click can no longer become a double click: its
    // second click still lands on the row.
    if (!showsSelectionBar() && (m_selectionArrival.isActive() || selectionBarWouldCoverAnchorRow())) {
        if (!m_selectionArrival.isActive()) {
            m_selectionArrival.start(QApplication::doubleClickInterval());
        }
        return;
    }
    m_selectionPlace->show();
}

bool ManagedFilesPane::selectionBarWouldCoverAnchorRow() const
{
    const auto *browser = static_cast<const ManagedFileBrowser *>(m_fileBrowserPage);
    if (m_contentStack->currentWidget() != browser) {
        return false;
    }
    // The list keeps the row clicked last as its current one; the grid keeps it as the selection's anchor.
    const QListView *view = browser->view();
    QModelIndex clicked = view->currentIndex();
    if (m_preferences->fileViewStyle() == FileBrowserViewStyle::grid) {
        const QList<ManagedFileEntry> &entries = browser->entries();
        const auto anchor = m_fileSelection.selectionAnchorID
                                ? std::ranges::find(entries, *m_fileSelection.selectionAnchorID, &ManagedFileEntry::id)
                                : entries.end();
        clicked = anchor == entries.end() ? QModelIndex() : view->model()->index(int(anchor - entries.begin()), 0);
    }
    if (!clicked.isValid()) {
        return false;
    }
    // The actions come on top of the bars already shown, where the content ends now.
    const int contentBottom = m_bottomBars->isHidden() ? height() : m_bottomBars->y();
    const QPoint bottom = view->viewport()->mapTo(this, view->visualRect(clicked).bottomLeft());
    return bottom.y() >= contentBottom - m_selectionPlace->sizeHint().height();
}

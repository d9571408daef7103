#include "MainWindow.h"

#include "CardStyle.h"
#include "DeviceManagementStore.h"
#include "DeviceStore.h"
#include "MainWindowDetailPane.h"
#include "NativeFilePanels.h"
#include "NativeOpenPanel.h"
#include "PairingSheet.h"
#include "PlainLabel.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "SidebarList.h"
#include "SidebarRows.h"
#include "SymbolTile.h"
#include "TransferStore.h"
#include "TrustedDeviceManagerSheet.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

using namespace MainWindowPresentation;

namespace {

constexpr int selectionKindRole = SidebarList::selectionKindRole;
constexpr int selectionValueRole = SidebarList::selectionValueRole;

// The importers are set up as the application's other choosers of local files.
const NativeOpenPanel::Settings apkImporterSettings{QStringLiteral("选择安装包"),
                                                    QStringLiteral("选择要安装到手机的 APK 或 AAB 文件"),
                                                    QStringLiteral("选择"), true, false};
const NativeOpenPanel::Settings transferImporterSettings{
    QStringLiteral("选择文件"), QStringLiteral("选择要发送到手机的文件"), QStringLiteral("发送"), true, false};

// Set by the test runner of the original platform; our tests name it to keep the window from polling.
bool isUnderTestConfiguration()
{
    return QProcessEnvironment::systemEnvironment().contains(QStringLiteral("XCTestConfigurationFilePath"));
}

// A symbol followed by a text, in `font` and `color`, read by a screen reader as the text.
QWidget *symbolLabel(const QString &symbolName, const QString &text, const QFont &font, const QColor &color,
                     QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const int pixels = QFontMetrics(font).height() - 2;
    layout->addWidget(CardStyle::symbolLabel(symbolNamed(symbolName, Symbol::circle), color, pixels, row));
    auto *label = new PlainLabel(text, row);
    label->setFont(font);
    CardStyle::setTextColor(label, color);
    layout->addWidget(label, 1);
    row->setAccessibleName(text);
    return row;
}

QListWidgetItem *addRow(QListWidget *list, QWidget *widget, Qt::ItemFlags flags = Qt::ItemIsEnabled)
{
    auto *item = new QListWidgetItem(list);
    item->setFlags(flags);
    widget->setAttribute(Qt::WA_TransparentForMouseEvents, flags.testFlag(Qt::ItemIsSelectable));
    list->setItemWidget(item, widget);
    item->setSizeHint(widget->sizeHint());
    // The accessibility tree holds the list's items, not the widgets drawn in them.
    if (!widget->accessibleName().isEmpty())
        item->setData(Qt::AccessibleTextRole, widget->accessibleName());
    return item;
}

void tagRow(QListWidgetItem *item, const SidebarSelection &selection)
{
    item->setData(selectionKindRole, int(selection.kind));
    item->setData(selectionValueRole, selection.value);
}

} // namespace

MainWindow::MainWindow(DeviceStore &store, TransferStore &transferStore, DeviceManagementStore &managementStore,
                       QuickSendCoordinator &quickSend, QWidget *parent)
    : MainWindow(store, transferStore, managementStore, quickSend, ContentLater{}, parent)
{
    buildContent();
}

MainWindow::MainWindow(DeviceStore &store, TransferStore &transferStore, DeviceManagementStore &managementStore,
                       QuickSendCoordinator &quickSend, ContentLater, QWidget *parent)
    : QMainWindow(parent), m_store(store), m_transferStore(transferStore), m_managementStore(managementStore),
      m_quickSend(quickSend), m_lastDevices(store.devices()), m_lastPhase(transferStore.phase()),
      m_lastPairingPayload(transferStore.pairingPayload())
{
    if (const auto &snapshot = managementStore.snapshot())
        m_lastSnapshotModel = snapshot->model;
    setWindowTitle(sidebarTitle);
    setMinimumSize(minimumWidth, minimumHeight);
    resize(defaultWidth, defaultHeight);
    m_usbPoll.setInterval(usbPollInterval);
    QObject::connect(&m_usbPoll, &QTimer::timeout, this, &MainWindow::pollUSBDevices);
}

void MainWindow::buildContent()
{
    if (m_sidebar)
        return;
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);

    auto *sidebarColumn = new QWidget(splitter);
    sidebarColumn->setMinimumWidth(sidebarMinimumWidth);
    sidebarColumn->setMaximumWidth(sidebarMaximumWidth);
    auto *sidebarLayout = new QVBoxLayout(sidebarColumn);
    sidebarLayout->setContentsMargins(10, 8, 6, 6);
    sidebarLayout->setSpacing(6);
    auto *header = new QHBoxLayout;
    auto *title = new PlainLabel(sidebarTitle, sidebarColumn);
    title->setFont(ViewFonts::title3());
    header->addWidget(title, 1);
    m_refreshButton = new QToolButton(sidebarColumn);
    m_refreshButton->setAutoRaise(true);
    m_refreshButton->setIcon(SymbolIcon::icon(Symbol::arrowClockwise, palette().color(QPalette::WindowText)));
    m_refreshButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_refreshButton->setText(refreshTitle);
    m_refreshButton->setToolTip(refreshHelp);
    m_refreshButton->setAccessibleName(refreshTitle);
    QObject::connect(m_refreshButton, &QToolButton::clicked, this, &MainWindow::refreshUSB);
    header->addWidget(m_refreshButton);
    sidebarLayout->addLayout(header);

    m_sidebar = new SidebarList(sidebarColumn);
    m_sidebar->setAccessibleName(sidebarListName);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_sidebar->viewport()->setAutoFillBackground(false);
    m_sidebar->setAutoFillBackground(false);
    QObject::connect(m_sidebar, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_isRenderingSidebar)
            return;
        const auto items = m_sidebar->selectedItems();
        if (items.isEmpty() || !items.first()->data(selectionKindRole).isValid()) {
            // A click on a row that cannot be selected takes the highlight away; the selection stays as it was.
            showSelectedRow();
            return;
        }
        const auto *item = items.first();
        setSidebarSelection(SidebarSelection{SidebarSelection::Kind(item->data(selectionKindRole).toInt()),
                                             item->data(selectionValueRole).toString()});
    });
    sidebarLayout->addWidget(m_sidebar, 1);

    MainWindowDetailPane::Actions actions{
        [this] { connectPhone(); },
        [this] { refreshUSB(); },
        [this] { chooseAPK(); },
        [this] { chooseManagedFiles(); },
        [this] { chooseManagedFolders(); },
        [this] { chooseTransferFiles(); },
        [this] { beginTransfer(); },
        [this](const AndroidDevice &phone) { installCompanion(phone); },
        [this] { showPairing(); },
    };
    m_detailPane = new MainWindowDetailPane(m_store, m_transferStore, m_managementStore, std::move(actions), splitter);
    splitter->addWidget(sidebarColumn);
    splitter->addWidget(m_detailPane);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({sidebarIdealWidth, defaultWidth - sidebarIdealWidth});
    setCentralWidget(splitter);

    // The watched values; each handler runs on a change only.
    QObject::connect(&m_store, &DeviceStore::devicesChanged, this, [this] {
        if (m_store.devices() == m_lastDevices)
            return;
        m_lastDevices = m_store.devices();
        devicesChanged();
    });
    QObject::connect(&m_transferStore, &TransferStore::phaseChanged, this, [this] {
        if (m_transferStore.phase() == m_lastPhase)
            return;
        m_lastPhase = m_transferStore.phase();
        phaseChanged();
    });
    QObject::connect(&m_store, &DeviceStore::devicesRenamed, this, &MainWindow::devicesRenamed);
    QObject::connect(&m_transferStore, &TransferStore::trustedDevicesChanged, this, [this] { reconcileSelection(); });
    QObject::connect(&m_managementStore, &DeviceManagementStore::snapshotChanged, this, [this] {
        const auto &snapshot = m_managementStore.snapshot();
        const std::optional<QString> model = snapshot ? std::optional(snapshot->model) : std::nullopt;
        if (model == m_lastSnapshotModel)
            return;
        m_lastSnapshotModel = model;
        snapshotModelChanged();
    });
    QObject::connect(&m_transferStore, &TransferStore::pairingPayloadChanged, this, [this] {
        if (m_transferStore.pairingPayload() == m_lastPairingPayload)
            return;
        m_lastPairingPayload = m_transferStore.pairingPayload();
        startUSBAssistedPairing();
    });
    // What the rows show.
    for (const auto signal : {&TransferStore::trustedDevicesChanged, &TransferStore::phaseChanged,
                              &TransferStore::selectedTrustedDeviceIDChanged})
        QObject::connect(&m_transferStore, signal, this, &MainWindow::renderSidebar);
    for (const auto signal : {&DeviceStore::devicesChanged, &DeviceStore::connectedUSBPhonesChanged})
        QObject::connect(&m_store, signal, this, &MainWindow::renderSidebar);
    QObject::connect(&m_store, &DeviceStore::isRefreshingChanged, this,
                     [this] { m_refreshButton->setEnabled(!m_store.isRefreshing()); });
    m_refreshButton->setEnabled(!m_store.isRefreshing());
    renderSidebar();
    if (isVisible()) {
        // On a window already shown, the layout would show the new parts on a later turn, after a first frame
        // without them.
        splitter->show();
        if (QWidget *menu = menuWidget())
            menu->show();
        layout()->activate();
    }
}

MainWindow::~MainWindow() = default;

MainWindowState MainWindow::state() const
{
    return MainWindowState::of(m_store, m_transferStore);
}

void MainWindow::setSidebarSelection(const std::optional<SidebarSelection> &selection)
{
    m_selectionToRestore.reset();
    showSidebarSelection(selection);
}

void MainWindow::showSidebarSelection(const std::optional<SidebarSelection> &selection)
{
    if (m_sidebarSelection == selection)
        return;
    m_sidebarSelection = selection;
    m_detailPane->setSidebarSelection(selection);
    renderSidebar();
    emit sidebarSelectionChanged();
    selectionChanged();
}

void MainWindow::renderSidebar()
{
    m_isRenderingSidebar = true;
    // The rows are made again. A row's button that has the keyboard hands it to the list meanwhile, not to the next
    // control of the window, and its new button takes it back.
    const bool buttonHadKeyboard = m_sidebar->viewport()->isAncestorOf(QApplication::focusWidget());
    if (buttonHadKeyboard)
        m_sidebar->setFocus(Qt::OtherFocusReason);
    m_sidebar->clear();
    const SidebarContent content = sidebarContent(state());
    const QColor secondary = ViewColors::secondary();

    auto *header = new PlainLabel(availableDevicesHeader);
    header->setAccessibleName(availableDevicesHeader);
    header->setFont(ViewFonts::caption(QFont::DemiBold));
    CardStyle::setSecondary(header);
    header->setContentsMargins(0, 6, 0, 2);
    addRow(m_sidebar, header);
    for (const auto &row : content.trustedRows) {
        auto *widget = new TrustedDeviceRow(row.record.name, row.isSelected, row.isConnected, row.usbState, m_sidebar);
        tagRow(addRow(m_sidebar, widget, Qt::ItemIsEnabled | Qt::ItemIsSelectable),
               SidebarSelection::trustedDevice(row.record.id));
    }
    for (const auto &device : content.usbRows) {
        tagRow(addRow(m_sidebar, new DeviceRow(device, m_sidebar), Qt::ItemIsEnabled | Qt::ItemIsSelectable),
               SidebarSelection::usbDevice(device.id()));
    }
    if (content.waitingPhone) {
        addRow(m_sidebar, new USBWaitingRow(*content.waitingPhone, m_sidebar));
    } else if (content.showsNoDevices) {
        auto *label = symbolLabel(noDevicesSymbol, noDevicesText, ViewFonts::body(), secondary, m_sidebar);
        label->setContentsMargins(0, 8, 0, 8);
        addRow(m_sidebar, label);
    }

    if (content.trustedDeviceCount > 0) {
        auto *button = new SidebarRowButton(m_sidebar);
        button->setFlat(true);
        // Return opens the manager as Space does.
        button->setAutoDefault(true);
        button->setAccessibleName(manageTrustedDevicesText);
        auto *layout = new QHBoxLayout(button);
        layout->setContentsMargins(0, 4, 4, 4);
        layout->addWidget(symbolLabel(manageTrustedDevicesSymbol, manageTrustedDevicesText, ViewFonts::body(),
                                      palette().color(QPalette::WindowText), button));
        layout->addStretch(1);
        auto *count = new PlainLabel(QString::number(content.trustedDeviceCount), button);
        CardStyle::setTextColor(count, ViewColors::tertiary());
        layout->addWidget(count);
        button->setMinimumHeight(layout->sizeHint().height());
        QObject::connect(button, &QPushButton::clicked, this, &MainWindow::showTrustedDeviceManager);
        // The arrow keys pass it by: Tab leads from the list's phones to it.
        QWidget::setTabOrder(m_sidebar, button);
        addRow(m_sidebar, button)->setSizeHint(layout->sizeHint() + QSize(0, 6));
        // The list would make the row under a widget that takes the keyboard its current one; the keyboard's place in
        // the list stays on the selected phone, and a screen reader follows the keyboard to the button.
        button->removeEventFilter(m_sidebar);
        if (buttonHadKeyboard)
            button->setFocus(Qt::OtherFocusReason);
    }
    addRow(m_sidebar, symbolLabel(privacySymbol, privacyText, ViewFonts::caption(), secondary, m_sidebar))
        ->setSizeHint(QSize(0, 30));

    m_isRenderingSidebar = false;
    showSelectedRow();
}

void MainWindow::showSelectedRow()
{
    const bool wasRendering = std::exchange(m_isRenderingSidebar, true);
    QListWidgetItem *selected = nullptr;
    for (int row = 0; m_sidebarSelection && row < m_sidebar->count() && !selected; ++row) {
        auto *item = m_sidebar->item(row);
        if (item->data(selectionKindRole).isValid() &&
            SidebarSelection::Kind(item->data(selectionKindRole).toInt()) == m_sidebarSelection->kind &&
            item->data(selectionValueRole).toString() == m_sidebarSelection->value)
            selected = item;
    }
    // The keyboard goes on from the selected phone; with none, the list's focus finds the first phone.
    if (selected) {
        m_sidebar->setCurrentItem(selected, QItemSelectionModel::ClearAndSelect);
    } else {
        m_sidebar->clearSelection();
        if (!SidebarList::isSelectableRow(m_sidebar->currentItem()))
            m_sidebar->setCurrentItem(nullptr);
    }
    m_isRenderingSidebar = wasRendering;
}

void MainWindow::reconcileSelection(bool byListing)
{
    const MainWindowState now = state();
    if (m_selectionToRestore && isListed(*m_selectionToRestore, now)) {
        showSidebarSelection(std::exchange(m_selectionToRestore, std::nullopt));
        return;
    }
    const Reconciliation outcome = reconciledSelection(m_sidebarSelection, now);
    if (byListing && m_sidebarSelection && outcome.selection != m_sidebarSelection && !m_selectionToRestore)
        m_selectionToRestore = m_sidebarSelection;
    if (outcome.deviceIDToSelect)
        m_store.setSelectedDeviceID(outcome.deviceIDToSelect);
    showSidebarSelection(outcome.selection);
}

void MainWindow::selectionChanged()
{
    if (!m_sidebarSelection)
        return;
    // The device store works on the phone chosen: a plain USB row's, or the USB phone of a trusted row.
    if (m_sidebarSelection->kind == SidebarSelection::Kind::usbDevice)
        m_store.setSelectedDeviceID(m_sidebarSelection->value);
    else if (const auto deviceID = deviceIDOfTrustedDevice(m_sidebarSelection->value, state()))
        m_store.setSelectedDeviceID(deviceID);
}

void MainWindow::devicesChanged()
{
    // A serial once bound wrong (the phone's properties taken from another phone) is mended as soon as the connected
    // phone is listed with its own.
    if (const auto device = deviceToBindSerial(m_lastSnapshotModel, state()))
        bindConnectedPhoneSerial(*device);
    // A plain USB row the user chose keeps the device store on its phone.
    const bool choseUSBRow = m_sidebarSelection && m_sidebarSelection->kind == SidebarSelection::Kind::usbDevice;
    const auto &trustedID = m_transferStore.selectedTrustedDeviceID();
    if (!choseUSBRow && trustedID) {
        if (const auto deviceID = deviceIDOfTrustedDevice(*trustedID, state()))
            m_store.setSelectedDeviceID(deviceID);
    }
    reconcileSelection(true);
}

void MainWindow::devicesRenamed(const QHash<QString, QString> &renamedIDs)
{
    const auto renamed = [&renamedIDs](std::optional<SidebarSelection> selection) {
        if (selection && selection->kind == SidebarSelection::Kind::usbDevice)
            selection->value = renamedIDs.value(selection->value, selection->value);
        return selection;
    };
    m_selectionToRestore = renamed(m_selectionToRestore);
    showSidebarSelection(renamed(m_sidebarSelection));
}

void MainWindow::phaseChanged()
{
    reconcileSelection();
    if (m_transferStore.phase().kind == TransferStore::Phase::Kind::failed && m_usbPairingTarget)
        m_usbPairingTarget->installsCompanion = false;
    else if (m_transferStore.phase().kind == TransferStore::Phase::Kind::connected)
        m_store.markCompanionConnected();
}

void MainWindow::snapshotModelChanged()
{
    if (const auto device = deviceToBind(m_lastSnapshotModel, state()))
        m_store.setSelectedDeviceID(device->id());
    // The model names no phone by itself: a phone of that model on USB may be anyone's.
    if (const auto device = deviceToBindSerial(m_lastSnapshotModel, state()))
        bindConnectedPhoneSerial(*device);
}

void MainWindow::bindConnectedPhoneSerial(const AndroidDevice &device)
{
    // The trusted record keeps the serial, which outlives the phone's transport.
    if (const auto &trustedID = m_transferStore.selectedTrustedDeviceID())
        m_transferStore.bindUSBSerial(device.serial, *trustedID);
}

void MainWindow::startUSBAssistedPairing()
{
    // Only a new pairing's link is handed to the phone: a trusted phone's host takes no new phone, so opening the
    // companion with its link would only ask the user to confirm a code that nothing shows.
    if (!m_transferStore.pendingPairingDeviceID())
        return;
    const auto payload = m_transferStore.pairingPayload();
    const auto handOff = usbPairingHandOff(payload, m_lastUSBPairingPayload, m_usbPairingTarget);
    if (handOff == USBPairingHandOff::none)
        return;
    m_lastUSBPairingPayload = payload;
    // The phone as it was listed when the pairing began: the device store finds it, or says it is gone.
    if (handOff == USBPairingHandOff::installAndConnect) {
        m_usbPairingTarget->installsCompanion = false;
        m_store.installCompanionAndConnect(*payload, m_usbPairingTarget->phone);
    } else {
        m_store.openCompanion(*payload, m_usbPairingTarget->phone);
    }
}

void MainWindow::beginPairing(const std::optional<USBPairingTarget> &target)
{
    // Set first: the new link may be published before beginNewPairing() returns.
    m_usbPairingTarget = target;
    m_transferStore.beginNewPairing();
    setShowingPairing(true);
}

std::optional<USBPairingTarget> MainWindow::shownUSBPhone() const
{
    const DetailScreen &screen = m_detailPane->screen();
    if (screen.kind == DetailScreen::Kind::usbDashboard && screen.device)
        return USBPairingTarget{*screen.device};
    return std::nullopt;
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_usbPoll.isActive() || isUnderTestConfiguration())
        return;
    // On the next turn of the event loop: starting adb takes milliseconds, which the window does not wait for
    // before it reaches the screen.
    QMetaObject::invokeMethod(this, &MainWindow::pollUSBDevices, Qt::QueuedConnection);
    m_usbPoll.start();
}

void MainWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    // A minimised window is still shown; only a window taken off the screen stops scanning.
    if (!isVisible())
        m_usbPoll.stop();
}

void MainWindow::pollUSBDevices()
{
    m_store.refresh();
}

void MainWindow::connectPhone()
{
    beginPairing(std::nullopt);
}

void MainWindow::refreshUSB()
{
    m_store.refresh();
    // A link waiting for another program to let go of its port is tried again at once, not at its next look.
    m_transferStore.retryHostStart();
}

void MainWindow::chooseAPK()
{
    presentImporter(Importer::apk);
}

void MainWindow::beginTransfer()
{
    if (m_transferStore.phase().kind == TransferStore::Phase::Kind::connected)
        chooseTransferFiles();
    else
        beginPairing(shownUSBPhone());
}

void MainWindow::chooseTransferFiles()
{
    presentImporter(Importer::transferFiles);
}

void MainWindow::installCompanion(const AndroidDevice &phone)
{
    beginPairing(USBPairingTarget{phone, true});
}

void MainWindow::showPairing()
{
    // The sheet begins a pairing as it shows: the page it was asked from is the one the pairing began on.
    if (!m_isShowingPairing)
        m_usbPairingTarget = shownUSBPhone();
    setShowingPairing(true);
}

void MainWindow::chooseManagedFiles()
{
    NativeFilePanels::presentManagedFilesPanel(uploadChoice());
}

void MainWindow::chooseManagedFolders()
{
    NativeFilePanels::presentManagedFoldersPanel(uploadChoice());
}

std::function<void(const QList<QUrl> &)> MainWindow::uploadChoice()
{
    return [guard = QPointer(this)](const QList<QUrl> &urls) {
        if (!guard)
            return;
        QStringList paths;
        for (const auto &url : urls)
            paths.append(url.toLocalFile());
        guard->uploadToPhone(paths);
    };
}

void MainWindow::uploadToPhone(const QStringList &paths)
{
    // The management store reports the outcome itself.
    m_managementStore.upload(paths);
}

void MainWindow::showTrustedDeviceManager()
{
    setShowingTrustedDeviceManager(true);
}

void MainWindow::addDeviceFromManager()
{
    m_shouldPairAfterClosingDeviceManager = true;
    setShowingTrustedDeviceManager(false);
}

void MainWindow::continueAfterPairing()
{
    setShowingPairing(false);
    if (m_transferStore.phase().kind == TransferStore::Phase::Kind::connected)
        chooseTransferFiles();
}

void MainWindow::showQuickSendPanel()
{
    m_quickSend.showPanel();
}

void MainWindow::setShowingTrustedDeviceManager(bool isShowing)
{
    if (m_isShowingTrustedDeviceManager == isShowing)
        return;
    m_isShowingTrustedDeviceManager = isShowing;
    if (isShowing) {
        m_managerSheet = new TrustedDeviceManagerSheet(
            &m_transferStore, [this] { addDeviceFromManager(); }, this);
        m_managerSheet->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(m_managerSheet, &QDialog::finished, this, [this] { setShowingTrustedDeviceManager(false); });
        m_managerSheet->open();
        return;
    }
    if (m_managerSheet)
        m_managerSheet->close();
    // The pairing sheet opens only once the manager sheet has gone.
    if (m_shouldPairAfterClosingDeviceManager) {
        m_shouldPairAfterClosingDeviceManager = false;
        connectPhone();
    }
}

void MainWindow::setShowingPairing(bool isShowing)
{
    if (m_isShowingPairing == isShowing)
        return;
    m_isShowingPairing = isShowing;
    if (isShowing) {
        m_pairingSheet = new PairingSheet(
            &m_transferStore, &m_store, [this] { continueAfterPairing(); }, this);
        m_pairingSheet->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(m_pairingSheet, &QDialog::finished, this, [this] { setShowingPairing(false); });
        m_pairingSheet->open();
        return;
    }
    // The sheet's pairing ends with it.
    m_usbPairingTarget.reset();
    if (m_pairingSheet)
        m_pairingSheet->close();
}

void MainWindow::presentImporter(Importer importer)
{
    bool &flag = importer == Importer::apk ? m_isImportingAPK : m_isImportingTransferFiles;
    if (flag)
        return;
    flag = true;
    auto completion = [this, importer, guard = QPointer(this)](const QStringList &paths) {
        if (!guard)
            return;
        (importer == Importer::apk ? m_isImportingAPK : m_isImportingTransferFiles) = false;
        if (paths.isEmpty())
            return;
        if (importer == Importer::apk)
            m_store.prepareInstall(paths);
        else
            m_transferStore.sendFiles(paths);
    };
    if (m_importerPresenter) {
        m_importerPresenter(importer, std::move(completion));
        return;
    }
    auto *dialog =
        new NativeOpenPanel(importer == Importer::apk ? apkImporterSettings : transferImporterSettings, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (importer == Importer::apk)
        dialog->setNameFilter(QStringLiteral("Android 应用 (*.apk *.aab)"));
    QObject::connect(dialog, &QFileDialog::finished, this, [dialog, completion](int result) {
        completion(result == QDialog::Accepted ? dialog->selectedFiles() : QStringList());
    });
    dialog->open();
}

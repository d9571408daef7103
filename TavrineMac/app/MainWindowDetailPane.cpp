#include "MainWindowDetailPane.h"

#include "BannerColumn.h"
#include "CardStyle.h"
#include "DeviceDashboard.h"
#include "DeviceManagementDashboard.h"
#include "DeviceStore.h"
#include "FirstRunConnectionView.h"
#include "PlainLabel.h"
#include "SymbolTile.h"
#include "TransferStore.h"
#include "USBApprovalView.h"
#include "USBPhoneProblemBanner.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

using namespace MainWindowPresentation;
using Kind = DetailScreen::Kind;

MainWindowDetailPane::MainWindowDetailPane(DeviceStore &store, TransferStore &transferStore,
                                           DeviceManagementStore &managementStore, Actions actions, QWidget *parent)
    : QWidget(parent), m_store(store), m_transferStore(transferStore), m_managementStore(managementStore),
      m_actions(std::move(actions))
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_linkProblemNotice = new PlainLabel(this);
    m_linkProblemNotice->setFont(ViewFonts::callout());
    m_linkProblemNotice->setWordWrap(true);
    m_linkProblemNotice->setContentsMargins(16, 8, 16, 8);
    CardStyle::setTextColor(m_linkProblemNotice, ViewColors::red());
    // Under the screen shown: a problem comes on its own, and what the pointer is on stays where it is.
    m_layout->addWidget(m_linkProblemNotice);

    for (const auto signal : {&TransferStore::trustedDevicesChanged, &TransferStore::phaseChanged,
                              &TransferStore::selectedTrustedDeviceIDChanged,
                              &TransferStore::receiveFolderProblemChanged, &TransferStore::taskFileProblemChanged})
        QObject::connect(&m_transferStore, signal, this, &MainWindowDetailPane::render);
    // A phone plugged in again keeps its page, which shows it under its new id.
    QObject::connect(&m_store, &DeviceStore::devicesRenamed, this, [this](const QHash<QString, QString> &renamedIDs) {
        if (!m_hasScreen || m_screen.kind != Kind::usbDashboard || !renamedIDs.contains(m_screen.device->id()))
            return;
        if (const auto device = m_store.device(renamedIDs.value(m_screen.device->id()))) {
            m_screen.device = device;
            updateScreen();
        }
    });
    for (const auto signal :
         {&DeviceStore::devicesChanged, &DeviceStore::connectedUSBPhonesChanged, &DeviceStore::setupMessageChanged})
        QObject::connect(&m_store, signal, this, &MainWindowDetailPane::render);
    render();
}

void MainWindowDetailPane::setSidebarSelection(const std::optional<SidebarSelection> &selection)
{
    if (m_selection == selection)
        return;
    m_selection = selection;
    render();
}

void MainWindowDetailPane::render()
{
    const DetailScreen screen = detailScreen(m_selection, MainWindowState::of(m_store, m_transferStore));
    showLinkProblems(screen.kind);
    if (screen.kind == Kind::trustedDashboard) {
        if (m_selectTaskID != screen.record->id) {
            m_selectTaskID = screen.record->id;
            selectTrustedDeviceLater(screen.record->id);
        }
    } else if (m_selectTaskID) {
        m_selectTaskID.reset();
        ++m_selectTaskGeneration;
    }

    if (m_hasScreen && screen == m_screen) {
        if (auto *firstRun = qobject_cast<FirstRunConnectionView *>(m_screenWidget.data()))
            firstRun->setMessage(firstRunMessage());
        return;
    }
    // Within one rule the screen of the same phone is kept and brought up to date, so that its section, its open
    // details and its dialogs stay: a rename, or new facts of the USB device, are not a new screen.
    const bool keepsScreen = m_hasScreen && m_screenWidget && showsSamePhone(screen, m_screen);
    m_screen = screen;
    m_hasScreen = true;
    if (keepsScreen) {
        updateScreen();
        return;
    }
    if (QWidget *old = m_screenWidget.data()) {
        // The old screen may be the one whose action led here, still on the stack: it goes once that returns.
        m_layout->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    m_screenWidget = makeScreen(screen);
    // Above the problem line.
    m_layout->insertWidget(0, m_screenWidget);
}

bool MainWindowDetailPane::showsSamePhone(const DetailScreen &screen, const DetailScreen &shown)
{
    if (screen.kind != shown.kind)
        return false;
    switch (screen.kind) {
    case Kind::trustedDashboard:
    case Kind::connectedTrustedDashboard:
        return screen.record->id == shown.record->id;
    case Kind::usbDashboard:
        return screen.device->id() == shown.device->id();
    case Kind::usbApproval:
        return false; // it keeps nothing of its own
    case Kind::firstRun:
        return true;
    }
    return false;
}

void MainWindowDetailPane::updateScreen()
{
    if (auto *dashboard = qobject_cast<DeviceManagementDashboard *>(m_screenWidget.data()))
        dashboard->setPeerName(m_screen.record->name);
    else if (auto *usbDashboard = qobject_cast<DeviceDashboard *>(m_screenWidget.data()))
        usbDashboard->setDevice(*m_screen.device, m_screen.showsTransfer);
    else if (auto *firstRun = qobject_cast<FirstRunConnectionView *>(m_screenWidget.data()))
        firstRun->setMessage(firstRunMessage());
}

QWidget *MainWindowDetailPane::makeScreen(const DetailScreen &screen)
{
    switch (screen.kind) {
    case Kind::trustedDashboard:
    case Kind::connectedTrustedDashboard:
        return new DeviceManagementDashboard(
            screen.record->name, &m_transferStore, &m_managementStore, &m_store,
            {m_actions.chooseAPK, m_actions.chooseManagedFiles, m_actions.chooseManagedFolders,
             m_actions.trustedTransferAction, m_actions.showPairing},
            DeviceManagementDashboard::Section::home, ManagedContentCategory::allFiles, this);
    case Kind::usbDashboard:
        return new DeviceDashboard(
            *screen.device, &m_store, &m_transferStore, screen.showsTransfer,
            {m_actions.chooseAPK, m_actions.usbTransferAction, m_actions.installCompanion, m_actions.showPairing},
            this);
    case Kind::usbApproval: {
        auto *approval = new USBApprovalView(*screen.waitingPhone, this);
        // Approving on the phone cannot help while another adb program holds it: that is said under the steps, where
        // it comes without moving them.
        if (auto *column = qobject_cast<QBoxLayout *>(approval->layout())) {
            auto *banners = new BannerColumn(QMargins(screenMargin, 12, screenMargin, 12), 12, approval);
            banners->addBanner(new USBPhoneProblemBanner(&m_store, banners));
            column->addWidget(banners);
        }
        return approval;
    }
    case Kind::firstRun:
        break;
    }
    return new FirstRunConnectionView(firstRunMessage(), m_actions.connect, m_actions.refreshUSB, this);
}

std::optional<QString> MainWindowDetailPane::linkFailure() const
{
    if (m_transferStore.phase().kind != TransferStore::Phase::Kind::failed)
        return std::nullopt;
    return m_transferStore.phase().text;
}

std::optional<QString> MainWindowDetailPane::firstRunMessage() const
{
    // A failed link (a keyring that was locked at start-up, say) lists no phone: the reason shows here.
    QStringList messages;
    if (const auto &setup = m_store.setupMessage())
        messages.append(*setup);
    if (const auto failure = linkFailure())
        messages.append(*failure);
    if (messages.isEmpty())
        return std::nullopt;
    return messages.join(u'\n');
}

void MainWindowDetailPane::showLinkProblems(DetailScreen::Kind shownKind)
{
    QStringList problems;
    if (const auto &folder = m_transferStore.receiveFolderProblem())
        problems.append(*folder);
    // Tasks that cannot be saved do not stop the link: the phone stays on screen, with the reason under it.
    if (const auto &taskFile = m_transferStore.taskFileProblem())
        problems.append(*taskFile);
    // The first-run screen says why the link or adb's listing failed in its own message; the others have no place
    // for it. A failed listing shows no phone, so the screen shown may be any.
    if (shownKind != Kind::firstRun) {
        if (const auto &setup = m_store.setupMessage())
            problems.append(*setup);
        if (const auto failure = linkFailure())
            problems.append(*failure);
    }
    problems.removeDuplicates();
    m_linkProblemNotice->setText(problems.join(u'\n'));
    m_linkProblemNotice->setVisible(!problems.isEmpty());
}

void MainWindowDetailPane::selectTrustedDeviceLater(const QString &id)
{
    // Runs once the dashboard is on screen, and only while it still shows that id: a newer selection cancels it.
    const quint64 generation = ++m_selectTaskGeneration;
    QTimer::singleShot(0, this, [this, id, generation] {
        if (generation == m_selectTaskGeneration && m_selectTaskID == id)
            m_transferStore.selectTrustedDevice(id);
    });
}

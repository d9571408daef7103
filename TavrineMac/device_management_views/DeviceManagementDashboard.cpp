#include "DeviceManagementDashboard.h"

#include "BannerColumn.h"
#include "DeviceManagementStore.h"
#include "DeviceOverviewPane.h"
#include "DeviceStore.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFilesPane.h"
#include "ManagementMessageBar.h"
#include "TaskListFollower.h"
#include "TransferActivityDock.h"
#include "TransferStore.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QShowEvent>
#include <QVBoxLayout>

using namespace DeviceManagementDashboardPresentation;

DeviceManagementDashboard::DeviceManagementDashboard(const QString &peerName, TransferStore *transferStore,
                                                     DeviceManagementStore *managementStore, DeviceStore *deviceStore,
                                                     Actions actions, Section section,
                                                     ManagedContentCategory contentCategory, QWidget *parent)
    : QWidget(parent), m_peerName(peerName), m_transferStore(transferStore), m_managementStore(managementStore),
      m_deviceStore(deviceStore), m_actions(std::move(actions)), m_section(section), m_contentCategory(contentCategory)
{
    setWindowTitle(peerName);
    setAutoFillBackground(true);
    m_pollTimer.setInterval(snapshotPollInterval);
    connect(&m_pollTimer, &QTimer::timeout, this, &DeviceManagementDashboard::pollSnapshot);

    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);

    // The pane watches the active phone for changes of phone; it must not take this phone's arrival for one.
    if (m_managementStore) {
        m_managementStore->setActivePeer(m_transferStore ? m_transferStore->selectedTrustedDeviceID() : std::nullopt);
    }
    m_sectionPane = makeSectionContent();
    m_column->addWidget(m_sectionPane, 1);

    // The message and the dock come under the section's content, which gives up its lowest rows to them: what the
    // pointer is on stays where it is, the section's header with its way back stays in view, and no room stays empty
    // while neither shows. The files section has bars of its own there, among which they take their places.
    m_bottomBars = new BannerColumn({}, 0, this, BannerColumn::Arrival::comesNextToContent);
    m_column->addWidget(m_bottomBars);
    m_messageBar = new ManagementMessageBar(
        {}, false, [this] { dismissMessage(); }, this);
    m_messageBar->hide();
    m_bottomBars->addBanner(m_messageBar);

    m_dockBar = new QWidget(this);
    m_dockBar->setObjectName(QStringLiteral("activityDockBar"));
    m_dockBar->setAutoFillBackground(true);
    m_dockBar->setBackgroundRole(QPalette::Button);
    auto *dockLayout = new QHBoxLayout(m_dockBar);
    dockLayout->setContentsMargins(0, 10, 0, 10);
    m_dock = new TransferActivityDock(m_transferStore, m_dockBar);
    dockLayout->addWidget(m_dock, 0, Qt::AlignHCenter);
    m_dockBar->hide();
    m_bottomBars->addBanner(m_dockBar);
    lendBarsToSection();

    if (m_transferStore) {
        connect(m_transferStore, &TransferStore::phaseChanged, this, &DeviceManagementDashboard::phaseChanged);
        connect(m_transferStore, &TransferStore::selectedTrustedDeviceIDChanged, this,
                &DeviceManagementDashboard::phaseChanged);
        connect(m_transferStore, &TransferStore::sendRefusalChanged, this,
                &DeviceManagementDashboard::renderMessageBar);
        new TaskListFollower(*m_transferStore, this, [this] { renderDock(); });
    }
    if (m_managementStore) {
        connect(m_managementStore, &DeviceManagementStore::messageChanged, this,
                &DeviceManagementDashboard::renderMessageBar);
        connect(m_managementStore, &DeviceManagementStore::errorMessageChanged, this,
                &DeviceManagementDashboard::renderMessageBar);
    }
    if (m_deviceStore) {
        // This phone's USB phone follows the phones listed, its trusted record and the model it reports.
        connect(m_deviceStore, &DeviceStore::devicesChanged, this, &DeviceManagementDashboard::updatePaneFlags);
        if (m_transferStore) {
            connect(m_transferStore, &TransferStore::trustedDevicesChanged, this,
                    &DeviceManagementDashboard::updatePaneFlags);
        }
        if (m_managementStore) {
            connect(m_managementStore, &DeviceManagementStore::snapshotChanged, this,
                    &DeviceManagementDashboard::updatePaneFlags);
        }
    }
    renderMessageBar();
    renderDock();
}

DeviceManagementDashboard::~DeviceManagementDashboard()
{
    // The bars are the dashboard's: they go with it, not before it with the section they are lent to.
    takeBarsBack();
}

void DeviceManagementDashboard::setSection(Section section)
{
    if (m_section == section) {
        return;
    }
    m_section = section;
    renderSection();
    emit sectionChanged();
    if (m_isOnScreen) {
        sectionChangedTo(section);
    }
}

void DeviceManagementDashboard::setContentCategory(ManagedContentCategory category)
{
    if (m_contentCategory == category) {
        return;
    }
    m_contentCategory = category;
    if (auto *pane = qobject_cast<ManagedFilesPane *>(m_sectionPane); pane && pane->selection() != category) {
        pane->setSelection(category);
    }
    emit contentCategoryChanged();
}

bool DeviceManagementDashboard::isManagementConnected() const
{
    return m_transferStore && DeviceManagementDashboardPresentation::isManagementConnected(m_transferStore->phase());
}

std::optional<TrustedDeviceRecord> DeviceManagementDashboard::trustedRecord() const
{
    if (const std::optional<QString> id = m_transferStore ? m_transferStore->selectedTrustedDeviceID() : std::nullopt) {
        for (const TrustedDeviceRecord &candidate : m_transferStore->trustedDevices()) {
            if (candidate.id == *id) {
                return candidate;
            }
        }
    }
    return std::nullopt;
}

std::optional<AndroidDevice> DeviceManagementDashboard::usbDevice() const
{
    if (!m_deviceStore) {
        return std::nullopt;
    }
    return DeviceManagementDashboardPresentation::usbDevice(
        trustedRecord(), m_managementStore ? m_managementStore->snapshot() : std::nullopt, m_deviceStore->devices());
}

bool DeviceManagementDashboard::isBoundBySerial() const
{
    const std::optional<TrustedDeviceRecord> record = trustedRecord();
    return record && record->usbSerial;
}

bool DeviceManagementDashboard::isUSBConnected() const
{
    return DeviceManagementDashboardPresentation::isUSBConnected(usbDevice());
}

QString DeviceManagementDashboard::loadTaskID() const
{
    return DeviceManagementDashboardPresentation::loadTaskID(
        m_transferStore ? m_transferStore->selectedTrustedDeviceID() : std::nullopt, isManagementConnected());
}

void DeviceManagementDashboard::dismissMessage()
{
    if (m_transferStore) {
        m_transferStore->dismissSendRefusal();
    }
    if (m_managementStore) {
        m_managementStore->setMessage(std::nullopt);
        m_managementStore->setErrorMessage(std::nullopt);
    }
}

void DeviceManagementDashboard::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A window coming back from being minimised does not bring the dashboard on screen again.
    if (!event->spontaneous() && !m_isOnScreen) {
        appeared();
    }
}

void DeviceManagementDashboard::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous() && m_isOnScreen) {
        disappeared();
    }
}

void DeviceManagementDashboard::appeared()
{
    m_isOnScreen = true;
    if (isManagementConnected()) {
        m_pollTimer.start();
        pollSnapshot();
    }
    m_lastLoadTaskID = loadTaskID();
    loadSection();
}

void DeviceManagementDashboard::disappeared()
{
    m_isOnScreen = false;
    m_pollTimer.stop();
    m_lastLoadTaskID.clear();
}

void DeviceManagementDashboard::phaseChanged()
{
    updatePaneFlags();
    if (!m_isOnScreen) {
        return;
    }
    // The poll only runs while the phone is connected; a reconnection's snapshot comes from the section load or
    // the next tick.
    if (!isManagementConnected()) {
        m_pollTimer.stop();
    } else if (!m_pollTimer.isActive()) {
        m_pollTimer.start();
    }
    const QString key = loadTaskID();
    if (key != m_lastLoadTaskID) {
        m_lastLoadTaskID = key;
        loadSection();
    }
}

void DeviceManagementDashboard::pollSnapshot()
{
    // A refresh still waiting on the phone is not asked again.
    if (isManagementConnected() && !m_isRefreshingSnapshot) {
        refreshSnapshot();
    }
}

QCoro::Task<void> DeviceManagementDashboard::refreshSnapshot()
{
    const QPointer<DeviceManagementDashboard> self(this);
    const QPointer<DeviceManagementStore> store = m_managementStore;
    if (!store) {
        co_return;
    }
    m_isRefreshingSnapshot = true;
    co_await store->refreshOverview();
    if (self) {
        self->m_isRefreshingSnapshot = false;
    }
}

QCoro::Task<void> DeviceManagementDashboard::loadSection()
{
    if (!m_managementStore) {
        co_return;
    }
    m_managementStore->setActivePeer(m_transferStore ? m_transferStore->selectedTrustedDeviceID() : std::nullopt);
    if (isManagementConnected()) {
        co_await loadSectionContent(m_section);
    }
}

QCoro::Task<void> DeviceManagementDashboard::loadSectionContent(Section section)
{
    // Everything is read before the first wait: the dashboard may be gone when the store answers.
    const QPointer<DeviceManagementStore> store = m_managementStore;
    if (!store) {
        co_return;
    }
    switch (section) {
    case Section::home:
        co_await store->refreshOverview();
        break;
    case Section::content:
        // The files pane loads its category itself whenever the category or the connection changes; asking it
        // here loads only what it has not loaded yet, so entering the section loads the category once.
        if (auto *pane = qobject_cast<ManagedFilesPane *>(m_sectionPane)) {
            pane->startLoadJob();
        }
        break;
    case Section::applications:
        co_await store->loadApplications();
        break;
    }
}

void DeviceManagementDashboard::sectionChangedTo(Section section)
{
    if (isManagementConnected()) {
        loadSectionContent(section);
    }
}

void DeviceManagementDashboard::renderMessageBar()
{
    // Files the user handed over and that were refused come first: that answers what was just done.
    std::optional<QString> error = m_transferStore ? m_transferStore->sendRefusal() : std::nullopt;
    if (!error && m_managementStore) {
        error = m_managementStore->errorMessage();
    }
    const std::optional<ManagementMessageBar::Content> content =
        ManagementMessageBar::contentFor(error, m_managementStore ? m_managementStore->message() : std::nullopt);
    if (content) {
        m_messageBar->setMessage(content->text, content->isError);
    }
    m_messageBar->setVisible(content.has_value());
}

void DeviceManagementDashboard::setPeerName(const QString &peerName)
{
    if (m_peerName == peerName)
        return;
    m_peerName = peerName;
    setWindowTitle(peerName);
    if (auto *overview = qobject_cast<DeviceOverviewPane *>(m_sectionPane))
        overview->setPeerName(peerName);
    else if (auto *files = qobject_cast<ManagedFilesPane *>(m_sectionPane))
        files->setPeerName(peerName);
    else if (auto *applications = qobject_cast<ManagedApplicationsPane *>(m_sectionPane))
        applications->setPeerName(peerName);
}

void DeviceManagementDashboard::renderDock()
{
    m_dockBar->setVisible(m_transferStore && !m_transferStore->tasks().isEmpty());
}

BannerColumn *DeviceManagementDashboard::barsOfSection() const
{
    const auto *files = qobject_cast<ManagedFilesPane *>(m_sectionPane);
    return files ? files->bottomBars() : m_bottomBars;
}

void DeviceManagementDashboard::lendBarsToSection()
{
    if (BannerColumn *bars = barsOfSection(); bars != m_bottomBars) {
        BannerColumn::moveBanners(m_bottomBars, bars, {m_messageBar, m_dockBar});
    }
}

void DeviceManagementDashboard::takeBarsBack()
{
    if (BannerColumn *bars = barsOfSection(); bars != m_bottomBars) {
        BannerColumn::moveBanners(bars, m_bottomBars, {m_messageBar, m_dockBar});
    }
}

void DeviceManagementDashboard::renderSection()
{
    QWidget *old = m_sectionPane;
    // A section opened from the one shown, with the keyboard or a click on a card, takes the keyboard along.
    const bool hadKeyboard = old->isAncestorOf(QApplication::focusWidget());
    takeBarsBack();
    m_sectionPane = makeSectionContent();
    delete m_column->replaceWidget(old, m_sectionPane);
    lendBarsToSection();
    if (hadKeyboard) {
        // Shown now, so that it has the keyboard before the old pane goes: a pane hidden with the keyboard passes it
        // to the next control of the window, the sidebar's.
        m_sectionPane->show();
        if (auto *files = qobject_cast<ManagedFilesPane *>(m_sectionPane)) {
            files->focusContent();
        } else if (auto *applications = qobject_cast<ManagedApplicationsPane *>(m_sectionPane)) {
            applications->focusContent();
        } else if (auto *overview = qobject_cast<DeviceOverviewPane *>(m_sectionPane)) {
            overview->focusContent();
        }
    }
    // The old pane may be the one whose button asked for the change.
    old->hide();
    old->deleteLater();
}

void DeviceManagementDashboard::updatePaneFlags()
{
    const bool management = isManagementConnected();
    const std::optional<AndroidDevice> phoneOnUSB = usbDevice();
    const bool usb = DeviceManagementDashboardPresentation::isUSBConnected(phoneOnUSB);
    if (auto *overview = qobject_cast<DeviceOverviewPane *>(m_sectionPane)) {
        overview->setUSBState(phoneOnUSB ? std::optional(phoneOnUSB->state) : std::nullopt);
    } else if (auto *files = qobject_cast<ManagedFilesPane *>(m_sectionPane)) {
        files->setConnection(management, usb);
    } else if (auto *applications = qobject_cast<ManagedApplicationsPane *>(m_sectionPane)) {
        applications->setManagementConnected(management);
        applications->setUSBConnected(usb);
        applications->setUSBPhone(phoneOnUSB, isBoundBySerial());
    }
}

QWidget *DeviceManagementDashboard::makeSectionContent()
{
    const auto goHome = [this] {
        setSection(Section::home);
    };
    switch (m_section) {
    case Section::home: {
        DeviceOverviewPane::Actions actions{
            m_actions.chooseAPK,
            m_actions.transferAction,
            m_actions.showPairing,
            [this](ManagedContentCategory category) {
                setContentCategory(category);
                setSection(Section::content);
            },
            [this] { setSection(Section::applications); },
            [this](const QStringList &paths) {
                if (m_deviceStore) {
                    m_deviceStore->prepareInstall(paths);
                }
            },
        };
        const std::optional<AndroidDevice> phoneOnUSB = usbDevice();
        return new DeviceOverviewPane(m_peerName, m_transferStore, m_managementStore,
                                      phoneOnUSB ? std::optional(phoneOnUSB->state) : std::nullopt, std::move(actions),
                                      this);
    }
    case Section::content: {
        auto *pane = new ManagedFilesPane(
            m_peerName, m_managementStore, m_contentCategory, isManagementConnected(), isUSBConnected(),
            {m_actions.chooseManagedFiles, m_actions.chooseManagedFolders, goHome}, nullptr, this);
        connect(pane, &ManagedFilesPane::selectionChanged, this, &DeviceManagementDashboard::setContentCategory);
        return pane;
    }
    case Section::applications: {
        auto *pane = new ManagedApplicationsPane(m_peerName, m_managementStore, m_deviceStore, isManagementConnected(),
                                                 isUSBConnected(), {m_actions.chooseAPK, goHome}, this);
        pane->setUSBPhone(usbDevice(), isBoundBySerial());
        return pane;
    }
    }
    return new QWidget(this);
}

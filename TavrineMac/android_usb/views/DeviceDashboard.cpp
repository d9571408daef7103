#include "DeviceDashboard.h"

#include "AdaptiveGridLayout.h"
#include "BannerColumn.h"
#include "CardStyle.h"
#include "DeviceDashboardPresentation.h"
#include "DeviceHero.h"
#include "DeviceStore.h"
#include "DisclosureGroup.h"
#include "InstallActionCard.h"
#include "InstallHistoryCard.h"
#include "InstallPlanCard.h"
#include "InstallStatusBanner.h"
#include "PlainLabel.h"
#include "SectionScrollArea.h"
#include "StatusBanner.h"
#include "TransferActionCard.h"
#include "TransferStatusBanner.h"
#include "TransferStore.h"
#include "TransferTaskCenter.h"
#include "USBCompanionSetupCard.h"
#include "USBPhoneProblemBanner.h"
#include "ViewFonts.h"
#include "ViewMessageBox.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

using namespace DeviceDashboardPresentation;

namespace {

constexpr int pagePadding = 24;
constexpr int sectionSpacing = 18;
constexpr int minimumColumnWidth = 260;
constexpr int gridSpacing = 14;
constexpr int infoLabelWidth = 72;

} // namespace

DeviceDashboard::DeviceDashboard(const AndroidDevice &device, DeviceStore *store, TransferStore *transferStore,
                                 bool showsTransfer, Actions actions, QWidget *parent)
    : QWidget(parent), m_device(device), m_store(store), m_transferStore(transferStore), m_showsTransfer(showsTransfer),
      m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("deviceDashboard"));
    setWindowTitle(m_device.displayName());

    auto *column = new QWidget;
    column->setObjectName(QStringLiteral("dashboardColumn"));
    column->setMaximumWidth(maximumContentWidth);

    m_hero = new DeviceHero(column);
    m_hero->setDevice(m_device);
    m_stateBanner = new StatusBanner(column);
    m_stateBanner->setObjectName(QStringLiteral("deviceStateBanner"));
    // Another phone on the bus may be held by another adb program: said here too, where the user looks.
    m_usbProblemBanner = new USBPhoneProblemBanner(m_store, column);

    auto *heading = new PlainLabel(QStringLiteral("快速操作"), column);
    heading->setObjectName(QStringLiteral("quickActionsHeading"));
    heading->setFont(ViewFonts::title3());
    heading->setContentsMargins(0, 4, 0, 0);

    m_grid = new QWidget(column);
    m_grid->setObjectName(QStringLiteral("quickActionGrid"));
    auto *grid = new AdaptiveGridLayout(minimumColumnWidth, gridSpacing, gridSpacing, m_grid);
    grid->setContentsMargins(0, 0, 0, 0);
    m_companionCard = new USBCompanionSetupCard([this] { confirmCompanionInstall(); },
                                                [this] {
                                                    if (m_actions.transferAction) {
                                                        m_actions.transferAction();
                                                    }
                                                },
                                                m_grid);
    m_installCard = new InstallActionCard(m_actions.chooseAPK, m_grid);
    m_transferCard = new TransferActionCard(m_actions.transferAction, m_actions.showPairing, m_grid);
    grid->addWidget(m_companionCard);
    grid->addWidget(m_installCard);
    grid->addWidget(m_transferCard);

    m_planCard = new InstallPlanCard(
        [this] {
            // Installed on the phone of this page, whichever phone the store has selected.
            if (m_store) {
                m_store->installPendingPlan(m_device.id());
            }
        },
        [this] {
            if (m_store) {
                m_store->setPendingInstallPlan(std::nullopt);
            }
        },
        column);
    m_installBanner = new InstallStatusBanner(column);
    m_historyCard = new InstallHistoryCard(column);
    m_transferBanner = new TransferStatusBanner(
        [this] {
            if (m_transferStore && !m_transferStore->revealReceiveFolder()) {
                m_transferBanner->showRevealProblem(revealProblemText(m_transferStore->receiveFolder()));
            }
        },
        column);
    m_deviceInfo = makeDeviceInfo(column);

    m_columnLayout = new QVBoxLayout(column);
    m_columnLayout->setContentsMargins(0, 0, 0, 0);
    m_columnLayout->setSpacing(sectionSpacing);
    for (QWidget *section :
         std::initializer_list<QWidget *>{m_hero, heading, m_grid, m_planCard, m_historyCard, m_deviceInfo}) {
        m_columnLayout->addWidget(section);
    }
    m_columnLayout->addStretch(1);
    placeTaskCenter();

    // The column keeps to the leading edge; beyond its widest the page's extra width stays empty.
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("dashboardPage"));
    auto *pageLayout = new QHBoxLayout(page);
    pageLayout->setContentsMargins(pagePadding, pagePadding, pagePadding, pagePadding);
    pageLayout->addWidget(column, 1);
    pageLayout->addStretch(0);

    // A screen reader reads the page as a section named as the phone it shows.
    m_scrollArea = new SectionScrollArea(m_device.displayName(), this);
    m_scrollArea->setObjectName(QStringLiteral("dashboardScrollArea"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setWidget(page);
    // The page's own background shows through.
    m_scrollArea->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);

    // The banners come and go on their own as the phone, an install or a transfer moves on: under the page, whose
    // cards stay where the pointer is on them.
    auto *banners = new BannerColumn(QMargins(pagePadding, 12, pagePadding, 12), 12, this);
    for (QWidget *banner :
         std::initializer_list<QWidget *>{m_stateBanner, m_usbProblemBanner, m_installBanner, m_transferBanner}) {
        banner->setMaximumWidth(maximumContentWidth);
        banners->addBanner(banner);
    }

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_scrollArea, 1);
    layout->addWidget(banners);

    if (m_store) {
        for (const auto signal : {&DeviceStore::devicesChanged, &DeviceStore::selectedDeviceIDChanged,
                                  &DeviceStore::installStateChanged, &DeviceStore::pendingInstallPlanChanged,
                                  &DeviceStore::installHistoryChanged, &DeviceStore::companionInstallStateChanged}) {
            connect(m_store, signal, this, &DeviceDashboard::render);
        }
    }
    if (m_transferStore) {
        connect(m_transferStore, &TransferStore::phaseChanged, this, &DeviceDashboard::render);
        connect(m_transferStore, &TransferStore::latestEventChanged, this, &DeviceDashboard::render);
    }
    render();
}

DisclosureGroup *DeviceDashboard::makeDeviceInfo(QWidget *parent)
{
    auto *group = new DisclosureGroup(QStringLiteral("设备信息"), 12, parent);
    group->setObjectName(QStringLiteral("deviceInfo"));
    CardStyle::setSecondary(group->toggle());
    m_deviceInfo = group;
    fillDeviceInfo();
    return group;
}

void DeviceDashboard::fillDeviceInfo()
{
    if (m_deviceFacts) {
        m_deviceInfo->contentLayout()->removeWidget(m_deviceFacts);
        m_deviceFacts->deleteLater();
    }
    auto *facts = new QWidget(m_deviceInfo->content());
    auto *grid = new QGridLayout(facts);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(10);
    int row = 0;
    for (const DeviceInfoRow &info : deviceInfoRows(m_device)) {
        auto *label = new PlainLabel(info.label, facts);
        label->setFixedWidth(infoLabelWidth);
        auto *value = new PlainLabel(info.value, facts);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setObjectName(QStringLiteral("deviceInfoValue"));
        for (QLabel *cell : {label, value}) {
            CardStyle::setSecondary(cell);
        }
        grid->addWidget(label, row, 0, Qt::AlignLeft);
        grid->addWidget(value, row, 1, Qt::AlignLeft);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    m_deviceInfo->contentLayout()->addWidget(facts);
    m_deviceFacts = facts;
}

// The task list belongs here only while the transfer store's phone is this one; it stands above the facts.
void DeviceDashboard::placeTaskCenter()
{
    const bool shows = m_showsTransfer && m_transferStore;
    if (shows && !m_taskCenter) {
        m_taskCenter = new TransferTaskCenter(m_transferStore, m_deviceInfo->parentWidget());
        m_columnLayout->insertWidget(m_columnLayout->indexOf(m_deviceInfo), m_taskCenter);
    } else if (!shows && m_taskCenter) {
        m_columnLayout->removeWidget(m_taskCenter);
        m_taskCenter->hide();
        m_taskCenter->deleteLater();
        m_taskCenter = nullptr;
    }
}

void DeviceDashboard::setDevice(const AndroidDevice &device, bool showsTransfer)
{
    const bool factsChanged = device != m_device;
    m_device = device;
    m_showsTransfer = showsTransfer;
    setWindowTitle(m_device.displayName());
    m_scrollArea->setAccessibleName(m_device.displayName());
    m_hero->setDevice(m_device);
    if (factsChanged) {
        fillDeviceInfo();
    }
    placeTaskCenter();
    render();
}

void DeviceDashboard::render()
{
    const TransferStore::Phase::Kind phase =
        m_transferStore ? m_transferStore->phase().kind : TransferStore::Phase::Kind::idle;
    const QList<QuickAction> shown = quickActions(m_showsTransfer, phase);
    m_companionCard->setVisible(shown.contains(QuickAction::companionSetup));
    m_installCard->setVisible(shown.contains(QuickAction::install));
    m_transferCard->setVisible(shown.contains(QuickAction::transfer));

    const QString deviceName = m_device.displayName();
    m_stateBanner->setStyle(deviceStateBanner(m_device));
    // Only this phone's install shows here: another phone's outcome belongs to that phone's page.
    const DeviceStore::InstallState installState =
        m_store ? m_store->installStateFor(m_device.id()) : DeviceStore::InstallState::idle();
    m_installCard->setValues(m_device.state == AndroidDevice::State::authorized,
                             installState.kind == DeviceStore::InstallState::Kind::installing);
    m_transferCard->setValues(phase, deviceName);

    if (m_store) {
        m_companionCard->setValues(
            companionCardValues(m_store->companionArtifact(), m_store->companionArtifactErrorMessage(),
                                m_store->canInstallCompanion(), m_store->companionInstallState()));
        const std::optional<APKInstallPlan> &plan = m_store->pendingInstallPlan();
        m_planCard->setVisible(plan.has_value());
        if (plan) {
            m_planCard->setPlan(*plan, deviceName);
        }
        m_installBanner->setState(installState);
        m_historyCard->setRecords(historyForDevice(m_store->installHistory(), m_device, m_store->devices()));
    } else {
        m_planCard->setVisible(false);
    }
    m_transferBanner->setEvent(m_transferStore ? m_transferStore->latestEvent() : std::nullopt);
}

void DeviceDashboard::confirmCompanionInstall()
{
    m_isConfirmingCompanionInstall = true;
    const QString message =
        companionConfirmationMessage(m_device.displayName(), m_store ? m_store->companionArtifact() : std::nullopt);
    // Asked without waiting: the page may be replaced while the question is open (the phone unplugged).
    ViewMessageBox::openQuestion(this, QMessageBox::Question, companionConfirmationTitle, message,
                                 {{companionConfirmationAccept, QMessageBox::AcceptRole},
                                  {companionConfirmationCancel, QMessageBox::RejectRole}},
                                 [guard = QPointer(this), asked = m_device](QMessageBox::ButtonRole answer) {
                                     if (guard) {
                                         guard->companionInstallAnswered(answer, asked);
                                     }
                                 });
}

void DeviceDashboard::companionInstallAnswered(QMessageBox::ButtonRole answer, const AndroidDevice &asked)
{
    m_isConfirmingCompanionInstall = false;
    if (answer != QMessageBox::AcceptRole) {
        return;
    }
    // A failed or finished companion flow must not show through while the new pairing starts.
    if (m_store) {
        m_store->setCompanionInstallState(DeviceStore::CompanionInstallState::idle());
    }
    if (m_actions.installCompanionAction) {
        m_actions.installCompanionAction(asked);
    }
}

void DeviceDashboard::paintEvent(QPaintEvent *)
{
    CardStyle::paintScreenBackground(this, 0.24);
}

#include "ManagedApplicationsPane.h"
#include "MenuButton.h"

#include "AppOperationBanner.h"
#include "ApplicationListModel.h"
#include "ApplicationTile.h"
#include "BannerColumn.h"
#include "CardButton.h"
#include "CardStyle.h"
#include "ClampedLabel.h"
#include "DeviceManagementStore.h"
#include "DeviceStore.h"
#include "DisclosureGroup.h"
#include "ElidedLabel.h"
#include "InstallPlanCard.h"
#include "InstallStatusBanner.h"
#include "PlainLabel.h"
#include "SelectableWrappedText.h"
#include "SpinningIndicator.h"
#include "StatusBanner.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"
#include "ViewMessageBox.h"

#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ManagedApplicationsPresentation;

namespace {

constexpr int detailsWidth = 240;
constexpr int tileSpacing = 12;
constexpr int gridPadding = 16;
constexpr int detailsSymbolPixels = 38;
constexpr int placeholderSymbolPixels = 40;

QFrame *line(Qt::Orientation orientation, QWidget *parent)
{
    auto *divider = new QFrame(parent);
    divider->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    return divider;
}

// A centred symbol with a title and an optional description, for the states without content.
QWidget *unavailableView(Symbol symbol, QLabel **title, QLabel **description, QWidget *parent)
{
    auto *view = new QWidget(parent);
    auto *layout = new QVBoxLayout(view);
    layout->addStretch();
    layout->addWidget(CardStyle::symbolLabel(symbol, ViewColors::secondary(), placeholderSymbolPixels, view), 0,
                      Qt::AlignHCenter);
    *title = new PlainLabel(view);
    (*title)->setFont(ViewFonts::title3());
    (*title)->setAlignment(Qt::AlignCenter);
    (*title)->setWordWrap(true);
    layout->addWidget(*title);
    if (description) {
        *description = new PlainLabel(view);
        (*description)->setAlignment(Qt::AlignCenter);
        (*description)->setWordWrap(true);
        CardStyle::setSecondary(*description);
        layout->addWidget(*description);
    }
    layout->addStretch();
    return view;
}

QPushButton *wideButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

} // namespace

ManagedApplicationsPane::ManagedApplicationsPane(const QString &peerName, DeviceManagementStore *managementStore,
                                                 DeviceStore *deviceStore, bool isManagementConnected,
                                                 bool isUSBConnected, Actions actions, QWidget *parent)
    : QWidget(parent), m_managementStore(managementStore), m_deviceStore(deviceStore), m_peerName(peerName),
      m_isManagementConnected(isManagementConnected), m_isUSBConnected(isUSBConnected), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("managedApplicationsPane"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildHeader(layout);
    layout->addWidget(line(Qt::Horizontal, this));

    m_planSection = new QWidget(this);
    auto *planLayout = new QVBoxLayout(m_planSection);
    planLayout->setContentsMargins(0, 0, 0, 0);
    planLayout->setSpacing(0);
    m_planCard = new InstallPlanCard(
        [this] {
            const std::optional<QString> deviceID = targetDeviceID();
            if (m_deviceStore && deviceID) {
                m_deviceStore->installPendingPlan(deviceID);
            }
        },
        [this] {
            if (m_deviceStore) {
                m_deviceStore->setPendingInstallPlan(std::nullopt);
            }
        },
        m_planSection);
    auto *planPadding = new QVBoxLayout;
    planPadding->setContentsMargins(16, 16, 16, 16);
    planPadding->addWidget(m_planCard);
    planLayout->addLayout(planPadding);
    planLayout->addWidget(line(Qt::Horizontal, m_planSection));
    layout->addWidget(m_planSection);

    m_mainStack = new QStackedWidget(this);
    auto *connected = new QWidget(m_mainStack);
    auto *columns = new QHBoxLayout(connected);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    m_listStack = new QStackedWidget(connected);
    auto *loading = new QWidget(m_listStack);
    auto *loadingRow = new QHBoxLayout(loading);
    loadingRow->setSpacing(10);
    loadingRow->addStretch();
    loadingRow->addWidget(new SpinningIndicator(16, loading));
    auto *loadingLabel = new PlainLabel(QStringLiteral("正在读取应用…"), loading);
    CardStyle::setSecondary(loadingLabel);
    loadingRow->addWidget(loadingLabel);
    loadingRow->addStretch();
    m_listStack->addWidget(loading);
    QLabel *emptyTitle = nullptr;
    m_listStack->addWidget(unavailableView(Symbol::squareGrid3x3, &emptyTitle, nullptr, m_listStack));
    emptyTitle->setText(QStringLiteral("没有匹配的应用"));

    m_model = new ApplicationListModel(this);
    m_listView = new QListView(m_listStack);
    m_listView->setAccessibleName(QStringLiteral("应用"));
    m_listView->setObjectName(QStringLiteral("applicationList"));
    m_listView->setModel(m_model);
    m_listView->setItemDelegate(new ApplicationTile(m_listView));
    m_listView->setViewMode(QListView::ListMode);
    m_listView->setFlow(QListView::LeftToRight);
    m_listView->setWrapping(true);
    m_listView->setResizeMode(QListView::Adjust);
    m_listView->setUniformItemSizes(true);
    m_listView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listView->setFrameShape(QFrame::NoFrame);
    m_listView->setSpacing(0);
    m_listView->setContentsMargins(gridPadding - tileSpacing / 2, gridPadding - tileSpacing / 2,
                                   gridPadding - tileSpacing / 2, gridPadding - tileSpacing / 2);
    m_listView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_listView->setContextMenuPolicy(Qt::CustomContextMenu);
    m_listView->viewport()->installEventFilter(this);
    m_listView->viewport()->setAutoFillBackground(false);
    m_listStack->addWidget(m_listView);
    // The arrow keys move the current tile as a click does: the details follow it.
    connect(m_listView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                const QString packageName = current.data(ApplicationListModel::packageNameRole).toString();
                if (current.isValid() && m_selectedApplicationID != packageName) {
                    setSelectedApplicationID(packageName);
                }
            });
    connect(m_listView, &QListView::clicked, this, [this](const QModelIndex &index) {
        setSelectedApplicationID(index.data(ApplicationListModel::packageNameRole).toString());
    });
    connect(m_listView, &QListView::doubleClicked, this, [this](const QModelIndex &index) {
        const auto application = index.data(ApplicationListModel::applicationRole).value<ManagedApplication>();
        setSelectedApplicationID(application.packageName);
        if (application.launchable) {
            launch(application);
        }
    });
    connect(m_listView, &QListView::customContextMenuRequested, this, &ManagedApplicationsPane::showContextMenu);

    columns->addWidget(m_listStack, 1);
    columns->addWidget(line(Qt::Vertical, connected));
    columns->addWidget(buildDetails());
    m_mainStack->addWidget(connected);
    m_mainStack->addWidget(
        unavailableView(Symbol::wifiSlash, &m_disconnectedTitle, &m_disconnectedDescription, m_mainStack));
    layout->addWidget(m_mainStack, 1);

    // The banners come on their own (an outcome, the phone's state): under the list and the details, so that what
    // the pointer is on stays where it is when one appears, and the list gives up its lowest rows to it.
    auto *banners = new BannerColumn(QMargins(16, 8, 16, 8), 16, this);
    m_usbStateBanner = new StatusBanner(banners);
    m_usbStateBanner->setObjectName(QStringLiteral("usbStateBanner"));
    m_installBanner = new InstallStatusBanner(banners);
    m_operationBanner = new AppOperationBanner(banners);
    for (QWidget *banner : {static_cast<QWidget *>(m_usbStateBanner), static_cast<QWidget *>(m_installBanner),
                            static_cast<QWidget *>(m_operationBanner)}) {
        banners->addBanner(banner);
    }
    layout->addWidget(banners);

    if (m_managementStore) {
        DeviceManagementStore *store = m_managementStore;
        connect(store, &DeviceManagementStore::applicationsChanged, this,
                &ManagedApplicationsPane::applicationsChanged);
        connect(store, &DeviceManagementStore::isLoadingApplicationsChanged, this, [this] {
            renderHeader();
            renderMain();
        });
        connect(store, &DeviceManagementStore::activePeerIDChanged, this,
                [this] { setSelectedApplicationID(std::nullopt); });
        connect(store, &DeviceManagementStore::snapshotChanged, this, [this] {
            renderHeader();
            renderInstall();
            renderDetails();
        });
        connect(store, &DeviceManagementStore::applicationQueryChanged, this, [this] {
            if (m_searchField->text() != m_managementStore->applicationQuery()) {
                m_searchField->setText(m_managementStore->applicationQuery());
            }
        });
        connect(store, &DeviceManagementStore::applicationFilterChanged, this, [this] {
            m_scopePicker->setCurrentIndex(
                int(DeviceManagementStore::allAppFilters().indexOf(m_managementStore->applicationFilter())));
            refresh();
        });
        m_model->setApplications(store->applications());
        m_searchField->setText(store->applicationQuery());
        m_scopePicker->setCurrentIndex(int(DeviceManagementStore::allAppFilters().indexOf(store->applicationFilter())));
    }
    if (m_deviceStore) {
        DeviceStore *store = m_deviceStore;
        // The phone a question was asked about, plugged in again, is asked about still.
        connect(store, &DeviceStore::devicesRenamed, this, [this](const QHash<QString, QString> &renamedIDs) {
            for (std::optional<AndroidDevice> &target : m_questionTargets) {
                if (const auto renamed = target && renamedIDs.contains(target->id())
                                             ? m_deviceStore->device(renamedIDs.value(target->id()))
                                             : std::nullopt) {
                    target = renamed;
                }
            }
        });
        for (const auto signal : {&DeviceStore::devicesChanged, &DeviceStore::pendingInstallPlanChanged,
                                  &DeviceStore::installStateChanged, &DeviceStore::appOperationStateChanged}) {
            connect(store, signal, this, [this] {
                renderHeader();
                renderInstall();
                renderDetails();
            });
        }
    }
    // Only the user's choices from here on reach the store.
    connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (m_managementStore) {
            m_managementStore->setApplicationQuery(text);
        }
    });
    connect(m_searchField, &QLineEdit::returnPressed, this, &ManagedApplicationsPane::refresh);
    connect(m_scopePicker, &QComboBox::activated, this, [this](int index) {
        if (m_managementStore) {
            m_managementStore->setApplicationFilter(DeviceManagementStore::allAppFilters().value(index));
        }
    });

    renderHeader();
    renderInstall();
    renderMain();
    renderDetails();
}

ManagedApplicationsPane::~ManagedApplicationsPane()
{
    // Questions still open go first, while the pane is whole.
    for (const QPointer<QMessageBox> &box : m_openQuestions) {
        delete box.data();
    }
}

void ManagedApplicationsPane::buildHeader(QVBoxLayout *layout)
{
    auto *header = new QWidget(this);
    auto *headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(24, 18, 24, 14);
    headerLayout->setSpacing(14);

    m_backButton = new QToolButton(header);
    m_backButton->setObjectName(QStringLiteral("applicationsBackButton"));
    m_backButton->setAutoRaise(true);
    m_backButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_backButton->setIcon(SymbolIcon::icon(Symbol::chevronLeft, ViewColors::secondary()));
    CardStyle::setSecondary(m_backButton);
    connect(m_backButton, &QToolButton::clicked, this, [this] {
        if (m_actions.goHome) {
            m_actions.goHome();
        }
    });
    headerLayout->addWidget(m_backButton, 0, Qt::AlignLeft);

    m_titleLabel = new PlainLabel(QStringLiteral("应用"), header);
    m_titleLabel->setFont(ViewFonts::title());
    m_searchField = new QLineEdit(header);
    m_searchField->setObjectName(QStringLiteral("applicationSearchField"));
    m_searchField->setPlaceholderText(QStringLiteral("搜索应用"));
    m_searchField->setClearButtonEnabled(true);
    m_scopePicker = new QComboBox(header);
    m_scopePicker->setObjectName(QStringLiteral("applicationScopePicker"));
    m_scopePicker->setToolTip(QStringLiteral("范围"));
    m_scopePicker->setFixedWidth(120);
    m_scopePicker->addItems({QStringLiteral("用户应用"), QStringLiteral("系统应用"), QStringLiteral("全部")});
    // Prominent: filled with the accent colour, its title and symbol in white.
    m_installButton = new CardButton(CardButton::Kind::prominent, CardButton::Size::regular, ViewColors::blue(),
                                     QStringLiteral("安装 APK"), header);
    m_installButton->setIcon(SymbolIcon::icon(Symbol::plus, Qt::white));
    m_installButton->setObjectName(QStringLiteral("installAPKButton"));
    connect(m_installButton, &QPushButton::clicked, this, [this] {
        if (m_actions.chooseAPK) {
            m_actions.chooseAPK();
        }
    });
    m_refreshButton = new QToolButton(header);
    m_refreshButton->setObjectName(QStringLiteral("applicationsRefreshButton"));
    m_refreshButton->setIcon(SymbolIcon::icon(Symbol::arrowClockwise, palette().color(QPalette::WindowText)));
    m_refreshButton->setToolTip(QStringLiteral("刷新"));
    m_refreshButton->setAccessibleName(QStringLiteral("刷新"));
    connect(m_refreshButton, &QToolButton::clicked, this, &ManagedApplicationsPane::refresh);

    m_topRow = new QHBoxLayout;
    m_topRow->setSpacing(12);
    m_topRow->addWidget(m_titleLabel);
    m_topRow->addSpacing(8);
    m_topRow->addStretch(1);
    m_topRow->addWidget(m_installButton);
    m_topRow->addWidget(m_refreshButton);
    m_bottomRow = new QHBoxLayout;
    m_bottomRow->setSpacing(10);
    headerLayout->addLayout(m_topRow);
    headerLayout->addLayout(m_bottomRow);
    layOutHeader();
    layout->addWidget(header);
}

// Search and scope sit in the title row while everything fits there, else in a row of their own.
void ManagedApplicationsPane::layOutHeader()
{
    const int wideWidth = 24 * 2 + m_titleLabel->sizeHint().width() + 8 + 200 + 120 +
                          m_installButton->sizeHint().width() + m_refreshButton->sizeHint().width() + 5 * 12;
    const bool wide = width() >= wideWidth;
    // The first arrangement places the search field and the scope, which start in neither row.
    if (m_isWideHeader == wide) {
        return;
    }
    m_isWideHeader = wide;
    m_topRow->removeWidget(m_searchField);
    m_topRow->removeWidget(m_scopePicker);
    m_bottomRow->removeWidget(m_searchField);
    m_bottomRow->removeWidget(m_scopePicker);
    if (wide) {
        m_searchField->setFixedWidth(200);
        const int installIndex = m_topRow->indexOf(m_installButton);
        m_topRow->insertWidget(installIndex, m_scopePicker);
        m_topRow->insertWidget(installIndex, m_searchField);
    } else {
        m_searchField->setMinimumWidth(0);
        m_searchField->setMaximumWidth(QWIDGETSIZE_MAX);
        m_bottomRow->addWidget(m_searchField, 1);
        m_bottomRow->addWidget(m_scopePicker);
    }
}

QWidget *ManagedApplicationsPane::buildDetails()
{
    m_detailsStack = new QStackedWidget(this);
    m_detailsStack->setFixedWidth(detailsWidth);
    QLabel *noneTitle = nullptr;
    m_detailsStack->addWidget(unavailableView(Symbol::app, &noneTitle, nullptr, m_detailsStack));
    noneTitle->setText(QStringLiteral("选择一个应用"));

    // The column is as tall as its texts need and scrolls where the pane is shorter: squeezed, its labels lay over
    // the icon and over each other, or lost their height.
    auto *scrollArea = new QScrollArea(m_detailsStack);
    scrollArea->setObjectName(QStringLiteral("applicationDetails"));
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setWidgetResizable(true);
    // Tab goes to the buttons inside, and the area scrolls to the one that has the keyboard; a stop on the area itself
    // would be one without a name.
    scrollArea->setFocusPolicy(Qt::NoFocus);
    scrollArea->viewport()->setAutoFillBackground(false);
    auto *details = new QWidget;
    details->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(details);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(18);
    auto *headline = new PlainLabel(QStringLiteral("应用详情"), details);
    headline->setFont(ViewFonts::body(QFont::DemiBold));
    layout->addWidget(headline);
    m_detailsIcon = new PlainLabel(details);
    m_detailsIcon->setFixedSize(76, 76);
    m_detailsIcon->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_detailsIcon);

    auto *names = new QVBoxLayout;
    names->setSpacing(4);
    m_detailsName = new ClampedLabel(2, details);
    m_detailsName->setFont(ViewFonts::title2());
    m_detailsVersion = new ElidedLabel(Qt::ElideRight, details);
    m_detailsVersion->setObjectName(QStringLiteral("applicationVersion"));
    CardStyle::setSecondary(m_detailsVersion);
    names->addWidget(m_detailsName);
    names->addWidget(m_detailsVersion);
    layout->addLayout(names);

    m_openButton = wideButton(QStringLiteral("打开"), details);
    m_openButton->setDefault(true);
    connect(m_openButton, &QPushButton::clicked, this, [this] {
        if (const std::optional<ManagedApplication> application = selectedApplication()) {
            launch(*application);
        }
    });
    m_detailsButton = wideButton(QStringLiteral("在手机上查看详情"), details);
    connect(m_detailsButton, &QPushButton::clicked, this, [this] {
        if (const std::optional<ManagedApplication> application = selectedApplication()) {
            showDetails(*application);
        }
    });
    m_moreActionsButton = new MenuPushButton(QStringLiteral("更多操作"), details);
    m_moreActionsButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_moreActionsButton->setIcon(SymbolIcon::icon(Symbol::ellipsisCircle, palette().color(QPalette::ButtonText)));
    m_moreActionsButton->setMenu(new QMenu(m_moreActionsButton));
    connect(m_moreActionsButton->menu(), &QMenu::aboutToShow, this, &ManagedApplicationsPane::fillMoreActions);
    layout->addWidget(m_openButton);
    layout->addWidget(m_detailsButton);
    layout->addWidget(m_moreActionsButton);
    layout->addWidget(line(Qt::Horizontal, details));

    auto *advanced = new DisclosureGroup(QStringLiteral("高级信息"), 8, details);
    advanced->contentLayout()->setSpacing(8);
    // A package name has no blanks: it wraps anywhere rather than being cut, and copies as it stands.
    m_packageLabel = new SelectableWrappedText(advanced->content());
    m_packageLabel->setObjectName(QStringLiteral("packageName"));
    m_packageLabel->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    CardStyle::setSecondary(m_packageLabel);
    advanced->contentLayout()->addWidget(m_packageLabel);
    m_versionCodeLabel = new PlainLabel(advanced->content());
    m_kindLabel = new PlainLabel(advanced->content());
    for (QLabel *label : {m_versionCodeLabel, m_kindLabel}) {
        label->setFont(ViewFonts::caption());
        CardStyle::setSecondary(label);
        advanced->contentLayout()->addWidget(label);
    }
    layout->addWidget(advanced);
    layout->addStretch(1);
    scrollArea->setWidget(details);
    m_detailsStack->addWidget(scrollArea);
    return m_detailsStack;
}

void ManagedApplicationsPane::setPeerName(const QString &peerName)
{
    m_peerName = peerName;
    renderHeader();
}

void ManagedApplicationsPane::setManagementConnected(bool connected)
{
    m_isManagementConnected = connected;
    renderHeader();
    renderMain();
}

void ManagedApplicationsPane::setUSBConnected(bool connected)
{
    m_isUSBConnected = connected;
    renderMain();
}

void ManagedApplicationsPane::setUSBPhone(const std::optional<AndroidDevice> &usbPhone, bool isBound)
{
    m_usbPhone = usbPhone;
    m_isUSBPhoneBound = isBound;
    m_usbStateBanner->setStyle(m_usbPhone ? DeviceDashboardPresentation::deviceStateBanner(*m_usbPhone) : std::nullopt);
    renderHeader();
    renderInstall();
}

void ManagedApplicationsPane::setSelectedApplicationID(const std::optional<QString> &packageName)
{
    m_selectedApplicationID = packageName;
    const int row = packageName ? m_model->rowOf(*packageName) : -1;
    if (row < 0) {
        m_listView->clearSelection();
    } else {
        m_listView->setCurrentIndex(m_model->index(row));
    }
    renderDetails();
}

std::optional<ManagedApplication> ManagedApplicationsPane::selectedApplication() const
{
    if (!m_selectedApplicationID || !m_managementStore) {
        return std::nullopt;
    }
    for (const ManagedApplication &application : m_managementStore->applications()) {
        if (application.packageName == *m_selectedApplicationID) {
            return application;
        }
    }
    return std::nullopt;
}

std::optional<AndroidDevice> ManagedApplicationsPane::usbTargetDevice() const
{
    if (!m_managementStore || !m_deviceStore) {
        return std::nullopt;
    }
    if (m_isUSBPhoneBound) {
        // A stranger of its model plugged in while it is away is not this phone.
        return m_usbPhone && m_usbPhone->state == AndroidDevice::State::authorized ? m_usbPhone : std::nullopt;
    }
    return ManagedApplicationsPresentation::usbTargetDevice(m_managementStore->snapshot(), m_deviceStore->devices());
}

std::optional<QString> ManagedApplicationsPane::targetDeviceID() const
{
    const std::optional<AndroidDevice> target = usbTargetDevice();
    return target ? std::optional<QString>(target->id()) : std::nullopt;
}

void ManagedApplicationsPane::launch(const ManagedApplication &application)
{
    if (m_managementStore) {
        m_managementStore->launchApplication(application);
    }
}

void ManagedApplicationsPane::showDetails(const ManagedApplication &application)
{
    if (m_managementStore) {
        m_managementStore->showApplicationDetails(application);
    }
}

void ManagedApplicationsPane::refresh()
{
    if (m_managementStore) {
        m_managementStore->loadApplications();
    }
}

// The USB operations name the phone this dashboard shows on USB, whichever phone the device store has selected;
// without such a phone nothing starts.
void ManagedApplicationsPane::forceStop(const ManagedApplication &application,
                                        const std::optional<AndroidDevice> &usbPhone)
{
    if (m_deviceStore && usbPhone) {
        m_deviceStore->performAppOperation(QStringLiteral("正在停止 ") + application.name,
                                           DeviceStore::forceStopOperation(application.packageName, application.name),
                                           usbPhone);
    }
}

void ManagedApplicationsPane::requestUninstall(const ManagedApplication &application)
{
    m_pendingUninstall = application;
    ask(Question::uninstall, uninstallConfirmation(m_pendingUninstall));
}

void ManagedApplicationsPane::requestClearData(const ManagedApplication &application,
                                               const std::optional<AndroidDevice> &usbPhone)
{
    m_pendingClearData = application;
    ask(Question::clearData, clearDataConfirmation(m_pendingClearData, usbPhone), usbPhone);
}

void ManagedApplicationsPane::requestUSBUninstall(const ManagedApplication &application,
                                                  const std::optional<AndroidDevice> &usbPhone)
{
    m_pendingUSBUninstall = application;
    ask(Question::usbUninstall, usbUninstallConfirmation(m_pendingUSBUninstall, usbPhone), usbPhone);
}

// The question stays open while the phones, the list or the dashboard change, and the pane may be gone when it
// is answered: the answer reaches the pane only while it exists and only for the question still asked.
void ManagedApplicationsPane::ask(Question question, const Confirmation &confirmation,
                                  const std::optional<AndroidDevice> &usbPhone)
{
    const auto slot = size_t(question);
    const quint64 generation = ++m_nextQuestionGeneration;
    m_questionGenerations[slot] = generation;
    m_questionTargets[slot] = usbPhone;
    if (const QPointer<QMessageBox> previous = std::exchange(m_openQuestions[slot], nullptr)) {
        previous->close();
    }
    const QPointer<ManagedApplicationsPane> self(this);
    QMessageBox *box = ViewMessageBox::openQuestion(
        this, QMessageBox::Warning, confirmation.title, confirmation.message,
        {{confirmation.confirmText, QMessageBox::DestructiveRole}, {QStringLiteral("取消"), QMessageBox::RejectRole}},
        [self, question, generation](QMessageBox::ButtonRole role) {
            if (self) {
                self->answer(question, generation, role == QMessageBox::DestructiveRole);
            }
        });
    if (m_questionGenerations[slot] == generation) {
        m_openQuestions[slot] = box;
    }
}

std::optional<AndroidDevice> ManagedApplicationsPane::answerTarget(size_t slot)
{
    // Never the target now: another phone of the same model may have taken the place of the one asked about. A phone
    // gone meanwhile is still named, and the store says it is gone.
    return std::exchange(m_questionTargets[slot], std::nullopt);
}

void ManagedApplicationsPane::answer(Question question, quint64 generation, bool confirmed)
{
    const auto slot = size_t(question);
    if (m_questionGenerations[slot] != generation) {
        return;
    }
    m_openQuestions[slot] = nullptr;
    switch (question) {
    case Question::uninstall: {
        const std::optional<ManagedApplication> pending = std::exchange(m_pendingUninstall, std::nullopt);
        if (confirmed && pending && m_managementStore) {
            m_managementStore->uninstallApplication(*pending);
        }
        break;
    }
    case Question::clearData: {
        const std::optional<ManagedApplication> pending = std::exchange(m_pendingClearData, std::nullopt);
        const std::optional<AndroidDevice> usbPhone = answerTarget(slot);
        if (confirmed && pending && usbPhone && m_deviceStore) {
            m_deviceStore->performAppOperation(QStringLiteral("正在清除 ") + pending->name + QStringLiteral(" 的数据"),
                                               DeviceStore::clearDataOperation(pending->packageName, pending->name),
                                               usbPhone);
        }
        break;
    }
    case Question::usbUninstall: {
        const std::optional<ManagedApplication> pending = std::exchange(m_pendingUSBUninstall, std::nullopt);
        const std::optional<AndroidDevice> usbPhone = answerTarget(slot);
        if (confirmed && pending && usbPhone && m_deviceStore) {
            m_deviceStore->performAppOperation(QStringLiteral("正在卸载 ") + pending->name,
                                               DeviceStore::uninstallOperation(pending->packageName, pending->name),
                                               usbPhone);
        }
        break;
    }
    }
}

void ManagedApplicationsPane::applicationsChanged()
{
    const QList<ManagedApplication> applications =
        m_managementStore ? m_managementStore->applications() : QList<ManagedApplication>();
    m_model->setApplications(applications);
    setSelectedApplicationID(selectionAfterListChange(m_selectedApplicationID, applications));
    renderMain();
}

void ManagedApplicationsPane::renderHeader()
{
    m_backButton->setText(m_peerName);
    const bool hasTarget = usbTargetDevice().has_value();
    m_installButton->setEnabled(hasTarget);
    m_installButton->setToolTip(installHelp(hasTarget, m_usbPhone));
    m_searchField->setEnabled(m_isManagementConnected);
    m_scopePicker->setEnabled(m_isManagementConnected);
    const bool loading = m_managementStore && m_managementStore->isLoadingApplications();
    m_refreshButton->setEnabled(m_isManagementConnected && !loading);
}

void ManagedApplicationsPane::renderInstall()
{
    if (!m_deviceStore) {
        m_planSection->hide();
        return;
    }
    // The plan is installed on the target, so it is offered only while there is one and names it.
    const std::optional<AndroidDevice> target = usbTargetDevice();
    const std::optional<APKInstallPlan> &plan = m_deviceStore->pendingInstallPlan();
    m_planSection->setVisible(plan && target);
    if (plan && target) {
        m_planCard->setPlan(*plan, target->displayName());
    }
    // Only this phone's outcomes show here: another phone's belong to that phone's page.
    const std::optional<QString> phone = target       ? std::optional(target->id())
                                         : m_usbPhone ? std::optional(m_usbPhone->id())
                                                      : std::nullopt;
    m_installBanner->setState(m_deviceStore->installStateFor(phone));
    m_operationBanner->setState(m_deviceStore->appOperationStateFor(phone));
}

void ManagedApplicationsPane::renderMain()
{
    m_mainStack->setCurrentIndex(m_isManagementConnected ? 0 : 1);
    const Unavailable unavailable = disconnectedContent(m_isUSBConnected);
    m_disconnectedTitle->setText(unavailable.title);
    m_disconnectedDescription->setText(unavailable.description);
    const bool loading = m_managementStore && m_managementStore->isLoadingApplications();
    m_listStack->setCurrentIndex(int(listContent(loading, m_model->rowCount())));
    // The main area has the keyboard only while it holds it for the list still loading (focusContent).
    if (m_mainStack->hasFocus() && m_listView->isVisibleTo(m_mainStack)) {
        m_listView->setFocus(Qt::OtherFocusReason);
    }
}

void ManagedApplicationsPane::focusContent()
{
    (m_listView->isVisibleTo(m_mainStack) ? static_cast<QWidget *>(m_listView) : m_mainStack)
        ->setFocus(Qt::OtherFocusReason);
}

void ManagedApplicationsPane::renderDetails()
{
    const std::optional<ManagedApplication> application = selectedApplication();
    m_detailsStack->setCurrentIndex(application ? 1 : 0);
    if (!application) {
        return;
    }
    const QColor tint = application->system ? ViewColors::secondary() : ViewColors::blue();
    const Symbol symbol = SymbolIcon::named(applicationSymbolName(*application)).value_or(Symbol::app);
    m_detailsIcon->setPixmap(SymbolIcon::pixmap(symbol, tint, detailsSymbolPixels, devicePixelRatioF()));
    m_detailsIcon->setStyleSheet(QStringLiteral("background: rgba(%1, %2, %3, 0.08); border-radius: 18px;")
                                     .arg(tint.red())
                                     .arg(tint.green())
                                     .arg(tint.blue()));
    m_detailsName->setText(application->name);
    m_detailsVersion->setText(QStringLiteral("版本 ") + application->versionName);
    m_openButton->setVisible(application->launchable);
    m_moreActionsButton->setVisible(!application->system);
    m_packageLabel->setText(application->packageName);
    m_versionCodeLabel->setText(QStringLiteral("版本代码 ") + QString::number(application->versionCode));
    m_kindLabel->setText(application->system ? QStringLiteral("系统应用") : QStringLiteral("用户应用"));
}

void ManagedApplicationsPane::fillMenu(QMenu *menu, const ManagedApplication &application,
                                       const QList<ApplicationAction> &actions,
                                       const std::optional<AndroidDevice> &usbPhone)
{
    for (const ApplicationAction action : actions) {
        if (action == ApplicationAction::divider) {
            menu->addSeparator();
            continue;
        }
        QAction *item = menu->addAction(actionTitle(action));
        item->setData(int(action));
        // Each item works on copies, so it acts on the application and the phone it was offered for.
        connect(item, &QAction::triggered, this, [this, application, action, usbPhone] {
            switch (action) {
            case ApplicationAction::open:
                launch(application);
                break;
            case ApplicationAction::showDetails:
                showDetails(application);
                break;
            case ApplicationAction::uninstall:
                requestUninstall(application);
                break;
            case ApplicationAction::forceStop:
                forceStop(application, usbPhone);
                break;
            case ApplicationAction::clearData:
                requestClearData(application, usbPhone);
                break;
            case ApplicationAction::uninstallOverUSB:
                requestUSBUninstall(application, usbPhone);
                break;
            case ApplicationAction::divider:
                break;
            }
        });
    }
}

void ManagedApplicationsPane::fillMoreActions()
{
    QMenu *menu = m_moreActionsButton->menu();
    menu->clear();
    if (const std::optional<ManagedApplication> application = selectedApplication()) {
        const std::optional<AndroidDevice> usbPhone = usbTargetDevice();
        fillMenu(menu, *application, moreActions(*application, usbPhone.has_value()), usbPhone);
    }
}

void ManagedApplicationsPane::showContextMenu(const QPoint &position)
{
    const QModelIndex index = m_listView->indexAt(position);
    if (!index.isValid()) {
        return;
    }
    const auto application = index.data(ApplicationListModel::applicationRole).value<ManagedApplication>();
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillMenu(menu, application, contextMenuActions(application));
    menu->popup(m_listView->viewport()->mapToGlobal(position));
}

QStringList ManagedApplicationsPane::visibleTitles() const
{
    QStringList titles;
    for (const QLabel *label : findChildren<QLabel *>()) {
        if (label->isVisibleTo(this) && !label->text().isEmpty()) {
            titles.append(label->text());
        }
    }
    return titles;
}

void ManagedApplicationsPane::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOutHeader();
}

// Columns of at least the tile's minimum width share the viewport's width.
bool ManagedApplicationsPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_listView->viewport() && event->type() == QEvent::Resize) {
        const int available = m_listView->viewport()->width();
        const int columns = std::max(1, available / (ApplicationTile::minimumWidth() + tileSpacing));
        const QSize cell(available / columns, ApplicationTile::height + tileSpacing);
        if (m_listView->gridSize() != cell) {
            m_listView->setGridSize(cell);
        }
    }
    return QWidget::eventFilter(watched, event);
}

#include "DeviceOverviewPane.h"

#include "AdaptiveGridLayout.h"
#include "CardStyle.h"
#include "DeviceManagementDashboardPresentation.h"
#include "DeviceManagementStore.h"
#include "DeviceStatusRow.h"
#include "ElidedLabel.h"
#include "FlatButton.h"
#include "FocusMark.h"
#include "HomeQuickAction.h"
#include "LocalNames.h"
#include "OverviewInfoRow.h"
#include "PlainLabel.h"
#include "RecentContentTile.h"
#include "SectionScrollArea.h"
#include "SpinningIndicator.h"
#include "SymbolIcon.h"
#include "TaskListFollower.h"
#include "TransferStore.h"
#include "TrustedDeviceManager.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace DeviceManagementDashboardPresentation;

namespace {

// Room kept between the details brought into view and the pane's edge: the card's own padding.
constexpr int detailsViewMargin = 18;

// A rounded panel behind its children.
class Panel : public QWidget
{
public:
    Panel(qreal radius, std::function<QColor(const QWidget *)> fill, QWidget *parent = nullptr)
        : QWidget(parent), m_radius(radius), m_fill(std::move(fill))
    {}

protected:
    void paintEvent(QPaintEvent *) override { CardStyle::paintPanel(this, m_radius, m_fill(this)); }

private:
    qreal m_radius;
    std::function<QColor(const QWidget *)> m_fill;
};

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new PlainLabel(text, parent);
    label->setFont(ViewFonts::title3());
    return label;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    CardStyle::setTextColor(line, CardStyle::separator(parent));
    return line;
}

// A label with a symbol before its text, both in `color`.
QWidget *symbolTextRow(Symbol symbol, const QString &text, const QFont &font, const QColor &color, int symbolPixels,
                       QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(CardStyle::symbolLabel(symbol, color, symbolPixels, row));
    auto *label = new PlainLabel(text, row);
    label->setFont(font);
    label->setWordWrap(true);
    CardStyle::setTextColor(label, color);
    layout->addWidget(label, 1);
    return row;
}

} // namespace

DeviceOverviewPane::DeviceOverviewPane(const QString &peerName, TransferStore *transferStore,
                                       DeviceManagementStore *managementStore,
                                       std::optional<AndroidDevice::State> usbState, Actions actions, QWidget *parent)
    : QWidget(parent), m_peerName(peerName), m_transferStore(transferStore), m_managementStore(managementStore),
      m_usbState(usbState), m_actions(std::move(actions))
{
    setAcceptDrops(true);

    auto *page = new QWidget;
    auto *centring = new QHBoxLayout(page);
    centring->setContentsMargins(0, 0, 0, 0);
    auto *column = new QWidget(page);
    column->setObjectName(QStringLiteral("overviewColumn"));
    column->setMaximumWidth(maximumColumnWidth);
    auto *columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(30, 26, 30, 28);
    columnLayout->setSpacing(24);
    columnLayout->addWidget(buildHeader());
    columnLayout->addWidget(buildQuickActions());
    columnLayout->addWidget(buildRecentContent());
    columnLayout->addWidget(buildStatus());
    columnLayout->addStretch(1);
    centring->addStretch(0);
    centring->addWidget(column, 1);
    centring->addStretch(0);

    m_scrollArea = new SectionScrollArea(rawValue(DashboardSection::home), this);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidget(page);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scrollArea);

    m_dropOverlay = new Panel(
        18, [](const QWidget *) { return CardStyle::withOpacity(ViewColors::blue(), 0.08); }, this);
    m_dropOverlay->setObjectName(QStringLiteral("dropOverlay"));
    m_dropOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *overlayLayout = new QVBoxLayout(m_dropOverlay);
    overlayLayout->addWidget(symbolTextRow(Symbol::arrowDownDocFill, QStringLiteral("松开即可发送到手机"),
                                           ViewFonts::title2(), ViewColors::blue(), CardStyle::title2SymbolPixels,
                                           m_dropOverlay),
                             0, Qt::AlignCenter);
    m_dropOverlay->hide();

    if (m_transferStore) {
        connect(m_transferStore, &TransferStore::phaseChanged, this, &DeviceOverviewPane::renderConnection);
        new TaskListFollower(*m_transferStore, this, [this] { renderRecent(); });
    }
    if (m_managementStore) {
        connect(m_managementStore, &DeviceManagementStore::snapshotChanged, this, [this] {
            renderConnection();
            renderStatus();
        });
        connect(m_managementStore, &DeviceManagementStore::isLoadingOverviewChanged, this,
                &DeviceOverviewPane::renderStatus);
    }
    renderConnection();
    renderRecent();
    renderStatus();
}

QWidget *DeviceOverviewPane::buildHeader()
{
    auto *header = new QWidget;
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(22);

    auto *phone = new Panel(
        20, [](const QWidget *widget) { return CardStyle::controlBackground(widget); }, header);
    phone->setFixedSize(82, 96);
    auto *phoneLayout = new QVBoxLayout(phone);
    phoneLayout->addWidget(CardStyle::symbolLabel(Symbol::smartphone, palette().color(QPalette::WindowText), 40, phone),
                           0, Qt::AlignCenter);
    row->addWidget(phone);

    auto *stack = new QVBoxLayout;
    stack->setSpacing(8);
    auto *name = new ElidedLabel(Qt::ElideRight, header);
    name->setObjectName(QStringLiteral("peerName"));
    name->setFont(ViewFonts::title());
    name->setText(m_peerName);
    stack->addWidget(name);
    m_peerNameLabel = name;

    auto *line = new QHBoxLayout;
    line->setSpacing(7);
    m_connectionDot = new PlainLabel(header);
    m_connectionDot->setFixedSize(8, 8);
    m_connectionLabel = new PlainLabel(header);
    m_connectionLabel->setObjectName(QStringLiteral("connectionSummary"));
    m_connectionLabel->setFont(ViewFonts::body());
    CardStyle::setSecondary(m_connectionLabel);
    line->addWidget(m_connectionDot);
    line->addWidget(m_connectionLabel);
    line->addStretch(1);
    stack->addLayout(line);

    m_detailsButton = new QPushButton(detailsButtonTitle(false), header);
    m_detailsButton->setObjectName(QStringLiteral("detailsButton"));
    connect(m_detailsButton, &QPushButton::clicked, this, &DeviceOverviewPane::toggleDetails);
    stack->addWidget(m_detailsButton, 0, Qt::AlignLeft);
    row->addLayout(stack, 1);
    return header;
}

QWidget *DeviceOverviewPane::buildQuickActions()
{
    auto *section = new QWidget;
    auto *stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(14);
    stack->addWidget(heading(QStringLiteral("快速操作"), section));
    auto *grid = new QWidget(section);
    auto *gridLayout = new AdaptiveGridLayout(240, 14, 14, grid);
    for (const QuickActionItem &item : quickActions()) {
        std::function<void()> action;
        switch (item.target) {
        case QuickActionTarget::sendFiles:
            action = m_actions.transferAction;
            break;
        case QuickActionTarget::photos:
            action = [this] {
                openContent(ManagedContentCategory::photos);
            };
            break;
        case QuickActionTarget::browsePhone:
            action = [this] {
                openContent(ManagedContentCategory::allFiles);
            };
            break;
        case QuickActionTarget::applications:
            action = m_actions.openApplications;
            break;
        }
        gridLayout->addWidget(new HomeQuickAction(item.title, item.icon, item.isPrimary, std::move(action), grid));
    }
    stack->addWidget(grid);
    return section;
}

QWidget *DeviceOverviewPane::buildRecentContent()
{
    auto *section = new QWidget;
    auto *stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(14);

    auto *header = new QHBoxLayout;
    header->addWidget(heading(QStringLiteral("最近内容"), section));
    header->addStretch(1);
    m_browseButton = new FlatButton(QStringLiteral("浏览手机"), section);
    m_browseButton->setObjectName(QStringLiteral("browsePhoneButton"));
    m_browseButton->setCursor(Qt::PointingHandCursor);
    CardStyle::setTextColor(m_browseButton, ViewColors::blue());
    connect(m_browseButton, &QPushButton::clicked, this, [this] { openContent(ManagedContentCategory::allFiles); });
    header->addWidget(m_browseButton);
    stack->addLayout(header);

    const QColor secondary = CardStyle::withOpacity(palette().color(QPalette::WindowText), 0.6);
    m_recentEmpty = symbolTextRow(Symbol::photoStack, QStringLiteral("传输过的照片和文件会显示在这里"),
                                  ViewFonts::body(), secondary, CardStyle::title2SymbolPixels, section);
    m_recentEmpty->layout()->setSpacing(12);
    m_recentEmpty->layout()->setContentsMargins(0, 18, 0, 18);
    stack->addWidget(m_recentEmpty);

    m_recentGrid = new QWidget(section);
    m_recentGrid->setObjectName(QStringLiteral("recentGrid"));
    m_recentLayout = new AdaptiveGridLayout(145, 12, 12, m_recentGrid);
    stack->addWidget(m_recentGrid);
    return section;
}

QWidget *DeviceOverviewPane::buildStatus()
{
    auto *area = new QWidget;
    auto *stack = new QVBoxLayout(area);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(24);

    m_statusCard = new Panel(
        16, [](const QWidget *widget) { return CardStyle::withOpacity(CardStyle::controlBackground(widget), 0.55); },
        area);
    m_statusCard->setObjectName(QStringLiteral("deviceStatusCard"));
    auto *card = new QVBoxLayout(m_statusCard);
    card->setContentsMargins(18, 18, 18, 18);
    card->setSpacing(14);
    card->addWidget(heading(QStringLiteral("设备状态"), m_statusCard));
    m_batteryRow = new DeviceStatusRow(batterySymbolName(false), QStringLiteral("电池"), {}, m_statusCard);
    m_batteryRow->setObjectName(QStringLiteral("batteryRow"));
    card->addWidget(m_batteryRow);
    card->addWidget(divider(m_statusCard));
    m_storageRow = new DeviceStatusRow(QStringLiteral("internaldrive"), QStringLiteral("可用空间"), {}, m_statusCard);
    m_storageRow->setObjectName(QStringLiteral("storageRow"));
    card->addWidget(m_storageRow);

    m_detailsBlock = new QWidget(m_statusCard);
    m_detailsBlock->setObjectName(QStringLiteral("detailsBlock"));
    auto *details = new QVBoxLayout(m_detailsBlock);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(14);
    details->addWidget(divider(m_detailsBlock));
    m_infoRowsLayout = new QVBoxLayout;
    m_infoRowsLayout->setContentsMargins(0, 4, 0, 0);
    m_infoRowsLayout->setSpacing(11);
    details->addLayout(m_infoRowsLayout);
    auto *manager = new TrustedDeviceManager(
        m_transferStore, true,
        [this] {
            if (m_transferStore) {
                m_transferStore->beginNewPairing();
            }
            if (m_actions.showPairing) {
                m_actions.showPairing();
            }
        },
        m_detailsBlock);
    details->addWidget(manager);
    m_detailsBlock->hide();
    card->addWidget(m_detailsBlock);
    stack->addWidget(m_statusCard);

    m_permissionHint = new Panel(
        12, [](const QWidget *) { return CardStyle::withOpacity(ViewColors::orange(), 0.08); }, area);
    m_permissionHint->setObjectName(QStringLiteral("permissionHint"));
    auto *hint = new QVBoxLayout(m_permissionHint);
    hint->setContentsMargins(14, 14, 14, 14);
    hint->addWidget(symbolTextRow(Symbol::exclamationmarkTriangleFill,
                                  QStringLiteral("在手机上允许文件管理后，即可浏览照片和文档。"), ViewFonts::callout(),
                                  ViewColors::orange(), 16, m_permissionHint));
    stack->addWidget(m_permissionHint);

    m_syncingRow = new QWidget(area);
    m_syncingRow->setObjectName(QStringLiteral("syncingRow"));
    auto *syncing = new QHBoxLayout(m_syncingRow);
    syncing->setContentsMargins(0, 0, 0, 0);
    syncing->setSpacing(10);
    auto *spinner = new SpinningIndicator(16, m_syncingRow);
    spinner->setColor(ViewColors::secondary());
    syncing->addWidget(spinner);
    auto *syncingText = new PlainLabel(QStringLiteral("正在同步设备状态…"), m_syncingRow);
    CardStyle::setSecondary(syncingText);
    syncing->addWidget(syncingText);
    syncing->addStretch(1);
    stack->addWidget(m_syncingRow);
    return area;
}

void DeviceOverviewPane::focusContent()
{
    m_detailsButton->setFocus(Qt::OtherFocusReason);
}

void DeviceOverviewPane::openContent(ManagedContentCategory category)
{
    if (m_actions.openContent) {
        m_actions.openContent(category);
    }
}

void DeviceOverviewPane::setUSBState(std::optional<AndroidDevice::State> usbState)
{
    if (m_usbState != usbState) {
        m_usbState = usbState;
        renderConnection();
    }
}

void DeviceOverviewPane::toggleDetails()
{
    m_isShowingDetails = !m_isShowingDetails;
    m_detailsButton->setText(detailsButtonTitle(m_isShowingDetails));
    m_detailsBlock->setVisible(m_isShowingDetails);
    if (m_isShowingDetails) {
        bringDetailsIntoView();
    }
}

void DeviceOverviewPane::bringDetailsIntoView()
{
    // The details open at the foot of the column, often below the pane's lower edge, where nothing would show that
    // the button did anything: the page comes up to them, as far as keeps their top in view.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QRect details(m_detailsBlock->mapTo(m_scrollArea->widget(), QPoint(0, 0)), m_detailsBlock->size());
    QScrollBar *scrollBar = m_scrollArea->verticalScrollBar();
    const int toBottom = details.bottom() + detailsViewMargin - m_scrollArea->viewport()->height();
    scrollBar->setValue(std::min(details.top() - detailsViewMargin, std::max(scrollBar->value(), toBottom)));
    // Pressed from the keyboard, which stays on the button: the button stays in view, and Tab brings the details.
    if (FocusMark::showsOn(*m_detailsButton)) {
        m_scrollArea->ensureWidgetVisible(m_detailsButton);
    }
}

bool DeviceOverviewPane::handleDrop(const QList<QUrl> &urls)
{
    const DropDecision decision = dropDecision(urls);
    switch (decision.kind) {
    case DropDecision::Kind::reject:
        return false;
    case DropDecision::Kind::install:
        if (m_actions.installURLs) {
            m_actions.installURLs(decision.paths);
        }
        break;
    case DropDecision::Kind::send:
        if (m_transferStore) {
            m_transferStore->sendFiles(decision.paths);
        }
        break;
    }
    return true;
}

void DeviceOverviewPane::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
        setDropTargeted(true);
    }
}

void DeviceOverviewPane::dragLeaveEvent(QDragLeaveEvent *)
{
    setDropTargeted(false);
}

void DeviceOverviewPane::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    if (handleDrop(event->mimeData()->urls())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void DeviceOverviewPane::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_dropOverlay->setGeometry(rect().adjusted(18, 18, -18, -18));
}

void DeviceOverviewPane::setDropTargeted(bool targeted)
{
    m_isDropTargeted = targeted;
    m_dropOverlay->setVisible(targeted);
    if (targeted) {
        m_dropOverlay->raise();
    }
}

void DeviceOverviewPane::renderConnection()
{
    const bool managementConnected = m_transferStore && isManagementConnected(m_transferStore->phase());
    const std::optional<qint64> battery =
        m_managementStore ? batteryPercent(m_managementStore->snapshot()) : std::nullopt;
    m_connectionLabel->setText(connectionSummaryText(managementConnected, m_usbState, battery));
    const bool usbConnected = m_usbState == AndroidDevice::State::authorized;
    const QColor dot = managementConnected || usbConnected ? ViewColors::green() : ViewColors::secondary();
    m_connectionDot->setStyleSheet(QStringLiteral("border-radius: 4px; background: %1;").arg(dot.name()));
}

void DeviceOverviewPane::setPeerName(const QString &peerName)
{
    m_peerName = peerName;
    m_peerNameLabel->setText(peerName);
}

void DeviceOverviewPane::renderRecent()
{
    const QList<TransferTaskRecord> tasks =
        m_transferStore ? recentTasks(m_transferStore->tasks()) : QList<TransferTaskRecord>();
    // The list changes with every step of every task, mostly not in what the tiles show: the tiles already there
    // take the new tasks in place, so that only what changed is drawn again.
    while (m_recentLayout->count() > tasks.size()) {
        QLayoutItem *item = m_recentLayout->takeAt(m_recentLayout->count() - 1);
        delete item->widget();
        delete item;
    }
    for (qsizetype index = 0; index < tasks.size(); ++index) {
        if (index < m_recentLayout->count()) {
            static_cast<RecentContentTile *>(m_recentLayout->itemAt(int(index))->widget())->setTask(tasks[index]);
        } else {
            m_recentLayout->addWidget(new RecentContentTile(tasks[index], m_recentGrid));
        }
    }
    m_browseButton->setVisible(!tasks.isEmpty());
    m_recentEmpty->setVisible(tasks.isEmpty());
    m_recentGrid->setVisible(!tasks.isEmpty());
}

void DeviceOverviewPane::renderStatus()
{
    const std::optional<ManagedDeviceSnapshot> snapshot =
        m_managementStore ? m_managementStore->snapshot() : std::nullopt;
    const StatusArea area =
        statusArea(snapshot.has_value(), m_managementStore && m_managementStore->isLoadingOverview());
    m_statusCard->setVisible(area == StatusArea::statusCard);
    m_permissionHint->setVisible(showsPermissionHint(snapshot));
    m_syncingRow->setVisible(area == StatusArea::syncing);
    if (!snapshot) {
        return;
    }
    m_batteryRow->setIcon(batterySymbolName(snapshot->battery.charging));
    m_batteryRow->setValue(batteryValue(snapshot->battery.percent));
    m_storageRow->setValue(fileByteCount(snapshot->storage.availableBytes));
    while (QLayoutItem *item = m_infoRowsLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const auto &[label, value] : deviceInfoRows(*snapshot)) {
        m_infoRowsLayout->addWidget(new OverviewInfoRow(label, value, m_detailsBlock));
    }
}

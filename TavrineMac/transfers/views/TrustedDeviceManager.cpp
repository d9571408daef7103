#include "TrustedDeviceManager.h"

#include "DisclosureGroup.h"
#include "SymbolIcon.h"
#include "TransferStore.h"
#include "TrustedDeviceManagementPresentation.h"
#include "TrustedDeviceManagementRow.h"

#include <QHash>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>

namespace {

constexpr auto lastSeenRefreshInterval = std::chrono::seconds(30);
constexpr int listSpacing = 10;

} // namespace

TrustedDeviceManager::TrustedDeviceManager(TransferStore *store, bool showsDisclosure, std::function<void()> addDevice,
                                           QWidget *parent)
    : QWidget(parent), m_store(store), m_addDevice(std::move(addDevice))
{
    setObjectName(QStringLiteral("trustedDeviceManager"));

    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(listSpacing);

    m_addDeviceButton = new QPushButton(QStringLiteral("添加另一台手机"), this);
    m_addDeviceButton->setObjectName(QStringLiteral("addDeviceButton"));
    m_addDeviceButton->setIcon(SymbolIcon::icon(Symbol::plus, palette().color(QPalette::ButtonText), 14));
    m_addDeviceButton->setStyleSheet(
        QStringLiteral("QPushButton#addDeviceButton { text-align: left; padding: 5px 10px; }"));
    m_addDeviceButton->setAutoDefault(false);
    m_addDeviceButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_addDeviceButton, &QPushButton::clicked, this, [this] {
        if (m_addDevice) {
            m_addDevice();
        }
    });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(listSpacing);
    QVBoxLayout *list = layout;
    if (showsDisclosure) {
        m_disclosure = new DisclosureGroup(QStringLiteral("管理可信设备"), listSpacing, this);
        m_disclosure->setObjectName(QStringLiteral("trustedDeviceDisclosure"));
        layout->addWidget(m_disclosure);
        list = m_disclosure->contentLayout();
        list->setSpacing(listSpacing);
    }
    list->addLayout(m_rowsLayout);
    list->addWidget(m_addDeviceButton);
    layout->addStretch(1);

    if (m_store) {
        connect(m_store, &TransferStore::trustedDevicesChanged, this, &TrustedDeviceManager::refresh);
        connect(m_store, &TransferStore::selectedTrustedDeviceIDChanged, this, &TrustedDeviceManager::refresh);
    }
    m_lastSeenTimer.setInterval(lastSeenRefreshInterval);
    connect(&m_lastSeenTimer, &QTimer::timeout, this, &TrustedDeviceManager::refreshLastSeen);
    m_lastSeenTimer.start();
    refresh();
}

void TrustedDeviceManager::refresh()
{
    const QList<TrustedDeviceRecord> devices = m_store ? m_store->trustedDevices() : QList<TrustedDeviceRecord>();
    const std::optional<QString> selected = m_store ? m_store->selectedTrustedDeviceID() : std::nullopt;

    // Rows are kept by device id: a row's name field holds what the user typed until the row goes away.
    QHash<QString, TrustedDeviceManagementRow *> existing;
    for (TrustedDeviceManagementRow *row : std::as_const(m_rows)) {
        existing.insert(row->device().id, row);
    }
    QList<TrustedDeviceManagementRow *> ordered;
    for (const TrustedDeviceRecord &device : devices) {
        const bool isSelected = TrustedDeviceManagementPresentation::isSelected(device, selected);
        if (TrustedDeviceManagementRow *row = existing.take(device.id)) {
            row->setDevice(device, isSelected);
            ordered.append(row);
            continue;
        }
        const QString id = device.id;
        const QPointer<TransferStore> store = m_store;
        ordered.append(new TrustedDeviceManagementRow(
            device, isSelected,
            [store, id] {
                if (store) {
                    store->selectTrustedDevice(id);
                }
            },
            [store, id](const QString &name) {
                if (store) {
                    store->renameTrustedDevice(id, name);
                }
            },
            [store, id] {
                if (store) {
                    store->forgetTrustedDevice(id);
                }
            },
            this));
    }
    for (TrustedDeviceManagementRow *row : std::as_const(existing)) {
        m_rowsLayout->removeWidget(row);
        row->hide();
        // The row's own confirmation may be what removed it.
        row->deleteLater();
    }
    if (ordered != m_rows) {
        for (TrustedDeviceManagementRow *row : std::as_const(ordered)) {
            m_rowsLayout->removeWidget(row);
        }
        for (TrustedDeviceManagementRow *row : std::as_const(ordered)) {
            m_rowsLayout->addWidget(row);
            row->show();
        }
        m_rows = ordered;
    }
    orderTabStops();
}

void TrustedDeviceManager::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A page built apart and then put into its window joins the window's Tab order in the order its widgets were
    // made.
    orderTabStops();
}

void TrustedDeviceManager::orderTabStops()
{
    // Tab goes as the eye reads, from the group's header down the rows to the add button: by the order they were
    // made, the button and the header came before every row.
    QList<QWidget *> stops;
    if (m_disclosure) {
        stops.append(m_disclosure->toggle());
    }
    for (const TrustedDeviceManagementRow *row : std::as_const(m_rows)) {
        stops += row->tabStops();
    }
    stops.append(m_addDeviceButton);
    for (qsizetype index = 1; index < stops.size(); ++index) {
        setTabOrder(stops[index - 1], stops[index]);
    }
}

void TrustedDeviceManager::refreshLastSeen()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (TrustedDeviceManagementRow *row : std::as_const(m_rows)) {
        row->refreshLastSeen(now);
    }
}

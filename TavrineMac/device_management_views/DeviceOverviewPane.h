#pragma once

#include "AndroidDevice.h"
#include "ManagedContentCategory.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class AdaptiveGridLayout;
class DeviceManagementStore;
class DeviceStatusRow;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class TransferStore;
class TrustedDeviceManager;

// The home section of a trusted phone's dashboard: who the phone is and how it is connected, four quick actions,
// the latest transfers and, with a snapshot, the phone's battery and free space, on request its details and the
// list of trusted phones. Files dropped on it are sent to the phone, or installed when all are Android packages.
class DeviceOverviewPane : public QWidget
{
    Q_OBJECT

public:
    // The dashboard's and the host's actions; the pane only calls them.
    struct Actions
    {
        std::function<void()> chooseAPK; // held for the host, not used here
        std::function<void()> transferAction;
        std::function<void()> showPairing;
        std::function<void(ManagedContentCategory)> openContent;
        std::function<void()> openApplications;
        std::function<void(const QStringList &paths)> installURLs;
    };

    static constexpr int maximumColumnWidth = 1120;

    // `usbState`: the state of the phone's USB phone, none while it is not plugged in.
    DeviceOverviewPane(const QString &peerName, TransferStore *transferStore, DeviceManagementStore *managementStore,
                       std::optional<AndroidDevice::State> usbState, Actions actions, QWidget *parent = nullptr);

    void setUSBState(std::optional<AndroidDevice::State> usbState);
    void setPeerName(const QString &peerName);
    bool isShowingDetails() const { return m_isShowingDetails; }
    void toggleDetails();
    bool isDropTargeted() const { return m_isDropTargeted; }
    // Installs or sends the local files of a drop; false (nothing happens) when it holds none.
    bool handleDrop(const QList<QUrl> &urls);
    // Gives the keyboard to the section's first control, the details button: the column is no stop of its own.
    void focusContent();

    // For tests.
    QScrollArea *scrollArea() const { return m_scrollArea; }
    QLabel *connectionLabel() const { return m_connectionLabel; }
    QPushButton *detailsButton() const { return m_detailsButton; }
    QWidget *recentGrid() const { return m_recentGrid; }
    QWidget *statusCard() const { return m_statusCard; }
    QWidget *dropOverlay() const { return m_dropOverlay; }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildQuickActions();
    QWidget *buildRecentContent();
    QWidget *buildStatus();
    void setDropTargeted(bool targeted);
    void openContent(ManagedContentCategory category);
    void renderConnection();
    void renderRecent();
    void renderStatus();
    void bringDetailsIntoView();

    QString m_peerName;
    QLabel *m_peerNameLabel = nullptr;
    QPointer<TransferStore> m_transferStore;
    QPointer<DeviceManagementStore> m_managementStore;
    std::optional<AndroidDevice::State> m_usbState;
    const Actions m_actions;
    bool m_isShowingDetails = false;
    bool m_isDropTargeted = false;

    QScrollArea *m_scrollArea = nullptr;
    QLabel *m_connectionDot = nullptr;
    QLabel *m_connectionLabel = nullptr;
    QPushButton *m_detailsButton = nullptr;
    QPushButton *m_browseButton = nullptr;
    QWidget *m_recentEmpty = nullptr;
    QWidget *m_recentGrid = nullptr;
    AdaptiveGridLayout *m_recentLayout = nullptr;
    QWidget *m_statusCard = nullptr;
    DeviceStatusRow *m_batteryRow = nullptr;
    DeviceStatusRow *m_storageRow = nullptr;
    QWidget *m_detailsBlock = nullptr;
    QVBoxLayout *m_infoRowsLayout = nullptr;
    QWidget *m_permissionHint = nullptr;
    QWidget *m_syncingRow = nullptr;
    QWidget *m_dropOverlay = nullptr;
};

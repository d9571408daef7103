#pragma once

#include "AndroidDevice.h"
#include "DeviceManagementDashboardPresentation.h"
#include "ManagedContentCategory.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <qcorotask.h>

#include <chrono>
#include <functional>

class BannerColumn;
class DeviceManagementStore;
class DeviceStore;
class ManagementMessageBar;
class QVBoxLayout;
class TransferActivityDock;
class TransferStore;

// The screen on which the user manages one trusted phone: the pane of the current section (overview, content,
// applications) with, under its content, the management store's message bar and, while there are transfer tasks, the
// activity dock.
// It keeps only the section and the content category. While on screen it refreshes the phone's snapshot every
// 15 s as long as the phone is connected, and loads the shown section whenever the phone, its connection or the
// section changes.
class DeviceManagementDashboard : public QWidget
{
    Q_OBJECT

public:
    using Section = DashboardSection;

    // The host window's actions; the dashboard only hands them to its panes.
    struct Actions
    {
        std::function<void()> chooseAPK;
        std::function<void()> chooseManagedFiles;
        std::function<void()> chooseManagedFolders;
        std::function<void()> transferAction;
        std::function<void()> showPairing;
    };

    static constexpr std::chrono::seconds snapshotPollInterval{15};

    DeviceManagementDashboard(const QString &peerName, TransferStore *transferStore,
                              DeviceManagementStore *managementStore, DeviceStore *deviceStore, Actions actions,
                              Section section = Section::home,
                              ManagedContentCategory contentCategory = ManagedContentCategory::allFiles,
                              QWidget *parent = nullptr);
    ~DeviceManagementDashboard() override;

    const QString &peerName() const { return m_peerName; }
    // The phone shown was renamed: the section on screen keeps its state.
    void setPeerName(const QString &peerName);
    Section section() const { return m_section; }
    // Changing the section while on screen loads the new one when the phone is connected.
    void setSection(Section section);
    ManagedContentCategory contentCategory() const { return m_contentCategory; }
    void setContentCategory(ManagedContentCategory category);

    bool isManagementConnected() const;
    // This phone's adb device, in whatever state (DeviceManagementDashboardPresentation::usbDevice).
    std::optional<AndroidDevice> usbDevice() const;
    // The trusted record of this phone: the transfer store's selected one.
    std::optional<TrustedDeviceRecord> trustedRecord() const;
    // The record knows its phone by a USB serial.
    bool isBoundBySerial() const;
    bool isUSBConnected() const;
    QString loadTaskID() const;

    // The message bar's close action: drops the message and the error alike.
    void dismissMessage();

    // For tests: whether the snapshot poll is running, and the parts on screen.
    bool isPollingSnapshot() const { return m_pollTimer.isActive(); }
    QWidget *sectionPane() const { return m_sectionPane; }
    ManagementMessageBar *messageBar() const { return m_messageBar; }
    TransferActivityDock *activityDock() const { return m_dock; }

signals:
    void sectionChanged();
    void contentCategoryChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void appeared();
    void disappeared();
    void phaseChanged();
    void pollSnapshot();
    QCoro::Task<void> refreshSnapshot();
    QCoro::Task<void> loadSection();
    QCoro::Task<void> loadSectionContent(Section section);
    void sectionChangedTo(Section section);
    void renderMessageBar();
    void renderDock();
    // The bars under the section's content: the files section's own, where the message and the dock are lent, or the
    // dashboard's.
    BannerColumn *barsOfSection() const;
    void lendBarsToSection();
    void takeBarsBack();
    void renderSection();
    void updatePaneFlags();
    QWidget *makeSectionContent();

    QString m_peerName;
    QPointer<TransferStore> m_transferStore;
    QPointer<DeviceManagementStore> m_managementStore;
    QPointer<DeviceStore> m_deviceStore;
    const Actions m_actions;
    Section m_section;
    ManagedContentCategory m_contentCategory;

    bool m_isOnScreen = false;
    QString m_lastLoadTaskID;
    bool m_isRefreshingSnapshot = false;
    QTimer m_pollTimer;

    QVBoxLayout *m_column = nullptr;
    ManagementMessageBar *m_messageBar = nullptr;
    QWidget *m_sectionPane = nullptr;
    BannerColumn *m_bottomBars = nullptr;
    QWidget *m_dockBar = nullptr;
    TransferActivityDock *m_dock = nullptr;
};

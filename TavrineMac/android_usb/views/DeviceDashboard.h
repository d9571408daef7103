#pragma once

#include "AndroidDevice.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>

class AdaptiveGridLayout;
class DeviceHero;
class DeviceStore;
class DisclosureGroup;
class InstallActionCard;
class InstallHistoryCard;
class InstallPlanCard;
class InstallStatusBanner;
class QScrollArea;
class QVBoxLayout;
class StatusBanner;
class TransferActionCard;
class TransferStatusBanner;
class TransferStore;
class TransferTaskCenter;
class USBCompanionSetupCard;
class USBPhoneProblemBanner;

// The page of one phone that adb lists as authorised on USB: its header, the quick actions (set up the
// companion, install an APK, send files), the pending install plan, the last install's outcome, the recent
// installs on this phone, the latest transfer event, the transfer tasks and the phone's facts. It keeps no data
// of its own but whether the companion install is being confirmed; it redraws when either store publishes.
class DeviceDashboard : public QWidget
{
    Q_OBJECT

public:
    // The host window's actions; the dashboard only calls them.
    struct Actions
    {
        std::function<void()> chooseAPK;
        std::function<void()> transferAction;
        // Called with the phone as the page showed it when the user was asked: by the answer, its id may name
        // another phone.
        std::function<void(const AndroidDevice &phone)> installCompanionAction;
        std::function<void()> showPairing;
    };

    // `showsTransfer`: whether the transfer store's phone is this one (or it has none), so that the companion
    // card, the transfer card and the task list belong here.
    DeviceDashboard(const AndroidDevice &device, DeviceStore *store, TransferStore *transferStore, bool showsTransfer,
                    Actions actions, QWidget *parent = nullptr);

    const AndroidDevice &device() const { return m_device; }
    bool showsTransfer() const { return m_showsTransfer; }
    // The same phone with new facts, or the transfer store's phone changed: the page is brought up to date in
    // place, keeping its scroll position, the open groups and a question being asked.
    void setDevice(const AndroidDevice &device, bool showsTransfer);
    bool isConfirmingCompanionInstall() const { return m_isConfirmingCompanionInstall; }

    QScrollArea *scrollArea() const { return m_scrollArea; }
    DeviceHero *hero() const { return m_hero; }
    // Why the phone cannot take commands yet; hidden for a phone that can.
    StatusBanner *stateBanner() const { return m_stateBanner; }
    // Another adb program holds a phone on the bus; hidden while none does.
    USBPhoneProblemBanner *usbProblemBanner() const { return m_usbProblemBanner; }
    QWidget *quickActionGrid() const { return m_grid; }
    USBCompanionSetupCard *companionCard() const { return m_companionCard; }
    InstallActionCard *installCard() const { return m_installCard; }
    TransferActionCard *transferCard() const { return m_transferCard; }
    InstallPlanCard *planCard() const { return m_planCard; }
    InstallStatusBanner *installBanner() const { return m_installBanner; }
    InstallHistoryCard *historyCard() const { return m_historyCard; }
    TransferStatusBanner *transferBanner() const { return m_transferBanner; }
    // None when the transfer parts are not shown.
    TransferTaskCenter *taskCenter() const { return m_taskCenter; }
    DisclosureGroup *deviceInfo() const { return m_deviceInfo; }

    static constexpr int maximumContentWidth = 900;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void render();
    // Asks before the companion is installed; on "安装并连接" hands over to the host.
    void confirmCompanionInstall();
    // `asked`: the phone as the page showed it when the question was asked.
    void companionInstallAnswered(QMessageBox::ButtonRole answer, const AndroidDevice &asked);
    DisclosureGroup *makeDeviceInfo(QWidget *parent);
    void fillDeviceInfo();
    void placeTaskCenter();

    AndroidDevice m_device;
    QPointer<DeviceStore> m_store;
    QPointer<TransferStore> m_transferStore;
    bool m_showsTransfer;
    const Actions m_actions;
    bool m_isConfirmingCompanionInstall = false;

    QScrollArea *m_scrollArea = nullptr;
    DeviceHero *m_hero = nullptr;
    StatusBanner *m_stateBanner = nullptr;
    USBPhoneProblemBanner *m_usbProblemBanner = nullptr;
    QWidget *m_grid = nullptr;
    USBCompanionSetupCard *m_companionCard = nullptr;
    InstallActionCard *m_installCard = nullptr;
    TransferActionCard *m_transferCard = nullptr;
    InstallPlanCard *m_planCard = nullptr;
    InstallStatusBanner *m_installBanner = nullptr;
    InstallHistoryCard *m_historyCard = nullptr;
    TransferStatusBanner *m_transferBanner = nullptr;
    TransferTaskCenter *m_taskCenter = nullptr;
    DisclosureGroup *m_deviceInfo = nullptr;
    QWidget *m_deviceFacts = nullptr;
    QVBoxLayout *m_columnLayout = nullptr;
};

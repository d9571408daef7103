#pragma once

#include "MainWindowPresentation.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class DeviceManagementStore;
class DeviceStore;
class QLabel;
class QVBoxLayout;
class TransferStore;

// The detail column of the main window: exactly one screen, chosen from the sidebar selection and the stores'
// live values. A screen is built anew when the choice moves to another kind of screen or another phone, and
// brought up to date otherwise. While the selected trusted phone's dashboard is on screen, the transfer store is
// switched to that phone once per selected id. The pane keeps no state of its own; its actions are the main
// window's.
class MainWindowDetailPane : public QWidget
{
    Q_OBJECT

public:
    struct Actions
    {
        std::function<void()> connect;
        std::function<void()> refreshUSB;
        std::function<void()> chooseAPK;
        std::function<void()> chooseManagedFiles;
        std::function<void()> chooseManagedFolders;
        std::function<void()> trustedTransferAction; // the trusted dashboard's: the send importer, whatever the phase
        std::function<void()> usbTransferAction;     // the USB dashboard's: send when connected, else pair
        std::function<void(const AndroidDevice &phone)> installCompanion;
        std::function<void()> showPairing;
    };

    MainWindowDetailPane(DeviceStore &store, TransferStore &transferStore, DeviceManagementStore &managementStore,
                         Actions actions, QWidget *parent = nullptr);

    void setSidebarSelection(const std::optional<SidebarSelection> &selection);

    const MainWindowPresentation::DetailScreen &screen() const { return m_screen; }
    // The widget of the screen shown: a DeviceManagementDashboard, DeviceDashboard, USBApprovalView or
    // FirstRunConnectionView.
    QWidget *screenWidget() const { return m_screenWidget; }
    // The line under every screen that says why the phone's files cannot be received, why the tasks cannot be saved
    // and, on every screen but the first-run one (which says it in its message), why the link failed; hidden while
    // none applies.
    QLabel *linkProblemNotice() const { return m_linkProblemNotice; }

private:
    void render();
    // Whether `screen` is `shown` brought up to date: the same rule for the same phone.
    static bool showsSamePhone(const MainWindowPresentation::DetailScreen &screen,
                               const MainWindowPresentation::DetailScreen &shown);
    void updateScreen();
    QWidget *makeScreen(const MainWindowPresentation::DetailScreen &screen);
    // The text of a failed phase, whether or not the link still runs.
    std::optional<QString> linkFailure() const;
    // The device store's set-up message and the reason the link failed, when there are any.
    std::optional<QString> firstRunMessage() const;
    void showLinkProblems(MainWindowPresentation::DetailScreen::Kind shownKind);
    void selectTrustedDeviceLater(const QString &id);

    DeviceStore &m_store;
    TransferStore &m_transferStore;
    DeviceManagementStore &m_managementStore;
    const Actions m_actions;
    std::optional<SidebarSelection> m_selection;

    MainWindowPresentation::DetailScreen m_screen;
    bool m_hasScreen = false;
    // The id the selected trusted phone's dashboard last switched the transfer store to; none while that
    // dashboard is not on screen.
    std::optional<QString> m_selectTaskID;
    quint64 m_selectTaskGeneration = 0;
    QVBoxLayout *m_layout = nullptr;
    QPointer<QWidget> m_screenWidget;
    QLabel *m_linkProblemNotice = nullptr;
};

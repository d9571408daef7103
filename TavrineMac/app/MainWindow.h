#pragma once

#include "MainWindowPresentation.h"
#include "PairingSheet.h"
#include "TrustedDeviceManagerSheet.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class DeviceManagementStore;
class DeviceStore;
class MainWindowDetailPane;
class QListWidget;
class QListWidgetItem;
class QToolButton;
class QuickSendCoordinator;
class TransferStore;

// The main window: a sidebar with the phones that can be used right now (trusted phones connected over the
// network or plugged in, and the USB phones adb lists that belong to none of them) and a detail pane for the
// phone selected there. It owns the selection and the sheets and importers its screens open, keeps the
// selection valid as phones come and go, scans USB every 2 s while shown, hands a new pairing payload to the
// authorised USB phone whose page the pairing began on, and binds a USB serial to the trusted phone whose snapshot
// names its model.
// The stores and the quick-send coordinator belong to the application and must outlive the window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int defaultWidth = 980;
    static constexpr int defaultHeight = 650;
    static constexpr int minimumWidth = 600;
    static constexpr int minimumHeight = 400;
    static constexpr int sidebarMinimumWidth = 190;
    static constexpr int sidebarIdealWidth = 210;
    static constexpr int sidebarMaximumWidth = 260;
    static constexpr auto usbPollInterval = std::chrono::seconds(2);

    // The file choosers the window opens: the APK importer and the importer of files to send.
    enum class Importer
    {
        apk,
        transferFiles
    };
    // Presents `importer` and calls back once when it closes, with the chosen absolute paths (none when cancelled).
    using ImporterPresenter = std::function<void(Importer importer, std::function<void(QStringList)> completion)>;

    MainWindow(DeviceStore &store, TransferStore &transferStore, DeviceManagementStore &managementStore,
               QuickSendCoordinator &quickSend, QWidget *parent = nullptr);
    // A window without its content yet, which buildContent() then builds: it can be put on the screen first.
    struct ContentLater
    {
    };
    MainWindow(DeviceStore &store, TransferStore &transferStore, DeviceManagementStore &managementStore,
               QuickSendCoordinator &quickSend, ContentLater, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Builds the sidebar and the detail pane of a window made with ContentLater, once; on a window already shown
    // they and its menu bar are laid out and shown at once.
    void buildContent();

    DeviceStore &deviceStore() const { return m_store; }
    TransferStore &transferStore() const { return m_transferStore; }
    DeviceManagementStore &managementStore() const { return m_managementStore; }
    QuickSendCoordinator &quickSendCoordinator() const { return m_quickSend; }

    // The sidebar's selection; setting it is what clicking a row does.
    const std::optional<SidebarSelection> &sidebarSelection() const { return m_sidebarSelection; }
    void setSidebarSelection(const std::optional<SidebarSelection> &selection);

    bool isImportingAPK() const { return m_isImportingAPK; }
    bool isImportingTransferFiles() const { return m_isImportingTransferFiles; }
    bool isShowingPairing() const { return m_isShowingPairing; }
    bool isShowingTrustedDeviceManager() const { return m_isShowingTrustedDeviceManager; }
    const std::optional<QString> &lastUSBPairingPayload() const { return m_lastUSBPairingPayload; }
    // The USB phone the pairing under way hands its links to; none for a pairing begun on no USB phone's page.
    const std::optional<MainWindowPresentation::USBPairingTarget> &usbPairingTarget() const
    {
        return m_usbPairingTarget;
    }

    // The detail pane's actions. connectPhone() pairs a phone to be added (the home's, the manager's): its link goes
    // to no USB phone. The USB page's actions hand theirs to the page's phone.
    void connectPhone();
    void refreshUSB();
    void chooseAPK();
    void beginTransfer();
    void chooseTransferFiles();
    // `phone`: as it was listed when the user was asked.
    void installCompanion(const AndroidDevice &phone);
    void showPairing();
    void chooseManagedFiles();
    void chooseManagedFolders();
    void uploadToPhone(const QStringList &paths);

    // The sidebar's manager row, and the manager sheet's "添加另一台手机".
    void showTrustedDeviceManager();
    void addDeviceFromManager();
    // The pairing sheet's "选择文件".
    void continueAfterPairing();
    // "快速发送…": the coordinator's panel.
    void showQuickSendPanel();

    // Replaces the file choosers, for tests.
    void setImporterPresenter(ImporterPresenter presenter) { m_importerPresenter = std::move(presenter); }

    // For tests: the parts on screen.
    QListWidget *sidebar() const { return m_sidebar; }
    QToolButton *refreshButton() const { return m_refreshButton; }
    MainWindowDetailPane *detailPane() const { return m_detailPane; }
    PairingSheet *pairingSheet() const { return m_pairingSheet; }
    TrustedDeviceManagerSheet *trustedDeviceManagerSheet() const { return m_managerSheet; }
    bool isPollingUSB() const { return m_usbPoll.isActive(); }

signals:
    void sidebarSelectionChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    MainWindowState state() const;
    // Shows `selection` without it being a choice of the user's (setSidebarSelection is one).
    void showSidebarSelection(const std::optional<SidebarSelection> &selection);
    void renderSidebar();
    // Highlights the selected phone's row, and nothing else, without changing the selection.
    void showSelectedRow();
    void sidebarRowActivated(QListWidgetItem *item);
    // `byListing`: the device list changed, which may take the selection away until its phone is listed again.
    void reconcileSelection(bool byListing = false);
    void pollUSBDevices();

    // The change handlers of the watched values.
    void selectionChanged();
    void devicesChanged();
    // Phones listed under new ids (DeviceStore::devicesRenamed): what names them takes the new ones.
    void devicesRenamed(const QHash<QString, QString> &renamedIDs);
    void phaseChanged();
    void snapshotModelChanged();
    // Binds the selected trusted phone to the serial of `device`.
    void bindConnectedPhoneSerial(const AndroidDevice &device);
    void startUSBAssistedPairing();
    // Begins a new pairing whose links go to `target` only, and shows the pairing sheet.
    void beginPairing(const std::optional<MainWindowPresentation::USBPairingTarget> &target);
    // The phone of the USB page shown, as it is listed now: a pairing begun there hands it its links.
    std::optional<MainWindowPresentation::USBPairingTarget> shownUSBPhone() const;
    void setShowingTrustedDeviceManager(bool isShowing);
    void setShowingPairing(bool isShowing);
    void presentImporter(Importer importer);
    // Hands the upload panels' chosen items to uploadToPhone().
    std::function<void(const QList<QUrl> &)> uploadChoice();

    DeviceStore &m_store;
    TransferStore &m_transferStore;
    DeviceManagementStore &m_managementStore;
    QuickSendCoordinator &m_quickSend;

    std::optional<SidebarSelection> m_sidebarSelection;
    // The selection a listing took away while its phone was not listed (unplugged, or adb failing): given back when
    // the phone is listed again, unless a row was chosen meanwhile.
    std::optional<SidebarSelection> m_selectionToRestore;
    bool m_isImportingAPK = false;
    bool m_isImportingTransferFiles = false;
    bool m_isShowingPairing = false;
    bool m_isShowingTrustedDeviceManager = false;
    bool m_shouldPairAfterClosingDeviceManager = false;
    std::optional<QString> m_lastUSBPairingPayload;
    std::optional<MainWindowPresentation::USBPairingTarget> m_usbPairingTarget;
    // What the change handlers compare with, so that they fire on a change only.
    QList<AndroidDevice> m_lastDevices;
    TransferStore::Phase m_lastPhase;
    std::optional<QString> m_lastSnapshotModel;
    std::optional<QString> m_lastPairingPayload;

    ImporterPresenter m_importerPresenter;
    QTimer m_usbPoll;
    bool m_isRenderingSidebar = false;

    QListWidget *m_sidebar = nullptr;
    QToolButton *m_refreshButton = nullptr;
    MainWindowDetailPane *m_detailPane = nullptr;
    QPointer<PairingSheet> m_pairingSheet;
    QPointer<TrustedDeviceManagerSheet> m_managerSheet;
};

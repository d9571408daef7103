#include "TavrineMacApp.h"

#include "ApplicationDelegate.h"
#include "DeviceManagementStore.h"
#include "DeviceStore.h"
#include "InstallHistoryStore.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "TransferStore.h"
#include "TransferTaskRepository.h"
#include "UpdateConfiguration.h"
#include "UpdateController.h"

#include <QCoreApplication>

TavrineMacApp::TavrineMacApp(TavrineApplicationDelegate &delegate, Builders builders)
    : m_delegate(delegate), m_builders(std::move(builders))
{
    if (!m_builders.deviceStore) {
        m_builders.deviceStore = makeDeviceStore;
    }
    if (!m_builders.updateController) {
        m_builders.updateController = [] {
            return std::make_unique<AppUpdateController>(loadApplicationInfo(),
                                                         QProcessEnvironment::systemEnvironment());
        };
    }
    m_transferStore = m_builders.transferStore ? m_builders.transferStore()
                                               : std::make_unique<TransferStore>(TransferTaskRepository());
    if (!m_delegate.quickSendCoordinator()) {
        m_delegate.setQuickSendCoordinator(std::make_unique<QuickSendCoordinator>(*m_transferStore));
        m_madeQuickSendCoordinator = true;
        if (m_delegate.didFinishLaunching()) {
            m_delegate.startQuickSend();
        }
    }
}

TavrineMacApp::~TavrineMacApp()
{
    // Everything here refers to the transfer store, which goes last.
    m_updateController.reset();
    if (m_managementStore) {
        // Requests still waiting for the phone end while the store that made them is here to hear of it: their
        // callers are resumed by posted events, which are delivered now, as the event loop has ended.
        m_transferStore->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        QCoreApplication::sendPostedEvents();
    }
    m_managementStore.reset();
    m_store.reset();
    if (m_madeQuickSendCoordinator) {
        m_delegate.releaseQuickSendCoordinator();
    }
}

std::unique_ptr<DeviceStore> TavrineMacApp::makeDeviceStore()
{
    std::shared_ptr<ADBClient> client = makeDefaultADBClient();
    return std::make_unique<DeviceStore>(std::move(client), InstallHistoryStore());
}

DeviceStore &TavrineMacApp::deviceStore()
{
    if (!m_store) {
        m_store = m_builders.deviceStore();
    }
    return *m_store;
}

DeviceManagementStore &TavrineMacApp::managementStore()
{
    if (!m_managementStore) {
        m_managementStore = std::make_unique<DeviceManagementStore>(*m_transferStore);
    }
    return *m_managementStore;
}

AppUpdateController &TavrineMacApp::updateController()
{
    if (!m_updateController) {
        m_updateController = m_builders.updateController();
    }
    return *m_updateController;
}

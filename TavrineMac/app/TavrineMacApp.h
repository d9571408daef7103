#pragma once

#include "DefaultADBClient.h"

#include <QProcessEnvironment>

#include <functional>
#include <memory>

class AppUpdateController;
class DeviceManagementStore;
class DeviceStore;
class TavrineApplicationDelegate;
class TransferStore;

// The application object: owns the long-lived stores for the life of the process and gives the delegate the
// one quick-send coordinator. The transfer store is built at once (its task list is loaded here); the device
// store, the device-management store and the update controller when first asked for.
class TavrineMacApp
{
public:
    // How the lazily built parts are made; the defaults are the application's own.
    struct Builders
    {
        std::function<std::unique_ptr<TransferStore>()> transferStore;
        std::function<std::unique_ptr<DeviceStore>()> deviceStore;
        std::function<std::unique_ptr<AppUpdateController>()> updateController;
    };

    explicit TavrineMacApp(TavrineApplicationDelegate &delegate, Builders builders = {});
    ~TavrineMacApp();
    TavrineMacApp(const TavrineMacApp &) = delete;
    TavrineMacApp &operator=(const TavrineMacApp &) = delete;

    TavrineApplicationDelegate &delegate() const { return m_delegate; }
    TransferStore &transferStore() const { return *m_transferStore; }
    DeviceStore &deviceStore();
    DeviceManagementStore &managementStore();
    AppUpdateController &updateController();
    // Whether the lazily built parts exist yet.
    bool hasDeviceStore() const { return m_store != nullptr; }
    bool hasManagementStore() const { return m_managementStore != nullptr; }
    bool hasUpdateController() const { return m_updateController != nullptr; }

    // The device store of the application: the located adb (or none) and the default install history.
    static std::unique_ptr<DeviceStore> makeDeviceStore();

private:
    TavrineApplicationDelegate &m_delegate;
    Builders m_builders;
    std::unique_ptr<DeviceStore> m_store;
    std::unique_ptr<TransferStore> m_transferStore;
    std::unique_ptr<DeviceManagementStore> m_managementStore;
    std::unique_ptr<AppUpdateController> m_updateController;
    bool m_madeQuickSendCoordinator = false;
};

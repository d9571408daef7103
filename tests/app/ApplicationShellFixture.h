#pragma once

#include "ADBServerController.h"
#include "ApplicationDelegate.h"
#include "FakeUpdateDriver.h"
#include "QuickSendCoordinator.h"
#include "TavrineMacApp.h"
#include "transfers/StoreTestSupport.h"

#include <memory>

// The application over a fake core host, with a recording adb server and a fake updater.
struct Shell
{
    explicit Shell(bool paired = false) : paired(paired) {}

    bool paired;
    StoreFixture fixture;
    QStringList events; // what the clean-up did, in order
    std::shared_ptr<ADBServerController> adbServer =
        std::make_shared<ADBServerController>([this](const QString &, const QStringList &arguments) {
            events.append(QStringLiteral("adb %1 (quick send started: %2)")
                              .arg(arguments.join(u' '))
                              .arg(delegate.quickSendCoordinator()->didStart()));
        });
    TavrineApplicationDelegate delegate{QProcessEnvironment(), adbServer};
    FakeUpdateDriver *driver = nullptr;
    TavrineMacApp app{delegate, builders()};

    // Quick send's start-up of the store may still be reading the registry when a test ends.
    ~Shell()
    {
        if (!settleBackgroundWork()) {
            qCritical("the store's start-up did not end within 30 s");
        }
    }

    TavrineMacApp::Builders builders()
    {
        return {[this] {
                    paired ? fixture.makePaired() : fixture.make();
                    return std::move(fixture.store);
                },
                nullptr,
                [this] {
                    auto fake = std::make_unique<FakeUpdateDriver>();
                    driver = fake.get();
                    return std::make_unique<AppUpdateController>(AppUpdateController::Availability::ready(),
                                                                 std::move(fake));
                }};
    }
};

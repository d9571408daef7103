#pragma once

#include "UpdateCheckOutcome.h"
#include "UpdateConfiguration.h"
#include "UpdateController.h"

#include <QString>

#include <functional>

// The update check fetches over HTTPS and checks signatures, with Qt Network and OpenSSL and the many libraries
// they bring. It lives in a module beside the executable, loaded only where updates are configured, so that an
// application without them never loads any of that.
namespace UpdateDriverModule {

constexpr char fileName[] = "libtavrine_update_driver.so";
constexpr char factoryName[] = "tavrineMakeUpdateDriver";

// The module's one entry point: a new driver, owned by the caller.
using Factory = AppUpdateDriving *(*)(const AppUpdateConfiguration &configuration, const QString &currentVersion,
                                      std::function<void(const UpdateCheckOutcome &)> reporter);

} // namespace UpdateDriverModule

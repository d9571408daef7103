// The update driver module's entry point (see UpdateDriverModule.h).
#include "UpdateDriverModule.h"
#include "UpdateDriver.h"

extern "C" Q_DECL_EXPORT AppUpdateDriving *tavrineMakeUpdateDriver(
    const AppUpdateConfiguration &configuration, const QString &currentVersion,
    std::function<void(const UpdateCheckOutcome &)> reporter)
{
    return new FeedUpdateDriver(configuration, currentVersion, std::move(reporter));
}

// The type the application calls through.
static_assert(std::is_same_v<decltype(&tavrineMakeUpdateDriver), UpdateDriverModule::Factory>);

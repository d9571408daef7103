#include "UpdateController.h"

#include "UpdateConfiguration.h"
#include "UpdateDriver.h"

#include <QPointer>

AppUpdateController::AppUpdateController(const QJsonObject &applicationInfo, const QProcessEnvironment &environment,
                                         QObject *parent)
    : AppUpdateController(decide(applicationInfo, environment), parent)
{}

AppUpdateController::AppUpdateController(Decision decision, QObject *parent)
    : AppUpdateController(std::move(decision.first), std::move(decision.second), parent)
{}

AppUpdateController::AppUpdateController(Availability availability, std::unique_ptr<AppUpdateDriving> driver,
                                         QObject *parent)
    : QObject(parent), m_availability(std::move(availability)), m_driver(std::move(driver))
{
    if (!m_driver) {
        return;
    }
    m_canCheckForUpdates = m_driver->canCheckForUpdates();
    // The driver belongs to the controller, so its handler must not keep the controller alive.
    m_driver->observeCanCheckForUpdates([controller = QPointer(this)](bool canCheck) {
        if (controller) {
            controller->setCanCheckForUpdates(canCheck);
        }
    });
}

AppUpdateController::~AppUpdateController() = default;

AppUpdateController::Decision AppUpdateController::decide(const QJsonObject &applicationInfo,
                                                          const QProcessEnvironment &environment)
{
    if (environment.contains(QStringLiteral("XCTestConfigurationFilePath"))) {
        return {Availability::disabled(), nullptr};
    }
    const AppUpdateResolution resolution = AppUpdateConfiguration::resolve(applicationInfo);
    switch (resolution.kind) {
    case AppUpdateResolution::Case::ready:
        return {Availability::ready(),
                std::make_unique<FeedUpdateDriver>(resolution.configuration,
                                                   applicationInfo.value(u"CFBundleShortVersionString").toString(),
                                                   showUpdateCheckOutcome)};
    case AppUpdateResolution::Case::invalid:
        return {Availability::invalid(AppUpdateConfiguration::description(resolution.error)), nullptr};
    case AppUpdateResolution::Case::disabled:
        break;
    }
    return {Availability::disabled(), nullptr};
}

void AppUpdateController::checkForUpdates()
{
    if (m_canCheckForUpdates && m_driver) {
        m_driver->checkForUpdates();
    }
}

void AppUpdateController::setCanCheckForUpdates(bool canCheck)
{
    if (m_canCheckForUpdates != canCheck) {
        m_canCheckForUpdates = canCheck;
        emit canCheckForUpdatesChanged(canCheck);
    }
}

#include "UpdateController.h"

#include "UpdateConfiguration.h"
#include "UpdateDriverModule.h"
#include "ViewMessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QPointer>

namespace {

// The driver from the update module at `modulePath`; none when the module cannot be loaded or has no entry point.
std::unique_ptr<AppUpdateDriving>
loadUpdateDriver(const QString &modulePath, const AppUpdateConfiguration &configuration, const QString &currentVersion)
{
    // The module stays loaded when its QLibrary goes, so drivers made from it may live as long as the application.
    QLibrary module(modulePath);
    const auto factory = reinterpret_cast<UpdateDriverModule::Factory>(module.resolve(UpdateDriverModule::factoryName));
    if (!factory) {
        qWarning("TavrineMac: the update module is unavailable: %s", qPrintable(module.errorString()));
        return nullptr;
    }
    return std::unique_ptr<AppUpdateDriving>(factory(configuration, currentVersion, showUpdateCheckOutcome));
}

} // namespace

AppUpdateController::AppUpdateController(const QJsonObject &applicationInfo, const QProcessEnvironment &environment,
                                         const QString &modulePath, QObject *parent)
    : AppUpdateController(decide(applicationInfo, environment, modulePath), parent)
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

QString AppUpdateController::bundledDriverModulePath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(UpdateDriverModule::fileName));
}

AppUpdateController::Decision AppUpdateController::decide(const QJsonObject &applicationInfo,
                                                          const QProcessEnvironment &environment,
                                                          const QString &modulePath)
{
    if (environment.contains(QStringLiteral("XCTestConfigurationFilePath"))) {
        return {Availability::disabled(), nullptr};
    }
    const AppUpdateResolution resolution = AppUpdateConfiguration::resolve(applicationInfo);
    switch (resolution.kind) {
    case AppUpdateResolution::Case::ready: {
        auto driver = loadUpdateDriver(modulePath, resolution.configuration,
                                       applicationInfo.value(u"CFBundleShortVersionString").toString());
        if (!driver) {
            // A sound configuration, but nothing here can read its feed: to the user that is a feed not set up,
            // the same answer as for a feed address that cannot be used at all.
            return {Availability::invalid(AppUpdateConfiguration::description(
                        AppUpdateConfiguration::ConfigurationError::missingFeedURL)),
                    nullptr};
        }
        return {Availability::ready(), std::move(driver)};
    }
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

void showUpdateCheckOutcome(const UpdateCheckOutcome &outcome)
{
    const auto icon =
        outcome.kind == UpdateCheckOutcome::Case::failed ? QMessageBox::Warning : QMessageBox::Information;
    ViewMessageBox::open(nullptr, icon, outcome.text, outcome.informativeText, QStringLiteral("好"));
}

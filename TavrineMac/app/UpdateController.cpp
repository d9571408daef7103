#include "UpdateController.h"

#include "UpdateConfiguration.h"
#include "UpdateDriverModule.h"
#include "ViewMessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QPointer>

#include <variant>

namespace {

// The driver from the module beside the executable, or why there is none.
std::variant<std::unique_ptr<AppUpdateDriving>, QString> loadUpdateDriver(const AppUpdateConfiguration &configuration,
                                                                         const QString &currentVersion)
{
    // Loaded once and kept: drivers made from it live as long as the application.
    static QLibrary module(
        QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(UpdateDriverModule::fileName)));
    const auto factory = reinterpret_cast<UpdateDriverModule::Factory>(module.resolve(UpdateDriverModule::factoryName));
    if (!factory) {
        return module.errorString();
    }
    return std::unique_ptr<AppUpdateDriving>(factory(configuration, currentVersion, showUpdateCheckOutcome));
}

} // namespace

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
    case AppUpdateResolution::Case::ready: {
        auto driver = loadUpdateDriver(resolution.configuration,
                                       applicationInfo.value(u"CFBundleShortVersionString").toString());
        if (auto *failure = std::get_if<QString>(&driver)) {
            return {Availability::invalid(*failure), nullptr};
        }
        return {Availability::ready(), std::get<std::unique_ptr<AppUpdateDriving>>(std::move(driver))};
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

#include "DefaultADBClient.h"

#include "ADBLocation.h"

#include <QDir>
#include <QProcessEnvironment>

std::shared_ptr<ADBClient> makeDefaultADBClient()
{
    const std::optional<QString> executable =
        locateADBExecutable(QProcessEnvironment::systemEnvironment(), QDir::homePath(), appBundleADBURL());
    // Listings run beside application commands, so that the list of phones never waits behind an install.
    const QProcessEnvironment environment = ADBServerController::childEnvironment();
    auto runner = std::make_shared<FoundationCommandRunner>();
    auto queryRunner = std::make_shared<FoundationCommandRunner>();
    runner->setEnvironment(environment);
    queryRunner->setEnvironment(environment);
    try {
        return std::make_shared<ADBClient>(executable, runner, ADBServerController::shared(), ADBCommandTimeouts{},
                                           queryRunner);
    } catch (const ADBClientError &) {
        return nullptr;
    }
}

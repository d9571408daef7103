#include "DefaultADBClient.h"

#include "ADBLocation.h"

#include <QDir>
#include <QProcessEnvironment>

std::shared_ptr<ADBClient> makeDefaultADBClient()
{
    const std::optional<QString> executable =
        locateADBExecutable(QProcessEnvironment::systemEnvironment(), QDir::homePath(), appBundleADBURL());
    // Listings run beside application commands and property reads, so that the list of phones never waits behind
    // an install or a phone whose shell does not answer.
    const QProcessEnvironment environment = ADBServerController::childEnvironment();
    auto runner = std::make_shared<FoundationCommandRunner>();
    auto queryRunner = std::make_shared<FoundationCommandRunner>();
    auto propertyRunner = std::make_shared<FoundationCommandRunner>();
    for (FoundationCommandRunner *each : {runner.get(), queryRunner.get(), propertyRunner.get()}) {
        each->setEnvironment(environment);
    }
    try {
        return std::make_shared<ADBClient>(executable, runner, ADBServerController::shared(), ADBCommandTimeouts{},
                                           queryRunner, propertyRunner);
    } catch (const ADBClientError &) {
        return nullptr;
    }
}

#include "DefaultADBClient.h"

#include "ADBLocation.h"

#include <QDir>
#include <QProcessEnvironment>

std::shared_ptr<ADBClient> makeDefaultADBClient()
{
    const std::optional<QString> executable =
        locateADBExecutable(QProcessEnvironment::systemEnvironment(), QDir::homePath(), appBundleADBURL());
    // Listings run beside application commands, and each property read beside the others, so that the list of
    // phones never waits behind an install, nor one phone's name behind a phone whose shell does not answer.
    const QProcessEnvironment environment = ADBServerController::childEnvironment();
    const auto makeRunner = [environment] {
        auto runner = std::make_shared<FoundationCommandRunner>();
        runner->setEnvironment(environment);
        return runner;
    };
    try {
        return std::make_shared<ADBClient>(executable, makeRunner(), ADBServerController::shared(),
                                           ADBCommandTimeouts{}, makeRunner(), makeRunner);
    } catch (const ADBClientError &) {
        return nullptr;
    }
}

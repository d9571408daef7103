#include "DefaultADBClient.h"

#include "ADBLocation.h"

#include <QDir>
#include <QProcessEnvironment>

std::shared_ptr<ADBClient> makeDefaultADBClient()
{
    const std::optional<QString> executable =
        locateADBExecutable(QProcessEnvironment::systemEnvironment(), QDir::homePath(), appBundleADBURL());
    try {
        return std::make_shared<ADBClient>(executable, std::make_shared<FoundationCommandRunner>(),
                                           ADBServerController::shared());
    } catch (const ADBClientError &) {
        return nullptr;
    }
}

#include "ApplicationActions.h"
#include "DeviceSnapshotAction.h"
#include "FileActions.h"
#include "ManagementHandlers.h"
#include "MediaActions.h"
#include "PhoneOptions.h"
#include "PhoneOutput.h"
#include "PhoneSession.h"
#include "PhoneState.h"
#include "StorageLayout.h"
#include "TavrineCoreFunctions.h"
#include "TransferClient.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <exception>

#include <unistd.h>

namespace {

constexpr int exitFatal = 1;
constexpr int exitBadUsage = 2;

std::unique_ptr<TransferClient> connectClient(const PhoneOptions &options, const std::optional<PhoneState> &state)
{
    const QString pairingUrl = options.command == PhoneOptions::Command::pair ? options.pairingUrl : QString();
    const QString material = state ? state->connectionMaterial : QString();
    try {
        return TransferClient::connect(pairingUrl, material, options.deviceName,
                                       StorageLayout::inboxPath(options.storageDirectory));
    } catch (const TavrineCoreError &error) {
        PhoneOutput::writeError(QStringLiteral("Could not connect: %1").arg(error.errorDescription()));
    } catch (const std::exception &error) {
        PhoneOutput::writeError(QStringLiteral("Could not connect: %1").arg(QString::fromUtf8(error.what())));
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrine-phone"));

    const PhoneOptionsParseResult parsed = PhoneOptions::parse(QCoreApplication::arguments());
    if (parsed.outcome == PhoneOptionsParseResult::Outcome::help) {
        std::fputs(PhoneOptions::usage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.outcome == PhoneOptionsParseResult::Outcome::badUsage) {
        PhoneOutput::writeError(parsed.errorMessage + QStringLiteral("\nTry 'tavrine-phone --help'."));
        return exitBadUsage;
    }
    const PhoneOptions &options = parsed.options;

    std::optional<PhoneState> storedState;
    if (options.command == PhoneOptions::Command::serve) {
        const PhoneStateLoadResult loaded = PhoneState::load(options.storageDirectory);
        if (loaded.status != PhoneStateLoadResult::Status::loaded) {
            const bool missing = loaded.status == PhoneStateLoadResult::Status::missing;
            PhoneOutput::writeError(
                loaded.errorMessage +
                (missing ? QStringLiteral("; pair first: tavrine-phone pair --url URL --storage DIR") : QString()));
            return missing ? exitBadUsage : exitFatal;
        }
        storedState = loaded.state;
    }

    const QString inbox = StorageLayout::inboxPath(options.storageDirectory);
    if (!QDir().mkpath(inbox)) {
        PhoneOutput::writeError(QStringLiteral("Could not create the folder %1").arg(QDir::toNativeSeparators(inbox)));
        return exitFatal;
    }

    // The core library is installed beside the executable.
    QString loadError;
    const auto coreFunctions = loadTavrineCoreFunctions(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("libtavrine_core.so")), &loadError);
    if (!coreFunctions) {
        PhoneOutput::writeError(QStringLiteral("The core library is unavailable: %1").arg(loadError));
        return exitFatal;
    }
    installTavrineCoreFunctions(*coreFunctions);

    std::unique_ptr<TransferClient> client = connectClient(options, storedState);
    if (!client) {
        return exitFatal;
    }
    // The actions the phone answers from its storage folder; the session adds the transfer actions.
    const QString &storage = options.storageDirectory;
    const PhoneSession *servingSession = nullptr;
    FileActions fileActions(storage);
    MediaActions mediaActions(storage);
    ApplicationActions applicationActions(storage);
    DeviceSnapshotAction snapshotAction(storage, options.deviceName,
                                        [&servingSession] { return servingSession->handlers().actions(); });
    ManagementHandlers handlers;
    fileActions.addTo(handlers);
    mediaActions.addTo(handlers);
    applicationActions.addTo(handlers);
    snapshotAction.addTo(handlers);

    PhoneSession session(std::move(client), options, std::move(handlers), storedState);
    servingSession = &session;
    QObject::connect(&session, &PhoneSession::finished, &application,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    session.start(STDIN_FILENO);
    return QCoreApplication::exec();
}

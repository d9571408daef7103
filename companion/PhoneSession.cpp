#include "PhoneSession.h"

#include "FileDescriptor.h"
#include "PairingPayload.h"
#include "PhoneCommand.h"
#include "PhoneOutput.h"
#include "StorageLayout.h"
#include "ThreadHandOver.h"
#include "WholeFileCommit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto pollInterval = 50ms;
// After a request the computer often sends the next at once (the pages of a listing), and after a file the next
// file: for a while the phone looks for requests and events this often.
constexpr auto busyPollInterval = 2ms;
constexpr auto busySpell = 1s;
// Delivered files are acknowledged together, at most this long after the first of them: the folders they went to are
// synced once for all, and a run of files does not wait for the disk at every one.
constexpr auto acknowledgementDelay = 100ms;
constexpr qsizetype maximumUnacknowledgedDeliveries = 256;

// Runs a core call that may fail and reports a failure on standard error; true when it succeeded.
template <typename Call> bool reportingFailure(const QString &action, Call &&call)
{
    try {
        std::forward<Call>(call)();
        return true;
    } catch (const TavrineCoreError &error) {
        PhoneOutput::writeError(QStringLiteral("%1: %2").arg(action, error.errorDescription()));
    } catch (const std::exception &error) {
        PhoneOutput::writeError(QStringLiteral("%1: %2").arg(action, QString::fromUtf8(error.what())));
    }
    return false;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The code that the computer shows while it awaits confirmation, as its pairing URL carries it.
std::optional<QString> confirmationCode(const PhoneOptions &options)
{
    if (options.command != PhoneOptions::Command::pair) {
        return std::nullopt;
    }
    try {
        return PairingPayload::parse(options.pairingUrl).confirmationCode;
    } catch (const PairingPayloadError &) {
        return std::nullopt;
    }
}

} // namespace

PhoneSession::PhoneSession(std::unique_ptr<TransferClientProtocol> client, const PhoneOptions &options,
                           ManagementHandlers handlers, std::optional<PhoneState> storedState, QObject *parent)
    : QObject(parent), m_client(std::move(client)), m_options(options),
      m_transferActions(*m_client, options.storageDirectory), m_handlers(std::move(handlers)),
      m_state(std::move(storedState)), m_unshownConfirmationCode(confirmationCode(options)),
      m_delivery(StorageLayout::inboxPath(options.storageDirectory))
{
    m_transferActions.addTo(m_handlers);
    m_pollTimer.setInterval(pollInterval);
    connect(&m_pollTimer, &QTimer::timeout, this, &PhoneSession::poll);
    m_acknowledgementTimer.setSingleShot(true);
    m_acknowledgementTimer.setInterval(acknowledgementDelay);
    connect(&m_acknowledgementTimer, &QTimer::timeout, this, &PhoneSession::acknowledgeDeliveries);
    // Two at least, so that a large preview does not hold up the tiles.
    m_workers.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

PhoneSession::~PhoneSession()
{
    acknowledgeDeliveries();
    // No work outlives the handlers it uses; answers it posted go with this object, unsent.
    m_workers.clear();
    ThreadHandOver::waitForDone(m_workers);
}

void PhoneSession::start(int inputFileDescriptor)
{
    // What a process killed in the middle of a save left beside the phone's own files goes before anything is saved.
    for (const QString &path : StorageLayout::wholeSavedFilePaths(m_options.storageDirectory)) {
        removeLeftoverSaveFiles(path);
    }
    m_input = std::make_unique<InputLineReader>(inputFileDescriptor);
    connect(m_input.get(), &InputLineReader::lineRead, this, &PhoneSession::handleLine);
    connect(m_input.get(), &InputLineReader::endOfInput, this, [this] { finish(0); });
    m_input->start();
    m_pollTimer.start();
}

void PhoneSession::poll()
{
    while (!m_finished) {
        const std::optional<TransferEvent> event = m_client->pollEvent();
        if (!event) {
            break;
        }
        handleEvent(*event);
        m_busyUntil = QDeadlineTimer(busySpell);
    }
    if (m_deliveredTransferIds.size() >= maximumUnacknowledgedDeliveries) {
        acknowledgeDeliveries();
    } else if (!m_deliveredTransferIds.isEmpty() && !m_acknowledgementTimer.isActive()) {
        m_acknowledgementTimer.start();
    }
    while (!m_finished && m_answersBeingMade < maximumAnswersBeingMade) {
        const std::optional<ManagementRequest> request = m_client->pollManagementRequest();
        if (!request) {
            break;
        }
        handleRequest(*request);
        m_busyUntil = QDeadlineTimer(busySpell);
    }
    const auto interval = m_busyUntil.hasExpired() ? pollInterval : busyPollInterval;
    if (!m_finished && m_pollTimer.intervalAsDuration() != interval) {
        m_pollTimer.setInterval(interval);
    }
}

void PhoneSession::handleEvent(const TransferEvent &event)
{
    m_transferActions.followReceivedTransfer(event);
    QJsonObject line = PhoneOutput::eventLine(event);
    switch (event.kind) {
    case TransferEventKind::awaitingConfirmation:
        PhoneOutput::writeLine(line);
        // Once: the link may drop and come back while the same pairing waits.
        if (m_unshownConfirmationCode) {
            PhoneOutput::writeLine(PhoneOutput::confirmationCodeLine(*m_unshownConfirmationCode));
            m_unshownConfirmationCode.reset();
        }
        if (m_options.confirmAutomatically) {
            confirmPairing();
        }
        return;
    case TransferEventKind::paired:
        // Stored before the line is written, so that a reader of the line finds the state file.
        if (!storePairing(event)) {
            PhoneOutput::writeLine(line);
            finish(1);
            return;
        }
        break;
    case TransferEventKind::failed:
        // The link failed, not a transfer: a refused pairing is not tried again, and a host with another key than
        // the pairing URL's stays so; there is nothing to wait for.
        if (isPairing() && event.transferId.isEmpty()) {
            PhoneOutput::writeLine(line);
            PhoneOutput::writeError(QStringLiteral("The pairing failed: %1").arg(event.message));
            finish(1);
            return;
        }
        break;
    case TransferEventKind::completed:
        if (event.direction == TransferDirection::receiving) {
            deliverReceivedFile(event, line);
        }
        break;
    default:
        break;
    }
    PhoneOutput::writeLine(line);
}

void PhoneSession::handleRequest(const ManagementRequest &request)
{
    if (!m_handlers.isConcurrent(request.action)) {
        sendAnswer(request, m_handlers.answer(request.action, request.payload));
        return;
    }
    ++m_answersBeingMade;
    // The destructor waits for the workers, so `this` outlives the work.
    ThreadHandOver::start(m_workers, [this, request] {
        ManagementAnswer answer = m_handlers.answer(request.action, request.payload);
        ThreadHandOver::post(this, [this, request, answer = std::move(answer)] {
            --m_answersBeingMade;
            if (!m_finished) {
                sendAnswer(request, answer);
            }
        });
    });
}

void PhoneSession::sendAnswer(const ManagementRequest &request, const ManagementAnswer &answer)
{
    if (!m_client->respondManagement(request.requestId, answer.success, answer.payload, answer.message)) {
        PhoneOutput::writeError(
            QStringLiteral("The answer to request %1 (%2) could not be sent").arg(request.requestId, request.action));
    }
    PhoneOutput::writeLine(PhoneOutput::requestLine(request, answer));
}

bool PhoneSession::storePairing(const TransferEvent &event)
{
    const std::optional<QString> material = m_client->trustedConnectionMaterial();
    if (!material || material->isEmpty()) {
        if (m_state) {
            return true;
        }
        PhoneOutput::writeError(QStringLiteral("The pairing completed without connection material to store"));
        return false;
    }
    const QString peerName = event.peerName.isEmpty() && m_state ? m_state->peerName : event.peerName;
    const PhoneState state{*material, peerName};
    if (m_state == state) {
        return true;
    }
    QString error;
    if (!state.save(m_options.storageDirectory, &error)) {
        PhoneOutput::writeError(error);
        return false;
    }
    m_state = state;
    return true;
}

void PhoneSession::deliverReceivedFile(const TransferEvent &event, QJsonObject &line)
{
    QString error;
    const std::optional<QString> folder = m_transferActions.takeDeliveryFolder(event.transferId, &error);
    const std::optional<QString> storedName =
        folder ? m_delivery.deliver(event.fileName, *folder, &error) : std::nullopt;
    if (!storedName) {
        PhoneOutput::writeError(error);
        return;
    }
    line.insert(QStringLiteral("storedName"), *storedName);
    m_deliveredTransferIds.append(event.transferId);
}

void PhoneSession::acknowledgeDeliveries()
{
    m_acknowledgementTimer.stop();
    if (m_deliveredTransferIds.isEmpty()) {
        return;
    }
    const QStringList transferIds = std::exchange(m_deliveredTransferIds, {});
    QString error;
    // Unacknowledged, a file whose new name may not last is at worst left in the journal; acknowledged, a power cut
    // could put it back into the inbox with nothing left to deliver it.
    if (!m_delivery.syncDeliveredFolders(&error)) {
        PhoneOutput::writeError(error);
        return;
    }
    for (const QString &transferId : transferIds) {
        bool known = false;
        const bool called =
            reportingFailure(QStringLiteral("Could not acknowledge the received transfer %1").arg(transferId),
                             [&] { known = m_client->acknowledgeReceivedTransfer(transferId); });
        if (called && !known) {
            PhoneOutput::writeError(
                QStringLiteral("The core library does not know the received transfer %1").arg(transferId));
        }
    }
}

void PhoneSession::sendFile(const QString &path, const QString &transferId)
{
    const QString filePath =
        QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QDir(m_options.storageDirectory).filePath(path);
    const QString shownPath = QDir::toNativeSeparators(filePath);
    // Without O_NONBLOCK, opening a named pipe would wait for a writer and stall the phone.
    const FileDescriptor file(::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        PhoneOutput::writeError(QStringLiteral("Cannot open %1: %2").arg(shownPath, systemError()));
        return;
    }
    struct stat status = {};
    if (::fstat(file.get(), &status) != 0) {
        PhoneOutput::writeError(QStringLiteral("Cannot read %1: %2").arg(shownPath, systemError()));
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        PhoneOutput::writeError(QStringLiteral("%1 is not a regular file").arg(shownPath));
        return;
    }
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);

    const QString id = transferId.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : transferId;
    // The library duplicates the descriptor; ours is closed when `file` goes away.
    reportingFailure(QStringLiteral("Could not send %1").arg(shownPath), [&] {
        m_client->sendFileDescriptorWithId(file.get(), QFileInfo(filePath).fileName(),
                                           static_cast<uint64_t>(status.st_size), id);
    });
}

void PhoneSession::confirmPairing()
{
    reportingFailure(QStringLiteral("Could not confirm the pairing"), [this] { m_client->confirmPairing(); });
}

bool PhoneSession::isPairing() const
{
    return m_options.command == PhoneOptions::Command::pair && !m_state;
}

void PhoneSession::handleLine(const QString &line)
{
    if (m_finished || line.trimmed().isEmpty()) {
        return;
    }
    QString error;
    const std::optional<PhoneCommand> command = PhoneCommand::parse(line, &error);
    if (!command) {
        PhoneOutput::writeError(error);
        return;
    }
    switch (command->kind) {
    case PhoneCommand::Kind::send:
        sendFile(command->path, command->transferId);
        break;
    case PhoneCommand::Kind::pause:
        if (!m_client->pauseTransfer(command->transferId)) {
            PhoneOutput::writeError(QStringLiteral("No transfer %1 to pause").arg(command->transferId));
        }
        break;
    case PhoneCommand::Kind::cancel:
        if (!m_client->cancelTransfer(command->transferId)) {
            PhoneOutput::writeError(QStringLiteral("No transfer %1 to cancel").arg(command->transferId));
        }
        break;
    case PhoneCommand::Kind::confirm:
        confirmPairing();
        break;
    case PhoneCommand::Kind::quit:
        finish(0);
        break;
    }
}

void PhoneSession::finish(int exitCode)
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_pollTimer.stop();
    acknowledgeDeliveries();
    m_workers.clear();
    if (m_input) {
        m_input->stop();
    }
    m_client->disconnect();
    emit finished(exitCode);
}

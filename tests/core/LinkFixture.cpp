#include "LinkFixture.h"
#include "LoopbackRelay.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator64>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <fcntl.h>
#include <unistd.h>

using PhoneOutput::eventKindName;

// --- Sides --------------------------------------------------------------------------------------------------------

LinkSide::LinkSide(const QString &deviceName) : deviceName(deviceName)
{
    QDir().mkpath(inbox());
}

std::optional<TransferEvent> LinkSide::roundOutcome(const QString &transferId) const
{
    const QList<TransferEvent> transfer = round(transferId);
    if (transfer.isEmpty() || !isClosingKind(transfer.last().kind)) {
        return std::nullopt;
    }
    return transfer.last();
}

void HostSide::start(const QString &identityMaterial, const QString &trustedPeerSecret)
{
    object = TransferHost::start(QStringLiteral("127.0.0.1"), inbox(), deviceName, identityMaterial, trustedPeerSecret);
}

void HostSide::stop()
{
    pump();
    if (object) {
        storedIdentity = object->identityMaterial();
        storedSecret = object->trustedPeerSecret().value_or(QString());
        storedPort = port();
    }
    object.reset();
}

void HostSide::startAgain()
{
    events.clear();
    roundStart = 0;
    start(storedIdentity, storedSecret);
}

void PhoneSide::stop()
{
    pump();
    object.reset();
}

void PhoneSide::sendFile(const QString &path, const QString &fileName, const QString &transferId)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const auto size = uint64_t(QFileInfo(path).size());
    try {
        object->sendFileDescriptorWithId(descriptor, fileName, size, transferId);
    } catch (...) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        throw;
    }
    // The library keeps a duplicate of its own.
    ::close(descriptor);
}

// --- Fixture ------------------------------------------------------------------------------------------------------

LinkFixture::~LinkFixture() = default;

void LinkFixture::pump()
{
    host.pump();
    phone.pump();
    for (const auto &side : m_otherSides) {
        side->pump();
    }
}

bool LinkFixture::waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (true) {
        pump();
        if (condition()) {
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(10);
    }
}

bool LinkFixture::pair(const QString &pairingUrl)
{
    if (!host.object) {
        host.start();
    }
    phone.pair(pairingUrl.isEmpty() ? host->pairingPayload() : pairingUrl);
    const auto bothReported = [&](TransferEventKind kind) {
        return waitUntil([&] { return countEvents(host.events, kind) > 0 && countEvents(phone.events, kind) > 0; });
    };
    if (!bothReported(TransferEventKind::awaitingConfirmation)) {
        return false;
    }
    phone->confirmPairing();
    return bothReported(TransferEventKind::paired);
}

bool LinkFixture::pairThroughRelay(uint64_t bytesPerSecond)
{
    host.start();
    relay = std::make_unique<LoopbackRelay>(host.port());
    if (relay->port() == 0 || !pair(withEndpointPort(host->pairingPayload(), relay->port()))) {
        return false;
    }
    relay->setBytesPerSecond(bytesPerSecond);
    return true;
}

bool LinkFixture::roundTrip()
{
    const QString requestId = host->requestManagement(QStringLiteral("roundTrip"), QStringLiteral("{}"));
    const auto asked = [&] {
        return std::any_of(phone.requests.begin(), phone.requests.end(),
                           [&](const ManagementRequest &request) { return request.requestId == requestId; });
    };
    if (!waitUntil(asked) || !phone->respondManagement(requestId, true, QStringLiteral("{}"), QString())) {
        return false;
    }
    return waitUntil([&] {
        return std::any_of(host.responses.begin(), host.responses.end(),
                           [&](const ManagementResponse &response) { return response.requestId == requestId; });
    });
}

QString LinkFixture::describe() const
{
    // The lines the companion writes for its events.
    const auto list = [](const QString &title, const QList<TransferEvent> &events) {
        QString text = title + QStringLiteral(":\n");
        for (const TransferEvent &event : events) {
            text += QStringLiteral("  ") +
                    QString::fromUtf8(QJsonDocument(PhoneOutput::eventLine(event)).toJson(QJsonDocument::Compact)) +
                    QLatin1Char('\n');
        }
        return text;
    };
    QString text = list(QStringLiteral("host"), host.events) + list(QStringLiteral("phone"), phone.events);
    for (const auto &side : m_otherSides) {
        text += list(side->deviceName, side->events);
    }
    if (relay) {
        text += QStringLiteral("relay on port %1\n").arg(relay->port());
    }
    return text;
}

QString LinkFixture::writeSourceFile(const QString &name, qint64 size)
{
    const QString path = m_source.path() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return {};
    }
    QRandomGenerator64 generator(++m_sourceFiles);
    QList<quint64> block(128 * 1024);
    for (qint64 written = 0; written < size; written += qint64(sizeof(quint64)) * block.size()) {
        generator.fillRange(block.data(), block.size());
        const qint64 count = std::min<qint64>(qint64(sizeof(quint64)) * block.size(), size - written);
        if (file.write(reinterpret_cast<const char *>(block.constData()), count) != count) {
            return {};
        }
    }
    return path;
}

void LinkFixture::sendFile(Way way, const QString &path, const QString &fileName, const QString &transferId)
{
    sinceLastSend.start();
    if (way == Way::hostToPhone) {
        host->sendFileWithId(path, fileName, transferId);
    } else {
        phone.sendFile(path, fileName, transferId);
    }
}

QString LinkFixture::transferFile(Way way, const QString &fileName, qint64 size, const QString &transferId)
{
    const QString path = writeSourceFile(fileName, size);
    sendFile(way, path, fileName, transferId);
    const bool completed = waitUntil([&] { return bothEndsReported(way, TransferEventKind::completed, transferId); });
    return completed ? path : QString();
}

QString LinkFixture::startThrottledTransfer(Way way, const QString &fileName, const QString &transferId)
{
    if (!pairThroughRelay(throttledBytesPerSecond)) {
        return {};
    }
    const QString path = writeSourceFile(fileName, throttledFileBytes);
    sendFile(way, path, fileName, transferId);
    const bool started =
        waitUntil([&] { return mostBytesReported(receiver(way).events, transferId) >= uint64_t(mebibyte); });
    return started ? path : QString();
}

void LinkFixture::newRound()
{
    pump();
    host.roundStart = host.events.size();
    phone.roundStart = phone.events.size();
    for (const auto &side : m_otherSides) {
        side->roundStart = side->events.size();
    }
}

bool LinkFixture::bothEndsReported(Way way, TransferEventKind kind, const QString &transferId)
{
    return lastEvent(sender(way).round(transferId), kind, transferId) &&
           lastEvent(receiver(way).round(transferId), kind, transferId);
}

QString LinkFixture::transferProblem(Way way, const QString &transferId, TransferEventKind closing, uint64_t totalBytes)
{
    const QString sending =
        transferRoundProblem(sender(way).round(transferId), TransferDirection::sending, closing, totalBytes);
    const QString receiving =
        transferRoundProblem(receiver(way).round(transferId), TransferDirection::receiving, closing, totalBytes);
    return !sending.isEmpty() ? QStringLiteral("sender: ") + sending
                              : (!receiving.isEmpty() ? QStringLiteral("receiver: ") + receiving : QString());
}

QString LinkFixture::resumeProblem(Way way, const QString &path, const QString &fileName, const QString &transferId,
                                   uint64_t heldBytes)
{
    if (relay) {
        relay->setBytesPerSecond(0);
    }
    newRound();
    sendFile(way, path, fileName, transferId);
    if (!waitUntil([&] { return bothEndsReported(way, TransferEventKind::completed, transferId); })) {
        return QStringLiteral("the file sent again did not complete in time");
    }
    pump();
    const auto size = uint64_t(QFileInfo(path).size());
    if (const QString problem = transferProblem(way, transferId, TransferEventKind::completed, size);
        !problem.isEmpty()) {
        return problem;
    }
    // The receiver's first event and the sender's first progress tell where each picked up.
    const QList<TransferEvent> sent = sender(way).round(transferId);
    const QList<TransferEvent> received = receiver(way).round(transferId);
    if (received.first().transferredBytes != heldBytes || sent.size() < 2 || sent[1].transferredBytes != heldBytes) {
        return QStringLiteral("picked up at %1 (receiver) and %2 (sender) instead of %3")
            .arg(received.first().transferredBytes)
            .arg(sent.size() < 2 ? 0 : sent[1].transferredBytes)
            .arg(heldBytes);
    }
    if (received.last().fileName != fileName || fileSha256(receiver(way).inboxFile(fileName)) != fileSha256(path)) {
        return QStringLiteral("%1 in the inbox is not the file sent").arg(fileName);
    }
    const QStringList partial = partialFiles(receiver(way).inbox());
    return partial.isEmpty() ? QString() : QStringLiteral("partial files left: ") + partial.join(QLatin1Char(' '));
}

// --- Events -------------------------------------------------------------------------------------------------------

QString wayName(Way way)
{
    return way == Way::hostToPhone ? QStringLiteral("host to phone") : QStringLiteral("phone to host");
}

QStringList kindNames(const QList<TransferEvent> &events)
{
    QStringList names;
    for (const TransferEvent &event : events) {
        names.append(eventKindName(event.kind));
    }
    return names;
}

bool isClosingKind(TransferEventKind kind)
{
    return kind == TransferEventKind::completed || kind == TransferEventKind::failed ||
           kind == TransferEventKind::paused || kind == TransferEventKind::cancelled ||
           kind == TransferEventKind::waitingForConnection;
}

QList<TransferEvent> eventsOf(const QList<TransferEvent> &events, const QString &transferId)
{
    QList<TransferEvent> result;
    std::copy_if(events.begin(), events.end(), std::back_inserter(result),
                 [&](const TransferEvent &event) { return event.transferId == transferId; });
    return result;
}

int countEvents(const QList<TransferEvent> &events, TransferEventKind kind, const QString &transferId)
{
    return int(std::count_if(events.begin(), events.end(), [&](const TransferEvent &event) {
        return event.kind == kind && event.transferId == transferId;
    }));
}

std::optional<TransferEvent> lastEvent(const QList<TransferEvent> &events, TransferEventKind kind,
                                       const QString &transferId)
{
    for (auto event = events.rbegin(); event != events.rend(); ++event) {
        if (event->kind == kind && event->transferId == transferId) {
            return *event;
        }
    }
    return std::nullopt;
}

uint64_t mostBytesReported(const QList<TransferEvent> &events, const QString &transferId)
{
    uint64_t most = 0;
    for (const TransferEvent &event : eventsOf(events, transferId)) {
        most = std::max(most, event.transferredBytes);
    }
    return most;
}

QString transferRoundProblem(const QList<TransferEvent> &events, TransferDirection direction, TransferEventKind closing,
                             uint64_t totalBytes)
{
    const bool sending = direction == TransferDirection::sending;
    const TransferEventKind opening = sending ? TransferEventKind::queued : TransferEventKind::receiving;
    const TransferEventKind progress = sending ? TransferEventKind::sending : TransferEventKind::receiving;
    const QString all = kindNames(events).join(QLatin1Char(' '));
    if (events.isEmpty() || events.first().kind != opening || events.last().kind != closing) {
        return QStringLiteral("not from %1 to %2: %3").arg(eventKindName(opening), eventKindName(closing), all);
    }
    uint64_t reported = 0;
    for (qsizetype index = 0; index < events.size(); ++index) {
        const TransferEvent &event = events[index];
        const QString where = QStringLiteral("event %1 (%2) ").arg(index).arg(eventKindName(event.kind));
        const bool last = index == events.size() - 1;
        if (isClosingKind(event.kind) != last || (!last && index > 0 && event.kind != progress)) {
            return where + QStringLiteral("is out of place: ") + all;
        }
        if (event.direction != direction) {
            return where + QStringLiteral("has direction ") + PhoneOutput::directionName(event.direction);
        }
        if (event.totalBytes != totalBytes || event.transferredBytes > totalBytes) {
            return where + QStringLiteral("reports %1 of %2 bytes instead of a total of %3")
                               .arg(event.transferredBytes)
                               .arg(event.totalBytes)
                               .arg(totalBytes);
        }
        if (event.kind == progress && event.transferredBytes < reported) {
            return where + QStringLiteral("goes back from %1 bytes to %2").arg(reported).arg(event.transferredBytes);
        }
        reported = event.kind == progress ? event.transferredBytes : reported;
    }
    if (closing == TransferEventKind::completed && events.last().transferredBytes != totalBytes) {
        return QStringLiteral("completed with %1 of %2 bytes").arg(events.last().transferredBytes).arg(totalBytes);
    }
    return {};
}

QString pairingProblem(const QList<TransferEvent> &events, const QString &peerName)
{
    const QString all = kindNames(events).join(QLatin1Char(' '));
    if (all != QStringLiteral("connecting awaitingConfirmation paired")) {
        return QStringLiteral("not one pairing: ") + all;
    }
    for (const TransferEvent &event : events) {
        if (event.peerName != peerName || event.direction != TransferDirection::none) {
            return QStringLiteral("%1 names %2 with direction %3")
                .arg(eventKindName(event.kind), event.peerName, PhoneOutput::directionName(event.direction));
        }
    }
    return {};
}

// --- Files and pairing URLs ---------------------------------------------------------------------------------------

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

QByteArray fileBytes(const QString &path, qint64 count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return count < 0 ? file.readAll() : file.read(count);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList partialFiles(const QString &inbox)
{
    return QDir(inbox).entryList({QStringLiteral(".tavrine-incoming-*.part")}, QDir::Files | QDir::Hidden);
}

QString pairingItem(const QString &pairingUrl, const QString &name)
{
    return QUrlQuery(pairingUrl.section(QLatin1Char('?'), 1)).queryItemValue(name, QUrl::FullyDecoded);
}

quint16 endpointPort(const QString &pairingUrl)
{
    return quint16(pairingItem(pairingUrl, QStringLiteral("endpoint")).section(QLatin1Char(':'), -1).toUInt());
}

QString withPairingItem(const QString &pairingUrl, const QString &name, const QString &value)
{
    const QString base = pairingUrl.section(QLatin1Char('?'), 0, 0);
    QStringList items = pairingUrl.section(QLatin1Char('?'), 1).split(QLatin1Char('&'));
    for (QString &item : items) {
        if (item.section(QLatin1Char('='), 0, 0) == name) {
            item = name + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value, ":"));
        }
    }
    return base + QLatin1Char('?') + items.join(QLatin1Char('&'));
}

QString withEndpointPort(const QString &pairingUrl, quint16 port)
{
    return withPairingItem(pairingUrl, QStringLiteral("endpoint"), QStringLiteral("127.0.0.1:%1").arg(port));
}

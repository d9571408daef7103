#include "LinkFixture.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

// --- Sides --------------------------------------------------------------------------------------------------------

HostSide::HostSide(const QString &deviceName) : deviceName(deviceName)
{
    QDir().mkpath(inbox());
}

void HostSide::start(const QString &identityMaterial, const QString &trustedPeerSecret)
{
    object = TransferHost::start(QStringLiteral("127.0.0.1"), inbox(), deviceName, identityMaterial, trustedPeerSecret);
}

void HostSide::stop()
{
    pump();
    object.reset();
}

void HostSide::pump()
{
    if (!object) {
        return;
    }
    while (auto event = object->pollEvent()) {
        events.append(*event);
    }
    while (auto response = object->pollManagementResponse()) {
        responses.append(*response);
    }
}

quint16 HostSide::port() const
{
    return object ? endpointPort(object->pairingPayload()) : 0;
}

PhoneSide::PhoneSide(const QString &deviceName) : deviceName(deviceName)
{
    QDir().mkpath(inbox());
}

void PhoneSide::pair(const QString &pairingUrl)
{
    object = TransferClient::connect(pairingUrl, QString(), deviceName, inbox());
}

void PhoneSide::reconnect(const QString &connectionMaterial)
{
    object = TransferClient::connect(QString(), connectionMaterial, deviceName, inbox());
}

void PhoneSide::stop()
{
    pump();
    object.reset();
}

void PhoneSide::pump()
{
    if (!object) {
        return;
    }
    while (auto event = object->pollEvent()) {
        events.append(*event);
    }
    while (auto request = object->pollManagementRequest()) {
        requests.append(*request);
    }
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

HostSide &LinkFixture::addHost(const QString &deviceName)
{
    return m_otherHosts.emplace_back(deviceName);
}

PhoneSide &LinkFixture::addPhone(const QString &deviceName)
{
    return m_otherPhones.emplace_back(deviceName);
}

void LinkFixture::pump()
{
    host.pump();
    phone.pump();
    for (HostSide &side : m_otherHosts) {
        side.pump();
    }
    for (PhoneSide &side : m_otherPhones) {
        side.pump();
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
    const auto awaiting = [&] {
        return countEvents(host.events, TransferEventKind::awaitingConfirmation) > 0 &&
               countEvents(phone.events, TransferEventKind::awaitingConfirmation) > 0;
    };
    if (!waitUntil(awaiting)) {
        return false;
    }
    phone->confirmPairing();
    return waitUntil([&] {
        return countEvents(host.events, TransferEventKind::paired) > 0 &&
               countEvents(phone.events, TransferEventKind::paired) > 0;
    });
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
    const auto list = [](const QString &title, const QList<TransferEvent> &events) {
        QString text = title + QStringLiteral(":");
        for (const TransferEvent &event : events) {
            text += QStringLiteral("\n  %1 dir=%2 id=%3 name=%4 %5/%6 peer=%7 %8")
                        .arg(kindName(event.kind))
                        .arg(int(event.direction))
                        .arg(event.transferId.left(12), event.fileName)
                        .arg(event.transferredBytes)
                        .arg(event.totalBytes)
                        .arg(event.peerName, event.message);
        }
        return text + QStringLiteral("\n");
    };
    QString text = list(QStringLiteral("host"), host.events) + list(QStringLiteral("phone"), phone.events);
    for (const HostSide &side : m_otherHosts) {
        text += list(side.deviceName, side.events);
    }
    for (const PhoneSide &side : m_otherPhones) {
        text += list(side.deviceName, side.events);
    }
    return text;
}

void LinkFixture::sendFile(Way way, const QString &path, const QString &fileName, const QString &transferId)
{
    if (way == Way::hostToPhone) {
        host->sendFileWithId(path, fileName, transferId);
    } else {
        phone.sendFile(path, fileName, transferId);
    }
}

bool LinkFixture::pauseTransfer(Way way, bool bySender, const QString &transferId)
{
    const bool host = (way == Way::hostToPhone) == bySender;
    return host ? this->host->pauseTransfer(transferId) : phone->pauseTransfer(transferId);
}

bool LinkFixture::cancelTransfer(Way way, bool bySender, const QString &transferId)
{
    const bool host = (way == Way::hostToPhone) == bySender;
    return host ? this->host->cancelTransfer(transferId) : phone->cancelTransfer(transferId);
}

// --- Events -------------------------------------------------------------------------------------------------------

QString wayName(Way way)
{
    return way == Way::hostToPhone ? QStringLiteral("host to phone") : QStringLiteral("phone to host");
}

QString kindName(TransferEventKind kind)
{
    switch (kind) {
    case TransferEventKind::queued:
        return QStringLiteral("queued");
    case TransferEventKind::connecting:
        return QStringLiteral("connecting");
    case TransferEventKind::awaitingConfirmation:
        return QStringLiteral("awaitingConfirmation");
    case TransferEventKind::paired:
        return QStringLiteral("paired");
    case TransferEventKind::sending:
        return QStringLiteral("sending");
    case TransferEventKind::receiving:
        return QStringLiteral("receiving");
    case TransferEventKind::waitingForConnection:
        return QStringLiteral("waitingForConnection");
    case TransferEventKind::completed:
        return QStringLiteral("completed");
    case TransferEventKind::paused:
        return QStringLiteral("paused");
    case TransferEventKind::cancelled:
        return QStringLiteral("cancelled");
    case TransferEventKind::failed:
        return QStringLiteral("failed");
    case TransferEventKind::disconnected:
        return QStringLiteral("disconnected");
    }
    return QStringLiteral("kind %1").arg(int(kind));
}

QStringList kindNames(const QList<TransferEvent> &events)
{
    QStringList names;
    for (const TransferEvent &event : events) {
        names.append(kindName(event.kind));
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
    for (const TransferEvent &event : events) {
        if (event.transferId == transferId) {
            result.append(event);
        }
    }
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
    for (const TransferEvent &event : events) {
        if (event.transferId == transferId) {
            most = std::max(most, event.transferredBytes);
        }
    }
    return most;
}

QString transferRoundProblem(const QList<TransferEvent> &events, TransferDirection direction, TransferEventKind closing,
                             uint64_t totalBytes)
{
    if (events.isEmpty()) {
        return QStringLiteral("no events");
    }
    const TransferEventKind opening =
        direction == TransferDirection::sending ? TransferEventKind::queued : TransferEventKind::receiving;
    const TransferEventKind progress =
        direction == TransferDirection::sending ? TransferEventKind::sending : TransferEventKind::receiving;
    if (events.first().kind != opening) {
        return QStringLiteral("opens with %1 instead of %2").arg(kindName(events.first().kind), kindName(opening));
    }
    uint64_t reported = 0;
    for (qsizetype index = 0; index < events.size(); ++index) {
        const TransferEvent &event = events[index];
        const bool last = index == events.size() - 1;
        if (event.direction != direction) {
            return QStringLiteral("event %1 (%2) has direction %3")
                .arg(index)
                .arg(kindName(event.kind))
                .arg(int(event.direction));
        }
        if (event.totalBytes != totalBytes) {
            return QStringLiteral("event %1 (%2) gives a total of %3 instead of %4")
                .arg(index)
                .arg(kindName(event.kind))
                .arg(event.totalBytes)
                .arg(totalBytes);
        }
        if (event.transferredBytes > totalBytes) {
            return QStringLiteral("event %1 reports %2 of %3 bytes")
                .arg(index)
                .arg(event.transferredBytes)
                .arg(totalBytes);
        }
        if (isClosingKind(event.kind) != last) {
            return last ? QStringLiteral("ends with %1 instead of %2").arg(kindName(event.kind), kindName(closing))
                        : QStringLiteral("closing event %1 at %2 is not the last").arg(kindName(event.kind)).arg(index);
        }
        if (!last && index > 0 && event.kind != progress) {
            return QStringLiteral("unexpected %1 at %2").arg(kindName(event.kind)).arg(index);
        }
        if (event.kind == progress && event.transferredBytes < reported) {
            return QStringLiteral("progress went back from %1 to %2").arg(reported).arg(event.transferredBytes);
        }
        if (event.kind == progress) {
            reported = event.transferredBytes;
        }
    }
    if (events.last().kind != closing) {
        return QStringLiteral("ends with %1 instead of %2").arg(kindName(events.last().kind), kindName(closing));
    }
    if (closing == TransferEventKind::completed && events.last().transferredBytes != totalBytes) {
        return QStringLiteral("completed with %1 of %2 bytes").arg(events.last().transferredBytes).arg(totalBytes);
    }
    return {};
}

// --- Files and pairing URLs ---------------------------------------------------------------------------------------

QString writeTestFile(const QString &directory, const QString &name, qint64 size, quint64 seed)
{
    const QString path = directory + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return {};
    }
    // splitmix64: cheap, and no two places of a file or two seeds give the same run of bytes.
    quint64 state = seed * 0x9e3779b97f4a7c15ULL + 1;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (qint64 written = 0; written < size;) {
        const qint64 count = std::min<qint64>(block.size(), size - written);
        auto *words = reinterpret_cast<quint64 *>(block.data());
        for (qint64 index = 0; index < (count + 7) / 8; ++index) {
            quint64 value = (state += 0x9e3779b97f4a7c15ULL);
            value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
            value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
            words[index] = value ^ (value >> 31);
        }
        if (file.write(block.constData(), count) != count) {
            return {};
        }
        written += count;
    }
    file.close();
    return path;
}

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

QStringList partialFiles(const QString &inbox)
{
    return QDir(inbox).entryList({QStringLiteral(".tavrine-incoming-*.part")}, QDir::Files | QDir::Hidden);
}

QString pairingItem(const QString &pairingUrl, const QString &name)
{
    const QString query = pairingUrl.section(QLatin1Char('?'), 1);
    for (const QString &item : query.split(QLatin1Char('&'))) {
        if (item.section(QLatin1Char('='), 0, 0) == name) {
            return QUrl::fromPercentEncoding(item.section(QLatin1Char('='), 1).toUtf8());
        }
    }
    return {};
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

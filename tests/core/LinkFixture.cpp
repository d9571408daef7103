#include "LinkFixture.h"
#include "PhoneOutput.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator64>
#include <QUrl>
#include <QUrlQuery>

#include <numeric>

using PhoneOutput::eventKindName;

using namespace Qt::StringLiterals;

namespace {

bool isClosingKind(TransferEventKind kind)
{
    return kind == TransferEventKind::completed || kind == TransferEventKind::failed ||
           kind == TransferEventKind::paused || kind == TransferEventKind::cancelled ||
           kind == TransferEventKind::waitingForConnection;
}

} // namespace

LinkSide::LinkSide(const QString &deviceName) : deviceName(deviceName)
{
    QDir().mkpath(inbox());
}

std::optional<TransferEvent> LinkSide::roundOutcome(const QString &transferId) const
{
    const QList<TransferEvent> transfer = round(transferId);
    return !transfer.isEmpty() && isClosingKind(transfer.last().kind) ? std::optional(transfer.last()) : std::nullopt;
}

QString LinkSide::onePartialFile() const
{
    const QStringList partial = partialFiles(inbox());
    return partial.size() == 1 ? inboxFile(partial.first()) : QString();
}

void HostSide::start()
{
    object = TransferHost::start(u"127.0.0.1"_s, inbox(), deviceName, storedIdentity, storedSecret);
}

quint16 HostSide::port() const
{
    return object ? quint16(pairingItem(object->pairingPayload(), u"endpoint"_s).section(u':', -1).toUInt()) : 0;
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
    start();
}

void PhoneSide::stop()
{
    pump();
    object.reset();
}

void PhoneSide::sendFile(const QString &path, const QString &fileName, const QString &transferId)
{
    // The library keeps a duplicate of the descriptor; ours closes with the file.
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    object->sendFileDescriptorWithId(file.handle(), fileName, uint64_t(file.size()), transferId);
}

void LinkFixture::pump()
{
    host.pump();
    phone.pump();
    for (PhoneSide &other : m_otherPhones) {
        other.pump();
    }
}

bool LinkFixture::waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    for (pump(); !condition(); pump()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

bool LinkFixture::pair(const QString &pairingUrl)
{
    if (!host.object) {
        host.start();
    }
    // Only events of this pairing count: the phone may have paired before.
    const auto hostBefore = host.events.size();
    const auto phoneBefore = phone.events.size();
    phone.pair(pairingUrl.isEmpty() ? host->pairingPayload() : pairingUrl);
    const auto bothReported = [&](TransferEventKind kind) {
        return waitUntil([&] {
            return countEvents(host.events.mid(hostBefore), kind) > 0 &&
                   countEvents(phone.events.mid(phoneBefore), kind) > 0;
        });
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
    const QString throughRelay =
        withPairingItem(host->pairingPayload(), u"endpoint"_s, u"127.0.0.1:%1"_s.arg(relay->port()));
    if (relay->port() == 0 || !pair(throughRelay)) {
        return false;
    }
    relay->setBytesPerSecond(bytesPerSecond);
    return true;
}

bool LinkFixture::roundTrip()
{
    const QString requestId = host->requestManagement(u"roundTrip"_s, u"{}"_s);
    const auto has = [&](const auto &list) {
        return std::any_of(list.begin(), list.end(), [&](const auto &item) { return item.requestId == requestId; });
    };
    return waitUntil([&] { return has(phone.requests); }) &&
           phone->respondManagement(requestId, true, u"{}"_s, QString()) &&
           waitUntil([&] { return has(host.responses); });
}

QString LinkFixture::describe() const
{
    // The lines the companion writes for its events.
    QString text;
    const auto list = [&text](const LinkSide &side) {
        text += side.deviceName + u":\n"_s;
        for (const TransferEvent &event : side.events) {
            text += u"  %1\n"_s.arg(
                QString::fromUtf8(QJsonDocument(PhoneOutput::eventLine(event)).toJson(QJsonDocument::Compact)));
        }
    };
    list(host);
    list(phone);
    std::for_each(m_otherPhones.begin(), m_otherPhones.end(), list);
    return text;
}

QString LinkFixture::writeSourceFile(const QString &name, qint64 size)
{
    const QString path = m_source.path() + u'/' + name;
    QFile file(path);
    QRandomGenerator64 generator(++m_sourceFiles);
    QList<quint64> block(128 * 1024);
    const qint64 blockBytes = qint64(sizeof(quint64)) * block.size();
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (qint64 offset = 0; written && offset < size; offset += blockBytes) {
        generator.fillRange(block.data(), block.size());
        const qint64 count = std::min(blockBytes, size - offset);
        written = file.write(reinterpret_cast<const char *>(block.constData()), count) == count;
    }
    return written ? path : QString();
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
    return waitUntil([&] { return bothEndsReported(way, TransferEventKind::completed, transferId); }) ? path
                                                                                                      : QString();
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
    for (PhoneSide &other : m_otherPhones) {
        other.roundStart = other.events.size();
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
    return !sending.isEmpty() ? u"sender: "_s + sending
                              : (!receiving.isEmpty() ? u"receiver: "_s + receiving : QString());
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
        return u"the file sent again did not complete in time"_s;
    }
    pump();
    const QString problem = transferProblem(way, transferId, TransferEventKind::completed, QFileInfo(path).size());
    // The receiver's first event and the sender's first progress tell where each picked up.
    const QList<TransferEvent> sent = sender(way).round(transferId);
    const QList<TransferEvent> received = receiver(way).round(transferId);
    if (!problem.isEmpty() || received.first().transferredBytes != heldBytes || sent[1].transferredBytes != heldBytes) {
        return problem.isEmpty() ? u"did not pick up at %1 bytes"_s.arg(heldBytes) : problem;
    }
    if (received.last().fileName != fileName || fileSha256(receiver(way).inboxFile(fileName)) != fileSha256(path)) {
        return u"%1 in the inbox is not the file sent"_s.arg(fileName);
    }
    return partialFiles(receiver(way).inbox()).isEmpty() ? QString() : u"partial files left"_s;
}

QString wayName(Way way)
{
    return way == Way::hostToPhone ? u"host to phone"_s : u"phone to host"_s;
}

QStringList kindNames(const QList<TransferEvent> &events)
{
    QStringList names;
    for (const TransferEvent &event : events) {
        names.append(eventKindName(event.kind));
    }
    return names;
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
    const auto found = std::find_if(events.rbegin(), events.rend(), [&](const TransferEvent &event) {
        return event.kind == kind && event.transferId == transferId;
    });
    return found == events.rend() ? std::nullopt : std::optional(*found);
}

uint64_t mostBytesReported(const QList<TransferEvent> &events, const QString &transferId)
{
    const QList<TransferEvent> transfer = eventsOf(events, transferId);
    return std::accumulate(
        transfer.begin(), transfer.end(), uint64_t(0),
        [](uint64_t most, const TransferEvent &event) { return std::max(most, event.transferredBytes); });
}

QString transferRoundProblem(const QList<TransferEvent> &events, TransferDirection direction, TransferEventKind closing,
                             uint64_t totalBytes)
{
    const bool sending = direction == TransferDirection::sending;
    const TransferEventKind opening = sending ? TransferEventKind::queued : TransferEventKind::receiving;
    const TransferEventKind progress = sending ? TransferEventKind::sending : TransferEventKind::receiving;
    const auto problem = [&](qsizetype index) {
        return u"not one round to %1 of %2 bytes, from event %3: %4"_s.arg(eventKindName(closing))
            .arg(totalBytes)
            .arg(index)
            .arg(kindNames(events).join(u' '));
    };
    if (events.isEmpty() || events.first().kind != opening || events.last().kind != closing ||
        (closing == TransferEventKind::completed && events.last().transferredBytes != totalBytes)) {
        return problem(0);
    }
    // Progress in between that never goes back, every event of this direction and of the whole file.
    uint64_t reported = 0;
    for (qsizetype index = 0; index < events.size(); ++index) {
        const TransferEvent &event = events[index];
        const bool last = index == events.size() - 1;
        if (isClosingKind(event.kind) != last || (!last && index > 0 && event.kind != progress) ||
            event.direction != direction || event.totalBytes != totalBytes || event.transferredBytes > totalBytes ||
            (event.kind == progress && event.transferredBytes < reported)) {
            return problem(index);
        }
        reported = event.kind == progress ? event.transferredBytes : reported;
    }
    return {};
}

QString pairingProblem(const QList<TransferEvent> &events, const QString &peerName)
{
    const bool fine = kindNames(events) == QStringList({"connecting", "awaitingConfirmation", "paired"}) &&
                      std::all_of(events.begin(), events.end(), [&](const TransferEvent &event) {
                          return event.peerName == peerName && event.direction == TransferDirection::none;
                      });
    return fine ? QString() : u"not one pairing with %1 without a direction"_s.arg(peerName);
}

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

QByteArray fileBytes(const QString &path, qint64 count)
{
    QFile file(path);
    return !file.open(QIODevice::ReadOnly) ? QByteArray() : count < 0 ? file.readAll() : file.read(count);
}

QStringList partialFiles(const QString &inbox)
{
    return QDir(inbox).entryList({u".tavrine-incoming-*.part"_s}, QDir::Files | QDir::Hidden);
}

QString pairingItem(const QString &pairingUrl, const QString &name)
{
    return QUrlQuery(pairingUrl.section(u'?', 1)).queryItemValue(name, QUrl::FullyDecoded);
}

QString withPairingItem(const QString &pairingUrl, const QString &name, const QString &value)
{
    QStringList items = pairingUrl.section(u'?', 1).split(u'&');
    for (QString &item : items) {
        if (item.section(u'=', 0, 0) == name) {
            item = name + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(value, ":"));
        }
    }
    return pairingUrl.section(u'?', 0, 0) + u'?' + items.join(u'&');
}

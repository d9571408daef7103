#pragma once

#include "TestSupport.h"

#include "LoopbackRelay.h"
#include "ManagementMessages.h"
#include "TransferClient.h"
#include "TransferEvent.h"
#include "TransferHost.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>

// A real host and a real phone of the core library over 127.0.0.1, their queues drained into lists.

constexpr qint64 mebibyte = 1024 * 1024;
// Slow enough that a pause or a cancel lands in the middle of a file, fast enough to keep the tests short.
constexpr uint64_t throttledBytesPerSecond = 4 * mebibyte;
constexpr qint64 throttledFileBytes = 24 * mebibyte;

QStringList kindNames(const QList<TransferEvent> &events);
// The events of one transfer, or the link events (empty id), in order.
QList<TransferEvent> eventsOf(const QList<TransferEvent> &events, const QString &transferId);
int countEvents(const QList<TransferEvent> &events, TransferEventKind kind, const QString &transferId = {});
std::optional<TransferEvent> lastEvent(const QList<TransferEvent> &events, TransferEventKind kind,
                                       const QString &transferId = {});
uint64_t mostBytesReported(const QList<TransferEvent> &events, const QString &transferId);
// Empty when `events` (one round of one transfer, in order) open as they should, report progress that
// never goes back, and end with exactly one closing event, of kind `closing`; otherwise what is wrong.
QString transferRoundProblem(const QList<TransferEvent> &events, TransferDirection direction, TransferEventKind closing,
                             uint64_t totalBytes);
// Empty when `events` are one pairing with `peerName`, without a direction, and nothing else.
QString pairingProblem(const QList<TransferEvent> &events, const QString &peerName);

QByteArray fileSha256(const QString &path);
QByteArray fileBytes(const QString &path, qint64 count = -1);
// The hidden partial files of unfinished transfers in an inbox.
QStringList partialFiles(const QString &inbox);
QString pairingItem(const QString &pairingUrl, const QString &name);
QString withPairingItem(const QString &pairingUrl, const QString &name, const QString &value);

// What a host and a phone both have: an inbox of their own and the events drained from their queue.
struct LinkSide
{
    explicit LinkSide(const QString &deviceName);
    virtual ~LinkSide() = default;

    virtual void pump() = 0;
    QString inbox() const { return root.path() + QStringLiteral("/inbox"); }
    QString inboxFile(const QString &name) const { return inbox() + QLatin1Char('/') + name; }
    // The events of one transfer, or the link events (empty id), since the last LinkFixture::newRound().
    QList<TransferEvent> round(const QString &transferId = {}) const
    {
        return eventsOf(events.mid(roundStart), transferId);
    }
    // The closing event of this round of the transfer; none while it goes on.
    std::optional<TransferEvent> roundOutcome(const QString &transferId) const;
    // The path of the hidden partial file in the inbox; empty unless there is exactly one.
    QString onePartialFile() const;

    QTemporaryDir root;
    QString deviceName;
    QList<TransferEvent> events;
    qsizetype roundStart = 0;

protected:
    template <typename Object, typename Message>
    void drain(Object *object, std::optional<Message> (Object::*pollMessage)(), QList<Message> &messages)
    {
        while (auto event = object ? object->pollEvent() : std::nullopt) {
            events.append(*event);
        }
        while (auto message = object ? (object->*pollMessage)() : std::nullopt) {
            messages.append(*message);
        }
    }
};

struct HostSide : LinkSide
{
    using LinkSide::LinkSide;

    // From what is stored, if anything. Throws TavrineCoreError.
    void start();
    // Drains what is left, keeps what the application stores of the host, then ends the host object.
    void stop();
    // A new host object from what the stopped one left to store, with no events yet. Throws TavrineCoreError.
    void startAgain();
    void pump() override { drain(object.get(), &TransferHost::pollManagementResponse, responses); }
    TransferHost *operator->() const { return object.get(); }
    quint16 port() const;

    std::unique_ptr<TransferHost> object;
    QList<ManagementResponse> responses;
    QString storedIdentity;
    QString storedSecret;
    quint16 storedPort = 0;
};

struct PhoneSide : LinkSide
{
    using LinkSide::LinkSide;

    // Throw TavrineCoreError.
    void pair(const QString &pairingUrl) { object = TransferClient::connect(pairingUrl, {}, deviceName, inbox()); }
    void reconnect(const QString &material) { object = TransferClient::connect({}, material, deviceName, inbox()); }
    void stop();
    void pump() override { drain(object.get(), &TransferClient::pollManagementRequest, requests); }
    // Hands the open file's descriptor to the phone, as the companion does. Throws TavrineCoreError.
    void sendFile(const QString &path, const QString &fileName, const QString &transferId);
    TransferClient *operator->() const { return object.get(); }

    std::unique_ptr<TransferClient> object;
    QList<ManagementRequest> requests;
};

enum class Way
{
    hostToPhone,
    phoneToHost,
};

QString wayName(Way way);
using Kind = TransferEventKind;

class LinkFixture
{
public:
    PhoneSide &addPhone(const QString &deviceName) { return m_otherPhones.emplace_back(deviceName); }

    void pump();
    // Pumps every side until `condition` holds; false when `timeout` passed first.
    bool waitUntil(const std::function<bool()> &condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Starts the host when it is not running, pairs the phone through `pairingUrl` (the host's own when
    // empty) and confirms; false when a step did not happen in time.
    bool pair(const QString &pairingUrl = {});
    // Starts the host, pairs the phone through a `relay` in front of it, then caps that at `bytesPerSecond` (0: none).
    bool pairThroughRelay(uint64_t bytesPerSecond);
    bool bothSidesCount(TransferEventKind kind, int count) const
    {
        return countEvents(host.events, kind) == count && countEvents(phone.events, kind) == count;
    }
    // A management request answered by the phone. Control frames of each side travel in order, so once
    // the answer is back, both sides have handled every control frame the other sent before it.
    bool roundTrip();
    QString describe() const;

    // Writes `size` bytes that differ from file to file and from place to place into a folder that lasts
    // as long as the fixture; gives the path.
    QString writeSourceFile(const QString &name, qint64 size);
    QString sourceFolder() const { return m_source.path(); }
    LinkSide &sender(Way way) { return way == Way::hostToPhone ? static_cast<LinkSide &>(host) : phone; }
    LinkSide &receiver(Way way) { return way == Way::hostToPhone ? static_cast<LinkSide &>(phone) : host; }
    void sendFile(Way way, const QString &path, const QString &fileName, const QString &transferId);
    // Writes a source file and sends it under `transferId` until both ends completed it; gives the source path, empty
    // when it did not complete in time.
    QString transferFile(Way way, const QString &fileName, qint64 size, const QString &transferId);
    // Pairs through a relay at throttledBytesPerSecond, sends a source file of throttledFileBytes until the receiver
    // reported a mebibyte; gives the source path, empty when a step did not happen in time.
    QString startThrottledTransfer(Way way, const QString &fileName, const QString &transferId);

    // From here on, LinkSide::round() and the checks below see only the events that come after.
    void newRound();
    bool bothEndsReported(Way way, TransferEventKind kind, const QString &transferId);
    QString transferProblem(Way way, const QString &transferId, TransferEventKind closing, uint64_t totalBytes);
    // Sends the file at `path` again under its id, at full speed, in a new round. Empty when both ends
    // complete it, picking up at the `heldBytes` the receiver kept, and the receiver holds the whole file
    // under `fileName` and no partial file; otherwise what is wrong.
    QString resumeProblem(Way way, const QString &path, const QString &fileName, const QString &transferId,
                          uint64_t heldBytes);

    HostSide host{QStringLiteral("Test computer")};
    PhoneSide phone{QStringLiteral("Test phone")};
    // Set by pairThroughRelay(); ends before the sides.
    std::unique_ptr<LoopbackRelay> relay;
    // Restarted by every sendFile(), to tell how often a transfer reports.
    QElapsedTimer sinceLastSend;

private:
    QTemporaryDir m_source;
    quint32 m_sourceFiles = 0;
    std::list<PhoneSide> m_otherPhones;
};

// Fails the test with every side's events unless `condition` holds.
#define VERIFY_LINK(link, condition) QVERIFY2(condition, qPrintable((link).describe()))

// Fails the test with `problemText` and every side's events unless `problemText` is empty.
#define VERIFY_NO_PROBLEM(link, problemText)                                                                           \
    do {                                                                                                               \
        const QString problem = (problemText);                                                                         \
        QVERIFY2(problem.isEmpty(), qPrintable(problem + QStringLiteral("\n") + (link).describe()));                   \
    } while (false)

// Waits until `condition` holds, pumping every side, for 20 s or the timeout given; else fails with every side's
// events.
// clang-format off
#define WAIT_FOR(link, condition, ...)                                                                                 \
    VERIFY_LINK(link, (link).waitUntil([&] { return bool(condition); } __VA_OPT__(, ) __VA_ARGS__))
// clang-format on

#define VERIFY_ROUND(link, events, direction, closing, total)                                                          \
    VERIFY_NO_PROBLEM(link, transferRoundProblem(events, direction, closing, uint64_t(total)))

#define VERIFY_TRANSFER(link, way, transferId, closing, total)                                                         \
    VERIFY_NO_PROBLEM(link, (link).transferProblem(way, transferId, closing, uint64_t(total)))

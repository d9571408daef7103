#pragma once

#include "ManagementMessages.h"
#include "TransferClient.h"
#include "TransferEvent.h"
#include "TransferHost.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>

// A real host and a real phone of the core library over 127.0.0.1, with their queues drained into
// lists. Each side has an inbox of its own in a temporary folder.

constexpr auto linkWaitTimeout = std::chrono::seconds(20);

struct HostSide
{
    explicit HostSide(const QString &deviceName);

    // Throws TavrineCoreError.
    void start(const QString &identityMaterial = {}, const QString &trustedPeerSecret = {});
    // Drains what is left, then ends the host object.
    void stop();
    void pump();
    TransferHost *operator->() const { return object.get(); }
    QString inbox() const { return root.path() + QStringLiteral("/inbox"); }
    quint16 port() const;

    QTemporaryDir root;
    QString deviceName;
    std::unique_ptr<TransferHost> object;
    QList<TransferEvent> events;
    QList<ManagementResponse> responses;
};

struct PhoneSide
{
    explicit PhoneSide(const QString &deviceName);

    // Throws TavrineCoreError.
    void pair(const QString &pairingUrl);
    void reconnect(const QString &connectionMaterial);
    void stop();
    void pump();
    // Opens the file and hands its descriptor to the phone, as the companion does. Throws TavrineCoreError.
    void sendFile(const QString &path, const QString &fileName, const QString &transferId);
    TransferClient *operator->() const { return object.get(); }
    QString inbox() const { return root.path() + QStringLiteral("/inbox"); }

    QTemporaryDir root;
    QString deviceName;
    std::unique_ptr<TransferClient> object;
    QList<TransferEvent> events;
    QList<ManagementRequest> requests;
};

enum class Way
{
    hostToPhone,
    phoneToHost,
};

QString wayName(Way way);

class LinkFixture
{
public:
    HostSide &addHost(const QString &deviceName);
    PhoneSide &addPhone(const QString &deviceName);

    void pump();
    // Pumps every side until `condition` holds; false when `timeout` passed first.
    bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout = linkWaitTimeout);
    // Starts the host when it is not running, pairs the phone through `pairingUrl` (the host's own when
    // empty) and confirms; false when a step did not happen in time.
    bool pair(const QString &pairingUrl = {});
    // A management request answered by the phone. Control frames of each side travel in order, so once
    // the answer is back, both sides have handled every control frame the other sent before it.
    bool roundTrip();
    // Every side's events, for failure messages.
    QString describe() const;

    // The two ends of a transfer in direction `way`.
    void sendFile(Way way, const QString &path, const QString &fileName, const QString &transferId);
    QList<TransferEvent> &senderEvents(Way way) { return way == Way::hostToPhone ? host.events : phone.events; }
    QList<TransferEvent> &receiverEvents(Way way) { return way == Way::hostToPhone ? phone.events : host.events; }
    QString receiverInbox(Way way) const { return way == Way::hostToPhone ? phone.inbox() : host.inbox(); }
    bool pauseTransfer(Way way, bool bySender, const QString &transferId);
    bool cancelTransfer(Way way, bool bySender, const QString &transferId);

    HostSide host{QStringLiteral("Test computer")};
    PhoneSide phone{QStringLiteral("Test phone")};

private:
    std::list<HostSide> m_otherHosts;
    std::list<PhoneSide> m_otherPhones;
};

// --- Events -----------------------------------------------------------------------------------------------------

QString kindName(TransferEventKind kind);
QStringList kindNames(const QList<TransferEvent> &events);
bool isClosingKind(TransferEventKind kind);
// The events of one transfer, or the link events (empty id), in order.
QList<TransferEvent> eventsOf(const QList<TransferEvent> &events, const QString &transferId);
int countEvents(const QList<TransferEvent> &events, TransferEventKind kind, const QString &transferId = {});
std::optional<TransferEvent> lastEvent(const QList<TransferEvent> &events, TransferEventKind kind,
                                       const QString &transferId = {});
// The most bytes any event of the transfer reported.
uint64_t mostBytesReported(const QList<TransferEvent> &events, const QString &transferId);
// Empty when `events` (one round of one transfer, in order) open as they should, report progress that
// never goes back, and end with exactly one closing event, of kind `closing`; otherwise what is wrong.
QString transferRoundProblem(const QList<TransferEvent> &events, TransferDirection direction, TransferEventKind closing,
                             uint64_t totalBytes);

// --- Files and pairing URLs ---------------------------------------------------------------------------------------

// Writes `size` bytes that differ from file to file and from place to place; gives the path.
QString writeTestFile(const QString &directory, const QString &name, qint64 size, quint64 seed);
QByteArray fileSha256(const QString &path);
QByteArray fileBytes(const QString &path, qint64 count = -1);
// The hidden partial files of unfinished transfers in an inbox.
QStringList partialFiles(const QString &inbox);

QString pairingItem(const QString &pairingUrl, const QString &name);
quint16 endpointPort(const QString &pairingUrl);
QString withPairingItem(const QString &pairingUrl, const QString &name, const QString &value);
// The pairing URL with its endpoint moved to another port of 127.0.0.1, such as a relay's.
QString withEndpointPort(const QString &pairingUrl, quint16 port);

// --- Checks -------------------------------------------------------------------------------------------------------

// Waits until `condition` holds, pumping every side; fails the test with every side's events otherwise.
#define WAIT_FOR(link, condition)                                                                                      \
    QVERIFY2((link).waitUntil([&] { return bool(condition); }), qPrintable((link).describe()))

// Checks one round of one transfer with transferRoundProblem().
#define VERIFY_ROUND(link, events, direction, closing, total)                                                          \
    do {                                                                                                               \
        const QString problem = transferRoundProblem(events, direction, closing, total);                               \
        QVERIFY2(problem.isEmpty(), qPrintable(problem + QStringLiteral("\n") + (link).describe()));                   \
    } while (false)

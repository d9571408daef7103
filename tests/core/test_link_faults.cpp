#include "LinkFixture.h"
#include "LinkedCoreFunctions.h"
#include "TavrineCoreError.h"

#include <QRandomGenerator>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define TAVRINE_ASAN_HEAP 1
#endif
#endif
#ifndef TAVRINE_ASAN_HEAP
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;

namespace {

using namespace std::chrono_literals;

// Short, so that a silent peer is noticed well within a test's bounds; the library reads it once, at the
// first link of the process.
constexpr auto idleTimeout = 1500ms;
// The host gives a stranger this long to greet; strangers that break the rules must be dropped well before.
constexpr auto greetingTimeLimit = 3s;

QByteArray frameHeader(quint8 type, quint32 length)
{
    QByteArray header(5, char(type));
    qToBigEndian(length, header.data() + 1);
    return header;
}

// A text field of the wire: its byte count, then the bytes.
QByteArray field(const QByteArray &text)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(quint32(text.size()), bytes.data());
    return bytes + text;
}

QByteArray randomBytes(qsizetype count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator(1).fillRange(reinterpret_cast<quint32 *>(bytes.data()), count / 4);
    return bytes;
}

// Bytes the heap holds now; the sanitizer's own count where it replaces the allocator, since freed memory it keeps
// in quarantine would otherwise look like a leak.
qint64 liveHeapBytes()
{
#ifdef TAVRINE_ASAN_HEAP
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

// Connections that never greet: the silent ones say nothing, the slow ones dribble the start of a TLS record, a
// byte a second. Whatever the host closes is opened again at once, as an attacker would do.
class StrangerCrowd : public QObject
{
public:
    StrangerCrowd(quint16 port, int silent, int slow) : m_port(port)
    {
        for (int index = 0; index < silent + slow; ++index) {
            open(index < slow);
        }
        QObject::connect(&m_dribble, &QTimer::timeout, this, [this] {
            static const QByteArray recordStart("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11);
            for (QTcpSocket *socket : findChildren<QTcpSocket *>()) {
                const int sent = socket->property("sent").toInt();
                if (socket->property("slow").toBool() && socket->state() == QAbstractSocket::ConnectedState) {
                    socket->write(recordStart.mid(sent % recordStart.size(), 1));
                    socket->setProperty("sent", sent + 1);
                }
            }
        });
        m_dribble.start(1000);
    }
    int connected() const
    {
        return int(
            std::ranges::count(findChildren<QTcpSocket *>(), QAbstractSocket::ConnectedState, &QAbstractSocket::state));
    }

private:
    void open(bool slow)
    {
        auto *socket = new QTcpSocket(this);
        socket->setProperty("slow", slow);
        QObject::connect(socket, &QTcpSocket::stateChanged, this, [this, socket, slow](auto state) {
            if (state == QAbstractSocket::UnconnectedState) {
                socket->deleteLater();
                QTimer::singleShot(0, this, [this, slow] { open(slow); });
            }
        });
        socket->connectToHost(QHostAddress::LocalHost, m_port);
    }

    const quint16 m_port;
    QTimer m_dribble;
};

// A peer that holds the pairing token or the trusted phone's secret, greets, then sends one frame over and over as
// fast as the host takes it, and reads nothing. When the host drops it, it greets again. It goes on at each keepUp().
class Flooder
{
public:
    Flooder(quint16 port, quint8 helloMode, const QString &proof, const QByteArray &frame)
        : m_port(port), m_flood(frame.repeated(int(64 * 1024 / frame.size())))
    {
        const QByteArray hello = char(helloMode) + field(proof.toUtf8()) + field("Flooder") + field("flooder");
        m_greeting = frameHeader(1, quint32(hello.size())) + hello;
        m_socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        // Once this little of what the host sends is in, the rest waits in the network.
        m_socket.setReadBufferSize(1024);
    }

    void keepUp()
    {
        if (m_socket.state() == QAbstractSocket::UnconnectedState) {
            m_socket.connectToHostEncrypted(u"127.0.0.1"_s, m_port);
            m_socket.write(m_greeting);
            ++greetings;
        }
        // Before the handshake ends, what is written is not counted as waiting.
        while (m_socket.isEncrypted() &&
               m_socket.bytesToWrite() + m_socket.encryptedBytesToWrite() < 4 * m_flood.size()) {
            bytesSent += m_socket.write(m_flood);
        }
    }

    qint64 bytesSent = 0;
    int greetings = 0;

private:
    const quint16 m_port;
    const QByteArray m_flood;
    QByteArray m_greeting;
    QSslSocket m_socket;
};

enum class Ending
{
    networkLost,
    networkSilent, // nothing arrives either way, and nothing says the link ended
    hostEnds,
    phoneEnds,
};

} // namespace

using Strangers = TestTable<bool, QByteArray, bool>;

class LinkFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TAVRINE_CORE_IDLE_TIMEOUT_MS", QByteArray::number(qint64(idleTimeout.count())));
        installTavrineCoreFunctions(linkedCoreFunctions());
    }

    void linkLostMidTransferLeavesItWaiting_data()
    {
        const TestTable<Way, Ending> rows;
        for (const Way way : {Way::hostToPhone, Way::phoneToHost}) {
            rows(qPrintable(wayName(way) + u", network lost"_s), way, Ending::networkLost);
            rows(qPrintable(wayName(way) + u", host ends"_s), way, Ending::hostEnds);
            rows(qPrintable(wayName(way) + u", phone ends"_s), way, Ending::phoneEnds);
        }
        rows("host to phone, network silent", Way::hostToPhone, Ending::networkSilent);
    }

    void linkLostMidTransferLeavesItWaiting()
    {
        const auto [way, ending] = TestTable<Way, Ending>::fetch();
        LinkFixture link;
        const QString id = u"interrupted"_s;
        const QString path = link.startThrottledTransfer(way, u"video.mp4"_s, id);
        VERIFY_LINK(link, !path.isEmpty());

        // The network goes, or the application quits while the file moves: its object goes away without a hang. A
        // hang waits for a peer that never answers, so a bound far beyond what a busy machine adds tells it apart.
        QElapsedTimer clock;
        clock.start();
        ending == Ending::networkLost     ? link.relay->cutConnections()
        : ending == Ending::networkSilent ? link.relay->setSilent(true)
        : ending == Ending::hostEnds      ? link.host.stop()
                                          : link.phone.stop();
        QVERIFY2(clock.elapsed() < 10'000, qPrintable(u"ending took %1 ms"_s.arg(clock.elapsed())));

        // Every side still running hears of it (of a silent network within a few idle timeouts), and keeps the
        // transfer waiting for the link. The phone notices a lost network by itself and comes back at once: a host
        // kept off the processor may hear of the phone's return before it noticed the old link gone, and then hears
        // of the return instead of the loss.
        const bool network = ending == Ending::networkLost || ending == Ending::networkSilent;
        const bool networkLost = ending == Ending::networkLost;
        QList<const LinkSide *> running{&link.host, &link.phone};
        if (!network) {
            running.removeOne(ending == Ending::hostEnds ? static_cast<LinkSide *>(&link.host) : &link.phone);
        }
        WAIT_FOR(link, std::all_of(running.begin(), running.end(), [&](const LinkSide *side) {
                     const bool cameBackFirst =
                         side == &link.host && networkLost && countEvents(side->events, Kind::paired) == 2;
                     return lastEvent(side->events, Kind::waitingForConnection, id) &&
                            (countEvents(side->events, Kind::disconnected) == 1 || cameBackFirst);
                 }));
        if (network) {
            // The phone comes back by itself once the network does.
            link.relay->setSilent(false);
            WAIT_FOR(link, link.bothSidesCount(Kind::paired, 2));
        }
        for (const LinkSide *side : running) {
            const auto direction =
                side == &link.sender(way) ? TransferDirection::sending : TransferDirection::receiving;
            VERIFY_ROUND(link, side->round(id), direction, Kind::waitingForConnection, throttledFileBytes);
        }
        if (!network) {
            return;
        }
        const qint64 held = QFileInfo(link.receiver(way).onePartialFile()).size();
        QVERIFY2(held > 0, qPrintable(QString::number(held)));
        VERIFY_NO_PROBLEM(link, link.resumeProblem(way, path, u"video.mp4"_s, id, uint64_t(held)));
        // A quiet link that is healthy stays up across several idle timeouts.
        const int hostDisconnections = countEvents(link.host.events, Kind::disconnected);
        VERIFY_LINK(link, !link.waitUntil(
                              [&] {
                                  return countEvents(link.host.events, Kind::disconnected) != hostDisconnections ||
                                         countEvents(link.phone.events, Kind::disconnected) != 1;
                              },
                              3 * idleTimeout));
    }

    // A host of ours with another key, at the endpoint the phone was given, would take the token it also gave: the
    // phone walks away inside the handshake, and the impostor hears nothing.
    void impostorHostHearsNothingFromThePhone()
    {
        LinkFixture link;
        link.host.start();
        HostSide impostor(u"Impostor"_s);
        impostor.start();
        QString url = impostor->pairingPayload();
        for (const QString &item : {u"device"_s, u"key"_s}) {
            url = withPairingItem(url, item, pairingItem(link.host->pairingPayload(), item));
        }
        link.phone.pair(url);
        WAIT_FOR(link, countEvents(link.phone.events, Kind::failed) >= 1);
        QCOMPARE(kindNames(link.phone.events), QStringList({"failed"}));
        QVERIFY2(link.phone.events.first().message.contains(u"key"_s), qPrintable(link.phone.events.first().message));
        impostor.pump();
        QCOMPARE(kindNames(impostor.events), QStringList());
    }

    void strangersLeaveTheHostWorking_data()
    {
        // Whether the stranger speaks TLS, what it says (nothing: it waits for its time to greet to run out), and
        // whether the host drops it at once.
        const Strangers rows;
        rows("plain TCP, a web request", false, QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"), true);
        rows("TLS, oversized frame header", true, frameHeader(1, 0xFFFFFFFFu), true);
        rows("TLS, unknown frame type", true, frameHeader(0xEE, 16) + QByteArray(16, 'x'), true);
        rows("TLS, greeting with an oversized text field", true,
             frameHeader(1, 9) + QByteArray("\x01\xff\xff\xff\x00", 5) + QByteArray(4, 'x'), true);
        rows("TLS, random bytes", true, randomBytes(64 * 1024), false);
        rows("plain TCP, silent", false, QByteArray(), false);
        rows("TLS, silent", true, QByteArray(), false);
    }

    void strangersLeaveTheHostWorking()
    {
        const auto [tls, bytes, droppedAtOnce] = Strangers::fetch();
        LinkFixture link;
        link.host.start();
        QSslSocket stranger; // takes any certificate
        stranger.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls ? stranger.connectToHostEncrypted(u"127.0.0.1"_s, link.host.port())
            : stranger.connectToHost(u"127.0.0.1"_s, link.host.port());
        QVERIFY2(tls ? stranger.waitForEncrypted(10'000) : stranger.waitForConnected(5000),
                 "the stranger could not reach the host");
        stranger.write(bytes);
        stranger.flush();
        const auto gone = [&stranger] {
            return stranger.state() == QAbstractSocket::UnconnectedState;
        };
        QVERIFY2(!droppedAtOnce || gone() || stranger.waitForDisconnected(5000),
                 "the host kept a connection that broke the rules");

        // A stranger that says nothing holds its place until its time to greet runs out: the phone pairs meanwhile,
        // not after it.
        VERIFY_LINK(link, link.pair());
        QVERIFY2(!bytes.isEmpty() || !gone(), "the phone paired only once the stranger was dropped");
        VERIFY_NO_PROBLEM(link, pairingProblem(link.host.events, link.phone.deviceName));
        VERIFY_LINK(link, link.roundTrip());
        QVERIFY2(!bytes.isEmpty() || link.waitUntil(gone, greetingTimeLimit + 5s),
                 "the host kept a connection that never greeted");
    }

    void crowdOfSilentAndSlowStrangersCannotKeepThePhoneOut()
    {
        LinkFixture link;
        VERIFY_LINK(link, link.pair());
        const QString material = link.phone->trustedConnectionMaterial().value_or(QString());
        link.phone.stop();
        WAIT_FOR(link, countEvents(link.host.events, Kind::disconnected) == 1);

        StrangerCrowd crowd(link.host.port(), 50, 50);
        WAIT_FOR(link, crowd.connected() == 100, 10s);
        link.phone.events.clear();
        link.phone.reconnect(material);
        // The crowd comes back as soon as it is dropped, so a phone it kept out would never get in.
        WAIT_FOR(link,
                 countEvents(link.host.events, Kind::paired) == 2 && countEvents(link.phone.events, Kind::paired) == 1);
        VERIFY_LINK(link, link.roundTrip());

        // Nor do they hold the host up when it stops: as they come back at once, waiting for them would never end.
        QElapsedTimer clock;
        clock.start();
        link.host.stop();
        QVERIFY2(clock.elapsed() < 10'000, qPrintable(u"stopping took %1 ms"_s.arg(clock.elapsed())));
    }

    void floodFromOnePeerLeavesTheHostsMemoryBoundedAndThePhoneWorking_data()
    {
        const TestTable<bool, QByteArray> rows; // whether the flooder is trusted, and the frame it repeats
        // Each ping asks for a pong; pongs owed are one, however many pings came.
        rows("pairing token, pings", false, frameHeader(6, 0));
        // Requests over the limit are refused at once; a peer that never reads those refusals is dropped.
        const QByteArray request = field("flood") + field("files.list") + field("{}");
        rows("trusted secret, management requests", true, frameHeader(32, quint32(request.size())) + request);
    }

    void floodFromOnePeerLeavesTheHostsMemoryBoundedAndThePhoneWorking()
    {
        const auto [trusted, frame] = TestTable<bool, QByteArray>::fetch();
        LinkFixture link;
        QString material;
        if (trusted) {
            VERIFY_LINK(link, link.pair());
            material = link.phone->trustedConnectionMaterial().value_or(QString());
            link.phone.stop();
        } else {
            link.host.start();
        }
        const QString proof = trusted ? link.host->trustedPeerSecret().value_or(QString())
                                      : pairingItem(link.host->pairingPayload(), u"token"_s);
        const qint64 atRest = liveHeapBytes();
        qint64 most = atRest;
        {
            Flooder flooder(link.host.port(), trusted ? 2 : 1, proof, frame);
            // The heap is sampled for as long as the flood goes on: the condition never holds.
            const auto floodAndSampleHeap = [&] {
                flooder.keepUp();
                most = std::max(most, liveHeapBytes());
                return false;
            };
            link.waitUntil(floodAndSampleHeap, 10s);
            QVERIFY2(flooder.bytesSent > 4 * mebibyte, qPrintable(QString::number(flooder.bytesSent)));
            // The requests' flooder stopped reading long before the idle timeout ran out, several times over.
            QVERIFY2(!trusted || flooder.greetings >= 2, qPrintable(QString::number(flooder.greetings)));
        }
        QVERIFY2(most - atRest < 64 * mebibyte, qPrintable(u"grew by %1 MiB"_s.arg((most - atRest) / mebibyte)));

        // The phone comes back, or pairs taking over from the flooder, and works.
        if (trusted) {
            link.phone.reconnect(material);
            WAIT_FOR(link, link.host->isConnected() && countEvents(link.phone.events, Kind::paired) == 2);
        } else {
            VERIFY_LINK(link, link.pair());
        }
        VERIFY_LINK(link, link.roundTrip());
    }

    void portTakenAtStartFailsClearlyAndTheNextStartGetsThePhoneBack()
    {
        LinkFixture link;
        VERIFY_LINK(link, link.pair());
        link.host.stop();
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, link.host.storedPort));
        try {
            link.host.startAgain();
            QFAIL("the host started elsewhere than on the port its phone knows");
        } catch (const TavrineCoreError &error) {
            QCOMPARE(error.kind(), TavrineCoreError::Case::ServiceStart);
            QVERIFY2(error.details().contains(QString::number(link.host.storedPort)), qPrintable(error.details()));
        }

        squatter.close();
        link.host.startAgain();
        QCOMPARE(link.host.port(), link.host.storedPort);
        WAIT_FOR(link, countEvents(link.host.events, Kind::paired) == 1);
        VERIFY_LINK(link, link.roundTrip());
    }
};

QTEST_GUILESS_MAIN(LinkFaultsTest)
#include "test_link_faults.moc"

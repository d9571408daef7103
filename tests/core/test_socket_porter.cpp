#include "SocketPorter.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

using tavrine::core::SocketPorter;
using namespace std::chrono_literals;

namespace {

void wakeDescriptor(void *context)
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(*static_cast<int *>(context), &one, sizeof one);
}

// Bytes whose every position is told apart from its neighbours, so that a lost, doubled or swapped piece shows.
std::string pattern(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

// The pieces a flow is made of: small answers, a bulk run, pauses that let the porter's thread give its part back.
struct Piece
{
    size_t bytes;
    std::chrono::milliseconds pauseBefore;
};
const Piece flow[] = {{100, 0ms}, {3 * 1024 * 1024 + 17, 10ms}, {60, 0ms}, {40000, 10ms},
                      {5, 10ms},  {2 * 1024 * 1024, 0ms},       {1, 0ms},  {700, 10ms}};

size_t flowBytes()
{
    size_t total = 0;
    for (const Piece &piece : flow) {
        total += piece.bytes;
    }
    return total;
}

// Owns a socket pair: one end for a porter (non-blocking, as a link's socket), the other for a plain peer.
struct Pair
{
    int ends[2] = {-1, -1};
    int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Pair()
    {
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
        ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    }
    ~Pair()
    {
        for (int descriptor : {ends[0], ends[1], wake}) {
            if (descriptor >= 0) {
                ::close(descriptor);
            }
        }
    }
};

// Waits as a link does: on its wake descriptor, and on the socket while it reads for itself.
void waitAsOwner(SocketPorter &porter, int socket, int wake, uint64_t arrivalsSeen, bool wantsRoom)
{
    porter.setOwnerWaiting(true);
    const bool ownerReads = porter.ownerReads();
    const bool ready = porter.arrivals() != arrivalsSeen || (wantsRoom && porter.roomToWrite()) ||
                       porter.peerClosed() || !porter.failure().empty();
    pollfd descriptors[2] = {{ownerReads ? socket : -1, POLLIN, 0}, {wake, POLLIN, 0}};
    ::poll(descriptors, 2, ready ? 0 : 50);
    porter.setOwnerWaiting(false);
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(wake, &count, sizeof count);
    if (ownerReads && (descriptors[0].revents & (POLLIN | POLLHUP))) {
        QVERIFY(porter.readSocket().empty());
    }
}

// Reads through the porter's BIO everything there is now.
size_t readAll(BIO *bio, std::string &into)
{
    char buffer[20000];
    size_t total = 0;
    while (true) {
        const int count = BIO_read(bio, buffer, sizeof buffer);
        if (count <= 0) {
            return total;
        }
        into.append(buffer, size_t(count));
        total += size_t(count);
    }
}

} // namespace

class SocketPorterTest : public QObject
{
    Q_OBJECT

private slots:
    // Both ways at once, each a mix of answers and bulk with pauses between: whether the owner's thread or the
    // porter's moves a piece, every byte arrives once and in order, and the flows end with nothing held back.
    void bytesKeepTheirOrderWhoeverMovesThem()
    {
        Pair pair;
        SocketPorter porter(pair.ends[0], &wakeDescriptor, &pair.wake);
        BIO *bio = porter.makeBio();
        const std::string outgoing = pattern(flowBytes(), 1);
        const std::string incoming = pattern(flowBytes(), 2);

        std::string receivedByPeer;
        std::thread peer([&] {
            std::thread reader([&] {
                char buffer[65536];
                while (receivedByPeer.size() < outgoing.size()) {
                    const ssize_t count = ::read(pair.ends[1], buffer, sizeof buffer);
                    if (count <= 0) {
                        return;
                    }
                    receivedByPeer.append(buffer, size_t(count));
                }
            });
            size_t offset = 0;
            for (const Piece &piece : flow) {
                std::this_thread::sleep_for(piece.pauseBefore);
                for (size_t sent = 0; sent < piece.bytes;) {
                    const ssize_t count = ::write(pair.ends[1], incoming.data() + offset + sent, piece.bytes - sent);
                    if (count <= 0) {
                        break;
                    }
                    sent += size_t(count);
                }
                offset += piece.bytes;
            }
            reader.join();
        });

        std::string received;
        size_t written = 0;
        size_t pieceIndex = 0;
        size_t pieceLeft = flow[0].bytes;
        auto pieceDue = std::chrono::steady_clock::now();
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while ((received.size() < incoming.size() || written < outgoing.size() || porter.outgoing()) &&
               std::chrono::steady_clock::now() < deadline) {
            const uint64_t arrivals = porter.arrivals();
            readAll(bio, received);
            bool wantsRoom = false;
            while (pieceIndex < std::size(flow) && std::chrono::steady_clock::now() >= pieceDue) {
                // Written as the TLS layer writes: records of at most 16 KiB.
                const int count = BIO_write(bio, outgoing.data() + written, int(std::min<size_t>(pieceLeft, 16384)));
                if (count <= 0) {
                    QVERIFY(BIO_should_retry(bio));
                    QVERIFY(porter.flush().empty());
                    if (!porter.roomToWrite()) {
                        wantsRoom = true;
                        break;
                    }
                    continue;
                }
                written += size_t(count);
                pieceLeft -= size_t(count);
                if (pieceLeft == 0 && ++pieceIndex < std::size(flow)) {
                    pieceLeft = flow[pieceIndex].bytes;
                    pieceDue = std::chrono::steady_clock::now() + flow[pieceIndex].pauseBefore;
                    QVERIFY(porter.flush().empty());
                }
            }
            QVERIFY(porter.flush().empty());
            waitAsOwner(porter, pair.ends[0], pair.wake, arrivals, wantsRoom);
        }
        peer.join();
        BIO_free(bio);

        QCOMPARE(received.size(), incoming.size());
        QVERIFY(received == incoming);
        QCOMPARE(receivedByPeer.size(), outgoing.size());
        QVERIFY(receivedByPeer == outgoing);
        QVERIFY(porter.failure().empty());
        porter.finish(false);
    }

    // A peer that sends and then closes: everything it sent is read before the end is told, whether it came in
    // as an answer or as bulk.
    void theEndComesAfterEverythingBeforeIt_data()
    {
        QTest::addColumn<size_t>("bytes");
        QTest::newRow("an answer") << size_t(300);
        QTest::newRow("bulk") << size_t(5 * 1024 * 1024 + 3);
    }
    void theEndComesAfterEverythingBeforeIt()
    {
        QFETCH(size_t, bytes);
        Pair pair;
        SocketPorter porter(pair.ends[0], &wakeDescriptor, &pair.wake);
        BIO *bio = porter.makeBio();
        const std::string sent = pattern(bytes, 3);
        std::thread peer([&] {
            for (size_t offset = 0; offset < sent.size();) {
                const ssize_t count = ::write(pair.ends[1], sent.data() + offset, sent.size() - offset);
                if (count <= 0) {
                    return;
                }
                offset += size_t(count);
            }
            ::shutdown(pair.ends[1], SHUT_WR);
        });
        std::string received;
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            const bool closedBefore = porter.peerClosed();
            const uint64_t arrivals = porter.arrivals();
            readAll(bio, received);
            ended = closedBefore;
            if (!ended) {
                waitAsOwner(porter, pair.ends[0], pair.wake, arrivals, false);
            }
        }
        peer.join();
        BIO_free(bio);
        QVERIFY(ended);
        QCOMPARE(received.size(), sent.size());
        QVERIFY(received == sent);
        QVERIFY(porter.failure().empty());
    }

    // A peer that reads nothing: what the owner may write stays bounded, the porter says it has no room, and
    // ending without sending returns at once although the porter's thread waits for the socket.
    void aPeerThatReadsNothingHoldsBoundedBytes()
    {
        Pair pair;
        SocketPorter porter(pair.ends[0], &wakeDescriptor, &pair.wake);
        BIO *bio = porter.makeBio();
        const std::string record = pattern(16384, 4);
        size_t accepted = 0;
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < deadline && accepted < 256 * 1024 * 1024) {
            if (BIO_write(bio, record.data(), int(record.size())) > 0) {
                accepted += record.size();
                continue;
            }
            QVERIFY(porter.flush().empty());
            if (!porter.roomToWrite()) {
                // Room never comes back while nobody reads.
                waitAsOwner(porter, pair.ends[0], pair.wake, porter.arrivals(), true);
                if (!porter.roomToWrite()) {
                    break;
                }
            }
        }
        QVERIFY(!porter.roomToWrite());
        QVERIFY(porter.outgoing());
        // The socket pair's buffers and what the porter holds: a few mebibytes, not what the owner offered.
        QVERIFY2(accepted < 8 * 1024 * 1024, std::to_string(accepted).c_str());
        const auto started = std::chrono::steady_clock::now();
        porter.finish(true);
        // A write that waited for the peer would never end: a bound far beyond a busy machine's delays tells them
        // apart.
        QVERIFY(std::chrono::steady_clock::now() - started < 10s);
        BIO_free(bio);
    }
};

QTEST_GUILESS_MAIN(SocketPorterTest)
#include "test_socket_porter.moc"

#include "Identity.h"
#include "Link.h"
#include "TestSupport.h"
#include "Wire.h"

#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

using namespace tavrine::core;
using namespace std::chrono_literals;

namespace {

// Records what the link hands on.
class RecordingHandler : public Link::Handler
{
public:
    void onFrame(const std::shared_ptr<Link> &, wire::Frame &&frame) override
    {
        const std::lock_guard lock(mutex);
        payloads.push_back(std::move(frame.payload));
    }
    void onLinkClosed(const std::shared_ptr<Link> &, const std::string &) override { closed = true; }

    std::mutex mutex;
    std::vector<std::string> payloads;
    std::atomic<bool> closed = false;
};

// Both ends of a TLS 1.3 connection over 127.0.0.1, after the handshake: one for a link, the other a plain peer.
struct TlsPair
{
    int linkSocket = -1;
    int peerSocket = -1;
    SslPointer linkSsl;
    SslPointer peerSsl;
    ContextPointer serverContext = HostIdentity::generate().makeServerContext();
    ContextPointer clientContext{SSL_CTX_new(TLS_client_method())};

    bool connect()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Room for everything the peer sends while the link reads nothing, so that none of it waits on the peer's
        // side when the peer resets the connection (a reset drops what has not left).
        const int receiveBuffer = 8 * 1024 * 1024;
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length)) {
            ::close(listener);
            return false;
        }
        peerSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool connected = ::connect(peerSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        linkSocket = connected ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK) : -1;
        ::close(listener);
        if (linkSocket < 0) {
            return false;
        }
        ::fcntl(peerSocket, F_SETFL, ::fcntl(peerSocket, F_GETFL) | O_NONBLOCK);
        SSL_CTX_set_verify(clientContext.get(), SSL_VERIFY_NONE, nullptr);
        linkSsl.reset(SSL_new(serverContext.get()));
        peerSsl.reset(SSL_new(clientContext.get()));
        SSL_set_fd(linkSsl.get(), linkSocket);
        SSL_set_fd(peerSsl.get(), peerSocket);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        bool linkDone = false;
        bool peerDone = false;
        while (!(linkDone && peerDone) && std::chrono::steady_clock::now() < deadline) {
            linkDone = linkDone || SSL_accept(linkSsl.get()) == 1;
            peerDone = peerDone || SSL_connect(peerSsl.get()) == 1;
            pollfd sockets[2] = {{linkSocket, POLLIN, 0}, {peerSocket, POLLIN, 0}};
            ::poll(sockets, 2, linkDone && peerDone ? 0 : 10);
        }
        return linkDone && peerDone;
    }

    // What the peer sends, as whole frames; false when the socket would not take it.
    bool peerSends(wire::FrameType type, const std::string &payload)
    {
        try {
            writeAll(peerSsl.get(), peerSocket, wire::encodeFrame(type, payload), Clock::now() + 10s);
            return true;
        } catch (const std::exception &) {
            return false;
        }
    }

    // Resets the connection from the peer's side once all it sent has reached the link's socket.
    bool peerResets()
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        int unsent = 1;
        while (::ioctl(peerSocket, SIOCOUTQ, &unsent) == 0 && unsent > 0 &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd socket{peerSocket, POLLOUT, 0};
            ::poll(&socket, 1, 10);
        }
        const linger abortive{1, 0};
        ::setsockopt(peerSocket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        ::close(peerSocket);
        peerSocket = -1;
        return unsent == 0;
    }

    ~TlsPair()
    {
        if (peerSocket >= 0) {
            ::close(peerSocket);
        }
    }
};

} // namespace

class LinkTest : public QObject
{
    Q_OBJECT

private slots:
    void framesBeforeAResetAreHandedOn_data()
    {
        // How many bulk frames come before the last, small one: none is read by the link's own thread together
        // with the reset; many are read by the porter's thread, which meets the reset.
        const TestTable<int> rows;
        rows("a last word alone", 0);
        rows("after bulk", 6);
    }

    // The peer sends its last frames and resets the connection before the link read them: the link hands on every
    // frame that arrived before it ends, as it does when the peer closes cleanly.
    void framesBeforeAResetAreHandedOn()
    {
        const auto [bulkFrames] = TestTable<int>::fetch();
        TlsPair pair;
        QVERIFY(pair.connect());
        const std::string bulk(256 * 1024, 'b');
        for (int frame = 0; frame < bulkFrames; ++frame) {
            QVERIFY(pair.peerSends(wire::FrameType::managementResponse, bulk));
        }
        QVERIFY(pair.peerSends(wire::FrameType::done, "last word"));
        QVERIFY(pair.peerResets());
        // The link starts only now, so that its first read meets the frames and the reset together.
        RecordingHandler handler;
        const auto link =
            std::make_shared<Link>(pair.linkSocket, std::move(pair.linkSsl), wire::FrameDecoder(), handler);
        Link::start(link);

        QTRY_VERIFY_WITH_TIMEOUT(handler.closed, 10'000);
        const std::lock_guard lock(handler.mutex);
        QCOMPARE(handler.payloads.size(), size_t(bulkFrames + 1));
        QCOMPARE(handler.payloads.back(), std::string("last word"));
        link->closeAndWait({});
    }
};

QTEST_GUILESS_MAIN(LinkTest)
#include "test_link.moc"

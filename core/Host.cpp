#include "Host.h"

#include "Identity.h"
#include "Link.h"
#include "Session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <list>
#include <mutex>
#include <thread>
#include <utility>

namespace tavrine::core {

namespace {

constexpr uint16_t preferredPort = 47123;
constexpr int maximumPendingHandshakes = 8;
constexpr auto greetingTimeout = std::chrono::seconds(10);
constexpr size_t maximumPeerTextBytes = 256;

void setNonBlocking(int socket)
{
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    const int enabled = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof enabled);
    ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &enabled, sizeof enabled);
}

int listenOn(const in_addr &address, uint16_t port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return -1;
    }
    const int enabled = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &enabled, sizeof enabled);
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr = address;
    endpoint.sin_port = htons(port);
    if (::bind(socket, reinterpret_cast<sockaddr *>(&endpoint), sizeof endpoint) != 0 || ::listen(socket, 16) != 0) {
        const int error = errno;
        ::close(socket);
        errno = error;
        return -1;
    }
    return socket;
}

bool isPrintableText(const std::string &text)
{
    return !text.empty() && text.size() <= maximumPeerTextBytes &&
           std::none_of(text.begin(), text.end(), [](char character) { return uint8_t(character) < 0x20; });
}

} // namespace

struct Host::Private : Link::Handler
{
    std::string deviceName;
    std::string inboxDirectory;
    HostIdentity identity;
    ContextPointer tls;
    std::string endpoint;
    std::string token;
    std::string code;
    std::unique_ptr<Session> session;

    int listenSocket = -1;
    int wakeDescriptor = -1;
    std::thread acceptThread;
    std::atomic<bool> stopping = false;

    std::mutex mutex;
    std::condition_variable handshakesDone;
    int runningHandshakes = 0;
    std::optional<std::string> peerSecret; // the trusted phone's secret: given at start or made at pairing
    bool pairingOpen = true;
    std::shared_ptr<Link> pendingLink; // proved the token, waits for the user's confirmation
    std::shared_ptr<Link> pairedLink;
    std::string peerName;
    std::string peerId;

    ~Private() override { stop(); }

    void stop();
    void acceptLoop();
    void greet(int socket);
    void onFrame(const std::shared_ptr<Link> &link, wire::Frame &&frame) override;
    void onLinkClosed(const std::shared_ptr<Link> &link, const std::string &reason) override;
    void adoptPairedLink(const std::shared_ptr<Link> &link, const std::string &name, const std::string &id);
};

void Host::Private::stop()
{
    if (stopping.exchange(true)) {
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeDescriptor, &one, sizeof one);
    if (acceptThread.joinable()) {
        acceptThread.join();
    }
    {
        std::unique_lock lock(mutex);
        handshakesDone.wait(lock, [this] { return runningHandshakes == 0; });
    }
    std::shared_ptr<Link> pending;
    std::shared_ptr<Link> paired;
    {
        std::lock_guard lock(mutex);
        pending = std::move(pendingLink);
        paired = std::move(pairedLink);
    }
    if (pending) {
        pending->closeAndWait("the host stopped");
    }
    if (paired) {
        paired->closeAndWait("the host stopped");
    }
    session.reset();
    ::close(listenSocket);
    ::close(wakeDescriptor);
}

void Host::Private::acceptLoop()
{
    while (!stopping) {
        pollfd descriptors[2] = {{listenSocket, POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
        if (::poll(descriptors, 2, 1000) <= 0 || stopping) {
            continue;
        }
        if (!(descriptors[0].revents & POLLIN)) {
            continue;
        }
        const int socket = ::accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            continue;
        }
        std::lock_guard lock(mutex);
        // Strangers may not tie up the host: beyond a few greetings at once, new connections are dropped.
        if (runningHandshakes >= maximumPendingHandshakes) {
            ::close(socket);
            continue;
        }
        ++runningHandshakes;
        std::thread([this, socket] {
            blockBrokenPipeSignal();
            greet(socket);
            std::lock_guard lock(mutex);
            --runningHandshakes;
            handshakesDone.notify_all();
        }).detach();
    }
}

void Host::Private::greet(int socket)
{
    setNonBlocking(socket);
    SslPointer ssl(SSL_new(tls.get()));
    if (!ssl) {
        ::close(socket);
        return;
    }
    SSL_set_fd(ssl.get(), socket);
    const auto deadline = Clock::now() + greetingTimeout;
    wire::FrameDecoder decoder;
    const auto refuse = [&](const std::string &reason) {
        try {
            writeAll(ssl.get(), socket,
                     wire::encodeFrame(wire::FrameType::refused, wire::FieldWriter().text(reason).take()), deadline,
                     wakeDescriptor);
        } catch (const std::exception &) {
        }
        SSL_shutdown(ssl.get());
        ::close(socket);
    };

    std::string phoneName;
    std::string phoneId;
    bool pairing = false;
    try {
        if (!runHandshake(ssl.get(), socket, true, deadline, wakeDescriptor).empty()) {
            ::close(socket);
            return;
        }
        wire::Frame hello = readFrame(ssl.get(), socket, decoder, deadline, wakeDescriptor);
        if (hello.type != wire::FrameType::hello) {
            refuse("expected a greeting");
            return;
        }
        wire::FieldReader reader(hello.payload);
        const auto mode = wire::HelloMode(reader.u8());
        const std::string proof = reader.text(maximumPeerTextBytes);
        phoneName = reader.text(maximumPeerTextBytes);
        phoneId = reader.text(maximumPeerTextBytes);
        reader.finish();
        if (!isPrintableText(phoneId) || phoneName.size() > maximumPeerTextBytes) {
            refuse("the phone did not identify itself");
            return;
        }
        std::lock_guard lock(mutex);
        if (mode == wire::HelloMode::pair) {
            if (!pairingOpen || !constantTimeEquals(proof, token)) {
                refuse("pairing refused");
                return;
            }
            pairing = true;
        } else if (mode == wire::HelloMode::reconnect) {
            if (!peerSecret || !constantTimeEquals(proof, *peerSecret)) {
                refuse("this phone is not trusted");
                return;
            }
        } else {
            refuse("unknown greeting");
            return;
        }
    } catch (const std::exception &) {
        ::close(socket);
        return;
    }

    const uint8_t outcome = uint8_t(pairing ? wire::HelloOutcome::awaitingConfirmation : wire::HelloOutcome::trusted);
    auto link = std::make_shared<Link>(socket, std::move(ssl), std::move(decoder), *this);
    link->sendControl(wire::FrameType::helloAccepted,
                      wire::FieldWriter().u8(outcome).text(deviceName).text(identity.hostId()).take());
    std::shared_ptr<Link> replaced;
    {
        std::lock_guard lock(mutex);
        if (stopping) {
            return;
        }
        if (pairing) {
            replaced = std::exchange(pendingLink, link);
            session->pushEvent({EventKind::connecting, Direction::none, {}, {}, 0, 0, phoneName, phoneId, {}});
            session->pushEvent(
                {EventKind::awaitingConfirmation, Direction::none, {}, {}, 0, 0, phoneName, phoneId, {}});
            peerName = phoneName;
            peerId = phoneId;
        }
    }
    if (!pairing) {
        adoptPairedLink(link, phoneName, phoneId);
    }
    Link::start(link);
    if (replaced) {
        replaced->close("another phone took over the pairing");
    }
}

void Host::Private::adoptPairedLink(const std::shared_ptr<Link> &link, const std::string &name, const std::string &id)
{
    std::shared_ptr<Link> previous;
    {
        std::lock_guard lock(mutex);
        previous = std::exchange(pairedLink, link);
        peerName = name;
        peerId = id;
        if (previous) {
            // The phone came back before its old link was noticed as lost.
            session->detachLink(previous);
        }
        session->attachLink(link);
        session->pushEvent({EventKind::paired, Direction::none, {}, {}, 0, 0, name, id, {}});
    }
    if (previous) {
        previous->close("the phone connected again");
    }
}

void Host::Private::onFrame(const std::shared_ptr<Link> &link, wire::Frame &&frame)
{
    if (frame.type == wire::FrameType::confirm) {
        std::string name;
        std::string id;
        std::string secret;
        {
            std::lock_guard lock(mutex);
            if (link != pendingLink) {
                return;
            }
            pendingLink.reset();
            secret = base64Url(randomBytes(32));
            peerSecret = secret;
            // The token served its purpose: from now on only the paired phone's secret opens the link.
            pairingOpen = false;
            name = peerName;
            id = peerId;
        }
        link->sendControl(wire::FrameType::paired, wire::FieldWriter().text(secret).take());
        adoptPairedLink(link, name, id);
        return;
    }
    if (!session->handleFrame(link, frame)) {
        link->close("unexpected frame");
    }
}

void Host::Private::onLinkClosed(const std::shared_ptr<Link> &link, const std::string &reason)
{
    std::lock_guard lock(mutex);
    if (link == pendingLink) {
        pendingLink.reset();
        session->pushEvent(
            {EventKind::failed, Direction::none, {}, {}, 0, 0, peerName, peerId, "配对连接已断开，请重新扫描配对码。"});
        return;
    }
    if (link == pairedLink) {
        pairedLink.reset();
        session->detachLink(link);
        session->pushEvent({EventKind::disconnected, Direction::none, {}, {}, 0, 0, peerName, peerId, reason});
    }
}

Host::Host(std::unique_ptr<Private> d) : d(std::move(d)) {}

Host::~Host() = default;

std::shared_ptr<Host> Host::start(const std::string &advertisedHost, const std::string &inboxDirectory,
                                  const std::string &deviceName, const std::string &identityMaterial,
                                  const std::string &trustedPeerSecret)
{
    in_addr address{};
    if (inet_pton(AF_INET, advertisedHost.c_str(), &address) != 1) {
        throw CoreError(CoreError::Kind::ServiceStart, "not an IPv4 address: " + advertisedHost);
    }
    std::error_code error;
    std::filesystem::create_directories(inboxDirectory, error);
    if (inboxDirectory.empty() || !std::filesystem::is_directory(inboxDirectory, error) ||
        ::access(inboxDirectory.c_str(), W_OK) != 0) {
        throw CoreError(CoreError::Kind::ServiceStart, "the inbox folder cannot be used: " + inboxDirectory);
    }

    auto d = std::make_unique<Private>();
    d->deviceName = deviceName;
    d->inboxDirectory = inboxDirectory;
    try {
        d->identity =
            identityMaterial.empty() ? HostIdentity::generate() : HostIdentity::fromMaterial(identityMaterial);
        d->tls = d->identity.makeServerContext();
        d->token = base64Url(randomBytes(16));
        d->code = randomDigits(6);
    } catch (const std::exception &failure) {
        throw CoreError(CoreError::Kind::ServiceStart, failure.what());
    }
    if (!trustedPeerSecret.empty()) {
        d->peerSecret = trustedPeerSecret;
        d->pairingOpen = false;
    }

    // The phone reconnects to the endpoint it paired with, so the host comes back on the same port.
    const uint16_t port = d->identity.port() != 0 ? d->identity.port() : preferredPort;
    d->listenSocket = listenOn(address, port);
    if (d->listenSocket < 0) {
        d->listenSocket = listenOn(address, 0);
    }
    if (d->listenSocket < 0) {
        throw CoreError(CoreError::Kind::ServiceStart,
                        "cannot listen on " + advertisedHost + ": " + std::strerror(errno));
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(d->listenSocket, reinterpret_cast<sockaddr *>(&bound), &length);
    d->identity.setPort(ntohs(bound.sin_port));
    d->endpoint = advertisedHost + ":" + std::to_string(d->identity.port());
    d->wakeDescriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    d->session = std::make_unique<Session>(inboxDirectory);
    Private *raw = d.get();
    d->acceptThread = std::thread([raw] { raw->acceptLoop(); });
    return std::shared_ptr<Host>(new Host(std::move(d)));
}

bool Host::acknowledgeReceivedTransfer(const std::string &transferId)
{
    return d->session->acknowledgeReceivedTransfer(transferId);
}

bool Host::cancelTransfer(const std::string &transferId)
{
    return d->session->cancelTransfer(transferId);
}

std::string Host::confirmationCode() const
{
    return d->code;
}

std::string Host::identityMaterial() const
{
    return d->identity.material();
}

bool Host::isConnected() const
{
    return d->session->isConnected();
}

std::string Host::pairingPayload() const
{
    return PairingOffer{d->identity.hostId(), d->identity.publicKeyText(), d->token, d->endpoint, d->code}.url();
}

bool Host::pauseTransfer(const std::string &transferId)
{
    return d->session->pauseTransfer(transferId);
}

std::optional<Event> Host::pollEvent()
{
    return d->session->pollEvent();
}

std::optional<ManagementResponse> Host::pollManagementResponse()
{
    return d->session->pollManagementResponse();
}

std::string Host::requestManagement(const std::string &action, const std::string &payload)
{
    return d->session->requestManagement(action, payload);
}

std::string Host::sendFile(const std::string &localPath, const std::string &fileName)
{
    std::string transferId = randomUuid();
    sendFileWithId(localPath, fileName, transferId);
    return transferId;
}

void Host::sendFileWithId(const std::string &localPath, const std::string &fileName, const std::string &transferId)
{
    const int descriptor = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status
    {
    };
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        const std::string reason = descriptor < 0 ? std::strerror(errno) : "not a regular file";
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        throw CoreError(CoreError::Kind::FileAccess, localPath + ": " + reason);
    }
    d->session->sendFile(descriptor, fileName, uint64_t(status.st_size), transferId);
}

std::optional<std::string> Host::trustedPeerSecret() const
{
    std::lock_guard lock(d->mutex);
    return d->peerSecret;
}

} // namespace tavrine::core

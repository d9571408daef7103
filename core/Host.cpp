#include "Host.h"

#include "Greetings.h"
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
#include <cstdlib>
#include <cstring>
#include <set>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tavrine::core {

namespace {

constexpr uint16_t defaultPort = 47123;
constexpr size_t maximumPeerTextBytes = 256;
// How long a start waits for the port the phone knows to become free (a host of a moment ago may still hold it).
constexpr auto portRetryTime = std::chrono::seconds(2);
constexpr auto portRetryInterval = std::chrono::milliseconds(100);
// New connections taken in per turn, so that greetings already under way are served between them.
constexpr int acceptsPerTurn = 16;

// The port a host without one of its own starts on; TAVRINE_CORE_PORT overrides it (0: any free port).
uint16_t firstPort()
{
    if (const char *value = std::getenv("TAVRINE_CORE_PORT")) {
        char *end = nullptr;
        const unsigned long port = std::strtoul(value, &end, 10);
        if (end != value && *end == '\0' && port <= 65535) {
            return uint16_t(port);
        }
    }
    return defaultPort;
}

int listenOn(const in_addr &address, uint16_t port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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
    std::optional<std::string> peerSecret; // the trusted phone's secret: given at start or made at pairing
    bool pairingOpen = true;
    std::shared_ptr<Link> pendingLink; // proved the token, waits for the user's confirmation
    std::shared_ptr<Link> pairedLink;
    // Every link the host started, replaced and ended ones included: each thread is joined, by the next greeting
    // or at the latest when the host stops, so none is left finishing on its own.
    std::set<std::shared_ptr<Link>> runningLinks;
    std::string peerName;
    std::string peerId;

    ~Private() override { stop(); }

    void stop();
    void acceptLoop();
    void weighGreeting(GreetedConnection &&connection);
    void onFrame(const std::shared_ptr<Link> &link, wire::Frame &&frame) override;
    void onLinkClosed(const std::shared_ptr<Link> &link, const std::string &reason) override;
    bool readyForFrames() override { return session->readyForFrames(); }
    void beforeWaiting() override { session->flushReceived(); }
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
    std::set<std::shared_ptr<Link>> running;
    {
        std::lock_guard lock(mutex);
        running = runningLinks;
    }
    for (const std::shared_ptr<Link> &link : running) {
        link->closeAndWait("the host stopped");
    }
    {
        std::lock_guard lock(mutex);
        pendingLink.reset();
        pairedLink.reset();
        runningLinks.clear();
    }
    session.reset();
    ::close(listenSocket);
    ::close(wakeDescriptor);
}

void Host::Private::acceptLoop()
{
    blockBrokenPipeSignal();
    GreetingTable greetings(tls.get(), GreetingTable::Limits{},
                            [this](GreetedConnection &&connection) { weighGreeting(std::move(connection)); });
    std::vector<pollfd> descriptors;
    while (!stopping) {
        descriptors = {{listenSocket, POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
        greetings.addPollDescriptors(descriptors);
        const int ready = ::poll(descriptors.data(), descriptors.size(), greetings.millisecondsUntilNextDeadline());
        if (stopping) {
            break;
        }
        if (ready < 0) {
            continue;
        }
        greetings.advance(descriptors, 2);
        if (!(descriptors[0].revents & POLLIN)) {
            continue;
        }
        for (int turn = 0; turn < acceptsPerTurn; ++turn) {
            sockaddr_in source{};
            socklen_t length = sizeof source;
            const int socket =
                ::accept4(listenSocket, reinterpret_cast<sockaddr *>(&source), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (socket < 0) {
                // Out of descriptors, the connection stays queued and the socket stays readable: pause instead of
                // spinning until greetings end and free some.
                if (errno == EMFILE || errno == ENFILE) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
                break;
            }
            greetings.admit(socket, source.sin_addr.s_addr);
        }
    }
}

void Host::Private::weighGreeting(GreetedConnection &&connection)
{
    std::string phoneName;
    std::string phoneId;
    bool pairing = false;
    try {
        if (connection.hello.type != wire::FrameType::hello) {
            refuseGreeting(connection, "expected a greeting");
            return;
        }
        wire::FieldReader reader(connection.hello.payload);
        const auto mode = wire::HelloMode(reader.u8());
        const std::string proof = reader.text(maximumPeerTextBytes);
        phoneName = reader.text(maximumPeerTextBytes);
        phoneId = reader.text(maximumPeerTextBytes);
        reader.finish();
        if (!isPrintableText(phoneId) || phoneName.size() > maximumPeerTextBytes) {
            refuseGreeting(connection, "the phone did not identify itself");
            return;
        }
        std::lock_guard lock(mutex);
        if (mode == wire::HelloMode::pair) {
            if (!pairingOpen || !constantTimeEquals(proof, token)) {
                refuseGreeting(connection, "pairing refused");
                return;
            }
            pairing = true;
        } else if (mode == wire::HelloMode::reconnect) {
            if (!peerSecret || !constantTimeEquals(proof, *peerSecret)) {
                refuseGreeting(connection, "this phone is not trusted");
                return;
            }
        } else {
            refuseGreeting(connection, "unknown greeting");
            return;
        }
    } catch (const wire::ProtocolError &) {
        connection.ssl.reset();
        ::close(connection.socket);
        return;
    }

    // From here on the peer is the phone: its frames may be as large as any.
    connection.decoder.setMaximumPayload(wire::maximumPayloadBytes);
    const uint8_t outcome = uint8_t(pairing ? wire::HelloOutcome::awaitingConfirmation : wire::HelloOutcome::trusted);
    auto link = std::make_shared<Link>(connection.socket, std::move(connection.ssl), std::move(connection.decoder),
                                       *this);
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
    std::vector<std::shared_ptr<Link>> ended;
    {
        std::lock_guard lock(mutex);
        for (auto running = runningLinks.begin(); running != runningLinks.end();) {
            if ((*running)->isOpen()) {
                ++running;
            } else {
                ended.push_back(*running);
                running = runningLinks.erase(running);
            }
        }
        runningLinks.insert(link);
    }
    for (const std::shared_ptr<Link> &finished : ended) {
        finished->closeAndWait({});
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

    // The phone reconnects to the endpoint it paired with, so the host comes back on the same port or not at all:
    // a port that changed would lose the phone for good.
    if (const uint16_t stored = d->identity.port(); stored != 0) {
        const auto giveUp = Clock::now() + portRetryTime;
        while ((d->listenSocket = listenOn(address, stored)) < 0 && errno == EADDRINUSE && Clock::now() < giveUp) {
            std::this_thread::sleep_for(portRetryInterval);
        }
        if (d->listenSocket < 0) {
            throw CoreError(CoreError::Kind::ServiceStart, "port " + std::to_string(stored) + " on " + advertisedHost +
                                                               " is taken by another program (" +
                                                               std::strerror(errno) +
                                                               "); close it and try again, the phone looks here");
        }
    } else {
        // Not yet paired: any port will do, and the one taken now is the one the phone will know.
        d->listenSocket = listenOn(address, firstPort());
        if (d->listenSocket < 0) {
            d->listenSocket = listenOn(address, 0);
        }
        if (d->listenSocket < 0) {
            throw CoreError(CoreError::Kind::ServiceStart,
                            "cannot listen on " + advertisedHost + ": " + std::strerror(errno));
        }
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

#include "Client.h"

#include "Identity.h"
#include "Link.h"
#include "Session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrine::core {

namespace {

constexpr auto connectTimeout = std::chrono::seconds(5);
constexpr auto greetingTimeout = std::chrono::seconds(10);
constexpr auto firstRetryDelay = std::chrono::milliseconds(250);
constexpr auto longestRetryDelay = std::chrono::seconds(8);

// A non-blocking TCP connection to `endpoint`, or -1.
int connectTo(const Endpoint &endpoint, Clock::time_point deadline)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0) {
        return -1;
    }
    const int enabled = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof enabled);
    ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &enabled, sizeof enabled);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    inet_pton(AF_INET, endpoint.address.c_str(), &address.sin_addr);
    if (::connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        return socket;
    }
    if (errno != EINPROGRESS) {
        ::close(socket);
        return -1;
    }
    pollfd descriptor{socket, POLLOUT, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    int error = 0;
    socklen_t length = sizeof error;
    if (left <= 0 || ::poll(&descriptor, 1, int(left)) != 1 ||
        ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

} // namespace

struct Client::Private : Link::Handler
{
    std::string deviceName;
    std::string inboxDirectory;
    std::optional<PairingOffer> offer;          // until the pairing is confirmed
    std::optional<ConnectionMaterial> material; // once paired
    std::string phoneId;
    std::unique_ptr<Session> session;

    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    bool awaitingConfirmation = false;
    bool reportedKeyMismatch = false;
    std::string pendingHostName;
    std::shared_ptr<Link> link;
    // Links that ended, until their threads are joined: by the next attempt, or when the phone stops.
    std::vector<std::shared_ptr<Link>> endedLinks;
    std::thread connectThread;

    void joinEndedLinks();

    ~Private() override { stop(); }

    void stop();
    void connectLoop();
    // One attempt; gives the delay before the next one, or nothing to stop trying.
    std::optional<std::chrono::milliseconds> attempt();
    void onFrame(const std::shared_ptr<Link> &link, wire::Frame &&frame) override;
    void onLinkClosed(const std::shared_ptr<Link> &link, const std::string &reason) override;
    bool readyForFrames() override { return session->readyForFrames(); }
    void beforeWaiting() override { session->flushReceived(); }
    std::string peerName() const { return material ? material->hostName : std::string(); }
    std::string hostId() const { return material ? material->hostId : offer ? offer->hostId : std::string(); }
};

void Client::Private::stop()
{
    std::shared_ptr<Link> current;
    {
        std::lock_guard lock(mutex);
        if (stopping && !connectThread.joinable()) {
            return;
        }
        stopping = true;
        current = link;
    }
    changed.notify_all();
    if (connectThread.joinable()) {
        connectThread.join();
    }
    if (current) {
        current->closeAndWait("the phone disconnected");
    }
    joinEndedLinks();
}

void Client::Private::joinEndedLinks()
{
    std::vector<std::shared_ptr<Link>> ended;
    {
        std::lock_guard lock(mutex);
        ended.swap(endedLinks);
    }
    for (const std::shared_ptr<Link> &finished : ended) {
        finished->closeAndWait({});
    }
}

void Client::Private::connectLoop()
{
    blockBrokenPipeSignal();
    auto delay = firstRetryDelay;
    while (true) {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [this] { return stopping || !link; });
            if (stopping) {
                return;
            }
        }
        joinEndedLinks();
        const std::optional<std::chrono::milliseconds> next = attempt();
        if (!next) {
            return;
        }
        std::unique_lock lock(mutex);
        if (next->count() == 0) {
            delay = firstRetryDelay;
            continue;
        }
        changed.wait_for(lock, delay, [this] { return stopping; });
        delay = std::min<std::chrono::milliseconds>(delay * 2, longestRetryDelay);
    }
}

std::optional<std::chrono::milliseconds> Client::Private::attempt()
{
    std::string pinnedKey;
    std::string endpointText;
    std::string hello;
    bool pairing = false;
    {
        std::lock_guard lock(mutex);
        pairing = !material;
        pinnedKey = pairing ? offer->publicKey : material->hostKey;
        endpointText = pairing ? offer->endpoint : material->endpoint;
        hello = wire::FieldWriter()
                    .u8(uint8_t(pairing ? wire::HelloMode::pair : wire::HelloMode::reconnect))
                    .text(pairing ? offer->token : material->secret)
                    .text(deviceName)
                    .text(phoneId)
                    .take();
    }
    const Endpoint endpoint = Endpoint::parse(endpointText);
    const auto deadline = Clock::now() + greetingTimeout;
    const int socket = connectTo(endpoint, Clock::now() + connectTimeout);
    if (socket < 0) {
        return firstRetryDelay;
    }
    ContextPointer context = makePinnedClientContext(pinnedKey);
    SslPointer ssl(SSL_new(context.get()));
    SSL_set_fd(ssl.get(), socket);
    const std::string handshakeFailure = runHandshake(ssl.get(), socket, deadline);
    if (!handshakeFailure.empty()) {
        ::close(socket);
        const bool keyMismatch = SSL_get_verify_result(ssl.get()) != X509_V_OK;
        std::lock_guard lock(mutex);
        if (keyMismatch && !reportedKeyMismatch) {
            reportedKeyMismatch = true;
            session->pushEvent({EventKind::failed,
                                Direction::none,
                                {},
                                {},
                                0,
                                0,
                                peerName(),
                                hostId(),
                                "the host presented a key other than the paired one"});
        }
        return firstRetryDelay;
    }

    wire::FrameDecoder decoder;
    wire::Frame answer;
    try {
        writeAll(ssl.get(), socket, wire::encodeFrame(wire::FrameType::hello, hello), deadline);
        answer = readFrame(ssl.get(), socket, decoder, deadline);
    } catch (const std::exception &) {
        ::close(socket);
        return firstRetryDelay;
    }
    if (answer.type == wire::FrameType::refused) {
        ::close(socket);
        std::string reason = "the host refused the connection";
        try {
            wire::FieldReader reader(answer.payload);
            reason = reader.text();
        } catch (const wire::ProtocolError &) {
        }
        session->pushEvent({EventKind::failed, Direction::none, {}, {}, 0, 0, peerName(), hostId(), reason});
        // A wrong pairing token stays wrong; a trusted phone keeps trying in case the host restarts for it.
        if (pairing) {
            return std::nullopt;
        }
        return longestRetryDelay;
    }
    if (answer.type != wire::FrameType::helloAccepted) {
        ::close(socket);
        return firstRetryDelay;
    }
    wire::FieldReader reader(answer.payload);
    uint8_t outcome = 0;
    std::string hostName;
    std::string announcedHostId;
    try {
        outcome = reader.u8();
        hostName = reader.text();
        announcedHostId = reader.text();
        reader.finish();
    } catch (const wire::ProtocolError &) {
        ::close(socket);
        return firstRetryDelay;
    }

    auto newLink = std::make_shared<Link>(socket, std::move(ssl), std::move(decoder), *this);
    {
        std::lock_guard lock(mutex);
        if (stopping) {
            return std::nullopt;
        }
        link = newLink;
        reportedKeyMismatch = false;
        if (outcome == uint8_t(wire::HelloOutcome::trusted) && material) {
            material->hostName = hostName;
            session->attachLink(newLink);
            session->pushEvent({EventKind::paired, Direction::none, {}, {}, 0, 0, hostName, material->hostId, {}});
        } else {
            awaitingConfirmation = true;
            offer->hostId = announcedHostId.empty() ? offer->hostId : announcedHostId;
            pendingHostName = hostName;
            session->pushEvent({EventKind::connecting, Direction::none, {}, {}, 0, 0, hostName, offer->hostId, {}});
            session->pushEvent(
                {EventKind::awaitingConfirmation, Direction::none, {}, {}, 0, 0, hostName, offer->hostId, {}});
        }
    }
    Link::start(newLink);
    return std::chrono::milliseconds(0);
}

void Client::Private::onFrame(const std::shared_ptr<Link> &current, wire::Frame &&frame)
{
    if (frame.type == wire::FrameType::paired) {
        std::string secret;
        try {
            wire::FieldReader reader(frame.payload);
            secret = reader.text();
            reader.finish();
        } catch (const wire::ProtocolError &) {
            current->close("malformed pairing answer");
            return;
        }
        std::lock_guard lock(mutex);
        if (current != link || !awaitingConfirmation || secret.empty()) {
            return;
        }
        awaitingConfirmation = false;
        material =
            ConnectionMaterial{offer->endpoint, offer->publicKey, offer->hostId, pendingHostName, phoneId, secret};
        offer.reset();
        session->attachLink(current);
        session->pushEvent(
            {EventKind::paired, Direction::none, {}, {}, 0, 0, material->hostName, material->hostId, {}});
        return;
    }
    if (!session->handleFrame(current, frame)) {
        current->close("unexpected frame");
    }
}

void Client::Private::onLinkClosed(const std::shared_ptr<Link> &closed, const std::string &reason)
{
    {
        std::lock_guard lock(mutex);
        endedLinks.push_back(closed);
        if (closed != link) {
            return;
        }
        link.reset();
        awaitingConfirmation = false;
        session->detachLink(closed);
        session->pushEvent({EventKind::disconnected, Direction::none, {}, {}, 0, 0, peerName(), hostId(), reason});
    }
    changed.notify_all();
}

Client::Client(std::unique_ptr<Private> d) : d(std::move(d)) {}

Client::~Client() = default;

std::shared_ptr<Client> Client::connect(const std::string &pairingPayload, const std::string &connectionMaterial,
                                        const std::string &deviceName, const std::string &inboxDirectory)
{
    auto d = std::make_unique<Private>();
    try {
        if (!pairingPayload.empty()) {
            d->offer = PairingOffer::parse(pairingPayload);
            d->phoneId = randomUuid();
        } else {
            d->material = ConnectionMaterial::parse(connectionMaterial);
            d->phoneId = d->material->phoneId;
        }
    } catch (const std::exception &) {
        throw CoreError(CoreError::Kind::InvalidPairingPayload);
    }
    std::error_code error;
    std::filesystem::create_directories(inboxDirectory, error);
    if (inboxDirectory.empty() || !std::filesystem::is_directory(inboxDirectory, error)) {
        throw CoreError(CoreError::Kind::FileAccess, "the inbox folder cannot be used: " + inboxDirectory);
    }
    d->deviceName = deviceName;
    d->inboxDirectory = inboxDirectory;
    d->session = std::make_unique<Session>(inboxDirectory);
    // The phone moves each received file out of the inbox; one it had no time to move before it stopped is handed
    // to it again now, or it would stay in the inbox for good while the computer counts it as delivered.
    d->session->reportWaitingFiles();
    Private *raw = d.get();
    d->connectThread = std::thread([raw] { raw->connectLoop(); });
    return std::shared_ptr<Client>(new Client(std::move(d)));
}

bool Client::acknowledgeReceivedTransfer(const std::string &transferId)
{
    return d->session->acknowledgeReceivedTransfer(transferId);
}

bool Client::cancelTransfer(const std::string &transferId)
{
    return d->session->cancelTransfer(transferId);
}

void Client::confirmPairing()
{
    std::lock_guard lock(d->mutex);
    if (!d->link || !d->awaitingConfirmation) {
        throw CoreError(CoreError::Kind::NotConnected);
    }
    d->link->sendControl(wire::FrameType::confirm, {});
}

void Client::disconnect()
{
    d->stop();
}

bool Client::isConnected() const
{
    return d->session->isConnected();
}

bool Client::pauseTransfer(const std::string &transferId)
{
    return d->session->pauseTransfer(transferId);
}

std::optional<Event> Client::pollEvent()
{
    return d->session->pollEvent();
}

std::optional<ManagementRequest> Client::pollManagementRequest()
{
    return d->session->pollManagementRequest();
}

bool Client::respondManagement(const std::string &requestId, bool success, const std::string &payload,
                               const std::string &message)
{
    return d->session->respondManagement(requestId, success, payload, message);
}

std::string Client::sendFileDescriptor(int fileDescriptor, const std::string &fileName, uint64_t fileSize)
{
    std::string transferId = randomUuid();
    sendFileDescriptorWithId(fileDescriptor, fileName, fileSize, transferId);
    return transferId;
}

void Client::sendFileDescriptorWithId(int fileDescriptor, const std::string &fileName, uint64_t fileSize,
                                      const std::string &transferId)
{
    const int descriptor = ::fcntl(fileDescriptor, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0) {
        throw CoreError(CoreError::Kind::FileAccess, std::string("the file cannot be read: ") + std::strerror(errno));
    }
    d->session->sendFile(descriptor, fileName, fileSize, transferId);
}

std::optional<std::string> Client::trustedConnectionMaterial() const
{
    std::lock_guard lock(d->mutex);
    if (!d->material) {
        return std::nullopt;
    }
    return d->material->text();
}

} // namespace tavrine::core

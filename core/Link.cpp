#include "Link.h"

#include <openssl/err.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace tavrine::core {

namespace {

// Four mebibytes of file data: enough to carry the link through a few milliseconds in which the senders get no
// processor, as happens when other work keeps every core busy. Control frames go before it all the same.
constexpr size_t maximumQueuedDataFrames = 16;
constexpr size_t readBufferBytes = 64 * 1024;
// Plenty for a local network, and it keeps what is in flight behind a management request to a few milliseconds;
// left to itself the system grows these to several mebibytes on a fast link.
constexpr int socketBufferBytes = 1024 * 1024;
constexpr int readsPerTurn = 32;
// For this long after bytes came or went the link looks at the socket again at once instead of sleeping: the peer's
// answer to a small file, or the next file, mostly comes within it, and a thread that slept first has to be woken.
// Files one after another pause now and then for a few milliseconds (a redraw of the window, a thread kept off the
// processor); a link that slept through such a pause woke late for each of the next files.
constexpr auto activeSpell = std::chrono::milliseconds(5);
constexpr size_t writeBytesPerTurn = 1024 * 1024;
// While more than this waits to go out, the link reads nothing more from the peer.
constexpr size_t readPauseBacklogBytes = 4 * 1024 * 1024;
// A backlog this large is a peer that stopped reading long ago, or a caller that never stops: the link ends.
constexpr size_t maximumBacklogBytes = 64 * 1024 * 1024;

std::chrono::milliseconds millisecondsFromEnvironment(const char *name, std::chrono::milliseconds fallback)
{
    if (const char *value = std::getenv(name)) {
        const long milliseconds = std::strtol(value, nullptr, 10);
        if (milliseconds > 0) {
            return std::chrono::milliseconds(milliseconds);
        }
    }
    return fallback;
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left, 60'000));
}

// Waits until the socket is ready for what the TLS layer asked for; false at the deadline.
bool waitForSocket(int socket, int sslError, Clock::time_point deadline)
{
    pollfd descriptor{socket, short(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    while (true) {
        const int timeout = millisecondsUntil(deadline);
        if (timeout == 0) {
            return false;
        }
        const int ready = ::poll(&descriptor, 1, timeout);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

} // namespace

void blockBrokenPipeSignal()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::chrono::milliseconds idleTimeout()
{
    static const auto timeout = millisecondsFromEnvironment("TAVRINE_CORE_IDLE_TIMEOUT_MS", std::chrono::seconds(25));
    return timeout;
}

std::chrono::milliseconds pingInterval()
{
    return std::max(idleTimeout() / 5, std::chrono::milliseconds(50));
}

std::string runHandshake(SSL *ssl, int socket, Clock::time_point deadline)
{
    while (true) {
        ERR_clear_error();
        const int result = SSL_connect(ssl);
        if (result == 1) {
            return {};
        }
        const int error = SSL_get_error(ssl, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            if (SSL_get_verify_result(ssl) != X509_V_OK) {
                return "the host presented a key other than the paired one";
            }
            const unsigned long code = ERR_get_error();
            return code ? ERR_reason_error_string(code) ? ERR_reason_error_string(code) : "TLS handshake failed"
                        : "TLS handshake failed";
        }
        if (!waitForSocket(socket, error, deadline)) {
            return "the TLS handshake took too long";
        }
    }
}

wire::Frame readFrame(SSL *ssl, int socket, wire::FrameDecoder &decoder, Clock::time_point deadline)
{
    char buffer[16 * 1024];
    while (true) {
        if (auto frame = decoder.next()) {
            return std::move(*frame);
        }
        ERR_clear_error();
        const int count = SSL_read(ssl, buffer, sizeof buffer);
        if (count > 0) {
            decoder.feed(buffer, size_t(count));
            continue;
        }
        const int error = SSL_get_error(ssl, count);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            throw std::runtime_error("the connection closed during the greeting");
        }
        if (!waitForSocket(socket, error, deadline)) {
            throw std::runtime_error("the greeting took too long");
        }
    }
}

void writeAll(SSL *ssl, int socket, std::string_view bytes, Clock::time_point deadline)
{
    size_t written = 0;
    while (written < bytes.size()) {
        ERR_clear_error();
        const int count =
            SSL_write(ssl, bytes.data() + written, int(std::min<size_t>(bytes.size() - written, 1 << 30)));
        if (count > 0) {
            written += size_t(count);
            continue;
        }
        const int error = SSL_get_error(ssl, count);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            throw std::runtime_error("the connection closed during the greeting");
        }
        if (!waitForSocket(socket, error, deadline)) {
            throw std::runtime_error("the greeting took too long");
        }
    }
}

Link::Link(int socket, SslPointer ssl, wire::FrameDecoder decoder, Handler &handler)
    : m_socket(socket), m_wakeDescriptor(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_ssl(std::move(ssl)),
      m_porter(socket, &Link::wakeFromPorter, this), m_decoder(std::move(decoder)), m_handler(handler)
{
    SSL_set_mode(m_ssl.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // From here on the TLS layer reads and writes through the porter, which moves many records in one system call
    // each way, where the socket itself would take one call per record. Records the greeting already read stay in
    // the TLS layer and come first.
    BIO *porter = m_porter.makeBio();
    SSL_set_bio(m_ssl.get(), porter, porter);
    ::setsockopt(m_socket, SOL_SOCKET, SO_SNDBUF, &socketBufferBytes, sizeof socketBufferBytes);
    ::setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &socketBufferBytes, sizeof socketBufferBytes);
}

Link::~Link()
{
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach();
        } else {
            close("closed");
            m_thread.join();
        }
    }
    if (m_socket >= 0) {
        ::close(m_socket);
    }
    if (m_wakeDescriptor >= 0) {
        ::close(m_wakeDescriptor);
    }
}

void Link::start(const std::shared_ptr<Link> &link)
{
    link->m_thread = std::thread(&Link::run, link.get(), link);
}

void Link::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(m_wakeDescriptor, &one, sizeof one);
}

bool Link::sendControl(wire::FrameType type, std::string_view payload)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_closeRequested) {
            return false;
        }
        if (m_controlBytes + payload.size() > maximumBacklogBytes) {
            if (m_closeReason.empty()) {
                m_closeReason = "the peer does not read what it is sent";
            }
            m_closeRequested = true;
        } else {
            m_control.push_back(wire::encodeFrame(type, payload));
            m_controlBytes += m_control.back().size();
        }
    }
    if (m_closeRequested) {
        m_roomForData.notify_all();
    }
    wake();
    return !m_closeRequested;
}

bool Link::sendData(const std::string &transferId, std::string frame, const std::atomic<bool> &stopped)
{
    {
        std::unique_lock lock(m_mutex);
        while (!stopped && !m_closed && !m_closeRequested && m_data.size() >= maximumQueuedDataFrames) {
            m_roomForData.wait_for(lock, std::chrono::milliseconds(100));
        }
        if (stopped || m_closed || m_closeRequested) {
            return false;
        }
        m_data.push_back({transferId, std::move(frame)});
    }
    // A link thread at work takes the frame on its next turn; only one that waits needs the system call and the
    // wake-up, so a steady stream of chunks costs neither side one per chunk.
    if (m_waiting) {
        wake();
    }
    return true;
}

void Link::dropData(const std::string &transferId)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_data, [&](const DataFrame &frame) { return frame.transferId == transferId; });
    m_roomForData.notify_all();
}

void Link::close(const std::string &reason)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closeReason.empty()) {
            m_closeReason = reason;
        }
        m_closeRequested = true;
    }
    m_roomForData.notify_all();
    wake();
}

void Link::closeAndWait(const std::string &reason)
{
    close(reason);
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

bool Link::takeNextFrame()
{
    std::lock_guard lock(m_mutex);
    wire::recycleBuffer(std::move(m_writing));
    m_writing.clear();
    m_written = 0;
    if (!m_control.empty()) {
        m_writing = std::move(m_control.front());
        m_control.pop_front();
        m_controlBytes -= m_writing.size();
    } else if (m_pongOwed) {
        m_writing = wire::encodeFrame(wire::FrameType::pong, {});
        m_pongOwed = false;
    } else if (!m_data.empty()) {
        m_writing = std::move(m_data.front().frame);
        m_data.pop_front();
        // A waiting sender is woken once half the queue is free, and then queues several chunks in a row.
        if (m_data.size() <= maximumQueuedDataFrames / 2) {
            m_roomForData.notify_all();
        }
    }
    return !m_writing.empty();
}

void Link::dispatch(const std::shared_ptr<Link> &self, wire::Frame &&frame)
{
    switch (frame.type) {
    case wire::FrameType::ping:
        m_pongOwed = true;
        return;
    case wire::FrameType::pong:
        return;
    default:
        m_handler.onFrame(self, std::move(frame));
    }
}

bool Link::mayRead() const
{
    return m_controlBytes < readPauseBacklogBytes && m_handler.readyForFrames();
}

void Link::wakeFromPorter(void *link)
{
    static_cast<Link *>(link)->wake();
}

std::string Link::readTurn(const std::shared_ptr<Link> &self, std::string &buffer, Clock::time_point &lastReceived,
                           bool &moreWaiting, bool evenWhenHeld)
{
    SSL *ssl = m_ssl.get();
    moreWaiting = false;
    // Checked once a turn: the handler may take one turn's frames past its limit.
    if (!evenWhenHeld && !mayRead()) {
        return {};
    }
    for (int turn = 0; !m_closeRequested; ++turn) {
        if (turn == readsPerTurn) {
            // Whole records may wait in the buffers with nothing more to come from the socket: no waiting for it.
            moreWaiting = true;
            return {};
        }
        ERR_clear_error();
        // Large payloads are decrypted straight into their frame.
        const auto room = m_decoder.directRoom();
        const int count = room ? SSL_read(ssl, room->first, int(std::min<size_t>(room->second, 1 << 30)))
                               : SSL_read(ssl, buffer.data(), int(buffer.size()));
        if (count > 0) {
            lastReceived = Clock::now();
            if (room) {
                m_decoder.commitDirect(size_t(count));
            } else {
                m_decoder.feed(buffer.data(), size_t(count));
            }
            while (auto frame = m_decoder.next()) {
                dispatch(self, std::move(*frame));
            }
            continue;
        }
        const int error = SSL_get_error(ssl, count);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            return {};
        }
        return error == SSL_ERROR_ZERO_RETURN ? "the peer closed the link" : "the connection was lost";
    }
    return {};
}

void Link::readWhatArrived(const std::shared_ptr<Link> &self, std::string &buffer, Clock::time_point &lastReceived)
{
    // Nothing more comes from the socket: this ends once what the porter holds has been read. The handler takes it
    // even while it said it was full, as these are the last frames it will ever get from this link.
    bool moreWaiting = true;
    while (moreWaiting && !m_closeRequested) {
        if (!readTurn(self, buffer, lastReceived, moreWaiting, true).empty()) {
            return;
        }
    }
}

std::string Link::encryptTurn()
{
    SSL *ssl = m_ssl.get();
    // Bounded, so that a peer that takes data as fast as it comes still gets its frames read in between, and only
    // while the porter has room: what waits to go out stays what it holds at most.
    size_t encrypted = 0;
    while (m_written < m_writing.size() && encrypted < writeBytesPerTurn && m_porter.roomToWrite()) {
        ERR_clear_error();
        const int count = SSL_write(ssl, m_writing.data() + m_written, int(m_writing.size() - m_written));
        if (count > 0) {
            m_written += size_t(count);
            encrypted += size_t(count);
            if (m_written == m_writing.size()) {
                takeNextFrame();
            }
            continue;
        }
        const int error = SSL_get_error(ssl, count);
        if (error == SSL_ERROR_WANT_WRITE) {
            // A batch of records is ready: it goes on its way, and the next follows while the porter has room.
            if (std::string failure = m_porter.flush(); !failure.empty()) {
                return failure;
            }
            if (m_porter.roomToWrite()) {
                continue;
            }
            break;
        }
        if (error == SSL_ERROR_WANT_READ) {
            break;
        }
        return "the connection was lost";
    }
    return {};
}

void Link::run(std::shared_ptr<Link> self)
{
    ::pthread_setname_np(::pthread_self(), "tavrine-link");
    blockBrokenPipeSignal();
    std::string reason;
    std::string readBuffer(readBufferBytes, '\0');
    auto lastReceived = Clock::now();
    // When this thread last sent or handed on bytes (the porter's thread may send long after).
    auto lastActive = Clock::now();
    bool wasReading = true;
    bool moreToRead = false;
    bool stalled = false;
    uint64_t arrivalsRead = 0;
    SSL *ssl = m_ssl.get();

    try {
        while (reason.empty()) {
            if (m_closeRequested) {
                std::lock_guard lock(m_mutex);
                reason = m_closeReason;
                break;
            }
            if (reason = m_porter.failure(); !reason.empty()) {
                break;
            }
            // Frames read together with the greeting come first.
            while (auto frame = m_decoder.next()) {
                dispatch(self, std::move(*frame));
            }
            if (m_written == m_writing.size()) {
                takeNextFrame();
            }

            const auto now = Clock::now();
            const bool reading = mayRead();
            if (reading && !wasReading) {
                // The peer's bytes waited for us, not the other way round.
                lastReceived = now;
            }
            wasReading = reading;
            const auto lastSent = m_porter.lastSent();
            const bool writing = m_written < m_writing.size() || m_porter.outgoing();
            if (reading && now - lastReceived > idleTimeout()) {
                reason = "the peer stopped answering";
                break;
            }
            if (writing && now - lastSent > idleTimeout()) {
                stalled = true;
                reason = "the peer does not read what it is sent";
                break;
            }
            if (now - lastSent > pingInterval() && !writing) {
                m_writing = wire::encodeFrame(wire::FrameType::ping, {});
                m_written = 0;
            }

            // With frames to encrypt and room for them, or records left from the last turn, there is no reason to
            // wait.
            const bool encrypting = m_written < m_writing.size();
            const bool busy = moreToRead || (encrypting && m_porter.roomToWrite());
            // The socket is left out while there is nothing to do with it, so a hang-up does not wake us in a loop,
            // and while the porter's thread reads it.
            const bool watchSocket = reading && m_porter.ownerReads();
            pollfd descriptors[2] = {
                {watchSocket ? m_socket : -1, POLLIN, 0},
                {m_wakeDescriptor, POLLIN, 0},
            };
            const auto untilPing = std::chrono::duration_cast<std::chrono::milliseconds>(pingInterval()).count();
            int timeout = busy ? 0 : int(std::clamp<long long>(untilPing, 10, 1000));
            if (timeout > 0) {
                m_handler.beforeWaiting();
            }
            if (timeout > 0 && now - std::max(lastReceived, lastActive) < activeSpell) {
                timeout = 0;
            }
            if (timeout > 0 && m_written == m_writing.size()) {
                // Senders of data wake the link only while it waits for a frame; one queued before this was set
                // is found here.
                m_waiting = true;
                if (takeNextFrame()) {
                    timeout = 0;
                }
            }
            if (timeout > 0) {
                // The porter wakes us only from here on: what it did before is found here.
                m_porter.setOwnerWaiting(true);
                if ((reading && m_porter.arrivals() != arrivalsRead) ||
                    (reading && !watchSocket && m_porter.ownerReads()) ||
                    (m_written < m_writing.size() && m_porter.roomToWrite()) || m_porter.peerClosed() ||
                    !m_porter.failure().empty()) {
                    timeout = 0;
                }
            }
            const int ready = ::poll(descriptors, 2, timeout);
            m_waiting = false;
            m_porter.setOwnerWaiting(false);
            if (ready < 0 && errno != EINTR) {
                reason = "the connection failed";
                break;
            }
            if (descriptors[1].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t ignored = ::read(m_wakeDescriptor, &count, sizeof count);
            }

            if (watchSocket && (descriptors[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                reason = m_porter.readSocket();
            }
            moreToRead = false;
            if (reason.empty() && reading) {
                // Everything that came before the end of the connection has arrived once the end is seen.
                const bool closed = m_porter.peerClosed();
                arrivalsRead = m_porter.arrivals();
                reason = readTurn(self, readBuffer, lastReceived, moreToRead);
                if (reason.empty() && closed && !moreToRead) {
                    reason = "the peer closed the link";
                }
            }
            if (reason.empty()) {
                reason = encryptTurn();
            }
            if (reason.empty() && m_porter.outgoing()) {
                lastActive = Clock::now();
                reason = m_porter.flush();
            }
        }
        if (!m_closeRequested && !m_porter.failure().empty()) {
            readWhatArrived(self, readBuffer, lastReceived);
        }
    } catch (const wire::ProtocolError &error) {
        reason = std::string("the peer sent a malformed frame: ") + error.what();
    } catch (const std::exception &error) {
        reason = error.what();
    }

    // A parting word for the peer, as far as the socket takes it at once; nothing for a peer that reads nothing.
    SSL_shutdown(ssl);
    m_porter.finish(stalled);
    if (stalled) {
        // The peer reads nothing, so a closing handshake would wait behind what it never took: reset at once.
        const linger abortive{1, 0};
        ::setsockopt(m_socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    } else {
        ::shutdown(m_socket, SHUT_RDWR);
    }
    ::close(m_socket);
    m_socket = -1;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_control.clear();
        m_controlBytes = 0;
        m_data.clear();
    }
    m_roomForData.notify_all();
    m_handler.onLinkClosed(self, reason);
}

} // namespace tavrine::core

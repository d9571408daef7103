#include "SocketPorter.h"

#include "Link.h"
#include "Wire.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tavrine::core {

namespace {

// What one system call moves at most, and what a batch of records handed to the porter's thread holds at most: the
// size of a chunk's buffer, so that the buffers of chunks, batches and input serve one another.
constexpr size_t blockBytes = wire::chunkBytes;
// A batch this small, with nothing before it still on its way, is sent by the owner itself.
constexpr size_t directBytes = 64 * 1024;
// Input this small is copied out of the owner's read buffer, which is kept for the next read.
constexpr size_t smallReadBytes = 16 * 1024;
// The porter's thread gives reading back to the owner once nothing came for this long.
constexpr auto handBackAfter = std::chrono::milliseconds(3);
const char *const lostConnection = "the connection was lost";

BIO_METHOD *porterMethod(int (*write)(BIO *, const char *, int), int (*read)(BIO *, char *, int))
{
    static BIO_METHOD *const method = [&] {
        BIO_METHOD *made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tavrine socket porter");
        BIO_meth_set_write(made, write);
        BIO_meth_set_read(made, read);
        BIO_meth_set_ctrl(made, [](BIO *, int command, long, void *) -> long { return command == BIO_CTRL_FLUSH; });
        BIO_meth_set_create(made, [](BIO *bio) {
            BIO_set_init(bio, 1);
            return 1;
        });
        return made;
    }();
    return method;
}

bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

} // namespace

SocketPorter::SocketPorter(int socket, void (*wakeOwner)(void *), void *context)
    : m_socket(socket), m_porterWake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_wakeOwner(wakeOwner),
      m_context(context), m_lastSent(Clock::now().time_since_epoch().count())
{}

SocketPorter::~SocketPorter()
{
    if (m_thread.joinable()) {
        m_discard = true;
        m_stop = true;
        wakePorter();
        m_thread.join();
    }
    if (m_porterWake >= 0) {
        ::close(m_porterWake);
    }
}

BIO *SocketPorter::makeBio()
{
    BIO *bio = BIO_new(porterMethod(&SocketPorter::writeBio, &SocketPorter::readBio));
    BIO_set_data(bio, this);
    return bio;
}

int SocketPorter::writeBio(BIO *bio, const char *bytes, int count)
{
    auto *porter = static_cast<SocketPorter *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (count <= 0) {
        return 0;
    }
    std::string &batch = porter->m_batch;
    if (!batch.empty() && batch.size() + size_t(count) > blockBytes) {
        // Full: the owner sends it or hands it on (flush()), then the TLS layer writes again.
        BIO_set_retry_write(bio);
        return -1;
    }
    if (batch.empty() && batch.capacity() < blockBytes) {
        batch = wire::takeBuffer(blockBytes);
        batch.clear();
    }
    batch.append(bytes, size_t(count));
    return count;
}

int SocketPorter::readBio(BIO *bio, char *bytes, int count)
{
    auto *porter = static_cast<SocketPorter *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (count <= 0) {
        return 0;
    }
    size_t copied = 0;
    std::string used;
    {
        const std::lock_guard lock(porter->m_mutex);
        while (copied < size_t(count) && !porter->m_incoming.empty()) {
            Input &front = porter->m_incoming.front();
            const size_t taken = std::min(size_t(count) - copied, front.length - porter->m_incomingOffset);
            std::memcpy(bytes + copied, front.block.data() + porter->m_incomingOffset, taken);
            copied += taken;
            porter->m_incomingOffset += taken;
            if (porter->m_incomingOffset == front.length) {
                wire::recycleBuffer(std::move(used));
                used = std::move(front.block);
                porter->m_incoming.pop_front();
                porter->m_incomingOffset = 0;
            }
        }
    }
    wire::recycleBuffer(std::move(used));
    if (copied == 0) {
        // The end of the connection is told by peerClosed(), once what came before it was read.
        BIO_set_retry_read(bio);
        return -1;
    }
    const size_t left = porter->m_incomingBytes.fetch_sub(copied) - copied;
    if (left <= queueBytes / 2 && porter->m_porterFull.exchange(false)) {
        porter->wakePorter();
    }
    return int(copied);
}

std::string SocketPorter::flush()
{
    if (m_batch.empty()) {
        return {};
    }
    if (m_batch.size() <= directBytes && m_outgoingBytes.load() == 0) {
        size_t sent = 0;
        while (sent < m_batch.size()) {
            const ssize_t count =
                ::send(m_socket, m_batch.data() + sent, m_batch.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count > 0) {
                sent += size_t(count);
                markSent();
                continue;
            }
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0 && wouldBlock()) {
                break;
            }
            fail();
            return lostConnection;
        }
        if (sent == m_batch.size()) {
            m_batch.clear();
            return {};
        }
        m_batch.erase(0, sent);
    }
    startPorter();
    // Counted before the porter's thread can see it, so that what it subtracts was always added.
    m_outgoingBytes += m_batch.size();
    {
        const std::lock_guard lock(m_mutex);
        m_outgoing.push_back(std::move(m_batch));
    }
    m_batch = std::string();
    if (m_porterWaiting.load()) {
        wakePorter();
    }
    return {};
}

std::string SocketPorter::readSocket()
{
    while (ownerReads()) {
        if (m_readBuffer.size() != blockBytes) {
            m_readBuffer = wire::takeBuffer(blockBytes);
        }
        const ssize_t count = ::read(m_socket, m_readBuffer.data(), blockBytes);
        if (count > 0) {
            if (size_t(count) < smallReadBytes) {
                pushIncoming(std::string(m_readBuffer.data(), size_t(count)), size_t(count));
            } else {
                pushIncoming(std::exchange(m_readBuffer, std::string()), size_t(count));
            }
            if (size_t(count) == blockBytes) {
                // More waits than one call moves: the porter's thread reads from here on.
                startPorter();
                m_porterReads = true;
                wakePorter();
                return {};
            }
            continue;
        }
        if (count == 0) {
            m_peerClosed = true;
            return {};
        }
        if (errno == EINTR) {
            continue;
        }
        if (wouldBlock()) {
            return {};
        }
        fail();
        return lostConnection;
    }
    return {};
}

std::string SocketPorter::failure() const
{
    return m_failed.load() ? lostConnection : std::string();
}

void SocketPorter::setOwnerWaiting(bool waiting)
{
    m_ownerWaiting.store(waiting);
}

void SocketPorter::finish(bool discard)
{
    if (!discard) {
        flush();
    }
    if (m_thread.joinable()) {
        m_discard = discard;
        m_stop = true;
        wakePorter();
        m_thread.join();
    }
}

void SocketPorter::startPorter()
{
    if (!m_thread.joinable()) {
        m_thread = std::thread(&SocketPorter::runPorter, this);
    }
}

void SocketPorter::wakePorter()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(m_porterWake, &one, sizeof one);
}

void SocketPorter::wakeOwnerIfWaiting()
{
    // Once a wait: the owner says again that it waits before each.
    if (m_ownerWaiting.exchange(false)) {
        m_wakeOwner(m_context);
    }
}

void SocketPorter::fail()
{
    m_failed = true;
    wakeOwnerIfWaiting();
}

void SocketPorter::markSent()
{
    m_lastSent.store(Clock::now().time_since_epoch().count());
}

void SocketPorter::pushIncoming(std::string &&block, size_t length)
{
    m_incomingBytes += length;
    {
        const std::lock_guard lock(m_mutex);
        m_incoming.push_back({std::move(block), length});
    }
    ++m_arrivals;
}

void SocketPorter::runPorter()
{
    ::pthread_setname_np(::pthread_self(), "tavrine-port");
    blockBrokenPipeSignal();
    std::string sending;
    size_t sendOffset = 0;
    bool wasReading = false;
    auto lastInput = Clock::now();

    // Takes the next batch once the one being sent is done; false when none waits.
    const auto haveBatch = [&] {
        if (sendOffset < sending.size()) {
            return true;
        }
        wire::recycleBuffer(std::move(sending));
        sending = std::string();
        sendOffset = 0;
        const std::lock_guard lock(m_mutex);
        if (m_outgoing.empty()) {
            return false;
        }
        sending = std::move(m_outgoing.front());
        m_outgoing.pop_front();
        return true;
    };
    // Sends what the socket takes of the batch at once; gives how much, or -1 with errno.
    const auto sendSome = [&] {
        const ssize_t count =
            ::send(m_socket, sending.data() + sendOffset, sending.size() - sendOffset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            sendOffset += size_t(count);
            m_outgoingBytes -= size_t(count);
            markSent();
        }
        return count;
    };

    while (!m_stop) {
        bool progress = false;
        if (!m_failed && haveBatch()) {
            const ssize_t count = sendSome();
            if (count > 0) {
                progress = true;
                if (sendOffset == sending.size()) {
                    wakeOwnerIfWaiting();
                }
            } else if (count == 0 || (errno != EINTR && !wouldBlock())) {
                fail();
            }
        }

        const bool reading = m_porterReads.load() && !m_peerClosed && !m_failed;
        if (reading && !wasReading) {
            lastInput = Clock::now();
        }
        wasReading = reading;
        const bool roomToRead = m_incomingBytes.load() < queueBytes;
        if (reading && roomToRead) {
            std::string block = wire::takeBuffer(blockBytes);
            const ssize_t count = ::read(m_socket, block.data(), block.size());
            if (count > 0) {
                pushIncoming(std::move(block), size_t(count));
                lastInput = Clock::now();
                progress = true;
                wakeOwnerIfWaiting();
            } else {
                wire::recycleBuffer(std::move(block));
                if (count == 0) {
                    m_peerClosed = true;
                    wakeOwnerIfWaiting();
                } else if (wouldBlock()) {
                    if (Clock::now() - lastInput > handBackAfter) {
                        // The flow is over: the owner reads for itself again, without a hand-over per answer.
                        m_porterReads = false;
                        wasReading = false;
                        wakeOwnerIfWaiting();
                        continue;
                    }
                } else if (errno != EINTR) {
                    fail();
                }
            }
        }
        if (progress) {
            continue;
        }

        const bool sendPending = sendOffset < sending.size() && !m_failed;
        const bool watchInput = reading && roomToRead;
        pollfd descriptors[2] = {
            {watchInput || sendPending ? m_socket : -1, short((watchInput ? POLLIN : 0) | (sendPending ? POLLOUT : 0)),
             0},
            {m_porterWake, POLLIN, 0},
        };
        int timeout = 1000;
        if (watchInput) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastInput + handBackAfter - Clock::now());
            timeout = int(std::clamp<long long>(left.count(), 1, 1000));
        }
        m_porterFull = reading && !roomToRead;
        m_porterWaiting = true;
        // What the owner did before it could see that we wait is found here: it wakes us only from now on.
        bool again = m_stop.load();
        if (sendOffset == sending.size()) {
            const std::lock_guard lock(m_mutex);
            again = again || !m_outgoing.empty();
        }
        again = again || (reading && !roomToRead && m_incomingBytes.load() < queueBytes);
        again = again || (m_porterReads.load() && !reading && !m_peerClosed && !m_failed);
        if (!again) {
            ::poll(descriptors, 2, timeout);
            if (descriptors[1].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t ignored = ::read(m_porterWake, &count, sizeof count);
            }
        }
        m_porterWaiting = false;
        m_porterFull = false;
    }

    if (m_discard) {
        return;
    }
    // A parting word as far as the socket takes it at once.
    while (!m_failed && haveBatch() && sendSome() > 0) {
    }
}

} // namespace tavrine::core

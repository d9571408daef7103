#pragma once

#include <openssl/bio.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tavrine::core {

// Carries a link's ciphertext between its TLS session and its socket. The TLS layer reads and writes through
// bio(); the link's thread (the owner) calls the rest. A little at a time goes straight through the owner's own
// system calls, so an answer costs no hand-over between threads. While much flows one way or the other, a thread
// of the porter's own makes the system calls that copy it into and out of the socket, beside the owner's
// encryption and decryption; what it holds is bounded each way, and bytes keep their order whoever moves them.
class SocketPorter
{
public:
    using Clock = std::chrono::steady_clock;

    // `wakeOwner` interrupts the owner's wait; it is called from the porter's thread, only while the owner said it
    // waits.
    SocketPorter(int socket, void (*wakeOwner)(void *), void *context);
    ~SocketPorter();
    SocketPorter(const SocketPorter &) = delete;
    SocketPorter &operator=(const SocketPorter &) = delete;

    // Makes the BIO the TLS layer reads and writes through (for SSL_set_bio, which takes it over).
    BIO *makeBio();

    // Sends what the TLS layer wrote since the last call, or hands it to the porter's thread. Gives why the
    // connection failed, or nothing.
    std::string flush();
    // Whether the TLS layer may write more now; false while the porter's thread holds as much as it may.
    bool roomToWrite() const { return m_outgoingBytes.load() < queueBytes; }
    // Something written has not reached the socket yet.
    bool outgoing() const { return !m_batch.empty() || m_outgoingBytes.load() > 0; }
    // When bytes last left for the socket.
    Clock::time_point lastSent() const { return Clock::time_point(Clock::duration(m_lastSent.load())); }

    // Whether the owner should watch the socket for input and call readSocket() when it has some; while much
    // comes in, the porter's thread reads it instead.
    bool ownerReads() const { return !m_porterReads.load() && m_incomingBytes.load() < queueBytes; }
    // Reads what the socket has (the owner calls it when the socket is readable). Gives why the connection
    // failed, or nothing; a closed connection is told by peerClosed().
    std::string readSocket();
    // Counts the arrivals of input; the owner compares it with what it saw when it last read.
    uint64_t arrivals() const { return m_arrivals.load(); }
    // The peer ended the connection; what came before it is still read through the BIO.
    bool peerClosed() const { return m_peerClosed.load(); }
    // Why the connection failed, once it did; nothing until then.
    std::string failure() const;

    // The owner is about to wait (true) or has stopped waiting (false). While it waits, the porter's thread wakes
    // it when input arrives, when room to write comes back, and when the connection ends.
    void setOwnerWaiting(bool waiting);

    // Sends what waits, as far as the socket takes it at once (nothing when `discard`), and stops the porter's
    // thread. The socket stays open.
    void finish(bool discard);

private:
    // What the porter's thread holds each way at most: a little over a millisecond at full speed, enough to carry
    // the transfer through the few milliseconds one of the two threads waits for a processor while other work keeps
    // every core busy.
    static constexpr size_t queueBytes = 2 * 1024 * 1024;

    static int writeBio(BIO *bio, const char *bytes, int count);
    static int readBio(BIO *bio, char *bytes, int count);

    void runPorter();
    void startPorter();
    void wakePorter();
    void wakeOwnerIfWaiting();
    // The socket failed: nothing more is sent or read.
    void fail();
    void markSent();
    // Queues the first `length` bytes of `block`, input read from the socket (by the owner or the porter's thread).
    // The block keeps its whole size, so that it goes back to the buffers as it came, with nothing to clear.
    void pushIncoming(std::string &&block, size_t length);

    const int m_socket;
    const int m_porterWake;
    void (*const m_wakeOwner)(void *);
    void *const m_context;
    std::thread m_thread;

    std::mutex m_mutex;
    std::deque<std::string> m_outgoing; // handed to the porter's thread
    struct Input
    {
        std::string block;
        size_t length = 0; // of the block, what was read into it
    };
    std::deque<Input> m_incoming;       // read from the socket, not yet taken by the TLS layer
    size_t m_incomingOffset = 0;        // of what the TLS layer took from the first incoming block

    std::atomic<size_t> m_outgoingBytes = 0;
    std::atomic<size_t> m_incomingBytes = 0;
    std::atomic<uint64_t> m_arrivals = 0;
    std::atomic<Clock::rep> m_lastSent;
    std::atomic<bool> m_porterReads = false;
    std::atomic<bool> m_porterWaiting = false;
    std::atomic<bool> m_porterFull = false; // the porter's thread waits for room for input
    std::atomic<bool> m_ownerWaiting = false;
    std::atomic<bool> m_peerClosed = false;
    std::atomic<bool> m_failed = false;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_discard = false;

    // Owned by the owner's thread.
    std::string m_batch;      // written by the TLS layer, not yet sent or handed over
    std::string m_readBuffer; // for the owner's own reads
};

} // namespace tavrine::core

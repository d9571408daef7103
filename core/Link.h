#pragma once

#include "Identity.h"
#include "SocketPorter.h"
#include "Wire.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tavrine::core {

using Clock = std::chrono::steady_clock;

// How long the peer may stay silent before the link counts as lost; pings keep a healthy link busy.
std::chrono::milliseconds idleTimeout();
std::chrono::milliseconds pingInterval();

// Keeps a write to a socket that the peer closed from raising SIGPIPE in the calling thread (the write
// fails with EPIPE instead). Every library thread that touches a socket calls it first.
void blockBrokenPipeSignal();

// The phone's greeting steps below wait on the socket until `deadline`. (The host serves its greetings in a
// GreetingTable.)

// Runs the phone's TLS handshake on a non-blocking socket. Gives an empty text on success, otherwise why it failed.
std::string runHandshake(SSL *ssl, int socket, Clock::time_point deadline);

// Reads one frame before a link exists (the greeting). Throws wire::ProtocolError or std::runtime_error.
wire::Frame readFrame(SSL *ssl, int socket, wire::FrameDecoder &decoder, Clock::time_point deadline);
// Writes bytes before a link exists; throws std::runtime_error.
void writeAll(SSL *ssl, int socket, std::string_view bytes, Clock::time_point deadline);

// One authenticated TLS connection with its own I/O thread. Control frames (management, pauses, greetings)
// go out before queued file data, so a request never waits behind a large file; file data is bounded, so
// senders wait for room instead of filling memory. What waits to go out is bounded too: while the backlog is
// large the link stops reading (a peer that does not read cannot make it queue answers without end), and a
// peer that takes nothing for the idle timeout loses the link.
class Link
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        // Called on the link's thread, one frame after another.
        virtual void onFrame(const std::shared_ptr<Link> &link, wire::Frame &&frame) = 0;
        // Called once on the link's thread when the link has ended.
        virtual void onLinkClosed(const std::shared_ptr<Link> &link, const std::string &reason) = 0;
        // False while the handler cannot take more frames; it calls resumeReading() when it can again.
        virtual bool readyForFrames() { return true; }
        // Called on the link's thread before it waits: work the handler hands on in batches must not wait for more
        // frames to come.
        virtual void beforeWaiting() {}
    };

    // Takes over the socket and the TLS session; `decoder` holds bytes already read after the greeting.
    Link(int socket, SslPointer ssl, wire::FrameDecoder decoder, Handler &handler);
    ~Link();
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    static void start(const std::shared_ptr<Link> &link);

    // Queues a control frame; false when the link has closed. A backlog over the hard limit means the peer stopped
    // reading long ago: the link closes instead of growing.
    bool sendControl(wire::FrameType type, std::string_view payload);
    // Queues one data frame of a transfer; waits while the queue is full. False when the link has closed
    // or `stopped` became true (checked under the queue lock, so a stopped sender never queues again).
    bool sendData(const std::string &transferId, std::string frame, const std::atomic<bool> &stopped);
    // Drops the data frames of a transfer that have not started to go out.
    void dropData(const std::string &transferId);
    // Ends the link; the handler hears of it on the link's thread.
    void close(const std::string &reason);
    // Ends the link and waits for its thread (never from the link's own thread).
    void closeAndWait(const std::string &reason);
    bool isOpen() const { return !m_closed.load(); }
    // Wakes the link's thread to read again after the handler said it was not ready.
    void resumeReading() { wake(); }

private:
    struct DataFrame
    {
        std::string transferId;
        std::string frame;
    };

    void run(std::shared_ptr<Link> self);
    void wake();
    bool takeNextFrame();
    void dispatch(const std::shared_ptr<Link> &self, wire::Frame &&frame);
    bool mayRead() const;
    static void wakeFromPorter(void *link);
    // Each step below gives why the link ended, or nothing.
    // Decrypts and dispatches one turn's frames; `moreWaiting` tells that the turn ended before the data did.
    // `evenWhenHeld` reads although the handler said it was not ready.
    std::string readTurn(const std::shared_ptr<Link> &self, std::string &buffer, Clock::time_point &lastReceived,
                         bool &moreWaiting, bool evenWhenHeld = false);
    // After the connection failed (a reset often comes right behind the peer's last bytes, in the same read), hands
    // on the frames that arrived before it, as a clean close does.
    void readWhatArrived(const std::shared_ptr<Link> &self, std::string &buffer, Clock::time_point &lastReceived);
    // Encrypts one turn's worth of the frames waiting to go out.
    std::string encryptTurn();

    int m_socket; // closed by the link's thread as it ends, so the peer learns of it at once
    const int m_wakeDescriptor;
    SslPointer m_ssl;
    SocketPorter m_porter; // moves the TLS layer's records to and from the socket
    wire::FrameDecoder m_decoder;
    Handler &m_handler;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_roomForData;
    std::deque<std::string> m_control;
    std::atomic<size_t> m_controlBytes = 0;
    std::deque<DataFrame> m_data;
    std::string m_closeReason;
    std::atomic<bool> m_closeRequested = false;
    std::atomic<bool> m_closed = false;
    std::atomic<bool> m_waiting = false; // the link's thread waits in poll (or is about to)

    // Owned by the link's thread.
    std::string m_writing;
    size_t m_written = 0;
    bool m_pongOwed = false; // pings are answered once, however many arrived meanwhile
};

} // namespace tavrine::core

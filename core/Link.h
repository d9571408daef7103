#pragma once

#include "Identity.h"
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

// The greeting steps below wait on the socket until `deadline`, or until `cancelDescriptor` (an eventfd,
// -1 for none) becomes readable, so that a stopping host need not wait for strangers.

// Runs a TLS handshake on a non-blocking socket. Gives an empty text on success, otherwise why it failed.
std::string runHandshake(SSL *ssl, int socket, bool asServer, Clock::time_point deadline, int cancelDescriptor = -1);

// Reads one frame before a link exists (the greeting). Throws wire::ProtocolError or std::runtime_error.
wire::Frame readFrame(SSL *ssl, int socket, wire::FrameDecoder &decoder, Clock::time_point deadline,
                      int cancelDescriptor = -1);
// Writes bytes before a link exists; throws std::runtime_error.
void writeAll(SSL *ssl, int socket, std::string_view bytes, Clock::time_point deadline, int cancelDescriptor = -1);

// One authenticated TLS connection with its own I/O thread. Control frames (management, pauses, greetings)
// go out before queued file data, so a request never waits behind a large file; file data is bounded, so
// senders wait for room instead of filling memory.
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
    };

    // Takes over the socket and the TLS session; `decoder` holds bytes already read after the greeting.
    Link(int socket, SslPointer ssl, wire::FrameDecoder decoder, Handler &handler);
    ~Link();
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    static void start(const std::shared_ptr<Link> &link);

    bool sendControl(wire::FrameType type, std::string payload);
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

    const int m_socket;
    const int m_wakeDescriptor;
    SslPointer m_ssl;
    wire::FrameDecoder m_decoder;
    Handler &m_handler;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_roomForData;
    std::deque<std::string> m_control;
    std::deque<DataFrame> m_data;
    std::string m_closeReason;
    std::atomic<bool> m_closeRequested = false;
    std::atomic<bool> m_closed = false;

    std::string m_writing;
    size_t m_written = 0;
};

} // namespace tavrine::core

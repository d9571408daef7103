#pragma once

#include "Identity.h"
#include "Link.h"
#include "Wire.h"

#include <poll.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace tavrine::core {

// A connection that finished its TLS handshake and sent its first frame, for the host to weigh.
struct GreetedConnection
{
    int socket = -1;
    SslPointer ssl;
    wire::FrameDecoder decoder;
    wire::Frame hello;
};

// Tells the peer why it is turned away, as far as the socket takes it at once, and closes the connection.
void refuseGreeting(GreetedConnection &connection, const std::string &reason);

// The connections that have not yet proved anything, all served by one thread: TLS handshakes and first frames
// advance as their bytes arrive, each within a short time limit. Strangers cannot lock the phone out: one source
// address may hold only part of the table, and a newcomer that finds no room takes the place of the greeting
// that has done least (no finished handshake first, then the oldest), so a phone that completes its handshake
// promptly gets through however many silent or slow connections are open.
class GreetingTable
{
public:
    struct Limits
    {
        size_t total = 256;
        size_t perSource = 128;
        std::chrono::milliseconds timeLimit = std::chrono::seconds(3);
        uint32_t maximumHelloBytes = 4096;
    };
    // Called with each connection whose first frame arrived; the table has let go of it.
    using HelloHandler = std::function<void(GreetedConnection &&connection)>;

    GreetingTable(SSL_CTX *tls, Limits limits, HelloHandler handler);
    ~GreetingTable();
    GreetingTable(const GreetingTable &) = delete;
    GreetingTable &operator=(const GreetingTable &) = delete;

    // Takes over a freshly accepted socket from `sourceAddress` (IPv4, network order).
    void admit(int socket, uint32_t sourceAddress);
    // Appends one entry per greeting, in the table's order, for poll().
    void addPollDescriptors(std::vector<pollfd> &descriptors) const;
    // Advances the greetings whose entries (from `first` on, as addPollDescriptors() put them) are ready, and drops
    // those whose time ran out.
    void advance(const std::vector<pollfd> &descriptors, size_t first);
    // How long poll() may wait before the next greeting runs out of time.
    int millisecondsUntilNextDeadline() const;
    size_t size() const { return m_greetings.size(); }

private:
    struct Greeting;
    enum class Step
    {
        waiting,
        handedOver,
        failed,
    };

    Step step(Greeting &greeting);
    void evictFor(uint32_t sourceAddress);

    SSL_CTX *const m_tls;
    const Limits m_limits;
    const HelloHandler m_handler;
    std::vector<std::unique_ptr<Greeting>> m_greetings;
    uint64_t m_admitted = 0;
};

} // namespace tavrine::core

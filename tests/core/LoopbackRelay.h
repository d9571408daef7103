#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// A TCP relay on 127.0.0.1 between the phone and the host, so tests can do to the link what a network
// does: slow it down, lose it, or let it go silent. The phone reaches the host through it when its
// pairing URL names the relay's port; the host's key still travels end to end. What a test asks of it
// takes effect at the relay thread's next turn, a few milliseconds later.
class LoopbackRelay
{
public:
    explicit LoopbackRelay(quint16 targetPort);
    ~LoopbackRelay();
    LoopbackRelay(const LoopbackRelay &) = delete;
    LoopbackRelay &operator=(const LoopbackRelay &) = delete;

    // 0 when it could not listen.
    quint16 port() const { return m_port; }
    // Caps what each direction forwards, summed over all connections; 0 lifts the cap.
    void setBytesPerSecond(uint64_t bytesPerSecond) { m_bytesPerSecond = bytesPerSecond; }
    // Drops every open connection at once, as a lost network does.
    void cutConnections() { m_cutRequested = true; }
    // While silent, new connections are closed as soon as they arrive, and the open ones stop forwarding for
    // good but stay open: neither end hears that the link ended.
    void setSilent(bool silent) { m_silent = silent; }

private:
    // Index 0 is the phone's side, 1 the host's; direction d carries what comes in on sockets[d].
    struct Connection
    {
        int sockets[2] = {-1, -1};
        std::vector<char> pending[2];
        bool ended[2] = {};
        bool silenced = false;
        bool broken = false;
    };

    void run();
    void acceptOne();
    void closeConnections();

    const quint16 m_targetPort;
    int m_listenSocket = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    // What the test asks of the relay thread.
    std::atomic<bool> m_stopping = false;
    std::atomic<uint64_t> m_bytesPerSecond = 0;
    std::atomic<bool> m_cutRequested = false;
    std::atomic<bool> m_silent = false;

    std::vector<Connection> m_connections; // the relay thread's own
};

#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// A TCP relay on 127.0.0.1 between the phone and the host, so tests can do to the link what a network
// does: slow it down, lose it, or let it go silent. The phone reaches the host through it when its
// pairing URL names the relay's port; the host's key still travels end to end.
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
    void setBytesPerSecond(uint64_t bytesPerSecond)
    {
        m_bytesPerSecond = bytesPerSecond;
        wake();
    }
    // Drops every open connection at once, as a lost network does.
    void cutConnections()
    {
        m_cutRequested = true;
        wake();
    }
    // Stops forwarding on the open connections and leaves them open: both ends go silent.
    void silenceConnections()
    {
        m_silenceRequested = true;
        wake();
    }
    // While refusing, new connections are closed as soon as they arrive.
    void setRefusingConnections(bool refusing) { m_refusing = refusing; }
    // Connections accepted so far.
    int acceptedConnections() const { return m_accepted.load(); }

private:
    struct Direction
    {
        int from = -1;
        int to = -1;
        std::vector<char> pending;
        bool ended = false;
    };
    struct Connection
    {
        Direction upstream;   // phone → host
        Direction downstream; // host → phone
        bool silenced = false;
        bool broken = false;
    };

    void run();
    void acceptOne();
    void forward(Connection &connection, Direction &direction, uint64_t &budget, short readyFrom, short readyTo);
    void wake();
    static void closeConnection(Connection &connection);

    const quint16 m_targetPort;
    int m_listenSocket = -1;
    int m_wakeDescriptor = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping = false;
    std::atomic<int> m_accepted = 0;
    // What the test asks of the relay thread.
    std::atomic<uint64_t> m_bytesPerSecond = 0;
    std::atomic<bool> m_cutRequested = false;
    std::atomic<bool> m_silenceRequested = false;
    std::atomic<bool> m_refusing = false;

    std::vector<Connection> m_connections; // the relay thread's own
};

#pragma once

#include <QHash>
#include <QObject>

#include <coroutine>

// Hands out turns one at a time, in the order they are asked for: a coroutine takes a ticket, awaits its turn and
// passes the turn on when it is done, whichever way it ends. Lives on the thread whose event loop runs the
// coroutines that wait.
class TurnLine : public QObject
{
public:
    // Suspends a coroutine until its ticket holds the turn. Only the coroutine whose turn it is gets resumed, once,
    // so several turns passed before the event loop runs (commands that fail at once) wake nothing twice; a coroutine
    // destroyed while it waits leaves the line.
    class Wait
    {
    public:
        Wait(TurnLine &line, quint64 ticket) : m_line(line), m_ticket(ticket) {}
        ~Wait() { m_line.m_waiting.remove(m_ticket); }
        Wait(const Wait &) = delete;
        Wait &operator=(const Wait &) = delete;

        bool await_ready() const noexcept { return m_line.m_serving == m_ticket; }
        void await_suspend(std::coroutine_handle<> waiter) { m_line.m_waiting.insert(m_ticket, waiter); }
        void await_resume() const noexcept {}

    private:
        TurnLine &m_line;
        const quint64 m_ticket;
    };

    using QObject::QObject;

    // A place in the line, then `co_await line.turn(ticket)`; pass() once the turn is over.
    quint64 nextTicket() { return m_next++; }
    Wait turn(quint64 ticket) { return Wait(*this, ticket); }
    // Hands the turn to the next ticket, and resumes its coroutine, from the event loop, if it waits.
    void pass();

private:
    quint64 m_next = 0;
    quint64 m_serving = 0;
    // The coroutines waiting for their turn, by ticket.
    QHash<quint64, std::coroutine_handle<>> m_waiting;
};

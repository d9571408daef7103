#pragma once

#include <QString>
#include <QTimer>

#include <coroutine>
#include <deque>
#include <memory>
#include <vector>

// Requests that wait for one of a few places before they go out to the phone. A request still waiting can be
// withdrawn, so what nobody looks at any more is never sent; one that went out keeps its place until it is done.
// Turns are given in a later turn of the event loop, so requests made and withdrawn within one turn (a fast scroll
// between two frames) never go out.
class MediaRequestQueue
{
    struct State;

public:
    enum class Turn
    {
        granted,   // send now; the place is held until the `Place` is destroyed
        withdrawn, // not sent: withdrawn before its turn, or the queue was reset
        closed,    // the queue is gone with its owner: touch nothing of the owner
    };

    // A place in use. Destroying it (or moving another into it) frees the place for the next request; a place of
    // an earlier reset, or of a queue that is gone, frees nothing.
    class Place
    {
    public:
        Place() = default;
        Place(Place &&other) noexcept;
        Place &operator=(Place &&other) noexcept;
        Place(const Place &) = delete;
        Place &operator=(const Place &) = delete;
        ~Place();

    private:
        friend class MediaRequestQueue;
        Place(std::weak_ptr<State> state, quint64 epoch) : m_state(std::move(state)), m_epoch(epoch) {}
        void leave();

        std::weak_ptr<State> m_state;
        quint64 m_epoch = 0;
    };

    struct Admission
    {
        Turn turn = Turn::withdrawn;
        Place place;
    };

    class Awaiter
    {
    public:
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle);
        Admission await_resume() noexcept { return std::move(m_admission); }

    private:
        friend class MediaRequestQueue;
        Awaiter(std::shared_ptr<State> state, QString key) : m_state(std::move(state)), m_key(std::move(key)) {}

        std::shared_ptr<State> m_state;
        QString m_key;
        std::coroutine_handle<> m_handle;
        Admission m_admission;
    };

    explicit MediaRequestQueue(int places);
    ~MediaRequestQueue();
    MediaRequestQueue(const MediaRequestQueue &) = delete;
    MediaRequestQueue &operator=(const MediaRequestQueue &) = delete;

    // Awaited by a request under `key` before it goes out.
    Awaiter admit(QString key);
    // Withdraws the waiting requests under `key`; whether there was one. A request that went out is not touched.
    bool withdraw(const QString &key);
    // Withdraws every waiting request and forgets the places in use: their requests belong to an earlier session
    // and no longer hold back the new one's.
    void reset();

private:
    std::shared_ptr<State> m_state;
};

#include "MediaRequestQueue.h"

#include <algorithm>
#include <utility>

struct MediaRequestQueue::State
{
    int places = 1;
    int inUse = 0;
    quint64 epoch = 0;
    std::deque<Awaiter *> waiting;  // oldest first
    std::vector<Awaiter *> decided; // withdrawn, to be resumed in the next turn
    QTimer turn;

    void scheduleTurn()
    {
        if (!turn.isActive()) {
            turn.start();
        }
    }
};

MediaRequestQueue::Place::Place(Place &&other) noexcept
    : m_state(std::exchange(other.m_state, {})), m_epoch(other.m_epoch)
{}

MediaRequestQueue::Place &MediaRequestQueue::Place::operator=(Place &&other) noexcept
{
    if (this != &other) {
        leave();
        m_state = std::exchange(other.m_state, {});
        m_epoch = other.m_epoch;
    }
    return *this;
}

MediaRequestQueue::Place::~Place()
{
    leave();
}

void MediaRequestQueue::Place::leave()
{
    const std::shared_ptr<State> state = std::exchange(m_state, {}).lock();
    if (state && state->epoch == m_epoch && state->inUse > 0) {
        --state->inUse;
        if (!state->waiting.empty()) {
            state->scheduleTurn();
        }
    }
}

void MediaRequestQueue::Awaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_handle = handle;
    m_state->waiting.push_back(this);
    m_state->scheduleTurn();
}

MediaRequestQueue::MediaRequestQueue(int places) : m_state(std::make_shared<State>())
{
    m_state->places = std::max(places, 1);
    m_state->turn.setSingleShot(true);
    m_state->turn.setInterval(0);
    // The timer belongs to the state, which a waiting request keeps alive; the lambda holds no reference to it.
    QObject::connect(&m_state->turn, &QTimer::timeout, [weak = std::weak_ptr<State>(m_state)] {
        const std::shared_ptr<State> state = weak.lock();
        if (!state) {
            return;
        }
        // Resumed requests may withdraw, admit or free places; every step reads the state again.
        for (Awaiter *awaiter : std::exchange(state->decided, {})) {
            awaiter->m_admission.turn = Turn::withdrawn;
            awaiter->m_handle.resume();
        }
        while (state->inUse < state->places && !state->waiting.empty()) {
            Awaiter *awaiter = state->waiting.front();
            state->waiting.pop_front();
            ++state->inUse;
            awaiter->m_admission = {Turn::granted, Place(state, state->epoch)};
            awaiter->m_handle.resume();
        }
    });
}

MediaRequestQueue::~MediaRequestQueue()
{
    m_state->turn.stop();
    ++m_state->epoch;
    m_state->inUse = 0;
    std::vector<Awaiter *> waiters = std::exchange(m_state->decided, {});
    waiters.insert(waiters.end(), m_state->waiting.begin(), m_state->waiting.end());
    m_state->waiting.clear();
    for (Awaiter *awaiter : waiters) {
        awaiter->m_admission.turn = Turn::closed;
        awaiter->m_handle.resume();
    }
}

MediaRequestQueue::Awaiter MediaRequestQueue::admit(QString key)
{
    return Awaiter(m_state, std::move(key));
}

bool MediaRequestQueue::withdraw(const QString &key)
{
    std::deque<Awaiter *> &waiting = m_state->waiting;
    const auto kept = std::stable_partition(waiting.begin(), waiting.end(),
                                            [&key](const Awaiter *awaiter) { return awaiter->m_key != key; });
    if (kept == waiting.end()) {
        return false;
    }
    m_state->decided.insert(m_state->decided.end(), kept, waiting.end());
    waiting.erase(kept, waiting.end());
    m_state->scheduleTurn();
    return true;
}

void MediaRequestQueue::reset()
{
    ++m_state->epoch;
    m_state->inUse = 0;
    m_state->decided.insert(m_state->decided.end(), m_state->waiting.begin(), m_state->waiting.end());
    m_state->waiting.clear();
    if (!m_state->decided.empty()) {
        m_state->scheduleTurn();
    }
}

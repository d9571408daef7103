#include "WorkerPool.h"

#include "Link.h"

#include <pthread.h>

namespace tavrine::core {

namespace {
// As long as the link looks again after its last work: a sender that slept through a pause between files would be
// woken for each of the next ones.
constexpr auto spinSpell = std::chrono::milliseconds(5);
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread &thread : m_threads) {
        thread.join();
    }
}

void WorkerPool::run(std::function<void()> job)
{
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
    m_queued = m_jobs.size();
    // Every job starts at once: a sender waiting for room on the link must not hold up the next one.
    if (m_idle < m_jobs.size()) {
        m_threads.emplace_back(&WorkerPool::work, this);
        ++m_idle;
    }
    m_changed.notify_one();
}

void WorkerPool::work()
{
    ::pthread_setname_np(::pthread_self(), m_threadName.substr(0, 15).c_str());
    blockBrokenPipeSignal();
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty()) {
            return;
        }
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_queued = m_jobs.size();
        --m_idle;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        ++m_idle;
        // Jobs tend to come in runs: the next one is looked for a moment before the thread goes to sleep.
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + spinSpell;
        while (m_queued.load(std::memory_order_relaxed) == 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
        lock.lock();
    }
}

} // namespace tavrine::core

#include "WorkerPool.h"

#include "Link.h"

#include <pthread.h>

namespace tavrine::core {

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
        --m_idle;
        lock.unlock();
        job();
        lock.lock();
        ++m_idle;
    }
}

} // namespace tavrine::core

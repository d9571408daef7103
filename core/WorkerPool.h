#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavrine::core {

// Runs each job on a thread of its own at once, keeping finished threads for the next job, so that many small
// transfers one after another do not each pay for a new thread.
class WorkerPool
{
public:
    explicit WorkerPool(std::string threadName) : m_threadName(std::move(threadName)) {}
    // Waits for the running jobs; they must be told to end before.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void run(std::function<void()> job);

private:
    void work();

    const std::string m_threadName;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    std::atomic<size_t> m_queued = 0; // m_jobs.size(), for a look without the lock
    std::vector<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_stopping = false;
};

} // namespace tavrine::core

#include "WorkerPool.h"

#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

using tavrine::core::WorkerPool;

class WorkerPoolTest : public QObject
{
    Q_OBJECT

private slots:
    // Small files go out one after another, each job given just as the last one ended, while its thread still
    // looks for the next: every job runs, and a few threads serve them all instead of a new thread each (a job
    // given in the instant between the last one's end and its thread's return to the pool may start one more).
    void jobsOneAfterAnotherShareAFewThreads()
    {
        constexpr int count = 200;
        std::mutex mutex;
        std::condition_variable ended;
        int done = 0;
        std::set<std::thread::id> threads;
        {
            WorkerPool pool("test-pool");
            for (int job = 0; job < count; ++job) {
                pool.run([&] {
                    const std::lock_guard lock(mutex);
                    threads.insert(std::this_thread::get_id());
                    ++done;
                    ended.notify_all();
                });
                std::unique_lock lock(mutex);
                ended.wait(lock, [&] { return done == job + 1; });
            }
        }
        QCOMPARE(done, count);
        QVERIFY2(threads.size() <= 4, qPrintable(QString::number(threads.size())));
    }

    // Jobs given together all start at once, each on a thread of its own: none waits behind another that blocks.
    void jobsGivenTogetherRunTogether()
    {
        constexpr int count = 4;
        std::mutex mutex;
        std::condition_variable changed;
        int started = 0;
        bool release = false;
        {
            WorkerPool pool("test-pool");
            for (int job = 0; job < count; ++job) {
                pool.run([&] {
                    std::unique_lock lock(mutex);
                    ++started;
                    changed.notify_all();
                    changed.wait(lock, [&] { return release; });
                });
            }
            std::unique_lock lock(mutex);
            QVERIFY(changed.wait_for(lock, std::chrono::seconds(10), [&] { return started == count; }));
            release = true;
            changed.notify_all();
        }
        QCOMPARE(started, count);
    }
};

QTEST_GUILESS_MAIN(WorkerPoolTest)
#include "test_worker_pool.moc"

#include "PollQueue.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using tavrine::core::PollQueue;

class PollQueueTest : public QObject
{
    Q_OBJECT

private slots:
    // A poller that looks without the lock, as the application does many times a millisecond, sees every item
    // pushed by another thread, once and in order, and then finds the queue empty again.
    void aPollerWithoutTheLockMissesNothing()
    {
        constexpr int count = 20000;
        PollQueue<int> queue;
        std::mutex mutex;
        std::thread pusher([&] {
            for (int item = 0; item < count; ++item) {
                const std::lock_guard lock(mutex);
                queue.push_back(item);
            }
        });
        int expected = 0;
        bool inOrder = true;
        while (expected < count) {
            if (queue.looksEmpty()) {
                continue;
            }
            const std::lock_guard lock(mutex);
            while (const std::optional<int> item = queue.takeFront()) {
                inOrder = inOrder && *item == expected;
                ++expected;
            }
        }
        pusher.join();
        QVERIFY(inOrder);
        QVERIFY(queue.looksEmpty());
        QCOMPARE(queue.takeFront(), std::nullopt);

        queue.push_back(1);
        queue.push_back(2);
        QVERIFY(!queue.looksEmpty());
        queue.clear();
        QVERIFY(queue.looksEmpty());
        QCOMPARE(queue.takeFront(), std::nullopt);
    }

    // The application takes what the link's threads pushed while one of them still holds the owner's lock for
    // its work, and items pushed from two threads come out whole, each thread's in its order.
    void takingNeverWaitsForTheOwnersLock()
    {
        PollQueue<int> queue;
        std::mutex owner;
        std::atomic<bool> taken = false;
        std::thread worker([&] {
            const std::lock_guard lock(owner);
            queue.push_back(7);
            // Still at work under the lock until the application has the item, for at most 10 s.
            for (int waited = 0; !taken && waited < 10000; ++waited) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        while (queue.looksEmpty()) {
            std::this_thread::yield();
        }
        QCOMPARE(queue.takeFront(), std::optional(7));
        taken = true;
        QVERIFY(!owner.try_lock());
        worker.join();

        constexpr int perThread = 20000;
        const auto push = [&](int first) {
            for (int item = first; item < first + perThread; ++item) {
                const std::lock_guard lock(owner);
                queue.push_back(item);
            }
        };
        std::thread one(push, 0);
        std::thread two(push, perThread);
        int nextOfOne = 0;
        int nextOfTwo = perThread;
        bool inOrder = true;
        QDeadlineTimer deadline(std::chrono::seconds(30));
        while (nextOfOne + nextOfTwo - perThread < 2 * perThread && !deadline.hasExpired()) {
            if (const std::optional<int> item = queue.takeFront()) {
                int &next = *item < perThread ? nextOfOne : nextOfTwo;
                inOrder = inOrder && *item == next;
                ++next;
            }
        }
        one.join();
        two.join();
        QCOMPARE(nextOfOne, perThread);
        QCOMPARE(nextOfTwo, 2 * perThread);
        QVERIFY(inOrder);
        QVERIFY(queue.looksEmpty());
    }
};

QTEST_GUILESS_MAIN(PollQueueTest)
#include "test_poll_queue.moc"

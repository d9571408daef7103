#include "PollQueue.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(PollQueueTest)
#include "test_poll_queue.moc"

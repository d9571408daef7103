#pragma once

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThreadPool>
#include <QTimer>

#include <qcorotask.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>

// Runs an event loop until `task` has finished (at most 30 s), ending it the moment the task does, and gives its
// value or rethrows its error. Unlike QCoro::waitFor it also returns for a task that finished before the call.
template <typename T> T awaitTask(QCoro::Task<T> &task)
{
    QEventLoop loop;
    bool done = false;
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    // The closure must outlive the coroutine: its body reaches the captures through it.
    const auto body = [&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await task;
            } else {
                value = co_await task;
            }
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    QCoro::Task<void> waiter = body();
    if (!done) {
        QTimer::singleShot(30'000, &loop, [&loop] { loop.exit(1); });
        if (loop.exec() != 0) {
            throw std::runtime_error("the task did not finish within 30 s");
        }
    }
    // What the task let go of with deleteLater goes now, not when the test ends.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (failure) {
        std::rethrow_exception(failure);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*value);
    }
}

template <typename T> T awaitTask(QCoro::Task<T> &&task)
{
    return awaitTask(task);
}

// Lets work running on the thread pool, and the coroutines that wait for it, run to their end (at most 30 s): for a
// test that ends while a task it started and did not await is still under way, whose frame would otherwise outlive
// the test. Settled means the pool is idle and two passes of the event loop in a row found nothing to do; false when
// that did not happen in time.
[[nodiscard]] inline bool settleBackgroundWork()
{
    const QDeadlineTimer deadline(30'000);
    QThreadPool *pool = QThreadPool::globalInstance();
    for (int idlePasses = 0; idlePasses < 2;) {
        if (deadline.hasExpired()) {
            return false;
        }
        pool->waitForDone(int(deadline.remainingTime()));
        const bool handled = QCoreApplication::eventDispatcher()->processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        idlePasses = handled || pool->activeThreadCount() > 0 ? 0 : idlePasses + 1;
    }
    return true;
}

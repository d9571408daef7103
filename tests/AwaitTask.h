#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
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

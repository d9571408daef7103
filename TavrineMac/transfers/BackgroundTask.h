#pragma once

#include <QtConcurrent>

#include <qcorofuture.h>
#include <qcorotimer.h>
#include <qcorotask.h>

#include <chrono>
#include <exception>
#include <type_traits>
#include <variant>

// Runs `work` on the thread pool and hands its value (or its exception) back to the awaiting coroutine, always
// from a later turn of the event loop: a caller never goes on before it returned to its own caller, however fast
// the work was.
template <typename Work> QCoro::Task<std::invoke_result_t<Work>> runInBackground(Work work)
{
    using Result = std::invoke_result_t<Work>;
    const auto laterTurn = [] { return QCoro::sleepFor(std::chrono::milliseconds(0)); };
    if constexpr (std::is_void_v<Result>) {
        std::exception_ptr failure = co_await QtConcurrent::run([work]() -> std::exception_ptr {
            try {
                work();
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        });
        co_await laterTurn();
        if (failure) {
            std::rethrow_exception(failure);
        }
    } else {
        using Outcome = std::variant<Result, std::exception_ptr>;
        Outcome outcome = co_await QtConcurrent::run([work]() -> Outcome {
            try {
                return work();
            } catch (...) {
                return std::current_exception();
            }
        });
        co_await laterTurn();
        if (auto *failure = std::get_if<std::exception_ptr>(&outcome)) {
            std::rethrow_exception(*failure);
        }
        co_return std::get<Result>(std::move(outcome));
    }
}

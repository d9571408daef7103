#pragma once

#include <QtConcurrent>

#include <qcorofuture.h>
#include <qcorotask.h>

#include <exception>
#include <type_traits>
#include <variant>

// Runs `work` on the thread pool and hands its value (or its exception) back to the awaiting coroutine.
template <typename Work> QCoro::Task<std::invoke_result_t<Work>> runInBackground(Work work)
{
    using Result = std::invoke_result_t<Work>;
    if constexpr (std::is_void_v<Result>) {
        std::exception_ptr failure = co_await QtConcurrent::run([work]() -> std::exception_ptr {
            try {
                work();
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        });
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
        if (auto *failure = std::get_if<std::exception_ptr>(&outcome)) {
            std::rethrow_exception(*failure);
        }
        co_return std::get<Result>(std::move(outcome));
    }
}

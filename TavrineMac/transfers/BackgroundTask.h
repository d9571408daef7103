#pragma once

#include "ThreadHandOver.h"

#include <QtConcurrent>

#include <qcorofuture.h>
#include <qcorotask.h>
#include <qcorotimer.h>

#include <chrono>
#include <exception>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <variant>

// Runs `work` on the thread pool and hands its value (or its exception) back to the awaiting coroutine, always
// from a later turn of the event loop: a caller never goes on before it returned to its own caller, however fast
// the work was.
template <typename Work> QCoro::Task<std::invoke_result_t<Work>> runInBackground(Work work)
{
    using Result = std::invoke_result_t<Work>;
    using Value = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;
    // The value comes back beside the future, not in it: a future lets go of the values it holds on whichever thread
    // drops it last, ordered by a count inside Qt that ThreadSanitizer does not see.
    struct NotRun
    {
    };
    auto outcome = std::make_shared<std::variant<NotRun, std::exception_ptr, Value>>();
    co_await ThreadHandOver::handOver(
        [work, outcome]() mutable {
            try {
                if constexpr (std::is_void_v<Result>) {
                    work();
                    outcome->template emplace<Value>();
                } else {
                    outcome->template emplace<Value>(work());
                }
            } catch (...) {
                outcome->template emplace<std::exception_ptr>(std::current_exception());
            }
            ThreadHandOver::release(outcome.get());
            // The caller's thread lets go of the outcome last: an exception in it is let go of by the C++ library,
            // whose count ThreadSanitizer does not see either.
            outcome.reset();
        },
        [](auto handed) { return QtConcurrent::run(std::move(handed)); });
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    ThreadHandOver::acquire(outcome.get());
    if (const auto *failure = std::get_if<std::exception_ptr>(outcome.get())) {
        std::rethrow_exception(*failure);
    }
    // A pool that is going away drops what it has not started.
    if (std::holds_alternative<NotRun>(*outcome)) {
        throw std::runtime_error("the background work was not run");
    }
    if constexpr (!std::is_void_v<Result>) {
        co_return std::get<Value>(std::move(*outcome));
    }
}

#pragma once

#include <chrono>
#include <functional>

// The time now on a clock that never goes back. Whatever ages by it takes one, so that tests can move time
// themselves.
using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

inline std::chrono::steady_clock::time_point steadyNow()
{
    return std::chrono::steady_clock::now();
}

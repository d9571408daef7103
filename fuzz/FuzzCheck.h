#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the run when a decoder breaks one of its promises without crashing, so libFuzzer keeps the input
// and the message says which promise it was.
inline void requirePromise(bool kept, const char *promise)
{
    if (!kept) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

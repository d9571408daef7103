#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <memory>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define TAVRINE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAVRINE_THREAD_SANITIZER 1
#endif
#endif

#ifdef TAVRINE_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
// The sanitizer's run-time library has these, its header does not; an executable exports them to the libraries it
// loads.
extern "C" void AnnotateIgnoreReadsBegin(const char *file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char *file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char *file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char *file, int line);
#endif

// Qt hands a call or a piece of work to another thread (a queued call, a thread pool, QtConcurrent) under locks
// inside its library. A ThreadSanitizer build does not see those locks, as the library is not built with it, and
// takes whatever the work reads of what the handing thread wrote before for a race. Work handed over through these
// functions shows the sanitizer that order, and only that: everything else the threads share stays checked. In other
// builds they hand the work over as it stands.
namespace ThreadHandOver {

// What the calling thread did before `release` happens before what a thread does after a later `acquire` of the
// same mark.
inline void release([[maybe_unused]] const void *mark)
{
#ifdef TAVRINE_THREAD_SANITIZER
    __tsan_release(const_cast<void *>(mark));
#endif
}

inline void acquire([[maybe_unused]] const void *mark)
{
#ifdef TAVRINE_THREAD_SANITIZER
    __tsan_acquire(const_cast<void *>(mark));
#endif
}

namespace Detail {

// The work as handed over: the thread that runs it acquires what the handing thread released. Qt lets go of its
// container of the call on either thread, ordered by a count inside its library: the thread that drops the work
// acquires what the run did.
template <typename Work> class HandedWork
{
public:
    explicit HandedWork(Work work) : m_work(std::move(work)) {}
    ~HandedWork() { acquire(this); }
    HandedWork(const HandedWork &) = delete;
    HandedWork &operator=(const HandedWork &) = delete;

    decltype(auto) operator()()
    {
        acquire(this);
        const struct Ran
        {
            const void *mark;
            ~Ran() { release(mark); }
        } ran{this};
        return m_work();
    }

private:
    Work m_work;
};

#ifdef TAVRINE_THREAD_SANITIZER
// Our handle to the work and Qt's container of the call are made under this scope, and read and freed on the other
// thread, where Qt's locks order them: the sanitizer looks away from the making, which holds nothing else.
class UnseenScope
{
public:
    UnseenScope()
    {
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    }
    ~UnseenScope()
    {
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    }
    UnseenScope(const UnseenScope &) = delete;
    UnseenScope &operator=(const UnseenScope &) = delete;
};
#endif

} // namespace Detail

// Hands `work` over through `give`, a call into Qt that takes a callable and runs it once on another thread, or drops
// it there unrun; returns what `give` returns.
template <typename Work, typename Give> decltype(auto) handOver(Work work, Give &&give)
{
#ifdef TAVRINE_THREAD_SANITIZER
    const Detail::UnseenScope unseen;
    const auto handed = std::make_shared<Detail::HandedWork<Work>>(std::move(work));
    release(handed.get());
    return std::forward<Give>(give)([handed] { return (*handed)(); });
#else
    return std::forward<Give>(give)(std::move(work));
#endif
}

// Calls `call` from the event loop of `context`'s thread; it is dropped if `context` goes first.
template <typename Call> void post(QObject *context, Call call)
{
    handOver(std::move(call),
             [context](auto handed) { QMetaObject::invokeMethod(context, std::move(handed), Qt::QueuedConnection); });
}

// Runs `work` on one of `pool`'s threads. What it did comes before the return of `waitForDone` on the pool.
template <typename Work> void start(QThreadPool &pool, Work work)
{
    handOver(
        [&pool, work = std::move(work)]() mutable {
            work();
            release(&pool);
        },
        [&pool](auto handed) { pool.start(std::move(handed)); });
}

inline void waitForDone(QThreadPool &pool)
{
    pool.waitForDone();
    acquire(&pool);
}

} // namespace ThreadHandOver

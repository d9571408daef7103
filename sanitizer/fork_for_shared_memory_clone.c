// Linked into every executable of a ThreadSanitizer build only.
//
// QProcess starts its children with clone(CLONE_VM | CLONE_VFORK | CLONE_PIDFD): the child runs on the parent's
// memory until it calls exec. ThreadSanitizer does not follow such a child; the instrumented code it runs there
// (closing descriptors, setting signals) corrupts the runtime's state of the parent, which then crashes. Here such a
// clone becomes an ordinary fork, which the runtime does follow, and the descriptor the caller asked for with
// CLONE_PIDFD is opened for the new process. Every other clone goes to the C library unchanged.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CLONE_PIDFD
#define CLONE_PIDFD 0x00001000
#endif
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

typedef int (*CloneFunction)(int (*)(void *), void *, int, void *, ...);

int clone(int (*function)(void *), void *stack, int flags, void *argument, ...)
{
    va_list rest;
    va_start(rest, argument);
    pid_t *parentTid = va_arg(rest, pid_t *);
    void *tls = va_arg(rest, void *);
    pid_t *childTid = va_arg(rest, pid_t *);
    va_end(rest);

    const int sharedMemoryStart = CLONE_VM | CLONE_VFORK;
    if ((flags & sharedMemoryStart) != sharedMemoryStart) {
        static CloneFunction next;
        if (!next) {
            next = (CloneFunction)dlsym(RTLD_NEXT, "clone");
        }
        if (!next) {
            errno = ENOSYS;
            return -1;
        }
        return next(function, stack, flags, argument, parentTid, tls, childTid);
    }

    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        _exit(function(argument));
    }
    if (flags & CLONE_PIDFD) {
        const int descriptor = (int)syscall(SYS_pidfd_open, child, 0);
        if (descriptor < 0) {
            const int error = errno;
            kill(child, SIGKILL);
            waitpid(child, NULL, 0);
            errno = error;
            return -1;
        }
        *(int *)parentTid = descriptor;
    }
    return child;
}

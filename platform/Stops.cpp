#include "platform/Stops.h"

#include "platform/RtPrintf.h"

#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace host {
namespace {

void (*gFirstStop)(int) = nullptr;
// Handlers may run at once on two threads: the first stop's time is taken
// by compare-and-swap, and the one that takes it runs `gFirstStop`.
std::atomic<int64_t> gFirstStopAt{0};
static_assert(std::atomic<int64_t>::is_always_lock_free);
pid_t gMainThread = 0;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec + 1;  // never 0
}

void onStop(int signal, siginfo_t*, void*) {
    const int savedErrno = errno;
    const int64_t now = monotonicNs();
    int64_t first = 0;
    if (gFirstStopAt.compare_exchange_strong(first, now, std::memory_order_acq_rel)) {
        if (gFirstStop)
            gFirstStop(signal);
    } else if (now - first >= kOneStopNs) {
        // What was printed before the stop still reaches the console. The
        // logger cannot wait for itself: the main thread takes the stop.
        if (!rtLoggerFlush() && gMainThread > 0 && gMainThread != pid_t(gettid()) &&
            syscall(SYS_tgkill, getpid(), gMainThread, signal) == 0) {
            errno = savedErrno;
            return;
        }
        endAtOnce(signal);
    }
    errno = savedErrno;
}

}  // namespace

void endAtOnce(int signal) {
    // Raised again with its default action, it ends the process as soon as
    // it is unblocked, in a handler of its own too.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signal, &byDefault, nullptr);
    raise(signal);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    _exit(128 + signal);
}

void catchStops(void (*firstStop)(int)) {
    gFirstStop = firstStop;
    gMainThread = pid_t(gettid());
    struct sigaction action {};
    action.sa_sigaction = onStop;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int64_t stopTakenAtNs() { return gFirstStopAt.load(std::memory_order_acquire); }

}  // namespace host

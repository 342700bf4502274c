#include "platform/Stops.h"

#include "platform/Launcher.h"
#include "platform/RtPrintf.h"

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace host {
namespace {

void (*gFirstStop)(int) = nullptr;
std::atomic<bool> gStopped{false};

// The senders heard from, each as its id + 1 (the kernel's is 0): a slot at
// 0 is free. Handlers may run at once on two threads: a slot is taken by
// compare-and-swap.
std::atomic<pid_t> gSenders[32];
static_assert(std::atomic<pid_t>::is_always_lock_free);

// The launcher that started this run, which passes every stop on; -1 for
// none.
pid_t gLauncher = -1;

// Records `sender`; true when this stop is a second one: its sender was
// heard from before, or another sender was that is not the launcher (two
// kills from two processes, `kill` run twice). The launcher's pass of a
// stop the instrument also took directly (from the terminal, or a kill of
// the whole group) is the one pair that makes a single stop.
bool secondStop(pid_t sender) {
    const pid_t mark = sender + 1, launcherMark = gLauncher + 1;
    bool otherHeard = false;
    for (std::atomic<pid_t>& slot : gSenders) {
        pid_t seen = 0;
        if (slot.compare_exchange_strong(seen, mark, std::memory_order_acq_rel))
            return otherHeard && sender != gLauncher;
        if (seen == mark)
            return true;
        otherHeard = otherHeard || seen != launcherMark;
    }
    return true;  // that many senders: stops enough
}

void onStop(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    // A process's kill carries its id; the terminal's signals come from the
    // kernel.
    const pid_t sender = info && info->si_code <= 0 ? info->si_pid : 0;
    if (secondStop(sender)) {
        // What was printed before the stop still reaches the console.
        rtLoggerFlushBeforeTheEnd();
        // Ends the process as the signal's default does, once this handler
        // returns and the signal is no longer blocked.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigemptyset(&byDefault.sa_mask);
        sigaction(signal, &byDefault, nullptr);
        raise(signal);
    } else if (!gStopped.exchange(true) && gFirstStop) {
        gFirstStop(signal);
    }
    errno = savedErrno;
}

}  // namespace

void catchStops(void (*firstStop)(int)) {
    gFirstStop = firstStop;
    gLauncher = startedByLauncher() ? getppid() : -1;
    struct sigaction action {};
    action.sa_sigaction = onStop;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

}  // namespace host

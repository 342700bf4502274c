#include "platform/Stops.h"

#include <sys/types.h>

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

// Records `sender`; true when it was heard from before.
bool heardBefore(pid_t sender) {
    const pid_t mark = sender + 1;
    for (std::atomic<pid_t>& slot : gSenders) {
        pid_t seen = 0;
        if (slot.compare_exchange_strong(seen, mark, std::memory_order_acq_rel))
            return false;
        if (seen == mark)
            return true;
    }
    return true;  // that many senders: stops enough
}

void onStop(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    // A process's kill carries its id; the terminal's signals come from the
    // kernel.
    const pid_t sender = info && info->si_code <= 0 ? info->si_pid : 0;
    if (heardBefore(sender)) {
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

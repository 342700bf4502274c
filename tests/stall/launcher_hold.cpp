// Holds the launcher between two of its steps for the launcher tests,
// preloaded (LD_PRELOAD) through run.sh: CORVANE_HOLD_AT="STEP RUN" stops
// the launcher (SIGSTOP, until a SIGCONT) at that step of that run, so a
// test opens the window between two steps as wide as it needs. Steps:
// "start" (about to fork the run), "fork" (the run just forked), "end" (the
// run just reaped). Only the launcher holds: run.sh's shell and the
// instrument load this too. Nothing of the launcher's own reads the
// variable. Plain C library calls only, as in a sanitizer build.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char* program_invocation_short_name;

namespace {

char gStep[16];
int gRun = 0;
int gForks = 0, gEnds = 0;
pid_t gLastChild = -1;

__attribute__((constructor)) void readSettings() {
    const char* at = getenv("CORVANE_HOLD_AT");
    if (!at || strcmp(program_invocation_short_name, "corvane-launch") != 0 ||
        sscanf(at, "%15s %d", gStep, &gRun) != 2)
        gStep[0] = 0;
}

void holdAt(const char* step, int run) {
    if (gStep[0] && run == gRun && strcmp(step, gStep) == 0) {
        const int savedErrno = errno;
        raise(SIGSTOP);
        errno = savedErrno;
    }
}

}  // namespace

extern "C" pid_t fork() {
    using Fork = pid_t (*)();
    static const Fork next = reinterpret_cast<Fork>(dlsym(RTLD_NEXT, "fork"));
    holdAt("start", gForks + 1);
    const pid_t pid = next();
    if (pid > 0) {
        gLastChild = pid;
        holdAt("fork", ++gForks);
    }
    return pid;
}

extern "C" pid_t waitpid(pid_t pid, int* status, int options) {
    using WaitPid = pid_t (*)(pid_t, int*, int);
    static const WaitPid next = reinterpret_cast<WaitPid>(dlsym(RTLD_NEXT, "waitpid"));
    const pid_t done = next(pid, status, options);
    if (done > 0 && done == gLastChild) {
        gLastChild = -1;
        holdAt("end", ++gEnds);
    }
    return done;
}

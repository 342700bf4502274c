#include "platform/Launcher.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace host {

namespace {
// Set by run.sh for the runs it starts.
constexpr const char* kLauncherPid = "CORVANE_LAUNCHER_PID";
constexpr const char* kStartedFile = "CORVANE_STARTED_FILE";
constexpr const char* kStatusFile = "CORVANE_STATUS_FILE";

// bash loses the status of a child it reaps just as a trap cuts its wait
// short (a stop arriving as the instrument exits): the launcher reads it
// here instead.
void noteStatus(int status, void*) {
    const char* path = getenv(kStatusFile);
    if (!path || !*path)
        return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    char text[16];
    const int n = snprintf(text, sizeof text, "%d\n", status & 0xff);
    const bool whole = write(fd, text, size_t(n)) == n;
    close(fd);
    if (!whole)
        unlink(path);  // no note rather than a wrong one
}
}  // namespace

bool followLauncher() {
    const char* text = getenv(kLauncherPid);
    if (!text || !*text)
        return true;
    const pid_t launcher = pid_t(atoi(text));
    static bool noting = false;
    if (!noting)
        noting = on_exit(noteStatus, nullptr) == 0;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // A launcher that died before the line above sent nothing: by now this
    // process has another parent.
    if (getppid() != launcher) {
        fprintf(stderr, "Bela_initAudio: the launcher (process %s) has gone\n", text);
        return false;
    }
    return true;
}

void noteStarted() {
    const char* path = getenv(kStartedFile);
    if (!path || !*path)
        return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0)
        close(fd);
}

}  // namespace host

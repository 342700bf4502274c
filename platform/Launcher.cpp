#include "platform/Launcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace host {

namespace {
// Taken out of the environment at set-up: once it is closed, its number
// may name another file.
int gStartedFd = -1;
}  // namespace

int launcherRun() {
    const char* text = getenv(kLauncherRunVariable);
    const int run = text ? atoi(text) : 0;
    return run > 0 ? run : 0;
}

bool startedByLauncher() { return launcherRun() > 0; }

void followLauncher() {
    const char* text = getenv(kStartedFdVariable);
    if (!text)
        return;
    const int fd = atoi(text);
    unsetenv(kStartedFdVariable);
    if (fd > 2 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0)
        gStartedFd = fd;
}

void noteStarted() {
    if (gStartedFd < 0)
        return;
    const char started = 1;
    (void)!write(gStartedFd, &started, 1);
    close(gStartedFd);
    gStartedFd = -1;
}

}  // namespace host

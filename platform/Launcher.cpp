#include "platform/Launcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace host {

namespace {
// Taken out of the environment at set-up: once it is closed, its number
// may name another file.
int gStartedFd = -1;
// The standard streams that came closed, before they were given /dev/null.
bool gCameClosed[3] = {false, false, false};
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

void guardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        gCameClosed[fd] = true;
        // The lowest free number is this one: the ones below are open.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

bool standardStreamCameClosed(int fd) { return fd >= 0 && fd <= 2 && gCameClosed[fd]; }

}  // namespace host

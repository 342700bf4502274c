#include "platform/Launcher.h"

#include "platform/StandardOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace host {

namespace {
// Taken out of the environment at set-up: once it is closed, its number
// may name another file.
int gStartedFd = -1;
// Whether the start note has been written (the descriptor stays open).
bool gStartNoted = false;
// The standard streams that came closed, before they were given /dev/null.
bool gCameClosed[3] = {false, false, false};
// Standard error and standard output as the caller gave them.
bool gGuarded = false;
struct stat gError{};
bool gOutputFound = false;
struct stat gOutput{};

bool sameStream(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }
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
    if (gStartedFd < 0 || gStartNoted)
        return;
    const char started = 1;
    (void)!write(gStartedFd, &started, 1);
    gStartNoted = true;
}

void noteSessionEnds() {
    if (gStartedFd < 0 || !gStartNoted)
        return;
    (void)!write(gStartedFd, &kSessionEnds, 1);
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
    gGuarded = fstat(STDERR_FILENO, &gError) == 0;
    gOutputFound = fstat(STDOUT_FILENO, &gOutput) == 0;
}

bool standardStreamCameClosed(int fd) { return fd >= 0 && fd <= 2 && gCameClosed[fd]; }

bool standardErrorLeadsInto(const std::string& path) {
    if (!gGuarded || path.empty() || S_ISCHR(gError.st_mode) || S_ISDIR(gError.st_mode))
        return false;
    // Standard output may have been taken for the audio since: its names
    // stand for the stream it was.
    if (leadsToStandardOutput(path))
        return gOutputFound && sameStream(gOutput, gError);
    struct stat target;
    return stat(path.c_str(), &target) == 0 && sameStream(target, gError);
}

void sayOnTerminalToo(const char* line) {
    struct stat now;
    if (gGuarded && (fstat(STDERR_FILENO, &now) != 0 || !sameStream(now, gError)))
        return;  // quieted: the line is not said at all
    if (tcgetsid(STDERR_FILENO) >= 0)
        return;  // standard error is the controlling terminal: said there already
    const int terminal = open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (terminal < 0)
        return;
    (void)!write(terminal, line, strlen(line));
    close(terminal);
}

}  // namespace host

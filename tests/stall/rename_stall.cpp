// A stalled disk for whole-instrument tests, preloaded (LD_PRELOAD) into the
// instrument: the rename of a file named CORVANE_STALL_RENAME (the last step
// of saving it) is held until the test lets it go. The hold opens the FIFO
// CORVANE_STALL_FIFO for reading and reads it to its end: a test that has
// opened the write end knows the save is held, and closing it lets the save
// go on. Once per process. Nothing of the instrument's own reads these
// variables. Plain C library calls only: it is preloaded into run.sh's
// shell and the launcher too, sanitizer builds included.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char gName[256];  // "/NAME", empty for no hold
char gFifo[4096];
std::atomic<bool> gHeld{false};

__attribute__((constructor)) void readSettings() {
    const char* name = getenv("CORVANE_STALL_RENAME");
    const char* fifo = getenv("CORVANE_STALL_FIFO");
    if (name && fifo && snprintf(gFifo, sizeof gFifo, "%s", fifo) < int(sizeof gFifo) &&
        snprintf(gName, sizeof gName, "/%s", name) >= int(sizeof gName))
        gName[0] = 0;
}

bool named(const char* path) {
    const size_t length = strlen(path), nameLength = strlen(gName);
    return nameLength > 0 && length >= nameLength && strcmp(path + length - nameLength, gName) == 0;
}

void hold() {
    int fd;
    do
        fd = open(gFifo, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    char buffer[64];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;)
        if (n < 0 && errno != EINTR)
            break;
    close(fd);
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
    using Rename = int (*)(const char*, const char*);
    static const Rename next = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
    if (to && named(to) && !gHeld.exchange(true)) {
        const int savedErrno = errno;
        hold();
        errno = savedErrno;
    }
    return next(from, to);
}

#include "platform/StandardOutput.h"

#include "platform/FileIdentity.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace host {

namespace {

// Standard output as it was before the console took its number.
int gKept = -1;

// The descriptor a name of one stands for ("/dev/fd/3" -> 3); -1 for any
// other path.
int descriptorNamed(std::string_view path) {
    if (path == "/dev/stdout")
        return 1;
    const std::string self = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (std::string_view folder : {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
                                    std::string_view("/proc/thread-self/fd/"), std::string_view(self)}) {
        if (path.substr(0, folder.size()) != folder)
            continue;
        const std::string number(path.substr(folder.size()));
        char* end = nullptr;
        const long fd = strtol(number.c_str(), &end, 10);
        return !number.empty() && *end == '\0' && fd >= 0 && fd < 65536 ? int(fd) : -1;
    }
    return -1;
}

// Whether `path` leads to `fd`, which stands for standard output.
bool leadsTo(const std::string& path, int fd) {
    if (path.empty())
        return false;
    // A device (/dev/null, a terminal) carries many streams: only a name of
    // standard output itself says it is this one.
    return descriptorNamed(path) == 1 || sameFileAsOpen(path, fd);
}

}  // namespace

bool leadsToStandardOutput(const std::string& path) { return leadsTo(path, gKept >= 0 ? gKept : 1); }

int takeStandardOutputFor(const std::string& path) {
    if (gKept >= 0)
        return leadsTo(path, gKept) ? gKept : -1;
    if (!leadsTo(path, 1))
        return -1;
    fflush(stdout);
    const int kept = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (kept < 0)
        return -1;
    if (dup2(2, 1) < 0) {
        close(kept);
        return -1;
    }
    gKept = kept;
    return kept;
}

bool namesStandardOutput(const std::string& path) { return descriptorNamed(path) == 1; }

bool readerGone(int fd) {
    pollfd ready{fd, POLLOUT, 0};
    return poll(&ready, 1, 0) == 1 && (ready.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace host

#include "platform/Hold.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

void holdPoint(const char* point) {
    const char* at = std::getenv("CORVANE_HOLD_AT");
    const char* fifo = std::getenv("CORVANE_HOLD_FIFO");
    if (!at || !fifo || std::strcmp(at, point) != 0)
        return;
    std::printf("hold: %s\n", point);
    std::fflush(stdout);
    int fd;
    do
        fd = open(fifo, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        std::fprintf(stderr, "hold: cannot open %s: %s\n", fifo, std::strerror(errno));
        return;
    }
    char buffer[64];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    close(fd);
}

}  // namespace host

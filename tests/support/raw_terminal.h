// A pseudo-terminal's slave end opened raw, for the tests that read what a
// run writes on a terminal (apart from Pty.h, whose users may take termios
// from the kernel's headers instead).
#pragma once

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace testsupport {

// Held open by the test, the terminal outlives the run; raw, its bytes are
// the run's as written. -1 on failure.
inline int openRawTerminal(const std::string& slave) {
    const int fd = slave.empty() ? -1 : open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios mode{};
    if (fd >= 0 && tcgetattr(fd, &mode) == 0) {
        cfmakeraw(&mode);
        if (tcsetattr(fd, TCSANOW, &mode) == 0)
            return fd;
    }
    if (fd >= 0)
        close(fd);
    return -1;
}

}  // namespace testsupport

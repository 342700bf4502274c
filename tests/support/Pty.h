// A pseudo-terminal for the tests that play the instrument's MIDI port: the
// master end stays with the test, the slave's name is what the port opens.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace testsupport {

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        char name[128];
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 && ptsname_r(master, name, sizeof name) == 0)
            slave = name;
    }
    ~Pty() {
        if (master >= 0)
            close(master);
    }
    // The slave end opened and made raw, so its bytes are a run's as written;
    // held open by the test, the terminal outlives the run. -1 on failure.
    int openRawSlave() const {
        const int fd = slave.empty() ? -1 : open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios mode{};
        if (fd < 0 || tcgetattr(fd, &mode) != 0)
            return fd < 0 ? -1 : (close(fd), -1);
        cfmakeraw(&mode);
        if (tcsetattr(fd, TCSANOW, &mode) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

}  // namespace testsupport

// A pseudo-terminal for the tests that play the instrument's MIDI port: the
// master end stays with the test, the slave's name is what the port opens.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
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
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

}  // namespace testsupport

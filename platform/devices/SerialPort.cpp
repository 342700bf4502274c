#include "platform/devices/SerialPort.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kMidiUart = "/dev/ttyS4";

std::mutex gPortMutex;
std::string gMidiPort;
std::string gPeerName;

// Pseudo-terminal masters the layer opened: their peer may come and go.
std::atomic<int> gOwnedMasters[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

bool isOwnedMaster(int fd) {
    for (auto& owned : gOwnedMasters)
        if (owned.load(std::memory_order_acquire) == fd)
            return true;
    return false;
}

int openPseudoTerminal() {
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char name[128];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    bool kept = false;
    for (auto& owned : gOwnedMasters) {
        int none = -1;
        if (owned.compare_exchange_strong(none, fd)) {
            kept = true;
            break;
        }
    }
    if (!kept) {
        close(fd);
        errno = EMFILE;
        return -1;
    }
    gPeerName = name;
    fprintf(stderr, "MIDI port: %s\n", name);
    return fd;
}

}  // namespace

namespace host {

void setMidiPort(const std::string& path) {
    std::lock_guard<std::mutex> lock(gPortMutex);
    gMidiPort = path;
}

std::string midiPort() {
    std::lock_guard<std::mutex> lock(gPortMutex);
    return gMidiPort;
}

std::string midiPortPeerName() {
    std::lock_guard<std::mutex> lock(gPortMutex);
    return gPeerName;
}

int serialOpen(const char* path) {
    if (!path || strcmp(path, kMidiUart) != 0) {
        errno = ENOENT;
        return -1;
    }
    std::lock_guard<std::mutex> lock(gPortMutex);
    if (gMidiPort.empty())
        return openPseudoTerminal();
    int fd = open(gMidiPort.c_str(), O_RDWR | O_NOCTTY | O_SYNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        fprintf(stderr, "MIDI port %s: %s\n", gMidiPort.c_str(), strerror(error));
        errno = error;
    }
    return fd;
}

void serialClose(int fd) {
    if (fd < 0)
        return;
    for (auto& owned : gOwnedMasters) {
        int mine = fd;
        owned.compare_exchange_strong(mine, -1);
    }
    close(fd);
}

int serialConfigure(int fd, uint32_t baud) {
    struct termios2 old;
    if (ioctl(fd, TCGETS2, &old) != 0)
        return kSerialGetFailed;
    struct termios2 t = old;
    t.c_iflag = IGNPAR;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~(CBAUD | CBAUDEX | CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= BOTHER | CS8 | CREAD | CLOCAL;
    t.c_cc[VTIME] = 0;
    t.c_cc[VMIN] = 1;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &t) != 0) {
        if (errno != EINVAL)
            return kSerialSetFailed;
        // The device has no custom rates: raw at the rate it has.
        t.c_cflag = (t.c_cflag & ~(CBAUD | CBAUDEX)) | (old.c_cflag & (CBAUD | CBAUDEX));
        t.c_ispeed = old.c_ispeed;
        t.c_ospeed = old.c_ospeed;
        if (ioctl(fd, TCSETS2, &t) != 0)
            return kSerialSetFailed;
        fprintf(stderr, "serial: the device refuses %u baud and keeps %u baud\n", baud, old.c_ospeed);
        return kSerialConfigured;
    }
    struct termios2 now;
    if (ioctl(fd, TCGETS2, &now) == 0 && now.c_ospeed != baud)
        fprintf(stderr, "serial: the device runs at %u baud instead of %u\n", now.c_ospeed, baud);
    return kSerialConfigured;
}

int serialWaitInput(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int n = poll(&p, 1, timeoutMs);
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    if (p.revents & POLLIN)
        return 1;
    if ((p.revents & POLLHUP) && isOwnedMaster(fd)) {
        // Nobody holds the other end: like a socket with no cable in it.
        poll(nullptr, 0, timeoutMs);
        return 0;
    }
    return -2;
}

ssize_t serialRead(int fd, void* buffer, size_t size) { return read(fd, buffer, size); }

ssize_t serialWrite(int fd, const void* buffer, size_t size) { return write(fd, buffer, size); }

}  // namespace host

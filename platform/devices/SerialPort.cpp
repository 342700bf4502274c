#include "platform/devices/SerialPort.h"
#include "platform/AuxiliaryTask.h"
#include "platform/HostFolder.h"
#include "platform/Paths.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kMidiUart = "/dev/ttyS4";

constexpr const char* kPortLine = "MIDI port: %s\n";
constexpr const char* kLinkedPortLine = "MIDI port: %s -> %s\n";
constexpr const char* kNoLinkLine = "MIDI port: cannot make the link %s (%s)\n";
constexpr const char* kReplacedFileLine = "MIDI port: replaced the file %s by a link to the port\n";

std::mutex gPortMutex;
std::string gMidiPort;
std::string gPeerName;

// The link to the pseudo-terminal the layer opened last. Plain arrays: the
// port may be closed by a static destructor at exit, after the strings here
// have gone.
struct PortLink {
    int fd = -1;
    char path[4096] = {};
    char target[128] = {};
};
PortLink gLink;

// A few descriptors of one kind, looked up by the I/O task without a lock.
class FdSet {
public:
    bool add(int fd) {
        for (auto& slot : slots_) {
            int none = -1;
            if (slot.compare_exchange_strong(none, fd))
                return true;
        }
        return false;
    }
    void remove(int fd) {
        for (auto& slot : slots_) {
            int mine = fd;
            slot.compare_exchange_strong(mine, -1);
        }
    }
    bool contains(int fd) const {
        for (auto& slot : slots_)
            if (slot.load(std::memory_order_acquire) == fd)
                return true;
        return false;
    }

private:
    std::atomic<int> slots_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

// Pseudo-terminal masters the layer opened: their peer may come and go.
FdSet gOwnedMasters;
// FIFOs given as the port. One pipe carries bytes one way: what the
// instrument wrote into it would come straight back as its own MIDI in.
FdSet gInputOnly;

bool isOwnedMaster(int fd) { return gOwnedMasters.contains(fd); }

std::string portLink() { return host::portLinkOf(host::root()); }

// Points `link` at `target`, replacing any link there in one step, so a
// program that opens it never finds it missing or half made. False with
// errno when it cannot be made.
bool makeLink(const std::string& link, const char* target) {
    if (!host::makeFolders(link.substr(0, link.rfind('/'))))
        return false;
    const std::string temporary = link + ".new-" + std::to_string(getpid());
    unlink(temporary.c_str());  // left by a run that died here
    if (symlink(target, temporary.c_str()) != 0)
        return false;
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        errno = error;
        return false;
    }
    return true;
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
    if (!gOwnedMasters.add(fd)) {
        close(fd);
        errno = EMFILE;
        return -1;
    }
    gPeerName = name;
    const std::string link = portLink();
    // A file kept under the link's name is gone once the link is made: say so.
    struct stat st;
    const bool overFile = lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode);
    if (makeLink(link, name)) {
        gLink.fd = fd;
        snprintf(gLink.path, sizeof gLink.path, "%s", link.c_str());
        snprintf(gLink.target, sizeof gLink.target, "%s", name);
        fprintf(stderr, kLinkedPortLine, link.c_str(), name);
        if (overFile)
            fprintf(stderr, kReplacedFileLine, link.c_str());
    } else {
        const int error = errno;
        fprintf(stderr, kPortLine, name);
        fprintf(stderr, kNoLinkLine, link.c_str(), strerror(error));
    }
    return fd;
}

// Takes the link away if it still leads to the terminal at `fd`.
void dropLink(int fd) {
    if (fd < 0 || fd != gLink.fd)
        return;
    char target[sizeof gLink.target];
    const ssize_t n = readlink(gLink.path, target, sizeof target - 1);
    if (n >= 0) {
        target[n] = '\0';
        if (strcmp(target, gLink.target) == 0)
            unlink(gLink.path);
    }
    gLink.fd = -1;
}

// A link that an earlier run left would lead to whoever has that terminal
// now.
void removeStaleLink() {
    const std::string link = portLink();
    struct stat st;
    if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        unlink(link.c_str());
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
    removeStaleLink();
    // Read and write even for a FIFO: the open does not wait for a writer,
    // and the port does not see an end of input when one goes away.
    int fd = open(gMidiPort.c_str(), O_RDWR | O_NOCTTY | O_SYNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        fprintf(stderr, "MIDI port %s: %s\n", gMidiPort.c_str(), strerror(error));
        errno = error;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
        // A plain file would be read to its end and then grow with MIDI out.
        fprintf(stderr, "MIDI port %s: not a serial port, raw MIDI device or FIFO\n", gMidiPort.c_str());
        close(fd);
        errno = ENODEV;
        return -1;
    }
    if (S_ISFIFO(st.st_mode)) {
        if (!gInputOnly.add(fd)) {
            close(fd);
            errno = EMFILE;
            return -1;
        }
        fprintf(stderr, "MIDI port %s is a FIFO: MIDI in only\n", gMidiPort.c_str());
    }
    return fd;
}

void serialClose(int fd) {
    if (fd < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(gPortMutex);
        dropLink(fd);
    }
    gOwnedMasters.remove(fd);
    gInputOnly.remove(fd);
    close(fd);
}

int serialConfigure(int fd, uint32_t baud) {
    struct termios2 old;
    if (ioctl(fd, TCGETS2, &old) != 0) {
        // A raw MIDI device or a FIFO carries the bytes as they are, at the
        // rate of whatever is behind it: nothing to set.
        struct stat st;
        const int error = errno;
        if (error == ENOTTY && fstat(fd, &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)))
            return kSerialConfigured;
        errno = error;
        return kSerialGetFailed;
    }
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
    // Offline the I/O task runs in step with blocks that do not wait for the
    // clock: a look, no wait, or every run would cost the render its timeout.
    if (tasksInStep())
        timeoutMs = 0;
    pollfd p{fd, POLLIN, 0};
    // A signal (a stop, a continue after Ctrl-Z) cuts the wait short: no
    // failure, it is simply waited again.
    int n;
    while ((n = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
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

ssize_t serialWrite(int fd, const void* buffer, size_t size) {
    if (gInputOnly.contains(fd))
        return ssize_t(size);  // taken, as by a cable that nobody listens to
    return write(fd, buffer, size);
}

}  // namespace host

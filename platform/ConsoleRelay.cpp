#include "platform/ConsoleRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace host {
namespace {

// One progress update, whole in one pipe write (far below PIPE_BUF), so the
// relay reads whole records only.
struct ProgressRecord {
    uint8_t length;
    uint8_t last;  // the render's end: shown with a newline, never again
    char text[62];
};
static_assert(sizeof(ProgressRecord) == 64);

// The relay runs in a child forked from a process with threads: only
// async-signal-safe calls from here on, no allocation, no stdio.
class Relay {
public:
    explicit Relay(int terminal) : terminal_(terminal) {}

    void progress(const ProgressRecord& record) {
        latestLength_ = std::min<size_t>(record.length, sizeof latest_);
        memcpy(latest_, record.text, latestLength_);
        finished_ = record.last != 0;
        if (midLine_) {
            if (!finished_)
                return;  // shown once the console's line has ended
            put("\n", 1);
            midLine_ = false;
        }
        showLatest();
        if (finished_) {
            put("\n", 1);
            shown_ = 0;
        }
    }

    void console(const char* text, size_t length) {
        if (length == 0)
            return;
        clear();
        put(text, length);
        midLine_ = text[length - 1] != '\n';
        if (!midLine_ && latestLength_ != 0 && !finished_)
            showLatest();
    }

    // Every writer gone before the render's end (a crash): the next line,
    // the launcher's, starts clean.
    void writersGone() {
        if (shown_ != 0)
            put("\n", 1);
        shown_ = 0;
    }

private:
    void showLatest() {
        // A shorter line than the one on screen would leave its tail behind.
        if (latestLength_ < shown_)
            clear();
        put("\r", 1);
        put(latest_, latestLength_);
        shown_ = latestLength_;
    }

    void clear() {
        if (shown_ == 0)
            return;
        put("\r", 1);
        put(kSpaces, shown_);
        put("\r", 1);
        shown_ = 0;
    }

    // A terminal that is gone takes nothing more; the relay keeps reading so
    // that no writer waits on it.
    void put(const char* bytes, size_t length) {
        while (length > 0 && !gone_) {
            const ssize_t n = write(terminal_, bytes, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                gone_ = true;
                break;
            }
            bytes += n;
            length -= size_t(n);
        }
    }

    static constexpr char kSpaces[] = "                                                                ";
    static_assert(sizeof kSpaces - 1 >= sizeof ProgressRecord::text);

    int terminal_;
    char latest_[sizeof ProgressRecord::text] = {};
    size_t latestLength_ = 0;
    size_t shown_ = 0;  // length of the progress line on screen, 0 for none
    bool midLine_ = false;
    bool finished_ = false;
    bool gone_ = false;
};

void closeAllBut(int a, int b) {
    if (a > b)
        std::swap(a, b);
    const auto closeRange = [](int first, int last) {
        if (first > last)
            return;
        if (close_range(unsigned(first), unsigned(last), 0) == 0)
            return;
        for (int fd = first; fd <= std::min(last, 4095); ++fd)
            close(fd);
    };
    closeRange(3, a - 1);
    closeRange(a + 1, b - 1);
    closeRange(b + 1, ~0u >> 1);
}

[[noreturn]] void relayMain(int console, int progress) {
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    // Nothing else of the instrument's (its output, perhaps on standard
    // output, its ports) stays open because of the relay.
    closeAllBut(console, progress);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    Relay relay(STDERR_FILENO);  // the terminal: the fork came before the swap
    char text[4096];
    ProgressRecord records[16];
    pollfd fds[2] = {{console, POLLIN, 0}, {progress, POLLIN, 0}};
    // Until every writer is gone, the instrument's end included.
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        // Progress first: console text that came with it goes below it.
        if (fds[1].revents != 0) {
            const ssize_t n = read(progress, records, sizeof records);
            if (n > 0) {
                relay.progress(records[size_t(n) / sizeof(ProgressRecord) - 1]);
            } else if (n == 0 || errno != EINTR) {
                fds[1].fd = -1;
            }
        }
        if (fds[0].revents != 0) {
            const ssize_t n = read(console, text, sizeof text);
            if (n > 0) {
                relay.console(text, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                fds[0].fd = -1;
            }
        }
    }
    relay.writersGone();
    _exit(0);
}

bool sameTerminal(int a, int b) {
    struct stat sa, sb;
    return isatty(a) && isatty(b) && fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && S_ISCHR(sa.st_mode) &&
           S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev;
}

void closeIfOpen(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// How long the end waits for the relay to write what it holds.
constexpr auto kEndBound = std::chrono::seconds(2);

int msUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// True once `pid` has ended and been reaped (or cannot be waited for).
bool reapedBefore(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(1000);
    }
}

}  // namespace

bool ConsoleRelay::begin() {
    if (active() || !isatty(STDERR_FILENO))
        return false;
    // Standard output only when it is this same terminal: a file or the
    // audio itself is none of the relay's business.
    const bool takeOut = sameTerminal(STDOUT_FILENO, STDERR_FILENO);
    int console[2], progress[2];
    if (pipe2(console, O_CLOEXEC) != 0)
        return false;
    if (pipe2(progress, O_CLOEXEC) != 0) {
        close(console[0]);
        close(console[1]);
        return false;
    }
    fcntl(progress[1], F_SETFL, O_NONBLOCK);
    savedErr_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    savedOut_ = takeOut ? fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = savedErr_ >= 0 && (!takeOut || savedOut_ >= 0) ? fork() : -1;
    if (pid == 0) {
        close(console[1]);
        close(progress[1]);
        relayMain(console[0], progress[0]);
    }
    close(console[0]);
    close(progress[0]);
    if (pid < 0) {
        close(console[1]);
        close(progress[1]);
        closeIfOpen(savedErr_);
        closeIfOpen(savedOut_);
        return false;
    }
    relay_ = pid;
    progress_ = progress[1];
    dup2(console[1], STDERR_FILENO);
    if (takeOut)
        dup2(console[1], STDOUT_FILENO);
    close(console[1]);
    return true;
}

void ConsoleRelay::show(const char* line, size_t length) {
    if (!active())
        return;
    ProgressRecord record{};
    record.length = uint8_t(std::min(length, sizeof record.text));
    memcpy(record.text, line, record.length);
    (void)!write(progress_, &record, sizeof record);
}

void ConsoleRelay::end(const char* line, size_t length) {
    if (!active())
        return;
    const auto deadline = std::chrono::steady_clock::now() + kEndBound;
    if (line) {
        // The last line waits for room while the relay has time to take it.
        ProgressRecord record{};
        record.length = uint8_t(std::min(length, sizeof record.text));
        record.last = 1;
        memcpy(record.text, line, record.length);
        for (;;) {
            if (write(progress_, &record, sizeof record) >= 0 || (errno != EINTR && errno != EAGAIN))
                break;
            pollfd room{progress_, POLLOUT, 0};
            const int ready = poll(&room, 1, msUntil(deadline));
            if (ready == 0 || (ready < 0 && errno != EINTR))
                break;
        }
    }
    // Held while the console changes hands, so no line of another thread
    // reaches the terminal ahead of what the relay still has to write.
    flockfile(stdout);
    flockfile(stderr);
    fflush(stdout);
    fflush(stderr);
    dup2(savedErr_, STDERR_FILENO);
    if (savedOut_ >= 0)
        dup2(savedOut_, STDOUT_FILENO);
    closeIfOpen(savedErr_);
    closeIfOpen(savedOut_);
    closeIfOpen(progress_);
    // A relay that does not end in time (stopped, or on a terminal that
    // takes nothing) loses what it still holds: the instrument ends.
    if (!reapedBefore(relay_, deadline)) {
        kill(relay_, SIGKILL);
        while (waitpid(relay_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    relay_ = -1;
    funlockfile(stderr);
    funlockfile(stdout);
}

}  // namespace host

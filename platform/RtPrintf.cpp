#include "platform/RtPrintf.h"

#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// A bounded multi-producer single-consumer queue of fixed-size slots: each
// slot carries a sequence number that tells producers and the consumer whose
// turn it is, so no producer ever waits for another.
constexpr size_t kSlots = 1024;
constexpr size_t kSlotBytes = 512;
static_assert(kSlotBytes <= PIPE_BUF, "a slot goes to a pipe in one write that never waits");

// At the end, a console that has taken nothing for this long (a pipe nobody
// reads, a paused pager) loses what is left rather than hold the exit.
constexpr auto kEndPatience = std::chrono::milliseconds(250);
// What a process ending at once gives the logger to write what is queued.
constexpr long long kFlushPatienceNs = 200'000'000;

struct Slot {
    std::atomic<uint64_t> sequence{0};
    uint16_t length = 0;
    bool ownLine = false;
    char text[kSlotBytes];
};

struct Logger {
    Slot slots[kSlots];
    std::atomic<uint64_t> enqueue{0};
    uint64_t dequeue = 0;
    std::atomic<bool> running{false};
    std::atomic<bool> quit{false};
    std::atomic<unsigned> dropped{0};
    std::thread thread;
    std::atomic<pid_t> threadId{0};
    // Slots written out or dropped: the logger's progress, for a process
    // about to end at once.
    std::atomic<uint64_t> finished{0};
    std::mutex control;
    FILE* console = nullptr;  // stdout as it was before the logger took it
    FILE* queued = nullptr;   // the stream that stands for stdout meanwhile

    // The logger thread's own: the slot being written, and whether the last
    // byte that reached the console ended its line.
    char pending[kSlotBytes + 1];
    size_t pendingLength = 0, pendingDone = 0;
    bool midLine = false;

    Logger() {
        for (size_t i = 0; i < kSlots; ++i)
            slots[i].sequence.store(i, std::memory_order_relaxed);
    }

    bool push(const char* text, size_t length, bool ownLine) {
        uint64_t position = enqueue.load(std::memory_order_relaxed);
        for (;;) {
            Slot& slot = slots[position % kSlots];
            uint64_t sequence = slot.sequence.load(std::memory_order_acquire);
            int64_t difference = int64_t(sequence) - int64_t(position);
            if (difference == 0) {
                if (enqueue.compare_exchange_weak(position, position + 1, std::memory_order_relaxed))
                    break;
            } else if (difference < 0) {
                return false;  // full
            } else {
                position = enqueue.load(std::memory_order_relaxed);
            }
        }
        Slot& slot = slots[position % kSlots];
        slot.length = uint16_t(length);
        slot.ownLine = ownLine;
        std::memcpy(slot.text, text, length);
        slot.sequence.store(position + 1, std::memory_order_release);
        return true;
    }

    // Takes the next slot into `pending`, a newline first when it must start
    // a line of its own and the console is mid-line.
    bool take() {
        Slot& slot = slots[dequeue % kSlots];
        if (slot.sequence.load(std::memory_order_acquire) != dequeue + 1)
            return false;
        const bool newline = slot.ownLine && midLine;
        pendingLength = 0;
        if (newline)
            pending[pendingLength++] = '\n';
        std::memcpy(pending + pendingLength, slot.text, slot.length);
        pendingLength += slot.length;
        pendingDone = 0;
        slot.sequence.store(dequeue + kSlots, std::memory_order_release);
        ++dequeue;
        return true;
    }

    // Writes what the console takes now, never waiting for it: a piece goes
    // only when poll says the console has room, and a piece no larger than
    // PIPE_BUF fits a pipe with room whole. The descriptor stays as the
    // caller's shell shares it (no O_NONBLOCK). True when all was written.
    bool writeSome(bool& progressed) {
        for (;;) {
            if (pendingDone == pendingLength) {
                finished.store(dequeue, std::memory_order_release);
                if (!take())
                    return true;
            }
            pollfd fd{STDOUT_FILENO, POLLOUT, 0};
            if (poll(&fd, 1, 0) <= 0)
                return false;
            if ((fd.revents & POLLOUT) == 0) {
                drop();  // closed or gone: it takes nothing more
                continue;
            }
            // Whoever holds stdout (the console changing hands) goes first.
            if (queued && ftrylockfile(queued) != 0)
                return false;
            const ssize_t n = write(STDOUT_FILENO, pending + pendingDone, pendingLength - pendingDone);
            if (queued)
                funlockfile(queued);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                return false;
            if (n <= 0) {
                drop();
                continue;
            }
            pendingDone += size_t(n);
            midLine = pending[pendingDone - 1] != '\n';
            progressed = true;
        }
    }

    void drop() {
        pendingDone = pendingLength = 0;
        dropped.fetch_add(1, std::memory_order_relaxed);
    }

    void loop() {
        pthread_setname_np(pthread_self(), "corvane-log");
        threadId.store(pid_t(gettid()), std::memory_order_release);
        while (!quit.load(std::memory_order_acquire)) {
            bool progressed = false;
            writeSome(progressed);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        auto lastProgress = std::chrono::steady_clock::now();
        for (;;) {
            bool progressed = false;
            if (writeSome(progressed))
                return;
            const auto now = std::chrono::steady_clock::now();
            if (progressed)
                lastProgress = now;
            else if (now - lastProgress > kEndPatience)
                break;
            pollfd fd{STDOUT_FILENO, POLLOUT, 0};
            poll(&fd, 1, 10);
        }
        drop();
        while (take())
            drop();
    }
};

Logger& logger() {
    static Logger l;
    return l;
}

// stdout while the logger runs: every printf, on any thread, queues its text
// as rt_printf does, so none waits for a console that nobody reads.
ssize_t queueWrite(void*, const char* text, size_t size) {
    Logger& l = logger();
    if (!l.running.load(std::memory_order_acquire))
        return ssize_t(fwrite(text, 1, size, l.console));
    for (size_t at = 0; at < size; at += kSlotBytes - 1)
        if (!l.push(text + at, std::min(size - at, kSlotBytes - 1), false))
            l.dropped.fetch_add(1, std::memory_order_relaxed);
    return ssize_t(size);
}

}  // namespace

int rt_vprintf(const char* format, va_list args) {
    Logger& l = logger();
    if (!l.running.load(std::memory_order_acquire)) {
        int n = vfprintf(stdout, format, args);
        fflush(stdout);
        return n;
    }
    char buffer[kSlotBytes];
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return n;
    size_t length = std::min(size_t(n), sizeof buffer - 1);
    if (!l.push(buffer, length, false))
        l.dropped.fetch_add(1, std::memory_order_relaxed);
    return n;
}

int rt_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = rt_vprintf(format, args);
    va_end(args);
    return n;
}

namespace host {

void rtPrintLine(const char* text, size_t length) {
    Logger& l = logger();
    length = std::min(length, kSlotBytes - 2);
    char line[kSlotBytes];
    std::memcpy(line, text, length);
    line[length++] = '\n';
    if (!l.running.load(std::memory_order_acquire)) {
        fwrite(line, 1, length, stdout);
        fflush(stdout);
    } else if (!l.push(line, length, true)) {
        l.dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

bool rtLoggerFlushBeforeTheEnd() {
    Logger& l = logger();
    if (!l.running.load(std::memory_order_acquire))
        return true;
    if (pid_t(gettid()) == l.threadId.load(std::memory_order_acquire))
        return false;
    const uint64_t target = l.enqueue.load(std::memory_order_acquire);
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const timespec step{0, 1000000};
    while (l.finished.load(std::memory_order_acquire) < target) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000000000ll + (now.tv_nsec - start.tv_nsec) > kFlushPatienceNs)
            return true;
        nanosleep(&step, nullptr);
    }
    return true;
}

void rtLoggerStart() {
    Logger& l = logger();
    std::lock_guard<std::mutex> lock(l.control);
    if (l.running.load())
        return;
    if (!l.queued) {
        l.queued = fopencookie(nullptr, "w", cookie_io_functions_t{nullptr, queueWrite, nullptr, nullptr});
        // Unbuffered: each printf reaches the ring whole and in call order.
        if (l.queued)
            setvbuf(l.queued, nullptr, _IONBF, 0);
    }
    fflush(stdout);
    l.midLine = false;
    l.quit.store(false);
    l.thread = std::thread([&l] { l.loop(); });
    l.running.store(true, std::memory_order_release);
    if (l.queued) {
        l.console = stdout;
        stdout = l.queued;
    }
}

void rtLoggerStop() {
    Logger& l = logger();
    std::lock_guard<std::mutex> lock(l.control);
    if (!l.running.load())
        return;
    l.running.store(false, std::memory_order_release);
    l.quit.store(true, std::memory_order_release);
    l.thread.join();
    if (l.queued)
        stdout = l.console;
}

unsigned rtLoggerDropped() { return logger().dropped.load(); }

}  // namespace host

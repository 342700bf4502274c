#include "platform/RtPrintf.h"

#include <atomic>
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

struct Slot {
    std::atomic<uint64_t> sequence{0};
    uint16_t length = 0;
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
    std::mutex control;

    Logger() {
        for (size_t i = 0; i < kSlots; ++i)
            slots[i].sequence.store(i, std::memory_order_relaxed);
    }

    bool push(const char* text, size_t length) {
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
        std::memcpy(slot.text, text, length);
        slot.sequence.store(position + 1, std::memory_order_release);
        return true;
    }

    bool popAndWrite() {
        Slot& slot = slots[dequeue % kSlots];
        if (slot.sequence.load(std::memory_order_acquire) != dequeue + 1)
            return false;
        fwrite(slot.text, 1, slot.length, stdout);
        slot.sequence.store(dequeue + kSlots, std::memory_order_release);
        ++dequeue;
        return true;
    }

    void drain() {
        bool any = false;
        while (popAndWrite())
            any = true;
        if (any)
            fflush(stdout);
    }

    void loop() {
        while (!quit.load(std::memory_order_acquire)) {
            drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        drain();
    }
};

Logger& logger() {
    static Logger l;
    return l;
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
    if (!l.push(buffer, length))
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

void rtLoggerStart() {
    Logger& l = logger();
    std::lock_guard<std::mutex> lock(l.control);
    if (l.running.load())
        return;
    l.quit.store(false);
    l.thread = std::thread([&l] { l.loop(); });
    l.running.store(true, std::memory_order_release);
}

void rtLoggerStop() {
    Logger& l = logger();
    std::lock_guard<std::mutex> lock(l.control);
    if (!l.running.load())
        return;
    l.running.store(false, std::memory_order_release);
    l.quit.store(true, std::memory_order_release);
    l.thread.join();
}

unsigned rtLoggerDropped() { return logger().dropped.load(); }

}  // namespace host

// Console lines caused by outside input (network packets, MIDI bytes) must
// not fill the log at the sender's pace: each kind of line gets a burst of
// kBurst lines and after that one line a second at most; the lines left out
// are counted and their number goes with the next line let through, or is
// said by a flush from a task that runs regularly once a line may be printed
// again (so a burst that nothing follows still gets its count). Not for the
// audio thread's own lines (those go through rt_printf's ring anyway);
// lock-free, so any other thread may use it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class LogLimiter {
public:
    static constexpr uint32_t kBurst = 20;
    static constexpr int64_t kIntervalNs = 1000000000;  // one line a second once the burst is spent

    // True when a line may be printed at `nowNs` (any monotonic clock);
    // `leftOut` receives the lines refused since the last one let through.
    bool allow(int64_t nowNs, uint32_t& leftOut) {
        if (!_takeLine(nowNs)) {
            leftOut_.fetch_add(1, std::memory_order_relaxed);
            totalLeftOut_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        leftOut = leftOut_.exchange(0, std::memory_order_relaxed);
        return true;
    }
    bool allow(uint32_t& leftOut) { return allow(now(), leftOut); }

    // True when lines were left out since the last one let through and a
    // line may be printed at `nowNs`: the caller prints their number
    // (`leftOut`), which takes that line's place.
    bool flush(int64_t nowNs, uint32_t& leftOut) {
        if (leftOut_.load(std::memory_order_relaxed) == 0 || !_takeLine(nowNs))
            return false;
        leftOut = leftOut_.exchange(0, std::memory_order_relaxed);
        return leftOut > 0;
    }
    bool flush(uint32_t& leftOut) { return flush(now(), leftOut); }

    // At the end of a run, whatever the rate: the lines refused since the
    // last one let through (the caller says their number).
    uint32_t takeLeftOut() { return leftOut_.exchange(0, std::memory_order_relaxed); }

    // A fresh burst; the total of lines left out is kept.
    void reset() {
        due_.store(INT64_MIN / 2, std::memory_order_release);
        leftOut_.store(0, std::memory_order_relaxed);
    }

    // Lines refused since construction.
    uint64_t totalLeftOut() const { return totalLeftOut_.load(std::memory_order_relaxed); }

    static int64_t steadyNs() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // The clock of the overloads without a time: steadyNs, or a test's.
    using Clock = int64_t (*)();
    static void setClock(Clock clock) { clock_.store(clock ? clock : &steadyNs, std::memory_order_release); }
    static int64_t now() { return clock_.load(std::memory_order_acquire)(); }

private:
    // Takes the next line's place in the budget.
    bool _takeLine(int64_t nowNs) {
        // The time the next line is due if lines came at the steady rate;
        // the burst is how far ahead of now it may run.
        int64_t due = due_.load(std::memory_order_acquire);
        for (;;) {
            const int64_t from = due > nowNs ? due : nowNs;
            if (from - nowNs > int64_t(kBurst - 1) * kIntervalNs)
                return false;
            if (due_.compare_exchange_weak(due, from + kIntervalNs, std::memory_order_acq_rel))
                return true;
        }
    }

    static inline std::atomic<Clock> clock_{&steadyNs};

    std::atomic<int64_t> due_{INT64_MIN / 2};
    std::atomic<uint32_t> leftOut_{0};
    std::atomic<uint64_t> totalLeftOut_{0};
};

// Text from outside as it may be printed: control bytes, bytes past ASCII and
// the backslash as \xNN (the backslash as \\), so that nothing a sender puts
// in it moves the cursor, clears the terminal or forges a line. At most
// `limit` bytes of the text are shown; more is marked with "...".
inline std::string escapeForLog(const std::string& text, size_t limit = 128) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    const size_t n = text.size() < limit ? text.size() : limit;
    out.reserve(n + 8);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += char(c);
        }
    }
    if (text.size() > limit)
        out += "...";
    return out;
}

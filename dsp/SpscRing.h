// A fixed-size ring of records from one producer thread to one consumer
// thread, without locks or allocation after construction.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

template <typename T, size_t N>
class SpscRing {
    static_assert((N & (N - 1)) == 0, "a power of two");

public:
    // Producer: false when full (the record is dropped).
    bool push(const T& v) {
        const uint32_t w = write_.load(std::memory_order_relaxed);
        if (w - read_.load(std::memory_order_acquire) >= N)
            return false;
        items_[w & (N - 1)] = v;
        write_.store(w + 1, std::memory_order_release);
        return true;
    }
    // Consumer: the oldest record, left in the ring; false when empty.
    bool peek(T& out) const {
        const uint32_t r = read_.load(std::memory_order_relaxed);
        if (r == write_.load(std::memory_order_acquire))
            return false;
        out = items_[r & (N - 1)];
        return true;
    }
    // Consumer.
    bool pop(T& out) {
        const uint32_t r = read_.load(std::memory_order_relaxed);
        if (r == write_.load(std::memory_order_acquire))
            return false;
        out = items_[r & (N - 1)];
        read_.store(r + 1, std::memory_order_release);
        return true;
    }
    // Consumer: drops every record pushed so far.
    void clear() { read_.store(write_.load(std::memory_order_acquire), std::memory_order_release); }

private:
    std::array<T, N> items_{};
    std::atomic<uint32_t> write_{0};
    std::atomic<uint32_t> read_{0};
};

// The two shared generators. Both are stepped from several threads (audio,
// interface, loaders), so their state is one atomic word advanced with a
// compare-and-swap: no lock, no lost or repeated step, and the sequence on any
// one thread is the specified one while no other thread draws.
#pragma once

#include <atomic>
#include <cstdint>

// 64-bit linear congruential generator; callers use the high 32 bits.
class Random {
public:
    std::atomic<uint64_t> state;
    const uint64_t multiplier = 196314165;
    const uint64_t increment = 907633515;

    Random();  // seeded from the time of day
    explicit Random(uint64_t seed) : state(seed) {}

    uint64_t next() {
        uint64_t s = state.load(std::memory_order_relaxed);
        uint64_t n;
        do {
            n = s * multiplier + increment;
        } while (!state.compare_exchange_weak(s, n, std::memory_order_relaxed));
        return n;
    }
    uint32_t nextHigh() { return uint32_t(next() >> 32); }
    void seed(uint64_t s) { state.store(s, std::memory_order_relaxed); }
};

// Xor-add white noise in [-1, 1): b = a + b; a = a ^ b; out = int32(b) x 2^-31.
class Noise {
public:
    static constexpr uint32_t kSeedA = 0x70F4F854;
    static constexpr uint32_t kSeedB = 0xE1E9F0A7;

    float scale = 4.656612873077393e-10f;  // 2^-31
    std::atomic<uint64_t> seeds;            // seedA in the low word, seedB in the high

    constexpr Noise() : seeds(pack(kSeedA, kSeedB)) {}

    float next() {
        uint64_t s = seeds.load(std::memory_order_relaxed);
        uint64_t n;
        do {
            n = step(s);
        } while (!seeds.compare_exchange_weak(s, n, std::memory_order_relaxed));
        return float(int32_t(uint32_t(n >> 32))) * scale;
    }
    // n consecutive values with one reservation of the state.
    void fill(float* out, uint32_t n);

    void seed(uint32_t a, uint32_t b) { seeds.store(pack(a, b), std::memory_order_relaxed); }
    uint32_t seedA() const { return uint32_t(seeds.load(std::memory_order_relaxed)); }
    uint32_t seedB() const { return uint32_t(seeds.load(std::memory_order_relaxed) >> 32); }

    static constexpr uint64_t pack(uint32_t a, uint32_t b) { return uint64_t(a) | (uint64_t(b) << 32); }
    static constexpr uint64_t step(uint64_t s) {
        uint32_t a = uint32_t(s);
        uint32_t b = uint32_t(s >> 32);
        b = a + b;
        a = a ^ b;
        return pack(a, b);
    }
};

namespace DSP {
extern Random random;
extern Noise noise;
}  // namespace DSP

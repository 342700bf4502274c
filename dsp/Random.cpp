#include "dsp/Random.h"

#include <sys/time.h>

Random::Random() {
    timeval now{};
    gettimeofday(&now, nullptr);
    state.store(uint64_t(uint32_t(now.tv_sec)), std::memory_order_relaxed);
}

void Noise::fill(float* out, uint32_t n) {
    uint64_t s = seeds.load(std::memory_order_relaxed);
    uint64_t end;
    do {
        end = s;
        for (uint32_t i = 0; i < n; ++i) {
            end = step(end);
            out[i] = float(int32_t(uint32_t(end >> 32))) * scale;
        }
    } while (!seeds.compare_exchange_weak(s, end, std::memory_order_relaxed));
}

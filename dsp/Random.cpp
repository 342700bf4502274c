#include "dsp/Random.h"

#include "dsp/Float4.h"

#include <sys/time.h>

Random::Random() {
    timeval now{};
    gettimeofday(&now, nullptr);
    state.store(uint64_t(uint32_t(now.tv_sec)), std::memory_order_relaxed);
}

void Noise::fill(float* out, uint32_t n) {
    const float k = scale;
    const float4 k4 = splat4(k);
    uint64_t s = seeds.load(std::memory_order_relaxed);
    uint64_t end;
    do {
        // The generator is a chain, one step per value; only the conversion
        // to float goes four at a time.
        uint32_t a = uint32_t(s), b = uint32_t(s >> 32);
        uint32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            int4 w;
            b = a + b, a ^= b, w[0] = int32_t(b);
            b = a + b, a ^= b, w[1] = int32_t(b);
            b = a + b, a ^= b, w[2] = int32_t(b);
            b = a + b, a ^= b, w[3] = int32_t(b);
            storeUnaligned4(out + i, __builtin_convertvector(w, float4) * k4);
        }
        for (; i < n; ++i) {
            b = a + b, a ^= b;
            out[i] = float(int32_t(b)) * k;
        }
        end = pack(a, b);
    } while (!seeds.compare_exchange_weak(s, end, std::memory_order_relaxed));
}

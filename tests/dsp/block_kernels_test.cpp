// The block loops that work four samples at a time, or on local copies of a
// filter's state, must give exactly what the sample-by-sample forms give.
#include "dsp/LinearRamp.h"
#include "dsp/Random.h"
#include "dsp/SVF.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Arbitrary but repeatable audio-range contents.
void scramble(float* p, int n, uint32_t seed) {
    for (int i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        p[i] = float(int32_t(seed)) * 4.656613e-10f;
    }
}

TEST(LinearRamp, QuarticGainMatchesPerSampleRamp) {
    struct Case {
        float value, increment, level, gain;
    };
    // Rising past the level within the block, falling, clamped from above and
    // below first, a step too small to move a large value, and held (a step
    // of zero, also clamped and from a negative zero).
    const Case cases[] = {{0.3f, 0.013f, 1.0f, 0.7f},  {0.9f, -0.0037f, 1.0f, 1.0f}, {2.0f, -0.01f, 0.6f, 3.0f},
                          {-1.0f, 0.002f, 1.0f, 0.25f}, {0.75f, 1e-9f, 1.0f, 0.5f},    {0.8f, 0.0f, 1.0f, 0.9f},
                          {1.5f, -0.0f, 0.7f, 2.0f},   {-0.0f, 0.0f, 1.0f, 1.0f},      {0.0f, 0.0f, 0.0f, 1.0f}};
    for (const Case& c : cases) {
        alignas(16) float storage[66];
        storage[0] = storage[65] = 123.0f;
        float* buffer = storage + 1;  // not on a vector boundary
        scramble(buffer, 64, 7);
        float expected[64];
        float v = c.value < 0.0f ? 0.0f : c.value > c.level ? c.level : c.value;
        for (int i = 0; i < 64; ++i) {
            v += c.increment;
            const float v2 = v * v;
            expected[i] = buffer[i] * (v2 * v2 * c.gain);
        }

        LinearRamp ramp;
        ramp.value = c.value;
        ramp.increment = c.increment;
        ramp.level = c.level;
        ramp.applyQuarticGain(buffer, c.gain);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(buffer[i], expected[i]) << "value " << c.value << " sample " << i;
        EXPECT_EQ(ramp.value, v);
        EXPECT_EQ(std::signbit(ramp.value), std::signbit(v));
        EXPECT_EQ(storage[0], 123.0f);  // nothing written around the buffer
        EXPECT_EQ(storage[65], 123.0f);
    }
}

TEST(SVF, BlockProcessMatchesTick) {
    // Low-pass to notch, a sharp peak, and lengths that are not whole vectors.
    const float shapes[] = {0.0f, 1.3f, 2.5f, 3.9f};
    for (float shape : shapes) {
        for (uint32_t n : {64u, 37u, 1u}) {
            SVF block, reference;
            block.setShape(shape, 1200.0f, 14.2f);
            reference.setShape(shape, 1200.0f, 14.2f);
            float buffer[64], expected[64];
            for (int round = 0; round < 3; ++round) {
                scramble(buffer, int(n), uint32_t(round + 1));
                for (uint32_t i = 0; i < n; ++i) expected[i] = reference.tick(buffer[i]);
                block.process(buffer, n);
                for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(buffer[i], expected[i]) << shape << " n " << n << " i " << i;
            }
            // The state carries on into the next block exactly as tick leaves it.
            EXPECT_EQ(block.ic1eq, reference.ic1eq);
            EXPECT_EQ(block.ic2eq, reference.ic2eq);
            EXPECT_EQ(block.band, reference.band);
            EXPECT_EQ(block.low, reference.low);
            EXPECT_EQ(block.diff, reference.diff);
        }
    }

    // An empty block changes nothing.
    SVF f(1, 500.0f, 0.7f);
    f.tick(0.5f);
    const float band = f.band, s1 = f.ic1eq, s2 = f.ic2eq;
    f.process(nullptr, 0);
    EXPECT_EQ(f.band, band);
    EXPECT_EQ(f.ic1eq, s1);
    EXPECT_EQ(f.ic2eq, s2);
}

TEST(Noise, FillOfAnyLengthContinuesTheSequence) {
    Noise bulk, single;
    bulk.seed(0x12345678u, 0x9ABCDEF0u);
    single.seed(0x12345678u, 0x9ABCDEF0u);
    alignas(16) float storage[16];
    for (uint32_t n = 0; n <= 9; ++n) {
        std::fill(storage, storage + 16, 123.0f);
        float* out = storage + 3;  // not on a vector boundary
        bulk.fill(out, n);
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(out[i], single.next()) << "n " << n << " i " << i;
        for (uint32_t i = n; i < 13; ++i) ASSERT_EQ(out[i], 123.0f) << "written past " << n;
        EXPECT_EQ(bulk.seedA(), single.seedA());
        EXPECT_EQ(bulk.seedB(), single.seedB());
    }
}

}  // namespace

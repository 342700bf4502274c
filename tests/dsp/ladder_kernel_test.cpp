// The ladder's block loop keeps its state in registers and leaves out the
// second step's feedback term; neither may change a single output bit.
#include "dsp/LadderFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

// The filter written step by step from its formulas, both steps in full.
struct ReferenceLadder {
    float g = 0.0f, k = 0.0f;
    float s[4] = {};

    void step(float x) {
        float u = x + (x - s[3]) * k;
        const double d = double(u / (std::fabs(u) + 1.0f)) - double(u);
        u = float(double(u) + d * 0.984);
        s[0] += (u - s[0]) * g;
        s[1] += (s[0] - s[1]) * g;
        s[2] += (s[1] - s[2]) * g;
        s[3] += (s[2] - s[3]) * g;
    }
    void process(float* buffer) {
        for (int i = 0; i < 64; ++i) {
            step(buffer[i]);
            step(s[3]);
            buffer[i] = s[3];
        }
        if (!std::isfinite(s[3]) || !std::isfinite(s[0])) s[0] = s[1] = s[2] = s[3] = 0.0f;
    }
};

uint32_t bits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Same bits, or NaN on both sides (the payload may differ).
::testing::AssertionResult sameSample(float expected, float actual) {
    if (bits(expected) == bits(actual) || (std::isnan(expected) && std::isnan(actual)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << expected << " (0x" << std::hex << bits(expected) << "), got "
                                         << actual << " (0x" << bits(actual) << ")";
}

// Runs `blocks` blocks of `fill` through both and compares every output and
// the states after every block.
template <typename Fill>
void expectSameAsReference(float hz, float resonance, int blocks, Fill fill) {
    LadderFilter ladder;
    ReferenceLadder reference;
    ladder.setCutoff(hz, resonance);
    reference.g = ladder.g;
    reference.k = ladder.k;
    float a[64], b[64];
    for (int n = 0; n < blocks; ++n) {
        fill(a, n);
        std::memcpy(b, a, sizeof a);
        ladder.process(a);
        reference.process(b);
        for (int i = 0; i < 64; ++i) ASSERT_TRUE(sameSample(b[i], a[i])) << "block " << n << " sample " << i;
        const float states[4] = {ladder.s1, ladder.s2, ladder.s3, ladder.s4};
        for (int j = 0; j < 4; ++j) ASSERT_TRUE(sameSample(reference.s[j], states[j])) << "block " << n << " s" << j + 1;
    }
}

TEST(LadderKernel, BitIdenticalToTheStepwiseFormulasOverLevelsCutoffsAndResonance) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    // From far below the knee of the saturation to far past it, where the
    // double difference is no longer exact in float.
    for (float level : {1e-4f, 0.05f, 1.0f, 30.0f, 1e7f, 1e30f})
        for (float hz : {20.0f, 2000.0f, 15000.0f, 1e6f})
            for (float resonance : {0.0f, 0.3f, 1.0f}) {
                SCOPED_TRACE(::testing::Message() << "level " << level << " hz " << hz << " resonance " << resonance);
                expectSameAsReference(hz, resonance, 40, [&](float* x, int) {
                    for (int i = 0; i < 64; ++i) x[i] = level * uniform(rng);
                });
            }
    // Held input and silence after it: the decay towards zero.
    expectSameAsReference(500.0f, 0.9f, 200, [](float* x, int n) {
        for (int i = 0; i < 64; ++i) x[i] = n < 20 ? 0.7f : (n < 30 ? -0.0f : 0.0f);
    });
}

TEST(LadderKernel, SignedZeroStateAndNonFiniteInputMatchTheFormulas) {
    // A stage state of -0 is where the second step's dropped feedback term
    // would make a difference before the saturation.
    LadderFilter ladder;
    ReferenceLadder reference;
    ladder.setCutoff(1000.0f, 0.8f);
    reference.g = ladder.g;
    reference.k = ladder.k;
    ladder.s1 = ladder.s2 = ladder.s3 = ladder.s4 = -0.0f;
    for (float& s : reference.s) s = -0.0f;
    float a[64] = {}, b[64] = {};
    for (int i = 0; i < 64; i += 2) a[i] = b[i] = -0.0f;
    ladder.process(a);
    reference.process(b);
    for (int i = 0; i < 64; ++i) ASSERT_TRUE(sameSample(b[i], a[i])) << i;

    // Infinity or NaN inside a block: the outputs agree, and both come back
    // to rest at zero for the next block.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float bad : {inf, -inf, nan}) {
        SCOPED_TRACE(bad);
        expectSameAsReference(3000.0f, 0.5f, 3, [&](float* x, int n) {
            for (int i = 0; i < 64; ++i) x[i] = 0.25f * std::sin(0.3f * float(i));
            if (n == 1) x[17] = bad;
        });
        LadderFilter ladder2;
        ladder2.setCutoff(3000.0f, 0.5f);
        float x[64] = {};
        x[5] = bad;
        ladder2.process(x);
        EXPECT_EQ(ladder2.s1, 0.0f);
        EXPECT_EQ(ladder2.s4, 0.0f);
        EXPECT_TRUE(std::isnan(x[63]) || std::isinf(x[63]));
    }
}

}  // namespace

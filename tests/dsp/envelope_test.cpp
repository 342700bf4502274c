#include "dsp/AHDEnvelope.h"
#include "dsp/GainRamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// One block the way the engines drive an envelope.
float runBlock(AHDEnvelope& env, float a, float h, float d, float end) {
    env.setTimes(a, h, d, end);
    env.tick();
    float out[64];
    env.fill(out);
    for (float v : out) EXPECT_TRUE(std::isfinite(v));
    return out[63];
}

}  // namespace

TEST(AHDEnvelope, AttackAndDecayRoundToWholeBlocks) {
    AHDEnvelope env;
    env.trigger(1.0f, 0.0f);
    env.setTimes(10.0f, 0.0f, 200.0f, 0.0f);
    EXPECT_EQ(env.state, AHDEnvelope::Attack);
    EXPECT_EQ(env.attackSamples, 448u);
    EXPECT_EQ(env.decaySamples, 9600u);
    EXPECT_FLOAT_EQ(env.increment, 1.0f / 448.0f);

    int attackBlocks = 0, decayBlocks = 0, blocks = 0;
    float last = 0.0f;
    while (env.running && blocks < 1000) {
        env.setTimes(10.0f, 0.0f, 200.0f, 0.0f);
        env.tick();
        if (!env.running) break;
        attackBlocks += env.state == AHDEnvelope::Attack;
        decayBlocks += env.state == AHDEnvelope::Decay;
        EXPECT_NE(env.state, AHDEnvelope::Hold);  // zero hold is skipped
        float out[64];
        env.fill(out);
        if (blocks == 6) {
            EXPECT_NEAR(out[63], 1.0f, 1e-5);
        }
        last = out[63];
        ++blocks;
    }
    EXPECT_EQ(attackBlocks, 7);
    EXPECT_EQ(decayBlocks, 150);
    EXPECT_NEAR(last, 0.0f, 1e-4);
    EXPECT_EQ(env.state, AHDEnvelope::Idle);
    EXPECT_FALSE(env.running);
    EXPECT_EQ(env.value, 0.0f);
}

TEST(AHDEnvelope, DelayAndShortAttack) {
    AHDEnvelope env;
    env.setTimes(1.0f, 100.0f, 100.0f, 0.0f);  // attack under one block
    env.trigger(0.8f, 10.0f);                  // 480 samples: 7 blocks of delay
    int delayBlocks = 0;
    for (int b = 0; b < 8; ++b) {
        runBlock(env, 1.0f, 100.0f, 100.0f, 0.0f);
        delayBlocks += env.state == AHDEnvelope::Delay && env.value == 0.0f;
    }
    EXPECT_EQ(delayBlocks, 7);
    EXPECT_EQ(env.state, AHDEnvelope::Hold);
    EXPECT_FLOAT_EQ(env.value, 0.8f);
}

TEST(AHDEnvelope, ShortenedAttackEndsWithinTheReleaseTime) {
    AHDEnvelope env;
    env.trigger(1.0f, 0.0f);
    for (int b = 0; b < 10; ++b) runBlock(env, 100.0f, 50.0f, 100.0f, 0.0f);  // 75-block attack
    ASSERT_EQ(env.state, AHDEnvelope::Attack);
    env.setTimes(10.0f, 50.0f, 100.0f, 0.0f);  // 7 blocks, 10 already done
    EXPECT_GE(env.increment, 0.0f);             // never reversed or wrapped
    EXPECT_LE(env.increment, 1.0f / 64.0f);
    int blocks = 0;
    while (env.state == AHDEnvelope::Attack && blocks < 10) {
        runBlock(env, 10.0f, 50.0f, 100.0f, 0.0f);
        EXPECT_GE(env.increment, 0.0f);
        ++blocks;
    }
    EXPECT_LE(blocks, 3);
    EXPECT_EQ(env.state, AHDEnvelope::Hold);
    EXPECT_FLOAT_EQ(env.value, 1.0f);

    // A new length of two blocks or less moves straight on.
    env.trigger(1.0f, 0.0f);
    for (int b = 0; b < 10; ++b) runBlock(env, 100.0f, 50.0f, 100.0f, 0.0f);
    runBlock(env, 2.0f, 50.0f, 100.0f, 0.0f);
    EXPECT_EQ(env.state, AHDEnvelope::Hold);
}

// Voices repeat the same times block after block and the envelope reuses
// its last conversion; any change, back to an earlier value too, must reach
// the segment lengths at once.
TEST(AHDEnvelope, SegmentLengthsFollowEveryChangeOfTimes) {
    auto samples = [](float ms) {
        const uint32_t n = uint32_t(ms * 0.001f * 48000.0f);
        return n - n % 64;
    };
    AHDEnvelope env;
    env.trigger(1.0f, 0.0f);
    const float times[][3] = {{100.0f, 0.0f, 300.0f}, {100.0f, 0.0f, 300.0f}, {40.0f, 0.0f, 300.0f},
                              {100.0f, 0.0f, 300.0f}, {100.0f, 20.0f, 300.0f}, {100.0f, 20.0f, 2.0f},
                              {100.0f, -0.0f, 500.0f}, {100.0f, 0.0f, 500.0f}};
    for (int b = 0; b < 60; ++b) {
        const float* t = times[(b / 3) % 8];
        runBlock(env, t[0], t[1], t[2], 0.0f);
        ASSERT_EQ(env.attackSamples, samples(t[0])) << b;
        ASSERT_EQ(env.holdSamples, samples(t[1])) << b;
        ASSERT_EQ(env.decaySamples, samples(t[2])) << b;
        const uint32_t current[] = {0, env.attackSamples, env.holdSamples, env.decaySamples};
        if (env.state >= AHDEnvelope::Attack && env.state <= AHDEnvelope::Decay) {
            ASSERT_EQ(env.segmentLength, int32_t(current[env.state] / 64)) << b;
        }
    }
    // A new delay and a new release length are used by the same envelope.
    env.trigger(1.0f, 30.0f);
    EXPECT_EQ(env.state, AHDEnvelope::Delay);
    EXPECT_EQ(env.segmentLength, 22);
    env.fastRelease(640);
    EXPECT_EQ(env.segmentLength, 10);
    env.trigger(1.0f, 0.0f);
    env.setTimes(100.0f, 0.0f, 500.0f, 0.0f);
    EXPECT_EQ(env.state, AHDEnvelope::Attack);
    EXPECT_EQ(env.segmentLength, 75);
}

TEST(AHDEnvelope, FastReleaseFromDecay) {
    AHDEnvelope env;
    env.trigger(1.0f, 0.0f);
    for (int b = 0; b < 20; ++b) runBlock(env, 2.0f, 2.0f, 1000.0f, 0.5f);
    ASSERT_EQ(env.state, AHDEnvelope::Decay);
    float before = env.value;
    env.fastRelease(256);
    EXPECT_EQ(env.state, AHDEnvelope::Release);
    EXPECT_NEAR(env.increment, -before / 256.0f, 1e-7);
    for (int b = 0; b < 4; ++b) runBlock(env, 2.0f, 2.0f, 1000.0f, 0.5f);
    EXPECT_NEAR(env.value, 0.0f, 1e-5);
    runBlock(env, 2.0f, 2.0f, 1000.0f, 0.5f);
    EXPECT_EQ(env.state, AHDEnvelope::Idle);
    EXPECT_FALSE(env.running);
    // Faded out: it does not jump back to the decay's end level.
    EXPECT_EQ(env.value, 0.0f);
    EXPECT_EQ(runBlock(env, 2.0f, 2.0f, 1000.0f, 0.5f), 0.0f);

    env.fastRelease(256);  // idle: nothing happens
    EXPECT_EQ(env.state, AHDEnvelope::Idle);
}

TEST(AHDEnvelope, ReleaseShorterThanABlockReachesIdle) {
    for (uint32_t samples : {0u, 32u}) {
        AHDEnvelope env;
        env.trigger(1.0f, 0.0f);
        for (int b = 0; b < 5; ++b) runBlock(env, 100.0f, 0.0f, 100.0f, 0.3f);
        env.fastRelease(samples);
        EXPECT_FALSE(env.running);
        for (int b = 0; b < 10; ++b) {
            EXPECT_EQ(runBlock(env, 100.0f, 0.0f, 100.0f, 0.3f), 0.0f);
            EXPECT_EQ(env.state, AHDEnvelope::Idle);
        }
    }
}

TEST(AHDEnvelope, OversizedIncrementIsLimitedAndReported) {
    AHDEnvelope env;
    env.setTimes(2.0f, 100.0f, 100.0f, 0.0f);  // 96 samples: one block of attack
    testing::internal::CaptureStdout();
    env.trigger(2.0f, 0.0f);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("AHD increment too big for a segment:"), std::string::npos);
    EXPECT_FLOAT_EQ(env.increment, 1.0f / 64.0f);
    env.tick();
    float out[64];
    env.fill(out);
    EXPECT_FLOAT_EQ(out[63], 1.0f);
    env.setTimes(2.0f, 100.0f, 100.0f, 0.0f);
    env.tick();
    EXPECT_EQ(env.state, AHDEnvelope::Hold);
    EXPECT_FLOAT_EQ(env.value, 2.0f);
}

TEST(AHDEnvelope, OutOfRangeTimesSaturate) {
    AHDEnvelope env;
    env.setTimes(-5.0f, NAN, 1e12f, 0.0f);
    EXPECT_EQ(env.attackSamples, 0u);
    EXPECT_EQ(env.holdSamples, 0u);
    EXPECT_EQ(env.decaySamples % 64, 0u);
    EXPECT_GT(env.decaySamples, 4000000000u);
}

TEST(LinearRamp, QuarticGainEndPoints) {
    LinearRamp ramp;
    ramp.level = 1.0f;
    ramp.increment = 1.0f / 64.0f;
    float buffer[64];
    for (float& s : buffer) s = 1.0f;
    ramp.applyQuarticGain(buffer, 0.5f);
    EXPECT_FLOAT_EQ(buffer[0], std::pow(1.0f / 64.0f, 4.0f) * 0.5f);
    EXPECT_FLOAT_EQ(buffer[31], 0.0625f * 0.5f);
    EXPECT_FLOAT_EQ(buffer[63], 0.5f);
}

TEST(LinearRamp, ClampKneeAndAdvance) {
    LinearRamp ramp;
    ramp.level = 0.5f;
    ramp.value = 3.0f;
    EXPECT_FLOAT_EQ(ramp.advance(), 0.5f);  // clamped to level first
    ramp.value = -1.0f;
    ramp.increment = 0.001f;
    EXPECT_FLOAT_EQ(ramp.advance(), 0.064f);

    // Knee 0.25: [0, 0.75] maps onto [0, 0.25], [0.75, 1] onto [0.25, 1].
    for (auto [v, gain] : {std::pair{0.5f, 0.5f / 3.0f}, {0.9f, 0.7f}, {0.75f, 0.25f}}) {
        LinearRamp window;
        window.level = 1.0f;
        window.value = v;
        float buffer[64];
        std::fill(buffer, buffer + 64, 1.0f);
        window.applyKnee(buffer, 0.25f);
        EXPECT_NEAR(buffer[0], gain, 1e-5) << v;
    }
}

TEST(GainRamp, RampsInWholeBlocks) {
    GainRamp ramp{0, 0, 64, 1.0f, 0.0f, 0.0f};
    ramp.set(100, 1.0f);
    float block[64];
    for (float& s : block) s = 1.0f;
    ramp.apply(block);
    EXPECT_EQ(block[0], 0.0f);
    EXPECT_NEAR(block[63], 0.63f, 1e-5);
    for (float& s : block) s = 1.0f;
    ramp.apply(block);
    EXPECT_NEAR(block[63], 1.27f, 1e-5);
    EXPECT_FALSE(ramp.rampActive);
    EXPECT_EQ(ramp.gain, 1.0f);

    ramp.set(0, 0.0f);  // at once
    ramp.apply(block);
    EXPECT_EQ(block[5], 0.0f);
}

// A voice slot that only ever got a slide holds envelopes never triggered:
// they count as idle, even after a fast release, so the voice ends.
TEST(AHDEnvelope, NeverTriggeredCountsAsIdle) {
    AHDEnvelope e;
    EXPECT_TRUE(e.isIdle());
    e.fastRelease(256);
    for (int i = 0; i < 8; ++i) e.tick();
    EXPECT_TRUE(e.isIdle());
    e.trigger(1.0f, 0.0f);
    e.tick();
    EXPECT_FALSE(e.isIdle());
}

// The delay measured by impulse responses.
#include "EffectTestSupport.h"
#include "effects/DelayFX.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

float gBpm = 120.0f;
TempoReading fakeTempo() { return {gBpm, 0}; }

struct DelaySetup {
    std::shared_ptr<DelayFX> fx = std::make_shared<DelayFX>();
    TempoReader previous = DelayFX::tempoReader.load();
    explicit DelaySetup(int algorithm, bool synced, float ms, int pingpong = 0) {
        DelayFX::tempoReader = &fakeTempo;
        fx->algo.setValue(algorithm, true);
        fx->sync.setValue(synced ? 1 : 0, true);
        fx->type.setValue(pingpong, true);
        fx->time.setValue(ms, true);
        fxtest::settleParameters(*fx);
    }
    ~DelaySetup() { DelayFX::tempoReader = previous; }
};

// An impulse after a 1024-sample settle; the output from the impulse on.
std::vector<float> impulseResponse(DelayFX& fx, size_t length) {
    std::vector<float> in(1024 + length, 0.0f);
    in[1024] = 1.0f;
    std::vector<float> out = fxtest::renderChannel(fx, in, 0);
    return {out.begin() + 1024, out.begin() + 1024 + long(length)};
}

size_t loudest(const std::vector<float>& v, size_t from, size_t to) {
    size_t at = from;
    for (size_t i = from; i < to && i < v.size(); ++i)
        if (std::fabs(v[i]) > std::fabs(v[at]))
            at = i;
    return at;
}

}  // namespace

TEST(Delay, CleanEchoesAtTheDelayPlusOneWithFeedbackGains) {
    DelaySetup s(DelayFX::Clean, false, 375.0f, 0);
    const std::vector<float> out = impulseResponse(*s.fx, 4 * 18001 + 10);
    EXPECT_EQ(out[0], 0.0f);  // all wet
    for (int k = 1; k <= 4; ++k) {
        EXPECT_NEAR(fxtest::dB(out[size_t(k) * 18001]), fxtest::dB(std::pow(0.5, k - 1)), 0.05) << k;
        EXPECT_LT(std::fabs(out[size_t(k) * 18001 - 1]) + std::fabs(out[size_t(k) * 18001 + 1]), 1e-6f) << k;
    }
}

TEST(Delay, SyncedTimeLongerThanTheLineIsHeldInsideIt) {
    DelaySetup s(DelayFX::Clean, true, 600.0f, 0);
    s.fx->interval.setValue(16.0f, true);
    s.fx->feedback.setValue(100.0f, true);  // percent
    fxtest::settleParameters(*s.fx);
    gBpm = 39.0f;
    const std::vector<float> out = impulseResponse(*s.fx, DelayFX::kLineLength + 100);
    float early = 0.0f;
    for (size_t i = 1; i < DelayFX::kLineLength; ++i)
        early = std::max(early, std::fabs(out[i]));
    EXPECT_EQ(early, 0.0f);  // never a one-sample loop
    EXPECT_NEAR(out[DelayFX::kLineLength], 1.0f, 1e-6f);

    // A tempo of 0 holds the previous delay and stays finite.
    gBpm = 0.0f;
    std::vector<float> more = impulseResponse(*s.fx, 2048);
    for (float v : more)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_EQ(s.fx->delaySamples[0].load(), 147692u);
    gBpm = 120.0f;
}

TEST(Delay, BucketAtFullRateEchoesAfterItsStages) {
    DelaySetup s(DelayFX::Bucket, false, 600.0f, 0);
    s.fx->multiplier.setValue(8.0f, true);
    fxtest::settleParameters(*s.fx);
    const std::vector<float> out = impulseResponse(*s.fx, 6000);
    const size_t at = loudest(out, 1, out.size());
    EXPECT_GE(at, 4094u);
    EXPECT_LE(at, 4100u);
}

TEST(Delay, NormalKeepsASilentChannelPlayingWhileItRings) {
    DelaySetup s(DelayFX::Clean, false, 10.0f, 0);
    s.fx->feedback.setValue(0.0f, true);
    fxtest::settleParameters(*s.fx);
    std::vector<float> in(1024, 0.0f);
    in[1000] = 1.0f;
    fxtest::renderChannel(*s.fx, in, 0);
    int playing = 0;
    for (int b = 0; b < 40; ++b) {
        AudioBlock block;
        block.channelState[0] = ChannelState::Silent;
        s.fx->process(block);
        playing += block.channelState[0] == ChannelState::Playing;
        EXPECT_EQ(block.channelState[1], ChannelState::Vacant);
    }
    // The 480-sample echo leaves the line after about 144400 samples of zeros
    // have been counted: every block until then rings.
    EXPECT_EQ(playing, 40);
    for (int b = 0; b < 2300; ++b) {
        AudioBlock block;
        block.channelState[0] = ChannelState::Silent;
        s.fx->process(block);
    }
    AudioBlock last;
    last.channelState[0] = ChannelState::Silent;
    s.fx->process(last);
    EXPECT_EQ(last.channelState[0], ChannelState::Silent);
}

TEST(Delay, RemapFollowsSyncAndAlgorithm) {
    DelayFX fx;
    EXPECT_EQ(fx.encoderParameters[0], &fx.interval);
    fx.sync.setValue(0, true);
    fx.algo.setValue(DelayFX::Bucket, true);
    fx.remapParameters();
    EXPECT_EQ(fx.encoderParameters[0], &fx.time);
    EXPECT_EQ(fx.encoderParameters[2], &fx.multiplier);
}

TEST(Delay, AnalogWowStaysInsideItsCycle) {
    DelaySetup s(DelayFX::Analog, false, 50.0f, 0);
    const std::vector<float> out = fxtest::renderChannel(*s.fx, fxtest::sine(300.0, 48000 * 5), 0);
    for (float v : out)
        ASSERT_TRUE(std::isfinite(v));
    // The walk drifts both ways; the phase always stays a place in the table.
    EXPECT_GE(s.fx->wobblePhase[0], 0.0f);
    EXPECT_LT(s.fx->wobblePhase[0], 1.0f);
    // 50 ms, moved by the wow within its depth.
    EXPECT_GE(s.fx->delaySamples[0].load(), 2300u);
    EXPECT_LE(s.fx->delaySamples[0].load(), 2500u);
}

// The clean echo's block form against the lines stepped one sample at a
// time, from the same state: equal to the bit, quiet counts included, across
// a lap of the buffer and with the echo passed along the channels.
TEST(Delay, CleanBlockFormMatchesTheSampleStepBitForBit) {
    auto fx = std::make_unique<DelayFX>();
    fx->feedback.setValue(70.0f, true);
    fx->dryWet.setValue(30.0f, true);
    fxtest::settleParameters(*fx);
    uint64_t n = 0;
    auto fill = [&](AudioBlock& block) {
        for (uint32_t c = 0; c < 8; ++c) {
            block.channelState[c] = ChannelState::Playing;
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) {
                const bool quiet = (n / 5000 + c) % 3 == 0;
                block.channel(c)[i] = quiet ? 0.0f : float(0.4 * std::sin(0.002 * double((n + i) * (c + 2))));
            }
        }
        n += AudioBlock::kFrames;
    };
    for (int b = 0; b < 40; ++b) {  // past the first jump of the taps
        AudioBlock block;
        fill(block);
        fx->process(block);
    }
    std::vector<DelayLine> lines = fx->delayLines;
    std::vector<float> crossfeed = fx->crossfeed;
    const float f = fx->feedback.output, x = fx->dryWet.output;
    const float wet = std::sqrt(x), dry = std::sqrt(1.0f - x);
    uint64_t mismatches = 0;
    for (int b = 0; b < 2400; ++b) {
        AudioBlock block;
        fill(block);
        AudioBlock expected = block;
        for (uint32_t c = 0; c < 8; ++c) {
            DelayLine& line = lines[c];
            const uint32_t tap = std::min(line.currentTap, line.size() - 1);
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) {
                const float in = block.channel(c)[i];
                const float echo = line.fadeGain * line.read(tap);
                const float F = crossfeed[i];
                crossfeed[i] = echo;
                line.writeCountingQuiet(in + f * F);
                expected.channel(c)[i] = wet * echo + dry * in;
            }
        }
        fx->process(block);
        for (uint32_t k = 0; k < 8 * AudioBlock::kFrames; ++k)
            mismatches += block.samples[k] != expected.samples[k];
        for (uint32_t c = 0; c < 8; ++c)
            mismatches += fx->delayLines[c].quietCount != lines[c].quietCount;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(std::fabs(fx->delayLines[5].read(100)), 1e-3f);
}

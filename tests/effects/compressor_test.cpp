// The compressor's static curve, measured on settled DC.
#include "EffectTestSupport.h"
#include "dsp/FastLog.h"
#include "effects/CompressorFX.h"

#include <gtest/gtest.h>

namespace {

// Output level in dB of a DC input at `inDb` after a second.
double staticLevel(CompressorFX& fx, double inDb) {
    const std::vector<float> in(48000, float(std::pow(10.0, inDb / 20.0)));
    return fxtest::dB(fxtest::renderChannel(fx, in, 3).back());
}

}  // namespace

TEST(Compressor, StaticCurveFollowsTheFeedbackSlope) {
    CompressorFX fx;
    fx.threshold.setValue(-20.0f, true);
    fx.ratio.setValue(3, true);  // "4:1"
    fxtest::settleParameters(fx);
    EXPECT_NEAR(staticLevel(fx, 0.0), -8.57, 0.1);
    EXPECT_NEAR(staticLevel(fx, -10.0), -14.29, 0.1);
    EXPECT_NEAR(staticLevel(fx, -30.0), -30.0, 0.1);
    fx.ratio.setValue(8, true);  // "80:1"
    EXPECT_NEAR(staticLevel(fx, 0.0), -9.94, 0.1);
    EXPECT_EQ(fx.ratio.toString(), "80:1");

    fx.ratio.setValue(0, true);  // "1:1": the output gain only
    fx.output.setValue(-6.0f, true);
    fxtest::settleParameters(fx);
    EXPECT_NEAR(staticLevel(fx, 0.0), -6.0, 0.1);
    EXPECT_LT(fx.meterDb[3].load(), 0.0f + 1e-3f);
}

TEST(Compressor, SilentChannelsRelaxAndAreNotTouched) {
    CompressorFX fx;
    fx.threshold.setValue(-40.0f, true);
    fx.ratio.setValue(8, true);
    fxtest::settleParameters(fx);
    staticLevel(fx, 0.0);
    const float squeezed = fx.meterDb[3].load();
    EXPECT_LT(squeezed, -10.0f);
    AudioBlock block;
    block.channelState[3] = ChannelState::Silent;
    fxtest::fillChannel(block, 3, 0.25f);
    for (int b = 0; b < 1000; ++b)
        fx.process(block);
    EXPECT_EQ(block.channel(3)[5], 0.25f);
    EXPECT_GT(fx.meterDb[3].load(), -0.01f);
}

TEST(Compressor, FastGainMathStaysWithinAHundredthOfADecibel) {
    CompressorFX fx;
    fx.threshold.setValue(-30.0f, true);
    fx.attack.setValue(1.0f, true);
    fx.release.setValue(30.0f, true);
    fx.ratio.setValue(5, true);  // "10:1"
    fxtest::settleParameters(fx);
    std::vector<float> in(48000);
    for (size_t n = 0; n < in.size(); ++n)
        in[n] = float(std::sin(0.013 * double(n)) * (0.5 + 0.5 * std::sin(0.0002 * double(n))));
    const std::vector<float> out = fxtest::renderChannel(fx, in, 0);
    // The same detector in double precision with the library's functions.
    const double slope = 1.0 - 1.0 / 10.0, T = std::pow(10.0, -30.0 / 20.0), R = 30.0 * 48.0, A = 1.0 * 48.0;
    double e = 0.0, p = 0.0, worst = 0.0;
    for (size_t n = 0; n < in.size(); ++n) {
        const double a = std::fabs(p);
        const double target = a >= T ? 20.0 * std::log10(T / a) * slope : 0.0;
        e += (target - e) / (e < target ? R : A);
        const double gain = std::pow(10.0, e * 0.05);
        p = in[n] * gain;
        if (std::fabs(in[n]) > 1e-3f)
            worst = std::max(worst, std::fabs(fxtest::dB(out[n]) - fxtest::dB(p)));
    }
    EXPECT_LT(worst, 0.01);
}

// A silent channel whose neighbour in the same four still sounds relaxes as
// one alone does, and its next quiet note comes out unsqueezed.
TEST(Compressor, SilentChannelBesideASoundingOneRelaxes) {
    CompressorFX fx;
    fxtest::settleParameters(fx);
    AudioBlock block;
    for (int b = 0; b < 200; ++b) {
        block.channelState[0] = ChannelState::Playing;
        block.channelState[3] = ChannelState::Playing;
        fxtest::fillChannel(block, 0, 0.2f);
        fxtest::fillChannel(block, 3, 2.0f);
        fx.process(block);
    }
    ASSERT_LT(fx.meterDb[3].load(), -2.0f);
    for (int b = 0; b < 2000; ++b) {
        block.channelState[3] = ChannelState::Silent;
        fxtest::fillChannel(block, 0, 0.2f);
        fxtest::fillChannel(block, 3, 0.0f);
        fx.process(block);
    }
    EXPECT_GT(fx.meterDb[3].load(), -0.01f);
    block.channelState[3] = ChannelState::Playing;
    fxtest::fillChannel(block, 3, 0.1f);
    fx.process(block);
    EXPECT_NEAR(block.channel(3)[AudioBlock::kFrames - 1], 0.1f, 0.001f);
}

// The block form against the detector stepped sample by sample in the same
// float arithmetic: equal to the bit, through loud bursts, long quiet
// stretches (where the gain rests at 1) and channels falling silent.
TEST(Compressor, BlockFormMatchesTheSampleStepBitForBit) {
    constexpr float kLog2Of10Over20 = 0.16609640474f, kDbPerOctave = 6.02059991f;
    CompressorFX fx;
    fx.threshold.setValue(-20.0f, true);
    fx.attack.setValue(1.0f, true);
    fx.release.setValue(10.0f, true);
    fx.output.setValue(3.0f, true);
    fx.ratio.setValue(3, true);  // "4:1"
    fxtest::settleParameters(fx);
    const float T = fx.threshold.getModulated(0, false, false), Ko = fx.output.getModulated(0, false, false);
    const float perRelease = 1.0f / float(double(fx.release.getValue()) * 48.0);
    const float perAttack = 1.0f / float(double(fx.attack.getValue()) * 48.0);
    const float slope = 1.0f - 1.0f / 4.0f, thresholdDb = kDbPerOctave * fastlog::log2(T);
    float e[8] = {}, p[8] = {};
    bool rested = false;
    uint64_t n = 0, mismatches = 0;
    for (int b = 0; b < 1500; ++b) {
        AudioBlock block;
        for (uint32_t c = 0; c < 8; ++c) {
            const bool loud = (b + 37 * int(c)) % 500 < 30;
            const bool sounding = c == 0 || (b / 200 + c) % 3 != 0;
            block.channelState[c] = sounding ? ChannelState::Playing : ChannelState::Silent;
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
                block.channel(c)[i] = (loud ? 0.9f : 0.05f) * float(std::sin(0.01 * double(n + i) * (c + 1)));
        }
        AudioBlock expected = block;
        for (uint32_t c = 0; c < 8; ++c) {
            const bool active = block.channelState[c] == ChannelState::Playing;
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) {
                const float x = block.channel(c)[i];
                const float a = std::fabs(p[c]);
                const float level = fastlog::log2(a >= T ? a : T);
                const float target = active ? (thresholdDb - kDbPerOctave * level) * slope : 0.0f;
                e[c] += (target - e[c]) * (e[c] < target ? perRelease : perAttack);
                const float compressed = x * fastlog::exp2(e[c] * kLog2Of10Over20);
                if (active) {
                    p[c] = compressed;
                    expected.channel(c)[i] = compressed * Ko;
                }
            }
            rested = rested || (active && std::fabs(e[c]) < 1e-9f);
        }
        fx.process(block);
        for (uint32_t k = 0; k < 8 * AudioBlock::kFrames; ++k)
            mismatches += block.samples[k] != expected.samples[k];
        n += AudioBlock::kFrames;
    }
    EXPECT_TRUE(rested);
    EXPECT_EQ(mismatches, 0u);
}

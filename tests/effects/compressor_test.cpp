// The compressor's static curve, measured on settled DC.
#include "EffectTestSupport.h"
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

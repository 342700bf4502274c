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

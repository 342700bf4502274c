// The degrade: band, bits, and a tape that stays bounded.
#include "EffectTestSupport.h"
#include "effects/DegradeFX.h"

#include <gtest/gtest.h>

#include <memory>

TEST(Degrade, DefaultsPassTheMiddleOfTheBandAndFewBitsSilenceSmallSignals) {
    auto fx = std::make_shared<DegradeFX>();
    fxtest::settleParameters(*fx);
    const std::vector<float> quiet = fxtest::sine(1000.0, 9600, 0.01);
    EXPECT_NEAR(fxtest::toneGainDb(quiet, fxtest::renderChannel(*fx, quiet, 0), 1000.0, 4800), 0.0, 0.1);
    EXPECT_LT(fxtest::toneGainDb(quiet, fxtest::renderChannel(*fx, quiet, 0), 20000.0, 4800), 0.0);

    fx->bits.setValue(4.0f, true);
    fxtest::settleParameters(*fx);
    const std::vector<float> out = fxtest::renderChannel(*fx, fxtest::sine(1000.0, 9600, 0.05), 0);
    for (size_t n = 100; n < out.size(); ++n)
        ASSERT_EQ(out[n], 0.0f) << n;

    AudioBlock block;
    block.channelState[2] = ChannelState::Silent;
    fxtest::fillChannel(block, 2, 0.4f);
    fx->process(block);
    EXPECT_EQ(block.channel(2)[3], 0.4f);
}

TEST(Degrade, FullTapeStaysFiniteAndBounded) {
    auto fx = std::make_shared<DegradeFX>();
    fx->tape.setValue(100.0f, true);
    fx->drive.setValue(100.0f, true);
    fxtest::settleParameters(*fx);
    const std::vector<float> out = fxtest::renderChannel(*fx, fxtest::sine(300.0, 48000 * 10, 0.9), 1);
    for (float v : out)
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 2.0f) << v;
}

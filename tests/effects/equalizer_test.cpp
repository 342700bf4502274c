// The equaliser's response against the shelf it is set to.
#include "EffectTestSupport.h"
#include "effects/EqualizerFX.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

double gainAt(EqualizerFX& fx, double hz) {
    const std::vector<float> in = fxtest::sine(hz, 96000);
    return fxtest::toneGainDb(in, fxtest::renderChannel(fx, in, 2), hz, 48000);
}

}  // namespace

TEST(Equalizer, LowShelfBoost) {
    auto fx = std::make_shared<EqualizerFX>();
    fx->lowGain.setValue(12.0f, true);
    fxtest::settleParameters(*fx);
    EXPECT_NEAR(gainAt(*fx, 20.0), 11.96, 0.2);
    EXPECT_NEAR(gainAt(*fx, 100.0), 6.0, 0.2);
    EXPECT_NEAR(gainAt(*fx, 1000.0), 0.0, 0.2);
}

TEST(Equalizer, FlatIsAThreeSampleDelayAndSilentChannelsAreUntouched) {
    auto fx = std::make_shared<EqualizerFX>();
    fxtest::settleParameters(*fx);
    std::vector<float> in(640);
    for (size_t n = 0; n < in.size(); ++n)
        in[n] = std::sin(0.37f * float(n)) + 0.2f * float(n % 7);
    const std::vector<float> out = fxtest::renderChannel(*fx, in, 4);
    for (size_t n = 3; n < in.size(); ++n)
        ASSERT_NEAR(out[n], in[n - 3], 1e-5f) << n;

    AudioBlock block;
    block.channelState[1] = ChannelState::Silent;
    fxtest::fillChannel(block, 1, 0.3f);
    fx->process(block);
    EXPECT_EQ(block.channel(1)[0], 0.3f);
}

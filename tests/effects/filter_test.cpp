// The morphing filter's response measured with tones.
#include "EffectTestSupport.h"
#include "effects/StateVariableFilterFX.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

double gainAt(StateVariableFilterFX& fx, double hz, uint32_t c = 0) {
    const std::vector<float> in = fxtest::sine(hz, 48000);
    return fxtest::toneGainDb(in, fxtest::renderChannel(fx, in, c), hz, 24000);
}

}  // namespace

TEST(FilterEffect, LowPassAtItsCutOffGivesTheResonance) {
    for (float resoPercent : {0.0f, 30.0f}) {
        auto fx = std::make_shared<StateVariableFilterFX>();
        fx->freq.setValue(1000.0f, true);
        fx->reso.setValue(resoPercent, true);
        fxtest::settleParameters(*fx);
        const double q = StateVariableFilterFX::resonance(resoPercent / 100.0f);
        EXPECT_NEAR(gainAt(*fx, 1000.0, 5), fxtest::dB(q), 0.05) << resoPercent;
        EXPECT_NEAR(gainAt(*fx, 10.0, 5), 0.0, 0.05);
        EXPECT_LT(gainAt(*fx, 12000.0, 5), -30.0);
    }
    EXPECT_NEAR(fxtest::dB(StateVariableFilterFX::resonance(0.0f)), -13.98, 0.01);
    EXPECT_NEAR(fxtest::dB(StateVariableFilterFX::resonance(0.3f)), -4.76, 0.01);
}

TEST(FilterEffect, HighPassDryOnlyAndSilentChannels) {
    auto fx = std::make_shared<StateVariableFilterFX>();
    fx->type.setValue(2.0f, true);
    fx->freq.setValue(1000.0f, true);
    fxtest::settleParameters(*fx);
    EXPECT_LT(gainAt(*fx, 50.0), -40.0);
    EXPECT_NEAR(gainAt(*fx, 12000.0), 0.0, 0.1);

    fx->dryWet.setValue(0.0f, true);
    fxtest::settleParameters(*fx);
    EXPECT_NEAR(gainAt(*fx, 50.0), 0.0, 1e-4);

    // Only channels 4-7 sound: the first filter is not run; silent channels are cleared.
    auto quiet = std::make_shared<StateVariableFilterFX>();
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c) {
        fxtest::fillChannel(block, c, 0.5f);
        block.channelState[c] = c == 5 ? ChannelState::Playing : ChannelState::Silent;
    }
    quiet->process(block);
    EXPECT_EQ(quiet->filters[0].ic2eq[0], 0.0f);
    EXPECT_NE(quiet->filters[1].ic2eq[1], 0.0f);
    for (uint32_t c = 0; c < 8; ++c)
        EXPECT_EQ(fxtest::peak(block, c) > 0.0f, c == 5) << c;
    EXPECT_EQ(block.channelState[4], ChannelState::Silent);
}

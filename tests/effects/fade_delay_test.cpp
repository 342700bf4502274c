// The fade delay: states, heads and the echo of a tone.
#include "EffectTestSupport.h"
#include "effects/FadeDelayFX.h"

#include <gtest/gtest.h>

#include <memory>

TEST(FadeDelay, ATonesComesBackAsWindowsAndVacantChannelsFeedNothing) {
    auto fx = std::make_shared<FadeDelayFX>();
    fx->dryWet.setValue(100.0f, true);
    fx->freq.setValue(20.0f, true);
    fxtest::settleParameters(*fx);
    std::vector<float> in = fxtest::sine(500.0, 48000 * 2, 0.2);
    std::fill(in.begin() + 48000, in.end(), 0.0f);
    // The other channels Vacant: the ducker counts every channel that is not.
    const std::vector<float> out = fxtest::renderChannel(*fx, in, 0, ChannelState::Vacant);
    // The echo lies 0.125 s to 1.5 s back: the second after the tone still sounds.
    double energy = 0.0;
    for (size_t n = 48000 + 6000; n < 48000 + 24000; ++n)
        energy += double(out[n]) * out[n];
    EXPECT_GT(std::sqrt(energy / 18000.0), 0.02);
    for (float v : out)
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 1.0f);

    auto empty = std::make_shared<FadeDelayFX>();
    for (int b = 0; b < 200; ++b) {
        AudioBlock block;
        fxtest::fillChannel(block, 3, 0.7f);  // Vacant: never read
        empty->process(block);
        ASSERT_EQ(block.channelState[3], ChannelState::Vacant);
    }
    EXPECT_EQ(*std::max_element(empty->fadeLine.buffer.begin(), empty->fadeLine.buffer.end()), 0.0f);
}

TEST(FadeDelay, ShiftDecidesWhichWindowsGlide) {
    for (float percent : {0.0f, 100.0f}) {
        auto fx = std::make_shared<FadeDelayFX>();
        fx->shift.setValue(percent, true);
        fx->freq.setValue(100.0f, true);
        fxtest::settleParameters(*fx);
        for (int b = 0; b < 100; ++b) {
            AudioBlock block;
            block.channelState[1] = ChannelState::Silent;
            fx->process(block);
            ASSERT_EQ(block.channelState[1], ChannelState::Playing);
        }
        EXPECT_EQ(fx->heads[2].moving + fx->heads[3].moving, percent > 0.0f ? 2u : 0u);
        EXPECT_GE(fx->heads[2].delay.load(), 4000u + 72000u / 800u);
    }
}

// The degrade: band, bits, and a tape that stays bounded.
#include "EffectTestSupport.h"
#include "dsp/Random.h"
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

TEST(Degrade, FourChannelsTogetherMatchOneByOne) {
    // Channels 0-3 all sounding go side by side; with channel 3 silent,
    // channels 0-2 go one by one. A seed per block gives them the same noise.
    AudioBlock together, alone;
    auto render = [](AudioBlock& block, ChannelState third) {
        DSP::noise.seed(Noise::kSeedA, Noise::kSeedB);  // the wow steps drawn at construction
        auto fx = std::make_shared<DegradeFX>();
        fx->tape.setValue(100.0f, true);
        fx->bits.setValue(9.5f, true);
        fx->drive.setValue(40.0f, true);
        fxtest::settleParameters(*fx);
        for (int b = 0; b < 300; ++b) {
            DSP::noise.seed(Noise::kSeedA + uint32_t(b), Noise::kSeedB);
            block = AudioBlock();
            for (uint32_t c = 0; c < 4; ++c) {
                block.channelState[c] = c == 3 ? third : ChannelState::Playing;
                for (uint32_t i = 0; i < 64; ++i)
                    block.channel(c)[i] = 0.8f * std::sin(0.003f * float(b * 64 + int(i)) * float(c + 1));
            }
            fx->process(block);
        }
    };
    render(together, ChannelState::Playing);
    render(alone, ChannelState::Silent);
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < 64; ++i)
            ASSERT_NEAR(together.channel(c)[i], alone.channel(c)[i], 1e-6f) << c << " " << i;
    EXPECT_GT(fxtest::peak(together, 0), 0.1f);
}

// The band split: cut-offs, where tones land, and the tail.
#include "EffectTestSupport.h"
#include "effects/BandSplitFX.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Level in dB of a tone through band channel b.
double bandLevel(BandSplitFX& fx, double hz, uint32_t b) {
    const std::vector<float> in = fxtest::sine(hz, 19200);
    std::vector<float> out;
    for (size_t n = 0; n < in.size(); n += 64) {
        AudioBlock block;
        block.channelState[5] = ChannelState::Playing;
        std::copy(in.begin() + long(n), in.begin() + long(n) + 64, block.channel(5));
        fx.process(block);
        out.insert(out.end(), block.channel(b), block.channel(b) + 64);
    }
    return fxtest::toneGainDb(in, out, hz, 9600);
}

}  // namespace

TEST(Multiband, DefaultCutOffsAndTheBandsOfTones) {
    auto fx = std::make_shared<BandSplitFX>();
    fxtest::settleParameters(*fx);
    const float expected[4] = {220.0f, 440.0f, 880.0f, 1760.0f};
    EXPECT_GT(bandLevel(*fx, 50.0, 0), -1.5);  // a low-pass of resonance 0.36
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_NEAR(fx->cutoffs[i].load(), expected[i], 0.05f) << i;
    EXPECT_LT(bandLevel(*fx, 50.0, 3), -30.0);
    EXPECT_GT(bandLevel(*fx, 6000.0, 3), -1.0);  // the remainder above band 2
    EXPECT_LT(bandLevel(*fx, 6000.0, 0), -40.0);
    EXPECT_EQ(fx->channelState(4), ChannelState::Vacant);
}

TEST(Multiband, BandsWrapAndTheTailLastsEightBlocks) {
    auto fx = std::make_shared<BandSplitFX>();
    fx->bands.setValue(8, true);
    fx->bands.changeBy(1, false, true);
    EXPECT_EQ(fx->bands.value.load(), 2);

    AudioBlock block;
    block.channelState[0] = ChannelState::Playing;
    fxtest::fillChannel(block, 0, 0.5f);
    fx->process(block);
    EXPECT_EQ(block.channelState[0], ChannelState::Started);
    int processed = 0;
    for (int b = 0; b < 20; ++b) {
        AudioBlock quiet;
        quiet.channelState[0] = ChannelState::Silent;
        fx->process(quiet);
        processed += quiet.channelState[1] == ChannelState::Playing;
        EXPECT_EQ(quiet.channelState[2], ChannelState::Vacant);
    }
    EXPECT_EQ(processed, 8);
}

// The stereo pan measured on rendered blocks.
#include "EffectTestSupport.h"
#include "effects/StereoPanFX.h"
#include "tests/support/list_popup.h"

#include <gtest/gtest.h>

namespace {

// DC 1.0 on the given channels in the given state, the others silent.
AudioBlock dcBlock(std::initializer_list<uint32_t> channels, ChannelState state) {
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c)
        block.channelState[c] = ChannelState::Silent;
    for (uint32_t c : channels) {
        fxtest::fillChannel(block, c, 1.0f);
        block.channelState[c] = state;
    }
    return block;
}

// Plays the channels until the smoothed parameters settle; the last block.
AudioBlock settle(StereoPanFX& fx, std::initializer_list<uint32_t> channels) {
    AudioBlock block;
    for (int b = 0; b < 500; ++b) {
        block = dcBlock(channels, ChannelState::Playing);
        fx.process(block);
    }
    return block;
}

}  // namespace

TEST(StereoPan, CentreAndExtremesOnTheChosenPair) {
    StereoPanFX centre;
    AudioBlock out = settle(centre, {3});
    EXPECT_NEAR(out.channel(0)[20], 0.75f, 1e-4f);
    EXPECT_NEAR(out.channel(1)[20], 0.75f, 1e-4f);
    for (uint32_t c = 2; c < 8; ++c)
        EXPECT_TRUE(out.channelState[c] == ChannelState::Vacant && fxtest::peak(out, c) == 0.0f) << c;
    for (float pan : {-1.0f, 1.0f}) {
        StereoPanFX fx;
        fx.pan.setValue(pan, false);
        fx.routing.setValue(7, false);  // "8+1"
        out = settle(fx, {0});
        EXPECT_NEAR(out.channel(pan < 0 ? 7 : 0)[5], 1.0f, 1e-3f) << pan;
        EXPECT_NEAR(out.channel(pan < 0 ? 0 : 7)[5], 0.0f, 1e-3f) << pan;
        EXPECT_EQ(out.channelState[7], ChannelState::Playing);
    }
}

TEST(StereoPan, APlacePastTheEdgeIsNeitherLouderNorInvertedOnTheFarSide) {
    StereoPanFX fx;
    fx.pan.setValue(1.0f, false);
    fx.spread.setValue(100.0f, false);
    fx.movement.setValue(0.0f, false);
    AudioBlock block = dcBlock({0, 1}, ChannelState::Started);
    block.positionCount = 2;
    block.channelPosition[1] = 1;  // +0.95: p would be 1.475
    fx.process(block);
    block = settle(fx, {1});
    EXPECT_NEAR(block.channel(0)[9], 0.0f, 1e-3f);  // not -1.18
    EXPECT_NEAR(block.channel(1)[9], 1.0f, 1e-3f);
}

TEST(StereoPan, AUnisonSpreadStandsItsVoicesApart) {
    StereoPanFX fx;
    fx.spread.setValue(100.0f, false);
    fx.movement.setValue(0.0f, false);
    AudioBlock start = dcBlock({0, 1, 2, 3}, ChannelState::Started);
    start.positionCount = 4;
    for (uint32_t c = 0; c < 4; ++c)
        start.channelPosition[c] = c;
    fx.process(start);
    const float places[4] = {-0.95f, -0.31667f, 0.31667f, 0.95f};
    for (uint32_t c = 0; c < 4; ++c) {
        const AudioBlock out = settle(fx, {c});
        const float p = (1.0f + places[c]) * 0.5f;
        EXPECT_NEAR(out.channel(0)[3], 1.0f - p * p, 2e-3f) << c;
        EXPECT_NEAR(out.channel(1)[3], 1.0f - (1.0f - p) * (1.0f - p), 2e-3f) << c;
    }
}

TEST(StereoPan, ARoutingChosenInTheListMovesTheSoundToThatPair) {
    StereoPanFX fx;
    ASSERT_TRUE(testsupport::chooseInPopup(fx.routing, 4));  // "5+6"
    EXPECT_EQ(fx.routing.toString(), "5+6");
    const AudioBlock out = settle(fx, {0});
    EXPECT_NEAR(out.channel(4)[20], 0.75f, 1e-3f);
    EXPECT_NEAR(out.channel(5)[20], 0.75f, 1e-3f);
    EXPECT_EQ(fxtest::peak(out, 0), 0.0f);
    EXPECT_EQ(fxtest::peak(out, 1), 0.0f);
}

// The stereo pan measured on rendered blocks: gains at the extremes and the
// centre, unison places, routing, level and the low cut.
#include "EffectTestSupport.h"
#include "effects/StereoPanFX.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// One block with DC 1.0 on the given channels in the given state.
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

// Runs enough blocks for the smoothed parameters to settle; returns the last.
AudioBlock settle(StereoPanFX& fx, std::initializer_list<uint32_t> channels) {
    AudioBlock block = dcBlock(channels, ChannelState::Started);
    fx.process(block);
    for (int b = 0; b < 500; ++b) {
        block = dcBlock(channels, ChannelState::Playing);
        fx.process(block);
    }
    return block;
}

}  // namespace

TEST(StereoPan, DefaultsCentreEveryNoteOnTheFirstPair) {
    StereoPanFX fx;
    const AudioBlock out = settle(fx, {3});
    EXPECT_NEAR(out.channel(0)[20], 0.75f, 1e-4f);
    EXPECT_NEAR(out.channel(1)[20], 0.75f, 1e-4f);
    EXPECT_EQ(out.channelState[0], ChannelState::Playing);
    EXPECT_EQ(out.channelState[1], ChannelState::Playing);
    for (uint32_t c = 2; c < 8; ++c) {
        EXPECT_EQ(out.channelState[c], ChannelState::Vacant) << c;
        EXPECT_EQ(fxtest::peak(out, c), 0.0f) << c;
    }
    EXPECT_EQ(out.positionCount, 1u);
}

TEST(StereoPan, PanExtremesPutTheNoteOnOneSideOnly) {
    for (float pan : {-1.0f, 1.0f}) {
        StereoPanFX fx;
        fx.pan.setValue(pan, false);
        const AudioBlock out = settle(fx, {0});
        const float left = out.channel(0)[5], right = out.channel(1)[5];
        EXPECT_NEAR(pan < 0 ? left : right, 1.0f, 1e-3f) << pan;
        EXPECT_NEAR(pan < 0 ? right : left, 0.0f, 1e-3f) << pan;
    }
}

TEST(StereoPan, APlacePastTheEdgeIsNeitherLouderNorInvertedOnTheFarSide) {
    StereoPanFX fx;
    fx.pan.setValue(1.0f, false);
    fx.spread.setValue(100.0f, false);
    fx.movement.setValue(0.0f, false);
    AudioBlock block = dcBlock({0, 1}, ChannelState::Started);
    block.positionCount = 2;
    block.channelPosition[0] = 0;
    block.channelPosition[1] = 1;  // +0.95: p would be 1.475
    fx.process(block);
    for (int b = 0; b < 500; ++b) {
        block = dcBlock({1}, ChannelState::Playing);
        fx.process(block);
    }
    EXPECT_NEAR(block.channel(0)[9], 0.0f, 1e-3f);  // not -1.18
    EXPECT_NEAR(block.channel(1)[9], 1.0f, 1e-3f);
    EXPECT_LE(fx.panPosition[1].load(), 1.0f);
    float l, r;
    StereoPanFX::panGains(1.5f, l, r);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(r, 1.0f);
    StereoPanFX::panGains(-0.5f, l, r);
    EXPECT_EQ(l, 1.0f);
    EXPECT_EQ(r, 0.0f);
}

TEST(StereoPan, AUnisonSpreadStandsItsVoicesApart) {
    StereoPanFX fx;
    fx.spread.setValue(100.0f, false);
    fx.movement.setValue(0.0f, false);
    AudioBlock start;
    start.positionCount = 4;
    for (uint32_t c = 0; c < 4; ++c) {
        start.channelState[c] = ChannelState::Started;
        start.channelPosition[c] = c;
    }
    fx.process(start);
    const float places[4] = {-0.95f, -0.31667f, 0.31667f, 0.95f};
    for (uint32_t c = 0; c < 4; ++c)
        EXPECT_NEAR(fx.notePosition[c], places[c], 1e-4f) << c;

    float lastBalance = -2.0f;
    for (uint32_t c = 0; c < 4; ++c) {
        AudioBlock out;
        for (int b = 0; b < 300; ++b) {  // "spread" and "output" settle
            out = dcBlock({c}, ChannelState::Playing);
            fx.process(out);
        }
        const float left = out.channel(0)[3], right = out.channel(1)[3];
        const float p = (1.0f + places[c]) * 0.5f;
        EXPECT_NEAR(left, 1.0f - p * p, 2e-3f) << c;
        EXPECT_NEAR(right, 1.0f - (1.0f - p) * (1.0f - p), 2e-3f) << c;
        const float balance = (right - left) / (right + left);
        EXPECT_GT(balance, lastBalance + 0.2f) << c;
        lastBalance = balance;
    }
}

TEST(StereoPan, RoutingEightPlusOneWrapsToTheFirstChannel) {
    StereoPanFX fx;
    fx.routing.setValue(7, false);
    fx.pan.setValue(-1.0f, false);
    const AudioBlock out = settle(fx, {2});
    EXPECT_NEAR(out.channel(7)[0], 1.0f, 1e-3f);
    EXPECT_NEAR(out.channel(0)[0], 0.0f, 1e-3f);
    EXPECT_EQ(out.channelState[7], ChannelState::Playing);
    EXPECT_EQ(out.channelState[0], ChannelState::Playing);
    EXPECT_EQ(out.channelState[1], ChannelState::Vacant);
}

TEST(StereoPan, TheLowestOutputIsSilenceWhileTheStatesFollowTheInput) {
    StereoPanFX fx;
    fx.output.setValue(-48.0f, false);
    const AudioBlock out = settle(fx, {4});
    EXPECT_NEAR(fxtest::peak(out, 0), 0.0f, 1e-6f);
    EXPECT_EQ(out.channelState[0], ChannelState::Playing);
    AudioBlock quiet = dcBlock({}, ChannelState::Silent);
    fx.process(quiet);
    EXPECT_EQ(quiet.channelState[0], ChannelState::Silent);
    EXPECT_EQ(quiet.channelState[2], ChannelState::Vacant);
}

TEST(StereoPan, TheLowCutRemovesAnOffsetAndStopsAtOnceWhenSwitchedOff) {
    StereoPanFX fx;
    fx.lowCut.setValue(1, false);  // 100 Hz
    const AudioBlock filtered = settle(fx, {0});
    EXPECT_LT(fxtest::peak(filtered, 0), 1e-3f);
    EXPECT_LT(fxtest::peak(filtered, 1), 1e-3f);
    fx.lowCut.setValue(0, false);
    AudioBlock next = dcBlock({0}, ChannelState::Playing);
    fx.process(next);
    EXPECT_NEAR(next.channel(0)[0], 0.75f, 1e-3f);
}

TEST(StereoPan, SilenceInIsSilenceOut) {
    StereoPanFX fx;
    AudioBlock block = dcBlock({}, ChannelState::Silent);
    fxtest::fillChannel(block, 0, 0.5f);  // a silent channel's leftovers
    fx.process(block);
    EXPECT_EQ(fxtest::peak(block, 0), 0.0f);
    EXPECT_EQ(block.channelState[0], ChannelState::Silent);
    EXPECT_EQ(block.channelState[1], ChannelState::Silent);
    EXPECT_EQ(block.channelState[5], ChannelState::Vacant);
}

// The circle pan: where a note lands on the ring and with what gains.
#include "EffectTestSupport.h"
#include "effects/CirclePanFX.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

namespace {

AudioBlock noteOn(uint32_t c, ChannelState s = ChannelState::Started) {
    AudioBlock block;
    block.channelState[c] = s;
    fxtest::fillChannel(block, c, 1.0f);
    return block;
}

}  // namespace

TEST(CirclePan, DefaultsPlaceANoteOnTheMiddleOutput) {
    CirclePanFX fx;
    AudioBlock block = noteOn(1);
    fx.process(block);
    for (uint32_t c = 0; c < 8; ++c)
        EXPECT_EQ(block.channel(c)[10], c == 4 ? 1.0f : 0.0f) << c;
    EXPECT_EQ(block.channelState[4], ChannelState::Started);
    EXPECT_EQ(block.channelState[0], ChannelState::Silent);

    // Pan 1 wraps to the first output of a window 7, 8, 1, 2 (ring order 0, 1, 6, 7).
    fx.pan.setValue(1.0f, true);
    fx.routing.setValue(7, true);
    fx.channels.setValue(4, true);
    fxtest::settleParameters(fx);
    block = noteOn(3);
    fx.process(block);
    EXPECT_EQ(block.channel(0)[0], 1.0f);
    for (uint32_t c = 2; c <= 5; ++c)
        EXPECT_EQ(block.channelState[c], ChannelState::Vacant) << c;
}

TEST(CirclePan, NeighbourGainsKeepThePowerAndTheRingIsDrawnOnlyOnceBuilt) {
    MonoGFX gfx;
    gfx.init(256, 64);
    CirclePanFX fx;
    fx.drawHeader(&gfx, 0, 0, 0, true, true);  // no ring yet: no division by zero
    fx.spread.setValue(100.0f, true);
    fx.movement.setValue(100.0f, true);
    fxtest::settleParameters(fx);
    for (int b = 0; b < 300; ++b) {
        AudioBlock block = noteOn(2, b == 0 ? ChannelState::Started : ChannelState::Playing);
        fx.process(block);
        double power = 0.0;
        for (uint32_t c = 0; c < 8; ++c)
            power += double(block.channel(c)[0]) * block.channel(c)[0];
        ASSERT_NEAR(power, 1.0, 1e-5) << b;
    }
    fx.drawHeader(&gfx, 0, 0, 0, true, true);
    EXPECT_EQ(fx.outputCount.load(), 8u);
}

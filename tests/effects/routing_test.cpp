// The mono sum and the reroute: where the samples and states go.
#include "EffectTestSupport.h"
#include "effects/MonoSumFX.h"
#include "effects/ReRouteFX.h"

#include <gtest/gtest.h>

namespace {

// Channel c holds c + 1 in the given states.
AudioBlock numbered(std::initializer_list<std::pair<uint32_t, ChannelState>> states) {
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c)
        fxtest::fillChannel(block, c, float(c + 1));
    for (auto [c, s] : states)
        block.channelState[c] = s;
    return block;
}

}  // namespace

TEST(MonoSum, AllSoundingChannelsOntoTheChosenOne) {
    MonoSumFX fx;
    fx.routing.setValue(3, true);
    AudioBlock block = numbered({{0, ChannelState::Playing}, {1, ChannelState::Started}, {5, ChannelState::Playing}});
    block.channelState[2] = ChannelState::Vacant;
    fx.process(block);
    EXPECT_EQ(block.channel(2)[7], 1.0f + 2.0f + 6.0f + 3.0f);
    EXPECT_EQ(block.channelState[2], ChannelState::Playing);
    for (uint32_t c = 0; c < 8; ++c)
        if (c != 2) {
            EXPECT_TRUE(fxtest::peak(block, c) == 0.0f && block.channelState[c] == ChannelState::Vacant) << c;
        }

    fx.input.setValue(4, true);  // channel 4
    fx.routing.setValue(4, true);
    block = numbered({{3, ChannelState::Playing}, {4, ChannelState::Playing}});
    fx.process(block);
    EXPECT_EQ(block.channel(3)[0], 4.0f);
    EXPECT_EQ(fxtest::peak(block, 4), 0.0f);
}

TEST(ReRoute, NotesStepThroughTheWindow) {
    ReRouteFX fx;
    fx.direction.setValue(-1, true);
    fx.channels.setValue(4, true);
    fxtest::settleParameters(fx);
    std::vector<int32_t> seen;
    for (int note = 0; note < 5; ++note) {
        AudioBlock block = numbered({{1, ChannelState::Started}});
        fx.process(block);
        seen.push_back(fx.targets[1].load());
        EXPECT_EQ(block.channel(uint32_t(seen.back()))[0], 2.0f);
        EXPECT_EQ(block.channelState[uint32_t(seen.back())], ChannelState::Started);
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{3, 2, 1, 0, 3}));

    fx.routing.setValue(6, true);
    AudioBlock block = numbered({});
    fx.process(block);
    for (uint32_t c = 0; c < 8; ++c)
        EXPECT_EQ(block.channelState[c], c >= 1 && c <= 4 ? ChannelState::Vacant : ChannelState::Silent) << c;
}

TEST(ReRoute, ANoteContinuingOutOfVacantStaysInsideTheBlock) {
    ReRouteFX fx;
    AudioBlock first = numbered({{6, ChannelState::Vacant}});
    fx.process(first);
    fx.targets[6].store(1000);  // whatever the word holds, the index stays in the block
    AudioBlock block = numbered({{6, ChannelState::Playing}});
    fx.process(block);
    EXPECT_EQ(block.channel(1000 & 7)[0], 7.0f);
    EXPECT_EQ(fx.visualStates[6].load(), int32_t(ChannelState::Playing));
    ReRouteFX fresh;
    for (uint32_t c = 0; c < 8; ++c)
        EXPECT_EQ(fresh.targets[c].load(), 0);
}

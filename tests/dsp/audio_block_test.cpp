#include "dsp/AudioBlock.h"

#include <gtest/gtest.h>

using S = ChannelState;

TEST(AudioBlock, MergePriorityIsPlayingStartedSilentVacant) {
    const S order[] = {S::Playing, S::Started, S::Silent, S::Vacant};  // high to low
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(combineChannelStates(order[i], order[j]), order[std::min(i, j)]);
}

TEST(AudioBlock, ClearAndClearChannel) {
    AudioBlock block;
    EXPECT_EQ(block.channelState[7], S::Vacant);
    for (float& s : block.samples) s = 1.0f;
    block.positionCount = 3;
    block.channelPosition[4] = 2;
    block.clear();
    EXPECT_EQ(block.positionCount, 1u);
    EXPECT_EQ(block.channelPosition[4], 0u);
    for (float s : block.samples) ASSERT_EQ(s, 0.0f);

    block.channel(2)[5] = 3.0f;
    block.channelState[2] = S::Started;
    block.clearChannel(2);
    EXPECT_EQ(block.channelState[2], S::Silent);
    EXPECT_EQ(block.channel(2)[5], 0.0f);
    block.clearChannel(3);
    EXPECT_EQ(block.channelState[3], S::Vacant);
}

TEST(AudioBlock, MixInOfInactiveSourceOnlyMergesStates) {
    AudioBlock dst, src;
    for (uint32_t k = 0; k < 512; ++k) dst.samples[k] = src.samples[k] = float(k);
    dst.channelState[1] = S::Silent;
    src.channelState[2] = S::Silent;
    dst.mixIn(src, 0.5f);  // nothing merged is active: silent sources cost nothing
    EXPECT_EQ(dst.channelState[1], S::Silent);
    EXPECT_EQ(dst.channelState[2], S::Silent);
    EXPECT_EQ(dst.channelState[3], S::Vacant);
    for (uint32_t k = 0; k < 512; ++k) ASSERT_EQ(dst.samples[k], float(k));
    // A cleared source into a playing block: Playing outranks Vacant.
    src.clear();
    dst.channelState[0] = S::Playing;
    dst.mixIn(src, 0.5f);
    EXPECT_EQ(dst.channelState[0], S::Playing);
    EXPECT_EQ(dst.samples[100], 100.0f);
}

TEST(AudioBlock, MixInAddsAllSamplesWhenAnyChannelIsActive) {
    for (float gain : {1.0f, 0.37f}) {
        AudioBlock dst, src;
        float expected[512];
        for (uint32_t k = 0; k < 512; ++k) {
            dst.samples[k] = 0.25f * float(k);
            src.samples[k] = 1.0f + 0.001f * float(k);
            expected[k] = dst.samples[k] + src.samples[k] * gain;
        }
        src.channelState[5] = S::Started;
        dst.mixIn(src, gain);
        EXPECT_EQ(dst.channelState[5], S::Started);
        // The vector path agrees with the plain scalar sum.
        for (uint32_t k = 0; k < 512; ++k) ASSERT_FLOAT_EQ(dst.samples[k], expected[k]) << k;
    }
    AudioBlock self;
    self.channelState[0] = S::Playing;
    for (uint32_t k = 0; k < 512; ++k) self.samples[k] = float(k);
    self.mixIn(self, 1.0f);
    for (uint32_t k = 0; k < 512; ++k) ASSERT_EQ(self.samples[k], 2.0f * float(k));
}

TEST(AudioBlock, SumToStereoFoldsAndZeroesTheRest) {
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c)
        for (uint32_t i = 0; i < 64; ++i) block.channel(c)[i] = float(c + 1) + 0.01f * float(i);
    block.channelState[0] = S::Silent;
    block.channelState[2] = S::Started;
    block.channelState[1] = S::Playing;
    block.channelState[3] = S::Started;
    block.channelPosition[5] = 4;
    block.sumToStereo(2);
    EXPECT_EQ(block.positionCount, 2u);
    EXPECT_EQ(block.channelState[2], S::Started);
    EXPECT_EQ(block.channelState[3], S::Playing);
    EXPECT_EQ(block.channelPosition[3], 1u);
    for (uint32_t c : {0u, 1u, 4u, 5u, 6u, 7u}) {
        EXPECT_EQ(block.channelState[c], S::Vacant);
        EXPECT_EQ(block.channelPosition[c], 0u);
    }
    EXPECT_NEAR(block.channel(2)[10], 16.4f, 1e-4);
    EXPECT_NEAR(block.channel(3)[10], 20.4f, 1e-4);
    // A folded send mixed into an output must not bring the unfolded channels.
    AudioBlock out;
    out.mixIn(block, 1.0f);
    for (uint32_t c : {0u, 1u, 4u, 5u, 6u, 7u})
        for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(out.channel(c)[i], 0.0f) << c;

    // An odd or too high first channel stays inside the block: the pair 6/7.
    for (float& s : block.samples) s = 1.0f;
    block.sumToStereo(7);
    EXPECT_EQ(block.channel(6)[0], 4.0f);
    EXPECT_EQ(block.channelPosition[7], 1u);
}

TEST(AudioBlock, ChannelSums) {
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c) block.channel(c)[10] = float(1 << c);
    EXPECT_EQ(block.sumChannelsAt(10), 255.0f);
    EXPECT_EQ(block.sumAlternateChannelsAt(10, 1), 2.0f + 8 + 32 + 128);
    EXPECT_EQ(block.sumAlternateChannelsAt(10, 8), 0.0f);
}

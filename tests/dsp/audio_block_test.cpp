#include "dsp/AudioBlock.h"

#include <gtest/gtest.h>

#include <memory>

using S = ChannelState;

TEST(AudioBlock, MergePriorityIsPlayingStartedSilentVacant) {
    const S order[] = {S::Playing, S::Started, S::Silent, S::Vacant};  // high to low
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            S expected = order[std::min(i, j)];
            EXPECT_EQ(combineChannelStates(order[i], order[j]), expected) << i << "," << j;
        }
    S word = S::Started;
    mergeChannelState(word, S::Playing);
    EXPECT_EQ(word, S::Playing);
}

TEST(AudioBlock, ConstructionAndClear) {
    auto block = std::make_unique<AudioBlock>();
    EXPECT_EQ(block->frames, 64u);
    EXPECT_EQ(block->channels, 8u);
    EXPECT_EQ(block->positionCount, 1u);
    for (int c = 0; c < 8; ++c) EXPECT_EQ(block->channelState[c], S::Vacant);
    for (float& s : block->samples) s = 1.0f;
    block->positionCount = 3;
    block->channelPosition[4] = 2;
    block->channelState[1] = S::Playing;
    block->clear();
    EXPECT_EQ(block->positionCount, 1u);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(block->channelState[c], S::Vacant);
        EXPECT_EQ(block->channelPosition[c], 0u);
    }
    for (float s : block->samples) ASSERT_EQ(s, 0.0f);
}

TEST(AudioBlock, ClearChannelSilencesActiveOnly) {
    AudioBlock block;
    block.clear();
    block.channel(2)[5] = 3.0f;
    block.channelState[2] = S::Started;
    block.clearChannel(2);
    EXPECT_EQ(block.channelState[2], S::Silent);
    EXPECT_EQ(block.channel(2)[5], 0.0f);
    block.clearChannel(3);
    EXPECT_EQ(block.channelState[3], S::Vacant);
}

TEST(AudioBlock, MixInOfClearedBlockOnlyMergesStates) {
    AudioBlock dst, src;
    dst.clear();
    src.clear();
    for (uint32_t k = 0; k < 512; ++k) dst.samples[k] = float(k);
    dst.channelState[0] = S::Playing;
    dst.channelState[1] = S::Silent;
    dst.mixIn(src, 0.5f);
    EXPECT_EQ(dst.channelState[0], S::Playing);
    EXPECT_EQ(dst.channelState[1], S::Silent);
    EXPECT_EQ(dst.channelState[2], S::Vacant);
    for (uint32_t k = 0; k < 512; ++k) ASSERT_EQ(dst.samples[k], float(k));
}

TEST(AudioBlock, MixInAddsAllSamplesWhenAnyChannelIsActive) {
    for (float gain : {1.0f, 0.37f}) {
        AudioBlock dst, src;
        dst.clear();
        src.clear();
        float expected[512];
        for (uint32_t k = 0; k < 512; ++k) {
            dst.samples[k] = 0.25f * float(k);
            src.samples[k] = 1.0f + 0.001f * float(k);
            expected[k] = dst.samples[k] + (gain == 1.0f ? src.samples[k] : src.samples[k] * gain);
        }
        src.channelState[5] = S::Started;
        dst.mixIn(src, gain);
        EXPECT_EQ(dst.channelState[5], S::Started);
        EXPECT_EQ(dst.channelState[0], S::Vacant);
        // The vector path must agree with the plain scalar sum.
        for (uint32_t k = 0; k < 512; ++k) ASSERT_FLOAT_EQ(dst.samples[k], expected[k]) << k;
    }
}

TEST(AudioBlock, MixInIntoItselfDoubles) {
    AudioBlock block;
    block.clear();
    block.channelState[0] = S::Playing;
    for (uint32_t k = 0; k < 512; ++k) block.samples[k] = float(k);
    block.mixIn(block, 1.0f);
    for (uint32_t k = 0; k < 512; ++k) ASSERT_EQ(block.samples[k], 2.0f * float(k));
}

TEST(AudioBlock, SumToStereoFoldsAndZeroesTheRest) {
    AudioBlock block;
    block.clear();
    for (uint32_t c = 0; c < 8; ++c)
        for (uint32_t i = 0; i < 64; ++i) block.channel(c)[i] = float(c + 1) + 0.01f * float(i);
    block.channelState[0] = S::Silent;
    block.channelState[2] = S::Started;
    block.channelState[4] = S::Vacant;
    block.channelState[1] = S::Playing;
    block.channelState[3] = S::Started;
    block.channelPosition[5] = 4;
    block.sumToStereo(2);
    EXPECT_EQ(block.positionCount, 2u);
    EXPECT_EQ(block.channelState[2], S::Started);
    EXPECT_EQ(block.channelState[3], S::Playing);
    EXPECT_EQ(block.channelPosition[2], 0u);
    EXPECT_EQ(block.channelPosition[3], 1u);
    for (uint32_t c : {0u, 1u, 4u, 5u, 6u, 7u}) {
        EXPECT_EQ(block.channelState[c], S::Vacant);
        EXPECT_EQ(block.channelPosition[c], 0u);
    }
    for (uint32_t i = 0; i < 64; ++i) {
        float f = 0.01f * float(i);
        EXPECT_NEAR(block.channel(2)[i], 1 + 3 + 5 + 7 + 4 * f, 1e-4);
        EXPECT_NEAR(block.channel(3)[i], 2 + 4 + 6 + 8 + 4 * f, 1e-4);
    }
    // A folded send mixed into an output must not bring the unfolded channels.
    AudioBlock out;
    out.clear();
    out.mixIn(block, 1.0f);
    for (uint32_t c : {0u, 1u, 4u, 5u, 6u, 7u})
        for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(out.channel(c)[i], 0.0f) << c;
    EXPECT_NEAR(out.channel(3)[0], 20.0f, 1e-4);
}

TEST(AudioBlock, SumToStereoWithInvalidPairStaysInsideTheBlock) {
    AudioBlock block;
    block.clear();
    for (float& s : block.samples) s = 1.0f;
    block.sumToStereo(7);  // odd and last: the pair 6/7
    EXPECT_EQ(block.channel(6)[0], 4.0f);
    EXPECT_EQ(block.channel(7)[63], 4.0f);
    EXPECT_EQ(block.channelPosition[7], 1u);
}

TEST(AudioBlock, ChannelSums) {
    AudioBlock block;
    block.clear();
    for (uint32_t c = 0; c < 8; ++c) block.channel(c)[10] = float(1 << c);
    EXPECT_EQ(block.sumChannelsAt(10), 255.0f);
    EXPECT_EQ(block.sumAlternateChannelsAt(10, 1), 2.0f + 8 + 32 + 128);
    EXPECT_EQ(block.sumAlternateChannelsAt(10, 8), 0.0f);
    block.channels = 0;
    EXPECT_EQ(block.sumChannelsAt(10), 0.0f);
}

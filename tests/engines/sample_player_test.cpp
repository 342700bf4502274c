// Sample playback: list lookup, speed, pitch tracking, ends, loops, channel
// choice, and staying inside the sample whatever the list or the rate says.
#include "engines/SamplePlayer.h"

#include "dsp/Random.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using enginetest::TestSamplePool;

std::vector<float> ramp(uint32_t frames) {
    std::vector<float> v(frames);
    for (uint32_t i = 0; i < frames; ++i) v[i] = float(i) / float(frames);
    return v;
}

// Renders blocks of 64 until `count` samples are collected.
std::vector<float> play(SamplePlayer& p, size_t count, float hz = 440.0f, float rate = 1.0f, int32_t channel = 0) {
    std::vector<float> out;
    float block[64];
    while (out.size() < count) {
        p.render(block, 64, channel, hz, 0.0f, rate);
        out.insert(out.end(), block, block + 64);
    }
    return out;
}

class SamplePlayerTest : public ::testing::Test {
protected:
    TestSamplePool pool;
    SamplePlayer player;
};

TEST_F(SamplePlayerTest, NothingToPlayIsSilent) {
    float out[64];
    for (float& v : out) v = 5.0f;
    player.start("missing", 0, 0, 0.0f);
    EXPECT_FALSE(player.render(out, 64, 0, 440.0f, 0.0f, 1.0f));
    for (float v : out) EXPECT_EQ(v, 0.0f);

    pool.lists["empty"];
    player.start("empty", 0, 0, 0.0f);
    EXPECT_FALSE(player.render(out, 64, 0, 440.0f, 0.0f, 1.0f));

    pool.addEntry("unloaded", "not-loaded.wav", 1000, 48000.0f);
    player.start("unloaded", 0, 0, 0.0f);
    EXPECT_TRUE(player.entry != nullptr);
    out[0] = 1.0f;
    EXPECT_FALSE(player.render(out, 64, 0, 440.0f, 0.0f, 1.0f));
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(player.lastSample, 0.0f);

    DSP::samplePool.store(nullptr);  // no pool at all
    player.start("unloaded", 0, 0, 0.0f);
    EXPECT_FALSE(player.render(out, 64, 0, 440.0f, 0.0f, 1.0f));
    DSP::samplePool.store(&pool);
}

TEST_F(SamplePlayerTest, SpeedFollowsFileRateEntryRateAndPitchTracking) {
    pool.addResource("r.wav", {ramp(200000)}, 44100.0f);
    auto e = pool.addEntry("l", "r.wav", 200000, 44100.0f, 220.0f);
    player.start("l", 0, 0, 0.0f);
    float block[64];
    player.render(block, 64, 0, 440.0f, 0.0f, 1.0f);
    EXPECT_NEAR(player.position, 64 * 0.91875f, 1e-3f);

    e->pitchTracking = true;  // 440 Hz note on a 220 Hz sample: twice as fast
    player.start("l", 0, 0, 0.0f);
    player.render(block, 64, 0, 440.0f, 0.0f, 1.0f);
    EXPECT_NEAR(player.position, 64 * 0.91875f * 2.0f, 1e-3f);

    e->setReference(0.0f);  // counts as 440
    e->reference = 0.0f;
    player.start("l", 0, 0, 0.0f);
    player.render(block, 64, 0, 880.0f, 0.0f, 0.5f);
    EXPECT_NEAR(player.position, 64 * 0.91875f, 1e-3f);

    e->pitchTracking = false;
    e->setRate(2.0f);
    player.start("l", 0, 0, 0.0f);
    player.render(block, 64, 0, 440.0f, 0.0f, 1.0f);
    EXPECT_NEAR(player.position, 64 * 0.91875f * 2.0f, 1e-3f);
}

TEST_F(SamplePlayerTest, StartFrameVolumeAndFadeIn) {
    pool.addResource("c.wav", {std::vector<float>(48000, 0.5f)}, 48000.0f);
    auto e = pool.addEntry("l", "c.wav", 48000, 48000.0f);
    e->setRange(1000, 48000);
    e->setVolume(-6.0f);
    player.start("l", 0, 0, 0.0f);
    EXPECT_FLOAT_EQ(player.position, 1000.0f);
    auto out = play(player, 256);
    EXPECT_LT(out[0], 0.05f);                     // fading in
    EXPECT_NEAR(out[200], 0.5f * 0.501187f, 1e-4f);  // -6 dB
    e->startFromZero = true;
    player.start("l", 0, 0, 0.0f);
    EXPECT_FLOAT_EQ(player.position, 0.0f);
}

TEST_F(SamplePlayerTest, NonLoopingEndFadesBeforeTheEndAndStops) {
    // 48 kHz, rate 1: the fade starts with the block at 768 (262 samples
    // before the end at 1030, in the middle of block 16) and is done at 1024.
    pool.addResource("c.wav", {std::vector<float>(4000, 0.8f)}, 48000.0f);
    auto e = pool.addEntry("l", "c.wav", 4000, 48000.0f);
    e->setRange(0, 1030);
    player.start("l", 0, 0, 0.0f);
    auto out = play(player, 17 * 64);
    EXPECT_NEAR(out[700], 0.8f, 1e-6f);
    for (size_t i = 769; i < 1024; ++i) EXPECT_LT(out[i], out[i - 1]);
    for (size_t i = 1024; i < out.size(); ++i) EXPECT_NEAR(out[i], 0.0f, 1e-6f);
    EXPECT_EQ(player.resource, nullptr);
    float block[64];
    EXPECT_FALSE(player.render(block, 64, 0, 440.0f, 0.0f, 1.0f));
}

TEST_F(SamplePlayerTest, EndInsideABlockRepeatsTheLastValue) {
    pool.addResource("c.wav", {ramp(4000)}, 48000.0f);
    pool.addEntry("l", "c.wav", 4000, 48000.0f);
    player.start("l", 0, 0, 0.0f);
    player.gainRamp.set(0, 1.0f);
    player.position = 3990.0f;
    float block[64];
    EXPECT_TRUE(player.render(block, 64, 0, 440.0f, 0.0f, 1.0f));
    // The end fade was due but ramps from full gain: compare before the gain.
    const float last = ramp(4000)[3999];
    EXPECT_FLOAT_EQ(player.lastSample, last);
    for (int i = 10; i < 64; ++i) EXPECT_NEAR(block[i], last * (1.0f - float(i) / 256.0f), 1e-5f) << i;
}

TEST_F(SamplePlayerTest, LoopRestartsAtTheStartFrame) {
    pool.addResource("c.wav", {std::vector<float>(4000, 0.8f)}, 48000.0f);
    auto e = pool.addEntry("l", "c.wav", 4000, 48000.0f);
    e->setRange(100, 1100);
    e->looping = true;
    player.start("l", 0, 0, 0.0f);
    auto out = play(player, 16 * 64);
    EXPECT_TRUE(player.restartPending);
    EXPECT_NE(player.resource, nullptr);
    float block[64];
    EXPECT_TRUE(player.render(block, 64, 0, 440.0f, 0.0f, 1.0f));
    EXPECT_FALSE(player.restartPending);
    EXPECT_NEAR(player.position, 164.0f, 1e-3f);
    EXPECT_LT(block[0], 0.05f);  // fading in again
    EXPECT_GT(block[63], 0.2f);
}

TEST_F(SamplePlayerTest, ChannelSelectorWrapsOverTheFileChannels) {
    pool.addResource("s.wav", {std::vector<float>(48000, 0.25f), std::vector<float>(48000, -0.5f)}, 48000.0f);
    pool.addEntry("l", "s.wav", 48000, 48000.0f);
    player.start("l", 0, 0, 0.0f);
    auto out = play(player, 256, 440.0f, 1.0f, 3);
    EXPECT_NEAR(out[200], -0.5f, 1e-6f);
    player.start("l", 0, 0, 0.0f);
    out = play(player, 256, 440.0f, 1.0f, -3);  // never a negative index
    EXPECT_NEAR(out[200], -0.5f, 1e-6f);
}

TEST_F(SamplePlayerTest, EntryEndBeyondAShortenedFileStopsAtTheFileEnd) {
    // The list still says 10000 frames; the file now holds 300.
    pool.addResource("short.wav", {std::vector<float>(300, 0.7f)}, 48000.0f);
    pool.addEntry("l", "short.wav", 10000, 48000.0f);
    player.start("l", 0, 0, 0.0f);
    auto out = play(player, 640);
    for (float v : out) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_LE(std::fabs(v), 0.7f + 1e-6f);
    }
    EXPECT_EQ(player.resource, nullptr);
    for (size_t i = 320; i < out.size(); ++i) EXPECT_EQ(out[i], 0.0f);  // faded and held
}

TEST_F(SamplePlayerTest, InterpolationAtTheLastFrameStaysInside) {
    // A slow, fractional speed ending exactly at the file's end: the last
    // frames interpolate towards themselves, not past the vector.
    std::vector<float> data(100, 0.0f);
    data[99] = 1.0f;
    pool.addResource("edge.wav", {data}, 48000.0f);
    pool.addEntry("l", "edge.wav", 100, 48000.0f);
    player.start("l", 0, 0, 0.0f);
    player.gainRamp.set(0, 1.0f);
    player.gainRamp.set(1 << 20, 1.0f);  // a running ramp holds off the end fade
    player.position = 98.5f;
    float block[64];
    player.render(block, 64, 0, 440.0f, 0.0f, 0.3f);  // 98.5, 98.8, 99.1, 99.4, 99.7
    EXPECT_NEAR(block[0], 0.5f, 1e-5f);
    EXPECT_NEAR(block[2], 1.0f, 1e-5f);
    EXPECT_NEAR(block[4], 1.0f, 1e-5f);
}

TEST_F(SamplePlayerTest, ZeroNegativeOrNonFiniteSpeedIsSilentAndKeepsPlace) {
    pool.addResource("c.wav", {std::vector<float>(48000, 0.5f)}, 48000.0f);
    pool.addEntry("l", "c.wav", 48000, 48000.0f);
    player.start("l", 0, 0, 0.0f);
    play(player, 128);
    const float at = player.position;
    float block[64];
    for (float rate : {0.0f, -1.0f, NAN, INFINITY}) {
        block[0] = 9.0f;
        EXPECT_FALSE(player.render(block, 64, 0, 440.0f, 0.0f, rate)) << rate;
        EXPECT_EQ(block[0], 0.0f);
        EXPECT_FLOAT_EQ(player.position, at);
    }
    // A pitch-tracked note of 0 Hz or NaN is the same.
    pool.lists["l"][0]->pitchTracking = true;
    EXPECT_FALSE(player.render(block, 64, 0, 0.0f, 0.0f, 1.0f));
    EXPECT_FALSE(player.render(block, 64, 0, NAN, 0.0f, 1.0f));
    EXPECT_TRUE(player.render(block, 64, 0, 440.0f, 0.0f, 1.0f));
}

TEST_F(SamplePlayerTest, FileWithoutChannelsOrFramesIsSilent) {
    pool.addResource("nochannels.wav", {}, 48000.0f);
    pool.addEntry("a", "nochannels.wav", 1000, 48000.0f);
    pool.addResource("noframes.wav", {std::vector<float>{}}, 48000.0f);
    pool.addEntry("b", "noframes.wav", 1000, 48000.0f);
    float block[64];
    for (const char* list : {"a", "b"}) {
        player.start(list, 0, 0, 0.0f);
        for (int i = 0; i < 4; ++i) {
            player.render(block, 64, 2, 440.0f, 0.0f, 1.0f);
            for (float v : block) EXPECT_EQ(v, 0.0f) << list;
        }
    }
}

TEST_F(SamplePlayerTest, DetuneIsCubedOnce) {
    pool.addResource("c.wav", {std::vector<float>(48000, 0.5f)}, 48000.0f);
    pool.addEntry("l", "c.wav", 48000, 48000.0f);
    float spread = 0.0f;
    for (int i = 0; i < 50; ++i) {
        player.start("l", 0, 0, 1.0f);
        EXPECT_LE(std::fabs(player.detuneFactor - 1.0f), 0.2f);
        spread = std::max(spread, std::fabs(player.detuneFactor - 1.0f));
    }
    EXPECT_GT(spread, 0.05f);  // 0.2 x 1^3 at most; cubed twice it would stay below 0.0016
    player.start("l", 0, 0, 0.0f);
    EXPECT_FLOAT_EQ(player.detuneFactor, 1.0f);
}

}  // namespace

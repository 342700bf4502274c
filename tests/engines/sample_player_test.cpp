// Sample playback: speed, ends, channel choice, and staying inside the sample
// whatever the list, the file or the rate says.
#include "engines/SamplePlayer.h"

#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class SamplePlayerTest : public ::testing::Test {
protected:
    // Renders blocks until `count` samples are collected.
    std::vector<float> play(size_t count, float hz = 440.0f, float rate = 1.0f, int32_t channel = 0) {
        std::vector<float> out;
        float block[64];
        while (out.size() < count) {
            player.render(block, 64, channel, hz, 0.0f, rate);
            out.insert(out.end(), block, block + 64);
        }
        return out;
    }
    AudioSampleGroupEntryPtr constant(uint32_t frames, float value, uint32_t channels = 1) {
        pool.addResource("c.wav", std::vector<std::vector<float>>(channels, std::vector<float>(frames, value)), 48000.0f);
        return pool.addEntry("l", "c.wav", frames, 48000.0f);
    }
    enginetest::TestSamplePool pool;
    SamplePlayer player;
};

TEST_F(SamplePlayerTest, MissingListOrUnloadedSampleIsSilent) {
    pool.addEntry("unloaded", "nowhere.wav", 1000, 48000.0f);
    for (const char* list : {"missing", "unloaded"}) {
        player.start(list, 0, 0, 0.0f);
        float out[64] = {5.0f};
        EXPECT_FALSE(player.render(out, 64, 0, 440.0f, 0.0f, 1.0f));
        EXPECT_EQ(out[0], 0.0f);
    }
}

TEST_F(SamplePlayerTest, SpeedFromFileRateAndPitchTracking) {
    pool.addResource("r.wav", {std::vector<float>(100000)}, 44100.0f);
    auto e = pool.addEntry("l", "r.wav", 100000, 44100.0f, 220.0f);
    auto advance = [&](float hz) {
        player.start("l", 0, 0, 0.0f);
        play(64, hz);
        return player.position / 64.0f;
    };
    EXPECT_NEAR(advance(440.0f), 0.91875f, 1e-5f);
    e->pitchTracking = true;
    EXPECT_NEAR(advance(440.0f), 2.0f * 0.91875f, 1e-5f);
    e->reference = 0.0f;  // counts as 440 Hz
    EXPECT_NEAR(advance(880.0f), 2.0f * 0.91875f, 1e-5f);
}

TEST_F(SamplePlayerTest, NonLoopingEntryFadesBeforeItsEndAndStops) {
    // The fade starts with the block at 768, 262 samples before the end at 1030.
    constant(4000, 0.8f)->setRange(0, 1030);
    player.start("l", 0, 0, 0.0f);
    auto out = play(17 * 64);
    EXPECT_NEAR(out[700], 0.8f, 1e-6f);
    for (size_t i = 769; i < 1024; ++i) EXPECT_LT(out[i], out[i - 1]);
    for (size_t i = 1024; i < out.size(); ++i) EXPECT_EQ(out[i], 0.0f);
    float block[64];
    EXPECT_FALSE(player.render(block, 64, 0, 440.0f, 0.0f, 1.0f));
}

TEST_F(SamplePlayerTest, LoopRestartsAtTheStartFrameWithAFadeIn) {
    auto e = constant(4000, 0.8f);
    e->setRange(100, 1100);
    e->looping = true;
    player.start("l", 0, 0, 0.0f);
    play(16 * 64);
    float block[64];
    EXPECT_TRUE(player.render(block, 64, 0, 440.0f, 0.0f, 1.0f));
    EXPECT_NEAR(player.position, 164.0f, 1e-3f);
    EXPECT_LT(block[0], 0.05f);
}

TEST_F(SamplePlayerTest, ChannelSelectorWrapsEvenBelowZero) {
    pool.addResource("s.wav", {std::vector<float>(9000, 0.25f), std::vector<float>(9000, -0.5f)}, 48000.0f);
    pool.addEntry("l", "s.wav", 9000, 48000.0f);
    for (int32_t selector : {3, -3}) {
        player.start("l", 0, 0, 0.0f);
        EXPECT_NEAR(play(256, 440.0f, 1.0f, selector)[200], -0.5f, 1e-6f) << selector;
    }
}

TEST_F(SamplePlayerTest, EntryEndBeyondTheFileAndTheLastFrameStayInside) {
    // The list says 10000 frames, the file now holds 300: playback ends there.
    std::vector<float> data(300, 0.0f);
    data[299] = 1.0f;
    pool.addResource("short.wav", {data}, 48000.0f);
    pool.addEntry("l", "short.wav", 10000, 48000.0f);
    player.start("l", 0, 0, 0.0f);
    player.gainRamp.set(0, 1.0f);
    player.gainRamp.set(1 << 20, 1.0f);  // a running ramp holds off the end fade
    player.position = 298.5f;
    float block[64];
    player.render(block, 64, 0, 440.0f, 0.0f, 0.3f);  // 298.5, 298.8, 299.1, 299.4, 299.7
    EXPECT_NEAR(block[0], 0.5f, 1e-5f);
    EXPECT_NEAR(block[2], 1.0f, 1e-5f);  // the last frame interpolates with itself
    EXPECT_NEAR(block[4], 1.0f, 1e-5f);
    EXPECT_EQ(player.resource, nullptr);
}

TEST_F(SamplePlayerTest, StalledReversedOrNonFiniteSpeedIsSilent) {
    constant(48000, 0.5f);
    player.start("l", 0, 0, 0.0f);
    play(128);
    const float at = player.position;
    float block[64];
    for (float rate : {0.0f, -1.0f, NAN, INFINITY}) {
        EXPECT_FALSE(player.render(block, 64, 0, 440.0f, 0.0f, rate)) << rate;
        EXPECT_EQ(block[0], 0.0f);
        EXPECT_EQ(player.position, at);
    }
    pool.lists["l"][0]->pitchTracking = true;  // a tracked note of 0 Hz stalls too
    EXPECT_FALSE(player.render(block, 64, 0, 0.0f, 0.0f, 1.0f));
    EXPECT_TRUE(player.render(block, 64, 0, 440.0f, 0.0f, 1.0f));
}

TEST_F(SamplePlayerTest, FileWithoutChannelsOrFramesIsSilent) {
    pool.addResource("a.wav", {}, 48000.0f);
    pool.addEntry("a", "a.wav", 1000, 48000.0f);
    pool.addResource("b.wav", {std::vector<float>{}}, 48000.0f);
    pool.addEntry("b", "b.wav", 1000, 48000.0f);
    for (const char* list : {"a", "b"}) {
        player.start(list, 0, 0, 0.0f);
        for (float v : play(256, 440.0f, 1.0f, 2)) EXPECT_EQ(v, 0.0f) << list;
    }
}

TEST_F(SamplePlayerTest, DetuneIsCubedOnce) {
    constant(1000, 0.5f);
    float spread = 0.0f;
    for (int i = 0; i < 50; ++i) {
        player.start("l", 0, 0, 1.0f);
        spread = std::max(spread, std::fabs(player.detuneFactor - 1.0f));
    }
    EXPECT_GT(spread, 0.05f);  // up to 0.2; cubed twice it would stay below 0.0016
    EXPECT_LE(spread, 0.2f);
}

}  // namespace

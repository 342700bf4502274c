// The limiter measured on rendered blocks: ceiling, delay, state delay,
// clip mark.
#include "EffectTestSupport.h"
#include "effects/LimiterFX.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;

// Renders `blocks` blocks of a sine (amplitude, Hz) on channel 0, Playing,
// after `silent` silent blocks; returns channel 0's output, all blocks.
std::vector<float> render(LimiterFX& fx, float amplitude, float hz, int silent, int blocks,
                          std::vector<float>* input = nullptr) {
    std::vector<float> out;
    long n = 0;
    for (int b = 0; b < silent + blocks; ++b) {
        AudioBlock block;
        const bool sounding = b >= silent;
        block.channelState[0] = sounding ? ChannelState::Playing : ChannelState::Silent;
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i, ++n) {
            const float x = sounding ? amplitude * std::sin(kTwoPi * hz * float(n) / 48000.0f) : 0.0f;
            block.channel(0)[i] = x;
            if (input)
                input->push_back(x);
        }
        fx.process(block);
        EXPECT_TRUE(fxtest::allFinite(block));
        out.insert(out.end(), block.channel(0), block.channel(0) + AudioBlock::kFrames);
    }
    return out;
}

float peakOf(const std::vector<float>& v, size_t from = 0) {
    float p = 0.0f;
    for (size_t i = from; i < v.size(); ++i)
        p = std::max(p, std::fabs(v[i]));
    return p;
}

}  // namespace

TEST(Limiter, LookAheadGrowsWithTheAttackInWholeBlocks) {
    EXPECT_EQ(LimiterFX::lookAhead(96.0f, 64), 320u);
    EXPECT_EQ(LimiterFX::lookAhead(0.0f, 64), 256u);
    EXPECT_EQ(LimiterFX::lookAhead(63.0f, 64), 256u);
    EXPECT_EQ(LimiterFX::lookAhead(960.0f, 64), 1216u);
    EXPECT_LT(LimiterFX::kMaxLookAhead, LimiterFX::kLineLength);
    LimiterFX fx;
    EXPECT_EQ(fx.encoderParameters[0], &fx.input);
    EXPECT_EQ(fx.encoderParameters[1], nullptr);
    EXPECT_EQ(fx.encoderParameters[2], &fx.release);
    EXPECT_EQ(fx.encoderParameters[3], &fx.output);
    EXPECT_EQ(fx.group.find("attack"), &fx.attack);
}

TEST(Limiter, TwelveDecibelsOverComeOutAtTheCeilingForEveryAttack) {
    for (float ms : {0.0f, 1.0f, 2.0f, 5.0f, 10.0f, 15.9f, 16.0f, 20.0f}) {
        for (float hz : {50.0f, 997.0f, 12000.0f}) {
            LimiterFX fx;
            fx.attack.setValue(ms, false);
            // silence first, so the gain has recovered when the burst comes
            const auto out = render(fx, 0.75f * 3.981f, hz, 30, 120);
            EXPECT_LE(peakOf(out), LimiterFX::kCeiling + 1e-5f) << ms << " ms, " << hz << " Hz";
            EXPECT_GT(peakOf(out, out.size() - 64 * 20), 0.6f) << ms << " ms, " << hz << " Hz";
        }
    }
}

TEST(Limiter, ChangingTheAttackWhileLimitingKeepsTheCeiling) {
    LimiterFX fx;
    std::vector<float> all;
    for (float ms : {0.0f, 20.0f, 3.0f, 17.0f}) {
        fx.attack.setValue(ms, false);
        const auto out = render(fx, 3.0f, 440.0f, 0, 60);
        all.insert(all.end(), out.begin(), out.end());
    }
    EXPECT_LE(peakOf(all), LimiterFX::kCeiling + 1e-5f);
}

TEST(Limiter, AQuietSignalPassesUnchangedAfterTheDelay) {
    for (float ms : {2.0f, 20.0f}) {
        LimiterFX fx;
        fx.attack.setValue(ms, false);
        const uint32_t L = LimiterFX::lookAhead(ms * 48.0f, 64);
        std::vector<float> in;
        const auto out = render(fx, 0.3f, 440.0f, 0, 300, &in);
        for (size_t i = out.size() - 64 * 10; i < out.size(); ++i)
            ASSERT_NEAR(out[i], in[i - L], 1e-4f) << ms << " ms, sample " << i;
    }
}

TEST(Limiter, ChannelStatesLeaveAsManyBlocksLateAsTheAudio) {
    LimiterFX fx;  // 2 ms: 320 samples, 5 blocks
    std::vector<ChannelState> seen;
    for (int b = 0; b < 12; ++b) {
        AudioBlock block;
        block.channelState[0] = b == 0 ? ChannelState::Started : b < 3 ? ChannelState::Playing : ChannelState::Silent;
        block.channelState[1] = ChannelState::Vacant;
        fx.process(block);
        seen.push_back(block.channelState[0]);
        EXPECT_EQ(block.channelState[1], b < 5 ? ChannelState::Silent : ChannelState::Vacant) << b;
    }
    for (int b = 0; b < 12; ++b) {
        const ChannelState expected = b == 5 ? ChannelState::Started
                                      : b == 6 || b == 7 ? ChannelState::Playing
                                                         : ChannelState::Silent;
        EXPECT_EQ(seen[size_t(b)], expected) << b;
    }
    EXPECT_EQ(fx.peaks[0].length, 1280u);
}

TEST(Limiter, ATailInTheLineIsPlayedOutAfterTheInputStops) {
    LimiterFX fx;
    std::vector<float> in;
    const auto out = render(fx, 0.5f, 440.0f, 0, 40, &in);
    // the input stops (Silent) but the last 320 samples are still in the line
    AudioBlock block;
    block.channelState[0] = ChannelState::Silent;
    fx.process(block);
    EXPECT_GT(fxtest::peak(block, 0), 0.2f);
    EXPECT_EQ(block.channelState[0], ChannelState::Playing);
}

TEST(Limiter, OutputGainAboveTheCeilingMarksAClipThatThePictureClears) {
    LimiterFX fx;
    fx.output.setValue(3.0f, false);
    render(fx, 1.0f, 440.0f, 0, 200);
    EXPECT_TRUE(fx.clipped(0));
    EXPECT_FALSE(fx.clipped(1));
    MonoGFX gfx;
    gfx.init(256, 64);
    gfx.clear();
    fx._drawVisual(&gfx, 10, 10, 22);
    EXPECT_EQ(gfx.pixel(10, 10), 8u);  // the clip mark of channel 0
    EXPECT_EQ(gfx.pixel(13, 10), 0u);
    EXPECT_FALSE(fx.clipped(0));
    EXPECT_LT(fx.meterGain(0), 0.8f);  // limiting: about 2.5 dB of reduction
}

TEST(Limiter, SilentChannelsAreNotTouchedAndRecoverTheirGain) {
    LimiterFX fx;
    AudioBlock block;
    for (uint32_t c = 0; c < 8; ++c) {
        fxtest::fillChannel(block, c, 0.25f);
        block.channelState[c] = ChannelState::Silent;
    }
    for (int b = 0; b < 400; ++b)
        fx.process(block);
    EXPECT_EQ(block.channel(3)[7], 0.25f);
    EXPECT_NEAR(fx.meterGain(3), 1.0f, 1e-3f);
}

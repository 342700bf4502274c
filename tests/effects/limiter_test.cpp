// The limiter measured on rendered blocks.
#include "EffectTestSupport.h"
#include "effects/LimiterFX.h"

#include <gtest/gtest.h>

#include <numbers>
#include <vector>

namespace {

// Channel 0's output for `blocks` blocks of a sine after `silent` silent ones.
std::vector<float> render(LimiterFX& fx, float amplitude, float hz, int silent, int blocks,
                          std::vector<float>* input = nullptr) {
    std::vector<float> out;
    long n = 0;
    for (int b = 0; b < silent + blocks; ++b) {
        AudioBlock block;
        block.channelState[0] = b >= silent ? ChannelState::Playing : ChannelState::Silent;
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i, ++n) {
            const float x = b >= silent ? amplitude * std::sin(2 * std::numbers::pi_v<float> * hz * float(n) / 48000) : 0;
            block.channel(0)[i] = x;
            if (input)
                input->push_back(x);
        }
        fx.process(block);
        out.insert(out.end(), block.channel(0), block.channel(0) + AudioBlock::kFrames);
    }
    return out;
}

float peakOf(const std::vector<float>& v, size_t from = 0) {
    float p = 0.0f;
    for (size_t i = from; i < v.size(); ++i)
        p = std::isfinite(v[i]) ? std::max(p, std::fabs(v[i])) : 1e9f;
    return p;
}

}  // namespace

TEST(Limiter, TwelveDecibelsOverComeOutAtTheCeilingForEveryAttack) {
    EXPECT_EQ(LimiterFX::lookAhead(2.0f * 48, 64), 320u);
    EXPECT_EQ(LimiterFX::lookAhead(20.0f * 48, 64), 1216u);
    for (float ms : {0.0f, 2.0f, 5.0f, 10.0f, 16.0f, 20.0f}) {
        for (float hz : {50.0f, 997.0f, 12000.0f}) {
            LimiterFX fx;
            fx.attack.setValue(ms, false);
            const auto out = render(fx, 0.75f * 3.981f, hz, 30, 120);
            EXPECT_LE(peakOf(out), LimiterFX::kCeiling + 1e-5f) << ms << " ms, " << hz << " Hz";
            EXPECT_GT(peakOf(out, out.size() - 64 * 20), 0.6f) << ms << " ms, " << hz << " Hz";
        }
    }
    LimiterFX moving;  // the tap jumps when the attack changes
    for (float ms : {0.0f, 20.0f, 3.0f, 17.0f}) {
        moving.attack.setValue(ms, false);
        EXPECT_LE(peakOf(render(moving, 3.0f, 440.0f, 0, 60)), LimiterFX::kCeiling + 1e-5f) << ms;
    }
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
    for (int b = 0; b < 12; ++b) {
        AudioBlock block;
        block.channelState[0] = b == 0 ? ChannelState::Started : b < 3 ? ChannelState::Playing : ChannelState::Silent;
        fx.process(block);
        const ChannelState expected = b == 5 ? ChannelState::Started
                                      : b == 6 || b == 7 ? ChannelState::Playing
                                                         : ChannelState::Silent;
        EXPECT_EQ(block.channelState[0], expected) << b;
    }
}

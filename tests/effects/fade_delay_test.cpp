// The fade delay: states, heads and the echo of a tone.
#include "EffectTestSupport.h"
#include "dsp/DelayLine.h"
#include "dsp/OnePole.h"
#include "dsp/Phasor.h"
#include "dsp/Random.h"
#include "dsp/WaveTable.h"
#include "effects/FadeDelayFX.h"

#include <gtest/gtest.h>

#include <memory>

TEST(FadeDelay, ATonesComesBackAsWindowsAndVacantChannelsFeedNothing) {
    auto fx = std::make_shared<FadeDelayFX>();
    fx->dryWet.setValue(100.0f, true);
    fx->freq.setValue(20.0f, true);
    fxtest::settleParameters(*fx);
    std::vector<float> in = fxtest::sine(500.0, 48000 * 2, 0.2);
    std::fill(in.begin() + 48000, in.end(), 0.0f);
    // The other channels Vacant: the ducker counts every channel that is not.
    const std::vector<float> out = fxtest::renderChannel(*fx, in, 0, ChannelState::Vacant);
    // The echo lies 0.125 s to 1.5 s back: the second after the tone still sounds.
    double energy = 0.0;
    for (size_t n = 48000 + 6000; n < 48000 + 24000; ++n)
        energy += double(out[n]) * out[n];
    EXPECT_GT(std::sqrt(energy / 18000.0), 0.02);
    for (float v : out)
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 1.0f);

    auto empty = std::make_shared<FadeDelayFX>();
    for (int b = 0; b < 200; ++b) {
        AudioBlock block;
        fxtest::fillChannel(block, 3, 0.7f);  // Vacant: never read
        empty->process(block);
        ASSERT_EQ(block.channelState[3], ChannelState::Vacant);
    }
    EXPECT_EQ(*std::max_element(empty->fadeLine.buffer.begin(), empty->fadeLine.buffer.end()), 0.0f);
}

TEST(FadeDelay, ShiftDecidesWhichWindowsGlide) {
    for (float percent : {0.0f, 100.0f}) {
        auto fx = std::make_shared<FadeDelayFX>();
        fx->shift.setValue(percent, true);
        fx->freq.setValue(100.0f, true);
        fxtest::settleParameters(*fx);
        for (int b = 0; b < 100; ++b) {
            AudioBlock block;
            block.channelState[1] = ChannelState::Silent;
            fx->process(block);
            ASSERT_EQ(block.channelState[1], ChannelState::Playing);
        }
        EXPECT_EQ(fx->heads[2].moving + fx->heads[3].moving, percent > 0.0f ? 2u : 0u);
        EXPECT_GE(fx->heads[2].delay.load(), 4000u + 72000u / 800u);
    }
}

namespace {

// The fade delay walked plainly, frame by frame within each head, for the
// block-wise walk to be checked against.
struct PlainFadeDelay {
    DelayLine line{FadeDelayFX::kLineLength};
    Phasor phasor;
    OnePole highPassLow, ducker, lowPass, windowSmoother;
    float lastPhase[16] = {};
    uint32_t delay[16], moving[16] = {};
    const float offsets[8] = {0.0f, 0.5f, 0.25f, 0.75f, 0.0f, 0.5f, 0.25f, 0.75f};

    explicit PlainFadeDelay(const FadeDelayFX& fx) {
        highPassLow.setCutoff(40.0), ducker.setCutoff(1.0), lowPass.setCutoff(10000.0), windowSmoother.setCutoff(1.0);
        for (uint32_t t = 0; t < 16; ++t)
            delay[t] = fx.heads[t].delay.load();
    }
    void process(AudioBlock& block, float F, float G, float shift, float dry, float wet) {
        float phase[64], fadeLength[64], bus[64] = {};
        phasor.setFrequency(F);
        for (uint32_t i = 0; i < 64; ++i) {
            phase[i] = phasor.next();
            fadeLength[i] = windowSmoother.tick(float(48000.0 / double(F)));
        }
        F = std::max(F, 0.25f);
        const uint32_t lo = uint32_t(4000.0f + 72000.0f * 0.125f / F);
        uint32_t count = 0;
        for (uint32_t c = 0; c < 8; ++c) {
            if (block.channelState[c] == ChannelState::Vacant)
                continue;
            ++count;
            float sum[64] = {};
            for (uint32_t h = 0; h < 2; ++h) {
                const uint32_t t = 2 * c + h;
                for (uint32_t i = 0; i < 64; ++i) {
                    float p = phase[i] + offsets[t % 8];
                    p -= std::floor(p);
                    if (lastPhase[t] - p > 0.9f) {
                        moving[t] = shift > std::fabs(DSP::noise.next()) ? 1 : 0;
                        delay[t] = lo + DSP::random.nextHigh() % (72000 - lo);
                    }
                    lastPhase[t] = p;
                    const uint32_t back = moving[t] ? uint32_t((1.0f - p) * fadeLength[i]) : 0;
                    const float s = line.read(back + delay[t] - i);
                    sum[i] += (0.5f + 0.5f * DSP::wavetable.sine(p + 0.75f)) * s;
                    bus[i] = block.channel(c)[i] + bus[i] + sum[i] * G;
                }
            }
            for (uint32_t i = 0; i < 64; ++i)
                block.channel(c)[i] = sum[i] * wet + dry * block.channel(c)[i];
        }
        for (uint32_t i = 0; i < 64; ++i) {
            float v = bus[i];
            v -= highPassLow.tick(v);
            v = lowPass.tick(v);
            const float d = ducker.tick(1.0f - std::min(1.0f, std::fabs(v * float(count))));
            line.write(d * v);
        }
    }
};

}  // namespace

TEST(FadeDelay, BlockWiseWalkMatchesThePlainOne) {
    auto fx = std::make_shared<FadeDelayFX>();
    fx->freq.setValue(40.0f, true);
    fx->shift.setValue(50.0f, true);
    fx->feedback.setValue(-6.0f, true);
    fx->dryWet.setValue(100.0f, true);
    fxtest::settleParameters(*fx);
    PlainFadeDelay plain(*fx);
    float worst = 0.0f, level = 0.0f;
    for (int b = 0; b < 2000; ++b) {
        AudioBlock block;
        for (uint32_t c = 0; c < 8; ++c) {
            block.channelState[c] = (b / 50 + c) % 5 == 0 ? ChannelState::Vacant : ChannelState::Playing;
            for (uint32_t i = 0; i < 64; ++i)
                block.channel(c)[i] = 0.3f * std::sin(0.002f * float(b * 64 + int(i)) * float(c + 3));
        }
        AudioBlock copy = block;
        DSP::noise.seed(Noise::kSeedA + uint32_t(b), Noise::kSeedB);
        DSP::random.seed(uint64_t(b));
        fx->process(block);
        DSP::noise.seed(Noise::kSeedA + uint32_t(b), Noise::kSeedB);
        DSP::random.seed(uint64_t(b));
        plain.process(copy, fx->freq.output, fx->feedback.output, fx->shift.getValue(), 0.0f, 0.25f);
        for (uint32_t k = 0; k < AudioBlock::kSamples; ++k) {
            worst = std::max(worst, std::fabs(block.samples[k] - copy.samples[k]));
            level = std::max(level, std::fabs(block.samples[k]));
        }
    }
    EXPECT_LT(worst, 1e-6f);
    EXPECT_GT(level, 0.01f);
}

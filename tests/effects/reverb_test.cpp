// The reverb's decay measured by Schroeder integration.
#include "EffectTestSupport.h"
#include "dsp/Random.h"
#include "dsp/WaveTable.h"
#include "effects/ReverbFX.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <vector>

namespace {

// Impulse on channel 0, all channels sounding; the sum of the channels.
std::vector<double> summedResponse(ReverbFX& fx, size_t length) {
    std::vector<double> out;
    for (size_t n = 0; n < length + 2048; n += AudioBlock::kFrames) {
        AudioBlock block;
        for (uint32_t c = 0; c < 8; ++c)
            block.channelState[c] = ChannelState::Playing;
        if (n == 2048)
            block.channel(0)[0] = 1.0f;
        fx.process(block);
        if (n >= 2048)
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
                out.push_back(block.sumChannelsAt(i));
    }
    return out;
}

// Seconds to fall 60 dB, fitted between -5 and -35 dB of the backward integral.
double rt60(const std::vector<double>& h) {
    std::vector<double> energy(h.size() + 1, 0.0);
    for (size_t i = h.size(); i-- > 0;)
        energy[i] = energy[i + 1] + h[i] * h[i];
    double sx = 0, sy = 0, sxx = 0, sxy = 0, n = 0;
    for (size_t i = 0; i < h.size(); ++i) {
        const double level = 10.0 * std::log10(energy[i] / energy[0]);
        if (level > -5.0 || level < -35.0)
            continue;
        const double t = double(i) / 48000.0;
        sx += t, sy += level, sxx += t * t, sxy += t * level, n += 1;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    return -60.0 / slope;
}

double expectedRt60(const ReverbFX& fx, double G) {
    double mean = 0.0;
    for (uint32_t k = 0; k < ReverbFX::kLines; ++k)
        mean += 1.0 / (double(fx.lineLength(k)) + 1.0) / ReverbFX::kLines;
    return 60.0 / (-20.0 * std::log10(G) * 48000.0 * mean);
}

}  // namespace

TEST(Reverb, DecayTimeFollowsFeedbackAndLineLengths) {
    // Each line's length takes a random spread of up to 1000 samples, which
    // moves the small room's decay by up to a fifth around its nominal time.
    // A fixed seed keeps the run repeatable.
    DSP::random.seed(7919);
    const double approx[3] = {5.6, 2.0, 0.88};
    for (int sizeChoice = 0; sizeChoice < 3; ++sizeChoice) {
        auto fx = std::make_shared<ReverbFX>();
        fx->size.setValue(sizeChoice, true);
        fx->modulation.setValue(0.0f, true);
        fxtest::settleParameters(*fx);
        const std::vector<double> h = summedResponse(*fx, size_t(approx[sizeChoice] * 48000.0 * 0.8));
        const double expected = expectedRt60(*fx, 0.7);
        EXPECT_NEAR(expected, approx[sizeChoice], approx[sizeChoice] * 0.2) << sizeChoice;
        EXPECT_NEAR(rt60(h), expected, expected * 0.15) << sizeChoice;
    }
}

TEST(Reverb, NoFeedbackLeavesTheDryPartOnly) {
    auto fx = std::make_shared<ReverbFX>();
    fx->feedback.setValue(0.0f, true);
    fx->dryWet.setValue(50.0f, true);  // percent
    fxtest::settleParameters(*fx);
    for (int b = 0; b < 400; ++b) {
        AudioBlock block;
        for (uint32_t c = 0; c < 8; ++c) {
            block.channelState[c] = ChannelState::Playing;
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
                block.channel(c)[i] = std::sin(0.01f * float(b * 64 + int(i)) + float(c));
        }
        AudioBlock in = block;
        fx->process(block);
        for (uint32_t k = 0; k < AudioBlock::kSamples; ++k)
            ASSERT_EQ(block.samples[k], std::sqrt(0.5f) * in.samples[k]) << b;
    }
}

TEST(Reverb, OneSoundingChannelTakesEveryLine) {
    auto fx = std::make_shared<ReverbFX>();
    fxtest::settleParameters(*fx);
    AudioBlock block;
    block.channelState[2] = ChannelState::Playing;
    fxtest::fillChannel(block, 2, 0.5f);
    fx->process(block);
    for (uint32_t c = 0; c < 8; ++c) {
        EXPECT_EQ(block.channelState[c], c == 2 ? ChannelState::Playing : ChannelState::Vacant) << c;
        if (c != 2) {
            EXPECT_EQ(fxtest::peak(block, c), 0.0f) << c;
        }
    }
    // With nothing listed the previous assignment stays.
    AudioBlock empty;
    fx->process(empty);
    EXPECT_EQ(empty.channelState[2], ChannelState::Playing);
    EXPECT_GT(fxtest::peak(empty, 2), 0.0f);
}

namespace {

// The block form against the network stepped one frame at a time in the same
// float arithmetic, from the same state, the channels in `sounding` playing
// and the rest vacant (each line summed into its listed channel in line
// order), blocks of `frames` frames; the count of output samples that differ.
uint64_t frameStepMismatches(std::initializer_list<uint32_t> sounding, uint32_t frames = AudioBlock::kFrames) {
    auto fx = std::make_unique<ReverbFX>();
    fx->size.setValue(2, true);  // "small": the lines wrap often
    fx->filter.setValue(2, true);
    fx->modulation.setValue(80.0f, true);
    fx->dryWet.setValue(40.0f, true);
    fxtest::settleParameters(*fx);
    uint64_t n = 0;
    auto fill = [&](AudioBlock& block) {
        block.frames = frames;
        for (uint32_t c : sounding) {
            block.channelState[c] = ChannelState::Playing;
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
                block.channel(c)[i] = float(0.3 * std::sin(0.001 * double((n + i) * (c + 3)) * double(c + 1)));
        }
        n += frames;
    };
    for (int b = 0; b < 40; ++b) {  // past the first jump of the taps
        AudioBlock block;
        fill(block);
        fx->process(block);
    }
    const std::vector<uint32_t> listed(sounding);
    std::vector<DelayLine> lines = fx->reverbLines;
    Phasor modulator = fx->modulator;
    QuadOnePole dampingA = fx->dampingA, dampingB = fx->dampingB;
    const float G = fx->feedback.output, m = fx->modulation.output, depth = m * m * 200.0f;
    const float wet = std::sqrt(fx->dryWet.output.load()), dry = std::sqrt(1.0f - fx->dryWet.output.load());
    const uint32_t size = lines[0].size();
    uint64_t mismatches = 0;
    for (int b = 0; b < 400; ++b) {
        AudioBlock block;
        fill(block);
        AudioBlock expected = block;
        for (uint32_t i = 0; i < frames; ++i) {
            float in[8], y[8];
            for (uint32_t k = 0; k < 8; ++k)
                in[k] = block.channel(k)[i];
            const float s = DSP::wavetable.sineInCycle(modulator.next());
            const float d = std::clamp(fx->modulatedBase + depth * s, 0.0f, float(size - 1));
            const uint32_t whole = uint32_t(d), w = lines[0].writeIndex;
            const float u = d - float(whole);
            y[0] = G * ((1.0f - u) * lines[0].buffer[(w + whole) % size] +
                        u * lines[0].buffer[(w + std::min(whole + 1, size - 1)) % size]);
            for (uint32_t k = 1; k < 8; ++k)
                y[k] = G * lines[k].read(std::min(lines[k].currentTap, size - 1));
            float4 low = {y[0], y[1], y[2], y[3]}, high = {y[4], y[5], y[6], y[7]};
            dampingA.process4(low);
            dampingB.process4(high);
            const float4 sum4 = low + high;
            const float M = -0.25f * (sum4[0] + sum4[1] + sum4[2] + sum4[3]);
            low += M;
            high += M;
            for (uint32_t c = 0; c < 8; ++c)
                expected.channel(c)[i] = 0.0f;
            for (uint32_t k = 0; k < 8; ++k) {
                const float v = k < 4 ? low[k] : high[k - 4];
                lines[k].write(v + in[k]);
                expected.channel(listed[k % listed.size()])[i] += wet * v + dry * in[k];
            }
        }
        fx->process(block);
        for (uint32_t k = 0; k < 8 * AudioBlock::kFrames; ++k)
            mismatches += block.samples[k] != expected.samples[k];
    }
    EXPECT_GT(std::fabs(fx->reverbLines[3].read(10)), 1e-4f);
    return mismatches;
}

}  // namespace

// Over several laps of the lines, modulation and damping on.
TEST(Reverb, BlockFormMatchesTheFrameStepBitForBit) {
    EXPECT_EQ(frameStepMismatches({0, 1, 2, 3, 4, 5, 6, 7}), 0u);
}

// A track's default single voice, and three voices sharing the eight lines;
// blocks a few frames short of a whole run of four also take the frame step.
TEST(Reverb, PartialBlockMatchesTheFrameStepBitForBit) {
    EXPECT_EQ(frameStepMismatches({2}), 0u);
    EXPECT_EQ(frameStepMismatches({1, 4, 6}), 0u);
    EXPECT_EQ(frameStepMismatches({1, 4, 6}, 63), 0u);
    EXPECT_EQ(frameStepMismatches({0, 1, 2, 3, 4, 5, 6, 7}, 61), 0u);
}

#include "effects/ReverbFX.h"

#include "dsp/Random.h"
#include "dsp/WaveTable.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kMix = -2.0f / 8.0f;
constexpr uint32_t kSpread = 1000;
enum Color : int32_t { Clean = 0, Lossy = 1, Noisy = 2, Bits14 = 3, Bits12 = 4 };

}  // namespace

ReverbFX::ReverbFX()
    : size("size", ParameterInt::ChoiceMode, Stored, 0),
      filter("filter", ParameterInt::ChoiceMode, Stored | Smoothed, 0),
      color("color", ParameterInt::ChoiceMode, Stored | Smoothed, 0),
      modulation("modulation", ParameterFloat::Percent, XYMorph | Stored | Smoothed, 0.5f),
      feedback("feedback", ParameterFloat::Percent, XYMorph | Stored | Smoothed, 0.7f),
      dryWet("dry/wet", ParameterFloat::Percent, XYMorph | Stored | Smoothed, 1.0f) {
    size.setChoices({"large", "medium", "small"}, 0);
    filter.setChoicesWithValues({"20k", "10k", "5k", "2k", "1k"}, {20000, 10000, 5000, 2000, 1000}, 0);
    color.setChoices({"clean", "lossy", "noisy", "14-bit", "12-bit"}, 0);
    reverbLines.reserve(kLines);
    for (uint32_t k = 0; k < kLines; ++k) {
        reverbLines.emplace_back(reverbLineCapacity);
        lineToChannel[k] = k;
    }
    _setup("reverb", {&feedback, &modulation, &dryWet, &size, &filter, &color});
    encoderParameters[1] = &feedback;
    encoderParameters[2] = &modulation;
    encoderParameters[3] = &dryWet;
    keyParameters[0] = &size;
    keyParameters[1] = &filter;
    keyParameters[2] = &color;
}

ReverbFX::~ReverbFX() = default;

void ReverbFX::_buildLengths(int32_t sizeChoice) {
    const uint32_t base = sizeChoice == 1 ? reverbLineCapacity / 6
                          : sizeChoice == 2 ? reverbLineCapacity / 16
                                            : reverbLineCapacity / 2;
    for (uint32_t k = 0; k < kLines; ++k) {
        const float ratio = std::exp2(float(k) / 8.0f);
        const uint32_t spread = DSP::random.nextHigh() % kSpread;
        const uint32_t length = uint32_t(float(spread) + float(base) * ratio);
        reverbLines[k].setJumpTarget(length, 0);
        if (k == 0)
            modulatedBase = float(length);
    }
    modulator.setFrequency(0.5f);
    appliedSize = sizeChoice;
}

void ReverbFX::process(AudioBlock& block) {
    group.updateBlock();
    const MixGains mix = MixGains::equalPower(dryWet.output);
    const float G = feedback.output;
    const float m = modulation.output;
    const float depth = m * m * 200.0f;

    const int32_t sizeChoice = size.value.load(std::memory_order_relaxed);
    if (sizeChoice != appliedSize)
        _buildLengths(sizeChoice);

    const int32_t colour = color.value.load(std::memory_order_relaxed);
    float levels = 0.0f;
    if (colour == Noisy) {
        for (DelayLine& line : reverbLines)
            line.randomWalkTap();
    } else if (colour != Clean) {
        reverbLines[DSP::random.nextHigh() % kLines].randomWalkTap();
        levels = colour == Bits14 ? 16384.0f : colour == Bits12 ? 4096.0f : 0.0f;
    }

    dampingA.setCutoff(filter.output / 48000.0f);
    dampingB.setCutoff(filter.output / 48000.0f);

    uint32_t listed[kLines];
    uint32_t count = 0;
    for (uint32_t c = 0; c < kChannels; ++c)
        if (block.channelState[c] != ChannelState::Vacant)
            listed[count++] = c;
    if (count > 0)
        for (uint32_t k = 0; k < kLines; ++k)
            lineToChannel[k] = listed[k % count];

    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    // The lines are written together every frame, so they share one write
    // index; with no tap jump under way the taps are read straight from the
    // buffers (the same samples readCrossfading would give).
    bool steady = true;
    for (uint32_t k = 1; k < kLines; ++k)
        steady = steady && reverbLines[k].tapSteady() && reverbLines[k].fadeGain == 1.0f &&
                 reverbLines[k].writeIndex == reverbLines[0].writeIndex;
    bool identity = true;
    for (uint32_t k = 0; k < kLines; ++k)
        identity = identity && lineToChannel[k] == k;
    // Compiled apart for a full block's own rows and for channels shared by
    // several lines, so neither form pays for the other's stores.
    if (identity)
        _renderFrames<true>(block.samples, frames, mix, G, depth, levels, steady);
    else
        _renderFrames<false>(block.samples, frames, mix, G, depth, levels, steady);

    for (uint32_t c = 0; c < kChannels; ++c)
        block.channelState[c] = ChannelState::Vacant;
    for (uint32_t k = 0; k < kLines; ++k)
        block.channelState[lineToChannel[k]] = ChannelState::Playing;
    _storeChannelStates(block);
}

template <bool kOwnRows>
void ReverbFX::_renderFrames(float* samples, uint32_t frames, MixGains mix, float G, float depth, float levels,
                             bool steady) {
    uint32_t to[kLines];
    std::copy(lineToChannel, lineToChannel + kLines, to);
    const uint32_t n = reverbLineCapacity;
    float* buffers[kLines];
    uint32_t taps[kLines];
    for (uint32_t k = 0; k < kLines; ++k) {
        buffers[k] = reverbLines[k].buffer.data();
        taps[k] = std::min(reverbLines[k].currentTap, n - 1);
    }
    uint32_t w = reverbLines[0].writeIndex;
    const float maxDelay = float(n - 1);

    // One frame of the network. Inlined at both its uses: as a call it would
    // fetch every captured word through memory each frame, which is most of
    // the cost when fewer than eight channels sound and no run of four applies.
    auto frame = [&](uint32_t i) __attribute__((always_inline)) {
        float in[kLines];
#pragma GCC unroll 8
        for (uint32_t k = 0; k < kLines; ++k)
            in[k] = samples[k * AudioBlock::kFrames + i];
        const float s = DSP::wavetable.sineInCycle(modulator.next());
        float y[kLines];
        if (steady) {
            float d = std::clamp(modulatedBase + depth * s, 0.0f, maxDelay);
            const uint32_t whole = uint32_t(d);
            const float u = d - float(whole);
            uint32_t a = w + whole, b = w + std::min(whole + 1, n - 1);
            a = a >= n ? a - n : a;
            b = b >= n ? b - n : b;
            y[0] = G * ((1.0f - u) * buffers[0][a] + u * buffers[0][b]);
#pragma GCC unroll 8
            for (uint32_t k = 1; k < kLines; ++k) {
                const uint32_t r = w + taps[k];
                y[k] = G * buffers[k][r >= n ? r - n : r];
            }
        } else {
            y[0] = G * reverbLines[0].readInterpolated(modulatedBase + depth * s);
            for (uint32_t k = 1; k < kLines; ++k)
                y[k] = G * reverbLines[k].readCrossfading(0);
        }
        if (levels > 0.0f)
            for (float& v : y)
                v = std::trunc(v * levels) / levels;
        float4 low = float4{y[0], y[1], y[2], y[3]};
        float4 high = float4{y[4], y[5], y[6], y[7]};
        dampingA.process4(low);
        dampingB.process4(high);
        const float4 sum4 = low + high;
        const float M = kMix * (sum4[0] + sum4[1] + sum4[2] + sum4[3]);
        low += M;
        high += M;
        const float v[kLines] = {low[0], low[1], low[2], low[3], high[0], high[1], high[2], high[3]};
        if (steady) {
            w = (w ? w : n) - 1;
#pragma GCC unroll 8
            for (uint32_t k = 0; k < kLines; ++k)
                buffers[k][w] = v[k] + in[k];
        } else {
            for (uint32_t k = 0; k < kLines; ++k)
                reverbLines[k].write(v[k] + in[k]);
        }
        if constexpr (kOwnRows) {
#pragma GCC unroll 8
            for (uint32_t k = 0; k < kLines; ++k)
                samples[k * AudioBlock::kFrames + i] = mix.wet * v[k] + mix.dry * in[k];
        } else {
            // Summed on the stack in line order, then written once: the same
            // sums as adding into the zeroed block, without a store and reload
            // of the block per line.
            float out[kChannels] = {};
#pragma GCC unroll 8
            for (uint32_t k = 0; k < kLines; ++k)
                out[to[k]] += mix.wet * v[k] + mix.dry * in[k];
#pragma GCC unroll 8
            for (uint32_t c = 0; c < kChannels; ++c)
                samples[c * AudioBlock::kFrames + i] = out[c];
        }
    };

    // Four frames at a time: every tap reads at least three samples behind the
    // newest write, so no read of the four meets a write of the four, and the
    // lines' reads and writes become runs of four. The damping and the
    // reflection still go frame by frame, in the same arithmetic.
    bool runs = steady && levels == 0.0f;
    for (uint32_t k = 1; k < kLines; ++k)
        runs = runs && taps[k] >= 3;
    uint32_t i = 0;
    if (runs)
        for (; i + 4 <= frames; i += 4) {
            float d[4], u[4];
            uint32_t whole[4];
            bool near = false;
            const Phasor saved = modulator;
            for (uint32_t j = 0; j < 4; ++j) {
                const float s = DSP::wavetable.sineInCycle(modulator.next());
                d[j] = std::clamp(modulatedBase + depth * s, 0.0f, maxDelay);
                whole[j] = uint32_t(d[j]);
                u[j] = d[j] - float(whole[j]);
                near = near || whole[j] < 3;
            }
            if (near) {
                modulator = saved;
                for (uint32_t j = 0; j < 4; ++j)
                    frame(i + j);
                continue;
            }
            float4 y[kLines];
            for (uint32_t j = 0; j < 4; ++j) {
                const uint32_t wj = w >= j ? w - j : w + n - j;
                uint32_t a = wj + whole[j], b = wj + std::min(whole[j] + 1, n - 1);
                a = a >= n ? a - n : a;
                b = b >= n ? b - n : b;
                y[0][j] = G * ((1.0f - u[j]) * buffers[0][a] + u[j] * buffers[0][b]);
            }
            for (uint32_t k = 1; k < kLines; ++k) {
                uint32_t r = w + taps[k];
                r = r >= n ? r - n : r;
                const float* line = buffers[k];
                if (r >= 3) {
                    const float4 run = loadUnaligned4(line + r - 3);
                    y[k] = G * float4{run[3], run[2], run[1], run[0]};
                } else {
                    for (uint32_t j = 0; j < 4; ++j)
                        y[k][j] = G * line[r >= j ? r - j : r + n - j];
                }
            }
            float4 low[4] = {y[0], y[1], y[2], y[3]}, high[4] = {y[4], y[5], y[6], y[7]};
            transpose4(low[0], low[1], low[2], low[3]);
            transpose4(high[0], high[1], high[2], high[3]);
            for (uint32_t j = 0; j < 4; ++j) {
                dampingA.process4(low[j]);
                dampingB.process4(high[j]);
                const float4 sum4 = low[j] + high[j];
                const float M = kMix * (sum4[0] + sum4[1] + sum4[2] + sum4[3]);
                low[j] += M;
                high[j] += M;
            }
            transpose4(low[0], low[1], low[2], low[3]);
            transpose4(high[0], high[1], high[2], high[3]);
            const float4 wet = splat4(mix.wet), dry = splat4(mix.dry);
            // A channel shared by several lines is summed in line order, as in
            // the frame step, and written once every row has been read.
            [[maybe_unused]] float4 out[kChannels] = {};
            for (uint32_t k = 0; k < kLines; ++k) {
                const float4 v = k < 4 ? low[k] : high[k - 4];
                float* row = samples + k * AudioBlock::kFrames + i;
                const float4 in = loadUnaligned4(row);
                const float4 fed = v + in;
                float* line = buffers[k];
                if (w >= 4) {
                    storeUnaligned4(line + w - 4, float4{fed[3], fed[2], fed[1], fed[0]});
                } else {
                    for (uint32_t j = 0; j < 4; ++j)
                        line[w >= j + 1 ? w - j - 1 : w + n - j - 1] = fed[j];
                }
                if constexpr (kOwnRows)
                    storeUnaligned4(row, wet * v + dry * in);
                else
                    out[to[k]] += wet * v + dry * in;
            }
            if constexpr (!kOwnRows)
                for (uint32_t c = 0; c < kChannels; ++c)
                    storeUnaligned4(samples + c * AudioBlock::kFrames + i, out[c]);
            w = w >= 4 ? w - 4 : w + n - 4;
        }
    for (; i < frames; ++i)
        frame(i);
    if (steady)
        for (DelayLine& line : reverbLines)
            line.writeIndex = w;
}

#include "effects/LimiterFX.h"

#include "dsp/Float4.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

LimiterFX::LimiterFX()
    : input("input", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -32.0f, 64.0f),
      attack("attack", ParameterFloat::Milliseconds, Stored, 2.0f, 0.0f, 20.0f),
      release("release", ParameterFloat::Milliseconds, Stored, 20.0f, 10.0f, 200.0f),
      output("output", ParameterFloat::Decibels, Smoothed | Stored, 0.0f, -96.0f, 32.0f) {
    lines.reserve(kChannels);
    const uint32_t startTap = lookAhead(2.0f * 48.0f, AudioBlock::kFrames);
    for (uint32_t c = 0; c < kChannels; ++c) {
        lines.emplace_back(lineLength);
        lines.back().currentTap = lines.back().targetTap = startTap;
        meterGains[c].store(0.0f, std::memory_order_relaxed);
        clipFlags[c].store(false, std::memory_order_relaxed);
    }
    _setup("limiter", {&input, &attack, &release, &output});
    encoderParameters[0] = &input;
    encoderParameters[2] = &release;
    encoderParameters[3] = &output;
}

LimiterFX::~LimiterFX() = default;

uint32_t LimiterFX::lookAhead(float attackSamples, uint32_t frames) {
    const uint32_t whole = uint32_t(std::max(attackSamples, 0.0f));
    return uint32_t(4.0f * float(frames) + attackSamples - float(whole % frames));
}

// Input gain and level, four samples at a time: x is left scaled by Ki.
void LimiterFX::_scaleInput(float* x, float* level, uint32_t frames, float Ki) {
    const float4 k = splat4(Ki);
    const size_t whole = frames & ~3u;
    size_t i = 0;
    for (; i < whole; i += 4) {
        const float4 in = loadUnaligned4(x + i) * k;
        storeUnaligned4(x + i, in);
        storeUnaligned4(level + i, abs4(in));
    }
    for (; i < frames; ++i) {
        x[i] *= Ki;
        level[i] = std::fabs(x[i]);
    }
}

// Held peak and gain, sample by sample: gains[i] is the gain that sample i
// leaves behind. The target of the held peak is kept with it, so a held
// sample costs no division.
float LimiterFX::_followPeak(const float* level, float* gains, uint32_t frames, float A, float R, PeakHold& hold,
                             float g) {
    float peak = hold.peak, held = hold.target;
    uint32_t counter = hold.counter;
    const uint32_t length = hold.length;
#pragma GCC unroll 4
    for (uint32_t i = 0; i < frames; ++i) {
        const float v = level[i];
        float target;
        if (v > peak) {
            peak = v;
            counter = 1;
            held = target = std::min(kCeiling / v, 1.0f);
        } else if (counter <= length) {
            ++counter;
            target = held;
        } else {
            peak = 0.0f;
            held = 1.0f;
            target = v > 0.0f ? std::min(kCeiling / v, 1.0f) : 1.0f;  // NaN: 1
        }
        g += (target - g) / (g < target ? R : A);
        gains[i] = g;
    }
    hold.peak = peak;
    hold.target = held;
    hold.counter = counter;
    return g;
}

// y = Ko x g x d, four samples at a time; true when one left -1..+1.
bool LimiterFX::_applyGain(float* x, const float* gains, const float* delayedSamples, uint32_t frames, float Ko) {
    const float4 k = splat4(Ko), top = splat4(1.0f), bottom = splat4(-1.0f);
    int4 outside = {0, 0, 0, 0};
    const size_t whole = frames & ~3u;
    size_t i = 0;
    for (; i < whole; i += 4) {
        const float4 y = k * loadUnaligned4(gains + i) * loadUnaligned4(delayedSamples + i);
        storeUnaligned4(x + i, y);
        outside |= (y > top) | (y < bottom);
    }
    bool clip = (outside[0] | outside[1] | outside[2] | outside[3]) != 0;
    for (; i < frames; ++i) {
        const float y = Ko * gains[i] * delayedSamples[i];
        x[i] = y;
        clip |= y > 1.0f || y < -1.0f;
    }
    return clip;
}

void LimiterFX::process(AudioBlock& block) {
    group.updateBlock();
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    if (frames == 0)
        return;
    float A = float(double(attack.getValue()) * 48.0);
    float R = float(double(release.getValue()) * 48.0);
    const float Ki = input.output;
    const float Ko = output.output;
    const uint32_t L = std::min(lookAhead(A, frames), kMaxLookAhead);
    const uint32_t delayBlocks = std::min(L / frames, kStateRing - 1);
    A = std::max(A, 1.0f);
    R = std::max(R, 1.0f);
    const uint32_t channels = std::min(block.channels, kChannels);

    for (uint32_t c = 0; c < channels; ++c) {
        Envelope& env = envelopes[c];
        env.releaseSamples = R;
        env.attackSamples = A;
        int32_t& index = ringIndex[c];
        index = index == 0 ? int32_t(kStateRing) - 1 : index - 1;
        const ChannelState incoming = block.channelState[c];
        stateRing[c][index] = incoming;
        const ChannelState delayed = stateRing[c][(uint32_t(index) + delayBlocks) % kStateRing];
        channelStates[c].store(int32_t(delayed), std::memory_order_relaxed);

        DelayLine& line = lines[c];
        float g = env.gain;
        if (isActive(incoming) || isActive(delayed)) {
            PeakHold& hold = peaks[c];
            hold.length = 4 * L;
            if (!lineStarted[c]) {
                line.currentTap = line.targetTap = L;
                lineStarted[c] = true;
            }
            line.setJumpTarget(L, 0);
            float* x = block.channel(c);
            alignas(16) float level[AudioBlock::kFrames];
            alignas(16) float gains[AudioBlock::kFrames];
            alignas(16) float delayedSamples[AudioBlock::kFrames];
            _scaleInput(x, level, frames, Ki);
            g = _followPeak(level, gains, frames, A, R, hold, g);
            // On a steady tap the block is written first and read in one
            // pass: the same samples as a write and a read per frame. A
            // moving tap fades per frame.
            const bool steady = !line.jumpPending && !line.fadingIn && line.currentTap + frames <= line.size();
            if (steady) {
                line.writeBlock(x, frames);
                line.readBehind(delayedSamples, frames, line.currentTap);
            } else {
                for (uint32_t i = 0; i < frames; ++i) {
                    line.write(x[i]);
                    delayedSamples[i] = line.readCrossfading(0);
                }
            }
            // Not clipped: a peak that the falling gain has not caught yet
            // passes the ceiling for the length of the attack.
            const bool clip = _applyGain(x, gains, delayedSamples, frames, Ko);
            if (clip)
                clipFlags[c].store(true, std::memory_order_relaxed);
        } else {
            for (uint32_t i = 0; i < frames; ++i)
                g += (1.0f - g) / (g < 1.0f ? R : A);
            static constexpr float kSilence[AudioBlock::kFrames] = {};
            line.writeBlock(kSilence, frames);
        }
        env.gain = g;
        meterGains[c].store(g, std::memory_order_relaxed);
    }
    for (uint32_t c = 0; c < channels; ++c)
        block.channelState[c] = ChannelState(channelStates[c].load(std::memory_order_relaxed));
}

void LimiterFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) {
    for (uint32_t c = 0; c < kChannels; ++c) {
        const int xc = int(x + 3 * c);
        gfx->setColour(channelStates[c].load(std::memory_order_relaxed) == int32_t(ChannelState::Vacant) ? 4 : 8);
        const float gain = meterGains[c].load(std::memory_order_relaxed);
        float level = gain > 0.0f ? 20.0f * std::log10(gain) : -64.0f;
        level = std::clamp(level, -64.0f, 0.0f);
        if (clipFlags[c].exchange(false, std::memory_order_relaxed))
            gfx->drawLine(xc, int(y), xc + 1, int(y));
        gfx->drawRect(xc, int(y) + 2, xc + 1, int(float(y) + 2.0f - level * float(int(h) - 2) / 64.0f));
    }
    gfx->setFont(&font_compact, 1, 0);
    gfx->setColour(8);
    gfx->drawText(int(x), int(y + h) - 7, "limit");
}

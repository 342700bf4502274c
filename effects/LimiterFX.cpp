#include "effects/LimiterFX.h"

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
            bool clip = false;
            for (uint32_t i = 0; i < frames; ++i) {
                const float in = x[i] * Ki;
                float v = std::fabs(in);
                if (v > hold.peak) {
                    hold.peak = v;
                    hold.counter = 1;
                } else if (hold.counter <= hold.length) {
                    ++hold.counter;
                    v = hold.peak;
                } else {
                    hold.peak = 0.0f;
                }
                const float target = v > 0.0f ? std::min(kCeiling / v, 1.0f) : 1.0f;
                g += g < target ? (target - g) / R : (target - g) / A;
                line.write(in);
                const float d = line.readCrossfading(0);
                const float y = Ko * g * d;
                x[i] = y;
                clip |= y > 1.0f || y < -1.0f;
            }
            if (clip)
                clipFlags[c].store(true, std::memory_order_relaxed);
        } else {
            for (uint32_t i = 0; i < frames; ++i) {
                g += g < 1.0f ? (1.0f - g) / R : (1.0f - g) / A;
                line.write(0.0f);
            }
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

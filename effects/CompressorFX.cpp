#include "effects/CompressorFX.h"

#include "dsp/FastLog.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kLog2Of10Over20 = 0.16609640474f;  // 10^(x / 20) = 2^(x * this)
constexpr float kDbPerOctave = 6.02059991f;         // 20 log10(x) = log2(x) * this

}  // namespace

CompressorFX::CompressorFX()
    : threshold("threshold", ParameterFloat::Decibels, XYMorph | Smoothed | Stored | PerChannel, 0.0f, -120.0f, 0.0f),
      attack("attack", ParameterFloat::Milliseconds, XYMorph | Stored | PerChannel, 10.0f, 0.0f, 500.0f),
      release("release", ParameterFloat::Milliseconds, XYMorph | Stored | PerChannel, 100.0f, 10.0f, 2000.0f),
      output("output", ParameterFloat::Decibels, Smoothed | Stored | PerChannel, 0.0f, -96.0f, 32.0f),
      ratio("ratio", ParameterInt::ChoiceMode, Stored, 1) {
    ratio.setChoicesWithValues({"1:1", "2:1", "3:1", "4:1", "6:1", "10:1", "20:1", "40:1", "80:1"},
                               {1, 2, 3, 4, 6, 10, 20, 40, 80}, 1);
    for (auto& m : meterDb)
        m.store(0.0f, std::memory_order_relaxed);
    _setup("compressor", {&threshold, &attack, &release, &output, &ratio});
    encoderParameters[0] = &threshold;
    encoderParameters[1] = &attack;
    encoderParameters[2] = &release;
    encoderParameters[3] = &output;
    keyParameters[0] = &ratio;
}

CompressorFX::~CompressorFX() = default;

bool CompressorFX::_belowThreshold(const float* const in[4], uint32_t frames, int4 active, float4 T, float4 e,
                                   float4 p) {
    // The envelope only shrinks towards 0 dB here, and below this the power
    // of two of its gain rounds to exactly 1 (NaN fails the test).
    const int4 tiny = abs4(e) <= splat4(1e-9f);
    if (!(tiny[0] & tiny[1] & tiny[2] & tiny[3]))
        return false;
    for (uint32_t k = 0; k < 4; ++k) {
        if (!active[k])
            continue;
        // A NaN compares false and so takes the full step.
        const float4 limit = splat4(T[k]);
        const float* x = in[k];
        int4 below = abs4(splat4(p[k])) < limit;
        uint32_t i = 0;
        for (; i + 4 <= frames; i += 4)
            below &= abs4(loadUnaligned4(x + i)) < limit;
        for (; i < frames; ++i)
            below[0] &= std::fabs(x[i]) < T[k] ? -1 : 0;
        if (!(below[0] & below[1] & below[2] & below[3]))
            return false;
    }
    return true;
}

void CompressorFX::process(AudioBlock& block) {
    group.updateBlock();
    ratio.updateBlock();
    const float r = std::max(ratio.output.load(), 1.0f);
    const float slope = 1.0f - 1.0f / r;
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const uint32_t channels = std::min(block.channels, kChannels);

    // Four channels side by side; a silent lane relaxes towards 0 dB (the
    // same step with a target of 0) and leaves its samples as they are.
    for (uint32_t first = 0; first < channels; first += 4) {
        float4 T = splat4(1.0f), Ko = splat4(1.0f), perRelease, perAttack, e, p, thresholdDb;
        int4 active = {0, 0, 0, 0};
        const float* in[4];
        float* out[4];
        float dummy[AudioBlock::kFrames];
        if (first + 4 > channels)
            std::fill(dummy, dummy + AudioBlock::kFrames, 0.0f);
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t c = first + k;
            Envelope& env = envelopes[std::min(c, kChannels - 1)];
            const ChannelState s = c < channels ? block.channelState[c] : ChannelState::Vacant;
            in[k] = c < channels ? block.channel(c) : dummy;
            out[k] = c < channels ? block.channel(c) : dummy;
            if (isActive(s)) {
                const bool started = s == ChannelState::Started;
                T[k] = std::max(threshold.getModulated(c, false, started), 1e-6f);
                Ko[k] = output.getModulated(c, false, started);
                env.releaseSamples = float(std::max(double(release.getModulated(c, false, started)) * 48.0, 1.0));
                env.attackSamples = float(std::max(double(attack.getModulated(c, false, started)) * 48.0, 1.0));
                active[k] = -1;
            }
            perRelease[k] = 1.0f / env.releaseSamples;
            perAttack[k] = 1.0f / env.attackSamples;
            e[k] = c < channels ? env.gainDb : 0.0f;
            p[k] = previous[std::min(c, kChannels - 1)];
        }
        if (active[0] == 0 && active[1] == 0 && active[2] == 0 && active[3] == 0) {
            for (uint32_t i = 0; i < frames; ++i)
                e += -e * (e < 0.0f ? perRelease : perAttack);
        } else if (_belowThreshold(in, frames, active, T, e, p)) {
            // Every lane's target stays exactly 0 dB and its gain exactly 1:
            // only the envelope moves, as a silent lane's does.
            for (uint32_t i = 0; i < frames; ++i)
                e += -e * (e < 0.0f ? perRelease : perAttack);
            for (uint32_t k = 0; k < 4; ++k) {
                if (!active[k])
                    continue;
                const float4 gain = splat4(Ko[k]);
                uint32_t i = 0;
                for (; i + 4 <= frames; i += 4)
                    storeUnaligned4(out[k] + i, loadUnaligned4(in[k] + i) * gain);
                for (; i < frames; ++i)
                    out[k][i] = in[k][i] * Ko[k];
                if (frames > 0)
                    p[k] = in[k][frames - 1];
            }
        } else {
            thresholdDb = kDbPerOctave * fastlog::log2(T);
            auto step = [&](float4 x) __attribute__((always_inline)) {
                const float4 a = abs4(p);
                // Below the threshold the target is 0 dB.
                const float4 level = fastlog::log2(a >= T ? a : T);
                // A silent lane's stale previous sample must not hold its gain down.
                const float4 target = active ? (thresholdDb - kDbPerOctave * level) * slope : splat4(0.0f);
                e += (target - e) * (e < target ? perRelease : perAttack);
                const float4 compressed = x * fastlog::exp2(e * kLog2Of10Over20);
                p = active ? compressed : p;
                return active ? compressed * Ko : x;
            };
            uint32_t i = 0;
            if (first + 4 <= channels) {
                // Four frames of the four channels at a time, turned to frames.
                float* rows = block.channel(first);
                constexpr uint32_t F = AudioBlock::kFrames;
                for (; i + 4 <= frames; i += 4) {
                    float4 x0 = loadUnaligned4(rows + i), x1 = loadUnaligned4(rows + F + i);
                    float4 x2 = loadUnaligned4(rows + 2 * F + i), x3 = loadUnaligned4(rows + 3 * F + i);
                    transpose4(x0, x1, x2, x3);
                    x0 = step(x0), x1 = step(x1), x2 = step(x2), x3 = step(x3);
                    transpose4(x0, x1, x2, x3);
                    storeUnaligned4(rows + i, x0), storeUnaligned4(rows + F + i, x1);
                    storeUnaligned4(rows + 2 * F + i, x2), storeUnaligned4(rows + 3 * F + i, x3);
                }
            }
            for (; i < frames; ++i) {
                const float4 y = step(float4{in[0][i], in[1][i], in[2][i], in[3][i]});
                for (uint32_t k = 0; k < 4; ++k)
                    out[k][i] = y[k];
            }
        }
        for (uint32_t k = 0; k < 4 && first + k < channels; ++k) {
            const uint32_t c = first + k;
            envelopes[c].gainDb = e[k];
            previous[c] = p[k];
            meterDb[c].store(e[k], std::memory_order_relaxed);
        }
    }
    _storeChannelStates(block);
}

void CompressorFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) {
    for (uint32_t c = 0; c < kChannels; ++c) {
        const int xc = int(x + 3 * c);
        gfx->setColour(channelStates[c].load(std::memory_order_relaxed) == int32_t(ChannelState::Vacant) ? 4 : 8);
        const float v = std::clamp(meterDb[c].load(std::memory_order_relaxed), -64.0f, 0.0f);
        gfx->drawRect(xc, int(y), xc + 1, int(float(y) - v * float(h) / 64.0f));
    }
    gfx->setFont(&font_compact, 1, 0);
    gfx->setColour(8);
    gfx->drawText(int(x), int(y + h) - 7, ratio.toString());
}

#include "effects/CompressorFX.h"

#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kLog2Of10Over20 = 0.16609640474f;  // 10^(x / 20) = 2^(x * this)

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

void CompressorFX::process(AudioBlock& block) {
    group.updateBlock();
    ratio.updateBlock();
    const float r = std::max(ratio.output.load(), 1.0f);
    const float slope = 1.0f - 1.0f / r;
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const uint32_t channels = std::min(block.channels, kChannels);

    for (uint32_t c = 0; c < channels; ++c) {
        Envelope& env = envelopes[c];
        float e = env.gainDb;
        const ChannelState s = block.channelState[c];
        if (!isActive(s)) {
            for (uint32_t i = 0; i < frames; ++i)
                e += -e / (e < 0.0f ? env.releaseSamples : env.attackSamples);
            env.gainDb = e;
            meterDb[c].store(e, std::memory_order_relaxed);
            continue;
        }
        const bool started = s == ChannelState::Started;
        const float T = std::max(threshold.getModulated(c, false, started), 1e-6f);
        const float Ko = output.getModulated(c, false, started);
        const float R = float(std::max(double(release.getModulated(c, false, started)) * 48.0, 1.0));
        const float A = float(std::max(double(attack.getModulated(c, false, started)) * 48.0, 1.0));
        env.releaseSamples = R;
        env.attackSamples = A;
        const float thresholdDb = 20.0f * std::log10(T);

        float* x = block.channel(c);
        float p = previous[c];
        for (uint32_t i = 0; i < frames; ++i) {
            // Below the threshold the target is 0 dB: no logarithm needed.
            const float a = std::fabs(p);
            float target = 0.0f;
            if (a >= T)
                target = (thresholdDb - 20.0f * std::log10(a)) * slope;
            e += (target - e) / (e < target ? R : A);
            const float gain = std::exp2(e * kLog2Of10Over20);
            p = x[i] * gain;
            x[i] = p * Ko;
        }
        previous[c] = p;
        env.gainDb = e;
        meterDb[c].store(e, std::memory_order_relaxed);
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

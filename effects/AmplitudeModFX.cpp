#include "effects/AmplitudeModFX.h"

#include "dsp/Random.h"
#include "dsp/WaveTable.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t kStartPeriod = 48000;
constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

AmplitudeModFX::AmplitudeModFX()
    : freq("freq", ParameterFloat::Hertz, XYMorph | Stored | Smoothed | PerChannel, 1.0f, 0.1f, 250.0f),
      restart("restart", ParameterFloat::Percent, XYMorph | Stored | Smoothed | PerChannel, 1.0f) {
    for (uint32_t c = 0; c < kChannels; ++c) {
        period[c].store(kStartPeriod, kRelaxed);
        phase[c].store(kStartPeriod, kRelaxed);
        gain[c].store(0.0f, kRelaxed);
        frequency[c] = 1.0f;
    }
    _setup("amp mod", {&freq, &restart});
    encoderParameters[0] = &freq;
    encoderParameters[2] = &restart;
}

AmplitudeModFX::~AmplitudeModFX() = default;

float AmplitudeModFX::gainAt(uint32_t p, uint32_t length) {
    if (length == 0)
        return 0.0f;
    return 0.5f + 0.5f * DSP::wavetable.sine(float(p) / float(length) + 0.75f);
}

void AmplitudeModFX::process(AudioBlock& block) {
    group.updateBlock();
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const uint32_t channels = std::min(block.channels, kChannels);
    for (uint32_t c = 0; c < channels; ++c) {
        const ChannelState s = block.channelState[c];
        const bool started = s == ChannelState::Started;
        bool restarting = false;
        if (started) {
            const float n = DSP::noise.next();
            restarting = restart.getModulated(c, false, true) > std::fabs(n);
        }
        if (isActive(s))
            frequency[c] = freq.getModulated(c, false, started);

        uint32_t length = period[c].load(kRelaxed);
        uint32_t p = phase[c].load(kRelaxed);
        if (p >= length || restarting) {
            const double samples = 1.0 / double(std::max(frequency[c], 0.1f)) * 48000.0;
            length = uint32_t(std::min(samples, 4.0e9));
            length -= length % AudioBlock::kFrames;
            length = std::max(length, AudioBlock::kFrames);
            p = restarting ? length / 2 : 0;
            if (isActive(s))
                block.channelState[c] = ChannelState::Started;
        }
        if (isActive(s)) {
            float* x = block.channel(c);
            const float step = 1.0f / float(length);
            float g = 0.0f;
            for (uint32_t i = 0; i < frames; ++i, ++p) {
                g = 0.5f + 0.5f * DSP::wavetable.sine(float(p) * step + 0.75f);
                x[i] *= g;
            }
            gain[c].store(g, kRelaxed);
        } else if (s == ChannelState::Silent) {
            p += frames;
        }
        period[c].store(length, kRelaxed);
        phase[c].store(p, kRelaxed);
    }
    _storeChannelStates(block);
    for (uint32_t c = 0; c < kChannels; ++c)
        visualStates[c].store(int32_t(block.channelState[c]), kRelaxed);
}

void AmplitudeModFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    gfx->setColour(8);
    for (uint32_t c = 0; c < kChannels; ++c) {
        const int32_t s = visualStates[c].load(kRelaxed);
        if (s == int32_t(ChannelState::Vacant))
            continue;
        float g = gain[c].load(kRelaxed);
        if (s == int32_t(ChannelState::Silent)) {
            g = gainAt(phase[c].load(kRelaxed), period[c].load(kRelaxed));
            gain[c].store(g, kRelaxed);
        }
        const int top = int(float(y) + float(size) * (1.0f - g));
        gfx->drawRect(int(x + 3 * c), top, int(x + 3 * c + 1), int(y + size));
    }
}

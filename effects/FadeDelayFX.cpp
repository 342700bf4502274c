#include "effects/FadeDelayFX.h"

#include "dsp/Random.h"
#include "dsp/Saturate.h"
#include "dsp/WaveTable.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint32_t kNearest = 4000;

}  // namespace

FadeDelayFX::FadeDelayFX()
    : freq("freq", ParameterFloat::Hertz, XYMorph | Stored | Smoothed, 1.0f, 0.1f, 2000.0f),
      feedback("feedback", ParameterFloat::Decibels, XYMorph | Stored | Smoothed, -96.0f, -96.0f, 0.0f),
      shift("shift", ParameterFloat::Percent, XYMorph | Stored, 0.0f),
      dryWet("dry/wet", ParameterFloat::Percent, XYMorph | Stored | Smoothed, 0.2f),
      writeBus(AudioBlock::kFrames, 0.0f),
      fadeLength(AudioBlock::kFrames, 0.0f),
      phaseBuffer(AudioBlock::kFrames, 0.0f),
      fadeLine(kLineLength) {
    highPassLow.setCutoff(40.0);
    ducker.setCutoff(1.0);
    lowPass.setCutoff(10000.0);
    windowSmoother.setCutoff(1.0);
    for (ReadHead& head : heads)
        head.delay.store(kNearest + DSP::random.nextHigh() % (kLineLength - kNearest), kRelaxed);
    _setup("fade delay", {&freq, &feedback, &shift, &dryWet});
    encoderParameters[0] = &freq;
    encoderParameters[1] = &feedback;
    encoderParameters[2] = &shift;
    encoderParameters[3] = &dryWet;
}

FadeDelayFX::~FadeDelayFX() = default;

void FadeDelayFX::process(AudioBlock& block) {
    group.updateBlock();
    float F = freq.output;
    const float G = feedback.output;
    const float x = dryWet.output;
    float dry = 1.0f, wet = 0.0f;
    if (x >= 1.0f) {
        dry = 0.0f, wet = 0.25f;
    } else if (x > 0.0f) {
        dry = std::cos(std::numbers::pi_v<float> * x / 2.0f);
        wet = 0.25f * std::sin(std::numbers::pi_v<float> * x / 2.0f);
    }
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    phasor.setFrequency(F);
    const double window = 48000.0 / double(std::max(F, 0.1f));
    for (uint32_t i = 0; i < frames; ++i) {
        phaseBuffer[i] = phasor.next();
        writeBus[i] = 0.0f;
        fadeLength[i] = windowSmoother.tick(float(window));
    }
    F = std::max(F, 0.25f);
    const uint32_t lo = uint32_t(4000.0f + 72000.0f * 0.125f / F);
    const uint32_t range = kLineLength - lo;
    const float shiftChance = shift.getValue();

    const uint32_t channels = std::min(block.channels, kChannels);
    uint32_t count = 0;
    for (uint32_t c = 0; c < channels; ++c) {
        if (block.channelState[c] == ChannelState::Vacant)
            continue;
        ++count;
        float* samples = block.channel(c);
        for (uint32_t i = 0; i < frames; ++i) {
            const float in = samples[i];
            float w = 0.0f;
            for (uint32_t h = 0; h < headCount; ++h) {
                const uint32_t t = headsPerChannel * c + h;
                ReadHead& head = heads[t];
                float p = phaseBuffer[i] + headPhaseOffsets[t % 8];
                p -= std::floor(p);
                uint32_t delay = head.delay.load(kRelaxed);
                if (head.lastPhase - p > 0.9f) {
                    head.moving = shiftChance > std::fabs(DSP::noise.next()) ? 1 : 0;
                    delay = lo + DSP::random.nextHigh() % range;
                    head.delay.store(delay, kRelaxed);
                }
                head.lastPhase = p;
                const uint32_t back = head.moving ? saturateToU32((1.0f - p) * fadeLength[i]) : 0;
                const float s = fadeLine.read(back + delay - i);
                const float g = 0.5f + 0.5f * DSP::wavetable.sine(p + 0.75f);
                w += g * s;
                head.gain.store(g, kRelaxed);
                writeBus[i] = in + writeBus[i] + w * G;
            }
            samples[i] = w * wet + dry * in;
        }
    }

    for (uint32_t i = 0; i < frames; ++i) {
        float v = writeBus[i];
        v -= highPassLow.tick(v);
        v = lowPass.tick(v);
        writeBus[i] = v;
        const float a = std::min(1.0f, std::fabs(v * float(count)));
        const float d = ducker.tick(1.0f - a);
        if (i == 0) {
            const uint32_t index = (duckIndex.load(kRelaxed) + kDuckHistory - 1) % kDuckHistory;
            duckHistory[index].store(d, kRelaxed);
            duckIndex.store(index, kRelaxed);
        }
        fadeLine.write(d * v);
    }
    for (uint32_t c = 0; c < kChannels; ++c)
        if (block.channelState[c] != ChannelState::Vacant)
            block.channelState[c] = ChannelState::Playing;
    _storeChannelStates(block);
}

void FadeDelayFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    if (size > 5) {
        const unsigned per = std::max(kLineLength / (size - 5), 1u);
        for (uint32_t t = 0; t < kHeads; ++t) {
            const uint32_t c = t / 2;
            if (channelStates[c].load(kRelaxed) == int32_t(ChannelState::Vacant))
                continue;
            gfx->setColour(uint32_t(std::clamp(std::roundf(heads[t].gain.load(kRelaxed) * 8.0f), 0.0f, 8.0f)));
            const int o = int(heads[t].delay.load(kRelaxed) / per);
            gfx->drawLine(int(x) + o, int(y + 3 * c), int(x) + o, int(y + 3 * c + 1));
        }
    }
    gfx->setColour(4);
    gfx->drawLine(int(x + size) - 3, int(y), int(x + size) - 3, int(y + size));
    gfx->setColour(8);
    gfx->drawRect(int(x + size), int(y), int(x + size) - 1, int(float(y) + (1.0f - newestDuckGain()) * float(size)));
}

#include "effects/SaturationFX.h"

#include "effects/MixGains.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

template <int32_t S>
inline float _curve(float u) {
    if constexpr (S == SaturationFX::Medium) {
        return 1.5f * u / (std::fabs(u) + 1.0f);
    } else if constexpr (S == SaturationFX::Hard) {
        return std::clamp(u, -1.0f, 1.0f);
    } else if constexpr (S == SaturationFX::Sine) {
        return std::sin(u);
    } else {
        u = std::clamp(u, -2.0f, 2.0f);
        return u / (0.26f * u * u + 1.0f);
    }
}

// One channel's block with the curve fixed for the loop.
template <int32_t S>
void _shapeBlock(float* x, uint32_t frames, float q, float D, float dry, float W, bool cut, OnePole& lp) {
    const float o = _curve<S>(q);
    for (uint32_t i = 0; i < frames; ++i) {
        const float in = x[i];
        const float y = _curve<S>(q + D * in) - o;
        x[i] = dry * in + W * (cut ? y - lp.tick(y) : y);
    }
}

}  // namespace

float SaturationFX::shapeValue(int32_t s, float u) {
    switch (s) {
    case Medium:
        return _curve<Medium>(u);
    case Hard:
        return _curve<Hard>(u);
    case Sine:
        return _curve<Sine>(u);
    default:
        return _curve<Soft>(u);
    }
}

SaturationFX::SaturationFX()
    : drive("drive", ParameterFloat::Decibels, XYMorph | Smoothed | Stored | PerChannel, 0.0f, -24.0f, 96.0f),
      postGain("post gain", ParameterFloat::Decibels, XYMorph | Smoothed | Stored | PerChannel, 0.0f, -64.0f, 24.0f),
      bias("bias", ParameterFloat::Plain, XYMorph | Smoothed | Stored | PerChannel, 0.0f, 0.0f, 1.0f),
      dryWet("dry/wet", ParameterFloat::Percent, XYMorph | Smoothed | Stored | PerChannel, 1.0f),
      shape("shape", ParameterInt::ChoiceMode, Stored, 0),
      lowCut("low cut", ParameterInt::ChoiceMode, Stored, 0) {
    lowCut.setChoicesWithValues({"none", "100 Hz", "200 Hz", "400 Hz", "800 Hz"}, {0, 1, 2, 4, 8}, 0);
    shape.setChoices({"soft", "medium", "hard", "sine"}, 0);
    _setup("drive", {&drive, &bias, &postGain, &dryWet, &lowCut, &shape});
    encoderParameters[0] = &drive;
    encoderParameters[1] = &bias;
    encoderParameters[2] = &postGain;
    encoderParameters[3] = &dryWet;
    keyParameters[0] = &lowCut;
    keyParameters[1] = &shape;
}

SaturationFX::~SaturationFX() = default;

void SaturationFX::process(AudioBlock& block) {
    group.updateBlock();
    lowCut.updateBlock();
    const int32_t v = int32_t(lowCut.output.load());
    const int32_t s = shape.value.load(std::memory_order_relaxed);
    const float B = bias.output;
    const float q = B * B;
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const uint32_t channels = std::min(block.channels, kChannels);

    for (uint32_t c = 0; c < channels; ++c) {
        const ChannelState state = block.channelState[c];
        if (!isActive(state))
            continue;
        const bool started = state == ChannelState::Started;
        const float D = drive.getModulated(c, false, started);
        const float m = dryWet.getModulated(c, false, started);
        if (!(m > 0.0f))
            continue;
        const MixGains mix = MixGains::equalPower(m);
        const float P = postGain.getModulated(c, false, started);
        // A drive of no gain would divide by zero.
        const float W = D > 0.0f ? P * mix.wet / D : 0.0f;
        if (!(W > 0.00001f))
            continue;
        OnePole& lp = lowCutFilters[c];
        lp.setCutoff(100.0 * double(v));
        const bool cut = v >= 1;
        float* x = block.channel(c);
        switch (s) {
        case Medium:
            _shapeBlock<Medium>(x, frames, q, D, mix.dry, W, cut, lp);
            break;
        case Hard:
            _shapeBlock<Hard>(x, frames, q, D, mix.dry, W, cut, lp);
            break;
        case Sine:
            _shapeBlock<Sine>(x, frames, q, D, mix.dry, W, cut, lp);
            break;
        default:
            _shapeBlock<Soft>(x, frames, q, D, mix.dry, W, cut, lp);
        }
    }
    _storeChannelStates(block);
}

void SaturationFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) {
    gfx->setColour(8);
    const int k = int(h / 2);
    const float yc = float(int(y) + k);
    const int32_t s = shape.value.load(std::memory_order_relaxed);
    auto curve = [&](int i) {
        const float t = float(i - k) * -0.23f;
        const float v = shapeValue(s, t);
        return s == Medium ? std::clamp(v, -1.0f, 1.0f) : v;
    };
    float previous = curve(0);
    for (int i = 1; i <= int(h); ++i) {
        const float now = curve(i);
        gfx->drawLine(int(x) + i - 1, int(yc + float(k) * previous), int(x) + i, int(yc + float(k) * now));
        previous = now;
    }
}

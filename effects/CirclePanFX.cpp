#include "effects/CirclePanFX.h"

#include "dsp/Random.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kWrapSpread = 0.99999f;

float _newDrift() { return std::tanh(DSP::noise.next()) * 0.001f; }

}  // namespace

CirclePanFX::CirclePanFX()
    : movement("movement", ParameterFloat::Percent, XYMorph | Smoothed | Stored, 0.0f),
      spread("spread", ParameterFloat::Percent, XYMorph | Smoothed | Stored, 0.0f),
      pan("pan", ParameterFloat::Plain, XYMorph | Smoothed | Stored, 0.0f, -1.0f, 1.0f),
      routing("routing", ParameterInt::PlainInt, Stored | Wrap, 1, 1, 8),
      channels("channels", ParameterInt::PlainInt, Stored | Wrap, 8, 4, 8) {
    for (uint32_t c = 0; c < kChannels; ++c) {
        angle[c] = DSP::noise.next();
        drift[c] = _newDrift();
        ringPosition[c].store(0.0f, kRelaxed);
    }
    _setup("circle", {&movement, &spread, &pan, &channels, &routing});
    encoderParameters[0] = &movement;
    encoderParameters[1] = &spread;
    encoderParameters[2] = &pan;
    keyParameters[1] = &channels;
    keyParameters[2] = &routing;
}

CirclePanFX::~CirclePanFX() = default;

void CirclePanFX::process(AudioBlock& block) {
    group.updateBlock();
    std::fill(std::begin(mixBuffer), std::end(mixBuffer), 0.0f);
    firstChannel = std::clamp(routing.value.load(kRelaxed), 1, 8) - 1;
    const int32_t ch = std::clamp(channels.value.load(kRelaxed), 4, 8);
    lastChannel = (firstChannel - 1 + ch) % 8;
    ChannelState out[kChannels];
    uint32_t count = 0;
    for (int32_t c = 0; c < int32_t(kChannels); ++c) {
        const bool inside = (firstChannel <= c && c <= lastChannel) ||
                            (firstChannel + ch > 8 && (c >= firstChannel || c <= lastChannel));
        out[c] = inside ? ChannelState::Silent : ChannelState::Vacant;
        if (inside)
            outputChannels[count++] = c;
    }
    outputCount.store(count, kRelaxed);

    const float move = movement.output * movement.output / float(count);
    const float width = spread.output;
    const float centre = pan.output;
    for (uint32_t c = 0; c < kChannels; ++c) {
        const ChannelState s = block.channelState[c];
        if (!isActive(s)) {
            visualStates[c].store(int32_t(ChannelState::Silent), kRelaxed);
            continue;
        }
        if (s == ChannelState::Started || visualStates[c].load(kRelaxed) == int32_t(ChannelState::Silent)) {
            angle[c] = DSP::noise.next();
            drift[c] = _newDrift();
            visualStates[c].store(int32_t(s), kRelaxed);
        } else {
            visualStates[c].store(int32_t(ChannelState::Playing), kRelaxed);
        }
        float& a = angle[c];
        a += move * drift[c];
        if (width <= kWrapSpread) {
            if (a < -1.0f || a > 1.0f)
                drift[c] = -drift[c];
        } else if (a < -1.0f) {
            a = 1.0f;
        } else if (a > 1.0f) {
            a = -1.0f;
        }
        const float p = (centre + 1.0f + a * width) * 0.5f;
        const float ring = p - std::floor(p);
        ringPosition[c].store(ring, kRelaxed);
        const float xr = float(count) * ring;
        const float lower = std::floor(xr);
        const uint32_t k1 = uint32_t(lower) % count;
        const uint32_t k2 = uint32_t(std::ceil(xr)) % count;
        const float u = xr - lower;
        const uint32_t o1 = uint32_t(outputChannels[k1]);
        const uint32_t o2 = uint32_t(outputChannels[k2]);
        for (uint32_t o : {o1, o2})
            if (out[o] != ChannelState::Playing)
                out[o] = s;
        const float g1 = u > 0.0f ? std::sqrt(1.0f - u) : 1.0f;
        const float g2 = u > 0.0f ? std::sqrt(u) : 0.0f;
        const float* x = block.channel(c);
        float* m1 = mixBuffer + o1 * AudioBlock::kFrames;
        float* m2 = mixBuffer + o2 * AudioBlock::kFrames;
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) {
            m1[i] += g1 * x[i];
            m2[i] += g2 * x[i];
        }
    }
    std::copy(std::begin(mixBuffer), std::end(mixBuffer), block.samples);
    for (uint32_t c = 0; c < kChannels; ++c)
        block.channelState[c] = out[c];
    _storeChannelStates(block);
}

void CirclePanFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    const int cx = int(x + size / 2), cy = int(y + size / 2);
    gfx->setColour(8);
    gfx->setPixel(cx, cy);
    const uint32_t count = outputCount.load(kRelaxed);
    if (count == 0)
        return;  // no ring before the first block
    const float off = -0.5f / float(count);
    auto point = [&](float a, float r, int& px, int& py) {
        const float w = 2.0f * std::numbers::pi_v<float> * a;
        px = cx + int(std::lround(std::sin(w) * r));
        py = cy - int(std::lround(std::cos(w) * r));
    };
    auto radius = [&](float a, float r) {
        int px, py;
        point(a, r, px, py);
        gfx->drawLine(cx, cy, px, py);
    };
    const float s = spread.getValue(), p = pan.getValue();
    if (s <= kWrapSpread) {
        gfx->setColour(4);
        radius(off + 0.5f + (p - s) * 0.5f, float(size) * 0.45454544f);
        radius(off + 0.5f + (p + s) * 0.5f, float(size) * 0.45454544f);
    }
    gfx->setColour(8);
    for (uint32_t c = 0; c < kChannels; ++c)
        if (visualStates[c].load(kRelaxed) != int32_t(ChannelState::Silent))
            radius(off + ringPosition[c].load(kRelaxed), float(size) * 0.4f);
    for (uint32_t k = 0; k < count; ++k) {
        int px, py;
        point(float(k) / float(count) + off, float(size) * 0.5f, px, py);
        gfx->setPixel(px, py);
    }
}

#include "effects/StateVariableFilterFX.h"

#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

StateVariableFilterFX::StateVariableFilterFX()
    : type("type", ParameterFloat::Plain, XYMorph | Smoothed | Stored | PerChannel, 0.0f, 0.0f, 4.0f),
      freq("freq", ParameterFloat::Hertz, XYMorph | Smoothed | Stored | PerChannel, 18000.0f, 20.0f, 19000.0f),
      reso("reso", ParameterFloat::Percent, XYMorph | Smoothed | Stored | PerChannel, 0.3f),
      dryWet("dry/wet", ParameterFloat::Percent, XYMorph | Smoothed | Stored | PerChannel, 1.0f) {
    _setup("filter", {&type, &freq, &reso, &dryWet});
    encoderParameters[0] = &type;
    encoderParameters[1] = &freq;
    encoderParameters[2] = &reso;
    encoderParameters[3] = &dryWet;
}

StateVariableFilterFX::~StateVariableFilterFX() = default;

void StateVariableFilterFX::process(AudioBlock& block) {
    group.updateBlock();
    _storeChannelStates(block);
    float shapes[kChannels], hz[kChannels], qs[kChannels], mixes[kChannels];
    bool groupActive[2] = {false, false};
    for (uint32_t c = 0; c < kChannels; ++c) {
        const ChannelState s = block.channelState[c];
        if (isActive(s)) {
            const bool started = s == ChannelState::Started;
            shapes[c] = type.getModulated(c, false, started);
            hz[c] = freq.getModulated(c, false, started);
            qs[c] = resonance(reso.getModulated(c, false, started));
            mixes[c] = dryWet.getModulated(c, false, started);
            groupActive[c / 4] = true;
        } else {
            shapes[c] = 0.0f;
            hz[c] = 1000.0f;
            qs[c] = 0.2f;
            mixes[c] = 0.0f;
        }
    }
    for (uint32_t g = 0; g < 2; ++g) {
        if (!groupActive[g])
            continue;
        filters[g].setShapeMix(shapes + 4 * g, hz + 4 * g, qs + 4 * g, mixes + 4 * g);
        filters[g].process4Channels(block.channel(4 * g), AudioBlock::kFrames);
    }
    for (uint32_t c = 0; c < kChannels; ++c)
        if (!isActive(block.channelState[c]))
            std::fill(block.channel(c), block.channel(c) + AudioBlock::kFrames, 0.0f);
}

void StateVariableFilterFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) {
    gfx->setColour(8);
    const int k = int(h / 2);
    const int yc = int(y) + k;
    const int xc = int(x) + k;
    const float t = std::clamp(type.getValue(), 0.0f, 4.0f);
    const int i0 = int(std::floor(t));
    const int i1 = int(std::ceil(t));
    const float u = t - float(i0);
    float L[3];
    for (int j = 0; j < 3; ++j)
        L[j] = (1.0f - u) * kSketch[i0][j] + u * kSketch[i1][j];
    const float R = 1.0f + 4.0f * std::clamp(reso.getValue(), 0.0f, 1.0f);
    const float middle = std::max(std::min(1.0f, L[1] * R), -1.0f);
    const int w = int(3.0f + 0.8f * R);
    const int ix = int(x), ih = int(h);
    gfx->drawLine(ix, int(float(yc) - L[0] * float(k)), ix + w, yc);
    gfx->drawLine(ix + w, yc, xc, int(float(yc) - middle * float(k)));
    gfx->drawLine(xc, int(float(yc) - middle * float(k)), ix + ih - w, yc);
    gfx->drawLine(ix + ih - w, yc, ix + ih, int(float(yc) - L[2] * float(k)));
}

#include "effects/ReRouteFX.h"

#include "dsp/Random.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

ReRouteFX::ReRouteFX()
    : direction("direction", ParameterInt::PlainInt, XYMorph | Stored, 1, -7, 7),
      movement("movement", ParameterFloat::Percent, XYMorph | Smoothed | Stored, 1.0f),
      random("random", ParameterFloat::Percent, XYMorph | Smoothed | Stored, 0.0f),
      routing("routing", ParameterInt::PlainInt, Stored | Wrap, 1, 1, 8),
      channels("channels", ParameterInt::PlainInt, Stored | Wrap, 1, 1, 8) {
    _setup("reroute", {&direction, &movement, &random, &channels, &routing});
    encoderParameters[0] = &random;
    encoderParameters[1] = &movement;
    encoderParameters[2] = &direction;
    keyParameters[1] = &channels;
    keyParameters[2] = &routing;
}

ReRouteFX::~ReRouteFX() = default;

int32_t ReRouteFX::nextOffset() {
    const int32_t ch = std::clamp(channels.value.load(kRelaxed), 1, 8);
    const float p = DSP::noise.next();
    if (random.getValue() > std::fabs(p)) {
        const uint32_t u = DSP::random.nextHigh();
        offset = (int32_t(u % uint32_t(ch)) + firstChannel) % 8;
        return offset;
    }
    const float q = DSP::noise.next();
    if (movement.getValue() > std::fabs(q)) {
        const int32_t o = offset + direction.value.load(kRelaxed);
        offset = ((((o - firstChannel) % ch) + ch) % ch + firstChannel) % 8;
    }
    return offset;
}

void ReRouteFX::process(AudioBlock& block) {
    group.updateBlock();
    firstChannel = std::clamp(routing.value.load(kRelaxed), 1, 8) - 1;
    const int32_t ch = std::clamp(channels.value.load(kRelaxed), 1, 8);
    lastChannel = (firstChannel - 1 + ch) % 8;
    std::fill(std::begin(mixBuffer), std::end(mixBuffer), 0.0f);

    ChannelState out[kChannels];
    for (int32_t c = 0; c < int32_t(kChannels); ++c) {
        const bool inside = (firstChannel <= c && c <= lastChannel) ||
                            (firstChannel + ch > 8 && (c >= firstChannel || c <= lastChannel));
        out[c] = inside ? ChannelState::Silent : ChannelState::Vacant;
    }
    for (uint32_t c = 0; c < kChannels; ++c) {
        ChannelState s = block.channelState[c];
        if (!isActive(s)) {
            visualStates[c].store(int32_t(s), kRelaxed);
            continue;
        }
        const bool wasSilent = visualStates[c].load(kRelaxed) == int32_t(ChannelState::Silent);
        if (s == ChannelState::Started || wasSilent) {
            s = ChannelState::Started;
            visualStates[c].store(int32_t(s), kRelaxed);
            targets[c].store(nextOffset(), kRelaxed);
        } else {
            visualStates[c].store(int32_t(ChannelState::Playing), kRelaxed);
        }
        const uint32_t t = uint32_t(targets[c].load(kRelaxed)) & 7u;
        if (out[t] != ChannelState::Playing)
            out[t] = s;
        float* mix = mixBuffer + t * AudioBlock::kFrames;
        const float* x = block.channel(c);
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
            mix[i] += x[i];
    }
    std::copy(std::begin(mixBuffer), std::end(mixBuffer), block.samples);
    block.positionCount = 1;
    for (uint32_t c = 0; c < kChannels; ++c) {
        block.channelPosition[c] = 0;
        block.channelState[c] = out[c];
    }
    _storeChannelStates(block);
}

void ReRouteFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    gfx->setColour(8);
    for (uint32_t c = 0; c < kChannels; ++c)
        if (isActive(ChannelState(visualStates[c].load(kRelaxed))))
            gfx->drawLine(int(x), int(y + 3 * c), int(x + size), int(y) + 3 * (targets[c].load(kRelaxed) & 7));
}

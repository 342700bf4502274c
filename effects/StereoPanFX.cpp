#include "effects/StereoPanFX.h"

#include "dsp/Random.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr float kEdge = 0.95f;
constexpr float kNewSpeed = 0.005f;

int _nearest(float v) { return int(std::lround(v)); }

}  // namespace

StereoPanFX::StereoPanFX()
    : movement("movement", ParameterFloat::Percent, XYMorph | Smoothed | Stored, 0.2f, 0.0f, 1.0f),
      spread("spread", ParameterFloat::Percent, XYMorph | Smoothed | Stored, 0.0f, 0.0f, 1.0f),
      pan("pan", ParameterFloat::Plain, XYMorph | Smoothed | Stored, 0.0f, -1.0f, 1.0f),
      output("output", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -48.0f, 48.0f),
      lowCut("low cut", ParameterInt::ChoiceMode, Stored, 0),
      routing("routing", ParameterInt::ChoiceMode, Stored, 0) {
    // The lowest level is silence.
    output.floorDb = -48.0f;
    output.constrain();
    lowCut.setChoicesWithValues({"none", "100 Hz", "200 Hz", "400 Hz", "800 Hz"}, {0, 1, 2, 4, 8}, 0);
    routing.setChoices({"1+2", "2+3", "3+4", "4+5", "5+6", "6+7", "7+8", "8+1"}, 0);
    for (uint32_t c = 0; c < kChannels; ++c) {
        notePosition[c] = DSP::noise.next();
        noteSpeed[c] = DSP::noise.next() * 0.001f;
        panPosition[c].store(0.5f, std::memory_order_relaxed);
    }
    _setup("stereo", {&movement, &spread, &pan, &output, &lowCut, &routing});
    encoderParameters[0] = &movement;
    encoderParameters[1] = &spread;
    encoderParameters[2] = &pan;
    encoderParameters[3] = &output;
    keyParameters[0] = &lowCut;
    keyParameters[2] = &routing;
}

StereoPanFX::~StereoPanFX() = default;

void StereoPanFX::panGains(float p, float& left, float& right) {
    // Places beyond the ends are held there: past them the parabola would
    // turn the far side up again and invert it.
    p = std::clamp(p, 0.0f, 1.0f);
    left = 1.0f - p * p;
    right = 1.0f - (1.0f - p) * (1.0f - p);
}

void StereoPanFX::process(AudioBlock& block) {
    group.updateBlock();
    lowCut.updateBlock();
    routing.updateBlock();
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const float g = output.output;
    const float move = movement.output * movement.output;
    const float spreadAmount = spread.output;
    const float panAmount = pan.output;
    const uint32_t L = uint32_t(std::clamp(routing.value.load(std::memory_order_relaxed), 0, 7));
    const uint32_t R = (L + 1) % kChannels;
    pairState = ChannelState::Silent;
    std::fill(std::begin(leftBuffer), std::end(leftBuffer), 0.0f);
    std::fill(std::begin(rightBuffer), std::end(rightBuffer), 0.0f);

    const uint32_t channels = std::min(block.channels, kChannels);
    for (uint32_t c = 0; c < channels; ++c) {
        const ChannelState s = block.channelState[c];
        if (!isActive(s)) {
            visualStates[c].store(int32_t(ChannelState::Silent), std::memory_order_relaxed);
            continue;
        }
        if (s == ChannelState::Started) {
            if (block.positionCount < 2) {
                notePosition[c] = DSP::noise.next();
            } else {
                notePosition[c] =
                    (2.0f * float(block.channelPosition[c]) / float(block.positionCount - 1) - 1.0f) * kEdge;
            }
            noteSpeed[c] = DSP::noise.next() * kNewSpeed;
            if (pairState != ChannelState::Playing)
                pairState = ChannelState::Started;
        } else {
            pairState = ChannelState::Playing;
        }
        visualStates[c].store(int32_t(s), std::memory_order_relaxed);

        float& place = notePosition[c];
        place += (1.0f - place * place * 0.5f) * move * noteSpeed[c];
        if (place > kEdge || place < -kEdge)
            noteSpeed[c] = -noteSpeed[c];
        const float p = std::clamp((panAmount + 1.0f + place * spreadAmount) * 0.5f, 0.0f, 1.0f);
        panPosition[c].store(p, std::memory_order_relaxed);
        float gL, gR;
        panGains(p, gL, gR);
        gL *= g;
        gR *= g;
        const float* x = block.channel(c);
        for (uint32_t i = 0; i < frames; ++i) {
            leftBuffer[i] += gL * x[i];
            rightBuffer[i] += gR * x[i];
        }
    }

    block.clear();
    block.channelState[L] = ChannelState::Silent;
    block.channelState[R] = ChannelState::Silent;
    if (isActive(pairState)) {
        std::copy(leftBuffer, leftBuffer + frames, block.channel(L));
        std::copy(rightBuffer, rightBuffer + frames, block.channel(R));
        const int32_t v = int32_t(lowCut.output);
        if (v > 0) {
            if (v != lowCutValue_) {
                lowCutValue_ = v;
                lowCutCoefficient_ = std::exp(-2.0f * std::numbers::pi_v<float> * 100.0f * float(v) / 48000.0f);
            }
            const float a = lowCutCoefficient_;
            for (uint32_t side = 0; side < 2; ++side) {
                float* x = block.channel(side == 0 ? L : R);
                float& state = lowCutState[side];
                for (uint32_t i = 0; i < frames; ++i) {
                    const float low = x[i] * (1.0f - a) + state * a;
                    state = low;
                    x[i] -= low;
                }
            }
        }
        block.channelState[L] = pairState;
        block.channelState[R] = pairState;
    }
    _storeChannelStates(block);
}

void StereoPanFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    auto line = [&](float a) {
        const int px = int(x) + _nearest(std::clamp(a, 0.0f, 1.0f) * float(size));
        gfx->drawLine(px, int(y), px, int(y + size));
    };
    const float p = pan.getValue();
    const float s = spread.getValue();
    gfx->setColour(4);
    line((p + 1.0f - s) * 0.5f);
    line((p + 1.0f + s) * 0.5f);
    gfx->setColour(8);
    for (uint32_t c = 0; c < kChannels; ++c)
        if (isActive(ChannelState(visualStates[c].load(std::memory_order_relaxed))))
            line(panPosition[c].load(std::memory_order_relaxed));
}

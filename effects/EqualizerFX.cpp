#include "effects/EqualizerFX.h"

#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

int32_t _choiceValue(ParameterInt& p) {
    p.updateBlock();
    return int32_t(p.output.load());
}

}  // namespace

EqualizerFX::EqualizerFX()
    : lowFreq("low freq", ParameterInt::ChoiceMode, Stored, 1),
      lowGain("low gain", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -kGainRange, kGainRange),
      midFreq("mid freq", ParameterFloat::Hertz, XYMorph | Smoothed | Stored, 2000.0f, 40.0f, 16000.0f),
      midGain("mid gain", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -kGainRange, kGainRange),
      highFreq("high freq", ParameterInt::ChoiceMode, Stored, 3),
      highGain("high gain", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -kGainRange, kGainRange) {
    lowFreq.setChoicesWithValues({"50", "100", "200", "400"}, {50, 100, 200, 400}, 1);
    highFreq.setChoicesWithValues({"1k", "2k", "4k", "8k", "16k"}, {1000, 2000, 4000, 8000, 16000}, 3);
    _setup("equalizer", {&lowGain, &lowFreq, &midFreq, &midGain, &highFreq, &highGain});
    encoderParameters[0] = &lowGain;
    encoderParameters[1] = &midFreq;
    encoderParameters[2] = &midGain;
    encoderParameters[3] = &highGain;
    keyParameters[0] = &lowFreq;
    keyParameters[2] = &highFreq;
}

EqualizerFX::~EqualizerFX() = default;

void EqualizerFX::process(AudioBlock& block) {
    group.updateBlock();
    laneFrequencies[0] = float(_choiceValue(lowFreq));
    laneFrequencies[1] = midFreq.output;
    laneFrequencies[2] = float(_choiceValue(highFreq));
    laneFrequencies[3] = 1000.0f;
    laneGains[0] = lowGain.getValue();
    laneGains[1] = midGain.getValue();
    laneGains[2] = highGain.getValue();
    laneGains[3] = 0.0f;

    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const QuadSVF* first = nullptr;
    for (uint32_t c = 0; c < kChannels; ++c) {
        if (!isActive(block.channelState[c]))
            continue;
        QuadSVF& f = filters[c];
        // Every channel shares the settings: worked out once, copied after.
        if (!first) {
            f.setCoefficients(laneTypes, laneFrequencies, laneResonances, laneGains);
            first = &f;
        } else {
            f.a1 = first->a1, f.a2 = first->a2, f.a3 = first->a3;
            f.m0 = first->m0, f.m1 = first->m1, f.m2 = first->m2;
        }
        f.processCascade(block.channel(c), frames);
    }
    _storeChannelStates(block);
}

void EqualizerFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) {
    const int ix = int(x), ih = int(h);
    const int yc = int(y) + ih / 2;
    auto height = [&](const ParameterFloat& p) {
        return int(std::lround(float(h) * 0.5f / gainRange * p.getValue()));
    };
    auto colourOf = [&](const ParameterFloat& p) { gfx->setColour(std::fabs(p.getValue()) > 0.001f ? 15 : 8); };
    const int dL = height(lowGain), dM = height(midGain), dH = height(highGain);
    const float lo = std::log2(40.0f), hi = std::log2(16000.0f);
    const float p = std::clamp((midFreq.getValue() - lo) / (hi - lo), 0.0f, 1.0f);
    const int xm = ix + 5 + int(p * float(ih - 14));

    colourOf(lowGain);
    gfx->drawLine(ix, yc - dL, ix + 2, yc - dL);
    gfx->drawLine(ix + 2, yc - dL, ix + 5, yc);
    gfx->setColour(8);
    gfx->drawLine(ix + 5, yc, xm, yc);
    colourOf(midGain);
    gfx->drawLine(xm, yc, xm + 2, yc - dM);
    gfx->drawLine(xm + 2, yc - dM, xm + 4, yc);
    gfx->setColour(8);
    gfx->drawLine(xm + 4, yc, ix + ih - 5, yc);
    colourOf(highGain);
    gfx->drawLine(ix + ih - 5, yc, ix + ih - 2, yc - dH);
    gfx->drawLine(ix + ih - 2, yc - dH, ix + ih, yc - dH);
}

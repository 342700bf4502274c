// Lo-fi: narrows the band, truncates to a number of bits, saturates, and runs
// the result through a slowly and randomly wandering delay that imitates the
// pitch wobble of worn tape ("tape").
#pragma once

#include "dsp/DelayLine.h"
#include "dsp/OnePole.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"

#include <cstdint>
#include <vector>

class DegradeFX : public AudioEffect {
public:
    static constexpr uint32_t kLineLength = 5000;

    DegradeFX();
    ~DegradeFX() override;

    void process(AudioBlock& block) override;
    // No picture.
    void _drawVisual(MonoGFX*, unsigned, unsigned, unsigned) override {}

    ParameterFloat drive;
    ParameterFloat tape;
    ParameterFloat filter;
    ParameterFloat bits;

    uint32_t lineLength = kLineLength;
    std::vector<DelayLine> lines;
    OnePole bandLow[kChannels];
    OnePole bandHigh[kChannels];
    OnePole wowSmoother[kChannels];
    OnePole flutterSmoother[kChannels];
    float wowPosition[kChannels] = {};
    float wowStep[kChannels];
};

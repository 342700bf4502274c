// Lo-fi: narrows the band, truncates to a number of bits, saturates, and runs
// the result through a slowly and randomly wandering delay that imitates the
// pitch wobble of worn tape ("tape").
#pragma once

#include "dsp/DelayLine.h"
#include "dsp/Float4.h"
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
    // The "filter" value the band coefficients were set for (none yet).
    float bandFilter[kChannels] = {-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f};

private:
    struct Settings {
        float Q, K, M, flutter;
    };
    // Reads the channel's controls, sets its band filters, steps its wow and
    // draws its flutter noise.
    Settings _prepare(uint32_t c, bool started, float* noise, uint32_t frames);
    void _runChannel(AudioBlock& block, uint32_t c, uint32_t frames);
    void _runGroup(AudioBlock& block, uint32_t first, uint32_t frames);
};

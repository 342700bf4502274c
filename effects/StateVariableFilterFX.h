// A resonant state-variable filter per channel whose response morphs from
// low-pass through band-pass, high-pass and notch back to low-pass as "type"
// goes from 0 to 4, with an equal-power dry/wet mix. Channels 0-3 share one
// four-lane filter and channels 4-7 another, one lane per channel.
#pragma once

#include "dsp/QuadSVF.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"

class StateVariableFilterFX : public AudioEffect {
public:
    StateVariableFilterFX();
    ~StateVariableFilterFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) override;

    // The lane's resonance for a "reso" of q: 0.2 to 14.2.
    static float resonance(float q) { return 14.0f * q * q * q + 0.2f; }

    ParameterFloat type;
    ParameterFloat freq;
    ParameterFloat reso;
    ParameterFloat dryWet;

    QuadSVF filters[2];
    // Left, middle and right level of the picture for each whole "type".
    static constexpr float kSketch[5][3] = {
        {0.0f, 0.2f, -1.0f}, {-1.0f, 0.2f, -1.0f}, {-1.0f, 0.2f, 0.0f}, {0.0f, -1.0f, 0.0f}, {0.0f, 0.2f, -1.0f},
    };
};

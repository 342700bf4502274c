// Waveshaping distortion: four curves, a bias that moves the working point
// (without adding an offset), an optional low cut on the distorted part, an
// equal-power dry/wet and a wet level compensated for the drive.
#pragma once

#include "dsp/OnePole.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

class SaturationFX : public AudioEffect {
public:
    enum Shape : int32_t { Soft = 0, Medium = 1, Hard = 2, Sine = 3 };

    SaturationFX();
    ~SaturationFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) override;

    // The curve f(u) of a shape (anything unknown is "soft").
    static float shapeValue(int32_t shape, float u);

    ParameterFloat drive;
    ParameterFloat postGain;
    ParameterFloat bias;
    ParameterFloat dryWet;
    ParameterInt shape;
    ParameterInt lowCut;

    OnePole lowCutFilters[kChannels];
};

// A feedback delay network of eight lines: the sounding channels are spread
// over the lines, every line is read, scaled by "feedback", optionally
// roughened ("color"), damped ("filter"), mixed by a Householder reflection
// and written back with its channel's input. Line 0 is read with a slow sine
// wobble ("modulation"). "size" picks one of three sets of lengths, spaced by
// eighth octaves with a random spread.
#pragma once

#include "dsp/DelayLine.h"
#include "dsp/Phasor.h"
#include "dsp/QuadSVF.h"
#include "effects/AudioEffect.h"
#include "effects/MixGains.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <cstdint>
#include <vector>

class ReverbFX : public AudioEffect {
public:
    static constexpr uint32_t kLines = 8;
    static constexpr uint32_t kLineCapacity = 20000;

    ReverbFX();
    ~ReverbFX() override;

    void process(AudioBlock& block) override;
    // The reverb has no picture: its box stays empty.
    void _drawVisual(MonoGFX*, unsigned, unsigned, unsigned) override {}

    // The length line k was last built with (its tap target).
    uint32_t lineLength(uint32_t k) const { return reverbLines[k].targetTap; }

    ParameterInt size;
    ParameterInt filter;
    ParameterInt color;
    ParameterFloat modulation;
    ParameterFloat feedback;
    ParameterFloat dryWet;

    int32_t appliedSize = -1;
    float modulatedBase = 0.0f;
    uint32_t reverbLineCapacity = kLineCapacity;
    std::vector<DelayLine> reverbLines;
    Phasor modulator;
    QuadOnePole dampingA;
    QuadOnePole dampingB;
    uint32_t lineToChannel[kLines];

private:
    void _buildLengths(int32_t sizeChoice);
    // The lines over the block's frames; kOwnRows when line k plays channel k.
    template <bool kOwnRows>
    void _renderFrames(float* samples, uint32_t frames, MixGains mix, float G, float depth, float levels,
                       bool steady);
};

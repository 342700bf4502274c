// Pans every note around a ring of four to eight output channels: each new
// note gets a random place and drift, moves around the ring inside the arc
// set by "pan" and "spread", and is shared between the two neighbouring
// outputs of its place with equal-power gains.
#pragma once

#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>

class CirclePanFX : public AudioEffect {
public:
    CirclePanFX();
    ~CirclePanFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) override;

    ParameterFloat movement;
    ParameterFloat spread;
    ParameterFloat pan;
    ParameterInt routing;
    ParameterInt channels;

    alignas(16) float mixBuffer[AudioBlock::kSamples] = {};
    float angle[kChannels];
    float drift[kChannels];
    // Read by the picture.
    std::atomic<float> ringPosition[kChannels];
    int32_t firstChannel = 0;
    int32_t lastChannel = 7;
    int32_t outputChannels[kChannels] = {};
    std::atomic<uint32_t> outputCount{0};
};

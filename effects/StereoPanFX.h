// Turns the eight note channels of a track into one stereo pair: each new
// note gets a place (its unison position, else a random one) that wanders
// with "movement"; "pan" and "spread" map it across the pair.
#pragma once

#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>

class StereoPanFX : public AudioEffect {
public:
    StereoPanFX();
    ~StereoPanFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) override;

    // Gains of the pair for a place p (0 left .. 1 right), before "output".
    static void panGains(float p, float& left, float& right);

    ParameterFloat movement;
    ParameterFloat spread;
    ParameterFloat pan;
    ParameterFloat output;
    ParameterInt lowCut;
    ParameterInt routing;

    alignas(16) float leftBuffer[AudioBlock::kFrames] = {};
    alignas(16) float rightBuffer[AudioBlock::kFrames] = {};
    float notePosition[kChannels];
    float noteSpeed[kChannels];
    // Read by the picture.
    std::atomic<float> panPosition[kChannels];
    ChannelState pairState = ChannelState::Silent;
    float lowCutState[2] = {0.0f, 0.0f};

private:
    int32_t lowCutValue_ = 0;
    float lowCutCoefficient_ = 0.0f;
};

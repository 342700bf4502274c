// A three-band equaliser (low shelf, mid bell, high bell) per channel on one
// four-lane filter run as a four-stage cascade; the fourth stage is a 0 dB
// shelf that passes the signal. The cascade delays the channel by three samples.
#pragma once

#include "dsp/QuadSVF.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

class EqualizerFX : public AudioEffect {
public:
    static constexpr float kGainRange = 48.0f;

    EqualizerFX();
    ~EqualizerFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) override;

    float gainRange = kGainRange;
    ParameterInt lowFreq;
    ParameterFloat lowGain;
    ParameterFloat midFreq;
    ParameterFloat midGain;
    ParameterInt highFreq;
    ParameterFloat highGain;

    int laneTypes[4] = {8, 7, 7, 9};
    float laneFrequencies[4] = {100.0f, 2000.0f, 8000.0f, 1000.0f};
    float laneResonances[4] = {0.7f, 0.7f, 0.7f, 0.7f};
    float laneGains[4] = {};
    QuadSVF filters[kChannels];

private:
    void _runGroup(AudioBlock& block, uint32_t group, uint32_t frames);
};

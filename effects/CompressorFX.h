// A hard-knee compressor per channel that works in decibels and listens to
// its own previous output sample (a feedback detector): the gain for a
// sample follows how far the last compressed sample stood above the
// threshold. Every control is read per voice channel.
#pragma once

#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <atomic>

class CompressorFX : public AudioEffect {
public:
    CompressorFX();
    ~CompressorFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) override;

    ParameterFloat threshold;
    ParameterFloat attack;
    ParameterFloat release;
    ParameterFloat output;
    ParameterInt ratio;

    struct Envelope {
        float releaseSamples = 25.0f;
        float attackSamples = 25.0f;
        float gainDb = 0.0f;  // 0 or below
    };
    Envelope envelopes[kChannels];
    // Read by the picture.
    std::atomic<float> meterDb[kChannels];
    float previous[kChannels] = {};
};

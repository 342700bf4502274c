// A hard-knee compressor per channel that works in decibels and listens to
// its own previous output sample (a feedback detector): the gain for a
// sample follows how far the last compressed sample stood above the
// threshold. Every control is read per voice channel.
#pragma once

#include "dsp/Float4.h"
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

private:
    // Whether a group of four may skip the gain work this block: no lane
    // reduces its gain audibly and no sounding lane reaches its threshold.
    static bool _belowThreshold(const float* const in[4], uint32_t frames, int4 active, float4 T, float4 e, float4 p);
};

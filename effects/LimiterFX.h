// Look-ahead peak limiter, per channel: the audio is delayed by at least four
// blocks while the gain follows the held peak of the undelayed signal, so
// the delayed signal settles under a ceiling of 0.75; then an output gain.
// The output is not clipped: while the gain is still falling (the attack) a
// peak may pass the ceiling. The channel states are delayed by the same
// number of blocks.
#pragma once

#include "dsp/DelayLine.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"

#include <atomic>
#include <cstdint>
#include <vector>

class LimiterFX : public AudioEffect {
public:
    static constexpr float kCeiling = 0.75f;
    // Longest look-ahead the parameters allow: 4 blocks + 20 ms rounded
    // down to whole blocks = 1216 samples; the lines hold more than that.
    static constexpr uint32_t kMaxLookAhead = 1216;
    static constexpr uint32_t kLineLength = 2048;
    static constexpr uint32_t kStateRing = 20;

    LimiterFX();
    ~LimiterFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) override;

    // Look-ahead in samples for an attack in samples, at a block length.
    static uint32_t lookAhead(float attackSamples, uint32_t frames);
    float meterGain(uint32_t c) const { return meterGains[c].load(std::memory_order_relaxed); }
    bool clipped(uint32_t c) const { return clipFlags[c].load(std::memory_order_relaxed); }

    ParameterFloat input;
    ParameterFloat attack;
    ParameterFloat release;
    ParameterFloat output;

    struct Envelope {
        float releaseSamples = 1.0f;
        float attackSamples = 1.0f;
        float gain = 0.0f;
    };
    struct PeakHold {
        float peak = 0.0f;
        uint32_t counter = 0;
        uint32_t length = 0;
        float target = 1.0f;  // the gain target of the held peak
    };

    Envelope envelopes[kChannels];
    uint32_t lineLength = kLineLength;
    std::vector<DelayLine> lines;
    PeakHold peaks[kChannels];
    std::atomic<float> meterGains[kChannels];
    std::atomic<bool> clipFlags[kChannels];
    int32_t ringIndex[kChannels] = {};
    ChannelState stateRing[kChannels][kStateRing] = {};
    // A line that never ran starts at its tap instead of fading to it.
    bool lineStarted[kChannels] = {};

private:
    static void _scaleInput(float* x, float* level, uint32_t frames, float Ki);
    static float _followPeak(const float* level, float* gains, uint32_t frames, float A, float R, PeakHold& hold,
                             float g);
    static bool _applyGain(float* x, const float* gains, const float* delayedSamples, uint32_t frames, float Ko);
};

// An echo per channel with a free or tempo-locked time and four characters of
// the echo path ("algo"): "clean" (exact copy, time changes by a cross-faded
// jump), "digital" (gliding time, integer read, bit reduction), "analog"
// (gliding time, interpolated read, low-pass, random wow) and "bucket" (a
// 4096-stage bucket-brigade whose clock follows the time). "type" feeds each
// channel its own echo ("normal") or the echo of the channel before it
// ("pingpong"). A channel that falls silent is kept Playing while it rings.
#pragma once

#include "dsp/DelayLine.h"
#include "dsp/OnePole.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterFraction.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>
#include <vector>

// What the delay reads of the main clock every block: its "BPM" (current,
// unmodulated) and its "clock source" (0 internal).
struct TempoReading {
    float bpm = 100.0f;
    int32_t clockSource = 0;
};
using TempoReader = TempoReading (*)();

class DelayFX : public AudioEffect {
public:
    static constexpr uint32_t kLineLength = 144400;
    static constexpr uint32_t kBuckets = 4096;
    enum Algorithm : int32_t { Clean = 0, Digital = 1, Analog = 2, Bucket = 3 };

    // Set once the main clock exists; until then (or when null) 100 BPM, internal.
    static std::atomic<TempoReader> tempoReader;

    struct BucketRing {
        float position = 0.0f;
        float buckets[kBuckets] = {};
        float quietThreshold = 1e-5f;
        uint32_t quietCount = kBuckets;
        bool isSilent() const { return quietCount >= kBuckets; }
    };
    struct TimeGlide {
        float riseDivisor = 25.0f;
        float fallDivisor = 25.0f;
        float current = 0.0f;
    };

    DelayFX();
    ~DelayFX() override;

    void process(AudioBlock& block) override;
    void remapParameters() override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) override;

    // Whether channel c's store (line or ring, by the algorithm) is silent.
    bool storeSilent(uint32_t c, int32_t algorithm);

    uint32_t lineLength = kLineLength;
    std::vector<DelayLine> delayLines;
    BucketRing bucketRings[kChannels];
    std::atomic<uint32_t> delaySamples[kChannels];
    float wobblePhase[kChannels] = {};
    std::vector<float> crossfeed;

    ParameterInt sync;
    ParameterFloat time;
    ParameterFloat interval;
    ParameterFloat feedback;
    ParameterInt type;
    ParameterInt algo;
    ParameterFloat lowpass;
    ParameterFloat quality;
    ParameterFraction multiplier;
    ParameterFloat dryWet;

    TimeGlide timeGlide[kChannels];
    OnePole toneFilter[kChannels];
    // The delay last worked out from the time: held while the tempo is 0.
    uint32_t heldDelay[kChannels];
};

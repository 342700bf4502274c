// One note of the additive engine: 32 magic-circle sine partials advanced
// every second sample, grouped (fundamental, octaves, odd, other even) under
// four envelopes, smoothed by a four-pole low-pass tuned to the top partial.
#pragma once

#include "dsp/AHDEnvelope.h"
#include "dsp/Float4.h"
#include "dsp/QuadSVF.h"
#include "engines/SynthVoice.h"
#include "engines/additive/AdditiveCommon.h"

#include <cmath>

class AdditiveVoice : public SynthVoice {
public:
    static constexpr uint32_t kBlock = 64;
    static constexpr uint32_t kPartials = AdditiveCommon::kPartials;
    static constexpr uint32_t kGroups = 4;
    // Partials sit in lanes sorted by group, each group padded to whole
    // vectors (1 + 5 + 15 + 11 partials in 1 + 2 + 4 + 3 vectors); the pad
    // lanes run with coefficient and gain 0.
    static constexpr uint32_t kLaneVectors = 10;
    static constexpr uint32_t kLanes = 4 * kLaneVectors;
    // Partials at or above this frequency (about 10 kHz at half rate) are off.
    static constexpr double kTopHz = 19999.999205271433;

    AdditiveVoice();
    ~AdditiveVoice() override;

    void noteOn(NoteEvent event) override;
    void fadeOut(uint32_t samples) override;
    bool render(float* row, uint32_t frames) override;
    void updateParameters() override;

    // Group of partial number n = k + 1: 0 the fundamental, 1 the powers of
    // two, 2 the odd ones, 3 the other even ones.
    static uint32_t groupOf(uint32_t k);

private:
    bool placementChecked_;

public:
    struct Smoother {
        float input;  // 1 - a
        float keep;   // a
        float state = 0.0f;
        float step(float target) { return state = state * keep + target * input; }
    };

    AdditiveCommon* common = nullptr;
    AHDEnvelope envelopes[kGroups];
    uint32_t partialGroup[kPartials];
    // Where partial k lives in the per-partial arrays below, which are all in
    // lane order (pad lanes never sound).
    uint32_t laneOf[kPartials];
    // Group g's envelope value^4 x volume per sample: group g + 1 of the
    // partials is weighed by it.
    alignas(16) float groupGain[kGroups][kBlock];
    alignas(16) float laneNumber[kLanes];  // k, or far beyond any count for a pad lane
    alignas(16) int32_t laneOdd[kLanes];   // -1 where k is odd: spaced by "even space"
    alignas(16) float partialCoefficient[kLanes] = {};
    alignas(16) float partialX[kLanes];
    alignas(16) float partialY[kLanes];
    alignas(16) float partialGain[kLanes] = {};
    alignas(16) float partialRandom[kLanes] = {};
    alignas(16) float partialTarget[kLanes] = {};
    // The frequency each lane's coefficient was worked out for (NaN: none).
    alignas(16) float coefficientHz[kLanes];
    alignas(16) float coefficientOfHz[kLanes] = {};
    float targetComb = NAN, targetPeak = NAN;
    float peakIndex = 0.0f;
    float combStep = 0.0f;
    float oddSpacing = 0.0f, evenSpacing = 0.0f;
    int32_t partialCount = 0;
    QuadOnePole outputFilter;
    Smoother detuneSmoother, oddSmoother, evenSmoother;
    float volume[kGroups] = {};
    // The first update sets the smoothers and the first render the partial
    // gains at their targets: from 0 a first note would sweep in from f.
    bool fresh = true;
    bool gainsFresh = true;

private:
    void _resetOscillators();
    // Advances `Vectors` vectors of partials from `lane` over the block and
    // adds (or, first, writes) their weighed sums per step.
    template <uint32_t Vectors>
    void runPartials(float4* sums, bool first, uint32_t lane, uint32_t steps);
};

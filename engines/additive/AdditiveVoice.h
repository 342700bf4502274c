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
    uint32_t laneOf[kPartials];
    alignas(16) float groupBuffer[kGroups][kBlock];
    float partialCoefficient[kPartials] = {};
    // Lane order (laneOf): what the oscillator loop reads.
    alignas(16) float laneCoefficient[kLanes] = {};
    alignas(16) float laneGain[kLanes] = {};
    alignas(16) float partialX[kLanes];
    alignas(16) float partialY[kLanes];
    float partialGain[kPartials] = {};
    float peakIndex = 0.0f;
    float combStep = 0.0f;
    float oddSpacing = 0.0f, evenSpacing = 0.0f;
    int32_t partialCount = 0;
    QuadOnePole outputFilter;
    Smoother detuneSmoother, oddSmoother, evenSmoother;
    float partialRandom[kPartials] = {};
    // What the last block worked out, and from what (NaN: nothing yet).
    float partialTarget[kPartials] = {};
    float targetComb = NAN, targetPeak = NAN;
    float coefficientHz[kPartials];
    float coefficientOfHz[kPartials] = {};
    float volume[kGroups] = {};
    // The first update sets the smoothers and the first render the partial
    // gains at their targets: from 0 a first note would sweep in from f.
    bool fresh = true;
    bool gainsFresh = true;

private:
    void _resetOscillators();
};

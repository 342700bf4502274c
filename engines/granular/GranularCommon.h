// The granular engine of a track: grains chosen by sound. The voices play
// the analysed hops of a sample list that lie near a target in the
// loudness/brightness plane (within "variation"); this object holds the
// settings, the page and the overview (feature square, analysed points,
// grain window preview). GranularVoice plays the notes.
#pragma once

#include "engines/SynthVoiceCommon.h"
#include "parameters/ParameterFraction.h"

class GranularCommon : public SynthVoiceCommon {
public:
    static constexpr uint32_t kGrainWindow = 0;    // envelope bank of the grain window
    static constexpr uint32_t kAmplitude = 1;      // envelope bank of the note
    static constexpr float kMinGrainHold = 10.0f;  // ms: keeps the grain clock 3 blocks or more
    static constexpr float kMaxGrainTime = 1000.0f;

    GranularCommon();
    ~GranularCommon() override;

    void registerSampleLists() override;
    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    uint32_t envSlots() const override { return 2; }

    // The window's bend as the overview draws it: v in 0..1 through the
    // shape, clamped to [0.05, 0.95].
    static float previewBend(float v, float shape);

    ParameterFloat volume;
    ParameterInt samples;
    ParameterFloat loudness;
    ParameterFloat brightness;
    ParameterFloat variation;
    ParameterFloat offset;
    ParameterFraction ratio;
    ParameterFloat envShape;
};

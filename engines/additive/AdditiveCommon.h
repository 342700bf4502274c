// The additive engine of a track: up to 32 sine partials on a stretched
// harmonic series, shaped by a spectral peak and a comb, in four groups with
// an envelope each. This object holds the settings and page; AdditiveVoice
// plays the notes.
#pragma once

#include "engines/SynthVoiceCommon.h"

class AdditiveCommon : public SynthVoiceCommon {
public:
    static constexpr uint32_t kPartials = 32;

    AdditiveCommon();
    ~AdditiveCommon() override;

    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    uint32_t envSlots() const override { return 4; }

    // |sin(2 pi frac(k x combStep + 0.25))| / (|peakIndex - k| + 1): the
    // partial's target amplitude, for the voices and the picture alike.
    static float partialAmplitude(uint32_t k, float combStep, float peakIndex);

    ParameterFloat volume[4];
    ParameterInt partials;
    ParameterFloat oddSpace;
    ParameterFloat evenSpace;
    ParameterFloat peak;
    ParameterFloat comb;
    ParameterFloat scatter;
    // The picture's partial amplitudes (interface task only).
    float amplitude[kPartials] = {};
};

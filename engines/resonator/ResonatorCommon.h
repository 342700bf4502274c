// The resonator engine of a track: a noise burst and a sample excite two
// damped, requantised delay loops tuned to the note (one period with
// positive feedback, half a period with negative). This object holds the
// settings and page; ResonatorVoice plays the notes.
#pragma once

#include "engines/SynthVoiceCommon.h"

class ResonatorCommon : public SynthVoiceCommon {
public:
    ResonatorCommon();
    ~ResonatorCommon() override;

    void registerSampleLists() override;
    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    uint32_t envSlots() const override { return 2; }

    ParameterFloat noiseVolume;
    ParameterFloat noiseFilter;
    ParameterFloat ratchet;
    ParameterFloat sampleVolume;
    ParameterFloat sampleFilter;
    ParameterInt samples;
    ParameterFloat dampening;
    ParameterInt bitDepth;
    ParameterFloat posNeg;
    ParameterFloat posDecay;
    ParameterFloat negDecay;
};

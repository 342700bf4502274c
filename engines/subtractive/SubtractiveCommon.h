// The subtractive engine of a track: a ring-modulated oscillator pair, an
// added pair, noise or a sample, one filter and three envelopes. This object
// holds the engine's settings and page; SubtractiveVoice plays the notes.
#pragma once

#include "engines/SynthVoiceCommon.h"
#include "parameters/ParameterFraction.h"

class SubtractiveCommon : public SynthVoiceCommon {
public:
    // Page actions.
    static constexpr int32_t kActionFilterType = 10;
    static constexpr int32_t kActionSourceB = 15;
    // Page places that depend on a choice.
    static constexpr uint32_t kFilterShapePlace = 2;
    static constexpr uint32_t kSamplesPlace = 7;

    enum FilterType : int32_t { Svf12dB = 0, Ladder24dB = 1 };
    enum SourceB : int32_t { NoiseSource = 0, SampleSource = 1 };

    SubtractiveCommon();
    ~SubtractiveCommon() override;

    void registerSampleLists() override;
    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    void handleAction(int32_t key, int32_t event) override;
    // Only the two conditional page places; the envelope slot stays.
    void refreshEnvSlot() override;
    uint32_t envSlots() const override { return 3; }

    ParameterInt a;
    ParameterInt filtType;
    ParameterInt sourceB;
    ParameterFloat mix;
    ParameterFloat shape1;
    ParameterFloat sawSquare2;
    ParameterFloat offset1;
    ParameterFraction ratio1;
    ParameterFraction ratio2;
    ParameterFloat filtShape;
    ParameterFloat filtFreq;
    ParameterFloat filtReso;
    ParameterFloat filtEnv;
    ParameterInt samples;
    ParameterFloat volumeB;

private:
    static void _stepChoice(ParameterInt& p);
};

// The modular engine of a track: notes and eight free CV levels go to the CV
// expander over OSC; the voices add nothing to the audio. This object holds
// the CV levels, the gate length and the page; ModularVoice plays the notes.
#pragma once

#include "connectivity/OSCV.h"
#include "engines/SynthVoiceCommon.h"

class ModularCommon : public SynthVoiceCommon {
public:
    static constexpr uint32_t kCvOuts = OSCV::kCvOuts;
    // The expander's outputs these levels drive: 9 .. 16.
    static constexpr uint32_t kFirstCvOut = 9;
    static constexpr int32_t kMaxVoices = 4;

    ModularCommon();
    ~ModularCommon() override;

    // Sends the CV levels every second block.
    void controlTick() override;
    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    uint32_t envSlots() const override { return 0; }

    float cvMin = 0.0f;
    float cvMax = 4.0f;
    ParameterFloat cvOut[kCvOuts];
    float gateMin = 10.0f;
    float gateMax = 60000.0f;
    ParameterFloat gateLength;
    uint32_t sendToggle = 0;
};

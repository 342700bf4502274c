// One note of the modular engine: sends its gliding pitch and a gate to the
// CV expander every second block and adds silence to the track, keeping the
// usual voice life (start, fade, end) for the voice manager.
#pragma once

#include "dsp/GainRamp.h"
#include "engines/SynthVoice.h"

class ModularCommon;

class ModularVoice : public SynthVoice {
public:
    static constexpr uint32_t kBlock = 64;

    ModularVoice();
    ~ModularVoice() override;

    void noteOn(NoteEvent event) override;
    void fadeOut(uint32_t samples) override;
    bool render(float* row, uint32_t frames) override;
    void updateParameters() override;

private:
    bool placementChecked_;

public:
    ModularCommon* common = nullptr;
    float detuneFactor = 1.0f;
    uint32_t blockCounter = 0;
    bool gate = false;
    // The expander note output: the voice's slot, so overlapping voices
    // (and a voice fading out) drive outputs of their own.
    uint32_t noteOutput = 0;
    float gateBlocks = 0.0f;
    alignas(16) float silentBuffer[kBlock] = {};
    GainRamp gainRamp;
};

// One note of the subtractive engine: four sine lanes shaped between saw-
// and square-like (lanes 0 x 1 ring-modulated, lanes 2 + 3 added), noise or
// a sample as a third source, a 12 dB morphing or 24 dB ladder filter, and
// an envelope per source. Everything lives inline; render allocates nothing.
#pragma once

#include "dsp/AHDEnvelope.h"
#include "dsp/Float4.h"
#include "dsp/GainRamp.h"
#include "dsp/LadderFilter.h"
#include "dsp/SVF.h"
#include "engines/SamplePlayer.h"
#include "engines/SynthVoice.h"

class SubtractiveCommon;

class SubtractiveVoice : public SynthVoice {
public:
    static constexpr uint32_t kBlock = 64;

    SubtractiveVoice();
    ~SubtractiveVoice() override;

    void noteOn(NoteEvent event) override;
    void fadeOut(uint32_t samples) override;
    bool render(float* row, uint32_t frames) override;
    void updateParameters() override;

    // Throws std::bad_alloc (after saying so) for an address the vector
    // members cannot live at.
    static bool checkPlacement(const void* self);

private:
    // First of the members: checked before any vector member is written.
    bool placementChecked_ = checkPlacement(this);

public:
    SubtractiveCommon* common = nullptr;
    float detuneDepth = 0.0f;  // 0.2 x detune^3
    float detuneRaw = 0.0f;    // "detune" as the sample source takes it
    float laneDetune[4] = {0, 0, 0, 0};
    float ratio2 = 1.0f;
    float filterShape = 0.0f;
    float filterFrequency = 19000.0f;
    float filterResonance = 0.0f;
    float halfOffset = 0.0f;
    float ratio1 = 1.0f;
    float gain1 = 1.0f, gain2 = 0.0f, gainB = 0.0f;

    // The four lanes, one vector element each.
    float4 sine = {1, 1, 1, 1};
    float4 cosine = {0, 0, 0, 0};
    float4 coefficient = {0, 0, 0, 0};
    float4 driveScale = {0, 0, 0, 0};
    float4 cosineWeight = {0, 0, 0, 0};
    float4 outputWeight = {0, 0, 0, 0};
    float4 drive = {0, 0, 0, 0};
    float4 laneOut = {0, 0, 0, 0};

    alignas(16) float buffer1[kBlock];
    alignas(16) float buffer2[kBlock];
    alignas(16) float bufferB[kBlock];

    uint32_t filterType = 0;
    SVF svf;
    LadderFilter ladder;
    uint32_t sourceKind = 0;
    SamplePlayer samplePlayer;
    GainRamp outputGain;
    AHDEnvelope envelope[3];

private:
    void _startSources();
    void _updateLanes(float frequency);
};

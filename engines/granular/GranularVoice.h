// One note of the granular engine: a stream of grains, two alternating
// slots, each new grain half a grain length after the last, each a random
// pick among the hops the look-up found near the target. The look-up is
// asked two blocks before a grain is due and never waited for.
#pragma once

#include "dsp/AHDEnvelope.h"
#include "engines/SynthVoice.h"
#include "engines/granular/Grain.h"
#include "engines/granular/GrainSource.h"

#include <array>
#include <cstdint>

class GranularCommon;

class GranularVoice : public SynthVoice {
public:
    static constexpr uint32_t kBlock = 64;
    static constexpr uint32_t kStartPeriod = 100;
    // A retriggered note's clock: above any period, so the first block schedules.
    static constexpr uint32_t kRestart = uint32_t(-2);

    GranularVoice();
    ~GranularVoice() override;

    void noteOn(NoteEvent event) override;
    void fadeOut(uint32_t samples) override;
    bool render(float* row, uint32_t frames) override;
    void updateParameters() override;

    GranularCommon* common = nullptr;
    std::array<Grain, 2> grains;
    alignas(16) float mix[kBlock];
    float detuneDepth = 0.0f;
    AHDEnvelope amplitude;
    // Loudness, brightness and an unused third feature.
    std::array<float, 3> target{0.0f, 0.0f, 0.0f};
    float variation = 0.0f;
    float offset = 0.0f;
    float shape = 0.5f;
    float volume = 0.0f;
    float ratio = 1.0f;
    uint32_t period = kStartPeriod;
    uint32_t slot = 0;
    uint32_t counter = 0;
    // The look-up; the voice manager's unless a test gives another.
    GrainSource* grainSource;
    // Shared by both grains.
    Grain::Notices notices;
};

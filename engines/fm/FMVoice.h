// One note of the FM engine: four table-sine operators, each modulating the
// phase of higher-numbered ones along the engine's routes (the modulator's
// samples, in cycles, add into the target's phase), operator 2 with delayed
// self-feedback, an envelope per operator, per-note detune and glide.
#pragma once

#include "dsp/AHDEnvelope.h"
#include "dsp/SineOscillator.h"
#include "engines/SynthVoice.h"
#include "engines/fm/FMCommon.h"

class FMVoice : public SynthVoice {
public:
    static constexpr uint32_t kBlock = 64;
    static constexpr uint32_t kOperators = FMCommon::kOperators;
    static constexpr uint32_t kFeedbackLine = 4800;
    // At or below this gain (-96 dB is 1.585e-5) an operator is off.
    static constexpr float kAudible = 2e-5f;

    FMVoice();
    ~FMVoice() override;

    void noteOn(NoteEvent event) override;
    void fadeOut(uint32_t samples) override;
    bool render(float* row, uint32_t frames) override;
    void updateParameters() override;

    FMCommon* common = nullptr;
    AHDEnvelope envelopes[kOperators];
    // Operators 1, 3 and 4 are plain; only operator 2 has the feedback line.
    SineOscillator op1, op3, op4;
    FeedbackSineOscillator op2{kFeedbackLine};
    alignas(16) float operatorBuffer[kOperators][kBlock];
    alignas(16) float mixBuffer[kBlock];
    FMCommon::Routes routes{};
    FMCommon::Carriers isCarrier{true, true, true, true};
    float ratio[kOperators] = {1, 1, 1, 1};
    float volume[kOperators] = {1, 1, 1, 1};
    // 1.0 until a note draws it: a slide onto a never-started voice must not
    // run the operators at 0 Hz.
    float detuneFactor[kOperators] = {1, 1, 1, 1};
    // Per operator: bit j for each operator j it modulates, kFeedsMix when heard.
    static constexpr uint8_t kFeedsMix = 16;
    uint8_t feeds[kOperators] = {kFeedsMix, kFeedsMix, kFeedsMix, kFeedsMix};
    float feedbackAmount = 0.0f;
    float feedbackColour = 0.0f;

private:
    bool _audible(uint32_t op) const { return volume[op] > kAudible; }
    float _hz(uint32_t op, float f) const { return ratio[op] * detuneFactor[op] * f; }
    // Envelope and gain of one operator, then its output along the routes.
    void _finishOperator(uint32_t op);
    uint32_t filled_ = 0;  // buffers written this block, as in feeds
};

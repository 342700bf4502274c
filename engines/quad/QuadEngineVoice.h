// One note of the quad engine: it plays the one sub-engine its note names
// (word 3, the pulse lane) with the kind that sub-engine has when the note
// starts. Drum kinds, sample kinds and tonal kinds each have a settings step
// (every block) and a signal path that fills the work buffer.
#pragma once

#include "dsp/AHDEnvelope.h"
#include "dsp/Phasor.h"
#include "dsp/SVF.h"
#include "dsp/SineCosineGenerator.h"
#include "dsp/SineOscillator.h"
#include "engines/SamplePlayer.h"
#include "engines/SynthVoice.h"
#include "engines/quad/MiniEngine.h"

#include <array>
#include <cstdint>

class QuadEngineCommon;

class QuadEngineVoice : public SynthVoice {
public:
    static constexpr uint32_t kBlock = 64;
    static constexpr uint32_t kOperatorDelay = 4800;

    QuadEngineVoice();
    ~QuadEngineVoice() override;

    void noteOn(NoteEvent event) override;
    void fadeOut(uint32_t samples) override;
    bool render(float* row, uint32_t frames) override;
    void updateParameters() override;

    QuadEngineCommon* common = nullptr;
    MiniEngineType subEngineKind = MiniNone;
    uint32_t subEngine = 0;
    alignas(16) float mainBuffer[kBlock];
    alignas(16) float auxBuffer[kBlock];
    AHDEnvelope amplitude;
    AHDEnvelope second;
    AHDEnvelope third;
    float gain = 0.0f;
    float playbackRate = 1.0f;
    float detuneSpread = 0.0f;
    // The sub-engine's "detune" (0..1) for the sample players, which cube it themselves.
    float detuneAmount = 0.0f;
    std::array<float, 4> laneRandom{};
    float sweepDepth = 0.0f;
    float snareSweep = 0.0f;
    float toneGain = 1.0f;
    float noiseGain = 0.0f;
    float ratchetCount = 1.0f;
    PhasorPair metalPair;
    Phasor drumOsc;
    SVF noiseFilter;
    std::array<SamplePlayer, 2> samplePlayers;
    SineCosineGenerator oscBank;
    // Carrier, then modulator; only their phases are used here.
    std::array<FeedbackSineOscillator, 2> operators{FeedbackSineOscillator(kOperatorDelay),
                                                    FeedbackSineOscillator(kOperatorDelay)};
    float fmAmount = 0.0f;
    float fmRatio = 1.0f;

private:
    MiniEngine& _sub();
    void _startKind();
    // Filter coefficients are worked out again only when they change.
    void _setFilter(int type, float hz, float q);
    // Settings and signal paths per kind.
    void _drumSettings(MiniEngine& s, float hold);
    void _tonalSettings(MiniEngine& s, float hold, float decay);
    // mainBuffer: the sweep envelope in, the sine of drumOsc swept by
    // depth x e^4 (quartic) or e^3 above the note out; a whole block.
    void _sweptSine(float depth, bool quartic);
    void _renderKick(uint32_t n);
    void _renderSnare(uint32_t n);
    void _renderRatchet(uint32_t n);
    void _renderMetal(uint32_t n);
    void _renderSample(uint32_t n);
    void _renderDoubleSample(uint32_t n);
    void _renderSawStack(uint32_t n);
    void _renderFM(uint32_t n);
    // The table sine step of one operator at hz over mainBuffer, which
    // carries the phase modulation in.
    void _operatorStep(FeedbackSineOscillator& op, float hz, uint32_t n);

    // The saw lanes' settings last given to oscBank.
    float sawHz_[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
    float sawDrive_ = -1.0f;
    int filterType_ = 0;
    float filterHz_ = -1.0f;
    float filterQ_ = -1.0f;
};

// One note of the resonator engine: a filtered noise burst (repeated by
// "ratchet") and a sample excite two damped loops, line 1 one period long
// with positive feedback, line 2 half a period with negative feedback (odd
// harmonics of the same pitch), each requantised on every pass.
#pragma once

#include "dsp/AHDEnvelope.h"
#include "dsp/DelayLine.h"
#include "dsp/GainRamp.h"
#include "engines/SamplePlayer.h"
#include "engines/SynthVoice.h"

#include <cmath>

class ResonatorCommon;

class ResonatorVoice : public SynthVoice {
public:
    static constexpr uint32_t kBlock = 64;
    static constexpr uint32_t kLine1 = 4810;
    static constexpr uint32_t kLine2 = 2410;
    static constexpr float kMinHz = 10.0f;

    ResonatorVoice();
    ~ResonatorVoice() override;

    void noteOn(NoteEvent event) override;
    void fadeOut(uint32_t samples) override;
    bool render(float* row, uint32_t frames) override;
    void updateParameters() override;

    // One damped, requantised loop.
    struct Loop {
        DelayLine line;
        float input = 1.0f;        // 1 - c
        float coefficient = 0.0f;  // c
        float state = 0.0f;
        float offset = 0.0f;       // random detune, -1..1
        float feedback = 0.0f;
        float gain = 0.0f;
        float delay = 1.0f;        // samples per pass

        explicit Loop(uint32_t size) : line(size) {}
        // Adds gain x (excitation + damped loop) into out; q and inverse
        // requantise what goes back into the line.
        void run(const float* excitation, float* out, uint32_t frames, float q, float inverse, bool add);
    };

    alignas(16) float excitation[kBlock];
    alignas(16) float sampleBuffer[kBlock];
    alignas(16) float noiseBuffer[kBlock];
    alignas(16) float output[kBlock];
    float noiseInput = 1.0f, noiseCoefficient = 0.0f, noiseState = 0.0f;
    float noiseGain = 0.0f, ratchetFactor = 0.999f;
    SamplePlayer samplePlayer;
    float sampleInput = 1.0f, sampleCoefficient = 0.0f, sampleState = 0.0f;
    float sampleGain = 0.0f;
    float detuneDepth = 0.0f;
    float detuneRaw = 0.0f;
    Loop line1{kLine1};
    Loop line2{kLine2};
    float cutoffFactor = 0.0f;
    float pitchFactor = 1.0f;
    float quantise = 4294967296.0f;
    float quantiseInverse = 1.0f / 4294967296.0f;
    ResonatorCommon* common = nullptr;
    GainRamp outputGain;
    AHDEnvelope envelopes[4];

private:
    // A value worked out again only when its input changes: the block's
    // exponentials, powers and sines mostly repeat.
    struct Memo {
        float input = NAN;
        float value = 0.0f;
        template <class F>
        float operator()(float x, F&& f) {
            if (!(x == input)) {
                input = x;
                value = f(x);
            }
            return value;
        }
    };
    Memo memo_[8];

    void _startSample();
};

// A diffuse, granular echo: the channels are summed into one bus that is
// cleaned (40 Hz high-pass, 10 kHz low-pass), ducked against overload and
// written into one 1.5 s line. Every channel reads it through two heads that
// cross-fade with raised-cosine windows at "freq"; each new window jumps to a
// random place, and with the chance "shift" glides at twice real time (an
// octave up). The heads are fed back into the bus with "feedback".
#pragma once

#include "dsp/DelayLine.h"
#include "dsp/OnePole.h"
#include "dsp/Phasor.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"

#include <atomic>
#include <cstdint>
#include <vector>

class FadeDelayFX : public AudioEffect {
public:
    static constexpr uint32_t kLineLength = 72000;
    static constexpr uint32_t kHeads = 16;
    static constexpr uint32_t kDuckHistory = 32;

    struct ReadHead {
        float lastPhase = 0.0f;
        std::atomic<uint32_t> delay{0};  // also read by the picture
        uint32_t moving = 0;
        std::atomic<float> gain{0.0f};
    };

    FadeDelayFX();
    ~FadeDelayFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) override;

    float newestDuckGain() const { return duckHistory[duckIndex.load(std::memory_order_relaxed)].load(); }

    ParameterFloat freq;
    ParameterFloat feedback;
    ParameterFloat shift;
    ParameterFloat dryWet;

    std::vector<float> writeBus;
    std::vector<float> fadeLength;
    Phasor phasor;
    std::vector<float> phaseBuffer;
    DelayLine fadeLine;
    float headPhaseOffsets[8] = {0.0f, 0.5f, 0.25f, 0.75f, 0.0f, 0.5f, 0.25f, 0.75f};
    OnePole highPassLow;
    OnePole ducker;
    OnePole lowPass;
    OnePole windowSmoother;
    uint32_t headsPerChannel = 2;
    uint32_t headCount = 2;
    ReadHead heads[kHeads];
    std::atomic<uint32_t> duckIndex{0};
    std::atomic<float> duckHistory[kDuckHistory] = {};
};

// Table sine oscillators with per-sample phase modulation (the buffer carries
// a phase offset in, the output out). Phases in double so long notes keep pitch.
#pragma once

#include "dsp/DelayLine.h"

#include <cstdint>

class SineOscillator {
public:
    double phase = 0.0;
    double phaseIncrement = 0.0;

    void render(float* buffer, uint32_t n, float hz);
};

// With delayed self-feedback through a delay line sized by the owner.
class FeedbackSineOscillator {
public:
    double phase = 0.0;
    double phaseIncrement = 0.0;
    double feedbackSample = 0.0;
    DelayLine delay;

    explicit FeedbackSineOscillator(uint32_t delaySize = 4800) : delay(delaySize) {}

    // The feedback is read `periods` periods of hz back.
    void render(float* buffer, uint32_t n, float hz, float feedback, float periods);
};

// A value that moves linearly per sample towards a limit, applied to whole
// 64-sample blocks. The ramp half of AHDEnvelope.
#pragma once

#include <cstdint>

struct LinearRamp {
    static constexpr uint32_t kBlock = 64;

    float value = 0.0f;
    float increment = 0.0f;  // per sample
    float level = 0.0f;      // upper limit of value

    // Each operation first clamps value into [0, level], then steps 64 samples,
    // adding the increment before a sample uses the value.
    void clampValue() {
        if (value < 0.0f) value = 0.0f;
        if (value > level) value = level;
    }
    void fill(float* out);
    // buffer[i] *= value^4 x gain: how engines apply an amplitude envelope.
    void applyQuarticGain(float* buffer, float gain);
    // Bends the ramp through (1 - knee, knee); grain windows.
    void applyKnee(float* buffer, float knee);
    // One block without per-sample work; returns the value at its end.
    float advance() {
        clampValue();
        value += float(kBlock) * increment;
        return value;
    }
};

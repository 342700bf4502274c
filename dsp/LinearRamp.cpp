#include "dsp/LinearRamp.h"

void LinearRamp::fill(float* out) {
    clampValue();
    float v = value;
    for (uint32_t i = 0; i < kBlock; ++i) {
        v += increment;
        out[i] = v;
    }
    value = v;
}

void LinearRamp::applyQuarticGain(float* buffer, float gain) {
    clampValue();
    float v = value;
    for (uint32_t i = 0; i < kBlock; ++i) {
        v += increment;
        float v2 = v * v;
        buffer[i] *= v2 * v2 * gain;
    }
    value = v;
}

void LinearRamp::applyKnee(float* buffer, float knee) {
    if (!(knee >= 0.001f)) knee = 0.001f;  // also NaN
    if (knee > 0.999f) knee = 0.999f;
    clampValue();
    const float below = knee / (1.0f - knee);
    const float above = (1.0f - knee) / knee;
    const float bend = 1.0f - knee;
    float v = value;
    for (uint32_t i = 0; i < kBlock; ++i) {
        v += increment;
        buffer[i] *= v < bend ? v * below : 1.0f + (v - 1.0f) * above;
    }
    value = v;
}

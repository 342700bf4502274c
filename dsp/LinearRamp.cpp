#include "dsp/LinearRamp.h"

#include "dsp/Float4.h"

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
    const float step = increment;
    const float4 g = splat4(gain);
    if (step == 0.0f) {
        // Delay, hold and idle: every sample sees the same value (v + 0 is v).
        v += step;
        const float4 r = splat4(v);
        const float4 squared = r * r;
        const float4 k = squared * squared * g;
        for (uint32_t i = 0; i < kBlock; i += 4) storeUnaligned4(buffer + i, loadUnaligned4(buffer + i) * k);
        value = v;
        return;
    }
    for (uint32_t i = 0; i < kBlock; i += 4) {
        // The ramp stays a running sum, one addition per sample, so its values
        // are exactly those of the sample-by-sample form; only the products go
        // four at a time.
        const float r0 = v += step;
        const float r1 = v += step;
        const float r2 = v += step;
        const float r3 = v += step;
        const float4 r = {r0, r1, r2, r3};
        const float4 squared = r * r;
        storeUnaligned4(buffer + i, loadUnaligned4(buffer + i) * (squared * squared * g));
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
    const float4 below4 = splat4(below), above4 = splat4(above), bend4 = splat4(bend), one = splat4(1.0f);
    float v = value;
    const float step = increment;
    for (uint32_t i = 0; i < kBlock; i += 4) {
        // A running sum as in applyQuarticGain: the same values as sample by
        // sample, the bend four at a time.
        const float r0 = v += step;
        const float r1 = v += step;
        const float r2 = v += step;
        const float r3 = v += step;
        const float4 r = {r0, r1, r2, r3};
        const float4 gain = r < bend4 ? r * below4 : one + (r - one) * above4;
        storeUnaligned4(buffer + i, loadUnaligned4(buffer + i) * gain);
    }
    value = v;
}

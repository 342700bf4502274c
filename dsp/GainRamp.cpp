#include "dsp/GainRamp.h"

void GainRamp::set(uint32_t samples, float newTarget) {
    target = newTarget;
    if (samples == 0) {
        gain = newTarget;
        rampActive = 0;
        gainStep = 0.0f;
        return;
    }
    rampLength = samples;
    rampCounter = 0;
    rampActive = 1;
    gainStep = (newTarget - gain) / float(samples);
}

void GainRamp::apply(float* block) {
    constexpr uint32_t kBlock = 64;
    if (rampActive) {
        float g = gain;
        for (uint32_t i = 0; i < kBlock; ++i) {
            block[i] *= g;
            g += gainStep;
        }
        gain = g;
        rampCounter += kBlock;
        if (rampCounter >= rampLength) {
            rampActive = 0;
            gainStep = 0.0f;
            gain = target;
        }
        return;
    }
    if (gain == 1.0f) return;
    if (gain == 0.0f) {
        for (uint32_t i = 0; i < kBlock; ++i) block[i] = 0.0f;
        return;
    }
    for (uint32_t i = 0; i < kBlock; ++i) block[i] *= gain;
}

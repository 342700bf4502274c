// Linear gain ramp over a number of samples, applied in whole 64-sample blocks:
// click-free starts and fades when a voice is stolen. The owner initialises it.
#pragma once

#include <cstdint>

struct GainRamp {
    uint32_t rampActive;
    uint32_t rampCounter;
    uint32_t rampLength;
    float target;
    float gain;
    float gainStep;

    void set(uint32_t samples, float target);
    void apply(float* block);
};

// Four quadrature oscillators in one vector (a stable rotation), soft-saturated
// by a drive that scales with the period: saw-like to square-like tones.
#pragma once

#include "dsp/Float4.h"

class SineCosineGenerator {
public:
    float4 coefficient;
    float4 cosine;
    float4 sine;
    float4 drive;
    float4 sineMix;
    float4 level;

    SineCosineGenerator();

    void reset();
    void randomizePhases();
    // drive is replaced by drive x 48000 / hz (what is stored).
    void setFrequencies(const float* hz, const float* mix, float* drive);

    float4 tick() {
        float4 c = cosine - coefficient * sine;
        float4 s = sine + coefficient * c;
        cosine = c;
        sine = s;
        float4 u = c * drive;
        return u * level * (splat4(1.0f) + s * sineMix) * reciprocalEstimate4(splat4(1.0f) + abs4(u));
    }
};

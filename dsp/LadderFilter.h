// Four-stage saturating ladder low-pass, run twice per sample.
#pragma once

#include <cstdint>

class LadderFilter {
public:
    float g = 0.0f;  // stage coefficient
    float k = 0.0f;  // feedback amount
    float s1 = 0.0f, s2 = 0.0f, s3 = 0.0f, s4 = 0.0f;
    float s5 = 0.0f;

    void setCutoff(float hz, float resonance);
    void reset() { s1 = s2 = s3 = s4 = s5 = 0.0f; }
    // 64 samples in place.
    void process(float* buffer);
};

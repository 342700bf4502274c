#include "dsp/LadderFilter.h"

#include <cmath>

void LadderFilter::setCutoff(float hz, float resonance) {
    float coefficient = float(double(hz * 1.5707964f) * (1.0 / 24000.0));
    // Beyond 0.7 (or below 0) the stages stop being stable.
    if (!(coefficient > 0.0f)) coefficient = 0.0f;
    g = coefficient < 0.7f ? coefficient : 0.7f;
    k = resonance * resonance * 9.5f;
    if (!std::isfinite(k)) k = 0.0f;
}

inline void LadderFilter::_step(float x) {
    float u = x + (x - s4) * k;
    double d = double(u / (std::fabs(u) + 1.0f)) - double(u);
    u = float(double(u) + d * 0.984);
    s1 += (u - s1) * g;
    s2 += (s1 - s2) * g;
    s3 += (s2 - s3) * g;
    s4 += (s3 - s4) * g;
}

void LadderFilter::process(float* buffer) {
    for (uint32_t i = 0; i < 64; ++i) {
        _step(buffer[i]);
        _step(s4);
        buffer[i] = s4;
    }
    if (!std::isfinite(s4) || !std::isfinite(s1)) reset();
}

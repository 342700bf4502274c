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

namespace {

// Soft clip towards u / (|u| + 1); the difference is taken in double.
inline float saturate(float u) {
    const double d = double(u / (std::fabs(u) + 1.0f)) - double(u);
    return float(double(u) + d * 0.984);
}

}  // namespace

void LadderFilter::process(float* buffer) {
    // The states live in locals for the block: the buffer could alias the
    // members, which would otherwise force a load and store of every state
    // on every stage.
    const float gain = g, feedback = k;
    float a = s1, b = s2, c = s3, d = s4;
    auto stages = [&](float u) {
        a += (u - a) * gain;
        b += (a - b) * gain;
        c += (b - c) * gain;
        d += (c - d) * gain;
    };
    auto sample = [&](float& x) {
        stages(saturate(x + (x - d) * feedback));
        // Second step with x = s4: its feedback term (s4 - s4) x k is zero.
        // Leaving it out only differs for s4 = -0 (the sum would be +0), and
        // the saturation maps -0 to +0 anyway; a non-finite s4 gives NaN
        // either way.
        stages(saturate(d));
        x = d;
    };
    // Two samples a round: the loop's own count and branch are a noticeable
    // share of so short a body.
    for (uint32_t i = 0; i < 64; i += 2) {
        sample(buffer[i]);
        sample(buffer[i + 1]);
    }
    s1 = a;
    s2 = b;
    s3 = c;
    s4 = d;
    if (!std::isfinite(s4) || !std::isfinite(s1)) reset();
}

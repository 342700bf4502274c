#include "dsp/WaveTable.h"

#include "dsp/Saturate.h"

#include <cmath>

WaveTableBank::WaveTableBank() {
    const double pi = 3.14159265359;
    for (uint32_t i = 0; i < kHalfSineSize; ++i) table[i] = float(std::sin(double(i) * pi / 2048.0));
    table[0] = 0.0f;
    for (uint32_t i = 0; i < kHannSize; ++i)
        table[kHannOffset + i] = float(0.5 * (1.0 - std::cos(double(i) * 2.0 * pi / 4095.0)));
    table[kLengthIndex] = float(kHannSize);
}

float WaveTableBank::sine(float p) const {
    if (p < 0.0f || p >= 1.0f) p -= std::floor(p);  // NaN stays NaN: index 0 below
    uint32_t index = saturateToU32(p * 4096.0f) & 4095u;
    return p < 0.5f ? table[index] : -table[index & 2047u];
}

// Shared tables: a half sine (a full period reads the second half negated) and
// a 4096-point Hann window, followed by the table length.
#pragma once

#include <cstdint>

class WaveTableBank {
public:
    static constexpr uint32_t kHalfSineSize = 2048;
    static constexpr uint32_t kHannSize = 4096;
    static constexpr uint32_t kHannOffset = kHalfSineSize;
    static constexpr uint32_t kLengthIndex = kHannOffset + kHannSize;

    float table[kLengthIndex + 1];

    WaveTableBank();

    const float* halfSine() const { return table; }
    const float* hann() const { return table + kHannOffset; }
    float length() const { return table[kLengthIndex]; }

    // sin(2 pi p) on the 4096-point grid, no interpolation. Any phase is
    // wrapped into [0, 1) first, so no caller can index outside the table.
    float sine(float phase) const;
    // The same, inline, for a phase the caller keeps in [0, 1): no wrap.
    float sineInCycle(float phase) const {
        const uint32_t index = uint32_t(phase * 4096.0f) & 4095u;
        return phase < 0.5f ? table[index] : -table[index & 2047u];
    }
};

namespace DSP {
extern WaveTableBank wavetable;
}

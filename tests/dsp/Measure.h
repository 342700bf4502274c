// Measurement helpers for the DSP tests: drive with sines, read levels.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace dsptest {

constexpr double kPi = 3.14159265358979323846;

// Runs a sine of `hz` through `process` (64-sample blocks) for one second and
// returns output RMS / input RMS over the last half.
inline double sineGain(const std::function<void(float*)>& process, double hz) {
    const int blocks = 750;
    double inPower = 0.0, outPower = 0.0;
    float buffer[64];
    for (int b = 0; b < blocks; ++b) {
        float in[64];
        for (int i = 0; i < 64; ++i) {
            double t = double(b * 64 + i) / 48000.0;
            in[i] = buffer[i] = float(std::sin(2.0 * kPi * hz * t));
        }
        process(buffer);
        if (b >= blocks / 2) {
            for (int i = 0; i < 64; ++i) {
                inPower += double(in[i]) * in[i];
                outPower += double(buffer[i]) * buffer[i];
            }
        }
    }
    return std::sqrt(outPower / inPower);
}

// Frequency from rising zero crossings.
inline double zeroCrossingHz(const std::vector<float>& x) {
    int first = -1, last = -1, count = 0;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            if (first < 0) first = int(i);
            last = int(i);
            ++count;
        }
    }
    if (count < 2) return 0.0;
    return double(count - 1) * 48000.0 / double(last - first);
}

inline bool allFinite(const float* x, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (!std::isfinite(x[i])) return false;
    return true;
}

}  // namespace dsptest

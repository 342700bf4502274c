// Measurements of rendered engine audio: spectrum peak, band energy, block
// levels. No golden files: pitches, levels and ratios only.
#pragma once

#include "platform/Fft.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace enginemeasure {

constexpr unsigned kFftSize = 16384;

// Magnitude spectrum of the first kFftSize samples (Hann-windowed).
inline std::vector<double> spectrum(const std::vector<float>& x, size_t offset = 0) {
    std::vector<float> in(kFftSize);
    for (unsigned i = 0; i < kFftSize; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / kFftSize);
        in[i] = offset + i < x.size() ? float(x[offset + i] * w) : 0.0f;
    }
    Fft fft(kFftSize);
    fft.fft(in.data());
    std::vector<double> mag(kFftSize / 2 + 1);
    for (unsigned k = 0; k <= kFftSize / 2; ++k) mag[k] = std::hypot(fft.fdr(k), fft.fdi(k));
    return mag;
}

inline double binHz(double bin) { return bin * 48000.0 / kFftSize; }

// Strongest peak above minHz, refined by a parabola through its neighbours.
inline double peakHz(const std::vector<float>& x, size_t offset = 0, double minHz = 20.0) {
    auto mag = spectrum(x, offset);
    size_t best = 1;
    for (size_t k = 1; k + 1 < mag.size(); ++k)
        if (binHz(double(k)) >= minHz && mag[k] > mag[best]) best = k;
    const double a = std::log(mag[best - 1] + 1e-12), b = std::log(mag[best] + 1e-12),
                 c = std::log(mag[best + 1] + 1e-12);
    const double shift = 0.5 * (a - c) / (a - 2 * b + c);
    return binHz(double(best) + shift);
}

// Energy between two frequencies relative to the whole spectrum.
inline double bandShare(const std::vector<float>& x, double loHz, double hiHz, size_t offset = 0) {
    auto mag = spectrum(x, offset);
    double band = 0.0, all = 0.0;
    for (size_t k = 1; k < mag.size(); ++k) {
        const double e = mag[k] * mag[k];
        all += e;
        if (binHz(double(k)) >= loHz && binHz(double(k)) < hiHz) band += e;
    }
    return all > 0.0 ? band / all : 0.0;
}

inline double rms(const float* x, size_t n) {
    double s = 0.0;
    for (size_t i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return std::sqrt(s / double(n));
}

inline std::vector<double> blockLevels(const std::vector<float>& x) {
    std::vector<double> out;
    for (size_t b = 0; b + 64 <= x.size(); b += 64) out.push_back(rms(&x[b], 64));
    return out;
}

inline bool allFinite(const std::vector<float>& x) {
    for (float v : x)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace enginemeasure

// Measurements of rendered engine audio: spectrum peak, band share, levels.
#pragma once

#include "platform/Fft.h"

#include <cmath>
#include <vector>

namespace enginemeasure {

constexpr unsigned kFftSize = 16384;
inline double binHz(double bin) { return bin * 48000.0 / kFftSize; }

// Power spectrum of kFftSize samples from `offset`, Hann-windowed.
inline std::vector<double> power(const std::vector<float>& x, size_t offset) {
    std::vector<float> in(kFftSize);
    for (unsigned i = 0; i < kFftSize; ++i)
        in[i] = offset + i < x.size() ? float(x[offset + i] * (0.5 - 0.5 * std::cos(2.0 * M_PI * i / kFftSize))) : 0.0f;
    Fft fft(kFftSize);
    fft.fft(in.data());
    std::vector<double> p(kFftSize / 2 + 1);
    for (unsigned k = 0; k < p.size(); ++k) p[k] = double(fft.fdr(k)) * fft.fdr(k) + double(fft.fdi(k)) * fft.fdi(k);
    return p;
}

// Strongest peak, refined by a parabola through the log of its neighbours.
inline double peakHz(const std::vector<float>& x, size_t offset) {
    auto p = power(x, offset);
    size_t m = 2;
    for (size_t k = 2; k + 1 < p.size(); ++k)
        if (p[k] > p[m]) m = k;
    const double a = std::log(p[m - 1] + 1e-30), b = std::log(p[m] + 1e-30), c = std::log(p[m + 1] + 1e-30);
    return binHz(double(m) + 0.5 * (a - c) / (a - 2 * b + c));
}

inline double bandShare(const std::vector<float>& x, double loHz, double hiHz, size_t offset) {
    auto p = power(x, offset);
    double band = 0.0, all = 0.0;
    for (size_t k = 1; k < p.size(); ++k) {
        all += p[k];
        if (binHz(double(k)) >= loHz && binHz(double(k)) < hiHz) band += p[k];
    }
    return all > 0.0 ? band / all : 0.0;
}

inline double rms(const float* x, size_t n) {
    double s = 0.0;
    for (size_t i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return std::sqrt(s / double(n));
}

inline bool allFinite(const float* x, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (!std::isfinite(x[i])) return false;
    return true;
}

}  // namespace enginemeasure

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

// Power of the line at hz: the bins of its window's main lobe summed, so a
// line between two bins reads the same as one on a bin.
inline double linePower(const std::vector<double>& p, double hz, int halfWidth = 3) {
    const long centre = std::lround(hz * kFftSize / 48000.0);
    double sum = 0.0;
    for (long k = centre - halfWidth; k <= centre + halfWidth; ++k)
        if (k > 0 && size_t(k) < p.size()) sum += p[size_t(k)];
    return sum;
}
inline double dB(double powerRatio) { return 10.0 * std::log10(powerRatio + 1e-300); }

// Period in samples between minLag and maxLag, by the autocorrelation's
// highest peak refined by a parabola.
inline double periodByAutocorrelation(const std::vector<float>& x, size_t offset, size_t length, int minLag,
                                      int maxLag) {
    auto r = [&](int lag) {
        double s = 0.0;
        for (size_t i = offset; i < offset + length && i + size_t(lag) < x.size(); ++i) s += double(x[i]) * x[i + size_t(lag)];
        return s;
    };
    int best = minLag;
    double bestR = r(minLag);
    for (int lag = minLag + 1; lag <= maxLag; ++lag) {
        const double v = r(lag);
        if (v > bestR) bestR = v, best = lag;
    }
    const double a = r(best - 1), b = bestR, c = r(best + 1);
    return best + 0.5 * (a - c) / (a - 2 * b + c);
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

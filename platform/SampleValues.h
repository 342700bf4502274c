// Audio read from outside (sample files, the host's input file) may hold
// NaN, infinities or absurd values from a damaged file or a broken export.
// Played, they blast the outputs and stay in every filter's state that
// they reach, so they are replaced once, where the values are read.
#pragma once

#include <cmath>
#include <cstddef>

// Full scale is 1.0; a float file may go a little over it on purpose, so
// the bound leaves room for that (+12 dB) and good files keep every value.
constexpr float kSampleValueBound = 4.0f;

// Makes every value finite and within +-kSampleValueBound: non-finite
// values become 0, larger ones the bound of their sign. Returns how many
// values were replaced. No allocation: the audio thread may call it.
inline size_t cleanSamples(float* data, size_t count) {
    size_t replaced = 0;
    for (size_t i = 0; i < count; ++i) {
        const float v = data[i];
        if (v >= -kSampleValueBound && v <= kSampleValueBound)
            continue;  // NaN fails both comparisons and is caught below
        data[i] = !std::isfinite(v) ? 0.0f : std::copysign(kSampleValueBound, v);
        ++replaced;
    }
    return replaced;
}

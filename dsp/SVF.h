// Trapezoidal state-variable filter (coefficients a1..a3, output mix m0..m2),
// six fixed responses and a shape control that morphs low-pass -> band-pass ->
// high-pass -> notch -> low-pass. 48 kHz.
#pragma once

#include <cstdint>

// One lane's coefficients; shared by SVF and QuadSVF so both compute the same.
struct SVFCoefficients {
    float a1, a2, a3, m0, m1, m2;
};

namespace svf {
constexpr float kMinCutoff = 1.0f;
constexpr float kMaxCutoff = 23520.0f;  // 0.49 x 48000: tan() blows up at Nyquist
constexpr float kMinQ = 0.01f;

float clampCutoff(float hz);
float clampQ(float q);
// Types 1..9 (low, band, high, notch, peak, all-pass, bell, low shelf, high
// shelf); false leaves out untouched.
bool coefficients(int type, float hz, float q, float gainDb, SVFCoefficients& out);
// Shape 0..4; out-of-range shapes count as the nearest end (see setShape).
void shapeCoefficients(float shape, float hz, float q, SVFCoefficients& out);
}  // namespace svf

class SVF {
public:
    float band = 0, low = 0, diff = 0;
    float a1 = 0, a2 = 0, a3 = 0;
    float m0 = 0, m1 = 0, m2 = 0;
    float ic1eq = 0, ic2eq = 0;

    SVF() = default;
    SVF(int type, float hz, float q) { setCoefficients(type, hz, q); }

    // Types 1..6; any other leaves the coefficients as they were.
    void setCoefficients(int type, float hz, float q);
    void setShape(float shape, float hz, float q);

    float tick(float x) {
        diff = x - ic2eq;
        band = a1 * ic1eq + a2 * diff;
        low = ic2eq + a2 * ic1eq + a3 * diff;
        ic1eq = 2.0f * band - ic1eq;
        ic2eq = 2.0f * low - ic2eq;
        return m0 * x + m1 * band + m2 * low;
    }
    void process(float* buffer, uint32_t n);
    void reset() { ic1eq = ic2eq = 0.0f; }

private:
    void _apply(const SVFCoefficients& c);
    void _sanitize();
};

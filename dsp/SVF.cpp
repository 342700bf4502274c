#include "dsp/SVF.h"

#include <cmath>

namespace svf {

float clampCutoff(float hz) {
    if (!(hz >= kMinCutoff)) return kMinCutoff;  // also NaN
    return hz > kMaxCutoff ? kMaxCutoff : hz;
}

float clampQ(float q) {
    if (!(q >= kMinQ)) return kMinQ;
    return std::isinf(q) ? 1e6f : q;
}

static void coreCoefficients(float g, float k, SVFCoefficients& c) {
    c.a1 = 1.0f / (1.0f + g * (g + k));
    c.a2 = g * c.a1;
    c.a3 = g * c.a2;
}

bool coefficients(int type, float hz, float q, float gainDb, SVFCoefficients& c) {
    if (type < 1 || type > 9) return false;
    hz = clampCutoff(hz);
    q = clampQ(q);
    if (!std::isfinite(gainDb)) gainDb = 0.0f;
    float g = std::tan(hz * 6.544985e-05f);
    float k = 1.0f / q;
    float A = std::pow(10.0f, gainDb * 0.025f);
    switch (type) {
    case 1: coreCoefficients(g, k, c); c.m0 = 0; c.m1 = 0; c.m2 = 1; break;
    case 2: coreCoefficients(g, k, c); c.m0 = 0; c.m1 = 1; c.m2 = 0; break;
    case 3: coreCoefficients(g, k, c); c.m0 = 1; c.m1 = -k; c.m2 = -1; break;
    case 4: coreCoefficients(g, k, c); c.m0 = 1; c.m1 = -k; c.m2 = 0; break;
    case 5: coreCoefficients(g, k, c); c.m0 = 1; c.m1 = -k; c.m2 = -2; break;
    case 6: coreCoefficients(g, k, c); c.m0 = 1; c.m1 = -2 * k; c.m2 = 0; break;
    case 7: {
        float kb = 1.0f / (q * A);
        coreCoefficients(g, kb, c);
        c.m0 = 1; c.m1 = kb * (A * A - 1); c.m2 = 0;
        break;
    }
    case 8:
        coreCoefficients(g / std::sqrt(A), k, c);
        c.m0 = 1; c.m1 = k * (A - 1); c.m2 = A * A - 1;
        break;
    case 9:
        coreCoefficients(g * std::sqrt(A), k, c);
        c.m0 = A * A; c.m1 = k * (1 - A) * A; c.m2 = 1 - A * A;
        break;
    }
    return true;
}

void shapeCoefficients(float s, float hz, float q, SVFCoefficients& c) {
    hz = clampCutoff(hz);
    q = clampQ(q);
    float g = std::tan(hz * 6.544985e-05f);
    float k = 1.0f / q;
    coreCoefficients(g, k, c);
    if (!(s >= 0.0f)) s = 0.0f;
    if (s < 1.0f) {
        c.m0 = 0; c.m1 = s; c.m2 = 1 - s;
    } else if (s < 2.0f) {
        float t = s - 1.0f;
        c.m0 = t; c.m1 = (1 - t) - t * k; c.m2 = -t;
    } else if (s < 3.0f) {
        c.m0 = 1; c.m1 = -k; c.m2 = (s - 2.0f) - 1.0f;
    } else if (s <= 4.0f) {
        float t = s - 3.0f;
        c.m0 = 1 - t; c.m1 = -(1 - t) * k; c.m2 = t;
    } else {
        c.m0 = 0; c.m1 = 0; c.m2 = 1;
    }
}

}  // namespace svf

void SVF::_apply(const SVFCoefficients& c) {
    a1 = c.a1; a2 = c.a2; a3 = c.a3;
    m0 = c.m0; m1 = c.m1; m2 = c.m2;
}

// A NaN or infinity in the integrators would never decay out again.
void SVF::_sanitize() {
    if (!std::isfinite(ic1eq) || !std::isfinite(ic2eq)) {
        reset();
        band = low = diff = 0.0f;
    }
}

void SVF::setCoefficients(int type, float hz, float q) {
    if (type < 1 || type > 6) return;
    SVFCoefficients c;
    svf::coefficients(type, hz, q, 0.0f, c);
    _apply(c);
    _sanitize();
}

void SVF::setShape(float shape, float hz, float q) {
    SVFCoefficients c;
    svf::shapeCoefficients(shape, hz, q, c);
    _apply(c);
    _sanitize();
}

void SVF::process(float* buffer, uint32_t n) {
    // The same steps as tick(), on local copies: written through the buffer,
    // the members would have to go back to memory after every sample.
    const float c1 = a1, c2 = a2, c3 = a3, k0 = m0, k1 = m1, k2 = m2;
    float s1 = ic1eq, s2 = ic2eq, b = band, l = low, d = diff;
#pragma GCC unroll 4
    for (uint32_t i = 0; i < n; ++i) {
        const float x = buffer[i];
        d = x - s2;
        b = c1 * s1 + c2 * d;
        l = s2 + c2 * s1 + c3 * d;
        s1 = 2.0f * b - s1;
        s2 = 2.0f * l - s2;
        buffer[i] = k0 * x + k1 * b + k2 * l;
    }
    band = b;
    low = l;
    diff = d;
    ic1eq = s1;
    ic2eq = s2;
    _sanitize();
}

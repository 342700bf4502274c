#include "dsp/QuadSVF.h"

#include "dsp/SVF.h"

#include <cmath>

QuadSVF::QuadSVF() {
    if (!isAligned(this, 8)) reportMisalignedVectorObject();
    float4 zero = splat4(0.0f);
    lanes = band = low = diff = zero;
    a1 = a2 = a3 = m0 = m1 = m2 = zero;
    ic1eq = ic2eq = zero;
    two = splat4(2.0f);
    dry = zero;
    wet = splat4(1.0f);
}

void QuadSVF::_setLane(int lane, const float* c) {
    a1[lane] = c[0]; a2[lane] = c[1]; a3[lane] = c[2];
    m0[lane] = c[3]; m1[lane] = c[4]; m2[lane] = c[5];
}

void QuadSVF::setCoefficients(const int* types, const float* hz, const float* qs, const float* gainsDb) {
    for (int lane = 0; lane < 4; ++lane) {
        SVFCoefficients c;
        if (svf::coefficients(types[lane], hz[lane], qs[lane], gainsDb[lane], c))
            _setLane(lane, &c.a1);
    }
    _sanitize();
}

void QuadSVF::setShapeMix(float* shapes, const float* hz, const float* qs, const float* mixes) {
    for (int lane = 0; lane < 4; ++lane) {
        if (!(shapes[lane] >= 0.0f)) shapes[lane] = 0.0f;
        SVFCoefficients c;
        svf::shapeCoefficients(shapes[lane], hz[lane], qs[lane], c);
        _setLane(lane, &c.a1);
        float m = mixes[lane];
        if (m >= 1.0f) {
            dry[lane] = 0.0f;
            wet[lane] = 1.0f;
        } else if (m > 0.0f) {
            dry[lane] = std::sqrt(1.0f - m);
            wet[lane] = std::sqrt(m);
        } else {
            dry[lane] = 1.0f;
            wet[lane] = 0.0f;
        }
    }
    _sanitize();
}

// The block loops keep the state in locals: the buffer may alias nothing of
// the filter, but the compiler cannot know that and would store every member
// every sample. The arithmetic is tick4's, in the same order.
namespace {

struct Lanes {
    float4 a1, a2, a3, m0, m1, m2, ic1eq, ic2eq, band, low, diff;

    explicit Lanes(const QuadSVF& f)
        : a1(f.a1), a2(f.a2), a3(f.a3), m0(f.m0), m1(f.m1), m2(f.m2), ic1eq(f.ic1eq), ic2eq(f.ic2eq),
          band(f.band), low(f.low), diff(f.diff) {}
    void tick4(float4& x) {
        diff = x - ic2eq;
        band = a1 * ic1eq + a2 * diff;
        low = ic2eq + a2 * ic1eq + a3 * diff;
        ic1eq = 2.0f * band - ic1eq;
        ic2eq = 2.0f * low - ic2eq;
        x = m0 * x + m1 * band + m2 * low;
    }
    void storeState(QuadSVF& f) const {
        f.ic1eq = ic1eq, f.ic2eq = ic2eq, f.band = band, f.low = low, f.diff = diff;
    }
};

}  // namespace

void QuadSVF::processCascade(float* buffer, uint32_t n) {
    Lanes s(*this);
    float4 pipe = lanes;
    for (uint32_t i = 0; i < n; ++i) {
        pipe = float4{buffer[i], pipe[0], pipe[1], pipe[2]};
        s.tick4(pipe);
        buffer[i] = pipe[3];
    }
    lanes = pipe;
    s.storeState(*this);
    _sanitize();
}

void QuadSVF::process4Channels(float* buffer, uint32_t n) {
    float* c0 = buffer;
    float* c1 = buffer + n;
    float* c2 = buffer + 2 * n;
    float* c3 = buffer + 3 * n;
    Lanes s(*this);
    const float4 dryGain = dry, wetGain = wet;
    for (uint32_t i = 0; i < n; ++i) {
        const float4 in{c0[i], c1[i], c2[i], c3[i]};
        float4 x = in;
        s.tick4(x);
        x = in * dryGain + wetGain * x;
        c0[i] = x[0];
        c1[i] = x[1];
        c2[i] = x[2];
        c3[i] = x[3];
    }
    s.storeState(*this);
    _sanitize();
}

void QuadSVF::reset() {
    float4 zero = splat4(0.0f);
    lanes = band = low = diff = ic1eq = ic2eq = zero;
}

// A lane whose state went non-finite (NaN input) starts again from rest; the
// other lanes keep sounding.
void QuadSVF::_sanitize() {
    for (int lane = 0; lane < 4; ++lane) {
        if (!std::isfinite(ic1eq[lane]) || !std::isfinite(ic2eq[lane]) || !std::isfinite(lanes[lane])) {
            ic1eq[lane] = ic2eq[lane] = 0.0f;
            band[lane] = low[lane] = diff[lane] = lanes[lane] = 0.0f;
        }
    }
}

QuadOnePole::QuadOnePole() {
    if (!isAligned(this, 8)) reportMisalignedVectorObject();
    lanes = y = splat4(0.0f);
    a = splat4(0.0f);
    b = splat4(1.0f);
}

void QuadOnePole::setCutoff(float fraction) {
    if (!(fraction > 0.0f)) fraction = 0.0f;
    if (fraction > 0.5f) fraction = 0.5f;
    float pole = float(std::exp(-6.283185307 * double(fraction)));
    a = splat4(pole);
    b = splat4(1.0f - pole);
    if (!std::isfinite(y[0] + y[1] + y[2] + y[3])) reset();
}

void QuadOnePole::reset() {
    lanes = y = splat4(0.0f);
}

#include "Measure.h"
#include "dsp/DelayLine.h"
#include "dsp/LadderFilter.h"
#include "dsp/QuadSVF.h"
#include "dsp/SVF.h"
#include "platform/Audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <xmmintrin.h>

using dsptest::sineGain;

namespace {

double svfGain(int type, double cutoff, double q, double hz) {
    SVF f(type, float(cutoff), float(q));
    return sineGain([&](float* b) { f.process(b, 64); }, hz);
}

double quadLaneGain(int type, float cutoff, float gainDb, double hz) {
    QuadSVF quad;
    quad.setCoefficients({1, 1, type, 1}, {100, 100, cutoff, 100}, {1, 1, 1, 1}, {0, 0, gainDb, 0});
    return sineGain([&](float* b) {
        for (int i = 0; i < 64; ++i) {
            float4 v = splat4(b[i]);
            quad.tick4(v);
            b[i] = v[2];
        }
    }, hz);
}

void expectSameCoefficients(const SVF& a, const SVF& b) {
    EXPECT_FLOAT_EQ(a.a1, b.a1);
    EXPECT_FLOAT_EQ(a.m0, b.m0);
    EXPECT_FLOAT_EQ(a.m1, b.m1);
    EXPECT_FLOAT_EQ(a.m2, b.m2);
}

// Keeps the test thread's float mode as it was.
struct FlushToZeroScope {
    unsigned saved = _mm_getcsr();
    FlushToZeroScope() { Bela_setFlushToZero(); }
    ~FlushToZeroScope() { _mm_setcsr(saved); }
};

}  // namespace

TEST(SVF, Responses) {
    EXPECT_NEAR(svfGain(1, 1000, 0.707, 1), 1.0, 1e-3);         // low-pass DC
    EXPECT_NEAR(svfGain(1, 1000, 0.707, 1000), 0.707, 0.02);     // -3 dB at cutoff
    EXPECT_NEAR(20 * std::log10(svfGain(1, 1000, 0.707, 2000)), -12.3, 1.0);  // an octave above
    EXPECT_NEAR(svfGain(1, 1000, 10.0, 1000), 10.0, 1.0);        // resonance peak ~ Q
    EXPECT_LT(svfGain(3, 1000, 0.707, 1), 1e-3);                 // high-pass blocks DC
    EXPECT_NEAR(svfGain(3, 1000, 0.707, 20000), 1.0, 0.02);
    EXPECT_NEAR(svfGain(2, 1000, 2.0, 1000), 2.0, 0.05);         // band output peaks at Q
    EXPECT_LT(svfGain(4, 1000, 0.707, 1000), 0.05);
    EXPECT_NEAR(svfGain(6, 1000, 0.707, 3000), 1.0, 0.02);
}

TEST(SVF, ShapeMorphMatchesFixedTypes) {
    SVF lp(1, 800.0f, 2.0f), bp(2, 800.0f, 2.0f), hp(3, 800.0f, 2.0f), notch(4, 800.0f, 2.0f);
    SVF s;
    for (float shape : {0.0f, 4.0f, -3.0f, 9.0f}) {
        s.setShape(shape, 800.0f, 2.0f);
        expectSameCoefficients(s, lp);
    }
    s.setShape(1.0f, 800.0f, 2.0f);
    expectSameCoefficients(s, bp);
    s.setShape(2.0f, 800.0f, 2.0f);
    expectSameCoefficients(s, hp);
    s.setShape(3.0f, 800.0f, 2.0f);
    expectSameCoefficients(s, notch);
    s.setCoefficients(7, 100.0f, 1.0f);  // not a scalar type: unchanged
    expectSameCoefficients(s, notch);
}

TEST(SVF, UnsafeSettingsAndInputStayFinite) {
    for (auto [hz, q] : {std::pair{30000.0f, 0.707f}, {24000.0f, 0.0f}, {NAN, -1.0f}, {-50.0f, INFINITY}}) {
        SVF f(1, hz, q);
        float b[64];
        for (int k = 0; k < 100; ++k) {
            for (int i = 0; i < 64; ++i) b[i] = std::sin(0.3f * float(i + 64 * k));
            f.process(b, 64);
            ASSERT_TRUE(dsptest::allFinite(b, 64)) << hz << " " << q;
        }
    }
    SVF f(1, 1000.0f, 0.707f);
    float b[64] = {};
    b[3] = NAN;
    f.process(b, 64);
    EXPECT_TRUE(std::isfinite(f.ic1eq) && std::isfinite(f.ic2eq));

    QuadSVF quad;
    float shapes[4] = {0, 0, 0, 0}, hz[4] = {40000, 1000, 1000, 1000}, qs[4] = {0, 1, 1, 1}, mixes[4] = {1, 1, 1, 1};
    quad.setShapeMix(shapes, hz, qs, mixes);
    float buffer[4 * 64];
    std::fill(buffer, buffer + 4 * 64, 0.5f);
    buffer[64 + 7] = INFINITY;
    quad.process4Channels(buffer, 64);
    std::fill(buffer, buffer + 4 * 64, 0.5f);
    quad.process4Channels(buffer, 64);
    EXPECT_TRUE(dsptest::allFinite(buffer, 4 * 64));
}

TEST(QuadSVF, LanesMatchScalarFilters) {
    QuadSVF quad;
    float shapes[4] = {0.0f, 1.3f, 2.0f, 3.5f}, hz[4] = {300, 1200, 5000, 9000}, qs[4] = {0.7f, 2, 5, 1},
          mixes[4] = {1, 1, 1, 1};
    quad.setShapeMix(shapes, hz, qs, mixes);
    SVF lanes[4];
    for (int l = 0; l < 4; ++l) lanes[l].setShape(shapes[l], hz[l], qs[l]);
    float buffer[4 * 64], expected[4 * 64];
    for (int k = 0; k < 50; ++k) {
        for (int i = 0; i < 4 * 64; ++i) buffer[i] = std::sin(0.37f * float(i * (k + 1)));
        for (int i = 0; i < 4 * 64; ++i) expected[i] = lanes[i / 64].tick(buffer[i]);
        quad.process4Channels(buffer, 64);
        for (int i = 0; i < 4 * 64; ++i) ASSERT_NEAR(buffer[i], expected[i], 1e-4) << i;
    }
}

TEST(QuadSVF, BellAndShelves) {
    EXPECT_NEAR(quadLaneGain(7, 1000, 12, 1000), std::pow(10.0, 12.0 / 20), 0.1);
    EXPECT_NEAR(quadLaneGain(7, 1000, 12, 10000), 1.0, 0.05);
    EXPECT_NEAR(quadLaneGain(8, 1000, 6, 30), std::pow(10.0, 6.0 / 20), 0.05);
    EXPECT_NEAR(quadLaneGain(8, 1000, 6, 15000), 1.0, 0.05);
    EXPECT_NEAR(quadLaneGain(9, 1000, -6, 15000), std::pow(10.0, -6.0 / 20), 0.03);
    for (int type : {8, 9}) {  // 0 dB shelves pass the input unchanged
        QuadSVF flat;
        flat.setCoefficients({type, type, type, type}, {500, 500, 500, 500}, {1, 1, 1, 1}, {0, 0, 0, 0});
        float b[64], in[64];
        for (int i = 0; i < 64; ++i) in[i] = b[i] = std::sin(0.2f * float(i));
        flat.processCascade(b, 64);
        for (int i = 3; i < 64; ++i) ASSERT_NEAR(b[i], in[i - 3], 1e-5);  // three samples of latency
    }
}

TEST(QuadSVF, CascadeLatencyAndMix) {
    QuadSVF quad;
    quad.setCoefficients({1, 1, 1, 1}, {5000, 5000, 5000, 5000}, {0.7f, 0.7f, 0.7f, 0.7f}, {0, 0, 0, 0});
    EXPECT_EQ(quad.tickCascade(1.0f), 0.0f);
    EXPECT_EQ(quad.tickCascade(0.0f), 0.0f);
    EXPECT_EQ(quad.tickCascade(0.0f), 0.0f);
    EXPECT_NE(quad.tickCascade(0.0f), 0.0f);

    float shapes[4] = {-1, 0, 0, 0}, hz[4] = {1000, 1000, 1000, 1000}, qs[4] = {1, 1, 1, 1},
          mixes[4] = {0.5f, 0.0f, 2.0f, 0.25f};
    quad.setShapeMix(shapes, hz, qs, mixes);
    EXPECT_EQ(shapes[0], 0.0f);
    EXPECT_FLOAT_EQ(quad.dry[0], std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(quad.wet[0], std::sqrt(0.5f));
    EXPECT_EQ(quad.wet[1], 0.0f);
    EXPECT_EQ(quad.dry[2], 0.0f);
}

__attribute__((no_sanitize("alignment", "undefined"))) static void constructMisaligned() {
    alignas(16) unsigned char storage[sizeof(QuadSVF) + 16];
    new (storage + 4) QuadSVF();
}

TEST(QuadSVF, MisplacedObjectIsRefused) {
    testing::internal::CaptureStderr();
    EXPECT_THROW(constructMisaligned(), std::bad_alloc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "QuadSVF object is improperly aligned\n");
}

TEST(QuadOnePole, LanesMatchScalarTwinAndCascade) {
    QuadOnePole pole;
    pole.setCutoff(1000.0f / 48000.0f);
    EXPECT_FLOAT_EQ(pole.a[0], float(std::exp(-2 * dsptest::kPi * 1000.0 / 48000.0)));
    const float a = pole.a[0], b = pole.b[0];
    float y[4] = {};
    for (int n = 0; n < 2000; ++n) {
        float in[4] = {std::sin(0.01f * n), std::cos(0.3f * n), n % 7 == 0 ? 1.0f : 0.0f, -0.5f};
        float4 x{in[0], in[1], in[2], in[3]};
        pole.process4(x);
        for (int l = 0; l < 4; ++l) {
            y[l] = in[l] * b + y[l] * a;
            ASSERT_NEAR(x[l], y[l], 1e-5) << n << " lane " << l;
        }
    }
    pole.reset();
    EXPECT_EQ(pole.tickCascade(1.0f), 0.0f);
    EXPECT_EQ(pole.tickCascade(0.0f), 0.0f);
    EXPECT_EQ(pole.tickCascade(0.0f), 0.0f);
    EXPECT_GT(pole.tickCascade(0.0f), 0.0f);
    // Four poles a factor 4 above the corner: about -48 dB.
    EXPECT_LT(sineGain([&](float* b) { for (int i = 0; i < 64; ++i) b[i] = pole.tickCascade(b[i]); }, 4000), 0.02);
}

TEST(LadderFilter, UnityAtLowLevelAndBoundedWhenDriven) {
    LadderFilter ladder;
    ladder.setCutoff(1000.0f, 0.0f);
    float b[64];
    for (int k = 0; k < 100; ++k) {
        std::fill(b, b + 64, 0.001f);
        ladder.process(b);
    }
    EXPECT_NEAR(b[63], 0.001f, 2e-5);
    ladder.setCutoff(100000.0f, 1.0f);
    EXPECT_FLOAT_EQ(ladder.g, 0.7f);
    EXPECT_FLOAT_EQ(ladder.k, 9.5f);
    ladder.setCutoff(100000.0f, 0.0f);
    for (int k = 0; k < 100; ++k) {
        for (int i = 0; i < 64; ++i) b[i] = 4.0f * std::sin(0.1f * float(i + 64 * k));
        ladder.process(b);
        for (float s : b) ASSERT_LT(std::fabs(s), 1.0f);
    }
}

TEST(DecayingSignals, FiltersAndDelayFeedbackFlushToZero) {
    FlushToZeroScope ftz;
    SVF svf(1, 200.0f, 5.0f);
    QuadSVF quad;
    quad.setCoefficients({1, 2, 5, 6}, {100, 300, 1000, 3000}, {8, 8, 8, 8}, {0, 0, 0, 0});
    float buffer[4 * 64] = {1.0f};
    buffer[64] = buffer[128] = buffer[192] = 1.0f;
    for (int k = 0; k < 20000; ++k) {
        svf.process(buffer, 64);
        quad.process4Channels(buffer, 64);
        std::fill(buffer, buffer + 4 * 64, 0.0f);
    }
    EXPECT_NE(std::fpclassify(svf.ic1eq), FP_SUBNORMAL);
    EXPECT_NE(std::fpclassify(svf.ic2eq), FP_SUBNORMAL);
    for (int l = 0; l < 4; ++l) {
        EXPECT_NE(std::fpclassify(quad.ic1eq[l]), FP_SUBNORMAL) << l;
        EXPECT_NE(std::fpclassify(quad.ic2eq[l]), FP_SUBNORMAL) << l;
    }
    // An echo fed back at 0.5 falls through the subnormal range.
    DelayLine line(100);
    line.write(1.0f);
    for (int i = 0; i < 100 * 400; ++i) line.writeCountingQuiet(0.5f * line.read(99));
    for (float s : line.buffer) ASSERT_NE(std::fpclassify(s), FP_SUBNORMAL);
    EXPECT_TRUE(line.isSilent());
}

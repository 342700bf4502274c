#include "Measure.h"
#include "dsp/Phasor.h"
#include "dsp/Random.h"
#include "dsp/Saturate.h"
#include "dsp/SineCosineGenerator.h"
#include "dsp/SineOscillator.h"
#include "dsp/WaveTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using dsptest::kPi;

TEST(Saturate, ConversionsClampLikeTheInstrument) {
    EXPECT_EQ(saturateToU32(-1.0f), 0u);
    EXPECT_EQ(saturateToU32(NAN), 0u);
    EXPECT_EQ(saturateToU32(5e9f), UINT32_MAX);
    EXPECT_EQ(saturateToU32(INFINITY), UINT32_MAX);
    EXPECT_EQ(saturateToU32(3.9f), 3u);
    EXPECT_EQ(saturateToU32(4294967040.0f), 4294967040u);
    EXPECT_EQ(saturateToI32(-3e9f), INT32_MIN);
    EXPECT_EQ(saturateToI32(3e9), INT32_MAX);
    EXPECT_EQ(saturateToI32(NAN), 0);
    EXPECT_EQ(saturateToI32(-2.5f), -2);
}

TEST(WaveTable, TablesAndSine) {
    const WaveTableBank& t = DSP::wavetable;
    EXPECT_EQ(t.halfSine()[0], 0.0f);
    EXPECT_FLOAT_EQ(t.halfSine()[1024], 1.0f);
    EXPECT_EQ(t.length(), 4096.0f);
    EXPECT_NEAR(t.hann()[0], 0.0f, 1e-7);
    EXPECT_NEAR(t.hann()[4095], 0.0f, 1e-7);
    EXPECT_NEAR(t.hann()[2047], 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(t.sine(0.25f), 1.0f);
    EXPECT_FLOAT_EQ(t.sine(0.75f), -1.0f);
    double worst = 0.0;
    for (int i = 0; i < 10000; ++i) {
        float p = float(i) / 10000.0f;
        worst = std::max(worst, std::fabs(double(t.sine(p)) - std::sin(2 * kPi * p)));
    }
    EXPECT_LE(worst, 2 * kPi / 4096 + 1e-6);
    // Phases outside [0, 1) wrap instead of indexing outside the table.
    EXPECT_FLOAT_EQ(t.sine(-0.25f), -1.0f);
    EXPECT_FLOAT_EQ(t.sine(1.25f), 1.0f);
    for (float p : {NAN, INFINITY, -1e30f, -1e-9f, 0.99999999f}) EXPECT_TRUE(std::isfinite(t.sine(p))) << p;
}

TEST(Phasor, StepsAndWraps) {
    Phasor ph;
    ph.setFrequency(12000.0f);
    EXPECT_FLOAT_EQ(ph.next(), 0.25f);
    EXPECT_FLOAT_EQ(ph.next(), 0.5f);
    EXPECT_FLOAT_EQ(ph.next(), 0.75f);
    EXPECT_FLOAT_EQ(ph.next(), 0.0f);
    ph.setPhase(-0.3f);
    EXPECT_EQ(ph.phase, 0.0f);
    ph.setBlockFrequency(750.0f);
    EXPECT_FLOAT_EQ(ph.phaseIncrement, 1.0f);

    ph.setFrequency(-333.3f);
    for (int i = 0; i < 100000; ++i) {
        float p = ph.next();
        ASSERT_GE(p, 0.0f);
        ASSERT_LT(p, 1.0f);
    }
}

TEST(Phasor, PairToneAndRange) {
    PhasorPair pair;
    pair.setTone(1.0f);
    EXPECT_EQ(pair.baseFrequency, 15119.0f);
    EXPECT_EQ(pair.modulatedFrequency, 13001.0f);
    float out[64];
    for (int b = 0; b < 100; ++b) {
        pair.render(out);
        for (float s : out) ASSERT_TRUE(s >= -0.5f && s < 1.5f);
    }
}

TEST(SineOscillator, PitchAndPhaseModulation) {
    SineOscillator osc;
    std::vector<float> x(48000);
    for (size_t b = 0; b < x.size(); b += 64) {
        std::fill(x.begin() + b, x.begin() + b + 64, 0.0f);
        osc.render(&x[b], 64, 440.0f);
    }
    EXPECT_NEAR(dsptest::zeroCrossingHz(x), 440.0, 0.5);
    double power = 0;
    for (float s : x) power += double(s) * s;
    EXPECT_NEAR(std::sqrt(power / double(x.size())), std::sqrt(0.5), 0.01);
    // A constant offset accumulates into the phase: 0.001 cycles a sample = +48 Hz.
    for (size_t b = 0; b < x.size(); b += 64) {
        std::fill(x.begin() + b, x.begin() + b + 64, 0.001f);
        osc.render(&x[b], 64, 440.0f);
    }
    EXPECT_NEAR(dsptest::zeroCrossingHz(x), 488.0, 0.5);
}

// The block form against the phase stepped and read one sample at a time:
// equal to the bit through wraps both ways, deep modulation, runs of odd
// length and a NaN modulator.
TEST(SineOscillator, BlockFormMatchesTheSampleStepBitForBit) {
    const WaveTableBank& table = DSP::wavetable;
    SineOscillator osc;
    double p = 0.0;
    uint64_t mismatches = 0, n = 0;
    for (uint32_t length : {64u, 64u, 150u, 7u, 64u, 3u, 64u, 200u}) {
        for (int run = 0; run < 40; ++run) {
            std::vector<float> x(length);
            for (uint32_t i = 0; i < length; ++i, ++n)
                x[i] = float(3.7 * std::sin(0.0123 * double(n)) + (n % 97 == 0 ? -2.5 : 0.0));
            if (length == 7 && run == 3)
                x[2] = std::nanf("");
            std::vector<float> expected(length);
            const double increment = double(1234.5f) / 48000.0;
            for (uint32_t i = 0; i < length; ++i) {
                double q = p + double(x[i]) + increment;
                if (!(q >= 0.0 && q < 1.0)) {
                    q -= std::trunc(q);
                    if (q < 0.0) q += 1.0;
                }
                p = q;
                expected[i] = table.sineInCycle(float(q >= 0.0 && q < 1.0 ? q : 0.0));
            }
            if (!std::isfinite(p)) p = 0.0;
            osc.render(x.data(), length, 1234.5f);
            for (uint32_t i = 0; i < length; ++i)
                mismatches += std::memcmp(&x[i], &expected[i], sizeof(float)) != 0;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(SineOscillator, FeedbackOscillator) {
    SineOscillator plain;
    FeedbackSineOscillator fb(4800);
    float a[64], b[64];
    float maxDiff = 0.0f;
    for (int k = 0; k < 100; ++k) {  // no feedback: the plain sine; then a changed tone
        const float amount = k < 50 ? 0.0f : 0.05f;
        std::fill(a, a + 64, 0.0f);
        std::fill(b, b + 64, 0.0f);
        plain.render(a, 64, 330.0f);
        fb.render(b, 64, 330.0f, amount, 1.0f);
        for (int i = 0; i < 64; ++i) {
            if (amount == 0.0f) {
                ASSERT_FLOAT_EQ(a[i], b[i]);
            }
            maxDiff = std::max(maxDiff, std::fabs(a[i] - b[i]));
        }
    }
    EXPECT_GT(maxDiff, 0.05f);
    std::vector<float> x(48000);  // ... at the same pitch
    for (size_t i = 0; i < x.size(); i += 64) {
        std::fill(x.begin() + i, x.begin() + i + 64, 0.0f);
        fb.render(&x[i], 64, 330.0f, 0.05f, 1.0f);
    }
    EXPECT_NEAR(dsptest::zeroCrossingHz(x), 330.0, 1.0);
    // A pitch of 0 or a delay past the line must stay inside the line.
    for (float hz : {0.0f, 2.0f, -10.0f}) {
        fb.render(b, 64, hz, 0.5f, 4.0f);
        EXPECT_TRUE(dsptest::allFinite(b, 64)) << hz;
    }
}

TEST(SineCosineGenerator, MatchesExactDivisionTwin) {
    SineCosineGenerator gen;
    float hz[4] = {110, 440, 1000, 0}, mix[4] = {0, 0.5f, 1, 0.2f}, drive[4] = {0.01f, 0.001f, 0.0001f, 0.01f};
    gen.setFrequencies(hz, mix, drive);
    EXPECT_FLOAT_EQ(drive[0], 0.01f * 48000.0f / 110.0f);
    // Scalar twin with an exact division; the estimate differs by platform.
    double c[4] = {1, 1, 1, 1}, s[4] = {0, 0, 0, 0};
    for (int n = 0; n < 5000; ++n) {
        float4 out = gen.tick();
        for (int l = 0; l < 4; ++l) {
            float k = gen.coefficient[l];
            float cn = float(c[l]) - k * float(s[l]);
            float sn = float(s[l]) + k * cn;
            c[l] = cn;
            s[l] = sn;
            float u = cn * gen.drive[l];
            float expected = u * gen.level[l] * (1 + sn * gen.sineMix[l]) / (1 + std::fabs(u));
            ASSERT_NEAR(out[l], expected, 1e-3 * (1 + std::fabs(expected))) << n << " lane " << l;
            ASSERT_TRUE(std::isfinite(out[l]));
        }
    }
}

TEST(Random, GeneratorSequence) {
    Random r(1);
    EXPECT_EQ(r.next(), 196314165ull + 907633515ull);
    r.seed(0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(r.next(), 907633515ull - 196314165ull);  // wraps modulo 2^64
}

TEST(Noise, FirstValuesFromTheSeeds) {
    Noise noise;
    EXPECT_EQ(noise.seedA(), 0x70F4F854u);
    EXPECT_EQ(noise.seedB(), 0xE1E9F0A7u);
    float first = noise.next();
    EXPECT_EQ(noise.seedB(), 0x52DEE8FBu);
    EXPECT_EQ(noise.seedA(), 0x70F4F854u ^ 0x52DEE8FBu);
    EXPECT_NEAR(first, 0.6474, 1e-4);

    Noise a, b;
    float bulk[300];
    a.fill(bulk, 300);
    double sum = 0;
    for (float v : bulk) {
        ASSERT_EQ(v, b.next());
        ASSERT_TRUE(v >= -1.0f && v < 1.0f);
        sum += v;
    }
    EXPECT_NEAR(sum / 300, 0.0, 0.15);
}

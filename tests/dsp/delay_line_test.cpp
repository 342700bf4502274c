#include "dsp/DelayLine.h"
#include "dsp/Random.h"
#include "dsp/Utilities.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(DelayLine, TapsAtExactDelays) {
    DelayLine line(4);
    line.write(1);
    line.write(2);
    line.write(3);
    EXPECT_EQ(line.read(0), 3.0f);
    EXPECT_EQ(line.read(2), 1.0f);
    EXPECT_EQ(line.read(3), 0.0f);
    EXPECT_EQ(line.read(4), 3.0f);  // modulo the size
    EXPECT_FLOAT_EQ(line.readInterpolated(1.25f), 0.75f * 2.0f + 0.25f * 1.0f);
    EXPECT_EQ(line.readInterpolated(2.0f), line.read(2));
    // Out-of-range delays are clamped, never read outside the buffer.
    EXPECT_EQ(line.readInterpolated(NAN), 3.0f);
    EXPECT_EQ(line.readInterpolated(3.5f), line.read(3));

    DelayLine empty(0);
    empty.write(5.0f);
    EXPECT_EQ(empty.read(7), 5.0f);
}

TEST(DelayLine, CrossFadedJump) {
    DelayLine line(1000);
    for (int i = 0; i < 1000; ++i) line.write(float(i));  // read(d) = 999 - d
    line.setJumpTarget(100, 200);
    EXPECT_FALSE(line.jumpPending);
    line.setJumpTarget(300, 200);
    EXPECT_TRUE(line.jumpPending);
    float out = 0.0f;
    for (int i = 0; i < 512; ++i) out = line.readCrossfading(0);
    EXPECT_EQ(line.currentTap, 0u);
    EXPECT_EQ(out, 0.0f);  // faded out on the old tap
    line.readCrossfading(0);
    EXPECT_EQ(line.currentTap, 300u);
    EXPECT_TRUE(line.fadingIn);
    EXPECT_FALSE(line.jumpPending);
    EXPECT_EQ(line.randomMin, 5u);
    EXPECT_EQ(line.randomMax, 700u);
    line.setJumpTarget(900, 10);  // refused during the fade-in
    EXPECT_FALSE(line.jumpPending);
    for (int i = 0; i < 511; ++i) out = line.readCrossfading(0);
    EXPECT_TRUE(line.fadingIn);
    out = line.readCrossfading(0);
    EXPECT_FALSE(line.fadingIn);
    EXPECT_EQ(line.fadeGain, 1.0f);
    EXPECT_EQ(out, 999.0f - 300.0f);
}

TEST(DelayLine, RandomWalkStaysInBounds) {
    DelayLine line(1000);
    DSP::random.seed(7);
    line.currentTap = 0;
    line.randomMin = 0;
    line.randomMax = 3;
    for (int i = 0; i < 2000; ++i) {
        line.randomWalkTap();
        ASSERT_LE(line.currentTap, 3u);
    }
    line.currentTap = 500;
    line.randomMin = 450;
    line.randomMax = 550;
    uint32_t lo = 500, hi = 500;
    for (int i = 0; i < 20000; ++i) {
        line.randomWalkTap();
        lo = std::min(lo, line.currentTap);
        hi = std::max(hi, line.currentTap);
    }
    EXPECT_TRUE(lo >= 450 && lo < 500 && hi > 500 && hi <= 550) << lo << " " << hi;
}

TEST(DelayLine, QuietCount) {
    DelayLine line(16);
    EXPECT_TRUE(line.isSilent());
    line.writeCountingQuiet(0.5f);
    EXPECT_FALSE(line.isSilent());
    for (int i = 0; i < 15; ++i) line.writeCountingQuiet(0.0f);
    EXPECT_FALSE(line.isSilent());
    line.writeCountingQuiet(0.0f);
    EXPECT_TRUE(line.isSilent());
    // Plain writes mixed in can push the count past the size.
    line.write(0.7f);
    line.writeCountingQuiet(0.0f);
    line.writeCountingQuiet(0.0f);
    EXPECT_TRUE(line.isSilent());
    EXPECT_EQ(line.quietCount, 16u);
    line.writeCountingQuiet(1.0f);
    line.clear();
    EXPECT_TRUE(line.isSilent());
    EXPECT_EQ(line.read(15), 0.0f);
}

TEST(Utilities, PlayOrderIndex) {
    for (uint32_t order = 0; order < 5; ++order) EXPECT_EQ(playOrderIndex(5, 1, order), 0);
    const int fwdRev[] = {0, 1, 2, 3, 2, 1, 0, 1, 2};
    for (int step = 0; step < 9; ++step) EXPECT_EQ(playOrderIndex(step, 4, 2), fwdRev[step]) << step;
    for (int step = 0; step < 6; ++step) EXPECT_EQ(playOrderIndex(step, 2, 2), step % 2);
    EXPECT_EQ(playOrderIndex(1, 4, 1), 2);
    EXPECT_EQ(playOrderIndex(-1, 4, 0), 3);  // negative steps count back
    EXPECT_EQ(playOrderIndex(-1, 4, 1), 0);
    EXPECT_EQ(playOrderIndex(6, 4, 9), 2);
    bool seen[5] = {};
    for (int i = 0; i < 500; ++i) {
        int k = playOrderIndex(0, 5, 3);
        ASSERT_GE(k, 0);
        ASSERT_LT(k, 5);
        seen[k] = true;
    }
    for (bool s : seen) EXPECT_TRUE(s);
}

TEST(Utilities, SnapToDivision) {
    EXPECT_FLOAT_EQ(snapToDivision(16, 0.3f, 1.0f), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(snapToDivision(16, 2.6f, 1.0f), 3.0f);
    EXPECT_FLOAT_EQ(snapToDivision(16, 0.01f, 1.0f), 1.0f / 16.0f);
    EXPECT_FLOAT_EQ(snapToDivision(16, 2.25f, 0.5f), 2.5f);  // halves away from zero
    EXPECT_FLOAT_EQ(snapToDivision(0, 0.3f, 0.5f), 0.3f);    // no division by zero
    EXPECT_FLOAT_EQ(snapToDivision(-4, 0.001f, 0.5f), 0.001f);
    EXPECT_TRUE(std::isfinite(snapToDivision(16, 0.3f, 1e-30f)));
    // Against the plain forward search over every candidate.
    for (int n : {1, 3, 16}) {
        for (float s : {0.5f, 1.0f, 0.3f}) {
            for (int i = 1; i < 400; ++i) {
                float v = float(i) / 400.0f;
                float raised = std::max(v, 1.0f / float(n));
                float best = 0.0f, bestError = 20000.0f;
                for (float d = 1.0f; d <= float(n); d += s) {
                    float e = std::fabs(1.0f / d - raised);
                    if (e < bestError) {
                        bestError = e;
                        best = 1.0f / d;
                    }
                }
                float expected = raised >= 1.0f ? s * std::round(raised / s) : best;
                ASSERT_NEAR(snapToDivision(n, v, s), expected, 1e-6) << n << " " << s << " " << v;
            }
        }
    }
}

TEST(Utilities, RateToString) {
    EXPECT_EQ(rateToString(0.25f), "1/4");
    EXPECT_EQ(rateToString(0.3f), "1/3.33");
    EXPECT_EQ(rateToString(2.0f), "2");
    EXPECT_EQ(rateToString(1.5f), "1.50");
    for (float r : {0.0f, -1.0f, NAN, 1e-30f, 1e30f, INFINITY}) EXPECT_LE(rateToString(r).size(), 15u) << r;
}

TEST(DelayLine, BlockWritesAndReadsMatchTheSampleBySampleOnes) {
    DelayLine blocks(100), samples(100);
    std::vector<float> x(37), got(37);
    float next = 0.0f;
    for (int round = 0; round < 20; ++round) {  // 37 is no multiple of 4 and wraps at odd places
        for (float& v : x)
            v = next += 1.0f;
        blocks.writeBlock(x.data(), uint32_t(x.size()));
        blocks.readBehind(got.data(), uint32_t(got.size()), 41);
        for (size_t i = 0; i < x.size(); ++i) {
            samples.write(x[i]);
            ASSERT_EQ(got[i], samples.read(41)) << round << " " << i;
        }
        ASSERT_EQ(blocks.writeIndex, samples.writeIndex);
    }
}

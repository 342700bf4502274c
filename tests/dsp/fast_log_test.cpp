// The fast logarithm and power of two against the library's.
#include "dsp/FastLog.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FastLog, LogarithmAndPowerAreCloseToExact) {
    double worstLog = 0.0, worstPow = 0.0;
    for (float x = 1e-7f; x < 1e7f; x *= 1.0173f)
        worstLog = std::max(worstLog, std::fabs(double(fastlog::log2(x)) - std::log2(double(x))));
    for (float y = -120.0f; y < 120.0f; y += 0.0371f)
        worstPow = std::max(worstPow, std::fabs(double(fastlog::exp2(y)) / std::exp2(double(y)) - 1.0));
    // 1e-5 of a power of two is 1e-4 dB.
    EXPECT_LT(worstLog, 1e-5);
    EXPECT_LT(worstPow, 1e-5);
    EXPECT_EQ(fastlog::exp2(-1000.0f), std::exp2(-126.0f));
    EXPECT_EQ(fastlog::exp2(NAN), std::exp2(-126.0f));
}

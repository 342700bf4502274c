// Console lines caused by outside input: a burst, then one a second, with
// the number left out reported; outside text printed escaped.
#include "platform/LogLimiter.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kSecond = 1000000000;

TEST(LogLimiter, ABurstThenOneLineASecondWithTheLeftOutCounted) {
    LogLimiter limiter;
    uint32_t leftOut = 99;
    uint32_t allowed = 0;
    // A flood of 1000 lines a second for ten seconds.
    for (int i = 0; i < 10000; ++i) {
        if (limiter.allow(int64_t(i) * kSecond / 1000, leftOut)) {
            ++allowed;
            if (allowed <= LogLimiter::kBurst) {
                EXPECT_EQ(leftOut, 0u) << i;
            } else {
                EXPECT_GT(leftOut, 900u) << i;  // a second's worth refused before it
            }
        }
    }
    EXPECT_GE(allowed, LogLimiter::kBurst + 9);
    EXPECT_LE(allowed, LogLimiter::kBurst + 10);
    EXPECT_EQ(limiter.totalLeftOut(), 10000u - allowed);
    // After a quiet spell the whole burst is back.
    uint32_t again = 0;
    for (int i = 0; i < 100; ++i)
        again += limiter.allow(100 * kSecond, leftOut) ? 1 : 0;
    EXPECT_EQ(again, LogLimiter::kBurst);
}

TEST(LogLimiter, OutsideTextIsPrintedEscaped) {
    EXPECT_EQ(escapeForLog("/1/syn/filt_freq"), "/1/syn/filt_freq");
    EXPECT_EQ(escapeForLog(std::string("/a\x1b[2J\\\n\x7f\xff\0z", 12)), "/a\\x1b[2J\\\\\\x0a\\x7f\\xff\\x00z");
    EXPECT_EQ(escapeForLog(std::string(300, 'a')), std::string(128, 'a') + "...");
}

}  // namespace

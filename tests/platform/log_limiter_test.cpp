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

// 40 lines at once: the burst, and the number of the other 20 said once by a
// flush when a line may be printed again, even though no line follows; a
// line after that reports nothing twice. The clock is the test's.
int64_t gFakeNow = 0;
int64_t fakeClock() { return gFakeNow; }

TEST(LogLimiter, AFlushSaysTheLeftOutOnceTheBurstIsOver) {
    gFakeNow = 0;  // a repeat starts where the last run left the clock
    LogLimiter::setClock(&fakeClock);
    LogLimiter limiter;
    uint32_t leftOut = 0;
    uint32_t allowed = 0;
    for (int i = 0; i < 40; ++i)
        allowed += limiter.allow(leftOut) ? 1 : 0;
    EXPECT_EQ(allowed, LogLimiter::kBurst);
    EXPECT_FALSE(limiter.flush(leftOut));  // still inside the burst's budget
    gFakeNow = kSecond / 2;
    EXPECT_FALSE(limiter.flush(leftOut));
    gFakeNow = kSecond;
    leftOut = 0;
    ASSERT_TRUE(limiter.flush(leftOut));
    EXPECT_EQ(leftOut, 20u);
    gFakeNow = 30 * kSecond;
    EXPECT_FALSE(limiter.flush(leftOut));  // said once
    leftOut = 99;
    EXPECT_TRUE(limiter.allow(leftOut));
    EXPECT_EQ(leftOut, 0u);
    // Nothing left out: a flush never speaks, and takes no line's place.
    LogLimiter quiet;
    EXPECT_FALSE(quiet.flush(leftOut));
    for (uint32_t i = 0; i < LogLimiter::kBurst; ++i)
        EXPECT_TRUE(quiet.allow(leftOut)) << i;
    LogLimiter::setClock(nullptr);
}

TEST(LogLimiter, OutsideTextIsPrintedEscaped) {
    EXPECT_EQ(escapeForLog("/1/syn/filt_freq"), "/1/syn/filt_freq");
    EXPECT_EQ(escapeForLog(std::string("/a\x1b[2J\\\n\x7f\xff\0z", 12)), "/a\\x1b[2J\\\\\\x0a\\x7f\\xff\\x00z");
    EXPECT_EQ(escapeForLog(std::string(300, 'a')), std::string(128, 'a') + "...");
}

}  // namespace

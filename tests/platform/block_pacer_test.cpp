#include "platform/BlockPacer.h"

#include <gtest/gtest.h>

namespace {

using host::BlockPacer;
using Next = BlockPacer::Next;

// Start of block n on the clock that starts at t0 (ns).
constexpr int64_t blockStart(int64_t t0, int64_t n) { return t0 + n * BlockPacer::kBlockNsTimes3 / 3; }

TEST(BlockPacer, OnTimeBlocksWaitForTheNextBlockOfTheClock) {
    const int64_t t0 = 5000000000;
    BlockPacer pacer(t0);
    for (int64_t n = 1; n <= 3000; ++n) {
        // Rendered in a tenth of a block, right after waking.
        ASSERT_EQ(pacer.blockDone(blockStart(t0, n - 1) + 100000), Next::Wait) << n;
        ASSERT_EQ(pacer.wakeAt(), blockStart(t0, n)) << n;
    }
    EXPECT_EQ(pacer.wakeAt(), t0 + 4000000000);  // 3000 blocks are 4 s: no drift from rounding
}

TEST(BlockPacer, ALateWakeUpWithinTheBufferCatchesUpWithoutAnUnderrun) {
    const int64_t t0 = 0;
    BlockPacer pacer(t0);
    EXPECT_EQ(BlockPacer::kBufferBlocks, 15u);  // 20 ms at 48 kHz
    EXPECT_EQ(pacer.bufferNs(), 20000000);
    ASSERT_EQ(pacer.blockDone(blockStart(t0, 0) + 1000), Next::Wait);
    // The thread wakes 18 ms late (13.5 blocks): once a block was an underrun.
    const int64_t late = blockStart(t0, 1) + 18000000;
    EXPECT_EQ(pacer.blockDone(late), Next::CatchUp);
    // It renders back to back (50 us a block) until it is ahead again, and
    // then waits for the same grid as before: nothing shifted.
    int64_t now = late;
    int64_t n = 3;  // blocks rendered
    for (; n < 40; ++n) {
        now += 50000;
        const Next next = pacer.blockDone(now);
        ASSERT_NE(next, Next::Underrun) << n;
        if (next == Next::Wait)
            break;
    }
    ASSERT_LT(n, 40);
    EXPECT_EQ(pacer.wakeAt(), blockStart(t0, n));
}

TEST(BlockPacer, FallingBehindByMoreThanTheBufferIsAnUnderrunAndReanchors) {
    const int64_t t0 = 1000;
    BlockPacer pacer(t0);
    ASSERT_EQ(pacer.blockDone(blockStart(t0, 0) + 1000), Next::Wait);
    // Right at the edge of the buffer: still in time.
    EXPECT_EQ(pacer.blockDone(blockStart(t0, 2) + 20000000), Next::CatchUp);
    // A further stall of 30 ms: the buffer ran dry.
    const int64_t stalled = blockStart(t0, 3) + 30000000;
    EXPECT_EQ(pacer.blockDone(stalled), Next::Underrun);
    // The clock starts again from now: the next block waits a block's time
    // instead of racing to make up the lost 30 ms.
    EXPECT_EQ(pacer.wakeAt(), stalled);
    EXPECT_EQ(pacer.blockDone(stalled + 100000), Next::Wait);
    EXPECT_EQ(pacer.wakeAt(), stalled + BlockPacer::kBlockNsTimes3 / 3);
}

TEST(BlockPacer, ABufferOfOneBlockCountsEveryLateBlock) {
    // The pacing of a run without a buffer, for comparison: block 2, due at
    // the start of block 2, done two blocks late is an underrun there.
    BlockPacer pacer(0, 1);
    ASSERT_EQ(pacer.blockDone(100), Next::Wait);
    EXPECT_EQ(pacer.blockDone(blockStart(0, 4)), Next::Underrun);
}

}  // namespace

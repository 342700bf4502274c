// The delay line's block forms and cursor against its per-sample operations.
#include "dsp/DelayLine.h"

#include <gtest/gtest.h>

// The block forms and the cursor do what the per-sample operations do, also
// where the reads or the writes wrap round the line within a block.
TEST(DelayLine, BlockFormsAndCursorMatchSampleBySample) {
    DelayLine a(301), b(301), c(301);
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int block = 0; block < 200; ++block) {
        float x[64];
        for (float& v : x) v = (next() % 5 == 0) ? 0.0f : float(int32_t(next())) * 1e-9f;
        const float d = 64.0f + float(next() % 2300) * 0.1f;  // 64 .. 293.9 samples back
        const DelayLine::Tap tap = a.tap(d);
        float blockRead[64], plainRead[64], cursorRead[64];
        ASSERT_TRUE(a.readTapBlock(tap, blockRead, 64));
        a.writeCountingQuietBlock(x, 64);
        {
            DelayLine::Cursor cursor(c);
            for (int i = 0; i < 64; ++i) {
                plainRead[i] = b.readInterpolated(d);
                b.writeCountingQuiet(x[i]);
                cursorRead[i] = cursor.readTap(tap);
                cursor.writeCountingQuiet(x[i]);
            }
        }
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(blockRead[i], plainRead[i]) << block << " " << i;
            ASSERT_EQ(cursorRead[i], plainRead[i]) << block << " " << i;
        }
        ASSERT_EQ(a.buffer, b.buffer);
        ASSERT_EQ(c.buffer, b.buffer);
        ASSERT_EQ(a.writeIndex, b.writeIndex);
        ASSERT_EQ(a.quietCount, b.quietCount);
        ASSERT_EQ(c.quietCount, b.quietCount);
    }
    float out[64];
    EXPECT_FALSE(a.readTapBlock(a.tap(63.5f), out, 64));  // the block's own writes would reach it
}

#include "dsp/Random.h"

#include <gtest/gtest.h>

#include <thread>

// Two threads drawing at once: every step is taken exactly once, so the state
// ends where the same number of draws on one thread would leave it.
TEST(SharedGenerators, ConcurrentDrawsLoseNoStep) {
    const int draws = 50000;
    Random shared(12345), reference(12345);
    Noise noise, noiseReference;
    auto worker = [&](bool bulk) {
        float block[64];
        for (int i = 0; i < draws; ++i) {
            shared.next();
            if (bulk && i % 64 == 0) {
                noise.fill(block, 64);
            } else if (!bulk) {
                noise.next();
            }
        }
    };
    std::thread a(worker, false), b(worker, true);
    a.join();
    b.join();
    for (int i = 0; i < 2 * draws; ++i) reference.next();
    const int noiseDraws = draws + ((draws + 63) / 64) * 64;
    for (int i = 0; i < noiseDraws; ++i) noiseReference.next();
    EXPECT_EQ(shared.state.load(), reference.state.load());
    EXPECT_EQ(noise.seedA(), noiseReference.seedA());
    EXPECT_EQ(noise.seedB(), noiseReference.seedB());
}

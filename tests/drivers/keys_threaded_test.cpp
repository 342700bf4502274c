// The panel keys as the interface task reads them while the audio thread
// debounces them block by block.
#include "drivers/KeyDebouncer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(KeysThreaded, InterfaceSeesEveryPressAndReleaseWhileBlocksRun) {
    KeyDebouncer& key = Key::key[4];  // the pattern-slot key the slot overlay reads
    constexpr uint32_t kPresses = 300;
    // Two steps a press: held seen, release seen.
    std::atomic<uint32_t> seen{0};
    // A press counts only after a release has been seen.
    for (int i = 0; i < 8; ++i)
        key.update(1);
    std::thread interface([&] {
        for (uint32_t n = 0; n < kPresses; ++n) {
            while (!key.held())
                std::this_thread::yield();
            seen.store(2 * n + 1, std::memory_order_release);
            while (key.held())
                std::this_thread::yield();
            seen.store(2 * n + 2, std::memory_order_release);
        }
    });
    uint32_t downs = 0;
    for (uint32_t n = 0; n < kPresses; ++n) {
        // One update a block: level 0 while pressed, 1 while released.
        while (seen.load(std::memory_order_acquire) < 2 * n + 1)
            downs += key.update(0) == KeyDebouncer::kKeyDown ? 1 : 0;
        while (seen.load(std::memory_order_acquire) < 2 * n + 2)
            key.update(1);
    }
    interface.join();
    EXPECT_EQ(downs, kPresses);
    EXPECT_FALSE(key.held());
    EXPECT_EQ(key.lastResult(), KeyDebouncer::kNothing);
}

}  // namespace

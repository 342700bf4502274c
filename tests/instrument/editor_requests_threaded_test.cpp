// The request ring between the audio thread and the interface task: every
// word arrives whole and in order, or is counted as dropped, while both
// sides run at once.
#include "instrument/EditorRequests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(EditorRequestQueue, WordsArriveWholeInOrderOrCountedAsDropped) {
    EditorRequestQueue queue;
    constexpr uint64_t kWords = 200000;
    std::atomic<bool> done{false};
    uint64_t pushed = 0;
    std::thread producer([&] {
        for (uint64_t i = 1; i <= kWords; ++i)
            if (queue.push(i << 32 | (i ^ 0x5A5A5A5Au)))
                ++pushed;
        done.store(true);
    });
    uint64_t received = 0, last = 0;
    bool whole = true, ordered = true;
    for (;;) {
        const bool finished = done.load();  // read before the last drain
        uint64_t word = 0;
        while (queue.pop(word)) {
            const uint64_t i = word >> 32;
            whole = whole && uint32_t(word) == uint32_t(i ^ 0x5A5A5A5Au);
            ordered = ordered && i > last;
            last = i;
            ++received;
        }
        if (finished)
            break;
    }
    producer.join();
    EXPECT_TRUE(whole);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(received, pushed);
    EXPECT_EQ(pushed + queue.dropped(), kWords);
}

}  // namespace

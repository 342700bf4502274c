#include "platform/Pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Records of varying size carrying a checkable pattern.
size_t recordSize(uint32_t n) { return 8 + (n % 7) * 4; }

void fill(uint32_t n, uint8_t* out) {
    size_t size = recordSize(n);
    memcpy(out, &n, 4);
    for (size_t i = 4; i < size; ++i)
        out[i] = uint8_t(n * 31 + i);
}

bool check(const uint8_t* in, size_t size, uint32_t expected) {
    uint32_t n;
    memcpy(&n, in, 4);
    if (n != expected || size != recordSize(n))
        return false;
    for (size_t i = 4; i < size; ++i)
        if (in[i] != uint8_t(n * 31 + i))
            return false;
    return true;
}

TEST(PipeThreaded, RecordsNeverSplitOrReorderedBetweenThreads) {
    Pipe pipe("stress", 512, false, true);
    pipe.setTimeoutMsNonRt(1000);
    constexpr uint32_t kCount = 200000;
    std::atomic<bool> failed{false};
    std::thread writer([&] {
        uint8_t buffer[64];
        for (uint32_t n = 0; n < kCount;) {
            fill(n, buffer);
            if (pipe.writeRt(buffer, recordSize(n)) > 0)
                ++n;
            else
                std::this_thread::yield();  // full: the write was refused at once
        }
    });
    uint32_t expected = 0;
    uint8_t buffer[64];
    while (expected < kCount && !failed) {
        // Read one record at a time, with a buffer that sometimes holds two.
        ssize_t got = pipe.readNonRt(buffer, recordSize(expected));
        if (got <= 0)
            continue;
        if (!check(buffer, size_t(got), expected))
            failed = true;
        ++expected;
    }
    writer.join();
    EXPECT_FALSE(failed.load()) << "record " << expected;
    EXPECT_EQ(expected, kCount);
}

TEST(PipeThreaded, ManyNonRealTimeWritersOneRealTimeReader) {
    Pipe pipe("fan-in", 4096);
    constexpr int kWriters = 4;
    constexpr uint32_t kEach = 20000;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (uint32_t i = 0; i < kEach;) {
                uint32_t record[2] = {uint32_t(w), i};
                if (pipe.writeNonRt(record, sizeof record) > 0)
                    ++i;
                else
                    std::this_thread::yield();
            }
        });
    uint32_t next[kWriters] = {};
    uint32_t total = 0;
    bool ordered = true;
    while (total < kWriters * kEach) {
        uint32_t record[2];
        if (pipe.readRt(record, sizeof record) != sizeof record) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_LT(record[0], uint32_t(kWriters));
        ordered = ordered && record[1] == next[record[0]];
        next[record[0]] = record[1] + 1;
        ++total;
    }
    for (auto& t : writers)
        t.join();
    EXPECT_TRUE(ordered);
}

}  // namespace

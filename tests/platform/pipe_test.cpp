#include "platform/Pipe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Record {
    uint32_t sequence;
    uint32_t payload[3];
};

TEST(Pipe, RecordsCrossBetweenTheTwoSidesInOrder) {
    Pipe pipe("test-pipe", 1024);
    ASSERT_TRUE(pipe.isOk());
    EXPECT_EQ(pipe.name(), "test-pipe");
    for (uint32_t i = 0; i < 5; ++i)
        ASSERT_TRUE(pipe.writeRt(Record{i, {i, i, i}}));
    // The real-time side's writes reach only the other side.
    Record r{};
    EXPECT_FALSE(pipe.readRt(r));
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(pipe.readNonRt(r));
        EXPECT_EQ(r.sequence, i);
    }
    EXPECT_FALSE(pipe.readNonRt(r));

    ASSERT_TRUE(pipe.writeNonRt(Record{42, {}}));
    ASSERT_TRUE(pipe.readRt(r));
    EXPECT_EQ(r.sequence, 42u);
}

TEST(Pipe, FullPipeRefusesWithoutWritingPartOfARecord) {
    Pipe pipe("small", 65);  // three 16-byte records with their 4-byte headers, and 5 bytes
    int written = 0;
    while (pipe.writeRt(Record{uint32_t(written), {}}))
        ++written;
    EXPECT_EQ(written, 3);
    EXPECT_EQ(pipe.writeRt("x", 1), 1);  // a smaller record still fits
    EXPECT_EQ(pipe.writeRt("abcdefgh", 8), -1);
    Record r{};
    for (int i = 0; i < written; ++i) {
        ASSERT_TRUE(pipe.readNonRt(r));
        EXPECT_EQ(r.sequence, uint32_t(i));
    }
    char c = 0;
    EXPECT_EQ(pipe.readNonRt(&c, 1), 1);
    EXPECT_EQ(c, 'x');
}

TEST(Pipe, ReadGivesWholeRecordsOnly) {
    Pipe pipe("whole", 4096);
    const char a[10] = "123456789";
    const char b[10] = "abcdefghi";
    pipe.writeRt(a, 10);
    pipe.writeRt(b, 10);
    char buffer[15] = {};
    // Only the first record fits into 15 bytes; the second waits.
    EXPECT_EQ(pipe.readNonRt(buffer, sizeof buffer), 10);
    EXPECT_STREQ(buffer, "123456789");
    // A buffer smaller than the next record gets nothing and loses nothing.
    EXPECT_EQ(pipe.readNonRt(buffer, 5), -1);
    char big[64] = {};
    EXPECT_EQ(pipe.readNonRt(big, sizeof big), 10);
    EXPECT_STREQ(big, "abcdefghi");
}

TEST(Pipe, RingWrapsAroundManyTimes) {
    Pipe pipe("wrap", 100);
    std::vector<uint8_t> in(13), out(64);
    for (int round = 0; round < 1000; ++round) {
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = uint8_t(round + i);
        ASSERT_EQ(pipe.writeRt(in.data(), in.size()), ssize_t(in.size()));
        ASSERT_EQ(pipe.readNonRt(out.data(), in.size()), ssize_t(in.size()));
        ASSERT_EQ(0, memcmp(in.data(), out.data(), in.size())) << "round " << round;
    }
}

TEST(Pipe, BlockingReadTimesOut) {
    Pipe pipe("timeout", 256, false, true);
    pipe.setTimeoutMsNonRt(20);
    Record r{};
    EXPECT_FALSE(pipe.readNonRt(r));
}

TEST(Pipe, UnsetPipeRefusesEverything) {
    Pipe pipe;
    Record r{};
    EXPECT_FALSE(pipe.isOk());
    EXPECT_FALSE(pipe.writeRt(r));
    EXPECT_FALSE(pipe.readNonRt(r));
    EXPECT_FALSE(pipe.setup("tiny", 2));
}

}  // namespace

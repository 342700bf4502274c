#include "platform/CpuMonitor.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

void busyFor(long ns) {
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    do {
        clock_gettime(CLOCK_MONOTONIC, &now);
    } while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) < ns);
}

TEST(CpuMonitor, LoadIsPublishedOncePerWindowAsAShareOfTheBlockTime) {
    BelaCpuData section;
    section.count = 4;
    for (int block = 0; block < 3; ++block) {
        Bela_cpuTic(&section);
        busyFor(700000);  // about half of a 1333 us block
        Bela_cpuToc(&section);
    }
    EXPECT_EQ(section.percentage.load(), 0.0f);  // the window is not full yet
    Bela_cpuTic(&section);
    busyFor(700000);
    Bela_cpuToc(&section);
    // At least the busy time; an upper bound would be a timing assertion.
    EXPECT_GE(section.percentage.load(), 50.0f);
    EXPECT_EQ(section.currentCount, 0u);
}

TEST(CpuMonitor, TocWithoutTicAndNullAreIgnored) {
    BelaCpuData section;
    section.count = 1;
    Bela_cpuToc(&section);
    EXPECT_EQ(section.currentCount, 0u);
    Bela_cpuTic(nullptr);
    Bela_cpuToc(nullptr);
    Bela_cpuMonitoringInit(0);
    EXPECT_EQ(Bela_cpuMonitoringGet()->count, 1u);
}

}  // namespace

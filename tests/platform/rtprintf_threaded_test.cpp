#include "platform/RtPrintf.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(RtPrintfThreaded, LoggerDeliversEveryLineWholeAndInOrderPerThread) {
    testing::internal::CaptureStdout();
    host::rtLoggerStart();
    constexpr int kThreads = 3;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                rt_printf("[%010u] thread %d line %d\n", unsigned(i), t, i);
                if (i % 64 == 0)
                    std::this_thread::yield();
            }
        });
    for (auto& t : threads)
        t.join();
    host::rtLoggerStop();
    rt_printf("after stop %d\n", 7);  // written directly once the logger is gone
    std::string out = testing::internal::GetCapturedStdout();

    std::istringstream lines(out);
    std::string line;
    int next[kThreads] = {};
    int total = 0;
    bool sawAfterStop = false;
    while (std::getline(lines, line)) {
        if (line == "after stop 7") {
            sawAfterStop = true;
            continue;
        }
        unsigned block = 0;
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str(), "[%010u] thread %d line %d", &block, &t, &i), 3) << line;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
        ++total;
    }
    EXPECT_EQ(total + int(host::rtLoggerDropped()), kThreads * kLines);
    EXPECT_TRUE(sawAfterStop);
}

TEST(RtPrintfThreaded, LongLinesAreCutNotOverrun) {
    testing::internal::CaptureStdout();
    host::rtLoggerStart();
    std::string longText(5000, 'x');
    rt_printf("%s\n", longText.c_str());
    host::rtLoggerStop();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_GT(out.size(), 100u);
    EXPECT_LT(out.size(), 5000u);
    EXPECT_EQ(out.find_first_not_of('x'), std::string::npos);
}

// A line of its own (a screen notice) after text that did not end its line
// starts on the next one; after a whole line it adds nothing.
TEST(RtPrintfThreaded, ALineOfItsOwnNeverGluesToTheTextBefore) {
    testing::internal::CaptureStdout();
    host::rtLoggerStart();
    rt_printf("id: 101 at byte 25");
    host::rtPrintLine("screen: one", 11);
    printf("whole\n");
    host::rtPrintLine("screen: two", 11);
    host::rtLoggerStop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "id: 101 at byte 25\nscreen: one\nwhole\nscreen: two\n");
}

}  // namespace

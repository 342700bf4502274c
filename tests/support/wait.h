// Threaded tests wait for progress (a counter, a condition), never for a span
// of time: a busy machine may run the other thread late, but it runs it.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Only ends a hung run: anything a test waits for arrives long before.
constexpr auto kHungRun = std::chrono::seconds(60);

// Polls until done() holds; false only if the run hung.
template <typename F>
bool waitUntil(F&& done, std::chrono::microseconds poll = std::chrono::microseconds(100)) {
    const auto deadline = std::chrono::steady_clock::now() + kHungRun;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

}  // namespace testsupport

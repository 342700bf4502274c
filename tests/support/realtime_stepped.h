// A stepped run of the platform whose render the test supplies: the thread
// that steps is the audio thread while it steps.
#pragma once

#include "platform/Audio.h"
#include "platform/Stepped.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace testsupport {

inline bool quietSetup(BelaContext*, void*) { return true; }

// Initialises and starts a stepped run in a root folder of its own.
inline ::testing::AssertionResult startStepped(BelaRenderFn render, const std::string& rootName) {
    BelaInitSettings settings;
    settings.setup = quietSetup;
    settings.render = render;
    settings.mode = HostMode::Stepped;
    settings.root = tempDir() + rootName;
    if (Bela_initAudio(&settings, nullptr) != 0)
        return ::testing::AssertionFailure() << "Bela_initAudio refused the stepped run";
    if (Bela_startAudio() != 0)
        return ::testing::AssertionFailure() << "Bela_startAudio refused the stepped run";
    return ::testing::AssertionSuccess();
}

// The audio side of a threaded test: steps blocks on a thread of its own
// from construction until stop() or destruction.
class SteppingAudio {
public:
    SteppingAudio() : thread_([this] {
        while (!stop_.load())
            host::stepBlocks(1, false);
    }) {}
    ~SteppingAudio() { stop(); }
    SteppingAudio(const SteppingAudio&) = delete;
    SteppingAudio& operator=(const SteppingAudio&) = delete;
    void stop() {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testsupport

// A stepped run of the platform whose render the test supplies: the thread
// that steps is the audio thread while it steps.
#pragma once

#include "platform/Audio.h"
#include "platform/Stepped.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace testsupport

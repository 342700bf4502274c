// A scratch folder of this test process's own, so that test programs run in
// parallel (several builds, ctest -j) never share files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/Paths.h"

namespace testsupport {

inline std::string tempDir() {
    static const std::string dir = [] {
        std::string d = testing::TempDir() + "corvane-test-" + std::to_string(getpid()) + "/";
        host::makeFolders(d);
        return d;
    }();
    return dir;
}

}  // namespace testsupport

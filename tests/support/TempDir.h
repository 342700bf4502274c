// A scratch folder of this test process's own, so that test programs run in
// parallel (several builds, ctest -j) never share files. Made fresh by
// mkdtemp: a process id comes round again within one run of the suite, and
// a folder an earlier process left behind (read-only ones included) must
// not be found again.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/Paths.h"

namespace testsupport {

inline std::string tempDir() {
    static const std::string dir = [] {
        std::string pattern = testing::TempDir() + "corvane-test-" + std::to_string(getpid()) + "-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            host::makeFolders(pattern);  // a fixed name is still better than none
        }
        return pattern + "/";
    }();
    return dir;
}

}  // namespace testsupport

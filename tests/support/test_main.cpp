// The main of every test program: all the tests it picks run in this one
// process, each fixture putting back what its test leaves behind. (ctest
// still runs each test in a process of its own.)
//
// Before anything, HOME and XDG_DATA_HOME point into this process's scratch
// folder, so no test can reach the user's data, whatever root it forgets to set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Paths.h"
#include "tests/support/TempDir.h"

namespace {

void keepAwayFromUserData() {
    const std::string home = testsupport::tempDir() + "home";
    host::makeFolders(home + "/.local/share");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    keepAwayFromUserData();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

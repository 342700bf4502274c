// A scratch folder of this test process's own, so that test programs run in
// parallel (several builds, ctest -j) never share files. Made fresh by
// mkdtemp: a process id comes round again within one run of the suite, and
// a folder an earlier process left behind (read-only ones included) must
// not be found again. It is removed when the test program ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/Paths.h"

namespace testsupport {

namespace scratch {

// Set once, never freed: read at exit, after the statics have gone.
inline std::string* folder = nullptr;
inline pid_t owner = 0;

// At exit of a run that passed, the folder goes (read-only folders a test
// left behind included); a failed run keeps it to be looked at. A forked
// child that exits leaves its parent's folder alone.
inline void removeAtExit() {
    if (!folder || getpid() != owner || !testing::UnitTest::GetInstance()->Passed())
        return;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(*folder, ec);
}

}  // namespace scratch

inline std::string tempDir() {
    static const std::string dir = [] {
        std::string pattern = testing::TempDir() + "corvane-test-" + std::to_string(getpid()) + "-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            host::makeFolders(pattern);  // a fixed name is still better than none
            return pattern + "/";
        }
        scratch::folder = new std::string(pattern);
        scratch::owner = getpid();
        std::atexit(scratch::removeAtExit);
        return pattern + "/";
    }();
    return dir;
}

// A name of its own under the scratch folder at each call: `name`, a count
// and `extension`. A test repeated in this process never meets the files,
// FIFOs or folders of its run before.
inline std::string freshPath(const std::string& name, const std::string& extension = "") {
    static int calls = 0;
    return tempDir() + name + "-" + std::to_string(++calls) + extension;
}

}  // namespace testsupport
